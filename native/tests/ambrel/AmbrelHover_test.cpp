// Hovering over text fields on virtual time: the throttle's boundary, the
// policy, the hover line and the box, and frames no window could take.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "AgentFixture.h"
#include "ambrel/agent/Ambrel.h"
#include "ambrel/agent/HoverHighlight.h"
#include "ambrel/agent/HoverTracker.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using platform::Rect;
using platform::TapEvent;
using Highlight = NolariConfig::Highlight;

// Two screens side by side, 900 and 1000 high: top-left y = 1000 - bottom-left y.
// The browser's field lies on the second screen; the untitled window's field,
// the huge field and the button on the first.
const json SCENE = json::parse(R"({
  "trusted": true,
  "screens": [{"frame": [0, 0, 1440, 900], "visible_frame": [0, 0, 1440, 875]},
              {"frame": [1440, 0, 1280, 1000], "visible_frame": [1440, 0, 1280, 1000]}],
  "applications": [{"pid": 600, "name": "Browser", "windows": [
    {"id": "browser", "AXRole": "AXWindow", "AXTitle": "Inbox - Example BROWSER",
     "frame": [1500, 100, 800, 600], "children": [
       {"id": "search", "AXRole": "AXTextField", "frame": [1600, 150, 300, 20]}]},
    {"id": "untitled", "AXRole": "AXWindow", "frame": [100, 100, 600, 400], "children": [
       {"id": "field", "AXRole": "AXTextField", "frame": [120, 120, 200, 20]},
       {"id": "button", "AXRole": "AXButton", "frame": [120, 160, 80, 20]},
       {"id": "huge", "AXRole": "AXTextArea", "frame": [120, 200, 5000000, 20]}]}]}]
})");

class AmbrelHoverTest : public test::AgentTest {
 protected:
  AmbrelHoverTest() : AgentTest(SCENE) {}

  void start(const NolariConfig& config = NolariConfig()) {
    AgentTest::start(config);
    taken();
  }

  // A move to a top-left point, then the main queue run; the hover lines written.
  std::vector<json> moveTo(double x, double topLeftY) {
    taps_.mouse->callback({TapEvent::Type::mouseMoved, {}, {x, 1000 - topLeftY}});
    loop_->runUntilIdle();
    return taken();
  }

  test::FakeWindow& box() { return *windowing_.named.at("highlight-box"); }
};

TEST_F(AmbrelHoverTest, FieldOnTheSecondScreenGivesTheLineTheBoxAndMovesTheBlob) {
  start();
  const double blobXBefore = windowing_.window->frame().origin.x;
  ASSERT_LT(blobXBefore, 1440);
  EXPECT_EQ(moveTo(1700, 160), test::lines({R"({"type":"hover","role":"AXTextField",
      "window_title":"Inbox - Example BROWSER",
      "mouse":{"cocoa_x":1700,"cocoa_y":840,"carbon_x":1700,"carbon_y":160},
      "rect":{"x":1600,"y":150,"w":300,"h":20},
      "window_rect":{"x":1600,"y":830,"w":300,"h":20},
      "padded_rect":{"x":1598,"y":828,"w":304,"h":24},"debug_box_visible":true})"}));
  const Rect padded{{1598, 828}, {304, 24}};
  EXPECT_EQ(agent_->lastFieldRect(), padded);
  EXPECT_TRUE(box().visible);
  EXPECT_EQ(box().opacity, 1);
  EXPECT_EQ(box().frame(), padded);
  ASSERT_EQ(box().content.items.size(), 1u);
  const auto& shape = std::get<platform::Shape>(box().content.items[0].content);
  EXPECT_NEAR(shape.fill->alpha, 0.3, 1e-9);
  EXPECT_EQ(shape.stroke->color, *ColorParser::parseHex("#3498db"));
  EXPECT_GE(windowing_.window->frame().origin.x, 1440);

  // A button hides the box and writes nothing; the field's rectangle stays.
  loop_->advance(100ms);
  EXPECT_EQ(moveTo(130, 165), std::vector<json>{});
  EXPECT_FALSE(box().visible);
  EXPECT_EQ(box().opacity, 0);
  EXPECT_EQ(agent_->lastFieldRect(), padded);
}

TEST_F(AmbrelHoverTest, MovesInsideATenthOfASecondWaitForItsEndAndOnlyTheLastCounts) {
  start();
  EXPECT_EQ(moveTo(1700, 160).size(), 1u);
  loop_->advance(50ms);
  const auto before = sim_.accessibility().counts();
  EXPECT_EQ(moveTo(1700, 161).size(), 0u);
  loop_->advance(40ms);
  EXPECT_EQ(moveTo(1700, 162).size(), 0u);
  loop_->advance(9ms);
  EXPECT_EQ(taken(), std::vector<json>{});
  EXPECT_EQ(sim_.accessibility().counts(), before);
  loop_->advance(1ms);
  auto trailing = taken();
  ASSERT_EQ(trailing.size(), 1u);
  EXPECT_EQ(trailing[0]["mouse"]["carbon_y"], 162);

  // The trailing move starts an interval of its own.
  loop_->advance(50ms);
  EXPECT_EQ(moveTo(1700, 163).size(), 0u);
  loop_->advance(50ms);
  trailing = taken();
  ASSERT_EQ(trailing.size(), 1u);
  EXPECT_EQ(trailing[0]["mouse"]["carbon_y"], 163);
  // A move after a whole interval is processed at once, and nothing follows it.
  loop_->advance(100ms);
  EXPECT_EQ(moveTo(1700, 164).size(), 1u);
  loop_->advance(1s);
  EXPECT_EQ(taken(), std::vector<json>{});
}

TEST_F(AmbrelHoverTest, AGlideEndingInAFieldGivesItsLineWithinAnIntervalOfTheLastMove) {
  start();
  // Over the window, then towards the field, entering it on the last move.
  EXPECT_EQ(moveTo(400, 450), std::vector<json>{});
  loop_->advance(30ms);
  EXPECT_EQ(moveTo(300, 300), std::vector<json>{});
  loop_->advance(30ms);
  EXPECT_EQ(moveTo(200, 130), std::vector<json>{});
  loop_->advance(ambrel::HoverTracker::THROTTLE);
  const auto lines = taken();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["role"], "AXTextField");
  EXPECT_EQ(lines[0]["mouse"]["carbon_x"], 200);
  EXPECT_EQ(lines[0]["mouse"]["carbon_y"], 130);
  EXPECT_TRUE(box().visible);
}

TEST_F(AmbrelHoverTest, AllowedAppsMatchTheWindowTitleAndAHugeFieldIsSkipped) {
  NolariConfig config;
  config.highlight.allowedApps = {"browser"};
  config.highlight.debugWindow.visible = false;
  start(config);
  auto line = moveTo(1700, 160);
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0]["debug_box_visible"], false);
  EXPECT_FALSE(box().visible);
  EXPECT_EQ(agent_->lastFieldRect(), (Rect{{1598, 828}, {304, 24}}));
  loop_->advance(100ms);
  EXPECT_EQ(moveTo(130, 125), std::vector<json>{});  // untitled window
  config.highlight.allowedApps = {};
  config.highlight.debugWindow.visible = true;
  agent_.reset();
  start(config);
  EXPECT_EQ(moveTo(130, 125).size(), 1u);
  EXPECT_TRUE(box().visible);
  loop_->advance(100ms);
  EXPECT_EQ(moveTo(130, 205), std::vector<json>{});
  EXPECT_FALSE(box().visible);
}

TEST(HighlightPolicy, RolesAppsAndTheBoxSwitch) {
  Highlight h;
  EXPECT_TRUE(ambrel::HighlightPolicy::shouldHighlight("AXTextField", std::nullopt, h));
  EXPECT_FALSE(ambrel::HighlightPolicy::shouldHighlight("axtextfield", "x", h));
  EXPECT_FALSE(ambrel::HighlightPolicy::shouldHighlight(std::nullopt, "x", h));
  h.allowedApps = {"Mail", "ÉCRIT"};
  EXPECT_TRUE(ambrel::HighlightPolicy::shouldHighlight("AXTextArea", "Inbox — mail", h));
  EXPECT_TRUE(ambrel::HighlightPolicy::shouldHighlight("AXTextArea", "Bloc écrit", h));
  EXPECT_FALSE(ambrel::HighlightPolicy::shouldHighlight("AXTextArea", "", h));
  EXPECT_FALSE(ambrel::HighlightPolicy::shouldHighlight("AXTextArea", "Notes", h));
  h.enabled = false;
  EXPECT_FALSE(ambrel::HighlightPolicy::shouldHighlight("AXTextArea", "Mail", h));

  Highlight box;
  EXPECT_TRUE(ambrel::HighlightPolicy::debugBoxVisible(box, nullptr));
  EXPECT_FALSE(ambrel::HighlightPolicy::debugBoxVisible(box, "Off"));
  EXPECT_FALSE(ambrel::HighlightPolicy::debugBoxVisible(box, "FALSE"));
  EXPECT_TRUE(ambrel::HighlightPolicy::debugBoxVisible(box, "maybe"));
  box.debugWindow.visible = true;
  EXPECT_TRUE(ambrel::HighlightPolicy::debugBoxVisible(box, "0"));
}

TEST(HoverRects, FramesNoWindowCouldTakeAreRefused) {
  const std::vector<platform::Screen> screens{{{{0, 0}, {1440, 900}}, {{0, 0}, {1440, 900}}}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const Rect& frame : {Rect{{nan, 0}, {10, 10}}, Rect{{0, 0}, {nan, 10}},
                            Rect{{0, inf}, {10, 10}}, Rect{{0, 0}, {0, 10}}, Rect{{0, 0}, {10, -5}},
                            Rect{{0, 0}, {1e300, 10}}, Rect{{-2e6, 0}, {10, 10}}}) {
    EXPECT_FALSE(ambrel::hoverRects(screens, std::nullopt, frame, 2))
        << frame.origin.x << " " << frame.origin.y << " " << frame.size.width;
  }
  EXPECT_FALSE(ambrel::hoverRects(screens, std::nullopt, {{0, 0}, {10, 10}}, 1e300));
  auto rects = ambrel::hoverRects(screens, std::nullopt, {{-50, 10}, {100, 20}}, 0);
  ASSERT_TRUE(rects);
  EXPECT_EQ(rects->paddedRect, (Rect{{-50, 870}, {100, 20}}));
  // A centre off every screen moves nothing.
  EXPECT_FALSE(ambrel::screenHoldingCenter(screens, {{-200, 0}, {100, 20}}));
}

}  // namespace
}  // namespace nolari
