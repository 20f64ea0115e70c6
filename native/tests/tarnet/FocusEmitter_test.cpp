#include "tarnet/FocusEmitter.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "support/RecordingSink.h"
#include "support/SimPlatform.h"

namespace nolari {

namespace FocusEmitter {
void PrintTo(const FrameSelection& s, std::ostream* out) {
  *out << s.strategy << " depth " << s.depth << " role " << s.role;
  if (s.frame) {
    *out << " frame " << s.frame->origin.x << "," << s.frame->origin.y << " " << s.frame->size.width
         << "x" << s.frame->size.height;
  }
}
}  // namespace FocusEmitter

namespace {

using nlohmann::json;
using platform::Rect;
using FrameSelection = FocusEmitter::FrameSelection;

// One application whose window holds the frame cases side by side.
json framesScene() {
  return json::parse(R"({
    "applications": [{
      "pid": 900, "name": "Frames", "focused": "field",
      "windows": [{
        "id": "window", "AXRole": "AXWindow", "frame": [0, 0, 800, 600],
        "children": [
          {"id": "field", "AXRole": "AXTextField", "AXTitle": "", "AXValue": "hello",
           "frame": [10, 50, 300, 22], "settable": ["AXValue"]},
          {"id": "group", "AXRole": "AXGroup", "frame": [10, 10, 400, 30],
           "children": [{"id": "tiny", "AXRole": "AXButton", "AXTitle": "OK", "frame": [12, 12, 20, 14]}]},
          {"id": "square", "AXRole": "AXGroup", "frame": [500, 10, 50, 40],
           "children": [{"id": "wide", "AXRole": "AXStaticText", "frame": [505, 15, 100, 20]}]},
          {"id": "tie_outer", "AXRole": "AXGroup", "frame": [600, 10, 50, 40],
           "children": [{"id": "tie_inner", "AXRole": "AXGroup", "frame": [600, 10, 100, 20],
                         "children": [{"id": "frameless", "AXRole": "AXLink"}]}]}
        ]
      }, {
        "id": "bare_window", "AXRole": "AXWindow",
        "children": [
          {"id": "small_group", "AXRole": "AXGroup", "frame": [0, 0, 30, 10],
           "children": [{"id": "small", "AXRole": "AXImage", "frame": [1, 1, 20, 14]}]},
          {"id": "nothing", "AXRole": "AXCheckBox"}
        ]
      }]
    }]
  })");
}

// A chain of `levels` nested groups under a frameless window, the innermost
// named "leaf"; only the group `framedDepth` steps above the leaf has a frame.
json chainScene(int levels, int framedDepth) {
  json node = {{"id", "leaf"}, {"AXRole", "AXGroup"}};
  for (int depth = 1; depth < levels; ++depth) {
    std::string id = "g";
    id += std::to_string(depth);
    json parent = {{"id", id}, {"AXRole", "AXGroup"}};
    parent["children"] = json::array({node});
    node = parent;
  }
  // The framed one is found again by walking down from the top.
  json* walk = &node;
  for (int depth = levels - 1; depth > framedDepth; --depth) walk = &(*walk)["children"][0];
  (*walk)["frame"] = {5, 6, 70, 80};
  json window = {{"id", "w"}, {"AXRole", "AXWindow"}};
  window["children"] = json::array({node});
  json app = {{"pid", 901}, {"name", "Deep"}};
  app["windows"] = json::array({window});
  json scene;
  scene["applications"] = json::array({app});
  return scene;
}

Rect rect(double x, double y, double w, double h) { return {{x, y}, {w, h}}; }

FrameSelection selectFrame(test::SimPlatform& sim, const std::string& id) {
  return FocusEmitter::selectBestFrameElement(sim.accessibility(), sim.desktop().element(id));
}

std::vector<json> emitted(test::SimPlatform& sim, const std::string& elementId, std::int32_t pid) {
  test::RecordingSink sink;
  FocusEmitter::emitFocus(sink, sim.accessibility(), sim.workspace(),
                          sim.desktop().element(elementId), pid);
  return sink.objects();
}

TEST(FocusEmitterFrame, FocusedAncestorFallbackAndNone) {
  test::SimPlatform sim(framesScene());
  auto select = [&](const char* id) { return selectFrame(sim, id); };
  EXPECT_EQ(select("field"), (FrameSelection{rect(10, 50, 300, 22), 0, "focused", "AXTextField"}));
  // 20 x 14 is below the size filter; the group is smaller than the window.
  EXPECT_EQ(select("tiny"),
            (FrameSelection{rect(10, 10, 400, 30), 1, "ancestor_min_area", "AXGroup"}));
  // Nothing on the walk passes the filter: the nearest frame, whatever its size.
  EXPECT_EQ(select("small"), (FrameSelection{rect(1, 1, 20, 14), 0, "fallback_first", "AXImage"}));
  EXPECT_EQ(select("nothing"), (FrameSelection{std::nullopt, 0, "none", ""}));
}

TEST(FocusEmitterFrame, EqualAreasGoToTheElementNearerTheFocus) {
  test::SimPlatform sim(framesScene());
  // 100 x 20 and its parent 50 x 40 have the same area.
  EXPECT_EQ(selectFrame(sim, "wide"),
            (FrameSelection{rect(505, 15, 100, 20), 0, "focused", "AXStaticText"}));
  EXPECT_EQ(selectFrame(sim, "frameless"),
            (FrameSelection{rect(600, 10, 100, 20), 1, "ancestor_min_area", "AXGroup"}));
}

TEST(FocusEmitterFrame, WalkStopsTenParentsUpAndAtAParentThatIsNoElement) {
  {
    test::SimPlatform sim(chainScene(12, 10));
    auto found = selectFrame(sim, "leaf");
    EXPECT_EQ(found, (FrameSelection{rect(5, 6, 70, 80), 10, "ancestor_min_area", "AXGroup"}));
  }
  {
    test::SimPlatform sim(chainScene(12, 11));
    EXPECT_EQ(selectFrame(sim, "leaf").strategy, "none");
  }
  test::SimPlatform sim(framesScene());
  std::string error;
  ASSERT_TRUE(sim.desktop().setAttribute("tiny", "AXParent", "not an element", error)) << error;
  EXPECT_EQ(selectFrame(sim, "tiny"),
            (FrameSelection{rect(12, 12, 20, 14), 0, "fallback_first", "AXButton"}));
}

TEST(FocusEmitterRole, Categories) {
  const std::pair<const char*, const char*> cases[] = {
      {"AXTextField", "text_input"},
      {"AXSearchField", "text_input"},
      {"AXComboBox", "text_input"},
      {"AXIncrementor", "stepper"},
      {"AXMenuBarItem", "menu_item"},
      {"AXTabButton", "tab"},
      {"AXColumn", "table"},
      {"AXListItem", "list"},
      {"AXWebArea", "web_area"},
      {"AXTextView", "other"},
      {"AXSplitGroup", "other"},
      {"axbutton", "other"},
      {"", "other"},
  };
  for (const auto& [role, category] : cases) {
    EXPECT_EQ(FocusEmitter::roleCategory(role), category) << role;
  }
}

TEST(FocusEmitterReport, MembersOfAFocusedTextField) {
  test::SimPlatform sim(framesScene());
  auto lines = emitted(sim, "field", 900);
  ASSERT_EQ(lines.size(), 1u);
  json line = lines[0];
  ASSERT_TRUE(line["timestamp"].is_number_float());
  EXPECT_GT(line["timestamp"].get<double>(), 1.7e9);
  line.erase("timestamp");
  EXPECT_EQ(line, json::parse(R"({
    "type": "focus_info", "pid": 900, "app_name": "Frames",
    "role": "AXTextField", "role_category": "text_input", "role_description": "",
    "value_settable": true, "title": "", "value_length": 5, "value_preview": "hello",
    "frame": {"x": 10, "y": 50, "w": 300, "h": 22},
    "frame_source": {"strategy": "focused", "depth": 0, "role": "AXTextField"}
  })"));
  // No value and no frame anywhere: those members are left out.
  json bare = emitted(sim, "nothing", 900).at(0);
  EXPECT_FALSE(bare.contains("value_length") || bare.contains("value_preview") ||
               bare.contains("title") || bare.contains("frame") || bare.contains("frame_source"))
      << bare;
  EXPECT_EQ(bare["role_category"], "checkbox");
  EXPECT_EQ(bare["value_settable"], false);
}

TEST(FocusEmitterReport, ValuePreviewCountsCharactersAsTheUserSeesThem) {
  test::SimPlatform sim(framesScene());
  auto preview = [&](const std::string& value) {
    std::string error;
    EXPECT_TRUE(sim.desktop().setAttribute("field", "AXValue", value, error)) << error;
    json line = emitted(sim, "field", 900).at(0);
    return std::make_pair(line["value_length"].get<std::size_t>(),
                          line["value_preview"].get<std::string>());
  };
  const std::string fifty(50, 'a');
  EXPECT_EQ(preview(fifty), std::make_pair(std::size_t{50}, fifty));
  EXPECT_EQ(preview(fifty + "b"), std::make_pair(std::size_t{51}, fifty + "..."));
  EXPECT_EQ(preview(""), std::make_pair(std::size_t{0}, std::string()));

  // A thumb with a skin tone and an accented letter built from two code points
  // are one character each; a cut never splits them.
  const std::string thumb = "\U0001F44D\U0001F3FD";
  const std::string accented = "e\u0301";
  std::string value;
  for (int i = 0; i < 49; ++i) value += thumb;
  EXPECT_EQ(preview(value + accented + "z"),
            std::make_pair(std::size_t{51}, value + accented + "..."));
}

TEST(FocusEmitterReport, ElementOfAnApplicationThatQuitGivesAbsentValues) {
  test::SimPlatform sim(framesScene());
  ASSERT_TRUE(sim.desktop().quitApplication(900));
  json line = emitted(sim, "field", 900).at(0);
  line.erase("timestamp");
  EXPECT_EQ(line, json::parse(R"({
    "type": "focus_info", "pid": 900, "app_name": "Unknown", "role": "", "role_category": "other",
    "role_description": "", "value_settable": false
  })"));
}

}  // namespace
}  // namespace nolari
