#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <vector>

#include "DesktopFixture.h"

// Tarnet following focus in the live compose window.

namespace nolari::test {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

class TarnetDesktopTest : public DesktopFixture {};

// The next line matching `wanted`, skipping others; null at the deadline.
json nextLine(RunningProcess& tarnet, const std::function<bool(const json&)>& wanted,
              std::chrono::milliseconds within) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < deadline) {
    auto line = tarnet.readLine(std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()));
    if (!line) break;
    json parsed = json::parse(*line, nullptr, false);
    if (!parsed.is_discarded() && wanted(parsed)) return parsed;
  }
  return nullptr;
}

bool isFocusOf(const json& line, const std::string& value) {
  return line.value("type", "") == "focus_info" && line.value("value_preview", "") == value;
}

TEST_F(TarnetDesktopTest, ReportsTheFocusATabKeyMoves) {
  openComposer("to");
  if (IsSkipped() || HasFatalFailure()) return;
  auto tarnet = desktop_->start("tarnet", {});
  ASSERT_TRUE(tarnet);

  json started = nextLine(
      *tarnet, [](const json&) { return true; }, 10s);
  EXPECT_EQ(started.value("event", ""), "started") << started.dump();
  const std::string pid = std::to_string(desktop_->composerPid());
  json observing = nextLine(
      *tarnet, [](const json& l) { return l.contains("status") || l.contains("error"); }, 10s);
  EXPECT_EQ(observing, (json{{"status", "Observing pid " + pid + " (Nolari Mail)"}}));

  // The delayed checks report the field focused when the window came up.
  json to = nextLine(
      *tarnet, [](const json& l) { return isFocusOf(l, "ann@example.com"); }, 10s);
  ASSERT_FALSE(to.is_null()) << tarnet->stderrText();
  EXPECT_EQ(to["pid"], desktop_->composerPid());
  EXPECT_EQ(to["app_name"], "Nolari Mail");
  EXPECT_EQ(to["role"], "AXTextField");
  EXPECT_EQ(to["role_category"], "text_input");
  EXPECT_EQ(to["value_settable"], true);
  EXPECT_EQ(to["frame_source"],
            (json{{"strategy", "focused"}, {"depth", 0}, {"role", "AXTextField"}}));

  // Let the checks run out, then move focus with the keyboard.
  nextLine(
      *tarnet, [](const json&) { return false; }, 1500ms);
  ASSERT_EQ(desktop_->run("xdotool", {"key", "Tab"}).exitStatus, 0);
  json subject = nextLine(
      *tarnet, [](const json&) { return true; }, 5s);
  ASSERT_TRUE(isFocusOf(subject, "Lunch on Friday")) << subject.dump();
  EXPECT_EQ(subject["role"], "AXTextField");
  EXPECT_EQ(subject["value_length"], 15);
  EXPECT_EQ(subject["frame_source"]["strategy"], "focused");
  // The subject field lies right below the recipient field, the same size.
  EXPECT_EQ(subject["frame"]["x"], to["frame"]["x"]);
  EXPECT_EQ(subject["frame"]["w"], to["frame"]["w"]);
  EXPECT_EQ(subject["frame"]["h"], to["frame"]["h"]);
  EXPECT_GT(subject["frame"]["y"].get<double>(), to["frame"]["y"].get<double>());

  // Into the message body: a text area whose preview is cut at 50 characters.
  ASSERT_EQ(desktop_->run("xdotool", {"key", "Tab"}).exitStatus, 0);
  json body = nextLine(
      *tarnet, [](const json& l) { return l.value("role", "") == "AXTextArea"; }, 5s);
  EXPECT_EQ(body["role"], "AXTextArea") << body.dump();
  EXPECT_EQ(body["value_length"], 44);

  // The application quits and another one comes to the front: Tarnet
  // follows the activation.
  std::string error;
  ASSERT_TRUE(desktop_->startComposer("subject", error)) << error;
  const std::string next = std::to_string(desktop_->composerPid());
  json switched = nextLine(
      *tarnet, [](const json& l) { return l.contains("status"); }, 10s);
  EXPECT_EQ(switched, (json{{"status", "Observing pid " + next + " (Nolari Mail)"}}));
  json focused = nextLine(
      *tarnet, [](const json& l) { return l.value("type", "") == "focus_info"; }, 10s);
  EXPECT_EQ(focused["pid"], desktop_->composerPid());
  EXPECT_EQ(focused["value_preview"], "Lunch on Friday");
  tarnet->kill(SIGTERM);
}

// Applications launched while Tarnet runs often activate their window before
// they are on the accessibility bus; each launch must still be reported.
TEST_F(TarnetDesktopTest, ReportsTheFocusInEveryNewlyLaunchedApplication) {
  openComposer("to");
  if (IsSkipped() || HasFatalFailure()) return;
  if (!std::filesystem::exists("/usr/bin/mousepad")) GTEST_SKIP() << "mousepad is missing";
  auto tarnet = desktop_->start("tarnet", {});
  ASSERT_TRUE(tarnet);
  ASSERT_FALSE(nextLine(
                   *tarnet, [](const json& l) { return isFocusOf(l, "ann@example.com"); }, 10s)
                   .is_null());

  // A GTK and a Qt editor, each launched twice.
  const TempDir settings;
  const std::vector<std::string> gtk = {"mousepad", "--disable-server"};
  const std::vector<std::string> qt = {"featherpad"};
  const std::map<std::string, std::string> environment = {{"GSETTINGS_BACKEND", "memory"},
                                                          {"XDG_CONFIG_HOME", settings.path()},
                                                          {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                                                          {"QT_ACCESSIBILITY", "1"}};
  for (const auto* command : {&gtk, &qt, &gtk, &qt}) {
    const auto launched = std::chrono::steady_clock::now();
    std::string error;
    const int group = desktop_->startApplication(*command, environment, error);
    ASSERT_GT(group, 0) << error;
    json report = nextLine(
        *tarnet,
        [group](const json& l) {
          return l.value("type", "") == "focus_info" && ::getpgid(l.value("pid", 0)) == group;
        },
        10s);
    ASSERT_FALSE(report.is_null()) << command->front() << ": " << tarnet->stderrText();
    EXPECT_EQ(report["role"], "AXTextArea") << report.dump();
    std::cout << command->front() << ": first report "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - launched)
                     .count()
              << " ms after the launch\n";
    desktop_->stopApplication(group);
  }
  tarnet->kill(SIGTERM);
}

}  // namespace
}  // namespace nolari::test
