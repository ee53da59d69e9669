#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# The bytes on the wire and the line settings, seen from a bare tuner on the test's own
# pseudo-terminal: 9600 8N1 without flow control, "ATU?" CR LF once on opening, "????" CR LF
# after the identification, then one command line, CR LF ended, for each operator command:
# the TUNE button, Setup / Memory Clear, Setup / SWR min / 1.3, a command typed into the port
# monitor. Nothing else.
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

# open_setup_menu: a click on "Setup" in the menu bar.
open_setup_menu() {
  note_windows
  click_at $((win_x + 55)) $((win_y + menu_height / 2))
  wait_until 5 "Setup menu" more_windows
}
# Memory Clear is the last item of the Setup menu.
open_setup_menu
xdotool key Up Return
expect_wire 'ATU?\r\n????\r\nTUNE ON\r\nCMEM\r\n'
# SWR min is the first item; its submenu opens on its first item, 1.1.
open_setup_menu
xdotool key Down Right Down Down Return
expect_wire 'ATU?\r\n????\r\nTUNE ON\r\nCMEM\r\nSWRmin 13\r\n'

open_monitor_by_lamp
eval "$(xdotool getwindowgeometry --shell "$monitor" | grep -E '^(X|Y|HEIGHT)=')"
# The command field lies in the panel along the bottom of the port monitor (71 pixels high),
# 80 pixels from its left edge and 8 from its top.
xdotool windowfocus --sync "$monitor"
click_at $((X + 80 + 40)) $((Y + HEIGHT - 71 + 8 + 10))
xdotool type --delay 20 'RDelay ?'
xdotool key Return
expect_wire 'ATU?\r\n????\r\nTUNE ON\r\nCMEM\r\nSWRmin 13\r\nRDelay ?\r\n'

close_orvel
stop_sim
log PASS
