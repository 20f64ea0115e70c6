// Focus notices: one bus listener for every observer, each observer watching
// one process.

#include <atspi/atspi.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/RunLoop.h"
#include "platform/atspi/AtspiInternal.h"
#include "platform/atspi/AtspiSession.h"

namespace nolari::platform {

namespace {

using atspi::Kind;
using atspi::refOf;

constexpr const char* FOCUS_CHANGED = "AXFocusedUIElementChanged";
// How long an observed application that is not on the bus yet is waited for,
// asking again after 25, 50, 100… ms.
constexpr std::chrono::milliseconds NEW_APPLICATION_WAIT{2000};
constexpr std::chrono::milliseconds NEW_APPLICATION_FIRST_WAIT{25};

bool processRuns(std::int32_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

void AtspiAccessibility::Observers::deliver(AtspiAccessible* source) {
  if (all.empty()) return;
  const auto watching = all.of(AtspiSession::shared().processOf(source));
  if (watching.empty()) return;
  // A focus event from a left-out view tells of the view that shows it.
  atspi::Ref<AtspiAccessible> shown =
      atspi::shownSelfOrAncestor(atspi::Ref<AtspiAccessible>(atspi::newRef(source)));
  for (const auto& observer : watching) {
    if (!observer->watchesFocus() || !observer->isScheduled()) continue;
    observer->post(AtspiElementRef::adopt(atspi::newRef(shown.get())), FOCUS_CHANGED);
  }
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
