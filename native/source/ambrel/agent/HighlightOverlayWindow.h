#pragma once

#include <memory>

#include "platform/DisplayList.h"
#include "platform/Geometry.h"
#include "platform/Windowing.h"

// The translucent box drawn around the text field under the pointer. Clicks
// pass through it to the field, and it never takes the keyboard focus.
//
// Main-thread only.

namespace nolari::ambrel {

class HighlightOverlayWindow {
 public:
  static constexpr double DEFAULT_OPACITY = 0.3;
  // Of which the inner half shows: the box's edge is the field's padded edge.
  static constexpr double BORDER_WIDTH = 2;

  // Off screen and transparent until shown.
  explicit HighlightOverlayWindow(platform::Windowing& windowing);

  // The opacity is the fill's, clamped to 0...1; the border is opaque.
  void applyStyle(platform::Color color, double opacity);
  // A rectangle in bottom-left screen coordinates.
  void show(platform::Rect windowRect);
  void hide();

  bool isVisible() const { return window_->isVisible(); }
  platform::Rect frame() const { return window_->frame(); }

  // The box for a window of `size`: the fill, then the border over it.
  static platform::DisplayList content(platform::Size size, platform::Color color, double opacity);

 private:
  std::shared_ptr<platform::OverlayWindow> window_;
  platform::Color color_;
  double opacity_ = DEFAULT_OPACITY;
};

}  // namespace nolari::ambrel
