#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Orvel ends cleanly (exit status 0, no sanitizer report, the port released) when its main window
# is closed while the port monitor is shown or while a tuning cycle streams in, and when File,
# Exit is chosen.
# Usage: close.sh monitor|tuning|exit-menu
source "$(dirname "$0")/e2e-lib.sh"

start_sim
connect_to_sim
case ${1:?monitor, tuning or exit-menu} in
  monitor)
    open_monitor_by_lamp
    close_orvel
    ;;
  tuning)
    click_tune
    tuning() { lamp_lit "$1" yellow; }
    wait_for_look 10 "yellow lamp of the tuning cycle" tuning
    close_orvel
    ;;
  exit-menu)
    note_windows
    click_at $((win_x + 12)) $((win_y + menu_height / 2))
    wait_until 5 "File menu" more_windows
    # Exit is the last item of the File menu.
    xdotool key Up Return
    wait_exit "$orvel_pid" 15
    [ -n "$exit_status" ] || fail "Orvel still runs 15 s after File, Exit"
    orvel_pid=""
    [ "$exit_status" = 0 ] || fail "Orvel ended with status $exit_status after File, Exit"
    expect_no_sanitizer_report
    ;;
  *) fail "unknown way to close: $1" ;;
esac
wait_until 10 "closing of the port at the simulator" sim_port_closed
stop_sim
log PASS
