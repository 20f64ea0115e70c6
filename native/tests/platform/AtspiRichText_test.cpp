#include "platform/atspi/AtspiRichText.h"

#include <gtest/gtest.h>

#include <map>

namespace nolari::platform::AtspiRichText {
namespace {

// A rich editor's tree as a browser exposes it: every child object stands as
// one U+FFFC in its parent's text.
struct FakeNode {
  FakeNode() = default;
  FakeNode(std::u32string text, std::vector<int> embedded = {}, bool block = true)
      : text(std::move(text)), embedded(std::move(embedded)), block(block) {}

  std::u32string text;
  std::vector<int> embedded;
  bool block = true;
  std::optional<Span> selection;
  bool secret = false;
};

class FakeTree : public Tree {
 public:
  explicit FakeTree(std::map<int, FakeNode> nodes) : nodes_(std::move(nodes)) {}
  std::optional<std::u32string> text(int node) override {
    if (nodes_[node].secret) return std::nullopt;
    return nodes_[node].text;
  }
  int embedded(int node, int, int index) override { return nodes_[node].embedded.at(index); }
  bool isBlock(int node) override { return nodes_[node].block; }
  std::optional<Span> selection(int node) override { return nodes_[node].selection; }

  std::map<int, FakeNode> nodes_;
};

// <div>intro<p>first paragraph</p><p>second <a>bold</a> words</p>tail<input type=password></div>
FakeTree editor() {
  FakeTree tree({{0, {U"intro\uFFFC\uFFFCtail\uFFFC", {1, 2, 4}}},
                 {1, {U"first paragraph"}},
                 {2, {U"second \uFFFC words", {3}}},
                 {3, {U"bold", {}, false}},
                 {4, {U"hunter2", {}, false}}});
  tree.nodes_[4].secret = true;
  return tree;
}

TEST(AtspiRichText, BlocksGoOnLinesOfTheirOwnAndInlineObjectsStayInTheirLine) {
  FakeTree tree = editor();
  const Flattened flat = Flattened::of(tree);
  EXPECT_EQ(flat.text(), U"intro\nfirst paragraph\nsecond bold words\ntail");
  EXPECT_EQ(flat.flatOffset(2, 0), 22);
  EXPECT_EQ(flat.flatOffset(3, 2), 31);
  EXPECT_EQ(flat.flatOffset(0, 7), 40);
}

TEST(AtspiRichText, ASelectionIsFollowedIntoTheObjectsItStartsAndEndsIn) {
  FakeTree tree = editor();
  // "bold" selected: each parent's selection covers the object holding it.
  tree.nodes_[0].selection = Span{6, 7};
  tree.nodes_[2].selection = Span{7, 8};
  tree.nodes_[3].selection = Span{0, 4};
  Flattened flat = Flattened::of(tree);
  ASSERT_EQ(flat.selection(tree), (Span{29, 33}));
  EXPECT_EQ(flat.text().substr(29, 4), U"bold");

  // From the middle of the first paragraph into the second one's link.
  tree.nodes_[0].selection = Span{5, 7};
  tree.nodes_[1].selection = Span{6, 15};
  tree.nodes_[2].selection = Span{0, 8};
  tree.nodes_[3].selection = Span{0, 2};
  EXPECT_EQ(flat.selection(tree), (Span{12, 31}));
  const std::vector<TextRun> runs = flat.runsIn({12, 31});
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].node, 1);
  EXPECT_EQ(runs[0].start, 6);
  EXPECT_EQ(runs[0].end, 15);
  EXPECT_EQ(runs[1].node, 2);
  EXPECT_EQ(runs[1].flatStart, 22);
  EXPECT_EQ(runs[2].node, 3);
  EXPECT_EQ(runs[2].end, 2);

  // A caret in the second paragraph, after "sec".
  tree.nodes_[0].selection = Span{6, 6};
  tree.nodes_[2].selection = Span{3, 3};
  EXPECT_EQ(flat.selection(tree), (Span{25, 25}));
}

TEST(AtspiRichText, EmptyBlocksAndSecretsAddNothing) {
  FakeTree tree({{0, {U"\uFFFC\uFFFC\uFFFC", {1, 2, 3}}},
                 {1, {U"one"}},
                 {2, FakeNode(U"")},
                 {3, {U"two\uFFFC", {4}}},
                 {4, {U"secret", {}, false}}});
  tree.nodes_[4].secret = true;
  tree.nodes_[4].selection = Span{0, 6};
  tree.nodes_[0].selection = Span{2, 3};
  tree.nodes_[3].selection = Span{3, 4};
  const Flattened flat = Flattened::of(tree);
  EXPECT_EQ(flat.text(), U"one\ntwo");
  EXPECT_EQ(flat.selection(tree), (Span{7, 7}));
}

}  // namespace
}  // namespace nolari::platform::AtspiRichText
