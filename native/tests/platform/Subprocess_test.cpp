#include "support/Subprocess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/TempDir.h"

using namespace std::chrono_literals;
using nolari::test::ProcessOptions;
using nolari::test::RunningProcess;
using nolari::test::runProcess;
using nolari::test::TempDir;

TEST(Subprocess, CatEchoesStdinAndReportsExitStatus) {
  ProcessOptions options;
  options.stdinData = "one\ntwo\n";
  auto result = runProcess("/bin/cat", options);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, "one\ntwo\n");
}

TEST(Subprocess, LargeOutputOnBothStreamsDoesNotDeadlock) {
  ProcessOptions options;
  options.stdinData = std::string(1 << 20, 'x');
  options.args = {"-c", "cat; head -c 300000 /dev/zero >&2; exit 3"};
  auto result = runProcess("/bin/sh", options);
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(result.out.size(), size_t{1} << 20);
  EXPECT_EQ(result.err.size(), 300000u);
}

TEST(Subprocess, EnvironmentAndWorkingDirectoryReachTheChild) {
  TempDir dir;
  ::setenv("NOLARI_SUBPROCESS_DROPPED", "yes", 1);
  ProcessOptions options;
  options.args = {"-c", "echo \"$NOLARI_A|${NOLARI_SUBPROCESS_DROPPED:-unset}|$(pwd)\""};
  options.env = {{"NOLARI_A", "set"}};
  options.unsetEnv = {"NOLARI_SUBPROCESS_DROPPED"};
  options.cwd = dir.path();
  auto result = runProcess("/bin/sh", options);
  ::unsetenv("NOLARI_SUBPROCESS_DROPPED");
  EXPECT_EQ(result.out, "set|unset|" + dir.path() + "\n");
}

TEST(Subprocess, TimeoutKillsTheChild) {
  ProcessOptions options;
  options.args = {"-c", "exec sleep 30"};
  options.timeout = 100ms;
  auto result = runProcess("/bin/sh", options);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.termSignal, SIGKILL);
  EXPECT_EQ(result.exitStatus, -1);
}

TEST(Subprocess, MissingProgramIsNotStarted) {
  EXPECT_EQ(RunningProcess::start("/nonexistent/program", {}), nullptr);
  auto result = runProcess("/nonexistent/program", {});
  EXPECT_EQ(result.exitStatus, -1);
  EXPECT_NE(result.err.find("/nonexistent/program"), std::string::npos);
}

TEST(Subprocess, ConversationLineByLine) {
  auto process = RunningProcess::start("/bin/cat", {});
  ASSERT_NE(process, nullptr);
  bool complete = false;
  EXPECT_TRUE(process->writeLine("hello"));
  EXPECT_EQ(process->readLine(5s, &complete), "hello");
  EXPECT_TRUE(complete);
  EXPECT_EQ(process->readLine(20ms), std::nullopt);
  EXPECT_TRUE(process->writeRaw("partial"));
  process->closeStdin();
  EXPECT_EQ(process->readLine(5s, &complete), "partial");
  EXPECT_FALSE(complete);
  EXPECT_EQ(process->readLine(5s), std::nullopt);
  auto result = process->wait(5s);
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(Subprocess, StderrAndSignalsAreReported) {
  ProcessOptions options;
  options.args = {"-c", "echo oops >&2; echo ready; exec cat"};
  auto process = RunningProcess::start("/bin/sh", options);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(process->readLine(5s), "ready");
  EXPECT_EQ(process->stderrText(), "oops\n");
  process->kill(SIGTERM);
  auto result = process->wait(5s);
  EXPECT_EQ(result.termSignal, SIGTERM);
  EXPECT_FALSE(result.timedOut);
}

TEST(Subprocess, WritingToAClosedStdinFailsWithoutSignal) {
  ProcessOptions options;
  options.args = {"-c", "exec 0<&-; echo closed; exec sleep 30"};
  auto process = RunningProcess::start("/bin/sh", options);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(process->readLine(5s), "closed");
  EXPECT_FALSE(process->writeLine("anyone there?"));
}

TEST(TempDir, IsRemovedWithItsContents) {
  std::string path;
  {
    TempDir dir;
    path = dir.path();
    ::mkdir(dir.file("sub").c_str(), 0700);
    std::ofstream(dir.file("sub/data.txt")) << "content";
    struct stat info;
    EXPECT_EQ(::stat(dir.file("sub/data.txt").c_str(), &info), 0);
  }
  struct stat info;
  EXPECT_NE(::stat(path.c_str(), &info), 0);
}
