#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "DesktopFixture.h"
#include "ScreenPixel.h"

// After the test framework: X.h defines None, a name the framework uses.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

// Ambrel on the live desktop: keys from xdotool reach it through the X11
// keyboard tap, and the compose window shows what they typed; the blob shows
// over it, takes clicks and leaves the keyboard where it was; the pointer over
// the compose window's fields gives their frames and draws the box round them;
// the rating stars show under a written field and take a click; so does the
// help card's link under the caret.

namespace nolari::test {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

const json COMMAND_DOWN = {
    {"type", "dictation_ptt_down"}, {"mode", "command"}, {"source", "keyDown"}};
const json COMMAND_UP = {{"type", "dictation_ptt_up"}, {"mode", "command"}, {"source", "keyUp"}};
const json SPACE_DOWN = {
    {"type", "dictation_ptt_down"}, {"mode", "dictation"}, {"source", "spaceHold"}};
const json SPACE_UP = {
    {"type", "dictation_ptt_up"}, {"mode", "dictation"}, {"source", "spaceHold"}};

class AmbrelDesktopTest : public DesktopFixture {
 protected:
  void SetUp() override {
    openComposer("body");
    if (IsSkipped() || HasFatalFailure()) return;
    display_ = XOpenDisplay(desktop_->environment().at("DISPLAY").c_str());
    ASSERT_TRUE(display_);
    // Keys start repeating soon and fast, so a short hold repeats many times.
    XkbSetAutoRepeatRate(display_, XkbUseCoreKbd, 200, 30);
    XSync(display_, False);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

  // The program's next line within a time, parsed; null when none came.
  static std::function<json(std::chrono::milliseconds)> lineReader(RunningProcess& program) {
    return [&program](std::chrono::milliseconds within) -> json {
      auto line = program.readLine(within);
      return line ? json::parse(*line, nullptr, false) : json(nullptr);
    };
  }

  void xdotool(const std::vector<std::string>& args) {
    auto result = desktop_->run("xdotool", args);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
  }

  bool repeats(KeySym keysym) {
    const unsigned int key = XKeysymToKeycode(display_, keysym);
    XKeyboardState state{};
    XGetKeyboardControl(display_, &state);
    return state.global_auto_repeat == AutoRepeatModeOn &&
           ((state.auto_repeats[key / 8] >> (key % 8)) & 1);
  }

  // Whether the key's repeat is `on` within a time.
  bool repeatIsWithin(KeySym keysym, bool on, std::chrono::milliseconds timeout) {
    for (auto deadline = std::chrono::steady_clock::now() + timeout;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
      if (repeats(keysym) == on) return true;
    }
    return repeats(keysym) == on;
  }

  // Ambrel once it reported space hold on; null when it did not.
  std::unique_ptr<RunningProcess> startWithSpaceHold() {
    auto ambrel = desktop_->start("ambrel", {});
    if (!ambrel) return nullptr;
    auto next = lineReader(*ambrel);
    ambrel->writeLine(R"({"type":"dictation_set_space_hold","enabled":true})");
    for (json line = next(10s); line.is_object(); line = next(10s)) {
      if (line.value("event", "") == "dictation_space_hold_updated") return ambrel;
    }
    ADD_FAILURE() << ambrel->stderrText();
    return nullptr;
  }

  // The body's text once the window shows it ending with `last`; "" at the deadline.
  std::string bodyEndingWith(char last) {
    while (auto report = desktop_->nextComposerReport(5s)) {
      std::string text = report->value("text", "");
      if ((*report)["field"] == "body" && !text.empty() && text.back() == last) return text;
    }
    return "";
  }

  // The agent's window of that name once it exists; 0 after ten seconds.
  Window agentWindow(const std::string& name) {
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
      const std::string found =
          desktop_->run("xdotool", {"search", "--name", "^" + name + "$"}).out;
      if (!found.empty()) return std::stoul(found);
    }
    return 0;
  }

  // The window's attributes once `ready` holds for them, or the last ones
  // read after ten seconds (the first layout loads the fonts, seconds under
  // the sanitizers).
  XWindowAttributes attributesOnce(Window window,
                                   const std::function<bool(const XWindowAttributes&)>& ready) {
    XWindowAttributes attributes{};
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
      if (!XGetWindowAttributes(display_, window, &attributes) || ready(attributes)) break;
    }
    return attributes;
  }

  Display* display_ = nullptr;
};

TEST_F(AmbrelDesktopTest, HotkeyAndSpaceHoldPressOnceHoweverLongHeldAndSpaceRepeatsAfterSigterm) {
  if (IsSkipped() || HasFatalFailure()) return;
  auto ambrel = desktop_->start("ambrel", {});
  ASSERT_TRUE(ambrel);
  auto next = lineReader(*ambrel);

  EXPECT_EQ(
      next(10s),
      (json{{"type", "status"}, {"event", "startup"}, {"trusted", true}, {"pid", ambrel->pid()}}));
  ambrel->writeLine(R"({"type":"dictation_set_hotkey","command_accel":"control+shift+d"})");
  EXPECT_EQ(next(5s), (json{{"type", "status"},
                            {"event", "dictation_command_hotkey_updated"},
                            {"accel", "control+shift+d"},
                            {"parsed", true}}));

  // The tap records from its own thread once that runs: press the hotkey until
  // a press is seen, then keep it held well past the repeat delay.
  ASSERT_TRUE(repeats(XK_d));
  json down;
  for (int i = 0; i < 20 && down.is_null(); ++i) {
    xdotool({"keydown", "ctrl+shift+d"});
    down = next(500ms);
    if (down.is_null()) xdotool({"keyup", "ctrl+shift+d"});
  }
  ASSERT_EQ(down, COMMAND_DOWN) << ambrel->stderrText();
  xdotool({"sleep", "0.6", "keyup", "ctrl+shift+d"});
  EXPECT_EQ(next(5s), COMMAND_UP);

  // Space held for a second: one dictation press, and one space typed, as
  // its auto-repeat is off while space hold is on.
  xdotool({"key", "ctrl+End"});
  const std::string body = desktop_->runTool("velkit", {"get-focused"}).value("value", "");
  ambrel->writeLine(R"({"type":"dictation_set_space_hold","enabled":true,"delay_ms":250})");
  EXPECT_EQ(next(5s), (json{{"type", "status"},
                            {"event", "dictation_space_hold_updated"},
                            {"enabled", true},
                            {"delay_ms", 250}}));
  EXPECT_FALSE(repeats(XK_space));
  xdotool({"keydown", "space"});
  EXPECT_EQ(next(5s), SPACE_DOWN);
  xdotool({"sleep", "0.75", "keyup", "space", "key", "x"});
  EXPECT_EQ(next(5s), SPACE_UP);
  EXPECT_EQ(bodyEndingWith('x'), body + " x");

  // A short tap types its space and starts nothing: the hotkey pressed after
  // the delay ran out gives the next event.
  xdotool({"key", "space", "sleep", "0.4", "key", "y", "ctrl+shift+d"});
  EXPECT_EQ(bodyEndingWith('y'), body + " x y");
  EXPECT_EQ(next(5s), COMMAND_DOWN);
  EXPECT_EQ(next(5s), COMMAND_UP);

  EXPECT_FALSE(repeats(XK_space));
  ambrel->kill(SIGTERM);
  const ProcessResult ended = ambrel->wait(10s);
  EXPECT_EQ(ended.termSignal, SIGTERM) << ended.err;
  EXPECT_EQ(ended.out, "");
  EXPECT_TRUE(repeats(XK_space));
}

// Each agent claims the space while its space hold is on: the second one's
// end, even by SIGKILL, leaves the first one's setting, and the first one's
// SIGKILL gives the space its repeat back.
TEST_F(AmbrelDesktopTest, TwoAgentsKeepTheSpaceFromRepeatingUntilTheLastOneEndsEvenBySigkill) {
  if (IsSkipped() || HasFatalFailure()) return;
  ASSERT_TRUE(repeats(XK_space));
  // The agent reads commands before its keyboard tap exists.
  auto first = startWithSpaceHold();
  ASSERT_TRUE(first);
  EXPECT_TRUE(repeatIsWithin(XK_space, false, 5s));
  auto second = startWithSpaceHold();
  ASSERT_TRUE(second);
  second->kill(SIGKILL);
  second->wait(10s);
  EXPECT_FALSE(repeatIsWithin(XK_space, true, 500ms));
  first->kill(SIGKILL);
  EXPECT_EQ(first->wait(10s).termSignal, SIGKILL);
  EXPECT_TRUE(repeatIsWithin(XK_space, true, 5s));
}

TEST_F(AmbrelDesktopTest, BlobShowsAtTheBottomCentreTakesAClickAndLeavesTheFocusAlone) {
  if (IsSkipped() || HasFatalFailure()) return;
  std::string error;
  if (!desktop_->startCompositor(error)) GTEST_SKIP() << error;
  // The one-time notice was shown on an earlier start.
  const std::filesystem::path settings =
      desktop_->environment().at("XDG_CONFIG_HOME") + "/nolari/defaults.json";
  std::filesystem::create_directories(settings.parent_path());
  std::ofstream(settings) << R"({"migratedToHiddenBlob_v1": true})";
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  const int composer = desktop_->activeWindowPid();

  auto ambrel = desktop_->start("ambrel", {});
  ASSERT_TRUE(ambrel);
  auto next = lineReader(*ambrel);
  ASSERT_EQ(next(10s).value("event", ""), "startup");
  ambrel->writeLine(R"({"type":"action_blob_state","state":"ready"})");

  // 1280 by 1024 without panels: the 264 by 24 window is centred, its pill's
  // bottom 14 points above the screen's. The pill is dark over the desktop;
  // the window's margin around it lets the desktop show through.
  Window blob = 0;
  XWindowAttributes attributes{};
  const auto desk = screenPixel(display_, 400, 1000);
  auto shown = [&] {
    if (!blob) {
      const std::string found = desktop_->run("xdotool", {"search", "--name", "^action-blob$"}).out;
      if (!found.empty()) blob = std::stoul(found);
    }
    if (!blob || !XGetWindowAttributes(display_, blob, &attributes)) return false;
    if (attributes.map_state != IsViewable) return false;
    const auto pill = screenPixel(display_, 600, 992);
    for (int channel = 0; channel < 3; ++channel) {
      if (pill[channel] >= desk[channel] - 40) return false;
    }
    return true;
  };
  for (auto deadline = std::chrono::steady_clock::now() + 15s;
       !shown() && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(shown()) << "the blob did not come up dark over the desktop";
  EXPECT_EQ((std::array<int, 4>{attributes.x, attributes.y, attributes.width, attributes.height}),
            (std::array<int, 4>{508, 988, 264, 24}));
  EXPECT_EQ(screenPixel(display_, 510, 1000), desk);

  // The pointer enters: the ready blob asks for a context. A click on its
  // left part is a tap, opened or not.
  ASSERT_EQ(desktop_->run("xdotool", {"mousemove", "588", "1000"}).exitStatus, 0);
  EXPECT_EQ(next(5s).value("type", ""), "action_blob_get_context");
  ASSERT_EQ(desktop_->run("xdotool", {"click", "1"}).exitStatus, 0);
  EXPECT_EQ(next(5s),
            (json{{"type", "action_blob_click"}, {"state", "ready"}, {"pid", ambrel->pid()}}));

  // The keyboard never left the compose window.
  Window focusAfter = 0;
  XGetInputFocus(display_, &focusAfter, &revert);
  EXPECT_EQ(focusAfter, focus);
  EXPECT_EQ(desktop_->activeWindowPid(), composer);
  xdotool({"type", "z"});
  EXPECT_FALSE(bodyEndingWith('z').empty());
}

// Without a compositing manager a translucent fill would cover the field
// opaquely: the box is an outline alone and the field shows through it; once
// one takes the screen, the box is tinted again.
TEST_F(AmbrelDesktopTest, WithoutACompositorTheBoxIsAnOutlineUntilOneStarts) {
  if (IsSkipped() || HasFatalFailure()) return;
  if (XGetSelectionOwner(display_, XInternAtom(display_, "_NET_WM_CM_S0", False)) != None) {
    GTEST_SKIP() << "a compositing manager runs already";
  }
  const std::string active = desktop_->run("xdotool", {"getactivewindow"}).out;
  ASSERT_FALSE(active.empty());
  Window child = 0;
  int left = 0, top = 0;
  XWindowAttributes attributes{};
  ASSERT_TRUE(XGetWindowAttributes(display_, std::stoul(active), &attributes));
  XTranslateCoordinates(display_, std::stoul(active), DefaultRootWindow(display_), 0, 0, &left,
                        &top, &child);
  auto ambrel = desktop_->start("ambrel", {});
  ASSERT_TRUE(ambrel);
  ASSERT_EQ(json::parse(ambrel->readLine(10s).value_or("{}")).value("event", ""), "startup");
  const int x = left + attributes.width / 2;
  const int y = top + 24;
  json hover;
  for (auto deadline = std::chrono::steady_clock::now() + 10s;
       !hover.is_object() && std::chrono::steady_clock::now() < deadline;) {
    xdotool({"mousemove", std::to_string(x), std::to_string(y)});
    while (auto line = ambrel->readLine(300ms)) {
      auto event = json::parse(*line, nullptr, false);
      if (event.value("type", "") == "hover") hover = event;
    }
  }
  ASSERT_TRUE(hover.is_object()) << ambrel->stderrText();
  const double fieldX = hover["rect"]["x"];
  const double fieldW = hover["rect"]["w"];
  const int middleY =
      static_cast<int>(hover["rect"]["y"].get<double>() + hover["rect"]["h"].get<double>() / 2);
  auto tinted = [](const Rgb& pixel) { return pixel[2] > pixel[0] + 20; };
  auto pixelOnce = [&](int px, const std::function<bool(const Rgb&)>& ready) {
    Rgb pixel{};
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
      pixel = screenPixel(display_, px, middleY);
      if (ready(pixel)) break;
    }
    return pixel;
  };
  const Rgb outline = pixelOnce(static_cast<int>(fieldX) - 1, tinted);
  EXPECT_TRUE(tinted(outline)) << outline[0] << "," << outline[1] << "," << outline[2];
  const int inside = static_cast<int>(fieldX + fieldW / 2);
  const Rgb field = screenPixel(display_, inside, middleY - 3);
  EXPECT_FALSE(tinted(field)) << "the field shows through: " << field[0] << "," << field[1] << ","
                              << field[2];

  std::string error;
  if (!desktop_->startCompositor(error)) GTEST_SKIP() << error;
  const Rgb filled = pixelOnce(inside, tinted);
  EXPECT_TRUE(tinted(filled)) << filled[0] << "," << filled[1] << "," << filled[2];
}

TEST_F(AmbrelDesktopTest, PointerOverTheFieldsGivesTheirFramesAndDrawsTheBoxAroundThem) {
  if (IsSkipped() || HasFatalFailure()) return;
  std::string error;
  if (!desktop_->startCompositor(error)) GTEST_SKIP() << error;
  // The compose window's client area on the root, as the server has it.
  const std::string active = desktop_->run("xdotool", {"getactivewindow"}).out;
  ASSERT_FALSE(active.empty());
  const Window composer = std::stoul(active);
  XWindowAttributes attributes{};
  ASSERT_TRUE(XGetWindowAttributes(display_, composer, &attributes));
  std::map<std::string, int> window{{"WIDTH", attributes.width}, {"HEIGHT", attributes.height}};
  Window child = 0;
  XTranslateCoordinates(display_, composer, DefaultRootWindow(display_), 0, 0, &window["X"],
                        &window["Y"], &child);

  auto ambrel = desktop_->start("ambrel", {});
  ASSERT_TRUE(ambrel);
  ASSERT_EQ(json::parse(ambrel->readLine(10s).value_or("{}")).value("event", ""), "startup");

  // The pointer goes to a point until a hover line for it comes: the first
  // move may come before the tap's thread listens; a move within the
  // throttle gives its line after it, and lines of earlier moves are passed
  // over.
  auto hoverAt = [&](int x, int y) -> json {
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline;) {
      xdotool({"mousemove", std::to_string(x), std::to_string(y)});
      xdotool({"mousemove", std::to_string(x + 1), std::to_string(y)});
      while (auto line = ambrel->readLine(300ms)) {
        auto event = json::parse(*line, nullptr, false);
        if (event.value("type", "") == "hover" && event["mouse"]["carbon_y"] == y &&
            (event["mouse"]["carbon_x"] == x || event["mouse"]["carbon_x"] == x + 1)) {
          return event;
        }
      }
    }
    return nullptr;
  };
  // The lines still to come of the moves made so far.
  auto drain = [&] {
    while (ambrel->readLine(300ms)) {
    }
  };
  auto rect = [](const json& r) { return std::array<double, 4>{r["x"], r["y"], r["w"], r["h"]}; };

  // The "To" entry is the first row, 12 pixels inside the window; a pixel
  // just outside it shows the window's background until the box is drawn.
  const int toY = window["Y"] + 12 + 12;
  const json to = hoverAt(window["X"] + window["WIDTH"] / 2, toY);
  ASSERT_TRUE(to.is_object()) << ambrel->stderrText();
  EXPECT_EQ(to["role"], "AXTextField");
  EXPECT_EQ(to["window_title"], "New Message");
  EXPECT_EQ(to["debug_box_visible"], true);
  const auto frame = rect(to["rect"]);
  EXPECT_GT(frame[0], window["X"] + 12);
  EXPECT_LT(frame[0] + frame[2], window["X"] + window["WIDTH"]);
  EXPECT_GE(frame[1], window["Y"]);
  EXPECT_LE(frame[1], toY);
  EXPECT_GE(frame[1] + frame[3], toY);
  EXPECT_GT(frame[3], 16);
  EXPECT_LT(frame[3], 60);
  EXPECT_EQ(rect(to["window_rect"]),
            (std::array<double, 4>{frame[0], 1024 - frame[1] - frame[3], frame[2], frame[3]}));
  EXPECT_EQ(rect(to["padded_rect"]),
            (std::array<double, 4>{frame[0] - 2, 1024 - frame[1] - frame[3] - 2, frame[2] + 4,
                                   frame[3] + 4}));
  EXPECT_EQ(to["mouse"]["carbon_y"], toY);

  // The box's opaque 1-point border lies 2 points outside the field, in the
  // configured blue; its fill tints the field. Read back once the compositing
  // manager has painted it.
  const int borderX = static_cast<int>(frame[0]) - 2;
  const int middleY = static_cast<int>(frame[1] + frame[3] / 2);
  const Rgb blue{0x34, 0x98, 0xdb};
  auto near = [](const Rgb& a, const Rgb& b) {
    for (int c = 0; c < 3; ++c) {
      if (std::abs(a[c] - b[c]) > 8) return false;
    }
    return true;
  };
  Rgb border{};
  for (auto deadline = std::chrono::steady_clock::now() + 5s;
       std::chrono::steady_clock::now() < deadline && !near(border, blue);
       std::this_thread::sleep_for(50ms)) {
    border = screenPixel(display_, borderX, middleY);
  }
  EXPECT_TRUE(near(border, blue)) << border[0] << "," << border[1] << "," << border[2];
  const Rgb fill = screenPixel(display_, static_cast<int>(frame[0] + frame[2] / 2), middleY - 3);
  EXPECT_GT(fill[2], fill[0] + 20) << "the field's white, tinted blue";

  // The Subject entry below gives its own frame; the label beside it hides
  // the box.
  std::this_thread::sleep_for(150ms);
  const json subject =
      hoverAt(window["X"] + window["WIDTH"] / 2, static_cast<int>(frame[1] + frame[3]) + 6 + 12);
  ASSERT_TRUE(subject.is_object());
  EXPECT_EQ(subject["role"], "AXTextField");
  EXPECT_GT(rect(subject["rect"])[1], frame[1] + frame[3]);
  EXPECT_EQ(rect(subject["rect"])[0], frame[0]);
  drain();
  xdotool({"mousemove", std::to_string(window["X"] + 16), std::to_string(toY)});
  Rgb after = border;
  for (auto deadline = std::chrono::steady_clock::now() + 5s;
       std::chrono::steady_clock::now() < deadline && near(after, blue);
       std::this_thread::sleep_for(50ms)) {
    after = screenPixel(display_, borderX, middleY);
  }
  EXPECT_FALSE(near(after, blue));
  EXPECT_FALSE(ambrel->readLine(300ms)) << "a label is not highlighted";

  // The compose window stops answering: hovering it costs the messaging
  // time-out per move and writes nothing, and once it answers again the
  // field is found at once.
  const int composerPid = desktop_->activeWindowPid();
  ASSERT_GT(composerPid, 0);
  ASSERT_EQ(::kill(composerPid, SIGSTOP), 0);
  for (int i = 0; i < 5; ++i) {
    xdotool(
        {"mousemove", std::to_string(window["X"] + window["WIDTH"] / 2 + i), std::to_string(toY)});
    std::this_thread::sleep_for(150ms);
  }
  EXPECT_FALSE(ambrel->readLine(300ms));
  ASSERT_EQ(::kill(composerPid, SIGCONT), 0);
  const auto resumed = std::chrono::steady_clock::now();
  const json again = hoverAt(window["X"] + window["WIDTH"] / 2, toY);
  ASSERT_TRUE(again.is_object());
  EXPECT_EQ(rect(again["rect"]), frame);
  EXPECT_LT(std::chrono::steady_clock::now() - resumed, 3s);
}

// Text in the body with an emoji before the slash: GTK counts the
// caret in characters, the agent in UTF-16 code units, so a miscount would
// cut the command short. The caret rectangle lies on the screen, inside the
// body.
TEST_F(AmbrelDesktopTest, WriteHotkeyFindsTheSlashCommandBeforeTheCaretBehindAnEmoji) {
  if (IsSkipped() || HasFatalFailure()) return;
  auto ambrel = desktop_->start("ambrel", {});
  ASSERT_TRUE(ambrel);
  auto next = lineReader(*ambrel);
  ASSERT_EQ(next(10s).value("event", ""), "startup");
  ambrel->writeLine(R"({"type":"set_shortcuts","write_accel":"control+shift+j"})");
  ASSERT_EQ(next(5s).value("event", ""), "hotkey_updated");

  // Written with Velkit, which leaves the caret after the text: xdotool drops
  // characters outside the keymap on a busy machine.
  const std::string typed = "Thanks \U0001F600 /Résumé";
  ASSERT_EQ(desktop_->runTool("velkit", {"write-text", typed}).value("status", ""), "success");
  std::string shown;
  while (shown != typed) {
    auto report = desktop_->nextComposerReport(5s);
    if (!report) break;
    if ((*report)["field"] == "body") shown = report->value("text", "");
  }
  ASSERT_EQ(shown, typed);
  const int composer = desktop_->activeWindowPid();

  // The tap records from its own thread once that runs: press until a line comes.
  json submit;
  for (int i = 0; i < 20 && submit.is_null(); ++i) {
    xdotool({"key", "ctrl+shift+j"});
    submit = next(1s);
  }
  ASSERT_EQ(submit.value("type", ""), "slash_command_submit") << ambrel->stderrText();
  EXPECT_EQ(submit["trigger"], "résumé");
  EXPECT_EQ(submit["pid"], composer);
  EXPECT_EQ(submit["frame"], (json{{"x", 0}, {"y", 0}, {"w", 0}, {"h", 0}}));
  const json caret = submit["caret_rect"];
  ASSERT_TRUE(caret.is_object()) << submit;
  EXPECT_GT(caret.value("h", 0.0), 5);
  EXPECT_GT(caret.value("x", 0.0), 0);
  EXPECT_LT(caret.value("x", 0.0), 1280);
  EXPECT_GT(caret.value("y", 0.0), 0);
  EXPECT_LT(caret.value("y", 0.0), 1024);

  // Three characters back, the word is cut at the caret.
  xdotool({"key", "Left", "Left", "Left"});
  json cut;
  for (int i = 0; i < 20 && cut.is_null(); ++i) {
    xdotool({"key", "ctrl+shift+j"});
    cut = next(1s);
  }
  EXPECT_EQ(cut.value("trigger", ""), "rés") << cut;
}

TEST_F(AmbrelDesktopTest, RatingStarsShowBelowTheWrittenFieldTakeAClickAndFindTheFocusedField) {
  if (IsSkipped() || HasFatalFailure()) return;
  auto ambrel = desktop_->start("ambrel", {});
  ASSERT_TRUE(ambrel);
  auto next = lineReader(*ambrel);
  ASSERT_EQ(next(10s).value("event", ""), "startup");
  ambrel->writeLine(
      R"({"type":"write_success","task_id":"t1","prompt_key":"fix","app_name":"Composer","field_rect":{"x":300,"y":500,"w":400,"h":30}})");

  // 6 points below the field: bottom-left y 466, so 1024 - 466 - 28 = 530
  // from the top of the 1280 by 1024 screen.
  const Window stars = agentWindow("feedback");
  ASSERT_NE(stars, 0U);
  XWindowAttributes attributes =
      attributesOnce(stars, [](const auto& a) { return a.map_state == IsViewable; });
  EXPECT_EQ(attributes.map_state, IsViewable);
  EXPECT_EQ((std::array<int, 4>{attributes.x, attributes.y, attributes.width, attributes.height}),
            (std::array<int, 4>{300, 530, 116, 28}));

  // The fourth star's cell starts 70 points in.
  // The accessibility bus does not know the agent's own windows, so the
  // body below the stars is hovered too; those lines are passed over.
  xdotool({"mousemove", "378", "544"});
  xdotool({"click", "1"});
  json rated = next(5s);
  while (rated.value("type", "") == "hover") rated = next(5s);
  EXPECT_EQ(rated, (json{{"type", "feedback_submitted"},
                         {"rating", 4},
                         {"task_id", "t1"},
                         {"prompt_key", "fix"},
                         {"app_name", "Composer"},
                         {"feedback_method", "star_tap"}}));

  // The parent writes into the focused body with Velkit, then tells of it
  // without a rectangle: the stars go below the body's frame from the
  // accessibility bus, inside the compose window's lower half, well away from
  // the blob's place at the bottom centre.
  const json written = desktop_->runTool("velkit", {"write-text", "Rated text"});
  ASSERT_EQ(written.value("status", ""), "success") << written;
  ambrel->writeLine(R"({"type":"write_success","task_id":"t2"})");
  std::map<std::string, int> window;
  std::istringstream geometry(
      desktop_->run("xdotool", {"getactivewindow", "getwindowgeometry", "--shell"}).out);
  for (std::string line; std::getline(geometry, line);) {
    if (auto equals = line.find('='); equals != std::string::npos) {
      window[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
    }
  }
  ASSERT_GT(window["WIDTH"], 116);
  attributes =
      attributesOnce(stars, [](const auto& a) { return a.map_state == IsViewable && a.x != 300; });
  EXPECT_EQ(attributes.map_state, IsViewable);
  EXPECT_GE(attributes.x, window["X"]);
  EXPECT_LE(attributes.x + 116, window["X"] + window["WIDTH"]);
  EXPECT_GT(attributes.y, window["Y"] + window["HEIGHT"] / 2);
  EXPECT_LE(attributes.y + 28, window["Y"] + window["HEIGHT"]);

  // The keyboard stayed with the compose window.
  xdotool({"type", "q"});
  EXPECT_FALSE(bodyEndingWith('q').empty());
}

// The list takes the keyboard while it shows, and the compose window has it
// again afterwards without anyone clicking it.
TEST_F(AmbrelDesktopTest, CommandListTakesArrowsAndReturnThenGivesTheKeyboardBack) {
  if (IsSkipped() || HasFatalFailure()) return;
  auto ambrel = desktop_->start("ambrel", {});
  ASSERT_TRUE(ambrel);
  auto next = lineReader(*ambrel);
  ASSERT_EQ(next(10s).value("event", ""), "startup");
  const auto isHover = [](const json& line) { return line.is_object() && line["type"] == "hover"; };
  const auto event = [&](std::chrono::milliseconds within) {
    json line = next(within);
    while (isHover(line)) line = next(within);
    return line;
  };
  auto showList = [&] {
    ambrel->writeLine(
        R"({"type":"show_list","caret_rect":{"x":300,"y":500,"w":2,"h":18},"items":[{"trigger":"fix","preview":"Fix spelling","full_text":"Fix it"},{"trigger":"shorter","preview":"Make it shorter","full_text":"Shorten it"},{"trigger":"formal","preview":"Formal tone","full_text":"Make it formal"}]})");
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
      const std::string found =
          desktop_->run("xdotool", {"search", "--onlyvisible", "--name", "^command-list$"}).out;
      if (!found.empty()) return true;
    }
    return false;
  };

  ASSERT_TRUE(showList());
  // Down twice and up once: the second item.
  xdotool({"key", "Down", "Down", "Up", "Return"});
  EXPECT_EQ(event(5s), (json{{"type", "list_selected"},
                             {"trigger", "shorter"},
                             {"full_text", "Shorten it"},
                             {"mode", "list"}}));
  xdotool({"type", "z"});
  EXPECT_FALSE(bodyEndingWith('z').empty()) << "the compose window has the keyboard again";

  // A typed letter dismisses the list and does not reach the body.
  ASSERT_TRUE(showList());
  xdotool({"type", "q"});
  EXPECT_EQ(event(5s), (json{{"type", "list_dismissed"}, {"mode", "list"}}));
  xdotool({"type", "y"});
  const std::string body = bodyEndingWith('y');
  EXPECT_FALSE(body.empty());
  EXPECT_EQ(body.find('q'), std::string::npos) << body;
}

TEST_F(AmbrelDesktopTest,
       HelpCardShowsBelowTheCaretTakesALinkClickLeavesTheKeyboardAloneAndGoesOnAClickElsewhere) {
  if (IsSkipped() || HasFatalFailure()) return;
  auto ambrel = desktop_->start("ambrel", {});
  ASSERT_TRUE(ambrel);
  auto next = lineReader(*ambrel);
  ASSERT_EQ(next(10s).value("event", ""), "startup");
  ambrel->writeLine(
      R"({"type":"show_nolari_help","field_rect":{"x":280,"y":300,"w":600,"h":300},"caret_rect":{"x":300,"y":500,"w":2,"h":18},"content":{"hotkey_chips":["Ctrl","W"],"headline_line1":"Press {accel} to write"}})");

  // 6 points below the caret: its top at bottom-left y 494, so 1024 - 494 =
  // 530 from the top of the 1280 by 1024 screen; as tall as the card, at
  // least 180 points.
  const Window card = agentWindow("help-card");
  ASSERT_NE(card, 0U);
  XWindowAttributes attributes =
      attributesOnce(card, [](const auto& a) { return a.map_state == IsViewable && a.y == 530; });
  ASSERT_EQ(attributes.map_state, IsViewable);
  EXPECT_EQ((std::array<int, 3>{attributes.x, attributes.y, attributes.width}),
            (std::array<int, 3>{300, 530, 340}));
  EXPECT_GE(attributes.height, 180);

  // Typing goes on in the body while the card shows.
  xdotool({"type", "k"});
  EXPECT_FALSE(bodyEndingWith('k').empty());

  // The link's face ends 16 points inside the card's right and bottom edges.
  // The pointer over the card hovers nothing of the body below it.
  xdotool({"mousemove", std::to_string(attributes.x + 340 - 16 - 10),
           std::to_string(attributes.y + attributes.height - 16 - 8)});
  xdotool({"click", "1"});
  const auto isHover = [](const json& line) { return line.is_object() && line["type"] == "hover"; };
  EXPECT_EQ(next(5s), (json{{"type", "nolari_help_open_nolari"}}));
  attributes = attributesOnce(card, [](const auto& a) { return a.map_state != IsViewable; });
  EXPECT_NE(attributes.map_state, IsViewable);
  json after = next(500ms);
  while (isHover(after)) after = next(500ms);
  EXPECT_TRUE(after.is_null()) << "no dismissal follows the link: " << after;

  // Shown again, a click elsewhere dismisses it.
  ambrel->writeLine(R"({"type":"show_nolari_help","content":{}})");
  attributes = attributesOnce(card, [](const auto& a) { return a.map_state == IsViewable; });
  ASSERT_EQ(attributes.map_state, IsViewable);
  xdotool({"mousemove", "20", "20"});
  xdotool({"click", "1"});
  json dismissed = next(5s);
  while (isHover(dismissed)) dismissed = next(5s);
  EXPECT_EQ(dismissed, (json{{"type", "nolari_help_dismiss"}}));
}

}  // namespace
}  // namespace nolari::test
