# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
"""Reads and operates Orvel through AT-SPI, as a screen reader does.

Walks the accessible tree of the running program (selected port given, not yet connected),
checks every control's role, name and states, connects and starts a tuning cycle through the
buttons' press actions, records the change events meanwhile, and checks that the readings and
lamps were announced with the values the window ends with. Exits with status 1 on the first
failed check, naming it.
"""

import argparse
import os
import re
import socket
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

WAIT_APP_S = 20
WAIT_CONNECT_S = 15
WAIT_TUNE_S = 30


def fail(message):
    print(f"[a11y.py] FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def log(message):
    print(f"[a11y.py] {message}", flush=True)


def check(condition, message):
    if not condition:
        fail(message)


def walk(node, depth=0):
    yield node, depth
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            yield from walk(child, depth + 1)


def states(node):
    return set(node.getState().getStates())


def role(node):
    return node.getRole()


def describe(node):
    names = sorted(pyatspi.stateToString(s) for s in states(node))
    return f"{node.getRoleName()} {node.name!r} ({node.description!r}) [{', '.join(names)}]"


def find_app(name):
    deadline = time.monotonic() + WAIT_APP_S
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.name == name:
                return app
        time.sleep(0.1)
    fail(f"no application named {name!r} on the accessibility bus within {WAIT_APP_S} s")


def find(root, wanted_role, name):
    for node, _ in walk(root):
        if role(node) == wanted_role and node.name == name:
            return node
    fail(f"no {wanted_role} named {name!r}; the tree:\n" + dump(root))


def find_window(app, title):
    for index in range(app.childCount):
        window = app.getChildAtIndex(index)
        if window is not None and window.name == title:
            return window
    fail(f"no window titled {title!r}")


def dump(root):
    return "\n".join("  " * depth + describe(node) for node, depth in walk(root))


def press(node):
    action = node.queryAction()
    for index in range(action.nActions):
        if action.getName(index).lower() == "press":
            action.doAction(index)
            return
    fail(f"{describe(node)} offers no press action")


def text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


class Events:
    """Records the change events of the watched controls, by control."""

    TYPES = (
        "object:property-change:accessible-name",
        "object:property-change:accessible-description",
        "object:state-changed:checked",
    )

    def __init__(self, watched):
        self.watched = watched  # label -> accessible
        self.seen = []  # (label, event type, value)
        pyatspi.Registry.registerEventListener(self.record, *self.TYPES)

    def label_of(self, source):
        for label, node in self.watched.items():
            if node == source:
                return label
        return None

    def record(self, event):
        label = self.label_of(event.source)
        if label is None:
            return
        # Qt's change events carry the object, not the new text: what a screen reader speaks
        # is what it reads from the object when the event arrives.
        if event.type.startswith("object:state-changed"):
            value = bool(event.detail1)
        elif event.type.endswith("accessible-name"):
            value = event.source.name
        else:
            value = event.source.description
        self.seen.append((label, event.type, value))

    def values(self, label, event_type):
        return [v for (source, kind, v) in self.seen if source == label and kind == event_type]

    def last(self, label, event_type):
        values = self.values(label, event_type)
        return values[-1] if values else None


def run_until(condition, seconds, what):
    """Runs the event loop until condition() holds; fails after the deadline."""
    outcome = {"met": False}
    deadline = time.monotonic() + seconds

    def poll():
        if condition():
            outcome["met"] = True
            pyatspi.Registry.stop()
            return False
        if time.monotonic() > deadline:
            pyatspi.Registry.stop()
            return False
        return True

    GLib.timeout_add(50, poll)
    pyatspi.Registry.start()
    check(outcome["met"], f"no {what} within {seconds} s")


class Spoken:
    """Records what a screen reader is given: notifications shown, focus moves, name changes."""

    TYPES = ("object:state-changed:showing", "object:state-changed:focused",
             "object:property-change:accessible-name")

    def __init__(self):
        self.seen = []  # (event type, role, name, description)
        pyatspi.Registry.registerEventListener(self.record, *self.TYPES)

    def record(self, event):
        if event.type.startswith("object:state-changed") and not event.detail1:
            return
        try:
            source = event.source
            self.seen.append((event.type, role(source), source.name, source.description))
        except Exception:  # a source gone meanwhile tells nothing
            pass

    def told(self, pattern):
        """Whether a line matching pattern reached the screen reader as something it speaks: a
        notification shown, or the focus on an object that names or describes it."""
        for kind, node_role, name, description in self.seen:
            if kind.endswith("showing") and node_role == pyatspi.ROLE_NOTIFICATION \
                    and re.fullmatch(pattern, name):
                return True
            if kind.endswith("focused") and (re.fullmatch(pattern, name)
                                             or re.fullmatch(pattern, description)):
                return True
        return False

    def only_as_label_name(self, pattern):
        return [entry for entry in self.seen
                if entry[0].endswith("accessible-name") and entry[1] == pyatspi.ROLE_LABEL
                and re.fullmatch(pattern, entry[2])]


def check_add_station(app, window):
    """The Add Station dialog's search end and a refused connection, as a screen reader gets
    them."""
    spoken = Spoken()
    item = find(window, pyatspi.ROLE_MENU_ITEM, "Add Station...")
    # The dialog runs modally inside the item's action: pressed from a process of its own, whose
    # call returns once the dialog is closed.
    opener = subprocess.Popen([sys.executable, "-c", (
        "import pyatspi, sys\n"
        "app = [a for a in pyatspi.Registry.getDesktop(0) if a and a.name == 'Orvel'][0]\n"
        "def walk(n):\n"
        "    yield n\n"
        "    for i in range(n.childCount):\n"
        "        yield from walk(n.getChildAtIndex(i))\n"
        "item = [n for n in walk(app) if n.getRoleName() == 'menu item' and n.name == 'Add Station...'][0]\n"
        "try:\n    item.queryAction().doAction(0)\nexcept Exception:\n    pass\n")],
        env=os.environ)
    del item
    dialog = {}

    def shown():
        for index in range(app.childCount):
            w = app.getChildAtIndex(index)
            if w is not None and w.name == "Add Station" and pyatspi.STATE_SHOWING in states(w):
                dialog["window"] = w
                return True
        return False

    run_until(shown, 10, "Add Station dialog")
    box = dialog["window"]
    log("the Add Station dialog as AT-SPI shows it:\n" + dump(box))
    ended = r"No station announces itself on this network\.|.*(avahi|mDNS|bus).*"
    run_until(lambda: spoken.told(ended), 20, "search end spoken (a notification or focus)")
    log(f"search end given as: {[e for e in spoken.seen if e[0].endswith('showing')]}")

    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    host = find(box, pyatspi.ROLE_TEXT, "Host:")
    host.queryEditableText().setTextContents("127.0.0.1")
    find(box, pyatspi.ROLE_TEXT, "Name in the port list:").queryEditableText() \
        .setTextContents("NOBODY")
    spin = [n for n, _ in walk(box) if role(n) == pyatspi.ROLE_SPIN_BUTTON][0]
    spin.queryValue().currentValue = port
    tls = [n for n, _ in walk(box) if role(n) == pyatspi.ROLE_CHECK_BOX][0]
    if pyatspi.STATE_CHECKED in states(tls):
        tls.queryAction().doAction(0)
    spoken.seen.clear()
    press(find(box, pyatspi.ROLE_PUSH_BUTTON, "Add and Open"))
    refused = re.escape(f"Cannot connect to rfc2217://127.0.0.1:{port}. Connection refused.")
    run_until(lambda: spoken.told(refused), 15, "refused connection spoken")
    focused = [e for e in spoken.seen if e[0].endswith("focused")]
    # The names are read as the events arrive, so the reaching line may read as the refusal
    # already: what counts is that the focus was on the line while the station was reached.
    check(focused and focused[0][1] == pyatspi.ROLE_NOTIFICATION,
          f"the focus was not on the problem line while the station was reached: {focused}")
    check(focused and focused[-1][2] == "Host:" and re.fullmatch(refused, focused[-1][3]),
          f"the focus did not return to the host field described by the problem: {focused}")
    check(not [e for e in focused if e[2] == "Cancel"], f"the focus went to Cancel: {focused}")
    log(f"refused connection given as: {spoken.seen}")
    press(find(box, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    opener.wait(timeout=10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", required=True)
    parser.add_argument("--device", required=True)
    parser.add_argument("--verdict", choices=("green", "red"), required=True)
    args = parser.parse_args()

    app = find_app("Orvel")
    window = find_window(app, "Orvel")
    log("the main window as AT-SPI shows it:\n" + dump(window))

    # Buttons, named after their captions, pressed as their latches are.
    tune = find(window, pyatspi.ROLE_PUSH_BUTTON, "TUNE")
    open_port = find(window, pyatspi.ROLE_PUSH_BUTTON, "Open Port")
    close_port = find(window, pyatspi.ROLE_PUSH_BUTTON, "Close Port")
    check(pyatspi.STATE_PRESSED not in states(tune), "TUNE is pressed at start")
    check(pyatspi.STATE_PRESSED not in states(open_port), "Open Port is pressed at start")
    check(pyatspi.STATE_PRESSED in states(close_port), "Close Port is not pressed at start")
    check(tune.description, "TUNE has no description")
    for node in (tune, open_port, close_port):
        check(pyatspi.STATE_FOCUSABLE not in states(node), f"{describe(node)} takes the focus")

    # Lamps: pictures named after what they show, with their meaning and state described.
    lamps = {}
    for name, meaning in (("Yellow lamp", "Tuning"), ("Red lamp", "Tuning failed"),
                          ("Green lamp", "Tuned")):
        lamp = find(window, pyatspi.ROLE_IMAGE, name)
        check(lamp.description == f"{meaning}: unlit", f"{describe(lamp)}: not '{meaning}: unlit'")
        check(pyatspi.STATE_CHECKED not in states(lamp), f"{describe(lamp)} is lit at start")
        lamps[name] = lamp
    tx = find(window, pyatspi.ROLE_IMAGE, "TxD lamp")
    rx = find(window, pyatspi.ROLE_IMAGE, "RxD lamp")
    check(re.fullmatch(r"Transmit activity: (lit|unlit)", tx.description), describe(tx))
    check(re.fullmatch(r"Receive activity: (blinking|unlit)", rx.description), describe(rx))

    # Readings: empty until the tuner reports.
    swr = find(window, pyatspi.ROLE_LABEL, "SWR no reading")
    inductance = find(window, pyatspi.ROLE_LABEL, "L no reading")
    capacitance = find(window, pyatspi.ROLE_LABEL, "C no reading")

    # The port list with its items and their devices.
    ports = find(window, pyatspi.ROLE_COMBO_BOX, args.port)
    labels = [relation.getTarget(0).name for relation in ports.getRelationSet()
              if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY]
    check(labels == ["COM Ports"], f"the port list is labelled by {labels}")
    item = None
    for node, _ in walk(ports):
        if role(node) in (pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TABLE_CELL) and node.name == args.port:
            item = node
    check(item is not None, f"the port list does not list {args.port}:\n" + dump(ports))
    check(item.description == args.device,
          f"the port list item {args.port} describes {item.description!r}, not {args.device!r}")

    watched = {"TUNE": tune, "Open Port": open_port, "SWR": swr, "L": inductance,
               "C": capacitance, "Yellow lamp": lamps["Yellow lamp"],
               "Red lamp": lamps["Red lamp"], "Green lamp": lamps["Green lamp"]}
    events = Events(watched)

    # Connect through Open Port's action; its caption is announced as it changes.
    press(open_port)
    run_until(lambda: open_port.name == "ATU conn" and swr.name != "SWR no reading",
              WAIT_CONNECT_S, "connection (Open Port reading \"ATU conn\" and an SWR reading)")
    # Two changes, "Connecting..." and "ATU conn"; the first may be read after the second
    # has happened already, as the events carry no text.
    captions = events.values("Open Port", "object:property-change:accessible-name")
    check(len(captions) >= 2 and captions[-1] == "ATU conn",
          f"Open Port's captions were announced as {captions}")
    check(pyatspi.STATE_PRESSED in states(open_port), "Open Port is not pressed once connected")
    check(pyatspi.STATE_PRESSED not in states(close_port), "Close Port is still pressed")

    # A tuning cycle through TUNE's action: pressed and the yellow lamp while the relays step,
    # then the verdict.
    events.seen.clear()
    before = {"SWR": swr.name, "L": inductance.name, "C": capacitance.name}
    press(tune)
    verdict_lamp = "Green lamp" if args.verdict == "green" else "Red lamp"
    other_lamp = "Red lamp" if args.verdict == "green" else "Green lamp"

    # TUNE's release is waited for as an event too: the events travel apart from the answers
    # to the queries, so the button may read as up before its announcement has come.
    def tuned():
        return (events.values("Yellow lamp", "object:state-changed:checked")[-1:] == [False]
                and pyatspi.STATE_CHECKED in states(lamps[verdict_lamp])
                and pyatspi.STATE_PRESSED not in states(tune)
                and events.values("TUNE", "object:state-changed:checked")[-1:] == [False])

    run_until(tuned, WAIT_TUNE_S, f"end of the tuning cycle with the {args.verdict} lamp")
    check(True in events.values("Yellow lamp", "object:state-changed:checked"),
          "the yellow lamp was not announced lit while tuning")
    check(events.values("TUNE", "object:state-changed:checked")[-2:] == [True, False],
          "TUNE was not announced down and up again: "
          f"{events.values('TUNE', 'object:state-changed:checked')}")
    # Every reading that changed was announced, and its last announcement is what it shows
    # now; a lamp that changed was announced with its final state. The events travel apart
    # from the answers to the queries above, so the last of them may still be on their way.
    readings = {"SWR": swr, "L": inductance, "C": capacitance}
    expected_lamps = {"Yellow lamp": False, verdict_lamp: True, other_lamp: False}
    meanings = {"Yellow lamp": "Tuning", "Red lamp": "Tuning failed", "Green lamp": "Tuned"}

    def described(name, lit):
        return f"{meanings[name]}: {'lit' if lit else 'unlit'}"

    def announced_as_shown():
        for label, node in readings.items():
            announced = events.last(label, "object:property-change:accessible-name")
            if node.name != (announced if announced is not None else before[label]):
                return False
        return all(events.last(name, "object:state-changed:checked") in (None, lit) and
                   events.last(name, "object:property-change:accessible-description")
                   in (None, described(name, lit)) for name, lit in expected_lamps.items())

    run_until(announced_as_shown, 5, "announcements of the final readings and lamps")
    final = {
        "SWR": (swr.name, r"SWR (\d\.\d|unknown)"),
        "L": (inductance.name, r"L \d+([.,]\d+)? µH"),
        "C": (capacitance.name, r"C \d+ pF"),
    }
    for label in ("L", "C"):
        check(events.values(label, "object:property-change:accessible-name"),
              f"the {label} reading was not announced while the relays stepped")
    for label, (shown, pattern) in final.items():
        check(re.fullmatch(pattern, shown), f"the {label} reading reads {shown!r}")
        announced = events.last(label, "object:property-change:accessible-name")
        if announced is None:
            check(shown == before[label], f"the {label} reading changed from {before[label]!r} "
                                          f"to {shown!r} unannounced")
        else:
            check(announced == shown, f"the {label} reading was last announced as "
                                      f"{announced!r}, and reads {shown!r}")
    for name, lit in expected_lamps.items():
        node = lamps[name]
        check(node.description == described(name, lit),
              f"{describe(node)}, expected {described(name, lit)!r}")
        check((pyatspi.STATE_CHECKED in states(node)) == lit, f"{describe(node)}: lit is not {lit}")
    for name in ("Yellow lamp", verdict_lamp):
        last = events.last(name, "object:state-changed:checked")
        lit = expected_lamps[name]
        check(last == lit, f"the {name} was last announced {'lit' if last else 'unlit'}")
        announced = events.last(name, "object:property-change:accessible-description")
        check(announced == described(name, lit),
              f"the {name}'s description was last announced as {announced!r}")
    network = None
    for node, _ in walk(window):
        if role(node) == pyatspi.ROLE_IMAGE and pyatspi.STATE_SHOWING in states(node):
            network = node
    check(network is not None and "capacitor on the" in network.name,
          "no network picture shown with the capacitor's side in its name:\n" + dump(window))
    log(f"tuned: {swr.name}, {inductance.name}, {capacitance.name}, {network.name}")

    # The SWR threshold items with their checked state: the tuner's status report has
    # checked the one it works with (checked below against the log).
    checked = []
    for tenths in range(11, 18):
        caption = f"1.{tenths - 10}"
        entry = find(window, pyatspi.ROLE_MENU_ITEM, caption)
        if pyatspi.STATE_CHECKED in states(entry):
            checked.append(caption)
    check(len(checked) == 1, f"the SWR threshold items checked: {checked}")

    # The RxD lamp's action opens the port monitor; its log holds the traffic, line by line.
    press(rx)
    monitor = {}

    def monitor_shown():
        for index in range(app.childCount):
            w = app.getChildAtIndex(index)
            if w is not None and w.name == "Port Monitor" and pyatspi.STATE_SHOWING in states(w):
                monitor["window"] = w
                return True
        return False

    run_until(monitor_shown, 10, "port monitor after pressing the RxD lamp")
    check(role(monitor["window"]) == pyatspi.ROLE_FRAME,
          f"the port monitor is no window: {describe(monitor['window'])}")
    log("the port monitor as AT-SPI shows it:\n" + dump(monitor["window"]))
    live = find(monitor["window"], pyatspi.ROLE_TEXT, "Log")
    lines = text_of(live).split("\n")
    check(lines[0].startswith("+ ATU_KORAX"), f"the log begins with {lines[0]!r}")
    for line in ("- ????", "- TUNE ON", f"+ {args.verdict.upper()}: ON"):
        check(line in lines, f"the log does not hold the line {line!r}: {lines}")
    threshold = [line[len("+ SWRmin: "):] for line in lines if line.startswith("+ SWRmin: ")]
    check(threshold and checked == [f"{threshold[-1][0]}.{threshold[-1][1]}"],
          f"the tuner reported SWRmin {threshold}, the menu has {checked} checked")
    frozen = find(monitor["window"], pyatspi.ROLE_TEXT, "Frozen log")
    check(pyatspi.STATE_SHOWING not in states(frozen), "the frozen log shows while Autoscroll is on")
    find(monitor["window"], pyatspi.ROLE_TEXT, "Command")
    check_add_station(app, window)
    log("PASS")


if __name__ == "__main__":
    main()
