#include "platform/sim/Desktop.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/NolariLogger.h"

namespace nolari::platform {

using nlohmann::json;

// A per-application notification source of the simulated desktop. Its fields
// are touched from the caller's thread and from the run loop that delivers.
class SimObserver : public AXObserver {
 public:
  SimObserver(std::int32_t pid, AXObserverCallback callback)
      : pid(pid), callback(std::move(callback)) {}

  const std::int32_t pid;
  const AXObserverCallback callback;
  std::mutex mutex;
  std::vector<std::pair<AXUIElement, std::string>> registrations;
  RunLoop* loop = nullptr;
};

bool SimElementRef::isSameElement(const AXElementRef& other) const {
  const auto* o = dynamic_cast<const SimElementRef*>(&other);
  return o && o->desktop == desktop && o->kind == kind && o->pid == pid && o->node == node;
}

namespace {

// The notice of a focus change that an observer receives.
constexpr const char* FOCUS_CHANGED = "AXFocusedUIElementChanged";

std::string parseErrorText(const std::string& what) {
  // Drops the library's "[json.exception.parse_error.101] " prefix.
  auto end = what.find("] ");
  return end == std::string::npos ? what : what.substr(end + 2);
}

// Replaces the file in one step: a reader sees the old scene or the new one.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path temp = target.parent_path() /
                        ("." + target.filename().string() + ".tmp." + std::to_string(::getpid()));
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = temp.string() + ": " + std::strerror(errno);
      return false;
    }
    out << text;
    out.flush();
    if (!out) {
      error = temp.string() + ": write failed";
      std::error_code ignored;
      fs::remove(temp, ignored);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    error = path + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<SimDesktop> SimDesktop::load(const std::string& path, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    error = "scene file " + path + ": is a directory";
    return nullptr;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "scene file " + path + ": cannot be read (" + std::strerror(errno) + ")";
    return nullptr;
  }
  std::stringstream text;
  text << in.rdbuf();
  json document;
  try {
    document = json::parse(text.str());
  } catch (const json::exception& e) {
    error = "scene file " + path + ": not valid JSON (" + parseErrorText(e.what()) + ")";
    return nullptr;
  }
  std::shared_ptr<SimDesktop> desktop(new SimDesktop);
  std::string what;
  if (!desktop->read(document, what)) {
    error = "scene file " + path + ": " + what;
    return nullptr;
  }
  desktop->path_ = path;
  desktop->document_ = nlohmann::ordered_json::parse(text.str());
  return desktop;
}

std::shared_ptr<SimDesktop> SimDesktop::fromJSON(const json& scene, std::string& error) {
  std::shared_ptr<SimDesktop> desktop(new SimDesktop);
  if (!desktop->read(scene, error)) return nullptr;
  return desktop;
}

bool SimDesktop::read(const json& scene, std::string& error) {
  SimHandleMaker maker = [this](std::int32_t pid, int node) { return handle(pid, node); };
  if (!SimScene::parse(scene, model_, maker, error)) return false;
  for (const auto& app : model_.applications) {
    ids_[app.id] = {app.info.pid, -1};
    for (std::size_t i = 0; i < app.nodes.size(); ++i) {
      ids_[app.nodes[i].id] = {app.info.pid, static_cast<int>(i)};
    }
  }
  return true;
}

void SimDesktop::setMainRunLoop(RunLoop* loop) {
  std::lock_guard lock(mutex_);
  mainLoop_ = loop;
}

AXUIElement SimDesktop::handle(std::int32_t pid, int node) const {
  return AXUIElement(std::make_shared<SimElementRef>(
      this, node < 0 ? SimElementRef::Kind::application : SimElementRef::Kind::node, pid, node));
}

const SimElementRef* SimDesktop::own(const AXUIElement& element) const {
  const auto* ref = element.as<SimElementRef>();
  return ref && ref->desktop == this ? ref : nullptr;
}

SimApplication* SimDesktop::appFor(std::int32_t pid) {
  for (auto& app : model_.applications) {
    if (app.info.pid == pid) return &app;
  }
  return nullptr;
}

SimApplication* SimDesktop::liveApp(const SimElementRef& ref) {
  SimApplication* app = appFor(ref.pid);
  if (!app || !app->running) return nullptr;
  if (ref.node >= static_cast<int>(app->nodes.size())) return nullptr;
  return app;
}

std::optional<std::string> SimDesktop::idOf(const AXUIElement& element) const {
  const SimElementRef* ref = own(element);
  if (!ref || ref->kind == SimElementRef::Kind::systemWide) return std::nullopt;
  for (const auto& app : model_.applications) {
    if (app.info.pid != ref->pid) continue;
    if (ref->node < 0) return app.id;
    if (ref->node < static_cast<int>(app.nodes.size())) {
      return app.nodes[static_cast<std::size_t>(ref->node)].id;
    }
  }
  return std::nullopt;
}

// --- Drive operations --------------------------------------------------------

bool SimDesktop::activate(std::int32_t pid) {
  std::optional<RunningApplication> info;
  {
    std::lock_guard lock(mutex_);
    SimApplication* app = appFor(pid);
    if (!app || !app->running) return false;
    model_.frontmost = pid;
    info = app->info;
  }
  deliverActivation(info);
  return true;
}

void SimDesktop::announceActivationWithoutApplication() { deliverActivation(std::nullopt); }

void SimDesktop::deliverActivation(std::optional<RunningApplication> app) {
  RunLoop* loop;
  {
    std::lock_guard lock(mutex_);
    loop = mainLoop_;
  }
  if (!loop) return;
  std::weak_ptr<SimDesktop> weak = weak_from_this();
  loop->post([weak, app] {
    auto desktop = weak.lock();
    if (!desktop) return;
    std::vector<Workspace::ActivationHandler> handlers;
    {
      std::lock_guard lock(desktop->mutex_);
      for (const auto& [token, handler] : desktop->activationObservers_) handlers.push_back(handler);
    }
    for (const auto& handler : handlers) handler(app);
  });
}

bool SimDesktop::focus(const std::string& elementId) {
  AXUIElement focused;
  std::vector<std::pair<std::shared_ptr<SimObserver>, RunLoop*>> targets;
  {
    std::lock_guard lock(mutex_);
    auto it = ids_.find(elementId);
    if (it == ids_.end() || it->second.second < 0) return false;
    SimApplication* app = appFor(it->second.first);
    if (!app || !app->running) return false;
    app->focused = it->second.second;
    focused = handle(app->info.pid, app->focused);
    std::erase_if(observers_, [](const auto& w) { return w.expired(); });
    for (const auto& weak : observers_) {
      auto observer = weak.lock();
      if (!observer || observer->pid != app->info.pid) continue;
      std::lock_guard observerLock(observer->mutex);
      bool registered = std::any_of(observer->registrations.begin(), observer->registrations.end(),
                                    [](const auto& r) { return r.second == FOCUS_CHANGED; });
      if (registered && observer->loop) targets.emplace_back(observer, observer->loop);
    }
  }
  for (const auto& [observer, loop] : targets) {
    std::weak_ptr<SimObserver> weak = observer;
    loop->post([weak, loop = loop, focused] {
      auto o = weak.lock();
      if (!o) return;
      {
        std::lock_guard lock(o->mutex);
        if (o->loop != loop) return;
      }
      o->callback(focused, FOCUS_CHANGED);
    });
  }
  return true;
}

bool SimDesktop::setAttribute(const std::string& elementId, const std::string& attribute,
                              const json& value, std::string& error) {
  std::lock_guard lock(mutex_);
  auto it = ids_.find(elementId);
  if (it == ids_.end()) {
    error = "no element has the id \"" + elementId + "\"";
    return false;
  }
  SimElementFactory factory = [this](const std::string& id) -> std::optional<AXUIElement> {
    auto found = ids_.find(id);
    if (found == ids_.end()) return std::nullopt;
    return handle(found->second.first, found->second.second);
  };
  auto answer = SimScene::parseAnswer(value, factory, attribute, error);
  if (!answer) return false;
  SimApplication* app = appFor(it->second.first);
  SimAttributes& target = it->second.second < 0
                              ? app->attributes
                              : app->nodes[static_cast<std::size_t>(it->second.second)].attributes;
  target[attribute] = std::move(*answer);
  return true;
}

bool SimDesktop::quitApplication(std::int32_t pid) {
  std::lock_guard lock(mutex_);
  SimApplication* app = appFor(pid);
  if (!app || !app->running) return false;
  app->running = false;
  if (model_.frontmost == pid) model_.frontmost.reset();
  return true;
}

void SimDesktop::failNextObserverCreate(AXError code) {
  std::lock_guard lock(mutex_);
  failObserverCreate_ = code;
}

void SimDesktop::failNextAddNotification(AXError code) {
  std::lock_guard lock(mutex_);
  failAddNotification_ = code;
}

void SimDesktop::setMouseLocation(Point location) {
  std::lock_guard lock(mutex_);
  model_.mouse = location;
}

void SimDesktop::setTrusted(bool trusted) {
  std::lock_guard lock(mutex_);
  model_.trusted = trusted;
}

AXUIElement SimDesktop::element(const std::string& elementId) {
  std::lock_guard lock(mutex_);
  auto it = ids_.find(elementId);
  if (it == ids_.end()) return {};
  return handle(it->second.first, it->second.second);
}

float SimDesktop::messagingTimeout() {
  std::lock_guard lock(mutex_);
  return messagingTimeout_;
}

// --- Accessibility -----------------------------------------------------------

bool SimDesktop::trusted() {
  std::lock_guard lock(mutex_);
  return model_.trusted;
}

AXUIElement SimDesktop::systemWideElement() {
  return AXUIElement(
      std::make_shared<SimElementRef>(this, SimElementRef::Kind::systemWide, 0, -1));
}

AXUIElement SimDesktop::applicationElement(std::int32_t pid) { return handle(pid, -1); }

SimAnswer SimDesktop::copyAttributeValue(const AXUIElement& element, std::string_view attribute) {
  std::lock_guard lock(mutex_);
  return answerLocked(element, attribute);
}

SimAnswer SimDesktop::answerLocked(const AXUIElement& element, std::string_view attribute) {
  if (!model_.trusted) return {AXErrorCode::apiDisabled, {}};
  const SimElementRef* ref = own(element);
  if (!ref) return {AXErrorCode::illegalArgument, {}};
  if (ref->kind == SimElementRef::Kind::systemWide) {
    if (auto it = model_.systemWide.find(attribute); it != model_.systemWide.end()) {
      return it->second;
    }
    const SimApplication* front = model_.frontmost ? appFor(*model_.frontmost) : nullptr;
    if (attribute == "AXRole") return {AXErrorCode::success, "AXSystemWide"};
    if (attribute == "AXFocusedApplication") {
      if (!front) return {AXErrorCode::noValue, {}};
      return {AXErrorCode::success, handle(front->info.pid, -1)};
    }
    if (attribute == "AXFocusedUIElement") {
      if (!front || front->focused < 0) return {AXErrorCode::noValue, {}};
      return {AXErrorCode::success, handle(front->info.pid, front->focused)};
    }
    return {AXErrorCode::attributeUnsupported, {}};
  }
  const SimApplication* app = liveApp(*ref);
  if (!app) return {AXErrorCode::invalidUIElement, {}};
  if (ref->node < 0) {
    if (auto it = app->attributes.find(attribute); it != app->attributes.end()) return it->second;
    return derivedApplicationAnswer(*app, attribute);
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
  return derivedNodeAnswer(*app, ref->node, attribute);
}

int SimDesktop::windowOf(const SimApplication& app, int node) const {
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

SimAnswer SimDesktop::derivedApplicationAnswer(const SimApplication& app,
                                               std::string_view attribute) const {
  if (attribute == "AXRole") return {AXErrorCode::success, "AXApplication"};
  if (attribute == "AXTitle") {
    if (!app.info.localizedName) return {AXErrorCode::noValue, {}};
    return {AXErrorCode::success, *app.info.localizedName};
  }
  if (attribute == "AXChildren" || attribute == "AXWindows") {
    AXArray windows;
    for (int w : app.windows) windows.emplace_back(handle(app.info.pid, w));
    return {AXErrorCode::success, std::move(windows)};
  }
  if (attribute == "AXFocusedUIElement") {
    if (app.focused < 0) return {AXErrorCode::noValue, {}};
    return {AXErrorCode::success, handle(app.info.pid, app.focused)};
  }
  if (attribute == "AXFocusedWindow" || attribute == "AXMainWindow") {
    int window = app.focused >= 0 ? windowOf(app, app.focused) : -1;
    if (window < 0 && !app.windows.empty()) window = app.windows.front();
    if (window < 0) return {AXErrorCode::noValue, {}};
    return {AXErrorCode::success, handle(app.info.pid, window)};
  }
  return {AXErrorCode::attributeUnsupported, {}};
}

SimAnswer SimDesktop::derivedNodeAnswer(const SimApplication& app, int node,
                                        std::string_view attribute) const {
  const SimNode& n = app.nodes[static_cast<std::size_t>(node)];
  if (attribute == "AXParent") return {AXErrorCode::success, handle(app.info.pid, n.parent)};
  if (attribute == "AXChildren") {
    AXArray children;
    for (int c : n.children) children.emplace_back(handle(app.info.pid, c));
    return {AXErrorCode::success, std::move(children)};
  }
  if (attribute == "AXWindow") {
    int window = windowOf(app, node);
    if (window < 0) return {AXErrorCode::attributeUnsupported, {}};
    return {AXErrorCode::success, handle(app.info.pid, window)};
  }
  return {AXErrorCode::attributeUnsupported, {}};
}

SimAnswer SimDesktop::isAttributeSettable(const AXUIElement& element,
                                          std::string_view attribute) {
  std::lock_guard lock(mutex_);
  SimAnswer readable = answerLocked(element, attribute);
  const SimElementRef* ref = own(element);
  if (ref && ref->kind == SimElementRef::Kind::node && model_.trusted) {
    if (const SimApplication* app = liveApp(*ref)) {
      const SimNode& node = app->nodes[static_cast<std::size_t>(ref->node)];
      if (auto it = node.settable.find(attribute); it != node.settable.end()) return it->second;
    }
  }
  if (readable.error != AXErrorCode::success && readable.error != AXErrorCode::noValue) {
    return {readable.error, {}};
  }
  return {AXErrorCode::success, false};
}

AXError SimDesktop::setAttributeValue(const AXUIElement& element, std::string_view attribute,
                                      const AXValue& value) {
  std::lock_guard lock(mutex_);
  if (!model_.trusted) return AXErrorCode::apiDisabled;
  const SimElementRef* ref = own(element);
  if (!ref) return AXErrorCode::illegalArgument;
  if (ref->kind == SimElementRef::Kind::systemWide) return AXErrorCode::attributeUnsupported;
  SimApplication* app = liveApp(*ref);
  if (!app) return AXErrorCode::invalidUIElement;
  if (ref->node < 0) return AXErrorCode::attributeUnsupported;
  SimNode& node = app->nodes[static_cast<std::size_t>(ref->node)];
  if (auto it = node.setErrors.find(attribute); it != node.setErrors.end()) return it->second;
  auto settable = node.settable.find(attribute);
  if (settable == node.settable.end() || settable->second.error != AXErrorCode::success ||
      !*settable->second.value.get<bool>()) {
    return AXErrorCode::attributeUnsupported;
  }
  std::string error;
  if (!persist(node, attribute, value, error)) {
    NolariLogger::error("simulated desktop: cannot save the written value: " + error);
    return AXErrorCode::cannotComplete;
  }
  node.attributes[std::string(attribute)] = SimAnswer{AXErrorCode::success, value};
  return AXErrorCode::success;
}

bool SimDesktop::persist(const SimNode& node, std::string_view attribute, const AXValue& value,
                         std::string& error) {
  if (path_.empty()) return true;
  auto encoded =
      SimScene::valueToJSON(value, [this](const AXUIElement& e) { return idOf(e); });
  if (!encoded) {
    error = "the value names an element outside the scene";
    return false;
  }
  using Pointer = nlohmann::ordered_json::json_pointer;
  nlohmann::ordered_json updated = document_;
  updated[Pointer(node.documentPointer)][std::string(attribute)] = std::move(*encoded);
  const std::string text = updated.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  if (!writeFileAtomically(path_, text, error)) return false;
  document_ = std::move(updated);
  return true;
}

SimAnswer SimDesktop::copyParameterizedAttributeValue(const AXUIElement& element,
                                                      std::string_view attribute,
                                                      const AXValue& parameter) {
  std::lock_guard lock(mutex_);
  if (!model_.trusted) return {AXErrorCode::apiDisabled, {}};
  const SimElementRef* ref = own(element);
  if (!ref) return {AXErrorCode::illegalArgument, {}};
  if (ref->kind == SimElementRef::Kind::systemWide) {
    return {AXErrorCode::parameterizedAttributeUnsupported, {}};
  }
  const SimApplication* app = liveApp(*ref);
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
}

std::optional<Rect> SimDesktop::frameOf(const SimNode& node) const {
  auto position = node.attributes.find("AXPosition");
  auto size = node.attributes.find("AXSize");
  if (position == node.attributes.end() || size == node.attributes.end()) return std::nullopt;
  if (position->second.error != AXErrorCode::success || size->second.error != AXErrorCode::success) {
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
int SimDesktop::hitTest(const SimApplication& app, int node, Point point) const {
  const SimNode& n = app.nodes[static_cast<std::size_t>(node)];
  for (int child : n.children) {
    int found = hitTest(app, child, point);
    if (found >= 0) return found;
  }
  auto frame = frameOf(n);
  return frame && frame->contains(point) ? node : -1;
}

AXError SimDesktop::copyElementAtPosition(const AXUIElement& element, Point point,
                                          AXUIElement& found) {
  std::lock_guard lock(mutex_);
  if (!model_.trusted) return AXErrorCode::apiDisabled;
  const SimElementRef* ref = own(element);
  if (!ref) return AXErrorCode::illegalArgument;
  std::vector<const SimApplication*> apps;
  std::vector<int> roots;
  if (ref->kind == SimElementRef::Kind::systemWide) {
    // The frontmost application's windows lie above every other's.
    if (model_.frontmost) apps.push_back(appFor(*model_.frontmost));
    for (const auto& app : model_.applications) {
      if (app.running && &app != (apps.empty() ? nullptr : apps.front())) apps.push_back(&app);
    }
  } else {
    const SimApplication* app = liveApp(*ref);
    if (!app) return AXErrorCode::invalidUIElement;
    apps.push_back(app);
    if (ref->node >= 0) roots.push_back(ref->node);
  }
  for (const SimApplication* app : apps) {
    const std::vector<int>& start = roots.empty() ? app->windows : roots;
    for (int root : start) {
      int hit = hitTest(*app, root, point);
      if (hit >= 0) {
        found = handle(app->info.pid, hit);
        return AXErrorCode::success;
      }
    }
  }
  return AXErrorCode::noValue;
}

AXError SimDesktop::getPid(const AXUIElement& element, std::int32_t& pid) {
  std::lock_guard lock(mutex_);
  const SimElementRef* ref = own(element);
  if (!ref || ref->kind == SimElementRef::Kind::systemWide) return AXErrorCode::illegalArgument;
  if (!liveApp(*ref)) return AXErrorCode::invalidUIElement;
  pid = ref->pid;
  return AXErrorCode::success;
}

AXError SimDesktop::setMessagingTimeout(const AXUIElement& element, float seconds) {
  std::lock_guard lock(mutex_);
  const SimElementRef* ref = own(element);
  if (!ref || seconds < 0) return AXErrorCode::illegalArgument;
  if (ref->kind != SimElementRef::Kind::systemWide && !liveApp(*ref)) {
    return AXErrorCode::invalidUIElement;
  }
  if (ref->kind == SimElementRef::Kind::systemWide) messagingTimeout_ = seconds;
  return AXErrorCode::success;
}

AXError SimDesktop::createObserver(std::int32_t pid, AXObserverCallback callback,
                                   std::shared_ptr<AXObserver>& observer) {
  std::lock_guard lock(mutex_);
  if (failObserverCreate_) {
    AXError code = *failObserverCreate_;
    failObserverCreate_.reset();
    return code;
  }
  // Creating an observer asks nothing of the application, so it works
  // untrusted; registering a notification does not.
  if (pid <= 0 || !callback) return AXErrorCode::illegalArgument;
  auto created = std::make_shared<SimObserver>(pid, std::move(callback));
  std::erase_if(observers_, [](const auto& w) { return w.expired(); });
  observers_.push_back(created);
  observer = std::move(created);
  return AXErrorCode::success;
}

AXError SimDesktop::addNotification(AXObserver& observer, const AXUIElement& element,
                                    std::string_view notification) {
  std::lock_guard lock(mutex_);
  if (failAddNotification_) {
    AXError code = *failAddNotification_;
    failAddNotification_.reset();
    return code;
  }
  if (!model_.trusted) return AXErrorCode::apiDisabled;
  auto* sim = dynamic_cast<SimObserver*>(&observer);
  const SimElementRef* ref = own(element);
  if (!sim) return AXErrorCode::invalidUIElementObserver;
  if (!ref || ref->kind == SimElementRef::Kind::systemWide || ref->pid != sim->pid) {
    return AXErrorCode::illegalArgument;
  }
  if (!liveApp(*ref)) return AXErrorCode::invalidUIElement;
  std::lock_guard observerLock(sim->mutex);
  for (const auto& [registered, name] : sim->registrations) {
    if (registered == element && name == notification) {
      return AXErrorCode::notificationAlreadyRegistered;
    }
  }
  sim->registrations.emplace_back(element, std::string(notification));
  return AXErrorCode::success;
}

void SimDesktop::scheduleObserver(AXObserver& observer, RunLoop& runLoop) {
  if (auto* sim = dynamic_cast<SimObserver*>(&observer)) {
    std::lock_guard lock(sim->mutex);
    sim->loop = &runLoop;
  }
}

void SimDesktop::unscheduleObserver(AXObserver& observer) {
  if (auto* sim = dynamic_cast<SimObserver*>(&observer)) {
    std::lock_guard lock(sim->mutex);
    sim->loop = nullptr;
  }
}

// --- Workspace ---------------------------------------------------------------

std::optional<RunningApplication> SimDesktop::frontmostApplication() {
  std::lock_guard lock(mutex_);
  if (!model_.frontmost) return std::nullopt;
  const SimApplication* app = appFor(*model_.frontmost);
  if (!app || !app->running) return std::nullopt;
  return app->info;
}

std::optional<RunningApplication> SimDesktop::runningApplication(std::int32_t pid) {
  std::lock_guard lock(mutex_);
  const SimApplication* app = appFor(pid);
  if (!app || !app->running) return std::nullopt;
  return app->info;
}

std::vector<Screen> SimDesktop::screens() {
  std::lock_guard lock(mutex_);
  return model_.screens;
}

std::optional<Screen> SimDesktop::mainScreen() {
  std::lock_guard lock(mutex_);
  if (!model_.mainScreen) return std::nullopt;
  return model_.screens[*model_.mainScreen];
}

Point SimDesktop::mouseLocation() {
  std::lock_guard lock(mutex_);
  return model_.mouse;
}

Workspace::ObserverToken SimDesktop::addActivationObserver(Workspace::ActivationHandler handler) {
  std::lock_guard lock(mutex_);
  Workspace::ObserverToken token = nextToken_++;
  activationObservers_[token] = std::move(handler);
  return token;
}

void SimDesktop::removeActivationObserver(Workspace::ObserverToken token) {
  std::lock_guard lock(mutex_);
  activationObservers_.erase(token);
}

}  // namespace nolari::platform
