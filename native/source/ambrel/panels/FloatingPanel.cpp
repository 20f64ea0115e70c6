#include "ambrel/panels/FloatingPanel.h"

#include <chrono>
#include <utility>

#include "ambrel/blob/DesignTokens.h"
#include "base/NolariLogger.h"

namespace nolari::ambrel {

namespace {

namespace Tokens = BlobDesignTokens;
using platform::Rect;

// How much nearer the caret the panel starts, and how small, as it grows in.
constexpr double APPEAR_OFFSET = 6;
constexpr double APPEAR_SCALE = 0.98;

double lerp(double from, double to, double progress) { return from + (to - from) * progress; }

Rect lerp(const Rect& from, const Rect& to, double progress) {
  return {{lerp(from.origin.x, to.origin.x, progress), lerp(from.origin.y, to.origin.y, progress)},
          {lerp(from.size.width, to.size.width, progress),
           lerp(from.size.height, to.size.height, progress)}};
}

template <class Rep, class Period>
double seconds(std::chrono::duration<Rep, Period> duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

std::shared_ptr<FloatingPanel> FloatingPanel::create(platform::Windowing& windowing,
                                                     platform::Workspace& workspace,
                                                     platform::RunLoop& mainLoop, Options options,
                                                     platform::Windowing::PointerHandler pointer,
                                                     std::function<void(Dismissal)> dismiss) {
  std::shared_ptr<FloatingPanel> panel(
      new FloatingPanel(windowing, workspace, mainLoop, std::move(options), std::move(dismiss)));
  panel->configure(std::move(pointer));
  return panel;
}

FloatingPanel::FloatingPanel(platform::Windowing& windowing, platform::Workspace& workspace,
                             platform::RunLoop& mainLoop, Options options,
                             std::function<void(Dismissal)> dismiss)
    : windowing_(windowing),
      workspace_(workspace),
      mainLoop_(mainLoop),
      options_(std::move(options)),
      dismiss_(std::move(dismiss)),
      animator_(mainLoop) {}

FloatingPanel::~FloatingPanel() {
  removeDismissalWatchers();
  stopInactivityTimer();
}

void FloatingPanel::configure(platform::Windowing::PointerHandler pointer) {
  window_ = windowing_.createWindow({.frame = {{-400, -400}, {options_.width, 200}},
                                     .level = platform::WindowLevel::statusBar,
                                     .ignoresPointer = false,
                                     .name = options_.windowName},
                                    std::move(pointer));
  window_->setAlpha(0);
  window_->orderOut();
  window_->setAccessibility(options_.accessibilityLabel, options_.accessibilityRole);
}

void FloatingPanel::setContent(platform::DisplayList content) {
  content_ = std::move(content);
  render();
}

// The content grows about the panel's centre while it comes in.
void FloatingPanel::render() {
  if (scale_ == 1) {
    window_->setContent(content_);
    return;
  }
  const platform::Size size = placement_.frame.size;
  platform::Group group{.scale = scale_,
                        .anchor = {size.width / 2, size.height / 2},
                        .clip = std::nullopt,
                        .children = content_.items};
  platform::DisplayList scaled;
  scaled.items.push_back({std::move(group)});
  window_->setContent(std::move(scaled));
}

void FloatingPanel::cancelAnimations() {
  animator_.cancel(appearAnimation_);
  animator_.cancel(fadeAnimation_);
  appearAnimation_ = fadeAnimation_ = 0;
}

void FloatingPanel::show(const PanelPlacement& placement, bool animated) {
  ++generation_;
  cancelAnimations();
  // A showing that replaces a visible one stops that one's watchers first,
  // and keeps the application to return to: the frontmost one now may be
  // this program.
  removeDismissalWatchers();
  if (!isVisible_) {
    previousApp_.reset();
    auto front = workspace_.frontmostApplication();
    if (front && front->pid != options_.ownPid) previousApp_ = std::move(front);
  }
  placement_ = placement;
  isVisible_ = true;
  isAnimatingOut_ = false;
  const Rect target = placement.frame;
  if (animated) {
    Rect start = target;
    start.origin.y += placement.flip == FlipDirection::below ? APPEAR_OFFSET : -APPEAR_OFFSET;
    window_->setFrame(start);
    window_->setAlpha(0);
    scale_ = APPEAR_SCALE;
    render();
    window_->orderFront();
    appearAnimation_ =
        animator_.start(Timing::easeOut(seconds(Tokens::Motion::panelAppearDuration)),
                        [this, start, target](double progress) {
                          window_->setFrame(lerp(start, target, progress));
                          window_->setAlpha(progress);
                          scale_ = lerp(APPEAR_SCALE, 1, progress);
                          render();
                        });
  } else {
    window_->setFrame(target);
    window_->setAlpha(1);
    scale_ = 1;
    render();
    window_->orderFront();
  }
  installDismissalWatchers();
  startInactivityTimer();
}

void FloatingPanel::hide(bool animated, Focus focus) {
  if (isAnimatingOut_) return;
  const auto generation = ++generation_;
  isVisible_ = false;
  removeDismissalWatchers();
  stopInactivityTimer();
  window_->releaseKeyboard();
  if (previousApp_) {
    if (focus == Focus::restore) workspace_.activate(*previousApp_);
    previousApp_.reset();
  }
  animator_.cancel(appearAnimation_);
  appearAnimation_ = 0;
  const bool shown = window_->alpha() > 0 || window_->isVisible();
  if (shown && animated) {
    isAnimatingOut_ = true;
    const double from = window_->alpha();
    fadeAnimation_ = animator_.start(
        Timing::easeIn(seconds(Tokens::Motion::panelDismissDuration)),
        [this, from](double progress) { window_->setAlpha(lerp(from, 0, progress)); },
        [weak = weak_from_this(), generation](bool) {
          auto self = weak.lock();
          if (!self || self->generation_ != generation) return;
          self->isAnimatingOut_ = false;
          self->window_->orderOut();
          self->scale_ = 1;
        });
    return;
  }
  animator_.cancel(fadeAnimation_);
  fadeAnimation_ = 0;
  window_->setAlpha(0);
  window_->orderOut();
  scale_ = 1;
}

void FloatingPanel::installDismissalWatchers() {
  auto weak = weak_from_this();
  mouseMonitor_ = windowing_.addMouseDownMonitor([weak](platform::Point location) {
    if (auto self = weak.lock()) self->mouseDown(location);
  });
  activationObserver_ = workspace_.addActivationObserver(
      [weak](const std::optional<platform::RunningApplication>& app) {
        if (auto self = weak.lock()) self->applicationActivated(app);
      });
}

void FloatingPanel::removeDismissalWatchers() {
  if (mouseMonitor_) windowing_.removeObserver(*mouseMonitor_);
  if (activationObserver_) workspace_.removeActivationObserver(*activationObserver_);
  mouseMonitor_.reset();
  activationObserver_.reset();
}

void FloatingPanel::startInactivityTimer() {
  stopInactivityTimer();
  inactivityTimer_ = mainLoop_.scheduleTimer(
      mainLoop_.now() +
          std::chrono::duration_cast<platform::Duration>(Tokens::Motion::panelInactivityTimeout),
      [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || !self->isVisible_) return;
        self->inactivityTimer_.reset();
        std::string line = self->options_.logName;
        line += ": inactivity timeout";
        NolariLogger::info(line);
        self->dismiss_(Dismissal::inactivity);
      });
}

void FloatingPanel::stopInactivityTimer() {
  if (inactivityTimer_) inactivityTimer_->invalidate();
  inactivityTimer_.reset();
}

void FloatingPanel::resetInactivityTimer() {
  if (isVisible_) startInactivityTimer();
}

void FloatingPanel::postDismissal(Dismissal why) {
  mainLoop_.post([weak = weak_from_this(), generation = generation_, why] {
    auto self = weak.lock();
    if (self && self->isVisible_ && self->generation_ == generation) self->dismiss_(why);
  });
}

void FloatingPanel::mouseDown(platform::Point location) {
  if (!isVisible_) return;
  if (!placement_.frame.contains(location)) {
    postDismissal(Dismissal::outsideClick);
  } else if (options_.insideClickRestartsTimer) {
    mainLoop_.post([weak = weak_from_this(), generation = generation_] {
      auto self = weak.lock();
      if (self && self->generation_ == generation) self->resetInactivityTimer();
    });
  }
}

// Neither this program's own activation nor a return to the application the
// user was typing in dismisses the panel.
void FloatingPanel::applicationActivated(const std::optional<platform::RunningApplication>& app) {
  if (!isVisible_ || !app || app->pid == options_.ownPid) return;
  const std::optional<std::string> previousBundle =
      previousApp_ ? previousApp_->bundleIdentifier : std::nullopt;
  if (app->bundleIdentifier == previousBundle) return;
  dismiss_(Dismissal::otherApplication);
}

}  // namespace nolari::ambrel
