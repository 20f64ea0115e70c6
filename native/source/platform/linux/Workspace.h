#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/RunLoop.h"
#include "platform/Workspace.h"

// The desktop's workspace on X11. The frontmost application is the owner of
// the window manager's active window (_NET_ACTIVE_WINDOW with _NET_WM_PID);
// its name is the window's WM_CLASS class, and the identifier standing for a
// bundle identifier is the toolkit's application id, else the WM_CLASS
// instance. Activation notices come from a watching thread with a connection
// of its own, started with the first observer, and are delivered on the main
// run loop. One screen, the X screen; frames are converted to bottom-left.

namespace nolari::platform {

class LinuxWorkspace : public Workspace {
 public:
  explicit LinuxWorkspace(RunLoop& mainLoop);
  ~LinuxWorkspace() override;

  LinuxWorkspace(const LinuxWorkspace&) = delete;
  LinuxWorkspace& operator=(const LinuxWorkspace&) = delete;

  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<RunningApplication> runningApplication(std::int32_t pid) override;
  std::vector<Screen> screens() override;
  std::optional<Screen> mainScreen() override;
  Point mouseLocation() override;
  ObserverToken addActivationObserver(ActivationHandler handler) override;
  void removeActivationObserver(ObserverToken token) override;

 private:
  struct Observers {
    std::mutex mutex;
    std::map<ObserverToken, ActivationHandler> handlers;
  };
  void startWatching();
  void watch();

  RunLoop& mainLoop_;
  std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
  ObserverToken nextToken_ = 1;
  std::thread watcher_;
  int wakeFd_ = -1;
};

}  // namespace nolari::platform
