#include "base/QueuedLineSink.h"

#include <pthread.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>

#include "base/LineWriter.h"
#include "base/NolariLogger.h"

namespace nolari {

// Shared by the sink and its writer thread, so that a writer left behind at
// exit still has it.
struct QueuedLineSink::Queue {
  Queue(int fd, std::string name, Limits limits) : fd(fd), name(std::move(name)), limits(limits) {}

  const int fd;
  const std::string name;
  const Limits limits;

  std::mutex mutex;
  // The writer waits here for lines or the end.
  std::condition_variable wake;
  // drain() and the destructor wait here for the writer to settle or finish.
  std::condition_variable settled;
  std::deque<std::string> waiting;
  // Lines and bytes not yet written: those waiting and those in the writer's hand.
  std::size_t pendingLines = 0;
  std::size_t pendingBytes = 0;
  std::uint64_t dropped = 0;
  bool reporting = false;
  bool broken = false;
  bool stopping = false;
  bool abandoned = false;
  bool finished = false;

  bool idle() const { return pendingLines == 0 && !reporting && (dropped == 0 || broken); }
};

QueuedLineSink::QueuedLineSink(int fd, std::string streamName, Limits limits,
                               std::chrono::milliseconds exitWait)
    : queue_(std::make_shared<Queue>(fd, std::move(streamName), limits)),
      exitWait_(exitWait),
      writer_(writeLines, queue_) {}

QueuedLineSink::~QueuedLineSink() {
  bool finished = false;
  {
    std::unique_lock lock(queue_->mutex);
    queue_->stopping = true;
    queue_->wake.notify_all();
    finished = queue_->settled.wait_for(lock, exitWait_, [this] { return queue_->finished; });
    if (!finished) queue_->abandoned = true;
  }
  if (finished) {
    writer_.join();
  } else {
    writer_.detach();
  }
}

void QueuedLineSink::writeLine(std::string line) {
  Queue& queue = *queue_;
  const std::lock_guard lock(queue.mutex);
  if (queue.broken) return;
  const bool fits =
      queue.pendingLines == 0 || (queue.pendingLines < queue.limits.lines &&
                                  queue.pendingBytes + line.size() <= queue.limits.bytes);
  if (!fits) {
    ++queue.dropped;
    return;
  }
  ++queue.pendingLines;
  queue.pendingBytes += line.size();
  queue.waiting.push_back(std::move(line));
  queue.wake.notify_one();
}

bool QueuedLineSink::drain(std::chrono::milliseconds limit) {
  std::unique_lock lock(queue_->mutex);
  return queue_->settled.wait_for(lock, limit, [this] { return queue_->idle(); });
}

void QueuedLineSink::writeLines(const std::shared_ptr<Queue>& queue) {
  pthread_setname_np(pthread_self(), "line.writer");
  std::unique_lock lock(queue->mutex);
  for (;;) {
    queue->wake.wait(lock, [&] { return !queue->waiting.empty() || queue->stopping; });
    if (queue->waiting.empty()) break;
    std::deque<std::string> batch;
    batch.swap(queue->waiting);
    lock.unlock();

    std::size_t bytes = 0;
    // The line that failed and every one after it are unwritten.
    std::size_t unwritten = 0;
    int failure = 0;
    for (const std::string& line : batch) {
      bytes += line.size();
      if (unwritten > 0 || !LineWriter::writeAll(queue->fd, line)) {
        if (unwritten++ == 0) failure = errno;
      }
    }

    lock.lock();
    queue->pendingLines -= batch.size();
    queue->pendingBytes -= bytes;
    if (unwritten > 0) {
      // Nothing more can be written: every line from now on is lost.
      const std::uint64_t lost = queue->dropped + unwritten + queue->waiting.size();
      queue->broken = true;
      queue->pendingLines = 0;
      queue->pendingBytes = 0;
      queue->waiting.clear();
      if (!queue->abandoned) {
        queue->reporting = true;
        lock.unlock();
        NolariLogger::warn("writing to " + queue->name + " failed (" +
                           std::error_code(failure, std::generic_category()).message() +
                           "): " + std::to_string(lost) + " lines lost, and every later one");
        lock.lock();
        queue->reporting = false;
      }
    }
    // Caught up after a loss: said once, when it can be said without delay.
    if (queue->waiting.empty() && queue->dropped > 0 && !queue->broken && !queue->abandoned) {
      const std::uint64_t lost = queue->dropped;
      queue->dropped = 0;
      queue->reporting = true;
      lock.unlock();
      NolariLogger::warn(std::to_string(lost) + " lines to " + queue->name +
                         " dropped: it was not read for too long");
      lock.lock();
      queue->reporting = false;
    }
    if (queue->idle()) queue->settled.notify_all();
  }
  queue->finished = true;
  queue->settled.notify_all();
}

}  // namespace nolari
