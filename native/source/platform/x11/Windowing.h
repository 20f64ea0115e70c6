#pragma once

#include <memory>
#include <string>

#include "platform/RunLoop.h"
#include "platform/Windowing.h"

// The agent's windows on X11: override-redirect windows, which no window
// manager places, decorates or gives the keyboard focus, of a 32-bit visual
// where the server has one, so that what is not drawn shows what lies below
// under a compositing manager. They are painted with cairo, one pixel to the
// point, and raised above every other window when brought to the front
// (openbox, for one, keeps the frames it raises later below them).
//
// A connection of its own is read by a watching thread, which also hears
// XRandR's screen changes and logind's wake on the system bus; events, notices
// and pointer handlers all reach the main run loop. Should the server go away
// the windows are gone for good: each operation does nothing and no event
// comes any more.
//
// A window takes the keyboard with a grab of the server's, which leaves the
// input focus where it was; mouse downs elsewhere are the input extension's
// raw events on the root.

namespace nolari::platform {

// The connection and what the windows share; windows outlive the windowing
// that made them.
class X11OverlayConnection;

class X11Windowing : public Windowing {
 public:
  // Connected to the display DISPLAY names, or nullptr with `error` saying
  // why. The wake comes from the system bus at `systemBus`, or where libdbus
  // finds it when that is empty.
  static std::unique_ptr<X11Windowing> open(RunLoop& mainLoop,
                                            std::unique_ptr<UserDefaults> userDefaults,
                                            const std::string& systemBus, std::string& error);
  ~X11Windowing() override;

  X11Windowing(const X11Windowing&) = delete;
  X11Windowing& operator=(const X11Windowing&) = delete;

  std::shared_ptr<OverlayWindow> createWindow(const WindowOptions& options,
                                              PointerHandler handler) override;
  TextMeasurer& textMeasurer() override;
  ObserverToken addScreenChangeObserver(Notice notice) override;
  ObserverToken addWakeObserver(Notice notice) override;
  void removeObserver(ObserverToken token) override;
  UserDefaults& userDefaults() override;
  ObserverToken addMouseDownMonitor(MouseDownHandler handler) override;
  // GNOME's settings (see gsettings/DisplayOptions.h).
  DisplayOptions displayOptions() override;
  bool blendsTranslucency() override;
  ObserverToken addTranslucencyObserver(Notice notice) override;

 private:
  X11Windowing(std::shared_ptr<X11OverlayConnection> connection,
               std::unique_ptr<UserDefaults> userDefaults);

  std::shared_ptr<X11OverlayConnection> connection_;
  std::unique_ptr<UserDefaults> userDefaults_;
};

}  // namespace nolari::platform
