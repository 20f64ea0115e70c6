#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The parent's commands: bytes cut into lines, lines decoded into command
// objects, and the typed reading of a command's members. Each step is a small
// function of its own so that it can be tested with a string in.

namespace nolari::ambrel {

// A line longer than this is dropped up to its line feed, with one log line:
// without a limit one writer that never ends its line would take all memory.
// Commands are a few hundred bytes; a command list with long texts stays far
// below it.
inline constexpr std::size_t MAX_COMMAND_LINE_BYTES = 8u * 1024 * 1024;

// Cuts a byte stream into command lines at each line feed (the only
// separator). A line that is not UTF-8 is dropped; the others are trimmed of
// Unicode white space and line breaks, carriage return included, and handed
// on unless empty. An unterminated rest stays buffered until its line feed.
class CommandFramer {
 public:
  using LineHandler = std::function<void(std::string_view line)>;
  void feed(std::string_view bytes, const LineHandler& onLine);

 private:
  void finishLine(const LineHandler& onLine);

  std::string partial_;
  bool overlong_ = false;
};

// The command object of a line: a JSON object whose "type" is a string.
// Anything else decodes to nothing.
std::optional<nlohmann::json> decodeCommand(std::string_view line);

// A rectangle of the wire, bottom-left screen coordinates.
struct WireRect {
  double x = 0, y = 0, w = 0, h = 0;
  friend bool operator==(const WireRect&, const WireRect&) = default;
};

// A command's members read with their JSON type. A member that is absent, null
// or of another type counts as absent.
namespace CommandPayload {

std::optional<std::string> string(const nlohmann::json& command, std::string_view key);
std::optional<double> number(const nlohmann::json& command, std::string_view key);
std::optional<bool> boolean(const nlohmann::json& command, std::string_view key);
// An object whose values are all numbers; a missing "x", "y", "w" or "h" is 0.
std::optional<WireRect> rect(const nlohmann::json& command, std::string_view key);

}  // namespace CommandPayload

}  // namespace nolari::ambrel
