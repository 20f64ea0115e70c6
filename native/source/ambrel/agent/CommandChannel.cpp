#include "ambrel/agent/CommandChannel.h"

#include <unistd.h>

#include <cerrno>

#include "base/JSONInput.h"
#include "base/NolariLogger.h"
#include "base/TextEncoding.h"
#include "core/UnicodeText.h"

namespace nolari::ambrel {

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;

}  // namespace

std::shared_ptr<CommandChannel> CommandChannel::create(platform::RunLoop& loop,
                                                       CommandHandler onCommand) {
  return std::shared_ptr<CommandChannel>(new CommandChannel(loop, std::move(onCommand)));
}

// A thread of its own blocks in read, so an idle agent costs nothing.
void CommandChannel::start(int fd) {
  loop_.startThread("nolari.commands", [weak = weak_from_this(), fd] {
    std::string buffer(READ_CHUNK, '\0');
    for (;;) {
      const ssize_t got = ::read(fd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return;
      auto self = weak.lock();
      if (!self) return;
      self->consume(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
  });
}

void CommandChannel::consume(std::string_view bytes) {
  framer_.feed(bytes, [this](std::string_view line) {
    if (auto command = decodeCommand(line)) onCommand_(*command);
  });
}

void CommandFramer::feed(std::string_view bytes, const LineHandler& onLine) {
  while (!bytes.empty()) {
    const std::size_t feedAt = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, feedAt);
    if (!overlong_) {
      if (partial_.size() + piece.size() > MAX_COMMAND_LINE_BYTES) {
        // Said once, when the limit is passed: the line feed may never come.
        NolariLogger::warn("command line longer than " + std::to_string(MAX_COMMAND_LINE_BYTES) +
                           " bytes dropped");
        overlong_ = true;
        std::string().swap(partial_);
      } else {
        partial_.append(piece);
      }
    }
    if (feedAt == std::string_view::npos) return;
    finishLine(onLine);
    bytes.remove_prefix(feedAt + 1);
  }
}

void CommandFramer::finishLine(const LineHandler& onLine) {
  const bool dropped = overlong_;
  overlong_ = false;
  std::string line;
  line.swap(partial_);
  if (dropped || !TextEncoding::isValidUTF8(line)) return;
  const std::string trimmed = UnicodeText::trimmingWhitespace(line);
  if (!trimmed.empty()) onLine(trimmed);
}

std::optional<nlohmann::json> decodeCommand(std::string_view line) {
  auto command = JSONInput::parse(line);
  if (!command || !command->is_object()) return std::nullopt;
  auto type = command->find("type");
  if (type == command->end() || !type->is_string()) return std::nullopt;
  return command;
}

nlohmann::json rectJson(const platform::Rect& rect) {
  return {
      {"x", rect.origin.x}, {"y", rect.origin.y}, {"w", rect.size.width}, {"h", rect.size.height}};
}

namespace CommandPayload {

namespace {

const nlohmann::json* member(const nlohmann::json& command, std::string_view key) {
  auto found = command.find(key);
  return found == command.end() ? nullptr : &*found;
}

}  // namespace

std::optional<std::string> string(const nlohmann::json& command, std::string_view key) {
  const nlohmann::json* value = member(command, key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<double> number(const nlohmann::json& command, std::string_view key) {
  const nlohmann::json* value = member(command, key);
  if (!value || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<bool> boolean(const nlohmann::json& command, std::string_view key) {
  const nlohmann::json* value = member(command, key);
  if (!value || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

std::optional<WireRect> rect(const nlohmann::json& command, std::string_view key) {
  const nlohmann::json* value = member(command, key);
  if (!value || !value->is_object()) return std::nullopt;
  for (const auto& item : value->items()) {
    if (!item.value().is_number()) return std::nullopt;
  }
  auto side = [&](const char* name) { return value->value(name, 0.0); };
  return WireRect{side("x"), side("y"), side("w"), side("h")};
}

}  // namespace CommandPayload

}  // namespace nolari::ambrel
