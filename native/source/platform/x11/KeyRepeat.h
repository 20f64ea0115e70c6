#pragma once

#include <map>
#include <mutex>

struct _XDisplay;

// Turns the auto-repeat of single keys off on the X server, for a keyboard
// tap that cannot swallow repeats, and makes sure each comes back on: when
// asked, at a normal exit, on SIGTERM, SIGINT, SIGHUP and SIGQUIT (restored,
// then the signal's default action), and after a process that could not
// restore them (killed, crashed) at the next keyboard tap of any process, as
// the keys are noted on the root window while they are off. A server that went
// away took the setting with it.

namespace nolari::platform {

class X11KeyRepeat {
 public:
  // One per process, never destroyed, so an exit handler can still use it.
  static X11KeyRepeat& shared();

  // Switches the repeat of the X key code off; false without a display.
  bool suppress(unsigned int keycode);
  // Switches it back on, if `suppress` switched it off.
  void restore(unsigned int keycode);
  void restoreAll();
  // Switches back on the keys another process left off.
  void recoverAbandoned();

 private:
  X11KeyRepeat() = default;
  _XDisplay* displayLocked();
  void noteLocked(_XDisplay* display);
  void installExitHandlers();

  std::mutex mutex_;
  _XDisplay* display_ = nullptr;
  // The keys switched off here, each with whether it repeated before.
  std::map<unsigned int, bool> off_;
  bool handlersInstalled_ = false;
};

}  // namespace nolari::platform
