#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Texts from the parent go into windows of a few hundred points: one longer
// than any window can show is cut before it is laid out, so that a huge text
// costs no more than one that just overflows.

namespace nolari::ambrel {

// `text` up to `maxBytes` bytes, cut at a character boundary and ended with
// "…" where it was cut.
std::string laidOutPart(std::string_view text, std::size_t maxBytes);

}  // namespace nolari::ambrel
