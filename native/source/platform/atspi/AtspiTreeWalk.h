#pragma once

#include <optional>

#include "platform/Geometry.h"

// The walks the backend makes through another application's tree to find
// what the user sees at a point and which window holds it. Toolkits differ:
// a notebook's page tab has no extents, so the bus's hit test stops above the
// page; an editor's viewport, or a web editor's text run, answers instead of
// the editable field around it; an office suite's window has no parent. The
// rules here work on a view of the tree, so recorded trees test them without
// a bus. Every walk is bounded in depth and in children read per element.

namespace nolari::platform::AtspiTreeWalk {

// The states the walks judge by.
struct NodeStates {
  bool editable = false;
  bool focusable = false;
  bool showing = false;
};

// A tree as the walks see it; each read may be a request to the application,
// so the walks read only what they judge by. Nodes are opaque and stay valid
// as long as the view; nullptr stands for no node.
class TreeView {
 public:
  using Node = const void*;
  virtual ~TreeView() = default;
  virtual int role(Node node) = 0;  // AtspiRole
  virtual NodeStates states(Node node) = 0;
  // In top-left screen coordinates; absent where the object has none (or
  // none of positive size).
  virtual std::optional<Rect> extents(Node node) = 0;
  // nullptr above the application, and where the toolkit gives no parent.
  virtual Node parent(Node node) = 0;
  virtual int childCount(Node node) = 0;
  virtual Node child(Node node, int index) = 0;
  // The toolkit's own answer for the child under a point, or nullptr.
  virtual Node childAtPoint(Node node, Point point) = 0;
};

constexpr int MAX_HIT_DEPTH = 64;
constexpr int MAX_CHILDREN_SEARCHED = 80;
// Levels of children without extents looked through, as a notebook's tab.
constexpr int MAX_EXTENTLESS_LEVELS = 2;
// Children read in all where the toolkit's answer stops.
constexpr int MAX_DESCENT_READS = 160;
// Steps from a text run, viewport or filler up to the field it belongs to.
constexpr int MAX_FIELD_CLIMB = 5;
constexpr int MAX_CHAIN_STEPS = 64;

// The deepest object at the point below `start`: the toolkit's answer while
// it has one, else the showing child whose extents hold the point, looking
// through showing children without extents. An editable object is not
// descended below: its parts are the field's.
TreeView::Node deepestAt(TreeView& view, TreeView::Node start, Point point);

// The field the user sees where the walk landed: a filler, viewport or text
// run, or an editable part of a field (a paragraph of a web editor), stands
// for the nearest editable, focusable ancestor within MAX_FIELD_CLIMB steps.
// Anything else, or with no such ancestor, stands for itself.
TreeView::Node fieldAt(TreeView& view, TreeView::Node landing);

// The window holding a node: the outermost frame, dialog or window on its
// chain of parents, whether or not the chain reaches the application (some
// toolkits' windows have no parent; some call inner panels frames). Without
// one, the chain member just below the application; else nullptr.
TreeView::Node windowOf(TreeView& view, TreeView::Node node);

}  // namespace nolari::platform::AtspiTreeWalk
