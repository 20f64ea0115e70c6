#include "core/AXTextCapture.h"

#include "core/AXFocusResolver.h"
#include "core/AXHelpers.h"

namespace nolari::AXTextCapture {

namespace {

std::optional<AXUIElement> target(Accessibility& ax, Workspace& workspace,
                                  const std::optional<AXUIElement>& element) {
  if (element && *element) return element;
  return AXFocusResolver::resolveFocusedElement(ax, workspace);
}

std::optional<std::string> capture(Accessibility& ax, Workspace& workspace,
                                   const std::optional<AXUIElement>& element,
                                   std::string_view attribute) {
  auto found = target(ax, workspace, element);
  if (!found) return std::nullopt;
  return AXHelpers::getStringAttribute(ax, *found, attribute);
}

}  // namespace

std::optional<std::string> captureSelectedText(Accessibility& ax, Workspace& workspace,
                                               const std::optional<AXUIElement>& element) {
  return capture(ax, workspace, element, "AXSelectedText");
}

std::optional<std::string> captureValue(Accessibility& ax, Workspace& workspace,
                                        const std::optional<AXUIElement>& element) {
  return capture(ax, workspace, element, "AXValue");
}

WriteResult writeValue(Accessibility& ax, Workspace& workspace, std::string_view text,
                       const std::optional<AXUIElement>& element) {
  auto found = target(ax, workspace, element);
  if (!found) return {false, "No focused element"};
  if (!AXHelpers::isAttributeSettable(ax, *found, "AXValue")) {
    return {false, "Focused element is not settable"};
  }
  const platform::AXError code =
      AXHelpers::setAttributeValue(ax, *found, "AXValue", platform::AXValue(std::string(text)));
  if (code == platform::AXErrorCode::success) return {true, std::nullopt};
  return {false, "Native set failed: " + std::to_string(code)};
}

}  // namespace nolari::AXTextCapture
