#include "core/CoordinateSpace.h"

#include <algorithm>

#include "platform/Platform.h"

namespace nolari::CoordinateSpace {

namespace {

// The top edge of the highest screen, read afresh because screens come and go.
double globalMaxY() {
  auto& workspace = *platform::currentPlatform().workspace;
  const auto screens = workspace.screens();
  if (screens.empty()) {
    auto main = workspace.mainScreen();
    return main ? main->frame.maxY() : 0;
  }
  double top = screens.front().frame.maxY();
  for (const auto& screen : screens) top = std::max(top, screen.frame.maxY());
  return top;
}

}  // namespace

platform::Point carbonScreenPointFromCocoaScreenPoint(platform::Point point) {
  return {point.x, globalMaxY() - point.y};
}

platform::Rect cocoaWindowRectFromAXRect(platform::Rect rect) {
  return {{rect.origin.x, globalMaxY() - (rect.origin.y + rect.size.height)}, rect.size};
}

}  // namespace nolari::CoordinateSpace
