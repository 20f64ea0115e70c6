#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/RunLoop.h"

// How every backend delivers notices, so that they all agree on the awkward
// cases: a handler removed during a delivery, an observer dropped or
// unscheduled while its notice waits on a run loop.

namespace nolari::platform {

// Handlers of one kind of notice, added and removed from any thread. A
// delivery calls the handlers registered when it starts, in the order they
// were added, without holding the lock, so a handler may add or remove
// handlers; one removed before its turn is not called, one added meanwhile
// waits for the next notice.
template <class... Args>
class NoticeHandlers : public std::enable_shared_from_this<NoticeHandlers<Args...>> {
 public:
  using Handler = std::function<void(const Args&...)>;
  using Token = std::uint64_t;

  static std::shared_ptr<NoticeHandlers> make() { return std::make_shared<NoticeHandlers>(); }

  Token add(Handler handler) {
    std::lock_guard lock(mutex_);
    const Token token = nextToken_++;
    handlers_.emplace_back(token, std::make_shared<Handler>(std::move(handler)));
    return token;
  }

  void remove(Token token) {
    std::lock_guard lock(mutex_);
    std::erase_if(handlers_, [token](const auto& entry) { return entry.first == token; });
  }

  bool empty() const {
    std::lock_guard lock(mutex_);
    return handlers_.empty();
  }

  void deliver(const Args&... args) {
    std::vector<std::pair<Token, std::shared_ptr<Handler>>> snapshot;
    {
      std::lock_guard lock(mutex_);
      snapshot = handlers_;
    }
    for (const auto& [token, handler] : snapshot) {
      if (isRegistered(token)) (*handler)(args...);
    }
  }

  // Delivers on `loop`'s main queue; nothing happens if the handlers are gone
  // by then.
  void post(RunLoop& loop, Args... args) {
    loop.post([weak = this->weak_from_this(), args...] {
      if (auto handlers = weak.lock()) handlers->deliver(args...);
    });
  }

 private:
  bool isRegistered(Token token) const {
    std::lock_guard lock(mutex_);
    return std::any_of(handlers_.begin(), handlers_.end(),
                       [token](const auto& entry) { return entry.first == token; });
  }

  mutable std::mutex mutex_;
  std::vector<std::pair<Token, std::shared_ptr<Handler>>> handlers_;
  Token nextToken_ = 1;
};

// An accessibility observer of one process. Its notices go to the run loop it
// is scheduled on and are dropped on arrival when the observer was released,
// unscheduled or moved to another loop meanwhile. Backends derive from it to
// keep their registrations.
class ScheduledObserver : public AXObserver,
                          public std::enable_shared_from_this<ScheduledObserver> {
 public:
  ScheduledObserver(std::int32_t pid, AXObserverCallback callback)
      : pid(pid), callback_(std::move(callback)) {}

  const std::int32_t pid;

  // A null loop unschedules.
  void schedule(RunLoop* loop);
  bool isScheduled() const;
  void post(const AXUIElement& element, const std::string& notification);

 protected:
  mutable std::mutex mutex_;

 private:
  const AXObserverCallback callback_;
  RunLoop* loop_ = nullptr;
};

// The observers a backend created, held weakly: releasing the last handle
// ends an observer.
template <class Observer>
class ObserverSet {
 public:
  void add(const std::shared_ptr<Observer>& observer) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
    observers_.push_back(observer);
  }

  // The live observers of `pid`, in the order they were created.
  std::vector<std::shared_ptr<Observer>> of(std::int32_t pid) {
    std::vector<std::shared_ptr<Observer>> live;
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : observers_) {
      if (auto observer = weak.lock(); observer && observer->pid == pid) {
        live.push_back(std::move(observer));
      }
    }
    return live;
  }

  bool empty() {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
    return observers_.empty();
  }

 private:
  std::mutex mutex_;
  std::vector<std::weak_ptr<Observer>> observers_;
};

}  // namespace nolari::platform
