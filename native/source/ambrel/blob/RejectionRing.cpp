#include "ambrel/blob/RejectionRing.h"

#include <chrono>

#include "ambrel/blob/DesignTokens.h"

namespace nolari::ambrel {

namespace Blob = BlobDesignTokens::Blob;

RejectionRing::~RejectionRing() {
  if (timer_) timer_->invalidate();
}

void RejectionRing::flash() {
  if (timer_) timer_->invalidate();
  active_ = true;
  fadeToFlag();
  timer_ = loop_.scheduleTimer(
      loop_.now() + std::chrono::duration_cast<platform::Duration>(Blob::rejectFlashDuration),
      [this] {
        active_ = false;
        fadeToFlag();
      });
}

void RejectionRing::fadeToFlag() {
  animator_.cancel(fade_);
  const double from = opacity_;
  const double to = active_ ? 1 : 0;
  fade_ = animator_.start(Timing::easeOut(Blob::rejectFlashDuration.count()),
                          [this, from, to](double progress) {
                            opacity_ = from + (to - from) * progress;
                            faded_();
                          });
  changed_();
}

}  // namespace nolari::ambrel
