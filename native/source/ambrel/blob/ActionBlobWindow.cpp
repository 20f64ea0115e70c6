#include "ambrel/blob/ActionBlobWindow.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "ambrel/blob/DesignTokens.h"

namespace nolari::ambrel {

namespace {

using platform::Rect;
using platform::Size;
namespace Tokens = BlobDesignTokens;

// Hover, context and flash changes spring softly; state changes a little
// quicker and firmer.
const Timing HOVER_SPRING = Timing::spring(0.3, 0.76);
const Timing STATE_SPRING = Timing::spring(0.22, 0.88);

// Between the window and each side of a screen too narrow for it.
constexpr double NARROW_SCREEN_MARGIN = 32;

double lerp(double from, double to, double progress) { return from + (to - from) * progress; }

Size lerp(Size from, Size to, double progress) {
  return {lerp(from.width, to.width, progress), lerp(from.height, to.height, progress)};
}

Rect lerp(const Rect& from, const Rect& to, double progress) {
  return {{lerp(from.origin.x, to.origin.x, progress), lerp(from.origin.y, to.origin.y, progress)},
          lerp(from.size, to.size, progress)};
}

template <class Rep, class Period>
double seconds(std::chrono::duration<Rep, Period> duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

std::shared_ptr<ActionBlobWindow> ActionBlobWindow::create(platform::Windowing& windowing,
                                                           platform::Workspace& workspace,
                                                           platform::RunLoop& mainLoop) {
  std::shared_ptr<ActionBlobWindow> blob(new ActionBlobWindow(windowing, workspace, mainLoop));
  blob->configure();
  return blob;
}

ActionBlobWindow::ActionBlobWindow(platform::Windowing& windowing, platform::Workspace& workspace,
                                   platform::RunLoop& mainLoop)
    : windowing_(windowing), workspace_(workspace), mainLoop_(mainLoop), animator_(mainLoop) {}

ActionBlobWindow::~ActionBlobWindow() {
  for (auto token : observers_) windowing_.removeObserver(token);
  for (auto* timer : {&rejectionFlashTimer_, &lingerTimer_, &hoverCollapseTimer_, &frameTimer_}) {
    if (*timer) (*timer)->invalidate();
  }
}

void ActionBlobWindow::configure() {
  const Size size = Tokens::BlobSize::outerFrame(Tokens::BlobSize::idleHover);
  auto weak = weak_from_this();
  window_ = windowing_.createWindow({.frame = {{-200, -200}, size},
                                     .level = platform::WindowLevel::statusBar,
                                     .ignoresPointer = false,
                                     .name = "action-blob"},
                                    [weak](const platform::PointerEvent& event) {
                                      if (auto self = weak.lock()) self->handlePointer(event);
                                    });
  window_->setAlpha(0);
  window_->orderOut();
  pillTarget_ = pillFrom_ = pillDrawn_ = pillSize(currentState_, false);
  form_ = formOf(currentState_, false);
  contentStart_ = mainLoop_.now();
  reposition(std::nullopt, false);
  render();
  window_->setAccessibility(ACCESSIBILITY_LABEL, "button");
  observers_.push_back(windowing_.addScreenChangeObserver([weak, this] {
    mainLoop_.post([weak] {
      if (auto self = weak.lock()) self->screensChanged();
    });
  }));
  observers_.push_back(windowing_.addWakeObserver([weak, this] {
    mainLoop_.post([weak] {
      if (auto self = weak.lock()) self->woke();
    });
  }));
  scheduleMigrationNoticeIfNeeded();
}

ActionBlobWindow::Form ActionBlobWindow::formOf(const ActionBlobState& state, bool hovered) const {
  bool hoveredForm = false;
  if (hovered) {
    if (state.is<ActionBlobState::Idle>() || state.is<ActionBlobState::Ready>()) hoveredForm = true;
    if (auto* error = std::get_if<ActionBlobState::Error>(&state.value())) {
      hoveredForm = !error->longMessage.empty();
    }
  }
  return {state.value().index(), hoveredForm};
}

// The largest pill the state can show, hovered or not: the window is sized
// for it, so hovering never resizes the window.
Size ActionBlobWindow::windowBasisSize(const ActionBlobState& state) const {
  namespace BlobSize = Tokens::BlobSize;
  return std::visit(
      [](const auto& value) -> Size {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, ActionBlobState::Processing>) return BlobSize::processing;
        if constexpr (std::is_same_v<T, ActionBlobState::Success>) return BlobSize::success;
        if constexpr (std::is_same_v<T, ActionBlobState::Error>) {
          return value.longMessage.empty() ? BlobSize::errorCollapsed : BlobSize::errorExpanded;
        }
        if constexpr (std::is_same_v<T, ActionBlobState::Info>) return BlobSize::errorCollapsed;
        if constexpr (std::is_same_v<T, ActionBlobState::Recording> ||
                      std::is_same_v<T, ActionBlobState::Transcribing> ||
                      std::is_same_v<T, ActionBlobState::Editing>) {
          return BlobSize::recording;
        }
        return BlobSize::idleHover;
      },
      state.value());
}

Size ActionBlobWindow::pillSize(const ActionBlobState& state, bool hovered) const {
  namespace BlobSize = Tokens::BlobSize;
  if (state.is<ActionBlobState::Idle>()) {
    if (!hovered) return BlobSize::idle;
    return context_.hasLastResult ? BlobSize::idleHover : BlobSize::idleHoverMinimal;
  }
  if (state.is<ActionBlobState::Ready>()) return hovered ? BlobSize::idleHover : BlobSize::ready;
  if (auto* error = std::get_if<ActionBlobState::Error>(&state.value())) {
    return hovered && !error->longMessage.empty() ? BlobSize::errorExpanded
                                                  : BlobSize::errorCollapsed;
  }
  if (state.is<ActionBlobState::Disabled>()) return BlobSize::disabled;
  return windowBasisSize(state);
}

std::optional<platform::Screen> ActionBlobWindow::activeScreen() {
  const auto pointer = workspace_.mouseLocation();
  for (const auto& screen : workspace_.screens()) {
    if (screen.frame.contains(pointer)) return screen;
  }
  return workspace_.mainScreen();
}

std::optional<platform::Screen> ActionBlobWindow::placementScreen(
    const std::optional<platform::Screen>& screen) {
  if (screen) return screen;
  if (auto main = workspace_.mainScreen()) return main;
  auto screens = workspace_.screens();
  if (screens.empty()) return std::nullopt;
  return screens.front();
}

// The pill's bottom sits `bottomMargin` above the visible frame's bottom; the
// window reaches below it by its transparent margin. On a screen too narrow
// for it the window keeps 32 points clear, and never shrinks below a point.
Rect ActionBlobWindow::placedFrame(const platform::Screen& screen, Size basis) const {
  const Rect& visible = screen.visibleFrame;
  const Size full = Tokens::BlobSize::outerFrame(basis);
  const double width =
      std::max(1.0, std::min(full.width, visible.size.width - NARROW_SCREEN_MARGIN));
  const double pad = std::max(0.0, (full.height - basis.height) / 2);
  return {{visible.minX() + visible.size.width / 2 - width / 2,
           visible.minY() + Tokens::BlobSize::bottomMargin - pad},
          {width, full.height}};
}

void ActionBlobWindow::reposition(const std::optional<platform::Screen>& screen, bool animated) {
  auto target = placementScreen(screen);
  if (!target) return;
  const Rect frame = placedFrame(*target, windowBasisSize(currentState_));
  if (!frame.isFinite() || frame == window_->frame()) return;
  if (animated) {
    animateFrame(frame, seconds(Tokens::Motion::blobHoverDuration));
    return;
  }
  animator_.cancel(frameAnimation_);
  window_->setFrame(frame);
  render();
}

void ActionBlobWindow::repositionKeepingCenterBottom(
    Size basis, const std::optional<platform::Screen>& screen) {
  auto target = placementScreen(screen);
  if (!target) return;
  const Rect frame = placedFrame(*target, basis);
  if (!frame.isFinite() || frame == window_->frame()) return;
  animateFrame(frame, seconds(Tokens::Motion::blobStateDuration));
}

void ActionBlobWindow::animateFrame(Rect to, double duration) {
  animator_.cancel(frameAnimation_);
  const Rect from = window_->frame();
  frameAnimation_ = animator_.start(Timing::easeInOut(duration), [this, from, to](double progress) {
    window_->setFrame(lerp(from, to, progress));
    render();
  });
}

void ActionBlobWindow::setState(const ActionBlobState& state) {
  if (state == currentState_) return;
  cancelLinger();
  const auto visibility = BlobVisibility::category(state);
  currentState_ = state;
  window_->setAccessibility(ACCESSIBILITY_LABEL, "button");
  if (visibility == BlobVisibilityCategory::hidden) {
    hideWindow(true);
  } else {
    // The step checks that the state it was queued for is still the one
    // shown: "ready" then "idle" in one burst must leave the blob hidden. It
    // sizes the pill for the hover of when it runs, which a forced hover
    // queued meanwhile may have changed.
    mainLoop_.post([weak = weak_from_this(), state] {
      auto self = weak.lock();
      if (!self || self->currentState_ != state) return;
      self->updateView(self->pillSize(state, self->isHovered_), STATE_SPRING);
      self->repositionKeepingCenterBottom(self->windowBasisSize(state), self->activeScreen());
      self->showWindow();
    });
  }
  if (visibility == BlobVisibilityCategory::terminal) scheduleLinger(state);
}

void ActionBlobWindow::setContext(const BlobContext& context) {
  context_ = context;
  mainLoop_.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      self->updateView(self->pillSize(self->currentState_, self->isHovered_), HOVER_SPRING);
    }
  });
}

void ActionBlobWindow::flashRejection() {
  if (!currentState_.is<ActionBlobState::Processing>()) return;
  if (rejectionFlashTimer_) rejectionFlashTimer_->invalidate();
  rejectionFlashActive_ = true;
  auto redraw = [](ActionBlobWindow& self) {
    self.animator_.cancel(self.ringAnimation_);
    const double from = self.ringOpacity_;
    const double to = self.rejectionFlashActive_ ? 1 : 0;
    self.ringAnimation_ = self.animator_.start(
        Timing::easeOut(seconds(Tokens::Blob::rejectFlashDuration)), [&self, from, to](double p) {
          self.ringOpacity_ = lerp(from, to, p);
          self.render();
        });
    self.updateView(self.pillSize(self.currentState_, self.isHovered_), HOVER_SPRING);
  };
  mainLoop_.post([weak = weak_from_this(), redraw] {
    if (auto self = weak.lock()) redraw(*self);
  });
  rejectionFlashTimer_ = mainLoop_.scheduleTimer(
      mainLoop_.now() +
          std::chrono::duration_cast<platform::Duration>(Tokens::Blob::rejectFlashDuration),
      [weak = weak_from_this(), redraw] {
        if (auto self = weak.lock()) {
          self->rejectionFlashActive_ = false;
          redraw(*self);
        }
      });
}

void ActionBlobWindow::setDebugForcedHover(bool hovered) {
  isHovered_ = hovered;
  updateView(pillSize(currentState_, hovered), HOVER_SPRING);
}

void ActionBlobWindow::handleCursorTick() {
  auto screen = placementScreen(activeScreen());
  if (!screen || screen->visibleFrame == lastTickedVisibleFrame_) return;
  lastTickedVisibleFrame_ = screen->visibleFrame;
  reposition(screen, true);
}

void ActionBlobWindow::setAudioLevel(double level) {
  audioLevel_ = std::isfinite(level) ? std::clamp(level, 0.0, 1.0) : 0.0;
}

// The pill springs to its new size; a new form brings its content in with a
// transition while the old one fades out. Frames follow while anything moves.
void ActionBlobWindow::updateView(Size pill, const Timing& spring) {
  const auto now = mainLoop_.now();
  const Form form = formOf(currentState_, isHovered_);
  if (form != form_) {
    leaving_ = ActionBlobRoot{.state = shownState_,
                              .context = context_,
                              .isHovered = shownHovered_,
                              .showRejectionFlash = false,
                              .visualSize = pillDrawn_,
                              .outerSize = window_->frame().size};
    leavingStart_ = now;
    leavingContentStart_ = contentStart_;
    contentStart_ = now;
    form_ = form;
  }
  if (pill != pillTarget_) {
    animator_.cancel(pillAnimation_);
    pillTarget_ = pill;
    pillFrom_ = pillDrawn_;
    if (phase_ == BlobVisibilityPhase::hidden) {
      pillDrawn_ = pill;
    } else {
      pillAnimation_ = animator_.start(spring, [this](double progress) {
        pillDrawn_ = lerp(pillFrom_, pillTarget_, progress);
        render();
      });
    }
  }
  render();
  scheduleFrames();
}

ActionBlobRoot ActionBlobWindow::root() const {
  return {.state = currentState_,
          .context = context_,
          .isHovered = isHovered_,
          .showRejectionFlash = rejectionFlashActive_,
          .visualSize = pillDrawn_,
          .outerSize = window_->frame().size};
}

// The content being replaced is drawn until its fade ends.
BlobMoment ActionBlobWindow::moment() {
  const auto now = mainLoop_.now();
  BlobMoment moment{.contentAge = seconds(now - contentStart_),
                    .ringOpacity = ringOpacity_,
                    .audioLevel = audioLevel_};
  if (leaving_) {
    moment.leavingAge = seconds(now - leavingStart_);
    if (moment.leavingAge < BLOB_CONTENT_TRANSITION) {
      leaving_->outerSize = window_->frame().size;
      moment.leaving = leaving_;
      moment.leavingContentAge = seconds(now - leavingContentStart_);
    } else {
      leaving_.reset();
    }
  }
  return moment;
}

void ActionBlobWindow::render() {
  shown_ = drawActionBlob(root(), moment(), windowing_.textMeasurer());
  shownState_ = currentState_;
  shownHovered_ = isHovered_;
  window_->setContent(shown_);
}

// The looping animations and transitions draw a frame at a time, only while
// the window is on screen.
void ActionBlobWindow::scheduleFrames() {
  if (frameTimer_ && frameTimer_->isValid()) return;
  if (phase_ == BlobVisibilityPhase::hidden) return;
  if (!actionBlobAnimates(root(), moment())) return;
  frameTimer_ = mainLoop_.scheduleTimer(mainLoop_.now() + Animator::FRAME_INTERVAL,
                                        [weak = weak_from_this()] {
                                          auto self = weak.lock();
                                          if (!self) return;
                                          self->frameTimer_.reset();
                                          self->render();
                                          self->scheduleFrames();
                                        });
}

void ActionBlobWindow::animateAlpha(double to, const Timing& timing, std::function<void()> done) {
  animator_.cancel(alphaAnimation_);
  const double from = window_->alpha();
  alphaAnimation_ = animator_.start(
      timing, [this, from, to](double progress) { window_->setAlpha(lerp(from, to, progress)); },
      [done = std::move(done)](bool) { done(); });
}

void ActionBlobWindow::showWindow() {
  if (phase_ == BlobVisibilityPhase::shown || phase_ == BlobVisibilityPhase::showing) return;
  const auto generation = ++visibilityGeneration_;
  phase_ = BlobVisibilityPhase::showing;
  window_->orderFront();
  animateAlpha(1, Timing::easeOut(seconds(Tokens::Motion::showFade)),
               [weak = weak_from_this(), generation] {
                 auto self = weak.lock();
                 if (self && self->visibilityGeneration_ == generation) {
                   self->phase_ = BlobVisibilityPhase::shown;
                 }
               });
  scheduleFrames();
}

void ActionBlobWindow::hideWindow(bool animated) {
  if (phase_ == BlobVisibilityPhase::hidden || phase_ == BlobVisibilityPhase::hiding) return;
  const auto generation = ++visibilityGeneration_;
  phase_ = BlobVisibilityPhase::hiding;
  auto finish = [weak = weak_from_this(), generation] {
    auto self = weak.lock();
    if (!self || self->visibilityGeneration_ != generation) return;
    self->window_->setAlpha(0);
    self->window_->orderOut();
    self->phase_ = BlobVisibilityPhase::hidden;
    self->isHovered_ = false;
    self->cancelHoverCollapse();
  };
  if (animated) {
    animateAlpha(0, Timing::easeIn(seconds(Tokens::Motion::hideFade)), finish);
  } else {
    animator_.cancel(alphaAnimation_);
    finish();
  }
}

void ActionBlobWindow::scheduleLinger(const ActionBlobState& state) {
  const auto time = BlobVisibility::linger(state);
  if (time <= Tokens::Seconds::zero()) return;
  lingerTimer_ = mainLoop_.scheduleTimer(
      mainLoop_.now() + std::chrono::duration_cast<platform::Duration>(time),
      [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->setState(ActionBlobState::Idle{});
      });
}

void ActionBlobWindow::cancelLinger() {
  if (lingerTimer_) lingerTimer_->invalidate();
  lingerTimer_.reset();
  lingerHoverAnchor_.reset();
}

std::optional<platform::TimePoint> ActionBlobWindow::lingerFireDate() const {
  if (!lingerTimer_ || !lingerTimer_->isValid()) return std::nullopt;
  return lingerTimer_->fireDate();
}

// Each entry within a minute of the first one in this terminal state puts
// the return to idle off by up to two seconds; a resting pointer does not
// hold the blob.
void ActionBlobWindow::extendLingerForHover() {
  if (!lingerTimer_ || !lingerTimer_->isValid()) return;
  if (BlobVisibility::category(currentState_) != BlobVisibilityCategory::terminal) return;
  const auto now = mainLoop_.now();
  if (!lingerHoverAnchor_) lingerHoverAnchor_ = now;
  const auto remaining = Tokens::Motion::lingerHoverCap - (now - *lingerHoverAnchor_);
  if (remaining <= Tokens::Seconds::zero()) return;
  const auto extension = std::min<Tokens::Seconds>(Tokens::Motion::lingerHoverExtension, remaining);
  lingerTimer_->setFireDate(lingerTimer_->fireDate() +
                            std::chrono::duration_cast<platform::Duration>(extension));
}

void ActionBlobWindow::cancelHoverCollapse() {
  if (hoverCollapseTimer_) hoverCollapseTimer_->invalidate();
  hoverCollapseTimer_.reset();
}

void ActionBlobWindow::mouseEntered() {
  cancelHoverCollapse();
  extendLingerForHover();
  if (isHovered_) return;
  const auto& state = currentState_;
  if (state.is<ActionBlobState::Processing>() || state.is<ActionBlobState::Success>() ||
      state.is<ActionBlobState::Recording>() || state.is<ActionBlobState::Transcribing>() ||
      state.is<ActionBlobState::Editing>()) {
    return;
  }
  isHovered_ = true;
  if (onRequestContext) onRequestContext();
  updateView(pillSize(currentState_, true), HOVER_SPRING);
}

// A pointer that comes back within the grace period keeps the blob open.
void ActionBlobWindow::mouseExited() {
  if (!isHovered_) return;
  cancelHoverCollapse();
  hoverCollapseTimer_ = mainLoop_.scheduleTimer(
      mainLoop_.now() +
          std::chrono::duration_cast<platform::Duration>(Tokens::Motion::hoverGracePeriod),
      [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->hoverCollapseTimer_.reset();
        if (!self->isHovered_) return;
        self->isHovered_ = false;
        self->updateView(self->pillSize(self->currentState_, false), HOVER_SPRING);
      });
}

// A click is an action where it is pressed and released on the same one.
void ActionBlobWindow::handlePointer(const platform::PointerEvent& event) {
  using Type = platform::PointerEvent::Type;
  switch (event.type) {
    case Type::entered:
      mouseEntered();
      break;
    case Type::exited:
      mouseExited();
      break;
    case Type::moved:
      break;
    case Type::pressed:
      pressedAction_ = platform::hitTest(shown_, event.location);
      break;
    case Type::released: {
      auto action = platform::hitTest(shown_, event.location);
      auto pressed = std::exchange(pressedAction_, std::nullopt);
      if (!action || action != pressed) break;
      if (auto blobAction = blobActionFromRawValue(*action)) handleAction(*blobAction);
      break;
    }
  }
}

void ActionBlobWindow::handleAction(BlobAction action) {
  const ActionBlobState state = currentState_;
  if (action == BlobAction::tap && onBlobClick) onBlobClick(state);
  if (onBlobAction) onBlobAction(action, state);
}

void ActionBlobWindow::screensChanged() {
  lastTickedVisibleFrame_ = {};
  handleCursorTick();
}

// Whatever was showing before the sleep is stale: hide at once and forget it.
void ActionBlobWindow::woke() {
  cancelLinger();
  hideWindow(false);
  currentState_ = ActionBlobState::Idle{};
}

// Shown once per user, shortly after the first start; only onto an idle
// blob, so that it never replaces what the parent showed in the meantime.
void ActionBlobWindow::scheduleMigrationNoticeIfNeeded() {
  auto& defaults = windowing_.userDefaults();
  if (defaults.boolForKey(MIGRATION_KEY).value_or(false)) return;
  defaults.setBool(MIGRATION_KEY, true);
  mainLoop_.postAfter(MIGRATION_DELAY, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self || !self->currentState_.is<ActionBlobState::Idle>()) return;
    self->setState(ActionBlobState::Info{MIGRATION_MESSAGE});
  });
}

}  // namespace nolari::ambrel
