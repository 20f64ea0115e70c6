#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/Accessibility.h"

// The desktop's accessibility interface on Linux: the accessibility bus
// (AT-SPI), read and written through its client library. The process counts
// as trusted when the bus can be reached. Every request is bounded in time;
// an unreachable bus makes every request fail at once with `apiDisabled`.
// A field is written through the bus where its toolkit takes text that way,
// else by selecting its text and typing over it on the keyboard; either way
// the write counts only once the field reads back what was written.
// Focus notices come from the bus's focus events, filtered to the observed
// application and delivered on the run loop the observer is scheduled on.
// Chromium's role-less layout views are left out of the tree, as the model
// never shows them.

namespace nolari::platform {

class AtspiSession;

class AtspiAccessibility : public Accessibility {
 public:
  // Which process owns the window in front, as the window system tells; the
  // bus itself does not know. Nothing when no window is active. Called on the
  // bus's own thread.
  using FrontmostProcess = std::function<std::optional<std::int32_t>()>;
  // Which process owns the window on top at a point (screen coordinates), as
  // the window system tells: the bus knows neither the windows' stacking nor
  // windows outside it, such as this program's own. Called on the bus's own
  // thread.
  using ProcessAt = std::function<std::optional<std::int32_t>(int x, int y)>;

  // The window system's keyboard, for toolkits that take no text over the
  // bus: keys go to the window with the keyboard focus. Called on the bus's
  // own thread.
  class Keyboard {
   public:
    virtual ~Keyboard() = default;
    // The toolkit's select-all key.
    virtual bool selectAll() = 0;
    // The key that deletes the selection.
    virtual bool erase() = 0;
    // Types the longest beginning of `text` the keyboard can take at once, a
    // line feed as Return; how many code points were typed, 0 for none.
    virtual std::size_t type(std::u32string_view text) = 0;
    // Ends what typing changed on the keyboard, once the application has
    // shown what was typed.
    virtual void restore() = 0;
  };

  // Every request goes through `session`. Without a keyboard, fields are
  // written through the bus alone.
  AtspiAccessibility(std::shared_ptr<AtspiSession> session, FrontmostProcess frontmost,
                     ProcessAt processAt, std::shared_ptr<Keyboard> keyboard = nullptr);
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
  std::shared_ptr<AtspiSession> session_;
  FrontmostProcess frontmost_;
  ProcessAt processAt_;
  std::shared_ptr<Keyboard> keyboard_;
  std::shared_ptr<Observers> observers_;
};

}  // namespace nolari::platform
