#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "support/VirtualRunLoop.h"

// What the harnesses share: a private directory for the files a program would
// be given, and the cutting of a fuzz input into the pieces a program receives.

namespace nolari::fuzz {

// A directory of this process's own, removed at exit.
const std::string& workDirectory();

// Replaces the file's contents; aborts when it cannot, as the harness would
// otherwise test nothing.
void writeFile(const std::string& path, std::string_view bytes);

// A checked-in test scene, "<name>.json" of native/tests/scenes.
std::string testScene(const std::string& name);

// Connects `desktop` to the simulated desktop on the test scene
// "mail_compose" with a virtual run loop, which it returns; aborts when it
// cannot.
platform::VirtualRunLoop& connectMailCompose(platform::Platform& desktop);

// The input as text.
inline std::string_view text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The pieces between `separator` bytes; an empty input gives none.
std::vector<std::string_view> split(std::string_view bytes, char separator);

// The input cut into reads of uneven sizes (1, 2, 3, ... bytes, starting over
// after 61), so that framers meet every line broken at many places.
std::vector<std::string_view> unevenChunks(std::string_view bytes);

}  // namespace nolari::fuzz
