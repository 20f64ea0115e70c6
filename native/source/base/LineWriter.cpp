#include "base/LineWriter.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace nolari::LineWriter {

namespace {

std::mutex standardOutputLock;
std::mutex standardErrorLock;

}  // namespace

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      // A descriptor the parent made non-blocking: wait rather than leave half a line.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
      }
      return false;
    }
    if (written == 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void writeToStandardOutput(std::string_view line) {
  const std::lock_guard lock(standardOutputLock);
  writeAll(STDOUT_FILENO, line);
}

void writeToStandardError(std::string_view line) {
  const std::lock_guard lock(standardErrorLock);
  writeAll(STDERR_FILENO, line);
}

}  // namespace nolari::LineWriter
