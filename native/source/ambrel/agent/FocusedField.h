#pragma once

#include <optional>

#include "platform/Accessibility.h"
#include "platform/Geometry.h"
#include "platform/Workspace.h"

// The element that has the keyboard focus, asked of the system-wide element,
// and its frame on screen. Any thread: each read is a fresh accessibility
// request, bounded by the process-wide messaging time-out.

namespace nolari::ambrel {

class FocusedField {
 public:
  // `systemWide` is the process's system-wide element.
  FocusedField(platform::Accessibility& accessibility, platform::Workspace& workspace,
               platform::AXUIElement systemWide)
      : accessibility_(accessibility), workspace_(workspace), systemWide_(std::move(systemWide)) {}

  std::optional<platform::AXUIElement> element();
  // The focused element's frame, in bottom-left screen coordinates, not grown.
  std::optional<platform::Rect> frame();
  // A rectangle of the accessibility interface (top-left) in bottom-left
  // screen coordinates.
  platform::Rect toScreen(const platform::Rect& axRect);

 private:
  platform::Accessibility& accessibility_;
  platform::Workspace& workspace_;
  const platform::AXUIElement systemWide_;
};

}  // namespace nolari::ambrel
