#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/Accessibility.h"
#include "platform/Workspace.h"

// Which element has keyboard focus, and the title of the window around it.
// Reads only through AXHelpers and keeps nothing between calls.

namespace nolari::AXFocusResolver {

using platform::Accessibility;
using platform::AXUIElement;
using platform::Workspace;

// Roles that count as text input (exact, case-sensitive). Independent of the
// configuration's "allowed_roles", which happens to hold the same words.
const std::set<std::string, std::less<>>& textInputRoles();

// The element with keyboard focus anywhere on the system.
std::optional<AXUIElement> resolveFocusedElement(Accessibility& ax, Workspace& workspace);
// The focused element for an application element that a notice named,
// preferring that element itself when it is a focused text input.
std::optional<AXUIElement> resolveFocusedElement(Accessibility& ax, const AXUIElement& appElement,
                                                 std::int32_t pid);
bool isTextInputRole(std::string_view role);
// The title of the focused element's window, else of the application's focused
// window, else of its main window; "" when none has a non-empty title.
std::string resolveWindowTitle(Accessibility& ax, const AXUIElement& focused, std::int32_t pid);

}  // namespace nolari::AXFocusResolver
