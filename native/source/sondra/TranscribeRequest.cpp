#include "sondra/TranscribeRequest.h"

#include <nlohmann/json.hpp>

#include "base/JSONInput.h"

namespace nolari::sondra {

namespace {

using nlohmann::json;

// Absent and null both leave `out` empty; false only for a wrong type.
bool optionalString(const json& object, const char* key, std::optional<std::string>& out) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return true;
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

}  // namespace

std::optional<TranscribeRequest> TranscribeRequest::decode(std::string_view line) {
  auto parsed = JSONInput::parse(line);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  const json& object = *parsed;
  TranscribeRequest request;
  std::optional<std::string> id;
  std::optional<std::string> op;
  if (!optionalString(object, "id", id) || !id) return std::nullopt;
  if (!optionalString(object, "op", op) || !op) return std::nullopt;
  request.id = std::move(*id);
  request.op = std::move(*op);
  if (!optionalString(object, "audio_path", request.audio_path)) return std::nullopt;
  if (!optionalString(object, "locale", request.locale)) return std::nullopt;
  auto strings = object.find("contextual_strings");
  if (strings != object.end() && !strings->is_null()) {
    if (!strings->is_array()) return std::nullopt;
    std::vector<std::string> values;
    values.reserve(strings->size());
    for (const json& value : *strings) {
      if (!value.is_string()) return std::nullopt;
      values.push_back(value.get<std::string>());
    }
    request.contextual_strings = std::move(values);
  }
  return request;
}

}  // namespace nolari::sondra
