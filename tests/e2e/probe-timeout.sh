#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# A tuner that never identifies itself: Orvel shows "Connecting..." and, on the eleventh tick
# of its one-second probe timer, closes the port and shows the box titled "Error". Afterwards
# it is back to Closed and Open Port probes again.
source "$(dirname "$0")/e2e-lib.sh"

start_sim --silent
start_orvel --port "$SIM_NAME" --connect
wait_until 10 "probe at the simulator" sim_received "ATU?"
opened=$(now_us)
wait_for_look 5 "Connecting... on Open Port" looks_connecting

error_box=$(timeout 20 xdotool search --sync --onlyvisible --name '^Error$' | head -n 1) || true
[ -n "$error_box" ] || fail "no box titled \"Error\" within 20 s of the probe"
expect_title "$error_box" "Error"
elapsed_ms=$((($(now_us) - opened) / 1000))
log "the probe timed out after $elapsed_ms ms"
((elapsed_ms >= 9500)) || fail "the probe gave up after $elapsed_ms ms, before its eleventh tick"
import -window "$error_box" "$e2e_work/error-box.png" || fail "cannot take a screenshot of the box"

wait_until 5 "closing of the port at the simulator" sim_port_closed
wait_for_look 5 "Open Port up again" looks_closed

xdotool windowfocus --sync "$error_box" key Return
box_gone() { [ -z "$(visible_windows '^Error$')" ]; }
wait_until 5 "closing of the box by its OK key" box_gone

click_open_port
wait_until 10 "second probe at the simulator" sim_received_times "ATU?" 2
wait_for_look 5 "Connecting... on Open Port after the second click" looks_connecting
expect_received_in_order "ATU?" "ATU?"

close_orvel
stop_sim
log PASS
