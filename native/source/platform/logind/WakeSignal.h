#pragma once

#include <memory>
#include <string>

// logind's word, on the system bus, that the system woke from sleep: its
// Manager's PrepareForSleep signal with false. Read by a thread that polls the
// connection's descriptor beside its own; nothing is dispatched on the caller's
// behalf and no timer runs.

struct DBusConnection;

namespace nolari::platform {

class LogindWakeSignal {
 public:
  // Connected to the system bus at `address` (libdbus's own choice when
  // empty) and listening, or nullptr where there is no system bus to reach.
  // Waits for the bus's replies: not for the main thread.
  static std::unique_ptr<LogindWakeSignal> connect(const std::string& address);
  ~LogindWakeSignal();

  LogindWakeSignal(const LogindWakeSignal&) = delete;
  LogindWakeSignal& operator=(const LogindWakeSignal&) = delete;

  // The descriptor to poll for input; -1 once the bus has gone.
  int fd() const { return fd_; }
  // Reads what the bus sent without waiting; true when it says the system woke.
  bool readWoke();

 private:
  LogindWakeSignal(DBusConnection* connection, int fd) : connection_(connection), fd_(fd) {}

  DBusConnection* connection_;
  int fd_;
};

}  // namespace nolari::platform
