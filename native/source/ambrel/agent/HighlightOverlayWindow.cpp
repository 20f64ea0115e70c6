#include "ambrel/agent/HighlightOverlayWindow.h"

#include <algorithm>
#include <cmath>

#include "core/ColorParser.h"

namespace nolari::ambrel {

using platform::Color;
using platform::Rect;

HighlightOverlayWindow::HighlightOverlayWindow(platform::Windowing& windowing)
    : window_(windowing.createWindow({.frame = {{-100, -100}, {1, 1}},
                                      .level = platform::WindowLevel::statusBar,
                                      .ignoresPointer = true,
                                      .name = "highlight-box"},
                                     [](const platform::PointerEvent&) {})),
      color_(SYSTEM_BLUE) {
  window_->setIgnoresPointer(true);
  window_->orderOut();
  window_->setAlpha(0);
}

void HighlightOverlayWindow::applyStyle(Color color, double opacity) {
  color_ = color;
  opacity_ = std::isfinite(opacity) ? std::clamp(opacity, 0.0, 1.0) : DEFAULT_OPACITY;
}

void HighlightOverlayWindow::show(Rect windowRect) {
  window_->setFrame(windowRect);
  window_->setContent(content(window_->frame().size, color_, opacity_));
  window_->orderFront();
  window_->setAlpha(1);
}

void HighlightOverlayWindow::hide() {
  if (window_->isVisible()) window_->orderOut();
  window_->setAlpha(0);
}

platform::DisplayList HighlightOverlayWindow::content(platform::Size size, Color color,
                                                      double opacity) {
  Color fill = color;
  fill.alpha *= opacity;
  // The display list strokes inside the edge, so the visible inner half of
  // the border is drawn directly.
  platform::DisplayList list;
  list.items.push_back({platform::Shape{.shape = {{{0, 0}, size}, 0},
                                        .fill = fill,
                                        .stroke = platform::Stroke{BORDER_WIDTH / 2, color}}});
  return list;
}

}  // namespace nolari::ambrel
