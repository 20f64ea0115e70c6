#include "ambrel/agent/FocusedField.h"

#include "core/AXHelpers.h"
#include "core/CoordinateSpace.h"

namespace nolari::ambrel {

std::optional<platform::AXUIElement> FocusedField::element() {
  return AXHelpers::getElementAttribute(accessibility_, systemWide_, "AXFocusedUIElement");
}

std::optional<platform::Rect> FocusedField::frame() {
  auto focused = element();
  if (!focused) return std::nullopt;
  auto rect = AXHelpers::getFrame(accessibility_, *focused);
  if (!rect || !rect->isFinite()) return std::nullopt;
  return toScreen(*rect);
}

platform::Rect FocusedField::toScreen(const platform::Rect& axRect) {
  return CoordinateSpace::cocoaWindowRectFromAXRect(workspace_.screens(), workspace_.mainScreen(),
                                                    axRect);
}

}  // namespace nolari::ambrel
