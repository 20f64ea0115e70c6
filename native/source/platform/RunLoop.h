#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// The clock, the main queue, timers, serial background queues and named
// threads. Program code takes every delay and timer from here, so that tests
// run on virtual time.

namespace nolari::platform {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;
using Task = std::function<void()>;

// A unit of deferred work that can be cancelled before it runs. `cancel` may
// be called from any thread; a task already running is not interrupted.
class WorkItem {
 public:
  virtual ~WorkItem() = default;
  virtual void cancel() = 0;
  virtual bool isCancelled() const = 0;
};

// A one-shot timer on the main queue whose fire date can be moved while it is
// valid, earlier or later. It becomes invalid once it fired or was
// invalidated, and then ignores new fire dates. The loop keeps a valid timer
// alive: dropping the handle does not cancel it. Main-thread only.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void setFireDate(TimePoint when) = 0;
  virtual TimePoint fireDate() const = 0;
  virtual void invalidate() = 0;
  virtual bool isValid() const = 0;
};

// Runs its tasks one after another, in order, off the main queue. `post` may be
// called from any thread. Tasks already posted still run after the queue is
// released.
class SerialQueue {
 public:
  virtual ~SerialQueue() = default;
  virtual void post(Task task) = 0;
};

class RunLoop {
 public:
  virtual ~RunLoop() = default;

  virtual TimePoint now() const = 0;

  // The main queue. `post` and `postAfter` may be called from any thread.
  virtual void post(Task task) = 0;
  virtual std::shared_ptr<WorkItem> postAfter(Duration delay, Task task) = 0;
  // Main-thread only.
  virtual std::shared_ptr<Timer> scheduleTimer(TimePoint fireDate, Task task) = 0;

  virtual std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) = 0;
  // A named thread that runs `body` once; the thread ends when `body` returns.
  // Nobody waits for it: a body may run for the life of the process.
  virtual void startThread(const std::string& name, Task body) = 0;

  // Runs the main queue on the calling thread until `stop`, which may be called
  // from any thread. The loop must outlive the tasks that post to it.
  virtual void run() = 0;
  virtual void stop() = 0;
};

}  // namespace nolari::platform
