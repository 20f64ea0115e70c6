#include "platform/sim/Accessibility.h"

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <unistd.h>

namespace nolari::platform {

SimAccessibility::SimAccessibility(std::shared_ptr<SimDesktop> desktop)
    : desktop_(std::move(desktop)) {
  if (const char* file = std::getenv("NOLARI_SIM_COUNTS"); file && *file) countsFile_ = file;
}

namespace {

nlohmann::json countsJSON(
    const std::map<std::string, std::map<std::string, std::uint64_t, std::less<>>, std::less<>>&
        counts) {
  nlohmann::json out = nlohmann::json::object();
  for (const auto& [operation, byName] : counts) {
    nlohmann::json entry = nlohmann::json::object();
    for (const auto& [name, n] : byName) entry[name] = n;
    out[operation] = std::move(entry);
  }
  return out;
}

}  // namespace

nlohmann::json SimAccessibility::counts() const {
  std::lock_guard lock(countsMutex_);
  return countsJSON(counts_);
}

void SimAccessibility::resetCounts() {
  std::lock_guard lock(countsMutex_);
  counts_.clear();
}

// Written after every request, whole and in one rename, so the file is right
// however the process ends.
void SimAccessibility::count(const char* operation, std::string_view attribute) {
  std::lock_guard lock(countsMutex_);
  auto& byName = counts_[operation];
  ++byName["total"];
  if (!attribute.empty()) ++byName[std::string(attribute)];
  if (countsFile_.empty()) return;
  const std::string temp = countsFile_ + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return;
    out << countsJSON(counts_).dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  }
  std::error_code ignored;
  std::filesystem::rename(temp, countsFile_, ignored);
}

bool SimAccessibility::isProcessTrusted(bool prompt) {
  count("isProcessTrusted", prompt ? "prompt" : "");
  return desktop_->trusted();
}

AXUIElement SimAccessibility::createSystemWide() { return desktop_->systemWideElement(); }

AXUIElement SimAccessibility::createApplication(std::int32_t pid) {
  return desktop_->applicationElement(pid);
}

AXError SimAccessibility::copyAttributeValue(const AXUIElement& element,
                                             std::string_view attribute, AXValue& value) {
  count("copyAttributeValue", attribute);
  SimAnswer answer = desktop_->copyAttributeValue(element, attribute);
  if (answer.error == AXErrorCode::success) value = std::move(answer.value);
  return answer.error;
}

AXError SimAccessibility::isAttributeSettable(const AXUIElement& element,
                                              std::string_view attribute, bool& settable) {
  count("isAttributeSettable", attribute);
  SimAnswer answer = desktop_->isAttributeSettable(element, attribute);
  if (answer.error == AXErrorCode::success) settable = *answer.value.get<bool>();
  return answer.error;
}

AXError SimAccessibility::setAttributeValue(const AXUIElement& element,
                                            std::string_view attribute, const AXValue& value) {
  count("setAttributeValue", attribute);
  return desktop_->setAttributeValue(element, attribute, value);
}

AXError SimAccessibility::copyParameterizedAttributeValue(const AXUIElement& element,
                                                          std::string_view attribute,
                                                          const AXValue& parameter,
                                                          AXValue& value) {
  count("copyParameterizedAttributeValue", attribute);
  SimAnswer answer = desktop_->copyParameterizedAttributeValue(element, attribute, parameter);
  if (answer.error == AXErrorCode::success) value = std::move(answer.value);
  return answer.error;
}

AXError SimAccessibility::copyElementAtPosition(const AXUIElement& element, float x, float y,
                                                AXUIElement& found) {
  count("copyElementAtPosition");
  return desktop_->copyElementAtPosition(element, Point{x, y}, found);
}

AXError SimAccessibility::getPid(const AXUIElement& element, std::int32_t& pid) {
  count("getPid");
  return desktop_->getPid(element, pid);
}

AXError SimAccessibility::setMessagingTimeout(const AXUIElement& element, float seconds) {
  count("setMessagingTimeout");
  return desktop_->setMessagingTimeout(element, seconds);
}

AXError SimAccessibility::createObserver(std::int32_t pid, AXObserverCallback callback,
                                         std::shared_ptr<AXObserver>& observer) {
  count("createObserver");
  return desktop_->createObserver(pid, std::move(callback), observer);
}

AXError SimAccessibility::addNotification(AXObserver& observer, const AXUIElement& element,
                                          std::string_view notification) {
  count("addNotification", notification);
  return desktop_->addNotification(observer, element, notification);
}

void SimAccessibility::scheduleObserver(AXObserver& observer, RunLoop& runLoop) {
  desktop_->scheduleObserver(observer, runLoop);
}

void SimAccessibility::unscheduleObserver(AXObserver& observer) {
  desktop_->unscheduleObserver(observer);
}

}  // namespace nolari::platform
