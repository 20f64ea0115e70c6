#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/Geometry.h"

// Typed reads of accessibility attributes through the given interface. Every
// failed read is an absent value; nothing is logged or thrown.

namespace nolari::AXHelpers {

using platform::Accessibility;
using platform::AXError;
using platform::AXUIElement;
using platform::AXValue;
using platform::Rect;

inline constexpr int MAX_AX_DEPTH = 5;
inline constexpr int MAX_AX_CHILDREN = 80;

std::optional<AXValue> getRawAttribute(Accessibility& ax, const AXUIElement& element,
                                       std::string_view attribute);
std::optional<std::string> getStringAttribute(Accessibility& ax, const AXUIElement& element,
                                              std::string_view attribute);
std::optional<AXUIElement> getElementAttribute(Accessibility& ax, const AXUIElement& element,
                                               std::string_view attribute);
std::optional<std::string> getURLAttribute(Accessibility& ax, const AXUIElement& element);
std::optional<bool> getBoolAttribute(Accessibility& ax, const AXUIElement& element,
                                     std::string_view attribute);
// Top-left screen coordinates; absent unless both sides are positive.
std::optional<Rect> getFrame(Accessibility& ax, const AXUIElement& element);
std::vector<AXUIElement> getChildren(Accessibility& ax, const AXUIElement& element,
                                     int limit = MAX_AX_CHILDREN);
bool isAttributeSettable(Accessibility& ax, const AXUIElement& element, std::string_view attribute);
AXError setAttributeValue(Accessibility& ax, const AXUIElement& element, std::string_view attribute,
                          const AXValue& value);
bool isElementFocused(Accessibility& ax, const AXUIElement& element);

// The string form of a value as getStringAttribute gives it (strings as they
// are, numbers and booleans in decimal, URLs absolute), for callers that
// already hold the raw value.
std::optional<std::string> stringFromValue(const AXValue& value);

}  // namespace nolari::AXHelpers
