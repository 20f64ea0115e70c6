#include "base/QueuedLineSink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/NolariLogger.h"
#include "support/RecordingSink.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;

// Only a guard against a hang: every wait below ends long before it.
constexpr auto GUARD = 2min;

// A pipe with the smallest buffer the system allows, the log recorded.
class QueuedLineSinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

  void SetUp() override {
    ASSERT_EQ(::pipe2(fds_, O_CLOEXEC), 0);
    ASSERT_GT(::fcntl(fds_[1], F_SETPIPE_SZ, 4096), 0);
    NolariLogger::setStandardErrorSink(&log_);
  }

  void TearDown() override {
    NolariLogger::setStandardErrorSink(nullptr);
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }

  // Reads the pipe to its end on a thread of its own.
  void startReading() {
    reader_ = std::thread([this] {
      char buffer[65536];
      ssize_t got = 0;
      while ((got = ::read(fds_[0], buffer, sizeof buffer)) > 0) {
        read_.append(buffer, static_cast<std::size_t>(got));
      }
    });
  }

  // Closes the writing end once the sink is done, and returns what was read,
  // line by line, line feeds included.
  std::vector<std::string> finishReading() {
    ::close(fds_[1]);
    fds_[1] = -1;
    reader_.join();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < read_.size()) {
      const std::size_t end = read_.find('\n', start);
      lines.push_back(read_.substr(start, end == std::string::npos ? end : end + 1 - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return lines;
  }

  int fds_[2] = {-1, -1};
  test::RecordingSink log_;
  std::thread reader_;
  std::string read_;
};

// "<writer> <number> " and padding to `length` bytes, line feed included.
std::string numbered(int writer, int number, std::size_t length) {
  std::string line = std::to_string(writer) + " " + std::to_string(number) + " ";
  line.resize(length - 1, 'x');
  line += '\n';
  return line;
}

TEST_F(QueuedLineSinkTest, LinesFromSeveralThreadsComeOutWholeAndInOrderOnceTheReaderReads) {
  constexpr int WRITERS = 3;
  constexpr int LINES = 400;
  // Some lines are longer than the pipe holds; nothing is dropped.
  auto lengthOf = [](int number) -> std::size_t { return number % 50 == 7 ? 70'000 : 40 + number; };
  {
    QueuedLineSink sink(fds_[1], "test pipe", {.bytes = 64u << 20, .lines = 1u << 20});
    std::vector<std::thread> writers;
    for (int writer = 0; writer < WRITERS; ++writer) {
      writers.emplace_back([&sink, writer, lengthOf] {
        for (int number = 0; number < LINES; ++number) {
          sink.writeLine(numbered(writer, number, lengthOf(number)));
        }
      });
    }
    for (auto& writer : writers) writer.join();
    // Every call above returned with the pipe full and nobody reading.
    startReading();
    ASSERT_TRUE(sink.drain(GUARD));
  }
  const auto lines = finishReading();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(WRITERS * LINES));
  std::vector<int> next(WRITERS, 0);
  for (const auto& line : lines) {
    const int writer = line[0] - '0';
    ASSERT_TRUE(writer >= 0 && writer < WRITERS) << line.substr(0, 20);
    ASSERT_EQ(line, numbered(writer, next[writer], lengthOf(next[writer])));
    ++next[writer];
  }
  EXPECT_TRUE(log_.lines().empty());
}

struct Bound {
  QueuedLineSink::Limits limits;
  std::size_t lineLength;
  int kept;
};

class QueuedLineSinkBounds : public QueuedLineSinkTest,
                             public ::testing::WithParamInterface<Bound> {};

// The first line, longer than the pipe, holds the writer up until the reader
// comes; what fits the bound beside it is kept and the rest counted.
TEST_P(QueuedLineSinkBounds, LossBeyondTheBoundIsCountedAndReportedOnceCaughtUp) {
  constexpr int LINES = 1000;
  const Bound bound = GetParam();
  std::vector<std::string> expected;
  {
    QueuedLineSink sink(fds_[1], "test pipe", bound.limits);
    for (int number = 0; number < LINES; ++number) {
      std::string line = numbered(0, number, number == 0 ? 5000 : bound.lineLength);
      if (number < bound.kept) expected.push_back(line);
      sink.writeLine(std::move(line));
    }
    startReading();
    ASSERT_TRUE(sink.drain(GUARD));
    EXPECT_EQ(log_.lines(),
              std::vector<std::string>{"[Nolari] [WARN] " + std::to_string(LINES - bound.kept) +
                                       " lines to test pipe dropped: it was not read for too "
                                       "long\n"});
    // Caught up, the sink takes lines again.
    for (int number = LINES; number < LINES + 3; ++number) {
      expected.push_back(numbered(0, number, bound.lineLength));
      sink.writeLine(expected.back());
    }
  }
  EXPECT_EQ(finishReading(), expected);
  EXPECT_EQ(log_.lines().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BytesAndLines, QueuedLineSinkBounds,
                         ::testing::Values(Bound{{.bytes = 7000, .lines = 100}, 1000, 3},
                                           Bound{{.bytes = 1u << 20, .lines = 4}, 200, 4}));

TEST_F(QueuedLineSinkTest, AClosedPipeIsReportedOnceAndLaterLinesAreDropped) {
  QueuedLineSink sink(fds_[1], "test pipe", {.bytes = 1u << 20, .lines = 10});
  for (int number = 0; number < 1000; ++number) sink.writeLine(numbered(0, number, 5000));
  // The writer is stuck in the first line until the reading end goes.
  ::close(fds_[0]);
  fds_[0] = -1;
  ASSERT_TRUE(sink.drain(GUARD));
  for (int number = 0; number < 100; ++number) sink.writeLine("later\n");
  ASSERT_TRUE(sink.drain(GUARD));
  EXPECT_EQ(log_.lines(),
            std::vector<std::string>{"[Nolari] [WARN] writing to test pipe failed (Broken pipe): "
                                     "1000 lines lost, and every later one\n"});
}

// The report of lost log lines goes through the very queue that lost them.
TEST_F(QueuedLineSinkTest, ALogThatWasNotReadReportsItsOwnLoss) {
  {
    QueuedLineSink errors(fds_[1], "standard error", {.bytes = 1u << 20, .lines = 2});
    NolariLogger::setStandardErrorSink(&errors);
    NolariLogger::warn(std::string(5000, 'w'));
    for (int i = 0; i < 50; ++i) NolariLogger::info("line " + std::to_string(i));
    startReading();
    ASSERT_TRUE(errors.drain(GUARD));
    NolariLogger::setStandardErrorSink(nullptr);
  }
  const auto lines = finishReading();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), std::string("[Nolari] [WARN] ").size() + 5001);
  EXPECT_EQ(lines[1], "[Nolari] [INFO] line 0\n");
  EXPECT_EQ(lines[2],
            "[Nolari] [WARN] 49 lines to standard error dropped: it was not read for too long\n");
}

}  // namespace
}  // namespace nolari
