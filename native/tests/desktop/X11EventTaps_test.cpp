#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DesktopFixture.h"
#include "platform/x11/EventTaps.h"
#include "platform/x11/KeyRepeat.h"

// After the test framework: X.h defines None, a name the framework uses.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <sys/resource.h>
#include <unistd.h>

// The X11 taps in this process, with keys and pointer moves from xdotool on a
// desktop of the test's own.

namespace nolari::platform {

// Found by argument lookup, which the anonymous namespace would hide them from.
static bool operator==(const TapEvent& a, const TapEvent& b) {
  return a.type == b.type && a.key == b.key && a.mouseLocation == b.mouseLocation;
}

[[maybe_unused]] static void PrintTo(const TapEvent& e, std::ostream* os) {
  *os << "{type " << static_cast<int>(e.type) << ", key " << e.key.keyCode << ", flags 0x"
      << std::hex << e.key.flags << std::dec << (e.key.autorepeat ? ", repeat" : "") << "}";
}

namespace {

using namespace std::chrono_literals;
using Type = TapEvent::Type;

// What the taps' callbacks saw, for the test's thread to wait on.
class Seen {
 public:
  TapCallback callback() {
    return [this](const TapEvent& event) {
      std::lock_guard lock(mutex_);
      (event.type == Type::mouseMoved ? moves_ : keys_).push_back(event);
      changed_.notify_all();
      return TapAnswer::pass;
    };
  }
  bool waitFor(std::chrono::milliseconds timeout,
               const std::function<bool(const std::vector<TapEvent>&)>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(keys_); });
  }
  // A move to `at`, or any move.
  bool waitForMove(std::optional<Point> at, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      return !moves_.empty() && (!at || moves_.back().mouseLocation == *at);
    });
  }
  std::vector<TapEvent> takeKeys() {
    std::lock_guard lock(mutex_);
    return std::exchange(keys_, {});
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TapEvent> keys_;
  std::vector<TapEvent> moves_;
};

bool hasKeyUp(const std::vector<TapEvent>& keys, KeyCode code) {
  return std::any_of(keys.begin(), keys.end(), [code](const TapEvent& e) {
    return e.type == Type::keyUp && e.key.keyCode == code;
  });
}

std::size_t repeats(const std::vector<TapEvent>& keys) {
  return std::count_if(keys.begin(), keys.end(),
                       [](const TapEvent& e) { return e.key.autorepeat; });
}

class X11EventTapsTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    openComposer("body");
    if (IsSkipped() || HasFatalFailure()) return;
    desktop_->exportEnvironment();
    display_ = XOpenDisplay(nullptr);
    ASSERT_TRUE(display_);
    // A short delay before keys repeat keeps the test quick.
    XkbSetAutoRepeatRate(display_, XkbUseCoreKbd, 150, 30);
    space_ = XKeysymToKeycode(display_, XK_space);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

  void xdotool(const std::vector<std::string>& args) {
    auto result = desktop_->run("xdotool", args);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
  }

  bool spaceRepeats() {
    XKeyboardState state{};
    XGetKeyboardControl(display_, &state);
    return (state.auto_repeats[space_ / 8] >> (space_ % 8)) & 1;
  }

  bool spaceRepeatsWithin(std::chrono::milliseconds timeout) {
    for (auto deadline = std::chrono::steady_clock::now() + timeout;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
      if (spaceRepeats()) return true;
    }
    return spaceRepeats();
  }

  void switchSpaceRepeat(bool on) {
    XKeyboardControl control{};
    control.key = static_cast<int>(space_);
    control.auto_repeat_mode = on ? AutoRepeatModeOn : AutoRepeatModeOff;
    XChangeKeyboardControl(display_, KBKey | KBAutoRepeatMode, &control);
    XSync(display_, False);
  }

  // A window marked as a process's token, as the key-repeat guard makes one,
  // with the mark `TOKEN_MARK`.
  static constexpr long TOKEN_MARK = 1;
  static Window tokenWindow(Display* display) {
    XSetWindowAttributes attributes{};
    const Window window = XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0,
                                        InputOnly, CopyFromParent, 0, &attributes);
    const long pid = 1;
    XChangeProperty(display, window, XInternAtom(display, "_NOLARI_REPEAT_TOKEN", False),
                    XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&pid),
                    1);
    XSync(display, False);
    return window;
  }

  // Claims of the space key under these tokens, in place of all claims.
  void claimSpace(const std::vector<Window>& tokens) {
    std::vector<long> claims;
    for (Window token : tokens) {
      claims.push_back(static_cast<long>(space_));
      claims.push_back(static_cast<long>(token));
      claims.push_back(TOKEN_MARK);
    }
    XChangeProperty(display_, DefaultRootWindow(display_),
                    XInternAtom(display_, "_NOLARI_REPEAT_CLAIMS", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(claims.data()),
                    static_cast<int>(claims.size()));
    XSync(display_, False);
  }

  // The child test below, once it said it swallows space repeats.
  std::unique_ptr<test::RunningProcess> startChild(const std::vector<int>& blocked) {
    test::ProcessOptions options;
    options.args = {"--gtest_also_run_disabled_tests",
                    "--gtest_filter=X11EventTapsChild.DISABLED_SwallowsSpaceRepeatsUntilItEnds"};
    options.env = desktop_->environment();
    // Under a sanitizer, SIGSEGV is left to the program, as without one.
    for (const char* variable : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
      const char* value = std::getenv(variable);
      options.env[variable] = std::string(value ? value : "") + ":handle_segv=0";
    }
    options.blockedSignals = blocked;
    auto child = test::RunningProcess::start("/proc/self/exe", options);
    if (!child) return nullptr;
    std::optional<std::string> line;
    while ((line = child->readLine(10s)) && *line != "ready") {
    }
    if (!line) {
      ADD_FAILURE() << child->stderrText();
      return nullptr;
    }
    return child;
  }

  Display* display_ = nullptr;
  unsigned int space_ = 0;
};

TEST_F(X11EventTapsTest, SeesKeysWithTheirFlagsAndRepeatsAndStopsSpaceRepeatingWhileAsked) {
  Seen seen;
  auto taps = std::make_unique<X11EventTaps>(std::make_shared<X11KeyRepeat>());
  auto keyboard = taps->createKeyboardTap(seen.callback());
  auto mouse = taps->createMouseTap(seen.callback());
  ASSERT_TRUE(keyboard && mouse);
  keyboard->setEnabled(true);
  mouse->setEnabled(true);
  std::thread keyThread([keyboard] { keyboard->run(); });
  std::thread mouseThread([mouse] { mouse->run(); });

  // Recording starts on the taps' threads: wait until each has seen something.
  for (int i = 0; i < 50 && !seen.waitFor(100ms, [](const auto& k) { return hasKeyUp(k, 53); });
       ++i) {
    xdotool({"key", "Escape"});
  }
  seen.takeKeys();
  for (int i = 0; i < 50 && !seen.waitForMove(std::nullopt, 100ms); ++i) {
    xdotool({"mousemove", std::to_string(100 + i), "200"});
  }
  xdotool({"mousemove", "300", "400"});
  EXPECT_TRUE(seen.waitForMove(Point{300, 1024 - 400}, 5s));

  // Modifier keys are not events of their own; they are in the flags (of the
  // key downs: xdotool may let go of a modifier before the key).
  xdotool({"key", "ctrl+shift+x", "alt+super+F5"});
  ASSERT_TRUE(seen.waitFor(5s, [](const auto& k) { return hasKeyUp(k, 96); }));
  auto chords = seen.takeKeys();
  ASSERT_EQ(chords.size(), 4U);
  EXPECT_EQ(chords[0],
            (TapEvent{Type::keyDown, {7, EventFlags::control | EventFlags::shift, false}, {}}));
  EXPECT_EQ(chords[1].type, Type::keyUp);
  EXPECT_EQ(chords[1].key.keyCode, 7);
  EXPECT_EQ(
      chords[2],
      (TapEvent{Type::keyDown, {96, EventFlags::alternate | EventFlags::command, false}, {}}));

  // A held key repeats as presses without releases.
  xdotool({"keydown", "space"});
  EXPECT_TRUE(seen.waitFor(5s, [](const auto& k) { return repeats(k) >= 3; }));
  xdotool({"keyup", "space"});
  ASSERT_TRUE(seen.waitFor(5s, [](const auto& k) { return hasKeyUp(k, 49); }));
  auto held = seen.takeKeys();
  ASSERT_GE(held.size(), 5U);
  EXPECT_EQ(held.front(), (TapEvent{Type::keyDown, {49, 0, false}, {}}));
  EXPECT_EQ(held.back(), (TapEvent{Type::keyUp, {49, 0, false}, {}}));
  EXPECT_EQ(repeats(held), held.size() - 2);

  // While its repeats are swallowed the space bar does not repeat at all.
  keyboard->setRepeatsSwallowed(49, true);
  EXPECT_FALSE(spaceRepeats());
  xdotool({"keydown", "space"});
  EXPECT_FALSE(seen.waitFor(600ms, [](const auto& k) { return repeats(k) > 0; }));
  xdotool({"keyup", "space"});
  ASSERT_TRUE(seen.waitFor(5s, [](const auto& k) { return hasKeyUp(k, 49); }));
  EXPECT_EQ(seen.takeKeys(), (std::vector<TapEvent>{{Type::keyDown, {49, 0, false}, {}},
                                                    {Type::keyUp, {49, 0, false}, {}}}));

  keyboard->setRepeatsSwallowed(49, false);
  EXPECT_TRUE(spaceRepeats());
  xdotool({"keydown", "space"});
  EXPECT_TRUE(seen.waitFor(5s, [](const auto& k) { return repeats(k) > 0; }));
  xdotool({"keyup", "space"});

  // The taps going restores what is still switched off, and ends their threads.
  keyboard->setRepeatsSwallowed(49, true);
  EXPECT_FALSE(spaceRepeats());
  taps.reset();
  keyThread.join();
  mouseThread.join();
  keyboard.reset();
  mouse.reset();
  EXPECT_TRUE(spaceRepeats());
}

TEST_F(X11EventTapsTest, ANewKeyboardTapRestoresKeysOnlyProcessesThatEndedLeftWithoutRepeat) {
  // What a process that was killed while swallowing space repeats leaves: the
  // key off, claimed under a token window that went with its connection.
  Display* gone = XOpenDisplay(nullptr);
  ASSERT_TRUE(gone);
  const Window deadToken = tokenWindow(gone);
  XCloseDisplay(gone);
  switchSpaceRepeat(false);
  claimSpace({deadToken});
  ASSERT_FALSE(spaceRepeats());
  {
    X11EventTaps taps(std::make_shared<X11KeyRepeat>());
    Seen seen;
    EXPECT_TRUE(taps.createKeyboardTap(seen.callback()));
    EXPECT_TRUE(spaceRepeats());
  }

  // A claim of a process still running stays: the key stays off after a new
  // tap, and after that tap's own claim comes and goes.
  const Window liveToken = tokenWindow(display_);
  switchSpaceRepeat(false);
  claimSpace({liveToken});
  {
    X11EventTaps taps(std::make_shared<X11KeyRepeat>());
    Seen seen;
    auto keyboard = taps.createKeyboardTap(seen.callback());
    ASSERT_TRUE(keyboard);
    EXPECT_FALSE(spaceRepeats());
    keyboard->setRepeatsSwallowed(49, true);
    keyboard->setRepeatsSwallowed(49, false);
    EXPECT_FALSE(spaceRepeats());
  }
  EXPECT_FALSE(spaceRepeats());
  claimSpace({});
  switchSpaceRepeat(true);

  // A key the user had switched off is left off.
  switchSpaceRepeat(false);
  {
    X11EventTaps taps(std::make_shared<X11KeyRepeat>());
    Seen seen;
    auto keyboard = taps.createKeyboardTap(seen.callback());
    ASSERT_TRUE(keyboard);
    keyboard->setRepeatsSwallowed(49, true);
  }
  EXPECT_FALSE(spaceRepeats());
  switchSpaceRepeat(true);
}

// Run by the tests below in a process of its own: swallows space repeats, says
// "ready", and ends with std::exit (no destructors) when its input closes, or
// aborts when it reads "abort".
TEST(X11EventTapsChild, DISABLED_SwallowsSpaceRepeatsUntilItEnds) {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  X11EventTaps taps(std::make_shared<X11KeyRepeat>());
  auto keyboard = taps.createKeyboardTap([](const TapEvent&) { return TapAnswer::pass; });
  ASSERT_TRUE(keyboard);
  keyboard->setRepeatsSwallowed(49, true);
  std::cout << "ready" << std::endl;
  std::string line;
  std::getline(std::cin, line);
  if (line == "abort") std::abort();
  std::exit(0);
}

TEST_F(X11EventTapsTest, SpaceRepeatsAgainHoweverTheProcessEnds) {
  const std::vector<int> ending = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
  struct Case {
    std::string how;
    int signal;  // 0: an exit; SIGABRT: by std::abort
    bool spaceHeld;
    std::vector<int> blocked;
  };
  for (const Case& end :
       std::vector<Case>{{"exit", 0, false, {}},
                         {"SIGTERM", SIGTERM, false, {}},
                         {"SIGTERM blocked by the parent", SIGTERM, false, ending},
                         {"SIGSEGV", SIGSEGV, false, {}},
                         {"abort", SIGABRT, false, {}},
                         {"SIGKILL", SIGKILL, false, {}},
                         {"SIGKILL with the space held", SIGKILL, true, {}}}) {
    SCOPED_TRACE(end.how);
    auto child = startChild(end.blocked);
    ASSERT_TRUE(child);
    EXPECT_FALSE(spaceRepeats());
    if (end.spaceHeld) xdotool({"keydown", "space"});
    if (end.signal == SIGABRT) {
      child->writeLine("abort");
    } else if (end.signal != 0) {
      child->kill(end.signal);
    }
    const auto result = child->wait(10s);
    EXPECT_EQ(result.termSignal, end.signal) << result.err;
    if (end.spaceHeld) xdotool({"keyup", "space"});
    // Every end but SIGKILL waits for the keeper before the process goes.
    if (end.signal == SIGKILL) {
      EXPECT_TRUE(spaceRepeatsWithin(5s));
    } else {
      EXPECT_TRUE(spaceRepeats());
    }
    switchSpaceRepeat(true);
  }
}

TEST_F(X11EventTapsTest, TwoProcessesOnOneDisplayKeepTheSpaceOffUntilTheLastOneEnds) {
  auto first = startChild({});
  auto second = startChild({});
  ASSERT_TRUE(first && second);
  EXPECT_FALSE(spaceRepeats());
  second->kill(SIGKILL);
  second->wait(10s);
  EXPECT_FALSE(spaceRepeatsWithin(500ms)) << "the second one's end undid the first one's";
  // A tap made now leaves the first one's claim, and the held space does not
  // repeat.
  Seen seen;
  auto taps = std::make_unique<X11EventTaps>(std::make_shared<X11KeyRepeat>());
  auto keyboard = taps->createKeyboardTap(seen.callback());
  ASSERT_TRUE(keyboard);
  keyboard->setEnabled(true);
  std::thread keyThread([keyboard] { keyboard->run(); });
  for (int i = 0; i < 50 && !seen.waitFor(100ms, [](const auto& k) { return hasKeyUp(k, 53); });
       ++i) {
    xdotool({"key", "Escape"});
  }
  xdotool({"keydown", "space", "sleep", "0.6", "keyup", "space"});
  ASSERT_TRUE(seen.waitFor(5s, [](const auto& k) { return hasKeyUp(k, 49); }));
  EXPECT_EQ(repeats(seen.takeKeys()), 0U);

  first->kill(SIGTERM);
  first->wait(10s);
  EXPECT_TRUE(spaceRepeats());
  taps.reset();
  keyThread.join();
}

}  // namespace
}  // namespace nolari::platform
