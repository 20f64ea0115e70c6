#include "platform/x11/KeyRepeat.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "platform/x11/X11Desktop.h"

namespace nolari::platform {

namespace {

// Triples of key code, owner token window and the token's mark, one triple
// per claim.
constexpr const char* CLAIMS = "_NOLARI_REPEAT_CLAIMS";
// The mark on every token window, a random number: the server reuses the ids
// of a client that went for the next one, so a window that happens to get a
// dead token's id, even another process's token, is not taken for it.
constexpr const char* TOKEN = "_NOLARI_REPEAT_TOKEN";
constexpr int HANDLED_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT,
                                   SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int KEEPER_ANSWER_MS = 1000;

// What the agent tells its keeper; a closed pipe says the agent has ended.
struct KeeperMessage {
  enum Kind : std::uint32_t { token = 1, restore = 2 };
  std::uint32_t kind = 0;
  std::uint32_t window = 0;
  std::uint32_t mark = 0;
};

struct Token {
  unsigned long window = 0;
  unsigned long mark = 0;
  friend bool operator==(const Token&, const Token&) = default;
};

struct Claim {
  unsigned long key = 0;
  Token owner;
};

// Read by the signal handlers, so plain atomics.
std::atomic<int> keeperFd{-1};
std::atomic<int> keeperAnswersFd{-1};
std::atomic<bool> claimsHeld{false};

void setRepeat(Display* display, unsigned int keycode, bool on) {
  XKeyboardControl control{};
  control.key = static_cast<int>(keycode);
  control.auto_repeat_mode = on ? AutoRepeatModeOn : AutoRepeatModeOff;
  XChangeKeyboardControl(display, KBKey | KBAutoRepeatMode, &control);
}

bool repeats(Display* display, unsigned int keycode) {
  XKeyboardState state{};
  XGetKeyboardControl(display, &state);
  return keycode < 256 && (state.auto_repeats[keycode / 8] >> (keycode % 8)) & 1;
}

// Xlib hands 32-bit property values over in longs, sign-extended.
unsigned long card32(unsigned long value) { return value & 0xFFFFFFFFUL; }

// A token whose window is gone, or no longer has its mark, belongs to a
// process that has ended.
bool tokenAlive(Display* display, const Token& token) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  const bool alive =
      XGetWindowProperty(display, token.window, XInternAtom(display, TOKEN, False), 0, 1, False,
                         XA_CARDINAL, &type, &format, &count, &remaining, &data) == Success &&
      data && format == 32 && count == 1 &&
      card32(*reinterpret_cast<const unsigned long*>(data)) == token.mark;
  if (data) XFree(data);
  return alive;
}

std::vector<Claim> readClaims(Display* display, Atom claims) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  std::vector<Claim> found;
  if (XGetWindowProperty(display, DefaultRootWindow(display), claims, 0, 4096, False, XA_CARDINAL,
                         &type, &format, &count, &remaining, &data) == Success &&
      data && format == 32) {
    const auto* values = reinterpret_cast<const unsigned long*>(data);
    for (unsigned long i = 0; i + 3 <= count; i += 3) {
      found.push_back({card32(values[i]), {card32(values[i + 1]), card32(values[i + 2])}});
    }
  }
  if (data) XFree(data);
  return found;
}

void writeClaims(Display* display, Atom claims, const std::vector<Claim>& all) {
  if (all.empty()) {
    XDeleteProperty(display, DefaultRootWindow(display), claims);
    return;
  }
  std::vector<long> values;
  for (const Claim& claim : all) {
    values.push_back(static_cast<long>(claim.key));
    values.push_back(static_cast<long>(claim.owner.window));
    values.push_back(static_cast<long>(claim.owner.mark));
  }
  XChangeProperty(display, DefaultRootWindow(display), claims, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(values.data()), static_cast<int>(values.size()));
}

// With the server grabbed, so that no other process reads or writes the
// claims in between: drops the claims of ended processes (all but `self`
// are checked), lets `change` edit the rest, knowing which keys had claims
// before, and switches on every key that lost its last claim.
void settleClaims(
    Display* display, const Token& self,
    const std::function<void(std::vector<Claim>&, const std::set<unsigned long>&)>& change) {
  XGrabServer(display);
  const Atom claims = XInternAtom(display, CLAIMS, False);
  std::vector<Claim> all = readClaims(display, claims);
  std::set<unsigned long> before;
  for (const Claim& claim : all) before.insert(claim.key);
  std::erase_if(all, [&](const Claim& claim) {
    return claim.owner != self && !tokenAlive(display, claim.owner);
  });
  change(all, before);
  std::set<unsigned long> after;
  for (const Claim& claim : all) after.insert(claim.key);
  for (unsigned long key : before) {
    if (!after.contains(key)) setRepeat(display, static_cast<unsigned int>(key), true);
  }
  writeClaims(display, claims, all);
  XUngrabServer(display);
  XSync(display, False);
}

// Safe in a signal handler: a write and a bounded poll. The keeper, a
// process of its own, does the X work, so a crash that happened inside Xlib
// or with a lock held cannot stop it. Asked once: the first ending wins.
void askKeeperToRestore() {
  static std::atomic<bool> asked{false};
  if (!claimsHeld.load() || asked.exchange(true)) return;
  const int fd = keeperFd.load();
  const int answers = keeperAnswersFd.load();
  if (fd < 0 || answers < 0) return;
  const KeeperMessage message{KeeperMessage::restore, 0};
  if (::write(fd, &message, sizeof message) != sizeof message) return;
  pollfd answer{answers, POLLIN, 0};
  if (::poll(&answer, 1, KEEPER_ANSWER_MS) == 1 && (answer.revents & POLLIN)) {
    char byte = 0;
    [[maybe_unused]] ssize_t got = ::read(answers, &byte, 1);
  }
}

// Installed with SA_RESETHAND: raised again, the signal takes its default
// action once the handler returns (a fault repeats at once).
void onSignal(int signal) {
  askKeeperToRestore();
  std::raise(signal);
}

// Only over the default action: a program that handles or ignores a signal
// itself keeps doing so.
void installSignalHandlers() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    std::atexit(askKeeperToRestore);
    for (int signal : HANDLED_SIGNALS) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction handler {};
      handler.sa_handler = onSignal;
      handler.sa_flags = SA_RESETHAND;
      sigemptyset(&handler.sa_mask);
      ::sigaction(signal, &handler, nullptr);
    }
  });
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }
int endKeeper(Display*) { ::_exit(0); }

// The keeper's life: it learns the agent's token, and when asked, or when
// the agent has ended, drops the token's claims on a connection of its own.
[[noreturn]] void keep(int commands, int answers) {
  XSetErrorHandler(ignoreErrors);
  XSetIOErrorHandler(endKeeper);
  Token token;
  for (;;) {
    KeeperMessage message;
    ssize_t got;
    do {
      got = ::read(commands, &message, sizeof message);
    } while (got < 0 && errno == EINTR);
    const bool ended = got != sizeof message;
    if (!ended && message.kind == KeeperMessage::token) {
      token = {message.window, message.mark};
      continue;
    }
    if (token.window != 0) {
      if (Display* display = XOpenDisplay(nullptr)) {
        settleClaims(display, {}, [token](std::vector<Claim>& all, const std::set<unsigned long>&) {
          std::erase_if(all, [token](const Claim& claim) { return claim.owner == token; });
        });
        XCloseDisplay(display);
      }
    }
    if (ended) ::_exit(0);
    const char done = 1;
    [[maybe_unused]] ssize_t written = ::write(answers, &done, 1);
  }
}

// The keeper runs in a grandchild, so that nobody has to reap it, in a
// session of its own, so that a signal to the agent's process group or
// terminal leaves it to clean up. It keeps no descriptor of the agent's but
// its two pipe ends: a parent waiting for the end of the agent's output is
// not held up by it.
void startKeeper(int commands, int answers) {
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child > 0) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return;
  }
  if (::fork() != 0) ::_exit(0);
  ::setsid();
  ::prctl(PR_SET_NAME, "nolari-keys");
  const int null = ::open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
  const unsigned int low = static_cast<unsigned int>(std::min(commands, answers));
  const unsigned int high = static_cast<unsigned int>(std::max(commands, answers));
  ::close_range(3, low - 1, 0);
  ::close_range(low + 1, high - 1, 0);
  ::close_range(high + 1, ~0U, 0);
  for (int signal : HANDLED_SIGNALS) std::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  keep(commands, answers);
}

}  // namespace

X11KeyRepeat::X11KeyRepeat() {
  sigset_t handled;
  sigemptyset(&handled);
  for (int signal : HANDLED_SIGNALS) sigaddset(&handled, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
  int commands[2] = {-1, -1};
  int answers[2] = {-1, -1};
  if (::pipe2(commands, O_CLOEXEC) == 0 && ::pipe2(answers, O_CLOEXEC) == 0) {
    startKeeper(commands[0], answers[1]);
    keeper_ = commands[1];
    keeperAnswers_ = answers[0];
    keeperFd = keeper_;
    keeperAnswersFd = keeperAnswers_;
  }
  for (int fd : {commands[0], answers[1]}) {
    if (fd >= 0) ::close(fd);
  }
  installSignalHandlers();
}

X11KeyRepeat::~X11KeyRepeat() {
  restoreAll();
  int expected = keeper_;
  keeperFd.compare_exchange_strong(expected, -1);
  expected = keeperAnswers_;
  keeperAnswersFd.compare_exchange_strong(expected, -1);
  for (int fd : {keeper_, keeperAnswers_}) {
    if (fd >= 0) ::close(fd);
  }
  std::lock_guard lock(mutex_);
  if (display_) X11Desktop::closeDisplay(display_);
}

// A connection that broke is replaced; if the server itself went away, so did
// every key setting, and nothing is left to restore. Each connection has a
// token window of its own, which the keeper learns.
Display* X11KeyRepeat::displayLocked() {
  if (display_ && X11Desktop::isBroken(display_)) {
    X11Desktop::closeDisplay(display_);
    display_ = nullptr;
  }
  if (display_) return display_;
  off_.clear();
  claimsHeld = false;
  display_ = X11Desktop::openDisplay();
  if (!display_) return nullptr;
  XSetWindowAttributes attributes{};
  tokenWindow_ = XCreateWindow(display_, DefaultRootWindow(display_), -1, -1, 1, 1, 0, 0, InputOnly,
                               CopyFromParent, 0, &attributes);
  tokenMark_ = std::random_device()();
  const long mark = static_cast<long>(tokenMark_);
  XChangeProperty(display_, tokenWindow_, XInternAtom(display_, TOKEN, False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&mark), 1);
  XSync(display_, False);
  if (keeper_ >= 0) {
    const KeeperMessage message{KeeperMessage::token, static_cast<std::uint32_t>(tokenWindow_),
                                tokenMark_};
    [[maybe_unused]] ssize_t written = ::write(keeper_, &message, sizeof message);
  }
  return display_;
}

bool X11KeyRepeat::suppress(unsigned int keycode) {
  std::lock_guard lock(mutex_);
  Display* display = displayLocked();
  if (!display) return false;
  const Token self{tokenWindow_, tokenMark_};
  if (off_.contains(keycode)) return true;
  bool claimed = false;
  settleClaims(display, self, [&](std::vector<Claim>& all, const std::set<unsigned long>& before) {
    // Claimed before, by a live process or a dead one, the key is off in
    // place of a repeat that was on.
    if (before.contains(keycode) || repeats(display, keycode)) {
      setRepeat(display, keycode, false);
      all.push_back({keycode, self});
      claimed = true;
    }
  });
  off_[keycode] = claimed;
  if (claimed) claimsHeld = true;
  return true;
}

void X11KeyRepeat::restore(unsigned int keycode) {
  std::lock_guard lock(mutex_);
  auto it = off_.find(keycode);
  if (it == off_.end()) return;
  const bool claimed = it->second;
  off_.erase(it);
  claimsHeld = std::any_of(off_.begin(), off_.end(), [](const auto& key) { return key.second; });
  Display* display = displayLocked();
  if (!display || !claimed) return;
  const Token self{tokenWindow_, tokenMark_};
  settleClaims(display, self, [&](std::vector<Claim>& all, const std::set<unsigned long>&) {
    std::erase_if(all,
                  [&](const Claim& claim) { return claim.owner == self && claim.key == keycode; });
  });
}

void X11KeyRepeat::restoreAll() {
  std::lock_guard lock(mutex_);
  if (off_.empty()) return;
  off_.clear();
  claimsHeld = false;
  Display* display = displayLocked();
  if (!display) return;
  const Token self{tokenWindow_, tokenMark_};
  settleClaims(display, self, [&](std::vector<Claim>& all, const std::set<unsigned long>&) {
    std::erase_if(all, [&](const Claim& claim) { return claim.owner == self; });
  });
}

void X11KeyRepeat::recoverAbandoned() {
  std::lock_guard lock(mutex_);
  Display* display = displayLocked();
  if (!display) return;
  const Token self{tokenWindow_, tokenMark_};
  settleClaims(display, self, [](std::vector<Claim>&, const std::set<unsigned long>&) {});
}

}  // namespace nolari::platform
