#include "core/ColorParser.h"

#include <cstdint>
#include <vector>

namespace nolari::ColorParser {

namespace {

// Decodes leniently: a byte that does not start a well-formed sequence counts
// as one replacement character, so every input has a character count.
std::vector<char32_t> decodeCharacters(std::string_view text) {
  std::vector<char32_t> characters;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
      length = 1;
      value = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07;
    }
    bool wellFormed = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; wellFormed && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        wellFormed = false;
      } else {
        value = (value << 6) | (next & 0x3F);
      }
    }
    const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (!wellFormed || overlong || surrogate || value > 0x10FFFF) {
      characters.push_back(U'\uFFFD');
      ++i;
      continue;
    }
    characters.push_back(value);
    i += length;
  }
  return characters;
}

// White space and line breaks as the platform's string trimming knows them:
// the ASCII controls tab to carriage return, NEL, and the Unicode separators.
bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::optional<unsigned> hexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<unsigned>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<unsigned>(c - U'a' + 10);
  if (c >= U'A' && c <= U'F') return static_cast<unsigned>(c - U'A' + 10);
  return std::nullopt;
}

// The "0x" prefix counts only when a hex digit follows it; otherwise its "0"
// is the one digit read.
std::optional<std::uint64_t> scanHex(const std::vector<char32_t>& characters, std::size_t begin,
                                     std::size_t end) {
  std::size_t i = begin;
  if (end - i >= 3 && characters[i] == U'0' &&
      (characters[i + 1] == U'x' || characters[i + 1] == U'X') &&
      hexDigitValue(characters[i + 2])) {
    i += 2;
  }
  std::uint64_t value = 0;
  bool anyDigit = false;
  for (; i < end; ++i) {
    const auto digit = hexDigitValue(characters[i]);
    if (!digit) break;
    value = (value << 4) | *digit;
    anyDigit = true;
  }
  if (!anyDigit) return std::nullopt;
  return value;
}

double byteAt(std::uint64_t value, int shift) {
  return static_cast<double>((value >> shift) & 0xFF) / 255.0;
}

}  // namespace

std::optional<Color> parseHex(std::string_view text) {
  const auto characters = decodeCharacters(text);
  std::size_t begin = 0;
  std::size_t end = characters.size();
  while (begin < end && isWhitespaceOrNewline(characters[begin])) ++begin;
  while (end > begin && isWhitespaceOrNewline(characters[end - 1])) --end;
  if (begin < end && characters[begin] == U'#') ++begin;

  const std::size_t length = end - begin;
  if (length != 6 && length != 8) return std::nullopt;
  const auto value = scanHex(characters, begin, end);
  if (!value) return std::nullopt;

  if (length == 6) {
    return Color{byteAt(*value, 16), byteAt(*value, 8), byteAt(*value, 0), 1.0};
  }
  return Color{byteAt(*value, 24), byteAt(*value, 16), byteAt(*value, 8), byteAt(*value, 0)};
}

}  // namespace nolari::ColorParser
