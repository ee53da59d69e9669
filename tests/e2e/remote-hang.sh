#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# A station that hangs half a second into the tuning cycle of a TUNE, on the real window, and a
# second TUNE clicked 0.3 s into the hang: ser2net stopped with SIGSTOP has not passed it on, but
# its kernel took it, so it may still reach the tuner when ser2net resumes. The operator is told
# so in one desktop notification that names that TUNE and the time it was sent (not the first,
# which the tuner answered), within the 10 s in which a hung station is found lost, and without a
# box. The desktop is a private session bus with a notification service that writes down what it
# is given.
source "$(dirname "$0")/e2e-lib.sh"

bus_pid=""
notifier_pid=""
trap 'kill -CONT "$ser2net_pid" 2>/dev/null || true; stop_process "$ser2net_pid"; stop_process "$notifier_pid"; stop_process "$bus_pid"; cleanup' EXIT

elapsed_ms() { echo $((($(now_us) - $1) / 1000)); }
past() { (($(now_us) >= $1)); }

dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$e2e_work/bus.address" &
bus_pid=$!
wait_until 5 "session bus" test -s "$e2e_work/bus.address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$e2e_work/bus.address")
export DBUS_SESSION_BUS_ADDRESS
notes=$e2e_work/notifications
/usr/bin/python3 -c '
import sys, dbus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
class Notifications(dbus.service.Object):
    @dbus.service.method("org.freedesktop.Notifications", "susssasa{sv}i", "u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        open(sys.argv[1], "a").write(app + "|" + summary + "|" + body + "\n")
        return 1
name = dbus.service.BusName("org.freedesktop.Notifications", dbus.SessionBus())
Notifications(dbus.SessionBus(), "/org/freedesktop/Notifications")
open(sys.argv[2], "w").write("ready")
GLib.MainLoop().run()' "$notes" "$e2e_work/notifier.ready" &
notifier_pid=$!
wait_until 10 "notification service" test -s "$e2e_work/notifier.ready"

start_sim
plain_station
start_ser2net

connect_to_port SHACK
click_tune
wait_until 5 "TUNE ON at the simulator" sim_received "TUNE ON"
tuning=$(now_us)
wait_until 5 "half a second into the tuning cycle" past $((tuning + 500000))
kill -STOP "$ser2net_pid"
frozen=$(now_us)
wait_until 5 "0.3 s into the hang" past $((frozen + 300000))
clicked=$(now_us)
click_tune
wait_until 12 "a notification of the lost station" test -s "$notes"
log "notified $(elapsed_ms "$frozen") ms into the freeze: $(cat "$notes")"
(($(elapsed_ms "$frozen") <= 10000)) || fail "the loss was told $(elapsed_ms "$frozen") ms into the freeze, not within 10 s"
sim_received_times "TUNE ON" 1 || fail "the TUNE clicked during the hang reached the tuner before ser2net resumed"
# The second TUNE was written within the second of its click or the next one.
sent=$(sed -n 's/^Orvel|Connection lost|SHACK stopped answering\. TUNE ON, sent at \([0-9:]*\), may still reach the tuner if the station resumes\.$/\1/p' "$notes")
[ -n "$sent" ] || fail "the notification does not name the one TUNE that may still reach the tuner: $(cat "$notes")"
[ "$sent" = "$(date -d "@$((clicked / 1000000))" +%T)" ] || [ "$sent" = "$(date -d "@$((clicked / 1000000 + 1))" +%T)" ] ||
  fail "the TUNE is said to be sent at $sent, not at the second click's time"
wait_for_look 5 "Open Port up after the station was lost" looks_closed
[ "$(visible_windows '^Orvel$')" = "$window" ] || fail "a box is shown after the station hung"
[ "$(wc -l <"$notes")" = 1 ] || fail "more than one notification: $(cat "$notes")"

kill -CONT "$ser2net_pid"
close_orvel
stop_ser2net
stop_sim
log PASS
