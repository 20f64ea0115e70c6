#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ambrel/agent/Ambrel.h"
#include "base/LineSink.h"
#include "platform/EventTaps.h"
#include "platform/Windowing.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

// A recording fake of the event taps: the test calls the callbacks the agent
// gave, and reads what the agent asked of each tap.

namespace nolari::test {

class FakeTap : public platform::EventTap {
 public:
  explicit FakeTap(platform::TapCallback callback) : callback(std::move(callback)) {}
  void setEnabled(bool on) override { enabled = on; }
  bool isEnabled() const override { return enabled; }
  void setRepeatsSwallowed(platform::KeyCode key, bool on) override {
    std::lock_guard lock(mutex);
    repeatsSwallowed.push_back({key, on});
  }
  void run() override { ran = true; }

  const platform::TapCallback callback;
  std::atomic<bool> enabled{false};
  std::atomic<bool> ran{false};
  std::mutex mutex;
  std::vector<std::pair<platform::KeyCode, bool>> repeatsSwallowed;
};

class FakeEventTaps : public platform::EventTaps {
 public:
  std::shared_ptr<platform::EventTap> createKeyboardTap(platform::TapCallback callback) override {
    if (refuseKeyboard) return nullptr;
    return keyboard = std::make_shared<FakeTap>(std::move(callback));
  }
  std::shared_ptr<platform::EventTap> createMouseTap(platform::TapCallback callback) override {
    if (refuseMouse) return nullptr;
    return mouse = std::make_shared<FakeTap>(std::move(callback));
  }

  bool refuseKeyboard = false;
  bool refuseMouse = false;
  std::shared_ptr<FakeTap> keyboard;
  std::shared_ptr<FakeTap> mouse;
};

// A recording fake of the windowing area: the newest window (the blob's) and
// every window by its name, text measured at a fixed width, user defaults in
// memory.
class FakeWindow : public platform::OverlayWindow {
 public:
  void setFrame(platform::Rect value) override { rect = value; }
  platform::Rect frame() const override { return rect; }
  void setAlpha(double value) override { opacity = value; }
  double alpha() const override { return opacity; }
  void orderFront() override { visible = true; }
  void orderOut() override { visible = false; }
  bool isVisible() const override { return visible; }
  void setContent(platform::DisplayList list) override {
    content = std::move(list);
    ++draws;
  }
  void setShape(std::vector<platform::Rect> parts) override { shape = std::move(parts); }
  void setIgnoresPointer(bool) override {}
  void setAccessibility(const std::string& label, const std::string&) override { name = label; }
  bool takeKeyboard(platform::KeyHandler handler) override {
    if (!visible) return false;
    keys = std::move(handler);
    return true;
  }
  void releaseKeyboard() override { keys = nullptr; }
  bool holdsKeyboard() const override { return keys != nullptr; }

  platform::Rect rect{};
  double opacity = 1;
  bool visible = false;
  platform::DisplayList content;
  std::vector<platform::Rect> shape;
  int draws = 0;
  std::string name;
  platform::Windowing::PointerHandler pointer;
  platform::KeyHandler keys;
};

// Every character five points wide and lines 13 high.
class FixedMeasurer : public platform::TextMeasurer {
 public:
  platform::Size measure(const platform::TextRun& run, double maxWidth) override {
    return {std::min(maxWidth, 5.0 * static_cast<double>(run.text.size())), 13};
  }
};

class FakeDefaults : public platform::UserDefaults {
 public:
  std::optional<bool> boolForKey(const std::string& key) override {
    auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional(it->second);
  }
  void setBool(const std::string& key, bool value) override { values[key] = value; }
  // The one-time notice was shown already.
  std::map<std::string, bool> values{{ambrel::ActionBlobWindow::MIGRATION_KEY, true}};
};

class FakeWindowing : public platform::Windowing {
 public:
  std::shared_ptr<platform::OverlayWindow> createWindow(const platform::WindowOptions& options,
                                                        PointerHandler handler) override {
    window = std::make_shared<FakeWindow>();
    window->rect = options.frame;
    window->pointer = std::move(handler);
    named[options.name] = window;
    return window;
  }
  platform::TextMeasurer& textMeasurer() override { return measurer; }
  ObserverToken addScreenChangeObserver(Notice notice) override {
    screenChange = std::move(notice);
    return 1;
  }
  ObserverToken addWakeObserver(Notice notice) override {
    wake = std::move(notice);
    return 2;
  }
  void removeObserver(ObserverToken token) override { mouseDowns.erase(token); }
  platform::UserDefaults& userDefaults() override { return defaults; }
  ObserverToken addMouseDownMonitor(MouseDownHandler handler) override {
    mouseDowns[++lastToken] = std::move(handler);
    return lastToken;
  }
  platform::DisplayOptions displayOptions() override { return options; }
  bool blendsTranslucency() override { return blends; }
  ObserverToken addTranslucencyObserver(Notice notice) override {
    translucency = std::move(notice);
    return 0;
  }

  std::shared_ptr<FakeWindow> window;
  std::map<std::string, std::shared_ptr<FakeWindow>> named;
  FixedMeasurer measurer;
  FakeDefaults defaults;
  Notice screenChange, wake, translucency;
  bool blends = true;
  std::map<ObserverToken, MouseDownHandler> mouseDowns;
  ObserverToken lastToken = 2;
  platform::DisplayOptions options;
};

// The agent's event lines, each with its "type", in the order written.
class EventRecorder final : public LineSink {
 public:
  void writeLine(std::string line) override {
    auto parsed = nlohmann::json::parse(line);
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(parsed));
  }
  // The lines written since the last call.
  std::vector<nlohmann::json> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<nlohmann::json> lines_;
};

// Lines nobody reads, for benchmarks and the fuzzer.
class DiscardingSink final : public LineSink {
 public:
  void writeLine(std::string) override {}
};

// The agent on a simulated desktop and virtual time, with fake taps and, unless
// a test names the desktop's own, the recording fake of the windowing area.
// `start` gives it a command input that ends at once; commands come through
// `command`.
class AgentTest : public testing::Test {
 protected:
  explicit AgentTest(const nlohmann::json& scene) : sim_(scene, makeLoop()) {}
  explicit AgentTest(const char* sceneName) : sim_(sceneName, makeLoop()) {}

  void start(const NolariConfig& config = NolariConfig(),
             platform::Windowing* windowing = nullptr) {
    agent_ = ambrel::Ambrel::create(sim_.accessibility(), sim_.workspace(), taps_,
                                    windowing ? *windowing : windowing_, *loop_, config, recorder_);
    int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    agent_->start(input);
    loop_->runUntilIdle();
    ::close(input);
  }

  std::vector<nlohmann::json> taken() { return recorder_.take(); }
  void command(const std::string& line) { agent_->consumeCommandData(line + "\n"); }
  void advance(platform::Duration by) { loop_->advance(by); }

  platform::VirtualRunLoop* loop_ = nullptr;
  SimPlatform sim_;
  FakeEventTaps taps_;
  FakeWindowing windowing_;
  EventRecorder recorder_;
  std::shared_ptr<ambrel::Ambrel> agent_;

 private:
  std::unique_ptr<platform::RunLoop> makeLoop() {
    auto loop = std::make_unique<platform::VirtualRunLoop>();
    loop_ = loop.get();
    return loop;
  }
};

inline std::vector<nlohmann::json> lines(std::initializer_list<const char*> texts) {
  std::vector<nlohmann::json> parsed;
  for (const char* text : texts) parsed.push_back(nlohmann::json::parse(text));
  return parsed;
}

inline platform::TapEvent keyDown(platform::KeyCode code, std::uint64_t flags = 0,
                                  bool autorepeat = false) {
  return {platform::TapEvent::Type::keyDown, {code, flags, autorepeat}, {}};
}
inline platform::TapEvent keyUp(platform::KeyCode code, std::uint64_t flags = 0) {
  return {platform::TapEvent::Type::keyUp, {code, flags, false}, {}};
}

}  // namespace nolari::test
