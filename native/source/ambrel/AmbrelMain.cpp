// Ambrel, the overlay agent: commands from the parent on standard input, one
// JSON object per line; events on standard output. It keeps running after its
// input ends, until the parent ends it.

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "ambrel/agent/Ambrel.h"
#include "ambrel/agent/HoverHighlight.h"
#include "base/LineSink.h"
#include "base/NolariLogger.h"
#include "core/NolariConfig.h"
#include "platform/Platform.h"

int main() {
  using namespace nolari;
  // A parent that stops reading must not end the agent; lost lines are ignored.
  std::signal(SIGPIPE, SIG_IGN);
  NolariLogger::setComponent("Ambrel");

  platform::Platform desktop;
  std::string error;
  if (!platform::connectPlatform(desktop, {.desktop = true, .eventTaps = true, .windows = true},
                                 platform::PlatformEnvironment::fromProcess(), error)) {
    NolariLogger::error(error);
    return 2;
  }

  const NolariConfig config = NolariConfig::loadOrDefault();
  ambrel::AgentSettings settings;
  if (const char* value = std::getenv(ambrel::HighlightPolicy::DEBUG_BOX_ENVIRONMENT)) {
    settings.hoverDebugBoxVisible = value;
  }
  StandardOutputSink output;
  auto agent =
      ambrel::Ambrel::create(*desktop.accessibility, *desktop.workspace, *desktop.eventTaps,
                             *desktop.windowing, *desktop.runLoop, config, output, settings);
  agent->start(STDIN_FILENO);
  for (;;) desktop.runLoop->run();
}
