#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "core/AXHelpers.h"
#include "core/UnicodeText.h"
#include "support/CaptureFd.h"
#include "support/RecordingSink.h"
#include "support/SimPlatform.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "velkit/VelkitCommands.h"

// Arguments of any bytes and a broken environment still give one valid JSON
// line and never a crash.

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using nolari::test::ProcessOptions;
using nolari::test::ProcessResult;

class VelkitInput : public testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(nolari::test::scenePath("mail_compose"), dir_.file("scene.json"));
    fs::create_directory(dir_.file("logs"));
  }

  ProcessResult run(std::vector<std::string> args) {
    ProcessOptions options;
    options.args = std::move(args);
    options.cwd = dir_.path();
    options.env = {{"NOLARI_PLATFORM", "sim"}, {"NOLARI_SIM_SCENE", dir_.file("scene.json")}};
    options.unsetEnv = {"NOLARI_SIM_COUNTS"};
    return runProcess(nolari::test::programPath("velkit"), options);
  }

  // The single line of output, parsed.
  static json line(const ProcessResult& result) {
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_TRUE(result.out.ends_with("\n")) << result.out;
    EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
    return json::parse(result.out);
  }

  nolari::test::TempDir dir_;
};

TEST_F(VelkitInput, InvalidUTF8IsRepairedInCommandWordsAndTexts) {
  auto unknown = run({"get\xff-focused"});
  EXPECT_EQ(unknown.exitStatus, 1);
  EXPECT_EQ(line(unknown), (json{{"error", "Unknown command: get\uFFFD-focused"}}));

  auto written = run({"write-text", "caf\xc3 ok \xed\xa0\x80"});
  EXPECT_EQ(written.exitStatus, 0);
  EXPECT_EQ(line(written)["status"], "success");
  const json focused = line(run({"get-focused"}));
  const std::string value = focused["value"];
  EXPECT_TRUE(value.starts_with("caf\uFFFD ok ")) << value;
  EXPECT_EQ(focused["length"], nolari::UnicodeText::characterCount(value));
}

TEST_F(VelkitInput, QuotesNewlinesAndBackslashesRoundTrip) {
  const std::string text = "line one\n\"quoted\" \\ back\r\n\ttab\u2028end";
  EXPECT_EQ(line(run({"write-text", text}))["status"], "success");
  const json focused = line(run({"get-focused"}));
  EXPECT_EQ(focused["value"], text);
  const json context = line(run({"capture-selection"}));
  EXPECT_EQ(context["captured_text"], text);
  EXPECT_EQ(context["focused_value"], "line one\n\"quoted\" \\ back\r\n\ttab\u2028end");
}

// Linux takes at most 128 KiB in one argument (MAX_ARG_STRLEN), so the
// binary gets the longest text the kernel passes, and the command itself a
// megabyte in-process.
TEST_F(VelkitInput, LongestArgumentIsWrittenWhole) {
  const std::string text(128 * 1024 - 1, 'x');
  auto written = run({"write-text", text});
  EXPECT_EQ(line(written)["status"], "success");
  EXPECT_NE(written.err.find("Writing text (131071 chars)"), std::string::npos);
  const json focused = line(run({"get-focused"}));
  EXPECT_EQ(focused["length"], text.size());
  const json context = line(run({"get-context"}));
  EXPECT_EQ(context["focused_value"], std::string(160, 'x') + "\u2026");
}

TEST(VelkitCommands, OneMegabyteTextIsWrittenWhole) {
  nolari::test::SimPlatform sim("mail_compose");
  const std::string text(1 << 20, 'y');
  nolari::test::RecordingSink out;
  nolari::test::CaptureFd err(2);
  nolari::Velkit::writeText(out, sim.accessibility(), sim.workspace(), text);
  err.restore();
  EXPECT_EQ(out.lines(),
            std::vector<std::string>{"{\"method\":\"native-set\",\"status\":\"success\"}\n"});
  EXPECT_NE(err.text().find("Writing text (1048576 chars)"), std::string::npos);
  EXPECT_EQ(nolari::AXHelpers::getStringAttribute(sim.accessibility(),
                                                  sim.desktop().element("body"), "AXValue"),
            text);
}

TEST_F(VelkitInput, UnreadableSceneExitsWithStatusTwo) {
  ProcessOptions options;
  options.args = {"get-focused"};
  options.cwd = dir_.path();
  options.env = {{"NOLARI_PLATFORM", "sim"}, {"NOLARI_SIM_SCENE", dir_.file("missing.json")}};
  const auto result = runProcess(nolari::test::programPath("velkit"), options);
  EXPECT_EQ(result.exitStatus, 2);
  const json error = line(result);
  ASSERT_TRUE(error.contains("error"));
  EXPECT_NE(error["error"].get<std::string>().find("missing.json"), std::string::npos);
  EXPECT_NE(result.err.find("[Velkit] [ERROR] "), std::string::npos);
}

// Special files where a file is expected never block, and a scene nested
// deeper than any desktop is refused, not followed down the stack.
TEST_F(VelkitInput, HostileScenesAndLogFilesEndInOneLine) {
  ASSERT_EQ(::mkfifo(dir_.file("fifo.json").c_str(), 0600), 0);
  std::string deep = R"({"frontmost":701,"applications":[{"pid":701,"windows":[)";
  for (int i = 0; i < 10000; ++i) deep += R"({"AXRole":"AXGroup","children":[)";
  for (int i = 0; i < 10000; ++i) deep += "]}";
  deep += "]}]}";
  std::ofstream(dir_.file("deep.json")) << deep;
  for (const char* scene : {"fifo.json", "deep.json"}) {
    ProcessOptions options;
    options.args = {"get-focused"};
    options.cwd = dir_.path();
    options.env = {{"NOLARI_PLATFORM", "sim"}, {"NOLARI_SIM_SCENE", dir_.file(scene)}};
    options.timeout = std::chrono::seconds(10);
    const auto result = runProcess(nolari::test::programPath("velkit"), options);
    EXPECT_FALSE(result.timedOut) << scene;
    EXPECT_EQ(result.exitStatus, 2) << scene;
    EXPECT_TRUE(line(result).contains("error")) << result.out;
  }
  fs::remove(dir_.file("logs/nolari.log"));
  ASSERT_EQ(::mkfifo(dir_.file("logs/nolari.log").c_str(), 0600), 0);
  const auto logged = run({"write-text", "into a pipe"});
  EXPECT_EQ(logged.exitStatus, 0) << logged.err;
  EXPECT_EQ(line(logged)["status"], "success");
}

TEST_F(VelkitInput, ClosedStandardOutputStillWritesAndLogs) {
  ProcessOptions options;
  options.args = {"-c", "exec \"$0\" write-text closed >&-", nolari::test::programPath("velkit")};
  options.cwd = dir_.path();
  options.env = {{"NOLARI_PLATFORM", "sim"}, {"NOLARI_SIM_SCENE", dir_.file("scene.json")}};
  const auto result = runProcess("/bin/sh", options);
  EXPECT_EQ(result.termSignal, 0);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.err.find("[Velkit] [INFO] Native set success"), std::string::npos);
  EXPECT_EQ(line(run({"get-focused"}))["value"], "closed");
}

}  // namespace
