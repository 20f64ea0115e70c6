#pragma once

#include <string>
#include <string_view>

// Text that came from outside (arguments, files, other applications) may hold
// bytes that are not UTF-8; the programs repair it as the platform's own string
// decoding would, with U+FFFD, before it reaches a line.

namespace nolari::TextEncoding {

bool isValidUTF8(std::string_view bytes);
std::string repairUTF8(std::string_view bytes);

// Lower case for the ASCII letters only; other bytes, UTF-8 included, are kept.
std::string lowerASCII(std::string_view bytes);

}  // namespace nolari::TextEncoding
