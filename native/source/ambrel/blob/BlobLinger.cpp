#include "ambrel/blob/BlobLinger.h"

#include <algorithm>
#include <chrono>

#include "ambrel/blob/DesignTokens.h"

namespace nolari::ambrel {

namespace Motion = BlobDesignTokens::Motion;
using BlobDesignTokens::Seconds;

BlobLinger::~BlobLinger() {
  if (timer_) timer_->invalidate();
}

void BlobLinger::start(const ActionBlobState& state) {
  cancel();
  const auto time = BlobVisibility::linger(state);
  if (time <= Seconds::zero()) return;
  timer_ = loop_.scheduleTimer(loop_.now() + std::chrono::duration_cast<platform::Duration>(time),
                               [this] { expired_(); });
}

void BlobLinger::cancel() {
  if (timer_) timer_->invalidate();
  timer_.reset();
  hoverAnchor_.reset();
}

std::optional<platform::TimePoint> BlobLinger::fireDate() const {
  if (!timer_ || !timer_->isValid()) return std::nullopt;
  return timer_->fireDate();
}

void BlobLinger::extendForHover(const ActionBlobState& current) {
  if (!timer_ || !timer_->isValid()) return;
  if (BlobVisibility::category(current) != BlobVisibilityCategory::terminal) return;
  const auto now = loop_.now();
  if (!hoverAnchor_) hoverAnchor_ = now;
  const auto remaining = Motion::lingerHoverCap - (now - *hoverAnchor_);
  if (remaining <= Seconds::zero()) return;
  const auto extension = std::min<Seconds>(Motion::lingerHoverExtension, remaining);
  timer_->setFireDate(timer_->fireDate() +
                      std::chrono::duration_cast<platform::Duration>(extension));
}

}  // namespace nolari::ambrel
