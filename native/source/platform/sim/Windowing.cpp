#include "platform/sim/Windowing.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <variant>

#include "platform/cairo/TextMeasure.h"
#include "platform/sim/Desktop.h"

namespace nolari::platform {

using nlohmann::ordered_json;

namespace {

// Far past any screen, and small enough that a frame's far edges, and the
// points the pointer is given in, stay finite.
constexpr double MAX_COORDINATE = 1e9;

// The three kinds of notice count their tokens apart; the lowest two bits of
// the windowing's tokens say which kind a token belongs to.
constexpr Windowing::ObserverToken SCREEN_CHANGE_KIND = 0;
constexpr Windowing::ObserverToken WAKE_KIND = 1;
constexpr Windowing::ObserverToken MOUSE_DOWN_KIND = 2;
constexpr Windowing::ObserverToken TRANSLUCENCY_KIND = 3;

// The window's points for a global location: origin at its top-left, y down.
Point inWindow(const Rect& frame, Point location) {
  return {location.x - frame.minX(), frame.maxY() - location.y};
}

// A number as reports write it: to a hundredth, and without a fraction when
// it is whole.
ordered_json reported(double value, double perUnit = 100) {
  const double rounded = std::round(value * perUnit) / perUnit;
  if (std::isfinite(rounded) && std::abs(rounded) < 9007199254740992.0 &&
      rounded == std::trunc(rounded)) {
    return static_cast<std::int64_t>(rounded);
  }
  return rounded;
}

ordered_json reportedRect(const Rect& rect) {
  return {{"x", reported(rect.origin.x)},
          {"y", reported(rect.origin.y)},
          {"width", reported(rect.size.width)},
          {"height", reported(rect.size.height)}};
}

// How a group's children map onto the window: scaled by `scale`, then moved
// by `offset`, and cut to `clip` (window points).
struct Placement {
  double scale = 1;
  Point offset{};
  std::optional<Rect> clip{};

  Rect place(const Rect& r) const {
    const double x1 = offset.x + r.minX() * scale;
    const double x2 = offset.x + r.maxX() * scale;
    const double y1 = offset.y + r.minY() * scale;
    const double y2 = offset.y + r.maxY() * scale;
    return {{std::min(x1, x2), std::min(y1, y2)}, {std::abs(x2 - x1), std::abs(y2 - y1)}};
  }
};

std::optional<Rect> intersection(const Rect& a, const Rect& b) {
  const double x1 = std::max(a.minX(), b.minX());
  const double y1 = std::max(a.minY(), b.minY());
  const double x2 = std::min(a.maxX(), b.maxX());
  const double y2 = std::min(a.maxY(), b.maxY());
  if (!(x2 > x1 && y2 > y1)) return std::nullopt;
  return Rect{{x1, y1}, {x2 - x1, y2 - y1}};
}

// The hit regions a click can reach and the texts that show, front-most
// last, as `hitTest` and the renderer see them.
void collect(const std::vector<Item>& items, const Placement& placement, ordered_json& regions,
             ordered_json& texts) {
  for (const Item& item : items) {
    if (const auto* region = std::get_if<HitRegion>(&item.content)) {
      std::optional<Rect> rect = placement.place(region->shape.rect);
      if (placement.clip) rect = intersection(*rect, *placement.clip);
      if (rect) regions.push_back({{"action", region->action}, {"rect", reportedRect(*rect)}});
    } else if (const auto* text = std::get_if<TextRun>(&item.content)) {
      if (item.opacity > 0) texts.push_back(text->text);
    } else if (const auto* group = std::get_if<Group>(&item.content)) {
      if (!(item.opacity > 0) || group->scale == 0) continue;
      Placement inner{placement.scale * group->scale,
                      {placement.offset.x + placement.scale * group->anchor.x * (1 - group->scale),
                       placement.offset.y + placement.scale * group->anchor.y * (1 - group->scale)},
                      placement.clip};
      if (group->clip) {
        const Rect clip = inner.place(group->clip->rect);
        inner.clip = placement.clip ? intersection(clip, *placement.clip) : clip;
        if (!inner.clip) continue;
      }
      collect(group->children, inner, regions, texts);
    }
  }
}

double validCoordinate(double value) {
  return std::isnan(value) ? 0 : std::clamp(value, -MAX_COORDINATE, MAX_COORDINATE);
}

double validLength(double value) { return !(value >= 1) ? 1 : std::min(value, MAX_COORDINATE); }

class SimOverlayWindow : public OverlayWindow {
 public:
  SimOverlayWindow(std::shared_ptr<SimDesktop> desktop, std::uint64_t id)
      : desktop_(std::move(desktop)), id_(id) {}
  ~SimOverlayWindow() override {
    desktop_->withState([this](SimDesktop::State& state) { state.windows.remove(id_); });
  }

  SimOverlayWindow(const SimOverlayWindow&) = delete;
  SimOverlayWindow& operator=(const SimOverlayWindow&) = delete;

  void setFrame(Rect frame) override {
    change([frame](SimWindowRecord& r) { r.frame = SimWindows::validFrame(frame); });
  }
  Rect frame() const override { return read(&SimWindowRecord::frame); }
  void setAlpha(double alpha) override {
    change([alpha](SimWindowRecord& r) {
      r.alpha = std::isnan(alpha) ? 0 : std::clamp(alpha, 0.0, 1.0);
    });
  }
  double alpha() const override { return read(&SimWindowRecord::alpha); }
  void orderFront() override {
    desktop_->withState([this](SimDesktop::State& state) { state.windows.orderFront(id_); });
  }
  void orderOut() override {
    desktop_->withState([this](SimDesktop::State& state) { state.windows.orderOut(id_); });
  }
  bool isVisible() const override { return read(&SimWindowRecord::visible); }
  void setContent(DisplayList content) override {
    change([&content](SimWindowRecord& r) { r.content = std::move(content); });
  }
  void setShape(std::vector<Rect> parts) override {
    change([&parts](SimWindowRecord& r) { r.shape = std::move(parts); });
  }
  void setIgnoresPointer(bool ignores) override {
    desktop_->withState([this, ignores](SimDesktop::State& state) {
      state.windows.setIgnoresPointer(id_, ignores);
    });
  }
  void setAccessibility(const std::string& label, const std::string& role) override {
    change([&](SimWindowRecord& r) {
      r.accessibilityLabel = label;
      r.accessibilityRole = role;
    });
  }
  bool takeKeyboard(KeyHandler handler) override {
    return desktop_->withState([this, &handler](SimDesktop::State& state) {
      return state.windows.takeKeyboard(id_, std::move(handler));
    });
  }
  void releaseKeyboard() override {
    desktop_->withState([this](SimDesktop::State& state) { state.windows.releaseKeyboard(id_); });
  }
  bool holdsKeyboard() const override { return read(&SimWindowRecord::holdsKeyboard); }

 private:
  template <class Change>
  void change(Change&& apply) {
    desktop_->withState([&](SimDesktop::State& state) {
      if (SimWindowRecord* record = state.windows.find(id_)) apply(*record);
    });
  }

  template <class Value>
  Value read(Value SimWindowRecord::*member) const {
    return desktop_->withState([&](SimDesktop::State& state) {
      // The record lives as long as this window.
      return state.windows.find(id_)->*member;
    });
  }

  std::shared_ptr<SimDesktop> desktop_;
  const std::uint64_t id_;
};

}  // namespace

Rect SimWindows::validFrame(Rect frame) {
  return {{validCoordinate(frame.origin.x), validCoordinate(frame.origin.y)},
          {validLength(frame.size.width), validLength(frame.size.height)}};
}

std::uint64_t SimWindows::add(const WindowOptions& options, Windowing::PointerHandler handler) {
  Entry entry;
  entry.record.id = ++lastId_;
  entry.record.name = options.name;
  entry.record.level = options.level;
  entry.record.frame = validFrame(options.frame);
  entry.record.ignoresPointer = options.ignoresPointer;
  if (handler) {
    entry.handler = std::make_shared<const Windowing::PointerHandler>(std::move(handler));
  }
  entries_.push_back(std::move(entry));
  return lastId_;
}

void SimWindows::remove(std::uint64_t id) {
  std::erase_if(entries_, [id](const Entry& e) { return e.record.id == id; });
  forgetPointer(id);
}

SimWindowRecord* SimWindows::find(std::uint64_t id) {
  for (Entry& entry : entries_) {
    if (entry.record.id == id) return &entry.record;
  }
  return nullptr;
}

void SimWindows::orderFront(std::uint64_t id) {
  for (Entry& entry : entries_) {
    if (entry.record.id != id) continue;
    entry.record.visible = true;
    entry.stacking = ++lastStacking_;
  }
}

void SimWindows::orderOut(std::uint64_t id) {
  if (SimWindowRecord* record = find(id)) record->visible = false;
  forgetPointer(id);
  releaseKeyboard(id);
}

bool SimWindows::takeKeyboard(std::uint64_t id, KeyHandler handler) {
  const SimWindowRecord* record = find(id);
  if (!record || !record->visible) return false;
  auto keys = std::make_shared<const KeyHandler>(std::move(handler));
  for (Entry& entry : entries_) {
    const bool taker = entry.record.id == id;
    entry.record.holdsKeyboard = taker;
    entry.keys = taker ? keys : nullptr;
  }
  return true;
}

void SimWindows::releaseKeyboard(std::uint64_t id) {
  for (Entry& entry : entries_) {
    if (entry.record.id != id) continue;
    entry.record.holdsKeyboard = false;
    entry.keys.reset();
  }
}

std::weak_ptr<const KeyHandler> SimWindows::keyboardHandler() const {
  for (const Entry& entry : entries_) {
    if (entry.record.holdsKeyboard) return entry.keys;
  }
  return {};
}

void SimWindows::setIgnoresPointer(std::uint64_t id, bool ignores) {
  if (SimWindowRecord* record = find(id)) record->ignoresPointer = ignores;
  if (ignores) forgetPointer(id);
}

void SimWindows::forgetPointer(std::uint64_t id) {
  if (underPointer_ == id) underPointer_.reset();
}

std::vector<SimWindowRecord> SimWindows::records() const {
  std::vector<SimWindowRecord> records;
  for (const Entry& entry : entries_) records.push_back(entry.record);
  return records;
}

const SimWindowRecord* SimWindows::named(std::string_view name) const {
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    if (entry->record.name == name) return &entry->record;
  }
  return nullptr;
}

const SimWindows::Entry* SimWindows::under(Point location) const {
  const Entry* top = nullptr;
  auto rank = [](const Entry& e) {
    return std::tuple(static_cast<std::int32_t>(e.record.level), e.stacking);
  };
  for (const Entry& entry : entries_) {
    const SimWindowRecord& r = entry.record;
    if (!r.visible || r.ignoresPointer || !r.frame.contains(location)) continue;
    if (!top || rank(entry) > rank(*top)) top = &entry;
  }
  return top;
}

std::vector<SimPointerDelivery> SimWindows::movePointer(Point location) {
  std::vector<SimPointerDelivery> deliveries;
  const Entry* now = under(location);
  const std::optional<std::uint64_t> nowId =
      now ? std::optional(now->record.id) : std::optional<std::uint64_t>();
  if (underPointer_ && underPointer_ != nowId) {
    for (const Entry& entry : entries_) {
      if (entry.record.id != *underPointer_) continue;
      deliveries.push_back(
          {entry.handler, {PointerEvent::Type::exited, inWindow(entry.record.frame, location)}});
    }
  }
  if (now) {
    const auto type =
        underPointer_ == nowId ? PointerEvent::Type::moved : PointerEvent::Type::entered;
    deliveries.push_back({now->handler, {type, inWindow(now->record.frame, location)}});
  }
  underPointer_ = nowId;
  return deliveries;
}

SimClick SimWindows::click(Point location, bool primaryButton) {
  SimClick click{movePointer(location)};
  const Entry* target = under(location);
  if (!target) {
    clicksThrough_.push_back(location);
    click.passedThrough = true;
  } else if (primaryButton) {
    const Point at = inWindow(target->record.frame, location);
    click.deliveries.push_back({target->handler, {PointerEvent::Type::pressed, at}});
    click.deliveries.push_back({target->handler, {PointerEvent::Type::released, at}});
  }
  return click;
}

ordered_json SimWindows::report() const {
  ordered_json windows = ordered_json::array();
  for (const Entry& entry : entries_) {
    const SimWindowRecord& r = entry.record;
    ordered_json regions = ordered_json::array();
    ordered_json texts = ordered_json::array();
    collect(r.content.items, {}, regions, texts);
    windows.push_back({{"name", r.name},
                       {"level", static_cast<std::int32_t>(r.level)},
                       {"frame", reportedRect(r.frame)},
                       {"alpha", reported(r.alpha, 1000)},
                       {"visible", r.visible},
                       {"ignores_pointer", r.ignoresPointer},
                       {"holds_keyboard", r.holdsKeyboard},
                       {"label", r.accessibilityLabel},
                       {"role", r.accessibilityRole},
                       {"hit_regions", std::move(regions)},
                       {"texts", std::move(texts)}});
  }
  return {{"windows", std::move(windows)}, {"clicks_through", clicksThrough_.size()}};
}

std::optional<bool> SimUserDefaults::boolForKey(const std::string& key) {
  return desktop_->withState([&key](SimDesktop::State& state) -> std::optional<bool> {
    auto it = state.model.userDefaults.find(key);
    if (it == state.model.userDefaults.end()) return std::nullopt;
    return it->second;
  });
}

void SimUserDefaults::setBool(const std::string& key, bool value) {
  desktop_->withState([&](SimDesktop::State& state) { state.model.userDefaults[key] = value; });
}

SimWindowing::SimWindowing(std::shared_ptr<SimDesktop> desktop)
    : desktop_(std::move(desktop)), defaults_(desktop_) {}

SimWindowing::~SimWindowing() = default;

std::shared_ptr<OverlayWindow> SimWindowing::createWindow(const WindowOptions& options,
                                                          PointerHandler handler) {
  const std::uint64_t id = desktop_->withState(
      [&](SimDesktop::State& state) { return state.windows.add(options, std::move(handler)); });
  return std::make_shared<SimOverlayWindow>(desktop_, id);
}

TextMeasurer& SimWindowing::textMeasurer() {
  if (!measurer_) measurer_ = std::make_unique<PangoTextMeasurer>();
  return *measurer_;
}

Windowing::ObserverToken SimWindowing::addScreenChangeObserver(Notice notice) {
  return (desktop_->screenChangeNotices()->add(std::move(notice)) << 2) | SCREEN_CHANGE_KIND;
}

Windowing::ObserverToken SimWindowing::addWakeObserver(Notice notice) {
  return (desktop_->wakeNotices()->add(std::move(notice)) << 2) | WAKE_KIND;
}

Windowing::ObserverToken SimWindowing::addMouseDownMonitor(MouseDownHandler handler) {
  return (desktop_->mouseDownNotices()->add(std::move(handler)) << 2) | MOUSE_DOWN_KIND;
}

void SimWindowing::removeObserver(ObserverToken token) {
  switch (token & 3) {
    case SCREEN_CHANGE_KIND:
      desktop_->screenChangeNotices()->remove(token >> 2);
      break;
    case WAKE_KIND:
      desktop_->wakeNotices()->remove(token >> 2);
      break;
    case MOUSE_DOWN_KIND:
      desktop_->mouseDownNotices()->remove(token >> 2);
      break;
    case TRANSLUCENCY_KIND:
      desktop_->translucencyNotices()->remove(token >> 2);
      break;
    default:
      break;
  }
}

bool SimWindowing::blendsTranslucency() {
  return desktop_->withState([](SimDesktop::State& state) { return state.blendsTranslucency; });
}

Windowing::ObserverToken SimWindowing::addTranslucencyObserver(Notice notice) {
  return (desktop_->translucencyNotices()->add(std::move(notice)) << 2) | TRANSLUCENCY_KIND;
}

DisplayOptions SimWindowing::displayOptions() {
  return desktop_->withState([](SimDesktop::State& state) { return state.model.displayOptions; });
}

}  // namespace nolari::platform
