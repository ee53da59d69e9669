# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
"""Runs the README's remote steps in the order written, from the blocks marked for it.

Each block follows a comment `<!-- readme-remote: ROLE -->`: `station` and `operator` commands
run on that computer (one a line, in a terminal; a question with a default in brackets gets
Enter); `output` is what the commands before it print; `operator, window` starts the window;
`clicks` are clicks on what the window shows under these names (`A > B` through a menu);
`window shows` are lines that the window shows. In expected lines the parts that differ from
computer to computer match any of their kind (an IPv4 address, a fingerprint's pairs, a time
stamp); `...` stands for any text, alone on a line for any lines. Exits 1 on the first step
that does not do what the README says, naming it.
`make` lines are left to make (make test, CI): here make only has to know the target.
Usage: readme-remote.py README STATION-SHELL... :: OPERATOR-SHELL... (environment:
READMETEST_DIR, the folder the commands run in; READMETEST_SOURCE, the source tree; DISPLAY
with Orvel's accessibility switched on)
"""

import os
import pty
import re
import select
import subprocess
import sys
import time

import pyatspi

COMMAND_S, WINDOW_S = 90, 30
VARYING = [(r"\d{1,3}(?:\.\d{1,3}){3}", r"\d{1,3}(?:\.\d{1,3}){3}"),
           (r"[0-9A-F]{2}(?::[0-9A-F]{2})+", r"[0-9A-F]{2}(?::[0-9A-F]{2})+"),
           (r"\d{8}-\d{6}", r"\d{8}-\d{6}(?:-\d+)?"), (r"\.\.\.", r".*")]
SPLIT = re.compile("(" + "|".join(kind for kind, _ in VARYING) + ")")


def fail(message):
    print(f"[readme-remote.py] FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def blocks(readme):
    """(role, lines) of every marked block, in the README's order."""
    lines, found = open(readme).read().split("\n"), []
    for at, line in enumerate(lines):
        marker = re.fullmatch(r"<!-- readme-remote: (.+) -->", line)
        if not marker:
            continue
        body = []
        for text in lines[at + 1:]:
            if text.startswith("    "):
                body.append(text[4:])
            elif text.strip() or not body:
                break
            else:
                body.append("")
        while body and not body[-1]:
            body.pop()
        found.append((marker.group(1), body))
    return found


def pattern(expected):
    parts = SPLIT.split(expected.rstrip())
    return re.compile("".join(
        next(wanted for kind, wanted in VARYING if re.fullmatch(kind, part)) if i % 2 else
        re.escape(part) for i, part in enumerate(parts)))


def expect_output(said, expected):
    """The expected lines read as one run of the output's lines; `...` skips any lines."""
    lines = [line.rstrip() for line in said.replace("\r", "").split("\n")]
    wanted = [None if line.strip() == "..." else pattern(line) for line in expected]

    def matches(at, index):
        if index == len(wanted):
            return True
        if wanted[index] is None:
            return any(matches(skip, index + 1) for skip in range(at, len(lines) + 1))
        return at < len(lines) and wanted[index].fullmatch(lines[at]) and matches(at + 1, index + 1)

    if not any(matches(start, 0) for start in range(len(lines))):
        fail("the output does not read as the README says.\nREADME:\n" + "\n".join(expected) +
             "\nprinted:\n" + said)


def run(shell, line):
    """The command in a terminal of its own; its output. Questions get Enter, as a reader's."""
    print(f"[readme-remote.py] $ {line}", flush=True)
    pid, terminal = pty.fork()
    if pid == 0:
        os.chdir(os.environ["READMETEST_DIR"])
        os.execvp(shell[0], shell + [line])
    said, answered, deadline = b"", 0, time.monotonic() + COMMAND_S
    while time.monotonic() < deadline:
        if select.select([terminal], [], [], 0.2)[0]:
            try:
                chunk = os.read(terminal, 65536)
            except OSError:
                break
            if not chunk:
                break
            said += chunk
            if re.search(rb"\[[^\]\n]*\] $", said[answered:]):
                os.write(terminal, b"\n")
                answered = len(said)
    else:
        os.kill(pid, 9)
    _, status = os.waitpid(pid, 0)
    text = said.decode("utf-8", "replace")
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        fail(f"{line!r} ended with status {status} within {COMMAND_S} s:\n{text}")
    return text


def make_knows(line):
    """make runs its targets elsewhere (make test, CI): here only that it has this one."""
    known = subprocess.run(line.split() + ["-n", "-C", os.environ["READMETEST_SOURCE"]],
                           capture_output=True, text=True)
    if known.returncode != 0:
        fail(f"{line!r}: {known.stderr}")
    return ""


def app(name="Orvel"):
    desktop = pyatspi.Registry.getDesktop(0)
    return next((a for a in (desktop.getChildAtIndex(i) for i in range(desktop.childCount))
                 if a is not None and a.name == name), None)


def nodes(root):
    if root is None:
        return
    yield root
    for index in range(root.childCount):
        child = root.getChildAtIndex(index)
        if child is not None:
            yield from nodes(child)


def showing(node):
    states = node.getState()
    return states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_VISIBLE)


def texts(node):
    said = [node.name or "", node.description or ""]
    try:
        text = node.queryText()
        said.append(text.getText(0, text.characterCount))
    except NotImplementedError:
        pass
    return [line for part in said for line in part.split("\n")]


def wait_for(what, found):
    deadline = time.monotonic() + WINDOW_S
    while time.monotonic() < deadline:
        try:
            result = next((node for node in nodes(app()) if showing(node) and found(node)), None)
        except Exception:  # a window that went while it was read: read it again
            result = None
        if result is not None:
            return result
        time.sleep(0.2)
    fail(f"the window shows no {what} within {WINDOW_S} s")


def click(name):
    node = wait_for(f"{name!r} to click", lambda n: pattern(name).fullmatch(n.name or ""))
    extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    x, y = extents.x + extents.width // 2, extents.y + extents.height // 2
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"], check=True)


def main():
    readme, shells = sys.argv[1], sys.argv[2:]
    split = shells.index("::")
    computers = {"station": shells[:split], "operator": shells[split + 1:]}
    said, window, steps = "", None, blocks(readme)
    if not steps:
        fail(f"no block of {readme} is marked for this test")
    for role, body in steps:
        if role in computers:
            said = "".join(make_knows(line) if line.startswith("make ") else
                           run(computers[role], line) for line in body)
        elif role == "output":
            expect_output(said, body)
        elif role == "operator, window":
            window = subprocess.Popen(computers["operator"] + ["exec " + body[0]],
                                      cwd=os.environ["READMETEST_DIR"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        elif role == "clicks":
            for line in body:
                for name in line.split(" > "):
                    print(f"[readme-remote.py] click {name}", flush=True)
                    click(name)
        elif role == "window shows":
            for line in body:
                wait_for(repr(line), lambda n: any(pattern(line).fullmatch(t) for t in texts(n)))
        else:
            fail(f"unknown mark {role!r} in {readme}")
    if window is not None:
        window.terminate()
        if window.wait(15) != 0:
            fail(f"Orvel ended with status {window.returncode} on SIGTERM")
    print(f"[readme-remote.py] {len(steps)} marked blocks as the README says")


if __name__ == "__main__":
    main()
