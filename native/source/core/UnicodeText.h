#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text measured the way a user sees it: a character is a grapheme cluster, so
// an emoji with its modifiers or a letter with its combining accents counts
// once. Input is UTF-8; ill-formed bytes count as one replacement character each.

namespace nolari::UnicodeText {

std::size_t characterCount(std::string_view text);
// The first `count` characters of `text`, whole clusters only.
std::string characterPrefix(std::string_view text, std::size_t count);
// Removes white space and line breaks (Unicode separators, tab, line feed to
// carriage return, next line) from both ends.
std::string trimmingWhitespace(std::string_view text);
// Whether the code point is one of those white space and line breaks.
bool isWhitespaceOrNewline(char32_t c);
// Unicode lower case, independent of the user's locale.
std::string lowercased(std::string_view text);

}  // namespace nolari::UnicodeText
