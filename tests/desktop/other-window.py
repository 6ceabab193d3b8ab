#!/usr/bin/python3
"""A window that is not a browser, put in front of one: what the user was
typing into when they ran a command from elsewhere. It writes its field's
text to FILE on every change, so a test can prove nothing arrived there, and
prints "ready" once it is the active window. Given TEXT, it also copies
TEXT to the clipboard once active (what the user copied from elsewhere), and
keeps it offered until it is stopped.

    other-window.py FILE [TEXT]"""
import signal
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

record = sys.argv[1]
window = Gtk.Window(title="Scratch notes")
entry = Gtk.Entry()
window.add(entry)


def save(*_):
    with open(record, "w", encoding="utf-8") as f:
        f.write(entry.get_text())


def announce(*_):
    if window.is_active():
        if len(sys.argv) > 2:
            Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).set_text(sys.argv[2], -1)
        print("ready", flush=True)


save()
entry.connect("changed", save)
window.connect("notify::is-active", announce)
window.connect("destroy", Gtk.main_quit)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, Gtk.main_quit)
window.show_all()
entry.grab_focus()
Gtk.main()
