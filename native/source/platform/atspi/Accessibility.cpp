#include "platform/atspi/Accessibility.h"

#include <atspi/atspi.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <deque>
#include <limits>
#include <string>
#include <thread>
#include <utility>

#include "platform/Notices.h"
#include "platform/RunLoop.h"
#include "platform/atspi/AtspiMapping.h"
#include "platform/atspi/AtspiRef.h"
#include "platform/atspi/AtspiRichText.h"
#include "platform/atspi/AtspiSession.h"

namespace nolari::platform {

namespace {

using Kind = AtspiElementRef::Kind;

constexpr const char* FOCUS_CHANGED = "AXFocusedUIElementChanged";
// Bounds on what one request reads from another application.
constexpr gint MAX_CHILDREN_READ = 1000;
constexpr gint MAX_TEXT_CHARS = 1 << 20;
constexpr int MAX_PARENT_STEPS = 64;
constexpr int MAX_HIT_DEPTH = 64;
constexpr std::size_t MAX_FOCUS_SEARCH = 2000;
// How long an observed application that is not on the bus yet is waited for,
// asking again after 25, 50, 100… ms.
constexpr std::chrono::milliseconds NEW_APPLICATION_WAIT{2000};
constexpr std::chrono::milliseconds NEW_APPLICATION_FIRST_WAIT{25};
constexpr std::size_t MAX_BOUNDS_RUNS = 64;
constexpr gint MAX_FOCUS_MATCHES = 16;
constexpr gint MAX_DOCUMENTS = 8;

struct Answer {
  AXError error = AXErrorCode::success;
  AXValue value;
};

Answer failed(AXError error) { return {error, {}}; }

template <class T>
using Ref = AtspiRef<T>;
using Free = AtspiFree;
using Text = AtspiString;

// Reads the error a call left and clears it; success when there was none.
AXError take(GError*& error) {
  if (!error) return AXErrorCode::success;
  AXError code = AtspiMapping::errorFromMessage(error->message ? error->message : "");
  g_clear_error(&error);
  return code;
}

AtspiAccessible* newRef(AtspiAccessible* object) {
  return static_cast<AtspiAccessible*>(g_object_ref(object));
}

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

struct Facts {
  AtspiRole role = ATSPI_ROLE_INVALID;
  Ref<AtspiStateSet> states;
  bool has(AtspiStateType state) const {
    return states && atspi_state_set_contains(states.get(), state);
  }
  AtspiMapping::RoleStates roleStates() const {
    return {has(ATSPI_STATE_MULTI_LINE), has(ATSPI_STATE_EDITABLE)};
  }
};

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

Answer stringAnswer(gchar* raw, GError*& error) {
  Text text(raw);
  if (AXError code = take(error)) return failed(code);
  if (!text || !*text) return failed(AXErrorCode::noValue);
  return {AXErrorCode::success, std::string(text.get())};
}

// Some toolkits count a character beyond the basic plane twice, as UTF-16
// does, and fill its second place with U+FEFF to keep offsets in step; the
// filler is no part of the text.
std::string withoutFillers(const gchar* text) {
  std::string out;
  gunichar previous = 0;
  for (const gchar* p = text; *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (!(c == 0xFEFF && previous > 0xFFFF))
      out.append(p, static_cast<std::size_t>(g_utf8_next_char(p) - p));
    previous = c;
  }
  return out;
}

// The object's own text as the bus gives it, fillers included: what its
// offsets count in.
AXError rawText(AtspiText* text, Text& out) {
  GError* error = nullptr;
  const gint count = atspi_text_get_character_count(text, &error);
  if (AXError code = take(error)) return code;
  out.reset(atspi_text_get_text(text, 0, std::min(count, MAX_TEXT_CHARS), &error));
  return take(error);
}

AXError busText(AtspiText* text, std::u32string& out) {
  Text contents;
  if (AXError code = rawText(text, contents)) return code;
  out = contents ? AtspiRichText::fromUtf8(contents.get()) : std::u32string();
  return AXErrorCode::success;
}

// The object's own text, U+FFFC standing for each embedded object.
AXError ownText(AtspiText* text, std::string& out) {
  Text contents;
  if (AXError code = rawText(text, contents)) return code;
  out = contents ? withoutFillers(contents.get()) : std::string();
  return AXErrorCode::success;
}

// The interface's ranges count UTF-16 code units of the value, as the
// platform it follows does; the bus counts characters, and a toolkit that
// keeps UTF-16 counts puts a filler after each character beyond the basic
// plane, which the value leaves out. These convert between the two over the
// text the bus offsets count in. `fillers` says whether that text may hold
// fillers (an object's own text) or not (a rich editor's flattened text).
bool isFiller(const std::u32string& text, std::size_t i, bool fillers) {
  return fillers && i > 0 && text[i] == 0xFEFF && text[i - 1] > 0xFFFF;
}

long utf16Units(char32_t c) { return c > 0xFFFF ? 2 : 1; }

long utf16FromBus(const std::u32string& text, long offset, bool fillers) {
  long units = 0;
  const auto end = std::min(static_cast<std::size_t>(std::max(offset, 0L)), text.size());
  for (std::size_t i = 0; i < end; ++i) {
    if (!isFiller(text, i, fillers)) units += utf16Units(text[i]);
  }
  return units + std::max(0L, offset - static_cast<long>(end));
}

// A unit offset inside a character of two units stands before it when it
// starts a range and after it when it ends one, so the range holds the whole
// character. Offsets beyond the text stay beyond it by as much.
long busFromUtf16(const std::u32string& text, long units, bool roundUp, bool fillers) {
  long counted = 0;
  std::size_t i = 0;
  while (i < text.size() && counted < units) {
    const long width = isFiller(text, i, fillers) ? 0 : utf16Units(text[i]);
    if (counted + width > units && !roundUp) break;
    counted += width;
    ++i;
    while (i < text.size() && isFiller(text, i, fillers)) ++i;
  }
  const long beyond = std::min(units - counted, static_cast<long>(G_MAXINT));
  return std::min(static_cast<long>(i) + std::max(beyond, 0L), static_cast<long>(G_MAXINT));
}

TextRange utf16Range(const std::u32string& text, long start, long end, bool fillers) {
  const long location = utf16FromBus(text, start, fillers);
  return {location, utf16FromBus(text, end, fillers) - location};
}

bool hasEmbedded(const std::string& text) { return text.find("\uFFFC") != std::string::npos; }

// A rich editor's text: its embedded objects flattened into the text they
// stand for.
Answer textOf(AtspiAccessible* object) {
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));
  if (!text) return failed(AXErrorCode::attributeUnsupported);
  std::string contents;
  if (AXError code = ownText(text.get(), contents)) return failed(code);
  if (!hasEmbedded(contents)) return {AXErrorCode::success, std::move(contents)};
  AtspiRichText::BusTree tree(object);
  return {AXErrorCode::success, AtspiRichText::toUtf8(AtspiRichText::Flattened::of(tree).text())};
}

// The selection, or the caret as an empty range when nothing is selected.
AXError selectionOf(AtspiText* text, TextRange& range) {
  GError* error = nullptr;
  const gint selections = atspi_text_get_n_selections(text, &error);
  if (AXError code = take(error)) return code;
  if (selections > 0) {
    std::unique_ptr<AtspiRange, Free> selected(atspi_text_get_selection(text, 0, &error));
    if (AXError code = take(error)) return code;
    if (selected && selected->end_offset > selected->start_offset) {
      range = {selected->start_offset, selected->end_offset - selected->start_offset};
      return AXErrorCode::success;
    }
  }
  const gint caret = atspi_text_get_caret_offset(text, &error);
  if (AXError code = take(error)) return code;
  range = {std::max(caret, 0), 0};
  return AXErrorCode::success;
}

// A secret's selection would tell its characters or at least how many there
// are, so it has none.
Answer selectedText(AtspiAccessible* object, bool asRange) {
  if (AtspiRichText::isSecret(object)) return failed(AXErrorCode::noValue);
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));
  if (!text) return failed(AXErrorCode::attributeUnsupported);
  std::string contents;
  if (AXError code = ownText(text.get(), contents)) return failed(code);
  if (hasEmbedded(contents)) {
    AtspiRichText::BusTree tree(object);
    const auto flat = AtspiRichText::Flattened::of(tree);
    const auto span = flat.selection(tree).value_or(AtspiRichText::Span{});
    if (asRange) {
      return {AXErrorCode::success, utf16Range(flat.text(), span.start, span.end, false)};
    }
    return {AXErrorCode::success, AtspiRichText::toUtf8(flat.text().substr(
                                      static_cast<std::size_t>(span.start),
                                      static_cast<std::size_t>(span.end - span.start)))};
  }
  TextRange range;
  if (AXError code = selectionOf(text.get(), range)) return failed(code);
  if (asRange) {
    std::u32string counted;
    if (AXError code = busText(text.get(), counted)) return failed(code);
    return {AXErrorCode::success,
            utf16Range(counted, range.location, range.location + range.length, true)};
  }
  const std::u32string characters = AtspiRichText::fromUtf8(contents);
  if (range.length == 0 || range.location >= static_cast<long>(characters.size())) {
    return {AXErrorCode::success, std::string()};
  }
  return {AXErrorCode::success,
          AtspiRichText::toUtf8(characters.substr(static_cast<std::size_t>(range.location),
                                                  static_cast<std::size_t>(range.length)))};
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

// The objects of a subtree, or with `childrenOnly` of the scope's children,
// that carry every one of `states` (or with `lacking` none of them) and, when
// `roles` are given, one of them; in tree order, at most `count`. Nothing when
// the toolkit offers no collection interface.
std::optional<std::vector<Ref<AtspiAccessible>>> matchesUnder(
    AtspiAccessible* scope, std::initializer_list<AtspiStateType> states,
    std::initializer_list<AtspiRole> roles, gint count, AXError& code, bool lacking = false,
    bool childrenOnly = false) {
  code = AXErrorCode::success;
  Ref<AtspiCollection> collection(atspi_accessible_get_collection_iface(scope));
  if (!collection) return std::nullopt;
  Ref<AtspiStateSet> wanted(atspi_state_set_new(nullptr));
  for (AtspiStateType state : states) atspi_state_set_add(wanted.get(), state);
  GArray* roleArray = g_array_new(FALSE, FALSE, sizeof(gint));
  for (AtspiRole role : roles) {
    const gint value = role;
    g_array_append_val(roleArray, value);
  }
  Ref<AtspiMatchRule> rule(atspi_match_rule_new(
      wanted.get(), lacking ? ATSPI_Collection_MATCH_NONE : ATSPI_Collection_MATCH_ALL, nullptr,
      ATSPI_Collection_MATCH_ALL, roleArray,
      roles.size() ? ATSPI_Collection_MATCH_ANY : ATSPI_Collection_MATCH_ALL, nullptr,
      ATSPI_Collection_MATCH_ALL, FALSE));
  g_array_free(roleArray, TRUE);
  GError* error = nullptr;
  GArray* matches = atspi_collection_get_matches(collection.get(), rule.get(),
                                                 ATSPI_Collection_SORT_ORDER_CANONICAL, count,
                                                 !childrenOnly, &error);
  code = take(error);
  std::vector<Ref<AtspiAccessible>> found;
  for (guint i = 0; matches && i < matches->len; ++i) {
    found.emplace_back(g_array_index(matches, AtspiAccessible*, i));
  }
  if (matches) g_array_free(matches, TRUE);
  if (code == AXErrorCode::attributeUnsupported) return std::nullopt;
  return found;
}

// --- Chromium's layout views ---
//
// Chromium builds its windows out of views, and a view that only arranges
// others has no role of its own: the bus shows it as an unnamed panel, and a
// page lies six of them deep below its window. The model the programs are
// written against never shows such views: Chromium leaves them out there,
// lists their children as their parent's and passes over them as parents. So
// does this backend, for Chromium's own views only: other toolkits' trees and
// the pages a browser shows keep the shape they are given.
//
// A view left out has a layout role, nothing to read (no name, no
// description), no focus to take (so the focus is never one of them) and is
// no part of a page. Chromium puts the text and action interfaces on every
// view, so these tell nothing.

constexpr const char* LAYOUT_VIEWS_TOOLKIT = "Chromium";
// How many left-out views deep their children are looked for.
constexpr int MAX_LAYOUT_DEPTH = 32;

bool leavesOutLayoutViews(AtspiAccessible* object) {
  return AtspiSession::shared().toolkitOf(object) == LAYOUT_VIEWS_TOOLKIT;
}

bool isLayoutRole(AtspiRole role) {
  return role == ATSPI_ROLE_PANEL || role == ATSPI_ROLE_FILLER || role == ATSPI_ROLE_SECTION;
}

// A page's objects carry the tag of the element they stand for (the page
// itself "#document"); the browser's own views carry none. Unreadable
// attributes count as a page's, which keeps the object as it is.
bool isBrowserView(AtspiAccessible* object) {
  GError* error = nullptr;
  GHashTable* table = atspi_accessible_get_attributes(object, &error);
  const bool view = !error && (!table || !g_hash_table_contains(table, "tag"));
  g_clear_error(&error);
  if (table) g_hash_table_unref(table);
  return view;
}

bool isEmpty(gchar* raw, GError*& error) {
  Text text(raw);
  return !take(error) && (!text || !*text);
}

bool isUnnamed(AtspiAccessible* object) {
  GError* error = nullptr;
  return isEmpty(atspi_accessible_get_name(object, &error), error) &&
         isEmpty(atspi_accessible_get_description(object, &error), error);
}

// An object met on its own (a parent, what lies under a point, the source of
// a focus event), whose place is not known. An object that cannot be read
// stays.
bool isLeftOut(AtspiAccessible* object) {
  if (!isLayoutRole(atspi_accessible_get_role(object, nullptr))) return false;
  if (!isBrowserView(object)) return false;
  Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object));
  if (!states || atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSABLE) ||
      atspi_state_set_contains(states.get(), ATSPI_STATE_DEFUNCT)) {
    return false;
  }
  return isUnnamed(object);
}

// The object itself, or when it is left out its nearest ancestor that is not.
Ref<AtspiAccessible> shownSelfOrAncestor(Ref<AtspiAccessible> object) {
  if (!object || !leavesOutLayoutViews(object.get())) return object;
  for (int step = 0; step < MAX_PARENT_STEPS && isLeftOut(object.get()); ++step) {
    Ref<AtspiAccessible> parent(atspi_accessible_get_parent(object.get(), nullptr));
    if (!parent) break;
    object = std::move(parent);
  }
  return object;
}

// An object's children in order, at most MAX_CHILDREN_READ; `count` is their
// number when it was read already, else negative. A view's come in one
// request: the bridge takes a search that does not traverse as one among the
// scope's own children.
AXError childrenList(AtspiAccessible* object, gint count, bool view,
                     std::vector<Ref<AtspiAccessible>>& list) {
  if (view) {
    AXError code = AXErrorCode::success;
    if (auto listed = matchesUnder(object, {}, {}, MAX_CHILDREN_READ, code, /*lacking=*/false,
                                   /*childrenOnly=*/true)) {
      list = std::move(*listed);
      return code;
    }
  }
  GError* error = nullptr;
  if (count < 0) count = atspi_accessible_get_child_count(object, &error);
  if (AXError code = take(error)) return code;
  for (gint i = 0; i < std::min(count, MAX_CHILDREN_READ); ++i) {
    AtspiAccessible* child = atspi_accessible_get_child_at_index(object, i, &error);
    if (AXError code = take(error)) return code;
    if (child) list.emplace_back(child);
  }
  return AXErrorCode::success;
}

// Appends an object's children, up to MAX_CHILDREN_READ in all. Below a view,
// each child left out is replaced by its own children. A view's children are
// views or whole pages, never parts of one, so they need no look at their
// attributes; one collection request asks which of them have a layout role
// and no focus to take, and only those are asked for their names (without
// that interface nothing is left out). A left-out view that cannot be read
// adds nothing; only the object's own children fail the request.
AXError appendChildren(AtspiAccessible* object, gint count, bool view, int depth,
                       AXArray& children) {
  std::vector<Ref<AtspiAccessible>> own;
  if (AXError code = childrenList(object, count, view, own)) {
    return depth == 0 ? code : AXErrorCode::success;
  }
  std::vector<Ref<AtspiAccessible>> candidates;
  if (view && !own.empty() && depth < MAX_LAYOUT_DEPTH) {
    AXError code = AXErrorCode::success;
    candidates = matchesUnder(object, {ATSPI_STATE_FOCUSABLE},
                              {ATSPI_ROLE_PANEL, ATSPI_ROLE_FILLER, ATSPI_ROLE_SECTION},
                              MAX_CHILDREN_READ, code, /*lacking=*/true, /*childrenOnly=*/true)
                     .value_or(std::vector<Ref<AtspiAccessible>>{});
  }
  for (auto& child : own) {
    if (children.size() >= static_cast<std::size_t>(MAX_CHILDREN_READ)) break;
    const bool candidate =
        std::any_of(candidates.begin(), candidates.end(),
                    [&](const auto& match) { return match.get() == child.get(); });
    if (candidate && isUnnamed(child.get())) {
      appendChildren(child.get(), -1, true, depth + 1, children);
      continue;
    }
    children.emplace_back(AtspiElementRef::adopt(child.release()));
  }
  return AXErrorCode::success;
}

// A page's children are all the page's, so only a view's are looked at.
Answer childrenOf(AtspiAccessible* object) {
  GError* error = nullptr;
  const gint count = atspi_accessible_get_child_count(object, &error);
  if (AXError code = take(error)) return failed(code);
  if (count <= 0) return {AXErrorCode::success, AXArray{}};
  const bool view = leavesOutLayoutViews(object) && isBrowserView(object);
  AXArray children;
  if (AXError code = appendChildren(object, count, view, 0, children)) return failed(code);
  return {AXErrorCode::success, std::move(children)};
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

bool isApplication(AtspiAccessible* object) {
  return atspi_accessible_get_role(object, nullptr) == ATSPI_ROLE_APPLICATION;
}

// The parent, except that applications have none: above them is the bus's
// desktop, which stands for no element of the model.
Answer parentOf(AtspiAccessible* object, const Facts& facts) {
  if (facts.role == ATSPI_ROLE_APPLICATION) return failed(AXErrorCode::noValue);
  GError* error = nullptr;
  Ref<AtspiAccessible> parent(atspi_accessible_get_parent(object, &error));
  if (AXError code = take(error)) return failed(code);
  if (!parent) return failed(AXErrorCode::noValue);
  parent = shownSelfOrAncestor(std::move(parent));
  if (atspi_accessible_get_role(parent.get(), nullptr) == ATSPI_ROLE_DESKTOP_FRAME) {
    return failed(AXErrorCode::noValue);
  }
  return {AXErrorCode::success, AtspiElementRef::adopt(parent.release())};
}

// The window holding an object: the ancestor (or the object itself) that is
// a child of its application.
Answer windowOf(AtspiAccessible* object) {
  Ref<AtspiAccessible> current(newRef(object));
  for (int step = 0; step < MAX_PARENT_STEPS; ++step) {
    GError* error = nullptr;
    Ref<AtspiAccessible> parent(atspi_accessible_get_parent(current.get(), &error));
    if (AXError code = take(error)) return failed(code);
    if (!parent) return failed(AXErrorCode::noValue);
    if (isApplication(parent.get())) {
      return {AXErrorCode::success, AtspiElementRef::adopt(current.release())};
    }
    current = std::move(parent);
  }
  return failed(AXErrorCode::noValue);
}

// The window an application shows in front: the active one, or for the main
// window, failing that, the first one showing.
Answer windowOfApplication(AtspiAccessible* app, bool activeOnly) {
  GError* error = nullptr;
  const gint count = atspi_accessible_get_child_count(app, &error);
  if (AXError code = take(error)) return failed(code);
  Ref<AtspiAccessible> showing;
  for (gint i = 0; i < std::min(count, MAX_CHILDREN_READ); ++i) {
    Ref<AtspiAccessible> window(atspi_accessible_get_child_at_index(app, i, &error));
    if (AXError code = take(error)) return failed(code);
    if (!window) continue;
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(window.get()));
    if (atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE)) {
      return {AXErrorCode::success, AtspiElementRef::adopt(window.release())};
    }
    if (!showing && atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING)) {
      showing = std::move(window);
    }
  }
  if (activeOnly || !showing) return failed(AXErrorCode::noValue);
  return {AXErrorCode::success, AtspiElementRef::adopt(showing.release())};
}

int depthBelow(AtspiAccessible* object, AtspiAccessible* scope) {
  Ref<AtspiAccessible> current(newRef(object));
  for (int depth = 0; depth < MAX_PARENT_STEPS; ++depth) {
    if (current.get() == scope) return depth;
    Ref<AtspiAccessible> parent(atspi_accessible_get_parent(current.get(), nullptr));
    if (!parent) return depth;
    current = std::move(parent);
  }
  return MAX_PARENT_STEPS;
}

bool isFocus(AtspiStateSet* states) {
  return atspi_state_set_contains(states, ATSPI_STATE_FOCUSED) &&
         atspi_state_set_contains(states, ATSPI_STATE_FOCUSABLE);
}

// Without the collection interface: a breadth-first walk over the showing
// objects; once the focus is found only its own subtree is searched further,
// for a focused part of it.
Answer focusedByWalk(AtspiAccessible* window) {
  std::deque<Ref<AtspiAccessible>> queue;
  queue.emplace_back(newRef(window));
  Ref<AtspiAccessible> focus;
  for (std::size_t taken = 0; !queue.empty() && taken < MAX_FOCUS_SEARCH; ++taken) {
    Ref<AtspiAccessible> next = std::move(queue.front());
    queue.pop_front();
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(next.get()));
    if (isFocus(states.get())) {
      queue.clear();
      focus.reset(newRef(next.get()));
    } else if (!atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING)) {
      continue;
    }
    const gint count = atspi_accessible_get_child_count(next.get(), nullptr);
    for (gint i = 0; i < std::min(count, MAX_CHILDREN_READ); ++i) {
      if (auto* child = atspi_accessible_get_child_at_index(next.get(), i, nullptr)) {
        queue.emplace_back(child);
      }
    }
  }
  if (!focus) return failed(AXErrorCode::noValue);
  return {AXErrorCode::success, AtspiElementRef::adopt(focus.release())};
}

// The focused object of an application: the deepest object of its active
// window that is both focused and focusable. Toolkits leave the focused state
// behind on objects that cannot take focus (a tab button, a panel, the
// documents of windows in the background), and a focused editor may hold
// focused parts. One request through the collection interface where the
// toolkit offers it.
Answer focusedUnder(AtspiAccessible* app) {
  Answer window = windowOfApplication(app, true);
  if (window.error == AXErrorCode::invalidUIElement) return window;
  const auto* windowRef =
      window.error ? nullptr : (*window.value.get<AXUIElement>()).as<AtspiElementRef>();
  AtspiAccessible* scope = windowRef ? windowRef->object : app;
  AXError code = AXErrorCode::success;
  auto matches = matchesUnder(scope, {ATSPI_STATE_FOCUSED, ATSPI_STATE_FOCUSABLE}, {},
                              MAX_FOCUS_MATCHES, code);
  if (code == AXErrorCode::invalidUIElement) return failed(code);
  if (!matches) {
    if (!windowRef) return failed(AXErrorCode::noValue);
    return focusedByWalk(windowRef->object);
  }
  if (matches->empty()) return failed(AXErrorCode::noValue);
  std::size_t deepest = 0;
  if (matches->size() > 1) {
    int best = -1;
    for (std::size_t i = 0; i < matches->size(); ++i) {
      const int depth = depthBelow((*matches)[i].get(), scope);
      if (depth >= best) {
        best = depth;
        deepest = i;
      }
    }
  }
  return {AXErrorCode::success, AtspiElementRef::adopt((*matches)[deepest].release())};
}

// The application in front: the window system's answer, else the first
// application with an active window.
std::int32_t frontmostPid(const AtspiAccessibility::FrontmostProcess& frontmost) {
  if (auto pid = frontmost()) return *pid;
  Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
  if (!desktop) return 0;
  const gint count = atspi_accessible_get_child_count(desktop.get(), nullptr);
  for (gint i = 0; i < count; ++i) {
    Ref<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
    if (app && windowOfApplication(app.get(), true).error == AXErrorCode::success) {
      return AtspiSession::shared().processOf(app.get());
    }
  }
  return 0;
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

// --- Writing a field ---------------------------------------------------------

using Clock = std::chrono::steady_clock;
using Keyboard = AtspiAccessibility::Keyboard;

// A toolkit applies text from the bus at once, mostly, but typed keys pass
// through the application's event queue first, and some toolkits tell the bus
// of the change only once the queue is empty; so a check waits for as long as
// the keys may take, and while the field keeps changing, and gives up once it
// has been quiet for a while after that.
constexpr auto QUIET_WAIT = std::chrono::milliseconds(1000);
constexpr auto TIME_PER_KEY = std::chrono::milliseconds(3);
// A busy browser takes several milliseconds a key, so the bound on the whole
// wait grows with the keys; the quiet rule ends it early when nothing moves.
constexpr auto LONGEST_WAIT = std::chrono::seconds(2);
constexpr auto LONGEST_WAIT_PER_KEY = std::chrono::milliseconds(10);
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(5);
// How long a selection asked of the bus may take to show.
constexpr auto SELECTION_WAIT = std::chrono::milliseconds(300);

// A field takes text where its user could type: editable, neither read-only
// nor disabled, with text to read back.
bool takesText(AtspiAccessible* object, const Facts& facts) {
  if (!facts.has(ATSPI_STATE_EDITABLE) || facts.has(ATSPI_STATE_READ_ONLY)) return false;
  if (!facts.has(ATSPI_STATE_ENABLED) && !facts.has(ATSPI_STATE_SENSITIVE)) return false;
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));
  return text != nullptr;
}

// Through the bus where the toolkit offers it, else on the keyboard.
Answer valueSettable(const AtspiElementRef& ref, bool withKeyboard) {
  if (ref.kind != Kind::object) return {AXErrorCode::success, false};
  Facts facts;
  if (AXError code = factsOf(ref.object, facts, true)) return failed(code);
  if (!takesText(ref.object, facts)) return {AXErrorCode::success, false};
  if (withKeyboard) return {AXErrorCode::success, true};
  Ref<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(ref.object));
  return {AXErrorCode::success, editable != nullptr};
}

// Whether the field shows `expected`, read through the field's value, as
// "AXValue" reads it. A password's characters never leave the application:
// its length is compared instead.
bool shows(AtspiAccessible* object, AtspiText* text, const Facts& facts,
           const std::string& expected, std::size_t keys) {
  const bool password = facts.role == ATSPI_ROLE_PASSWORD_TEXT;
  // The field's count of characters, as it may count them: characters
  // beyond the basic plane once or twice.
  glong least = 0, most = 0;
  for (const gchar* p = expected.c_str(); *p; p = g_utf8_next_char(p)) {
    ++least;
    most += g_utf8_get_char(p) > 0xFFFF ? 2 : 1;
  }
  const auto start = Clock::now();
  Clock::time_point quietUntil = start + QUIET_WAIT + TIME_PER_KEY * static_cast<long>(keys);
  const auto longest = LONGEST_WAIT + LONGEST_WAIT_PER_KEY * static_cast<long>(keys);
  std::optional<std::string> last;
  for (;;) {
    std::string reading;
    if (password) {
      GError* error = nullptr;
      const gint count = atspi_text_get_character_count(text, &error);
      if (take(error)) return false;
      if (count == least || count == most) return true;
      reading = std::to_string(count);
    } else {
      // The whole value, flattened: a rich editor counts one character for
      // each paragraph it holds.
      Answer value = valueOf(object, facts);
      if (value.error) return false;
      reading = *value.value.get<std::string>();
      if (reading == expected) return true;
    }
    const auto now = Clock::now();
    if (reading != last) {
      last = std::move(reading);
      quietUntil = std::max(quietUntil, now + QUIET_WAIT);
    }
    if (now >= quietUntil || now - start >= longest) return false;
    std::this_thread::sleep_for(POLL_INTERVAL);
  }
}

// Characters beyond the basic plane, which toolkits count in offsets as one
// or as two, and sometimes each way in different places.
gint outsideBasicPlane(AtspiText* text, gint count) {
  GError* error = nullptr;
  Text contents(atspi_text_get_text(text, 0, count, &error));
  g_clear_error(&error);
  gint found = 0;
  for (const gchar* p = contents ? contents.get() : ""; *p; p = g_utf8_next_char(p)) {
    if (g_utf8_get_char(p) > 0xFFFF) ++found;
  }
  return found;
}

// Whether the first selection spans the whole text. Chromium miscounts a
// selection's end in a text with such characters, even down to nothing: there
// a selection starting at the start is taken on trust, and the check of the
// written text has the last word.
bool wholeTextSelected(AtspiText* text, gint count) {
  const gint slack = outsideBasicPlane(text, count);
  const auto until = Clock::now() + SELECTION_WAIT;
  for (;;) {
    GError* error = nullptr;
    const gint selections = atspi_text_get_n_selections(text, &error);
    if (take(error)) return false;
    std::unique_ptr<AtspiRange, Free> range(
        selections > 0 ? atspi_text_get_selection(text, 0, &error) : nullptr);
    g_clear_error(&error);
    const gint start = range ? range->start_offset : 0;
    const gint end = range ? range->end_offset : 0;
    if (start == 0 && (end == count || slack > 0)) return true;
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(POLL_INTERVAL);
  }
}

// Selects all of the field's text, so that what is typed replaces it: with
// the toolkit's select-all key, as the user would, else through the bus.
// Typing without the whole text selected would mix the old text with the
// new. The key comes first: Chromium counts characters beyond the basic plane
// differently in different places, and a selection asked with its own count
// there can end its page's renderer.
bool selectWhole(AtspiText* text, Keyboard& keyboard) {
  GError* error = nullptr;
  const gint count = atspi_text_get_character_count(text, &error);
  if (take(error)) return false;
  if (count == 0) return true;
  if (keyboard.selectAll() && wholeTextSelected(text, count)) return true;
  const gint selections = atspi_text_get_n_selections(text, &error);
  g_clear_error(&error);
  const gboolean asked = selections > 0 ? atspi_text_set_selection(text, 0, 0, count, &error)
                                        : atspi_text_add_selection(text, 0, count, &error);
  g_clear_error(&error);
  return asked && wholeTextSelected(text, count);
}

// Keys reach a field only while it has the keyboard focus in the active
// window of the application in front.
bool hasKeyboardFocus(AtspiAccessible* object, const Facts& facts,
                      const AtspiAccessibility::FrontmostProcess& frontmost) {
  if (!facts.has(ATSPI_STATE_FOCUSED)) return false;
  Answer window = windowOf(object);
  if (window.error) return false;
  const auto* ref = window.value.get<AXUIElement>()->as<AtspiElementRef>();
  Ref<AtspiStateSet> states(atspi_accessible_get_state_set(ref->object));
  if (!atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE)) return false;
  const auto front = frontmost();
  return !front || *front == AtspiSession::shared().processOf(object);
}

std::string utf8Of(std::u32string_view chars) {
  Text converted(g_ucs4_to_utf8(reinterpret_cast<const gunichar*>(chars.data()),
                                static_cast<glong>(chars.size()), nullptr, nullptr, nullptr));
  return converted ? std::string(converted.get()) : std::string();
}

// Types over the whole text. Keys the keyboard had to change for the text
// are given back only once the field shows what was typed with them, so the
// text goes in as many parts as the keyboard needs.
AXError typeOver(AtspiAccessible* object, AtspiText* text, const Facts& facts,
                 std::u32string_view chars, Keyboard& keyboard) {
  if (!selectWhole(text, keyboard)) return AXErrorCode::cannotComplete;
  if (chars.empty()) {
    const bool erased = keyboard.erase() && shows(object, text, facts, "", 1);
    return erased ? AXErrorCode::success : AXErrorCode::cannotComplete;
  }
  std::size_t typed = 0;
  while (typed < chars.size()) {
    const std::size_t count = keyboard.type(chars.substr(typed));
    if (count == 0) return AXErrorCode::cannotComplete;
    typed += count;
    const bool shown = shows(object, text, facts, utf8Of(chars.substr(0, typed)), count);
    keyboard.restore();
    if (!shown) return AXErrorCode::cannotComplete;
  }
  return AXErrorCode::success;
}

// Gecko accepts text over the bus and drops it; asking would only cost the
// wait for text that never comes.
bool dropsEditedText(AtspiAccessible* object) {
  return AtspiSession::shared().toolkitOf(object) == "Gecko";
}

// A write counts only once the field reads back what was written: some
// toolkits accept text over the bus and drop it. Those, and toolkits without
// the bus's editing, are typed into instead.
AXError writeValue(const AtspiElementRef& ref, const std::string& value,
                   const AtspiAccessibility::FrontmostProcess& frontmost, Keyboard* keyboard) {
  if (ref.kind != Kind::object) return AXErrorCode::attributeUnsupported;
  AtspiAccessible* object = ref.object;
  Facts facts;
  if (AXError code = factsOf(object, facts, true)) return code;
  if (!takesText(object, facts)) return AXErrorCode::attributeUnsupported;
  glong length = 0;
  std::unique_ptr<gunichar, Free> decoded(
      g_utf8_to_ucs4(value.data(), static_cast<glong>(value.size()), nullptr, &length, nullptr));
  if (!decoded) return AXErrorCode::illegalArgument;
  std::u32string chars(decoded.get(), decoded.get() + length);
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));

  Ref<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object));
  if (editable && !dropsEditedText(object)) {
    GError* error = nullptr;
    const gboolean accepted =
        atspi_editable_text_set_text_contents(editable.get(), value.c_str(), &error);
    if (take(error) == AXErrorCode::invalidUIElement) return AXErrorCode::invalidUIElement;
    if (accepted && shows(object, text.get(), facts, value, 0)) {
      // The toolkits leave the caret where it was, at the start mostly; what
      // the user types next belongs after the written text.
      atspi_text_set_caret_offset(text.get(), static_cast<gint>(length), &error);
      g_clear_error(&error);
      return AXErrorCode::success;
    }
  }
  if (!keyboard || !hasKeyboardFocus(object, facts, frontmost)) {
    return AXErrorCode::cannotComplete;
  }
  // Return in a single-line field sends its form or opens an address; a line
  // break becomes a space there, as when lines are pasted into one.
  if (!facts.has(ATSPI_STATE_MULTI_LINE)) std::replace(chars.begin(), chars.end(), U'\n', U' ');
  return typeOver(object, text.get(), facts, chars, *keyboard);
}

std::optional<Rect> rangeExtents(AtspiText* text, long start, long end, AXError& code) {
  GError* error = nullptr;
  std::unique_ptr<AtspiRect, Free> rect(atspi_text_get_range_extents(
      text, static_cast<gint>(start), static_cast<gint>(end), ATSPI_COORD_TYPE_SCREEN, &error));
  code = take(error);
  if (code || !rect) return std::nullopt;
  return Rect{{double(rect->x), double(rect->y)}, {double(rect->width), double(rect->height)}};
}

Rect unite(const Rect& a, const Rect& b) {
  const double left = std::min(a.origin.x, b.origin.x);
  const double top = std::min(a.origin.y, b.origin.y);
  const double right = std::max(a.origin.x + a.size.width, b.origin.x + b.size.width);
  const double bottom = std::max(a.origin.y + a.size.height, b.origin.y + b.size.height);
  return {{left, top}, {right - left, bottom - top}};
}

// The bounds of a range of the flattened text: the union of the bounds of
// each object's characters in it. A secret's bounds would tell its length.
Answer boundsForRange(const AtspiElementRef& ref, const TextRange& range) {
  if (ref.kind != Kind::object) return failed(AXErrorCode::parameterizedAttributeUnsupported);
  if (AtspiRichText::isSecret(ref.object)) return failed(AXErrorCode::noValue);
  Ref<AtspiText> text(atspi_accessible_get_text_iface(ref.object));
  if (!text) return failed(AXErrorCode::parameterizedAttributeUnsupported);
  std::u32string counted;
  if (AXError code = busText(text.get(), counted)) return failed(code);
  AXError code = AXErrorCode::success;
  const long endUnits = range.location + range.length;
  if (counted.find(U'\uFFFC') == std::u32string::npos) {
    auto rect = rangeExtents(text.get(), busFromUtf16(counted, range.location, false, true),
                             busFromUtf16(counted, endUnits, true, true), code);
    if (code) return failed(code);
    if (!rect) return failed(AXErrorCode::noValue);
    return {AXErrorCode::success, *rect};
  }
  AtspiRichText::BusTree tree(ref.object);
  const auto flat = AtspiRichText::Flattened::of(tree);
  const long start = busFromUtf16(flat.text(), range.location, false, false);
  const long end =
      std::min<long>(std::max(busFromUtf16(flat.text(), endUnits, true, false), start + 1),
                     static_cast<long>(flat.text().size()));
  std::optional<Rect> bounds;
  const auto runs =
      flat.runsIn({static_cast<int>(std::min<long>(start, end)), static_cast<int>(end)});
  for (std::size_t i = 0; i < runs.size() && i < MAX_BOUNDS_RUNS; ++i) {
    Ref<AtspiText> part(atspi_accessible_get_text_iface(tree.object(runs[i].node)));
    if (!part) continue;
    if (auto rect = rangeExtents(part.get(), runs[i].start, runs[i].end, code)) {
      bounds = bounds ? unite(*bounds, *rect) : *rect;
    }
  }
  if (!bounds) return failed(code ? code : AXErrorCode::noValue);
  if (range.length == 0) bounds->size.width = 0;
  return {AXErrorCode::success, *bounds};
}

// The bus answers a point with the direct child under it: ask again below
// until nothing lies deeper.
Ref<AtspiAccessible> deepestAt(Ref<AtspiAccessible> start, gint x, gint y) {
  for (int depth = 0; depth < MAX_HIT_DEPTH; ++depth) {
    Ref<AtspiComponent> component(atspi_accessible_get_component_iface(start.get()));
    if (!component) break;
    GError* error = nullptr;
    Ref<AtspiAccessible> child(atspi_component_get_accessible_at_point(
        component.get(), x, y, ATSPI_COORD_TYPE_SCREEN, &error));
    g_clear_error(&error);
    if (!child || atspi_accessible_get_role(child.get(), nullptr) == ATSPI_ROLE_INVALID) break;
    start = std::move(child);
  }
  return start;
}

bool windowContains(AtspiAccessible* window, gint x, gint y) {
  Ref<AtspiComponent> component(atspi_accessible_get_component_iface(window));
  if (!component) return false;
  Ref<AtspiStateSet> states(atspi_accessible_get_state_set(window));
  if (!atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING)) return false;
  return atspi_component_contains(component.get(), x, y, ATSPI_COORD_TYPE_SCREEN, nullptr);
}

AXError elementAt(const AtspiElementRef& ref, gint x, gint y, AXUIElement& found,
                  const AtspiAccessibility::FrontmostProcess& frontmost,
                  const AtspiAccessibility::ProcessAt& processAt) {
  std::vector<Ref<AtspiAccessible>> starts;
  if (ref.kind == Kind::object) {
    starts.emplace_back(newRef(ref.object));
  } else {
    // Through an application or the system-wide element: the windows of the
    // application in front first, then those of the others.
    std::vector<Ref<AtspiAccessible>> apps;
    if (ref.kind == Kind::application) {
      if (auto* app = AtspiSession::shared().applicationOf(ref.pid)) apps.emplace_back(app);
      if (apps.empty()) return AXErrorCode::invalidUIElement;
    } else {
      // The application whose window is on top there first, else the one in
      // front. Over this program's own windows no application's element is.
      const auto under = processAt ? processAt(x, y) : std::nullopt;
      if (under == ::getpid()) return AXErrorCode::noValue;
      const std::int32_t front = under.value_or(frontmostPid(frontmost));
      if (auto* app = front > 0 ? AtspiSession::shared().applicationOf(front) : nullptr) {
        apps.emplace_back(app);
      }
      Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
      const gint count = desktop ? atspi_accessible_get_child_count(desktop.get(), nullptr) : 0;
      for (gint i = 0; i < count; ++i) {
        Ref<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
        if (app && AtspiSession::shared().processOf(app.get()) != front) {
          apps.push_back(std::move(app));
        }
      }
    }
    for (auto& app : apps) {
      const gint count = atspi_accessible_get_child_count(app.get(), nullptr);
      for (gint i = 0; i < std::min(count, MAX_CHILDREN_READ); ++i) {
        Ref<AtspiAccessible> window(atspi_accessible_get_child_at_index(app.get(), i, nullptr));
        if (window && windowContains(window.get(), x, y)) starts.push_back(std::move(window));
      }
    }
  }
  for (auto& start : starts) {
    Ref<AtspiAccessible> deepest = shownSelfOrAncestor(deepestAt(std::move(start), x, y));
    if (deepest) {
      found = AtspiElementRef::adopt(deepest.release());
      return AXErrorCode::success;
    }
  }
  return AXErrorCode::noValue;
}

bool processRuns(std::int32_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

const AtspiElementRef* refOf(const AXUIElement& element) { return element.as<AtspiElementRef>(); }

// Runs one request on the session thread; an unreachable bus refuses it and
// a request that overruns its bound cannot complete.
template <class Work>
AXError request(Work work) {
  if (!AtspiSession::shared().connect()) return AXErrorCode::apiDisabled;
  auto error = std::make_shared<AXError>(AXErrorCode::cannotComplete);
  if (!AtspiSession::shared().run([error, work = std::move(work)] { *error = work(); })) {
    return AXErrorCode::cannotComplete;
  }
  return *error;
}

template <class Work>
Answer answer(Work work) {
  auto out = std::make_shared<Answer>();
  AXError error = request([out, work = std::move(work)] {
    *out = work();
    return out->error;
  });
  if (error) return failed(error);
  return std::move(*out);
}

}  // namespace

// --- Observers ---------------------------------------------------------------

// An observer watches one process for focus changes.
class AtspiObserver : public ScheduledObserver {
 public:
  using ScheduledObserver::ScheduledObserver;

  // False when focus was registered before.
  bool registerFocus() {
    std::lock_guard lock(mutex_);
    return !std::exchange(focusRegistered_, true);
  }
  bool watchesFocus() const {
    std::lock_guard lock(mutex_);
    return focusRegistered_;
  }

 private:
  bool focusRegistered_ = false;
};

struct AtspiAccessibility::Observers {
  ObserverSet<AtspiObserver> all;

  void deliver(AtspiAccessible* source) {
    if (all.empty()) return;
    const auto watching = all.of(AtspiSession::shared().processOf(source));
    if (watching.empty()) return;
    // A focus event from a left-out view tells of the view that shows it.
    Ref<AtspiAccessible> shown = shownSelfOrAncestor(Ref<AtspiAccessible>(newRef(source)));
    for (const auto& observer : watching) {
      if (!observer->watchesFocus() || !observer->isScheduled()) continue;
      observer->post(AtspiElementRef::adopt(newRef(shown.get())), FOCUS_CHANGED);
    }
  }
};

// --- The interface -----------------------------------------------------------

AtspiAccessibility::AtspiAccessibility(FrontmostProcess frontmost, ProcessAt processAt,
                                       std::shared_ptr<Keyboard> keyboard)
    : frontmost_(std::move(frontmost)),
      processAt_(std::move(processAt)),
      keyboard_(std::move(keyboard)),
      observers_(std::make_shared<Observers>()) {}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isProcessTrusted(bool) { return AtspiSession::shared().connect(); }

AXUIElement AtspiAccessibility::createSystemWide() { return AtspiElementRef::systemWide(); }

AXUIElement AtspiAccessibility::createApplication(std::int32_t pid) {
  return AtspiElementRef::application(pid);
}

AXError AtspiAccessibility::copyAttributeValue(const AXUIElement& element,
                                               std::string_view attribute, AXValue& value) {
  if (!refOf(element)) return AXErrorCode::illegalArgument;
  Answer result = answer([element, name = std::string(attribute), frontmost = frontmost_] {
    return readAttribute(*refOf(element), name, frontmost);
  });
  if (result.error == AXErrorCode::success) value = std::move(result.value);
  return result.error;
}

AXError AtspiAccessibility::isAttributeSettable(const AXUIElement& element,
                                                std::string_view attribute, bool& settable) {
  if (!refOf(element)) return AXErrorCode::illegalArgument;
  if (attribute != "AXValue") {
    // Other attributes are read-only here; whether they exist is still told.
    AXValue ignored;
    AXError error = copyAttributeValue(element, attribute, ignored);
    if (error && error != AXErrorCode::noValue) return error;
    settable = false;
    return AXErrorCode::success;
  }
  Answer result = answer([element, withKeyboard = keyboard_ != nullptr] {
    return valueSettable(*refOf(element), withKeyboard);
  });
  if (result.error == AXErrorCode::success) settable = *result.value.get<bool>();
  return result.error;
}

AXError AtspiAccessibility::setAttributeValue(const AXUIElement& element,
                                              std::string_view attribute, const AXValue& value) {
  if (!refOf(element)) return AXErrorCode::illegalArgument;
  if (attribute != "AXValue") return AXErrorCode::attributeUnsupported;
  const auto* text = value.get<std::string>();
  if (!text) return AXErrorCode::illegalArgument;
  // The keyboard is held only while the work runs, so that it ends with this
  // object, on the caller's thread, and not on the session thread while the
  // process exits.
  std::weak_ptr<Keyboard> keyboard = keyboard_;
  return request([element, text = *text, frontmost = frontmost_, keyboard] {
    const auto typing = keyboard.lock();
    return writeValue(*refOf(element), text, frontmost, typing.get());
  });
}

AXError AtspiAccessibility::copyParameterizedAttributeValue(const AXUIElement& element,
                                                            std::string_view attribute,
                                                            const AXValue& parameter,
                                                            AXValue& value) {
  if (!refOf(element)) return AXErrorCode::illegalArgument;
  if (attribute != "AXBoundsForRange") return AXErrorCode::parameterizedAttributeUnsupported;
  const auto* range = parameter.get<TextRange>();
  if (!range || range->location < 0 || range->length < 0 ||
      range->length > std::numeric_limits<long>::max() - range->location) {
    return AXErrorCode::illegalArgument;
  }
  Answer result =
      answer([element, range = *range] { return boundsForRange(*refOf(element), range); });
  if (result.error == AXErrorCode::success) value = std::move(result.value);
  return result.error;
}

AXError AtspiAccessibility::copyElementAtPosition(const AXUIElement& element, float x, float y,
                                                  AXUIElement& found) {
  if (!refOf(element) || !std::isfinite(x) || !std::isfinite(y)) {
    return AXErrorCode::illegalArgument;
  }
  auto out = std::make_shared<AXUIElement>();
  AXError error = request([element, out, x, y, frontmost = frontmost_, processAt = processAt_] {
    return elementAt(*refOf(element), static_cast<gint>(std::lround(x)),
                     static_cast<gint>(std::lround(y)), *out, frontmost, processAt);
  });
  if (error == AXErrorCode::success) found = *out;
  return error;
}

AXError AtspiAccessibility::getPid(const AXUIElement& element, std::int32_t& pid) {
  const AtspiElementRef* ref = refOf(element);
  if (!ref || ref->kind == Kind::systemWide) return AXErrorCode::illegalArgument;
  auto out = std::make_shared<std::int32_t>(0);
  AXError error = request([element, out] {
    const AtspiElementRef& target = *refOf(element);
    if (target.kind == Kind::application) {
      Ref<AtspiAccessible> app(AtspiSession::shared().applicationOf(target.pid));
      if (!app) return AXErrorCode::invalidUIElement;
      *out = target.pid;
      return AXErrorCode::success;
    }
    *out = AtspiSession::shared().processOf(target.object);
    return *out > 0 ? AXErrorCode::success : AXErrorCode::invalidUIElement;
  });
  if (error == AXErrorCode::success) pid = *out;
  return error;
}

// The bus has one time-out for every request, so only the system-wide element
// sets it; zero restores the default.
AXError AtspiAccessibility::setMessagingTimeout(const AXUIElement& element, float seconds) {
  const AtspiElementRef* ref = refOf(element);
  if (!ref || !std::isfinite(seconds) || seconds < 0) return AXErrorCode::illegalArgument;
  if (ref->kind != Kind::systemWide) return AXErrorCode::notImplemented;
  if (!AtspiSession::shared().connect()) return AXErrorCode::apiDisabled;
  AtspiSession::shared().setRequestTimeout(
      std::chrono::milliseconds(static_cast<long>(std::lround(seconds * 1000))));
  return AXErrorCode::success;
}

AXError AtspiAccessibility::createObserver(std::int32_t pid, AXObserverCallback callback,
                                           std::shared_ptr<AXObserver>& observer) {
  if (pid <= 0 || !callback) return AXErrorCode::illegalArgument;
  if (!AtspiSession::shared().connect()) return AXErrorCode::apiDisabled;
  auto created = std::make_shared<AtspiObserver>(pid, std::move(callback));
  observers_->all.add(created);
  observer = std::move(created);
  return AXErrorCode::success;
}

AXError AtspiAccessibility::addNotification(AXObserver& observer, const AXUIElement& element,
                                            std::string_view notification) {
  auto* watched = dynamic_cast<AtspiObserver*>(&observer);
  if (!watched) return AXErrorCode::invalidUIElementObserver;
  const AtspiElementRef* ref = refOf(element);
  if (!ref || ref->kind == Kind::systemWide) return AXErrorCode::illegalArgument;
  if (notification != FOCUS_CHANGED) return AXErrorCode::notificationUnsupported;
  std::int32_t pid = 0;
  AXError found = getPid(element, pid);
  // A newly launched application activates its window before it joins the
  // bus, often by a few hundred milliseconds: it is waited for, so that the
  // caller sees what it would where the application is ready. One that never
  // joins (a toolkit without accessibility) costs the bound once.
  auto pause = NEW_APPLICATION_FIRST_WAIT;
  for (auto waited = std::chrono::milliseconds(0);
       found == AXErrorCode::invalidUIElement && ref->kind == Kind::application &&
       waited < NEW_APPLICATION_WAIT && processRuns(ref->pid);
       waited += pause, pause *= 2) {
    std::this_thread::sleep_for(std::min(pause, NEW_APPLICATION_WAIT - waited));
    found = getPid(element, pid);
  }
  if (found) return found;
  if (pid != watched->pid) return AXErrorCode::illegalArgument;
  if (watched->watchesFocus()) return AXErrorCode::notificationAlreadyRegistered;
  // Notices for every observer come from one bus listener, registered once.
  std::weak_ptr<Observers> observers = observers_;
  if (!AtspiSession::shared().listenForFocus([observers](AtspiAccessible* source) {
        if (auto live = observers.lock()) live->deliver(source);
      })) {
    return AXErrorCode::cannotComplete;
  }
  if (!watched->registerFocus()) return AXErrorCode::notificationAlreadyRegistered;
  return AXErrorCode::success;
}

void AtspiAccessibility::scheduleObserver(AXObserver& observer, RunLoop& runLoop) {
  if (auto* watched = dynamic_cast<AtspiObserver*>(&observer)) watched->schedule(&runLoop);
}

void AtspiAccessibility::unscheduleObserver(AXObserver& observer) {
  if (auto* watched = dynamic_cast<AtspiObserver*>(&observer)) watched->schedule(nullptr);
}

}  // namespace nolari::platform
