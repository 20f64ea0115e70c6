#include "platform/atspi/AtspiTreeWalk.h"

#include <atspi/atspi-constants.h>

#include <algorithm>

#include "platform/atspi/AtspiMapping.h"

namespace nolari::platform::AtspiTreeWalk {

namespace {

using Node = TreeView::Node;

// The showing child whose extents hold the point; a showing child without
// extents is looked into, `levels` deep, while `reads` last.
Node childHolding(TreeView& view, Node node, Point point, int levels, int& reads) {
  const int count = std::min(view.childCount(node), MAX_CHILDREN_SEARCHED);
  for (int i = 0; i < count && reads > 0; ++i) {
    --reads;
    Node child = view.child(node, i);
    if (!child) continue;
    if (!view.states(child).showing) continue;
    const auto extents = view.extents(child);
    if (extents && extents->contains(point)) return child;
    if (!extents && levels > 0) {
      if (Node inner = childHolding(view, child, point, levels - 1, reads)) return inner;
    }
  }
  return nullptr;
}

bool isField(const NodeStates& states) { return states.editable && states.focusable; }

bool standsForField(int role, const NodeStates& states) {
  if (states.editable) return true;
  switch (role) {
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
    if (!next && !view.states(node).editable) {
      int reads = MAX_DESCENT_READS;
      next = childHolding(view, node, point, MAX_EXTENTLESS_LEVELS, reads);
    }
    if (!next || next == node) break;
    node = next;
  }
  return node;
}

Node fieldAt(TreeView& view, Node landing) {
  if (!landing) return nullptr;
  const NodeStates states = view.states(landing);
  if (isField(states) || !standsForField(view.role(landing), states)) return landing;
  Node current = landing;
  for (int step = 0; step < MAX_FIELD_CLIMB; ++step) {
    current = view.parent(current);
    if (!current) break;
    if (isField(view.states(current))) return current;
  }
  return landing;
}

Node windowOf(TreeView& view, Node node) {
  Node window = nullptr;
  Node belowApplication = nullptr;
  bool reachedApplication = false;
  for (int step = 0; node && step < MAX_CHAIN_STEPS; ++step) {
    const int role = view.role(node);
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
