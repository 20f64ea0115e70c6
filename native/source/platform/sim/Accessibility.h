#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Accessibility.h"
#include "platform/sim/Desktop.h"

// The accessibility interface of the simulated desktop. It counts every
// request by operation and by attribute, so benchmarks can see how many round
// trips a program makes; with NOLARI_SIM_COUNTS=<file> in the environment the
// counts are rewritten to that file after every request.

namespace nolari::platform {

class SimAccessibility : public Accessibility {
 public:
  explicit SimAccessibility(std::shared_ptr<SimDesktop> desktop);

  const std::shared_ptr<SimDesktop>& desktop() const { return desktop_; }
  // {"copyAttributeValue": {"total": 7, "AXRole": 3, ...}, "getPid": {"total": 1}, ...}
  nlohmann::json counts() const;
  void resetCounts();

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
  void count(const char* operation, std::string_view attribute = {});

  std::shared_ptr<SimDesktop> desktop_;
  mutable std::mutex countsMutex_;
  std::map<std::string, std::map<std::string, std::uint64_t, std::less<>>, std::less<>> counts_;
  std::string countsFile_;
};

}  // namespace nolari::platform
