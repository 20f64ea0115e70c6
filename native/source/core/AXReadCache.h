#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Accessibility.h"

// An accessibility interface that answers a repeated read of the same
// attribute of the same element from memory, so a one-shot command pays each
// round trip to the target application once. Where focus is ("AXFocusedUIElement")
// is always asked afresh, and a write forgets what was read of its element.
// Meant for one command on one thread; it never expires anything by time.

namespace nolari {

class AXReadCache : public platform::Accessibility {
 public:
  explicit AXReadCache(std::unique_ptr<platform::Accessibility> inner);

  bool isProcessTrusted(bool prompt) override;
  platform::AXUIElement createSystemWide() override;
  platform::AXUIElement createApplication(std::int32_t pid) override;
  platform::AXError copyAttributeValue(const platform::AXUIElement& element,
                                       std::string_view attribute,
                                       platform::AXValue& value) override;
  platform::AXError isAttributeSettable(const platform::AXUIElement& element,
                                        std::string_view attribute, bool& settable) override;
  platform::AXError setAttributeValue(const platform::AXUIElement& element,
                                      std::string_view attribute,
                                      const platform::AXValue& value) override;
  platform::AXError copyParameterizedAttributeValue(const platform::AXUIElement& element,
                                                    std::string_view attribute,
                                                    const platform::AXValue& parameter,
                                                    platform::AXValue& value) override;
  platform::AXError copyElementAtPosition(const platform::AXUIElement& element, float x, float y,
                                          platform::AXUIElement& found) override;
  platform::AXError getPid(const platform::AXUIElement& element, std::int32_t& pid) override;
  platform::AXError setMessagingTimeout(const platform::AXUIElement& element,
                                        float seconds) override;
  platform::AXError createObserver(std::int32_t pid, platform::AXObserverCallback callback,
                                   std::shared_ptr<platform::AXObserver>& observer) override;
  platform::AXError addNotification(platform::AXObserver& observer,
                                    const platform::AXUIElement& element,
                                    std::string_view notification) override;
  void scheduleObserver(platform::AXObserver& observer, platform::RunLoop& runLoop) override;
  void unscheduleObserver(platform::AXObserver& observer) override;

 private:
  struct Answer {
    platform::AXError error;
    platform::AXValue value;
  };
  struct SettableAnswer {
    platform::AXError error;
    bool settable;
  };
  struct Entry {
    platform::AXUIElement element;
    std::map<std::string, Answer, std::less<>> values;
    std::map<std::string, SettableAnswer, std::less<>> settable;
  };
  // How widely a new handle is compared before it counts as a new element.
  // Children come fresh out of their parent's list, read once: only the few
  // elements reached another way (parents, windows, focus) can repeat them.
  enum class Reach { anyElement, reachedElsewhere };

  std::size_t entryFor(const platform::AXUIElement& element, Reach reach);
  void canonicalize(platform::AXValue& value);

  std::unique_ptr<platform::Accessibility> inner_;
  std::vector<Entry> entries_;
  // Handles are kept alive in `entries_` or `aliases_`, so no address is reused.
  std::unordered_map<const platform::AXElementRef*, std::size_t> byRef_;
  std::vector<platform::AXUIElement> aliases_;
  std::vector<std::size_t> reachedElsewhere_;
};

}  // namespace nolari
