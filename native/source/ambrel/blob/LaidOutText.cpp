#include "ambrel/blob/LaidOutText.h"

namespace nolari::ambrel {

std::string laidOutPart(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  std::string part(text.substr(0, end));
  part += "…";
  return part;
}

}  // namespace nolari::ambrel
