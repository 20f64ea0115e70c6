#include "core/AXScreenContext.h"

#include <deque>
#include <optional>
#include <set>
#include <vector>

#include "core/AXHelpers.h"
#include "core/UnicodeText.h"
#include "platform/Platform.h"

namespace nolari::AXScreenContext {

namespace {

using nlohmann::json;

const std::set<std::string, std::less<>>& composeFieldRoles() {
  static const std::set<std::string, std::less<>> roles = {
      "AXTextField",   "AXTextArea",  "AXComboBox", "AXTokenField",
      "AXSearchField", "AXTextEntry", "AXTextEdit"};
  return roles;
}

// Ancestors that only arrange their children and carry no label of their own.
bool isLayoutRole(std::string_view role) {
  return role == "AXGroup" || role == "AXScrollArea" || role == "AXSplitGroup";
}

std::string stringOr(const AXUIElement& element, std::string_view attribute) {
  return AXHelpers::getStringAttribute(element, attribute).value_or("");
}

// "AXTitle" when present (even empty), else "AXDescription", else nothing.
std::optional<std::string> titleOrDescription(const AXUIElement& element) {
  if (auto title = AXHelpers::getStringAttribute(element, "AXTitle")) return title;
  return AXHelpers::getStringAttribute(element, "AXDescription");
}

struct ParentInfo {
  std::string role;
  std::string title;
};

ParentInfo resolveParent(const AXUIElement& element) {
  auto parent = AXHelpers::getElementAttribute(element, "AXParent");
  if (!parent) return {};
  return {stringOr(*parent, "AXRole"), trim(titleOrDescription(*parent).value_or(""))};
}

json buildBreadcrumbs(const AXUIElement& element, const std::string& excluding) {
  json labels = json::array();
  std::set<std::string> seen;
  if (!excluding.empty()) seen.insert(excluding);
  auto ancestor = AXHelpers::getElementAttribute(element, "AXParent");
  for (int visited = 0;
       ancestor && visited < MAX_BREADCRUMB_ANCESTORS && labels.size() < MAX_BREADCRUMBS;
       ++visited) {
    auto role = AXHelpers::getStringAttribute(*ancestor, "AXRole");
    if (!role || !isLayoutRole(*role)) {
      std::string label = trim(titleOrDescription(*ancestor).value_or(""));
      if (!label.empty() && seen.insert(label).second) labels.push_back(std::move(label));
    }
    ancestor = AXHelpers::getElementAttribute(*ancestor, "AXParent");
  }
  return labels;
}

std::optional<AXUIElement> appFocusedWindow(std::int32_t pid) {
  const AXUIElement app = platform::currentPlatform().accessibility->createApplication(pid);
  if (auto window = AXHelpers::getElementAttribute(app, "AXFocusedWindow")) return window;
  return AXHelpers::getElementAttribute(app, "AXMainWindow");
}

struct Queued {
  AXUIElement element;
  int level;
};

json gatherVisibleTexts(const AXUIElement& window) {
  json texts = json::array();
  std::set<std::string> seen;
  std::deque<Queued> queue{{window, 0}};
  int taken = 0;
  while (!queue.empty() && texts.size() < MAX_VISIBLE_TEXTS && taken < MAX_TRAVERSAL_NODES) {
    Queued current = std::move(queue.front());
    queue.pop_front();
    ++taken;
    if (current.level > MAX_TRAVERSAL_DEPTH) continue;
    auto role = AXHelpers::getStringAttribute(current.element, "AXRole");
    if (role == "AXStaticText" || role == "AXHeading") {
      auto text = AXHelpers::getStringAttribute(current.element, "AXValue");
      if (!text) text = AXHelpers::getStringAttribute(current.element, "AXTitle");
      std::string trimmed = trim(text.value_or(""));
      if (UnicodeText::characterCount(trimmed) >= 2 && seen.insert(trimmed).second) {
        texts.push_back(std::move(trimmed));
      }
    }
    for (auto& child : AXHelpers::getChildren(current.element, AXHelpers::MAX_AX_CHILDREN)) {
      queue.push_back({std::move(child), current.level + 1});
    }
  }
  return texts;
}

std::optional<std::string> labelFromTitleElement(const AXUIElement& element) {
  auto titleElement = AXHelpers::getElementAttribute(element, "AXTitleUIElement");
  if (!titleElement) return std::nullopt;
  if (auto value = AXHelpers::getStringAttribute(*titleElement, "AXValue")) return value;
  return AXHelpers::getStringAttribute(*titleElement, "AXTitle");
}

json gatherComposeFields(const AXUIElement& window, const AXUIElement& skipElement) {
  json fields = json::object();
  std::deque<Queued> queue{{window, 0}};
  int taken = 0;
  while (!queue.empty() && taken < MAX_TRAVERSAL_NODES && fields.size() < COMPOSE_LABELS.size()) {
    Queued current = std::move(queue.front());
    queue.pop_front();
    ++taken;
    if (current.level > MAX_TRAVERSAL_DEPTH) break;
    if (current.element == skipElement) continue;
    auto role = AXHelpers::getStringAttribute(current.element, "AXRole");
    if (role && composeFieldRoles().contains(*role)) {
      auto label = AXHelpers::getStringAttribute(current.element, "AXTitle");
      if (!label) label = AXHelpers::getStringAttribute(current.element, "AXDescription");
      if (!label) label = labelFromTitleElement(current.element);
      const std::string key =
          UnicodeText::lowercased(UnicodeText::trimmingWhitespace(label.value_or("")));
      if (!key.empty()) {
        for (const auto& [name, prefix] : COMPOSE_LABELS) {
          if (fields.contains(name) || !key.starts_with(prefix)) continue;
          std::string value = trim(stringOr(current.element, "AXValue"));
          if (!value.empty()) fields[std::string(name)] = std::move(value);
          break;
        }
      }
    }
    for (auto& child : AXHelpers::getChildren(current.element, AXHelpers::MAX_AX_CHILDREN)) {
      queue.push_back({std::move(child), current.level + 1});
    }
  }
  return fields;
}

}  // namespace

std::string trim(std::string_view text) {
  std::string trimmed = UnicodeText::trimmingWhitespace(text);
  if (UnicodeText::characterCount(trimmed) <= MAX_TEXT_LEN) return trimmed;
  return UnicodeText::characterPrefix(trimmed, MAX_TEXT_LEN) + "\u2026";
}

json build(const AXUIElement& focused, std::int32_t pid) {
  json result = json::object();
  result["focused_value"] = trim(stringOr(focused, "AXValue"));
  result["focused_label"] = trim(stringOr(focused, "AXDescription"));
  result["focused_help"] = trim(stringOr(focused, "AXHelp"));
  result["focused_placeholder"] = trim(stringOr(focused, "AXPlaceholderValue"));
  result["focused_role_description"] = trim(stringOr(focused, "AXRoleDescription"));

  const ParentInfo parent = resolveParent(focused);
  result["focused_parent_role"] = parent.role;
  result["focused_parent_title"] = parent.title;

  result["breadcrumbs"] = buildBreadcrumbs(focused, stringOr(focused, "AXValue"));

  auto window = AXHelpers::getElementAttribute(focused, "AXWindow");
  if (!window) window = appFocusedWindow(pid);
  if (!window) {
    result["visible_texts"] = json::array();
    return result;
  }
  result["visible_texts"] = gatherVisibleTexts(*window);
  const json composeFields = gatherComposeFields(*window, focused);
  for (const auto& [key, value] : composeFields.items()) result[key] = value;
  if (auto document = AXHelpers::getStringAttribute(*window, "AXDocument");
      document && !document->empty()) {
    result["document_url"] = *document;
  }
  return result;
}

}  // namespace nolari::AXScreenContext
