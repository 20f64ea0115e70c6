#include "base/JSONOutput.h"

#include <cmath>
#include <optional>
#include <utility>

#include "base/LineWriter.h"
#include "base/NolariLogger.h"
#include "base/TextEncoding.h"

namespace nolari::JSONOutput {

namespace {

using nlohmann::json;

constexpr std::string_view FAILURE_LINE = "{\"error\":\"json_serialization_failed\"}\n";

// JSON has no spelling for NaN or infinity; the writer would quietly turn them
// into null, so they are caught before writing.
struct NonFiniteNumber {
  std::string path;
  double value = 0;
};

// Built by appending: GCC 12 at -O3 misreads "/" + segment + rest, which
// inserts at the front, as an overlapping copy (-Wrestrict).
std::string underSegment(std::string_view segment, const std::string& rest) {
  std::string path;
  path.reserve(1 + segment.size() + rest.size());
  path += '/';
  path += segment;
  path += rest;
  return path;
}

std::optional<NonFiniteNumber> findNonFinite(const json& value) {
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (!std::isfinite(number)) return NonFiniteNumber{"", number};
  } else if (value.is_object()) {
    for (auto member = value.begin(); member != value.end(); ++member) {
      if (auto found = findNonFinite(member.value())) {
        found->path = underSegment(member.key(), found->path);
        return found;
      }
    }
  } else if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (auto found = findNonFinite(value[i])) {
        found->path = underSegment(std::to_string(i), found->path);
        return found;
      }
    }
  }
  return std::nullopt;
}

std::string describe(const NonFiniteNumber& number) {
  const char* spelled = std::isnan(number.value) ? "nan" : number.value > 0 ? "inf" : "-inf";
  return std::string("number ") + spelled + " at " + (number.path.empty() ? "/" : number.path) +
         " has no JSON form";
}

bool holdsInvalidText(const json& value) {
  if (value.is_string()) return !TextEncoding::isValidUTF8(value.get_ref<const std::string&>());
  if (value.is_object()) {
    for (auto member = value.begin(); member != value.end(); ++member) {
      if (!TextEncoding::isValidUTF8(member.key()) || holdsInvalidText(member.value())) return true;
    }
  } else if (value.is_array()) {
    for (const auto& element : value) {
      if (holdsInvalidText(element)) return true;
    }
  }
  return false;
}

json repaired(const json& value) {
  if (value.is_string()) return TextEncoding::repairUTF8(value.get_ref<const std::string&>());
  if (value.is_object()) {
    json copy = json::object();
    for (auto member = value.begin(); member != value.end(); ++member) {
      copy[TextEncoding::repairUTF8(member.key())] = repaired(member.value());
    }
    return copy;
  }
  if (value.is_array()) {
    json copy = json::array();
    for (const auto& element : value) copy.push_back(repaired(element));
    return copy;
  }
  return value;
}

// Compact, keys as stored, non-ASCII text unescaped. Text reaches here already
// repaired, so the writer's own replacement never comes into play.
std::string serialised(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string failed(const std::string& description) {
  NolariLogger::error("JSON serialization failed: " + description);
  return std::string(FAILURE_LINE);
}

json withType(std::string_view type, const json& payload) {
  json copy = payload.is_null() ? json::object() : payload;
  if (copy.is_object()) copy["type"] = type;
  return copy;
}

}  // namespace

std::string formatLine(const json& object) {
  // A default-constructed payload is the empty dictionary its caller meant.
  if (object.is_null()) return "{}\n";
  if (!object.is_object()) {
    return failed(std::string("top-level ") + object.type_name() + " is not a dictionary");
  }
  if (const auto nonFinite = findNonFinite(object)) return failed(describe(*nonFinite));
  std::string line = holdsInvalidText(object) ? serialised(repaired(object)) : serialised(object);
  line += '\n';
  return line;
}

std::string formatTypedLine(std::string_view type, const json& payload) {
  return formatLine(withType(type, payload));
}

std::string formatErrorLine(std::string_view message) {
  // The writer's escaping without the writer's layout: the space after the
  // colon is part of this line's fixed shape.
  const std::string quoted = serialised(TextEncoding::repairUTF8(message));
  std::string line = "{\"error\": ";
  line += quoted;
  line += "}\n";
  return line;
}

void emit(const json& object) { LineWriter::writeToStandardOutput(formatLine(object)); }

void emitTyped(std::string_view type, const json& payload) {
  LineWriter::writeToStandardOutput(formatTypedLine(type, payload));
}

void emitError(std::string_view message) {
  LineWriter::writeToStandardOutput(formatErrorLine(message));
}

}  // namespace nolari::JSONOutput
