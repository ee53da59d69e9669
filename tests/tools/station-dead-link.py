#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Stations made by orvel-station init, in a network namespace with the kernel settings that init
# writes: a connection whose client vanished behind a dead link is freed within a minute of the
# link's return, while a healthy connection left idle past that time is still served.
import os
import pty
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time

TOOL = sys.argv[1]
NS = f"orvdl{os.getpid()}"
# The host's end lives in this machine's own namespace: a subnet of this run's own, so that two
# runs at once do not route each other's traffic.
SUBNET = f"10.213.{os.getpid() % 250 + 1}"
HOST, STATION = f"{SUBNET}.1", f"{SUBNET}.2"
IAC, SB, SE, WILL, COM_PORT = 255, 250, 240, 251, 44
# The kernel's probes after 30 s idle, 3 more 10 s apart: freed by then, with room for load.
FREED_WITHIN = 60
SKIP = 77


def run(command):
    subprocess.run(command, shell=True, check=True, capture_output=True)


class Station:
    def __init__(self, port):
        self.root = tempfile.mkdtemp(prefix="orvel-station-dl-")
        self.port = port
        self.master, slave = pty.openpty()
        device = os.ttyname(slave)
        run(f"{TOOL} init --config-root {self.root} --device {device} --listen {STATION} "
            f"--port {port}")
        run(f"openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=op "
            f"-days 2 -keyout {self.root}/op.key -out {self.root}/op.crt")
        run(f"{TOOL} --config-root {self.root} allow {self.root}/op.crt")
        self.ser2net = subprocess.Popen(
            ["ip", "netns", "exec", NS, "ser2net", "-n", "-c", f"{self.root}/ser2net.yaml"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        self.context.check_hostname = False
        self.context.load_verify_locations(f"{self.root}/ser2net/station.crt")
        self.context.load_cert_chain(f"{self.root}/op.crt", f"{self.root}/op.key")

    def speed_answered(self, connection):
        """Asks for the line speed; whether the station answered within 3 s."""
        connection.settimeout(3)
        connection.sendall(bytes([IAC, WILL, COM_PORT, IAC, SB, COM_PORT, 1]) +
                           struct.pack(">I", 0) + bytes([IAC, SE]))
        got = b""
        try:
            while bytes([IAC, SB, COM_PORT, 101]) not in got:
                chunk = connection.recv(4096)
                if not chunk:
                    return False
                got += chunk
        except OSError:
            return False
        return True

    def connect(self):
        """A served connection, or None."""
        try:
            raw = socket.create_connection((STATION, self.port), timeout=3)
            connection = self.context.wrap_socket(raw)
        except OSError:
            return None
        if self.speed_answered(connection):
            return connection
        connection.close()
        return None

    def connect_within(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            connection = self.connect()
            if connection:
                return connection
        return None

    def stop(self):
        self.ser2net.kill()
        self.ser2net.wait()


def main():
    if os.geteuid() != 0 or subprocess.run(["ip", "netns", "add", NS]).returncode != 0:
        print("skipped: network namespaces need root here")
        return SKIP
    stations = []
    try:
        run(f"ip link add {NS}a type veth peer name {NS}b && ip link set {NS}b netns {NS} && "
            f"ip addr add {HOST}/24 dev {NS}a && ip link set {NS}a up && "
            f"ip netns exec {NS} sh -c 'ip addr add {STATION}/24 dev {NS}b && "
            f"ip link set {NS}b up && ip link set lo up'")
        healthy, dead = Station(43001), Station(43002)
        stations = [healthy, dead]
        # The setting init wrote, applied to the namespace alone.
        run(f"ip netns exec {NS} sysctl -q -p {dead.root}/sysctl.d/60-orvel-station.conf")
        idle = healthy.connect_within(10)
        gone = dead.connect_within(10)
        assert idle and gone, "the stations did not serve at all"
        idle_since = time.monotonic()

        # The client vanishes behind a dead link; its reset is lost there.
        run(f"ip link set {NS}a down")
        gone.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        gone.close()
        run(f"ip link set {NS}a up")
        back = time.monotonic()
        refused = dead.connect()
        assert refused is None, "the dead connection was not held at first: nothing was measured"
        again = dead.connect_within(FREED_WITHIN)
        assert again, f"a dead connection held the station {FREED_WITHIN} s after the link's return"
        print(f"served again {time.monotonic() - back:.1f} s after the link came back")

        # The healthy connection, idle past the whole bound, is still served.
        remaining = idle_since + FREED_WITHIN + 5 - time.monotonic()
        if remaining > 0:
            time.sleep(remaining)  # the scenario itself: a connection quiet for so long
        assert healthy.speed_answered(idle), "a healthy idle connection was dropped"
        print(f"idle connection served after {time.monotonic() - idle_since:.0f} s")
        return 0
    finally:
        for station in stations:
            station.stop()
        subprocess.run(f"ip netns del {NS}; ip link del {NS}a", shell=True,
                       capture_output=True)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except AssertionError as failure:
        print(f"FAILED: {failure}")
        sys.exit(1)
