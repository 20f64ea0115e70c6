#include "base/NolariLogger.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/CaptureFd.h"
#include "support/TempDir.h"

namespace nolari {
namespace {

namespace fs = std::filesystem;
using test::CaptureFd;

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> entriesOf(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  return names;
}

// Each test runs in an empty working directory of its own, with the logger's
// settings put back afterwards.
class NolariLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousComponent_ = NolariLogger::component();
    previousLogToFile_ = NolariLogger::logToFile();
    previousDirectory_ = fs::current_path();
    fs::current_path(directory_.path());
    NolariLogger::setComponent("Velkit");
  }

  void TearDown() override {
    fs::current_path(previousDirectory_);
    NolariLogger::setComponent(previousComponent_);
    NolariLogger::setLogToFile(previousLogToFile_);
  }

  fs::path logs() const { return fs::path(directory_.path()) / "logs"; }
  fs::path logFile() const { return logs() / "nolari.log"; }

  test::TempDir directory_;
  std::string previousComponent_;
  bool previousLogToFile_ = false;
  fs::path previousDirectory_;
};

TEST_F(NolariLoggerTest, WritesOneLinePerCallAtEachLevel) {
  CaptureFd err(STDERR_FILENO);
  NolariLogger::debug("d");
  NolariLogger::info("Native set success");
  NolariLogger::warn("w");
  NolariLogger::error("e");
  NolariLogger::info("");
  NolariLogger::warn("bad \xFF byte");
  err.restore();
  EXPECT_EQ(err.text(),
            "[Velkit] [DEBUG] d\n"
            "[Velkit] [INFO] Native set success\n"
            "[Velkit] [WARN] w\n"
            "[Velkit] [ERROR] e\n"
            "[Velkit] [INFO] \n"
            "[Velkit] [WARN] bad \xEF\xBF\xBD byte\n");
}

TEST_F(NolariLoggerTest, WritesNothingUnderLogsUnlessSwitchedOn) {
  fs::create_directory(logs());
  CaptureFd err(STDERR_FILENO);
  NolariLogger::info("stderr only");
  err.restore();
  EXPECT_EQ(err.text(), "[Velkit] [INFO] stderr only\n");
  EXPECT_TRUE(fs::is_empty(logs()));
}

TEST_F(NolariLoggerTest, NeverCreatesTheLogsDirectory) {
  NolariLogger::setLogToFile(true);
  CaptureFd err(STDERR_FILENO);
  NolariLogger::error("lost to the file");
  err.restore();
  EXPECT_EQ(err.text(), "[Velkit] [ERROR] lost to the file\n");
  EXPECT_TRUE(fs::is_empty(directory_.path()));
}

// The timestamp is UTC even where the local zone is not.
TEST_F(NolariLoggerTest, AppendsOneTimestampedLinePerCall) {
  fs::create_directory(logs());
  std::ofstream(logFile()) << "earlier line\n";
  const char* previousZone = std::getenv("TZ");
  const std::optional<std::string> savedZone =
      previousZone ? std::optional<std::string>(previousZone) : std::nullopt;
  setenv("TZ", "Asia/Kolkata", 1);
  tzset();
  NolariLogger::setLogToFile(true);
  CaptureFd err(STDERR_FILENO);
  // The logger's clock: time() reads a coarser one, which can lag a second
  // behind at a second's turn.
  const auto now = [] {
    return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  };
  const std::time_t before = now();
  NolariLogger::info("first");
  NolariLogger::warn("second");
  const std::time_t after = now();
  err.restore();
  if (savedZone) {
    setenv("TZ", savedZone->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();

  const auto lines = linesOf(readFile(logFile()));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line");
  const std::regex shape(R"(\[(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z\] (.*))");
  const char* expected[] = {"[Velkit] [INFO] first", "[Velkit] [WARN] second"};
  for (int i = 0; i < 2; ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i + 1], match, shape)) << lines[i + 1];
    EXPECT_EQ(match[7], expected[i]);
    std::tm parts{};
    parts.tm_year = std::stoi(match[1]) - 1900;
    parts.tm_mon = std::stoi(match[2]) - 1;
    parts.tm_mday = std::stoi(match[3]);
    parts.tm_hour = std::stoi(match[4]);
    parts.tm_min = std::stoi(match[5]);
    parts.tm_sec = std::stoi(match[6]);
    const std::time_t stamped = timegm(&parts);
    EXPECT_GE(stamped, before);
    EXPECT_LE(stamped, after);
  }
  EXPECT_EQ(linesOf(err.text()).size(), 2u) << "standard error still gets every line";
}

TEST_F(NolariLoggerTest, CreatesAMissingFileHoldingOnlyTheLine) {
  fs::create_directory(logs());
  NolariLogger::setLogToFile(true);
  CaptureFd err(STDERR_FILENO);
  NolariLogger::info("first ever");
  err.restore();
  const auto lines = linesOf(readFile(logFile()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("Z] [Velkit] [INFO] first ever")) << lines[0];
  EXPECT_EQ(entriesOf(logs()), std::vector<std::string>{"nolari.log"})
      << "no temporary file left behind";
}

TEST_F(NolariLoggerTest, LeavesAnUnopenableLogAlone) {
  fs::create_directories(logFile());
  NolariLogger::setLogToFile(true);
  CaptureFd err(STDERR_FILENO);
  NolariLogger::info("kept on stderr");
  err.restore();
  EXPECT_EQ(err.text(), "[Velkit] [INFO] kept on stderr\n");
  EXPECT_TRUE(fs::is_directory(logFile()));
  EXPECT_TRUE(fs::is_empty(logFile()));
  EXPECT_EQ(entriesOf(logs()), std::vector<std::string>{"nolari.log"});
}

// Child processes that each append `lines` log lines whenever they are
// released, and report back when done. All of them spin on one shared round
// number, so that they start writing as nearly at once as the machine allows.
class LogWriters {
 public:
  LogWriters(int count, int lines, const std::string& filler) {
    void* shared =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED || pipe(done_) != 0) return;
    shared_ = new (shared) Shared;
    for (int writer = 0; writer < count; ++writer) {
      const pid_t child = fork();
      if (child == 0) {
        close(done_[0]);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDERR_FILENO);
        for (int round = 0;; ++round) {
          while (shared_->round.load() == round) sched_yield();
          if (shared_->round.load() < 0) _exit(0);
          for (int line = 0; line < lines; ++line) {
            std::string message = "w";
            message +=
                std::to_string(writer) + " r" + std::to_string(round) + " l" + std::to_string(line);
            message += " " + filler;
            NolariLogger::info(message);
          }
          const char tick = 'd';
          if (write(done_[1], &tick, 1) != 1) _exit(1);
        }
      }
      if (child > 0) children_.push_back(child);
    }
    close(done_[1]);
  }

  ~LogWriters() {
    if (shared_ != nullptr) shared_->round.store(-1);
    close(done_[0]);
    for (const pid_t child : children_) waitpid(child, nullptr, 0);
    if (shared_ != nullptr) munmap(shared_, sizeof(Shared));
  }

  bool started(int count) const { return static_cast<int>(children_.size()) == count; }

  // Releases every writer at once and waits until all have written.
  bool runRound() {
    shared_->round.fetch_add(1);
    for (std::size_t finished = 0; finished < children_.size(); ++finished) {
      pollfd ready{done_[0], POLLIN, 0};
      char byte;
      if (poll(&ready, 1, 10000) != 1 || read(done_[0], &byte, 1) != 1) return false;
    }
    return true;
  }

 private:
  struct Shared {
    std::atomic<int> round{0};
  };

  Shared* shared_ = nullptr;
  int done_[2] = {-1, -1};
  std::vector<pid_t> children_;
};

// Velkit and Sondra run as separate processes and may both find the file
// missing at the same moment; neither may lose or tear a line.
TEST_F(NolariLoggerTest, ProcessesCreatingAndAppendingAtOnceLoseNoLine) {
  constexpr int ROUNDS = 150;
  constexpr int WRITERS = 2;
  constexpr int LINES = 4;
  fs::create_directory(logs());
  NolariLogger::setLogToFile(true);
  const std::string filler(500, '.');
  const std::regex shape(
      R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] \[Velkit\] \[INFO\] w(\d) r(\d+) l(\d) \.{500})");
  LogWriters writers(WRITERS, LINES, filler);
  ASSERT_TRUE(writers.started(WRITERS));

  for (int round = 0; round < ROUNDS; ++round) {
    fs::remove(logFile());
    ASSERT_TRUE(writers.runRound()) << "round " << round;
    const auto lines = linesOf(readFile(logFile()));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(WRITERS * LINES)) << "round " << round;
    std::vector<int> next(WRITERS, 0);
    for (const auto& line : lines) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(line, match, shape))
          << "round " << round << ": " << line.substr(0, 120);
      EXPECT_EQ(std::stoi(match[2]), round);
      EXPECT_EQ(std::stoi(match[3]), next[std::stoi(match[1])]++) << "each writer's lines in order";
    }
    ASSERT_EQ(entriesOf(logs()).size(), 1u) << "round " << round;
  }
}

}  // namespace
}  // namespace nolari
