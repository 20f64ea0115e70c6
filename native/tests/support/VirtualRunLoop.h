#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Agenda.h"
#include "platform/RunLoop.h"

// The run loop on virtual time, for tests. Time stands still until the test
// moves it with `advance`; every task, whether posted to the main queue, to a
// serial queue or as a thread body, runs on the test's thread inside
// `advance` or `runUntilIdle`, in fire-date order and first come first served
// for equal dates. A serial queue's tasks are posted at the current time, so
// they keep their order. A thread body runs as one task: it must return and
// not block. Posting from another thread is safe.

namespace nolari::platform {

class VirtualRunLoop : public RunLoop {
 public:
  VirtualRunLoop();

  TimePoint now() const override { return now_; }

  void post(Task task) override;
  std::shared_ptr<WorkItem> postAfter(Duration delay, Task task) override;
  std::shared_ptr<Timer> scheduleTimer(TimePoint fireDate, Task task) override;

  std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
  void startThread(const std::string& name, Task body) override;

  // Runs what is runnable now and returns; it never waits, so a program's
  // `run` returns once it is idle or stopped. Once stopped, the loop stays
  // stopped for `run`, which then returns at once; `advance` still runs.
  void run() override;
  void stop() override { stopped_ = true; }
  bool isStopped() const { return stopped_; }

  // Runs every task due within `duration`, in order, with `now` set to each
  // task's fire date, tasks added meanwhile included; ends at now + duration.
  void advance(Duration duration);
  // Runs every task due at the current time, tasks added meanwhile included.
  void runUntilIdle();

  // The names of the threads started so far, in order.
  std::vector<std::string> threadNames() const;

 private:
  std::atomic<TimePoint> now_;
  std::atomic<bool> stopped_{false};
  std::shared_ptr<Agenda> agenda_;
  mutable std::mutex namesMutex_;
  std::vector<std::string> threadNames_;
};

}  // namespace nolari::platform
