#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# The program as a screen reader meets it: Orvel on its own X server and its own session bus
# with the accessibility bus and registry, connected to the simulated tuner, read and operated
# from outside through AT-SPI by a11y.py.
# Usage: a11y.sh ANTENNA green|red
set -euo pipefail

# First pass: an X server of our own (it picks a free display itself) and a private session
# bus around the second pass. Nothing else on the machine is touched.
if [ -z "${ORVEL_A11Y_SESSION:-}" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/orvel-a11y-x.XXXXXX")
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
  for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.err" >&2; echo "[a11y] FAIL: Xvfb ended" >&2; exit 1; }
    sleep 0.05
  done
  [ -s "$work/display" ] || { echo "[a11y] FAIL: Xvfb did not report its display" >&2; exit 1; }
  # The bus launcher and the registry that the session bus starts live in this runtime
  # directory; their output goes to a file, so that none of them can hold the caller's.
  mkdir -m 700 "$work/runtime"
  # A desktop session's accessibility bus, named in the caller's environment, is not ours.
  unset AT_SPI_BUS_ADDRESS
  status=0
  DISPLAY=:$(head -n 1 "$work/display") XDG_RUNTIME_DIR=$work/runtime ORVEL_A11Y_SESSION=1 \
    dbus-run-session -- bash "$0" "$@" </dev/null >"$work/session.log" 2>&1 || status=$?
  cat "$work/session.log"
  exit "$status"
fi

# Second pass, inside the private session bus. The shared steps point the session bus at
# nothing, as every other end-to-end test wants; this one needs the bus it was given.
session_bus=${DBUS_SESSION_BUS_ADDRESS:?the private session bus}
source "$(dirname "$0")/e2e-lib.sh"
export DBUS_SESSION_BUS_ADDRESS=$session_bus

antenna=${1:?antenna}
verdict=${2:?green or red}

# What a screen reader does when it starts: it tells the accessibility bus that it is
# running. The bus launcher starts on this call and Qt switches its bridge on when it sees it.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:ScreenReaderEnabled \
  variant:boolean:true >/dev/null || fail "cannot reach the accessibility bus launcher"

start_sim --antenna "$antenna"
device=$(sed -n "s|^$SIM_NAME \(/dev/.*\)\$|\1|p" "$sim_out")
start_orvel --port "$SIM_NAME"

# The system's Python: it is the one that has the AT-SPI bindings.
/usr/bin/python3 "$(dirname "$0")/a11y.py" --port "$SIM_NAME" --device "$device" \
  --verdict "$verdict" || fail "the accessibility check failed (see above)"

expect_received_in_order "ATU?" "????" "TUNE ON"
close_orvel
stop_sim
log PASS
