#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Workspace.h"

// Where a floating panel goes: just below the caret of the field the user
// types in, above it when the screen has no room below, and centred above the
// idle action blob when neither caret nor field is known; always inside the
// visible frame of the screen holding its anchor. Also the text the panels
// log rectangles in.

namespace nolari::ambrel {

// The side of the anchor the panel was placed on.
enum class FlipDirection { above, below };

std::string_view flipName(FlipDirection flip);

struct PanelPlacement {
  platform::Rect frame{};
  FlipDirection flip = FlipDirection::below;
  friend bool operator==(const PanelPlacement&, const PanelPlacement&) = default;
};

// All rectangles in bottom-left screen coordinates. A caret or field whose
// width and height are both zero (or less) counts as unknown; without any
// screen the visible frame is taken as 1440 by 900 at the origin.
PanelPlacement computePanelFrame(const std::optional<platform::Rect>& caretRect,
                                 const platform::Rect& fieldRect, double panelWidth,
                                 double panelHeight, const std::vector<platform::Screen>& screens,
                                 const std::optional<platform::Screen>& mainScreen);

// "(10.0, 20.0, 300.0, 100.0)": each number the shortest decimal that reads
// back exactly, with at least one fractional digit.
std::string describeRect(const platform::Rect& rect);
// "Optional((10.0, 20.0, 300.0, 100.0))", or "nil" without a rectangle.
std::string describeRect(const std::optional<platform::Rect>& rect);

}  // namespace nolari::ambrel
