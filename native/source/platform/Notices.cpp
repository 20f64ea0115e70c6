#include "platform/Notices.h"

namespace nolari::platform {

void ScheduledObserver::schedule(RunLoop* loop) {
  std::lock_guard lock(mutex_);
  loop_ = loop;
}

bool ScheduledObserver::isScheduled() const {
  std::lock_guard lock(mutex_);
  return loop_ != nullptr;
}

void ScheduledObserver::post(const AXUIElement& element, const std::string& notification) {
  RunLoop* loop = nullptr;
  {
    std::lock_guard lock(mutex_);
    loop = loop_;
  }
  if (!loop) return;
  std::weak_ptr<ScheduledObserver> weak = weak_from_this();
  loop->post([weak, loop, element, notification] {
    auto observer = weak.lock();
    if (!observer) return;
    {
      std::lock_guard lock(observer->mutex_);
      if (observer->loop_ != loop) return;
    }
    observer->callback_(element, notification);
  });
}

}  // namespace nolari::platform
