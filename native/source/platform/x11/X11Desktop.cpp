#include "platform/x11/X11Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "base/NolariLogger.h"

// For the display's flags; it defines min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace nolari::platform {

namespace {

std::mutex brokenMutex;
std::set<Display*> brokenDisplays;

std::mutex loggedMutex;
std::map<Display*, std::string> loggedDisplays;

// A window that closes between two requests answers BadWindow; that is an
// ordinary race for the questions asked here, not a reason to end the process
// as Xlib's default does. On a connection that makes windows of its own, an
// error is a request the server refused, and is logged.
int onError(Display* display, XErrorEvent* event) {
  std::string message;
  {
    std::lock_guard lock(loggedMutex);
    auto logged = loggedDisplays.find(display);
    if (logged == loggedDisplays.end()) return 0;
    message = "X error on ";
    message += logged->second;
  }
  // Both read Xlib's tables only, which an error handler may do.
  char text[256] = "";
  XGetErrorText(display, event->error_code, text, sizeof text);
  char request[128] = "";
  const std::string major = std::to_string(event->request_code);
  XGetErrorDatabaseText(display, "XRequest", major.c_str(), "", request, sizeof request);
  message += ": ";
  message += text;
  message += " in request ";
  message += major;
  message += '.';
  message += std::to_string(event->minor_code);
  if (*request) {
    message += " (";
    message += request;
    message += ')';
  }
  char resource[32];
  std::snprintf(resource, sizeof resource, " on resource 0x%lx", event->resourceid);
  message += resource;
  NolariLogger::warn(message);
  return 0;
}

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

X11Desktop::~X11Desktop() { closeDisplay(display_); }

Display* X11Desktop::openDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return nullptr;
  static std::once_flag handlers;
  // The watching thread has a connection of its own; both may open theirs
  // at the same moment.
  std::call_once(handlers, [] {
    XInitThreads();
    XSetErrorHandler(onError);
    XSetIOErrorHandler(noteBrokenDisplay);
  });
  Display* display = XOpenDisplay(name);
  if (display) XSetIOErrorExitHandler(display, keepRunning, nullptr);
  return display;
}

// A display whose server went away is marked as Xlib marks one after an I/O
// error, so that closing it frees it without talking to the server: Xlib's
// own I/O error path, once its handler returns, unlocks the display twice. A
// server can go away after the last request, so the socket is asked here too.
void X11Desktop::closeDisplay(Display* display) {
  if (!display) return;
  {
    std::lock_guard lock(loggedMutex);
    loggedDisplays.erase(display);
  }
  if (isBroken(display)) display->flags = display->flags | XlibDisplayIOError;
  {
    std::lock_guard lock(brokenMutex);
    brokenDisplays.erase(display);
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

void X11Desktop::logErrorsOf(Display* display, const std::string& source) {
  std::lock_guard lock(loggedMutex);
  loggedDisplays[display] = source;
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

std::optional<std::int32_t> X11Desktop::activeProcess() {
  auto active = activeWindow();
  if (!active) return std::nullopt;
  return active->pid;
}

// The server answers which child holds a point with the windows' stacking and
// input shapes, so a window that lets clicks through is looked through here
// too.
std::optional<std::int32_t> X11Desktop::processAt(int x, int y) {
  return ask([x, y](Display* display) -> std::optional<std::int32_t> {
    const Window root = DefaultRootWindow(display);
    Window parent = root;
    for (int depth = 0; depth < 3; ++depth) {
      Window child = 0;
      int childX = 0, childY = 0;
      if (!XTranslateCoordinates(display, root, parent, x, y, &childX, &childY, &child) ||
          child == 0) {
        return std::nullopt;
      }
      if (auto pid = cardinals(display, child, "_NET_WM_PID", XA_CARDINAL); !pid.empty()) {
        return static_cast<std::int32_t>(pid.front());
      }
      parent = child;
    }
    return std::nullopt;
  });
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

// Asked of the server: the size Xlib keeps from the connection's start is
// only updated by a client that reads the screen-change events itself.
std::optional<Rect> X11Desktop::screenFrame() {
  return ask([](Display* display) -> std::optional<Rect> {
    Window root = 0;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(display, DefaultRootWindow(display), &root, &x, &y, &width, &height, &border,
                      &depth)) {
      return std::nullopt;
    }
    return Rect{{0, 0}, {static_cast<double>(width), static_cast<double>(height)}};
  });
}

std::vector<Rect> X11Desktop::monitors() {
  auto answer = ask([](Display* display) -> std::optional<std::vector<Rect>> {
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
        !XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 5)) {
      return std::vector<Rect>{};
    }
    int count = 0;
    XRRMonitorInfo* info = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    std::vector<Rect> monitors;
    for (int i = 0; info && i < count; ++i) {
      const XRRMonitorInfo& monitor = info[i];
      if (monitor.width <= 0 || monitor.height <= 0) continue;
      const Rect frame{{static_cast<double>(monitor.x), static_cast<double>(monitor.y)},
                       {static_cast<double>(monitor.width), static_cast<double>(monitor.height)}};
      monitors.insert(monitor.primary ? monitors.begin() : monitors.end(), frame);
    }
    if (info) XRRFreeMonitors(info);
    return monitors;
  });
  return answer ? std::move(*answer) : std::vector<Rect>{};
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

// A request from a pager (source 2), which window managers carry out where
// they might refuse an application that asks for itself.
bool X11Desktop::activate(std::int32_t pid, std::chrono::milliseconds timeout) {
  if (pid <= 0) return false;
  // Already in front (a window that took only the keyboard never moved it):
  // the window the user was in keeps the focus.
  if (auto active = activeWindow(); active && active->pid == pid) return true;
  const auto asked = ask([pid](Display* display) -> std::optional<Window> {
    const Window root = DefaultRootWindow(display);
    const auto stacking = cardinals(display, root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    // Bottom first: the last of the process's windows is its topmost.
    for (auto window = stacking.rbegin(); window != stacking.rend(); ++window) {
      const auto owner =
          cardinals(display, static_cast<Window>(*window), "_NET_WM_PID", XA_CARDINAL);
      if (owner.empty() || static_cast<std::int32_t>(owner.front()) != pid) continue;
      XEvent event{};
      event.xclient.type = ClientMessage;
      event.xclient.window = static_cast<Window>(*window);
      event.xclient.message_type = activeWindowAtom(display);
      event.xclient.format = 32;
      event.xclient.data.l[0] = 2;
      event.xclient.data.l[1] = CurrentTime;
      XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
      XFlush(display);
      return static_cast<Window>(*window);
    }
    return std::nullopt;
  });
  if (!asked) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto active = ask([](Display* display) -> std::optional<unsigned long> {
      auto windows =
          cardinals(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW", XA_WINDOW);
      if (windows.empty()) return std::nullopt;
      return windows.front();
    });
    if (active == *asked) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace nolari::platform
