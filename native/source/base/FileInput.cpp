#include "base/FileInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nolari::FileInput {

int openRegularFile(const std::string& path, std::string& error) {
  // The system would read the path only up to the NUL, which names another file.
  if (path.find('\0') != std::string::npos) {
    error = "the path holds a NUL byte";
    return -1;
  }
  // Opening a FIFO for reading blocks until a writer comes, unless it is
  // opened without blocking; what it is can only be asked once it is open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    error = S_ISDIR(status.st_mode) ? "is a directory" : "is not a regular file";
    ::close(fd);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

int openRegularFileAs(const std::string& path, std::string_view kind, std::string& error) {
  std::string reason;
  const int fd = openRegularFile(path, reason);
  if (fd >= 0) return fd;
  if (reason.starts_with("is ")) {
    error = path;
    error += ' ';
    error += reason;
    error += ", not ";
    error += kind;
  } else {
    error = "cannot open ";
    error += path;
  }
  return -1;
}

std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes,
                                           std::string& error) {
  const int fd = openRegularFile(path, error);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[64 * 1024];
  while (bytes.size() <= maxBytes) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      error = std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    if (count == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  if (bytes.size() > maxBytes) {
    error = "is larger than ";
    error += std::to_string(maxBytes);
    error += " bytes";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace nolari::FileInput
