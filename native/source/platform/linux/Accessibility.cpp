#include "platform/linux/Accessibility.h"

namespace nolari::platform {

bool LinuxAccessibility::isProcessTrusted(bool) { return false; }

AXUIElement LinuxAccessibility::createSystemWide() { return {}; }

AXUIElement LinuxAccessibility::createApplication(std::int32_t) { return {}; }

AXError LinuxAccessibility::copyAttributeValue(const AXUIElement&, std::string_view, AXValue&) {
  return AXErrorCode::apiDisabled;
}

AXError LinuxAccessibility::isAttributeSettable(const AXUIElement&, std::string_view, bool&) {
  return AXErrorCode::apiDisabled;
}

AXError LinuxAccessibility::setAttributeValue(const AXUIElement&, std::string_view,
                                              const AXValue&) {
  return AXErrorCode::apiDisabled;
}

AXError LinuxAccessibility::copyParameterizedAttributeValue(const AXUIElement&, std::string_view,
                                                            const AXValue&, AXValue&) {
  return AXErrorCode::apiDisabled;
}

AXError LinuxAccessibility::copyElementAtPosition(const AXUIElement&, float, float, AXUIElement&) {
  return AXErrorCode::apiDisabled;
}

AXError LinuxAccessibility::getPid(const AXUIElement&, std::int32_t&) {
  return AXErrorCode::apiDisabled;
}

AXError LinuxAccessibility::setMessagingTimeout(const AXUIElement&, float) {
  return AXErrorCode::apiDisabled;
}

AXError LinuxAccessibility::createObserver(std::int32_t, AXObserverCallback,
                                           std::shared_ptr<AXObserver>&) {
  return AXErrorCode::apiDisabled;
}

AXError LinuxAccessibility::addNotification(AXObserver&, const AXUIElement&, std::string_view) {
  return AXErrorCode::apiDisabled;
}

void LinuxAccessibility::scheduleObserver(AXObserver&, RunLoop&) {}

void LinuxAccessibility::unscheduleObserver(AXObserver&) {}

}  // namespace nolari::platform
