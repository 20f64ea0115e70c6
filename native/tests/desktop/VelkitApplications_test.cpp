#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "DesktopFixture.h"

// Velkit's commands on real applications: two browsers on a webmail-like page
// with a rich editor, a Qt editor and an office suite.

namespace nolari::test {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

const std::string BODY = "Hello Ann,\nare you free for lunch on Friday?";
const std::string PASSWORD = "hunter2secret";

// The page focuses its rich editor and selects "lunch" in the second
// paragraph; with "?password" it focuses and selects the password instead.
const char* const COMPOSE_PAGE = R"(<!doctype html>
<html><head><title>Compose - Webmail</title></head><body>
<label>To <input id="to" value="ann@example.com"></label>
<label>Subject <input id="subject" value="Lunch on Friday"></label>
<div id="body" contenteditable="true" aria-label="Message body"><p>Hello Ann,</p><p>are you free for <b>lunch</b> on Friday?</p></div>
<label>Password <input id="pw" type="password" value="hunter2secret"></label>
<script>
// The editor's text shows in the window's title, which the window manager
// reads without the accessibility bus.
const body = document.getElementById("body");
body.addEventListener("input", () => {
  document.title = "Body: " + body.innerText.trim().replace(/\n+/g, " | ");
});
if (location.search == "?password") {
  document.getElementById("pw").focus();
  document.getElementById("pw").select();
} else {
  document.getElementById("body").focus();
  const word = document.querySelector("b").firstChild;
  getSelection().setBaseAndExtent(word, 0, word, 5);
}
</script></body></html>
)";

bool installed(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin";
  for (std::size_t start = 0, end = 0; start <= dirs.size(); start = end + 1) {
    end = std::min(dirs.find(':', start), dirs.size());
    std::string candidate = dirs.substr(start, end - start);
    candidate += '/';
    candidate += program;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
  }
  return false;
}

class VelkitApplicationsTest : public DesktopFixture {
 protected:
  // Starts the application on the desktop; skips the test where it is not installed.
  void start(const std::vector<std::string>& command,
             const std::map<std::string, std::string>& environment, int& pid) {
    pid = 0;
    if (auto missing = HeadlessDesktop::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << "the headless desktop needs " << missing;
    }
    if (!installed(command.front())) GTEST_SKIP() << command.front() << " is not installed";
    EXPECT_FALSE(startError_) << *startError_;
    std::string error;
    pid = desktop_->startApplication(command, environment, error);
    EXPECT_GT(pid, 0) << error;
  }

  // Runs a command until `done` holds of its output (applications fill in
  // their accessible tree a while after their window shows).
  json poll(const std::vector<std::string>& args, const std::function<bool(const json&)>& done,
            std::chrono::seconds patience = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    json out = desktop_->runTool("velkit", args);
    while (!(out.is_object() && done(out)) && std::chrono::steady_clock::now() < deadline) {
      out = desktop_->runTool("velkit", args);
    }
    return out;
  }

  json write(const std::string& text) {
    ProcessResult result = desktop_->run("velkit", {"write-text", text});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return json::parse(result.out, nullptr, false);
  }

  // The focused field's text as the bus shows it, read independently of
  // velkit; polled until it reads `expected`, or the last reading.
  std::string focusedText(const std::string& app, const std::string& expected) {
    std::string text;
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline && text != expected;
         std::this_thread::sleep_for(100ms)) {
      ProcessResult read = desktop_->run(
          "/usr/bin/python3", {std::string(NOLARI_TESTS_DIR) + "/desktop/apps/field.py", app, "-"});
      const json parsed = json::parse(read.out, nullptr, false);
      if (parsed.is_object()) text = parsed.value("text", "");
    }
    return text;
  }

  std::string writePage() {
    const std::string path = files_.path() + "/compose.html";
    std::ofstream(path) << COMPOSE_PAGE;
    return "file://" + path;
  }

  // The page's rich editor, its selection and the page itself; then the
  // password field, of which nothing may show.
  void checkBrowser(const std::vector<std::string>& command,
                    const std::map<std::string, std::string>& environment) {
    const std::string url = writePage();
    std::vector<std::string> withPage = command;
    withPage.push_back(url);
    int pid = 0;
    start(withPage, environment, pid);
    if (IsSkipped() || pid <= 0) return;

    json focused =
        poll({"get-focused"}, [](const json& out) { return out.value("value", json()) == BODY; });
    EXPECT_EQ(focused["role"], "AXTextArea") << focused.dump();
    EXPECT_EQ(focused["value"], BODY);
    EXPECT_EQ(focused["length"], 44);

    json capture = poll({"capture-selection"}, [](const json& out) {
      return out.value("selected_text", json()) == "lunch";
    });
    EXPECT_EQ(capture["selected_text"], "lunch") << capture.dump();
    EXPECT_EQ(capture["capture_source"], "selected_text");

    json context = desktop_->runTool("velkit", {"get-context"});
    EXPECT_EQ(context["is_browser"], true);
    EXPECT_EQ(context["focused_title"], "Message body") << context.dump();
    EXPECT_EQ(context["focused_value"], BODY);
    EXPECT_EQ(context["document_url"], url);
    EXPECT_NE(context["browser_page_title"], "Message body");
    EXPECT_EQ(context["browser_url"], url);
    EXPECT_EQ(context["browser_page_title"], "Compose - Webmail");
    // Above the page, the window: no layout container of the browser between.
    EXPECT_EQ(context["breadcrumbs"][1], context["window_title"]) << context.dump();

    // Dictated text replaces the editor's paragraphs with its own.
    ProcessResult written = desktop_->run("velkit", {"write-text", "Dear Ann,\nFriday suits me."});
    EXPECT_EQ(json::parse(written.out, nullptr, false).value("status", ""), "success")
        << written.out << written.err;
    std::string title;
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline &&
         !title.starts_with("Body: Dear Ann, | Friday");
         std::this_thread::sleep_for(50ms)) {
      title = desktop_->run("xdotool", {"getactivewindow", "getwindowname"}).out;
    }
    EXPECT_TRUE(title.starts_with("Body: Dear Ann, | Friday suits me.")) << title;

    // On a busy machine the address bar may not have the focus yet when typing
    // starts, and the address goes astray: the navigation is tried again.
    for (int attempt = 0; attempt < 3 && focused.value("role", json()) != "AXSecureTextField";
         ++attempt) {
      ASSERT_EQ(desktop_->run("xdotool", {"key", "ctrl+l"}).exitStatus, 0);
      ASSERT_EQ(desktop_->run("xdotool", {"type", url + "?password"}).exitStatus, 0);
      ASSERT_EQ(desktop_->run("xdotool", {"key", "Return"}).exitStatus, 0);
      focused = poll(
          {"get-focused"},
          [](const json& out) { return out.value("role", json()) == "AXSecureTextField"; }, 15s);
    }
    EXPECT_EQ(focused, (json{{"role", "AXSecureTextField"},
                             {"value", ""},
                             {"length", 0},
                             {"settable", focused["settable"]}}));
    capture = desktop_->runTool("velkit", {"capture-selection"});
    EXPECT_EQ(capture["focused_role"], "AXSecureTextField");
    EXPECT_EQ(capture["selected_text"], "");
    EXPECT_EQ(capture["captured_text"], "");
    EXPECT_EQ(capture["copied_text_length"], 0);
    EXPECT_EQ(capture["focused_value"], "");
    const std::string everything =
        capture.dump() + desktop_->runTool("velkit", {"get-context"}).dump();
    EXPECT_EQ(everything.find(PASSWORD), std::string::npos) << everything;
    EXPECT_EQ(everything.find("\u2022"), std::string::npos) << everything;
    EXPECT_EQ(everything.find("\u25CF"), std::string::npos) << everything;
    desktop_->stopApplication(pid);
  }

  TempDir files_;
};

TEST_F(VelkitApplicationsTest, Chromium) {
  const auto browser = chromiumLaunch(files_.path());
  checkBrowser(browser.command, browser.environment);
}

TEST_F(VelkitApplicationsTest, Firefox) {
  const auto browser = firefoxLaunch(files_.path());
  checkBrowser(browser.command, browser.environment);
}

// Qt leaves the focused state on the tab of the document; the editor is the focus.
TEST_F(VelkitApplicationsTest, FeatherPadAndLibreOfficeWriter) {
  const std::string note = files_.path() + "/note.txt";
  std::ofstream(note) << "Dear Ann,\nsee you on Friday.\n";
  int editor = 0;
  start({"featherpad", note},
        {{"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}, {"QT_ACCESSIBILITY", "1"}}, editor);
  if (IsSkipped() || editor <= 0) return;
  json focused = poll({"get-focused"},
                      [](const json& out) { return out.value("role", json()) == "AXTextArea"; });
  EXPECT_EQ(focused["role"], "AXTextArea") << focused.dump();
  EXPECT_EQ(focused["value"], "Dear Ann,\nsee you on Friday.\n");
  const std::string letter = "Dear Bob,\nlunch moved to Monday.";
  EXPECT_EQ(write(letter)["status"], "success");
  EXPECT_EQ(focusedText("featherpad", letter), letter);
  desktop_->stopApplication(editor);

  // The office suite leaves it on a panel; the focus is the paragraph being written.
  int office = 0;
  start({"soffice", "--writer", "--norestore", "--nologo",
         "-env:UserInstallation=file://" + files_.path() + "/office"},
        {{"SAL_USE_VCLPLUGIN", "gtk3"}}, office);
  if (IsSkipped() || office <= 0) return;
  poll({"get-focused"}, [](const json& out) { return out.value("role", json()) == "AXTextArea"; });
  ASSERT_EQ(desktop_->run("xdotool", {"type", "Minutes of the meeting"}).exitStatus, 0);
  focused = poll({"get-focused"}, [](const json& out) {
    return out.value("value", json()) == "Minutes of the meeting";
  });
  EXPECT_EQ(focused["role"], "AXTextArea") << focused.dump();
  EXPECT_EQ(focused["value"], "Minutes of the meeting");
  EXPECT_EQ(write("Agenda for Monday")["status"], "success");
  EXPECT_EQ(focusedText("soffice", "Agenda for Monday"), "Agenda for Monday");
  desktop_->stopApplication(office);
}

}  // namespace
}  // namespace nolari::test
