#include "platform/sim/EventTaps.h"

namespace nolari::platform {

namespace {

bool isDisabledNotice(const TapEvent& event) {
  return event.type == TapEvent::Type::tapDisabledByTimeout ||
         event.type == TapEvent::Type::tapDisabledByUserInput;
}

}  // namespace

SimEventTap::SimEventTap(TapCallback callback, bool silent, bool listenOnly)
    : callback_(std::move(callback)), silent_(silent), listenOnly_(listenOnly) {}

SimEventTap::~SimEventTap() {
  for (auto& entry : pending_) {
    if (entry.after) entry.after();
  }
}

void SimEventTap::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

bool SimEventTap::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void SimEventTap::setRepeatsSwallowed(KeyCode key, bool swallowed) {
  std::lock_guard lock(mutex_);
  if (swallowed) {
    repeatsSwallowed_.insert(key);
  } else {
    repeatsSwallowed_.erase(key);
  }
}

std::set<KeyCode> SimEventTap::repeatsSwallowed() const {
  std::lock_guard lock(mutex_);
  return repeatsSwallowed_;
}

void SimEventTap::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopped_ || !pending_.empty(); });
    if (stopped_) return;
    Entry entry = std::move(pending_.front());
    pending_.pop_front();
    busy_ = true;
    lock.unlock();
    process(entry);
    lock.lock();
    busy_ = false;
  }
}

void SimEventTap::process(Entry& entry) {
  if (!entry.event) {
    entry.after();
    return;
  }
  bool deliver = true;
  {
    std::lock_guard lock(mutex_);
    if (isDisabledNotice(*entry.event)) {
      enabled_ = false;
    } else {
      deliver = enabled_;
    }
  }
  if (!deliver) {
    entry.after();
    return;
  }
  const TapAnswer answer = callback_(*entry.event);
  if (entry.after && (listenOnly_ || answer == TapAnswer::pass)) entry.after();
}

bool SimEventTap::queue(Entry& entry) {
  std::lock_guard lock(mutex_);
  if (silent_ || stopped_) return false;
  const bool notice = entry.event && isDisabledNotice(*entry.event);
  if (!notice && !enabled_ && pending_.empty() && !busy_) return false;
  pending_.push_back(std::move(entry));
  wake_.notify_one();
  return true;
}

void SimEventTap::send(const TapEvent& event, std::function<void()> passed) {
  Entry entry{event, std::move(passed)};
  if (!queue(entry) && entry.after) entry.after();
}

void SimEventTap::sendDisabledNotice(TapEvent::Type cause) {
  TapEvent notice;
  notice.type = cause;
  Entry entry{notice, nullptr};
  queue(entry);
}

void SimEventTap::afterPending(std::function<void()> work) {
  Entry entry{std::nullopt, std::move(work)};
  if (!queue(entry)) entry.after();
}

void SimEventTap::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  wake_.notify_all();
}

SimEventTaps::~SimEventTaps() {
  std::lock_guard lock(mutex_);
  for (const auto& weak : made_) {
    if (auto tap = weak.lock()) tap->stop();
  }
}

std::shared_ptr<EventTap> SimEventTaps::createKeyboardTap(TapCallback callback) {
  const SimTapMode mode =
      desktop_->withState([](SimDesktop::State& state) { return state.model.keyboardTap; });
  if (mode == SimTapMode::refused) return nullptr;
  auto tap = std::make_shared<SimEventTap>(std::move(callback), mode == SimTapMode::silent, false);
  desktop_->withState([&tap](SimDesktop::State& state) { state.keyboardTap = tap; });
  std::lock_guard lock(mutex_);
  made_.push_back(tap);
  return tap;
}

std::shared_ptr<EventTap> SimEventTaps::createMouseTap(TapCallback callback) {
  const SimTapMode mode =
      desktop_->withState([](SimDesktop::State& state) { return state.model.mouseTap; });
  if (mode == SimTapMode::refused) return nullptr;
  auto tap = std::make_shared<SimEventTap>(std::move(callback), mode == SimTapMode::silent, true);
  desktop_->withState([&tap](SimDesktop::State& state) { state.mouseTap = tap; });
  std::lock_guard lock(mutex_);
  made_.push_back(tap);
  return tap;
}

}  // namespace nolari::platform
