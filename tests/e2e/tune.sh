#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# A tuning cycle started with the TUNE button against one antenna: the yellow lamp and the
# pressed TUNE button while the relays step, then the final values and the lamp that says
# whether the tuner met its SWR threshold.
# Usage: tune.sh ANTENNA green|red
source "$(dirname "$0")/e2e-lib.sh"

antenna=${1:?antenna}
verdict=${2:?green or red}
case $verdict in
  green) other=red ;;
  red) other=green ;;
  *) fail "the verdict is green or red, not $verdict" ;;
esac

# Where the SWR, L and C values are shown.
readonly VALUES_X=40 VALUES_Y=120 VALUES_W=180 VALUES_H=120

start_sim --antenna "$antenna"
connect_to_sim
before=$last_shot
for lamp in yellow red green; do
  ! lamp_lit "$before" "$lamp" || fail "the $lamp lamp is lit before tuning"
done

tune_down() { (($(count_colour "$1" "$TUNE_X" "$TUNE_Y" "$TUNE_W" "$TUNE_H" "$LIME") > 600)); }
tuning() { lamp_lit "$1" yellow && tune_down "$1"; }
tuned() {
  ! lamp_lit "$1" yellow && ! tune_down "$1" && lamp_lit "$1" "$verdict" && ! lamp_lit "$1" "$other"
}

click_tune
wait_until 10 "TUNE ON at the simulator" sim_received "TUNE ON"
wait_for_look 10 "yellow lamp and pressed TUNE while tuning" tuning
wait_for_look 15 "end of the tuning cycle with the $verdict lamp" tuned
after=$last_shot

# The SWR, L and C values were empty or zero before and show the tuned result now.
changed=$(differing_pixels "$before" "$after" "$VALUES_X" "$VALUES_Y" "$VALUES_W" "$VALUES_H")
((changed > 100)) || fail "the value area did not change after tuning ($changed pixels)"
log "the tuned values changed $changed pixels of the value area"
looks_connected "$after" || fail "Open Port no longer shows the connected state"
expect_received_in_order "ATU?" "????" "TUNE ON"

close_orvel
stop_sim
log PASS
