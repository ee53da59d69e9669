#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Orvel on the simulator's port reaches the connected state, started with --connect or by a
# click on Open Port (the port preselected with --port): the tuner sees the probe, then the
# status request, and Open Port turns into the lime "ATU conn".
# Usage: connect.sh option|click
source "$(dirname "$0")/e2e-lib.sh"

start_sim
case ${1:?option or click} in
  option) connect_to_sim ;;
  click)
    start_orvel --port "$SIM_NAME"
    wait_for_look 10 "Open Port up at start" looks_closed
    [ -z "$(sim_openers)" ] || fail "the port was opened before Open Port was clicked"
    click_open_port
    wait_until 15 "status request at the simulator" sim_received "????"
    wait_for_look 10 "connected look of Open Port" looks_connected
    ;;
  *) fail "unknown way to connect: $1" ;;
esac
expect_received_in_order "ATU?" "????"
[ "$(sim_openers)" = 1 ] || fail "the port is held by $(sim_openers) descriptors, not one"
looks_connected "$last_shot" || fail "Open Port does not show the connected state"

close_orvel
wait_until 10 "closing of the port at the simulator" sim_port_closed
stop_sim
log PASS
