// The command list with text measured by the engine that draws it: the time
// from a showing's start to its first frame for 8 and for 100,000 items,
// beside measuring one trigger, and one arrow key's handling (the focus moved
// and the frame drawn again) on the 100,000, beside an empty key handler.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AgentFixture.h"
#include "ambrel/panels/CommandListPanel.h"
#include "platform/cairo/TextMeasure.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

namespace {

using namespace nolari;
using Clock = std::chrono::steady_clock;

constexpr int ROUNDS = 5;
constexpr int KEYS = 20'000;

// The first frame of each showing is stamped.
class TimedWindow : public test::FakeWindow {
 public:
  void setContent(platform::DisplayList list) override {
    if (!firstFrame) firstFrame = Clock::now();
    FakeWindow::setContent(std::move(list));
  }
  std::optional<Clock::time_point> firstFrame;
};

class MeasuringWindowing : public test::FakeWindowing {
 public:
  std::shared_ptr<platform::OverlayWindow> createWindow(const platform::WindowOptions& options,
                                                        PointerHandler handler) override {
    auto made = std::make_shared<TimedWindow>();
    made->rect = options.frame;
    made->pointer = std::move(handler);
    timed = made;
    return made;
  }
  platform::TextMeasurer& textMeasurer() override { return pango; }

  platform::PangoTextMeasurer pango;
  std::shared_ptr<TimedWindow> timed;
};

std::vector<ambrel::CommandListItem> items(int count) {
  std::vector<ambrel::CommandListItem> all;
  all.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    // Every trigger narrower than the column's cap: each one is measured.
    std::string n = std::to_string(i);
    all.push_back({"cmd" + n, "Preview of command " + n, "full text " + n});
  }
  return all;
}

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

int run() {
  auto loop = std::make_unique<platform::VirtualRunLoop>();
  platform::VirtualRunLoop& mainLoop = *loop;
  test::SimPlatform sim("mail_compose", std::move(loop));
  MeasuringWindowing windowing;
  test::DiscardingSink discarded;
  auto list = ambrel::CommandListPanel::create(windowing, sim.workspace(), mainLoop, discarded, 0);
  const platform::Rect caret{{200, 500}, {2, 18}};

  auto firstFrame = [&](const std::vector<ambrel::CommandListItem>& shown) {
    double best = 1e300;
    for (int round = 0; round < ROUNDS; ++round) {
      auto copy = shown;
      list->hide(false);
      windowing.timed->firstFrame.reset();
      const auto start = Clock::now();
      list->show(std::move(copy), {}, caret);
      best = std::min(best, micros(*windowing.timed->firstFrame - start));
    }
    return best;
  };
  // One trigger laid out by the engine: the unit a showing's cost is made of.
  double oneMeasure = 1e300;
  for (int round = 0; round < ROUNDS * 20; ++round) {
    platform::TextRun run{.text = "/cmd" + std::to_string(round),
                          .fontFamily = "Fira Code,monospace",
                          .size = 12,
                          .weight = platform::FontWeight::medium};
    const auto start = Clock::now();
    windowing.pango.measure(run, 90);
    oneMeasure = std::min(oneMeasure, micros(Clock::now() - start));
  }
  const auto eight = items(8);
  const auto many = items(100'000);
  firstFrame(eight);  // warm-up: fonts loaded
  const double eightFigure = firstFrame(eight);
  const double manyFigure = firstFrame(many);

  const platform::KeyHandler empty = [](const platform::KeyEvent&) {};
  auto perKey = [&](const platform::KeyHandler& handler) {
    const auto start = Clock::now();
    for (int i = 0; i < KEYS; ++i)
      handler({i % 2 ? platform::KeyCode{126} : platform::KeyCode{125}, 0, false});
    return micros(Clock::now() - start) / KEYS;
  };
  const platform::KeyHandler listKeys = [&](const platform::KeyEvent& key) { list->keyDown(key); };
  double keyFigure = 1e300;
  double emptyFigure = 1e300;
  for (int round = 0; round < ROUNDS; ++round) {
    emptyFigure = std::min(emptyFigure, perKey(empty));
    keyFigure = std::min(keyFigure, perKey(listKeys));
  }
  if (!list->isListVisible()) return 1;

  std::printf("one trigger measured (baseline):        %9.1f us\n", oneMeasure);
  std::printf("show 8 items, to first frame:           %9.1f us  (%.1fx one measure)\n",
              eightFigure, eightFigure / oneMeasure);
  std::printf("show 100,000 items, to first frame:     %9.1f us  (%.1fx one measure)\n", manyFigure,
              manyFigure / oneMeasure);
  std::printf(
      "arrow key on 100,000 items, per press:  %9.2f us  (%.1fx an empty handler, %.3f us)\n",
      keyFigure, keyFigure / emptyFigure, emptyFigure);
  return keyFigure < 2000 ? 0 : 1;
}

}  // namespace

int main() {
  try {
    return run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "command list bench: %s\n", error.what());
    return 1;
  }
}
