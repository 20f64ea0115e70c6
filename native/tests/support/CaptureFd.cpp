#include "support/CaptureFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace nolari::test {

struct CaptureFd::Drain {
  int readEnd = -1;
  mutable std::mutex lock;
  std::string received;
  std::thread reader;

  explicit Drain(int end) : readEnd(end) {
    reader = std::thread([this] {
      char buffer[65536];
      for (;;) {
        const ssize_t count = read(readEnd, buffer, sizeof buffer);
        if (count <= 0) break;
        const std::lock_guard guard(lock);
        received.append(buffer, static_cast<std::size_t>(count));
      }
    });
  }

  ~Drain() {
    if (reader.joinable()) reader.join();
    close(readEnd);
  }
};

CaptureFd::CaptureFd(int fd, Kind kind) : fd_(fd) {
  if (kind == Kind::pipe) {
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("cannot create a capture pipe");
    file_ = ends[1];
    drain_ = std::make_unique<Drain>(ends[0]);
  } else {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "nolari-capture-XXXXXX").string();
    file_ = mkstemp(pattern.data());
    if (file_ < 0) throw std::runtime_error("cannot create a capture file");
    unlink(pattern.c_str());
  }
  // Whatever stdio still holds belongs to the stream as it was.
  std::fflush(nullptr);
  saved_ = dup(fd_);
  if (saved_ < 0 || dup2(file_, fd_) < 0) {
    close(file_);
    throw std::runtime_error("cannot capture the descriptor");
  }
}

CaptureFd::~CaptureFd() {
  restore();
  drain_.reset();
  if (file_ >= 0) close(file_);
}

void CaptureFd::restore() {
  if (saved_ < 0) return;
  std::fflush(nullptr);
  dup2(saved_, fd_);
  close(saved_);
  saved_ = -1;
  if (drain_) {
    // The reader sees the end of the pipe once no write end is left.
    close(file_);
    file_ = -1;
    drain_->reader.join();
  }
}

std::string CaptureFd::text() const {
  if (drain_) {
    const std::lock_guard guard(drain_->lock);
    return drain_->received;
  }
  std::string contents;
  char buffer[65536];
  for (off_t offset = 0;;) {
    const ssize_t count = pread(file_, buffer, sizeof buffer, offset);
    if (count <= 0) break;
    contents.append(buffer, static_cast<std::size_t>(count));
    offset += count;
  }
  return contents;
}

std::vector<std::string> CaptureFd::lines() const {
  std::vector<std::string> result;
  const std::string contents = text();
  std::size_t start = 0;
  while (start < contents.size()) {
    const std::size_t end = contents.find('\n', start);
    if (end == std::string::npos) {
      result.push_back(contents.substr(start));
      break;
    }
    result.push_back(contents.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

}  // namespace nolari::test
