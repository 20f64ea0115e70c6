#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/RunLoop.h"

// The dated tasks of a run loop, ordered by fire date and, for equal dates, by
// the order they were added. Both run-loop backends keep their delayed work
// here, so that cancellation and moved fire dates behave the same in real and
// in virtual time.

namespace nolari::platform {

class Agenda {
 public:
  // Called, under the agenda's lock, whenever an added task becomes the
  // earliest, so that a real loop can wake sooner. It must not call back in.
  void setWake(std::function<void()> wake);

  void add(TimePoint when, Task task);
  std::optional<TimePoint> earliest() const;
  // Removes the earliest task if it is due at `limit`.
  std::optional<std::pair<TimePoint, Task>> takeDue(TimePoint limit);

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<TimePoint, uint64_t>, Task> tasks_;
  uint64_t nextSequence_ = 0;
  std::function<void()> wake_;
};

// A work item is only a flag: its task stays on the agenda and is dropped on
// the loop's thread when due, so cancelling from any thread is safe and the
// item outlives its loop harmlessly.
class AgendaWorkItem : public WorkItem {
 public:
  void cancel() override { cancelled_ = true; }
  bool isCancelled() const override { return cancelled_; }

 private:
  std::atomic<bool> cancelled_{false};
};

// Each fire date set adds an entry tagged with a new generation; entries of an
// older generation are stale and do nothing when their date comes. A valid
// timer is kept alive by its entry, so dropping the handle does not stop it.
class AgendaTimer : public Timer, public std::enable_shared_from_this<AgendaTimer> {
 public:
  static std::shared_ptr<AgendaTimer> schedule(const std::shared_ptr<Agenda>& agenda,
                                               TimePoint fireDate, Task task);

  void setFireDate(TimePoint when) override;
  TimePoint fireDate() const override { return fireDate_; }
  void invalidate() override;
  bool isValid() const override { return valid_; }

 private:
  AgendaTimer(std::weak_ptr<Agenda> agenda, Task task)
      : agenda_(std::move(agenda)), task_(std::move(task)) {}
  void fire(uint64_t generation);

  std::weak_ptr<Agenda> agenda_;
  Task task_;
  TimePoint fireDate_{};
  uint64_t generation_ = 0;
  bool valid_ = true;
};

}  // namespace nolari::platform
