#pragma once

#include "platform/Workspace.h"

// The desktop's workspace on Linux. The window system is not wired yet: no
// applications, no screens, and no activation notices.

namespace nolari::platform {

class LinuxWorkspace : public Workspace {
 public:
  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<RunningApplication> runningApplication(std::int32_t pid) override;
  std::vector<Screen> screens() override;
  std::optional<Screen> mainScreen() override;
  Point mouseLocation() override;
  ObserverToken addActivationObserver(ActivationHandler handler) override;
  void removeActivationObserver(ObserverToken token) override;

 private:
  ObserverToken nextToken_ = 1;
};

}  // namespace nolari::platform
