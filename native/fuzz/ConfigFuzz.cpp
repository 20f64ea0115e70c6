// The configuration file: the decoder and the legacy one on the same bytes,
// and a decoded configuration taken up the way the programs take it: the
// agent's space-hold delay and request time-out, the focus observer's delays.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "FuzzSupport.h"
#include "ambrel/AgentFixture.h"
#include "ambrel/agent/Ambrel.h"
#include "base/LineSink.h"
#include "core/NolariConfig.h"
#include "platform/Platform.h"
#include "support/VirtualRunLoop.h"
#include "tarnet/FocusObserver.h"

namespace {

using namespace nolari;
using namespace std::chrono_literals;

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
  }
}

void takeUp(const NolariConfig& config) {
  platform::Platform desktop;
  platform::VirtualRunLoop& loop = fuzz::connectMailCompose(desktop);
  test::FakeEventTaps taps;
  test::DiscardingSink discarded;
  auto agent = ambrel::Ambrel::create(*desktop.accessibility, *desktop.workspace, taps,
                                      *desktop.windowing, loop, config, discarded);
  auto observer =
      std::make_shared<FocusObserver>(*desktop.accessibility, *desktop.workspace, loop, discarded);
  observer->start(config);
  // Past the longest retry delay.
  loop.advance(25h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::text(data, size);
  const auto decoded = NolariConfig::decode(bytes);
  require(decoded.record.has_value() == decoded.errorDescription.empty(),
          "a decode gave both or neither of a record and a description");
  if (decoded.record) {
    const auto& highlight = decoded.record->highlight;
    (void)highlight.nsColor();
    const double opacity = highlight.debugOpacity();
    require(opacity >= 0 && opacity <= 1, "the debug opacity is outside 0...1");
    require(highlight.debugPadding() >= 0, "the debug padding is negative");
    takeUp(*decoded.record);
  }
  const auto legacy = LegacyHighlightConfig::decode(bytes);
  require(legacy.record.has_value() == legacy.errorDescription.empty(),
          "a legacy decode gave both or neither of a record and a description");
  return 0;
}
