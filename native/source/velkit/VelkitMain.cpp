#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "base/LineSink.h"
#include "base/NolariLogger.h"
#include "base/TextEncoding.h"
#include "core/AXReadCache.h"
#include "platform/Platform.h"
#include "velkit/VelkitCommands.h"

namespace {

// Each read costs a round trip to the target application, so the command's
// repeated reads of one element are answered from memory.
bool connect(nolari::platform::Platform& platform, std::string& error) {
  if (!nolari::platform::connectPlatform(platform, {.desktop = true},
                                         nolari::platform::PlatformEnvironment::fromProcess(),
                                         error)) {
    return false;
  }
  platform.accessibility = std::make_unique<nolari::AXReadCache>(std::move(platform.accessibility));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  nolari::NolariLogger::setComponent("Velkit");
  nolari::NolariLogger::setLogToFile(true);
  // A parent that stops reading must not kill the run before its log line.
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> args;
  for (int i = 1; i < argc && i <= 2; ++i) {
    args.push_back(nolari::TextEncoding::repairUTF8(argv[i]));
  }
  nolari::StandardOutputSink output;
  return nolari::Velkit::run(args, connect, output);
}
