#!/usr/bin/env bash
# Orvel started with --connect on the simulator's port reaches the connected state: the tuner
# sees the probe, then the status request, and Open Port turns into the lime "ATU conn".
source "$(dirname "$0")/e2e-lib.sh"

start_sim
connect_to_sim
expect_received_in_order "ATU?" "????"
[ "$(sim_openers)" = 1 ] || fail "the port is held by $(sim_openers) descriptors, not one"
looks_connected "$last_shot" || fail "Open Port does not show the connected state"

close_orvel
wait_until 10 "closing of the port at the simulator" sim_port_closed
stop_sim
log PASS
