#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/EventTaps.h"
#include "platform/sim/Desktop.h"

// The simulated desktop's event taps. Key presses and mouse moves come from
// the drive operations (SimControl) on the main run loop; each tap queues them
// and hands them to its callback on the thread that runs it, one at a time,
// so the answer to one event is known before the next is delivered. What a
// keyboard tap lets through reaches the applications (the desktop's typed
// text) in the order the keys were pressed.
//
// An event that reaches a tap while it is off passes it unseen, as it would a
// real tap that the system no longer routes events through; events queued
// before it went off are still delivered. A tap whose thread never runs holds
// its events, as a real one does until the system gives up on it.

namespace nolari::platform {

class SimEventTap : public EventTap, public std::enable_shared_from_this<SimEventTap> {
 public:
  // A silent tap exists but never sees an event. A listen-only tap ignores its
  // callback's answers.
  SimEventTap(TapCallback callback, bool silent, bool listenOnly);
  // Events still queued pass on to the applications.
  ~SimEventTap() override;

  void setEnabled(bool enabled) override;
  bool isEnabled() const override;
  void setRepeatsSwallowed(KeyCode key, bool swallowed) override;
  // Returns once `stop` was called (the taps object went).
  void run() override;

  // Hands an event to the tap. `passed` runs once it went past the tap: on the
  // tap's thread after the callback answered pass, or at once on the calling
  // thread when the tap does not see the event. A swallowed event never runs it.
  void send(const TapEvent& event, std::function<void()> passed);
  // The platform turns the tap off: once the events sent before are delivered,
  // the tap is off and its callback gets the notice. Nothing for a silent tap.
  void sendDisabledNotice(TapEvent::Type cause);
  // Runs `work` once every event sent before has gone past the tap or was
  // swallowed.
  void afterPending(std::function<void()> work);
  void stop();

  // The keys whose repeats the callback said it swallows.
  std::set<KeyCode> repeatsSwallowed() const;

 private:
  struct Entry {
    std::optional<TapEvent> event;  // none: only `after` runs
    std::function<void()> after;    // for an event: runs when it passed
  };
  // Queues the entry (moving it) unless the tap would not see it: then the
  // caller lets it take effect at once.
  bool queue(Entry& entry);
  void process(Entry& entry);

  const TapCallback callback_;
  const bool silent_;
  const bool listenOnly_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Entry> pending_;
  bool busy_ = false;  // the tap's thread is delivering an entry
  bool enabled_ = false;
  bool stopped_ = false;
  std::set<KeyCode> repeatsSwallowed_;
};

class SimEventTaps : public EventTaps {
 public:
  explicit SimEventTaps(std::shared_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}
  // The taps' threads return from `run`.
  ~SimEventTaps() override;

  std::shared_ptr<EventTap> createKeyboardTap(TapCallback callback) override;
  std::shared_ptr<EventTap> createMouseTap(TapCallback callback) override;

 private:
  std::shared_ptr<SimDesktop> desktop_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<SimEventTap>> made_;
};

}  // namespace nolari::platform
