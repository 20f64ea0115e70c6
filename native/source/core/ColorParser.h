#pragma once

#include <optional>
#include <string_view>

#include "platform/DisplayList.h"

// Hex colour strings from the configuration file ("#3498db", "3498dbcc").

namespace nolari {

// Calibrated RGB, every component from 0 to 1: the colour the drawing layer takes.
using Color = platform::Color;

// The platform's standard system blue, used where a configured colour does not parse.
inline constexpr Color SYSTEM_BLUE{0.0, 122.0 / 255.0, 1.0, 1.0};

namespace ColorParser {

// Trims white space and line breaks, drops one leading "#", and reads exactly
// 6 (RRGGBB) or 8 (RRGGBBAA) characters with the hexadecimal scanner: an
// optional "0x"/"0X" prefix, then hex digits up to the first other character.
// Nothing when the length is wrong or no hex digit is read.
std::optional<Color> parseHex(std::string_view text);

}  // namespace ColorParser

}  // namespace nolari
