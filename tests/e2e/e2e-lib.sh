# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Shared steps of the end-to-end tests, sourced by each test script: a private work directory
# and port directory, the simulated tuner, the program on the X server, clicks, screenshots and
# pixel counts. Every wait has a deadline; every process started here is stopped on any exit.
# ORVEL_E2E_KEEP=1 keeps the work directory (screenshots, logs) of a passing run as well.
set -euo pipefail
export LC_ALL=C

: "${ORVEL_E2E_PROGRAM:?the path of orvel (set by CTest)}"
: "${ORVEL_E2E_SIM:?the path of orvel-tuner-sim (set by CTest)}"
: "${ORVEL_E2E_CLOSE_WINDOW:?the path of orvel-e2e-close-window (set by CTest)}"
: "${ORVEL_E2E_RAW_TUNER:?the path of orvel-e2e-raw-tuner (set by CTest)}"

# The main window's client area lies below the menu bar; everything below is placed in it.
readonly CLIENT_WIDTH=406 CLIENT_HEIGHT=246
readonly TUNE_X=32 TUNE_Y=40 TUNE_W=52 TUNE_H=41
readonly GROUP_X=224 GROUP_Y=8
readonly OPENPORT_X=$((GROUP_X + 88)) OPENPORT_Y=$((GROUP_Y + 25)) OPENPORT_W=65 OPENPORT_H=24
readonly RXLED_X=$((GROUP_X + 17)) RXLED_Y=$((GROUP_Y + 65))
readonly LAMP_Y=48 LAMP_SIZE=22
readonly YELLOW_LAMP_X=107 RED_LAMP_X=139 GREEN_LAMP_X=171
readonly LIME=00FF00 RED=FF0000 YELLOW=FFFF00
readonly SIM_NAME=SIM

e2e_name=$(basename "$0" .sh)
e2e_work=$(mktemp -d "${TMPDIR:-/tmp}/orvel-e2e-$e2e_name.XXXXXX")
export ORVEL_PORTS_DIR=$e2e_work/ports
# The user's own choices (Setup > Reconnect Automatically) stay out of the tests.
export XDG_CONFIG_HOME=$e2e_work/config
export XDG_RUNTIME_DIR=$e2e_work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The caller's own configuration (an operator identity above all) stays out of the test.
export XDG_CONFIG_HOME=$e2e_work/config
# The program must draw on the test's X server, whatever the caller's environment says.
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
# Nor may it reach the caller's desktop session bus, or have libdbus start one for the test's
# display: an address where nothing listens makes Qt's desktop integration give up at once.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$e2e_work/no-session-bus

xserver_pid=""
sim_pid=""
sim_out=""
sim_err=""
sim_runs=0
orvel_pid=""
orvel_err=$e2e_work/orvel.err
window=""
win_x=0
win_y=0
menu_height=0
shots=0

log() { echo "[$e2e_name] $*"; }

fail() {
  echo "[$e2e_name] FAIL: $*" >&2
  local file
  for file in "$e2e_work"/sim*.err "$orvel_err"; do
    [ -s "$file" ] || continue
    echo "--- $(basename "$file")" >&2
    tail -n 40 "$file" >&2
  done
  exit 1
}

now_us() { echo "${EPOCHREALTIME/./}"; }

# wait_until SECONDS WHAT COMMAND...: runs COMMAND until it succeeds; fails the test after SECONDS.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$(($(now_us) + seconds * 1000000))
  until "$@"; do
    (($(now_us) < deadline)) || fail "no $what within ${seconds} s"
    sleep 0.05
  done
}

alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

# wait_exit PID SECONDS: waits for a child to end and sets exit_status to its status, or to
# the empty text when it still runs at the deadline.
exit_status=""
wait_exit() {
  local pid=$1 deadline=$(($(now_us) + $2 * 1000000))
  exit_status=""
  while alive "$pid" && (($(now_us) < deadline)); do sleep 0.05; done
  alive "$pid" && return 0
  exit_status=0
  wait "$pid" || exit_status=$?
}

stop_process() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  wait_exit "$pid" 5
  if [ -z "$exit_status" ]; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
}

cleanup() {
  local status=$?
  stop_process "$orvel_pid"
  stop_process "$sim_pid"
  stop_process "$xserver_pid"
  if [ "$status" -eq 0 ] && [ -z "${ORVEL_E2E_KEEP:-}" ]; then
    rm -rf "$e2e_work"
  else
    echo "[$e2e_name] kept $e2e_work for inspection" >&2
  fi
}
trap cleanup EXIT

# start_xserver: a private X server for a test that changes the server itself (its keyboard map).
# It picks a free display number itself and keeps its keyboard map when its last client leaves.
start_xserver() {
  local fifo=$e2e_work/displayfd number=""
  mkfifo "$fifo"
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1600x1000x24 3>"$fifo" 2>"$e2e_work/xvfb.err" &
  xserver_pid=$!
  read -r -t 20 number <"$fifo" || true
  [ -n "$number" ] || fail "the X server did not start: $(tail -n 5 "$e2e_work/xvfb.err")"
  export DISPLAY=:$number
}

[ -n "${DISPLAY:-}" ] || [ -n "${ORVEL_E2E_OWN_XSERVER:-}" ] ||
  fail "no X display: run the test under scripts/on-xvfb, or set ORVEL_E2E_OWN_XSERVER for start_xserver"

# --- the simulated tuner -------------------------------------------------------------------

sim_ready() {
  alive "$sim_pid" || fail "the simulator ended before it was ready"
  grep -q "^$SIM_NAME /dev/" "$sim_out"
}

# start_sim [OPTIONS...]: starts the simulator as port SIM, logging what it receives.
# shellcheck disable=SC2120 # most tests run the simulator without options
start_sim() {
  sim_runs=$((sim_runs + 1))
  sim_out=$e2e_work/sim$sim_runs.out
  sim_err=$e2e_work/sim$sim_runs.err
  "$ORVEL_E2E_SIM" --verbose --name "$SIM_NAME" "$@" >"$sim_out" 2>"$sim_err" &
  sim_pid=$!
  wait_until 10 "ready line from the simulator" sim_ready
}

# sim_log_lines: what the simulator logged, without its prefix.
sim_log_lines() { sed -n 's/^orvel-tuner-sim: //p' "$sim_err"; }

sim_received() { sim_log_lines | grep -qxF "received \"$1\""; }

# sim_received_times LINE COUNT: the simulator received LINE COUNT times.
sim_received_times() { [ "$(sim_log_lines | grep -cxF "received \"$1\"")" = "$2" ]; }

# sim_openers: how many descriptors held the port open at the simulator's last notice.
sim_openers() { sim_log_lines | sed -n 's/^port held open by \([0-9]*\) descriptor(s)$/\1/p' | tail -n 1; }

sim_port_closed() { [ "$(sim_openers)" = 0 ]; }

# expect_received_in_order LINE...: the simulator received exactly these lines, in this order.
expect_received_in_order() {
  local got expected
  got=$(sim_log_lines | sed -n 's/^received "\(.*\)"$/\1/p')
  expected=$(printf '%s\n' "$@")
  [ "$got" = "$expected" ] || fail "the simulator received:
$got
expected:
$expected"
}

stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait_exit "$sim_pid" 10
  [ -n "$exit_status" ] || fail "the simulator did not end on SIGTERM"
  sim_pid=""
  [ "$exit_status" = 0 ] || fail "the simulator ended with status $exit_status"
}

# --- the program -----------------------------------------------------------------------------

orvel_alive() { alive "$orvel_pid"; }

# pointer_to X Y: moves the pointer to a point of the screen and waits until it is there.
# xdotool's --sync waits for a motion, so a move to where the pointer already is must be skipped.
pointer_to() {
  local X Y
  eval "$(xdotool getmouselocation --shell | grep -E '^(X|Y)=')"
  [ "$X,$Y" = "$1,$2" ] || xdotool mousemove --sync "$1" "$2"
}

# click_at X Y [BUTTON]: a click at a point of the screen.
click_at() {
  pointer_to "$1" "$2"
  xdotool click "${3:-1}"
}

main_window_shown() {
  orvel_alive || fail "Orvel ended at start"
  window=$(visible_windows '^Orvel$' | head -n 1)
  [ -n "$window" ]
}

# start_orvel [OPTIONS...]: starts Orvel in the work directory (where the port monitor saves its
# log) and waits for its main window.
start_orvel() {
  (cd "$e2e_work" && exec "$ORVEL_E2E_PROGRAM" "$@") >"$e2e_work/orvel.out" 2>"$orvel_err" &
  orvel_pid=$!
  wait_until 20 "main window titled \"Orvel\"" main_window_shown
  local X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  win_x=$X
  win_y=$Y
  menu_height=$((HEIGHT - CLIENT_HEIGHT))
  [ "$WIDTH" = "$CLIENT_WIDTH" ] || fail "the main window is $WIDTH pixels wide, not $CLIENT_WIDTH"
  ((menu_height > 0)) || fail "the main window has no room for its menu bar (height $HEIGHT)"
}

# click_client X Y [BUTTON]: clicks at a point of the main window's client area, then moves the
# pointer off the window so that no control keeps its hover look.
click_client() {
  orvel_alive || fail "Orvel ended unexpectedly"
  click_at $((win_x + $1)) $((win_y + menu_height + $2)) "${3:-1}"
  pointer_to 0 0
}

click_tune() { click_client $((TUNE_X + TUNE_W / 2)) $((TUNE_Y + TUNE_H / 2)); }
click_open_port() { click_client $((OPENPORT_X + OPENPORT_W / 2)) $((OPENPORT_Y + OPENPORT_H / 2)); }

# window_title WINDOW: the title that the window manager shows (_NET_WM_NAME).
window_title() { xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p'; }

# expect_title WINDOW TITLE: the window's title is exactly TITLE, with nothing appended.
expect_title() {
  local title
  title=$(window_title "$1")
  [ "$title" = "$2" ] || fail "window $1 is titled \"$title\", not \"$2\""
}

# visible_windows NAME-PATTERN: the ids of the mapped windows whose title matches.
visible_windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }

# A box of Orvel's besides the main window, its id left in $box.
box=""
box_shown() {
  box=$(visible_windows '^Orvel$' | grep -vx "$window" | head -n 1) || true
  [ -n "$box" ]
}
box_gone() { ! box_shown; }
# answer_box WHAT KEY: the box WHAT comes within 15 s; KEY answers it and it goes.
answer_box() {
  wait_until 15 "$1" box_shown
  screenshot "$(tr ' ' - <<<"$1")"
  xdotool windowfocus --sync "$box" key "$2"
  wait_until 5 "$1 answered" box_gone
}

# close_orvel: closes the main window as a window manager would and expects a clean end: exit
# status 0 and no sanitizer report.
close_orvel() {
  orvel_alive || fail "Orvel ended before its window was closed"
  "$ORVEL_E2E_CLOSE_WINDOW" "$window" || fail "cannot send the close request to the main window"
  wait_exit "$orvel_pid" 15
  [ -n "$exit_status" ] || fail "Orvel still runs 15 s after its main window was closed"
  orvel_pid=""
  [ "$exit_status" = 0 ] || fail "Orvel ended with status $exit_status after its main window was closed"
  expect_no_sanitizer_report
}

# expect_end_on_signal SIGNAL WHILE: Orvel ends within a second of SIGNAL, with exit status 0,
# whatever it is doing (WHILE says what, for the failure message).
expect_end_on_signal() {
  orvel_alive || fail "Orvel ended before $1"
  kill -"$1" "$orvel_pid"
  wait_exit "$orvel_pid" 1
  [ -n "$exit_status" ] || fail "Orvel still runs 1 s after $1 $2"
  orvel_pid=""
  [ "$exit_status" = 0 ] || fail "Orvel ended with status $exit_status on $1 $2"
  expect_no_sanitizer_report
}

expect_no_sanitizer_report() {
  if grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:|WARNING: ThreadSanitizer' "$orvel_err"; then
    fail "sanitizer report from Orvel"
  fi
}

# --- screenshots and pixels ------------------------------------------------------------------

# screenshot NAME: saves the main window to NAME.png in the work directory; its path is left
# in $last_shot.
last_shot=""
screenshot() {
  last_shot=$e2e_work/$1.png
  import -window "$window" "$last_shot" || fail "cannot take a screenshot of the main window"
}

# pixels PNG X Y W H: the pixels of a rectangle of the client area, one "x,y: (r,g,b) #RRGGBB" a line.
pixels() {
  convert "$1" -crop "$4x$5+$2+$(($3 + menu_height))" +repage -depth 8 txt:- | tail -n +2
}

# count_colour PNG X Y W H RRGGBB: how many pixels of the rectangle have exactly this colour.
count_colour() {
  pixels "$1" "$2" "$3" "$4" "$5" | awk -v colour="#$6" 'substr(toupper($3), 1, 7) == colour { n++ }
    END { print n + 0 }'
}

# differing_pixels PNG1 PNG2 X Y W H: how many pixels of the rectangle differ between two shots.
differing_pixels() {
  local a b
  a=$(pixels "$1" "$3" "$4" "$5" "$6")
  b=$(pixels "$2" "$3" "$4" "$5" "$6")
  diff <(echo "$a") <(echo "$b") | grep -c '^<' || true
}

# dark_span PNG X Y W H: the width of the columns that hold dark (text) pixels.
dark_span() {
  pixels "$1" "$2" "$3" "$4" "$5" | awk '{
      split($1, at, /[,:]/); rgb = $2; gsub(/[()]/, "", rgb); split(rgb, c, ",")
      if (c[1] < 96 && c[2] < 96 && c[3] < 96) {
        if (first == "" || at[1] < first) first = at[1]
        if (at[1] > last) last = at[1]
      }
    } END { print (first == "" ? 0 : last - first + 1) }'
}

# lamp_lit PNG yellow|red|green
lamp_lit() {
  local x colour
  case $2 in
    yellow) x=$YELLOW_LAMP_X colour=$YELLOW ;;
    red) x=$RED_LAMP_X colour=$RED ;;
    green) x=$GREEN_LAMP_X colour=$LIME ;;
  esac
  (($(count_colour "$1" "$x" "$LAMP_Y" "$LAMP_SIZE" "$LAMP_SIZE" "$colour") > 40))
}

openport_down() {
  (($(count_colour "$1" "$OPENPORT_X" "$OPENPORT_Y" "$OPENPORT_W" "$OPENPORT_H" "$LIME") > 600))
}

# Connected: Open Port is down (lime) and reads "ATU conn", which is much narrower than
# "Connecting..." (that fills the button from edge to edge).
looks_connected() {
  openport_down "$1" &&
    (($(dark_span "$1" $((OPENPORT_X + 2)) $((OPENPORT_Y + 2)) $((OPENPORT_W - 4)) $((OPENPORT_H - 4))) < 52))
}

looks_connecting() {
  openport_down "$1" &&
    (($(dark_span "$1" $((OPENPORT_X + 2)) $((OPENPORT_Y + 2)) $((OPENPORT_W - 4)) $((OPENPORT_H - 4))) >= 52))
}

looks_closed() { ! openport_down "$1"; }

# wait_for_look SECONDS WHAT PREDICATE: takes screenshots until PREDICATE holds for one; the
# last one is left in $last_shot.
shot_matches() {
  orvel_alive || fail "Orvel ended unexpectedly"
  shots=$((shots + 1))
  screenshot "shot$shots"
  "$1" "$last_shot"
}
wait_for_look() { wait_until "$1" "$2" shot_matches "$3"; }

# --- common scenes ---------------------------------------------------------------------------

# connect_to_sim: Orvel started with --connect on port SIM reaches the connected state; the
# simulator has seen the probe and the status request.
connect_to_sim() { connect_to_port "$SIM_NAME"; }

# connect_to_port NAME: Orvel started with port NAME, connected to the simulator behind it.
connect_to_port() {
  start_orvel --port "$1" --connect
  wait_until 15 "status request at the simulator" sim_received "????"
  wait_for_look 10 "connected look of Open Port" looks_connected
}

# open_monitor_by_lamp: a click on the RxD lamp shows the port monitor; its id is left in
# $monitor.
monitor=""
open_monitor_by_lamp() {
  click_client $((RXLED_X + 6)) $((RXLED_Y + 6))
  monitor=$(timeout 10 xdotool search --sync --onlyvisible --name '^Port Monitor$' | head -n 1) || true
  [ -n "$monitor" ] || fail "the port monitor did not appear after a click on the RxD lamp"
}

# note_windows, then more_windows or same_windows: whether a menu has popped up or gone again
# (menus are windows of their own, without a title).
windows_noted=0
visible_window_count() { visible_windows '.*' | wc -l; }
note_windows() { windows_noted=$(visible_window_count); }
more_windows() { (($(visible_window_count) > windows_noted)); }
same_windows() { (($(visible_window_count) == windows_noted)); }

# save_monitor_log: "Save all to file" from the log's context menu; the log lands in
# PortMonitor.txt in the work directory, Orvel's working directory.
save_monitor_log() {
  local X Y WIDTH
  eval "$(xdotool getwindowgeometry --shell "$monitor" | grep -E '^(X|Y|WIDTH)=')"
  note_windows
  click_at $((X + WIDTH / 2)) $((Y + 40)) 3
  wait_until 5 "context menu of the log" more_windows
  # The last item of the menu is "Save all to file".
  xdotool key Up Return
  wait_until 5 "closing of the context menu" same_windows
  wait_until 5 "saved log" test -s "$e2e_work/PortMonitor.txt"
}

# A station: ser2net in front of the simulator, with RFC 2217 on a free port of 127.0.0.1
# ($station_port) and the port directory entry SHACK naming it. start_ser2net starts it (its
# process in $ser2net_pid) and waits until it listens; stop_ser2net ends it.
ser2net_pid=""
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$station_port") 2>/dev/null; }
plain_station() {
  device=$(readlink -f "$ORVEL_PORTS_DIR/$SIM_NAME")
  station_port=$(free_port)
  cat >"$e2e_work/ser2net.yaml" <<YAML
connection: &tuner
  accepter: telnet(rfc2217),tcp,127.0.0.1,$station_port
  connector: serialdev,$device,19200e71,local
YAML
  echo "rfc2217://127.0.0.1:$station_port" >"$ORVEL_PORTS_DIR/SHACK"
}
start_ser2net() {
  ser2net -n -u -P "$e2e_work/ser2net.pid" -c "$e2e_work/ser2net.yaml" >"$e2e_work/ser2net.log" 2>&1 &
  ser2net_pid=$!
  wait_until 10 "ser2net listening" listening
}
stop_ser2net() { stop_process "$ser2net_pid"; ser2net_pid=""; }
