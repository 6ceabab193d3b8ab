#!/usr/bin/python3
"""Gives a headless GNOME session a keyboard, as a user's session has one.

mutter's headless seat has no keyboard until a remote-desktop session makes
a virtual one, and until then no window is active; this holds such a session
open until it is stopped, printing "ready" once the keyboard exists."""
import signal
import sys

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
path = bus.call_sync("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                     "org.gnome.Mutter.RemoteDesktop", "CreateSession", None,
                     GLib.VariantType("(o)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, "org.gnome.Mutter.RemoteDesktop.Session",
              "Start", None, None, Gio.DBusCallFlags.NONE, 5000, None)
# The keyboard appears on the seat with its first key: a harmless one.
for down in (True, False):
    bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, "org.gnome.Mutter.RemoteDesktop.Session",
                  "NotifyKeyboardKeysym", GLib.Variant("(ub)", (0xFFE1, down)), None,
                  Gio.DBusCallFlags.NONE, 5000, None)
print("ready", flush=True)
loop = GLib.MainLoop()
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
loop.run()
sys.exit(0)
