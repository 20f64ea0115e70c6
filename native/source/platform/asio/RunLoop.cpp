#include "platform/asio/RunLoop.h"

// Asio's handler memory uses standard fences, which ThreadSanitizer does not
// model; its queues synchronise through mutexes, which it does.
#if defined(__SANITIZE_THREAD__)
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include <optional>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/Agenda.h"
#include "platform/ThreadName.h"

namespace nolari::platform {

namespace {

using WorkGuard = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;

// A thread of its own with its own io_context. When the queue goes, the tasks
// already posted still run and the thread then ends by itself: it is detached
// rather than joined, so that dropping a queue never waits on a task.
class AsioSerialQueue : public SerialQueue {
 public:
  explicit AsioSerialQueue(const std::string& label) : state_(std::make_shared<State>()) {
    std::thread([state = state_, label] {
      nameCurrentThread(label);
      state->io.run();
    }).detach();
  }

  ~AsioSerialQueue() override {
    boost::asio::post(state_->io, [state = state_] { state->keepRunning.reset(); });
  }

  void post(Task task) override { boost::asio::post(state_->io, std::move(task)); }

 private:
  struct State {
    boost::asio::io_context io;
    WorkGuard keepRunning{io.get_executor()};
  };
  std::shared_ptr<State> state_;
};

}  // namespace

// The main queue's io_context and the one steady timer that waits for the
// agenda's earliest task. `arm` and `runDue` run on the main queue only.
struct AsioRunLoop::Main {
  Main() : keepRunning(io.get_executor()), timer(io), agenda(std::make_shared<Agenda>()) {
    agenda->setWake([this] { boost::asio::post(io, [this] { arm(); }); });
  }
  ~Main() { agenda->setWake(nullptr); }

  void arm() {
    auto earliest = agenda->earliest();
    if (!earliest) {
      timer.cancel();
      armedFor.reset();
      return;
    }
    if (armedFor == earliest) return;
    armedFor = earliest;
    timer.expires_at(*earliest);
    timer.async_wait([this](const boost::system::error_code& error) {
      if (error) return;
      armedFor.reset();
      runDue();
      arm();
    });
  }

  void runDue() {
    TimePoint limit = Clock::now();
    while (auto due = agenda->takeDue(limit)) due->second();
  }

  boost::asio::io_context io;
  WorkGuard keepRunning;
  boost::asio::steady_timer timer;
  std::optional<TimePoint> armedFor;
  std::shared_ptr<Agenda> agenda;
};

AsioRunLoop::AsioRunLoop() : main_(std::make_unique<Main>()) {}

AsioRunLoop::~AsioRunLoop() = default;

void AsioRunLoop::post(Task task) { boost::asio::post(main_->io, std::move(task)); }

std::shared_ptr<WorkItem> AsioRunLoop::postAfter(Duration delay, Task task) {
  auto item = std::make_shared<AgendaWorkItem>();
  main_->agenda->add(Clock::now() + delay, [item, task = std::move(task)] {
    if (!item->isCancelled()) task();
  });
  return item;
}

std::shared_ptr<Timer> AsioRunLoop::scheduleTimer(TimePoint fireDate, Task task) {
  return AgendaTimer::schedule(main_->agenda, fireDate, std::move(task));
}

std::shared_ptr<SerialQueue> AsioRunLoop::makeSerialQueue(const std::string& label) {
  return std::make_shared<AsioSerialQueue>(label);
}

void AsioRunLoop::startThread(const std::string& name, Task body) {
  // Detached: a thread body may run for the life of the process.
  std::thread([name, body = std::move(body)] {
    nameCurrentThread(name);
    body();
  }).detach();
}

void AsioRunLoop::run() {
  main_->io.run();
  // A later `run` starts afresh after this `stop`.
  main_->io.restart();
}

void AsioRunLoop::stop() { main_->io.stop(); }

}  // namespace nolari::platform
