#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// A program started with pipes on its standard input and output (its standard
// error is shared with ours), read line by line without blocking.

namespace nolari::parent {

class Child {
 public:
  // Null, with `error` set, when the program cannot be started.
  static std::unique_ptr<Child> start(const std::vector<std::string>& argv, std::string& error);
  // Stops the program if it still runs.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  int outputFd() const { return out_; }
  // False when the program no longer reads its input.
  bool send(const std::string& line);
  void closeInput();
  // Takes what the output has now; complete lines are appended to `lines`.
  // False at the end of the output, when a last unterminated line is appended too.
  bool read(std::vector<std::string>& lines);
  // Closes its input, asks it to end, kills it after `grace`; its exit status, or
  // 128 + the signal that ended it.
  int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

 private:
  Child() = default;

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string pending_;
  int status_ = -1;
};

}  // namespace nolari::parent
