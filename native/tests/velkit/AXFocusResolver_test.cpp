#include "core/AXFocusResolver.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"
#include "support/SimPlatform.h"

namespace {

using nlohmann::json;
using nolari::test::SimPlatform;
namespace AXFocusResolver = nolari::AXFocusResolver;

int readsOf(SimPlatform& sim, const std::string& attribute) {
  const json counts = sim.accessibility().counts();
  if (!counts.contains("copyAttributeValue")) return 0;
  return counts["copyAttributeValue"].value(attribute, 0);
}

TEST(AXFocusResolver, FocusComesFromTheSystemWideElement) {
  SimPlatform sim("mail_compose");
  auto focused = AXFocusResolver::resolveFocusedElement();
  ASSERT_TRUE(focused);
  EXPECT_EQ(*focused, sim.desktop().element("body"));
}

TEST(AXFocusResolver, FallsBackToTheFrontmostApplication) {
  SimPlatform sim(json{
      {"system_wide", {{"AXFocusedUIElement", {{"error", -25204}}}}},
      {"applications",
       json::array(
           {{{"pid", 5},
             {"focused", "field"},
             {"windows",
              json::array({{{"AXRole", "AXWindow"},
                            {"children",
                             json::array({{{"id", "field"}, {"AXRole", "AXTextField"}}})}}})}}})}});
  auto focused = AXFocusResolver::resolveFocusedElement();
  ASSERT_TRUE(focused);
  EXPECT_EQ(*focused, sim.desktop().element("field"));
}

TEST(AXFocusResolver, NothingWithoutFrontmostApplication) {
  SimPlatform sim("no_frontmost");
  EXPECT_FALSE(AXFocusResolver::resolveFocusedElement());
}

TEST(AXFocusResolver, FocusedTextInputNamedByTheNoticeIsTakenAsItIs) {
  SimPlatform sim("mail_compose");
  const auto area = sim.desktop().element("note_text");
  auto focused = AXFocusResolver::resolveFocusedElement(area, 502);
  ASSERT_TRUE(focused);
  EXPECT_EQ(*focused, area);
  EXPECT_EQ(readsOf(sim, "AXFocusedUIElement"), 0);
}

TEST(AXFocusResolver, UnfocusedOrNonTextElementDefersToTheSystemWideFocus) {
  SimPlatform sim("mail_compose");
  auto focused = AXFocusResolver::resolveFocusedElement(sim.desktop().element("to_field"), 501);
  ASSERT_TRUE(focused);
  EXPECT_EQ(*focused, sim.desktop().element("body"));
  const auto app = nolari::platform::currentPlatform().accessibility->createApplication(501);
  focused = AXFocusResolver::resolveFocusedElement(app, 501);
  ASSERT_TRUE(focused);
  EXPECT_EQ(*focused, sim.desktop().element("body"));
}

TEST(AXFocusResolver, TextInputRolesAreExact) {
  for (const char* role : {"AXTextField", "AXTextArea", "AXComboBox", "AXSearchField",
                           "AXTextEntry", "AXTextEdit", "AXText", "AXTextView"}) {
    EXPECT_TRUE(AXFocusResolver::isTextInputRole(role)) << role;
  }
  EXPECT_EQ(AXFocusResolver::textInputRoles().size(), 8u);
  EXPECT_FALSE(AXFocusResolver::isTextInputRole("axtextfield"));
  EXPECT_FALSE(AXFocusResolver::isTextInputRole("AXSecureTextField"));
  EXPECT_FALSE(AXFocusResolver::isTextInputRole(""));
}

// The field's own window has an empty title; the application's focused window
// and main window are named explicitly.
json titledWindowsScene(const json& focusedWindowTitle) {
  return {{"applications",
           json::array(
               {{{"pid", 9},
                 {"AXFocusedWindow", {{"ref", "second"}}},
                 {"AXMainWindow", {{"ref", "third"}}},
                 {"windows",
                  json::array(
                      {{{"id", "first"},
                        {"AXRole", "AXWindow"},
                        {"AXTitle", ""},
                        {"children", json::array({{{"id", "field"}, {"AXRole", "AXTextField"}}})}},
                       {{"id", "second"}, {"AXRole", "AXWindow"}, {"AXTitle", focusedWindowTitle}},
                       {{"id", "third"}, {"AXRole", "AXWindow"}, {"AXTitle", "Main"}}})}}})}};
}

TEST(AXFocusResolver, WindowTitleFallsThroughEmptyTitles) {
  {
    SimPlatform sim(titledWindowsScene("Focused"));
    EXPECT_EQ(AXFocusResolver::resolveWindowTitle(sim.desktop().element("field"), 9), "Focused");
  }
  {
    SimPlatform sim(titledWindowsScene(""));
    EXPECT_EQ(AXFocusResolver::resolveWindowTitle(sim.desktop().element("field"), 9), "Main");
  }
  {
    SimPlatform sim("app_without_windows");
    const auto app = nolari::platform::currentPlatform().accessibility->createApplication(911);
    EXPECT_EQ(AXFocusResolver::resolveWindowTitle(app, 911), "");
  }
}

}  // namespace
