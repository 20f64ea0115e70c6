#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Accessibility.h"
#include "platform/Workspace.h"

// Reads the selection or the value of a text field and replaces its value,
// through the accessibility interface only: no clipboard, no synthetic keys.
// Without a given element each operation targets the focused one.

namespace nolari::AXTextCapture {

using platform::Accessibility;
using platform::AXUIElement;
using platform::Workspace;

struct WriteResult {
  bool success = false;
  std::optional<std::string> error;
  friend bool operator==(const WriteResult&, const WriteResult&) = default;
};

// Nothing without a target or when the attribute is missing; "" for an empty selection.
std::optional<std::string> captureSelectedText(Accessibility& ax, Workspace& workspace,
                                               const std::optional<AXUIElement>& element);
std::optional<std::string> captureValue(Accessibility& ax, Workspace& workspace,
                                        const std::optional<AXUIElement>& element);
// Replaces the whole value, once, without retry. Errors: "No focused element",
// "Focused element is not settable", "Native set failed: <code>".
WriteResult writeValue(Accessibility& ax, Workspace& workspace, std::string_view text,
                       const std::optional<AXUIElement>& element);

}  // namespace nolari::AXTextCapture
