#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DisplayList.h"
#include "platform/EventTaps.h"
#include "platform/Geometry.h"
#include "platform/TextMeasure.h"

// The agent's own windows: borderless, above the user's windows, never taking
// the keyboard focus from the application the user works in. A window shows a
// display list; program code decides what it shows, when it moves and how it
// fades, and drives every animation from its run loop, frame by frame.
//
// A window may take the keyboard while it shows (the command list does, so
// that arrows and Return reach it); every other window leaves the keyboard
// with the user's application.
//
// Also here: the notices that move such windows (the screens changed, the
// system woke) and the small store of the user's settings that survives a
// restart.
//
// Main-thread only, like the run loop's timers.

namespace nolari::platform {

// Stacking bands, lowest first: a window of a higher level stays above one of
// a lower level. The numbers are the model platform's window levels.
enum class WindowLevel : std::int32_t {
  floating = 3,
  statusBar = 25,
  popUpMenu = 101,
};

// What the pointer does over a window that receives clicks. Locations are in
// the window's points, origin at its top-left corner, y downwards, as in its
// display list.
struct PointerEvent {
  enum class Type { entered, exited, moved, pressed, released };
  Type type = Type::moved;
  Point location{};
};

// A key down while a window holds the keyboard, auto-repeats included, in the
// event taps' neutral codes and flags.
using KeyHandler = std::function<void(const KeyEvent&)>;

class OverlayWindow {
 public:
  virtual ~OverlayWindow() = default;

  // In bottom-left screen coordinates, as `Workspace::screens` gives them. A
  // size below one point is raised to one point: a window never has an empty
  // or negative size.
  virtual void setFrame(Rect frame) = 0;
  virtual Rect frame() const = 0;

  // 0 (transparent) to 1; values outside are clamped.
  virtual void setAlpha(double alpha) = 0;
  virtual double alpha() const = 0;

  // On screen above the windows of lower levels, without activating anything;
  // off screen.
  virtual void orderFront() = 0;
  virtual void orderOut() = 0;
  virtual bool isVisible() const = 0;

  // What the window shows, in its own points; drawn over a transparent window.
  virtual void setContent(DisplayList content) = 0;

  // Where the window shows, in its own points: only within these rectangles;
  // an empty list shows all of it. What lies outside shows what is below.
  virtual void setShape(std::vector<Rect> parts) = 0;

  // Whether clicks and pointer moves reach the window's handler; a window that
  // ignores the pointer lets clicks through to what lies below it.
  virtual void setIgnoresPointer(bool ignores) = 0;

  // What assistive technologies are told the window is.
  virtual void setAccessibility(const std::string& label, const std::string& role) = 0;

  // Takes the keyboard: every key down goes to `handler`, on the main loop,
  // and to no application, until the window gives the keyboard back, goes off
  // screen or is gone; then the application that had the keyboard has it
  // again. The window must be on screen. False when the keyboard cannot be
  // had (the window is off screen, another program holds the keyboard).
  virtual bool takeKeyboard(KeyHandler handler) = 0;
  // Nothing when the window does not hold the keyboard.
  virtual void releaseKeyboard() = 0;
  virtual bool holdsKeyboard() const = 0;
};

struct WindowOptions {
  Rect frame{};
  WindowLevel level = WindowLevel::floating;
  bool ignoresPointer = false;
  // Names the window to the window system and in the simulated desktop's
  // records ("action-blob").
  std::string name{};
};

// A small store of the user's settings, kept across restarts.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  // Nothing when the key was never written (or the store cannot be read).
  virtual std::optional<bool> boolForKey(const std::string& key) = 0;
  virtual void setBool(const std::string& key, bool value) = 0;
};

// The user's accessibility settings for what is shown.
struct DisplayOptions {
  // Windows appear and go at once, without moving or fading.
  bool reduceMotion = false;
  bool increaseContrast = false;
  friend bool operator==(const DisplayOptions&, const DisplayOptions&) = default;
};

class Windowing {
 public:
  virtual ~Windowing() = default;

  using PointerHandler = std::function<void(const PointerEvent&)>;
  // A new window, off screen and transparent. The handler is called on the
  // main loop for the pointer's events over the window while it is on screen
  // and does not ignore the pointer. The window stays while the handle lives.
  virtual std::shared_ptr<OverlayWindow> createWindow(const WindowOptions& options,
                                                      PointerHandler handler) = 0;

  // Measures text exactly as the windows draw it.
  virtual TextMeasurer& textMeasurer() = 0;

  // Notices on the main loop: the screens were added, removed or rearranged;
  // the system woke from sleep.
  using Notice = std::function<void()>;
  using ObserverToken = std::uint64_t;
  virtual ObserverToken addScreenChangeObserver(Notice notice) = 0;
  virtual ObserverToken addWakeObserver(Notice notice) = 0;
  virtual void removeObserver(ObserverToken token) = 0;

  // Left and right mouse downs that land anywhere but on this program's
  // windows, on the main loop, with where the pointer was in bottom-left
  // global points. Removed with removeObserver.
  using MouseDownHandler = std::function<void(Point)>;
  virtual ObserverToken addMouseDownMonitor(MouseDownHandler handler) = 0;

  // Read afresh on every call: the user may change them at any time.
  virtual DisplayOptions displayOptions() = 0;

  // Whether the windows' translucent parts show what lies below them (on X,
  // while a compositing manager runs); without, they cover it as if opaque.
  // Read afresh on every call; the notice comes on the main loop when it
  // changes, and is removed with removeObserver.
  virtual bool blendsTranslucency() = 0;
  virtual ObserverToken addTranslucencyObserver(Notice notice) = 0;

  virtual UserDefaults& userDefaults() = 0;
};

}  // namespace nolari::platform
