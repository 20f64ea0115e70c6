#include "platform/sim/Control.h"

#include <utility>

#include "platform/KeyNames.h"
#include "platform/cairo/Render.h"
#include "platform/sim/EventTaps.h"

namespace nolari::platform {

namespace {

// The notice of a focus change that an observer receives.
constexpr const char* FOCUS_CHANGED = "AXFocusedUIElementChanged";

std::string typedForm(const KeyEvent& key) {
  const std::string_view name = nameOfKeyCode(key.keyCode);
  const bool chord =
      key.flags & (EventFlags::command | EventFlags::control | EventFlags::alternate);
  if (!chord && name.size() == 1) {
    const bool upper = key.flags & (EventFlags::shift | EventFlags::alphaShift);
    const char c = name[0];
    return std::string(1, upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  if (!chord && name == "space") return " ";
  std::string form = "{";
  for (const auto& [flag, word] :
       {std::pair{EventFlags::command, "command"}, std::pair{EventFlags::control, "control"},
        std::pair{EventFlags::alternate, "option"}, std::pair{EventFlags::shift, "shift"}}) {
    if (key.flags & flag) {
      form += word;
      form += '+';
    }
  }
  // Appended piece by piece: GCC 12 at -O3 misreads "#" + string as an overlapping copy.
  if (name.empty()) {
    form += '#';
    form += std::to_string(key.keyCode);
  } else {
    form += name;
  }
  form += '}';
  return form;
}

}  // namespace

bool SimControl::activate(std::int32_t pid) {
  auto info =
      desktop_->withState([pid](SimDesktop::State& state) -> std::optional<RunningApplication> {
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

void SimControl::pressKey(const KeyEvent& key) {
  auto tap = desktop_->withState([](SimDesktop::State& state) { return state.keyboardTap.lock(); });
  TapEvent event{TapEvent::Type::keyDown, key, {}};
  // Decided once the key is past the tap: a window holding the keyboard by
  // then has it, on the main loop.
  auto reachApplications = [desktop = desktop_, key, text = typedForm(key)] {
    auto holder = desktop->withState([&text](SimDesktop::State& state) {
      auto handler = state.windows.keyboardHandler();
      if (handler.expired()) state.typed += text;
      return handler;
    });
    RunLoop* loop = desktop->mainRunLoop();
    if (holder.expired() || !loop) return;
    loop->post([holder = std::move(holder), key] {
      if (auto handler = holder.lock()) (*handler)(key);
    });
  };
  if (tap) {
    tap->send(event, std::move(reachApplications));
  } else {
    reachApplications();
  }
}

void SimControl::releaseKey(const KeyEvent& key) {
  auto tap = desktop_->withState([](SimDesktop::State& state) { return state.keyboardTap.lock(); });
  if (tap) tap->send(TapEvent{TapEvent::Type::keyUp, key, {}}, nullptr);
}

void SimControl::moveMouse(Point location) {
  auto [tap, deliveries] = desktop_->withState([location](SimDesktop::State& state) {
    state.model.mouse = location;
    return std::pair(state.mouseTap.lock(), state.windows.movePointer(location));
  });
  if (tap) tap->send(TapEvent{TapEvent::Type::mouseMoved, {}, location}, nullptr);
  deliver(std::move(deliveries));
}

void SimControl::click(Point location, bool primaryButton) {
  auto [tap, clicked] = desktop_->withState([&](SimDesktop::State& state) {
    state.model.mouse = location;
    return std::pair(state.mouseTap.lock(), state.windows.click(location, primaryButton));
  });
  if (tap) tap->send(TapEvent{TapEvent::Type::mouseMoved, {}, location}, nullptr);
  deliver(std::move(clicked.deliveries));
  RunLoop* loop = desktop_->mainRunLoop();
  if (clicked.passedThrough && loop) desktop_->mouseDownNotices()->post(*loop, location);
}

void SimControl::setDisplayOptions(const DisplayOptions& options) {
  desktop_->withState(
      [&options](SimDesktop::State& state) { state.model.displayOptions = options; });
}

void SimControl::deliver(std::vector<SimPointerDelivery> deliveries) {
  RunLoop* loop = desktop_->mainRunLoop();
  if (!loop || deliveries.empty()) return;
  loop->post([deliveries = std::move(deliveries)] {
    for (const auto& delivery : deliveries) {
      // A window that an earlier event's handler closed hears nothing more.
      if (auto handler = delivery.handler.lock()) (*handler)(delivery.event);
    }
  });
}

void SimControl::setScreens(std::vector<Screen> screens, std::optional<std::size_t> mainScreen) {
  desktop_->withState([&](SimDesktop::State& state) {
    state.model.screens = std::move(screens);
    state.model.mainScreen = mainScreen;
  });
  if (RunLoop* loop = desktop_->mainRunLoop()) desktop_->screenChangeNotices()->post(*loop);
}

void SimControl::setCompositing(bool running) {
  const bool changed = desktop_->withState([running](SimDesktop::State& state) {
    return std::exchange(state.blendsTranslucency, running) != running;
  });
  RunLoop* loop = desktop_->mainRunLoop();
  if (changed && loop) desktop_->translucencyNotices()->post(*loop);
}

void SimControl::wake() {
  if (RunLoop* loop = desktop_->mainRunLoop()) desktop_->wakeNotices()->post(*loop);
}

std::vector<SimWindowRecord> SimControl::windows() {
  return desktop_->withState([](SimDesktop::State& state) { return state.windows.records(); });
}

std::optional<SimWindowRecord> SimControl::window(const std::string& name) {
  return desktop_->withState([&name](SimDesktop::State& state) -> std::optional<SimWindowRecord> {
    const SimWindowRecord* record = state.windows.named(name);
    if (!record) return std::nullopt;
    return *record;
  });
}

std::vector<Point> SimControl::clicksThrough() {
  return desktop_->withState(
      [](SimDesktop::State& state) { return state.windows.clicksThrough(); });
}

bool SimControl::renderWindow(const std::string& name, double scale, const std::string& path,
                              std::string& error) {
  auto record = window(name);
  if (!record) {
    error = "no window is named \"";
    error += name;
    error += '"';
    return false;
  }
  PangoTextMeasurer text;
  return CairoRenderer(text).renderToPng(record->content, record->frame.size, scale, path, error);
}

bool SimControl::disableTap(bool keyboard, TapEvent::Type cause) {
  auto tap = desktop_->withState([keyboard](SimDesktop::State& state) {
    return (keyboard ? state.keyboardTap : state.mouseTap).lock();
  });
  if (!tap) return false;
  tap->sendDisabledNotice(cause);
  return true;
}

void SimControl::whenTyped(std::function<void(const std::string&)> report) {
  auto tap = desktop_->withState([](SimDesktop::State& state) { return state.keyboardTap.lock(); });
  auto work = [desktop = desktop_, report = std::move(report)] {
    report(desktop->withState([](SimDesktop::State& state) { return state.typed; }));
  };
  if (tap) {
    tap->afterPending(std::move(work));
  } else {
    work();
  }
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
