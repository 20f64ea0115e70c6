#include "ambrel/agent/PushToTalk.h"

#include <algorithm>
#include <cmath>

#include "base/NolariLogger.h"

namespace nolari::ambrel {

PushToTalk::Microseconds PushToTalk::clampedDelay(double milliseconds) {
  const double micros = milliseconds * 1000.0;
  if (!(micros < static_cast<double>(MAX_SPACE_HOLD_DELAY.count()))) return MAX_SPACE_HOLD_DELAY;
  return std::max(MIN_SPACE_HOLD_DELAY, Microseconds(std::llround(micros)));
}

std::shared_ptr<PushToTalk> PushToTalk::create(platform::RunLoop& mainLoop, LineSink& sink,
                                               bool spaceHoldEnabled, Microseconds spaceHoldDelay,
                                               std::function<void()> onWriteHotkey) {
  return std::shared_ptr<PushToTalk>(
      new PushToTalk(mainLoop, sink, spaceHoldEnabled, spaceHoldDelay, std::move(onWriteHotkey)));
}

void PushToTalk::attachKeyboardTap(std::shared_ptr<platform::EventTap> tap) {
  std::lock_guard tapLock(tapMutex_);
  tap_ = std::move(tap);
  bool enabled = false;
  {
    std::lock_guard lock(mutex_);
    enabled = spaceHoldEnabled_;
  }
  tap_->setRepeatsSwallowed(SPACE_KEY, enabled);
}

platform::TapAnswer PushToTalk::tapEvent(const platform::TapEvent& event) {
  using Type = platform::TapEvent::Type;
  switch (event.type) {
    case Type::keyDown:
      return keyDown(event.key) ? platform::TapAnswer::swallow : platform::TapAnswer::pass;
    case Type::keyUp:
      keyUp(event.key);
      return platform::TapAnswer::pass;
    case Type::tapDisabledByTimeout:
    case Type::tapDisabledByUserInput:
      reenableTap(event.type);
      return platform::TapAnswer::pass;
    default:
      return platform::TapAnswer::pass;
  }
}

bool PushToTalk::keyDown(const platform::KeyEvent& event) {
  // Every space-bar event takes the space-hold path, even one that would
  // match a hotkey.
  if (event.keyCode == SPACE_KEY) return spaceKeyDown(event.autorepeat);
  otherKeyDown();
  // The command hotkey comes first: set to the same accelerator, only
  // push-to-talk fires.
  if (auto hotkey = commandHotkey_.load(); hotkey && hotkey->matches(event)) {
    commandHotkeyDown();
    return false;
  }
  if (auto hotkey = writeHotkey_.load(); hotkey && hotkey->matches(event)) onWriteHotkey_();
  return false;
}

void PushToTalk::keyUp(const platform::KeyEvent& event) {
  if (event.keyCode == SPACE_KEY) {
    spaceKeyUp();
    return;
  }
  // The press ends when its main key goes up, whatever modifiers are held.
  if (auto hotkey = commandHotkey_.load(); hotkey && hotkey->keyCode == event.keyCode) {
    commandHotkeyUp();
  }
}

void PushToTalk::reenableTap(platform::TapEvent::Type cause) {
  {
    std::lock_guard lock(tapMutex_);
    if (tap_) tap_->setEnabled(true);
  }
  NolariLogger::info(cause == platform::TapEvent::Type::tapDisabledByTimeout
                         ? "keyboard tap disabled by time-out, enabled again"
                         : "keyboard tap disabled by user input, enabled again");
  sink_.emitTyped("warn", {{"event", "key_tap_reenabled"}});
}

PushToTalk::Press PushToTalk::press() const {
  if (commandPress_) return Press::command;
  // A space-hold dictation is the press exactly while the phase is dictating.
  return phase_ == SpaceHoldPhase::dictating ? Press::dictation : Press::none;
}

void PushToTalk::emitPress(const char* type, const char* mode, const char* source) {
  sink_.emitTyped(type, {{"mode", mode}, {"source", source}});
}

bool PushToTalk::spaceKeyDown(bool autorepeat) {
  std::lock_guard lock(mutex_);
  if (spaceHoldEnabled_ && press() == Press::none && !autorepeat) {
    // Also after a release that was never seen: the hold starts over, and
    // a release still expected from an earlier dictation is forgotten.
    armSpaceHoldTimer();
    return false;
  }
  return autorepeat && (phase_ == SpaceHoldPhase::pending || phase_ == SpaceHoldPhase::dictating);
}

void PushToTalk::spaceKeyUp() {
  std::lock_guard lock(mutex_);
  const SpaceHoldPhase was = phase_;
  cancelSpaceHoldTimer();
  phase_ = SpaceHoldPhase::idle;
  if (was == SpaceHoldPhase::dictating) emitPress("dictation_ptt_up", "dictation", "spaceHold");
}

void PushToTalk::endPendingHold() {
  std::lock_guard lock(mutex_);
  if (phase_ != SpaceHoldPhase::pending) return;
  cancelSpaceHoldTimer();
  phase_ = SpaceHoldPhase::idle;
}

void PushToTalk::commandHotkeyDown() {
  std::lock_guard lock(mutex_);
  if (press() != Press::none) return;
  commandPress_ = true;
  emitPress("dictation_ptt_down", "command", "keyDown");
}

void PushToTalk::commandHotkeyUp() {
  std::lock_guard lock(mutex_);
  if (!commandPress_) return;
  commandPress_ = false;
  emitPress("dictation_ptt_up", "command", "keyUp");
}

void PushToTalk::disarm() {
  std::lock_guard lock(mutex_);
  emitPress("dictation_ptt_up", press() == Press::command ? "command" : "dictation", "stdin");
  commandPress_ = false;
  if (phase_ == SpaceHoldPhase::dictating) phase_ = SpaceHoldPhase::releasedByParent;
}

PushToTalk::SpaceHoldSetting PushToTalk::setSpaceHold(bool enabled,
                                                      std::optional<double> delayMilliseconds) {
  std::lock_guard tapLock(tapMutex_);
  SpaceHoldSetting setting{};
  {
    std::lock_guard lock(mutex_);
    if (delayMilliseconds && *delayMilliseconds > 0)
      spaceHoldDelay_ = clampedDelay(*delayMilliseconds);
    spaceHoldEnabled_ = enabled;
    if (!enabled && phase_ == SpaceHoldPhase::pending) {
      cancelSpaceHoldTimer();
      phase_ = SpaceHoldPhase::idle;
    }
    setting = {spaceHoldEnabled_, spaceHoldDelay_};
  }
  if (tap_) tap_->setRepeatsSwallowed(SPACE_KEY, setting.enabled);
  return setting;
}

void PushToTalk::armSpaceHoldTimer() {
  cancelSpaceHoldTimer();
  phase_ = SpaceHoldPhase::pending;
  const std::uint64_t generation = ++timerGeneration_;
  spaceDelayTimer_ = mainLoop_.postAfter(spaceHoldDelay_, [weak = weak_from_this(), generation] {
    if (auto self = weak.lock()) self->timerStep(generation);
  });
}

void PushToTalk::cancelSpaceHoldTimer() {
  if (!spaceDelayTimer_) return;
  spaceDelayTimer_->cancel();
  spaceDelayTimer_.reset();
  ++timerGeneration_;
}

void PushToTalk::timerStep(std::uint64_t generation) {
  std::lock_guard lock(mutex_);
  if (generation != timerGeneration_ || phase_ != SpaceHoldPhase::pending) return;
  spaceDelayTimer_.reset();
  phase_ = SpaceHoldPhase::idle;
  if (spaceHoldEnabled_ && press() == Press::none) {
    phase_ = SpaceHoldPhase::dictating;
    emitPress("dictation_ptt_down", "dictation", "spaceHold");
  }
}

}  // namespace nolari::ambrel
