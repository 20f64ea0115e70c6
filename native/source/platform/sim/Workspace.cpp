#include "platform/sim/Workspace.h"

#include "platform/sim/Control.h"

namespace nolari::platform {

using State = SimDesktop::State;

std::optional<RunningApplication> SimWorkspace::frontmostApplication() {
  return desktop_->withState([](State& state) -> std::optional<RunningApplication> {
    if (!state.model.frontmost) return std::nullopt;
    const SimApplication* app = state.appFor(*state.model.frontmost);
    if (!app || !app->running) return std::nullopt;
    return app->info;
  });
}

std::optional<RunningApplication> SimWorkspace::runningApplication(std::int32_t pid) {
  return desktop_->withState([pid](State& state) -> std::optional<RunningApplication> {
    const SimApplication* app = state.appFor(pid);
    if (!app || !app->running) return std::nullopt;
    return app->info;
  });
}

bool SimWorkspace::activate(const RunningApplication& app) {
  return SimControl(desktop_).activate(app.pid);
}

std::vector<Screen> SimWorkspace::screens() {
  return desktop_->withState([](State& state) { return state.model.screens; });
}

std::optional<Screen> SimWorkspace::mainScreen() {
  return desktop_->withState([](State& state) -> std::optional<Screen> {
    if (!state.model.mainScreen) return std::nullopt;
    return state.model.screens[*state.model.mainScreen];
  });
}

Point SimWorkspace::mouseLocation() {
  return desktop_->withState([](State& state) { return state.model.mouse; });
}

Workspace::ObserverToken SimWorkspace::addActivationObserver(ActivationHandler handler) {
  return desktop_->activationNotices()->add(std::move(handler));
}

void SimWorkspace::removeActivationObserver(ObserverToken token) {
  desktop_->activationNotices()->remove(token);
}

}  // namespace nolari::platform
