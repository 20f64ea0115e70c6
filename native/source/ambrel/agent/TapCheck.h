#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "base/LineSink.h"
#include "platform/EventTaps.h"
#include "platform/RunLoop.h"

// The check, three seconds after start-up, that both event taps see events:
// a tap that sees the mouse but no key, or nothing at all, lacks a
// permission, which the parent is told.

namespace nolari::ambrel {

class TapCheck {
 public:
  static constexpr platform::Duration DELAY = std::chrono::seconds(3);

  explicit TapCheck(LineSink& sink) : sink_(sink) {}

  // Keyboard tap thread.
  void keyboardEvent(const platform::TapEvent& event) {
    bump(keyTapCallbacks_);
    if (event.type == platform::TapEvent::Type::keyDown) bump(keyDowns_);
  }
  // Mouse tap thread.
  void mouseEvent() { bump(mouseTapCallbacks_); }

  // Main loop: writes the error for taps that are silent, nothing otherwise.
  void report();

 private:
  // An increment by the counter's only writer needs no read-modify-write.
  static void bump(std::atomic<std::int64_t>& counter) {
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }

  LineSink& sink_;
  // Callbacks of each tap and key downs; one writer thread each, read once by
  // the check.
  std::atomic<std::int64_t> keyTapCallbacks_{0};
  std::atomic<std::int64_t> mouseTapCallbacks_{0};
  std::atomic<std::int64_t> keyDowns_{0};
};

}  // namespace nolari::ambrel
