#pragma once

#include "platform/Accessibility.h"

// The desktop's accessibility interface on Linux. The accessibility bus is not
// wired yet: the process reports itself untrusted and every request fails with
// `apiDisabled`, so programs behave as without permission.

namespace nolari::platform {

class LinuxAccessibility : public Accessibility {
 public:
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
};

}  // namespace nolari::platform
