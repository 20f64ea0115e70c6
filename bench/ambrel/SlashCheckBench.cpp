// The slash-command check over a focused field of a megabyte on the simulated
// desktop, reads of the value included: the command at the end, no slash
// anywhere, and text of emoji and accented letters (two UTF-16 units and two
// UTF-8 bytes a character), each timed over a number of runs.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "ambrel/agent/SlashCommand.h"
#include "support/SimPlatform.h"

namespace {

using namespace nolari;

constexpr std::size_t FIELD_BYTES = 1 << 20;
constexpr int RUNS = 40;

std::string repeated(const std::string& unit, const std::string& tail) {
  std::string text;
  text.reserve(FIELD_BYTES + tail.size());
  while (text.size() + unit.size() + tail.size() <= FIELD_BYTES) text += unit;
  text += tail;
  return text;
}

// Milliseconds of each run, sorted.
std::vector<double> time(const std::string& value, bool expectCommand) {
  nlohmann::json scene = nlohmann::json::parse(R"({
    "screens": [{"frame": [0, 0, 1440, 900], "visible_frame": [0, 0, 1440, 875]}],
    "applications": [{"pid": 700, "focused": "field", "windows": [{
      "id": "window", "AXRole": "AXWindow", "frame": [0, 0, 800, 600],
      "children": [{"id": "field", "AXRole": "AXTextArea", "frame": [10, 10, 700, 500],
                    "bounds_for_range": [{"rect": [10, 10, 8, 17]}]}]}]}]})");
  scene["applications"][0]["windows"][0]["children"][0]["AXValue"] = value;
  test::SimPlatform sim(scene);
  ambrel::SlashCommandDetector detector(sim.accessibility(), sim.workspace(),
                                        sim.accessibility().createSystemWide());
  std::vector<double> millis;
  for (int run = 0; run < RUNS; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const auto found = detector.check();
    millis.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (found.has_value() != expectCommand) std::abort();
  }
  std::sort(millis.begin(), millis.end());
  return millis;
}

}  // namespace

int main() try {
  const struct {
    const char* name;
    std::string value;
    bool command;
  } cases[] = {
      {"ASCII words, /summarize at the end", repeated("lorem ipsum ", "/summarize"), true},
      {"no slash anywhere", repeated("lorem ipsum ", "dolor"), false},
      {"emoji and accents, /résumé at the end", repeated("👋🏽 café ", "/résumé"), true},
  };
  bool fast = true;
  for (const auto& c : cases) {
    const auto millis = time(c.value, c.command);
    const double p50 = millis[millis.size() / 2];
    const double worst = millis.back();
    std::printf("slash check, 1 MiB field, %s: p50 %.2f ms, max %.2f ms (%d runs)\n", c.name, p50,
                worst, RUNS);
    fast = fast && worst < 20.0;
  }
  return fast ? 0 : 1;
} catch (const std::exception& e) {
  std::fprintf(stderr, "slash bench: %s\n", e.what());
  return 2;
}
