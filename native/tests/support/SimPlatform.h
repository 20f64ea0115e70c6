#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "TempDir.h"
#include "platform/Platform.h"
#include "platform/sim/Accessibility.h"
#include "platform/sim/Control.h"
#include "platform/sim/Windowing.h"
#include "platform/sim/Workspace.h"

// A simulated desktop for one test, connected the way the programs connect
// theirs. Scenes are copied into a temporary directory first, so values
// written by a test never reach the checked-in scene files. Header-only: the
// support library does not link the platform library.

namespace nolari::test {

inline std::string scenePath(const std::string& name) {
  return std::string(NOLARI_SCENES_DIR) + "/" + name + ".json";
}

class SimPlatform {
 public:
  // Loads `<name>.json` from the scenes folder. Notices go to `runLoop`; without
  // one, to a real loop that nothing runs.
  explicit SimPlatform(const std::string& sceneName,
                       std::unique_ptr<platform::RunLoop> runLoop = nullptr) {
    const std::string file = dir_.file(sceneName + ".json");
    std::filesystem::copy_file(scenePath(sceneName), file);
    connect(file, std::move(runLoop));
  }

  explicit SimPlatform(const char* sceneName, std::unique_ptr<platform::RunLoop> runLoop = nullptr)
      : SimPlatform(std::string(sceneName), std::move(runLoop)) {}

  // A scene given inline.
  explicit SimPlatform(const nlohmann::json& scene,
                       std::unique_ptr<platform::RunLoop> runLoop = nullptr) {
    const std::string file = dir_.file("scene.json");
    std::ofstream(file) << scene.dump();
    connect(file, std::move(runLoop));
  }

  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  // The desktop's drive operations: what the user and other applications do.
  platform::SimControl& desktop() { return *control_; }
  platform::SimAccessibility& accessibility() {
    return static_cast<platform::SimAccessibility&>(*platform_.accessibility);
  }
  platform::SimWorkspace& workspace() {
    return static_cast<platform::SimWorkspace&>(*platform_.workspace);
  }
  platform::SimWindowing& windowing() {
    return static_cast<platform::SimWindowing&>(*platform_.windowing);
  }
  platform::Platform& platform() { return platform_; }
  // The scene's copy that written values are saved to.
  const std::string& sceneFile() const { return sceneFile_; }

 private:
  void connect(const std::string& file, std::unique_ptr<platform::RunLoop> runLoop) {
    sceneFile_ = file;
    platform_.runLoop = std::move(runLoop);
    std::string error;
    if (!platform::connectPlatform(platform_, {.desktop = true, .windows = true},
                                   {.platform = "sim", .simScene = file}, error)) {
      throw std::runtime_error(error);
    }
    auto& workspace = static_cast<platform::SimWorkspace&>(*platform_.workspace);
    control_ = std::make_unique<platform::SimControl>(workspace.desktop());
  }

  TempDir dir_;
  std::string sceneFile_;
  platform::Platform platform_;
  std::unique_ptr<platform::SimControl> control_;
};

}  // namespace nolari::test
