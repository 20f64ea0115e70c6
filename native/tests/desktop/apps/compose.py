#!/usr/bin/python3
"""A small mail-compose window for the desktop tests.

To and Subject entries with labels, a multi-line body in a frame, a Send
button and a status label. Every change to a field, and every field
gaining focus, is printed on standard output as one JSON line, so a test can
see what the application shows.
"""
import json
import sys
import time

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

GLib.set_prgname("nolari-mail")
GLib.set_application_name("Nolari Mail")
Gdk.set_program_class("Nolari Mail")


def report(field, text):
    print(json.dumps({"field": field, "text": text, "time": time.time()}), flush=True)


def main():
    window = Gtk.Window(title="New Message")
    window.set_default_size(640, 480)
    window.connect("destroy", Gtk.main_quit)

    grid = Gtk.Grid(row_spacing=6, column_spacing=8, margin=12)
    window.add(grid)

    fields = {}
    for row, (name, label_text, initial) in enumerate(
        [("to", "To:", "ann@example.com"), ("subject", "Subject:", "Lunch on Friday")]
    ):
        label = Gtk.Label(label=label_text, xalign=1)
        entry = Gtk.Entry(text=initial, hexpand=True)
        label.set_mnemonic_widget(entry)
        entry.connect("changed", lambda e, n=name: report(n, e.get_text()))
        entry.connect("focus-in-event", lambda e, ev, n=name: report("focus", n))
        grid.attach(label, 0, row, 1, 1)
        grid.attach(entry, 1, row, 1, 1)
        fields[name] = entry

    frame = Gtk.Frame(label="Message")
    scrolled = Gtk.ScrolledWindow(hexpand=True, vexpand=True)
    body = Gtk.TextView(wrap_mode=Gtk.WrapMode.WORD)
    body.get_buffer().set_text("Hello Ann,\nare you free for lunch on Friday?")
    body.get_buffer().connect(
        "changed", lambda b: report("body", b.get_text(b.get_start_iter(), b.get_end_iter(), True))
    )
    body.connect("focus-in-event", lambda e, ev: report("focus", "body"))
    scrolled.add(body)
    fields["body"] = body
    frame.add(scrolled)
    grid.attach(frame, 0, 2, 2, 1)

    status = Gtk.Label(label="Draft saved", xalign=0)
    send = Gtk.Button(label="Send")
    send.connect("clicked", lambda b: status.set_text("Sending…"))
    grid.attach(status, 0, 3, 1, 1)
    grid.attach(send, 1, 3, 1, 1)

    window.show_all()
    fields[sys.argv[1] if len(sys.argv) > 1 else "to"].grab_focus()
    report("ready", window.get_title())
    Gtk.main()


if __name__ == "__main__":
    main()
