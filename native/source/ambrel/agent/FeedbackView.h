#pragma once

#include <array>

#include "platform/DisplayList.h"
#include "platform/Geometry.h"
#include "platform/TextMeasure.h"

// The rating strip's content: five stars, lit up to the one under the pointer
// before a rating and up to the chosen one after it, as a display list with
// one hit region per star. Plain state; the window owns the timing.

namespace nolari::ambrel {

class FeedbackView {
 public:
  static constexpr int STAR_COUNT = 5;
  static constexpr platform::Size SIZE{116, 28};
  static constexpr double STAR_CELL = 16;
  static constexpr double STAR_GAP = 4;
  // A star answers the pointer a little beyond its cell, so that the gaps
  // between stars do not swallow clicks.
  static constexpr double HIT_OUTSET = 2;
  static constexpr double STAR_FONT_SIZE = 15;
  static constexpr const char* STAR = "\u2605";
  static constexpr platform::Color IDLE_COLOR{0.75, 0.75, 0.75, 0.9};
  static constexpr platform::Color LIT_COLOR{1, 0.8, 0, 1};
  static constexpr platform::Color SHADOW_COLOR{0, 0, 0, 0.55};

  // The cell of star `star` (1 to 5), in the view's points, y downwards.
  static platform::Rect starFrame(int star);
  // The first star whose hit area holds `point`, 1 to 5; 0 for none. On a
  // shared edge the lower star wins.
  static int starIndex(platform::Point point);

  // A fresh cycle: nothing lit, not rated.
  void reset();
  // The star under the pointer (0: none); ignored once rated. Whether the
  // drawing changed.
  bool hover(int star);
  // A rating; ignored once rated or for 0. Whether it was taken.
  bool rate(int star);

  bool submitted() const { return submitted_; }

  platform::DisplayList displayList(platform::TextMeasurer& measurer) const;

 private:
  int litUpTo_ = 0;
  bool submitted_ = false;
};

}  // namespace nolari::ambrel
