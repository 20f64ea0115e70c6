#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/Transcript.h"

using namespace std::chrono_literals;
using nlohmann::json;
using nolari::test::ProcessOptions;
using nolari::test::RunningProcess;
using nolari::test::TempDir;

namespace {

const std::string TRANSCRIPTS = std::string(NOLARI_TESTS_DIR) + "/sondra/transcripts";

std::map<std::string, std::string> simEnvironment(const std::string& script) {
  return {{"NOLARI_PLATFORM", "sim"}, {"NOLARI_SPEECH_SCRIPT", TRANSCRIPTS + "/" + script}};
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

class SondraTranscript : public testing::TestWithParam<std::string> {};

TEST_P(SondraTranscript, RepliesMatch) { nolari::test::runTranscript("sondra", GetParam()); }

INSTANTIATE_TEST_SUITE_P(Transcripts, SondraTranscript,
                         testing::ValuesIn(nolari::test::transcriptsOf("sondra")),
                         nolari::test::transcriptTestName);

TEST(SondraProcess, StartupLineComesBeforeAnyInputAndLinesAreAnsweredAsTheyCome) {
  TempDir dir;
  ProcessOptions options;
  options.env = simEnvironment("speech.json");
  options.cwd = dir.path();
  auto child = RunningProcess::start(nolari::test::programPath("sondra"), options);
  ASSERT_TRUE(child);
  auto startup = child->readLine(5s);
  ASSERT_TRUE(startup);
  EXPECT_EQ(json::parse(*startup)["event"], "startup");
  child->writeLine(R"({"id":"1","op":"ping"})");
  auto pong = child->readLine(5s);
  ASSERT_TRUE(pong);
  EXPECT_EQ(json::parse(*pong)["id"], "1");
  // Input closed in the middle of a line: the rest is still a request.
  child->writeRaw(R"({"id":"2","op":"ping"})");
  child->closeStdin();
  auto last = child->readLine(5s);
  ASSERT_TRUE(last);
  EXPECT_EQ(json::parse(*last)["id"], "2");
  auto result = child->wait(5s);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  // No "logs" directory under the working directory: nothing is created there.
  EXPECT_FALSE(std::filesystem::exists(dir.file("logs")));
}

TEST(SondraProcess, LineOfSeveralMegabytesIsServed) {
  TempDir dir;
  json request = {{"id", "big"}, {"op", "ping"}, {"contextual_strings", json::array()}};
  for (int i = 0; i < 200000; ++i)
    request["contextual_strings"].push_back("phrase number " + std::to_string(i));
  ProcessOptions options;
  options.env = simEnvironment("speech.json");
  options.cwd = dir.path();
  options.stdinData = request.dump() + "\n" + R"({"id":"after","op":"ping"})" + "\n";
  ASSERT_GT(options.stdinData.size(), 4u * 1024 * 1024);
  auto result = nolari::test::runProcess(nolari::test::programPath("sondra"), options);
  EXPECT_EQ(result.exitStatus, 0);
  auto got = lines(result.out);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(json::parse(got[1])["id"], "big");
  EXPECT_EQ(json::parse(got[2])["id"], "after");
}

TEST(SondraProcess, BadSpeechScriptIsReportedAndTheProgramStops) {
  ProcessOptions options;
  options.env = {{"NOLARI_PLATFORM", "sim"}, {"NOLARI_SPEECH_SCRIPT", "/nonexistent/script.json"}};
  auto result = nolari::test::runProcess(nolari::test::programPath("sondra"), options);
  EXPECT_NE(result.exitStatus, 0);
  EXPECT_NE(result.err.find("/nonexistent/script.json"), std::string::npos) << result.err;
}

TEST(SondraProcess, OnDeviceEngineWithoutItsModel) {
  TempDir dir;
  ProcessOptions options;
  options.cwd = dir.path();
  options.unsetEnv = {"NOLARI_PLATFORM", "NOLARI_SPEECH_SCRIPT"};
  options.env = {{"NOLARI_SPEECH_MODEL_DIR", dir.file("no-model")}};
  options.stdinData = R"({"id":"1","op":"check-permission"})"
                      "\n"
                      R"({"id":"2","op":"check-locale","locale":"en_US"})"
                      "\n"
                      R"({"id":"3","op":"install-locale"})"
                      "\n"
                      R"({"id":"4","op":"check-locale","locale":"de-DE"})"
                      "\n"
                      R"({"id":"5","op":"install-locale","locale":"de-DE"})"
                      "\n";
  auto result = nolari::test::runProcess(nolari::test::programPath("sondra"), options);
  EXPECT_EQ(result.exitStatus, 0);
  auto got = lines(result.out);
  ASSERT_EQ(got.size(), 8u) << result.out;
  EXPECT_EQ(json::parse(got[1])["authorization"], "authorized");
  EXPECT_EQ(json::parse(got[2])["asset_status"], "supported");
  json missing = json::parse(got[3]);
  EXPECT_EQ(missing["type"], "asset_error");
  EXPECT_NE(missing["message"].get<std::string>().find("pocketsphinx-en-us"), std::string::npos);
  EXPECT_EQ(json::parse(got[4])["installed"], true);
  EXPECT_EQ(json::parse(got[5])["asset_status"], "unsupported");
  EXPECT_EQ(json::parse(got[6])["type"], "asset_error");
  EXPECT_EQ(json::parse(got[7]), json({{"id", "5"},
                                       {"type", "response"},
                                       {"status", "ok"},
                                       {"locale", "de-DE"},
                                       {"installed", true}}));
}

TEST(SondraProcess, InstallationProgressOnRealTime) {
  TempDir dir;
  std::ofstream(dir.file("speech.json")) << R"({"locales":{"de-DE":{"status":"supported",
      "install":{"progress":[0.0,0.5],"interval_ms":300}}}})";
  ProcessOptions options;
  options.cwd = dir.path();
  options.env = {{"NOLARI_PLATFORM", "sim"}, {"NOLARI_SPEECH_SCRIPT", dir.file("speech.json")}};
  options.stdinData = R"({"id":"i","op":"install-locale","locale":"de-DE"})"
                      "\n"
                      R"({"id":"p","op":"ping"})"
                      "\n";
  auto result = nolari::test::runProcess(nolari::test::programPath("sondra"), options);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  auto got = lines(result.out);
  ASSERT_GE(got.size(), 5u) << result.out;
  // Progress from a second task while the request waits, then 1.0, the response and the next
  // request.
  std::vector<double> fractions;
  for (size_t i = 1; i + 2 < got.size(); ++i) {
    json line = json::parse(got[i]);
    ASSERT_EQ(line["type"], "asset_progress") << got[i];
    fractions.push_back(line["progress"].get<double>());
  }
  EXPECT_EQ(fractions.front(), 0.0);
  EXPECT_EQ(fractions.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_EQ(json::parse(got[got.size() - 2])["installed"], true);
  EXPECT_EQ(json::parse(got.back())["id"], "p");
}
