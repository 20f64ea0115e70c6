#include "support/VirtualRunLoop.h"

namespace nolari::platform {

namespace {

// Virtual time starts an hour after the clock's epoch, so that a test may look
// back from the start without going before it.
constexpr TimePoint VIRTUAL_START{std::chrono::hours(1)};

class VirtualSerialQueue : public SerialQueue {
 public:
  explicit VirtualSerialQueue(VirtualRunLoop& loop) : loop_(loop) {}
  void post(Task task) override { loop_.post(std::move(task)); }

 private:
  VirtualRunLoop& loop_;
};

}  // namespace

VirtualRunLoop::VirtualRunLoop() : now_(VIRTUAL_START), agenda_(std::make_shared<Agenda>()) {}

void VirtualRunLoop::post(Task task) { agenda_->add(now_, std::move(task)); }

std::shared_ptr<WorkItem> VirtualRunLoop::postAfter(Duration delay, Task task) {
  auto item = std::make_shared<AgendaWorkItem>();
  agenda_->add(now_.load() + delay, [item, task = std::move(task)] {
    if (!item->isCancelled()) task();
  });
  return item;
}

std::shared_ptr<Timer> VirtualRunLoop::scheduleTimer(TimePoint fireDate, Task task) {
  return AgendaTimer::schedule(agenda_, fireDate, std::move(task));
}

std::shared_ptr<SerialQueue> VirtualRunLoop::makeSerialQueue(const std::string&) {
  return std::make_shared<VirtualSerialQueue>(*this);
}

void VirtualRunLoop::startThread(const std::string& name, Task body) {
  {
    std::lock_guard lock(namesMutex_);
    threadNames_.push_back(name);
  }
  post(std::move(body));
}

void VirtualRunLoop::run() {
  while (!stopped_) {
    auto due = agenda_->takeDue(now_);
    if (!due) break;
    due->second();
  }
}

void VirtualRunLoop::advance(Duration duration) {
  TimePoint end = now_.load() + duration;
  while (auto due = agenda_->takeDue(end)) {
    if (due->first > now_.load()) now_ = due->first;
    due->second();
  }
  // A task that advanced the loop itself may have gone further.
  if (end > now_.load()) now_ = end;
}

void VirtualRunLoop::runUntilIdle() { advance(Duration::zero()); }

std::vector<std::string> VirtualRunLoop::threadNames() const {
  std::lock_guard lock(namesMutex_);
  return threadNames_;
}

}  // namespace nolari::platform
