#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# The README's "Remote station in five steps", run as written by readme-remote.py: two computers
# in namespaces of their own, joined by a veth pair, each with its own system bus and
# avahi-daemon. The station "shack" (its own network, mount, host-name and process namespaces;
# /etc and /dev overlaid, so that nothing of this machine changes) has the simulated tuner at
# /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234-if00-port0; the operator "op" runs the real
# window on its own X server, read and clicked through the accessibility interface.
# Stand-ins on PATH, for what a test cannot do for real: sudo (the test is root), ssh shack (the
# command runs in the station's namespaces), apt (simulates: nothing is installed), systemctl
# (starts a unit's ExecStart as systemd would; the station has no systemd). The package for
# the install steps is made by cpack from the build. Exits 77 (skipped) where namespaces cannot
# be made.
# Usage: readme-remote.sh README CPACK-CONFIG
if [ -z "${ORVEL_E2E_ISOLATED:-}" ]; then
  if [ "$(id -u)" != 0 ] || ! unshare -n -m -u --propagation private true 2>/dev/null; then
    echo "[readme-remote] SKIP: network and mount namespaces cannot be made here (needs root)" >&2
    exit 77
  fi
  unset AT_SPI_BUS_ADDRESS
  ORVEL_E2E_ISOLATED=1 exec unshare -n -m -u --propagation private \
    dbus-run-session -- bash "$0" "$@" </dev/null
fi
session_bus=${DBUS_SESSION_BUS_ADDRESS:?the private session bus}
ORVEL_E2E_OWN_XSERVER=1
source "$(dirname "$0")/e2e-lib.sh"
export DBUS_SESSION_BUS_ADDRESS=$session_bus
readme=${1:?README}
cpack_config=${2:?CPackConfig.cmake}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

bus_pid=""
avahi_pid=""
station_pid=""
trap 'stop_process "$station_pid"; stop_process "$avahi_pid"; stop_process "$bus_pid"; cleanup' EXIT

# The package that the install steps name, where they look for it.
folder=$e2e_work/clone
mkdir -p "$folder/build"
cpack -G DEB --config "$cpack_config" -B "$e2e_work/cpack" >"$e2e_work/cpack.log" 2>&1 ||
  fail "cpack could not make the package: $(tail -n 5 "$e2e_work/cpack.log")"
cp "$e2e_work"/cpack/orvel_*.deb "$folder/build/"
cp "$e2e_work"/cpack/orvel_*.deb "$folder/"

# The stand-ins and the programs under test, as installed.
bin=$e2e_work/bin
mkdir "$bin"
ln -s "$ORVEL_E2E_PROGRAM" "$bin/orvel"
ln -s "$source_dir/tools/orvel-station/orvel-station" "$bin/orvel-station"
printf '#!/bin/sh\nexec "$@"\n' >"$bin/sudo"
printf '#!/bin/sh\nexec apt-get --simulate "$@"\n' >"$bin/apt"
cat >"$bin/ssh" <<EOF
#!/bin/sh
[ "\$1" = shack ] || { echo "ssh: \$1: not the station" >&2; exit 255; }
shift
exec nsenter -t "\$(cat $e2e_work/station.pid)" -n -m -u -p -- env PATH=$bin:\$PATH sh -c "\$*"
EOF
cat >"$bin/systemctl" <<'EOF'
#!/bin/sh
# restart, enable --now, is-active UNIT: the unit's ExecStart in the background, its pid kept;
# it returns once the program listens.
verb=$1; shift; [ "$1" = --now ] && shift
unit=/lib/systemd/system/$1.service pidfile=/run/stand-in-$1.pid
case $verb in
  is-active) kill -0 "$(cat "$pidfile" 2>/dev/null)" 2>/dev/null && echo active || echo inactive; exit 0 ;;
  restart|enable) [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null ;;
  *) echo "systemctl stand-in: $verb" >&2; exit 1 ;;
esac
env=$(sed -n 's/^EnvironmentFile=-\{0,1\}//p' "$unit")
start=$(sed -n 's/^ExecStart=//p' "$unit")
sh -c "[ -r '$env' ] && . '$env'; exec $start" </dev/null >"/run/stand-in-$1.log" 2>&1 &
echo $! >"$pidfile"
# Ready, as the unit's program is for its clients, once it listens (at most 10 s).
for _ in $(seq 200); do ss -lntupH | grep -q "pid=$!," && exit 0; sleep 0.05; done
EOF
chmod +x "$bin"/*

# The operator's computer: this namespace, logged in as op, resolving .local names by mDNS.
hostname operator
awk -F: 'BEGIN { OFS = ":" } $3 == 0 { $1 = "op" } { print }' /etc/passwd >"$e2e_work/passwd"
mount --bind "$e2e_work/passwd" /etc/passwd
{
  grep -v '^hosts:' /etc/nsswitch.conf || true
  echo 'hosts: files mdns4_minimal [NOTFOUND=return] dns'
} >"$e2e_work/nsswitch.conf"
mount --bind "$e2e_work/nsswitch.conf" /etc/nsswitch.conf
for folder_run in /run/dbus /run/avahi-daemon; do
  mkdir -p "$folder_run"
  mount -t tmpfs tmpfs "$folder_run"
done
sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
ip link set lo up

start_sim
tuner=$(readlink -f "$ORVEL_PORTS_DIR/$SIM_NAME")

# The station: its namespaces held by a process that lives as long as the test.
cat >"$e2e_work/station.sh" <<EOF
set -e
mount -t overlay overlay -o lowerdir=/etc,upperdir=$e2e_work/etc,workdir=$e2e_work/etc.work /etc
mount --bind /dev/pts $e2e_work/pts
mount -t overlay overlay -o lowerdir=/dev,upperdir=$e2e_work/dev,workdir=$e2e_work/dev.work /dev
mount --move $e2e_work/pts /dev/pts
rm -f /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/serial0
mkdir -p /dev/serial/by-id
ln -s $tuner /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234-if00-port0
mount -t tmpfs tmpfs /run
mkdir -p /run/dbus /run/avahi-daemon /run/lock /run/systemd/system
hostname shack
sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
ip link set lo up
until ip link show s1 >/dev/null 2>&1; do sleep 0.05; done
ip addr add 10.98.0.2/24 dev s1
ip link set s1 up
dbus-daemon --system --fork --nopidfile
avahi-daemon --no-drop-root --no-chroot --no-rlimits -D
echo \$\$ >$e2e_work/station.ready
exec sleep infinity
EOF
mkdir "$e2e_work"/{etc,etc.work,dev,dev.work,pts}
unshare -n -m -u -p -f --kill-child --mount-proc --propagation private bash "$e2e_work/station.sh" \
  >"$e2e_work/station.log" 2>&1 &
station_pid=$!
station_child() { pgrep -P "$station_pid" | head -n 1; }
wait_until 10 "the station's namespaces" test -n "$(station_child)"
station_child >"$e2e_work/station.pid"
ip link add s0 type veth peer name s1 netns "$station_pid"
ip addr add 10.98.0.1/24 dev s0
ip link set s0 up
wait_until 20 "the station's avahi-daemon" test -s "$e2e_work/station.ready"

dbus-daemon --system --nofork --nopidfile >"$e2e_work/dbus.log" 2>&1 &
bus_pid=$!
wait_until 10 "the system bus" test -S /run/dbus/system_bus_socket
avahi-daemon --no-drop-root --no-chroot --no-rlimits >"$e2e_work/avahi.log" 2>&1 &
avahi_pid=$!
wait_until 10 "avahi-daemon" test -S /run/avahi-daemon/socket

start_xserver
# What a screen reader does as it starts: Qt switches its accessibility on for it.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:ScreenReaderEnabled \
  variant:boolean:true >/dev/null || fail "cannot reach the accessibility bus launcher"

station_shell=(nsenter -t "$(cat "$e2e_work/station.pid")" -n -m -u -p "--wd=$folder" -- env "PATH=$bin:$PATH" sh -c)
READMETEST_DIR=$folder READMETEST_SOURCE=$source_dir PATH=$bin:$PATH /usr/bin/python3 "$(dirname "$0")/readme-remote.py" \
  "$readme" "${station_shell[@]}" :: sh -c || fail "a step does not do what the README says"
sim_received "TUNE ON" || fail "the tuner was not asked to tune"
stop_sim
log PASS
