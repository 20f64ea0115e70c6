#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "ambrel/blob/ActionBlobState.h"
#include "platform/RunLoop.h"

// The linger that returns a terminal state to idle after its time, and the
// hover that puts it off: each pointer entry within a minute of the first one
// in the same state adds up to two seconds. A resting pointer does not hold
// the blob. Main-loop only.

namespace nolari::ambrel {

class BlobLinger {
 public:
  // `expired` runs on the main loop when a linger runs out.
  BlobLinger(platform::RunLoop& loop, std::function<void()> expired)
      : loop_(loop), expired_(std::move(expired)) {}
  ~BlobLinger();
  BlobLinger(const BlobLinger&) = delete;
  BlobLinger& operator=(const BlobLinger&) = delete;

  // Starts the linger of `state` in place of any running one; a state that
  // does not end by itself has none.
  void start(const ActionBlobState& state);
  // Stops the running linger and forgets the first hover.
  void cancel();
  // On a pointer entry while `current` is shown.
  void extendForHover(const ActionBlobState& current);
  // When the running linger ends, if one runs.
  std::optional<platform::TimePoint> fireDate() const;

 private:
  platform::RunLoop& loop_;
  std::function<void()> expired_;
  std::shared_ptr<platform::Timer> timer_;
  std::optional<platform::TimePoint> hoverAnchor_;
};

}  // namespace nolari::ambrel
