#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/AXFocusResolver.h"

// Focus resolution on interfaces written here: the core needs no desktop.

namespace nolari {
namespace {

using platform::AXError;
using platform::AXUIElement;
using platform::AXValue;
namespace AXErrorCode = platform::AXErrorCode;

// Elements are names; equal names are the same element.
struct NamedRef : platform::AXElementRef {
  explicit NamedRef(std::string n) : name(std::move(n)) {}
  bool isSameElement(const AXElementRef& other) const override {
    const auto* named = dynamic_cast<const NamedRef*>(&other);
    return named && named->name == name;
  }
  std::string name;
};

AXUIElement element(const std::string& name) {
  return AXUIElement(std::make_shared<NamedRef>(name));
}

// Answers only "AXFocusedUIElement", from `focus`: element name to focused name.
class FakeAccessibility : public platform::Accessibility {
 public:
  std::map<std::string, std::string> focus;

  AXUIElement createSystemWide() override { return element("system"); }
  AXUIElement createApplication(std::int32_t pid) override {
    return element("app " + std::to_string(pid));
  }
  AXError copyAttributeValue(const AXUIElement& of, std::string_view attribute,
                             AXValue& value) override {
    auto found = focus.find(of.as<NamedRef>()->name);
    if (attribute != "AXFocusedUIElement" || found == focus.end()) return AXErrorCode::noValue;
    value = element(found->second);
    return AXErrorCode::success;
  }

  bool isProcessTrusted(bool) override { return true; }
  AXError isAttributeSettable(const AXUIElement&, std::string_view, bool&) override {
    return AXErrorCode::failure;
  }
  AXError setAttributeValue(const AXUIElement&, std::string_view, const AXValue&) override {
    return AXErrorCode::failure;
  }
  AXError copyParameterizedAttributeValue(const AXUIElement&, std::string_view, const AXValue&,
                                          AXValue&) override {
    return AXErrorCode::failure;
  }
  AXError copyElementAtPosition(const AXUIElement&, float, float, AXUIElement&) override {
    return AXErrorCode::failure;
  }
  AXError getPid(const AXUIElement&, std::int32_t&) override { return AXErrorCode::failure; }
  AXError setMessagingTimeout(const AXUIElement&, float) override { return AXErrorCode::failure; }
  AXError createObserver(std::int32_t, platform::AXObserverCallback,
                         std::shared_ptr<platform::AXObserver>&) override {
    return AXErrorCode::failure;
  }
  AXError addNotification(platform::AXObserver&, const AXUIElement&, std::string_view) override {
    return AXErrorCode::failure;
  }
  void scheduleObserver(platform::AXObserver&, platform::RunLoop&) override {}
  void unscheduleObserver(platform::AXObserver&) override {}
};

class FakeWorkspace : public platform::Workspace {
 public:
  std::optional<platform::RunningApplication> front;

  std::optional<platform::RunningApplication> frontmostApplication() override { return front; }
  std::optional<platform::RunningApplication> runningApplication(std::int32_t) override {
    return std::nullopt;
  }
  bool activate(const platform::RunningApplication&) override { return false; }
  std::vector<platform::Screen> screens() override { return {}; }
  std::optional<platform::Screen> mainScreen() override { return std::nullopt; }
  platform::Point mouseLocation() override { return {}; }
  ObserverToken addActivationObserver(ActivationHandler) override { return 0; }
  void removeActivationObserver(ObserverToken) override {}
};

TEST(FocusResolution, SystemWideFocusComesFirst) {
  FakeAccessibility ax;
  FakeWorkspace workspace;
  ax.focus = {{"system", "field"}, {"app 7", "other"}};
  workspace.front = platform::RunningApplication{7, {}, {}};
  EXPECT_EQ(AXFocusResolver::resolveFocusedElement(ax, workspace), element("field"));
}

TEST(FocusResolution, WithoutSystemWideFocusTheFrontmostApplicationAnswers) {
  FakeAccessibility ax;
  FakeWorkspace workspace;
  ax.focus = {{"app 7", "field"}};
  EXPECT_EQ(AXFocusResolver::resolveFocusedElement(ax, workspace), std::nullopt);
  workspace.front = platform::RunningApplication{7, {}, {}};
  EXPECT_EQ(AXFocusResolver::resolveFocusedElement(ax, workspace), element("field"));
}

}  // namespace
}  // namespace nolari
