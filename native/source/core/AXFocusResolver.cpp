#include "core/AXFocusResolver.h"

#include "core/AXHelpers.h"

namespace nolari::AXFocusResolver {

namespace {

std::optional<std::string> nonEmptyTitle(Accessibility& ax,
                                         const std::optional<AXUIElement>& element) {
  if (!element) return std::nullopt;
  auto title = AXHelpers::getStringAttribute(ax, *element, "AXTitle");
  if (!title || title->empty()) return std::nullopt;
  return title;
}

}  // namespace

const std::set<std::string, std::less<>>& textInputRoles() {
  static const std::set<std::string, std::less<>> roles = {
      "AXTextField", "AXTextArea", "AXComboBox", "AXSearchField",
      "AXTextEntry", "AXTextEdit", "AXText",     "AXTextView"};
  return roles;
}

bool isTextInputRole(std::string_view role) { return textInputRoles().contains(role); }

std::optional<AXUIElement> resolveFocusedElement(Accessibility& ax, Workspace& workspace) {
  const AXUIElement systemWide = ax.createSystemWide();
  if (auto focused = AXHelpers::getElementAttribute(ax, systemWide, "AXFocusedUIElement")) {
    return focused;
  }
  auto front = workspace.frontmostApplication();
  if (!front) return std::nullopt;
  const AXUIElement app = ax.createApplication(front->pid);
  return AXHelpers::getElementAttribute(ax, app, "AXFocusedUIElement");
}

std::optional<AXUIElement> resolveFocusedElement(Accessibility& ax, const AXUIElement& appElement,
                                                 std::int32_t) {
  auto role = AXHelpers::getStringAttribute(ax, appElement, "AXRole");
  if (role && isTextInputRole(*role) && AXHelpers::isElementFocused(ax, appElement)) {
    return appElement;
  }
  const AXUIElement systemWide = ax.createSystemWide();
  if (auto focused = AXHelpers::getElementAttribute(ax, systemWide, "AXFocusedUIElement")) {
    return focused;
  }
  return AXHelpers::getElementAttribute(ax, appElement, "AXFocusedUIElement");
}

std::string resolveWindowTitle(Accessibility& ax, const AXUIElement& focused, std::int32_t pid) {
  if (auto title = nonEmptyTitle(ax, AXHelpers::getElementAttribute(ax, focused, "AXWindow"))) {
    return *title;
  }
  const AXUIElement app = ax.createApplication(pid);
  if (auto title = nonEmptyTitle(ax, AXHelpers::getElementAttribute(ax, app, "AXFocusedWindow"))) {
    return *title;
  }
  if (auto title = nonEmptyTitle(ax, AXHelpers::getElementAttribute(ax, app, "AXMainWindow"))) {
    return *title;
  }
  return "";
}

}  // namespace nolari::AXFocusResolver
