#pragma once

#include <cstdint>
#include <map>
#include <mutex>

struct _XDisplay;

// Turns the auto-repeat of single keys off on the X server, for a keyboard
// tap that cannot swallow repeats, and makes sure each comes back on however
// the process ends.
//
// The server decides whether a key repeats when it goes down: switching the
// repeat off after the press, even at once and even for every key, leaves
// that press repeating. So a key whose repeats must not reach the
// applications has its repeat off for as long as that is asked, not only
// while it is held.
//
// Every process that switches a key off claims it on the root window, under
// a token window of its own (marked with a random number, as window ids are
// reused) that the server destroys with its connection. A
// key repeats again when its last live claim goes, so two processes on one
// display never undo each other's setting, and a process that finds only
// dead claims on a key switches it back on. A keeper process, forked when the
// guard is made, outlives the agent: when the agent ends in any way, SIGKILL
// included, the keeper drops its claims and restores the keys nobody else
// claims. The ending signals (SIGTERM, SIGINT, SIGHUP, SIGQUIT) and the crash
// signals (SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL) ask the keeper to do so
// at once and wait for it, a second at most, before their default action; so
// does a normal exit. A server that went away took the setting with it.

namespace nolari::platform {

class X11KeyRepeat {
 public:
  // Forks the keeper, so it must be made while the process has one thread
  // and no display open; also unblocks the ending and crash signals of the
  // calling thread, which threads made afterwards inherit.
  X11KeyRepeat();
  // Restores what it switched off.
  ~X11KeyRepeat();
  X11KeyRepeat(const X11KeyRepeat&) = delete;
  X11KeyRepeat& operator=(const X11KeyRepeat&) = delete;

  // Switches the repeat of the X key code off; false without a display.
  bool suppress(unsigned int keycode);
  // Switches it back on, if `suppress` switched it off and no other process
  // still claims it.
  void restore(unsigned int keycode);
  void restoreAll();
  // Switches back on the keys only processes that are gone left off.
  void recoverAbandoned();

 private:
  _XDisplay* displayLocked();

  std::mutex mutex_;
  _XDisplay* display_ = nullptr;
  // The token window of this connection and its mark.
  unsigned long tokenWindow_ = 0;
  std::uint32_t tokenMark_ = 0;
  // The keys claimed here, each with whether this process switched it off
  // (false: it was off before, by the user's choice or another's claim).
  std::map<unsigned int, bool> off_;
  int keeper_ = -1;
  int keeperAnswers_ = -1;
};

}  // namespace nolari::platform
