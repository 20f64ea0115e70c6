#include "platform/linux/X11Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <set>
#include <vector>

namespace nolari::platform {

namespace {

std::mutex brokenMutex;
std::set<Display*> brokenDisplays;

// A window that closes between two requests answers BadWindow; that is an
// ordinary race here, not a reason to end the process as Xlib's default does.
int ignoreError(Display*, XErrorEvent*) { return 0; }

// A server that goes away must not end the process either: the display is
// marked broken and every later answer on it is empty.
int noteBrokenDisplay(Display* display) {
  std::lock_guard lock(brokenMutex);
  brokenDisplays.insert(display);
  return 0;
}

void keepRunning(Display* display, void*) { noteBrokenDisplay(display); }

std::vector<unsigned long> cardinals(Display* display, Window window, const char* property,
                                     Atom type) {
  std::vector<unsigned long> out;
  Atom actualType = 0;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  Atom atom = XInternAtom(display, property, True);
  if (atom == None) return out;
  if (XGetWindowProperty(display, window, atom, 0, 4096, False, type, &actualType, &format,
                         &count, &remaining, &data) != Success) {
    return out;
  }
  if (data && format == 32 && actualType == type) {
    auto* values = reinterpret_cast<unsigned long*>(data);
    out.assign(values, values + count);
  }
  if (data) XFree(data);
  return out;
}

std::string utf8Property(Display* display, Window window, const char* property) {
  Atom atom = XInternAtom(display, property, True);
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  if (atom == None) return {};
  Atom actualType = 0;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  std::string out;
  if (XGetWindowProperty(display, window, atom, 0, 1024, False, utf8, &actualType, &format,
                         &count, &remaining, &data) == Success &&
      data && format == 8) {
    out.assign(reinterpret_cast<const char*>(data), count);
  }
  if (data) XFree(data);
  return out;
}

std::optional<X11WindowFacts> factsOf(Display* display, Window window) {
  if (window == None) return std::nullopt;
  auto pid = cardinals(display, window, "_NET_WM_PID", XA_CARDINAL);
  if (pid.empty()) return std::nullopt;
  X11WindowFacts facts;
  facts.pid = static_cast<std::int32_t>(pid.front());
  XClassHint hint{};
  if (XGetClassHint(display, window, &hint)) {
    if (hint.res_name) facts.resName = hint.res_name;
    if (hint.res_class) facts.resClass = hint.res_class;
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
  }
  facts.applicationId = utf8Property(display, window, "_GTK_APPLICATION_ID");
  return facts;
}

}  // namespace

X11Desktop& X11Desktop::shared() {
  static X11Desktop* desktop = new X11Desktop();
  return *desktop;
}

Display* X11Desktop::openDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return nullptr;
  static std::once_flag handlers;
  std::call_once(handlers, [] {
    XSetErrorHandler(ignoreError);
    XSetIOErrorHandler(noteBrokenDisplay);
  });
  Display* display = XOpenDisplay(name);
  if (display) XSetIOErrorExitHandler(display, keepRunning, nullptr);
  return display;
}

void X11Desktop::closeDisplay(Display* display) {
  if (!display) return;
  {
    std::lock_guard lock(brokenMutex);
    if (brokenDisplays.erase(display)) return;  // its connection is already gone
  }
  XCloseDisplay(display);
}

bool X11Desktop::isBroken(Display* display) {
  std::lock_guard lock(brokenMutex);
  return brokenDisplays.contains(display);
}

unsigned long X11Desktop::activeWindowAtom(Display* display) {
  return XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
}

std::optional<X11WindowFacts> X11Desktop::activeWindowOn(Display* display) {
  if (!display || isBroken(display)) return std::nullopt;
  auto active = cardinals(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW", XA_WINDOW);
  if (active.empty()) return std::nullopt;
  return factsOf(display, static_cast<Window>(active.front()));
}

// A display that went away is given up, and a new connection is tried at
// most once a second, so a restarted server is found again.
Display* X11Desktop::displayLocked() {
  const auto now = std::chrono::steady_clock::now();
  if (display_ && isBroken(display_)) {
    closeDisplay(display_);
    display_ = nullptr;
  }
  if (!display_ && (!tried_ || now - triedAt_ >= std::chrono::seconds(1))) {
    tried_ = true;
    triedAt_ = now;
    display_ = openDisplay();
  }
  return display_;
}

std::optional<X11WindowFacts> X11Desktop::activeWindow() {
  std::lock_guard lock(mutex_);
  return activeWindowOn(displayLocked());
}

std::optional<X11WindowFacts> X11Desktop::windowOfProcess(std::int32_t pid) {
  std::lock_guard lock(mutex_);
  Display* display = displayLocked();
  if (!display || pid <= 0) return std::nullopt;
  for (unsigned long window :
       cardinals(display, DefaultRootWindow(display), "_NET_CLIENT_LIST", XA_WINDOW)) {
    auto facts = factsOf(display, static_cast<Window>(window));
    if (facts && facts->pid == pid) return facts;
  }
  return std::nullopt;
}

std::optional<Rect> X11Desktop::screenFrame() {
  std::lock_guard lock(mutex_);
  Display* display = displayLocked();
  if (!display) return std::nullopt;
  const int screen = DefaultScreen(display);
  return Rect{{0, 0},
              {static_cast<double>(DisplayWidth(display, screen)),
               static_cast<double>(DisplayHeight(display, screen))}};
}

std::optional<Rect> X11Desktop::workArea() {
  std::lock_guard lock(mutex_);
  Display* display = displayLocked();
  if (!display) return std::nullopt;
  auto area = cardinals(display, DefaultRootWindow(display), "_NET_WORKAREA", XA_CARDINAL);
  if (area.size() < 4 || area[2] == 0 || area[3] == 0) return std::nullopt;
  return Rect{{static_cast<double>(area[0]), static_cast<double>(area[1])},
              {static_cast<double>(area[2]), static_cast<double>(area[3])}};
}

std::optional<Point> X11Desktop::pointer() {
  std::lock_guard lock(mutex_);
  Display* display = displayLocked();
  if (!display) return std::nullopt;
  Window root = 0, child = 0;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned int mask = 0;
  if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &winX,
                     &winY, &mask)) {
    return std::nullopt;
  }
  return Point{static_cast<double>(rootX), static_cast<double>(rootY)};
}

}  // namespace nolari::platform
