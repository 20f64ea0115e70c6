#include "ambrel/blob/ActionBlobWindow.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "ambrel/blob/BlobPlacement.h"
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

double lerp(double from, double to, double progress) { return from + (to - from) * progress; }

Rect lerp(const Rect& from, const Rect& to, double progress) {
  return {{lerp(from.origin.x, to.origin.x, progress), lerp(from.origin.y, to.origin.y, progress)},
          {lerp(from.size.width, to.size.width, progress),
           lerp(from.size.height, to.size.height, progress)}};
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
    : windowing_(windowing),
      workspace_(workspace),
      mainLoop_(mainLoop),
      animator_(mainLoop),
      hover_(mainLoop),
      linger_(mainLoop, [this] { setState(ActionBlobState::Idle{}); }),
      ring_(
          mainLoop, animator_, [this] { updateView(pillSize(hover_.hovered()), HOVER_SPRING); },
          [this] { requestFrame(); }),
      pill_(animator_, BlobPlacement::pillSize(currentState_, false, context_),
            [this] { requestFrame(); }),
      content_(BlobForm::of(currentState_, false), mainLoop.now()) {}

ActionBlobWindow::~ActionBlobWindow() {
  for (auto token : observers_) windowing_.removeObserver(token);
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
  fade_.emplace(*window_, animator_);
  window_->setAlpha(0);
  window_->orderOut();
  reposition(std::nullopt, false);
  drawFrame();
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
  // Only onto an idle blob, so that it never replaces what the parent showed
  // in the meantime.
  BlobMigrationNotice::scheduleIfDue(windowing_.userDefaults(), mainLoop_, [weak] {
    auto self = weak.lock();
    if (!self || !self->currentState_.is<ActionBlobState::Idle>()) return;
    self->setState(ActionBlobState::Info{BlobMigrationNotice::MESSAGE});
  });
}

Size ActionBlobWindow::pillSize(bool hovered) const {
  return BlobPlacement::pillSize(currentState_, hovered, context_);
}

void ActionBlobWindow::reposition(const std::optional<platform::Screen>& screen, bool animated) {
  auto target = BlobPlacement::placementScreen(workspace_, screen);
  if (!target) return;
  const Rect frame =
      BlobPlacement::placedFrame(*target, BlobPlacement::windowBasisSize(currentState_));
  if (!frame.isFinite() || frame == window_->frame()) return;
  if (animated) {
    animateFrame(frame, Tokens::Motion::blobHoverDuration.count());
    return;
  }
  animator_.cancel(frameAnimation_);
  window_->setFrame(frame);
  requestFrame();
}

void ActionBlobWindow::repositionKeepingCenterBottom(
    Size basis, const std::optional<platform::Screen>& screen) {
  auto target = BlobPlacement::placementScreen(workspace_, screen);
  if (!target) return;
  const Rect frame = BlobPlacement::placedFrame(*target, basis);
  if (!frame.isFinite() || frame == window_->frame()) return;
  animateFrame(frame, Tokens::Motion::blobStateDuration.count());
}

void ActionBlobWindow::animateFrame(Rect to, double duration) {
  animator_.cancel(frameAnimation_);
  const Rect from = window_->frame();
  frameAnimation_ = animator_.start(Timing::easeInOut(duration), [this, from, to](double progress) {
    window_->setFrame(lerp(from, to, progress));
    requestFrame();
  });
}

void ActionBlobWindow::setState(const ActionBlobState& state) {
  if (state == currentState_) return;
  linger_.cancel();
  const auto visibility = BlobVisibility::category(state);
  currentState_ = state;
  window_->setAccessibility(ACCESSIBILITY_LABEL, "button");
  if (visibility == BlobVisibilityCategory::hidden) {
    hideWindow(true);
  } else {
    updateView(pillSize(hover_.hovered()), STATE_SPRING);
    repositionKeepingCenterBottom(BlobPlacement::windowBasisSize(state),
                                  BlobPlacement::activeScreen(workspace_));
    showWindow();
  }
  if (visibility == BlobVisibilityCategory::terminal) linger_.start(state);
}

void ActionBlobWindow::setContext(const BlobContext& context) {
  context_ = context;
  updateView(pillSize(hover_.hovered()), HOVER_SPRING);
}

void ActionBlobWindow::flashRejection() {
  if (!currentState_.is<ActionBlobState::Processing>()) return;
  ring_.flash();
}

void ActionBlobWindow::setDebugForcedHover(bool hovered) {
  hover_.force(hovered);
  updateView(pillSize(hovered), HOVER_SPRING);
}

void ActionBlobWindow::handleCursorTick() {
  auto screen = BlobPlacement::placementScreen(workspace_, BlobPlacement::activeScreen(workspace_));
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
  const BlobForm form = BlobForm::of(currentState_, hover_.hovered());
  if (form != content_.form()) {
    content_.change(form,
                    {.state = shownState_,
                     .context = context_,
                     .isHovered = shownHovered_,
                     .visualSize = pill_.drawn(),
                     .outerSize = window_->frame().size},
                    mainLoop_.now());
  }
  pill_.springTo(pill, spring, fade_->phase() != BlobVisibilityPhase::hidden);
  requestFrame();
  scheduleFrames();
}

void ActionBlobWindow::showWindow() {
  fade_->show();
  requestFrame();
  scheduleFrames();
}

void ActionBlobWindow::hideWindow(bool animated) {
  fade_->hide(animated, [this] { hover_.reset(); });
}

ActionBlobRoot ActionBlobWindow::root() const {
  return {.state = currentState_,
          .context = context_,
          .isHovered = hover_.hovered(),
          .showRejectionFlash = ring_.active(),
          .visualSize = pill_.drawn(),
          .outerSize = window_->frame().size};
}

BlobMoment ActionBlobWindow::moment() {
  BlobMoment moment = content_.moment(mainLoop_.now(), window_->frame().size);
  moment.ringOpacity = ring_.opacity();
  moment.audioLevel = audioLevel_;
  return moment;
}

void ActionBlobWindow::requestFrame() {
  if (std::exchange(frameRequested_, true)) return;
  mainLoop_.post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (self && self->frameRequested_) self->drawFrame();
  });
}

// The content goes out before a window that is being shown comes to the
// front.
void ActionBlobWindow::drawFrame() {
  frameRequested_ = false;
  shown_ = drawActionBlob(root(), moment(), windowing_.textMeasurer());
  shownState_ = currentState_;
  shownHovered_ = hover_.hovered();
  window_->setContent(shown_);
  if (fade_->takeRaise()) window_->orderFront();
}

// The looping animations and transitions draw a frame at a time, only while
// the window is on screen, on the animator's ticks so that they share their
// frames with the springs and fades.
void ActionBlobWindow::scheduleFrames() {
  if (loopingFrame_) return;
  if (fade_->phase() == BlobVisibilityPhase::hidden) return;
  if (!actionBlobAnimates(root(), moment())) return;
  loopingFrame_ = animator_.start(
      Timing::linear(0), [this](double) { requestFrame(); },
      [this](bool finished) {
        loopingFrame_ = 0;
        if (finished) scheduleFrames();
      });
}

void ActionBlobWindow::mouseEntered() {
  linger_.extendForHover(currentState_);
  if (!hover_.enter(currentState_)) return;
  if (onRequestContext) onRequestContext();
  updateView(pillSize(true), HOVER_SPRING);
}

void ActionBlobWindow::mouseExited() {
  hover_.exit([this] { updateView(pillSize(false), HOVER_SPRING); });
}

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
      hits_.press(shown_, event.location);
      break;
    case Type::released:
      if (auto action = hits_.release(shown_, event.location)) handleAction(*action);
      break;
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
  linger_.cancel();
  hideWindow(false);
  currentState_ = ActionBlobState::Idle{};
}

}  // namespace nolari::ambrel
