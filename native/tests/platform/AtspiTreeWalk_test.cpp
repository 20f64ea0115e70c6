#include "platform/atspi/AtspiTreeWalk.h"

#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// The walks on trees recorded from real applications (hover_trees/record.py)
// with the pointer over their text fields. "hit" is where the bus's own hit
// test stopped; "field" the editable object the user sees there.

namespace nolari::platform {
namespace {

using json = nlohmann::json;
using AtspiTreeWalk::TreeView;

struct RecordedNode {
  int role = 0;
  AtspiTreeWalk::NodeStates states;
  std::optional<Rect> extents;
  std::string name;
  std::string parent;
  std::vector<std::string> children;
};

class RecordedTree : public TreeView {
 public:
  explicit RecordedTree(const std::string& file) {
    std::ifstream in(std::string(NOLARI_TESTS_DIR) + "/platform/hover_trees/" + file);
    const json shape = json::parse(in);
    point_ = {shape["point"][0], shape["point"][1]};
    hit_ = shape["hit"];
    field_ = shape["field"].is_string() ? shape["field"].get<std::string>() : "";
    for (const auto& [id, recorded] : shape["nodes"].items()) {
      RecordedNode& node = nodes_[id];
      node.role = recorded["role"];
      node.name = recorded["name"];
      for (const auto& state : recorded["states"]) {
        node.states.editable |= state == "editable";
        node.states.focusable |= state == "focusable";
        node.states.showing |= state == "showing";
      }
      if (const auto& e = recorded["extents"]; e.is_array()) {
        node.extents = Rect{{e[0], e[1]}, {e[2], e[3]}};
      }
      node.parent = recorded.value("parent", "");
      node.children = recorded.value("children", std::vector<std::string>{});
    }
    // A child listed under a node has that node for its parent.
    for (auto& [id, node] : nodes_) {
      for (const auto& child : node.children) {
        if (nodes_[child].parent.empty()) nodes_[child].parent = id;
      }
    }
  }

  Node at(const std::string& id) const { return id.empty() ? nullptr : &nodes_.at(id); }
  Node hit() const { return at(hit_); }
  Node field() const { return at(field_); }
  Point point() const { return point_; }
  const RecordedNode& node(Node n) const { return *static_cast<const RecordedNode*>(n); }

  int role(Node n) override { return node(n).role; }
  AtspiTreeWalk::NodeStates states(Node n) override { return node(n).states; }
  std::optional<Rect> extents(Node n) override { return node(n).extents; }
  Node parent(Node n) override { return at(node(n).parent); }
  int childCount(Node n) override { return static_cast<int>(node(n).children.size()); }
  Node child(Node n, int index) override { return at(node(n).children.at(index)); }
  // The bus gave nothing below the recorded hit.
  Node childAtPoint(Node, Point) override { return nullptr; }

 private:
  std::map<std::string, RecordedNode> nodes_;
  std::string hit_;
  std::string field_;
  Point point_;
};

TreeView::Node resolve(RecordedTree& tree) {
  return AtspiTreeWalk::fieldAt(tree, AtspiTreeWalk::deepestAt(tree, tree.hit(), tree.point()));
}

TEST(AtspiTreeWalk, TheFieldUnderThePointerInEachApplication) {
  for (const char* file :
       {"mousepad.json", "featherpad.json", "chromium_editor_text.json",
        "chromium_editor_empty.json", "chromium_textarea.json", "writer_paragraph.json"}) {
    SCOPED_TRACE(file);
    RecordedTree tree(file);
    ASSERT_NE(tree.field(), nullptr);
    EXPECT_EQ(resolve(tree), tree.field());
  }
}

TEST(AtspiTreeWalk, DescendsThroughAPageTabWithoutExtents) {
  RecordedTree tree("mousepad.json");
  EXPECT_EQ(tree.role(tree.hit()), ATSPI_ROLE_PAGE_TAB_LIST);
  TreeView::Node found = AtspiTreeWalk::deepestAt(tree, tree.hit(), tree.point());
  EXPECT_EQ(found, tree.field());
  // Outside every page there is nothing deeper to find.
  EXPECT_EQ(AtspiTreeWalk::deepestAt(tree, tree.hit(), {5, 5}), tree.hit());
}

TEST(AtspiTreeWalk, ClimbsFromViewportsAndTextRunsToTheirField) {
  RecordedTree qt("featherpad.json");
  EXPECT_EQ(qt.role(qt.hit()), ATSPI_ROLE_FILLER);
  EXPECT_EQ(AtspiTreeWalk::fieldAt(qt, qt.hit()), qt.field());

  // A text run, and the paragraph holding it, stand for the editing host.
  RecordedTree web("chromium_editor_text.json");
  TreeView::Node run = web.hit();
  EXPECT_EQ(web.role(run), ATSPI_ROLE_STATIC);
  EXPECT_EQ(AtspiTreeWalk::fieldAt(web, run), web.field());
  EXPECT_EQ(AtspiTreeWalk::fieldAt(web, web.parent(run)), web.field());
  // Above the host the page is no field: it stands for itself.
  TreeView::Node page = web.parent(web.field());
  EXPECT_EQ(AtspiTreeWalk::fieldAt(web, page), page);
}

TEST(AtspiTreeWalk, AnEditableDocumentWithoutAFocusableFieldAboveStaysItself) {
  // Below the last paragraph the office suite answers with the document.
  RecordedTree tree("writer_page.json");
  EXPECT_EQ(tree.role(tree.hit()), ATSPI_ROLE_DOCUMENT_TEXT);
  EXPECT_EQ(resolve(tree), tree.hit());
}

TEST(AtspiTreeWalk, TheWindowIsTheOutermostFrameOnTheChain) {
  // The office suite's frame has no parent.
  RecordedTree writer("writer_paragraph.json");
  TreeView::Node window = AtspiTreeWalk::windowOf(writer, writer.hit());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(writer.node(window).name, "writer.txt - LibreOffice Writer");

  // Qt calls inner panels frames too; the window is the one below the application.
  RecordedTree qt("featherpad.json");
  window = AtspiTreeWalk::windowOf(qt, qt.field());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(qt.node(window).name, "/tmp/hv/note.txt");
  EXPECT_EQ(qt.role(qt.parent(window)), ATSPI_ROLE_APPLICATION);

  for (const char* file : {"mousepad.json", "chromium_textarea.json"}) {
    SCOPED_TRACE(file);
    RecordedTree tree(file);
    window = AtspiTreeWalk::windowOf(tree, tree.hit());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(tree.role(window), ATSPI_ROLE_FRAME);
  }
}

// A tree built in the test: a window at level 1, a field at level 2, then
// fillers down to a text run, deeper than every bound; each node's children
// but the last stand for nothing.
class DeepTree : public TreeView {
 public:
  DeepTree(int depth, int width, bool answers) : depth_(depth), width_(width), answers_(answers) {}
  static int level(Node n) { return static_cast<int>(reinterpret_cast<std::intptr_t>(n)); }
  static Node nodeAt(int level) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): these nodes are numbers, never dereferenced.
    return reinterpret_cast<Node>(static_cast<std::intptr_t>(level));
  }

  int role(Node n) override {
    const int at = level(n);
    return at == 1        ? ATSPI_ROLE_FRAME
           : at == 2      ? ATSPI_ROLE_TEXT
           : at == depth_ ? ATSPI_ROLE_STATIC
                          : ATSPI_ROLE_FILLER;
  }
  AtspiTreeWalk::NodeStates states(Node n) override {
    return {.editable = level(n) == 2, .focusable = level(n) == 2, .showing = true};
  }
  std::optional<Rect> extents(Node n) override {
    if (level(n) != depth_) return std::nullopt;
    return Rect{{0, 0}, {10, 10}};
  }
  Node parent(Node n) override { return level(n) > 1 ? nodeAt(level(n) - 1) : nullptr; }
  int childCount(Node n) override { return level(n) < depth_ ? width_ : 0; }
  Node child(Node n, int index) override {
    ++reads;
    return index == width_ - 1 ? nodeAt(level(n) + 1) : nullptr;
  }
  Node childAtPoint(Node n, Point) override {
    return answers_ && level(n) < depth_ ? nodeAt(level(n) + 1) : nullptr;
  }
  int reads = 0;

 private:
  int depth_;
  int width_;
  bool answers_;
};

TEST(AtspiTreeWalk, EveryWalkIsBounded) {
  DeepTree deep(1000, 1, true);
  EXPECT_EQ(DeepTree::level(AtspiTreeWalk::deepestAt(deep, DeepTree::nodeAt(3), {1, 1})),
            3 + AtspiTreeWalk::MAX_HIT_DEPTH);
  EXPECT_EQ(AtspiTreeWalk::fieldAt(deep, DeepTree::nodeAt(2 + AtspiTreeWalk::MAX_FIELD_CLIMB)),
            DeepTree::nodeAt(2));
  EXPECT_EQ(AtspiTreeWalk::fieldAt(deep, DeepTree::nodeAt(1000)), DeepTree::nodeAt(1000));
  EXPECT_EQ(AtspiTreeWalk::windowOf(deep, DeepTree::nodeAt(AtspiTreeWalk::MAX_CHAIN_STEPS)),
            DeepTree::nodeAt(1));
  EXPECT_EQ(AtspiTreeWalk::windowOf(deep, DeepTree::nodeAt(1000)), nullptr);

  // Where the toolkit gives no answer, the child holding the point comes
  // after the children searched.
  DeepTree wide(5, AtspiTreeWalk::MAX_CHILDREN_SEARCHED + 1, false);
  EXPECT_EQ(AtspiTreeWalk::deepestAt(wide, DeepTree::nodeAt(3), {1, 1}), DeepTree::nodeAt(3));
  EXPECT_EQ(wide.reads, AtspiTreeWalk::MAX_CHILDREN_SEARCHED);
}

// Children without extents, each with as many again: the search stops after
// its reads.
class ExtentlessTree : public TreeView {
 public:
  static constexpr std::intptr_t WIDTH = 50;
  int role(Node) override { return ATSPI_ROLE_FILLER; }
  AtspiTreeWalk::NodeStates states(Node) override { return {.showing = true}; }
  std::optional<Rect> extents(Node) override { return std::nullopt; }
  Node parent(Node) override { return nullptr; }
  int childCount(Node) override { return WIDTH; }
  Node child(Node n, int index) override {
    ++reads;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): these nodes are numbers, never dereferenced.
    return reinterpret_cast<Node>(reinterpret_cast<std::intptr_t>(n) * WIDTH + index + 1);
  }
  Node childAtPoint(Node, Point) override { return nullptr; }
  int reads = 0;
};

TEST(AtspiTreeWalk, TheSearchThroughChildrenWithoutExtentsIsBounded) {
  ExtentlessTree tree;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): these nodes are numbers, never dereferenced.
  const auto root = reinterpret_cast<TreeView::Node>(std::intptr_t{1});
  EXPECT_EQ(AtspiTreeWalk::deepestAt(tree, root, {1, 1}), root);
  EXPECT_EQ(tree.reads, AtspiTreeWalk::MAX_DESCENT_READS);
}

}  // namespace
}  // namespace nolari::platform
