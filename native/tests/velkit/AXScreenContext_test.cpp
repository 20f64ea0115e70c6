#include "core/AXScreenContext.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/UnicodeText.h"
#include "support/SimPlatform.h"

namespace {

using nlohmann::json;
using nolari::test::SimPlatform;
namespace AXScreenContext = nolari::AXScreenContext;

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// One nameless application (pid 3) with one window holding `children`; the
// element with the id "focused" has focus.
json windowScene(const json& children, const json& window = json::object()) {
  json w = {
      {"id", "window"}, {"AXRole", "AXWindow"}, {"AXTitle", "Window"}, {"children", children}};
  w.update(window);
  return {{"applications", json::array({{{"pid", 3},
                                         {"AXTitle", nullptr},
                                         {"focused", "focused"},
                                         {"windows", json::array({w})}}})}};
}

json field(const std::string& id, json attributes = json::object()) {
  attributes["id"] = id;
  attributes["AXRole"] = "AXTextField";
  return attributes;
}

json node(const std::string& role, json attributes = json::object()) {
  attributes["AXRole"] = role;
  return attributes;
}

// Nested groups, outermost first, around `inner`.
json chain(const std::vector<json>& ancestors, const json& inner) {
  json n = inner;
  for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
    json outer = *it;
    outer["children"] = json::array({n});
    n = std::move(outer);
  }
  return n;
}

json build(SimPlatform& sim) {
  return AXScreenContext::build(sim.accessibility(), sim.desktop().element("focused"), 3);
}

TEST(AXScreenContextTrim, KeepsAtMost160UserPerceivedCharacters) {
  EXPECT_EQ(AXScreenContext::trim("   " + repeat("a", 300)), repeat("a", 160) + "…");
  EXPECT_EQ(AXScreenContext::trim(repeat("b", 160)), repeat("b", 160));
  // A thumbs-up with a skin tone, and a letter with a combining accent, are
  // one character each.
  EXPECT_EQ(AXScreenContext::trim(repeat("👍🏽", 200)), repeat("👍🏽", 160) + "…");
  EXPECT_EQ(AXScreenContext::trim(repeat("e\u0301", 160)), repeat("e\u0301", 160));
  EXPECT_EQ(nolari::UnicodeText::characterCount(AXScreenContext::trim(repeat("e\u0301", 170))),
            161u);
  EXPECT_EQ(AXScreenContext::trim("\t\u00a0 line\n\u2028"), "line");
}

TEST(AXScreenContext, ParentTitleIsTheTitleEvenWhenEmpty) {
  SimPlatform sim(windowScene(json::array({node(
      "AXGroup", {{"AXTitle", ""},
                  {"AXDescription", "Described"},
                  {"children", json::array({field("focused", {{"AXHelp", "  help "}})})}})})));
  const json context = build(sim);
  EXPECT_EQ(context["focused_parent_role"], "AXGroup");
  EXPECT_EQ(context["focused_parent_title"], "");
  EXPECT_EQ(context["focused_help"], "help");
  EXPECT_EQ(context["focused_value"], "");
}

TEST(AXScreenContext, NoParentAndNoWindowGiveEmptyValues) {
  SimPlatform sim(json::parse(R"({"applications": [{"pid": 3, "focused": "focused",
    "AXFocusedWindow": null, "AXMainWindow": null,
    "windows": [{"id": "focused", "AXRole": "AXTextField", "AXParent": null,
                 "children": [{"AXRole": "AXTextField", "AXTitle": "To", "AXValue": "x"}]}]}]})"));
  const json context = build(sim);
  EXPECT_EQ(context["focused_parent_role"], "");
  EXPECT_EQ(context["focused_parent_title"], "");
  EXPECT_EQ(context["breadcrumbs"], json::array());
  EXPECT_EQ(context["visible_texts"], json::array());
  EXPECT_FALSE(context.contains("compose_to"));
}

TEST(AXScreenContext, BreadcrumbsStopAtFourLabelsOrSixAncestors) {
  auto pane = [](const std::string& title) { return node("AXPane", {{"AXTitle", title}}); };
  {
    SimPlatform sim(windowScene(
        json::array({chain({pane("P1"), pane("P2"), pane("P3"), pane("P4"), pane("P5"), pane("P6")},
                           field("focused"))})));
    EXPECT_EQ(build(sim)["breadcrumbs"], json::array({"P6", "P5", "P4", "P3"}));
  }
  {
    // Six unlabelled layout ancestors use up the walk before the titled pane.
    SimPlatform sim(windowScene(
        json::array({chain({pane("Far"), node("AXGroup"), node("AXGroup"), node("AXSplitGroup"),
                            node("AXScrollArea"), node("AXGroup"), node("AXGroup")},
                           field("focused"))})));
    EXPECT_EQ(build(sim)["breadcrumbs"], json::array());
  }
  {
    // Labels equal to the field's value or already seen are left out; an
    // ancestor without a title gives its description.
    SimPlatform sim(windowScene(
        json::array({chain({pane("Draft"), node("AXPane", {{"AXDescription", "Editor"}}),
                            pane("Window"), pane(" Draft ")},
                           field("focused", {{"AXValue", "Draft"}}))})));
    EXPECT_EQ(build(sim)["breadcrumbs"], json::array({"Window", "Editor"}));
  }
}

json staticText(const std::string& text) { return node("AXStaticText", {{"AXValue", text}}); }

TEST(AXScreenContext, VisibleTextsBreadthFirstWithoutShortOrRepeatedTexts) {
  json children = json::array(
      {node("AXGroup", {{"children", json::array({staticText("Deeper")})}}), staticText("x"),
       staticText("First"), staticText("  First "), node("AXHeading", {{"AXTitle", "Heading"}}),
       node("AXButton", {{"AXTitle", "Not a text"}}), field("focused"),
       chain({node("AXGroup"), node("AXGroup"), node("AXGroup"), node("AXGroup")},
             node("AXGroup",
                  {{"children",
                    json::array({staticText("Level six"),
                                 node("AXGroup", {{"children", json::array({staticText(
                                                                   "Level seven")})}})})}}))});
  for (int i = 0; i < 20; ++i) children.push_back(staticText("Text " + std::to_string(i)));
  SimPlatform sim(windowScene(children));
  json texts = build(sim)["visible_texts"];
  EXPECT_EQ(texts.size(), 12u);
  EXPECT_EQ(texts[0], "First");
  EXPECT_EQ(texts[1], "Heading");
  EXPECT_EQ(texts[11], "Text 9");

  // With fewer texts the walk reaches level six, and no further.
  children.erase(children.end() - 20, children.end());
  SimPlatform small(windowScene(children));
  EXPECT_EQ(build(small)["visible_texts"],
            json::array({"First", "Heading", "Deeper", "Level six"}));
}

TEST(AXScreenContext, WalksTakeAtMost240ElementsAnd80ChildrenEach) {
  json outer = json::array({field("focused")});
  for (int i = 0; i < 100; ++i) {
    outer.push_back(node("AXGroup", {{"children", json::array()}}));
    for (int j = 0; j < 100; ++j) outer.back()["children"].push_back(node("AXGroup"));
  }
  SimPlatform sim(windowScene(outer));
  build(sim);
  const json reads = sim.accessibility().counts()["copyAttributeValue"];
  // Each walk reads the role and the children of the elements it takes;
  // the compose walk skips the focused field unread.
  EXPECT_EQ(reads["AXChildren"], 240 + 239);
  EXPECT_LE(reads["AXRole"].get<int>(), 240 + 239 + 3);
}

TEST(AXScreenContext, ComposeLabelsMatchByPrefixFirstFieldWins) {
  SimPlatform sim(windowScene(
      json::array(
          {field("empty_to", {{"AXTitle", "To"}, {"AXValue", "  "}}),
           field("today", {{"AXTitle", " TODAY "}, {"AXValue", "Monday"}}),
           field("later_to", {{"AXTitle", "To:"}, {"AXValue", "ignored@example.com"}}),
           node("AXTokenField", {{"AXDescription", "Bcc"}, {"AXValue", "boss@example.com"}}),
           node("AXStaticText", {{"AXTitle", "Subject"}, {"AXValue", "Not a field"}}),
           field("channel", {{"AXTitle", "Channel name"}, {"AXValue", repeat("c", 170)}}),
           chain({node("AXGroup"), node("AXGroup"), node("AXGroup"), node("AXGroup")},
                 node("AXGroup",
                      {{"children",
                        json::array({field("from", {{"AXTitle", "From"}, {"AXValue", "six"}}),
                                     node("AXGroup", {{"children",
                                                       json::array({field(
                                                           "cc", {{"AXTitle", "Cc"},
                                                                  {"AXValue", "seven"}})})}})})}})),
           field("focused", {{"AXTitle", "Thread"},
                             {"AXValue", "mine"},
                             {"children", json::array({field("inside", {{"AXTitle", "Subject"},
                                                                        {"AXValue", "in"}})})}})}),
      {{"AXDocument", ""}}));
  const json context = build(sim);
  // The empty To field stores nothing, so "Today" is the first to begin with "to".
  EXPECT_EQ(context["compose_to"], "Monday");
  EXPECT_EQ(context["compose_bcc"], "boss@example.com");
  EXPECT_EQ(context["compose_channel"], repeat("c", 160) + "…");
  EXPECT_EQ(context["compose_from"], "six");
  // Level seven ends the search; the focused field and what it holds are skipped.
  for (const char* key : {"compose_cc", "compose_subject", "compose_thread", "document_url"}) {
    EXPECT_FALSE(context.contains(key)) << key;
  }
}

}  // namespace
