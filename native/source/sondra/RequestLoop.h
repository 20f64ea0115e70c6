#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/JSONInput.h"

// Standard input cut into request lines, served one after another.

namespace nolari::sondra {

// Lines longer than this are not kept: the rest of such a line is skipped and
// the line is answered as undecodable.
inline constexpr std::size_t MAX_LINE_BYTES = JSONInput::MAX_LINE_BYTES;

// One framed line: its text, or the mark of a line that was too long.
struct FramedLine {
  std::string text;
  bool overlong = false;
};

// Cuts a byte stream into lines at each line feed; a carriage return before the
// feed belongs to the terminator.
class LineFramer {
 public:
  // The lines completed by `bytes`.
  std::vector<FramedLine> feed(std::string_view bytes);
  // The unterminated rest at the end of input, if any.
  std::optional<FramedLine> finish();

 private:
  std::string partial_;
  bool overlong_ = false;
};

// Blanks and tabs off both ends; nothing else is trimmed.
std::string_view trimBlanks(std::string_view line);

namespace RequestLoop {

// Reads `fd` to its end and hands each non-blank line to `serve`, which
// returns only when the request is completely finished.
void run(int fd, const std::function<void(const FramedLine&)>& serve);

}  // namespace RequestLoop

}  // namespace nolari::sondra
