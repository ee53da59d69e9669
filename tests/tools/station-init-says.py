#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# What orvel-station init says, in the order it happens: what it configured, then what to start,
# then what the operator sees once it runs; it starts nothing itself. Rows on /etc run in
# namespaces of their own (/etc overlaid, a /run of their own, host name shack); skipped (77)
# where those cannot be made.
import os
import pty
import subprocess
import sys
import tempfile

TOOL = sys.argv[1]
ANNOUNCED = 'they run, ser2net announces the tuner on the local network (mDNS) as "shack"'
# (systemd runs the machine, what init says in this order)
ROWS = [(False, ["Wrote the tuner's connection into /etc/ser2net.yaml", "  sudo avahi-daemon -D",
                 "  sudo service ser2net restart", ANNOUNCED, "Address:  rfc2217+tls://shack.local:"]),
        (True, ["Wrote the tuner's connection into /etc/ser2net.yaml",
                "  sudo systemctl enable --now avahi-daemon", "  sudo systemctl restart ser2net",
                ANNOUNCED, "Address:  rfc2217+tls://shack.local:"])]


def init(work, systemd, device):
    """init on /etc in namespaces of its own; its output, and what it asked of systemctl."""
    os.makedirs(f"{work}/upper"), os.makedirs(f"{work}/bin"), os.makedirs(f"{work}/lower")
    with open(f"{work}/bin/systemctl", "w") as fake:
        fake.write(f'#!/bin/sh\necho "$*" >>{work}/systemctl.log\n')
    os.chmod(f"{work}/bin/systemctl", 0o755)
    script = (f"mount -t overlay overlay -o lowerdir=/etc,upperdir={work}/upper,"
              f"workdir={work}/lower /etc && mount -t tmpfs tmpfs /run && hostname shack && "
              f"ip link set lo up && {'mkdir -p /run/systemd/system && ' if systemd else ''}"
              f"PATH={work}/bin:$PATH exec {TOOL} init --device {device} 2>&1")
    said = subprocess.run(["unshare", "-m", "-n", "-u", "--propagation", "private", "sh", "-c",
                           script], capture_output=True, text=True, stdin=subprocess.DEVNULL)
    asked = open(f"{work}/systemctl.log").read() if os.path.exists(f"{work}/systemctl.log") else ""
    return said.returncode, said.stdout, asked


def main():
    if os.geteuid() != 0 or subprocess.run(["unshare", "-m", "-n", "-u", "true"]).returncode:
        print("skipped: namespaces need root here")
        return 77
    _, tuner = pty.openpty()
    failures = 0
    for systemd, expected in ROWS:
        with tempfile.TemporaryDirectory(prefix="orvel-station-says-") as work:
            status, said, asked = init(work, systemd, os.ttyname(tuner))
        at = 0
        for line in expected:
            at = said.find(line, at)
            if at < 0 or status != 0 or asked:
                print(f"FAILED (systemd {systemd}): status {status}, systemctl asked {asked!r}, "
                      f"{line!r} missing or out of order in:\n{said}")
                failures += 1
                break
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
