#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Accessibility.h"

// The desktop's accessibility interface on Linux: the accessibility bus
// (AT-SPI), read and written through its client library. The process counts
// as trusted when the bus can be reached. Every request is bounded in time;
// an unreachable bus makes every request fail at once with `apiDisabled`.
// Focus notices come from the bus's focus events, filtered to the observed
// application and delivered on the run loop the observer is scheduled on.
// Chromium's role-less layout views are left out of the tree, as the model
// never shows them.

namespace nolari::platform {

class AtspiAccessibility : public Accessibility {
 public:
  // Which process owns the window in front, as the window system tells; the
  // bus itself does not know. Nothing when no window is active. Called on the
  // bus's own thread.
  using FrontmostProcess = std::function<std::optional<std::int32_t>()>;

  explicit AtspiAccessibility(FrontmostProcess frontmost);
  ~AtspiAccessibility() override;

  bool isProcessTrusted(bool prompt) override;
  AXUIElement createSystemWide() override;
  AXUIElement createApplication(std::int32_t pid) override;
  AXError copyAttributeValue(const AXUIElement& element, std::string_view attribute,
                             AXValue& value) override;
  AXError isAttributeSettable(const AXUIElement& element, std::string_view attribute,
                              bool& settable) override;
  AXError setAttributeValue(const AXUIElement& element, std::string_view attribute,
                            const AXValue& value) override;
  AXError copyParameterizedAttributeValue(const AXUIElement& element, std::string_view attribute,
                                          const AXValue& parameter, AXValue& value) override;
  AXError copyElementAtPosition(const AXUIElement& element, float x, float y,
                                AXUIElement& found) override;
  AXError getPid(const AXUIElement& element, std::int32_t& pid) override;
  AXError setMessagingTimeout(const AXUIElement& element, float seconds) override;
  AXError createObserver(std::int32_t pid, AXObserverCallback callback,
                         std::shared_ptr<AXObserver>& observer) override;
  AXError addNotification(AXObserver& observer, const AXUIElement& element,
                          std::string_view notification) override;
  void scheduleObserver(AXObserver& observer, RunLoop& runLoop) override;
  void unscheduleObserver(AXObserver& observer) override;

 private:
  struct Observers;
  FrontmostProcess frontmost_;
  std::shared_ptr<Observers> observers_;
};

}  // namespace nolari::platform
