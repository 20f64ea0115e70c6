#pragma once

#include <optional>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Workspace.h"

// Conversions between top-left ("carbon") and bottom-left ("cocoa") screen
// coordinates, against the top edge of the highest of `screens`. Callers pass
// the screens as they are now, since screens come and go; with none, the top
// of `mainScreen`, and with neither 0.

namespace nolari::CoordinateSpace {

platform::Point carbonScreenPointFromCocoaScreenPoint(
    const std::vector<platform::Screen>& screens, const std::optional<platform::Screen>& mainScreen,
    platform::Point point);
platform::Rect cocoaWindowRectFromAXRect(const std::vector<platform::Screen>& screens,
                                         const std::optional<platform::Screen>& mainScreen,
                                         platform::Rect rect);

}  // namespace nolari::CoordinateSpace
