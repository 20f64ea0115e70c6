#!/usr/bin/python3
"""Reads a field of a running application through the accessibility bus,
independently of the programs under test, and prints it as one JSON line:
{"text": ..., "caret": ..., "extents": [x, y, w, h]} (top-left screen
coordinates). The field is the object named NAME (a web page's
aria-label) in the application whose name contains APP, or with NAME "-" the
first editable text that has the keyboard focus. With --focus the field is
given the keyboard focus first.
"""
import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

TEXT_ROLES = {"entry", "text", "password text", "section", "paragraph", "document text"}


def matches(obj, name):
    states = obj.get_state_set()
    if name == "-":
        return states.contains(Atspi.StateType.FOCUSED) and states.contains(
            Atspi.StateType.EDITABLE
        )
    return obj.get_name() == name and obj.get_role_name() in TEXT_ROLES


def find(obj, name, depth=0):
    try:
        if matches(obj, name):
            return obj
        count = obj.get_child_count()
    except Exception:
        return None
    for i in range(min(count, 500) if depth < 40 else 0):
        child = obj.get_child_at_index(i)
        found = child and find(child, name, depth + 1)
        if found:
            return found
    return None


def main():
    app_name, name = sys.argv[1], sys.argv[2]
    desktop = Atspi.get_desktop(0)
    field = None
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app and app_name.lower() in (app.get_name() or "").lower():
            field = find(app, name)
            if field:
                break
    if not field:
        print(json.dumps({"error": "no field"}))
        return
    if "--focus" in sys.argv:
        Atspi.Component.grab_focus(field)
        # The toolkit moves the focus a moment later; what runs next expects it moved.
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and not field.get_state_set().contains(
            Atspi.StateType.FOCUSED
        ):
            time.sleep(0.05)
    count = Atspi.Text.get_character_count(field)
    # Gecko fills the second UTF-16 place of an emoji with U+FEFF; no user sees it.
    text = Atspi.Text.get_text(field, 0, count).replace("\ufeff", "")
    box = field.get_extents(Atspi.CoordType.SCREEN)
    print(json.dumps({"text": text, "caret": Atspi.Text.get_caret_offset(field),
                      "extents": [box.x, box.y, box.width, box.height]}))


main()
