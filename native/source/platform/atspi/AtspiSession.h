#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Accessibility.h"

// A connection to the accessibility bus. The bus library is not thread-safe
// and delivers events only from a GLib main loop, so all of its calls run on
// one named thread that runs that loop; other threads hand it work and wait a
// bounded time for the answer. The library keeps its state per process and
// its loop is the process's default one, so a process makes one session and
// hands it to whoever needs the bus; once connected, the session lives as long
// as its thread, that is as long as the process.

typedef struct _AtspiAccessible AtspiAccessible;

namespace nolari::platform {

class AtspiSession;

// An element on the bus: the system-wide element, an application known by its
// process, or one object of an application (a reference held for the session
// that read it, and dropped on its thread).
class AtspiElementRef : public AXElementRef {
 public:
  enum class Kind { systemWide, application, object };

  static AXUIElement systemWide();
  static AXUIElement application(std::int32_t pid);

  ~AtspiElementRef() override;
  bool isSameElement(const AXElementRef& other) const override;

  Kind kind = Kind::systemWide;
  std::int32_t pid = 0;
  AtspiAccessible* object = nullptr;
  std::shared_ptr<AtspiSession> session;
  std::string busName;
  std::string path;
};

// Made with std::make_shared: its thread and its elements share it.
class AtspiSession : public std::enable_shared_from_this<AtspiSession> {
 public:
  AtspiSession() = default;

  AtspiSession(const AtspiSession&) = delete;
  AtspiSession& operator=(const AtspiSession&) = delete;

  // Starts the thread and connects to the bus if that is not done yet; whether
  // the bus is reachable. An unreachable bus is asked again after a while.
  bool connect();

  // Runs `work` on the session thread and waits for it, at most the request
  // limit; false when the bus is unreachable or the work did not end in time.
  // Work that overruns still runs later, so it must own what it touches.
  bool run(std::function<void()> work);

  // Drops a reference on the session thread, where the library may be used.
  void release(AtspiAccessible* object);
  // An element of `object`, taking over the caller's reference to it.
  // Session thread only.
  AXUIElement adopt(AtspiAccessible* object);

  // The time-out of one request on the bus; waits are bounded by a few of them.
  void setRequestTimeout(std::chrono::milliseconds timeout);

  // Called on the session thread for every object that gains keyboard focus.
  using FocusHandler = std::function<void(AtspiAccessible* source)>;
  // Registers for focus events on first use; false when the bus refused.
  bool listenForFocus(FocusHandler handler);

  // The application object of a process, from the session's cache or the
  // desktop's list; a new reference, or nullptr. Session thread only.
  AtspiAccessible* applicationOf(std::int32_t pid);
  void forgetApplication(std::int32_t pid);
  // The process owning an object, cached by bus connection. Session thread only.
  std::int32_t processOf(AtspiAccessible* object);
  // The name of the toolkit that built an object's application, as the
  // application tells it; "" when it does not. Cached by bus connection.
  // Session thread only.
  std::string toolkitOf(AtspiAccessible* object);

 private:
  enum class State { idle, checking, ready, unreachable };

  void startThread();
  void invoke(std::function<void()> work);
  bool hasWork();
  void runQueued();
  std::chrono::milliseconds waitLimit() const;

  std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::idle;
  std::chrono::steady_clock::time_point checkedAt_;
  bool threadStarted_ = false;
  std::thread::id threadId_;
  std::chrono::milliseconds requestTimeout_;
  FocusHandler focusHandler_;
  bool listening_ = false;

  std::mutex queueMutex_;
  std::deque<std::function<void()>> queue_;

  // Session thread only.
  std::map<std::int32_t, AtspiAccessible*> applications_;
  std::map<std::string, std::int32_t> processes_;
  std::map<std::string, std::string> toolkits_;
};

}  // namespace nolari::platform
