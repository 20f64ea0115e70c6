#include "ambrel/blob/BlobSpring.h"

namespace nolari::ambrel {

void BlobSpring::springTo(platform::Size size, const Timing& timing, bool animated) {
  if (size == target_) return;
  animator_.cancel(animation_);
  target_ = size;
  from_ = drawn_;
  if (!animated) {
    drawn_ = size;
    return;
  }
  animation_ = animator_.start(timing, [this](double progress) {
    drawn_ = {from_.width + (target_.width - from_.width) * progress,
              from_.height + (target_.height - from_.height) * progress};
    moved_();
  });
}

}  // namespace nolari::ambrel
