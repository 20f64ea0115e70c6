#include "support/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include "support/LineLog.h"

extern char** environ;

namespace nolari::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t READ_CHUNK = 65536;
// How long a killed child gets to let go of its pipes before they are abandoned.
constexpr std::chrono::milliseconds KILL_GRACE{2000};

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int millisecondsUntil(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left);
}

std::vector<std::string> childEnvironment(const ProcessOptions& options) {
  std::map<std::string, std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text(*entry);
    auto equals = text.find('=');
    if (equals == std::string::npos) continue;
    env[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& name : options.unsetEnv) env.erase(name);
  for (const auto& [name, value] : options.env) env[name] = value;
  std::vector<std::string> flat;
  flat.reserve(env.size());
  for (const auto& [name, value] : env) {
    std::string entry = name;
    entry.append("=").append(value);
    flat.push_back(std::move(entry));
  }
  return flat;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (auto& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

struct RunningProcess::Pump {
  static bool until(RunningProcess& self, Clock::time_point deadline,
                    const std::function<bool()>& done) {
    while (!done()) {
      pollfd fds[3];
      int count = 0;
      int inIndex = -1, outIndex = -1, errIndex = -1;
      if (self.in_ >= 0 && !self.pendingIn_.empty()) {
        inIndex = count;
        fds[count++] = {self.in_, POLLOUT, 0};
      }
      if (self.out_ >= 0) {
        outIndex = count;
        fds[count++] = {self.out_, POLLIN, 0};
      }
      if (self.err_ >= 0) {
        errIndex = count;
        fds[count++] = {self.err_, POLLIN, 0};
      }
      if (count == 0) break;
      int timeout = millisecondsUntil(deadline);
      int ready = ::poll(fds, count, timeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (ready == 0) {
        if (timeout == 0) break;
        continue;
      }
      if (inIndex >= 0 && fds[inIndex].revents != 0) self.writePending();
      if (outIndex >= 0 && fds[outIndex].revents != 0) readInto(self.out_, self.outBuffer_);
      if (errIndex >= 0 && fds[errIndex].revents != 0) readInto(self.err_, self.errBuffer_);
    }
    return done();
  }

  static void readInto(int& fd, std::string& buffer) {
    char chunk[READ_CHUNK];
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0) {
      buffer.append(chunk, static_cast<size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      closeFd(fd);
    }
  }
};

std::unique_ptr<RunningProcess> RunningProcess::start(const std::string& path,
                                                      const ProcessOptions& options) {
  // A child that exits early must not kill the test with SIGPIPE on our next write.
  ::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> argStrings{path};
  argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envStrings = childEnvironment(options);
  std::vector<char*> argv = pointersTo(argStrings);
  std::vector<char*> envp = pointersTo(envStrings);

  int inPipe[2], outPipe[2], errPipe[2], execPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return nullptr;
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    ::close(inPipe[0]), ::close(inPipe[1]);
    return nullptr;
  }
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]}) ::close(fd);
    return nullptr;
  }
  if (::pipe2(execPipe, O_CLOEXEC) != 0) {
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
      ::close(fd);
    return nullptr;
  }

  const char* cwd = options.cwd.empty() ? nullptr : options.cwd.c_str();
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal : options.blockedSignals) sigaddset(&blocked, signal);
  const bool nonBlockingStdin = options.nonBlockingStdin;
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    ::dup2(inPipe[0], STDIN_FILENO);
    if (nonBlockingStdin) ::fcntl(STDIN_FILENO, F_SETFL, O_NONBLOCK);
    ::dup2(outPipe[1], STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    ::signal(SIGPIPE, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &blocked, nullptr);
    int failure = 0;
    if (cwd != nullptr && ::chdir(cwd) != 0) {
      failure = errno;
    } else {
      ::execve(argv[0], argv.data(), envp.data());
      failure = errno;
    }
    ssize_t ignored = ::write(execPipe[1], &failure, sizeof failure);
    (void)ignored;
    ::_exit(127);
  }

  for (int fd : {inPipe[0], outPipe[1], errPipe[1], execPipe[1]}) ::close(fd);
  if (pid < 0) {
    for (int fd : {inPipe[1], outPipe[0], errPipe[0], execPipe[0]}) ::close(fd);
    return nullptr;
  }

  int failure = 0;
  ssize_t got;
  do {
    got = ::read(execPipe[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  ::close(execPipe[0]);

  std::unique_ptr<RunningProcess> process(new RunningProcess());
  process->pid_ = pid;
  process->in_ = inPipe[1];
  process->out_ = outPipe[0];
  process->err_ = errPipe[0];
  process->ioTimeout_ = options.timeout;
  process->lineLog_ = LineLog::open(path, options.args, options.wellFormedInput);
  if (got > 0) {
    process->reap(true);
    errno = failure;
    return nullptr;
  }
  for (int fd : {process->in_, process->out_, process->err_})
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return process;
}

RunningProcess::~RunningProcess() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  closeFd(in_);
  closeFd(out_);
  closeFd(err_);
}

void RunningProcess::writePending() {
  while (!pendingIn_.empty()) {
    ssize_t wrote = ::write(in_, pendingIn_.data(), pendingIn_.size());
    if (wrote > 0) {
      pendingIn_.erase(0, static_cast<size_t>(wrote));
    } else if (wrote < 0 && errno == EINTR) {
      continue;
    } else if (wrote < 0 && errno == EAGAIN) {
      return;
    } else {
      // The child closed its stdin: what it did not take is lost.
      pendingIn_.clear();
      closeFd(in_);
      return;
    }
  }
}

bool RunningProcess::writeRaw(std::string_view bytes) {
  if (in_ < 0) return false;
  if (lineLog_) lineLog_->sent(bytes);
  pendingIn_.append(bytes);
  Pump::until(*this, Clock::now() + ioTimeout_, [this] { return pendingIn_.empty() || in_ < 0; });
  return in_ >= 0 && pendingIn_.empty();
}

bool RunningProcess::writeLine(std::string_view line) {
  std::string framed(line);
  framed.push_back('\n');
  return writeRaw(framed);
}

void RunningProcess::closeStdin() { flushAndCloseStdin(Clock::now() + ioTimeout_); }

void RunningProcess::flushAndCloseStdin(std::chrono::steady_clock::time_point deadline) {
  if (in_ < 0) return;
  Pump::until(*this, deadline, [this] { return pendingIn_.empty() || in_ < 0; });
  pendingIn_.clear();
  closeFd(in_);
}

std::optional<std::string> RunningProcess::readLine(std::chrono::milliseconds timeout,
                                                    bool* complete) {
  Pump::until(*this, Clock::now() + timeout,
              [this] { return outBuffer_.find('\n') != std::string::npos || out_ < 0; });
  auto newline = outBuffer_.find('\n');
  if (complete != nullptr) *complete = newline != std::string::npos;
  if (newline != std::string::npos) {
    std::string line = outBuffer_.substr(0, newline);
    outBuffer_.erase(0, newline + 1);
    if (lineLog_) lineLog_->received(line);
    return line;
  }
  if (out_ < 0 && !outBuffer_.empty()) {
    std::string rest;
    rest.swap(outBuffer_);
    if (lineLog_) lineLog_->received(rest);
    return rest;
  }
  return std::nullopt;
}

std::string RunningProcess::stderrText() {
  Pump::until(*this, Clock::now(), [] { return false; });
  return errBuffer_;
}

std::string RunningProcess::stderrTextOnly() {
  for (;;) {
    pollfd readable{err_, POLLIN, 0};
    if (err_ < 0 || ::poll(&readable, 1, 0) <= 0) break;
    Pump::readInto(err_, errBuffer_);
  }
  return errBuffer_;
}

ProcessResult RunningProcess::wait(std::chrono::milliseconds timeout) {
  ProcessResult result;
  auto deadline = Clock::now() + timeout;
  flushAndCloseStdin(deadline);
  bool closed = Pump::until(*this, deadline, [this] { return out_ < 0 && err_ < 0; });
  if (closed) {
    while (!reaped_ && Clock::now() < deadline) {
      reap(false);
      if (!reaped_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  if (!reaped_) {
    result.timedOut = true;
    kill(SIGKILL);
    Pump::until(*this, Clock::now() + KILL_GRACE, [this] { return out_ < 0 && err_ < 0; });
    reap(true);
  }
  closeFd(out_);
  closeFd(err_);
  if (WIFEXITED(status_)) result.exitStatus = WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) result.termSignal = WTERMSIG(status_);
  result.out = outBuffer_;
  result.err = errBuffer_;
  if (lineLog_) {
    for (auto start = outBuffer_.begin(); start != outBuffer_.end();) {
      auto feed = std::find(start, outBuffer_.end(), '\n');
      lineLog_->received(std::string_view(start, feed));
      start = feed == outBuffer_.end() ? feed : feed + 1;
    }
  }
  outBuffer_.clear();
  return result;
}

void RunningProcess::kill(int sig) {
  if (!reaped_) ::kill(pid_, sig);
}

void RunningProcess::reap(bool block) {
  if (reaped_) return;
  pid_t done;
  do {
    done = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == pid_ || (done < 0 && errno == ECHILD)) reaped_ = true;
}

ProcessResult runProcess(const std::string& path, const ProcessOptions& options) {
  auto process = RunningProcess::start(path, options);
  if (!process) {
    ProcessResult result;
    result.err = "cannot start " + path + ": " + std::strerror(errno);
    return result;
  }
  process->pendingIn_ = options.stdinData;
  if (process->lineLog_) process->lineLog_->sent(options.stdinData);
  return process->wait(options.timeout);
}

std::string programPath(const std::string& program) {
  return std::string(NOLARI_BINARY_DIR) + "/native/source/" + program + "/" + program;
}

}  // namespace nolari::test
