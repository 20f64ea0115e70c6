#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/Accessibility.h"
#include "platform/Notices.h"
#include "platform/RunLoop.h"
#include "platform/Workspace.h"
#include "platform/sim/Scene.h"
#include "platform/sim/SceneFile.h"
#include "platform/sim/Windowing.h"

// The simulated desktop: the state a scene describes, shared by the simulated
// areas (accessibility, workspace, windowing) and the drive operations (SimControl), each
// of which lives in a file of its own. Safe to use from any thread: the state
// is only reached under the desktop's lock, and callbacks always run on a run
// loop, never under it.

namespace nolari::platform {

class SimObserver;
class SimEventTap;

// What a simulated element handle holds: which desktop, which application and
// which node (-1 the application itself); the system-wide element has no pid.
class SimElementRef : public AXElementRef {
 public:
  enum class Kind { systemWide, application, node };
  SimElementRef(const void* desktop, Kind kind, std::int32_t pid, int node)
      : desktop(desktop), kind(kind), pid(pid), node(node) {}
  bool isSameElement(const AXElementRef& other) const override;

  const void* desktop;
  Kind kind;
  std::int32_t pid;
  int node;
};

// A per-application notification source of the simulated desktop, with the
// notifications registered on it.
class SimObserver : public ScheduledObserver {
 public:
  using ScheduledObserver::ScheduledObserver;

  // False when the same element and notification were registered before.
  bool addRegistration(const AXUIElement& element, std::string_view notification);
  bool isRegistered(std::string_view notification) const;

 private:
  std::vector<std::pair<AXUIElement, std::string>> registrations_;
};

class SimDesktop : public std::enable_shared_from_this<SimDesktop> {
 public:
  using ActivationNotices = NoticeHandlers<std::optional<RunningApplication>>;
  using Notices = NoticeHandlers<>;
  using MouseDownNotices = NoticeHandlers<Point>;

  // What the scene describes and what was done to it since, reached only
  // through `withState`.
  struct State {
    SimSceneModel model;
    std::map<std::string, std::pair<std::int32_t, int>, std::less<>> ids;
    // Where written values are saved; none for a scene held in memory.
    std::optional<SimSceneFile> file;
    std::optional<AXError> failObserverCreate;
    std::optional<AXError> failAddNotification;
    float messagingTimeout = 0;
    // The taps last made, while their program holds them.
    std::weak_ptr<SimEventTap> keyboardTap;
    std::weak_ptr<SimEventTap> mouseTap;
    // What the applications received from the keyboard (see SimControl::typed).
    std::string typed;
    // The windows the program made.
    SimWindows windows;
    // A compositing manager runs.
    bool blendsTranslucency = true;

    SimApplication* appFor(std::int32_t pid);
    // The application of a handle while it runs and the node still exists.
    SimApplication* liveApp(const SimElementRef& ref);
  };

  // Loads a scene file; later writes of attribute values through the
  // accessibility interface are saved back to it. On failure returns null and
  // `error` names the file and what is wrong with it.
  static std::shared_ptr<SimDesktop> load(const std::string& path, std::string& error);
  // A scene held only in memory; writes are not saved anywhere.
  static std::shared_ptr<SimDesktop> fromJSON(const nlohmann::json& scene, std::string& error);

  // Runs `work` with the state, under the desktop's lock.
  template <class Work>
  auto withState(Work&& work) {
    std::lock_guard lock(mutex_);
    return work(state_);
  }

  // The loop on which activation and focus notices are delivered.
  void setMainRunLoop(RunLoop* loop);
  RunLoop* mainRunLoop();

  // Handles of this desktop's elements; an element handle of another desktop
  // is not its own.
  AXUIElement handle(std::int32_t pid, int node) const;
  AXUIElement systemWideElement() const;
  const SimElementRef* own(const AXUIElement& element) const;
  // The scene id of an element; call with the state held.
  std::optional<std::string> idOf(const State& state, const AXUIElement& element) const;

  const std::shared_ptr<ActivationNotices>& activationNotices() const { return activation_; }
  const std::shared_ptr<Notices>& screenChangeNotices() const { return screenChange_; }
  const std::shared_ptr<Notices>& wakeNotices() const { return wake_; }
  const std::shared_ptr<MouseDownNotices>& mouseDownNotices() const { return mouseDown_; }
  const std::shared_ptr<Notices>& translucencyNotices() const { return translucency_; }
  ObserverSet<SimObserver>& observers() { return observers_; }

 private:
  SimDesktop() = default;
  bool read(const nlohmann::json& scene, std::string& error);

  std::mutex mutex_;
  State state_;
  RunLoop* mainLoop_ = nullptr;
  std::shared_ptr<ActivationNotices> activation_ = ActivationNotices::make();
  std::shared_ptr<Notices> screenChange_ = Notices::make();
  std::shared_ptr<Notices> wake_ = Notices::make();
  std::shared_ptr<MouseDownNotices> mouseDown_ = MouseDownNotices::make();
  std::shared_ptr<Notices> translucency_ = Notices::make();
  ObserverSet<SimObserver> observers_;
};

}  // namespace nolari::platform
