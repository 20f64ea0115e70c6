#include "ambrel/agent/HoverTracker.h"

#include <utility>

#include "ambrel/agent/CommandChannel.h"
#include "ambrel/agent/HoverHighlight.h"
#include "core/AXHelpers.h"
#include "core/CoordinateSpace.h"

namespace nolari::ambrel {

using platform::TapAnswer;
using platform::TapEvent;

std::shared_ptr<HoverTracker> HoverTracker::create(
    platform::Accessibility& accessibility, platform::Workspace& workspace,
    platform::Windowing& windowing, platform::RunLoop& mainLoop,
    const NolariConfig::Highlight& highlight, platform::AXUIElement systemWide, bool showDebugBox,
    AgentWindows& windows, LineSink& sink) {
  return std::shared_ptr<HoverTracker>(new HoverTracker(accessibility, workspace, windowing,
                                                        mainLoop, highlight, std::move(systemWide),
                                                        showDebugBox, windows, sink));
}

HoverTracker::HoverTracker(platform::Accessibility& accessibility, platform::Workspace& workspace,
                           platform::Windowing& windowing, platform::RunLoop& mainLoop,
                           const NolariConfig::Highlight& highlight,
                           platform::AXUIElement systemWide, bool showDebugBox,
                           AgentWindows& windows, LineSink& sink)
    : accessibility_(accessibility),
      workspace_(workspace),
      loop_(mainLoop),
      highlight_(highlight),
      systemWide_(std::move(systemWide)),
      showDebugBox_(showDebugBox),
      windows_(windows),
      sink_(sink),
      trailingQueue_(mainLoop.makeSerialQueue("nolari.hover.trailing")) {
  mainLoop_.box = std::make_unique<HighlightOverlayWindow>(windowing);
  mainLoop_.box->applyStyle(highlight_.nsColor(), highlight_.debugOpacity());
}

void HoverTracker::attachMouseTap(std::shared_ptr<platform::EventTap> tap) {
  std::lock_guard lock(tapMutex_);
  tap_ = std::move(tap);
}

platform::Rect HoverTracker::lastFieldRect() const {
  std::lock_guard lock(lastFieldRectMutex_);
  return lastFieldRect_;
}

TapAnswer HoverTracker::tapEvent(const TapEvent& event) {
  if (event.type == TapEvent::Type::tapDisabledByTimeout ||
      event.type == TapEvent::Type::tapDisabledByUserInput) {
    std::lock_guard lock(tapMutex_);
    if (tap_) tap_->setEnabled(true);
  } else if (event.type == TapEvent::Type::mouseMoved) {
    pointerMoved(event.mouseLocation);
  }
  return TapAnswer::pass;
}

// A dropped move costs one comparison and keeps its place for the trailing
// edge; the time is taken before the hit test, so a slow application does
// not shorten the interval. `location` is the event's pointer, bottom-left.
void HoverTracker::pointerMoved(platform::Point location) {
  {
    std::lock_guard lock(throttleMutex_);
    const platform::TimePoint now = loop_.now();
    if (throttle_.updated && now - throttle_.lastUpdate < THROTTLE) {
      throttle_.dropped = location;
      if (!std::exchange(throttle_.trailingDue, true)) {
        loop_.postAfter(throttle_.lastUpdate + THROTTLE - now, [weak = weak_from_this()] {
          if (auto self = weak.lock()) {
            self->trailingQueue_->post([weak] {
              if (auto again = weak.lock()) again->trailingMove();
            });
          }
        });
      }
      return;
    }
    throttle_ = {now, true, std::nullopt, throttle_.trailingDue};
  }
  process(location);
}

// Nothing to do when a move processed meanwhile took the dropped one's place.
void HoverTracker::trailingMove() {
  platform::Point location;
  {
    std::lock_guard lock(throttleMutex_);
    throttle_.trailingDue = false;
    if (!throttle_.dropped) return;
    location = *throttle_.dropped;
    throttle_.dropped.reset();
    throttle_.updated = true;
    throttle_.lastUpdate = loop_.now();
  }
  process(location);
}

void HoverTracker::process(platform::Point location) {
  std::lock_guard processing(processMutex_);
  windows_.postCursorTick();

  const auto screens = workspace_.screens();
  const auto mainScreen = workspace_.mainScreen();
  const platform::Point carbon =
      CoordinateSpace::carbonScreenPointFromCocoaScreenPoint(screens, mainScreen, location);
  auto element = AXHoverHitTest::elementAtScreenPoint(accessibility_, systemWide_, carbon);
  if (!element) {
    hideBox();
    return;
  }
  auto role = AXHelpers::getStringAttribute(accessibility_, *element, "AXRole");
  // Without a role the policy says no whatever the title: an application
  // that no longer answers is not asked twice more.
  auto title = role ? AXHoverHitTest::windowTitle(accessibility_, *element) : std::nullopt;
  if (!HighlightPolicy::shouldHighlight(role, title, highlight_)) {
    hideBox();
    return;
  }
  auto frame = AXHelpers::getFrame(accessibility_, *element);
  auto rects =
      frame ? hoverRects(screens, mainScreen, *frame, highlight_.debugPadding()) : std::nullopt;
  if (!rects) {
    hideBox();
    return;
  }

  auto screen = screenHoldingCenter(screens, rects->paddedRect);
  loop_.post([weak = weak_from_this(), padded = rects->paddedRect, screen] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->lastFieldRectMutex_);
      self->lastFieldRect_ = padded;
    }
    if (auto* blob = self->windows_.blob(); screen && blob) blob->reposition(screen, false);
    auto& box = *self->mainLoop_.box;
    box.applyStyle(self->highlight_.nsColor(), self->highlight_.debugOpacity());
    if (self->showDebugBox_) {
      box.show(padded);
    } else {
      box.hide();
    }
  });

  sink_.emitTyped("hover", {{"role", role.value_or("")},
                            {"window_title", title.value_or("")},
                            {"mouse",
                             {{"cocoa_x", location.x},
                              {"cocoa_y", location.y},
                              {"carbon_x", carbon.x},
                              {"carbon_y", carbon.y}}},
                            {"rect", rectJson(rects->frame)},
                            {"window_rect", rectJson(rects->windowRect)},
                            {"padded_rect", rectJson(rects->paddedRect)},
                            {"debug_box_visible", showDebugBox_}});
}

void HoverTracker::hideBox() {
  loop_.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->mainLoop_.box->hide();
  });
}

}  // namespace nolari::ambrel
