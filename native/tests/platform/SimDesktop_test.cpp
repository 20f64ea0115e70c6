#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sim/Accessibility.h"
#include "platform/sim/Control.h"
#include "platform/sim/Desktop.h"
#include "support/SimPlatform.h"
#include "support/TempDir.h"

namespace nolari::platform {
namespace {

using nlohmann::json;

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

std::string loadError(const std::string& path) {
  std::string error;
  auto desktop = SimDesktop::load(path, error);
  EXPECT_EQ(desktop, nullptr);
  return error;
}

std::string shapeError(const json& scene) {
  std::string error;
  EXPECT_EQ(SimDesktop::fromJSON(scene, error), nullptr);
  return error;
}

AXValue read(test::SimPlatform& sim, const AXUIElement& element, const std::string& attribute,
             AXError expected = AXErrorCode::success) {
  AXValue value;
  EXPECT_EQ(sim.accessibility().copyAttributeValue(element, attribute, value), expected)
      << attribute;
  return value;
}

// --- Loading -------------------------------------------------------------------

TEST(SimSceneLoading, BadFilesGiveOneMessageNamingTheFile) {
  test::TempDir dir;
  const std::string missing = dir.file("nowhere.json");
  std::string error = loadError(missing);
  EXPECT_NE(error.find(missing), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  error = loadError(dir.path());
  EXPECT_NE(error.find("is a directory"), std::string::npos) << error;

  const std::string broken = dir.file("broken.json");
  writeFile(broken, "{\"applications\": [\n");
  error = loadError(broken);
  EXPECT_NE(error.find(broken), std::string::npos) << error;
  EXPECT_NE(error.find("not valid JSON"), std::string::npos) << error;
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;

  const std::string wrong = dir.file("wrong.json");
  writeFile(wrong, "{\"applications\": {\"pid\": 1}}");
  error = loadError(wrong);
  EXPECT_EQ(error, "scene file " + wrong + ": applications: expected an array, found an object");
}

TEST(SimSceneLoading, WrongShapesSayWhereAndWhat) {
  EXPECT_EQ(shapeError(json::array()), "scene: expected a JSON object, found an array");
  EXPECT_EQ(shapeError({{"screen", json::array()}}), "scene: unknown member \"screen\"");
  EXPECT_EQ(shapeError({{"screens", {{{"frame", {0, 0, 10}}}}}}),
            "screens[0].frame: expected an array of 4 numbers, found an array of 3");
  EXPECT_EQ(shapeError({{"applications", {{{"pid", "12"}}}}}),
            "applications[0].pid: expected a 32-bit integer, found a string");
  EXPECT_EQ(shapeError({{"applications", {{{"pid", 18446744073709551615ull}}}}}),
            "applications[0].pid: expected a 32-bit integer, found a number");
  EXPECT_EQ(shapeError({{"applications",
                         {{{"windows", {{{"AXSelectedTextRange", {{"range", {1e30, 0}}}}}}}}}}}),
            "applications[0].windows[0].AXSelectedTextRange.range: expected whole numbers");
  EXPECT_EQ(shapeError({{"applications", {{{"pid", 1}}, {{"pid", 1}}}}}),
            "applications[1].pid: pid 1 is used twice");
  EXPECT_EQ(shapeError({{"frontmost", 9}, {"applications", {{{"pid", 1}}}}}),
            "frontmost: no application has pid 9");
  EXPECT_EQ(
      shapeError({{"applications", {{{"windows", {{{"AXTitleUIElement", {{"ref", "ghost"}}}}}}}}}}),
      "applications[0].windows[0].AXTitleUIElement.ref: no element has the id \"ghost\"");
  EXPECT_EQ(shapeError({{"applications",
                         {{{"windows", {{{"id", "a"}, {"children", {{{"id", "a"}}}}}}}}}}}),
            "applications[0].windows[0].children[0].id: the id \"a\" is used twice");
  EXPECT_EQ(shapeError({{"applications", {{{"focused", "w"}}, {{"windows", {{{"id", "w"}}}}}}}}),
            "applications[0].focused: \"w\" is not an element of this application");
  EXPECT_EQ(shapeError({{"applications", {{{"windows", {{{"childen", json::array()}}}}}}}}),
            "applications[0].windows[0]: unknown member \"childen\"");
  EXPECT_EQ(shapeError({{"applications", {{{"windows", {{{"AXValue", {{"pt", {1, 2}}}}}}}}}}}),
            "applications[0].windows[0].AXValue: unknown value tag \"pt\"");
}

TEST(SimSceneLoading, DefaultsForAHandWrittenScene) {
  test::SimPlatform sim(json{{"screens", {{{"frame", {0, 0, 800, 600}}}}},
                             {"applications", {{{"name", "One"}}, {{"bundle_id", "b.two"}}}}});
  auto& workspace = *sim.platform().workspace;
  ASSERT_TRUE(workspace.mainScreen());
  EXPECT_EQ(workspace.mainScreen()->visibleFrame, (Rect{{0, 0}, {800, 600}}));
  EXPECT_EQ(workspace.frontmostApplication(), (RunningApplication{1000, "One", std::nullopt}));
  EXPECT_EQ(workspace.runningApplication(1001), (RunningApplication{1001, std::nullopt, "b.two"}));
  EXPECT_TRUE(sim.accessibility().isProcessTrusted(false));
  EXPECT_EQ(workspace.mouseLocation(), (Point{0, 0}));

  test::SimPlatform bare(json{{"screens", {{{"frame", {0, 0, 800, 600}}}}},
                              {"main_screen", nullptr},
                              {"frontmost", nullptr},
                              {"trusted", false},
                              {"applications", {{{"pid", 5}}}}});
  EXPECT_FALSE(bare.platform().workspace->mainScreen());
  EXPECT_FALSE(bare.platform().workspace->frontmostApplication());
  EXPECT_FALSE(bare.accessibility().isProcessTrusted(true));
}

TEST(SimSceneLoading, EveryCheckedInSceneLoads) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(NOLARI_SCENES_DIR)) {
    if (entry.path().extension() != ".json") continue;
    std::string error;
    EXPECT_NE(SimDesktop::load(entry.path().string(), error), nullptr) << error;
    ++count;
  }
  EXPECT_GE(count, 4);
}

// --- Attributes ------------------------------------------------------------------

TEST(SimAttributes, TreeAndFocusAreDerived) {
  test::SimPlatform sim("mail_compose");
  auto& desktop = sim.desktop();
  auto body = desktop.element("body");
  auto window = desktop.element("compose_window");
  auto app = sim.accessibility().createApplication(501);

  EXPECT_EQ(*read(sim, body, "AXParent").get<AXUIElement>(), desktop.element("body_scroll"));
  EXPECT_EQ(*read(sim, window, "AXParent").get<AXUIElement>(), app);
  EXPECT_EQ(*read(sim, body, "AXWindow").get<AXUIElement>(), window);
  read(sim, window, "AXWindow", AXErrorCode::attributeUnsupported);
  EXPECT_EQ(read(sim, window, "AXChildren").get<AXArray>()->size(), 7u);
  EXPECT_EQ(*read(sim, app, "AXFocusedWindow").get<AXUIElement>(), window);
  EXPECT_EQ(*read(sim, app, "AXRole").get<std::string>(), "AXApplication");
  EXPECT_EQ(*read(sim, app, "AXTitle").get<std::string>(), "Mail");

  auto system = sim.accessibility().createSystemWide();
  EXPECT_EQ(*read(sim, system, "AXFocusedUIElement").get<AXUIElement>(), body);
  EXPECT_EQ(*read(sim, system, "AXFocusedApplication").get<AXUIElement>(), app);
  EXPECT_EQ(*read(sim, body, "AXFocused").get<bool>(), true);
  read(sim, desktop.element("to_field"), "AXFocused", AXErrorCode::attributeUnsupported);

  // Activating Notes moves the system-wide focus to its focused element.
  ASSERT_TRUE(desktop.activate(502));
  EXPECT_EQ(*read(sim, system, "AXFocusedUIElement").get<AXUIElement>(),
            desktop.element("note_text"));
  ASSERT_TRUE(desktop.quitApplication(502));
  read(sim, system, "AXFocusedUIElement", AXErrorCode::noValue);
  read(sim, system, "AXFocusedApplication", AXErrorCode::noValue);
}

TEST(SimAttributes, ExplicitAnswersOverrideAndErrorsReachTheCaller) {
  json scene = {
      {"system_wide", {{"AXFocusedUIElement", {{"error", AXErrorCode::cannotComplete}}}}},
      {"applications",
       {{{"pid", 7},
         {"focused", "f"},
         {"AXFocusedWindow", nullptr},
         {"windows",
          {{{"id", "w"},
            {"AXRole", "AXWindow"},
            {"children",
             {{{"id", "f"},
               {"AXParent", {{"error", AXErrorCode::invalidUIElement}}},
               {"AXChildren", {{"ref", "w"}, 5}},
               {"AXValue", {{"error", AXErrorCode::attributeUnsupported}}},
               {"AXFocused", false},
               {"settable", {{"AXValue", {{"error", AXErrorCode::notImplemented}}}}}}}}}}}}}}};
  test::SimPlatform sim(scene);
  auto f = sim.desktop().element("f");
  read(sim, sim.accessibility().createSystemWide(), "AXFocusedUIElement",
       AXErrorCode::cannotComplete);
  read(sim, sim.accessibility().createApplication(7), "AXFocusedWindow", AXErrorCode::noValue);
  read(sim, f, "AXParent", AXErrorCode::invalidUIElement);
  read(sim, f, "AXValue", AXErrorCode::attributeUnsupported);
  EXPECT_EQ(read(sim, f, "AXChildren").get<AXArray>()->size(), 2u);
  // A boolean "AXFocused" follows where the focus is.
  EXPECT_EQ(*read(sim, f, "AXFocused").get<bool>(), true);
  bool settable = true;
  EXPECT_EQ(sim.accessibility().isAttributeSettable(f, "AXValue", settable),
            AXErrorCode::notImplemented);

  AXUIElement found;
  AXValue scratch;
  EXPECT_EQ(sim.accessibility().copyAttributeValue(AXUIElement(), "AXRole", scratch),
            AXErrorCode::illegalArgument);
  sim.desktop().setTrusted(false);
  EXPECT_EQ(sim.accessibility().copyElementAtPosition(sim.accessibility().createSystemWide(), 1, 1,
                                                      found),
            AXErrorCode::apiDisabled);
  read(sim, f, "AXRole", AXErrorCode::apiDisabled);
}

TEST(SimAttributes, DriveSetAttributeChangesLaterReads) {
  test::SimPlatform sim("password_field");
  auto password = sim.desktop().element("password");
  read(sim, password, "AXValue", AXErrorCode::noValue);
  std::string error;
  ASSERT_TRUE(sim.desktop().setAttribute("password", "AXTitleUIElement", {{"ref", "user"}}, error));
  EXPECT_EQ(*read(sim, password, "AXTitleUIElement").get<AXUIElement>(),
            sim.desktop().element("user"));
  ASSERT_TRUE(sim.desktop().setAttribute("password", "AXSize", {{"size", {0, 24}}}, error));
  EXPECT_EQ(*read(sim, password, "AXSize").get<Size>(), (Size{0, 24}));
  EXPECT_FALSE(sim.desktop().setAttribute("nobody", "AXValue", "x", error));
  EXPECT_EQ(error, "no element has the id \"nobody\"");
  EXPECT_FALSE(sim.desktop().setAttribute("password", "AXValue", {{"rect", {1}}}, error));
  EXPECT_EQ(error, "AXValue.rect: expected an array of 4 numbers, found an array of 1");
}

TEST(SimAttributes, ElementsCompareByIdentityNotContents) {
  json twins = {
      {"applications",
       {{{"pid", 3},
         {"windows",
          {{{"id", "a"}, {"AXRole", "AXWindow"}}, {{"id", "b"}, {"AXRole", "AXWindow"}}}}}}}};
  test::SimPlatform sim(twins);
  EXPECT_EQ(sim.desktop().element("a"), sim.desktop().element("a"));
  EXPECT_NE(sim.desktop().element("a"), sim.desktop().element("b"));
  EXPECT_NE(sim.accessibility().createApplication(3), sim.accessibility().createSystemWide());
  EXPECT_EQ(sim.accessibility().createSystemWide(), sim.accessibility().createSystemWide());
  EXPECT_FALSE(sim.desktop().element("c"));

  test::SimPlatform other(twins);
  EXPECT_NE(sim.desktop().element("a"), other.desktop().element("a"));
}

TEST(SimAttributes, BoundsForRangeAnswersPerRange) {
  json scene = {{"applications",
                 {{{"windows",
                    {{{"id", "t"},
                      {"bounds_for_range",
                       {{{"range", {3, 0}}, {"rect", {1, 2, 3, 4}}},
                        {{"range", {9, 1}}, {"error", AXErrorCode::noValue}},
                        {{"rect", {5, 6, 7, 8}}}}}},
                     {{"id", "plain"}}}}}}}};
  test::SimPlatform sim(scene);
  auto& ax = sim.accessibility();
  auto t = sim.desktop().element("t");
  AXValue value;
  ASSERT_EQ(ax.copyParameterizedAttributeValue(t, "AXBoundsForRange", TextRange{3, 0}, value),
            AXErrorCode::success);
  EXPECT_EQ(*value.get<Rect>(), (Rect{{1, 2}, {3, 4}}));
  ASSERT_EQ(ax.copyParameterizedAttributeValue(t, "AXBoundsForRange", TextRange{4, 0}, value),
            AXErrorCode::success);
  EXPECT_EQ(*value.get<Rect>(), (Rect{{5, 6}, {7, 8}}));
  EXPECT_EQ(ax.copyParameterizedAttributeValue(t, "AXBoundsForRange", TextRange{9, 1}, value),
            AXErrorCode::noValue);
  EXPECT_EQ(ax.copyParameterizedAttributeValue(t, "AXBoundsForRange", "3", value),
            AXErrorCode::illegalArgument);
  EXPECT_EQ(ax.copyParameterizedAttributeValue(sim.desktop().element("plain"), "AXBoundsForRange",
                                               TextRange{3, 0}, value),
            AXErrorCode::parameterizedAttributeUnsupported);
}

// --- Writing ---------------------------------------------------------------------

TEST(SimWriting, WrittenValuesSurviveAReload) {
  test::SimPlatform sim("mail_compose");
  auto& ax = sim.accessibility();
  auto subject = sim.desktop().element("subject_field");
  EXPECT_EQ(ax.setAttributeValue(subject, "AXValue", "Neue Zahlen \xe2\x80\x94 Q3"),
            AXErrorCode::success);
  EXPECT_EQ(*read(sim, subject, "AXValue").get<std::string>(), "Neue Zahlen \xe2\x80\x94 Q3");
  EXPECT_EQ(ax.setAttributeValue(sim.desktop().element("to_label"), "AXValue", "x"),
            AXErrorCode::attributeUnsupported);

  test::SimPlatform reloaded(json::parse(std::ifstream(sim.sceneFile())));
  EXPECT_EQ(
      *read(reloaded, reloaded.desktop().element("subject_field"), "AXValue").get<std::string>(),
      "Neue Zahlen \xe2\x80\x94 Q3");
  EXPECT_EQ(*read(reloaded, reloaded.desktop().element("to_label"), "AXValue").get<std::string>(),
            "To:");
  // The file keeps its members in the order they were written.
  std::ifstream saved(sim.sceneFile());
  std::string line;
  std::getline(saved, line);
  std::getline(saved, line);
  EXPECT_TRUE(line.starts_with("  \"screens\":")) << line;
  // Only the scene itself is left in the folder: the temporary file was renamed.
  auto folder = std::filesystem::path(sim.sceneFile()).parent_path();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(SimWriting, RefusedWritesChangeNothing) {
  test::SimPlatform sim(json{{"applications",
                              {{{"windows",
                                 {{{"id", "f"},
                                   {"AXValue", "old"},
                                   {"settable", {"AXValue"}},
                                   {"set_errors", {{"AXValue", AXErrorCode::failure}}}}}}}}}});
  auto f = sim.desktop().element("f");
  EXPECT_EQ(sim.accessibility().setAttributeValue(f, "AXValue", "new"), AXErrorCode::failure);
  EXPECT_EQ(*read(sim, f, "AXValue").get<std::string>(), "old");
}

TEST(SimWriting, UnsavableWriteFailsAndKeepsTheOldValue) {
  test::TempDir dir;
  const std::string scene = dir.file("scene.json");
  writeFile(scene, R"({"applications": [{"windows": [{"id": "f", "AXValue": "old",
                       "settable": ["AXValue"]}]}]})");
  std::string error;
  auto desktop = SimDesktop::load(scene, error);
  ASSERT_NE(desktop, nullptr) << error;
  SimAccessibility ax(desktop);
  const AXUIElement f = SimControl(desktop).element("f");
  std::filesystem::remove(scene);
  std::filesystem::create_directory(scene);  // the rename onto it now fails
  EXPECT_EQ(ax.setAttributeValue(f, "AXValue", "new"), AXErrorCode::cannotComplete);
  AXValue value;
  EXPECT_EQ(ax.copyAttributeValue(f, "AXValue", value), AXErrorCode::success);
  EXPECT_EQ(*value.get<std::string>(), "old");
}

// --- Hit testing -------------------------------------------------------------------

TEST(SimHitTesting, DeepestFramedElementFrontmostFirst) {
  test::SimPlatform sim("mail_compose");
  auto& ax = sim.accessibility();
  auto system = ax.createSystemWide();
  AXUIElement found;
  ASSERT_EQ(ax.copyElementAtPosition(system, 300, 300, found), AXErrorCode::success);
  EXPECT_EQ(found, sim.desktop().element("body"));
  ASSERT_EQ(ax.copyElementAtPosition(system, 290, 150, found), AXErrorCode::success);
  EXPECT_EQ(found, sim.desktop().element("to_field"));
  ASSERT_EQ(ax.copyElementAtPosition(system, 205, 105, found), AXErrorCode::success);
  EXPECT_EQ(found, sim.desktop().element("compose_window"));
  // Only Notes covers this point: the other application answers.
  ASSERT_EQ(ax.copyElementAtPosition(system, 150, 300, found), AXErrorCode::success);
  EXPECT_EQ(found, sim.desktop().element("note_text"));
  EXPECT_EQ(ax.copyElementAtPosition(system, 1300, 850, found), AXErrorCode::noValue);

  // Where both overlap, the frontmost application's window wins.
  ASSERT_TRUE(sim.desktop().activate(502));
  ASSERT_EQ(ax.copyElementAtPosition(system, 300, 300, found), AXErrorCode::success);
  EXPECT_EQ(found, sim.desktop().element("note_text"));
  ASSERT_EQ(ax.copyElementAtPosition(ax.createApplication(501), 300, 300, found),
            AXErrorCode::success);
  EXPECT_EQ(found, sim.desktop().element("body"));
}

TEST(SimHitTesting, FramelessElementsAreLookedThrough) {
  test::SimPlatform sim("nested_groups");
  AXUIElement found;
  ASSERT_EQ(sim.accessibility().copyElementAtPosition(sim.accessibility().createSystemWide(), 200,
                                                      710, found),
            AXErrorCode::success);
  EXPECT_EQ(found, sim.desktop().element("reply_field"));
  std::int32_t pid = 0;
  EXPECT_EQ(sim.accessibility().getPid(found, pid), AXErrorCode::success);
  EXPECT_EQ(pid, 701);
}

// --- Counts --------------------------------------------------------------------------

TEST(SimCounts, CountsEveryRequestByOperationAndAttribute) {
  test::TempDir dir;
  const std::string file = dir.file("counts.json");
  ::setenv("NOLARI_SIM_COUNTS", file.c_str(), 1);
  test::SimPlatform sim("nested_groups");
  ::unsetenv("NOLARI_SIM_COUNTS");
  auto& ax = sim.accessibility();
  auto field = sim.desktop().element("reply_field");
  AXValue value;
  bool settable;
  ax.copyAttributeValue(field, "AXRole", value);
  ax.copyAttributeValue(field, "AXRole", value);
  ax.copyAttributeValue(field, "AXValue", value);
  ax.isAttributeSettable(field, "AXValue", settable);
  ax.isProcessTrusted(true);

  const json expected = {{"copyAttributeValue", {{"total", 3}, {"AXRole", 2}, {"AXValue", 1}}},
                         {"isAttributeSettable", {{"total", 1}, {"AXValue", 1}}},
                         {"isProcessTrusted", {{"total", 1}, {"prompt", 1}}}};
  EXPECT_EQ(ax.counts(), expected);
  std::ifstream in(file);
  EXPECT_EQ(json::parse(in), expected);
}

}  // namespace
}  // namespace nolari::platform
