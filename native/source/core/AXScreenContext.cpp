#include "core/AXScreenContext.h"

#include <deque>
#include <optional>
#include <set>
#include <vector>

#include "core/AXHelpers.h"
#include "core/UnicodeText.h"

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

std::string stringOr(Accessibility& ax, const AXUIElement& element, std::string_view attribute) {
  return AXHelpers::getStringAttribute(ax, element, attribute).value_or("");
}

// "AXTitle" when present (even empty), else "AXDescription", else nothing.
std::optional<std::string> titleOrDescription(Accessibility& ax, const AXUIElement& element) {
  if (auto title = AXHelpers::getStringAttribute(ax, element, "AXTitle")) return title;
  return AXHelpers::getStringAttribute(ax, element, "AXDescription");
}

struct ParentInfo {
  std::string role;
  std::string title;
};

ParentInfo resolveParent(Accessibility& ax, const AXUIElement& element) {
  auto parent = AXHelpers::getElementAttribute(ax, element, "AXParent");
  if (!parent) return {};
  return {stringOr(ax, *parent, "AXRole"), trim(titleOrDescription(ax, *parent).value_or(""))};
}

json buildBreadcrumbs(Accessibility& ax, const AXUIElement& element, const std::string& excluding) {
  json labels = json::array();
  std::set<std::string> seen;
  if (!excluding.empty()) seen.insert(excluding);
  auto ancestor = AXHelpers::getElementAttribute(ax, element, "AXParent");
  for (int visited = 0;
       ancestor && visited < MAX_BREADCRUMB_ANCESTORS && labels.size() < MAX_BREADCRUMBS;
       ++visited) {
    auto role = AXHelpers::getStringAttribute(ax, *ancestor, "AXRole");
    if (!role || !isLayoutRole(*role)) {
      std::string label = trim(titleOrDescription(ax, *ancestor).value_or(""));
      if (!label.empty() && seen.insert(label).second) labels.push_back(std::move(label));
    }
    ancestor = AXHelpers::getElementAttribute(ax, *ancestor, "AXParent");
  }
  return labels;
}

std::optional<AXUIElement> appFocusedWindow(Accessibility& ax, std::int32_t pid) {
  const AXUIElement app = ax.createApplication(pid);
  if (auto window = AXHelpers::getElementAttribute(ax, app, "AXFocusedWindow")) return window;
  return AXHelpers::getElementAttribute(ax, app, "AXMainWindow");
}

struct Queued {
  AXUIElement element;
  int level;
};

json gatherVisibleTexts(Accessibility& ax, const AXUIElement& window) {
  json texts = json::array();
  std::set<std::string> seen;
  std::deque<Queued> queue{{window, 0}};
  int taken = 0;
  while (!queue.empty() && texts.size() < MAX_VISIBLE_TEXTS && taken < MAX_TRAVERSAL_NODES) {
    Queued current = std::move(queue.front());
    queue.pop_front();
    ++taken;
    if (current.level > MAX_TRAVERSAL_DEPTH) continue;
    auto role = AXHelpers::getStringAttribute(ax, current.element, "AXRole");
    if (role == "AXStaticText" || role == "AXHeading") {
      auto text = AXHelpers::getStringAttribute(ax, current.element, "AXValue");
      if (!text) text = AXHelpers::getStringAttribute(ax, current.element, "AXTitle");
      std::string trimmed = trim(text.value_or(""));
      if (UnicodeText::characterCount(trimmed) >= 2 && seen.insert(trimmed).second) {
        texts.push_back(std::move(trimmed));
      }
    }
    for (auto& child : AXHelpers::getChildren(ax, current.element, AXHelpers::MAX_AX_CHILDREN)) {
      queue.push_back({std::move(child), current.level + 1});
    }
  }
  return texts;
}

std::optional<std::string> labelFromTitleElement(Accessibility& ax, const AXUIElement& element) {
  auto titleElement = AXHelpers::getElementAttribute(ax, element, "AXTitleUIElement");
  if (!titleElement) return std::nullopt;
  if (auto value = AXHelpers::getStringAttribute(ax, *titleElement, "AXValue")) return value;
  return AXHelpers::getStringAttribute(ax, *titleElement, "AXTitle");
}

json gatherComposeFields(Accessibility& ax, const AXUIElement& window,
                         const AXUIElement& skipElement) {
  json fields = json::object();
  std::deque<Queued> queue{{window, 0}};
  int taken = 0;
  while (!queue.empty() && taken < MAX_TRAVERSAL_NODES && fields.size() < COMPOSE_LABELS.size()) {
    Queued current = std::move(queue.front());
    queue.pop_front();
    ++taken;
    if (current.level > MAX_TRAVERSAL_DEPTH) break;
    if (current.element == skipElement) continue;
    auto role = AXHelpers::getStringAttribute(ax, current.element, "AXRole");
    if (role && composeFieldRoles().contains(*role)) {
      auto label = AXHelpers::getStringAttribute(ax, current.element, "AXTitle");
      if (!label) label = AXHelpers::getStringAttribute(ax, current.element, "AXDescription");
      if (!label) label = labelFromTitleElement(ax, current.element);
      const std::string key =
          UnicodeText::lowercased(UnicodeText::trimmingWhitespace(label.value_or("")));
      if (!key.empty()) {
        for (const auto& [name, prefix] : COMPOSE_LABELS) {
          if (fields.contains(name) || !key.starts_with(prefix)) continue;
          std::string value = trim(stringOr(ax, current.element, "AXValue"));
          if (!value.empty()) fields[std::string(name)] = std::move(value);
          break;
        }
      }
    }
    for (auto& child : AXHelpers::getChildren(ax, current.element, AXHelpers::MAX_AX_CHILDREN)) {
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

json build(Accessibility& ax, const AXUIElement& focused, std::int32_t pid) {
  json result = json::object();
  result["focused_value"] = trim(stringOr(ax, focused, "AXValue"));
  result["focused_label"] = trim(stringOr(ax, focused, "AXDescription"));
  result["focused_help"] = trim(stringOr(ax, focused, "AXHelp"));
  result["focused_placeholder"] = trim(stringOr(ax, focused, "AXPlaceholderValue"));
  result["focused_role_description"] = trim(stringOr(ax, focused, "AXRoleDescription"));

  const ParentInfo parent = resolveParent(ax, focused);
  result["focused_parent_role"] = parent.role;
  result["focused_parent_title"] = parent.title;

  result["breadcrumbs"] = buildBreadcrumbs(ax, focused, stringOr(ax, focused, "AXValue"));

  auto window = AXHelpers::getElementAttribute(ax, focused, "AXWindow");
  if (!window) window = appFocusedWindow(ax, pid);
  if (!window) {
    result["visible_texts"] = json::array();
    return result;
  }
  result["visible_texts"] = gatherVisibleTexts(ax, *window);
  const json composeFields = gatherComposeFields(ax, *window, focused);
  for (const auto& [key, value] : composeFields.items()) result[key] = value;
  if (auto document = AXHelpers::getStringAttribute(ax, *window, "AXDocument");
      document && !document->empty()) {
    result["document_url"] = *document;
  }
  return result;
}

}  // namespace nolari::AXScreenContext
