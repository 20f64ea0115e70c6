#include "platform/linux/Workspace.h"

namespace nolari::platform {

std::optional<RunningApplication> LinuxWorkspace::frontmostApplication() { return std::nullopt; }

std::optional<RunningApplication> LinuxWorkspace::runningApplication(std::int32_t) {
  return std::nullopt;
}

std::vector<Screen> LinuxWorkspace::screens() { return {}; }

std::optional<Screen> LinuxWorkspace::mainScreen() { return std::nullopt; }

Point LinuxWorkspace::mouseLocation() { return {}; }

Workspace::ObserverToken LinuxWorkspace::addActivationObserver(ActivationHandler) {
  return nextToken_++;
}

void LinuxWorkspace::removeActivationObserver(ObserverToken) {}

}  // namespace nolari::platform
