#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "base/LineSink.h"

// A line sink that never holds up its callers: lines wait in a bounded queue
// and a writer thread of the sink's own writes them to a descriptor, so a
// parent that stops reading stalls only that thread. When the queue is full a
// line is dropped whole and counted; once the writer has caught up it logs one
// WARN naming how many were lost. A descriptor that refuses writes (a closed
// pipe) is logged once and every later line dropped.
//
// `main` creates one per stream and passes it on, e.g. for the agent:
//   QueuedLineSink errors(STDERR_FILENO, "standard error");
//   NolariLogger::setStandardErrorSink(&errors);
//   QueuedLineSink output(STDOUT_FILENO, "standard output");
//   ... program objects take `output` as their LineSink& ...
//   NolariLogger::setStandardErrorSink(nullptr);  // before `errors` is destroyed
// Declared in this order, `output` is destroyed first and its last report
// still reaches `errors`. SIGPIPE must be ignored for a closed pipe to be
// seen as a failed write.

namespace nolari {

// Lines written or waiting to be: past either bound a new line is dropped. A
// line arriving when nothing waits is always kept, however long.
struct QueuedLineLimits {
  std::size_t bytes = 4u * 1024 * 1024;
  std::size_t lines = 65536;
};

class QueuedLineSink final : public LineSink {
 public:
  using Limits = QueuedLineLimits;
  // The longest the destructor waits for waiting lines to be written.
  static constexpr std::chrono::milliseconds EXIT_WAIT{1000};

  // Writes to `fd`, which stays open and owned by the caller, from a thread
  // started here. `streamName` names the stream in log lines.
  QueuedLineSink(int fd, std::string streamName, Limits limits = {},
                 std::chrono::milliseconds exitWait = EXIT_WAIT);
  // Writes what waits, for at most the exit wait. A writer still stuck in a
  // write then is left to the process's end; it touches nothing of ours.
  ~QueuedLineSink() override;

  QueuedLineSink(const QueuedLineSink&) = delete;
  QueuedLineSink& operator=(const QueuedLineSink&) = delete;

  // Never waits for the descriptor; any thread.
  void writeLine(std::string line) override;

  // Waits at most `limit` until every line given so far is written (or
  // dropped) and any loss reported; false when the time ran out first.
  bool drain(std::chrono::milliseconds limit);

 private:
  struct Queue;
  static void writeLines(const std::shared_ptr<Queue>& queue);

  std::shared_ptr<Queue> queue_;
  std::chrono::milliseconds exitWait_;
  std::thread writer_;
};

}  // namespace nolari
