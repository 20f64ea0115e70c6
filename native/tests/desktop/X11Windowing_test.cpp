#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <limits>
#include <thread>

#include <nlohmann/json.hpp>

#include "DesktopFixture.h"
#include "ScreenPixel.h"
#include "platform/Platform.h"
#include "platform/asio/RunLoop.h"
#include "platform/x11/Windowing.h"
#include "platform/x11/Workspace.h"
#include "platform/xdg/UserDefaults.h"
#include "support/CaptureFd.h"
#include "support/TempDir.h"

// After the test framework: X.h defines None, a name the framework uses.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

// The agent's windows on a desktop of the test's own, with a compositing
// manager, over the compose window that has the keyboard focus.

namespace nolari::platform {
namespace {

using namespace std::chrono_literals;
using Type = PointerEvent::Type;

// The main run loop on a thread of its own; the test hands it work and waits.
class LoopThread {
 public:
  explicit LoopThread(RunLoop& loop) : loop_(loop), thread_([this] { loop_.run(); }) {}
  ~LoopThread() {
    loop_.stop();
    thread_.join();
  }
  template <class Work>
  auto call(Work work) -> decltype(work()) {
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    loop_.post([&task] { task(); });
    return result.get();
  }
  // Whether `done`, asked on the loop, comes true within `timeout`.
  bool until(std::chrono::milliseconds timeout, const std::function<bool()>& done);

 private:
  RunLoop& loop_;
  std::thread thread_;
};

bool pollUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  for (auto deadline = std::chrono::steady_clock::now() + timeout;
       std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
    if (done()) return true;
  }
  return done();
}

bool LoopThread::until(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  return pollUntil(timeout, [&] { return call(done); });
}

using test::Rgb;

bool near(const Rgb& a, const Rgb& b) {
  return std::abs(a[0] - b[0]) <= 3 && std::abs(a[1] - b[1]) <= 3 && std::abs(a[2] - b[2]) <= 3;
}

// Where `window`, or the window manager's frame holding it, lies among the
// root's children, bottom first; -1 once it is gone.
std::ptrdiff_t stackIndex(Display* display, Window window) {
  const auto children = [display](Window of, Window& parent) {
    Window root = 0, *list = nullptr;
    unsigned int count = 0;
    std::vector<Window> out;
    if (!XQueryTree(display, of, &root, &parent, &list, &count)) parent = 0;
    if (list) out.assign(list, list + count);
    if (list) XFree(list);
    return out;
  };
  const Window root = DefaultRootWindow(display);
  Window parent = 0;
  for (children(window, parent); parent != root; children(window, parent)) {
    if (!parent) return -1;
    window = parent;
  }
  const auto stack = children(root, parent);
  return std::find(stack.begin(), stack.end(), window) - stack.begin();
}

DisplayList halfRed() {
  Shape square;
  square.shape.rect = {{0, 0}, {60, 24}};
  square.fill = Color{1, 0, 0, 1};
  return {{Item{square}}};
}

class X11WindowingTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    openComposer("body");
    if (IsSkipped() || HasFatalFailure()) return;
    std::string error;
    if (!desktop_->startCompositor(error)) GTEST_SKIP() << error;
    desktop_->exportEnvironment();
    display_ = XOpenDisplay(nullptr);
    ASSERT_TRUE(display_);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

  // The next report of the composer that `wanted` accepts, or null.
  nlohmann::json report(const std::function<bool(const nlohmann::json&)>& wanted) {
    while (auto line = desktop_->nextComposerReport(10s)) {
      if (wanted(*line)) return *line;
    }
    return nullptr;
  }

  void xdotool(const std::vector<std::string>& args) {
    auto result = desktop_->run("xdotool", args);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
  }
  // The first window xdotool names, or 0.
  Window xdotoolWindow(const std::vector<std::string>& args) {
    const std::string out = desktop_->run("xdotool", args).out;
    return out.empty() ? 0 : std::stoul(out);
  }
  Window named(const std::string& name) {
    return xdotoolWindow({"search", "--name", "^" + name + "$"});
  }

  Display* display_ = nullptr;
};

TEST_F(X11WindowingTest, ShowsItsContentAboveTheFocusedApplicationAndTakesOrPassesClicks) {
  AsioRunLoop loop;
  std::vector<PointerEvent> events;  // on the loop
  test::TempDir config;
  std::unique_ptr<X11Windowing> windowing;
  std::shared_ptr<OverlayWindow> window;
  std::shared_ptr<OverlayWindow> odd;
  // Stopped first, should the test end early, so that nothing else runs.
  LoopThread main(loop);
  std::string error;
  main.call([&] {
    windowing = X11Windowing::open(loop, std::make_unique<FileUserDefaults>(config.file("d.json")),
                                   "", error);
  });
  ASSERT_TRUE(windowing) << error;

  // Over the compose window's To field, whose client area starts at (left, top).
  const Window composer = xdotoolWindow({"getactivewindow"});
  ASSERT_NE(composer, 0U);
  int left = 0, top = 0;
  Window child = 0;
  XTranslateCoordinates(display_, composer, DefaultRootWindow(display_), 0, 0, &left, &top, &child);
  const int x = left + 200, y = top + 17;
  const Rgb below = test::screenPixel(display_, x + 30, y + 12);
  const Rgb besideBelow = test::screenPixel(display_, x + 90, y + 12);
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);

  main.call([&] {
    WindowOptions options;
    options.frame = {{double(x), double(1024 - y - 24)}, {120, 24}};
    options.level = WindowLevel::statusBar;
    options.name = "overlay-under-test";
    window = windowing->createWindow(options,
                                     [&](const PointerEvent& event) { events.push_back(event); });
    window->setContent(halfRed());
    window->setAlpha(1);
    window->orderFront();
  });

  // Mapped where the bottom-left frame says, unmanaged, with an alpha channel,
  // above the application, which keeps the keyboard.
  Window id = 0;
  ASSERT_TRUE(pollUntil(5s, [&] { return (id = named("overlay-under-test")) != 0; }));
  XWindowAttributes attributes{};
  ASSERT_TRUE(XGetWindowAttributes(display_, id, &attributes));
  EXPECT_EQ(attributes.map_state, IsViewable);
  EXPECT_TRUE(attributes.override_redirect);
  EXPECT_EQ(attributes.depth, 32);
  EXPECT_EQ((std::array{attributes.x, attributes.y, attributes.width, attributes.height}),
            (std::array{x, y, 120, 24}));
  EXPECT_GT(stackIndex(display_, id), stackIndex(display_, composer));

  // The drawn half shows its colour, the transparent half what lies below,
  // and at half opacity the colour is blended with it.
  EXPECT_TRUE(pollUntil(5s,
                        [&] {
                          return near(test::screenPixel(display_, x + 30, y + 12), {255, 0, 0});
                        }))
      << "below was " << below[0] << "," << below[1] << "," << below[2];
  EXPECT_TRUE(near(test::screenPixel(display_, x + 90, y + 12), besideBelow));
  main.call([&] { window->setAlpha(0.5); });
  const Rgb blended = {(255 + below[0]) / 2, below[1] / 2, below[2] / 2};
  EXPECT_TRUE(
      pollUntil(5s, [&] { return near(test::screenPixel(display_, x + 30, y + 12), blended); }));

  Window focusNow = 0;
  XGetInputFocus(display_, &focusNow, &revert);
  EXPECT_EQ(focusNow, focus);
  EXPECT_EQ(xdotoolWindow({"getactivewindow"}), composer);
  xdotool({"type", "x"});
  EXPECT_FALSE(report([](const nlohmann::json& r) {
                 return r["field"] == "body" &&
                        r["text"].get<std::string>().find('x') != std::string::npos;
               }).is_null());

  // A click on the window is the window's, at its own coordinates, and
  // leaves the focus where it was.
  xdotool({"mousemove", std::to_string(x + 30), std::to_string(y + 12), "click", "1"});
  ASSERT_TRUE(
      main.until(5s, [&] { return !events.empty() && events.back().type == Type::released; }));
  auto clicked = main.call([&] { return std::exchange(events, {}); });
  ASSERT_GE(clicked.size(), 3U);
  EXPECT_EQ(clicked.front().type, Type::entered);
  EXPECT_EQ(clicked[clicked.size() - 2].type, Type::pressed);
  EXPECT_EQ(clicked.back().type, Type::released);
  EXPECT_EQ(clicked.back().location, (Point{30, 12}));
  XGetInputFocus(display_, &focusNow, &revert);
  EXPECT_EQ(focusNow, focus);

  // Ignoring the pointer, it lets the click through to the To field below.
  main.call([&] { window->setIgnoresPointer(true); });
  xdotool({"mousemove", std::to_string(x + 31), std::to_string(y + 12), "click", "1"});
  EXPECT_FALSE(report([](const nlohmann::json& r) {
                 return r["field"] == "focus" && r["text"] == "to";
               }).is_null());
  EXPECT_TRUE(main.call([&] { return events.empty(); }));

  // Sizes that are none, negative, not numbers or past any screen become one
  // that the server takes; a request the server refuses is logged.
  test::CaptureFd stderrCapture(2);
  std::vector<Rect> frames;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  main.call([&] {
    odd = windowing->createWindow({.frame = {{10, 10}, {0, 0}}, .name = "odd"}, {});
    frames.push_back(odd->frame());
    odd->setFrame({{nan, nan}, {nan, -3}});
    frames.push_back(odd->frame());
    odd->setFrame({{1e300, -inf}, {1e12, inf}});
    frames.push_back(odd->frame());
    odd->setFrame({{20, 20}, {-1, 0.2}});
    odd->orderFront();
  });
  EXPECT_EQ(frames, (std::vector<Rect>{
                        {{10, 10}, {1, 1}}, {{0, 0}, {1, 1}}, {{16384, -16384}, {16384, 16384}}}));
  Window oddId = 0;
  ASSERT_TRUE(pollUntil(5s, [&] { return (oddId = named("odd")) != 0; }));
  ASSERT_TRUE(XGetWindowAttributes(display_, oddId, &attributes));
  EXPECT_EQ((std::array{attributes.x, attributes.y, attributes.width, attributes.height}),
            (std::array{20, 1024 - 20 - 1, 1, 1}));
  // Brought to the front later, it still stays below the window of a higher
  // level.
  EXPECT_LT(stackIndex(display_, oddId), stackIndex(display_, id));
  XDestroyWindow(display_, oddId);
  XSync(display_, False);
  main.call([&] { odd->setFrame({{30, 30}, {5, 5}}); });
  EXPECT_TRUE(pollUntil(5s, [&] {
    return stderrCapture.text().find("X error on the agent's windows: BadWindow") !=
           std::string::npos;
  })) << stderrCapture.text();
  stderrCapture.restore();

  main.call([&] {
    window->orderOut();
    odd.reset();
    window.reset();
    windowing.reset();
  });
  EXPECT_TRUE(pollUntil(5s, [&] { return named("overlay-under-test") == 0; }));
}

TEST_F(X11WindowingTest, TakesTheKeyboardFromTheApplicationAndHearsMouseDownsElsewhere) {
  AsioRunLoop loop;
  test::TempDir config;
  std::unique_ptr<X11Windowing> windowing;
  std::shared_ptr<OverlayWindow> window;
  std::vector<KeyEvent> keys;        // on the loop
  std::vector<Point> downs;          // on the loop
  std::vector<PointerEvent> events;  // on the loop
  LoopThread main(loop);
  std::string error;
  main.call([&] {
    windowing = X11Windowing::open(loop, std::make_unique<FileUserDefaults>(config.file("d.json")),
                                   "", error);
  });
  ASSERT_TRUE(windowing) << error;
  Window focus = 0, focusNow = 0;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);

  // Its top-left pixel at (100, 100); off screen it cannot have the keyboard.
  bool tookHidden = true, took = false;
  main.call([&] {
    window = windowing->createWindow({.frame = {{100, 1024 - 100 - 40}, {200, 40}},
                                      .level = WindowLevel::popUpMenu,
                                      .name = "keyboard-list"},
                                     [&](const PointerEvent& event) { events.push_back(event); });
    window->setContent(halfRed());
    window->setAlpha(1);
    tookHidden = window->takeKeyboard([](const KeyEvent&) {});
    window->orderFront();
    took = window->takeKeyboard([&](const KeyEvent& key) { keys.push_back(key); });
    windowing->addMouseDownMonitor([&](Point at) { downs.push_back(at); });
  });
  EXPECT_FALSE(tookHidden);
  ASSERT_TRUE(took);

  // Keys reach the window in neutral codes, a held key's repeats marked, and
  // not the compose window, whose focus stays where it was.
  xdotool({"key", "Down", "Return"});
  ASSERT_TRUE(main.until(5s, [&] { return keys.size() >= 2; }));
  xdotool({"keydown", "Down"});
  EXPECT_TRUE(main.until(5s, [&] { return keys.back().autorepeat; }));
  xdotool({"keyup", "Down"});
  const auto heard = main.call([&] { return keys; });
  EXPECT_EQ(heard[0].keyCode, 125);
  EXPECT_EQ(heard[1].keyCode, 36);
  EXPECT_FALSE(heard[0].autorepeat || heard[1].autorepeat || heard[2].autorepeat);
  EXPECT_EQ(heard[2].keyCode, 125);
  XGetInputFocus(display_, &focusNow, &revert);
  EXPECT_EQ(focusNow, focus);
  EXPECT_TRUE(main.call([&] { return window->holdsKeyboard(); }));

  // Given back, the keyboard is the application's again: its text has the x
  // and none of the keys the window took.
  main.call([&] { window->releaseKeyboard(); });
  xdotool({"type", "x"});
  const auto typed = report([](const nlohmann::json& r) {
    return r["field"] == "body" && r["text"].get<std::string>().find('x') != std::string::npos;
  });
  ASSERT_FALSE(typed.is_null());
  const std::string body = typed["text"];
  EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 1) << body;

  // Left and right presses off the window are heard, in bottom-left points;
  // one on the window is the window's alone.
  xdotool({"mousemove", "1200", "1000", "click", "1"});
  xdotool({"mousemove", "1210", "1000", "click", "3"});
  ASSERT_TRUE(main.until(5s, [&] { return downs.size() >= 2; }));
  // The window manager's menu that the right click on the desktop opened.
  xdotool({"key", "Escape"});
  xdotool({"mousemove", "150", "120", "click", "1"});
  ASSERT_TRUE(
      main.until(5s, [&] { return !events.empty() && events.back().type == Type::released; }));
  EXPECT_EQ(main.call([&] { return downs; }), (std::vector<Point>{{1200, 24}, {1210, 24}}));

  // One that another client unmaps no longer holds it; one that goes while
  // it holds the keyboard gives it back.
  ASSERT_TRUE(main.call([&] { return window->takeKeyboard([](const KeyEvent&) {}); }));
  const Window id = named("keyboard-list");
  ASSERT_NE(id, 0U);
  XUnmapWindow(display_, id);
  XSync(display_, False);
  EXPECT_TRUE(main.until(5s, [&] { return !window->holdsKeyboard(); }));
  main.call([&] {
    window = windowing->createWindow({.frame = {{0, 0}, {10, 10}}}, {});
    window->orderFront();
    took = window->takeKeyboard([](const KeyEvent&) {});
    window.reset();
  });
  EXPECT_TRUE(took);
  EXPECT_EQ(XGrabKeyboard(display_, DefaultRootWindow(display_), False, GrabModeAsync,
                          GrabModeAsync, CurrentTime),
            GrabSuccess);
  XUngrabKeyboard(display_, CurrentTime);
  XSync(display_, False);

  // The display settings are the session's GNOME settings, read afresh.
  EXPECT_EQ(main.call([&] { return windowing->displayOptions(); }), DisplayOptions{});
  auto set = [&](const std::string& schema, const std::string& key, const std::string& value) {
    auto result = desktop_->run("gsettings", {"set", schema, key, value});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
  };
  set("org.gnome.desktop.interface", "enable-animations", "false");
  set("org.gnome.desktop.a11y.interface", "high-contrast", "true");
  EXPECT_TRUE(main.until(5s, [&] {
    return windowing->displayOptions() == DisplayOptions{true, true};
  }));
  main.call([&] { windowing.reset(); });
}

TEST_F(X11WindowingTest, ActivatesAnApplicationBehindTheActiveOne) {
  if (HasFatalFailure()) return;
  std::string error;
  const int second = desktop_->startApplication(
      {"/usr/bin/python3", test::composerScript(), "subject"}, {}, error);
  ASSERT_NE(second, 0) << error;
  AsioRunLoop loop;
  X11Workspace workspace(loop, std::make_shared<X11Desktop>());
  RunningApplication behind;
  behind.pid = desktop_->composerPid();
  ASSERT_NE(desktop_->activeWindowPid(), behind.pid);
  EXPECT_TRUE(workspace.activate(behind));
  EXPECT_EQ(desktop_->activeWindowPid(), behind.pid);
  RunningApplication windowless;
  windowless.pid = ::getpid();
  EXPECT_FALSE(workspace.activate(windowless));
  desktop_->stopApplication(second);
}

// Run by the test below as a process of its own: broadcasts logind's
// PrepareForSleep on the bus at argv[1], each further argument saying who
// sends it ("logind", owning logind's name, or "other") and with what value.
const char* const SLEEP_SCRIPT = R"py(
import sys
from gi.repository import Gio, GLib
def connect():
    flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
             Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    return Gio.DBusConnection.new_for_address_sync(sys.argv[1], flags, None, None)
def call(bus, method, args):
    bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  method, args, None, 0, -1, None)
senders = {"other": connect(), "logind": connect()}
call(senders["logind"], "RequestName", GLib.Variant("(su)", ("org.freedesktop.login1", 4)))
for step in sys.argv[2:]:
    sender, value = step.split(":")
    bus = senders[sender]
    bus.emit_signal(None, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                    "PrepareForSleep", GLib.Variant("(b)", (value == "true",)))
    call(bus, "GetId", None)
)py";

TEST_F(X11WindowingTest, TellsOfScreenChangesAndWakeAndKeepsTheUserDefaultsInAFile) {
  if (HasFatalFailure()) return;
  test::TempDir config;
  Platform platform;
  PlatformEnvironment environment = PlatformEnvironment::fromProcess();
  environment.configHome = config.path();
  // The desktop's session bus stands in for the system bus.
  const std::string bus = desktop_->environment().at("DBUS_SESSION_BUS_ADDRESS");
  environment.systemBus = bus;
  std::string error;
  ASSERT_TRUE(connectPlatform(platform, {.windows = true}, environment, error)) << error;
  std::shared_ptr<OverlayWindow> window;
  int screenChanges = 0, wakes = 0;  // on the loop
  LoopThread main(*platform.runLoop);
  main.call([&] {
    platform.windowing->addScreenChangeObserver([&] { ++screenChanges; });
    platform.windowing->addWakeObserver([&] { ++wakes; });
  });

  // Two monitors where there was one: a notice, then two screens.
  X11Workspace workspace(*platform.runLoop, std::make_shared<X11Desktop>());
  ASSERT_EQ(workspace.screens().size(), 1U);
  const Window root = DefaultRootWindow(display_);
  XRRScreenResources* resources = XRRGetScreenResources(display_, root);
  ASSERT_TRUE(resources && resources->noutput > 0);
  // The left one takes the server's output, whose own monitor it replaces.
  XRRMonitorInfo* leftMonitor = XRRAllocateMonitor(display_, 1);
  XRRMonitorInfo* rightMonitor = XRRAllocateMonitor(display_, 0);
  for (XRRMonitorInfo* monitor : {leftMonitor, rightMonitor}) {
    monitor->name = XInternAtom(display_, monitor == leftMonitor ? "left" : "right", False);
    monitor->primary = monitor == leftMonitor;
    monitor->x = monitor == leftMonitor ? 0 : 640;
    monitor->width = 640;
    monitor->height = 1024;
    monitor->mwidth = monitor->mheight = 100;
  }
  leftMonitor->outputs[0] = resources->outputs[0];
  XRRSetMonitor(display_, root, leftMonitor);
  XRRSetMonitor(display_, root, rightMonitor);
  XSync(display_, False);
  EXPECT_TRUE(main.until(5s, [&] { return screenChanges > 0; }));
  auto screens = workspace.screens();
  ASSERT_EQ(screens.size(), 2U);
  EXPECT_EQ(screens[0].frame, (Rect{{0, 0}, {640, 1024}}));
  EXPECT_EQ(screens[1].frame, (Rect{{640, 0}, {640, 1024}}));
  const int before = main.call([&] { return screenChanges; });
  XRRDeleteMonitor(display_, root, rightMonitor->name);
  XRRDeleteMonitor(display_, root, leftMonitor->name);
  XSync(display_, False);
  XRRFreeMonitors(leftMonitor);
  XRRFreeMonitors(rightMonitor);
  XRRFreeScreenResources(resources);
  EXPECT_TRUE(main.until(5s, [&] { return screenChanges > before; }));
  EXPECT_EQ(workspace.screens().size(), 1U);

  // Only logind's broadcast that the system woke is a wake: not its going to
  // sleep, nor the same words from anyone else. The first broadcasts may come
  // before the bus has the windowing's rule.
  auto broadcast = [&](const std::vector<std::string>& steps) {
    std::vector<std::string> args{"-c", SLEEP_SCRIPT, bus};
    args.insert(args.end(), steps.begin(), steps.end());
    auto result = desktop_->run("/usr/bin/python3", args);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
  };
  for (int i = 0; i < 20 && !main.until(500ms, [&] { return wakes > 0; }); ++i) {
    broadcast({"logind:false"});
  }
  const int heard = main.call([&] { return wakes; });
  ASSERT_GT(heard, 0);
  broadcast({"other:false", "logind:true"});
  EXPECT_FALSE(main.until(500ms, [&] { return wakes > heard; }));
  broadcast({"logind:false"});
  EXPECT_TRUE(main.until(5s, [&] { return wakes == heard + 1; }));

  // The settings live in the user's configuration directory; what is not a
  // settings file there reads as none, without waiting on a FIFO, and is
  // replaced by the next setting.
  const std::string file = config.file("nolari/defaults.json");
  auto readBack = [&] { return FileUserDefaults(file).boolForKey("migratedToHiddenBlob_v1"); };
  main.call([&] {
    UserDefaults& defaults = platform.windowing->userDefaults();
    EXPECT_EQ(defaults.boolForKey("migratedToHiddenBlob_v1"), std::nullopt);
    defaults.setBool("migratedToHiddenBlob_v1", true);
  });
  EXPECT_EQ(readBack(), true);
  std::ofstream(file) << "{\"migratedToHiddenBlob_v1\": tru";
  EXPECT_EQ(readBack(), std::nullopt);
  ::unlink(file.c_str());
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  EXPECT_EQ(readBack(), std::nullopt);
  main.call([&] { platform.windowing->userDefaults().setBool("migratedToHiddenBlob_v1", false); });
  EXPECT_EQ(readBack(), false);
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));

  // The server going away is logged once, and the program goes on without
  // windows.
  main.call([&] {
    window = platform.windowing->createWindow({.frame = {{10, 10}, {50, 50}}}, {});
    window->setContent(halfRed());
    window->setAlpha(0.5);
    window->orderFront();
  });
  XCloseDisplay(display_);
  display_ = nullptr;
  test::CaptureFd stderrCapture(2);
  desktop_->stopDisplay();
  EXPECT_TRUE(pollUntil(5s, [&] {
    return main.call([&] {
      window->setFrame({{20, 20}, {60, 60}});
      window->setContent(halfRed());
      window->orderFront();
      return !window->isVisible();
    });
  }));
  main.call([&] {
    window.reset();
    platform.windowing.reset();
  });
  const std::string logged = stderrCapture.text();
  EXPECT_NE(logged.find("the X server went away"), std::string::npos) << logged;
  EXPECT_EQ(logged.find("the X server went away"), logged.rfind("the X server went away"));
}

}  // namespace
}  // namespace nolari::platform
