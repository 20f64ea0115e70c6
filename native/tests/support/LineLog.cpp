#include "support/LineLog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

namespace nolari::test {

namespace {

bool isProgram(const std::string& name) {
  return name == "ambrel" || name == "tarnet" || name == "velkit" || name == "sondra";
}

// Lines that are not UTF-8 are kept readable; the check then finds them wrong.
std::string dumped(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::unique_ptr<LineLog> LineLog::open(const std::string& programPath,
                                       const std::vector<std::string>& args, bool inputChecked) {
  const char* dir = std::getenv("NOLARI_TEST_LINE_LOG");
  const std::string program = std::filesystem::path(programPath).filename().string();
  if (!dir || !*dir || !isProgram(program)) return nullptr;
  static std::atomic<int> runs{0};
  const std::string file = std::string(dir) + "/" + program + "-" + std::to_string(::getpid()) +
                           "-" + std::to_string(runs++) + ".jsonl";
  std::unique_ptr<LineLog> log(new LineLog(file));
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  const std::string testName =
      test ? std::string(test->test_suite_name()) + "." + test->name() : std::string();
  log->file_ << dumped({{"program", program},
                        {"args", args},
                        {"test", testName},
                        {"input_checked", inputChecked}})
             << "\n";
  return log;
}

LineLog::~LineLog() {
  if (!partialInput_.empty()) record("in", partialInput_);
}

void LineLog::sent(std::string_view bytes) {
  for (auto feed = bytes.find('\n'); feed != std::string_view::npos; feed = bytes.find('\n')) {
    partialInput_.append(bytes.substr(0, feed));
    record("in", partialInput_);
    partialInput_.clear();
    bytes.remove_prefix(feed + 1);
  }
  partialInput_.append(bytes);
}

void LineLog::received(std::string_view line) { record("out", line); }

void LineLog::record(const char* direction, std::string_view line) {
  file_ << dumped({{direction, std::string(line)}}) << "\n";
  file_.flush();
}

}  // namespace nolari::test
