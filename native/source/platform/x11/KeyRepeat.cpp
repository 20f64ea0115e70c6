#include "platform/x11/KeyRepeat.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/ThreadName.h"
#include "platform/x11/X11Desktop.h"

namespace nolari::platform {

namespace {

// The keys one process switched off, on the root window.
constexpr const char* MARKER = "_NOLARI_REPEAT_OFF";
constexpr int ENDING_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

int signalPipe[2] = {-1, -1};
std::atomic<bool> ending{false};

// Only what is safe in a signal handler: the restoring happens on the
// watcher's thread. A second signal while it restores ends the process at once.
void onEndingSignal(int signal) {
  if (ending.exchange(true)) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &number, 1);
}

void watchEndingSignals() {
  nameCurrentThread("nolari.x11-keys");
  unsigned char number = 0;
  ssize_t got;
  do {
    got = ::read(signalPipe[0], &number, 1);
  } while (got < 0 && errno == EINTR);
  if (got != 1) return;
  X11KeyRepeat::shared().restoreAll();
  std::signal(number, SIG_DFL);
  std::raise(number);
}

void setRepeat(Display* display, unsigned int keycode, bool on) {
  XKeyboardControl control{};
  control.key = static_cast<int>(keycode);
  control.auto_repeat_mode = on ? AutoRepeatModeOn : AutoRepeatModeOff;
  XChangeKeyboardControl(display, KBKey | KBAutoRepeatMode, &control);
}

}  // namespace

X11KeyRepeat& X11KeyRepeat::shared() {
  static X11KeyRepeat* repeat = new X11KeyRepeat();
  return *repeat;
}

// A connection that broke is replaced; if the server itself went away, so did
// every key setting, and nothing is left to restore.
Display* X11KeyRepeat::displayLocked() {
  if (display_ && X11Desktop::isBroken(display_)) {
    X11Desktop::closeDisplay(display_);
    display_ = nullptr;
  }
  if (!display_) display_ = X11Desktop::openDisplay();
  if (!display_) off_.clear();
  return display_;
}

void X11KeyRepeat::noteLocked(Display* display) {
  const Atom marker = XInternAtom(display, MARKER, False);
  std::vector<long> keys;
  for (const auto& [keycode, repeated] : off_) {
    if (repeated) keys.push_back(static_cast<long>(keycode));
  }
  if (keys.empty()) {
    XDeleteProperty(display, DefaultRootWindow(display), marker);
  } else {
    XChangeProperty(display, DefaultRootWindow(display), marker, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(keys.data()), static_cast<int>(keys.size()));
  }
}

bool X11KeyRepeat::suppress(unsigned int keycode) {
  {
    std::lock_guard lock(mutex_);
    Display* display = displayLocked();
    if (!display) return false;
    if (!off_.contains(keycode)) {
      XKeyboardState state{};
      XGetKeyboardControl(display, &state);
      off_[keycode] = keycode < 256 && (state.auto_repeats[keycode / 8] >> (keycode % 8)) & 1;
      setRepeat(display, keycode, false);
      noteLocked(display);
      XSync(display, False);
    }
  }
  installExitHandlers();
  return true;
}

void X11KeyRepeat::restore(unsigned int keycode) {
  std::lock_guard lock(mutex_);
  auto it = off_.find(keycode);
  if (it == off_.end()) return;
  Display* display = displayLocked();
  if (!display) return;
  if (it->second) setRepeat(display, keycode, true);
  off_.erase(it);
  noteLocked(display);
  XSync(display, False);
}

void X11KeyRepeat::restoreAll() {
  std::lock_guard lock(mutex_);
  if (off_.empty()) return;
  Display* display = displayLocked();
  if (!display) return;
  for (const auto& [keycode, repeated] : off_) {
    if (repeated) setRepeat(display, keycode, true);
  }
  off_.clear();
  noteLocked(display);
  XSync(display, False);
}

void X11KeyRepeat::recoverAbandoned() {
  std::lock_guard lock(mutex_);
  Display* display = displayLocked();
  if (!display) return;
  const Atom marker = XInternAtom(display, MARKER, True);
  if (marker == None) return;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, DefaultRootWindow(display), marker, 0, 256, False, XA_CARDINAL,
                         &type, &format, &count, &remaining, &data) == Success &&
      data && format == 32) {
    const auto* keys = reinterpret_cast<const long*>(data);
    for (unsigned long i = 0; i < count; ++i) {
      const auto keycode = static_cast<unsigned int>(keys[i]);
      if (!off_.contains(keycode)) setRepeat(display, keycode, true);
    }
  }
  if (data) XFree(data);
  noteLocked(display);
  XSync(display, False);
}

// Only over the default action: a program that handles or ignores a signal
// itself keeps doing so.
void X11KeyRepeat::installExitHandlers() {
  std::lock_guard lock(mutex_);
  if (handlersInstalled_) return;
  handlersInstalled_ = true;
  std::atexit([] { X11KeyRepeat::shared().restoreAll(); });
  if (::pipe2(signalPipe, O_CLOEXEC) != 0) return;
  std::thread(watchEndingSignals).detach();
  for (int signal : ENDING_SIGNALS) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction handler {};
    handler.sa_handler = onEndingSignal;
    sigemptyset(&handler.sa_mask);
    ::sigaction(signal, &handler, nullptr);
  }
}

}  // namespace nolari::platform
