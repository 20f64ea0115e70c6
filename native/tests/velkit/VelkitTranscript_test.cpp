#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/SimPlatform.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

// Each transcript under transcripts/ names a scene and a sequence of runs of
// the real binary against one copy of it, so a run sees what the runs before
// it wrote. Per run: "args", the exit "status" (default 0), and any of "line"
// (the whole output object), "text" (the exact output line), "has" (members
// that must be present with these values), "lacks" (members that must be
// absent) and "log" (texts each of which appears in a log line, on standard
// error and in logs/nolari.log).

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using nolari::test::ProcessOptions;
using nolari::test::runProcess;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> transcriptNames() {
  std::vector<std::string> names;
  for (const auto& entry :
       fs::directory_iterator(std::string(NOLARI_TESTS_DIR) + "/velkit/transcripts")) {
    if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Transcript : public testing::TestWithParam<std::string> {};

TEST_P(Transcript, RunsAsWritten) {
  const fs::path file =
      fs::path(NOLARI_TESTS_DIR) / "velkit" / "transcripts" / (GetParam() + ".json");
  const json transcript = json::parse(readFile(file));
  nolari::test::TempDir dir;
  fs::create_directory(dir.file("logs"));

  ProcessOptions options;
  options.cwd = dir.path();
  options.unsetEnv = {"NOLARI_SIM_COUNTS"};
  if (transcript.contains("scene")) {
    const std::string scene = dir.file("scene.json");
    fs::copy_file(nolari::test::scenePath(transcript["scene"].get<std::string>()), scene);
    options.env = {{"NOLARI_PLATFORM", "sim"}, {"NOLARI_SIM_SCENE", scene}};
  }

  std::size_t logLinesBefore = 0;
  for (std::size_t i = 0; i < transcript["runs"].size(); ++i) {
    const json& step = transcript["runs"][i];
    SCOPED_TRACE("run " + std::to_string(i) + ": " + step["args"].dump());
    options.args = step["args"].get<std::vector<std::string>>();
    const auto result = runProcess(nolari::test::programPath("velkit"), options);

    EXPECT_EQ(result.exitStatus, step.value("status", 0)) << result.err;
    ASSERT_FALSE(result.out.empty());
    ASSERT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
    ASSERT_EQ(result.out.back(), '\n');
    const std::string line = result.out.substr(0, result.out.size() - 1);
    const json object = json::parse(line);
    ASSERT_TRUE(object.is_object()) << line;

    if (step.contains("text")) {
      EXPECT_EQ(line, step["text"].get<std::string>());
    }
    if (step.contains("line")) {
      EXPECT_EQ(object, step["line"]) << line;
    }
    if (step.contains("has")) {
      for (const auto& [key, value] : step["has"].items()) {
        EXPECT_TRUE(object.contains(key)) << key << " missing from " << line;
        if (object.contains(key)) {
          EXPECT_EQ(object[key], value) << key;
        }
      }
    }
    for (const auto& key : step.value("lacks", json::array())) {
      EXPECT_FALSE(object.contains(key.get<std::string>())) << key << " present in " << line;
    }

    const std::string logFile = readFile(dir.file("logs/nolari.log"));
    std::vector<std::string> fileLines;
    std::istringstream lines(logFile);
    for (std::string l; std::getline(lines, l);) fileLines.push_back(l);
    const std::vector<std::string> newLines(fileLines.begin() + static_cast<long>(logLinesBefore),
                                            fileLines.end());
    logLinesBefore = fileLines.size();
    for (const auto& expected : step.value("log", json::array())) {
      const std::string text = expected.get<std::string>();
      EXPECT_NE(result.err.find("[Velkit] " + text + "\n"), std::string::npos) << result.err;
      EXPECT_TRUE(std::any_of(newLines.begin(), newLines.end(), [&](const std::string& l) {
        return l.starts_with("[") && l.find("Z] [Velkit] " + text) != std::string::npos &&
               l.ends_with(text);
      })) << logFile;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Velkit, Transcript, testing::ValuesIn(transcriptNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
