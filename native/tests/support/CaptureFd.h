#pragma once

#include <memory>
#include <string>
#include <vector>

// Catches what the code under test writes to a file descriptor (1 or 2) in the
// test's own process, by putting a temporary file, or a pipe drained by a
// thread of its own, in its place until restored. A pipe is what the parent
// application gives the programs: writes longer than its buffer may be split.

namespace nolari::test {

class CaptureFd {
 public:
  enum class Kind { file, pipe };

  explicit CaptureFd(int fd, Kind kind = Kind::file);
  ~CaptureFd();

  CaptureFd(const CaptureFd&) = delete;
  CaptureFd& operator=(const CaptureFd&) = delete;

  // Everything written so far (for a pipe: everything, once restored).
  std::string text() const;
  // The text split at each "\n"; a last line without one is kept too.
  std::vector<std::string> lines() const;
  // Puts the original descriptor back; later writes go where they went before.
  void restore();

 private:
  struct Drain;

  int fd_;
  int saved_ = -1;
  int file_ = -1;
  std::unique_ptr<Drain> drain_;
};

}  // namespace nolari::test
