// Reading a field's text over the bus: its own text, a rich editor's flattened
// text, the selection, and the bounds of a range, in UTF-16 offsets.

#include <atspi/atspi.h>

#include <algorithm>
#include <string>

#include "platform/atspi/AtspiInternal.h"
#include "platform/atspi/AtspiRichText.h"

namespace nolari::platform::atspi {

namespace {

constexpr gint MAX_TEXT_CHARS = 1 << 20;
constexpr std::size_t MAX_BOUNDS_RUNS = 64;

// Some toolkits count a character beyond the basic plane twice, as UTF-16
// does, and fill its second place with U+FEFF to keep offsets in step; the
// filler is no part of the text.
std::string withoutFillers(const gchar* text) {
  std::string out;
  gunichar previous = 0;
  for (const gchar* p = text; *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (!(c == 0xFEFF && previous > 0xFFFF))
      out.append(p, static_cast<std::size_t>(g_utf8_next_char(p) - p));
    previous = c;
  }
  return out;
}

// The object's own text as the bus gives it, fillers included: what its
// offsets count in.
AXError rawText(AtspiText* text, Text& out) {
  GError* error = nullptr;
  const gint count = atspi_text_get_character_count(text, &error);
  if (AXError code = take(error)) return code;
  out.reset(atspi_text_get_text(text, 0, std::min(count, MAX_TEXT_CHARS), &error));
  return take(error);
}

AXError busText(AtspiText* text, std::u32string& out) {
  Text contents;
  if (AXError code = rawText(text, contents)) return code;
  out = contents ? AtspiRichText::fromUtf8(contents.get()) : std::u32string();
  return AXErrorCode::success;
}

// The object's own text, U+FFFC standing for each embedded object.
AXError ownText(AtspiText* text, std::string& out) {
  Text contents;
  if (AXError code = rawText(text, contents)) return code;
  out = contents ? withoutFillers(contents.get()) : std::string();
  return AXErrorCode::success;
}

// The interface's ranges count UTF-16 code units of the value, as the
// platform it follows does; the bus counts characters, and a toolkit that
// keeps UTF-16 counts puts a filler after each character beyond the basic
// plane, which the value leaves out. These convert between the two over the
// text the bus offsets count in. `fillers` says whether that text may hold
// fillers (an object's own text) or not (a rich editor's flattened text).
bool isFiller(const std::u32string& text, std::size_t i, bool fillers) {
  return fillers && i > 0 && text[i] == 0xFEFF && text[i - 1] > 0xFFFF;
}

long utf16Units(char32_t c) { return c > 0xFFFF ? 2 : 1; }

long utf16FromBus(const std::u32string& text, long offset, bool fillers) {
  long units = 0;
  const auto end = std::min(static_cast<std::size_t>(std::max(offset, 0L)), text.size());
  for (std::size_t i = 0; i < end; ++i) {
    if (!isFiller(text, i, fillers)) units += utf16Units(text[i]);
  }
  return units + std::max(0L, offset - static_cast<long>(end));
}

// A unit offset inside a character of two units stands before it when it
// starts a range and after it when it ends one, so the range holds the whole
// character. Offsets beyond the text stay beyond it by as much.
long busFromUtf16(const std::u32string& text, long units, bool roundUp, bool fillers) {
  long counted = 0;
  std::size_t i = 0;
  while (i < text.size() && counted < units) {
    const long width = isFiller(text, i, fillers) ? 0 : utf16Units(text[i]);
    if (counted + width > units && !roundUp) break;
    counted += width;
    ++i;
    while (i < text.size() && isFiller(text, i, fillers)) ++i;
  }
  const long beyond = std::min(units - counted, static_cast<long>(G_MAXINT));
  return std::min(static_cast<long>(i) + std::max(beyond, 0L), static_cast<long>(G_MAXINT));
}

TextRange utf16Range(const std::u32string& text, long start, long end, bool fillers) {
  const long location = utf16FromBus(text, start, fillers);
  return {location, utf16FromBus(text, end, fillers) - location};
}

bool hasEmbedded(const std::string& text) { return text.find("\uFFFC") != std::string::npos; }

}  // namespace

// A rich editor's text: its embedded objects flattened into the text they
// stand for.
Answer textOf(AtspiAccessible* object) {
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));
  if (!text) return failed(AXErrorCode::attributeUnsupported);
  std::string contents;
  if (AXError code = ownText(text.get(), contents)) return failed(code);
  if (!hasEmbedded(contents)) return {AXErrorCode::success, std::move(contents)};
  AtspiRichText::BusTree tree(object);
  return {AXErrorCode::success, AtspiRichText::toUtf8(AtspiRichText::Flattened::of(tree).text())};
}

namespace {

// The selection, or the caret as an empty range when nothing is selected.
AXError selectionOf(AtspiText* text, TextRange& range) {
  GError* error = nullptr;
  const gint selections = atspi_text_get_n_selections(text, &error);
  if (AXError code = take(error)) return code;
  if (selections > 0) {
    std::unique_ptr<AtspiRange, Free> selected(atspi_text_get_selection(text, 0, &error));
    if (AXError code = take(error)) return code;
    if (selected && selected->end_offset > selected->start_offset) {
      range = {selected->start_offset, selected->end_offset - selected->start_offset};
      return AXErrorCode::success;
    }
  }
  const gint caret = atspi_text_get_caret_offset(text, &error);
  if (AXError code = take(error)) return code;
  range = {std::max(caret, 0), 0};
  return AXErrorCode::success;
}

}  // namespace

// A secret's selection would tell its characters or at least how many there
// are, so it has none.
Answer selectedText(AtspiAccessible* object, bool asRange) {
  if (AtspiRichText::isSecret(object)) return failed(AXErrorCode::noValue);
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));
  if (!text) return failed(AXErrorCode::attributeUnsupported);
  std::string contents;
  if (AXError code = ownText(text.get(), contents)) return failed(code);
  if (hasEmbedded(contents)) {
    AtspiRichText::BusTree tree(object);
    const auto flat = AtspiRichText::Flattened::of(tree);
    const auto span = flat.selection(tree).value_or(AtspiRichText::Span{});
    if (asRange) {
      return {AXErrorCode::success, utf16Range(flat.text(), span.start, span.end, false)};
    }
    return {AXErrorCode::success, AtspiRichText::toUtf8(flat.text().substr(
                                      static_cast<std::size_t>(span.start),
                                      static_cast<std::size_t>(span.end - span.start)))};
  }
  TextRange range;
  if (AXError code = selectionOf(text.get(), range)) return failed(code);
  if (asRange) {
    std::u32string counted;
    if (AXError code = busText(text.get(), counted)) return failed(code);
    return {AXErrorCode::success,
            utf16Range(counted, range.location, range.location + range.length, true)};
  }
  const std::u32string characters = AtspiRichText::fromUtf8(contents);
  if (range.length == 0 || range.location >= static_cast<long>(characters.size())) {
    return {AXErrorCode::success, std::string()};
  }
  return {AXErrorCode::success,
          AtspiRichText::toUtf8(characters.substr(static_cast<std::size_t>(range.location),
                                                  static_cast<std::size_t>(range.length)))};
}

namespace {

std::optional<Rect> rangeExtents(AtspiText* text, long start, long end, AXError& code) {
  GError* error = nullptr;
  std::unique_ptr<AtspiRect, Free> rect(atspi_text_get_range_extents(
      text, static_cast<gint>(start), static_cast<gint>(end), ATSPI_COORD_TYPE_SCREEN, &error));
  code = take(error);
  if (code || !rect) return std::nullopt;
  return Rect{{double(rect->x), double(rect->y)}, {double(rect->width), double(rect->height)}};
}

Rect unite(const Rect& a, const Rect& b) {
  const double left = std::min(a.origin.x, b.origin.x);
  const double top = std::min(a.origin.y, b.origin.y);
  const double right = std::max(a.origin.x + a.size.width, b.origin.x + b.size.width);
  const double bottom = std::max(a.origin.y + a.size.height, b.origin.y + b.size.height);
  return {{left, top}, {right - left, bottom - top}};
}

}  // namespace

// The bounds of a range of the flattened text: the union of the bounds of
// each object's characters in it. A secret's bounds would tell its length.
Answer boundsForRange(const AtspiElementRef& ref, const TextRange& range) {
  if (ref.kind != Kind::object) return failed(AXErrorCode::parameterizedAttributeUnsupported);
  if (AtspiRichText::isSecret(ref.object)) return failed(AXErrorCode::noValue);
  Ref<AtspiText> text(atspi_accessible_get_text_iface(ref.object));
  if (!text) return failed(AXErrorCode::parameterizedAttributeUnsupported);
  std::u32string counted;
  if (AXError code = busText(text.get(), counted)) return failed(code);
  AXError code = AXErrorCode::success;
  const long endUnits = range.location + range.length;
  if (counted.find(U'\uFFFC') == std::u32string::npos) {
    auto rect = rangeExtents(text.get(), busFromUtf16(counted, range.location, false, true),
                             busFromUtf16(counted, endUnits, true, true), code);
    if (code) return failed(code);
    if (!rect) return failed(AXErrorCode::noValue);
    return {AXErrorCode::success, *rect};
  }
  AtspiRichText::BusTree tree(ref.object);
  const auto flat = AtspiRichText::Flattened::of(tree);
  const long start = busFromUtf16(flat.text(), range.location, false, false);
  const long end =
      std::min<long>(std::max(busFromUtf16(flat.text(), endUnits, true, false), start + 1),
                     static_cast<long>(flat.text().size()));
  std::optional<Rect> bounds;
  const auto runs =
      flat.runsIn({static_cast<int>(std::min<long>(start, end)), static_cast<int>(end)});
  for (std::size_t i = 0; i < runs.size() && i < MAX_BOUNDS_RUNS; ++i) {
    Ref<AtspiText> part(atspi_accessible_get_text_iface(tree.object(runs[i].node)));
    if (!part) continue;
    if (auto rect = rangeExtents(part.get(), runs[i].start, runs[i].end, code)) {
      bounds = bounds ? unite(*bounds, *rect) : *rect;
    }
  }
  if (!bounds) return failed(code ? code : AXErrorCode::noValue);
  if (range.length == 0) bounds->size.width = 0;
  return {AXErrorCode::success, *bounds};
}

}  // namespace nolari::platform::atspi
