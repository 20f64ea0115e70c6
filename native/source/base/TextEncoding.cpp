#include "base/TextEncoding.h"

#include <cstddef>

namespace nolari::TextEncoding {

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// The length of the well-formed sequence at `i`, or 0 when it is not one; then
// `prefix` is the length of its maximal subpart (at least 1), which the
// decoder replaces with a single U+FFFD. The second byte's range is what rules
// out overlong forms, surrogates and values past U+10FFFF.
std::size_t sequenceAt(std::string_view bytes, std::size_t i, std::size_t& prefix) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  prefix = 1;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3;
    low = 0xA0;
  } else if (lead == 0xED) {
    length = 3;
    high = 0x9F;
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    length = 3;
  } else if (lead == 0xF0) {
    length = 4;
    low = 0x90;
  } else if (lead == 0xF4) {
    length = 4;
    high = 0x8F;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= bytes.size()) return 0;
    const auto next = static_cast<unsigned char>(bytes[i + k]);
    if (next < low || next > high) return 0;
    low = 0x80;
    high = 0xBF;
    prefix = k + 1;
  }
  return length;
}

}  // namespace

bool isValidUTF8(std::string_view bytes) {
  std::size_t i = 0;
  std::size_t prefix = 0;
  while (i < bytes.size()) {
    const std::size_t length = sequenceAt(bytes, i, prefix);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string repairUTF8(std::string_view bytes) {
  std::string repaired;
  repaired.reserve(bytes.size());
  std::size_t i = 0;
  std::size_t prefix = 0;
  while (i < bytes.size()) {
    const std::size_t length = sequenceAt(bytes, i, prefix);
    if (length == 0) {
      repaired += REPLACEMENT;
      i += prefix;
    } else {
      repaired.append(bytes.substr(i, length));
      i += length;
    }
  }
  return repaired;
}

std::string lowerASCII(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace nolari::TextEncoding
