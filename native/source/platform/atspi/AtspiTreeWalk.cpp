#include "platform/atspi/AtspiTreeWalk.h"

#include <atspi/atspi-constants.h>

#include <algorithm>

#include "platform/atspi/AtspiMapping.h"

namespace nolari::platform::AtspiTreeWalk {

namespace {

using Node = TreeView::Node;

bool holds(const NodeFacts& facts, Point point) {
  return facts.extents && facts.extents->contains(point);
}

// The showing child whose extents hold the point; a showing child without
// extents is looked into, MAX_EXTENTLESS_LEVELS deep.
Node childHolding(TreeView& view, Node node, Point point, int levels) {
  const int count = std::min(view.childCount(node), MAX_CHILDREN_SEARCHED);
  for (int i = 0; i < count; ++i) {
    Node child = view.child(node, i);
    if (!child) continue;
    const NodeFacts facts = view.facts(child);
    if (!facts.showing) continue;
    if (holds(facts, point)) return child;
    if (!facts.extents && levels > 0) {
      if (Node inner = childHolding(view, child, point, levels - 1)) return inner;
    }
  }
  return nullptr;
}

bool isField(const NodeFacts& facts) { return facts.editable && facts.focusable; }

bool standsForField(const NodeFacts& facts) {
  if (facts.editable) return true;
  switch (facts.role) {
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_VIEWPORT:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_LABEL:
      return true;
    default:
      return false;
  }
}

}  // namespace

Node deepestAt(TreeView& view, Node start, Point point) {
  Node node = start;
  for (int depth = 0; node && depth < MAX_HIT_DEPTH; ++depth) {
    Node next = view.childAtPoint(node, point);
    if (!next && !view.facts(node).editable) {
      next = childHolding(view, node, point, MAX_EXTENTLESS_LEVELS);
    }
    if (!next || next == node) break;
    node = next;
  }
  return node;
}

Node fieldAt(TreeView& view, Node landing) {
  if (!landing) return nullptr;
  const NodeFacts facts = view.facts(landing);
  if (isField(facts) || !standsForField(facts)) return landing;
  Node current = landing;
  for (int step = 0; step < MAX_FIELD_CLIMB; ++step) {
    current = view.parent(current);
    if (!current) break;
    if (isField(view.facts(current))) return current;
  }
  return landing;
}

Node windowOf(TreeView& view, Node node) {
  Node window = nullptr;
  Node belowApplication = nullptr;
  bool reachedApplication = false;
  for (int step = 0; node && step < MAX_CHAIN_STEPS; ++step) {
    const int role = view.facts(node).role;
    if (role == ATSPI_ROLE_APPLICATION) {
      reachedApplication = true;
      break;
    }
    if (AtspiMapping::isWindowRole(role)) window = node;
    belowApplication = node;
    node = view.parent(node);
  }
  if (window) return window;
  return reachedApplication ? belowApplication : nullptr;
}

}  // namespace nolari::platform::AtspiTreeWalk
