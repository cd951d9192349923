#!/usr/bin/python3
"""Drives zorflash-gtk as a screen reader user would: through the accessibility bus.

    gtk_drive.py CASE SHOT COMMAND...

Run inside its own session bus (dbus-run-session). Starts an X server (Xvfb) of its own and
COMMAND on it (zorflash-gtk, maybe under emulated-sensor-run), finds the window's buttons by
their accessible names, presses them and reads the labels by theirs. Prints what it saw, one
"field: text" line each (every status line in order, the versions, refusals), and last
"exit: N" with COMMAND's exit status. SHOT: where to save a picture of the screen in the
middle of an update ("-": none). ZORFLASH_TEST_CAPTION: the window's title.

Before anything else it waits for the window's verdict and prints what a screen reader
reads of the window: the headline, each version with its caption, and the main action.

CASE: look     the verdict alone, then Close
      tap-at-once  Close while the window still looks for the sensor
      update   tap the main action (Update), try to close while the sensor is written, wait
               for the end, Close
      retry    the same; when it ends with Retry, tap Retry and wait again
      family   tap "Choose Sensor Model…", pick model 0 in the question (whose write is
               refused until a model is picked), write, wait for the end, Close
      signals  tap Update; SIGHUP, SIGINT and SIGTERM while the sensor is written; the
               update ends, and the run with it, without Close

ZORFLASH_TEST_SCREEN: the screen's size ("800x600" unless given). ZORFLASH_TEST_TIME_SCALE_MARK_FD
is passed on to COMMAND.

The window's names (its fields' descriptions, its buttons, its title) are looked up in the
language the environment asks for (LANGUAGE, LANG), through the window's translations in
ZORFLASH_LOCALE_DIR and GTK's own for the title bar's buttons, so that the same cases run in
any language. Fields are printed by their English names, the texts as the window shows them.
"""
import ctypes
import gettext
import os
import signal
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

# The window's texts in the language it runs in; the title bar's, in GTK's.
_ = gettext.translation("zorflash", localedir=os.environ.get("ZORFLASH_LOCALE_DIR"),
                        fallback=True).gettext
gtk_ = gettext.translation("gtk40", fallback=True).gettext

APP = "zorflash-gtk"
# The status lines of an update under way: the sensor is being written or checked.
UNDER_WAY = ("Connecting", "Now Updating", "Erasing....", "Program....", "Verify....")
# The window's title, with the build's version: gtk_window_test.cpp passes it in.
TITLE = _(os.environ["ZORFLASH_TEST_CAPTION"]).encode()
FIELDS = ["Headline", "Current version", "New version", "Stage", "Status", "Refused"]
# A field's English name by the description the window gives it.
FIELD_OF = {_(field): field for field in FIELDS}
LOOKING = _("Looking for the pen sensor…")
# The window's own Close is not its main action either.
TITLE_BUTTONS = tuple(gtk_(name) for name in ("Close", "Minimize", "Maximize", "Restore", "Main Menu")) + \
    (_("Close"), "")
# GTK lays a window out right to left where its own translation says so.
RIGHT_TO_LEFT = gtk_("default:LTR") == "default:RTL"


def start_x():
    read, write = os.pipe()
    screen = os.environ.get("ZORFLASH_TEST_SCREEN", "800x600") + "x24"
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", screen,
                               "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            sys.exit("gtk_drive: Xvfb did not start")
        number += chunk
    os.close(read)
    return server, ":" + number.decode().strip()


def find_app(deadline):
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == APP:
                return app
        time.sleep(0.1)
    return None


def walk(node, found):
    try:  # the program may end meanwhile
        role, name, description = node.getRoleName(), node.name, node.description
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return
    # The window's own buttons come after the title bar's (a "Close" among them).
    if role == "push button":
        found[(role, name)] = node
        # A dialog's response button is named by its label twice over in GTK 4.8.
        half = name[:len(name) // 2]
        if name == f"{half} {half}"[:len(name)] and len(name) % 2 == 1:
            found[(role, half)] = node
    found.setdefault((role, name), node)
    if role == "label" and name == "GtkLabel" and showing(node):
        found.setdefault(("unnamed label", describe_path(node)), node)
    # A field's label is named by its text and described by what it is.
    if role == "label" and description:
        found.setdefault(("field", FIELD_OF.get(description, description)), node)
    for child in children:
        if child is not None:
            walk(child, found)


def describe_path(node):
    names = []
    while node is not None and len(names) < 6:
        try:
            names.append(f"{node.getRoleName()}:{node.name}")
            node = node.parent
        except Exception:
            break
    return " < ".join(names)


def controls(app):
    found = {}
    walk(app, found)
    return found


def text_of(node):
    """A label's text; its accessible name may add the caption that labels it, and GTK 4.8
    names an empty label by its class."""
    try:
        text = node.queryText()
        return text.getText(0, text.characterCount)
    except Exception:
        pass
    try:
        return "" if node.name == "GtkLabel" else node.name
    except Exception:
        return None


def button(app, name):
    """The button named `name`, in English or as the window shows it."""
    return controls(app).get(("push button", _(name)))


def enabled(node):
    return node.getState().contains(pyatspi.STATE_SENSITIVE)


def showing(node):
    # GTK 4.8 reports no widget as showing under Xvfb; visible is set as GTK has it.
    return node.getState().contains(pyatspi.STATE_VISIBLE)


class Watcher:
    """Tells each field's texts in the order they came: from the name-change events, as a
    screen reader hears them (a status line may last less than one look at the window), and
    from a look at the window each time."""

    def __init__(self, app):
        self.app = app
        self.last = {}
        self.heard = []
        pyatspi.Registry.registerEventListener(self.hear, "object:property-change:accessible-name")

    def hear(self, event):
        try:
            field, text = FIELD_OF.get(event.source.description), text_of(event.source)
        except Exception:
            return
        if field in FIELDS:
            self.heard.append((field, "" if text == "GtkLabel" else text))

    def poll(self):
        context = GLib.MainContext.default()
        while context.iteration(False):
            pass
        for field, text in self.heard:
            if text and self.last.get(field) != text:
                print(f"{field}: {text.rstrip()}", flush=True)
            self.last[field] = text
        self.heard = []
        found = controls(self.app)
        for field in FIELDS:
            node = found.get(("field", field))
            text = text_of(node) if node is not None and showing(node) else None
            if text and self.last.get(field) != text:
                print(f"{field}: {text.rstrip()}", flush=True)
            if text is not None:
                self.last[field] = text
        return found

    def wait(self, condition, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            found = self.poll()
            if condition(found):
                return True
            time.sleep(0.05)
        return False


def close_window(display):
    """The title bar's close as a window manager sends it: WM_DELETE_WINDOW."""
    x = ctypes.cdll.LoadLibrary("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XInternAtom.restype = ctypes.c_ulong
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                             ctypes.POINTER(ctypes.c_ulong),
                             ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                             ctypes.POINTER(ctypes.c_uint)]
    x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                             ctypes.c_void_p]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x.XOpenDisplay(display.encode())
    root, parent = ctypes.c_ulong(), ctypes.c_ulong()
    children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    x.XQueryTree(dpy, x.XDefaultRootWindow(dpy), ctypes.byref(root), ctypes.byref(parent),
                 ctypes.byref(children), ctypes.byref(count))
    protocols = x.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    delete = x.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
    sent = False
    for i in range(count.value):
        name = ctypes.c_char_p()
        if x.XFetchName(dpy, children[i], ctypes.byref(name)) and name.value == TITLE:
            # XClientMessageEvent: type, serial, send_event, display, window, message_type,
            # format, data (five longs).
            event = (ctypes.c_long * 24)()
            event[0] = 33  # ClientMessage
            event[3] = dpy
            event[4] = children[i]
            event[5] = protocols
            event[6] = 32
            event[7] = delete
            event[8] = 0  # CurrentTime
            x.XSendEvent(dpy, children[i], 0, 0, event)
            sent = True
    x.XFlush(dpy)
    x.XCloseDisplay(dpy)
    return sent


def status(found):
    node = found.get(("field", "Status"))
    return text_of(node) if node is not None else ""


def headline(found):
    node = found.get(("field", "Headline"))
    return text_of(node) if node is not None else ""


def action_button(found):
    """The window's main action: the shown push button that is not Close."""
    for (role, name), node in found.items():
        if role == "push button" and name not in TITLE_BUTTONS and showing(node):
            try:
                if node.parent is not None and node.parent.getRoleName() != "dialog":
                    return node
            except Exception:
                pass
    return None


def reads(found):
    """What a screen reader reads of the window: the headline, each value with the caption
    that labels it, and the main action."""
    print(f"reader: heading {headline(found)}", flush=True)
    for field in ("Current version", "New version"):
        node = found.get(("field", field))
        if node is None or not showing(node):
            continue
        captions = [target.name for relation in node.getRelationSet()
                    if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
                    for target in (relation.getTarget(i) for i in range(relation.getNTargets()))]
        print(f"reader: {node.name} (labelled by {', '.join(captions)})", flush=True)
    action = action_button(found)
    print(f"reader: button {action.name if action is not None else 'none'}", flush=True)
    # A label without text is read by its class name: nothing of the window may be.
    for role, path in found:
        if role == "unnamed label":
            print(f"reader: unnamed label {path}", flush=True)


def captions_lead(found):
    """Whether each shown version's caption comes before its value in the reading direction:
    left of it, or right of it in a right-to-left language."""
    pairs = 0
    for field in ("Current version", "New version"):
        node = found.get(("field", field))
        if node is None or not showing(node):
            continue
        for relation in node.getRelationSet():
            if relation.getRelationType() != pyatspi.RELATION_LABELLED_BY:
                continue
            value = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            caption = relation.getTarget(0).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            before = caption.x + caption.width <= value.x
            after = value.x + value.width <= caption.x
            if not (after if RIGHT_TO_LEFT else before):
                return False
            pairs += 1
    return pairs > 0


def fits(app):
    """Whether the window fits the screen's width, in the screen's logical pixels."""
    width, scale = os.environ.get("ZORFLASH_TEST_SCREEN", "800x600").split("x")[0], \
        int(os.environ.get("GDK_SCALE", "1"))
    for (role, name), node in controls(app).items():
        if role == "frame":
            extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            print(f"driver: window {extents.width} px wide on {int(width) // scale}", flush=True)
            return extents.width <= int(width) // scale
    return False


def press(app, watcher, name):
    """Presses a button and waits for the status line to move on from what it said."""
    before = status(watcher.poll())
    print(f"driver: pressing {name}", flush=True)
    button(app, name).queryAction().doAction(0)
    watcher.wait(lambda f: status(f) != before, 5)


def ended(found):
    close = found.get(("push button", _("Close")))
    return close is not None and enabled(close) and not status(found).startswith(UNDER_WAY)


def follow_update(watcher, display, shot):
    """Until the update ends. While the flash is erased or programmed (a loaded machine may
    see only the second): a close; while it is programmed: a picture."""
    closed = pictured = False

    def step(found):
        nonlocal closed, pictured
        if status(found).startswith(("Erasing....", "Program....")) and not closed:
            closed = True
            print(f"driver: close sent {close_window(display)}", flush=True)
        if status(found).startswith("Program") and not pictured:
            pictured = True
            picture(display, shot)
        return ended(found)

    return watcher.wait(step, 180)


def picture(display, shot):
    if shot != "-":
        subprocess.run(["import", "-display", display, "-window", "root", shot])


def signal_while_written(watcher, program):
    """Update, then SIGHUP while the flash is erased, SIGINT and SIGTERM while it is
    programmed: each is the window's close, refused; the update ends, and so does the run."""
    sent = []

    def step(found):
        # A loaded machine may see the erase go by unseen: the hang-up comes at the first
        # status of the write it sees. The status is read once a step: read again for each
        # signal, it could turn to the write between two of them and send them out of order.
        now = status(found)
        for stages, number in ((("Erasing....", "Program...."), signal.SIGHUP),
                               (("Program....",), signal.SIGINT), (("Program....",), signal.SIGTERM)):
            if now.startswith(stages) and number not in sent:
                sent.append(number)
                program.send_signal(number)
                print(f"driver: {number.name} sent", flush=True)
        # The run ends with the update: the window may be gone before its last status.
        return now.startswith("Update complete") or program.poll() is not None

    return watcher.wait(step, 180)


def choose_model(app, watcher, display, shot):
    """The model question: Write Firmware is refused until a model is picked."""
    found = watcher.poll()
    write_firmware = ("push button", _("Write Firmware"))
    write = found.get(write_firmware)
    if write is None:
        watcher.wait(lambda f: write_firmware in f, 5)
        write = watcher.poll().get(write_firmware)
    if write is None:
        print("driver: no model question among "
              f"{sorted(k for k in controls(app) if k[0] != 'field')}", flush=True)
        return
    print(f"driver: Write Firmware enabled before a pick: {enabled(write)}", flush=True)
    model = next((node for (role, name), node in controls(app).items()
                  if role in ("toggle button", "push button") and name.startswith(_("Model 0 (USB product 0090)"))), None)
    if model is None:
        print(f"driver: no model 0 among {sorted(k for k in controls(app) if 'Model' in k[1])}",
              flush=True)
        return
    print("driver: picking Model 0 (USB product 0090)", flush=True)
    model.queryAction().doAction(0)
    if not watcher.wait(lambda f: enabled(f[write_firmware]), 5):
        print("driver: Write Firmware stays disabled after the pick", flush=True)
    picture(display, shot)
    press(app, watcher, "Write Firmware")
    follow_update(watcher, display, "-")


def tap_at_once(app, watcher):
    """Close as soon as the window is on the bus, while it still looks for the sensor."""
    found = {}
    watcher.wait(lambda f: found.update(f) or ("push button", _("Close")) in f, 10)
    print(f"driver: headline when tapped: {headline(found)}", flush=True)
    press(app, watcher, "Close")


def run_case(case, shot, app, display, watcher, program):
    if case == "tap-at-once":
        tap_at_once(app, watcher)
        return
    # The first look runs off the window's loop: the window is there at once, the verdict
    # follows.
    if not watcher.wait(lambda f: headline(f) not in ("", LOOKING), 20):
        print("driver: the verdict never showed", flush=True)
        return
    found = watcher.poll()
    reads(found)
    if case == "look":
        print(f"driver: window fits {fits(app)}", flush=True)
        print(f"driver: captions lead {captions_lead(found)}"
              f"{' (right to left)' if RIGHT_TO_LEFT else ''}", flush=True)
        picture(display, shot)
    action = action_button(found)
    if case in ("update", "retry", "signals") and action is not None:
        press(app, watcher, action.name)
        if case == "signals":
            signal_while_written(watcher, program)
            return
        follow_update(watcher, display, shot if case == "update" else "-")
    if case == "retry":
        found = watcher.poll()
        reads(found)
        if action_button(found) is not None:
            press(app, watcher, action_button(found).name)
            follow_update(watcher, display, "-")
    if case == "family" and action is not None:
        press(app, watcher, action.name)
        choose_model(app, watcher, display, shot)
    watcher.wait(lambda f: False, 0.5)
    reads(watcher.poll())
    press(app, watcher, "Close")


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    case, shot, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    server, display = start_x()
    environment = dict(os.environ, DISPLAY=display, GDK_BACKEND="x11", GTK_A11Y="atspi")
    environment.pop("WAYLAND_DISPLAY", None)
    mark = os.environ.get("ZORFLASH_TEST_TIME_SCALE_MARK_FD")
    program = subprocess.Popen(command, env=environment, pass_fds=[int(mark)] if mark else [])
    os.environ["DISPLAY"] = display
    status_code = None
    try:
        app = find_app(time.monotonic() + 20)
        if app is None:
            print("driver: the window never reached the accessibility bus", flush=True)
        else:
            run_case(case, shot, app, display, Watcher(app), program)
        try:
            status_code = program.wait(timeout=30)
        except subprocess.TimeoutExpired:
            program.kill()
            status_code = program.wait()
    finally:
        if program.poll() is None:
            program.kill()
        server.terminate()
        server.wait()
    print(f"exit: {status_code}", flush=True)


if __name__ == "__main__":
    main()
