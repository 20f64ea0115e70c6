#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ambrel/Ambrel.h"
#include "platform/EventTaps.h"

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

// The agent's event lines, each with its "type", in the order written.
class EventRecorder {
 public:
  ambrel::Emit emit() {
    return [this](std::string_view type, const nlohmann::json& payload) {
      nlohmann::json line = payload;
      line["type"] = type;
      std::lock_guard lock(mutex_);
      lines_.push_back(std::move(line));
    };
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
