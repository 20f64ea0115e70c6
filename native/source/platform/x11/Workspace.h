#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "platform/Notices.h"
#include "platform/RunLoop.h"
#include "platform/Workspace.h"
#include "platform/x11/X11Desktop.h"

// The desktop's workspace on X11. The frontmost application is the owner of
// the window manager's active window (_NET_ACTIVE_WINDOW with _NET_WM_PID);
// its name is the window's WM_CLASS class, and the identifier standing for a
// bundle identifier is the toolkit's application id, else the WM_CLASS
// instance. Activation notices come from a watching thread with a connection
// of its own, started with the first observer, and are delivered on the main
// run loop. The screens are XRandR's monitors, the primary one first and main,
// or the root window where there are none; frames are converted to
// bottom-left with the root window's height.

namespace nolari::platform {

class X11Workspace : public Workspace {
 public:
  X11Workspace(RunLoop& mainLoop, std::shared_ptr<X11Desktop> desktop);
  ~X11Workspace() override;

  X11Workspace(const X11Workspace&) = delete;
  X11Workspace& operator=(const X11Workspace&) = delete;

  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<RunningApplication> runningApplication(std::int32_t pid) override;
  // Waits up to a second for the window manager to make the application's
  // topmost window active; true only once it has.
  bool activate(const RunningApplication& app) override;
  std::vector<Screen> screens() override;
  std::optional<Screen> mainScreen() override;
  Point mouseLocation() override;
  ObserverToken addActivationObserver(ActivationHandler handler) override;
  void removeActivationObserver(ObserverToken token) override;

 private:
  using ActivationNotices = NoticeHandlers<std::optional<RunningApplication>>;
  void startWatching();
  void watch();

  RunLoop& mainLoop_;
  std::shared_ptr<X11Desktop> desktop_;
  std::shared_ptr<ActivationNotices> activation_ = ActivationNotices::make();
  std::thread watcher_;
  int wakeFd_ = -1;
};

}  // namespace nolari::platform
