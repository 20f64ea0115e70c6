// Tarnet, the focus observer: reports on standard output, one line per change,
// which element has keyboard focus in the frontmost application. It reads
// nothing and runs until the parent application ends it.

#include <csignal>
#include <memory>
#include <string>

#include "base/LineSink.h"
#include "base/NolariLogger.h"
#include "core/NolariConfig.h"
#include "platform/Platform.h"
#include "tarnet/FocusObserver.h"

int main() {
  using namespace nolari;
  // A parent that stops reading must not end the program; lost lines are ignored.
  std::signal(SIGPIPE, SIG_IGN);
  NolariLogger::setComponent("Tarnet");

  platform::Platform desktop;
  std::string error;
  if (!platform::connectPlatform(desktop, {.desktop = true},
                                 platform::PlatformEnvironment::fromProcess(), error)) {
    NolariLogger::error(error);
    return 2;
  }

  const NolariConfig config = NolariConfig::loadOrDefault();
  StandardOutputSink output;
  output.emitTyped("status", {{"event", "started"}});
  if (!desktop.accessibility->isProcessTrusted(true)) {
    // Carry on: focus changes are then simply not reported.
    output.emitError("Accessibility permissions not granted");
  }

  auto observer = std::make_shared<FocusObserver>(*desktop.accessibility, *desktop.workspace,
                                                  *desktop.runLoop, output);
  observer->start(config);
  for (;;) desktop.runLoop->run();
}
