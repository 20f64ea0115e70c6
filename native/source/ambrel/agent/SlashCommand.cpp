#include "ambrel/agent/SlashCommand.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/AXHelpers.h"
#include "core/UnicodeText.h"

namespace nolari::ambrel {

namespace {

// The code point at `at`, and where the next one starts; ill-formed bytes
// read as one replacement character each, as the text engine shows them.
UChar32 nextCodePoint(std::string_view text, std::size_t& at) {
  const auto byte = static_cast<unsigned char>(text[at]);
  if (byte < 0x80) {
    ++at;
    return byte;
  }
  UChar32 c = 0;
  auto i = static_cast<int32_t>(at);
  U8_NEXT(text.data(), i, static_cast<int32_t>(text.size()), c);
  at = static_cast<std::size_t>(i);
  return c < 0 ? 0xFFFD : c;
}

// Most text is ASCII: its separators are known without the character tables.
bool isSeparator(UChar32 c) {
  if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
  return UnicodeText::isWhitespaceOrNewline(static_cast<char32_t>(c));
}

bool isCommandCharacter(UChar32 c) {
  return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

}  // namespace

SlashCommandScan scanForSlashCommand(std::string_view value, long caret) {
  // One pass up to the caret, remembering the last word that began with a
  // slash, so that a field of a megabyte costs a few milliseconds.
  SlashCommandScan scan{std::nullopt, std::max(caret, 0L)};
  long units = 0;
  std::size_t at = 0;
  std::size_t wordStart = 0;
  std::optional<std::pair<std::size_t, std::size_t>> slashWord;
  const auto endWord = [&](std::size_t end) {
    if (end > wordStart && value[wordStart] == '/') slashWord = {wordStart, end};
  };
  while (at < value.size()) {
    std::size_t next = at;
    const UChar32 c = nextCodePoint(value, next);
    if (units + U16_LENGTH(c) > scan.caret) break;
    units += U16_LENGTH(c);
    if (isSeparator(c)) {
      endWord(at);
      wordStart = next;
    }
    at = next;
  }
  // Past the end of the value, the caret stands at its end.
  if (at == value.size()) scan.caret = units;
  endWord(at);
  if (!slashWord) return scan;
  const std::string_view command =
      value.substr(slashWord->first + 1, slashWord->second - slashWord->first - 1);
  if (command.empty()) return scan;
  for (std::size_t i = 0; i < command.size();) {
    if (!isCommandCharacter(nextCodePoint(command, i))) return scan;
  }
  scan.trigger = UnicodeText::lowercased(command);
  return scan;
}

std::optional<SlashCommandSubmission> SlashCommandDetector::check() {
  auto element = field_.element();
  if (!element) return std::nullopt;
  auto value = AXHelpers::getRawAttribute(accessibility_, *element, "AXValue");
  const std::string* text = value ? value->get<std::string>() : nullptr;
  if (!text) return std::nullopt;

  // Without a selected range the caret is at the end of the value.
  long caret = std::numeric_limits<long>::max();
  if (auto range = AXHelpers::getRawAttribute(accessibility_, *element, "AXSelectedTextRange")) {
    if (const auto* selected = range->get<platform::TextRange>()) caret = selected->location;
  }
  auto scan = scanForSlashCommand(*text, caret);
  if (!scan.trigger) return std::nullopt;

  SlashCommandSubmission submission{std::move(*scan.trigger), 0, std::nullopt};
  if (accessibility_.getPid(*element, submission.pid) != platform::AXErrorCode::success) {
    submission.pid = 0;
  }
  submission.caretRect = queryCaretRect(*element, scan.caret);
  return submission;
}

std::optional<platform::Rect> SlashCommandDetector::queryCaretRect(
    const platform::AXUIElement& element, long cursorPos) {
  const platform::TextRange range{std::max(0L, cursorPos - 1), 1};
  platform::AXValue bounds;
  if (accessibility_.copyParameterizedAttributeValue(element, "AXBoundsForRange", range, bounds) !=
      platform::AXErrorCode::success) {
    return std::nullopt;
  }
  // A rectangle that is not all finite numbers cannot be written as one.
  const auto* rect = bounds.get<platform::Rect>();
  if (!rect || !rect->isFinite()) return std::nullopt;
  return field_.toScreen(*rect);
}

}  // namespace nolari::ambrel
