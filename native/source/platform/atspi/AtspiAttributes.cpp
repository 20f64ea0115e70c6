// Reading an element's attributes over the bus.

#include <atspi/atspi.h>

#include <string>

#include "platform/atspi/AtspiInternal.h"
#include "platform/atspi/AtspiMapping.h"
#include "platform/atspi/AtspiSession.h"

namespace nolari::platform::atspi {

namespace {

constexpr gint MAX_DOCUMENTS = 8;

// The object behind an element, as a new reference; the application element
// is looked up by its process. nullptr for the system-wide element.
Ref<AtspiAccessible> objectOf(const AtspiElementRef& ref, AXError& error) {
  error = AXErrorCode::success;
  if (ref.kind == Kind::object) return Ref<AtspiAccessible>(newRef(ref.object));
  if (ref.kind == Kind::application) {
    if (auto* app = AtspiSession::shared().applicationOf(ref.pid)) return Ref<AtspiAccessible>(app);
    error = AXErrorCode::invalidUIElement;
  } else {
    error = AXErrorCode::attributeUnsupported;
  }
  return nullptr;
}

}  // namespace

// The role every judgement about an object starts from (the library keeps it
// after the first request), and the states where the answer depends on them,
// each state set being one more request. An object the application has
// destroyed is gone.
AXError factsOf(AtspiAccessible* object, Facts& facts, bool withStates) {
  GError* error = nullptr;
  facts.role = atspi_accessible_get_role(object, &error);
  if (AXError code = take(error)) return code;
  if (!withStates) return AXErrorCode::success;
  facts.states.reset(atspi_accessible_get_state_set(object));
  if (facts.has(ATSPI_STATE_DEFUNCT)) return AXErrorCode::invalidUIElement;
  return AXErrorCode::success;
}

namespace {

Answer stringAnswer(gchar* raw, GError*& error) {
  Text text(raw);
  if (AXError code = take(error)) return failed(code);
  if (!text || !*text) return failed(AXErrorCode::noValue);
  return {AXErrorCode::success, std::string(text.get())};
}

Answer extentsOf(AtspiAccessible* object, bool position) {
  Ref<AtspiComponent> component(atspi_accessible_get_component_iface(object));
  if (!component) return failed(AXErrorCode::attributeUnsupported);
  GError* error = nullptr;
  std::unique_ptr<AtspiRect, Free> rect(
      atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, &error));
  if (AXError code = take(error)) return failed(code);
  if (!rect) return failed(AXErrorCode::noValue);
  if (position) return {AXErrorCode::success, Point{double(rect->x), double(rect->y)}};
  return {AXErrorCode::success, Size{double(rect->width), double(rect->height)}};
}

// The value of a control that is neither text nor a toggle: a slider's
// position, a progress bar's amount.
Answer numericValueOf(AtspiAccessible* object) {
  Ref<AtspiValue> value(atspi_accessible_get_value_iface(object));
  if (!value) return failed(AXErrorCode::attributeUnsupported);
  GError* error = nullptr;
  const gdouble current = atspi_value_get_current_value(value.get(), &error);
  if (AXError code = take(error)) return failed(code);
  return {AXErrorCode::success, double(current)};
}

}  // namespace

Answer valueOf(AtspiAccessible* object, const Facts& facts) {
  switch (facts.role) {
    // A password's characters never leave the application.
    case ATSPI_ROLE_PASSWORD_TEXT:
      return failed(AXErrorCode::noValue);
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
      return {AXErrorCode::success, facts.has(ATSPI_STATE_CHECKED) ? 1 : 0};
    default:
      break;
  }
  if (AtspiMapping::hasTextValue(facts.role, facts.roleStates())) {
    Answer text = textOf(object);
    if (text.error != AXErrorCode::attributeUnsupported) return text;
    GError* error = nullptr;
    return stringAnswer(atspi_accessible_get_name(object, &error), error);
  }
  return numericValueOf(object);
}

namespace {

Answer objectAttribute(AtspiAccessible* object, const std::string& name) {
  GError* error = nullptr;
  GHashTable* table = atspi_accessible_get_attributes(object, &error);
  if (AXError code = take(error)) {
    if (table) g_hash_table_unref(table);
    return failed(code);
  }
  if (!table) return failed(AXErrorCode::noValue);
  Answer answer = failed(AXErrorCode::noValue);
  if (const auto* value = static_cast<const gchar*>(g_hash_table_lookup(table, name.c_str()));
      value && *value) {
    answer = {AXErrorCode::success, std::string(value)};
  }
  g_hash_table_unref(table);
  return answer;
}

bool isWebDocument(AtspiRole role) {
  return role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_FRAME;
}

// A link's target, or the address of a web document. Browsers put the
// document interface on more than their pages (every field of a page, their
// own window with its internal address), so only a web document's address is
// a page's.
Answer urlOf(AtspiAccessible* object, const Facts& facts) {
  GError* error = nullptr;
  if (facts.role == ATSPI_ROLE_LINK) {
    Ref<AtspiHyperlink> link(atspi_accessible_get_hyperlink(object));
    if (!link) return failed(AXErrorCode::noValue);
    Text uri(atspi_hyperlink_get_uri(link.get(), 0, &error));
    if (AXError code = take(error)) return failed(code);
    if (!uri || !*uri) return failed(AXErrorCode::noValue);
    return {AXErrorCode::success, AXURL{uri.get()}};
  }
  if (!isWebDocument(facts.role)) return failed(AXErrorCode::attributeUnsupported);
  Ref<AtspiDocument> document(atspi_accessible_get_document_iface(object));
  if (!document) return failed(AXErrorCode::noValue);
  for (std::string key : {"DocURL", "URI"}) {
    Text value(atspi_document_get_document_attribute_value(document.get(), key.data(), &error));
    g_clear_error(&error);
    if (value && *value) return {AXErrorCode::success, AXURL{value.get()}};
  }
  return failed(AXErrorCode::noValue);
}

// What a window shows: the address of the page showing in it, the first
// showing web document in tree order (a page comes before the frames inside
// it). Browsers keep the documents of other tabs in the tree, hidden.
Answer documentOfWindow(AtspiAccessible* window) {
  AXError code = AXErrorCode::success;
  auto documents =
      matchesUnder(window, {ATSPI_STATE_SHOWING},
                   {ATSPI_ROLE_DOCUMENT_WEB, ATSPI_ROLE_DOCUMENT_FRAME}, MAX_DOCUMENTS, code);
  if (code == AXErrorCode::invalidUIElement) return failed(code);
  for (std::size_t i = 0; documents && i < documents->size(); ++i) {
    Facts facts;
    if (factsOf((*documents)[i].get(), facts, false)) continue;
    Answer url = urlOf((*documents)[i].get(), facts);
    if (!url.error) return url;
  }
  return failed(AXErrorCode::noValue);
}

Answer labelledBy(AtspiAccessible* object) {
  GError* error = nullptr;
  GArray* relations = atspi_accessible_get_relation_set(object, &error);
  if (AXError code = take(error)) {
    if (relations) g_array_free(relations, TRUE);
    return failed(code);
  }
  Answer answer = failed(AXErrorCode::noValue);
  for (guint i = 0; relations && i < relations->len; ++i) {
    auto* relation = g_array_index(relations, AtspiRelation*, i);
    if (answer.error != AXErrorCode::success &&
        atspi_relation_get_relation_type(relation) == ATSPI_RELATION_LABELLED_BY &&
        atspi_relation_get_n_targets(relation) > 0) {
      if (AtspiAccessible* label = atspi_relation_get_target(relation, 0)) {
        answer = {AXErrorCode::success, AtspiElementRef::adopt(label)};
      }
    }
    g_object_unref(relation);
  }
  if (relations) g_array_free(relations, TRUE);
  return answer;
}

Answer systemWideAttribute(const std::string& attribute,
                           const AtspiAccessibility::FrontmostProcess& frontmost) {
  if (attribute == "AXRole") return {AXErrorCode::success, "AXSystemWide"};
  if (attribute != "AXFocusedApplication" && attribute != "AXFocusedUIElement") {
    return failed(AXErrorCode::attributeUnsupported);
  }
  const std::int32_t pid = frontmostPid(frontmost);
  if (pid <= 0) return failed(AXErrorCode::noValue);
  Ref<AtspiAccessible> app(AtspiSession::shared().applicationOf(pid));
  if (!app) return failed(AXErrorCode::noValue);
  if (attribute == "AXFocusedApplication") {
    return {AXErrorCode::success, AtspiElementRef::application(pid)};
  }
  return focusedUnder(app.get());
}

}  // namespace

Answer readAttribute(const AtspiElementRef& ref, const std::string& attribute,
                     const AtspiAccessibility::FrontmostProcess& frontmost) {
  if (ref.kind == Kind::systemWide) return systemWideAttribute(attribute, frontmost);
  AXError error = AXErrorCode::success;
  Ref<AtspiAccessible> object = objectOf(ref, error);
  if (!object) return failed(error);
  Facts facts;
  const bool withStates =
      attribute == "AXRole" || attribute == "AXValue" || attribute == "AXFocused";
  if (AXError code = factsOf(object.get(), facts, withStates)) {
    if (ref.kind == Kind::application) AtspiSession::shared().forgetApplication(ref.pid);
    return failed(code);
  }
  GError* gerror = nullptr;
  AtspiAccessible* o = object.get();
  const bool application = facts.role == ATSPI_ROLE_APPLICATION;

  if (attribute == "AXRole") {
    return {AXErrorCode::success, AtspiMapping::axRole(facts.role, facts.roleStates())};
  }
  if (attribute == "AXRoleDescription") {
    return stringAnswer(atspi_accessible_get_localized_role_name(o, &gerror), gerror);
  }
  if (attribute == "AXTitle") return stringAnswer(atspi_accessible_get_name(o, &gerror), gerror);
  if (attribute == "AXDescription") {
    return stringAnswer(atspi_accessible_get_description(o, &gerror), gerror);
  }
  if (attribute == "AXPlaceholderValue") return objectAttribute(o, "placeholder-text");
  if (attribute == "AXValue") return valueOf(o, facts);
  if (attribute == "AXParent") return parentOf(o, facts);
  if (attribute == "AXChildren" || (application && attribute == "AXWindows")) {
    return childrenOf(o);
  }
  if (attribute == "AXFocused") return {AXErrorCode::success, facts.has(ATSPI_STATE_FOCUSED)};
  if (application) {
    if (attribute == "AXFocusedUIElement") return focusedUnder(o);
    if (attribute == "AXFocusedWindow") return windowOfApplication(o, true);
    if (attribute == "AXMainWindow") return windowOfApplication(o, false);
    return failed(AXErrorCode::attributeUnsupported);
  }
  if (attribute == "AXWindow") return windowOf(o);
  if (attribute == "AXPosition") return extentsOf(o, true);
  if (attribute == "AXSize") return extentsOf(o, false);
  if (attribute == "AXURL") return urlOf(o, facts);
  if (attribute == "AXDocument") {
    if (AtspiMapping::isWindowRole(facts.role)) return documentOfWindow(o);
    if (!isWebDocument(facts.role)) return failed(AXErrorCode::attributeUnsupported);
    return urlOf(o, facts);
  }
  if (attribute == "AXSelectedText") return selectedText(o, false);
  if (attribute == "AXSelectedTextRange") return selectedText(o, true);
  if (attribute == "AXTitleUIElement") return labelledBy(o);
  return failed(AXErrorCode::attributeUnsupported);
}

}  // namespace nolari::platform::atspi
