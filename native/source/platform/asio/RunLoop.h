#pragma once

#include <memory>
#include <string>

#include "platform/RunLoop.h"

// The run loop on real time: the main queue is an io_context run by the thread
// that calls `run`; delayed work and timers wait on the agenda, which one
// steady timer watches; each serial queue and each started thread is a real,
// named thread.

namespace nolari::platform {

class AsioRunLoop : public RunLoop {
 public:
  AsioRunLoop();
  ~AsioRunLoop() override;

  AsioRunLoop(const AsioRunLoop&) = delete;
  AsioRunLoop& operator=(const AsioRunLoop&) = delete;

  TimePoint now() const override { return Clock::now(); }

  void post(Task task) override;
  std::shared_ptr<WorkItem> postAfter(Duration delay, Task task) override;
  std::shared_ptr<Timer> scheduleTimer(TimePoint fireDate, Task task) override;

  std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
  void startThread(const std::string& name, Task body) override;

  void run() override;
  void stop() override;

 private:
  struct Main;
  std::unique_ptr<Main> main_;
};

}  // namespace nolari::platform
