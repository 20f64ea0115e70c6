#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// The result of one transcription, encoded with keys equal to the field names.

namespace nolari::sondra {

struct TranscribeSegment {
  std::string text;
  double start = 0;  // seconds from the start of the audio
  double end = 0;
};

struct TranscribeResponse {
  std::string text;
  std::vector<TranscribeSegment> segments;
  std::string locale;
  std::int64_t duration_ms = 0;  // processing time, not the audio's length

  // Every field present. Fails, with `error` set, on a time JSON cannot hold.
  std::optional<nlohmann::json> encode(std::string& error) const;
};

}  // namespace nolari::sondra
