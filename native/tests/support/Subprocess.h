#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Runs a program as a child process with pipes on its three standard streams,
// for tests that drive the real binaries.

namespace nolari::test {

class LineLog;

struct ProcessResult {
  int exitStatus = -1;  // -1 when the child was killed by a signal or never reaped
  int termSignal = 0;
  bool timedOut = false;
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::vector<std::string> args;           // without argv[0]
  std::map<std::string, std::string> env;  // added to, or overriding, the test's environment
  std::vector<std::string> unsetEnv;
  std::string cwd;
  std::string stdinData;
  std::chrono::milliseconds timeout{20000};
  // Blocked in the child, as a parent that blocked them would leave them.
  std::vector<int> blockedSignals;
  // The lines sent are meant as well-formed commands (see LineLog.h).
  bool wellFormedInput = false;
  // The child's standard input in non-blocking mode, as a careless parent
  // may hand it over.
  bool nonBlockingStdin = false;
};

// Writes `stdinData`, closes stdin and collects both output streams at once, so
// that a child writing a lot to either never blocks. Kills the child on timeout.
ProcessResult runProcess(const std::string& path, const ProcessOptions& options);

// A child whose stdin stays open for a conversation line by line.
class RunningProcess {
 public:
  // Null when the program could not be started.
  static std::unique_ptr<RunningProcess> start(const std::string& path,
                                               const ProcessOptions& options);
  ~RunningProcess();

  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;

  bool writeRaw(std::string_view bytes);
  bool writeLine(std::string_view line);
  void closeStdin();

  // The next stdout line without its "\n"; nullopt on timeout, or at end of
  // output when no partial line is left. `complete`, if given, tells whether
  // the line ended with "\n" rather than with the output.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout, bool* complete = nullptr);
  // What stderr gave so far, without waiting.
  std::string stderrText();
  // The same, leaving standard output unread, as a parent that stopped
  // reading it would.
  std::string stderrTextOnly();

  // Closes stdin, drains both streams and reaps the child; kills it on timeout.
  // `out` holds the stdout not yet taken by readLine.
  ProcessResult wait(std::chrono::milliseconds timeout);
  void kill(int sig = SIGKILL);
  int pid() const { return pid_; }

 private:
  friend ProcessResult runProcess(const std::string& path, const ProcessOptions& options);
  struct Pump;

  RunningProcess() = default;
  void writePending();
  void flushAndCloseStdin(std::chrono::steady_clock::time_point deadline);
  void reap(bool block);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string pendingIn_;
  std::string outBuffer_;
  std::string errBuffer_;
  std::chrono::milliseconds ioTimeout_{20000};
  bool reaped_ = false;
  int status_ = 0;
  std::unique_ptr<LineLog> lineLog_;
};

// The path of one of the built programs.
std::string programPath(const std::string& program);

}  // namespace nolari::test
