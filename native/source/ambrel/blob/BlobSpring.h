#pragma once

#include <functional>

#include "ambrel/blob/Animation.h"
#include "platform/Geometry.h"

// The pill's size springing towards its target from wherever it is drawn,
// so that a change in mid-spring carries on from there. Main-loop only.

namespace nolari::ambrel {

class BlobSpring {
 public:
  // `moved` is told after every step of the spring.
  BlobSpring(Animator& animator, platform::Size size, std::function<void()> moved)
      : animator_(animator), moved_(std::move(moved)), target_(size), from_(size), drawn_(size) {}

  // Springs to `size` with `timing`, or takes it at once when not `animated`;
  // the target it already has changes nothing.
  void springTo(platform::Size size, const Timing& timing, bool animated);
  platform::Size drawn() const { return drawn_; }

 private:
  Animator& animator_;
  std::function<void()> moved_;
  platform::Size target_;
  platform::Size from_;
  platform::Size drawn_;
  Animator::Id animation_ = 0;
};

}  // namespace nolari::ambrel
