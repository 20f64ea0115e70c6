#include "ambrel/agent/HighlightOverlayWindow.h"

#include <algorithm>
#include <cmath>

#include "core/ColorParser.h"

namespace nolari::ambrel {

using platform::Color;
using platform::Rect;
using platform::Size;

HighlightOverlayWindow::HighlightOverlayWindow(platform::Windowing& windowing)
    : windowing_(windowing),
      window_(windowing.createWindow({.frame = {{-100, -100}, {1, 1}},
                                      .level = platform::WindowLevel::statusBar,
                                      .ignoresPointer = true,
                                      .name = "highlight-box"},
                                     [](const platform::PointerEvent&) {})),
      color_(SYSTEM_BLUE),
      outlineOnly_(!windowing.blendsTranslucency()) {
  window_->setIgnoresPointer(true);
  window_->orderOut();
  window_->setAlpha(0);
  translucencyObserver_ = windowing_.addTranslucencyObserver([this] {
    const bool outlineOnly = !windowing_.blendsTranslucency();
    if (outlineOnly == outlineOnly_) return;
    outlineOnly_ = outlineOnly;
    if (window_->isVisible()) draw();
  });
}

HighlightOverlayWindow::~HighlightOverlayWindow() {
  windowing_.removeObserver(translucencyObserver_);
}

void HighlightOverlayWindow::applyStyle(Color color, double opacity) {
  color_ = color;
  opacity_ = std::isfinite(opacity) ? std::clamp(opacity, 0.0, 1.0) : DEFAULT_OPACITY;
}

void HighlightOverlayWindow::show(Rect windowRect) {
  window_->setFrame(windowRect);
  draw();
  window_->orderFront();
  window_->setAlpha(1);
}

void HighlightOverlayWindow::hide() {
  if (window_->isVisible()) window_->orderOut();
  window_->setAlpha(0);
}

void HighlightOverlayWindow::draw() {
  const Size size = window_->frame().size;
  window_->setShape(outlineOnly_ ? outlineShape(size) : std::vector<Rect>{});
  window_->setContent(content(size, color_, opacity_, outlineOnly_));
}

platform::DisplayList HighlightOverlayWindow::content(Size size, Color color, double opacity,
                                                      bool outlineOnly) {
  Color fill = color;
  fill.alpha = outlineOnly ? 0 : fill.alpha * opacity;
  // The display list strokes inside the edge, so the visible inner half of
  // the border is drawn directly; an outline alone is drawn at full width,
  // to be seen without the tint.
  const double border = outlineOnly ? BORDER_WIDTH : BORDER_WIDTH / 2;
  platform::DisplayList list;
  list.items.push_back({platform::Shape{
      .shape = {{{0, 0}, size}, 0}, .fill = fill, .stroke = platform::Stroke{border, color}}});
  return list;
}

std::vector<Rect> HighlightOverlayWindow::outlineShape(Size size) {
  const double side = std::min({BORDER_WIDTH, size.width / 2, size.height / 2});
  const double inner = size.height - 2 * side;
  return {{{0, 0}, {size.width, side}},
          {{0, size.height - side}, {size.width, side}},
          {{0, side}, {side, inner}},
          {{size.width - side, side}, {side, inner}}};
}

}  // namespace nolari::ambrel
