#include "ambrel/agent/FeedbackView.h"

#include <string>
#include <utility>

namespace nolari::ambrel {

using platform::Rect;

Rect FeedbackView::starFrame(int star) {
  const double total = STAR_COUNT * STAR_CELL + (STAR_COUNT - 1) * STAR_GAP;
  const double x0 = (SIZE.width - total) / 2;
  const double y = (SIZE.height - STAR_CELL) / 2;
  return {{x0 + (star - 1) * (STAR_CELL + STAR_GAP), y}, {STAR_CELL, STAR_CELL}};
}

int FeedbackView::starIndex(platform::Point point) {
  for (int star = 1; star <= STAR_COUNT; ++star) {
    const Rect cell = starFrame(star);
    if (point.x >= cell.minX() - HIT_OUTSET && point.x <= cell.maxX() + HIT_OUTSET &&
        point.y >= cell.minY() - HIT_OUTSET && point.y <= cell.maxY() + HIT_OUTSET) {
      return star;
    }
  }
  return 0;
}

void FeedbackView::reset() {
  litUpTo_ = 0;
  submitted_ = false;
}

bool FeedbackView::hover(int star) {
  if (submitted_ || star == litUpTo_) return false;
  litUpTo_ = star;
  return true;
}

bool FeedbackView::rate(int star) {
  if (submitted_ || star < 1 || star > STAR_COUNT) return false;
  submitted_ = true;
  litUpTo_ = star;
  return true;
}

platform::DisplayList FeedbackView::displayList(platform::TextMeasurer& measurer) const {
  platform::DisplayList list;
  platform::TextRun run{.text = STAR, .size = STAR_FONT_SIZE};
  const platform::Size glyph = measurer.measure(run, SIZE.width);
  run.width = glyph.width;
  for (int star = 1; star <= STAR_COUNT; ++star) {
    const Rect cell = starFrame(star);
    const platform::Point origin{cell.minX() + (cell.size.width - glyph.width) / 2,
                                 cell.minY() + (cell.size.height - glyph.height) / 2};
    // The list has no blurred text shadow: a dark copy a point lower keeps
    // the stars readable on a light field.
    run.color = SHADOW_COLOR;
    run.origin = {origin.x, origin.y + 1};
    list.items.push_back({run});
    run.color = star <= litUpTo_ ? LIT_COLOR : IDLE_COLOR;
    run.origin = origin;
    list.items.push_back({run});
  }
  for (int star = 1; star <= STAR_COUNT; ++star) {
    const Rect cell = starFrame(star);
    const Rect area{{cell.minX() - HIT_OUTSET, cell.minY() - HIT_OUTSET},
                    {cell.size.width + 2 * HIT_OUTSET, cell.size.height + 2 * HIT_OUTSET}};
    std::string action = "star-";
    action += std::to_string(star);
    // Assigned in place: GCC 12 at -O3 takes a braced item moved in here for
    // one read before it is written.
    list.items.emplace_back().content = platform::HitRegion{{area, 0}, std::move(action)};
  }
  return list;
}

}  // namespace nolari::ambrel
