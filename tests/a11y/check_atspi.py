#!/usr/bin/python3
"""The Linux program as a screen reader sees it, through AT-SPI.

Run by scripts/test-stages/35-atspi.sh inside a D-Bus session on a virtual
display: starts the simulated TNC and kestrel-decoder on its line, then reads
the window's accessible objects: each receive pane is an editable text named
as its heading whose text holds the bytes received, with its caret and the
selection an assistive technology sets; received bytes are told at most once
a tick, not at every burst; the setup dialog's lists are named by their
labels; the trend window's plot area is named with a summary. Prints the
window's tree (--dump FILE writes it too). Exits non-zero on the first
failed check.

check_atspi.py --decoder EXE --sim EXE [--trends EXE] [--dump FILE] [--only-dump]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

SECOND = 1.0


def fail(what):
    print("FAILED: " + what, flush=True)
    sys.exit(1)


def wait_for(what, condition, seconds=20):
    """Polls condition until it gives something true; fails after `seconds`."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            got = condition()
        except Exception:  # an object may go away while it is looked at
            got = None
        if got:
            return got
        time.sleep(0.1)
    fail(what)


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            return app
    return None


def walk(node, depth=0):
    yield node, depth
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def find(root, role, name=None):
    for node, _ in walk(root):
        if node.getRoleName() == role and (name is None or node.name == name):
            return node
    return None


def text_of(node):
    t = node.queryText()
    return t.getText(0, -1)


def describe(root):
    """One line an object: role, name, states of interest, text."""
    lines = []
    for node, depth in walk(root):
        states = node.getState()
        marks = [s for s, flag in (("editable", pyatspi.STATE_EDITABLE), ("multi-line", pyatspi.STATE_MULTI_LINE),
                                   ("focusable", pyatspi.STATE_FOCUSABLE), ("focused", pyatspi.STATE_FOCUSED))
                 if states.contains(flag)]
        line = "  " * depth + "%s %r" % (node.getRoleName(), node.name)
        if node.description:
            line += " (%s)" % node.description
        if marks:
            line += " [" + ", ".join(marks) + "]"
        try:
            t = node.queryText()
            body = t.getText(0, -1)
            line += " text %d chars, caret %d: %r" % (t.characterCount, t.caretOffset,
                                                      body[:60] + ("..." if len(body) > 60 else ""))
        except NotImplementedError:
            pass
        lines.append(line)
    return "\n".join(lines)


def count_text_events(source_name, seconds):
    """text-changed events of the object named source_name over `seconds`."""
    counts = {"insert": 0, "delete": 0}

    def on_event(event):
        if event.source is not None and event.source.name == source_name:
            kind = event.type.minor if hasattr(event.type, "minor") else str(event.type).split(":")[-1]
            counts["insert" if "insert" in str(event.type) else "delete"] += 1

    pyatspi.Registry.registerEventListener(on_event, "object:text-changed")
    GLib.timeout_add(int(seconds * 1000), lambda: pyatspi.Registry.stop() or False)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(on_event, "object:text-changed")
    return counts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--decoder", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--trends", help="kestrel-trends, opened on what the decoder archived")
    parser.add_argument("--dump")
    parser.add_argument("--only-dump", action="store_true", help="write the tree and check nothing")
    args = parser.parse_args()
    # The programs start in a station folder of their own.
    for name in ("decoder", "sim", "trends"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))

    # The accessibility bus and its registry up before the program starts:
    # a program that comes first may not be listed.
    wait_for("no accessibility registry on the bus", lambda: pyatspi.Registry.getDesktop(0) is not None)
    station = tempfile.mkdtemp(prefix="kestrel-atspi-")
    sim = subprocess.Popen([args.sim, "--write-ini", station, "--interval", "0.25", "--seed", "9", "--quiet"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    wait_for("the simulator wrote no settings file", lambda: os.path.exists(os.path.join(station, "RS232Settings.ini")))
    decoder = subprocess.Popen([args.decoder], cwd=station, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        app = wait_for("kestrel-decoder did not show up on the accessibility bus",
                       lambda: application("kestrel-decoder"), 60)
        text_pane = wait_for("no editable text named \"TNC RX\"" if not args.only_dump else "no pane",
                             lambda: find(app, "text", "TNC RX") or (args.only_dump and find(app, "filler")))
        # Beacons received: their trailer in the text pane.
        wait_for("no beacon reached the window", lambda: os.listdir(os.path.join(station, "Telemetry", "raw_data")))
        time.sleep(1.5)
        tree = describe(app)
        print(tree, flush=True)
        if args.dump:
            with open(args.dump, "w", encoding="utf-8") as f:
                f.write(tree + "\n")
        if args.only_dump:
            return

        hex_pane = find(app, "text", "TNC RX HEX")
        if hex_pane is None:
            fail("no editable text named \"TNC RX HEX\"")
        for pane in (text_pane, hex_pane):
            states = pane.getState()
            if not (states.contains(pyatspi.STATE_EDITABLE) and states.contains(pyatspi.STATE_MULTI_LINE)):
                fail("%s is not an editable multi-line text" % pane.name)
        wait_for("the text pane's text holds no beacon's trailer",
                 lambda: " NORTHERN SKY BEACON " in text_of(text_pane))
        # The trailer's bytes as the hex pane shows them.
        wait_for("the hex pane's text holds no beacon's trailer",
                 lambda: "4E 4F 52 54 48 45 52 4E 20 53 4B 59" in text_of(hex_pane).replace("\n", " "))

        # A reader moves the caret and selects: the pane's model follows.
        t = text_pane.queryText()
        if not t.setCaretOffset(3) or t.caretOffset != 3:
            fail("the caret does not go where a reader puts it")
        if not t.setSelection(0, 0, 6) or t.getNSelections() != 1:
            fail("a reader cannot select")
        start, end = t.getSelection(0)
        if (start, end) != (0, 6):
            fail("the selection reads %d..%d, not 0..6" % (start, end))
        line, line_start, line_end = t.getTextAtOffset(0, pyatspi.TEXT_BOUNDARY_LINE_START)
        if not line or len(line.rstrip("\n")) > 39:
            fail("a displayed line reads %r" % line)
        # Typing through the reader, as an operator's note.
        editable = text_pane.queryEditableText()
        editable.insertText(0, "note ", 5)
        wait_for("text typed through the reader is not in the pane", lambda: text_of(text_pane).startswith("note "))

        # The setup dialog: each list named by its label.
        settings = find(app, "push button", "Settings")
        settings.queryAction().doAction(0)
        dialog = wait_for("Settings opened no dialog", lambda: find(app, "dialog", "Setup"))
        names = [node.name for node, _ in walk(dialog) if node.getRoleName() == "combo box"]
        print("the setup dialog's lists: %s" % names, flush=True)
        if names != ["Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"]:
            fail("the setup dialog's lists are named %s" % names)
        find(dialog, "push button", "Cancel").queryAction().doAction(0)
        wait_for("Cancel did not close the dialog", lambda: find(app, "dialog", "Setup") is None)

        # Bytes come at every beacon (four a second); the reader hears of them at
        # the trim's tick, once a second, not at every burst.
        counts = count_text_events("TNC RX", 4.2)
        print("text-changed events of \"TNC RX\" in 4.2 s: %s" % counts, flush=True)
        if counts["insert"] == 0:
            fail("the reader never heard of new bytes")
        if counts["insert"] > 5:
            fail("the reader is flooded: %d insertions in 4.2 s" % counts["insert"])
    finally:
        decoder.terminate()
        sim.terminate()
        decoder.wait(10)
        sim.wait(10)

    if args.trends:
        # The plots named with what they show: the series, beacons and times.
        trends = subprocess.Popen([args.trends, station], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            app = wait_for("kestrel-trends did not show up on the accessibility bus",
                           lambda: application("kestrel-trends"), 60)
            plots = wait_for("no object named with the plots' summary",
                             lambda: next((node for node, _ in walk(app) if node.name.startswith(
                                 "Battery voltage, currents, temperatures and magnetic field of ")), None))
            print("the plot area: %r (%s)" % (plots.name, plots.description), flush=True)
            if not plots.name.endswith(" UTC") or " beacons in " not in plots.name:
                fail("the plot area is named %r" % plots.name)
        finally:
            trends.terminate()
            trends.wait(10)
    print("== AT-SPI checks passed", flush=True)


if __name__ == "__main__":
    main()
