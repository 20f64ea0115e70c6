#include "platform/linux/RunLoop.h"

#include <boost/asio/post.hpp>
#include <pthread.h>
#include <thread>

namespace nolari::platform {

namespace {

constexpr size_t THREAD_NAME_MAX = 15;

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
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepRunning{io.get_executor()};
  };
  std::shared_ptr<State> state_;
};

}  // namespace

void nameCurrentThread(const std::string& name) {
  pthread_setname_np(pthread_self(), name.substr(0, THREAD_NAME_MAX).c_str());
}

AsioRunLoop::AsioRunLoop()
    : keepRunning_(io_.get_executor()), timer_(io_), agenda_(std::make_shared<Agenda>()) {
  agenda_->setWake([this] { boost::asio::post(io_, [this] { arm(); }); });
}

AsioRunLoop::~AsioRunLoop() { agenda_->setWake(nullptr); }

void AsioRunLoop::post(Task task) { boost::asio::post(io_, std::move(task)); }

std::shared_ptr<WorkItem> AsioRunLoop::postAfter(Duration delay, Task task) {
  auto item = std::make_shared<AgendaWorkItem>();
  agenda_->add(Clock::now() + delay, [item, task = std::move(task)] {
    if (!item->isCancelled()) task();
  });
  return item;
}

std::shared_ptr<Timer> AsioRunLoop::scheduleTimer(TimePoint fireDate, Task task) {
  return AgendaTimer::schedule(agenda_, fireDate, std::move(task));
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
  io_.run();
  // A later `run` starts afresh after this `stop`.
  io_.restart();
}

void AsioRunLoop::stop() { io_.stop(); }

void AsioRunLoop::arm() {
  auto earliest = agenda_->earliest();
  if (!earliest) {
    timer_.cancel();
    armedFor_.reset();
    return;
  }
  if (armedFor_ == earliest) return;
  armedFor_ = earliest;
  timer_.expires_at(*earliest);
  timer_.async_wait([this](const boost::system::error_code& error) {
    if (error) return;
    armedFor_.reset();
    runDue();
    arm();
  });
}

void AsioRunLoop::runDue() {
  TimePoint limit = Clock::now();
  while (auto due = agenda_->takeDue(limit)) due->second();
}

}  // namespace nolari::platform
