#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "ambrel/agent/Emit.h"
#include "platform/RunLoop.h"

// The push-to-talk press in progress and the space-hold trigger: the command
// hotkey held down, or the space bar held past a delay, is a dictation press
// that the parent records; its release ends it.
//
// The keyboard tap thread, the main thread (the space-hold timer) and the
// command thread ("dictation_disarm", "dictation_set_space_hold") all change
// this state. One mutex guards all of it, and each operation runs whole under
// it, events included: the timer step's test-and-set and the space release's
// test-and-reset therefore exclude each other, so a release that meets the
// end of the delay comes either before the press (no events) or after it
// (press, then release), and a press written always has its release to come.
// Writing a line under the lock keeps the events in the order of the changes.

namespace nolari::ambrel {

// Where the space bar stands.
enum class SpaceHoldPhase {
  idle,
  pending,           // held, the delay not yet over; the timer runs
  dictating,         // held past the delay: a space-hold dictation runs
  releasedByParent,  // the parent ended the dictation while the bar is still held
};

class PushToTalk : public std::enable_shared_from_this<PushToTalk> {
 public:
  using Microseconds = std::chrono::microseconds;
  static constexpr Microseconds MIN_SPACE_HOLD_DELAY{50'000};
  // Longer delays are clamped to a day: a hold that long never ends in
  // practice, and the delay stays far inside what a timer can represent.
  static constexpr Microseconds MAX_SPACE_HOLD_DELAY{86'400'000'000};

  // A requested delay in milliseconds within the two limits.
  static Microseconds clampedDelay(double milliseconds);

  static std::shared_ptr<PushToTalk> create(platform::RunLoop& mainLoop, Emit emit,
                                            bool spaceHoldEnabled, Microseconds spaceHoldDelay);

  // Keyboard tap thread. `spaceKeyDown` answers true to swallow the event.
  bool spaceKeyDown(bool autorepeat);
  void spaceKeyUp();
  // A key down of any key but the space bar ends a hold still pending. Only
  // this thread makes a hold pending, so seeing none without the lock is sure.
  void otherKeyDown() {
    if (phase_.load(std::memory_order_relaxed) == SpaceHoldPhase::pending) endPendingHold();
  }
  void commandHotkeyDown();
  void commandHotkeyUp();

  // Command thread. "dictation_disarm": writes the release and ends the press.
  void disarm();
  struct SpaceHoldSetting {
    bool enabled;
    Microseconds delay;
  };
  // "dictation_set_space_hold": a delay of null, zero or less keeps the
  // current one. Switching off ends a pending hold.
  SpaceHoldSetting setSpaceHold(bool enabled, std::optional<double> delayMilliseconds);

 private:
  enum class Press { none, command, dictation };

  PushToTalk(platform::RunLoop& mainLoop, Emit emit, bool spaceHoldEnabled,
             Microseconds spaceHoldDelay)
      : mainLoop_(mainLoop),
        emit_(std::move(emit)),
        spaceHoldEnabled_(spaceHoldEnabled),
        spaceHoldDelay_(spaceHoldDelay) {}

  void endPendingHold();
  // All under `mutex_`.
  Press press() const;
  void armSpaceHoldTimer();
  void cancelSpaceHoldTimer();
  void timerStep(std::uint64_t generation);
  void emitPress(const char* type, const char* mode, const char* source);

  platform::RunLoop& mainLoop_;
  const Emit emit_;

  std::mutex mutex_;
  bool spaceHoldEnabled_;
  Microseconds spaceHoldDelay_;
  // Written under `mutex_`; read without it by `otherKeyDown`, so that the
  // path of every ordinary key press neither locks nor waits.
  std::atomic<SpaceHoldPhase> phase_{SpaceHoldPhase::idle};
  bool commandPress_ = false;
  std::shared_ptr<platform::WorkItem> spaceDelayTimer_;
  // The timer step that may still run; a cancelled step finds a newer number
  // and does nothing, even if it was already on its way when cancelled.
  std::uint64_t timerGeneration_ = 0;
};

}  // namespace nolari::ambrel
