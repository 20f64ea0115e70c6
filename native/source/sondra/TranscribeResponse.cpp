#include "sondra/TranscribeResponse.h"

#include <cmath>

namespace nolari::sondra {

std::optional<nlohmann::json> TranscribeResponse::encode(std::string& error) const {
  nlohmann::json list = nlohmann::json::array();
  for (const TranscribeSegment& segment : segments) {
    if (!std::isfinite(segment.start) || !std::isfinite(segment.end)) {
      error = "segment \"" + segment.text + "\" has a time that is not a finite number";
      return std::nullopt;
    }
    list.push_back({{"text", segment.text}, {"start", segment.start}, {"end", segment.end}});
  }
  return nlohmann::json{{"text", text},
                        {"segments", std::move(list)},
                        {"locale", locale},
                        {"duration_ms", duration_ms}};
}

}  // namespace nolari::sondra
