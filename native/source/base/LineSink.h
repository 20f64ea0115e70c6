#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Where a program object's lines go. Each call is one JSON object, formatted
// as JSONOutput formats it and handed on as one whole line; `main` decides
// where lines end up (standard output), tests record them.

namespace nolari {

class LineSink {
 public:
  virtual ~LineSink() = default;

  void emit(const nlohmann::json& object);
  // A copy of `payload` whose "type" is `type`.
  void emitTyped(std::string_view type, const nlohmann::json& payload);
  // {"error": "<message>"} with exactly one space after the colon.
  void emitError(std::string_view message);

  // One formatted line, its newline included. Called from any thread: an
  // implementation keeps each line whole and the lines in the order given.
  virtual void writeLine(std::string line) = 0;
};

// Lines to standard output, serialised with every other writer of it.
class StandardOutputSink final : public LineSink {
 public:
  void writeLine(std::string line) override;
};

}  // namespace nolari
