#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Every window carries exactly its own title, with nothing appended by the toolkit: the main
# window "Orvel", the port monitor "Port Monitor", the About box "About..." and the error box
# "Orvel" (the probe time-out's box "Error" is checked by probe-timeout.sh). A signal ends the
# program while the error box is shown.
ORVEL_E2E_OWN_XSERVER=1
source "$(dirname "$0")/e2e-lib.sh"

start_xserver
mkdir -p "$ORVEL_PORTS_DIR"
# A port that is not listed: nothing is selected, so Open Port fails with the error box.
start_orvel --port NOT-LISTED
expect_title "$window" "Orvel"

# About, the last entry of the menu bar, is one step to the left of the open File menu.
note_windows
click_at $((win_x + 12)) $((win_y + menu_height / 2))
wait_until 5 "File menu" more_windows
xdotool key Left
wait_until 5 "closing of the File menu as About is highlighted" same_windows
xdotool key Return
about=$(timeout 10 xdotool search --sync --onlyvisible --name '^About' | head -n 1) || true
[ -n "$about" ] || fail "no About box after About on the menu bar"
expect_title "$about" "About..."
xdotool windowfocus --sync "$about" key Return
about_gone() { [ -z "$(visible_windows '^About')" ]; }
wait_until 5 "closing of the About box" about_gone

open_monitor_by_lamp
expect_title "$monitor" "Port Monitor"
"$ORVEL_E2E_CLOSE_WINDOW" "$monitor" || fail "cannot close the port monitor"
monitor_gone() { [ -z "$(visible_windows '^Port Monitor')" ]; }
wait_until 5 "closing of the port monitor" monitor_gone

# The error display: Open Port with no port selected cannot write the probe.
other_orvel_window() { visible_windows '^Orvel' | grep -vx "$window" | head -n 1; }
error_shown() { [ -n "$(other_orvel_window)" ]; }
click_open_port
wait_until 10 "error box" error_shown
error_box=$(other_orvel_window)
expect_title "$error_box" "Orvel"

# A signal ends the program at once, also while the error box runs its modal event loop.
expect_end_on_signal TERM "with the error box shown"

log PASS
