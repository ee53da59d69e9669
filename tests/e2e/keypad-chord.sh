#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Ctrl+Alt+keypad minus, sent as real key presses to the main window, shows the port monitor
# modally. "vmode": the keyboard map of a desktop session that lets the chord through, where the
# key carries XF86Prev_VMode with Ctrl and Alt (as the default map, but without the server's
# video-mode action that would keep the press). "plain": the key has one level, KP_Subtract.
# Usage: keypad-chord.sh vmode|plain
ORVEL_E2E_OWN_XSERVER=1
source "$(dirname "$0")/e2e-lib.sh"

case ${1:?vmode or plain} in
  vmode)
    keypad_minus='key <KPSU> { type= "CTRL+ALT",
      symbols[Group1]= [ KP_Subtract, KP_Subtract, KP_Subtract, KP_Subtract, XF86Prev_VMode ],
      actions[Group1]= [ NoAction(), NoAction(), NoAction(), NoAction(), NoAction() ] };'
    ;;
  plain) keypad_minus='key <KPSU> { type= "ONE_LEVEL", symbols[Group1]= [ KP_Subtract ] };' ;;
  *) fail "unknown keyboard map: $1" ;;
esac

start_xserver
xkbcomp "$DISPLAY" "$e2e_work/server.xkb" 2>/dev/null || fail "cannot read the X server's keyboard map"
grep -q 'key <KPSU>' "$e2e_work/server.xkb" || fail "the keyboard map has no keypad minus key"
KEYPAD_MINUS=$keypad_minus awk '
  /^[ \t]*key <KPSU> *\{/ { print ENVIRON["KEYPAD_MINUS"]; skipping = 1 }
  skipping { if ($0 ~ /\};/) skipping = 0; next }
  { print }' "$e2e_work/server.xkb" >"$e2e_work/test.xkb"
xkbcomp -w 0 "$e2e_work/test.xkb" "$DISPLAY" 2>"$e2e_work/xkbcomp.err" ||
  fail "cannot load the test keyboard map: $(head -n 5 "$e2e_work/xkbcomp.err")"

# Connected, the port list is disabled and the window itself has the keyboard focus: the chord
# reaches the window's own key handler, not the port list's text field.
start_sim
connect_to_sim
xdotool windowfocus --sync "$window" || fail "cannot give the main window the keyboard focus"
[ -z "$(visible_windows '^Port Monitor$')" ] || fail "the port monitor is shown before the chord"

xdotool key ctrl+alt+KP_Subtract
monitor=$(timeout 10 xdotool search --sync --onlyvisible --name '^Port Monitor$' | head -n 1) || true
[ -n "$monitor" ] || fail "Ctrl+Alt+keypad minus did not show the port monitor"
xprop -id "$monitor" _NET_WM_STATE | grep -q _NET_WM_STATE_MODAL || fail "the port monitor is not modal"

# A signal ends the program at once even while the modal port monitor runs its own event loop.
expect_end_on_signal HUP "with the modal port monitor shown"
wait_until 10 "closing of the port at the simulator" sim_port_closed
stop_sim
log PASS
