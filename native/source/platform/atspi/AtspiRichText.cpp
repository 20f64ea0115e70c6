#include "platform/atspi/AtspiRichText.h"

#include <atspi/atspi.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/atspi/AtspiRef.h"

namespace nolari::platform::AtspiRichText {

// --- Flattening --------------------------------------------------------------

struct Flattened::Builder {
  Tree& tree;
  Flattened& out;
  int nodes = 1;
  // A block ended or is about to start: the next characters go on a new line.
  bool lineBreak = false;

  bool full() const { return static_cast<int>(out.text_.size()) >= MAX_CHARS; }

  void put(int node, const std::u32string& text, int start, int end) {
    if (start >= end || full()) return;
    if (lineBreak && !out.text_.empty() && out.text_.back() != U'\n') out.text_ += U'\n';
    lineBreak = false;
    end = std::min(end, start + (MAX_CHARS - static_cast<int>(out.text_.size())));
    out.runs_.push_back({node, start, end, static_cast<int>(out.text_.size())});
    out.text_.append(text, start, end - start);
  }

  void add(int node, int depth) {
    std::optional<std::u32string> text = tree.text(node);
    if (!text) return;
    const int length = static_cast<int>(text->size());
    int runStart = 0;
    int index = 0;
    for (int offset = 0; offset < length && !full(); ++offset) {
      if ((*text)[offset] != EMBEDDED) continue;
      put(node, *text, runStart, offset);
      runStart = offset + 1;
      const int child =
          depth < MAX_DEPTH && nodes < MAX_NODES ? tree.embedded(node, offset, index) : -1;
      ++index;
      Embedding embedding{node, offset, child, static_cast<int>(out.text_.size()), 0};
      if (child >= 0) {
        ++nodes;
        const bool block = tree.isBlock(child);
        lineBreak = lineBreak || block;
        const std::size_t runsBefore = out.runs_.size();
        add(child, depth + 1);
        // The child's text starts with its first run, past a line break put before it.
        embedding.flatStart = out.runs_.size() > runsBefore ? out.runs_[runsBefore].flatStart
                                                            : static_cast<int>(out.text_.size());
        lineBreak = lineBreak || block;
      }
      embedding.flatEnd = static_cast<int>(out.text_.size());
      out.embeddings_.push_back(embedding);
    }
    put(node, *text, runStart, length);
  }
};

Flattened Flattened::of(Tree& tree) {
  Flattened flat;
  Builder builder{tree, flat};
  builder.add(0, 0);
  return flat;
}

int Flattened::flatOffset(int node, int offset) const {
  for (const TextRun& run : runs_) {
    if (run.node == node && offset >= run.start && offset <= run.end) {
      return run.flatStart + (offset - run.start);
    }
  }
  if (const Embedding* embedding = embeddingAt(node, offset)) return embedding->flatStart;
  // Past the characters read: the end of what was read of the node before it.
  int nearest = 0;
  for (const TextRun& run : runs_) {
    if (run.node == node && run.end <= offset) {
      nearest = std::max(nearest, run.flatStart + (run.end - run.start));
    }
  }
  for (const Embedding& embedding : embeddings_) {
    if (embedding.node == node && embedding.offset < offset) {
      nearest = std::max(nearest, embedding.flatEnd);
    }
  }
  return nearest;
}

const Flattened::Embedding* Flattened::embeddingAt(int node, int offset) const {
  for (const Embedding& embedding : embeddings_) {
    if (embedding.node == node && embedding.offset == offset) return &embedding;
  }
  return nullptr;
}

int Flattened::resolve(Tree& tree, int node, int offset, bool atEnd) const {
  for (int depth = 0; depth <= MAX_DEPTH; ++depth) {
    // A start lies on the object at its offset; an end just after the object
    // before it.
    const Embedding* embedding = embeddingAt(node, atEnd ? offset - 1 : offset);
    if (!embedding) break;
    // An object that gave no text (a secret, one not followed) is passed whole.
    if (embedding->child < 0 || embedding->flatStart == embedding->flatEnd) {
      return atEnd ? embedding->flatEnd : embedding->flatStart;
    }
    std::optional<Span> inner = tree.selection(embedding->child);
    if (!inner) return atEnd ? embedding->flatEnd : embedding->flatStart;
    node = embedding->child;
    offset = atEnd ? inner->end : inner->start;
  }
  return flatOffset(node, offset);
}

std::optional<Span> Flattened::selection(Tree& tree) const {
  std::optional<Span> own = tree.selection(0);
  if (!own) return std::nullopt;
  const int start = resolve(tree, 0, own->start, false);
  if (own->end <= own->start) return Span{start, start};
  return Span{start, std::max(start, resolve(tree, 0, own->end, true))};
}

std::vector<TextRun> Flattened::runsIn(Span span) const {
  std::vector<TextRun> covered;
  for (const TextRun& run : runs_) {
    const int flatEnd = run.flatStart + (run.end - run.start);
    const int from = std::max(span.start, run.flatStart);
    const int to = std::min(span.end, flatEnd);
    if (from >= to) continue;
    covered.push_back(
        {run.node, run.start + (from - run.flatStart), run.start + (to - run.flatStart), from});
  }
  return covered;
}

// --- The bus's objects -------------------------------------------------------

namespace {

template <class T>
using Ref = AtspiRef<T>;
using Free = AtspiFree;

// Roles that flow within a line of text when a page gives no layout of its own.
constexpr std::array INLINE_ROLES = {
    ATSPI_ROLE_LINK,
    ATSPI_ROLE_STATIC,
    ATSPI_ROLE_IMAGE,
    ATSPI_ROLE_ICON,
    ATSPI_ROLE_LABEL,
    ATSPI_ROLE_TEXT,
    ATSPI_ROLE_ENTRY,
    ATSPI_ROLE_PUSH_BUTTON,
    ATSPI_ROLE_CHECK_BOX,
    ATSPI_ROLE_RADIO_BUTTON,
    ATSPI_ROLE_COMBO_BOX,
    ATSPI_ROLE_MARK,
    ATSPI_ROLE_SUBSCRIPT,
    ATSPI_ROLE_SUPERSCRIPT,
    ATSPI_ROLE_CONTENT_DELETION,
    ATSPI_ROLE_CONTENT_INSERTION,
    ATSPI_ROLE_PASSWORD_TEXT,
    ATSPI_ROLE_MATH,
};

}  // namespace

BusTree::BusTree(AtspiAccessible* root) { add(root); }

BusTree::~BusTree() {
  for (AtspiAccessible* node : nodes_) g_object_unref(node);
}

int BusTree::add(AtspiAccessible* object) {
  nodes_.push_back(static_cast<AtspiAccessible*>(g_object_ref(object)));
  return static_cast<int>(nodes_.size()) - 1;
}

AtspiAccessible* BusTree::object(int node) const { return nodes_.at(node); }

std::optional<std::u32string> BusTree::text(int node) {
  AtspiAccessible* object = nodes_.at(node);
  if (node > 0 && isSecret(object)) return std::nullopt;
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));
  if (!text) return std::nullopt;
  GError* error = nullptr;
  const gint count = atspi_text_get_character_count(text.get(), &error);
  if (error) {
    g_clear_error(&error);
    return std::nullopt;
  }
  std::unique_ptr<gchar, Free> contents(
      atspi_text_get_text(text.get(), 0, std::min(count, Flattened::MAX_CHARS), &error));
  if (error) {
    g_clear_error(&error);
    return std::nullopt;
  }
  return fromUtf8(contents ? contents.get() : "");
}

int BusTree::embedded(int node, int offset, int index) {
  AtspiAccessible* parent = nodes_.at(node);
  GError* error = nullptr;
  // The hypertext interface names the object behind each character; a
  // toolkit without it lists its embedded objects as its children, in order.
  if (Ref<AtspiHypertext> hypertext{atspi_accessible_get_hypertext_iface(parent)}) {
    const gint link = atspi_hypertext_get_link_index(hypertext.get(), offset, &error);
    if (!error && link >= 0) {
      Ref<AtspiHyperlink> hyperlink(atspi_hypertext_get_link(hypertext.get(), link, &error));
      if (!error && hyperlink) {
        Ref<AtspiAccessible> child(atspi_hyperlink_get_object(hyperlink.get(), 0, &error));
        g_clear_error(&error);
        if (child) return add(child.get());
      }
    }
    g_clear_error(&error);
  }
  Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(parent, index, &error));
  g_clear_error(&error);
  return child ? add(child.get()) : -1;
}

bool BusTree::isBlock(int node) {
  AtspiAccessible* object = nodes_.at(node);
  GError* error = nullptr;
  // Browsers tell how the page lays the object out.
  if (GHashTable* attributes = atspi_accessible_get_attributes(object, &error)) {
    const auto* display = static_cast<const gchar*>(g_hash_table_lookup(attributes, "display"));
    const std::optional<bool> block =
        display && *display ? std::optional<bool>(!std::string_view(display).starts_with("inline"))
                            : std::nullopt;
    g_hash_table_unref(attributes);
    if (block) return *block;
  }
  g_clear_error(&error);
  const AtspiRole role = atspi_accessible_get_role(object, &error);
  g_clear_error(&error);
  return std::find(INLINE_ROLES.begin(), INLINE_ROLES.end(), role) == INLINE_ROLES.end();
}

std::optional<Span> BusTree::selection(int node) {
  Ref<AtspiText> text(atspi_accessible_get_text_iface(nodes_.at(node)));
  if (!text) return std::nullopt;
  GError* error = nullptr;
  if (atspi_text_get_n_selections(text.get(), &error) > 0 && !error) {
    std::unique_ptr<AtspiRange, Free> range(atspi_text_get_selection(text.get(), 0, &error));
    if (!error && range && range->start_offset >= 0 && range->end_offset > range->start_offset) {
      return Span{range->start_offset, range->end_offset};
    }
  }
  g_clear_error(&error);
  const gint caret = atspi_text_get_caret_offset(text.get(), &error);
  if (error || caret < 0) {
    g_clear_error(&error);
    return std::nullopt;
  }
  return Span{caret, caret};
}

bool isSecret(AtspiAccessible* object) {
  return atspi_accessible_get_role(object, nullptr) == ATSPI_ROLE_PASSWORD_TEXT;
}

std::u32string fromUtf8(const std::string& text) {
  glong count = 0;
  std::unique_ptr<gunichar, Free> wide(
      g_utf8_to_ucs4_fast(text.c_str(), static_cast<glong>(text.size()), &count));
  if (!wide) return {};
  return std::u32string(reinterpret_cast<const char32_t*>(wide.get()),
                        static_cast<std::size_t>(count));
}

std::string toUtf8(const std::u32string& text) {
  std::unique_ptr<gchar, Free> narrow(g_ucs4_to_utf8(reinterpret_cast<const gunichar*>(text.data()),
                                                     static_cast<glong>(text.size()), nullptr,
                                                     nullptr, nullptr));
  return narrow ? std::string(narrow.get()) : std::string();
}

}  // namespace nolari::platform::AtspiRichText
