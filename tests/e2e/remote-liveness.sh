#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# A station that hangs and one that never speaks, on the real window. ser2net stopped with
# SIGSTOP (its kernel still answers TCP): the port closes within 10 s, and a TUNE clicked more
# than 3 s into the freeze never reaches the tuner, not even once ser2net resumes; the operator is
# told in one box that it did not go out, and the port's closing adds none. Reconnected, the
# station stays connected through 20 s of quiet and then takes a TUNE.
# A station that accepts and never says a word: the button reads "Connecting..." at once, Close
# Port gives the attempt up, and SIGTERM during such an attempt ends Orvel within a second.
source "$(dirname "$0")/e2e-lib.sh"

readonly CLOSEPORT_X=$((GROUP_X + 88)) CLOSEPORT_Y=$((GROUP_Y + 57)) CLOSEPORT_W=65 CLOSEPORT_H=24
mute_pid=""
trap 'kill -CONT "$ser2net_pid" 2>/dev/null || true; stop_process "$ser2net_pid"; stop_process "$mute_pid"; cleanup' EXIT

click_close_port() { click_client $((CLOSEPORT_X + CLOSEPORT_W / 2)) $((CLOSEPORT_Y + CLOSEPORT_H / 2)); }
elapsed_ms() { echo $((($(now_us) - $1) / 1000)); }
past() { (($(now_us) >= $1)); }

start_sim
plain_station
start_ser2net

connect_to_port SHACK

kill -STOP "$ser2net_pid"
frozen=$(now_us)
wait_until 5 "3.5 s into the freeze" past $((frozen + 3500000))
click_tune
answer_box "the box saying TUNE did not go out" Return
wait_for_look 10 "Open Port up after ser2net hung" looks_closed
closed_ms=$(elapsed_ms "$frozen")
log "the hung station closed the port $closed_ms ms into the freeze"
((closed_ms <= 10000)) || fail "the port closed $closed_ms ms into the freeze, not within 10 s"
[ "$(visible_windows '^Orvel$')" = "$window" ] || fail "a box is shown after the station hung"
kill -CONT "$ser2net_pid"
click_open_port
wait_until 15 "second status request at the simulator" sim_received_times "????" 2
wait_for_look 10 "connected look after ser2net resumed" looks_connected
! sim_received "TUNE ON" || fail "the TUNE clicked during the freeze reached the tuner"
# The station quiet for 20 s, longer than every liveness bound: the connection stays, the tuner
# is not probed again, and a TUNE then reaches it.
quiet_since=$(now_us)
stays_connected() {
  ! sim_port_closed || fail "the quiet station's port closed $(elapsed_ms "$quiet_since") ms into the quiet"
  sim_received_times "????" 2 || fail "the tuner was probed again during the quiet"
  past "$1"
}
wait_until 25 "20 s of quiet" stays_connected $((quiet_since + 20000000))
wait_for_look 2 "connected look after 20 s of quiet" looks_connected
click_tune
wait_until 5 "TUNE ON at the simulator after the quiet" sim_received "TUNE ON"
close_orvel

# Takes connections into its queue and never says a word.
mute_port_file=$e2e_work/mute.port
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
open(sys.argv[1], "w").write(str(s.getsockname()[1])); time.sleep(120)' "$mute_port_file" &
mute_pid=$!
wait_until 5 "mute listener" test -s "$mute_port_file"
echo "rfc2217://127.0.0.1:$(cat "$mute_port_file")" >"$ORVEL_PORTS_DIR/MUTE"
start_orvel --port MUTE --connect
wait_for_look 2 "Connecting... while the mute station is reached" looks_connecting
clicked=$(now_us)
click_close_port
wait_for_look 2 "Open Port up after Close Port" looks_closed
log "Close Port gave the attempt up; the closed look was seen $(elapsed_ms "$clicked") ms after the click"
[ "$(visible_windows '^Orvel$')" = "$window" ] || fail "a box is shown after Close Port"
click_open_port
wait_for_look 2 "Connecting... again" looks_connecting
expect_end_on_signal TERM "while a station is reached"

stop_process "$mute_pid"
mute_pid=""
kill -CONT "$ser2net_pid" 2>/dev/null || true
stop_process "$ser2net_pid"
ser2net_pid=""
stop_sim
log PASS
