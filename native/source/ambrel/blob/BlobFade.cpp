#include "ambrel/blob/BlobFade.h"

#include <chrono>
#include <utility>

#include "ambrel/blob/DesignTokens.h"

namespace nolari::ambrel {

namespace {

namespace Motion = BlobDesignTokens::Motion;

double seconds(BlobDesignTokens::Seconds duration) { return duration.count(); }

}  // namespace

void BlobFade::show() {
  if (phase_ == BlobVisibilityPhase::shown || phase_ == BlobVisibilityPhase::showing) return;
  const auto generation = ++generation_;
  phase_ = BlobVisibilityPhase::showing;
  raisePending_ = true;
  animateAlpha(1, Timing::easeOut(seconds(Motion::showFade)), [this, generation] {
    if (generation_ == generation) phase_ = BlobVisibilityPhase::shown;
  });
}

void BlobFade::hide(bool animated, std::function<void()> hidden) {
  if (phase_ == BlobVisibilityPhase::hidden || phase_ == BlobVisibilityPhase::hiding) return;
  const auto generation = ++generation_;
  phase_ = BlobVisibilityPhase::hiding;
  const bool offScreen = std::exchange(raisePending_, false) && !window_.isVisible();
  auto finish = [this, generation, hidden = std::move(hidden)] {
    if (generation_ != generation) return;
    window_.setAlpha(0);
    window_.orderOut();
    phase_ = BlobVisibilityPhase::hidden;
    hidden();
  };
  if (animated && !offScreen) {
    animateAlpha(0, Timing::easeIn(seconds(Motion::hideFade)), std::move(finish));
  } else {
    animator_.cancel(alphaAnimation_);
    finish();
  }
}

bool BlobFade::takeRaise() { return std::exchange(raisePending_, false); }

void BlobFade::animateAlpha(double to, const Timing& timing, std::function<void()> done) {
  animator_.cancel(alphaAnimation_);
  const double from = window_.alpha();
  alphaAnimation_ = animator_.start(
      timing,
      [this, from, to](double progress) { window_.setAlpha(from + (to - from) * progress); },
      [done = std::move(done)](bool) { done(); });
}

}  // namespace nolari::ambrel
