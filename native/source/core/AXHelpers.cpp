#include "core/AXHelpers.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace nolari::AXHelpers {

namespace {

// The platform's decimal rendering of a number: whole values without a
// fraction, others in the shortest form that reads back as the same number.
std::string decimalText(double number) {
  char buffer[512];
  const bool whole = std::isfinite(number) && number == std::trunc(number);
  auto result =
      whole ? std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed)
            : std::to_chars(buffer, buffer + sizeof buffer, number);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::optional<AXValue> getRawAttribute(Accessibility& ax, const AXUIElement& element,
                                       std::string_view attribute) {
  AXValue value;
  if (ax.copyAttributeValue(element, attribute, value) != platform::AXErrorCode::success) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> stringFromValue(const AXValue& value) {
  if (const auto* s = value.get<std::string>()) return *s;
  if (const auto* n = value.get<double>()) return decimalText(*n);
  if (const auto* b = value.get<bool>()) return std::string(*b ? "1" : "0");
  if (const auto* url = value.get<platform::AXURL>()) {
    if (url->absoluteString.empty()) return std::nullopt;
    return url->absoluteString;
  }
  return std::nullopt;
}

std::optional<std::string> getStringAttribute(Accessibility& ax, const AXUIElement& element,
                                              std::string_view attribute) {
  auto value = getRawAttribute(ax, element, attribute);
  if (!value) return std::nullopt;
  return stringFromValue(*value);
}

std::optional<AXUIElement> getElementAttribute(Accessibility& ax, const AXUIElement& element,
                                               std::string_view attribute) {
  auto value = getRawAttribute(ax, element, attribute);
  if (!value) return std::nullopt;
  const auto* found = value->get<AXUIElement>();
  if (!found || !*found) return std::nullopt;
  return *found;
}

std::optional<std::string> getURLAttribute(Accessibility& ax, const AXUIElement& element) {
  auto url = getStringAttribute(ax, element, "AXURL");
  if (!url || url->empty()) return std::nullopt;
  return url;
}

std::optional<bool> getBoolAttribute(Accessibility& ax, const AXUIElement& element,
                                     std::string_view attribute) {
  auto value = getRawAttribute(ax, element, attribute);
  if (!value) return std::nullopt;
  if (const auto* b = value->get<bool>()) return *b;
  if (const auto* n = value->get<double>()) return *n != 0;
  return std::nullopt;
}

std::optional<Rect> getFrame(Accessibility& ax, const AXUIElement& element) {
  auto position = getRawAttribute(ax, element, "AXPosition");
  if (!position) return std::nullopt;
  auto size = getRawAttribute(ax, element, "AXSize");
  if (!size) return std::nullopt;
  const auto* point = position->get<platform::Point>();
  const auto* extent = size->get<platform::Size>();
  if (!point || !extent || extent->width <= 0 || extent->height <= 0) return std::nullopt;
  return Rect{*point, *extent};
}

std::vector<AXUIElement> getChildren(Accessibility& ax, const AXUIElement& element, int limit) {
  std::vector<AXUIElement> children;
  if (limit <= 0) return children;
  auto value = getRawAttribute(ax, element, "AXChildren");
  if (!value) return children;
  const auto* items = value->get<platform::AXArray>();
  if (!items) return children;
  const std::size_t examined = std::min(items->size(), static_cast<std::size_t>(limit));
  for (std::size_t i = 0; i < examined; ++i) {
    const auto* child = (*items)[i].get<AXUIElement>();
    if (child && *child) children.push_back(*child);
  }
  return children;
}

bool isAttributeSettable(Accessibility& ax, const AXUIElement& element,
                         std::string_view attribute) {
  bool settable = false;
  if (ax.isAttributeSettable(element, attribute, settable) != platform::AXErrorCode::success) {
    return false;
  }
  return settable;
}

AXError setAttributeValue(Accessibility& ax, const AXUIElement& element, std::string_view attribute,
                          const AXValue& value) {
  return ax.setAttributeValue(element, attribute, value);
}

bool isElementFocused(Accessibility& ax, const AXUIElement& element) {
  return getBoolAttribute(ax, element, "AXFocused").value_or(false);
}

}  // namespace nolari::AXHelpers
