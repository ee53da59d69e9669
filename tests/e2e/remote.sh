#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# The tuner behind ser2net on 127.0.0.1, named by a regular file in the port directory: Orvel
# connects over RFC 2217, sets the station's line to 9600 8N1, identifies and tunes the tuner;
# stopping ser2net closes the port without a box, and once it is back Open Port works again.
source "$(dirname "$0")/e2e-lib.sh"

trap 'stop_process "$ser2net_pid"; cleanup' EXIT

start_sim
plain_station
start_ser2net

connect_to_port SHACK
settings=" $(stty -F "$device" -a | tr "\n;" "  ") "
for want in "speed 9600 baud" " cs8 " " -parenb " " -cstopb "; do
  [[ $settings == *"$want"* ]] || fail "the station's line lacks \"$want\": $settings"
done

click_tune
wait_until 10 "TUNE ON at the simulator" sim_received "TUNE ON"
expect_received_in_order "ATU?" "????" "TUNE ON"

stop_ser2net
wait_for_look 15 "Open Port up after ser2net stopped" looks_closed
[ -z "$(visible_windows '^Error$')" ] || fail "a box titled \"Error\" is shown after ser2net stopped"
[ "$(visible_windows '^Orvel$')" = "$window" ] || fail "a box is shown after ser2net stopped"

start_ser2net
click_open_port
wait_until 15 "second status request at the simulator" sim_received_times "????" 2
wait_for_look 10 "connected look after ser2net came back" looks_connected

close_orvel
stop_ser2net
stop_sim
log PASS
