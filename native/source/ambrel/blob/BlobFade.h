#pragma once

#include <cstdint>
#include <functional>

#include "ambrel/blob/ActionBlobState.h"
#include "ambrel/blob/Animation.h"
#include "platform/Windowing.h"

// The blob window's fade in and out through `BlobVisibilityPhase`. Each fade
// takes a new generation, so a fade overtaken by the opposite one changes
// nothing when it completes and the newer one decides the phase. A show that
// starts while hiding fades in from the alpha reached. Main-loop only.

namespace nolari::ambrel {

class BlobFade {
 public:
  BlobFade(platform::OverlayWindow& window, Animator& animator)
      : window_(window), animator_(animator) {}

  BlobVisibilityPhase phase() const { return phase_; }

  // Fades in unless showing or shown. The window comes to the front with the
  // next frame (`takeRaise`), so that it never reaches the screen before its
  // content.
  void show();
  // Fades out unless hidden or hiding, or at once when not `animated`;
  // `hidden` runs when the window has gone. A window that has not reached the
  // screen yet goes at once.
  void hide(bool animated, std::function<void()> hidden);
  // True once after a show: the window is to be brought to the front now.
  bool takeRaise();

 private:
  void animateAlpha(double to, const Timing& timing, std::function<void()> done);

  platform::OverlayWindow& window_;
  Animator& animator_;
  BlobVisibilityPhase phase_ = BlobVisibilityPhase::hidden;
  std::int64_t generation_ = 0;
  bool raisePending_ = false;
  Animator::Id alphaAnimation_ = 0;
};

}  // namespace nolari::ambrel
