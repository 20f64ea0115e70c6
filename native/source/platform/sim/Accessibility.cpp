#include "platform/sim/Accessibility.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/NolariLogger.h"

namespace nolari::platform {

SimAccessibility::SimAccessibility(std::shared_ptr<SimDesktop> desktop)
    : desktop_(std::move(desktop)) {
  if (const char* file = std::getenv("NOLARI_SIM_COUNTS"); file && *file) countsFile_ = file;
}

namespace {

nlohmann::json countsJSON(
    const std::map<std::string, std::map<std::string, std::uint64_t, std::less<>>, std::less<>>&
        counts) {
  nlohmann::json out = nlohmann::json::object();
  for (const auto& [operation, byName] : counts) {
    nlohmann::json entry = nlohmann::json::object();
    for (const auto& [name, n] : byName) entry[name] = n;
    out[operation] = std::move(entry);
  }
  return out;
}

}  // namespace

nlohmann::json SimAccessibility::counts() const {
  std::lock_guard lock(countsMutex_);
  return countsJSON(counts_);
}

void SimAccessibility::resetCounts() {
  std::lock_guard lock(countsMutex_);
  counts_.clear();
}

// Written after every request, whole and in one rename, so the file is right
// however the process ends.
void SimAccessibility::count(const char* operation, std::string_view attribute) {
  std::lock_guard lock(countsMutex_);
  auto& byName = counts_[operation];
  ++byName["total"];
  if (!attribute.empty()) ++byName[std::string(attribute)];
  if (countsFile_.empty()) return;
  const std::string temp = countsFile_ + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return;
    out << countsJSON(counts_).dump(1, ' ', false, nlohmann::json::error_handler_t::replace)
        << '\n';
  }
  std::error_code ignored;
  std::filesystem::rename(temp, countsFile_, ignored);
}

// --- Answers -----------------------------------------------------------------
// Each runs under the desktop's lock, with its state.

namespace {

using State = SimDesktop::State;
using Kind = SimElementRef::Kind;

int windowOf(const SimApplication& app, int node) {
  for (int p = app.nodes[static_cast<std::size_t>(node)].parent; p >= 0;
       p = app.nodes[static_cast<std::size_t>(p)].parent) {
    const auto& attrs = app.nodes[static_cast<std::size_t>(p)].attributes;
    auto role = attrs.find("AXRole");
    if (role != attrs.end() && role->second.error == AXErrorCode::success) {
      const auto* s = role->second.value.get<std::string>();
      if (s && *s == "AXWindow") return p;
    }
  }
  return -1;
}

SimAnswer derivedApplicationAnswer(const SimDesktop& desktop, const SimApplication& app,
                                   std::string_view attribute) {
  if (attribute == "AXRole") return {AXErrorCode::success, "AXApplication"};
  if (attribute == "AXTitle") {
    if (!app.info.localizedName) return {AXErrorCode::noValue, {}};
    return {AXErrorCode::success, *app.info.localizedName};
  }
  if (attribute == "AXChildren" || attribute == "AXWindows") {
    AXArray windows;
    for (int w : app.windows) windows.emplace_back(desktop.handle(app.info.pid, w));
    return {AXErrorCode::success, std::move(windows)};
  }
  if (attribute == "AXFocusedUIElement") {
    if (app.focused < 0) return {AXErrorCode::noValue, {}};
    return {AXErrorCode::success, desktop.handle(app.info.pid, app.focused)};
  }
  if (attribute == "AXFocusedWindow" || attribute == "AXMainWindow") {
    int window = app.focused >= 0 ? windowOf(app, app.focused) : -1;
    if (window < 0 && !app.windows.empty()) window = app.windows.front();
    if (window < 0) return {AXErrorCode::noValue, {}};
    return {AXErrorCode::success, desktop.handle(app.info.pid, window)};
  }
  return {AXErrorCode::attributeUnsupported, {}};
}

SimAnswer derivedNodeAnswer(const SimDesktop& desktop, const SimApplication& app, int node,
                            std::string_view attribute) {
  const SimNode& n = app.nodes[static_cast<std::size_t>(node)];
  if (attribute == "AXParent")
    return {AXErrorCode::success, desktop.handle(app.info.pid, n.parent)};
  if (attribute == "AXChildren") {
    AXArray children;
    for (int c : n.children) children.emplace_back(desktop.handle(app.info.pid, c));
    return {AXErrorCode::success, std::move(children)};
  }
  if (attribute == "AXWindow") {
    int window = windowOf(app, node);
    if (window < 0) return {AXErrorCode::attributeUnsupported, {}};
    return {AXErrorCode::success, desktop.handle(app.info.pid, window)};
  }
  return {AXErrorCode::attributeUnsupported, {}};
}

SimAnswer answer(const SimDesktop& desktop, State& state, const AXUIElement& element,
                 std::string_view attribute) {
  if (!state.model.trusted) return {AXErrorCode::apiDisabled, {}};
  const SimElementRef* ref = desktop.own(element);
  if (!ref) return {AXErrorCode::illegalArgument, {}};
  if (ref->kind == Kind::systemWide) {
    if (auto it = state.model.systemWide.find(attribute); it != state.model.systemWide.end()) {
      return it->second;
    }
    const SimApplication* front =
        state.model.frontmost ? state.appFor(*state.model.frontmost) : nullptr;
    if (attribute == "AXRole") return {AXErrorCode::success, "AXSystemWide"};
    if (attribute == "AXFocusedApplication") {
      if (!front) return {AXErrorCode::noValue, {}};
      return {AXErrorCode::success, desktop.handle(front->info.pid, -1)};
    }
    if (attribute == "AXFocusedUIElement") {
      if (!front || front->focused < 0) return {AXErrorCode::noValue, {}};
      return {AXErrorCode::success, desktop.handle(front->info.pid, front->focused)};
    }
    return {AXErrorCode::attributeUnsupported, {}};
  }
  const SimApplication* app = state.liveApp(*ref);
  if (!app) return {AXErrorCode::invalidUIElement, {}};
  if (ref->node < 0) {
    if (auto it = app->attributes.find(attribute); it != app->attributes.end()) return it->second;
    return derivedApplicationAnswer(desktop, *app, attribute);
  }
  const SimNode& node = app->nodes[static_cast<std::size_t>(ref->node)];
  auto it = node.attributes.find(attribute);
  if (attribute == "AXFocused") {
    // Focus follows the application's focused element; an explicit error or
    // non-boolean answer is kept as given.
    const bool isFocused = app->focused == ref->node;
    if (it == node.attributes.end()) {
      if (isFocused) return {AXErrorCode::success, true};
      return {AXErrorCode::attributeUnsupported, {}};
    }
    if (it->second.error == AXErrorCode::success && it->second.value.get<bool>()) {
      return {AXErrorCode::success, isFocused};
    }
    return it->second;
  }
  if (it != node.attributes.end()) return it->second;
  return derivedNodeAnswer(desktop, *app, ref->node, attribute);
}

std::optional<Rect> frameOf(const SimNode& node) {
  auto position = node.attributes.find("AXPosition");
  auto size = node.attributes.find("AXSize");
  if (position == node.attributes.end() || size == node.attributes.end()) return std::nullopt;
  if (position->second.error != AXErrorCode::success ||
      size->second.error != AXErrorCode::success) {
    return std::nullopt;
  }
  const auto* p = position->second.value.get<Point>();
  const auto* s = size->second.value.get<Size>();
  if (!p || !s || s->width <= 0 || s->height <= 0) return std::nullopt;
  return Rect{*p, *s};
}

// The deepest element under the point, children before their parent and
// earlier siblings before later ones; elements without a frame are looked
// through.
int hitTest(const SimApplication& app, int node, Point point) {
  const SimNode& n = app.nodes[static_cast<std::size_t>(node)];
  for (int child : n.children) {
    int found = hitTest(app, child, point);
    if (found >= 0) return found;
  }
  auto frame = frameOf(n);
  return frame && frame->contains(point) ? node : -1;
}

}  // namespace

// --- The interface -----------------------------------------------------------

bool SimAccessibility::isProcessTrusted(bool prompt) {
  count("isProcessTrusted", prompt ? "prompt" : "");
  return desktop_->withState([](State& state) { return state.model.trusted; });
}

AXUIElement SimAccessibility::createSystemWide() { return desktop_->systemWideElement(); }

AXUIElement SimAccessibility::createApplication(std::int32_t pid) {
  return desktop_->handle(pid, -1);
}

AXError SimAccessibility::copyAttributeValue(const AXUIElement& element, std::string_view attribute,
                                             AXValue& value) {
  count("copyAttributeValue", attribute);
  SimAnswer found = desktop_->withState(
      [&](State& state) { return answer(*desktop_, state, element, attribute); });
  if (found.error == AXErrorCode::success) value = std::move(found.value);
  return found.error;
}

AXError SimAccessibility::isAttributeSettable(const AXUIElement& element,
                                              std::string_view attribute, bool& settable) {
  count("isAttributeSettable", attribute);
  SimAnswer found = desktop_->withState([&](State& state) -> SimAnswer {
    SimAnswer readable = answer(*desktop_, state, element, attribute);
    const SimElementRef* ref = desktop_->own(element);
    if (ref && ref->kind == Kind::node && state.model.trusted) {
      if (const SimApplication* app = state.liveApp(*ref)) {
        const SimNode& node = app->nodes[static_cast<std::size_t>(ref->node)];
        if (auto it = node.settable.find(attribute); it != node.settable.end()) return it->second;
      }
    }
    if (readable.error != AXErrorCode::success && readable.error != AXErrorCode::noValue) {
      return {readable.error, {}};
    }
    return {AXErrorCode::success, false};
  });
  if (found.error == AXErrorCode::success) settable = *found.value.get<bool>();
  return found.error;
}

AXError SimAccessibility::setAttributeValue(const AXUIElement& element, std::string_view attribute,
                                            const AXValue& value) {
  count("setAttributeValue", attribute);
  return desktop_->withState([&](State& state) -> AXError {
    if (!state.model.trusted) return AXErrorCode::apiDisabled;
    const SimElementRef* ref = desktop_->own(element);
    if (!ref) return AXErrorCode::illegalArgument;
    if (ref->kind == Kind::systemWide) return AXErrorCode::attributeUnsupported;
    SimApplication* app = state.liveApp(*ref);
    if (!app) return AXErrorCode::invalidUIElement;
    if (ref->node < 0) return AXErrorCode::attributeUnsupported;
    SimNode& node = app->nodes[static_cast<std::size_t>(ref->node)];
    if (auto it = node.setErrors.find(attribute); it != node.setErrors.end()) return it->second;
    auto settable = node.settable.find(attribute);
    if (settable == node.settable.end() || settable->second.error != AXErrorCode::success ||
        !*settable->second.value.get<bool>()) {
      return AXErrorCode::attributeUnsupported;
    }
    if (state.file) {
      std::string error;
      auto encoded = SimScene::valueToJSON(
          value, [&](const AXUIElement& e) { return desktop_->idOf(state, e); });
      if (!encoded) error = "the value names an element outside the scene";
      if (!encoded ||
          !state.file->save(node.documentPointer, attribute, std::move(*encoded), error)) {
        NolariLogger::error("simulated desktop: cannot save the written value: " + error);
        return AXErrorCode::cannotComplete;
      }
    }
    node.attributes[std::string(attribute)] = SimAnswer{AXErrorCode::success, value};
    return AXErrorCode::success;
  });
}

AXError SimAccessibility::copyParameterizedAttributeValue(const AXUIElement& element,
                                                          std::string_view attribute,
                                                          const AXValue& parameter,
                                                          AXValue& value) {
  count("copyParameterizedAttributeValue", attribute);
  SimAnswer found = desktop_->withState([&](State& state) -> SimAnswer {
    if (!state.model.trusted) return {AXErrorCode::apiDisabled, {}};
    const SimElementRef* ref = desktop_->own(element);
    if (!ref) return {AXErrorCode::illegalArgument, {}};
    if (ref->kind == Kind::systemWide) return {AXErrorCode::parameterizedAttributeUnsupported, {}};
    const SimApplication* app = state.liveApp(*ref);
    if (!app) return {AXErrorCode::invalidUIElement, {}};
    if (ref->node < 0 || attribute != "AXBoundsForRange") {
      return {AXErrorCode::parameterizedAttributeUnsupported, {}};
    }
    const SimNode& node = app->nodes[static_cast<std::size_t>(ref->node)];
    if (node.boundsForRange.empty()) return {AXErrorCode::parameterizedAttributeUnsupported, {}};
    const auto* range = parameter.get<TextRange>();
    if (!range) return {AXErrorCode::illegalArgument, {}};
    for (const auto& entry : node.boundsForRange) {
      if (entry.range && *entry.range == *range) return entry.answer;
    }
    for (const auto& entry : node.boundsForRange) {
      if (!entry.range) return entry.answer;
    }
    return {AXErrorCode::noValue, {}};
  });
  if (found.error == AXErrorCode::success) value = std::move(found.value);
  return found.error;
}

AXError SimAccessibility::copyElementAtPosition(const AXUIElement& element, float x, float y,
                                                AXUIElement& found) {
  count("copyElementAtPosition");
  const Point point{x, y};
  return desktop_->withState([&](State& state) -> AXError {
    if (!state.model.trusted) return AXErrorCode::apiDisabled;
    const SimElementRef* ref = desktop_->own(element);
    if (!ref) return AXErrorCode::illegalArgument;
    std::vector<const SimApplication*> apps;
    std::vector<int> roots;
    if (ref->kind == Kind::systemWide) {
      // The frontmost application's windows lie above every other's.
      if (state.model.frontmost) apps.push_back(state.appFor(*state.model.frontmost));
      for (const auto& app : state.model.applications) {
        if (app.running && &app != (apps.empty() ? nullptr : apps.front())) apps.push_back(&app);
      }
    } else {
      const SimApplication* app = state.liveApp(*ref);
      if (!app) return AXErrorCode::invalidUIElement;
      apps.push_back(app);
      if (ref->node >= 0) roots.push_back(ref->node);
    }
    for (const SimApplication* app : apps) {
      const std::vector<int>& start = roots.empty() ? app->windows : roots;
      for (int root : start) {
        int hit = hitTest(*app, root, point);
        if (hit >= 0) {
          found = desktop_->handle(app->info.pid, hit);
          return AXErrorCode::success;
        }
      }
    }
    return AXErrorCode::noValue;
  });
}

AXError SimAccessibility::getPid(const AXUIElement& element, std::int32_t& pid) {
  count("getPid");
  return desktop_->withState([&](State& state) -> AXError {
    const SimElementRef* ref = desktop_->own(element);
    if (!ref || ref->kind == Kind::systemWide) return AXErrorCode::illegalArgument;
    if (!state.liveApp(*ref)) return AXErrorCode::invalidUIElement;
    pid = ref->pid;
    return AXErrorCode::success;
  });
}

AXError SimAccessibility::setMessagingTimeout(const AXUIElement& element, float seconds) {
  count("setMessagingTimeout");
  return desktop_->withState([&](State& state) -> AXError {
    const SimElementRef* ref = desktop_->own(element);
    if (!ref || seconds < 0) return AXErrorCode::illegalArgument;
    if (ref->kind != Kind::systemWide && !state.liveApp(*ref)) return AXErrorCode::invalidUIElement;
    if (ref->kind == Kind::systemWide) state.messagingTimeout = seconds;
    return AXErrorCode::success;
  });
}

AXError SimAccessibility::createObserver(std::int32_t pid, AXObserverCallback callback,
                                         std::shared_ptr<AXObserver>& observer) {
  count("createObserver");
  const AXError refused = desktop_->withState([&](State& state) -> AXError {
    if (state.failObserverCreate) {
      const AXError code = *state.failObserverCreate;
      state.failObserverCreate.reset();
      return code;
    }
    return AXErrorCode::success;
  });
  if (refused) return refused;
  // Creating an observer asks nothing of the application, so it works
  // untrusted; registering a notification does not.
  if (pid <= 0 || !callback) return AXErrorCode::illegalArgument;
  auto created = std::make_shared<SimObserver>(pid, std::move(callback));
  desktop_->observers().add(created);
  observer = std::move(created);
  return AXErrorCode::success;
}

AXError SimAccessibility::addNotification(AXObserver& observer, const AXUIElement& element,
                                          std::string_view notification) {
  count("addNotification", notification);
  auto* sim = dynamic_cast<SimObserver*>(&observer);
  const AXError refused = desktop_->withState([&](State& state) -> AXError {
    if (state.failAddNotification) {
      const AXError code = *state.failAddNotification;
      state.failAddNotification.reset();
      return code;
    }
    if (!state.model.trusted) return AXErrorCode::apiDisabled;
    const SimElementRef* ref = desktop_->own(element);
    if (!sim) return AXErrorCode::invalidUIElementObserver;
    if (!ref || ref->kind == Kind::systemWide || ref->pid != sim->pid) {
      return AXErrorCode::illegalArgument;
    }
    if (!state.liveApp(*ref)) return AXErrorCode::invalidUIElement;
    return AXErrorCode::success;
  });
  if (refused) return refused;
  if (!sim->addRegistration(element, notification))
    return AXErrorCode::notificationAlreadyRegistered;
  return AXErrorCode::success;
}

void SimAccessibility::scheduleObserver(AXObserver& observer, RunLoop& runLoop) {
  if (auto* sim = dynamic_cast<SimObserver*>(&observer)) sim->schedule(&runLoop);
}

void SimAccessibility::unscheduleObserver(AXObserver& observer) {
  if (auto* sim = dynamic_cast<SimObserver*>(&observer)) sim->schedule(nullptr);
}

}  // namespace nolari::platform
