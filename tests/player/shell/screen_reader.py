#!/usr/bin/python3
"""Reads the player through AT-SPI as a screen reader does, and presses keys
through the X server as a keyboard does.

    screen_reader.py unnamed          every focusable object without a name or
                                      role, one a line, then "checked N"
    screen_reader.py show NAME        role, name and description of the first
                                      object of that name ("" when none)
    screen_reader.py cells            the names of the play list's cells
    screen_reader.py focused          role and name of what has the focus, and
                                      of the active window
    screen_reader.py key KEY [ctrl]   the pointer into the main window, then
                                      the key (an X keysym name: Prior, Up)
    screen_reader.py press NAME       the first action of the object so named
    screen_reader.py start            the pointer into the main window, as a
                                      desktop gives a started program the focus
    screen_reader.py keys KEY...      key events only, in order: a keysym name
                                      with "ctrl+", "shift+" or "alt+" before it
                                      when held, or "text:" and what to type
    screen_reader.py values SECONDS NAME  how many value changes the object
                                      so named sent in SECONDS
    screen_reader.py heard SECONDS KEY...   the keys (as keys), then every
                                      notification shown for SECONDS, one a line
    screen_reader.py lastfocus SECONDS KEY...   the keys, then role and name
                                      of the last object that took the focus
"""
import ctypes
import sys
import time

import pyatspi
from gi.repository import GLib

APP = "zarnplayer"


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == APP:
            return app
    return None


def walk(obj):
    yield obj
    for i in range(obj.childCount):
        child = obj.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find(name):
    app = application()
    if app is None:
        return None
    for obj in walk(app):
        if obj.name == name:
            return obj
    return None


def unnamed():
    app = application()
    if app is None:
        print("no application named " + APP)
        return
    checked = 0
    for obj in walk(app):
        states = obj.getState()
        if not states.contains(pyatspi.STATE_FOCUSABLE) or not states.contains(
                pyatspi.STATE_SHOWING):
            continue
        checked += 1
        role = obj.getRole()
        if not obj.name.strip() or role in (pyatspi.ROLE_UNKNOWN, pyatspi.ROLE_INVALID):
            print("%s %r in %r" % (obj.getRoleName(), obj.name, obj.parent.name))
    print("checked %d" % checked)


def show(name):
    obj = find(name)
    if obj is None:
        print("")
        return
    print("%s|%s|%s" % (obj.getRoleName(), obj.name, obj.description))


def cells():
    app = application()
    for obj in walk(app) if app else []:
        if obj.getRole() == pyatspi.ROLE_TABLE_CELL:
            print(obj.name)


def focused():
    app = application()
    for obj in walk(app) if app else []:
        states = obj.getState()
        if states.contains(pyatspi.STATE_FOCUSED) or (
                states.contains(pyatspi.STATE_ACTIVE) and obj.getRole() in (
                    pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW, pyatspi.ROLE_DIALOG)):
            print("%s %r" % (obj.getRoleName(), obj.name))


class Keyboard:
    """Keys and the pointer through the XTEST extension: the server takes them
    for a real keyboard's."""

    def __init__(self):
        self.x = ctypes.CDLL("libX11.so.6")
        self.t = ctypes.CDLL("libXtst.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XKeycodeToKeysym.restype = ctypes.c_ulong
        self.x.XKeycodeToKeysym.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 4
        self.x.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 7
        self.x.XFree.argtypes = [ctypes.c_void_p]
        self.x.XRaiseWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                          ctypes.c_ulong]
        self.d = self.x.XOpenDisplay(None)
        if not self.d:
            sys.exit("no X display")

    def point_into(self, frame):
        """Raises the window, gives it the keyboard's focus and the pointer, as
        a window manager would on a click (there is none here). The X window
        is the top-level one with the frame's place and size."""
        e = frame.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        x = self.x
        root = x.XDefaultRootWindow(self.d)
        ret_root, ret_parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        x.XQueryTree(self.d, root, ctypes.byref(ret_root), ctypes.byref(ret_parent),
                     ctypes.byref(children), ctypes.byref(count))
        target = 0
        for i in range(count.value):
            gx, gy = ctypes.c_int(), ctypes.c_int()
            w, h, border, depth = (ctypes.c_uint() for _ in range(4))
            x.XGetGeometry(self.d, children[i], ctypes.byref(ret_root), ctypes.byref(gx),
                           ctypes.byref(gy), ctypes.byref(w), ctypes.byref(h),
                           ctypes.byref(border), ctypes.byref(depth))
            if (gx.value, gy.value, w.value, h.value) == (e.x, e.y, e.width, e.height):
                target = children[i]
        if children:
            x.XFree(children)
        if target:
            x.XRaiseWindow(self.d, target)
            revert_to_parent = 2
            x.XSetInputFocus(self.d, target, revert_to_parent, 0)
        self.t.XTestFakeMotionEvent(self.d, -1, e.x + e.width // 2, e.y + e.height // 2, 0)
        x.XSync(self.d, 0)

    def code(self, name):
        return self.x.XKeysymToKeycode(self.d, self.x.XStringToKeysym(name.encode()))

    def press(self, name, ctrl=False):
        self.chord([self.code("Control_L")] if ctrl else [], self.code(name))

    def chord(self, held, code):
        for c in held + [code]:
            self.t.XTestFakeKeyEvent(self.d, c, 1, 0)
        for c in reversed(held + [code]):
            self.t.XTestFakeKeyEvent(self.d, c, 0, 0)
        self.x.XSync(self.d, 0)

    def combination(self, spec):
        """"ctrl+shift+Up": the modifiers held around the key."""
        *mods, name = spec.split("+") if spec != "+" else ["plus"]
        held = [self.code({"ctrl": "Control_L", "shift": "Shift_L", "alt": "Alt_L"}[m])
                for m in mods]
        self.chord(held, self.code(name))

    def type(self, text):
        """Latin-1 characters, with Shift where the keyboard needs it."""
        for ch in text:
            keysym = ord(ch)
            code = self.x.XKeysymToKeycode(self.d, keysym)
            if not code:
                sys.exit("no key types %r" % ch)
            shifted = self.x.XKeycodeToKeysym(self.d, code, 0) != keysym
            self.chord([self.code("Shift_L")] if shifted else [], code)
            time.sleep(0.02)


def frame_of(obj):
    """The top-level window that holds obj."""
    while obj is not None and obj.parent is not None and (
            obj.parent.getRole() != pyatspi.ROLE_APPLICATION):
        obj = obj.parent
    return obj


def key(name, ctrl, target):
    """The key into the window of the object named target (the main window
    when none)."""
    app = application()
    frame = frame_of(find(target)) if target else app.getChildAtIndex(0)
    keyboard = Keyboard()
    keyboard.point_into(frame)
    time.sleep(0.3)
    keyboard.press(name, ctrl)


def keys(specs):
    keyboard = Keyboard()
    for spec in specs:
        if spec.startswith("text:"):
            keyboard.type(spec[5:])
        else:
            keyboard.combination(spec)
        time.sleep(0.3)


def press(name):
    obj = find(name)
    if obj is None:
        sys.exit("nothing named " + name)
    obj.queryAction().doAction(0)


def listen(kind, seconds, specs, on_event):
    """The keys, then the events of that kind for SECONDS."""
    pyatspi.Registry.registerEventListener(on_event, kind)
    GLib.timeout_add(300, lambda: keys(specs) and False)
    GLib.timeout_add(int(float(seconds) * 1000), lambda: pyatspi.Registry.stop() and False)
    pyatspi.Registry.start()


def heard(seconds, specs):
    """What a screen reader speaks without a change of focus: a notification
    that comes into view."""
    names = []

    def on_event(event):
        source = event.source
        if (event.detail1 and source is not None and source.name
                and source.getRole() == pyatspi.ROLE_NOTIFICATION):
            names.append(source.name)

    listen("object:state-changed:showing", seconds, specs, on_event)
    for n in names:
        print(n)


def last_focus(seconds, specs):
    """Where a screen reader rests after the keys: the last object that
    reported it took the focus."""
    last = []

    def on_event(event):
        if event.detail1 and event.source is not None:
            last[:] = ["%s %r" % (event.source.getRoleName(), event.source.name)]

    listen("object:state-changed:focused", seconds, specs, on_event)
    print("".join(last))


def values(seconds, name):
    """How many value changes the object so named sent in SECONDS: each one a
    screen reader speaks while the object has the focus."""
    changes = []

    def on_event(event):
        if event.source is not None and event.source.name == name:
            changes.append(event)

    pyatspi.Registry.registerEventListener(on_event, "object:property-change:accessible-value")
    GLib.timeout_add(int(float(seconds) * 1000), lambda: pyatspi.Registry.stop() and False)
    pyatspi.Registry.start()
    print(len(changes))


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "unnamed":
        unnamed()
    elif command == "show":
        show(argv[2])
    elif command == "cells":
        cells()
    elif command == "focused":
        focused()
    elif command == "key":
        key(argv[2], len(argv) > 3 and argv[3] == "ctrl", argv[4] if len(argv) > 4 else None)
    elif command == "start":
        Keyboard().point_into(application().getChildAtIndex(0))
    elif command == "keys":
        keys(argv[2:])
    elif command == "press":
        press(argv[2])
    elif command == "values":
        values(argv[2], argv[3])
    elif command == "heard":
        heard(argv[2], argv[3:])
    elif command == "lastfocus":
        last_focus(argv[2], argv[3:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
