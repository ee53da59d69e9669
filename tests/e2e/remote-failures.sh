#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Network ports that cannot be used, each named by a port directory entry and opened with
# --connect: a box comes within the bound and Orvel is back to Closed (the exact reasons are
# checked by the serial tests, as the box's text cannot be read from outside), and a TLS station
# whose certificate Orvel trusts connects, with a client certificate where it requires one. Stations run ser2net on 127.0.0.1 with
# certificates made by openssl for this run.
source "$(dirname "$0")/e2e-lib.sh"

deaf_pid=""
trap 'stop_process "$ser2net_pid"; stop_process "$deaf_pid"; cleanup' EXIT


# start_station SSL-OPTIONS: ser2net with RFC 2217 inside TLS in front of the simulator.
start_station() {
  stop_process "$ser2net_pid"
  station_port=$(free_port)
  cat >"$e2e_work/ser2net.yaml" <<YAML
connection: &tuner
  accepter: telnet(rfc2217),ssl($1),tcp,127.0.0.1,$station_port
  connector: serialdev,$device,19200e71,local
  options:
    authdir: $certs/auth
YAML
  ser2net -n -u -P "$e2e_work/ser2net.pid" -c "$e2e_work/ser2net.yaml" >"$e2e_work/ser2net.log" 2>&1 &
  ser2net_pid=$!
  wait_until 10 "ser2net listening" listening
}

make_certificates() {
  certs=$e2e_work/certs
  mkdir -p "$certs/auth/operator/allowed_certs"
  local name subject
  for name in ca:orvel-test-ca otherca:someone-else client:operator; do
    subject=${name#*:}
    name=${name%%:*}
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$subject" \
      -keyout "$certs/$name.key" -out "$certs/$name.pem" 2>/dev/null
  done
  openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout "$certs/station.key" \
    -out "$certs/station.csr" 2>/dev/null
  openssl x509 -req -days 2 -in "$certs/station.csr" -CA "$certs/ca.pem" -CAkey "$certs/ca.key" \
    -CAcreateserial -out "$certs/station.pem" 2>/dev/null
  cp "$certs/client.pem" "$certs/auth/operator/allowed_certs/"
  openssl rehash "$certs/auth/operator/allowed_certs"
}

# expect_failure NAME ADDRESS REASON SECONDS: Orvel opening port NAME shows a box within
# SECONDS of its window; OK closes it, Open Port is up again, and Orvel ends cleanly.
expect_failure() {
  local name=$1 address=$2 reason=$3 seconds=$4 shown elapsed_ms
  echo "$address" >"$ORVEL_PORTS_DIR/$name"
  start_orvel --port "$name" --connect
  shown=$(now_us)
  wait_until "$seconds" "box for $name" box_shown
  elapsed_ms=$((($(now_us) - shown) / 1000))
  log "$name: a box after $elapsed_ms ms (the serial tests check its text: \"$reason\")"
  xdotool windowfocus --sync "$box" key Return
  wait_until 5 "closing of the box for $name" box_gone
  screenshot "after-$name"
  looks_closed "$last_shot" || fail "Open Port is not up after the failure of $name"
  close_orvel
  rm -f "$ORVEL_PORTS_DIR/$name"
}

start_sim
device=$(readlink -f "$ORVEL_PORTS_DIR/$SIM_NAME")
make_certificates

expect_failure NOBODY "rfc2217://127.0.0.1:$(free_port)" "Connection refused" 5

# A listener whose queue is full and that never accepts: the handshake goes unanswered.
deaf_port_file=$e2e_work/deaf.port
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(0)
port = s.getsockname()[1]
fillers = [socket.socket() for _ in range(3)]
for f in fillers:
    f.setblocking(False); f.connect_ex(("127.0.0.1", port))
open(sys.argv[1], "w").write(str(port)); time.sleep(120)' "$deaf_port_file" &
deaf_pid=$!
wait_until 5 "deaf listener" test -s "$deaf_port_file"
expect_failure DEAF "rfc2217://127.0.0.1:$(cat "$deaf_port_file")" "Connection timed out" 12

start_station "key=$certs/station.key,cert=$certs/station.pem"
expect_failure WRONGCA "rfc2217+tls://127.0.0.1:$station_port?ca=$certs/otherca.pem" \
  "Certificate not trusted: CN=127.0.0.1" 10
# Raw TCP opens; the station hangs up on the tuner's first command.
expect_failure RAWTOTLS "tcp://127.0.0.1:$station_port" "This station expects TLS" 5
echo "rfc2217+tls://127.0.0.1:$station_port?ca=$certs/ca.pem" >"$ORVEL_PORTS_DIR/TRUSTED"
start_orvel --port TRUSTED --connect
wait_until 15 "status request over TLS at the simulator" sim_received "????"
wait_for_look 10 "connected look over TLS" looks_connected
close_orvel

start_station "key=$certs/station.key,cert=$certs/station.pem,clientauth"
expect_failure NOCERT "rfc2217+tls://127.0.0.1:$station_port?ca=$certs/ca.pem" \
  "Client certificate required" 10
echo "rfc2217+tls://127.0.0.1:$station_port?ca=$certs/ca.pem&cert=$certs/client.pem&key=$certs/client.key" \
  >"$ORVEL_PORTS_DIR/WITHCERT"
start_orvel --port WITHCERT --connect
wait_until 15 "second status request over TLS" sim_received_times "????" 2
wait_for_look 10 "connected look with a client certificate" looks_connected
close_orvel

stop_process "$ser2net_pid"
ser2net_pid=""
stop_sim
log PASS
