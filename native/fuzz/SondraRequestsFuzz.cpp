// Sondra's standard input: bytes framed into request lines, each decoded and
// served as the worker's main does, on scripted speech and virtual time.
// Framing the input in one read and in many uneven reads must give the same
// lines, and every request must finish exactly once.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

#include "FuzzSupport.h"
#include "base/LineSink.h"
#include "platform/sim/Speech.h"
#include "sondra/RequestHandler.h"
#include "sondra/RequestLoop.h"
#include "support/VirtualRunLoop.h"

namespace {

using namespace nolari;
using namespace std::chrono_literals;

// The worker's wait for a request is unbounded; virtual time past the longest
// scripted installation means the request never ends.
constexpr auto REQUEST_LIMIT = 600s;

std::vector<sondra::FramedLine> frame(const std::vector<std::string_view>& reads) {
  sondra::LineFramer framer;
  std::vector<sondra::FramedLine> lines;
  for (std::string_view bytes : reads) {
    for (auto& line : framer.feed(bytes)) lines.push_back(std::move(line));
  }
  if (auto rest = framer.finish()) lines.push_back(std::move(*rest));
  return lines;
}

bool sameLines(const std::vector<sondra::FramedLine>& a, const std::vector<sondra::FramedLine>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].text != b[i].text || a[i].overlong != b[i].overlong) return false;
  }
  return true;
}

nlohmann::json speechScript() {
  std::ifstream in(std::string(NOLARI_TESTS_DIR) + "/sondra/transcripts/speech.json");
  auto script = nlohmann::json::parse(in, nullptr, false);
  if (!script.is_object()) {
    std::fprintf(stderr, "fuzz: the speech script does not read\n");
    std::abort();
  }
  // Installations that take virtual time, so that their progress lines run too.
  script["locales"]["de-DE"] = {{"status", "supported"},
                                {"install", {{"progress", {0.5, 1.0}}, {"interval_ms", 100}}}};
  return script;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Audio paths in requests are relative, as the seeds write them: the files
  // the script names lie in the working directory.
  const std::string& dir = fuzz::workDirectory();
  for (const char* name : {"hello.wav", "empty.wav", "notes.txt"}) {
    fuzz::writeFile(dir + "/" + name, "audio");
  }
  if (::chdir(dir.c_str()) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::text(data, size);
  const auto lines = frame({input});
  if (!sameLines(lines, frame(fuzz::unevenChunks(input)))) {
    std::fprintf(stderr, "fuzz: the lines depend on how the input was read\n");
    std::abort();
  }

  static const nlohmann::json script = speechScript();
  platform::VirtualRunLoop loop;
  platform::SimSpeech speech(loop, script);
  StandardOutputSink output;
  sondra::RequestHandler handler(speech, loop, output);
  for (const sondra::FramedLine& line : lines) {
    if (!line.overlong && sondra::trimBlanks(line.text).empty()) continue;
    int finished = 0;
    handler.handle(line.overlong ? std::string_view() : sondra::trimBlanks(line.text),
                   [&finished] { ++finished; });
    for (auto waited = 0ms; finished == 0 && waited < REQUEST_LIMIT; waited += 50ms) {
      loop.advance(50ms);
    }
    loop.runUntilIdle();
    if (finished != 1) {
      std::fprintf(stderr, "fuzz: a request finished %d times\n", finished);
      std::abort();
    }
  }
  return 0;
}
