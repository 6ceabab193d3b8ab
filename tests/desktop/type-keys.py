#!/usr/bin/python3
"""Types as a person at the keyboard would, into whatever has the focus in
a headless GNOME session: each argument is either text (typed a character
at a time, about 60 ms apart) or a key name in angle brackets (<Return>,
<Escape>, <Tab>, <Control+v>). It goes through mutter's remote-desktop keyboard, the
same seat the user's keys come from, so the compositor decides where they
land.

    type-keys.py 'click send' '<Return>'"""
import sys
import time

from gi.repository import Gio, GLib

NAMED = {"Return": 0xFF0D, "Escape": 0xFF1B, "Tab": 0xFF09, "BackSpace": 0xFF08}

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
service = "org.gnome.Mutter.RemoteDesktop"
path = bus.call_sync(service, "/org/gnome/Mutter/RemoteDesktop", service, "CreateSession", None,
                     GLib.VariantType("(o)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
session = service + ".Session"
bus.call_sync(service, path, session, "Start", None, None, Gio.DBusCallFlags.NONE, 5000, None)


def key(keysym, down):
    bus.call_sync(service, path, session, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym, down)),
                  None, Gio.DBusCallFlags.NONE, 5000, None)


def tap(keysym):
    key(keysym, True)
    key(keysym, False)
    time.sleep(0.06)


for part in sys.argv[1:]:
    if part.startswith("<") and part.endswith(">"):
        name = part[1:-1]
        if name.startswith("Control+"):
            key(0xFFE3, True)
            tap(ord(name[len("Control+"):]))
            key(0xFFE3, False)
        else:
            tap(NAMED[name])
        continue
    for ch in part:
        if ch.isupper():
            key(0xFFE1, True)
            tap(ord(ch))
            key(0xFFE1, False)
        else:
            tap(ord(ch) if ord(ch) < 0x100 else 0x01000000 + ord(ch))
bus.call_sync(service, path, session, "Stop", None, None, Gio.DBusCallFlags.NONE, 5000, None)
