#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/NolariConfig.h"
#include "platform/Accessibility.h"
#include "platform/Geometry.h"
#include "platform/Workspace.h"

// Which element under the pointer earns the highlight box, and where the box
// goes. Stateless; the accessibility reads run on the mouse tap's thread,
// each bounded by the process-wide messaging time-out.

namespace nolari::ambrel {

namespace HighlightPolicy {

// Enabled, an allowed role (exact), and, when applications are listed, a
// window title that contains one of them, ignoring case.
bool shouldHighlight(const std::optional<std::string>& role,
                     const std::optional<std::string>& windowTitle,
                     const NolariConfig::Highlight& highlight);

// The configuration decides; without a setting, the environment's value
// (nullptr when unset): off only for "0", "false", "no" or "off" in any case.
bool debugBoxVisible(const NolariConfig::Highlight& highlight, const char* environmentValue);

inline constexpr const char* DEBUG_BOX_ENVIRONMENT = "NOLARI_HOVER_DEBUG_BOX_VISIBLE";

}  // namespace HighlightPolicy

namespace AXHoverHitTest {

// The deepest element at a top-left screen point, asked of the system-wide
// element; absent on any error.
std::optional<platform::AXUIElement> elementAtScreenPoint(platform::Accessibility& ax,
                                                          const platform::AXUIElement& systemWide,
                                                          platform::Point point);
std::optional<std::string> windowTitle(platform::Accessibility& ax,
                                       const platform::AXUIElement& element);

}  // namespace AXHoverHitTest

// A field's frame three ways: as the accessibility interface gives it
// (top-left), as a window rectangle (bottom-left), and that grown by the
// padding on every side.
struct HoverRects {
  platform::Rect frame;
  platform::Rect windowRect;
  platform::Rect paddedRect;
};

// Absent for a frame no window could take: a side not finite or not
// positive, or any value beyond `MAX_COORDINATE`, which no screen reaches and
// which would otherwise turn into a window of absurd size.
std::optional<HoverRects> hoverRects(const std::vector<platform::Screen>& screens,
                                     const std::optional<platform::Screen>& mainScreen,
                                     platform::Rect frame, double padding);
inline constexpr double MAX_COORDINATE = 1'000'000;

// The first screen, in the platform's order, that holds the rectangle's centre.
std::optional<platform::Screen> screenHoldingCenter(const std::vector<platform::Screen>& screens,
                                                    platform::Rect rect);

}  // namespace nolari::ambrel
