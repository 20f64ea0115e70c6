// Ambrel's standard input: bytes framed into command lines and handled by the
// agent on the simulated desktop, virtual time and recording taps, followed by
// the keys that the commands' hotkeys and space hold react to. Framing in one
// read and in many uneven reads must give the same lines.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "FuzzSupport.h"
#include "ambrel/AgentFixture.h"
#include "ambrel/agent/Ambrel.h"
#include "platform/Platform.h"
#include "support/VirtualRunLoop.h"

namespace {

using namespace nolari;
using namespace std::chrono_literals;
namespace Flags = platform::EventFlags;

constexpr platform::KeyCode SPACE = 49, X = 7;

std::vector<std::string> frame(const std::vector<std::string_view>& reads) {
  ambrel::CommandFramer framer;
  std::vector<std::string> lines;
  for (std::string_view bytes : reads) {
    framer.feed(bytes, [&lines](std::string_view line) { lines.emplace_back(line); });
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::text(data, size);
  const auto chunks = fuzz::unevenChunks(input);
  if (frame({input}) != frame(chunks)) {
    std::fprintf(stderr, "fuzz: the command lines depend on how the input was read\n");
    std::abort();
  }

  platform::Platform desktop;
  platform::VirtualRunLoop& loop = fuzz::connectMailCompose(desktop);
  test::FakeEventTaps taps;
  test::DiscardingSink discarded;
  auto agent = ambrel::Ambrel::create(*desktop.accessibility, *desktop.workspace, taps,
                                      *desktop.windowing, loop, NolariConfig(), discarded);
  // The command reader meets the end of its input at once; commands come below.
  const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  agent->start(nothing);
  loop.runUntilIdle();
  ::close(nothing);

  for (std::string_view chunk : chunks) agent->consumeCommandData(chunk);
  loop.runUntilIdle();
  if (taps.keyboard) {
    const auto& key = taps.keyboard->callback;
    for (std::uint64_t flags : {std::uint64_t{0}, Flags::command | Flags::shift}) {
      key({platform::TapEvent::Type::keyDown, {X, flags, false}, {}});
      key({platform::TapEvent::Type::keyUp, {X, flags, false}, {}});
    }
    key({platform::TapEvent::Type::keyDown, {SPACE, 0, false}, {}});
    loop.advance(1s);
    key({platform::TapEvent::Type::keyDown, {SPACE, 0, true}, {}});
    key({platform::TapEvent::Type::keyUp, {SPACE, 0, false}, {}});
  }
  // The blob animates for as long as a state such as recording lasts: it is
  // sent back to idle, so that the long wait below draws no frames.
  agent->consumeCommandData("\n{\"type\":\"action_blob_state\",\"state\":\"idle\"}\n");
  loop.advance(1s);
  // Past the tap check and the longest space-hold delay.
  loop.advance(25h);
  return 0;
}
