#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AgentFixture.h"
#include "ambrel/blob/DesignTokens.h"
#include "ambrel/panels/HelpCardView.h"
#include "ambrel/panels/HelpContent.h"
#include "support/CaptureFd.h"

// The help card's texts, its layout with text five points a character and
// lines 13 high, and the panel driven through the agent's command.

namespace nolari::ambrel {
namespace {

using namespace std::chrono_literals;
namespace Tokens = BlobDesignTokens;
namespace Card = Tokens::HelpCard;
using nlohmann::json;
using platform::Color;
using platform::DisplayList;
using platform::Item;
using platform::Point;
using platform::Rect;
using platform::Shape;
using platform::TextRun;

TEST(HelpContentTest, EachMemberFallsBackOnItsOwn) {
  const HelpContent none = HelpContent::from(json::object());
  EXPECT_EQ(none.hotkeyChips, std::vector<std::string>{});
  EXPECT_EQ(none.headlineLine1, "");
  EXPECT_EQ(none.legendRows, std::vector<HelpLegendEntry>{});
  EXPECT_EQ(none.openNolariLabel, "Open Nolari \u2192");
  EXPECT_EQ(none.setShortcutLabel, "Set shortcut \u2192");

  const HelpContent mixed = HelpContent::from(json::parse(R"({
      "hotkey_chips": ["Ctrl", 5], "headline_line1": 7, "headline_line2": "second",
      "legend_label": "Commands", "open_nolari_label": "Open", "set_shortcut_label": null,
      "legend_rows": [{"trigger": "a", "description": "A"}, {"trigger": "b"},
                      {"description": "C"}, {"trigger": "d", "description": "D", "extra": "x"}],
      "unknown": true})"));
  EXPECT_EQ(mixed.hotkeyChips, std::vector<std::string>{}) << "one number rejects every chip";
  EXPECT_EQ(mixed.headlineLine1, "");
  EXPECT_EQ(mixed.headlineLine2, "second");
  EXPECT_EQ(mixed.legendLabel, "Commands");
  EXPECT_EQ(mixed.openNolariLabel, "Open");
  EXPECT_EQ(mixed.setShortcutLabel, "Set shortcut \u2192");
  EXPECT_EQ(mixed.legendRows, (std::vector<HelpLegendEntry>{{"a", "A"}, {"d", "D"}}));

  EXPECT_EQ(HelpContent::from(json::parse(R"({"hotkey_chips": ["Ctrl", "W"]})")).hotkeyChips,
            (std::vector<std::string>{"Ctrl", "W"}));
  for (const char* rows : {R"([{"trigger": "a", "description": 1}])", R"([{"trigger": "a",
       "description": "A"}, "b"])",
                           R"({"trigger": "a", "description": "A"})"}) {
    json content = {{"legend_rows", json::parse(rows)}};
    EXPECT_EQ(HelpContent::from(content).legendRows, std::vector<HelpLegendEntry>{}) << rows;
  }

  const HelpContent standard = HelpContent::empty();
  EXPECT_EQ(standard.headlineLine1, "Set a shortcut to start writing.");
  EXPECT_EQ(standard.legendRows.size(), 4u);
  EXPECT_EQ(standard.legendRows.back(),
            (HelpLegendEntry{"nolari", "Reopen this help panel anywhere"}));
  EXPECT_EQ(describeChips({}), "[]");
  EXPECT_EQ(describeChips({"Ctrl", "W"}), R"(["Ctrl", "W"])");
}

// Items of a list with their groups flattened; groups here neither move nor
// scale.
void flatten(const std::vector<Item>& items, std::vector<const Item*>& out) {
  for (const Item& item : items) {
    if (const auto* group = std::get_if<platform::Group>(&item.content)) {
      flatten(group->children, out);
    } else {
      out.push_back(&item);
    }
  }
}

std::vector<const Item*> itemsOf(const DisplayList& list) {
  std::vector<const Item*> out;
  flatten(list.items, out);
  return out;
}

std::vector<std::string> textsOf(const DisplayList& list) {
  std::vector<std::string> out;
  for (const Item* item : itemsOf(list)) {
    if (const auto* run = std::get_if<TextRun>(&item->content)) out.push_back(run->text);
  }
  return out;
}

const TextRun& textRun(const DisplayList& list, const std::string& text) {
  for (const Item* item : itemsOf(list)) {
    const auto* run = std::get_if<TextRun>(&item->content);
    if (run != nullptr && run->text == text) return *run;
  }
  ADD_FAILURE() << "no text \"" << text << "\"";
  static const TextRun none;
  return none;
}

std::vector<Rect> shapesFilled(const DisplayList& list, Color fill) {
  std::vector<Rect> out;
  for (const Item* item : itemsOf(list)) {
    const auto* shape = std::get_if<Shape>(&item->content);
    if (shape != nullptr && shape->fill == fill) out.push_back(shape->shape.rect);
  }
  return out;
}

std::optional<Rect> region(const DisplayList& list, std::string_view action) {
  for (const Item* item : itemsOf(list)) {
    const auto* hit = std::get_if<platform::HitRegion>(&item->content);
    if (hit != nullptr && hit->action == action) return hit->shape.rect;
  }
  return std::nullopt;
}

Point centre(const Rect& r) { return {r.minX() + r.size.width / 2, r.minY() + r.size.height / 2}; }

class HelpCardViewTest : public testing::Test {
 protected:
  HelpCardLayout layout(const HelpContent& content, HelpCardHover hover = {},
                        bool increaseContrast = false) {
    return layoutHelpCard(content, hover, increaseContrast, text_);
  }
  test::FixedMeasurer text_;
};

TEST_F(HelpCardViewTest, TheHeadlineShowsKeyCapsForAShortcutAndTheChipWithoutOne) {
  HelpContent content;
  content.hotkeyChips = {"Ctrl", "W"};
  content.headlineLine1 = "Press {accel} to write";
  DisplayList card = layout(content).content;
  EXPECT_EQ(textsOf(card), (std::vector<std::string>{"Nolari", "Press", "Ctrl", "W", ".", "",
                                                     "Open Nolari \u2192"}))
      << "the words after the placeholder and an empty second line are not shown";
  const std::vector<Rect> caps = shapesFilled(card, Card::Chip::kbdBackground);
  ASSERT_EQ(caps.size(), 2u);
  // "Press" is 25 wide; "Ctrl" 20 + 2 × 5; "W" raised to the least width.
  EXPECT_EQ(caps[0], (Rect{{16 + 25 + 3, caps[0].minY()}, {30, 18}}));
  EXPECT_EQ(caps[1], (Rect{{caps[0].maxX() + 3, caps[0].minY()}, {18, 18}}));
  EXPECT_EQ(textRun(card, ".").origin.x, caps[1].maxX() + 3);
  EXPECT_EQ(textRun(card, "W").origin.x, caps[1].minX() + (18 - 5) / 2.0) << "centred";
  EXPECT_FALSE(region(card, HELP_CARD_SET_SHORTCUT));

  content.headlineLine1 = "  Press to write  ";
  content.headlineLine2 = "in any field.";
  card = layout(content).content;
  EXPECT_EQ(textRun(card, "Press to write").origin.x, 16) << "trimmed, whole";
  EXPECT_EQ(textRun(card, "in any field.").origin.y,
            shapesFilled(card, Card::Chip::kbdBackground)[0].maxY() + 2);

  content.hotkeyChips.clear();
  content.headlineLine1 = "Press {accel} to write";
  card = layout(content, {.setShortcut = true}).content;
  EXPECT_EQ(textsOf(card),
            (std::vector<std::string>{"Nolari", "Press {accel} to write", "Set shortcut \u2192", "",
                                      "Open Nolari \u2192"}));
  const TextRun& headline = textRun(card, "Press {accel} to write");
  const Rect chip = *region(card, HELP_CARD_SET_SHORTCUT);
  EXPECT_EQ(chip.origin, (Point{16, headline.origin.y + 13 + 6}));
  EXPECT_EQ(chip.size.height, 18);
  EXPECT_EQ(shapesFilled(card, Card::Chip::hoverBackground), std::vector<Rect>{chip});
  EXPECT_EQ(shapesFilled(layout(content).content, Card::Chip::hoverBackground),
            std::vector<Rect>{});
}

TEST_F(HelpCardViewTest, LegendHairlinesLinksAndContrast) {
  HelpContent content = HelpContent::empty();
  HelpCardLayout card = layout(content);
  const TextRun& list = textRun(card.content, "/list");
  const TextRun& browse = textRun(card.content, "Browse and run any saved command");
  EXPECT_EQ(list.origin.x, 16);
  EXPECT_EQ(list.fontFamily, Tokens::Typography::monospacedFamily);
  EXPECT_EQ(browse.origin, (Point{16 + 84 + 14, list.origin.y})) << "tops aligned";
  EXPECT_EQ(textRun(card.content, "/history").origin.y, list.origin.y + 13 + 6);
  EXPECT_EQ(textRun(card.content, content.legendLabel).color, Tokens::Text::muted);

  // An empty legend keeps the caption and the 8-point gap between the rules.
  content.legendRows.clear();
  card = layout(content, {.openNolari = true}, true);
  std::vector<Rect> rules = shapesFilled(card.content, Card::Hairline::color);
  std::erase_if(rules, [](const Rect& r) { return r.size.height != Card::Hairline::height; });
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[1].minY() - rules[0].maxY(), 14 + 13 + 8 + 14);
  EXPECT_EQ(rules[0].size.width, 340 - 2 * 16);
  const TextRun& caption = textRun(card.content, content.legendLabel);
  EXPECT_EQ(caption.origin.y, rules[0].maxY() + 14);
  EXPECT_EQ(caption.color, Card::mutedHighContrast);
  for (const Item* item : itemsOf(card.content)) {
    if (const auto* symbol = std::get_if<platform::Symbol>(&item->content)) {
      EXPECT_EQ(symbol->color, Card::mutedHighContrast);
    }
  }

  // The link at the right edge, lit under the pointer, ends the card.
  const Rect link = *region(card.content, HELP_CARD_OPEN_NOLARI);
  EXPECT_EQ(link.maxX(), 340 - 16);
  EXPECT_EQ(link.minY(), rules[1].maxY() + 14);
  EXPECT_EQ(shapesFilled(card.content, Card::linkHoverFill),
            (std::vector<Rect>{rules[0], rules[1], link}));
  EXPECT_EQ(card.fittingHeight, link.maxY() + 16);
  const Rect close = *region(card.content, HELP_CARD_DISMISS);
  EXPECT_EQ(close, (Rect{{340 - 16 - 24, 16}, {24, 24}}));

  // In a window shorter than the card, what lies below its edge is cut.
  const DisplayList cut = drawHelpPanel(card.content, {340, link.minY()});
  EXPECT_EQ(platform::hitTest(cut, centre(close)), std::string(HELP_CARD_DISMISS));
  EXPECT_FALSE(platform::hitTest(cut, centre(link)));
}

class HelpPanelTest : public test::AgentTest {
 protected:
  HelpPanelTest()
      : AgentTest(json{
            {"trusted", true},
            {"screens", {{{"frame", {0, 0, 1440, 900}}, {"visible_frame", {0, 0, 1440, 875}}}}}}) {}

  void show(const json& content = {
                {"hotkey_chips", {"Ctrl", "W"}},
                {"headline_line1", "Press {accel}"},
                {"legend_rows", {{{"trigger", "list"}, {"description", "All"}}}}}) {
    command(json{{"type", "show_nolari_help"},
                 {"field_rect", {{"x", 100}, {"y", 300}, {"w", 400}, {"h", 80}}},
                 {"caret_rect", {{"x", 200}, {"y", 500}, {"w", 2}, {"h", 18}}},
                 {"content", content}}
                .dump());
    loop_->runUntilIdle();
  }
  test::FakeWindow& window() { return *windowing_.named.at("help-card"); }
  // Pressed and released over the region of `action`.
  void click(std::string_view action) {
    const Point at = centre(*region(window().content, action));
    window().pointer({platform::PointerEvent::Type::pressed, at});
    window().pointer({platform::PointerEvent::Type::released, at});
    loop_->runUntilIdle();
  }
  int logged(const std::string& text) {
    auto lines = stderr_.lines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
      return line.find(text) != std::string::npos;
    }));
  }
  static json event(const char* type) { return json{{"type", type}}; }

  test::CaptureFd stderr_{2};
};

TEST_F(HelpPanelTest, LinksDismissalsReducedMotionAndTheTimeOut) {
  start();
  advance(3s);  // past the tap check
  taken();
  command(R"({"type":"show_nolari_help"})");
  loop_->runUntilIdle();
  EXPECT_EQ(logged("[WARN] show_nolari_help: missing content payload"), 1);
  EXPECT_FALSE(windowing_.named.contains("help-card"));

  show();
  EXPECT_EQ(
      logged(
          R"([INFO] show_nolari_help chips=["Ctrl", "W"] fieldRect=(100.0, 300.0, 400.0, 80.0))"),
      1);
  // Below the caret.
  EXPECT_EQ(
      logged(
          R"([INFO] NolariHelpPanel.show frame=(200.0, 293.0, 340.0, 201.0) flipped=below chips=["Ctrl", "W"])"),
      1);
  EXPECT_TRUE(window().visible);
  EXPECT_EQ(window().name, "Nolari quickstart help");
  advance(200ms);
  EXPECT_EQ(window().rect, (Rect{{200, 293}, {340, 201}}));
  EXPECT_EQ(window().opacity, 1);
  EXPECT_FALSE(window().holdsKeyboard());

  // The link lights up under the pointer, and reports only itself.
  const Point link = centre(*region(window().content, HELP_CARD_OPEN_NOLARI));
  window().pointer({platform::PointerEvent::Type::moved, link});
  EXPECT_EQ(shapesFilled(window().content, Card::linkHoverFill).size(), 3u) << "and the rules";
  click(HELP_CARD_OPEN_NOLARI);
  advance(1s);
  EXPECT_EQ(taken(), std::vector<json>{event("nolari_help_open_nolari")});
  EXPECT_FALSE(window().visible);

  show(json::object());
  advance(200ms);
  click(HELP_CARD_SET_SHORTCUT);
  EXPECT_EQ(taken(), std::vector<json>{event("nolari_help_set_shortcut")});

  show();
  advance(200ms);
  ASSERT_EQ(windowing_.mouseDowns.size(), 1u);
  windowing_.mouseDowns.begin()->second({250, 400});  // on the panel
  loop_->runUntilIdle();
  EXPECT_EQ(taken(), std::vector<json>{});
  windowing_.mouseDowns.begin()->second({10, 10});
  loop_->runUntilIdle();
  EXPECT_EQ(taken(), std::vector<json>{event("nolari_help_dismiss")});
  EXPECT_TRUE(windowing_.mouseDowns.empty());

  // With reduced motion the card comes and goes at once.
  windowing_.options.reduceMotion = true;
  show();
  EXPECT_EQ(window().opacity, 1);
  EXPECT_EQ(window().rect.origin, (Point{200, 293}));
  click(HELP_CARD_DISMISS);
  EXPECT_EQ(taken(), std::vector<json>{event("nolari_help_dismiss")});
  EXPECT_FALSE(window().visible);

  show();
  advance(11s);
  EXPECT_EQ(taken(), std::vector<json>{});
  advance(1s);
  EXPECT_EQ(logged("[INFO] NolariHelpPanel: inactivity timeout"), 1);
  EXPECT_EQ(taken(), std::vector<json>{event("nolari_help_dismiss")});
  EXPECT_FALSE(window().visible);
}

// A legend longer than the screen is cut: the panel keeps inside the visible
// frame, its margins included.
// A text or a legend far beyond any screen costs no more than one that just
// fills it: texts are cut, and rows past any screen's height are left out.
TEST_F(HelpCardViewTest, HugeTextsAndLegendsAreCutBeforeLayout) {
  HelpContent content;
  content.headlineLine1 = std::string(1 << 20, 'w');
  for (int i = 0; i < 100000; ++i) content.legendRows.push_back({"t", "d"});
  const auto card = layout(content);
  const auto texts = textsOf(card.content);
  const auto headline =
      std::ranges::find_if(texts, [](const std::string& t) { return t.starts_with("www"); });
  ASSERT_NE(headline, texts.end());
  EXPECT_LT(headline->size(), 20000U);
  EXPECT_TRUE(headline->ends_with("…"));
  EXPECT_LT(std::ranges::count(texts, "/t"), 2000);
}

TEST_F(HelpPanelTest, ACardTallerThanTheScreenIsCut) {
  start();
  json rows = json::array();
  for (int i = 0; i < 200; ++i) rows.push_back({{"trigger", "t"}, {"description", "d"}});
  show(json{{"legend_rows", rows}});
  advance(200ms);
  EXPECT_EQ(window().rect, (Rect{{200, 8}, {340, 875 - 16}}));
  EXPECT_FALSE(region(window().content, HELP_CARD_OPEN_NOLARI))
      << "the link lies below the window's edge";
  EXPECT_EQ(std::ranges::count(textsOf(window().content), "/t"), (875 - 16 - 141 - 1) / 19 + 1)
      << "the rows, 19 points apart from 141 down, that start inside the window";
}

}  // namespace
}  // namespace nolari::ambrel
