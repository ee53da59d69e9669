#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# A station set up by orvel-station init and announced on the local network, all inside the
# test's own network, mount and host-name namespaces (a veth pair, a system bus and avahi-daemon
# of its own): File > Add Station lists it; picking it and Yes to the trust question lists it,
# opens it and the tuner is probed. The station is then given a new key (init again without the
# old one): refused, its certificate is forgotten from the window and trusted again; then it is
# renamed and removed from the window.
# Exits 77 (skipped) where namespaces cannot be made.
if [ -z "${ORVEL_E2E_ISOLATED:-}" ]; then
  if [ "$(id -u)" != 0 ] || ! unshare -n -m -u --propagation private true 2>/dev/null; then
    echo "[discovery] SKIP: network and mount namespaces cannot be made here (needs root)" >&2
    exit 77
  fi
  ORVEL_E2E_ISOLATED=1 exec unshare -n -m -u --propagation private "$0" "$@"
fi
ORVEL_E2E_OWN_XSERVER=1
source "$(dirname "$0")/e2e-lib.sh"

bus_pid=""
avahi_pid=""
trap 'stop_process "$ser2net_pid"; stop_process "$avahi_pid"; stop_process "$bus_pid"; cleanup' EXIT

hostname orvelstation
# A picked station is written under its .local name only where the host lookup asks mDNS: the
# test gives the namespace a lookup of its own, so that the entry does not depend on this
# machine's.
{
  grep -v '^hosts:' /etc/nsswitch.conf || true
  echo 'hosts: files dns'
} >"$e2e_work/nsswitch.conf"
mount --bind "$e2e_work/nsswitch.conf" /etc/nsswitch.conf
for folder in /run/dbus /run/avahi-daemon; do
  mkdir -p "$folder"
  mount -t tmpfs tmpfs "$folder"
done
ip link set lo up
ip link add a0 type veth peer name a1
ip addr add 10.99.0.1/24 dev a0
ip addr add 10.99.0.2/24 dev a1
ip link set a0 up
ip link set a1 up
dbus-daemon --system --nofork --nopidfile >"$e2e_work/dbus.log" 2>&1 &
bus_pid=$!
wait_until 10 "the system bus" test -S /run/dbus/system_bus_socket
avahi-daemon --no-drop-root --no-chroot --no-rlimits >"$e2e_work/avahi.log" 2>&1 &
avahi_pid=$!
wait_until 10 "avahi-daemon" test -S /run/avahi-daemon/socket
start_xserver

# The station as the operator sets one up: orvel-station init with the configuration root
# $e2e_work, so that start_ser2net serves exactly what it wrote, and on the command it says.
station_tool=$(dirname "$0")/../../tools/orvel-station/orvel-station
# init_station: (again) the station; the fingerprint it printed left in $fingerprint.
init_station() {
  local said
  said=$("$station_tool" --config-root "$e2e_work" init --device "$device" --port "$station_port" \
    --name Shack 2>&1) || fail "orvel-station init failed: $said"
  grep -qF "ser2net -n -c $e2e_work/ser2net.yaml" <<<"$said" ||
    fail "orvel-station init did not say how to run ser2net: $said"
  grep -qF 'announces the tuner on the local network (mDNS) as "Shack"' <<<"$said" ||
    fail "orvel-station init did not see avahi-daemon: $said"
  fingerprint=$(grep -xA4 'Station certificate SHA-256 fingerprint:' <<<"$said" | tail -n 4 |
    tr -d ' ' | paste -sd:)
  [ -n "$fingerprint" ] || fail "orvel-station init printed no fingerprint: $said"
}
pinned() { grep -qF " $1" "$XDG_CONFIG_HOME/orvel/known-stations" 2>/dev/null; }

# open_menu_item N: the Nth item of the File menu.
open_menu_item() {
  click_at $((win_x + 15)) $((win_y + menu_height / 2))
  local i
  for ((i = 0; i < $1; i++)); do xdotool key Down; done
  xdotool key Return
}
dialog=""
dialog_shown() {
  dialog=$(visible_windows "^$1\$" | head -n 1)
  [ -n "$dialog" ]
}
dialog_height() { xdotool getwindowgeometry --shell "$dialog" | sed -n 's/^HEIGHT=//p'; }
dialog_grew() { (($(dialog_height) > empty_height)); }
dialog_gone() { ! dialog_shown "$1"; }

start_sim
device=$(readlink -f "$ORVEL_PORTS_DIR/$SIM_NAME")
station_port=$(free_port)
init_station
first=$fingerprint
"$ORVEL_E2E_PROGRAM" --operator-certificate |
  "$station_tool" --config-root "$e2e_work" allow - >/dev/null ||
  fail "the operator could not be allowed at the station"
start_orvel

# The dialog looks while it is open; the station is announced after it opened.
open_menu_item 2
wait_until 10 "the Add Station dialog" dialog_shown "Add Station"
empty_height=$(dialog_height)
start_ser2net
# The list of stations on this network appears above the fields, and the dialog grows for it.
wait_until 10 "the announced station in the dialog" dialog_grew
import -window "$dialog" "$e2e_work/add-station-dialog.png"
# Into the list (before the host field), its first station, then Add and Open.
xdotool windowfocus --sync "$dialog" key shift+Tab Down
import -window "$dialog" "$e2e_work/add-station-picked.png"
xdotool key Return
wait_until 15 "the question about the new station" box_shown
import -window "$box" "$e2e_work/trust-question.png"
xdotool windowfocus --sync "$box" key y
wait_until 10 "the dialog closed" dialog_gone "Add Station"
wait_until 15 "the probe at the simulator after Yes" sim_received "ATU?"
wait_for_look 10 "connected look after Add Station" looks_connected
pinned "$first" || fail "the station's fingerprint ($first) was not trusted"
[ -f "$ORVEL_PORTS_DIR/SHACK" ] || fail "no entry SHACK: $(ls "$ORVEL_PORTS_DIR")"
grep -qx "rfc2217+tls://10.99.0.1:$station_port" "$ORVEL_PORTS_DIR/SHACK" ||
  grep -qx "rfc2217+tls://10.99.0.2:$station_port" "$ORVEL_PORTS_DIR/SHACK" ||
  grep -qx "rfc2217+tls://127.0.0.1:$station_port" "$ORVEL_PORTS_DIR/SHACK" ||
  fail "SHACK names another address: $(cat "$ORVEL_PORTS_DIR/SHACK")"
# The port list's tooltip says which station is open.
# Tooltips show in the active window: the window gets the focus, as a click would give it.
xdotool windowfocus --sync "$window"
shown_windows() { xdotool search --onlyvisible --class '.*' 2>/dev/null | wc -l; }
windows_before=$(shown_windows)
tooltip_shown() { (($(shown_windows) > windows_before)); }
pointer_to $((win_x + GROUP_X + 30)) $((win_y + menu_height + GROUP_Y + 34))
wait_until 10 "the port list's tooltip" tooltip_shown
import -window root -crop 1100x350+"$((win_x - 500))"+"$win_y" "$e2e_work/port-list-tooltip.png"
pointer_to 0 0
close_orvel

# A new key on the station: refused, then forgotten from the window and trusted again.
stop_ser2net
rm "$e2e_work/ser2net/station.key" "$e2e_work/ser2net/station.crt"
init_station
second=$fingerprint
start_ser2net
start_orvel --port SHACK --connect
answer_box "the refusal of the re-keyed station" Return
wait_for_look 5 "Open Port up after the refusal" looks_closed
open_menu_item 5
wait_until 15 "the question to forget the certificate" box_shown
import -window "$box" "$e2e_work/forget-question.png"
forget_box=$box
xdotool windowfocus --sync "$box" key y
next_box() { box_shown && [ "$box" != "$forget_box" ]; }
wait_until 15 "the question about the new certificate" next_box
xdotool windowfocus --sync "$box" key y
wait_until 5 "the question about the new certificate answered" box_gone
wait_until 15 "the probe after the new key was trusted" sim_received_times "ATU?" 2
wait_for_look 10 "connected look after the new key" looks_connected
pinned "$second" || fail "the new fingerprint ($second) was not trusted"
pinned "$first" && fail "the old fingerprint is still trusted"
click_client $((GROUP_X + 88 + 30)) $((GROUP_Y + 57 + 12))
wait_for_look 5 "Open Port up after Close Port" looks_closed

open_menu_item 3
wait_until 10 "the Rename Station question" dialog_shown "Rename Station"
xdotool windowfocus --sync "$dialog" key ctrl+a type MAST
xdotool key Return
wait_until 5 "the entry renamed" test -f "$ORVEL_PORTS_DIR/MAST"
[ -e "$ORVEL_PORTS_DIR/SHACK" ] && fail "SHACK is still there after the rename"
open_menu_item 4
answer_box "the question to remove the station" y
wait_until 5 "the entry removed" test ! -e "$ORVEL_PORTS_DIR/MAST"
pinned "$second" || fail "removing the station forgot its certificate"
close_orvel

stop_ser2net
stop_sim
log PASS
