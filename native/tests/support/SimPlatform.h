#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "TempDir.h"
#include "platform/Platform.h"
#include "platform/sim/Accessibility.h"
#include "platform/sim/Workspace.h"

// A simulated desktop installed as the current platform for one test. Named
// scenes are copied into a temporary directory first, so values written by a
// test never reach the checked-in scene files. Header-only: the support
// library does not link the platform library.

namespace nolari::test {

inline std::string scenePath(const std::string& name) {
  return std::string(NOLARI_SCENES_DIR) + "/" + name + ".json";
}

class SimPlatform {
 public:
  // Loads `<name>.json` from the scenes folder; `runLoop` may be null when the
  // test needs no notices.
  explicit SimPlatform(const std::string& sceneName,
                       std::unique_ptr<platform::RunLoop> runLoop = nullptr) {
    sceneFile_ = dir_.file(sceneName + ".json");
    std::filesystem::copy_file(scenePath(sceneName), sceneFile_);
    std::string error;
    auto desktop = platform::SimDesktop::load(sceneFile_, error);
    if (!desktop) throw std::runtime_error(error);
    install(std::move(desktop), std::move(runLoop));
  }

  explicit SimPlatform(const char* sceneName, std::unique_ptr<platform::RunLoop> runLoop = nullptr)
      : SimPlatform(std::string(sceneName), std::move(runLoop)) {}

  // A scene given inline, kept in memory only.
  explicit SimPlatform(const nlohmann::json& scene,
                       std::unique_ptr<platform::RunLoop> runLoop = nullptr) {
    std::string error;
    auto desktop = platform::SimDesktop::fromJSON(scene, error);
    if (!desktop) throw std::runtime_error(error);
    install(std::move(desktop), std::move(runLoop));
  }

  ~SimPlatform() { platform::installPlatform(nullptr); }

  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  platform::SimDesktop& desktop() { return *desktop_; }
  platform::SimAccessibility& accessibility() {
    return static_cast<platform::SimAccessibility&>(*platform_.accessibility);
  }
  platform::Platform& platform() { return platform_; }
  // The scene's copy that written values are saved to (empty for inline scenes).
  const std::string& sceneFile() const { return sceneFile_; }

 private:
  void install(std::shared_ptr<platform::SimDesktop> desktop,
               std::unique_ptr<platform::RunLoop> runLoop) {
    desktop_ = std::move(desktop);
    desktop_->setMainRunLoop(runLoop.get());
    platform_.runLoop = std::move(runLoop);
    platform_.accessibility = std::make_unique<platform::SimAccessibility>(desktop_);
    platform_.workspace = std::make_unique<platform::SimWorkspace>(desktop_);
    platform::installPlatform(&platform_);
  }

  TempDir dir_;
  std::string sceneFile_;
  std::shared_ptr<platform::SimDesktop> desktop_;
  platform::Platform platform_;
};

}  // namespace nolari::test
