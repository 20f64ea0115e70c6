#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Geometry.h"

// System-wide taps on the user's keyboard and mouse. A keyboard tap sees every
// key press of every application and may swallow one, so that no application
// receives it; a mouse tap only listens. Backends translate their own events
// into the neutral ones below, with the key codes and flag bits of the
// platform the agent was designed on, so the agent's logic never sees a
// backend's codes.

namespace nolari::platform {

// Virtual key codes of the ANSI layout ("a" is 0, the space bar 49). A key
// without a code of its own here has `KeyEvent::noKeyCode`, never 0.
using KeyCode = std::uint16_t;

// Event flag bits.
namespace EventFlags {
inline constexpr std::uint64_t alphaShift = 0x10000;  // Caps Lock
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t alternate = 0x80000;  // option, alt
inline constexpr std::uint64_t command = 0x100000;   // Super on X11
inline constexpr std::uint64_t numericPad = 0x200000;
inline constexpr std::uint64_t secondaryFn = 0x800000;
}  // namespace EventFlags

struct KeyEvent {
  static constexpr KeyCode noKeyCode = 0xFFFF;

  KeyCode keyCode = noKeyCode;
  std::uint64_t flags = 0;
  // A key down the platform generated because the key is held.
  bool autorepeat = false;
  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

struct TapEvent {
  enum class Type {
    keyDown,
    keyUp,
    mouseMoved,
    // The platform turned the tap off: a callback held it up too long, or
    // user input (secure text entry) did. The tap stays off until enabled.
    tapDisabledByTimeout,
    tapDisabledByUserInput,
  };
  Type type = Type::keyDown;
  KeyEvent key;         // key events only
  Point mouseLocation;  // mouse moves only, in bottom-left screen coordinates
};

enum class TapAnswer { pass, swallow };

// Called on the tap's own thread for every event; it must return quickly.
// A listen-only tap ignores the answer.
using TapCallback = std::function<TapAnswer(const TapEvent&)>;

class EventTap {
 public:
  virtual ~EventTap() = default;
  // A new tap is disabled; events arrive only while it is enabled.
  virtual void setEnabled(bool enabled) = 0;
  virtual bool isEnabled() const = 0;
  // Says that the callback swallows the auto-repeats of `key` from now on (the
  // space bar while space hold is on), or no longer does. A backend that
  // cannot swallow events may stop the key repeating instead, and then
  // restores it when told, when the tap goes and on every way the process
  // ends.
  virtual void setRepeatsSwallowed(KeyCode key, bool swallowed) = 0;
  // Delivers the tap's events to its callback on the calling thread, for the
  // life of the process: the body of the tap's thread. Returns only once the
  // EventTaps that made the tap is gone (or its backend lost the desktop).
  virtual void run() = 0;
};

class EventTaps {
 public:
  virtual ~EventTaps() = default;
  // A tap of key downs and key ups whose callback may swallow them. Null when
  // the platform refuses one (no permission, no display).
  virtual std::shared_ptr<EventTap> createKeyboardTap(TapCallback callback) = 0;
  // A listen-only tap of mouse moves. Null when the platform refuses one.
  virtual std::shared_ptr<EventTap> createMouseTap(TapCallback callback) = 0;
};

}  // namespace nolari::platform
