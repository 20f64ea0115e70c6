// Walking the bus's tree: children with Chromium's layout views left out,
// parents, windows and the focused object.

#include <atspi/atspi.h>

#include <algorithm>
#include <deque>
#include <utility>

#include "platform/atspi/AtspiInternal.h"
#include "platform/atspi/AtspiSession.h"

namespace nolari::platform::atspi {

namespace {

constexpr int MAX_PARENT_STEPS = 64;
constexpr std::size_t MAX_FOCUS_SEARCH = 2000;
constexpr gint MAX_FOCUS_MATCHES = 16;

}  // namespace

// The objects of a subtree, or with `childrenOnly` of the scope's children,
// that carry every one of `states` (or with `lacking` none of them) and, when
// `roles` are given, one of them; in tree order, at most `count`. Nothing when
// the toolkit offers no collection interface.
std::optional<std::vector<Ref<AtspiAccessible>>> matchesUnder(
    AtspiAccessible* scope, std::initializer_list<AtspiStateType> states,
    std::initializer_list<AtspiRole> roles, gint count, AXError& code, bool lacking,
    bool childrenOnly) {
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

namespace {

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

bool leavesOutLayoutViews(AtspiSession& session, AtspiAccessible* object) {
  return session.toolkitOf(object) == LAYOUT_VIEWS_TOOLKIT;
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

}  // namespace

// The object itself, or when it is left out its nearest ancestor that is not.
Ref<AtspiAccessible> shownSelfOrAncestor(AtspiSession& session, Ref<AtspiAccessible> object) {
  if (!object || !leavesOutLayoutViews(session, object.get())) return object;
  for (int step = 0; step < MAX_PARENT_STEPS && isLeftOut(object.get()); ++step) {
    Ref<AtspiAccessible> parent(atspi_accessible_get_parent(object.get(), nullptr));
    if (!parent) break;
    object = std::move(parent);
  }
  return object;
}

namespace {

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
AXError appendChildren(AtspiSession& session, AtspiAccessible* object, gint count, bool view,
                       int depth, AXArray& children) {
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
      appendChildren(session, child.get(), -1, true, depth + 1, children);
      continue;
    }
    children.emplace_back(session.adopt(child.release()));
  }
  return AXErrorCode::success;
}

}  // namespace

// A page's children are all the page's, so only a view's are looked at.
Answer childrenOf(AtspiSession& session, AtspiAccessible* object) {
  GError* error = nullptr;
  const gint count = atspi_accessible_get_child_count(object, &error);
  if (AXError code = take(error)) return failed(code);
  if (count <= 0) return {AXErrorCode::success, AXArray{}};
  const bool view = leavesOutLayoutViews(session, object) && isBrowserView(object);
  AXArray children;
  if (AXError code = appendChildren(session, object, count, view, 0, children)) return failed(code);
  return {AXErrorCode::success, std::move(children)};
}

// The parent, except that applications have none: above them is the bus's
// desktop, which stands for no element of the model.
Answer parentOf(AtspiSession& session, AtspiAccessible* object, const Facts& facts) {
  if (facts.role == ATSPI_ROLE_APPLICATION) return failed(AXErrorCode::noValue);
  GError* error = nullptr;
  Ref<AtspiAccessible> parent(atspi_accessible_get_parent(object, &error));
  if (AXError code = take(error)) return failed(code);
  if (!parent) return failed(AXErrorCode::noValue);
  parent = shownSelfOrAncestor(session, std::move(parent));
  if (atspi_accessible_get_role(parent.get(), nullptr) == ATSPI_ROLE_DESKTOP_FRAME) {
    return failed(AXErrorCode::noValue);
  }
  return {AXErrorCode::success, session.adopt(parent.release())};
}

BusTree::Node BusTree::add(Ref<AtspiAccessible> object) {
  if (!object) return nullptr;
  kept_.push_back(std::move(object));
  return kept_.back().get();
}

void BusTree::keep(GError*& error) {
  AXError code = take(error);
  if (code && !error_) error_ = code;
}

int BusTree::role(Node node) {
  GError* error = nullptr;
  const AtspiRole role = atspi_accessible_get_role(object(node), &error);
  keep(error);
  return role;
}

AtspiTreeWalk::NodeStates BusTree::states(Node node) {
  Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object(node)));
  auto has = [&](AtspiStateType state) {
    return states && atspi_state_set_contains(states.get(), state);
  };
  return {.editable = has(ATSPI_STATE_EDITABLE),
          .focusable = has(ATSPI_STATE_FOCUSABLE),
          .showing = has(ATSPI_STATE_SHOWING)};
}

std::optional<Rect> BusTree::extents(Node node) {
  Ref<AtspiComponent> component(atspi_accessible_get_component_iface(object(node)));
  if (!component) return std::nullopt;
  GError* error = nullptr;
  std::unique_ptr<AtspiRect, Free> rect(
      atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, &error));
  keep(error);
  if (!rect || rect->width <= 0 || rect->height <= 0) return std::nullopt;
  return Rect{{static_cast<double>(rect->x), static_cast<double>(rect->y)},
              {static_cast<double>(rect->width), static_cast<double>(rect->height)}};
}

BusTree::Node BusTree::parent(Node node) {
  GError* error = nullptr;
  Ref<AtspiAccessible> parent(atspi_accessible_get_parent(object(node), &error));
  keep(error);
  if (!parent || atspi_accessible_get_role(parent.get(), nullptr) == ATSPI_ROLE_DESKTOP_FRAME) {
    return nullptr;
  }
  return add(std::move(parent));
}

int BusTree::childCount(Node node) {
  GError* error = nullptr;
  const gint count = atspi_accessible_get_child_count(object(node), &error);
  keep(error);
  return std::max(count, 0);
}

BusTree::Node BusTree::child(Node node, int index) {
  GError* error = nullptr;
  Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(object(node), index, &error));
  keep(error);
  return add(std::move(child));
}

// An answer without a role is the toolkit's placeholder for nothing.
BusTree::Node BusTree::childAtPoint(Node node, Point point) {
  Ref<AtspiComponent> component(atspi_accessible_get_component_iface(object(node)));
  if (!component) return nullptr;
  GError* error = nullptr;
  Ref<AtspiAccessible> child(atspi_component_get_accessible_at_point(
      component.get(), static_cast<gint>(point.x), static_cast<gint>(point.y),
      ATSPI_COORD_TYPE_SCREEN, &error));
  g_clear_error(&error);
  if (!child || atspi_accessible_get_role(child.get(), nullptr) == ATSPI_ROLE_INVALID) {
    return nullptr;
  }
  return add(std::move(child));
}

Answer windowOf(AtspiSession& session, AtspiAccessible* object) {
  BusTree tree;
  const BusTree::Node window =
      AtspiTreeWalk::windowOf(tree, tree.add(Ref<AtspiAccessible>(newRef(object))));
  if (!window) return failed(tree.error() ? tree.error() : AXErrorCode::noValue);
  return {AXErrorCode::success, session.adopt(newRef(BusTree::object(window)))};
}

// The window an application shows in front: the active one, or for the main
// window, failing that, the first one showing.
Answer windowOfApplication(AtspiSession& session, AtspiAccessible* app, bool activeOnly) {
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
      return {AXErrorCode::success, session.adopt(window.release())};
    }
    if (!showing && atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING)) {
      showing = std::move(window);
    }
  }
  if (activeOnly || !showing) return failed(AXErrorCode::noValue);
  return {AXErrorCode::success, session.adopt(showing.release())};
}

namespace {

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
Answer focusedByWalk(AtspiSession& session, AtspiAccessible* window) {
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
  return {AXErrorCode::success, session.adopt(focus.release())};
}

}  // namespace

// The focused object of an application: the deepest object of its active
// window that is both focused and focusable. Toolkits leave the focused state
// behind on objects that cannot take focus (a tab button, a panel, the
// documents of windows in the background), and a focused editor may hold
// focused parts. One request through the collection interface where the
// toolkit offers it.
Answer focusedUnder(AtspiSession& session, AtspiAccessible* app) {
  Answer window = windowOfApplication(session, app, true);
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
    return focusedByWalk(session, windowRef->object);
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
  return {AXErrorCode::success, session.adopt((*matches)[deepest].release())};
}

// The application in front: the window system's answer, else the first
// application with an active window.
std::int32_t frontmostPid(AtspiSession& session,
                          const AtspiAccessibility::FrontmostProcess& frontmost) {
  if (auto pid = frontmost()) return *pid;
  Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
  if (!desktop) return 0;
  const gint count = atspi_accessible_get_child_count(desktop.get(), nullptr);
  for (gint i = 0; i < count; ++i) {
    Ref<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
    if (app && windowOfApplication(session, app.get(), true).error == AXErrorCode::success) {
      return session.processOf(app.get());
    }
  }
  return 0;
}

}  // namespace nolari::platform::atspi
