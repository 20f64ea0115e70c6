#include "platform/sim/Control.h"

namespace nolari::platform {

namespace {

// The notice of a focus change that an observer receives.
constexpr const char* FOCUS_CHANGED = "AXFocusedUIElementChanged";

}  // namespace

bool SimControl::activate(std::int32_t pid) {
  auto info = desktop_->withState([pid](SimDesktop::State& state) -> std::optional<RunningApplication> {
    SimApplication* app = state.appFor(pid);
    if (!app || !app->running) return std::nullopt;
    state.model.frontmost = pid;
    return app->info;
  });
  if (!info) return false;
  deliverActivation(info);
  return true;
}

void SimControl::announceActivationWithoutApplication() { deliverActivation(std::nullopt); }

void SimControl::deliverActivation(const std::optional<RunningApplication>& app) {
  if (RunLoop* loop = desktop_->mainRunLoop()) desktop_->activationNotices()->post(*loop, app);
}

bool SimControl::focus(const std::string& elementId) {
  auto focused = desktop_->withState([&](SimDesktop::State& state) -> std::optional<AXUIElement> {
    auto it = state.ids.find(elementId);
    if (it == state.ids.end() || it->second.second < 0) return std::nullopt;
    SimApplication* app = state.appFor(it->second.first);
    if (!app || !app->running) return std::nullopt;
    app->focused = it->second.second;
    return desktop_->handle(app->info.pid, app->focused);
  });
  if (!focused) return false;
  std::int32_t pid = focused->as<SimElementRef>()->pid;
  for (const auto& observer : desktop_->observers().of(pid)) {
    if (observer->isRegistered(FOCUS_CHANGED)) observer->post(*focused, FOCUS_CHANGED);
  }
  return true;
}

bool SimControl::setAttribute(const std::string& elementId, const std::string& attribute,
                              const nlohmann::json& value, std::string& error) {
  return desktop_->withState([&](SimDesktop::State& state) {
    auto it = state.ids.find(elementId);
    if (it == state.ids.end()) {
      error = "no element has the id \"" + elementId + "\"";
      return false;
    }
    SimElementFactory factory = [&](const std::string& id) -> std::optional<AXUIElement> {
      auto found = state.ids.find(id);
      if (found == state.ids.end()) return std::nullopt;
      return desktop_->handle(found->second.first, found->second.second);
    };
    auto answer = SimScene::parseAnswer(value, factory, attribute, error);
    if (!answer) return false;
    SimApplication* app = state.appFor(it->second.first);
    SimAttributes& target =
        it->second.second < 0 ? app->attributes
                              : app->nodes[static_cast<std::size_t>(it->second.second)].attributes;
    target[attribute] = std::move(*answer);
    return true;
  });
}

bool SimControl::quitApplication(std::int32_t pid) {
  return desktop_->withState([pid](SimDesktop::State& state) {
    SimApplication* app = state.appFor(pid);
    if (!app || !app->running) return false;
    app->running = false;
    if (state.model.frontmost == pid) state.model.frontmost.reset();
    return true;
  });
}

void SimControl::failNextObserverCreate(AXError code) {
  desktop_->withState([code](SimDesktop::State& state) { state.failObserverCreate = code; });
}

void SimControl::failNextAddNotification(AXError code) {
  desktop_->withState([code](SimDesktop::State& state) { state.failAddNotification = code; });
}

void SimControl::setMouseLocation(Point location) {
  desktop_->withState([location](SimDesktop::State& state) { state.model.mouse = location; });
}

void SimControl::setTrusted(bool trusted) {
  desktop_->withState([trusted](SimDesktop::State& state) { state.model.trusted = trusted; });
}

AXUIElement SimControl::element(const std::string& elementId) {
  return desktop_->withState([&](SimDesktop::State& state) -> AXUIElement {
    auto it = state.ids.find(elementId);
    if (it == state.ids.end()) return {};
    return desktop_->handle(it->second.first, it->second.second);
  });
}

float SimControl::messagingTimeout() {
  return desktop_->withState([](SimDesktop::State& state) { return state.messagingTimeout; });
}

}  // namespace nolari::platform
