#pragma once

// What the accessibility backend's files share: the answer of one read, the
// facts about an object its judgements start from, and the reads one concern
// makes of another. Session thread only, like the bus library.

#include <atspi/atspi.h>

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Notices.h"
#include "platform/atspi/Accessibility.h"
#include "platform/atspi/AtspiMapping.h"
#include "platform/atspi/AtspiRef.h"
#include "platform/atspi/AtspiSession.h"
#include "platform/atspi/AtspiTreeWalk.h"

namespace nolari::platform {

namespace atspi {

using Kind = AtspiElementRef::Kind;

// Bounds on what one request reads from another application.
inline constexpr gint MAX_CHILDREN_READ = 1000;

struct Answer {
  AXError error = AXErrorCode::success;
  AXValue value;
};

inline Answer failed(AXError error) { return {error, {}}; }

template <class T>
using Ref = AtspiRef<T>;
using Free = AtspiFree;
using Text = AtspiString;

// Reads the error a call left and clears it; success when there was none.
inline AXError take(GError*& error) {
  if (!error) return AXErrorCode::success;
  AXError code = AtspiMapping::errorFromMessage(error->message ? error->message : "");
  g_clear_error(&error);
  return code;
}

inline AtspiAccessible* newRef(AtspiAccessible* object) {
  return static_cast<AtspiAccessible*>(g_object_ref(object));
}

inline const AtspiElementRef* refOf(const AXUIElement& element) {
  return element.as<AtspiElementRef>();
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

// Attributes (AtspiAttributes.cpp).
AXError factsOf(AtspiAccessible* object, Facts& facts, bool withStates);
Answer valueOf(AtspiAccessible* object, const Facts& facts);
Answer readAttribute(AtspiSession& session, const AtspiElementRef& ref,
                     const std::string& attribute,
                     const AtspiAccessibility::FrontmostProcess& frontmost);

// Text (AtspiText.cpp).
Answer textOf(AtspiAccessible* object);
Answer selectedText(AtspiAccessible* object, bool asRange);
Answer boundsForRange(const AtspiElementRef& ref, const TextRange& range);

// The tree (AtspiTree.cpp).
std::optional<std::vector<Ref<AtspiAccessible>>> matchesUnder(
    AtspiAccessible* scope, std::initializer_list<AtspiStateType> states,
    std::initializer_list<AtspiRole> roles, gint count, AXError& code, bool lacking = false,
    bool childrenOnly = false);
Ref<AtspiAccessible> shownSelfOrAncestor(AtspiSession& session, Ref<AtspiAccessible> object);
Answer childrenOf(AtspiSession& session, AtspiAccessible* object);
Answer parentOf(AtspiSession& session, AtspiAccessible* object, const Facts& facts);
Answer windowOf(AtspiSession& session, AtspiAccessible* object);
Answer windowOfApplication(AtspiSession& session, AtspiAccessible* app, bool activeOnly);
Answer focusedUnder(AtspiSession& session, AtspiAccessible* app);
std::int32_t frontmostPid(AtspiSession& session,
                          const AtspiAccessibility::FrontmostProcess& frontmost);

// The bus's tree as AtspiTreeWalk's walks read it. The objects it hands out
// stay referenced as long as the view; the first failed read is kept, so that
// a walk cut short by an object gone tells of it.
class BusTree : public AtspiTreeWalk::TreeView {
 public:
  Node add(Ref<AtspiAccessible> object);
  static AtspiAccessible* object(Node node) {
    return static_cast<AtspiAccessible*>(const_cast<void*>(node));
  }
  AXError error() const { return error_; }

  int role(Node node) override;
  AtspiTreeWalk::NodeStates states(Node node) override;
  std::optional<Rect> extents(Node node) override;
  // Above an application, only the bus's desktop.
  Node parent(Node node) override;
  int childCount(Node node) override;
  Node child(Node node, int index) override;
  Node childAtPoint(Node node, Point point) override;

 private:
  void keep(GError*& error);
  std::vector<Ref<AtspiAccessible>> kept_;
  AXError error_ = AXErrorCode::success;
};

// Writing (AtspiWriting.cpp).
Answer valueSettable(const AtspiElementRef& ref, bool withKeyboard);
AXError writeValue(AtspiSession& session, const AtspiElementRef& ref, const std::string& value,
                   const AtspiAccessibility::FrontmostProcess& frontmost,
                   AtspiAccessibility::Keyboard* keyboard);

// Hit testing (AtspiHitTest.cpp).
AXError elementAt(AtspiSession& session, const AtspiElementRef& ref, gint x, gint y,
                  AXUIElement& found, const AtspiAccessibility::FrontmostProcess& frontmost,
                  const AtspiAccessibility::ProcessAt& processAt);

}  // namespace atspi

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

  void deliver(AtspiSession& session, AtspiAccessible* source);
};

}  // namespace nolari::platform
