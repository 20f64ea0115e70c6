#include "platform/sim/Workspace.h"

namespace nolari::platform {

std::optional<RunningApplication> SimWorkspace::frontmostApplication() {
  return desktop_->frontmostApplication();
}

std::optional<RunningApplication> SimWorkspace::runningApplication(std::int32_t pid) {
  return desktop_->runningApplication(pid);
}

std::vector<Screen> SimWorkspace::screens() { return desktop_->screens(); }

std::optional<Screen> SimWorkspace::mainScreen() { return desktop_->mainScreen(); }

Point SimWorkspace::mouseLocation() { return desktop_->mouseLocation(); }

Workspace::ObserverToken SimWorkspace::addActivationObserver(ActivationHandler handler) {
  return desktop_->addActivationObserver(std::move(handler));
}

void SimWorkspace::removeActivationObserver(ObserverToken token) {
  desktop_->removeActivationObserver(token);
}

}  // namespace nolari::platform
