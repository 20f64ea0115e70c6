#include "platform/Agenda.h"

namespace nolari::platform {

void Agenda::setWake(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

void Agenda::add(TimePoint when, Task task) {
  std::lock_guard lock(mutex_);
  auto [position, inserted] =
      tasks_.emplace(std::make_pair(when, nextSequence_++), std::move(task));
  if (inserted && position == tasks_.begin() && wake_) wake_();
}

std::optional<TimePoint> Agenda::earliest() const {
  std::lock_guard lock(mutex_);
  if (tasks_.empty()) return std::nullopt;
  return tasks_.begin()->first.first;
}

std::optional<std::pair<TimePoint, Task>> Agenda::takeDue(TimePoint limit) {
  std::lock_guard lock(mutex_);
  if (tasks_.empty() || tasks_.begin()->first.first > limit) return std::nullopt;
  auto node = tasks_.extract(tasks_.begin());
  return std::make_pair(node.key().first, std::move(node.mapped()));
}

std::shared_ptr<AgendaTimer> AgendaTimer::schedule(const std::shared_ptr<Agenda>& agenda,
                                                   TimePoint fireDate, Task task) {
  std::shared_ptr<AgendaTimer> timer(new AgendaTimer(agenda, std::move(task)));
  timer->setFireDate(fireDate);
  return timer;
}

void AgendaTimer::setFireDate(TimePoint when) {
  if (!valid_) return;
  fireDate_ = when;
  uint64_t generation = ++generation_;
  if (auto agenda = agenda_.lock()) {
    agenda->add(when, [self = shared_from_this(), generation] { self->fire(generation); });
  }
}

void AgendaTimer::invalidate() {
  valid_ = false;
  task_ = nullptr;
}

void AgendaTimer::fire(uint64_t generation) {
  if (!valid_ || generation != generation_) return;
  valid_ = false;
  Task task = std::move(task_);
  task_ = nullptr;
  task();
}

}  // namespace nolari::platform
