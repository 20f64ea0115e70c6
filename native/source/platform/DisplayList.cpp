#include "platform/DisplayList.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

namespace nolari::platform {

std::optional<SymbolName> symbolNamed(std::string_view name) {
  static constexpr std::pair<std::string_view, SymbolName> names[] = {
      {"checkmark", SymbolName::checkmark},
      {"xmark", SymbolName::xmark},
      {"arrow.counterclockwise", SymbolName::arrowCounterclockwise},
      {"doc.on.doc", SymbolName::docOnDoc},
      {"questionmark.circle", SymbolName::questionmarkCircle},
      {"gearshape", SymbolName::gearshape},
      {"return", SymbolName::returnKey},
  };
  for (const auto& [known, symbol] : names) {
    if (known == name) return symbol;
  }
  return std::nullopt;
}

bool contains(const RoundedRect& shape, Point point) {
  const Rect& r = shape.rect;
  if (!r.contains(point)) return false;
  const double radius =
      std::clamp(shape.cornerRadius, 0.0, std::min(r.size.width, r.size.height) / 2);
  // Outside a corner's circle only where the point is in that corner's square.
  const double cx = std::clamp(point.x, r.minX() + radius, r.maxX() - radius);
  const double cy = std::clamp(point.y, r.minY() + radius, r.maxY() - radius);
  return std::hypot(point.x - cx, point.y - cy) <= radius;
}

namespace {

std::optional<std::string> hitItems(const std::vector<Item>& items, Point point) {
  for (auto item = items.rbegin(); item != items.rend(); ++item) {
    if (const auto* region = std::get_if<HitRegion>(&item->content)) {
      if (contains(region->shape, point)) return region->action;
    } else if (const auto* group = std::get_if<Group>(&item->content)) {
      if (item->opacity <= 0 || group->scale == 0) continue;
      const Point inside{group->anchor.x + (point.x - group->anchor.x) / group->scale,
                         group->anchor.y + (point.y - group->anchor.y) / group->scale};
      if (group->clip && !contains(*group->clip, inside)) continue;
      if (auto action = hitItems(group->children, inside)) return action;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> hitTest(const DisplayList& list, Point point) {
  return hitItems(list.items, point);
}

}  // namespace nolari::platform
