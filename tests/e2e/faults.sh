#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# A tuner whose line is noisy (--garbage) or whose output arrives in odd pieces (--split):
# Orvel connects, tunes and stays responsive, and its port monitor holds every well-formed line
# exactly once, in order, with nothing cut, merged or doubled.
# Usage: faults.sh SIMULATOR-OPTIONS...
source "$(dirname "$0")/e2e-lib.sh"

start_sim "$@"
connect_to_sim
click_tune
wait_until 10 "TUNE ON at the simulator" sim_received "TUNE ON"
cycle_ended() { ! lamp_lit "$1" yellow && lamp_lit "$1" green; }
wait_for_look 20 "end of the tuning cycle" cycle_ended
open_monitor_by_lamp
save_monitor_log

# What the simulated tuner sends for this session: its identification, the status report of
# its start state, and a tuning cycle of sixteen relay steps that ends matched.
expected=(
  'ATU_KORAX 2\.0'
  'SWR: 255' 'Port L: 00000000' 'Port C: 00000000' 'K: 0' 'RED: OFF' 'GREEN: OFF' 'YELLOW: OFF'
  'SWRmin: 15' 'PA_CTRL OFF' 'FWD: 000'
  'PA_CTRL ON' 'YELLOW: ON' 'GREEN: OFF' 'RED: OFF'
)
for step in $(seq 16); do
  expected+=('FWD: [0-9]{3}' 'SWR: [0-9]{2}')
  if ((step == 1)); then expected+=('K: [01]'); fi
  expected+=('Port L: [01]{8}' 'Port C: [01]{8}')
done
expected+=('END_L: [01]{8}' 'END_C: [01]{8}' 'END_SWR: [0-9]{2}' 'END_K: [01]' 'YELLOW: OFF'
  'GREEN: ON' 'FWD: 000' 'PA_CTRL OFF')

saved=$e2e_work/PortMonitor.txt
total=$(wc -l <"$saved")
[ "$(grep -c $'\r$' "$saved")" = "$total" ] || fail "not every saved line ends with CR LF"

# Noise lines begin with a byte above 7F; every line the tuner means is printable ASCII. The
# commands sent are kept apart with the number of lines received before each: TUNE ON was
# clicked while the status report may still have been arriving.
received=()
sent=()
noise=0
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%$'\r'}
  case $line in
    "- "*) sent+=("${line#- } after ${#received[@]}") ;;
    "+ "*)
      if [[ ${line:2:1} != [\ -~] ]]; then
        noise=$((noise + 1))
      else
        received+=("${line#+ }")
      fi
      ;;
    *) received+=("$line") ;;
  esac
done <"$saved"
log "saved log: $total lines, $noise of them noise"
if [[ " $* " == *" --garbage "* ]]; then
  ((noise > 0)) || fail "no noise line was logged although the simulator sent noise"
fi

show_log() { printf '  %s\n' "${received[@]}" >&2; }
for i in "${!expected[@]}"; do
  if ((i >= ${#received[@]})); then
    show_log
    fail "the log ends after ${#received[@]} received lines; line $((i + 1)) should match ${expected[i]}"
  fi
  if ! [[ ${received[i]} =~ ^${expected[i]}$ ]]; then
    show_log
    fail "received line $((i + 1)) in the log is \"${received[i]}\", expected ${expected[i]}"
  fi
done
if ((${#received[@]} > ${#expected[@]})); then
  show_log
  fail "the log holds $((${#received[@]} - ${#expected[@]})) received lines more than the tuner sent"
fi

# The status request follows the identification; TUNE ON was sent after it and before the
# cycle began (the cycle's first line is the twelfth received one).
[ "${#sent[@]}" = 2 ] || fail "the log holds ${#sent[@]} sent lines, not two: ${sent[*]}"
[ "${sent[0]}" = "???? after 1" ] || fail "the status request is logged as \"${sent[0]}\""
tune_after=${sent[1]#TUNE ON after }
if ! [[ $tune_after =~ ^[0-9]+$ ]] || ((tune_after < 1 || tune_after > 11)); then
  fail "TUNE ON is logged as \"${sent[1]}\""
fi

# The final values are the last relay codes the cycle reported.
last_value() { printf '%s\n' "${received[@]}" | sed -n "s/^$1//p" | tail -n 1; }
[ "$(last_value 'END_L: ')" = "$(last_value 'Port L: ')" ] || fail "END_L differs from the last L code"
[ "$(last_value 'END_C: ')" = "$(last_value 'Port C: ')" ] || fail "END_C differs from the last C code"

close_orvel
stop_sim
log PASS
