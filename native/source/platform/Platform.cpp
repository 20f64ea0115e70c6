#include "platform/Platform.h"

#include <cstdlib>

#include "platform/linux/Accessibility.h"
#include "platform/linux/RunLoop.h"
#include "platform/linux/Workspace.h"
#include "platform/sim/Accessibility.h"
#include "platform/sim/ControlChannel.h"
#include "platform/sim/Workspace.h"

namespace nolari::platform {

namespace {
std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}
}  // namespace

bool connectPlatform(Platform& platform, std::string& error) {
  platform = Platform{};
  const std::string which = environment("NOLARI_PLATFORM");
  if (which == "sim") {
    const std::string scene = environment("NOLARI_SIM_SCENE");
    if (scene.empty()) {
      error = "NOLARI_PLATFORM=sim needs NOLARI_SIM_SCENE to name a scene file";
      return false;
    }
    auto desktop = SimDesktop::load(scene, error);
    if (!desktop) return false;
    auto runLoop = std::make_unique<AsioRunLoop>();
    desktop->setMainRunLoop(runLoop.get());
    if (const std::string control = environment("NOLARI_SIM_CONTROL"); !control.empty()) {
      auto channel = SimControlChannel::open(control, desktop, *runLoop, error);
      if (!channel) return false;
      platform.backendState = std::move(channel);
    }
    platform.runLoop = std::move(runLoop);
    platform.accessibility = std::make_unique<SimAccessibility>(desktop);
    platform.workspace = std::make_unique<SimWorkspace>(desktop);
    return true;
  }
  if (!which.empty() && which != "linux") {
    error = "NOLARI_PLATFORM=" + which + " is not a known platform (\"sim\", or unset for the real desktop)";
    return false;
  }
  auto runLoop = std::make_unique<AsioRunLoop>();
  platform.accessibility = std::make_unique<LinuxAccessibility>();
  platform.workspace = std::make_unique<LinuxWorkspace>(*runLoop);
  platform.runLoop = std::move(runLoop);
  return true;
}

}  // namespace nolari::platform
