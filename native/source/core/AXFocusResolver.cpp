#include "core/AXFocusResolver.h"

#include "core/AXHelpers.h"
#include "platform/Platform.h"

namespace nolari::AXFocusResolver {

namespace {

platform::Accessibility& accessibility() { return *platform::currentPlatform().accessibility; }

std::optional<std::string> nonEmptyTitle(const std::optional<AXUIElement>& element) {
  if (!element) return std::nullopt;
  auto title = AXHelpers::getStringAttribute(*element, "AXTitle");
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

std::optional<AXUIElement> resolveFocusedElement() {
  const AXUIElement systemWide = accessibility().createSystemWide();
  if (auto focused = AXHelpers::getElementAttribute(systemWide, "AXFocusedUIElement")) {
    return focused;
  }
  auto front = platform::currentPlatform().workspace->frontmostApplication();
  if (!front) return std::nullopt;
  const AXUIElement app = accessibility().createApplication(front->pid);
  return AXHelpers::getElementAttribute(app, "AXFocusedUIElement");
}

std::optional<AXUIElement> resolveFocusedElement(const AXUIElement& appElement, std::int32_t) {
  auto role = AXHelpers::getStringAttribute(appElement, "AXRole");
  if (role && isTextInputRole(*role) && AXHelpers::isElementFocused(appElement)) {
    return appElement;
  }
  const AXUIElement systemWide = accessibility().createSystemWide();
  if (auto focused = AXHelpers::getElementAttribute(systemWide, "AXFocusedUIElement")) {
    return focused;
  }
  return AXHelpers::getElementAttribute(appElement, "AXFocusedUIElement");
}

std::string resolveWindowTitle(const AXUIElement& focused, std::int32_t pid) {
  if (auto title = nonEmptyTitle(AXHelpers::getElementAttribute(focused, "AXWindow"))) {
    return *title;
  }
  const AXUIElement app = accessibility().createApplication(pid);
  if (auto title = nonEmptyTitle(AXHelpers::getElementAttribute(app, "AXFocusedWindow"))) {
    return *title;
  }
  if (auto title = nonEmptyTitle(AXHelpers::getElementAttribute(app, "AXMainWindow"))) {
    return *title;
  }
  return "";
}

}  // namespace nolari::AXFocusResolver
