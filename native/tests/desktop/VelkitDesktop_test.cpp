#include <gtest/gtest.h>

#include "DesktopFixture.h"

// Velkit's commands on the live compose window.

namespace nolari::test {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

class VelkitDesktopTest : public DesktopFixture {};

bool onScreen(const json& context) {
  for (const char* key :
       {"focused_frame_x", "focused_frame_y", "focused_frame_w", "focused_frame_h"}) {
    if (!context.contains(key) || !context[key].is_number()) return false;
  }
  return context["focused_frame_x"] >= 0 && context["focused_frame_y"] >= 0 &&
         context["focused_frame_x"].get<double>() + context["focused_frame_w"].get<double>() <=
             1280 &&
         context["focused_frame_y"].get<double>() + context["focused_frame_h"].get<double>() <=
             1024 &&
         context["focused_frame_w"] > 100 && context["focused_frame_h"] > 16;
}

TEST_F(VelkitDesktopTest, DescribesTheFocusedBodyAndTheHeaderFields) {
  openComposer("body");
  if (IsSkipped() || HasFatalFailure()) return;
  const std::string body = "Hello Ann,\nare you free for lunch on Friday?";

  EXPECT_EQ(desktop_->runTool("velkit", {"check-permissions"}), (json{{"trusted", true}}));
  EXPECT_EQ(desktop_->runTool("velkit", {"get-focused"}),
            (json{{"role", "AXTextArea"}, {"value", body}, {"length", 44}, {"settable", true}}));

  json context = desktop_->runTool("velkit", {"get-context"});
  EXPECT_EQ(context["source_application"], "Nolari Mail");
  EXPECT_EQ(context["source_bundle_id"], "nolari-mail");
  EXPECT_EQ(context["source_pid"], desktop_->composerPid());
  EXPECT_EQ(context["focused_role"], "AXTextArea");
  EXPECT_EQ(context["focused_value"], body);
  EXPECT_EQ(context["focused_role_description"], "text");
  EXPECT_EQ(context["focused_parent_role"], "AXScrollArea");
  EXPECT_EQ(context["window_title"], "New Message");
  EXPECT_TRUE(onScreen(context)) << context.dump();
  EXPECT_EQ(context["is_browser"], false);
  // The frame around the body and the grid are groups; the window and the
  // application above it name the place.
  EXPECT_EQ(context["breadcrumbs"], json::array({"New Message", "nolari-mail"}));
  for (const char* label : {"To:", "Subject:", "Message", "Draft saved"}) {
    EXPECT_NE(std::find(context["visible_texts"].begin(), context["visible_texts"].end(), label),
              context["visible_texts"].end())
        << label << " in " << context["visible_texts"].dump();
  }
  EXPECT_EQ(context["compose_to"], "ann@example.com");
  EXPECT_EQ(context["compose_subject"], "Lunch on Friday");
  EXPECT_FALSE(context.contains("document_url"));
}

TEST_F(VelkitDesktopTest, CapturesARealSelectionAndWritesTheField) {
  openComposer("subject");
  if (IsSkipped() || HasFatalFailure()) return;

  // The focused field itself is never read as a header field.
  json context = desktop_->runTool("velkit", {"get-context"});
  EXPECT_EQ(context["focused_role"], "AXTextField");
  EXPECT_EQ(context["compose_to"], "ann@example.com");
  EXPECT_FALSE(context.contains("compose_subject"));

  ASSERT_EQ(desktop_->run("xdotool", {"key", "End", "ctrl+shift+Left"}).exitStatus, 0);
  json capture;
  for (auto deadline = std::chrono::steady_clock::now() + 5s;
       std::chrono::steady_clock::now() < deadline && capture["selected_text"] != "Friday";) {
    capture = desktop_->runTool("velkit", {"capture-selection"});
  }
  EXPECT_EQ(capture["selected_text"], "Friday") << capture.dump();
  EXPECT_EQ(capture["captured_text"], "Friday");
  EXPECT_EQ(capture["capture_source"], "selected_text");
  EXPECT_EQ(capture["copied_text_length"], 6);
  EXPECT_EQ(capture["compose_to"], "ann@example.com");

  EXPECT_EQ(desktop_->runTool("velkit", {"write-text", "Lunch moved to Monday"}),
            (json{{"method", "native-set"}, {"status", "success"}}));
  bool shown = false;
  while (auto report = desktop_->nextComposerReport(5s)) {
    if ((*report)["field"] == "subject" && (*report)["text"] == "Lunch moved to Monday") {
      shown = true;
      break;
    }
  }
  EXPECT_TRUE(shown) << "the window never showed the written text";
  // The caret is left after the written text, where the next key lands.
  ASSERT_EQ(desktop_->run("xdotool", {"type", "!"}).exitStatus, 0);
  shown = false;
  while (auto report = desktop_->nextComposerReport(5s)) {
    if ((*report)["field"] == "subject" && (*report)["text"] == "Lunch moved to Monday!") {
      shown = true;
      break;
    }
  }
  EXPECT_TRUE(shown) << "the typed key did not land after the written text";
  EXPECT_EQ(desktop_->runTool("velkit", {"get-focused"})["value"], "Lunch moved to Monday!");

  // With nothing selected any more the field's whole value is captured.
  ASSERT_EQ(desktop_->run("xdotool", {"key", "End"}).exitStatus, 0);
  capture = desktop_->runTool("velkit", {"capture-selection"});
  EXPECT_EQ(capture["capture_source"], "field_value") << capture.dump();
  EXPECT_EQ(capture["captured_text"], "Lunch moved to Monday!");
}

// No desktop at all: no display, no session bus. Trust is refused at once and
// every answer is empty.
TEST(VelkitWithoutDesktop, AnswersQuicklyAndEmpty) {
  ProcessOptions options;
  options.unsetEnv = {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
                      "WAYLAND_DISPLAY"};
  options.env = {{"NOLARI_PLATFORM", "linux"}};
  options.timeout = 10s;
  auto runVelkit = [&](std::vector<std::string> args) {
    options.args = std::move(args);
    const auto started = std::chrono::steady_clock::now();
    ProcessResult result = runProcess(programPath("velkit"), options);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return json::parse(result.out, nullptr, false);
  };
  EXPECT_EQ(runVelkit({"check-permissions"}), (json{{"trusted", false}}));
  EXPECT_EQ(runVelkit({"get-focused"}), (json{{"error", "No focused element"}}));
  json context = runVelkit({"get-context"});
  EXPECT_EQ(context["source_application"], "Unknown");
  EXPECT_EQ(context["source_pid"], 0);
  EXPECT_EQ(context["visible_texts"], json::array());
  EXPECT_EQ(runVelkit({"write-text", "x"}), (json{{"error", "No focused element"}}));
}

}  // namespace
}  // namespace nolari::test
