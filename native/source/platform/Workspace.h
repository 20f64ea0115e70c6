#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"

// Running applications, which one is frontmost, and the screens.

namespace nolari::platform {

struct RunningApplication {
  std::int32_t pid = 0;
  std::optional<std::string> localizedName;
  std::optional<std::string> bundleIdentifier;
  friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// Frames in bottom-left screen coordinates.
struct Screen {
  Rect frame;
  Rect visibleFrame;
  friend bool operator==(const Screen&, const Screen&) = default;
};

class Workspace {
 public:
  virtual ~Workspace() = default;

  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  virtual std::optional<RunningApplication> runningApplication(std::int32_t pid) = 0;
  // Brings the application's front window forward with the keyboard focus,
  // as when the user switches to it. False when the application is gone or
  // has no window to bring forward.
  virtual bool activate(const RunningApplication& app) = 0;

  // Every attached screen, and the one holding the key window or menu bar.
  virtual std::vector<Screen> screens() = 0;
  virtual std::optional<Screen> mainScreen() = 0;
  // The pointer, in bottom-left screen coordinates.
  virtual Point mouseLocation() = 0;

  // Application activation notices, delivered on the main run loop. The
  // notice may come without an application.
  using ActivationHandler = std::function<void(const std::optional<RunningApplication>&)>;
  using ObserverToken = std::uint64_t;
  virtual ObserverToken addActivationObserver(ActivationHandler handler) = 0;
  virtual void removeActivationObserver(ObserverToken token) = 0;
};

}  // namespace nolari::platform
