#include "core/CoordinateSpace.h"

#include <algorithm>

namespace nolari::CoordinateSpace {

namespace {

double globalMaxY(const std::vector<platform::Screen>& screens,
                  const std::optional<platform::Screen>& mainScreen) {
  if (screens.empty()) return mainScreen ? mainScreen->frame.maxY() : 0;
  double top = screens.front().frame.maxY();
  for (const auto& screen : screens) top = std::max(top, screen.frame.maxY());
  return top;
}

}  // namespace

platform::Point carbonScreenPointFromCocoaScreenPoint(
    const std::vector<platform::Screen>& screens, const std::optional<platform::Screen>& mainScreen,
    platform::Point point) {
  return {point.x, globalMaxY(screens, mainScreen) - point.y};
}

platform::Rect cocoaWindowRectFromAXRect(const std::vector<platform::Screen>& screens,
                                         const std::optional<platform::Screen>& mainScreen,
                                         platform::Rect rect) {
  return {{rect.origin.x, globalMaxY(screens, mainScreen) - (rect.origin.y + rect.size.height)},
          rect.size};
}

}  // namespace nolari::CoordinateSpace
