#include "platform/x11/X11Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <cstdlib>
#include <set>
#include <vector>

// For the display's flags; it defines min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

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
  if (XGetWindowProperty(display, window, atom, 0, 4096, False, type, &actualType, &format, &count,
                         &remaining, &data) != Success) {
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
  if (XGetWindowProperty(display, window, atom, 0, 1024, False, utf8, &actualType, &format, &count,
                         &remaining, &data) == Success &&
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
  // The watching thread has a connection of its own; both may open theirs
  // at the same moment.
  std::call_once(handlers, [] {
    XInitThreads();
    XSetErrorHandler(ignoreError);
    XSetIOErrorHandler(noteBrokenDisplay);
  });
  Display* display = XOpenDisplay(name);
  if (display) XSetIOErrorExitHandler(display, keepRunning, nullptr);
  return display;
}

// A display whose server went away is marked as Xlib marks one after an I/O
// error, so that closing it frees it without talking to the server.
void X11Desktop::closeDisplay(Display* display) {
  if (!display) return;
  {
    std::lock_guard lock(brokenMutex);
    if (brokenDisplays.erase(display)) display->flags = display->flags | XlibDisplayIOError;
  }
  XCloseDisplay(display);
}

// A server that went away is seen on the socket before any request is made,
// which keeps Xlib's own error path, and its state afterwards, out of the way.
bool X11Desktop::isBroken(Display* display) {
  std::lock_guard lock(brokenMutex);
  if (brokenDisplays.contains(display)) return true;
  pollfd socket{ConnectionNumber(display), POLLRDHUP, 0};
  if (::poll(&socket, 1, 0) > 0 && (socket.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) {
    brokenDisplays.insert(display);
    return true;
  }
  return false;
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

// A display that went away is given up and a new connection tried at once;
// without one, a connection is tried at most once a second, so a restarted
// server is found again.
Display* X11Desktop::displayLocked() {
  const auto now = std::chrono::steady_clock::now();
  if (display_ && isBroken(display_)) {
    closeDisplay(display_);
    display_ = nullptr;
    tried_ = false;
  }
  if (!display_ && (!tried_ || now - triedAt_ >= std::chrono::seconds(1))) {
    tried_ = true;
    triedAt_ = now;
    display_ = openDisplay();
  }
  return display_;
}

std::optional<X11WindowFacts> X11Desktop::activeWindow() {
  return ask([](Display* display) { return activeWindowOn(display); });
}

std::optional<X11WindowFacts> X11Desktop::windowOfProcess(std::int32_t pid) {
  if (pid <= 0) return std::nullopt;
  return ask([pid](Display* display) -> std::optional<X11WindowFacts> {
    for (unsigned long window :
         cardinals(display, DefaultRootWindow(display), "_NET_CLIENT_LIST", XA_WINDOW)) {
      auto facts = factsOf(display, static_cast<Window>(window));
      if (facts && facts->pid == pid) return facts;
    }
    return std::nullopt;
  });
}

std::optional<Rect> X11Desktop::screenFrame() {
  return ask([](Display* display) -> std::optional<Rect> {
    const int screen = DefaultScreen(display);
    return Rect{{0, 0},
                {static_cast<double>(DisplayWidth(display, screen)),
                 static_cast<double>(DisplayHeight(display, screen))}};
  });
}

std::optional<Rect> X11Desktop::workArea() {
  return ask([](Display* display) -> std::optional<Rect> {
    auto area = cardinals(display, DefaultRootWindow(display), "_NET_WORKAREA", XA_CARDINAL);
    if (area.size() < 4 || area[2] == 0 || area[3] == 0) return std::nullopt;
    return Rect{{static_cast<double>(area[0]), static_cast<double>(area[1])},
                {static_cast<double>(area[2]), static_cast<double>(area[3])}};
  });
}

std::optional<Point> X11Desktop::pointer() {
  return ask([](Display* display) -> std::optional<Point> {
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &winX,
                       &winY, &mask)) {
      return std::nullopt;
    }
    return Point{static_cast<double>(rootX), static_cast<double>(rootY)};
  });
}

}  // namespace nolari::platform
