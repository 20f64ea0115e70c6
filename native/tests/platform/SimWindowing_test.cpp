#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <utility>

#include "platform/KeyNames.h"
#include "platform/sim/ControlChannel.h"
#include "platform/sim/Windowing.h"
#include "support/CaptureFd.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

// The agent's windows on the simulated desktop, driven through control lines
// as the end-to-end tests drive them.

namespace nolari::platform {
namespace {

using nlohmann::json;

struct Heard {
  std::string window;
  PointerEvent::Type type;
  Point location;
  friend bool operator==(const Heard&, const Heard&) = default;
};

class AgentWindows : public ::testing::Test {
 protected:
  AgentWindows()
      : sim_(json{{"screens", json::array({{{"frame", {0, 0, 1440, 900}}}})},
                  {"user_defaults", {{"shown", true}, {"count", 3}}}},
             makeLoop()) {}

  std::unique_ptr<RunLoop> makeLoop() {
    auto loop = std::make_unique<VirtualRunLoop>();
    loop_ = loop.get();
    return loop;
  }

  std::string apply(std::string_view line) {
    std::string error;
    return SimControlChannel::apply(line, sim_.desktop(), *loop_, error) ? "applied" : error;
  }

  // A window on screen whose pointer events are kept under its name.
  std::shared_ptr<OverlayWindow> open(const std::string& name, Rect frame, WindowLevel level,
                                      bool ignoresPointer = false) {
    auto window = sim_.windowing().createWindow({frame, level, ignoresPointer, name},
                                                [this, name](const PointerEvent& e) {
                                                  heard_.push_back({name, e.type, e.location});
                                                });
    window->orderFront();
    return window;
  }

  // What the windows heard since last asked, once the loop has run.
  std::vector<Heard> heard() {
    loop_->runUntilIdle();
    return std::exchange(heard_, {});
  }

  VirtualRunLoop* loop_ = nullptr;
  test::SimPlatform sim_;
  std::vector<Heard> heard_;
};

TEST_F(AgentWindows, RecordsWindowsAndReportsThemCompactly) {
  auto blob = sim_.windowing().createWindow(
      {{{100.004, 40}, {264, 24}}, WindowLevel::statusBar, false, "action-blob"}, nullptr);
  EXPECT_FALSE(blob->isVisible());
  EXPECT_EQ(blob->alpha(), 0.0);
  blob->setAlpha(1.5);
  blob->orderFront();
  blob->setAccessibility("Activity", "button");
  // A group scaled to half about its anchor, clipped: the region is cut to the
  // clip, the faded text does not show.
  Group group{0.5, {100, 0}, RoundedRect{{{0, 0}, {100, 24}}}, {}};
  group.children.push_back({HitRegion{{{{0, 0}, {200, 24}}}, "tap"}});
  group.children.push_back({TextRun{.text = "Ready"}});
  group.children.push_back({TextRun{.text = "hidden"}, 0});
  DisplayList content;
  content.items.push_back({Shape{}});
  content.items.push_back({std::move(group)});
  content.items.push_back({Group{.children = {{TextRun{.text = "gone"}}}}, 0});
  blob->setContent(content);

  // Sizes below a point, not numbers or beyond any screen are made sound.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto odd = sim_.windowing().createWindow(
      {{{nan, -std::numeric_limits<double>::infinity()}, {nan, 1e300}},
       WindowLevel::floating,
       true,
       "odd"},
      nullptr);
  EXPECT_EQ(odd->frame(), (Rect{{0, -1e9}, {1, 1e9}}));
  odd->setFrame({{5, 6}, {0.25, -3}});
  EXPECT_EQ(odd->frame(), (Rect{{5, 6}, {1, 1}}));

  auto record = sim_.desktop().window("action-blob");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->alpha, 1);
  EXPECT_EQ(record->accessibilityRole, "button");
  EXPECT_EQ(record->content.items.size(), 3u);

  test::CaptureFd out(STDOUT_FILENO);
  EXPECT_EQ(apply(R"({"op":"report_windows"})"), "applied");
  odd.reset();
  EXPECT_EQ(apply(R"({"op":"report_windows"})"), "applied");
  out.restore();
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(json::parse(lines[0]), json::parse(R"({"windows":[
    {"name":"action-blob","level":25,"frame":{"x":100,"y":40,"width":264,"height":24},
     "alpha":1,"visible":true,"ignores_pointer":false,"holds_keyboard":false,
     "label":"Activity","role":"button",
     "hit_regions":[{"action":"tap","rect":{"x":50,"y":0,"width":50,"height":12}}],
     "texts":["Ready"]},
    {"name":"odd","level":3,"frame":{"x":5,"y":6,"width":1,"height":1},"alpha":0,
     "visible":false,"ignores_pointer":true,"holds_keyboard":false,"label":"","role":"",
     "hit_regions":[],"texts":[]}],
    "clicks_through":0})"));
  // The member order is the documented one; a window whose handle went is gone.
  EXPECT_TRUE(lines[1].starts_with(R"({"windows":[{"name":"action-blob","level":25,)")) << lines[1];
  EXPECT_EQ(sim_.desktop().windows().size(), 1u);

  auto& defaults = sim_.windowing().userDefaults();
  EXPECT_EQ(defaults.boolForKey("shown"), true);
  EXPECT_EQ(defaults.boolForKey("count"), std::nullopt);
  defaults.setBool("count", false);
  EXPECT_EQ(defaults.boolForKey("count"), false);
}

TEST_F(AgentWindows, PointerReachesTheTopmostWindowThatTakesIt) {
  auto low = open("low", {{100, 100}, {200, 100}}, WindowLevel::floating);
  auto high = open("high", {{250, 150}, {200, 100}}, WindowLevel::statusBar);
  // On top of everything, but the pointer passes through it.
  auto glass = open("glass", {{0, 0}, {1000, 1000}}, WindowLevel::popUpMenu, true);
  low->orderFront();  // raised within its level only

  using T = PointerEvent::Type;
  EXPECT_EQ(apply(R"({"op":"mouse_move","x":110,"y":190})"), "applied");
  EXPECT_EQ(apply(R"({"op":"mouse_move","x":120,"y":180})"), "applied");
  // Top-left window points: y runs down from the window's top edge.
  EXPECT_EQ(heard(),
            (std::vector<Heard>{{"low", T::entered, {10, 10}}, {"low", T::moved, {20, 20}}}));

  EXPECT_EQ(apply(R"({"op":"click","x":260,"y":160})"), "applied");
  EXPECT_EQ(heard(), (std::vector<Heard>{{"low", T::exited, {160, 40}},
                                         {"high", T::entered, {10, 90}},
                                         {"high", T::pressed, {10, 90}},
                                         {"high", T::released, {10, 90}}}));
  EXPECT_EQ(sim_.workspace().mouseLocation(), (Point{260, 160}));

  // A right click is the window's, yet not a press it hears.
  EXPECT_EQ(apply(R"({"op":"click","x":260,"y":160,"button":"right"})"), "applied");
  EXPECT_EQ(heard(), (std::vector<Heard>{{"high", T::moved, {10, 90}}}));
  EXPECT_TRUE(sim_.desktop().clicksThrough().empty());

  // Past every window but the one that lets clicks through.
  EXPECT_EQ(apply(R"({"op":"click","x":900,"y":900})"), "applied");
  EXPECT_EQ(heard(), (std::vector<Heard>{{"high", T::exited, {650, -650}}}));
  EXPECT_EQ(sim_.desktop().clicksThrough(), (std::vector<Point>{{900, 900}}));

  // Hidden under the pointer: no exit; shown again and found, an entry.
  EXPECT_EQ(apply(R"({"op":"mouse_move","x":300,"y":200})"), "applied");
  high->orderOut();
  EXPECT_EQ(apply(R"({"op":"click","x":300,"y":200})"), "applied");
  high->orderFront();
  EXPECT_EQ(apply(R"({"op":"mouse_move","x":300,"y":201})"), "applied");
  EXPECT_EQ(heard(),
            (std::vector<Heard>{{"high", T::entered, {50, 50}}, {"high", T::entered, {50, 49}}}));
  EXPECT_EQ(sim_.desktop().clicksThrough().size(), 2u);

  // A window closed by the handler of an event hears none of those after it.
  std::shared_ptr<OverlayWindow> closing;
  closing = sim_.windowing().createWindow({{{0, 0}, {50, 50}}}, [&](const PointerEvent& e) {
    heard_.push_back({"closing", e.type, e.location});
    closing.reset();
  });
  closing->orderFront();
  EXPECT_EQ(apply(R"({"op":"click","x":10,"y":10})"), "applied");
  EXPECT_EQ(heard(), (std::vector<Heard>{{"high", T::exited, {-240, 240}},
                                         {"closing", T::entered, {10, 40}}}));
}

TEST_F(AgentWindows, KeyboardMouseDownsDisplayOptionsAndActivation) {
  auto list = open("list", {{100, 100}, {200, 100}}, WindowLevel::popUpMenu);
  auto other = open("other", {{400, 100}, {50, 50}}, WindowLevel::floating);
  std::vector<std::pair<std::string, KeyEvent>> keys;
  auto keep = [&](const std::string& name) {
    return [&keys, name](const KeyEvent& key) { keys.emplace_back(name, key); };
  };
  auto typed = [&] {
    std::string text;
    sim_.desktop().whenTyped([&](const std::string& t) { text = t; });
    return text;
  };

  // Off screen, no keyboard; taken from another window of the program.
  auto hidden = sim_.windowing().createWindow({{{0, 0}, {10, 10}}}, nullptr);
  EXPECT_FALSE(hidden->takeKeyboard(keep("hidden")));
  ASSERT_TRUE(other->takeKeyboard(keep("other")));
  ASSERT_TRUE(list->takeKeyboard(keep("list")));
  EXPECT_FALSE(other->holdsKeyboard());
  EXPECT_TRUE(list->holdsKeyboard());

  // Key downs, repeats included, reach the holder on the loop and not the
  // applications; key ups go nowhere.
  EXPECT_EQ(apply(R"({"op":"key","key":"return"})"), "applied");
  EXPECT_EQ(apply(R"({"op":"key_down","key":"x","modifiers":["shift"],"repeat":true})"), "applied");
  EXPECT_TRUE(keys.empty());
  loop_->runUntilIdle();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].first, "list");
  EXPECT_EQ(keys[0].second.keyCode, *keyCodeForName("return"));
  EXPECT_TRUE(keys[1].second.autorepeat);
  EXPECT_EQ(keys[1].second.flags, EventFlags::shift);
  EXPECT_EQ(typed(), "");
  test::CaptureFd out(STDOUT_FILENO);
  EXPECT_EQ(apply(R"({"op":"report_windows"})"), "applied");
  out.restore();
  const auto report = json::parse(out.lines().at(0));
  EXPECT_EQ(report["windows"][0]["holds_keyboard"], true);
  EXPECT_EQ(report["windows"][1]["holds_keyboard"], false);

  // Ordered out, or gone, a window gives the keyboard back.
  list->orderOut();
  EXPECT_FALSE(list->holdsKeyboard());
  EXPECT_EQ(apply(R"({"op":"key","key":"a"})"), "applied");
  ASSERT_TRUE(other->takeKeyboard(keep("other")));
  EXPECT_EQ(apply(R"({"op":"key","key":"b"})"), "applied");
  loop_->runUntilIdle();
  other.reset();
  EXPECT_EQ(apply(R"({"op":"key","key":"c"})"), "applied");
  loop_->runUntilIdle();
  EXPECT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys.back().first, "other");
  EXPECT_EQ(typed(), "ac");

  // Clicks past the program's windows, with either button, are heard; one on
  // a window is not, nor any after the monitor is removed.
  list->orderFront();
  std::vector<Point> downs;
  const auto token = sim_.windowing().addMouseDownMonitor([&](Point at) { downs.push_back(at); });
  EXPECT_EQ(apply(R"({"op":"click","x":150,"y":150})"), "applied");
  EXPECT_EQ(apply(R"({"op":"click","x":900,"y":20})"), "applied");
  EXPECT_EQ(apply(R"({"op":"click","x":5,"y":800,"button":"right"})"), "applied");
  loop_->runUntilIdle();
  EXPECT_EQ(downs, (std::vector<Point>{{900, 20}, {5, 800}}));
  sim_.windowing().removeObserver(token);
  EXPECT_EQ(apply(R"({"op":"click","x":900,"y":20})"), "applied");
  loop_->runUntilIdle();
  EXPECT_EQ(downs.size(), 2u);
  heard();

  // Display options change member by member; a bad line changes none.
  EXPECT_EQ(sim_.windowing().displayOptions(), DisplayOptions{});
  EXPECT_EQ(apply(R"({"op":"display_options","reduce_motion":true})"), "applied");
  EXPECT_EQ(apply(R"({"op":"display_options","increase_contrast":true,"reduce_motion":1})"),
            "display_options.reduce_motion: expected a boolean, found a number");
  EXPECT_EQ(apply(R"({"op":"display_options","contrast":true})"),
            "display_options: unknown member \"contrast\"");
  EXPECT_EQ(sim_.windowing().displayOptions(), (DisplayOptions{true, false}));
  test::SimPlatform scene(json{{"display_options", {{"increase_contrast", true}}}});
  EXPECT_EQ(scene.windowing().displayOptions(), (DisplayOptions{false, true}));
  EXPECT_THROW(test::SimPlatform(json{{"display_options", {{"reduce_motion", "yes"}}}}),
               std::runtime_error);

  // Activation as the user's switch: the front changes, the notice follows on
  // the loop; an application that quit cannot be activated.
  auto appsLoop = std::make_unique<VirtualRunLoop>();
  VirtualRunLoop& appsMain = *appsLoop;
  test::SimPlatform apps("mail_compose", std::move(appsLoop));
  std::vector<std::int32_t> activated;
  apps.workspace().addActivationObserver([&](const std::optional<RunningApplication>& app) {
    activated.push_back(app ? app->pid : 0);
  });
  const auto notes = apps.workspace().runningApplication(502);
  ASSERT_TRUE(notes);
  EXPECT_TRUE(apps.workspace().activate(*notes));
  EXPECT_EQ(apps.workspace().frontmostApplication()->pid, 502);
  EXPECT_TRUE(activated.empty());
  appsMain.runUntilIdle();
  EXPECT_EQ(activated, std::vector<std::int32_t>{502});
  apps.desktop().quitApplication(502);
  EXPECT_FALSE(apps.workspace().activate(*notes));
}

TEST_F(AgentWindows, ScreenChangesAndWakeAreNoticedOnTheLoop) {
  int screenNotices = 0;
  int wakeNotices = 0;
  const auto screenToken = sim_.windowing().addScreenChangeObserver([&] { ++screenNotices; });
  sim_.windowing().addWakeObserver([&] { ++wakeNotices; });

  EXPECT_EQ(apply(R"({"op":"screens","screens":[
      {"frame":[0,0,1440,900],"visible_frame":[0,80,1440,795]},
      {"frame":[1440,0,1920,1080]}],"main_screen":1})"),
            "applied");
  EXPECT_EQ(screenNotices, 0);  // not before the loop runs
  loop_->runUntilIdle();
  EXPECT_EQ(screenNotices, 1);
  EXPECT_EQ(sim_.workspace().screens(),
            (std::vector<Screen>{{{{0, 0}, {1440, 900}}, {{0, 80}, {1440, 795}}},
                                 {{{1440, 0}, {1920, 1080}}, {{1440, 0}, {1920, 1080}}}}));
  EXPECT_EQ(sim_.workspace().mainScreen()->frame.origin.x, 1440);

  EXPECT_EQ(apply(R"({"op":"wake"})"), "applied");
  loop_->runUntilIdle();
  EXPECT_EQ(wakeNotices, 1);
  EXPECT_EQ(screenNotices, 1);

  // Every screen gone; the first token of each kind is removed alone.
  sim_.windowing().removeObserver(screenToken);
  EXPECT_EQ(apply(R"({"op":"screens","screens":[]})"), "applied");
  EXPECT_EQ(apply(R"({"op":"wake"})"), "applied");
  loop_->runUntilIdle();
  EXPECT_EQ(screenNotices, 1);
  EXPECT_EQ(wakeNotices, 2);
  EXPECT_TRUE(sim_.workspace().screens().empty());
  EXPECT_FALSE(sim_.workspace().mainScreen());

  // A scene may have no screens at all.
  test::SimPlatform bare(json::object());
  EXPECT_TRUE(bare.workspace().screens().empty());
  EXPECT_FALSE(bare.workspace().mainScreen());
}

TEST_F(AgentWindows, RendersAWindowAtItsFrameSize) {
  test::TempDir dir;
  auto blob = open("blob", {{10, 10}, {41, 17.2}}, WindowLevel::statusBar);
  DisplayList pill;
  pill.items.push_back({Shape{{{{0, 0}, {41, 17}}, 8}, Color{0, 0, 0, 1}}});
  blob->setContent(pill);
  const std::string path = dir.file("blob.png");
  EXPECT_EQ(apply(R"({"op":"render_window","name":"blob","path":")" + path + R"("})"), "applied");
  cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(image), 82);
  EXPECT_EQ(cairo_image_surface_get_height(image), 35);  // part pixels are whole ones
  cairo_surface_destroy(image);

  const std::string at1 = dir.file("blob1.png");
  EXPECT_EQ(apply(R"({"op":"render_window","name":"blob","scale":1,"path":")" + at1 + R"("})"),
            "applied");
  image = cairo_image_surface_create_from_png(at1.c_str());
  EXPECT_EQ(cairo_image_surface_get_width(image), 41);
  cairo_surface_destroy(image);

  blob->setFrame({{0, 0}, {1e12, 10}});
  EXPECT_NE(apply(R"({"op":"render_window","name":"blob","path":")" + path + R"("})")
                .find("each side must be from 1 to 32767"),
            std::string::npos);
  blob->setFrame({{0, 0}, {10, 10}});
  EXPECT_NE(
      apply(R"({"op":"render_window","name":"blob","path":")" + dir.file("no/such.png") + R"("})"),
      "applied");
}

TEST_F(AgentWindows, BadLinesAreRejectedAndChangeNothing) {
  auto blob = open("blob", {{0, 0}, {10, 10}}, WindowLevel::floating);
  for (const char* line : {
           R"({"op":"click","y":5})",
           R"({"op":"click","x":"5","y":5})",
           // Beyond a double: not JSON to the reader.
           R"({"op":"click","x":5,"y":1e400})",
           R"({"op":"click","x":5,"y":5,"button":"middle"})",
           R"({"op":"screens"})",
           R"({"op":"screens","screens":{}})",
           R"({"op":"screens","screens":[{"frame":[0,0,1]}]})",
           R"({"op":"screens","screens":[{"frame":[0,0,1e400,9]}]})",
           R"({"op":"screens","screens":[{"frame":[0,0,9,9]}],"main_screen":1})",
           R"({"op":"render_window","path":"/tmp/x.png"})",
           R"({"op":"render_window","name":"blob"})",
           R"({"op":"render_window","name":"blob","path":"/tmp/x.png","scale":0})",
           R"({"op":"render_window","name":"blob","path":"/tmp/x.png","scale":1e400})",
       }) {
    EXPECT_NE(apply(line), "applied") << line;
  }
  EXPECT_EQ(apply(R"({"op":"render_window","name":"nothing","path":"/tmp/x.png"})"),
            "no window is named \"nothing\"");
  EXPECT_EQ(apply(R"({"op":"screens","screens":[{"frame":[0,0,1,1]},{"frame":[0,0,"9",9]}]})"),
            "screens[1].frame: expected numbers, found a string");
  EXPECT_TRUE(heard().empty());
  EXPECT_EQ(sim_.workspace().screens().size(), 1u);
  EXPECT_TRUE(sim_.desktop().clicksThrough().empty());
}

}  // namespace
}  // namespace nolari::platform
