#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "ambrel/agent/AgentWindows.h"
#include "ambrel/agent/HighlightOverlayWindow.h"
#include "base/LineSink.h"
#include "core/NolariConfig.h"
#include "platform/Accessibility.h"
#include "platform/EventTaps.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The mouse tap's owner: at most one pointer move per throttle interval is
// hit-tested on the tap's thread; the last move dropped within an interval is
// hit-tested once the interval has passed, on a queue of its own, so the
// place where the pointer comes to rest is never lost. A text field under
// the pointer gets the
// highlight box, a "hover" event, and becomes the last highlighted field,
// which the slash-command check and the rating after a write fall back on.

namespace nolari::ambrel {

class HoverTracker : public std::enable_shared_from_this<HoverTracker> {
 public:
  static constexpr platform::Duration THROTTLE = std::chrono::milliseconds(100);

  // Makes the highlight box, hidden. `systemWide` is the process's
  // system-wide element; `showDebugBox` whether hovering draws the box.
  static std::shared_ptr<HoverTracker> create(platform::Accessibility& accessibility,
                                              platform::Workspace& workspace,
                                              platform::Windowing& windowing,
                                              platform::RunLoop& mainLoop,
                                              const NolariConfig::Highlight& highlight,
                                              platform::AXUIElement systemWide, bool showDebugBox,
                                              AgentWindows& windows, LineSink& sink);

  // Main loop, at start-up: the tap whose events come to `tapEvent`.
  void attachMouseTap(std::shared_ptr<platform::EventTap> tap);
  // Mouse tap thread.
  platform::TapAnswer tapEvent(const platform::TapEvent& event);

  // The padded frame of the last highlighted field, bottom-left screen
  // coordinates; all zero before the first. Any thread.
  platform::Rect lastFieldRect() const;

 private:
  HoverTracker(platform::Accessibility& accessibility, platform::Workspace& workspace,
               platform::Windowing& windowing, platform::RunLoop& mainLoop,
               const NolariConfig::Highlight& highlight, platform::AXUIElement systemWide,
               bool showDebugBox, AgentWindows& windows, LineSink& sink);

  void pointerMoved(platform::Point location);
  // The last dropped move, once its interval has passed.
  void trailingMove();
  void process(platform::Point location);
  void hideBox();

  platform::Accessibility& accessibility_;
  platform::Workspace& workspace_;
  platform::RunLoop& loop_;
  const NolariConfig::Highlight highlight_;
  const platform::AXUIElement systemWide_;
  const bool showDebugBox_;
  AgentWindows& windows_;
  LineSink& sink_;

  std::mutex tapMutex_;
  std::shared_ptr<platform::EventTap> tap_;

  // The last processed pointer move and the last one dropped since, shared
  // by the tap's thread and the trailing queue.
  struct Throttle {
    platform::TimePoint lastUpdate{};
    bool updated = false;
    std::optional<platform::Point> dropped;
    bool trailingDue = false;
  };
  std::mutex throttleMutex_;
  Throttle throttle_;
  // One move is hit-tested at a time, so hover lines keep the moves' order.
  std::mutex processMutex_;
  std::shared_ptr<platform::SerialQueue> trailingQueue_;

  struct OnMainLoop {
    std::unique_ptr<HighlightOverlayWindow> box;
  } mainLoop_;

  // Written on the main loop, after the box it goes with; read by the command
  // thread too.
  mutable std::mutex lastFieldRectMutex_;
  platform::Rect lastFieldRect_{};
};

}  // namespace nolari::ambrel
