#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "DesktopFixture.h"
#include "platform/Geometry.h"

// Ambrel's hover over the text fields of the applications people write in: a
// GTK and a Qt editor, two browsers' rich editor and text area, and an office
// suite whose window is allowed by name. The field's frame is read from the
// bus independently of the programs under test.

namespace nolari::test {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;
using platform::Rect;

const char* const PAGE = R"(<!doctype html>
<html><head><title>Compose - Webmail</title></head><body style="margin:20px">
<div id="body" contenteditable="true" aria-label="Message body" style="height:200px;border:1px solid #888"><p>Hello Ann,</p><p>are you free for <b>lunch</b> on Friday?</p></div>
<textarea aria-label="Notes" rows="5" cols="40">Bring the agenda.</textarea>
</body></html>
)";

class AmbrelHoverTest : public DesktopFixture {
 protected:
  void TearDown() override {
    if (ambrel_) {
      ambrel_->kill(SIGTERM);
      ambrel_->wait(5s);
    }
    ::unsetenv("NOLARI_CONFIG_PATH");
  }

  // Starts the application; skips where it or the desktop is missing.
  void start(const std::vector<std::string>& command,
             const std::map<std::string, std::string>& environment, int& pid) {
    pid = 0;
    if (auto missing = HeadlessDesktop::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << "the headless desktop needs " << missing;
    }
    if (desktop_->run("sh", {"-c", "command -v " + command.front()}).exitStatus != 0) {
      GTEST_SKIP() << command.front() << " is not installed";
    }
    EXPECT_FALSE(startError_) << *startError_;
    std::string error;
    pid = desktop_->startApplication(command, environment, error);
    EXPECT_GT(pid, 0) << error;
  }

  // The agent with `config` as its configuration file, once it has started.
  void startAmbrel(const json& config = json::object()) {
    const std::string path = files_.path() + "/config.json";
    std::ofstream(path) << config.dump();
    ::setenv("NOLARI_CONFIG_PATH", path.c_str(), 1);
    ambrel_ = desktop_->start("ambrel", {});
    ASSERT_TRUE(ambrel_);
    ASSERT_EQ(json::parse(ambrel_->readLine(10s).value_or("{}")).value("event", ""), "startup");
  }

  // The field's frame on the bus once it has one and it stays put for half a
  // second: APP's object named NAME, or with "-" the focused editable one
  // (applications fill in their tree, and lay out their toolbars, a while
  // after their window shows).
  std::array<double, 4> fieldFrame(const std::string& app, const std::string& name) {
    std::array<double, 4> frame{}, before{};
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(500ms)) {
      ProcessResult read =
          desktop_->run("/usr/bin/python3",
                        {std::string(NOLARI_TESTS_DIR) + "/desktop/apps/field.py", app, name});
      const json field = json::parse(read.out, nullptr, false);
      if (!field.is_object() || !field.contains("extents")) continue;
      before = std::exchange(frame, {field["extents"][0], field["extents"][1], field["extents"][2],
                                     field["extents"][3]});
      if (frame[2] > 0 && frame == before) break;
    }
    return frame;
  }

  // The pointer comes to rest at the point; the hover line it gives. The
  // first move may come before the agent's tap listens: then it moves again.
  json hoverAt(double x, double y) {
    const long row = std::lround(y);
    for (long attempt = 0, column = std::lround(x); attempt < 5; ++attempt, ++column) {
      desktop_->run("xdotool", {"mousemove", std::to_string(column), std::to_string(row)});
      while (auto line = ambrel_->readLine(1s)) {
        json event = json::parse(*line, nullptr, false);
        if (event.value("type", "") == "hover" && event["mouse"]["carbon_x"] == column &&
            event["mouse"]["carbon_y"] == row) {
          return event;
        }
      }
    }
    return nullptr;
  }

  // Hovering a point inside the field gives its frame, a text area's role
  // and a window title that names the application.
  void expectField(const std::array<double, 4>& frame, double x, double y,
                   const std::string& title) {
    ASSERT_GT(frame[2], 0);
    const json hover = hoverAt(x, y);
    ASSERT_TRUE(hover.is_object()) << ambrel_->stderrText();
    EXPECT_EQ(hover["role"], "AXTextArea") << hover.dump();
    EXPECT_EQ(hover["rect"],
              (json{{"x", frame[0]}, {"y", frame[1]}, {"w", frame[2]}, {"h", frame[3]}}))
        << hover.dump();
    EXPECT_NE(hover.value("window_title", "").find(title), std::string::npos) << hover.dump();
  }

  static std::array<double, 4> centre(const std::array<double, 4>& frame) {
    return {frame[0] + frame[2] / 2, frame[1] + frame[3] / 2};
  }

  void checkBrowser(std::vector<std::string> command,
                    const std::map<std::string, std::string>& environment, const std::string& app,
                    const std::string& title) {
    const std::string page = files_.path() + "/compose.html";
    std::ofstream(page) << PAGE;
    command.push_back("file://" + page);
    int pid = 0;
    start(command, environment, pid);
    if (IsSkipped() || pid <= 0) return;
    startAmbrel();
    if (HasFatalFailure()) return;
    // Over the first line's words lies a run of the editor's text; to the
    // right of them, the editor itself.
    const auto body = fieldFrame(app, "Message body");
    expectField(body, body[0] + 20, body[1] + 24, title);
    expectField(body, body[0] + body[2] / 2, body[1] + body[3] - 20, title);
    const auto notes = fieldFrame(app, "Notes");
    expectField(notes, centre(notes)[0], centre(notes)[1], title);
    desktop_->stopApplication(pid);
  }

  TempDir files_;
  std::unique_ptr<RunningProcess> ambrel_;
};

// The notebook's page tab has no extents: the bus's hit test stops above it.
TEST_F(AmbrelHoverTest, GtkEditor) {
  int pid = 0;
  start({"mousepad", "--disable-server"}, {}, pid);
  if (IsSkipped() || pid <= 0) return;
  startAmbrel();
  if (HasFatalFailure()) return;
  const auto frame = fieldFrame("mousepad", "-");
  expectField(frame, centre(frame)[0], centre(frame)[1], "Mousepad");
  desktop_->stopApplication(pid);
}

// The editor's viewport answers the hit test.
TEST_F(AmbrelHoverTest, QtEditor) {
  const std::string note = files_.path() + "/note.txt";
  std::ofstream(note) << "Dear Ann,\nsee you on Friday.\n";
  int pid = 0;
  start({"featherpad", note},
        {{"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}, {"QT_ACCESSIBILITY", "1"}}, pid);
  if (IsSkipped() || pid <= 0) return;
  startAmbrel();
  if (HasFatalFailure()) return;
  const auto frame = fieldFrame("featherpad", "-");
  expectField(frame, centre(frame)[0], centre(frame)[1], "note.txt");
  desktop_->stopApplication(pid);
}

TEST_F(AmbrelHoverTest, Chromium) {
  const auto browser = chromiumLaunch(files_.path());
  checkBrowser(browser.command, browser.environment, "chromium", "Compose - Webmail");
}

TEST_F(AmbrelHoverTest, Firefox) {
  const auto browser = firefoxLaunch(files_.path());
  checkBrowser(browser.command, browser.environment, "firefox", "Compose - Webmail");
}

// The office suite's window has no parent; only windows whose title names
// the suite are highlighted.
TEST_F(AmbrelHoverTest, OfficeSuiteAllowedByItsWindowTitle) {
  const std::string letter = files_.path() + "/writer.txt";
  std::ofstream(letter) << "Minutes of the meeting\n";
  int pid = 0;
  start({"soffice", "--writer", "--norestore", "--nologo",
         "-env:UserInstallation=file://" + files_.path() + "/office", letter},
        {{"SAL_USE_VCLPLUGIN", "gtk3"}}, pid);
  if (IsSkipped() || pid <= 0) return;
  startAmbrel({{"highlight", {{"allowed_apps", {"libreoffice writer"}}}}});
  if (HasFatalFailure()) return;
  // The paragraph's extents lag behind the document's when the toolbars
  // settle: the line is the paragraph's or the document's holding the point.
  const auto paragraph = fieldFrame("soffice", "-");
  ASSERT_GT(paragraph[2], 0);
  const json hover = hoverAt(paragraph[0] + 20, centre(paragraph)[1]);
  ASSERT_TRUE(hover.is_object()) << ambrel_->stderrText();
  EXPECT_EQ(hover["role"], "AXTextArea") << hover.dump();
  EXPECT_EQ(hover["window_title"], "writer.txt - LibreOffice Writer") << hover.dump();
  const Rect rect{{hover["rect"]["x"], hover["rect"]["y"]},
                  {hover["rect"]["w"], hover["rect"]["h"]}};
  EXPECT_TRUE(rect.contains({hover["mouse"]["carbon_x"], hover["mouse"]["carbon_y"]}))
      << hover.dump();
  desktop_->stopApplication(pid);
}

}  // namespace
}  // namespace nolari::test
