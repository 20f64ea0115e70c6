#include <unistd.h>

#include <csignal>
#include <future>

#include "base/LineSink.h"
#include "base/NolariLogger.h"
#include "platform/Platform.h"
#include "sondra/RequestHandler.h"
#include "sondra/RequestLoop.h"

// The transcription worker: requests on standard input, one JSON object per
// line, answered strictly one after another on standard output.

using namespace nolari;

int main() {
  // A parent that stops reading must not kill the worker in the middle of a line.
  std::signal(SIGPIPE, SIG_IGN);
  NolariLogger::setComponent("Sondra");
  NolariLogger::setLogToFile(true);

  platform::Platform platform;
  std::string error;
  if (!platform::connectPlatform(platform, {.speech = true},
                                 platform::PlatformEnvironment::fromProcess(), error)) {
    NolariLogger::error(error);
    return 1;
  }

  StandardOutputSink output;
  output.emit(sondra::RequestHandler::startupLine());

  sondra::RequestHandler handler(*platform.speech, *platform.runLoop, output);
  platform.runLoop->startThread("sondra.requests", [&] {
    sondra::RequestLoop::run(STDIN_FILENO, [&](const sondra::FramedLine& line) {
      std::promise<void> finished;
      // A line too long to keep decodes as nothing, and is answered as such.
      handler.handle(line.overlong ? std::string_view() : sondra::trimBlanks(line.text),
                     [&finished] { finished.set_value(); });
      finished.get_future().wait();
    });
    // End of input, and the last request is finished.
    platform.runLoop->stop();
  });
  platform.runLoop->run();
  return 0;
}
