#include "ambrel/agent/FeedbackOverlayWindow.h"

#include <optional>
#include <utility>

namespace nolari::ambrel {

using platform::Point;
using platform::Rect;

std::shared_ptr<FeedbackOverlayWindow> FeedbackOverlayWindow::create(platform::Windowing& windowing,
                                                                     platform::Workspace& workspace,
                                                                     platform::RunLoop& mainLoop,
                                                                     LineSink& sink) {
  std::shared_ptr<FeedbackOverlayWindow> window(
      new FeedbackOverlayWindow(windowing, workspace, mainLoop, sink));
  window->configure();
  return window;
}

FeedbackOverlayWindow::FeedbackOverlayWindow(platform::Windowing& windowing,
                                             platform::Workspace& workspace,
                                             platform::RunLoop& mainLoop, LineSink& sink)
    : windowing_(windowing),
      workspace_(workspace),
      mainLoop_(mainLoop),
      sink_(sink),
      animator_(mainLoop) {}

FeedbackOverlayWindow::~FeedbackOverlayWindow() {
  if (dismissTimer_) dismissTimer_->invalidate();
}

void FeedbackOverlayWindow::configure() {
  window_ = windowing_.createWindow({.frame = {{-200, -200}, FeedbackView::SIZE},
                                     .level = platform::WindowLevel::statusBar,
                                     .ignoresPointer = false,
                                     .name = "feedback"},
                                    [weak = weak_from_this()](const platform::PointerEvent& event) {
                                      if (auto self = weak.lock()) self->handlePointer(event);
                                    });
  window_->setAlpha(0);
  window_->orderOut();
  window_->setAccessibility(ACCESSIBILITY_LABEL, "group");
  render();
}

void FeedbackOverlayWindow::showBelowField(Rect fieldRect, FeedbackCycle cycle) {
  const double width = FeedbackView::SIZE.width;
  const double height = FeedbackView::SIZE.height;
  Point origin{fieldRect.minX(), fieldRect.minY() - height - FIELD_GAP};
  const Point centre{fieldRect.minX() + fieldRect.size.width / 2,
                     fieldRect.minY() + fieldRect.size.height / 2};
  std::optional<platform::Screen> screen;
  for (const auto& candidate : workspace_.screens()) {
    if (candidate.frame.contains(centre)) {
      screen = candidate;
      break;
    }
  }
  if (!screen) screen = workspace_.mainScreen();
  if (screen) {
    const Rect& visible = screen->visibleFrame;
    if (visible.maxX() < origin.x + width) origin.x = visible.maxX() - width - SCREEN_MARGIN;
    if (visible.minX() > origin.x) origin.x = visible.minX() + SCREEN_MARGIN;
    // No room below the field: above it.
    if (origin.y < visible.minY()) origin.y = fieldRect.maxY() + FIELD_GAP;
    if (origin.y + height > visible.maxY()) origin.y = visible.maxY() - height - SCREEN_MARGIN;
  }
  showAt(origin, std::move(cycle));
}

void FeedbackOverlayWindow::showBelowActionBlob(Rect blobFrame, FeedbackCycle cycle) {
  showAt({blobFrame.minX() + blobFrame.size.width / 2 - FeedbackView::SIZE.width / 2,
          blobFrame.minY() - FeedbackView::SIZE.height - FIELD_GAP},
         std::move(cycle));
}

void FeedbackOverlayWindow::showAt(Point origin, FeedbackCycle cycle) {
  animator_.cancel(fadeAnimation_);
  cycle_ = std::move(cycle);
  view_.reset();
  startDismissTimer();
  window_->setFrame({origin, FeedbackView::SIZE});
  window_->setAlpha(1);
  window_->orderFront();
  render();
}

void FeedbackOverlayWindow::hide(bool animated, double seconds) {
  if (!window_->isVisible()) return;
  if (!animated) {
    animator_.cancel(fadeAnimation_);
    window_->setAlpha(0);
    window_->orderOut();
    reset();
    return;
  }
  animator_.cancel(fadeAnimation_);
  const double from = window_->alpha();
  fadeAnimation_ = animator_.start(
      Timing::linear(seconds),
      [this, from](double progress) { window_->setAlpha(from * (1 - progress)); },
      [weak = weak_from_this()](bool finished) {
        auto self = weak.lock();
        if (!self || !finished) return;
        self->window_->orderOut();
        self->reset();
      });
}

void FeedbackOverlayWindow::reset() {
  if (dismissTimer_) dismissTimer_->invalidate();
  dismissTimer_.reset();
  view_.reset();
  render();
}

void FeedbackOverlayWindow::render() {
  window_->setContent(view_.displayList(windowing_.textMeasurer()));
}

void FeedbackOverlayWindow::startDismissTimer() {
  if (dismissTimer_) dismissTimer_->invalidate();
  dismissTimer_ = mainLoop_.scheduleTimer(mainLoop_.now() + TIMEOUT, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->dismissTimerFired();
  });
}

void FeedbackOverlayWindow::dismissTimerFired() {
  dismissTimer_.reset();
  if (view_.submitted()) return;
  sink_.emitTyped("feedback_dismissed", {{"task_id", cycle_.taskId},
                                         {"prompt_key", cycle_.promptKey},
                                         {"app_name", cycle_.appName},
                                         {"dismiss_method", "auto"}});
  hide(true, DEFAULT_FADE_SECONDS);
}

// Pointer locations are in the window's points, y downwards, like the view's.
void FeedbackOverlayWindow::handlePointer(const platform::PointerEvent& event) {
  using Type = platform::PointerEvent::Type;
  switch (event.type) {
    case Type::entered:
    case Type::moved:
      if (view_.hover(FeedbackView::starIndex(event.location))) render();
      break;
    case Type::exited:
      if (view_.hover(0)) render();
      break;
    case Type::pressed: {
      const int star = FeedbackView::starIndex(event.location);
      if (!view_.rate(star)) break;
      if (dismissTimer_) dismissTimer_->invalidate();
      dismissTimer_.reset();
      render();
      sink_.emitTyped("feedback_submitted", {{"rating", star},
                                             {"task_id", cycle_.taskId},
                                             {"prompt_key", cycle_.promptKey},
                                             {"app_name", cycle_.appName},
                                             {"feedback_method", "star_tap"}});
      hide(true, DEFAULT_FADE_SECONDS);
      break;
    }
    case Type::released:
      break;
  }
}

}  // namespace nolari::ambrel
