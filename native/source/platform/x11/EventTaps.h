#pragma once

#include <atomic>
#include <bitset>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/EventTaps.h"
#include "platform/x11/X11KeyMapping.h"

// The event taps of the X window system: the RECORD extension reports every
// key press and release and every pointer move the server dispatches, to any
// client, on a connection of the tap's own. RECORD only listens, so a
// keyboard tap cannot swallow a key: a callback's answer is ignored, and a key
// whose repeats the callback swallows has its auto-repeat switched off on the
// server instead, by the key-repeat guard the taps are made with (see
// KeyRepeat.h). X has no notice of a tap turned off.
//
// Key presses of a key that is already down are its auto-repeats. Modifier
// keys only change the flags of other keys' events and are not delivered
// themselves.

struct _XDisplay;

namespace nolari::platform {

class X11KeyRepeat;

// The unshifted symbol of an X key code, asked afresh: the mapping changes
// while a program runs (xdotool borrows spare key codes for the symbols it
// types).
unsigned long x11UnshiftedKeysym(_XDisplay* display, unsigned int keycode);

// Which modifier bits the Alt and Super keys set on `display`, and in
// `modifierKeys` which key codes are modifier keys.
X11ModifierRoles x11ModifierRoles(_XDisplay* display, std::bitset<256>& modifierKeys);

class X11EventTap : public EventTap {
 public:
  enum class Kind { keyboard, mouse };

  // Null without a display or without the RECORD extension. `keyRepeat` may
  // be null for a tap that never stops a key repeating.
  static std::shared_ptr<X11EventTap> make(Kind kind, TapCallback callback,
                                           std::shared_ptr<X11KeyRepeat> keyRepeat);
  // Restores the repeats it switched off.
  ~X11EventTap() override;

  void setEnabled(bool enabled) override;
  bool isEnabled() const override;
  void setRepeatsSwallowed(KeyCode key, bool swallowed) override;
  // Returns once `stop` was called (the taps object went), or the display went
  // away.
  void run() override;
  void stop();

 private:
  X11EventTap(Kind kind, TapCallback callback, std::shared_ptr<X11KeyRepeat> keyRepeat)
      : kind_(kind), callback_(std::move(callback)), keyRepeat_(std::move(keyRepeat)) {}
  bool connect();
  void deliver(int type, unsigned int keycode, unsigned int state, int rootX, int rootY);
  friend struct X11RecordReceiver;

  const Kind kind_;
  const TapCallback callback_;
  const std::shared_ptr<X11KeyRepeat> keyRepeat_;
  _XDisplay* control_ = nullptr;
  _XDisplay* data_ = nullptr;
  unsigned long context_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> enabled_{false};
  double screenHeight_ = 0;
  X11ModifierRoles roles_;
  // Only the tap's thread touches these two.
  std::bitset<256> modifierKeys_;
  std::bitset<256> down_;
  std::mutex mutex_;
  // Neutral key code to the X key code whose repeat is off.
  std::map<KeyCode, unsigned int> repeatOff_;
};

class X11EventTaps : public EventTaps {
 public:
  // The keyboard taps stop keys repeating through `keyRepeat`, which they
  // keep as long as they live.
  explicit X11EventTaps(std::shared_ptr<X11KeyRepeat> keyRepeat);
  // The taps' threads return from `run`.
  ~X11EventTaps() override;

  std::shared_ptr<EventTap> createKeyboardTap(TapCallback callback) override;
  std::shared_ptr<EventTap> createMouseTap(TapCallback callback) override;

 private:
  std::shared_ptr<EventTap> keep(std::shared_ptr<X11EventTap> tap);

  const std::shared_ptr<X11KeyRepeat> keyRepeat_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<X11EventTap>> made_;
};

}  // namespace nolari::platform
