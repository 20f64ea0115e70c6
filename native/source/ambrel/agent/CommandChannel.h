#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/Geometry.h"
#include "platform/RunLoop.h"

// The parent's commands: the reader of the command input, bytes cut into
// lines, lines decoded into command objects, and the typed reading of a
// command's members. Each step is a small function of its own so that it can
// be tested with a string in.

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

// The command input read on a thread of its own, "nolari.commands": each
// decoded command is handed over on that thread, one after another, in the
// order the lines arrive. At the end of input the thread ends and the agent
// goes on.
class CommandChannel : public std::enable_shared_from_this<CommandChannel> {
 public:
  using CommandHandler = std::function<void(const nlohmann::json& command)>;

  static std::shared_ptr<CommandChannel> create(platform::RunLoop& loop, CommandHandler onCommand);

  // Starts the reader thread on `fd`; once.
  void start(int fd);
  // Bytes as they were read; on the reader's thread, or in tests directly.
  void consume(std::string_view bytes);

 private:
  CommandChannel(platform::RunLoop& loop, CommandHandler onCommand)
      : loop_(loop), onCommand_(std::move(onCommand)) {}

  platform::RunLoop& loop_;
  const CommandHandler onCommand_;
  // The reader's thread only.
  CommandFramer framer_;
};

// The command object of a line: a JSON object whose "type" is a string.
// Anything else decodes to nothing.
std::optional<nlohmann::json> decodeCommand(std::string_view line);

// A rectangle of the wire, bottom-left screen coordinates.
struct WireRect {
  double x = 0, y = 0, w = 0, h = 0;
  friend bool operator==(const WireRect&, const WireRect&) = default;
};

// A rectangle as events carry it.
nlohmann::json rectJson(const platform::Rect& rect);

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
