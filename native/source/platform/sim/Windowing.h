#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Windowing.h"

// The simulated desktop's windowing: the agent's windows exist only as records
// in the desktop, where tests read them, the control channel reports them and
// renders them with the real backend's renderer, and the pointer the channel
// moves reaches them. Text is measured by the real backend's engine, so that
// layouts match the real desktop's.
//
// Pointer events are routed only when the pointer moves or clicks; a window
// that moves, appears or goes under a resting pointer hears nothing until the
// pointer moves again.

namespace nolari::platform {

class SimDesktop;
class PangoTextMeasurer;

// What a test sees of one window. Frames are in bottom-left global points.
struct SimWindowRecord {
  std::uint64_t id = 0;
  std::string name;
  WindowLevel level = WindowLevel::floating;
  Rect frame;
  double alpha = 0;
  bool visible = false;
  bool ignoresPointer = false;
  bool holdsKeyboard = false;
  // Where it shows, in its own points; empty: all of it.
  std::vector<Rect> shape;
  std::string accessibilityLabel;
  std::string accessibilityRole;
  DisplayList content;
};

// A pointer event on its way to a window's handler; nothing is delivered once
// the window is gone.
struct SimPointerDelivery {
  std::weak_ptr<const Windowing::PointerHandler> handler;
  PointerEvent event;
};

// A click as the windows took it.
struct SimClick {
  std::vector<SimPointerDelivery> deliveries;
  // It reached no window of the program.
  bool passedThrough = false;
};

// The windows of the desktop, kept in its state (reached under its lock).
class SimWindows {
 public:
  // A new record, off screen, transparent, with its frame made valid.
  std::uint64_t add(const WindowOptions& options, Windowing::PointerHandler handler);
  void remove(std::uint64_t id);
  // Null for a window that is gone.
  SimWindowRecord* find(std::uint64_t id);
  // On top of the windows of its level.
  void orderFront(std::uint64_t id);
  // A window off screen, or one that lets the pointer through, is no longer
  // under the pointer: it hears no `exited`, and `entered` when the pointer
  // next finds it. Off screen, it gives the keyboard back.
  void orderOut(std::uint64_t id);
  // At most one window holds the keyboard: taking it takes it from another
  // window. False for a window off screen.
  bool takeKeyboard(std::uint64_t id, KeyHandler handler);
  void releaseKeyboard(std::uint64_t id);
  // The handler of the window holding the keyboard; expired when none does.
  std::weak_ptr<const KeyHandler> keyboardHandler() const;
  void setIgnoresPointer(std::uint64_t id, bool ignores);

  // The records in the order the windows were made.
  std::vector<SimWindowRecord> records() const;
  // The newest window of that name.
  const SimWindowRecord* named(std::string_view name) const;

  // The pointer moved to `location` (global points): the window left hears
  // `exited`, the one now under the pointer `entered`, or `moved` when it was
  // under it already.
  std::vector<SimPointerDelivery> movePointer(Point location);
  // The pointer moves there, then a click: `pressed` and `released` for a
  // window under it that takes the pointer, when it is the primary button. A
  // click that reaches no such window goes to the applications below and is
  // recorded as passed through.
  SimClick click(Point location, bool primaryButton);
  const std::vector<Point>& clicksThrough() const { return clicksThrough_; }

  // The windows as the control channel's "report_windows" line writes them.
  nlohmann::ordered_json report() const;

  // The frame a window gets for `frame`: at least one point on each side, and
  // finite, within what any screen could hold.
  static Rect validFrame(Rect frame);

 private:
  struct Entry {
    SimWindowRecord record;
    // Raised by every orderFront: the window ordered front last is on top of its level.
    std::uint64_t stacking = 0;
    std::shared_ptr<const Windowing::PointerHandler> handler;
    std::shared_ptr<const KeyHandler> keys;
  };

  // The topmost visible window that takes the pointer and holds `location`.
  const Entry* under(Point location) const;
  void forgetPointer(std::uint64_t id);

  std::vector<Entry> entries_;
  std::optional<std::uint64_t> underPointer_;
  std::vector<Point> clicksThrough_;
  std::uint64_t lastId_ = 0;
  std::uint64_t lastStacking_ = 0;
};

class SimUserDefaults : public UserDefaults {
 public:
  explicit SimUserDefaults(std::shared_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}

  std::optional<bool> boolForKey(const std::string& key) override;
  void setBool(const std::string& key, bool value) override;

 private:
  std::shared_ptr<SimDesktop> desktop_;
};

class SimWindowing : public Windowing {
 public:
  explicit SimWindowing(std::shared_ptr<SimDesktop> desktop);
  ~SimWindowing() override;

  std::shared_ptr<OverlayWindow> createWindow(const WindowOptions& options,
                                              PointerHandler handler) override;
  TextMeasurer& textMeasurer() override;
  ObserverToken addScreenChangeObserver(Notice notice) override;
  ObserverToken addWakeObserver(Notice notice) override;
  void removeObserver(ObserverToken token) override;
  UserDefaults& userDefaults() override { return defaults_; }
  ObserverToken addMouseDownMonitor(MouseDownHandler handler) override;
  DisplayOptions displayOptions() override;
  bool blendsTranslucency() override;
  ObserverToken addTranslucencyObserver(Notice notice) override;

 private:
  std::shared_ptr<SimDesktop> desktop_;
  // Made on first use: a program that never lays out text does not load fonts.
  std::unique_ptr<PangoTextMeasurer> measurer_;
  SimUserDefaults defaults_;
};

}  // namespace nolari::platform
