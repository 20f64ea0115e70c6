#include "core/AXBrowserDetector.h"

#include "core/UnicodeText.h"

namespace nolari::AXBrowserDetector {

namespace {

std::optional<PageMetadata> metadataFromElement(Accessibility& ax, const AXUIElement& element) {
  if (auto url = AXHelpers::getURLAttribute(ax, element)) {
    return PageMetadata{AXHelpers::getStringAttribute(ax, element, "AXTitle").value_or(""), *url};
  }
  if (auto webArea = findWebArea(ax, element, 0, AXHelpers::MAX_AX_DEPTH)) {
    if (auto url = AXHelpers::getURLAttribute(ax, *webArea)) {
      return PageMetadata{AXHelpers::getStringAttribute(ax, *webArea, "AXTitle").value_or(""),
                          *url};
    }
  }
  return std::nullopt;
}

}  // namespace

bool isBrowser(std::string_view appName, std::string_view bundleId) {
  const std::string name = UnicodeText::lowercased(appName);
  const std::string bundle = UnicodeText::lowercased(bundleId);
  for (auto prefix : browserBundlePrefixes) {
    if (bundle.starts_with(UnicodeText::lowercased(prefix))) return true;
  }
  for (auto hint : browserNameHints) {
    if (name.find(hint) != std::string::npos || bundle.find(hint) != std::string::npos) {
      return true;
    }
  }
  return false;
}

PageMetadata resolveMetadata(Accessibility& ax, std::string_view appName, std::string_view bundleId,
                             const AXUIElement& focused, std::int32_t pid) {
  if (!isBrowser(appName, bundleId)) return {};
  if (auto found = metadataFromElement(ax, focused)) return *found;
  if (auto window = AXHelpers::getElementAttribute(ax, focused, "AXWindow")) {
    if (auto found = metadataFromElement(ax, *window)) return *found;
  }
  const AXUIElement app = ax.createApplication(pid);
  for (const char* attribute : {"AXFocusedWindow", "AXMainWindow"}) {
    if (auto window = AXHelpers::getElementAttribute(ax, app, attribute)) {
      if (auto found = metadataFromElement(ax, *window)) return *found;
    }
  }
  return {};
}

std::optional<AXUIElement> findWebArea(Accessibility& ax, const AXUIElement& start, int depth,
                                       int maxDepth) {
  if (depth > maxDepth) return std::nullopt;
  if (AXHelpers::getStringAttribute(ax, start, "AXRole") == "AXWebArea") return start;
  for (const auto& child : AXHelpers::getChildren(ax, start, AXHelpers::MAX_AX_CHILDREN)) {
    if (auto found = findWebArea(ax, child, depth + 1, maxDepth)) return found;
  }
  return std::nullopt;
}

}  // namespace nolari::AXBrowserDetector
