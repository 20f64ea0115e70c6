#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <optional>

#include "platform/Agenda.h"
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
  // Main queue only.
  void arm();
  void runDue();

  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepRunning_;
  boost::asio::steady_timer timer_;
  std::optional<TimePoint> armedFor_;
  std::shared_ptr<Agenda> agenda_;
};

// Names the calling thread; Linux keeps the first 15 bytes.
void nameCurrentThread(const std::string& name);

}  // namespace nolari::platform
