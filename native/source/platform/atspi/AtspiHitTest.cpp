// Finding the element under a point of the screen.

#include <atspi/atspi.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/atspi/AtspiInternal.h"
#include "platform/atspi/AtspiSession.h"

namespace nolari::platform::atspi {

namespace {

bool windowContains(AtspiAccessible* window, gint x, gint y) {
  Ref<AtspiComponent> component(atspi_accessible_get_component_iface(window));
  if (!component) return false;
  Ref<AtspiStateSet> states(atspi_accessible_get_state_set(window));
  if (!atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING)) return false;
  return atspi_component_contains(component.get(), x, y, ATSPI_COORD_TYPE_SCREEN, nullptr);
}

}  // namespace

AXError elementAt(AtspiSession& session, const AtspiElementRef& ref, gint x, gint y,
                  AXUIElement& found, const AtspiAccessibility::FrontmostProcess& frontmost,
                  const AtspiAccessibility::ProcessAt& processAt) {
  std::vector<Ref<AtspiAccessible>> starts;
  if (ref.kind == Kind::object) {
    starts.emplace_back(newRef(ref.object));
  } else {
    // Through an application or the system-wide element: the windows of the
    // application in front first, then those of the others.
    std::vector<Ref<AtspiAccessible>> apps;
    if (ref.kind == Kind::application) {
      if (auto* app = session.applicationOf(ref.pid)) apps.emplace_back(app);
      if (apps.empty()) return AXErrorCode::invalidUIElement;
    } else {
      // The application whose window is on top there first, else the one in
      // front. Over this program's own windows no application's element is.
      const auto under = processAt ? processAt(x, y) : std::nullopt;
      if (under == ::getpid()) return AXErrorCode::noValue;
      const std::int32_t front = under.value_or(frontmostPid(session, frontmost));
      if (auto* app = front > 0 ? session.applicationOf(front) : nullptr) {
        apps.emplace_back(app);
      }
      Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
      const gint count = desktop ? atspi_accessible_get_child_count(desktop.get(), nullptr) : 0;
      for (gint i = 0; i < count; ++i) {
        Ref<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
        if (app && session.processOf(app.get()) != front) {
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
  // What the user sees there: the toolkit's answer, looked below where it
  // stops at a container and above where it lands inside a field.
  const Point point{static_cast<double>(x), static_cast<double>(y)};
  for (auto& start : starts) {
    BusTree tree;
    const BusTree::Node landing = AtspiTreeWalk::deepestAt(tree, tree.add(std::move(start)), point);
    const BusTree::Node field = AtspiTreeWalk::fieldAt(tree, landing);
    Ref<AtspiAccessible> shown = shownSelfOrAncestor(
        session, field ? Ref<AtspiAccessible>(newRef(BusTree::object(field))) : nullptr);
    if (shown) {
      found = session.adopt(shown.release());
      return AXErrorCode::success;
    }
  }
  return AXErrorCode::noValue;
}

}  // namespace nolari::platform::atspi
