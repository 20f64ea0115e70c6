#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Reading JSON that comes from outside (request lines, scenes, configuration,
// control lines), which may be hostile: the library's own checks, plus two it
// leaves to the caller.

namespace nolari::JSONInput {

// Deep enough for any document the programs are given, shallow enough that
// every recursive walk over the result, and its destruction, stays far inside
// the stack; refusing at this depth also ends a line of a million "[" at once.
inline constexpr int MAX_DEPTH = 256;

// The longest line a program takes from its parent: far above any real
// command or request (a command list of 270,000 items is about 8 MB), and
// still a bound on what one writer that never ends its line can take.
inline constexpr std::size_t MAX_LINE_BYTES = 64u * 1024 * 1024;

// The document in `text`, or nothing with `error` saying why in words fit for
// a message: not JSON (the library's message without its exception id),
// nested deeper than MAX_DEPTH, or holding a NUL byte (the library would end
// the text there and take what came before it).
template <class Json = nlohmann::json>
std::optional<Json> parse(std::string_view text, std::string& error);

// The same where the reason is not needed.
template <class Json = nlohmann::json>
std::optional<Json> parse(std::string_view text) {
  std::string ignored;
  return parse<Json>(text, ignored);
}

// A library message without its "[json.exception.parse_error.101] " prefix and
// with any bytes it quotes from the input made valid UTF-8.
std::string readableMessage(std::string_view message);

}  // namespace nolari::JSONInput
