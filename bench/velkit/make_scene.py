#!/usr/bin/env python3
"""Writes a large simulated desktop scene for Velkit: one window with tens of
thousands of elements, wide near the top and deep along one branch, with the
focused text area far down that branch.

usage: make_scene.py <app|browser|browser-sidebar> <out.json>

"app" is a mail-like application whose header fields sit among the groups;
"browser" puts the same content inside a web area below a toolbar;
"browser-sidebar" puts a wide sidebar before the page, so the depth-first
search for the web area goes through the sidebar first, to its depth limit.
"""
import json
import sys

WIDE = [100, 20, 6, 3]  # children per element at levels 1 to 4
DEEP = 12               # length of the branch that leads to the focused field

counter = 0


def next_id(prefix):
    global counter
    counter += 1
    return f"{prefix}{counter}"


def content(level):
    """A subtree whose breadth follows WIDE, with a few texts among the groups."""
    if level > len(WIDE):
        return []
    children = []
    for i in range(WIDE[level - 1]):
        if i % 7 == 3:
            children.append({"AXRole": "AXStaticText", "AXValue": "x" if i % 2 else f"Note {counter}"})
            next_id("t")
            continue
        node = {"AXRole": "AXGroup", "children": content(level + 1)}
        next_id("g")
        children.append(node)
    return children


def deep_branch():
    field = {
        "id": "body",
        "AXRole": "AXTextArea",
        "AXDescription": "Message body",
        "AXValue": "Dear team,\n\n" + "the numbers are in. " * 40,
        "AXSelectedText": "the numbers are in.",
        "frame": [300, 500, 700, 300],
        "settable": ["AXValue"],
    }
    node = field
    for depth in range(DEEP, 0, -1):
        role = "AXGroup" if depth % 3 else "AXSplitGroup"
        node = {"AXRole": role, "AXDescription": f"Pane {depth}" if depth % 4 == 0 else None,
                "children": [node]}
        if node["AXDescription"] is None:
            del node["AXDescription"]
    return node


def headers():
    return [
        {"AXRole": "AXTextField", "AXTitle": label, "AXValue": value, "settable": ["AXValue"]}
        for label, value in [("To:", "team@example.com"), ("Cc:", "lead@example.com"),
                             ("Subject:", "Quarter numbers")]
    ]


def scene(kind):
    body = headers() + content(1) + [deep_branch()]
    if kind == "browser-sidebar":
        web_area = {"AXRole": "AXWebArea", "AXTitle": "Quarter numbers",
                    "AXURL": {"url": "https://numbers.example.org/q3"},
                    "children": headers() + [deep_branch()]}
        children = [{"AXRole": "AXGroup", "AXDescription": "Sidebar", "children": content(1)},
                    {"AXRole": "AXGroup", "children": [web_area]}]
        name, bundle = "Meridian Browser", "com.example.meridian"
    elif kind == "browser":
        toolbar = {"AXRole": "AXToolbar", "children": [
            {"AXRole": "AXButton", "AXTitle": f"Tool {i}"} for i in range(30)]}
        web_area = {"AXRole": "AXWebArea", "AXTitle": "Quarter numbers",
                    "AXURL": {"url": "https://numbers.example.org/q3"}, "children": body}
        children = [toolbar, {"AXRole": "AXGroup", "children": [
            {"AXRole": "AXScrollArea", "children": [web_area]}]}]
        name, bundle = "Meridian Browser", "com.example.meridian"
    else:
        children = body
        name, bundle = "Post", "com.example.post"
    window = {"id": "main_window", "AXRole": "AXWindow", "AXTitle": "Quarter numbers",
              "AXDocument": "file:///tmp/q3.eml", "frame": [100, 50, 1200, 800],
              "children": children}
    return {
        "screens": [{"frame": [0, 0, 1512, 982]}],
        "frontmost": 4242,
        "applications": [{"pid": 4242, "name": name, "bundle_id": bundle, "focused": "body",
                          "windows": [window]}],
    }


def count(node):
    return 1 + sum(count(c) for c in node.get("children", []))


if __name__ == "__main__":
    kind, out = sys.argv[1], sys.argv[2]
    s = scene(kind)
    with open(out, "w") as f:
        json.dump(s, f)
    print(f"{kind}: {count(s['applications'][0]['windows'][0])} elements in the window", file=sys.stderr)
