#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Accessibility.h"
#include "platform/RunLoop.h"
#include "platform/Workspace.h"
#include "platform/sim/Scene.h"

// The simulated desktop: the state a scene file describes, shared by the
// simulated accessibility and workspace, plus the drive operations that tests
// and the control channel use to make things happen on it. Safe to use from
// any thread; callbacks always run on a run loop, never under the lock. What
// the drive operations change stays in memory; only values written through
// the accessibility interface are saved to the scene file.

namespace nolari::platform {

class SimObserver;

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

class SimDesktop : public std::enable_shared_from_this<SimDesktop> {
 public:
  // Loads a scene file; later writes of attribute values through the
  // accessibility interface are saved back to it. On failure returns null and
  // `error` names the file and what is wrong with it.
  static std::shared_ptr<SimDesktop> load(const std::string& path, std::string& error);
  // A scene held only in memory; writes are not saved anywhere.
  static std::shared_ptr<SimDesktop> fromJSON(const nlohmann::json& scene, std::string& error);

  // The loop on which activation notices are delivered.
  void setMainRunLoop(RunLoop* loop);

  // --- Drive operations -----------------------------------------------------
  // Brings an application to the front and delivers the activation notice.
  // False when no running application has the pid.
  bool activate(std::int32_t pid);
  // Delivers an activation notice that names no application.
  void announceActivationWithoutApplication();
  // Moves the owning application's focus to the element and notifies that
  // application's observers of "AXFocusedUIElementChanged".
  bool focus(const std::string& elementId);
  // Replaces an attribute's answer with a value in the scene notation (see
  // the README), e.g. "hello", {"point": [1, 2]} or {"error": -25204}.
  bool setAttribute(const std::string& elementId, const std::string& attribute,
                    const nlohmann::json& value, std::string& error);
  // The application is gone: reads on its elements fail, it is no longer
  // running, and if it was frontmost nothing is.
  bool quitApplication(std::int32_t pid);
  void failNextObserverCreate(AXError code);
  void failNextAddNotification(AXError code);
  void setMouseLocation(Point location);
  void setTrusted(bool trusted);
  // The handle of a scene element, or an empty handle for an unknown id.
  AXUIElement element(const std::string& elementId);
  // The time-out last set through the system-wide element (0: the default).
  float messagingTimeout();

  // --- What the simulated platform reads ------------------------------------
  bool trusted();
  AXUIElement systemWideElement();
  AXUIElement applicationElement(std::int32_t pid);
  SimAnswer copyAttributeValue(const AXUIElement& element, std::string_view attribute);
  SimAnswer isAttributeSettable(const AXUIElement& element, std::string_view attribute);
  AXError setAttributeValue(const AXUIElement& element, std::string_view attribute,
                            const AXValue& value);
  SimAnswer copyParameterizedAttributeValue(const AXUIElement& element, std::string_view attribute,
                                            const AXValue& parameter);
  AXError copyElementAtPosition(const AXUIElement& element, Point point, AXUIElement& found);
  AXError getPid(const AXUIElement& element, std::int32_t& pid);
  AXError setMessagingTimeout(const AXUIElement& element, float seconds);

  AXError createObserver(std::int32_t pid, AXObserverCallback callback,
                         std::shared_ptr<AXObserver>& observer);
  AXError addNotification(AXObserver& observer, const AXUIElement& element,
                          std::string_view notification);
  void scheduleObserver(AXObserver& observer, RunLoop& runLoop);
  void unscheduleObserver(AXObserver& observer);

  std::optional<RunningApplication> frontmostApplication();
  std::optional<RunningApplication> runningApplication(std::int32_t pid);
  std::vector<Screen> screens();
  std::optional<Screen> mainScreen();
  Point mouseLocation();
  Workspace::ObserverToken addActivationObserver(Workspace::ActivationHandler handler);
  void removeActivationObserver(Workspace::ObserverToken token);

 private:
  SimDesktop() = default;
  bool read(const nlohmann::json& scene, std::string& error);
  AXUIElement handle(std::int32_t pid, int node) const;
  SimAnswer answerLocked(const AXUIElement& element, std::string_view attribute);
  const SimElementRef* own(const AXUIElement& element) const;
  SimApplication* appFor(std::int32_t pid);
  SimApplication* liveApp(const SimElementRef& ref);
  std::optional<std::string> idOf(const AXUIElement& element) const;
  SimAnswer derivedApplicationAnswer(const SimApplication& app, std::string_view attribute) const;
  SimAnswer derivedNodeAnswer(const SimApplication& app, int node,
                              std::string_view attribute) const;
  int windowOf(const SimApplication& app, int node) const;
  std::optional<Rect> frameOf(const SimNode& node) const;
  int hitTest(const SimApplication& app, int node, Point point) const;
  bool persist(const SimNode& node, std::string_view attribute, const AXValue& value,
               std::string& error);
  void deliverActivation(std::optional<RunningApplication> app);

  mutable std::mutex mutex_;
  SimSceneModel model_;
  std::map<std::string, std::pair<std::int32_t, int>, std::less<>> ids_;
  // The scene file's document, members in their written order, plus every
  // value written since.
  nlohmann::ordered_json document_;
  std::string path_;
  RunLoop* mainLoop_ = nullptr;
  std::map<Workspace::ObserverToken, Workspace::ActivationHandler> activationObservers_;
  Workspace::ObserverToken nextToken_ = 1;
  std::vector<std::weak_ptr<SimObserver>> observers_;
  std::optional<AXError> failObserverCreate_;
  std::optional<AXError> failAddNotification_;
  float messagingTimeout_ = 0;
};

}  // namespace nolari::platform
