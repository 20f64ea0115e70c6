// The keyboard tap's callback for a key that matches nothing, beside an empty
// callback called the same way in the same run, with the heap allocations of
// each counted (operator new is replaced in this program).

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "AgentFixture.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

namespace {

std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace nolari;
using platform::TapAnswer;
using platform::TapEvent;

constexpr int ROUNDS = 10;

struct Figure {
  double nanosPerEvent;
  long allocations;
};

Figure measure(const platform::TapCallback& callback, long events) {
  // Keys that match no hotkey, with modifiers, as a user types.
  const TapEvent keys[4] = {test::keyDown(0), test::keyDown(7, platform::EventFlags::command),
                            test::keyUp(0), test::keyDown(14, platform::EventFlags::shift)};
  long swallowed = 0;
  const long before = allocations.load();
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < events; ++i) swallowed += callback(keys[i & 3]) == TapAnswer::swallow;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const long allocated = allocations.load() - before;
  if (swallowed) std::abort();
  return {std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(events),
          allocated};
}

}  // namespace

int main(int argc, char** argv) {
  const long events = argc > 1 ? std::atol(argv[1]) : 20'000'000;
  auto loop = std::make_unique<platform::VirtualRunLoop>();
  platform::VirtualRunLoop& mainLoop = *loop;
  test::SimPlatform sim(nlohmann::json{{"trusted", true}}, std::move(loop));
  test::FakeEventTaps taps;
  test::FakeWindowing windowing;
  NolariConfig config;
  config.dictation.spaceHoldEnabled = true;
  test::DiscardingSink discarded;
  auto agent = ambrel::Ambrel::create(sim.accessibility(), sim.workspace(), taps, windowing,
                                      mainLoop, config, discarded);
  const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  agent->start(input);
  ::close(input);
  agent->consumeCommandData(R"({"type":"set_shortcuts","write_accel":"command+shift+x"})"
                            "\n"
                            R"({"type":"dictation_set_hotkey","command_accel":"control+option+d"})"
                            "\n");
  mainLoop.runUntilIdle();

  const platform::TapCallback empty = [](const TapEvent&) { return TapAnswer::pass; };
  measure(taps.keyboard->callback, events / 10);  // warm-up
  // Rounds taken in turn; the quickest of each stands, being the least
  // disturbed by other work on the machine. Allocations add up.
  Figure baseline{1e300, 0}, agentFigure{1e300, 0};
  for (int round = 0; round < ROUNDS; ++round) {
    for (auto [callback, figure] :
         {std::pair{&empty, &baseline}, std::pair{&taps.keyboard->callback, &agentFigure}}) {
      const Figure got = measure(*callback, events / ROUNDS);
      figure->nanosPerEvent = std::min(figure->nanosPerEvent, got.nanosPerEvent);
      figure->allocations += got.allocations;
    }
  }
  std::printf(
      "key callback, non-matching key: %.2f ns/event (best of %d rounds), %ld allocations in %ld "
      "events\n",
      agentFigure.nanosPerEvent, ROUNDS, agentFigure.allocations, events);
  std::printf("empty callback (baseline):      %.2f ns/event, %ld allocations\n",
              baseline.nanosPerEvent, baseline.allocations);
  std::printf("ratio: %.2fx the empty callback\n",
              agentFigure.nanosPerEvent / baseline.nanosPerEvent);
  return agentFigure.allocations == 0 ? 0 : 1;
}
