#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "ambrel/agent/HotkeySpec.h"
#include "base/LineSink.h"
#include "platform/EventTaps.h"
#include "platform/RunLoop.h"

// The keyboard tap's owner: the two hotkeys, the push-to-talk press in
// progress and the space-hold trigger with the swallowing of the space bar's
// repeats. The command hotkey held down, or the space bar held past a delay,
// is a dictation press that the parent records; its release ends it. The
// write hotkey is handed on.
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
  static constexpr platform::KeyCode SPACE_KEY = 49;
  using Microseconds = std::chrono::microseconds;
  static constexpr Microseconds MIN_SPACE_HOLD_DELAY{50'000};
  // Longer delays are clamped to a day: a hold that long never ends in
  // practice, and the delay stays far inside what a timer can represent.
  static constexpr Microseconds MAX_SPACE_HOLD_DELAY{86'400'000'000};

  // A requested delay in milliseconds within the two limits.
  static Microseconds clampedDelay(double milliseconds);

  // `onWriteHotkey` runs on the keyboard tap's thread, at every press of the
  // write hotkey, auto-repeats included.
  static std::shared_ptr<PushToTalk> create(platform::RunLoop& mainLoop, LineSink& sink,
                                            bool spaceHoldEnabled, Microseconds spaceHoldDelay,
                                            std::function<void()> onWriteHotkey);

  // Main loop, at start-up: the tap whose events come to `tapEvent`. It
  // swallows the space bar's repeats while space hold is on.
  void attachKeyboardTap(std::shared_ptr<platform::EventTap> tap);

  // Keyboard tap thread: every key press of the user in every application
  // comes here. The path of an ordinary key takes no lock and allocates
  // nothing.
  platform::TapAnswer tapEvent(const platform::TapEvent& event);

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

  // Command thread. A hotkey that is absent matches no key.
  void setWriteHotkey(std::optional<HotkeySpec> hotkey) { writeHotkey_.store(hotkey); }
  void setCommandHotkey(std::optional<HotkeySpec> hotkey) { commandHotkey_.store(hotkey); }
  // "dictation_disarm": writes the release and ends the press.
  void disarm();
  struct SpaceHoldSetting {
    bool enabled;
    Microseconds delay;
  };
  // "dictation_set_space_hold": a delay of null, zero or less keeps the
  // current one. Switching off ends a pending hold. The tap swallows the space
  // bar's repeats exactly while it is on.
  SpaceHoldSetting setSpaceHold(bool enabled, std::optional<double> delayMilliseconds);

 private:
  enum class Press { none, command, dictation };

  PushToTalk(platform::RunLoop& mainLoop, LineSink& sink, bool spaceHoldEnabled,
             Microseconds spaceHoldDelay, std::function<void()> onWriteHotkey)
      : mainLoop_(mainLoop),
        sink_(sink),
        onWriteHotkey_(std::move(onWriteHotkey)),
        spaceHoldEnabled_(spaceHoldEnabled),
        spaceHoldDelay_(spaceHoldDelay) {}

  bool keyDown(const platform::KeyEvent& event);
  void keyUp(const platform::KeyEvent& event);
  // Out of the key path, which it would otherwise weigh down.
  [[gnu::cold]] void reenableTap(platform::TapEvent::Type cause);
  void endPendingHold();
  // All under `mutex_`.
  Press press() const;
  void armSpaceHoldTimer();
  void cancelSpaceHoldTimer();
  void timerStep(std::uint64_t generation);
  void emitPress(const char* type, const char* mode, const char* source);

  platform::RunLoop& mainLoop_;
  LineSink& sink_;
  const std::function<void()> onWriteHotkey_;

  // Written by the command thread, read by the keyboard tap thread.
  AtomicHotkey writeHotkey_;
  AtomicHotkey commandHotkey_;

  // The tap, and its repeat swallowing kept in step with `spaceHoldEnabled_`.
  // Taken before `mutex_` and never on the key path, so that the tap's own
  // locks are never waited for under `mutex_`.
  std::mutex tapMutex_;
  std::shared_ptr<platform::EventTap> tap_;

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
