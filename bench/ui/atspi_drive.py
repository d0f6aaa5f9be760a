#!/usr/bin/python3
"""Drives the running program through the accessibility bus, as a user of a
screen reader would, and times two steps: "Unformatted file" on a log up to
the "Analysis Statistics" window, and "Kill dupes" on the rows it gave, up to
its message.

With --listen it also behaves as a screen reader does: it registers for the
events a screen reader registers for and, for each event, reads the name, role
and states of the object it came from; with --read-windows as well, each
window that comes up makes it read all of the program's windows, every object
they list as a child (a reviewing client), and so does the end of each step. Without --listen it only presses
buttons and looks for windows, so the accessibility bridge has no listener.
Events are handled between the driver's own looks, so a step's time includes
what the client does meanwhile, as it would for its user.

Prints one line of key=value pairs.
"""

import argparse
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# What a screen reader listens to (the events Orca registers for, less the
# document and mouse ones a desktop program does not send).
SCREEN_READER_EVENTS = [
    "object:children-changed",
    "object:state-changed",
    "object:property-change",
    "object:text-changed",
    "object:text-caret-moved",
    "object:text-selection-changed",
    "object:selection-changed",
    "object:active-descendant-changed",
    "object:value-changed",
    "object:row-inserted",
    "object:row-deleted",
    "object:model-changed",
    "object:visible-data-changed",
    "window:activate",
    "window:deactivate",
    "window:create",
    "window:destroy",
    "focus:",
]


def read_tree(accessible, depth=0):
    """Reads an object and everything below it, as a client that reads a whole
    window aloud does; returns how many objects it read."""
    if accessible is None or depth > 30:
        return 0
    try:
        accessible.get_name()
        accessible.get_role()
        count = 1
        for i in range(accessible.get_child_count()):
            count += read_tree(accessible.get_child_at_index(i), depth + 1)
        return count
    except GLib.Error:
        return 0


class Listener:
    def __init__(self, read_windows):
        self.events = 0
        self.objects_read = 0
        self.read_windows = read_windows
        self.listener = Atspi.EventListener.new(self.on_event)

    def on_event(self, event):
        self.events += 1
        source = event.source
        if source is None:
            return
        try:
            source.get_name()
            source.get_role()
            source.get_state_set()
            if self.read_windows and event.type.startswith(("window:create", "window:activate")):
                # A window came up: read every window of the program, as a
                # reviewing client does, the main window's grid included.
                self.objects_read += read_tree(source.get_application())
        except GLib.Error:
            pass  # the object went away meanwhile, as cells of a reset table do

    def register(self):
        for name in SCREEN_READER_EVENTS:
            self.listener.register(name)


def pump(seconds):
    """Lets queued accessibility events reach the listener for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if not context.iteration(False):
            time.sleep(0.005)


def find_application(pid, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except GLib.Error:
                pass
        pump(0.2)
    sys.exit("the program did not appear on the accessibility bus")


def find(root, role, name, depth=0):
    """Depth-first search; tables are not walked (they may hold a million rows)."""
    if root is None or depth > 12:
        return None
    try:
        if root.get_role() == role and root.get_name() == name:
            return root
        if root.get_role() == Atspi.Role.TABLE:
            return None
        for i in range(root.get_child_count()):
            found = find(root.get_child_at_index(i), role, name, depth + 1)
            if found is not None:
                return found
    except GLib.Error:
        return None
    return None


def top_windows(app):
    windows = []
    for i in range(app.get_child_count()):
        child = app.get_child_at_index(i)
        if child is not None:
            windows.append(child)
    return windows


def wait_for(predicate, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        found = predicate()
        if found is not None:
            return found
        pump(0.05)
    sys.exit("timed out waiting for " + what)


def press(button):
    action = button.get_action_iface()
    for i in range(action.get_n_actions()):
        if action.get_action_name(i) in ("Press", "press", "click"):
            action.do_action(i)
            return
    action.do_action(0)


def window_with_text(app, text):
    """The top-level window that shows `text` somewhere (a message box)."""
    for window in top_windows(app):
        if find(window, Atspi.Role.LABEL, text) is not None:
            return window
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--file", required=True)
    parser.add_argument("--listen", action="store_true")
    parser.add_argument("--read-windows", action="store_true",
                        help="with --listen: read every window that becomes active, tables included")
    parser.add_argument("--timeout", type=float, default=3600)
    parser.add_argument("--skip-dupes", action="store_true")
    args = parser.parse_args()

    Atspi.init()
    listener = Listener(args.read_windows)
    if args.listen:
        listener.register()

    app = find_application(args.pid, 60)
    main_window = wait_for(
        lambda: next((w for w in top_windows(app) if w.get_name() == "Find country by IP"), None), 60,
        "the main window")
    text2 = find(main_window, Atspi.Role.TEXT, "Text2")
    if text2 is None:
        sys.exit("no Text2 in the main window")
    text2.get_editable_text_iface().set_text_contents(args.file)
    unformatted = find(main_window, Atspi.Role.PUSH_BUTTON, "Unformatted file")
    kill_dupes = find(main_window, Atspi.Role.PUSH_BUTTON, "Kill dupes")
    pump(0.5)

    events_before = listener.events
    start = time.monotonic()
    press(unformatted)
    stats = wait_for(
        lambda: next((w for w in top_windows(app) if w.get_name() == "Analysis Statistics"), None),
        args.timeout, "the statistics window")
    if args.read_windows:
        listener.objects_read += read_tree(app)
    analysis = time.monotonic() - start
    analysis_events = listener.events - events_before
    result = {"analysis_s": "%.2f" % analysis, "analysis_events": analysis_events}

    # The statistics window closes on Escape, as a dialog does; a click on it
    # first makes sure the key goes there.
    pump(0.5)
    extents = stats.get_extents(Atspi.CoordType.SCREEN)
    Atspi.generate_mouse_event(extents.x + extents.width // 2, extents.y + 5, "b1c")
    pump(0.3)
    Atspi.generate_keyboard_event(0xFF1B, None, Atspi.KeySynthType.SYM)
    wait_for(lambda: None if any(w.get_name() == "Analysis Statistics" for w in top_windows(app)) else True,
             60, "the statistics window to close")
    pump(0.5)

    if not args.skip_dupes:
        events_before = listener.events
        start = time.monotonic()
        press(kill_dupes)
        box = wait_for(lambda: window_with_text(app, "Dupes killed!"), args.timeout, "\"Dupes killed!\"")
        if args.read_windows:
            listener.objects_read += read_tree(app)
        result["kill_dupes_s"] = "%.2f" % (time.monotonic() - start)
        result["kill_dupes_events"] = listener.events - events_before
        ok = find(box, Atspi.Role.PUSH_BUTTON, "OK")
        if ok is not None:
            press(ok)
        pump(0.5)

    # What the grid shows afterwards must still be readable.
    table = find(main_window, Atspi.Role.TABLE, "MSHFlexGrid1")
    if table is not None:
        iface = table.get_table_iface()
        result["grid_rows"] = iface.get_n_rows()
        cell = iface.get_accessible_at(1, 0) if iface.get_n_rows() > 1 else None
        result["row1_ip"] = cell.get_name() if cell is not None else ""
    result["objects_read"] = listener.objects_read
    print(" ".join("%s=%s" % item for item in result.items()), flush=True)


if __name__ == "__main__":
    main()
