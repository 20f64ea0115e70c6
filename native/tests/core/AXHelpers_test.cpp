#include "core/AXHelpers.h"

#include <gtest/gtest.h>

#include "support/SimPlatform.h"

namespace nolari {
namespace {

using nlohmann::json;
namespace AXErrorCode = platform::AXErrorCode;
using platform::AXValue;

// One application with a window holding a single element whose attributes
// the test chooses.
json sceneWith(json field) {
  field["id"] = "field";
  return json{
      {"applications",
       {{{"pid", 42},
         {"windows", {{{"id", "window"}, {"AXRole", "AXWindow"}, {"children", {field}}}}}}}}};
}

TEST(AXHelpersStrings, ConvertsNumbersBooleansAndURLs) {
  test::SimPlatform sim(sceneWith({{"AXValue", 3},
                                   {"AXTitle", true},
                                   {"AXHelp", false},
                                   {"AXDescription", 2.5},
                                   {"AXPlaceholderValue", 0.1},
                                   {"AXRoleDescription", -7},
                                   {"AXDocument", {{"url", "file:///tmp/a.txt"}}},
                                   {"AXSelectedText", ""},
                                   {"AXTitleUIElement", {{"ref", "window"}}},
                                   {"AXSelectedTextRange", {{"range", {1, 2}}}},
                                   {"AXChildren", json::array({"a", "b"})}}));
  auto field = sim.desktop().element("field");
  auto& ax = sim.accessibility();
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXValue"), "3");
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXTitle"), "1");
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXHelp"), "0");
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXDescription"), "2.5");
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXPlaceholderValue"), "0.1");
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXRoleDescription"), "-7");
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXDocument"), "file:///tmp/a.txt");
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXSelectedText"), "");
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXTitleUIElement"), std::nullopt);
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXSelectedTextRange"), std::nullopt);
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXChildren"), std::nullopt);
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXMissing"), std::nullopt);
}

TEST(AXHelpersStrings, LargeWholeNumbersKeepAllDigits) {
  EXPECT_EQ(AXHelpers::stringFromValue(AXValue(1e20)), "100000000000000000000");
  EXPECT_EQ(AXHelpers::stringFromValue(AXValue(1.0 / 3)), "0.3333333333333333");
  EXPECT_EQ(AXHelpers::stringFromValue(AXValue(platform::AXURL{""})), std::nullopt);
}

// The reading of the element "field" on a scene's own desktop.
std::optional<std::string> url(test::SimPlatform& sim) {
  return AXHelpers::getURLAttribute(sim.accessibility(), sim.desktop().element("field"));
}
std::optional<platform::Rect> frame(test::SimPlatform& sim) {
  return AXHelpers::getFrame(sim.accessibility(), sim.desktop().element("field"));
}

TEST(AXHelpersURLs, EmptyOrAbsentURLIsNothing) {
  test::SimPlatform empty(sceneWith({{"AXURL", ""}}));
  EXPECT_EQ(url(empty), std::nullopt);

  test::SimPlatform noAbsolute(sceneWith({{"AXURL", {{"url", ""}}}}));
  EXPECT_EQ(url(noAbsolute), std::nullopt);

  test::SimPlatform present(sceneWith({{"AXURL", {{"url", "https://example.org/"}}}}));
  EXPECT_EQ(url(present), "https://example.org/");
}

TEST(AXHelpersElements, OnlyElementValuesAreElements) {
  test::SimPlatform sim(sceneWith({{"AXTitleUIElement", {{"ref", "window"}}}, {"AXValue", "x"}}));
  auto field = sim.desktop().element("field");
  auto& ax = sim.accessibility();
  EXPECT_EQ(AXHelpers::getElementAttribute(ax, field, "AXTitleUIElement"),
            sim.desktop().element("window"));
  EXPECT_EQ(AXHelpers::getElementAttribute(ax, field, "AXValue"), std::nullopt);
}

TEST(AXHelpersBooleans, BooleansNumbersAndOthers) {
  test::SimPlatform sim(
      sceneWith({{"AXEnabled", false}, {"AXExpanded", 2}, {"AXHidden", 0}, {"AXValue", "1"}}));
  auto field = sim.desktop().element("field");
  auto& ax = sim.accessibility();
  EXPECT_EQ(AXHelpers::getBoolAttribute(ax, field, "AXEnabled"), false);
  EXPECT_EQ(AXHelpers::getBoolAttribute(ax, field, "AXExpanded"), true);
  EXPECT_EQ(AXHelpers::getBoolAttribute(ax, field, "AXHidden"), false);
  EXPECT_EQ(AXHelpers::getBoolAttribute(ax, field, "AXValue"), std::nullopt);
}

TEST(AXHelpersFrames, NeedsPointAndPositiveSize) {
  test::SimPlatform ok(sceneWith({{"frame", {10, 20, 30, 40}}}));
  EXPECT_EQ(frame(ok), (platform::Rect{{10, 20}, {30, 40}}));

  test::SimPlatform zeroWidth(sceneWith({{"frame", {10, 20, 0, 20}}}));
  EXPECT_EQ(frame(zeroWidth), std::nullopt);

  test::SimPlatform negativeHeight(sceneWith({{"frame", {10, 20, 30, -1}}}));
  EXPECT_EQ(frame(negativeHeight), std::nullopt);

  test::SimPlatform swapped(
      sceneWith({{"AXPosition", {{"size", {10, 20}}}}, {"AXSize", {{"point", {30, 40}}}}}));
  EXPECT_EQ(frame(swapped), std::nullopt);

  test::SimPlatform sizeFails(sceneWith({{"AXPosition", {{"point", {10, 20}}}},
                                         {"AXSize", {{"error", AXErrorCode::cannotComplete}}}}));
  EXPECT_EQ(frame(sizeFails), std::nullopt);
}

TEST(AXHelpersChildren, LimitCountsExaminedEntries) {
  json items = json::array();
  json elements = json::array();
  for (int i = 0; i < 100; ++i) {
    std::string id = "c";
    id += std::to_string(i);
    elements.push_back({{"id", id}});
    items.push_back(i == 2 ? json("not an element") : json{{"ref", id}});
  }
  test::SimPlatform sim(sceneWith({{"children", elements}, {"AXChildren", items}}));
  auto field = sim.desktop().element("field");
  auto& ax = sim.accessibility();

  auto children = AXHelpers::getChildren(ax, field);
  ASSERT_EQ(children.size(), 79u);
  EXPECT_EQ(children[1], sim.desktop().element("c1"));
  EXPECT_EQ(children[2], sim.desktop().element("c3"));
  EXPECT_EQ(AXHelpers::getChildren(ax, field, 3).size(), 2u);
  EXPECT_EQ(AXHelpers::getChildren(ax, field, 500).size(), 99u);

  sim.accessibility().resetCounts();
  EXPECT_TRUE(AXHelpers::getChildren(ax, field, 0).empty());
  EXPECT_TRUE(AXHelpers::getChildren(ax, field, -1).empty());
  EXPECT_EQ(sim.accessibility().counts(), json::object());
}

TEST(AXHelpersChildren, NonArrayOrUnreadableIsEmpty) {
  test::SimPlatform sim(sceneWith({{"AXChildren", "oops"}}));
  auto& ax = sim.accessibility();
  EXPECT_TRUE(AXHelpers::getChildren(ax, sim.desktop().element("field")).empty());
  EXPECT_TRUE(AXHelpers::getChildren(ax, platform::AXUIElement()).empty());
}

TEST(AXHelpersSettable, FailureReadsAsNotSettableAndSetPassesCodes) {
  test::SimPlatform sim(sceneWith(
      {{"AXValue", "a"},
       {"AXTitle", "t"},
       {"settable", {{"AXValue", true}, {"AXTitle", {{"error", AXErrorCode::cannotComplete}}}}},
       {"set_errors", {{"AXDescription", AXErrorCode::failure}}}}));
  auto field = sim.desktop().element("field");
  auto& ax = sim.accessibility();
  EXPECT_TRUE(AXHelpers::isAttributeSettable(ax, field, "AXValue"));
  EXPECT_FALSE(AXHelpers::isAttributeSettable(ax, field, "AXTitle"));
  EXPECT_FALSE(AXHelpers::isAttributeSettable(ax, field, "AXRole"));

  EXPECT_EQ(AXHelpers::setAttributeValue(ax, field, "AXValue", AXValue("b")), AXErrorCode::success);
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXValue"), "b");
  EXPECT_EQ(AXHelpers::setAttributeValue(ax, field, "AXDescription", AXValue("b")),
            AXErrorCode::failure);
  EXPECT_EQ(AXHelpers::setAttributeValue(ax, field, "AXTitle", AXValue("b")),
            AXErrorCode::attributeUnsupported);
}

TEST(AXHelpersFocus, FocusedOnlyWhenTrue) {
  json scene = sceneWith({{"AXRole", "AXTextField"}});
  scene["applications"][0]["windows"][0]["children"].push_back({{"id", "flag"}, {"AXFocused", 1}});
  scene["applications"][0]["windows"][0]["children"].push_back(
      {{"id", "broken"}, {"AXFocused", {{"error", AXErrorCode::cannotComplete}}}});
  test::SimPlatform sim(scene);
  auto& ax = sim.accessibility();
  EXPECT_FALSE(AXHelpers::isElementFocused(ax, sim.desktop().element("field")));
  EXPECT_TRUE(AXHelpers::isElementFocused(ax, sim.desktop().element("flag")));
  EXPECT_FALSE(AXHelpers::isElementFocused(ax, sim.desktop().element("broken")));

  ASSERT_TRUE(sim.desktop().focus("field"));
  EXPECT_TRUE(AXHelpers::isElementFocused(ax, sim.desktop().element("field")));
}

TEST(AXHelpersFailures, EveryPlatformErrorIsAbsent) {
  test::SimPlatform sim(sceneWith({{"AXValue", "v"}, {"frame", {1, 2, 3, 4}}}));
  auto field = sim.desktop().element("field");
  auto& ax = sim.accessibility();
  sim.desktop().setTrusted(false);
  EXPECT_EQ(AXHelpers::getRawAttribute(ax, field, "AXValue"), std::nullopt);
  EXPECT_EQ(AXHelpers::getFrame(ax, field), std::nullopt);
  sim.desktop().setTrusted(true);
  ASSERT_TRUE(sim.desktop().quitApplication(42));
  EXPECT_EQ(AXHelpers::getStringAttribute(ax, field, "AXValue"), std::nullopt);
  EXPECT_EQ(AXHelpers::setAttributeValue(ax, field, "AXValue", AXValue("x")),
            AXErrorCode::invalidUIElement);
}

}  // namespace
}  // namespace nolari
