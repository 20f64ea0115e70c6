#include "platform/sim/Desktop.h"

#include <algorithm>

namespace nolari::platform {

bool SimElementRef::isSameElement(const AXElementRef& other) const {
  const auto* o = dynamic_cast<const SimElementRef*>(&other);
  return o && o->desktop == desktop && o->kind == kind && o->pid == pid && o->node == node;
}

bool SimObserver::addRegistration(const AXUIElement& element, std::string_view notification) {
  std::lock_guard lock(mutex_);
  for (const auto& [registered, name] : registrations_) {
    if (registered == element && name == notification) return false;
  }
  registrations_.emplace_back(element, std::string(notification));
  return true;
}

bool SimObserver::isRegistered(std::string_view notification) const {
  std::lock_guard lock(mutex_);
  return std::any_of(registrations_.begin(), registrations_.end(),
                     [notification](const auto& r) { return r.second == notification; });
}

SimApplication* SimDesktop::State::appFor(std::int32_t pid) {
  for (auto& app : model.applications) {
    if (app.info.pid == pid) return &app;
  }
  return nullptr;
}

SimApplication* SimDesktop::State::liveApp(const SimElementRef& ref) {
  SimApplication* app = appFor(ref.pid);
  if (!app || !app->running) return nullptr;
  if (ref.node >= static_cast<int>(app->nodes.size())) return nullptr;
  return app;
}

std::shared_ptr<SimDesktop> SimDesktop::load(const std::string& path, std::string& error) {
  nlohmann::json document;
  auto file = SimSceneFile::read(path, document, error);
  if (!file) return nullptr;
  std::shared_ptr<SimDesktop> desktop(new SimDesktop);
  std::string what;
  if (!desktop->read(document, what)) {
    error = "scene file " + path + ": " + what;
    return nullptr;
  }
  desktop->state_.file = std::move(file);
  return desktop;
}

std::shared_ptr<SimDesktop> SimDesktop::fromJSON(const nlohmann::json& scene, std::string& error) {
  std::shared_ptr<SimDesktop> desktop(new SimDesktop);
  if (!desktop->read(scene, error)) return nullptr;
  return desktop;
}

bool SimDesktop::read(const nlohmann::json& scene, std::string& error) {
  SimHandleMaker maker = [this](std::int32_t pid, int node) { return handle(pid, node); };
  if (!SimScene::parse(scene, state_.model, maker, error)) return false;
  for (const auto& app : state_.model.applications) {
    state_.ids[app.id] = {app.info.pid, -1};
    for (std::size_t i = 0; i < app.nodes.size(); ++i) {
      state_.ids[app.nodes[i].id] = {app.info.pid, static_cast<int>(i)};
    }
  }
  return true;
}

void SimDesktop::setMainRunLoop(RunLoop* loop) {
  std::lock_guard lock(mutex_);
  mainLoop_ = loop;
}

RunLoop* SimDesktop::mainRunLoop() {
  std::lock_guard lock(mutex_);
  return mainLoop_;
}

AXUIElement SimDesktop::handle(std::int32_t pid, int node) const {
  return AXUIElement(std::make_shared<SimElementRef>(
      this, node < 0 ? SimElementRef::Kind::application : SimElementRef::Kind::node, pid, node));
}

AXUIElement SimDesktop::systemWideElement() const {
  return AXUIElement(std::make_shared<SimElementRef>(this, SimElementRef::Kind::systemWide, 0, -1));
}

const SimElementRef* SimDesktop::own(const AXUIElement& element) const {
  const auto* ref = element.as<SimElementRef>();
  return ref && ref->desktop == this ? ref : nullptr;
}

std::optional<std::string> SimDesktop::idOf(const State& state, const AXUIElement& element) const {
  const SimElementRef* ref = own(element);
  if (!ref || ref->kind == SimElementRef::Kind::systemWide) return std::nullopt;
  for (const auto& app : state.model.applications) {
    if (app.info.pid != ref->pid) continue;
    if (ref->node < 0) return app.id;
    if (ref->node < static_cast<int>(app.nodes.size())) {
      return app.nodes[static_cast<std::size_t>(ref->node)].id;
    }
  }
  return std::nullopt;
}

}  // namespace nolari::platform
