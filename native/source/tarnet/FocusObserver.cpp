#include "tarnet/FocusObserver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "base/NolariLogger.h"
#include "core/AXFocusResolver.h"
#include "core/AXHelpers.h"
#include "tarnet/FocusEmitter.h"

namespace nolari {

namespace {

namespace AXErrorCode = platform::AXErrorCode;

constexpr const char* FOCUS_CHANGED = "AXFocusedUIElementChanged";

std::string applicationName(platform::Workspace& workspace, std::int32_t pid) {
  auto app = workspace.runningApplication(pid);
  if (!app || !app->localizedName) return "Unknown";
  return *app->localizedName;
}

// A configured delay in seconds as a run-loop duration; the file may hold any
// number, and one outside the duration's range must not overflow it.
platform::Duration retryDelay(double seconds) {
  const double bounded =
      std::isnan(seconds) ? 0 : std::clamp(seconds, 0.0, FocusObserver::MAX_RETRY_DELAY_SECONDS);
  return std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(bounded));
}

}  // namespace

FocusObserver::FocusObserver(platform::Accessibility& ax, platform::Workspace& workspace,
                             platform::RunLoop& runLoop, LineSink& sink)
    : ax_(ax), workspace_(workspace), runLoop_(runLoop), sink_(sink) {}

FocusObserver::~FocusObserver() {
  if (activationToken_) workspace_.removeActivationObserver(*activationToken_);
  if (currentObserver_) ax_.unscheduleObserver(*currentObserver_);
}

void FocusObserver::start(const NolariConfig& config) {
  config_ = config;
  std::weak_ptr<FocusObserver> weak = weak_from_this();
  activationToken_ = workspace_.addActivationObserver(
      [weak](const std::optional<platform::RunningApplication>& app) {
        auto self = weak.lock();
        if (self && app) self->focusApp(app->pid);
      });
  if (auto front = workspace_.frontmostApplication()) focusApp(front->pid);
}

void FocusObserver::focusApp(std::int32_t pid) {
  if (pid == currentPid_) return;
  if (currentObserver_) {
    ax_.unscheduleObserver(*currentObserver_);
    currentObserver_.reset();
  }
  currentPid_ = pid;
  const std::string described = std::to_string(pid) + " (" + applicationName(workspace_, pid) + ")";

  std::weak_ptr<FocusObserver> weak = weak_from_this();
  std::shared_ptr<platform::AXObserver> observer;
  const platform::AXError created = ax_.createObserver(
      pid,
      [weak](const platform::AXUIElement& element, const std::string&) {
        if (auto self = weak.lock()) self->handleFocusChange(element);
      },
      observer);
  if (created != AXErrorCode::success || !observer) {
    sink_.emitError("Failed to create observer for pid " + described +
                    ", code: " + std::to_string(created));
    return;
  }

  currentObserver_ = observer;
  const platform::AXUIElement appElement = ax_.createApplication(pid);
  const platform::AXError added = ax_.addNotification(*observer, appElement, FOCUS_CHANGED);
  if (added == AXErrorCode::success) {
    ax_.scheduleObserver(*observer, runLoop_);
    sink_.emit({{"status", "Observing pid " + described}});
  } else {
    sink_.emitError("Failed to add notification for pid " + described +
                    ", code: " + std::to_string(added));
  }

  // No notice is sent for the focus that already exists when an application
  // comes to the front, so it is looked up a few times after the switch.
  for (double seconds : config_.observer.focusRetryDelays) {
    runLoop_.postAfter(retryDelay(seconds), [weak, pid, appElement] {
      auto self = weak.lock();
      if (self && self->currentPid_ == pid) self->handleFocusChange(appElement);
    });
  }
}

void FocusObserver::handleFocusChange(const platform::AXUIElement& appElement) {
  const std::int32_t pid = currentPid_;
  auto focused = AXFocusResolver::resolveFocusedElement(ax_, appElement, pid);
  // The front can move on before its activation notice arrives (a starting
  // application's windows come and go), and the system-wide focus then lies in
  // another application: the watched application's own focus is taken
  // instead, so that no report pairs one application with another's field.
  std::int32_t owner = 0;
  if (focused && ax_.getPid(*focused, owner) == AXErrorCode::success && owner != pid) {
    focused = AXHelpers::getElementAttribute(ax_, ax_.createApplication(pid), "AXFocusedUIElement");
  }
  if (focused) {
    FocusEmitter::emitFocus(sink_, ax_, workspace_, *focused, pid);
  } else {
    NolariLogger::debug("No focused element found for pid " + std::to_string(pid));
  }
}

}  // namespace nolari
