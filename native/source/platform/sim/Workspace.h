#pragma once

#include <memory>

#include "platform/Workspace.h"
#include "platform/sim/Desktop.h"

// The workspace of the simulated desktop: its applications, screens and
// pointer, and the activation notices its drive operations deliver.

namespace nolari::platform {

class SimWorkspace : public Workspace {
 public:
  explicit SimWorkspace(std::shared_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}

  const std::shared_ptr<SimDesktop>& desktop() const { return desktop_; }

  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<RunningApplication> runningApplication(std::int32_t pid) override;
  // As the user's switch (SimControl::activate).
  bool activate(const RunningApplication& app) override;
  std::vector<Screen> screens() override;
  std::optional<Screen> mainScreen() override;
  Point mouseLocation() override;
  ObserverToken addActivationObserver(ActivationHandler handler) override;
  void removeActivationObserver(ObserverToken token) override;

 private:
  std::shared_ptr<SimDesktop> desktop_;
};

}  // namespace nolari::platform
