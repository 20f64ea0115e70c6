#pragma once

#include "platform/Geometry.h"

// Conversions between top-left ("carbon") and bottom-left ("cocoa") screen
// coordinates, against the top edge of the highest screen, read at each call.

namespace nolari::CoordinateSpace {

platform::Point carbonScreenPointFromCocoaScreenPoint(platform::Point point);
platform::Rect cocoaWindowRectFromAXRect(platform::Rect rect);

}  // namespace nolari::CoordinateSpace
