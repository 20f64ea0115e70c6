#include "core/NolariConfig.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

#include "base/JSONInput.h"
#include "base/NolariLogger.h"
#include "base/TextEncoding.h"

namespace nolari {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Thrown only inside this file, to leave a nested decode at the first fault;
// `decode` turns it into a description.
class DecodeFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

const std::string MISSING = "The data couldn't be read because it is missing: ";
const std::string MALFORMED = "The data couldn't be read because it isn't in the correct format: ";

std::string describe(const json& value) {
  switch (value.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "a boolean";
    case json::value_t::string:
      return "a string";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return "the number " + value.dump();
    default:
      return "a value of another kind";
  }
}

std::string place(const std::string& path) {
  return path.empty() ? "the top level" : "\"" + path + "\"";
}

[[noreturn]] void failMissing(const std::string& path) {
  throw DecodeFailure(MISSING + "no value for " + place(path) + ".");
}

[[noreturn]] void failMismatch(const std::string& path, std::string_view expected,
                               const json& found) {
  throw DecodeFailure(MALFORMED + place(path) + " must be " + std::string(expected) + " but is " +
                      describe(found) + ".");
}

std::string memberPath(const std::string& parent, std::string_view key) {
  return parent.empty() ? std::string(key) : parent + "." + std::string(key);
}

std::string elementPath(const std::string& parent, std::size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

// Absent and null read alike: there is no value.
const json* valueFor(const json& object, std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return nullptr;
  return &*found;
}

const json& requireObject(const json& value, const std::string& path) {
  if (!value.is_object()) failMismatch(path, "an object", value);
  return value;
}

bool readBool(const json& value, const std::string& path) {
  if (!value.is_boolean()) failMismatch(path, "a boolean", value);
  return value.get<bool>();
}

double readNumber(const json& value, const std::string& path) {
  if (!value.is_number()) failMismatch(path, "a number", value);
  return value.get<double>();
}

// Any integral JSON number that fits in 64 bits, written with or without a fraction part.
std::int64_t readInteger(const json& value, const std::string& path) {
  if (value.is_number_unsigned()) {
    const auto unsignedValue = value.get<std::uint64_t>();
    if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      failMismatch(path, "a 64-bit integer", value);
    }
    return static_cast<std::int64_t>(unsignedValue);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    const double number = value.get<double>();
    constexpr double LIMIT = 9223372036854775808.0;  // 2^63
    if (std::trunc(number) == number && number >= -LIMIT && number < LIMIT) {
      return static_cast<std::int64_t>(number);
    }
  }
  failMismatch(path, "an integer", value);
}

std::string readString(const json& value, const std::string& path) {
  if (!value.is_string()) failMismatch(path, "a string", value);
  return value.get<std::string>();
}

template <typename Element, typename ReadElement>
std::vector<Element> readArray(const json& value, const std::string& path,
                               ReadElement readElement) {
  if (!value.is_array()) failMismatch(path, "an array", value);
  std::vector<Element> elements;
  elements.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::string itemPath = elementPath(path, i);
    if (value[i].is_null()) failMissing(itemPath);
    elements.push_back(readElement(value[i], itemPath));
  }
  return elements;
}

template <typename Read>
auto optionalMember(const json& object, std::string_view key, const std::string& path, Read read)
    -> std::optional<decltype(read(object, path))> {
  const json* value = valueFor(object, key);
  if (!value) return std::nullopt;
  return read(*value, memberPath(path, key));
}

template <typename Read>
auto requiredMember(const json& object, std::string_view key, const std::string& path, Read read) {
  const std::string keyPath = memberPath(path, key);
  const json* value = valueFor(object, key);
  if (!value) failMissing(keyPath);
  return read(*value, keyPath);
}

std::vector<std::string> readStrings(const json& value, const std::string& path) {
  return readArray<std::string>(value, path, readString);
}

std::vector<double> readNumbers(const json& value, const std::string& path) {
  return readArray<double>(value, path, readNumber);
}

NolariConfig::Highlight::DebugWindow readDebugWindow(const json& value, const std::string& path) {
  const json& object = requireObject(value, path);
  NolariConfig::Highlight::DebugWindow window;
  window.visible = optionalMember(object, "visible", path, readBool);
  window.color = optionalMember(object, "color", path, readString);
  window.opacity = optionalMember(object, "opacity", path, readNumber);
  window.padding = optionalMember(object, "padding", path, readNumber);
  return window;
}

NolariConfig::Highlight::LogoWindow readLogoWindow(const json& value, const std::string& path) {
  const json& object = requireObject(value, path);
  NolariConfig::Highlight::LogoWindow window;
  window.visible = optionalMember(object, "visible", path, readBool);
  window.size = optionalMember(object, "size", path, readNumber);
  window.margin = optionalMember(object, "margin", path, readNumber);
  return window;
}

NolariConfig::Highlight readHighlight(const json& value, const std::string& path) {
  const json& object = requireObject(value, path);
  NolariConfig::Highlight highlight;
  if (auto v = optionalMember(object, "enabled", path, readBool)) highlight.enabled = *v;
  if (auto v = optionalMember(object, "color", path, readString)) highlight.color = *v;
  if (auto v = optionalMember(object, "opacity", path, readNumber)) highlight.opacity = *v;
  if (auto v = optionalMember(object, "padding", path, readNumber)) highlight.padding = *v;
  if (auto v = optionalMember(object, "debug_window", path, readDebugWindow))
    highlight.debugWindow = *v;
  if (auto v = optionalMember(object, "logo_window", path, readLogoWindow))
    highlight.logoWindow = *v;
  if (auto v = optionalMember(object, "allowed_apps", path, readStrings))
    highlight.allowedApps = *v;
  if (auto v = optionalMember(object, "allowed_roles", path, readStrings))
    highlight.allowedRoles = *v;
  return highlight;
}

NolariConfig::Observer readObserver(const json& value, const std::string& path) {
  const json& object = requireObject(value, path);
  NolariConfig::Observer observer;
  observer.enabled = requiredMember(object, "enabled", path, readBool);
  observer.focusRetryDelays = requiredMember(object, "focus_retry_delays", path, readNumbers);
  observer.maxTreeDepth = requiredMember(object, "max_tree_depth", path, readInteger);
  observer.maxTreeChildren = requiredMember(object, "max_tree_children", path, readInteger);
  return observer;
}

NolariConfig::Paths readPaths(const json& value, const std::string& path) {
  const json& object = requireObject(value, path);
  NolariConfig::Paths paths;
  paths.logoPath = optionalMember(object, "logo_path", path, readString);
  return paths;
}

NolariConfig::Dictation readDictation(const json& value, const std::string& path) {
  const json& object = requireObject(value, path);
  NolariConfig::Dictation dictation;
  dictation.spaceHoldEnabled = requiredMember(object, "space_hold_enabled", path, readBool);
  dictation.spaceHoldDelay = requiredMember(object, "space_hold_delay", path, readNumber);
  dictation.axTimeoutSeconds = requiredMember(object, "ax_timeout_seconds", path, readNumber);
  return dictation;
}

NolariConfig readConfig(const json& value) {
  const json& object = requireObject(value, "");
  NolariConfig config;
  if (auto v = optionalMember(object, "highlight", "", readHighlight)) config.highlight = *v;
  if (auto v = optionalMember(object, "observer", "", readObserver)) config.observer = *v;
  if (auto v = optionalMember(object, "paths", "", readPaths)) config.paths = *v;
  if (auto v = optionalMember(object, "dictation", "", readDictation)) config.dictation = *v;
  return config;
}

LegacyHighlightConfig::Highlight readLegacyHighlight(const json& value, const std::string& path) {
  const json& object = requireObject(value, path);
  LegacyHighlightConfig::Highlight highlight;
  highlight.enabled = requiredMember(object, "enabled", path, readBool);
  highlight.color = requiredMember(object, "color", path, readString);
  highlight.opacity = requiredMember(object, "opacity", path, readNumber);
  highlight.padding = requiredMember(object, "padding", path, readNumber);
  return highlight;
}

LegacyHighlightConfig readLegacyConfig(const json& value) {
  const json& object = requireObject(value, "");
  return LegacyHighlightConfig{requiredMember(object, "highlight", "", readLegacyHighlight)};
}

template <typename Record, typename ReadRecord>
ConfigDecodeResult<Record> decodeWith(std::string_view bytes, ReadRecord readRecord) {
  try {
    // Text that is not UTF-8 fails here, as does any number too large for a double.
    std::string error;
    const auto document = JSONInput::parse(bytes, error);
    if (!document) return {std::nullopt, MALFORMED + error};
    return {readRecord(*document), {}};
  } catch (const DecodeFailure& failure) {
    return {std::nullopt, failure.what()};
  } catch (const json::exception& failure) {
    return {std::nullopt, MALFORMED + JSONInput::readableMessage(failure.what())};
  } catch (const std::exception& failure) {
    return {std::nullopt, std::string("The data couldn't be read: ") + failure.what()};
  }
}

std::string systemErrorText(int error) { return std::generic_category().message(error); }

struct FileContents {
  std::optional<std::string> bytes;
  std::string errorDescription;
};

// The whole file, or a description of why it could not be read. Only regular
// files are opened, so that a named pipe can never block the start-up.
FileContents readWholeFile(const std::string& path) {
  std::error_code statusError;
  const auto status = fs::status(path, statusError);
  if (statusError)
    return {std::nullopt, "The file couldn't be opened: " + statusError.message() + "."};
  if (fs::is_directory(status))
    return {std::nullopt, "The file couldn't be opened because it is a directory."};
  if (!fs::is_regular_file(status)) {
    return {std::nullopt, "The file couldn't be opened because it is not a regular file."};
  }

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return {std::nullopt, "The file couldn't be opened: " + systemErrorText(errno) + "."};

  std::string bytes;
  char buffer[64 * 1024];
  while (bytes.size() <= NolariConfig::MAX_FILE_BYTES) {
    const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
    bytes.append(buffer, count);
    if (count < sizeof buffer) break;
  }
  if (std::ferror(file.get()))
    return {std::nullopt, "The file couldn't be read: " + systemErrorText(errno) + "."};
  if (bytes.size() > NolariConfig::MAX_FILE_BYTES) {
    return {std::nullopt, "The file couldn't be read because it is larger than " +
                              std::to_string(NolariConfig::MAX_FILE_BYTES) + " bytes."};
  }
  return {std::move(bytes), {}};
}

// Follows symbolic links: a dangling link is no file.
bool fileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

template <typename Record>
std::optional<Record> loadFirst(const std::vector<std::string>& candidates,
                                std::string_view loadedMessage, std::string_view failedMessage) {
  for (const auto& path : candidates) {
    if (!fileExists(path)) continue;
    const auto contents = readWholeFile(path);
    if (!contents.bytes) {
      NolariLogger::warn(std::string(failedMessage) + path + ": " + contents.errorDescription);
      continue;
    }
    auto decoded = Record::decode(*contents.bytes);
    if (!decoded.record) {
      NolariLogger::warn(std::string(failedMessage) + path + ": " + decoded.errorDescription);
      continue;
    }
    NolariLogger::info(std::string(loadedMessage) + path);
    return std::move(decoded.record);
  }
  return std::nullopt;
}

}  // namespace

std::string NolariConfig::Highlight::debugColorHex() const {
  return debugWindow.color.value_or(color);
}

double NolariConfig::Highlight::debugOpacity() const {
  return std::clamp(debugWindow.opacity.value_or(opacity), 0.0, 1.0);
}

double NolariConfig::Highlight::debugPadding() const {
  return std::max(debugWindow.padding.value_or(padding), 0.0);
}

Color NolariConfig::Highlight::nsColor() const {
  return ColorParser::parseHex(debugColorHex()).value_or(SYSTEM_BLUE);
}

ConfigDecodeResult<NolariConfig> NolariConfig::decode(std::string_view bytes) {
  return decodeWith<NolariConfig>(bytes, readConfig);
}

ConfigDecodeResult<LegacyHighlightConfig> LegacyHighlightConfig::decode(std::string_view bytes) {
  return decodeWith<LegacyHighlightConfig>(bytes, readLegacyConfig);
}

NolariConfig NolariConfig::loadOrDefault() {
  // Read once, so that both candidate lists join the same directory.
  std::error_code cwdError;
  const fs::path base = fs::current_path(cwdError);
  const bool haveBase = !cwdError;

  std::vector<std::string> candidates;
  if (const char* fromEnvironment = std::getenv("NOLARI_CONFIG_PATH");
      fromEnvironment && *fromEnvironment) {
    candidates.emplace_back(fromEnvironment);
  }
  if (haveBase) {
    candidates.push_back((base / "native/config/nolari.json").string());
    candidates.push_back((base / "nolari.json").string());
  }
  candidates.emplace_back("native/config/nolari.json");
  candidates.emplace_back("nolari.json");

  if (auto config = loadFirst<NolariConfig>(candidates,
                                            "Config loaded from: ", "Failed to load config at ")) {
    return *config;
  }

  std::vector<std::string> legacyCandidates;
  if (haveBase) legacyCandidates.push_back((base / "native/config/highlight.json").string());
  legacyCandidates.emplace_back("native/config/highlight.json");
  if (haveBase) legacyCandidates.push_back((base / "highlight.json").string());
  legacyCandidates.emplace_back("highlight.json");

  if (auto legacy = loadFirst<LegacyHighlightConfig>(
          legacyCandidates, "Legacy config loaded from: ", "Failed to load legacy config at ")) {
    NolariConfig config;
    config.highlight.enabled = legacy->highlight.enabled;
    config.highlight.color = legacy->highlight.color;
    config.highlight.opacity = legacy->highlight.opacity;
    config.highlight.padding = legacy->highlight.padding;
    return config;
  }

  NolariLogger::info("Using default config");
  return NolariConfig();
}

}  // namespace nolari
