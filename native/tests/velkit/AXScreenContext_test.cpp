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

// One application (pid 3) with one window holding `children`; `focused` names
// the focused element.
json windowScene(const json& children, const std::string& focused,
                 const json& window = json::object()) {
  json w = {
      {"id", "window"}, {"AXRole", "AXWindow"}, {"AXTitle", "Window"}, {"children", children}};
  w.update(window);
  return {{"applications", json::array({{{"pid", 3},
                                         {"name", "App"},
                                         {"AXTitle", nullptr},
                                         {"focused", focused},
                                         {"windows", json::array({w})}}})}};
}

json field(const std::string& id, const json& attributes = json::object()) {
  json f = {{"id", id}, {"AXRole", "AXTextField"}};
  f.update(attributes);
  return f;
}

json staticText(const std::string& text) { return {{"AXRole", "AXStaticText"}, {"AXValue", text}}; }

json build(SimPlatform& sim, const std::string& focused = "focused") {
  return AXScreenContext::build(sim.desktop().element(focused), 3);
}

TEST(AXScreenContextTrim, KeepsAtMost160UserPerceivedCharacters) {
  EXPECT_EQ(AXScreenContext::trim("   " + repeat("a", 300)), repeat("a", 160) + "…");
  EXPECT_EQ(AXScreenContext::trim(repeat("b", 160)), repeat("b", 160));
  // A thumbs-up with a skin tone and an accented letter made of two code
  // points are one character each.
  EXPECT_EQ(AXScreenContext::trim(repeat("👍🏽", 200)), repeat("👍🏽", 160) + "…");
  EXPECT_EQ(AXScreenContext::trim(repeat("e\u0301", 160)), repeat("e\u0301", 160));
  EXPECT_EQ(nolari::UnicodeText::characterCount(AXScreenContext::trim(repeat("e\u0301", 170))),
            161u);
  EXPECT_EQ(AXScreenContext::trim("\t\u00a0 line\n\u2028"), "line");
  EXPECT_EQ(AXScreenContext::trim(" \n "), "");
}

TEST(AXScreenContext, FocusedTextsAreTrimmedAndMissingOnesEmpty) {
  SimPlatform sim(windowScene(
      json::array({field("focused", {{"AXValue", "  hello  "}, {"AXHelp", repeat("h", 200)}})}),
      "focused"));
  const json context = build(sim);
  EXPECT_EQ(context["focused_value"], "hello");
  EXPECT_EQ(context["focused_help"], repeat("h", 160) + "…");
  EXPECT_EQ(context["focused_label"], "");
  EXPECT_EQ(context["focused_placeholder"], "");
  EXPECT_EQ(context["focused_role_description"], "");
  EXPECT_EQ(context["focused_parent_role"], "AXWindow");
  EXPECT_EQ(context["focused_parent_title"], "Window");
}

TEST(AXScreenContext, ParentTitleIsTheTitleEvenWhenEmpty) {
  SimPlatform sim(windowScene(json::array({{{"AXRole", "AXGroup"},
                                            {"AXTitle", ""},
                                            {"AXDescription", "Described"},
                                            {"children", json::array({field("focused")})}}}),
                              "focused"));
  const json context = build(sim);
  EXPECT_EQ(context["focused_parent_role"], "AXGroup");
  EXPECT_EQ(context["focused_parent_title"], "");
}

TEST(AXScreenContext, ElementWithoutParentOrWindow) {
  SimPlatform sim(json{
      {"applications",
       json::array({{{"pid", 3},
                     {"focused", "focused"},
                     {"windows", json::array({field("focused", {{"AXParent", nullptr}})})}}})}});
  const json context = build(sim);
  EXPECT_EQ(context["focused_parent_role"], "");
  EXPECT_EQ(context["focused_parent_title"], "");
  EXPECT_EQ(context["breadcrumbs"], json::array());
  // The application's focused window is the field itself, which holds no texts.
  EXPECT_EQ(context["visible_texts"], json::array());
}

TEST(AXScreenContext, NoWindowAnywhereGivesEmptyTextsAndNoComposeKeys) {
  SimPlatform sim(json{
      {"applications",
       json::array(
           {{{"pid", 3},
             {"focused", "focused"},
             {"AXFocusedWindow", nullptr},
             {"AXMainWindow", nullptr},
             {"windows",
              json::array({{{"AXRole", "AXGroup"},
                            {"children", json::array({field("focused"),
                                                      field("to", {{"AXTitle", "To"},
                                                                   {"AXValue", "x"}})})}}})}}})}});
  const json context = build(sim);
  EXPECT_EQ(context["visible_texts"], json::array());
  EXPECT_FALSE(context.contains("compose_to"));
  EXPECT_FALSE(context.contains("document_url"));
}

TEST(AXScreenContext, BreadcrumbsSkipLayoutAncestorsAndRepeats) {
  SimPlatform sim("nested_groups");
  const json context = AXScreenContext::build(sim.desktop().element("reply_field"), 701);
  // Groups and the scroll area give no label; the application above the window does.
  EXPECT_EQ(context["breadcrumbs"], json::array({"Inbox", "Mail"}));
}

// A chain of ancestors, outermost first, around the focused field.
json chain(const std::vector<json>& ancestors, const json& focusedField) {
  json node = focusedField;
  for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
    json a = *it;
    a["children"] = json::array({node});
    node = a;
  }
  return node;
}

json titled(const std::string& role, const std::string& title) {
  return {{"AXRole", role}, {"AXTitle", title}};
}

TEST(AXScreenContext, BreadcrumbsStopAtFourLabelsOrSixAncestors) {
  {
    // Window, then six titled panes: the four nearest are reported.
    SimPlatform sim(windowScene(
        json::array({chain({titled("AXPane", "P1"), titled("AXPane", "P2"), titled("AXPane", "P3"),
                            titled("AXPane", "P4"), titled("AXPane", "P5"), titled("AXPane", "P6")},
                           field("focused"))}),
        "focused"));
    EXPECT_EQ(build(sim)["breadcrumbs"], json::array({"P6", "P5", "P4", "P3"}));
  }
  {
    // Six unlabelled groups use up the walk before the titled pane above them.
    SimPlatform sim(windowScene(json::array({chain({titled("AXPane", "Far"),
                                                    {{"AXRole", "AXGroup"}},
                                                    {{"AXRole", "AXGroup"}},
                                                    {{"AXRole", "AXSplitGroup"}},
                                                    {{"AXRole", "AXScrollArea"}},
                                                    {{"AXRole", "AXGroup"}},
                                                    {{"AXRole", "AXGroup"}}},
                                                   field("focused"))}),
                                "focused"));
    EXPECT_EQ(build(sim)["breadcrumbs"], json::array());
  }
  {
    // Labels equal to the field's value, or already seen, are left out;
    // an ancestor without a title gives its description.
    SimPlatform sim(
        windowScene(json::array({chain({titled("AXPane", "Draft"),
                                        {{"AXRole", "AXPane"}, {"AXDescription", "Editor"}},
                                        titled("AXPane", "Window"),
                                        titled("AXPane", " Draft ")},
                                       field("focused", {{"AXValue", "Draft"}}))}),
                    "focused"));
    EXPECT_EQ(build(sim)["breadcrumbs"], json::array({"Window", "Editor"}));
  }
}

TEST(AXScreenContext, VisibleTextsBreadthFirstWithoutShortOrRepeatedTexts) {
  SimPlatform sim(windowScene(
      json::array({{{"AXRole", "AXGroup"}, {"children", json::array({staticText("Deeper")})}},
                   staticText("x"),
                   staticText("First"),
                   staticText("  First "),
                   {{"AXRole", "AXHeading"}, {"AXTitle", "Heading title"}},
                   {{"AXRole", "AXHeading"}, {"AXValue", "Heading value"}, {"AXTitle", "ignored"}},
                   {{"AXRole", "AXButton"}, {"AXTitle", "Not a text"}},
                   field("focused")}),
      "focused"));
  EXPECT_EQ(build(sim)["visible_texts"],
            json::array({"First", "Heading title", "Heading value", "Deeper"}));
}

TEST(AXScreenContext, VisibleTextsStopAtTwelve) {
  json children = json::array({field("focused")});
  for (int i = 0; i < 20; ++i) children.push_back(staticText("Text " + std::to_string(i)));
  SimPlatform sim(windowScene(children, "focused"));
  const json texts = build(sim)["visible_texts"];
  ASSERT_EQ(texts.size(), 12u);
  EXPECT_EQ(texts[0], "Text 0");
  EXPECT_EQ(texts[11], "Text 11");
}

TEST(AXScreenContext, VisibleTextsLookNoDeeperThanLevelSix) {
  SimPlatform sim(windowScene(
      json::array(
          {field("focused"),
           chain({{{"AXRole", "AXGroup"}},
                  {{"AXRole", "AXGroup"}},
                  {{"AXRole", "AXGroup"}},
                  {{"AXRole", "AXGroup"}}},
                 {{"AXRole", "AXGroup"},
                  {"children",
                   json::array({staticText("Level six"),
                                {{"AXRole", "AXGroup"},
                                 {"children", json::array({staticText("Level seven")})}}})}})}),
      "focused"));
  EXPECT_EQ(build(sim)["visible_texts"], json::array({"Level six"}));
}

TEST(AXScreenContext, WalksTakeAtMost240ElementsAnd80ChildrenEach) {
  // 100 groups of 100 groups: far more than either walk may take.
  json outer = json::array({field("focused")});
  for (int i = 0; i < 100; ++i) {
    json inner = json::array();
    for (int j = 0; j < 100; ++j) inner.push_back({{"AXRole", "AXGroup"}});
    outer.push_back({{"AXRole", "AXGroup"}, {"children", inner}});
  }
  SimPlatform sim(windowScene(outer, "focused"));
  sim.accessibility().resetCounts();
  build(sim);
  const json counts = sim.accessibility().counts()["copyAttributeValue"];
  // Two walks of 240 elements each read a role and the children; the
  // focused element is skipped by the compose walk, unread.
  EXPECT_LE(counts["AXChildren"].get<int>(), 2 * 240);
  EXPECT_LE(counts["AXRole"].get<int>(), 2 * 240 + 8);
}

TEST(AXScreenContext, ComposeFieldsTakeTheFirstMatchingLabelInBreadthFirstOrder) {
  SimPlatform sim("mail_compose");
  const json context = AXScreenContext::build(sim.desktop().element("body"), 501);
  EXPECT_EQ(context["compose_to"], "anna@example.com");
  EXPECT_EQ(context["compose_cc"], "team@example.com");
  EXPECT_EQ(context["compose_subject"], "Quarterly report");
  EXPECT_FALSE(context.contains("compose_bcc"));
}

TEST(AXScreenContext, ComposeLabelsMatchByPrefix) {
  SimPlatform sim(windowScene(
      json::array(
          {field("empty_to", {{"AXTitle", "To"}, {"AXValue", "  "}}),
           field("today", {{"AXTitle", " TODAY "}, {"AXValue", "Monday"}}),
           field("later_to", {{"AXTitle", "To:"}, {"AXValue", "ignored@example.com"}}),
           {{"AXRole", "AXTokenField"}, {"AXDescription", "Bcc"}, {"AXValue", "boss@example.com"}},
           {{"AXRole", "AXComboBox"}, {"AXTitle", "From"}, {"AXValue", "me@example.com"}},
           {{"AXRole", "AXStaticText"}, {"AXTitle", "Subject"}, {"AXValue", "Not a field"}},
           field("channel", {{"AXTitle", "Channel name"}, {"AXValue", repeat("c", 170)}}),
           field("focused",
                 {{"AXTitle", "Thread"},
                  {"AXValue", "mine"},
                  {"children", json::array({field("inside", {{"AXTitle", "Subject"},
                                                             {"AXValue", "inside"}})})}})}),
      "focused"));
  const json context = build(sim);
  // The empty To field stores nothing; "Today" is the next field to begin with "to".
  EXPECT_EQ(context["compose_to"], "Monday");
  EXPECT_EQ(context["compose_bcc"], "boss@example.com");
  EXPECT_EQ(context["compose_from"], "me@example.com");
  EXPECT_EQ(context["compose_channel"], repeat("c", 160) + "…");
  EXPECT_FALSE(context.contains("compose_subject"));
  EXPECT_FALSE(context.contains("compose_thread"));
}

TEST(AXScreenContext, ComposeSearchEndsBelowLevelSix) {
  SimPlatform sim(windowScene(
      json::array({field("focused"),
                   chain({{{"AXRole", "AXGroup"}},
                          {{"AXRole", "AXGroup"}},
                          {{"AXRole", "AXGroup"}},
                          {{"AXRole", "AXGroup"}}},
                         {{"AXRole", "AXGroup"},
                          {"children",
                           json::array({field("cc", {{"AXTitle", "Cc"}, {"AXValue", "six"}}),
                                        {{"AXRole", "AXGroup"},
                                         {"children", json::array({field(
                                                          "to", {{"AXTitle", "To"},
                                                                 {"AXValue", "seven"}})})}}})}})}),
      "focused"));
  const json context = build(sim);
  EXPECT_EQ(context["compose_cc"], "six");
  EXPECT_FALSE(context.contains("compose_to"));
}

TEST(AXScreenContext, DocumentOnlyWhenNotEmpty) {
  {
    SimPlatform sim(windowScene(json::array({field("focused")}), "focused", {{"AXDocument", ""}}));
    EXPECT_FALSE(build(sim).contains("document_url"));
  }
  {
    SimPlatform sim(windowScene(json::array({field("focused")}), "focused",
                                {{"AXDocument", "file:///tmp/letter.txt"}}));
    EXPECT_EQ(build(sim)["document_url"], "file:///tmp/letter.txt");
  }
}

}  // namespace
