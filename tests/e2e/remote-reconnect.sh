#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# A plain station's hiccup, on the real window with Reconnect Automatically on: ser2net stopped
# with SIGSTOP for 20 s and resumed. While it is stopped its kernel still takes each retry's
# connection and ser2net answers none; that must not end the reconnection. Once it resumes the
# window is connected again without any box, and a TUNE reaches the tuner.
source "$(dirname "$0")/e2e-lib.sh"

trap 'kill -CONT "$ser2net_pid" 2>/dev/null || true; stop_process "$ser2net_pid"; cleanup' EXIT

past() { (($(now_us) >= $1)); }
no_box() {
  [ "$(visible_windows '^Orvel$')" = "$window" ] || fail "a box is shown: $1"
  [ -z "$(visible_windows '^Error$')" ] || fail "a box titled \"Error\" is shown: $1"
}

mkdir -p "$XDG_CONFIG_HOME/orvel"
printf '[Options]\nReconnectAutomatically=1\n' >"$XDG_CONFIG_HOME/orvel/options.ini"
start_sim
plain_station
mv "$ORVEL_PORTS_DIR/SHACK" "$ORVEL_PORTS_DIR/HANG"
start_ser2net
connect_to_port HANG

kill -STOP "$ser2net_pid"
frozen=$(now_us)
stays_without_box() {
  no_box "$(((($(now_us) - frozen) / 1000))) ms into the freeze"
  past "$1"
}
wait_until 25 "20 s of freeze" stays_without_box $((frozen + 20000000))
kill -CONT "$ser2net_pid"
resumed=$(now_us)
reconnected() {
  no_box "after ser2net resumed"
  sim_received_times "????" 2
}
# The longest pause between tries is 10 s, and a try may be under way when ser2net resumes.
wait_until 30 "second status request at the simulator" reconnected
log "connected again $((($(now_us) - resumed) / 1000)) ms after ser2net resumed"
click_tune
wait_until 10 "TUNE ON at the simulator" sim_received "TUNE ON"
no_box "after the TUNE"

close_orvel
stop_ser2net
stop_sim
log PASS
