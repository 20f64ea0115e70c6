#include "Child.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

extern char** environ;

namespace nolari::parent {

namespace {

// A line longer than this is cut there: a child gone wrong must not fill our memory.
constexpr size_t MAX_LINE = 8 << 20;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int exitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::unique_ptr<Child> Child::start(const std::vector<std::string>& argv, std::string& error) {
  int input[2];
  int output[2];
  if (::pipe2(input, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  if (::pipe2(output, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    ::close(input[0]), ::close(input[1]);
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int status = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(output[1]);
  if (status != 0) {
    error = argv[0];
    error.append(": ").append(std::strerror(status));
    ::close(input[1]), ::close(output[0]);
    return nullptr;
  }
  ::fcntl(output[0], F_SETFL, ::fcntl(output[0], F_GETFL) | O_NONBLOCK);
  std::unique_ptr<Child> child(new Child());
  child->pid_ = pid;
  child->in_ = input[1];
  child->out_ = output[0];
  return child;
}

Child::~Child() { stop(); }

bool Child::send(const std::string& line) {
  if (in_ < 0) return false;
  std::string bytes = line;
  bytes.push_back('\n');
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(in_, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      closeFd(in_);
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return true;
}

void Child::closeInput() { closeFd(in_); }

bool Child::read(std::vector<std::string>& lines) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(out_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    if (got <= 0) {
      if (!pending_.empty()) lines.push_back(std::move(pending_));
      pending_.clear();
      closeFd(out_);
      return false;
    }
    pending_.append(chunk, static_cast<size_t>(got));
    size_t start = 0;
    for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(pending_.substr(start, end - start));
    }
    pending_.erase(0, start);
    if (pending_.size() > MAX_LINE) {
      lines.push_back(pending_.substr(0, MAX_LINE));
      pending_.clear();
    }
  }
}

int Child::stop(std::chrono::milliseconds grace) {
  closeFd(in_);
  closeFd(out_);
  if (pid_ < 0) return status_;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == 0) {
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  pid_ = -1;
  status_ = exitCode(status);
  return status_;
}

}  // namespace nolari::parent
