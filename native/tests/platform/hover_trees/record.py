#!/usr/bin/python3
"""Records the accessibility tree around a point of a running application, as
the hover hit test meets it, into a small JSON file:

    /usr/bin/python3 record.py APP X Y [FIELD_NAME] > shape.json

APP is part of the application's name on the bus. The point is asked of the
application's showing windows that contain it, then again of each answer,
until nothing lies deeper ("hit"). Recorded: the chain from the hit to the
application, each chain member's children, and the hit's subtree three levels
down (at most 24 children each). "field" is the editable object the user sees
there: FIELD_NAME's object, or the focused editable one.
"""
import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

STATES = {
    "editable": Atspi.StateType.EDITABLE,
    "multi_line": Atspi.StateType.MULTI_LINE,
    "showing": Atspi.StateType.SHOWING,
    "focused": Atspi.StateType.FOCUSED,
    "focusable": Atspi.StateType.FOCUSABLE,
}
MAX_CHILDREN = 24


class Recorder:
    def __init__(self):
        self.nodes = {}
        self.ids = []

    def id_of(self, obj):
        for index, known in enumerate(self.ids):
            if known == obj:
                return str(index)
        self.ids.append(obj)
        return str(len(self.ids) - 1)

    def facts(self, obj):
        key = self.id_of(obj)
        if key in self.nodes:
            return key
        node = {"role": int(obj.get_role()), "role_name": obj.get_role_name(),
                "name": (obj.get_name() or "")[:60]}
        states = obj.get_state_set()
        node["states"] = [name for name, state in STATES.items() if states.contains(state)]
        extents = None
        try:
            rect = obj.get_extents(Atspi.CoordType.SCREEN)
            if rect.width > 0 and rect.height > 0:
                extents = [rect.x, rect.y, rect.width, rect.height]
        except Exception:
            extents = None
        node["extents"] = extents
        node["child_count"] = obj.get_child_count()
        self.nodes[key] = node
        return key

    def children(self, obj, depth):
        key = self.facts(obj)
        if "children" in self.nodes[key]:
            return
        listed = []
        for i in range(min(obj.get_child_count(), MAX_CHILDREN)):
            child = obj.get_child_at_index(i)
            if child:
                listed.append(self.facts(child))
                if depth > 0:
                    self.children(child, depth - 1)
        self.nodes[key]["children"] = listed


def app_named(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app and name.lower() in (app.get_name() or "").lower():
            return app
    return None


def hit(app, x, y):
    for i in range(app.get_child_count()):
        window = app.get_child_at_index(i)
        if not window or not window.get_state_set().contains(Atspi.StateType.SHOWING):
            continue
        if not window.contains(x, y, Atspi.CoordType.SCREEN):
            continue
        current = window
        for _ in range(64):
            child = current.get_accessible_at_point(x, y, Atspi.CoordType.SCREEN)
            if not child or child.get_role() == Atspi.Role.INVALID:
                break
            current = child
        return current
    return None


def find_field(obj, name, depth=0):
    states = obj.get_state_set()
    if name and obj.get_name() == name and states.contains(Atspi.StateType.EDITABLE):
        return obj
    if not name and states.contains(Atspi.StateType.FOCUSED) and states.contains(
            Atspi.StateType.EDITABLE):
        return obj
    for i in range(min(obj.get_child_count(), 500) if depth < 40 else 0):
        child = obj.get_child_at_index(i)
        found = child and find_field(child, name, depth + 1)
        if found:
            return found
    return None


def main():
    app = app_named(sys.argv[1])
    x, y = int(sys.argv[2]), int(sys.argv[3])
    name = sys.argv[4] if len(sys.argv) > 4 else None
    found = hit(app, x, y) if app else None
    if not found:
        print(json.dumps({"error": "nothing at the point"}))
        return
    recorder = Recorder()
    recorder.children(found, 3)
    chain = found
    for _ in range(64):
        parent = chain.get_parent()
        if not parent or parent.get_role() == Atspi.Role.DESKTOP_FRAME:
            break
        recorder.children(parent, 0)
        recorder.nodes[recorder.id_of(chain)]["parent"] = recorder.id_of(parent)
        chain = parent
    field = find_field(app, name)
    shape = {"application": app.get_name(), "point": [x, y], "hit": recorder.id_of(found),
             "field": recorder.facts(field) if field else None, "nodes": recorder.nodes}
    print(json.dumps(shape, indent=1))


main()
