#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One request line from the parent application.

namespace nolari::sondra {

struct TranscribeRequest {
  std::string id;
  std::string op;
  std::optional<std::string> audio_path;
  std::optional<std::string> locale;
  std::optional<std::vector<std::string>> contextual_strings;

  // Strict: the line must be one JSON object with "id" and "op" strings; any of
  // the five members with a value of the wrong type makes it undecodable, a
  // null optional member counts as absent, other members are ignored.
  static std::optional<TranscribeRequest> decode(std::string_view line);
};

}  // namespace nolari::sondra
