#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# The adapter is pulled while Orvel is connected: Orvel goes back to Closed without any message,
# and once the tuner is back under the same port name, Open Port connects again.
source "$(dirname "$0")/e2e-lib.sh"

# Only the main window may be on the screen: a box would be titled "Error" or "Orvel".
expect_no_box() {
  [ -z "$(visible_windows '^Error$')" ] || fail "a box titled \"Error\" is shown $1"
  local shown
  shown=$(visible_windows '^Orvel$')
  [ "$shown" = "$window" ] || fail "windows titled \"Orvel\" besides the main one are shown $1"
}

start_sim --unplug-after 4
connect_to_sim
wait_exit "$sim_pid" 10
[ -n "$exit_status" ] || fail "the simulator was not unplugged after 4 s"
sim_pid=""
[ "$exit_status" = 0 ] || fail "the unplugged simulator ended with status $exit_status"
[ ! -e "$ORVEL_PORTS_DIR/$SIM_NAME" ] || fail "the unplugged simulator left its link behind"

wait_for_look 10 "Open Port up after the unplug" looks_closed
expect_no_box "after the unplug"

start_sim
click_open_port
wait_until 15 "status request at the restarted simulator" sim_received "????"
wait_for_look 10 "connected look after reconnecting" looks_connected
expect_received_in_order "ATU?" "????"
expect_no_box "after reconnecting"

close_orvel
stop_sim
log PASS
