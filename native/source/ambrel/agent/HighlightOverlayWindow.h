#pragma once

#include <memory>
#include <vector>

#include "platform/DisplayList.h"
#include "platform/Geometry.h"
#include "platform/Windowing.h"

// The translucent box drawn around the text field under the pointer. Clicks
// pass through it to the field, and it never takes the keyboard focus. Where
// translucent windows do not blend with what lies below (an X desktop without
// a compositing manager), a fill would hide the field: the box is then an
// outline only, the window shaped to its border, and it turns back into a
// filled box when blending comes.
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
  ~HighlightOverlayWindow();
  HighlightOverlayWindow(const HighlightOverlayWindow&) = delete;
  HighlightOverlayWindow& operator=(const HighlightOverlayWindow&) = delete;

  // The opacity is the fill's, clamped to 0...1; the border is opaque.
  void applyStyle(platform::Color color, double opacity);
  // A rectangle in bottom-left screen coordinates.
  void show(platform::Rect windowRect);
  void hide();

  bool isVisible() const { return window_->isVisible(); }
  platform::Rect frame() const { return window_->frame(); }
  bool isOutlineOnly() const { return outlineOnly_; }

  // The box for a window of `size`: the fill, then the border over it; or
  // the whole border width opaque and no fill.
  static platform::DisplayList content(platform::Size size, platform::Color color, double opacity,
                                       bool outlineOnly = false);
  // The border's four sides, the window's shape when it is an outline.
  static std::vector<platform::Rect> outlineShape(platform::Size size);

 private:
  void draw();

  platform::Windowing& windowing_;
  std::shared_ptr<platform::OverlayWindow> window_;
  platform::Windowing::ObserverToken translucencyObserver_ = 0;
  platform::Color color_;
  double opacity_ = DEFAULT_OPACITY;
  bool outlineOnly_ = false;
};

}  // namespace nolari::ambrel
