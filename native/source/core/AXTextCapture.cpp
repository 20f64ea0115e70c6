#include "core/AXTextCapture.h"

#include "core/AXFocusResolver.h"
#include "core/AXHelpers.h"

namespace nolari::AXTextCapture {

namespace {

std::optional<AXUIElement> target(const std::optional<AXUIElement>& element) {
  if (element && *element) return element;
  return AXFocusResolver::resolveFocusedElement();
}

std::optional<std::string> capture(const std::optional<AXUIElement>& element,
                                   std::string_view attribute) {
  auto found = target(element);
  if (!found) return std::nullopt;
  return AXHelpers::getStringAttribute(*found, attribute);
}

}  // namespace

std::optional<std::string> captureSelectedText(const std::optional<AXUIElement>& element) {
  return capture(element, "AXSelectedText");
}

std::optional<std::string> captureValue(const std::optional<AXUIElement>& element) {
  return capture(element, "AXValue");
}

WriteResult writeValue(std::string_view text, const std::optional<AXUIElement>& element) {
  auto found = target(element);
  if (!found) return {false, "No focused element"};
  if (!AXHelpers::isAttributeSettable(*found, "AXValue")) {
    return {false, "Focused element is not settable"};
  }
  const platform::AXError code =
      AXHelpers::setAttributeValue(*found, "AXValue", platform::AXValue(std::string(text)));
  if (code == platform::AXErrorCode::success) return {true, std::nullopt};
  return {false, "Native set failed: " + std::to_string(code)};
}

}  // namespace nolari::AXTextCapture
