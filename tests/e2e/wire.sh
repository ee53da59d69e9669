#!/usr/bin/env bash
# The bytes on the wire and the line settings, seen from a bare tuner on the test's own
# pseudo-terminal: 9600 8N1 without flow control, "ATU?" CR LF once on opening, "????" CR LF
# after the identification, "TUNE ON" CR LF for the TUNE button, nothing else.
source "$(dirname "$0")/e2e-lib.sh"

record=$e2e_work/wire.bin
sim_runs=1
sim_out=$e2e_work/sim1.out
sim_err=$e2e_work/sim1.err
"$ORVEL_E2E_RAW_TUNER" "$ORVEL_PORTS_DIR" "$SIM_NAME" "$record" >"$sim_out" 2>"$sim_err" &
sim_pid=$!
wait_until 10 "ready line from the bare tuner" sim_ready

# wire_is TEXT: the tuner received exactly these bytes (with backslash escapes).
wire_is() { cmp -s "$record" <(printf '%b' "$1"); }
expect_wire() {
  wait_until 10 "exact bytes $1 at the tuner" wire_is "$1"
}

start_orvel --port "$SIM_NAME" --connect
wait_for_look 10 "connected look of Open Port" looks_connected
expect_wire 'ATU?\r\n????\r\n'
settings=$(grep '^settings ' "$sim_err" || true)
[ "$settings" = "settings 9600 8 none 1 rtscts=0 ixon=0 ixoff=0" ] ||
  fail "the port was set up as \"$settings\", not 9600 8N1 without flow control"

click_tune
expect_wire 'ATU?\r\n????\r\nTUNE ON\r\n'

close_orvel
stop_sim
log PASS
