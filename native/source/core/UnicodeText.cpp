#include "core/UnicodeText.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

namespace nolari::UnicodeText {

namespace {

icu::UnicodeString fromUTF8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// A character break iterator over `text`, or null if the library cannot make one.
std::unique_ptr<icu::BreakIterator> characters(const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !it) return nullptr;
  it->setText(text);
  return it;
}

}  // namespace

bool isWhitespaceOrNewline(char32_t c) {
  if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
  const auto category = u_charType(static_cast<UChar32>(c));
  return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR ||
         category == U_PARAGRAPH_SEPARATOR;
}

std::size_t characterCount(std::string_view text) {
  if (text.empty()) return 0;
  const icu::UnicodeString u = fromUTF8(text);
  auto it = characters(u);
  if (!it) return static_cast<std::size_t>(u.countChar32());
  std::size_t count = 0;
  it->first();
  while (it->next() != icu::BreakIterator::DONE) ++count;
  return count;
}

std::string characterPrefix(std::string_view text, std::size_t count) {
  const icu::UnicodeString u = fromUTF8(text);
  auto it = characters(u);
  if (!it) return toUTF8(u.tempSubString(0, u.moveIndex32(0, static_cast<int32_t>(count))));
  int32_t end = it->first();
  for (std::size_t i = 0; i < count; ++i) {
    const int32_t next = it->next();
    if (next == icu::BreakIterator::DONE) break;
    end = next;
  }
  return toUTF8(u.tempSubString(0, end));
}

std::string trimmingWhitespace(std::string_view text) {
  const icu::UnicodeString u = fromUTF8(text);
  int32_t start = 0;
  int32_t end = u.length();
  while (start < end && isWhitespaceOrNewline(static_cast<char32_t>(u.char32At(start))))
    start = u.moveIndex32(start, 1);
  while (end > start) {
    const int32_t previous = u.moveIndex32(end, -1);
    if (!isWhitespaceOrNewline(static_cast<char32_t>(u.char32At(previous)))) break;
    end = previous;
  }
  return toUTF8(u.tempSubString(start, end - start));
}

std::string lowercased(std::string_view text) {
  icu::UnicodeString u = fromUTF8(text);
  u.toLower(icu::Locale::getRoot());
  return toUTF8(u);
}

}  // namespace nolari::UnicodeText
