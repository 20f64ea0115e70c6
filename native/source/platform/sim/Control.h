#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Accessibility.h"
#include "platform/EventTaps.h"
#include "platform/sim/Desktop.h"

// The drive operations of the simulated desktop: what the user and the other
// applications would do, used by tests and the control channel. Notices go
// out the way a real desktop sends them, on the desktop's main run loop. What
// they change stays in memory; the scene file is never rewritten by them.

namespace nolari::platform {

class SimControl {
 public:
  explicit SimControl(std::shared_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}

  // Brings an application to the front and delivers the activation notice.
  // False when no running application has the pid.
  bool activate(std::int32_t pid);
  // Delivers an activation notice that names no application.
  void announceActivationWithoutApplication();
  // Moves the owning application's focus to the element and notifies that
  // application's observers of "AXFocusedUIElementChanged".
  bool focus(const std::string& elementId);
  // Replaces an attribute's answer with a value in the scene notation (see
  // the README), e.g. "hello", {"point": [1, 2]} or {"error": -25204}.
  bool setAttribute(const std::string& elementId, const std::string& attribute,
                    const nlohmann::json& value, std::string& error);
  // The application is gone: reads on its elements fail, it is no longer
  // running, and if it was frontmost nothing is.
  bool quitApplication(std::int32_t pid);
  void failNextObserverCreate(AXError code);
  void failNextAddNotification(AXError code);
  void setMouseLocation(Point location);
  void setTrusted(bool trusted);

  // The user presses or releases a key. It goes through the keyboard tap, if
  // there is one, and unless the tap swallows it a key down reaches the
  // window holding the keyboard, on the main loop, or else the applications.
  void pressKey(const KeyEvent& key);
  void releaseKey(const KeyEvent& key);
  // The pointer moves (bottom-left global points); the mouse tap, if there is
  // one, is told, and the program's windows hear of it (SimWindows::movePointer).
  void moveMouse(Point location);
  // The pointer moves there and clicks (SimWindows::click). A click that
  // reaches no window of the program is heard by the mouse-down monitors.
  void click(Point location, bool primaryButton = true);
  // The user changes the accessibility settings for what is shown.
  void setDisplayOptions(const DisplayOptions& options);
  // The platform turns a tap off (`cause` is one of the two disabled notices).
  // False when the program holds no such tap.
  bool disableTap(bool keyboard, TapEvent::Type cause);
  // Calls `report` with what the applications received from the keyboard,
  // once every key pressed before has gone past the keyboard tap or was
  // swallowed: on the tap's thread, or at once when nothing waits there.
  // Key downs only: letters, digits and the space bar as the characters they
  // type (letters upper-case with shift or caps lock), other keys and keys
  // with command, control or option as "{command+shift+x}", "{return}", or
  // "{#50}" for a code without a name.
  void whenTyped(std::function<void(const std::string&)> report);

  // The screens change, and the screen-change notice goes out.
  void setScreens(std::vector<Screen> screens, std::optional<std::size_t> mainScreen);
  // The system woke from sleep: the wake notice goes out.
  void wake();
  // A compositing manager starts or stops: the translucency notice goes out
  // when that changes whether translucent windows blend.
  void setCompositing(bool running);

  // The program's windows, in the order they were made.
  std::vector<SimWindowRecord> windows();
  // The newest window of that name.
  std::optional<SimWindowRecord> window(const std::string& name);
  // Where clicks reached no window of the program.
  std::vector<Point> clicksThrough();
  // Paints the newest window of that name as it shows now, at its frame's size
  // and `scale` pixels to the point, into a PNG at `path`; false with `error`
  // set when there is no such window or the image cannot be made.
  bool renderWindow(const std::string& name, double scale, const std::string& path,
                    std::string& error);

  // The handle of a scene element, or an empty handle for an unknown id.
  AXUIElement element(const std::string& elementId);
  // The time-out last set through the system-wide element (0: the default).
  float messagingTimeout();

  const std::shared_ptr<SimDesktop>& desktop() const { return desktop_; }

 private:
  void deliverActivation(const std::optional<RunningApplication>& app);
  void deliver(std::vector<SimPointerDelivery> deliveries);

  std::shared_ptr<SimDesktop> desktop_;
};

}  // namespace nolari::platform
