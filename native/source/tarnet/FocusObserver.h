#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "base/LineSink.h"
#include "core/NolariConfig.h"
#include "platform/Accessibility.h"
#include "platform/RunLoop.h"
#include "platform/Workspace.h"

// Follows the user from application to application: watches focus changes in
// the frontmost application through one accessibility observer, and reports
// each newly focused element to its line sink. Everything runs on the main
// run loop.

namespace nolari {

class FocusObserver : public std::enable_shared_from_this<FocusObserver> {
 public:
  // Longest wait of a delayed check; a longer configured delay is cut to it.
  static constexpr double MAX_RETRY_DELAY_SECONDS = 24 * 60 * 60;

  FocusObserver(platform::Accessibility& ax, platform::Workspace& workspace,
                platform::RunLoop& runLoop, LineSink& sink);
  ~FocusObserver();

  FocusObserver(const FocusObserver&) = delete;
  FocusObserver& operator=(const FocusObserver&) = delete;

  // Installs the configuration, follows application activations, and starts
  // watching the frontmost application. Call once, on an object held by a
  // shared pointer: activations and delayed checks hold it weakly.
  void start(const NolariConfig& config);
  // Moves the watch to the application `pid`; nothing when it is already the
  // watched one, also when its watch failed.
  void focusApp(std::int32_t pid);
  // Resolves the focused element from an element of the watched application
  // and reports it.
  void handleFocusChange(const platform::AXUIElement& appElement);

  std::int32_t currentPid() const { return currentPid_; }

 private:
  platform::Accessibility& ax_;
  platform::Workspace& workspace_;
  platform::RunLoop& runLoop_;
  LineSink& sink_;
  NolariConfig config_;
  std::shared_ptr<platform::AXObserver> currentObserver_;
  std::int32_t currentPid_ = 0;
  std::optional<platform::Workspace::ObserverToken> activationToken_;
};

}  // namespace nolari
