#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/RunLoop.h"
#include "platform/sim/Control.h"
#include "platform/sim/Desktop.h"

// The simulated desktop's control channel: one JSON object per line, written
// by a test or a benchmark to make things happen on the desktop from outside
// the program, as the user and the real desktop would. The channel is a FIFO
// or a Unix socket (see the README, "Simulated desktop control channel").
// Lines are read on a thread of the channel's own and applied on the main run
// loop, in the order they arrived; a line that cannot be applied is reported
// on standard error and ignored.

namespace nolari::platform {

class SimControlChannel {
 public:
  // Longer lines are reported and skipped whole.
  static constexpr std::size_t MAX_LINE_BYTES = 1024 * 1024;

  // Reads the FIFO at `path` if there is one; otherwise listens on a Unix
  // socket made at `path`, taking any number of writers. Null with `error` set
  // when neither can be done.
  static std::unique_ptr<SimControlChannel> open(const std::string& path,
                                                 std::shared_ptr<SimDesktop> desktop,
                                                 RunLoop& mainLoop, std::string& error);
  // Lines read afterwards are dropped; a socket made by `open` is removed.
  ~SimControlChannel();

  SimControlChannel(const SimControlChannel&) = delete;
  SimControlChannel& operator=(const SimControlChannel&) = delete;

  // Applies one line through the desktop's drive operations, on the calling
  // thread (the main run loop's). False with `error` set when the line is
  // ignored; a blank line is ignored without an error.
  static bool apply(std::string_view line, SimControl& control, RunLoop& mainLoop,
                    std::string& error);

 private:
  struct Shared;
  explicit SimControlChannel(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  std::shared_ptr<Shared> shared_;
};

}  // namespace nolari::platform
