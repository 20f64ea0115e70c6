#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "DesktopFixture.h"

// Velkit writing into the applications people dictate into: browsers, which
// take no text over the accessibility bus or drop it, and a GTK editor, which
// does. What landed is read through the bus by a helper of the test's own.

namespace nolari::test {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

const std::string TEXT = "Héllo “Ann”,\nlunch on Friday? 😀";

std::string scratchPage() {
  return std::string("file://") + NOLARI_TESTS_DIR + "/desktop/apps/fields.html";
}

class VelkitWritingTest : public DesktopFixture {
 protected:
  // Starts the application with a fresh profile; 0 where it or the desktop
  // is missing.
  int start(const std::vector<std::string>& command,
            const std::map<std::string, std::string>& environment) {
    if (startError_) {
      ADD_FAILURE() << *startError_;
      return 0;
    }
    if (!desktop_ || !std::filesystem::exists("/usr/bin/" + command.front())) return 0;
    profile_ = std::make_unique<TempDir>();
    // Firefox's first run opens pages of its own over the one asked for.
    std::ofstream(profile_->path() + "/user.js")
        << "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
           "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
           "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
           "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n";
    std::vector<std::string> resolved;
    resolved.reserve(command.size());
    for (const auto& part : command) {
      resolved.push_back(part == "<profile>" ? profile_->path() : part);
    }
    // Settings of its own, so that nothing left by an earlier run (a question
    // about the last session) stands in front of the field.
    auto withSettings = environment;
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
      withSettings[variable] = profile_->path();
    }
    std::string error;
    const int pid = desktop_->startApplication(resolved, withSettings, error);
    EXPECT_GT(pid, 0) << error;
    return pid;
  }

  // The field as the bus shows it, independently of velkit; polled until it
  // reads `expected`, or the last reading after a while.
  json field(const std::string& app, const std::string& name, const std::string& expected = "",
             bool focus = false) {
    json read;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(100ms)) {
      std::vector<std::string> args = {std::string(NOLARI_TESTS_DIR) + "/desktop/apps/field.py",
                                       app, name};
      if (focus) args.emplace_back("--focus");
      ProcessResult result = desktop_->run("/usr/bin/python3", args);
      read = json::parse(result.out, nullptr, false);
      if (!read.is_discarded() && read.contains("text") &&
          (expected.empty() || read["text"] == expected)) {
        return read;
      }
    }
    return read;
  }

  // Runs velkit write-text; `where` names the field in a failure.
  json write(const std::string& text, const std::string& where) {
    ProcessResult result = desktop_->run("velkit", {"write-text", text});
    EXPECT_EQ(result.exitStatus, 0) << where << ": " << result.err;
    return json::parse(result.out, nullptr, false);
  }

  std::unique_ptr<TempDir> profile_;
};

const json SUCCESS = {{"method", "native-set"}, {"status", "success"}};
const json FAILED = {{"error", "Native set failed: -25204"}};

TEST_F(VelkitWritingTest, ChromiumTakesTypedTextAndRefusesWhatItCannotHold) {
  const int pid =
      start({"chromium", "--no-sandbox", "--force-renderer-accessibility",
             "--user-data-dir=<profile>", "--no-first-run", "--disable-gpu", scratchPage()},
            {{"ACCESSIBILITY_ENABLED", "1"}});
  if (pid <= 0) GTEST_SKIP() << "needs the headless desktop and chromium";
  ASSERT_EQ(field("chromium", "notes", "Old notes")["text"], "Old notes");

  EXPECT_EQ(write(TEXT, "a Chromium textarea"), SUCCESS);
  EXPECT_EQ(field("chromium", "notes", TEXT)["text"], TEXT);
  // A paragraph, typed key by key (the benchmark times 1,000 characters).
  std::string paragraph;
  for (int i = 0; i < 10; ++i) paragraph += "Dictated text goes on. ";
  EXPECT_EQ(write(paragraph, "a Chromium textarea"), SUCCESS);
  EXPECT_EQ(field("chromium", "notes", paragraph)["text"], paragraph);

  // Three characters at most: the write cannot take, and says so.
  ASSERT_EQ(field("chromium", "code", "", true)["text"], "");
  EXPECT_EQ(write("abcdef", "a Chromium input of three characters"), FAILED);
  desktop_->stopApplication(pid);
}

TEST_F(VelkitWritingTest, FirefoxShowsWhatItReportsAsWritten) {
  const int pid = start({"firefox-esr", "--no-remote", "--profile", "<profile>", scratchPage()},
                        {{"GNOME_ACCESSIBILITY", "1"}});
  if (pid <= 0) GTEST_SKIP() << "needs the headless desktop and firefox-esr";
  ASSERT_EQ(field("firefox", "notes", "Old notes")["text"], "Old notes");

  EXPECT_EQ(write(TEXT, "a Firefox textarea"), SUCCESS);
  EXPECT_EQ(field("firefox", "notes", TEXT)["text"], TEXT);
  // A single-line field is never sent Return, which would send its form.
  ASSERT_EQ(field("firefox", "name", "Ann", true)["text"], "Ann");
  EXPECT_EQ(write("Ann\nBell", "a Firefox input"), SUCCESS);
  EXPECT_EQ(field("firefox", "name", "Ann Bell")["text"], "Ann Bell");
  desktop_->stopApplication(pid);
}

TEST_F(VelkitWritingTest, GtkEditorTakesTextOverTheBusWithTheCaretAfterIt) {
  const int pid = start({"mousepad"}, {});
  if (pid <= 0) GTEST_SKIP() << "needs the headless desktop and mousepad";
  // The window is active before its text view has the keyboard focus.
  ASSERT_EQ(field("mousepad", "-")["text"], "");

  EXPECT_EQ(write(TEXT, "Mousepad"), SUCCESS);
  EXPECT_EQ(field("mousepad", "-", TEXT)["text"], TEXT);
  ASSERT_EQ(desktop_->run("xdotool", {"type", "!"}).exitStatus, 0);
  EXPECT_EQ(field("mousepad", "-", TEXT + "!")["text"], TEXT + "!");
  desktop_->stopApplication(pid);
}

}  // namespace
}  // namespace nolari::test
