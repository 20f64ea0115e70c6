// The simulated desktop's control channel: each line of the input applied to a
// desktop loaded from a test scene, with tarnet's focus observer following it
// on virtual time, as a program under test would.

#include <chrono>
#include <cstdlib>
#include <memory>

#include "FuzzSupport.h"
#include "base/LineSink.h"
#include "core/NolariConfig.h"
#include "platform/Platform.h"
#include "platform/sim/Control.h"
#include "platform/sim/ControlChannel.h"
#include "platform/sim/Workspace.h"
#include "support/VirtualRunLoop.h"
#include "tarnet/FocusObserver.h"

namespace {

using namespace nolari;
using namespace std::chrono_literals;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::Platform desktop;
  platform::VirtualRunLoop& loop = fuzz::connectMailCompose(desktop);
  StandardOutputSink output;
  auto observer =
      std::make_shared<FocusObserver>(*desktop.accessibility, *desktop.workspace, loop, output);
  NolariConfig config;
  config.observer.focusRetryDelays = {0.05, 0.2};
  observer->start(config);
  loop.runUntilIdle();

  platform::SimControl control(static_cast<platform::SimWorkspace&>(*desktop.workspace).desktop());
  for (std::string_view line : fuzz::split(fuzz::text(data, size), '\n')) {
    std::string error;
    platform::SimControlChannel::apply(line, control, loop, error);
    loop.runUntilIdle();
  }
  // Past the longest "echo" delay and every retry.
  loop.advance(3601s);
  return 0;
}
