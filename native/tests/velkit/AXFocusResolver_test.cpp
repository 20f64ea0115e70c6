#include "core/AXFocusResolver.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/SimPlatform.h"

namespace {

using nlohmann::json;
using nolari::test::SimPlatform;
namespace AXFocusResolver = nolari::AXFocusResolver;

TEST(AXFocusResolver, FocusedTextInputNamedByTheNoticeIsTakenAsItIs) {
  SimPlatform sim("mail_compose");
  auto& ax = sim.accessibility();
  const auto notes = sim.desktop().element("note_text");
  EXPECT_EQ(AXFocusResolver::resolveFocusedElement(ax, notes, 502), notes);
  EXPECT_FALSE(sim.accessibility().counts()["copyAttributeValue"].contains("AXFocusedUIElement"));
  // Not focused, or not a text input: the system-wide focus decides.
  const auto body = sim.desktop().element("body");
  EXPECT_EQ(AXFocusResolver::resolveFocusedElement(ax, sim.desktop().element("to_field"), 501),
            body);
  EXPECT_EQ(AXFocusResolver::resolveFocusedElement(ax, ax.createApplication(501), 501), body);
}

// The field's own window has an empty title; the application names its
// focused and main windows explicitly.
json titledWindowsScene(const std::string& focusedWindowTitle) {
  json scene = json::parse(R"({"applications": [{"pid": 9,
    "AXFocusedWindow": {"ref": "second"}, "AXMainWindow": {"ref": "third"},
    "windows": [
      {"id": "first", "AXRole": "AXWindow", "AXTitle": "",
       "children": [{"id": "field", "AXRole": "AXTextField"}]},
      {"id": "second", "AXRole": "AXWindow"},
      {"id": "third", "AXRole": "AXWindow", "AXTitle": "Main"}]}]})");
  scene["applications"][0]["windows"][1]["AXTitle"] = focusedWindowTitle;
  return scene;
}

// The title the field's window gives, on a scene whose application's focused
// window has the title `focusedWindowTitle`.
std::string windowTitle(const std::string& focusedWindowTitle) {
  SimPlatform sim(titledWindowsScene(focusedWindowTitle));
  return AXFocusResolver::resolveWindowTitle(sim.accessibility(), sim.desktop().element("field"),
                                             9);
}

TEST(AXFocusResolver, WindowTitleFallsThroughEmptyTitles) {
  EXPECT_EQ(windowTitle("Focused"), "Focused");
  EXPECT_EQ(windowTitle(""), "Main");
}

}  // namespace
