#include "ambrel/agent/HoverHighlight.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/AXHelpers.h"
#include "core/CoordinateSpace.h"
#include "core/UnicodeText.h"

namespace nolari::ambrel {

using platform::Rect;

namespace HighlightPolicy {

bool shouldHighlight(const std::optional<std::string>& role,
                     const std::optional<std::string>& windowTitle,
                     const NolariConfig::Highlight& highlight) {
  if (!highlight.enabled || !role) return false;
  if (std::find(highlight.allowedRoles.begin(), highlight.allowedRoles.end(), *role) ==
      highlight.allowedRoles.end()) {
    return false;
  }
  if (highlight.allowedApps.empty()) return true;
  if (!windowTitle || windowTitle->empty()) return false;
  const std::string title = UnicodeText::lowercased(*windowTitle);
  return std::any_of(highlight.allowedApps.begin(), highlight.allowedApps.end(),
                     [&title](const std::string& app) {
                       return title.find(UnicodeText::lowercased(app)) != std::string::npos;
                     });
}

bool debugBoxVisible(const NolariConfig::Highlight& highlight, const char* environmentValue) {
  if (highlight.debugWindow.visible) return *highlight.debugWindow.visible;
  if (!environmentValue) return true;
  const std::string value = UnicodeText::lowercased(environmentValue);
  return value != "0" && value != "false" && value != "no" && value != "off";
}

}  // namespace HighlightPolicy

namespace AXHoverHitTest {

std::optional<platform::AXUIElement> elementAtScreenPoint(platform::Accessibility& ax,
                                                          const platform::AXUIElement& systemWide,
                                                          platform::Point point) {
  if (!std::isfinite(point.x) || !std::isfinite(point.y)) return std::nullopt;
  platform::AXUIElement found;
  if (ax.copyElementAtPosition(systemWide, static_cast<float>(point.x), static_cast<float>(point.y),
                               found) != platform::AXErrorCode::success ||
      !found) {
    return std::nullopt;
  }
  return found;
}

std::optional<std::string> windowTitle(platform::Accessibility& ax,
                                       const platform::AXUIElement& element) {
  auto window = AXHelpers::getElementAttribute(ax, element, "AXWindow");
  if (!window) return std::nullopt;
  return AXHelpers::getStringAttribute(ax, *window, "AXTitle");
}

}  // namespace AXHoverHitTest

namespace {

bool isSane(const Rect& rect) {
  const std::array values{rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
  return std::all_of(values.begin(), values.end(),
                     [](double v) { return std::isfinite(v) && std::fabs(v) <= MAX_COORDINATE; }) &&
         rect.size.width > 0 && rect.size.height > 0;
}

}  // namespace

std::optional<HoverRects> hoverRects(const std::vector<platform::Screen>& screens,
                                     const std::optional<platform::Screen>& mainScreen, Rect frame,
                                     double padding) {
  if (!isSane(frame)) return std::nullopt;
  const Rect windowRect = CoordinateSpace::cocoaWindowRectFromAXRect(screens, mainScreen, frame);
  const Rect padded{{windowRect.origin.x - padding, windowRect.origin.y - padding},
                    {windowRect.size.width + 2 * padding, windowRect.size.height + 2 * padding}};
  if (!isSane(windowRect) || !isSane(padded)) return std::nullopt;
  return HoverRects{frame, windowRect, padded};
}

std::optional<platform::Screen> screenHoldingCenter(const std::vector<platform::Screen>& screens,
                                                    Rect rect) {
  const platform::Point center{rect.origin.x + rect.size.width / 2,
                               rect.origin.y + rect.size.height / 2};
  for (const auto& screen : screens) {
    if (screen.frame.contains(center)) return screen;
  }
  return std::nullopt;
}

}  // namespace nolari::ambrel
