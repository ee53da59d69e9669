#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# A station made by orvel-station init, served by ser2net on 127.0.0.1 with exactly what it
# wrote: the first connection asks whether to trust the station (no leaves it unknown and the
# tuner untouched, yes keeps the fingerprint that init printed and connects); the next start
# connects without a question; the station given a new certificate is refused with a box, never
# a question, and the tuner hears nothing.
source "$(dirname "$0")/e2e-lib.sh"

station_tool=$(dirname "$0")/../../tools/orvel-station/orvel-station
ser2net_pid=""
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$station_port") 2>/dev/null; }
start_ser2net() {
  ser2net -n -u -P "$e2e_work/ser2net.pid" -c "$root/ser2net.yaml" >"$e2e_work/ser2net.log" 2>&1 &
  ser2net_pid=$!
  wait_until 10 "ser2net listening" listening
}
stop_ser2net() { stop_process "$ser2net_pid"; ser2net_pid=""; }
trap 'stop_process "$ser2net_pid"; cleanup' EXIT

# init_station: a station on the simulator's device; its fingerprint left in $fingerprint.
init_station() {
  local said
  said=$("$station_tool" --config-root "$root" init --device "$device" --listen 127.0.0.1 \
    --port "$station_port" 2>&1) || true
  fingerprint=$(grep -xA4 'Station certificate SHA-256 fingerprint:' <<<"$said" | tail -n 4 |
    tr -d ' ' | paste -sd:)
  [ -n "$fingerprint" ] || fail "orvel-station init printed no fingerprint: $said"
}

pinned() { grep -qxF "127.0.0.1:$station_port $1" "$XDG_CONFIG_HOME/orvel/known-stations" 2>/dev/null; }

start_sim
device=$(readlink -f "$ORVEL_PORTS_DIR/$SIM_NAME")
root=$e2e_work/station
mkdir -m 700 "$root"
station_port=$(free_port)
init_station
first=$fingerprint
"$ORVEL_E2E_PROGRAM" --operator-certificate | "$station_tool" --config-root "$root" allow - >/dev/null
start_ser2net
echo "rfc2217+tls://127.0.0.1:$station_port" >"$ORVEL_PORTS_DIR/SHACK"

start_orvel --port SHACK --connect
answer_box "the question about the station" Escape
wait_for_look 5 "Open Port up after no" looks_closed
pinned "$first" && fail "a declined station was trusted"
sim_received "ATU?" && fail "the tuner heard the probe before the station was trusted"

click_open_port
answer_box "the question asked again" y
wait_until 15 "the probe at the simulator once trusted" sim_received "ATU?"
wait_for_look 10 "connected look of Open Port" looks_connected
pinned "$first" || fail "the fingerprint that init printed ($first) was not kept"
close_orvel

start_orvel --port SHACK --connect
wait_until 15 "the probe at the simulator, unasked" sim_received_times "ATU?" 2
wait_for_look 10 "connected look, unasked" looks_connected
box_shown && fail "a trusted station was asked about again"
close_orvel

stop_ser2net
rm -f "$root/ser2net/station.key" "$root/ser2net/station.crt"
init_station
[ "$fingerprint" != "$first" ] || fail "init made no new certificate"
start_ser2net
start_orvel --port SHACK --connect
answer_box "the refusal of the changed station" Return
wait_for_look 5 "Open Port up after the refusal" looks_closed
pinned "$first" || fail "the trusted fingerprint was replaced without the operator"
sim_received_times "ATU?" 2 || fail "the changed station passed something on to the tuner"
close_orvel

stop_ser2net
stop_sim
log PASS
