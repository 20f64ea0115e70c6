#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The text of a rich editor as its reader sees it. Browsers expose a
// contenteditable area as a tree: each child object (a paragraph, a link)
// stands as one U+FFFC character in its parent's text. Flattening puts every
// child's own text in its place, recursively and bounded, with a line break
// around block-level children as the page's own rendering of its text would,
// and maps offsets both ways so that selections and bounds stay consistent
// with the flattened text.

typedef struct _AtspiAccessible AtspiAccessible;

namespace nolari::platform::AtspiRichText {

inline constexpr char32_t EMBEDDED = U'\uFFFC';

// Character offsets, `end` excluded.
struct Span {
  int start = 0;
  int end = 0;
  friend bool operator==(const Span&, const Span&) = default;
};

// What flattening asks of a tree of text objects. Nodes are numbers the tree
// hands out; the root is 0.
class Tree {
 public:
  virtual ~Tree() = default;
  // The node's own characters, EMBEDDED standing for each child object;
  // nothing when the node gives no text (none at all, or a secret).
  virtual std::optional<std::u32string> text(int node) = 0;
  // The object standing at `offset` of the node's text, the `index`-th such
  // character there; -1 when none is found.
  virtual int embedded(int node, int offset, int index) = 0;
  // Whether the node is laid out as a block of its own.
  virtual bool isBlock(int node) = 0;
  // The selection in the node's own text, or its caret as an empty span;
  // nothing when it has neither.
  virtual std::optional<Span> selection(int node) = 0;
};

// A stretch of one node's own characters and where it lies in the flattened text.
struct TextRun {
  int node = 0;
  int start = 0;
  int end = 0;
  int flatStart = 0;
};

class Flattened {
 public:
  static constexpr int MAX_DEPTH = 24;
  static constexpr int MAX_NODES = 2000;
  static constexpr int MAX_CHARS = 1 << 20;

  static Flattened of(Tree& tree);

  const std::u32string& text() const { return text_; }
  // Where a position in a node's own text lies in the flattened text.
  int flatOffset(int node, int offset) const;
  // The selection, or the caret as an empty span, followed down into the
  // embedded objects it starts and ends in.
  std::optional<Span> selection(Tree& tree) const;
  // The node characters a flattened span covers, each run cut to the span;
  // line breaks put between blocks belong to no node.
  std::vector<TextRun> runsIn(Span span) const;

 private:
  struct Embedding {
    int node = 0;
    int offset = 0;
    int child = -1;
    int flatStart = 0;
    int flatEnd = 0;
  };
  struct Builder;

  const Embedding* embeddingAt(int node, int offset) const;
  // A selection's start or end in a node, followed down while it falls on an
  // embedded object.
  int resolve(Tree& tree, int node, int offset, bool atEnd) const;

  std::u32string text_;
  std::vector<TextRun> runs_;
  std::vector<Embedding> embeddings_;
};

// The bus's text objects under one root, read as flattening asks. Session
// thread only; holds its own references.
class BusTree final : public Tree {
 public:
  explicit BusTree(AtspiAccessible* root);
  ~BusTree() override;
  BusTree(const BusTree&) = delete;
  BusTree& operator=(const BusTree&) = delete;

  std::optional<std::u32string> text(int node) override;
  int embedded(int node, int offset, int index) override;
  bool isBlock(int node) override;
  std::optional<Span> selection(int node) override;

  AtspiAccessible* object(int node) const;

 private:
  int add(AtspiAccessible* object);
  std::vector<AtspiAccessible*> nodes_;
};

// Whether a secret's characters stand in the object's text: a password field,
// which shows neither its value nor its selection nor its length.
bool isSecret(AtspiAccessible* object);

std::u32string fromUtf8(const std::string& text);
std::string toUtf8(const std::u32string& text);

}  // namespace nolari::platform::AtspiRichText
