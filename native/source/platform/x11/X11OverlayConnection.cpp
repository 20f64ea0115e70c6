// The agent's windows' connection to the X server: what the windows share,
// the watching thread and the delivery of its events on the main loop.

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/NolariLogger.h"
#include "platform/ThreadName.h"
#include "platform/logind/WakeSignal.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Overlay.h"

namespace nolari::platform {

namespace {

// The protocol's 16-bit coordinates.
constexpr double MIN_PROTOCOL_COORDINATE = -32768;
constexpr double MAX_PROTOCOL_COORDINATE = 32767;
// A window manager may hold the keyboard for a moment (while it switches
// windows, say): a grab it refuses is asked again, this often, this far apart.
constexpr int GRAB_ATTEMPTS = 10;
constexpr auto GRAB_RETRY_DELAY = std::chrono::milliseconds(20);

}  // namespace

X11OverlayConnection::~X11OverlayConnection() {
  if (watcher_.joinable()) {
    stopping_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    watcher_.join();
  }
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (ownColormap_ && usable()) XFreeColormap(display_, colormap_);
  X11Desktop::closeDisplay(display_);
}

bool X11OverlayConnection::start(std::string& error) {
  X11Desktop::logErrorsOf(display_, "the agent's windows");
  const int screen = DefaultScreen(display_);
  root_ = RootWindow(display_, screen);
  Window root = 0;
  int x = 0, y = 0;
  unsigned int width = 0, height = 0, border = 0, depth = 0;
  XGetGeometry(display_, root_, &root, &x, &y, &width, &height, &border, &depth);
  rootWidth_ = static_cast<int>(width);
  rootHeight_ = static_cast<int>(height);

  const char* names[] = {"UTF8_STRING",
                         "_NET_WM_NAME",
                         "_NET_WM_WINDOW_TYPE",
                         "_NET_WM_WINDOW_TYPE_NOTIFICATION",
                         "_NET_WM_PID",
                         "_NET_WM_WINDOW_OPACITY",
                         "_NOLARI_ACCESSIBLE_LABEL",
                         "_NOLARI_ACCESSIBLE_ROLE",
                         nullptr};
  const std::string compositor = "_NET_WM_CM_S" + std::to_string(screen);
  names[std::size(names) - 1] = compositor.c_str();
  Atom atoms[std::size(names)] = {};
  XInternAtoms(display_, const_cast<char**>(names), static_cast<int>(std::size(names)), False,
               atoms);
  atoms_ = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4],
            atoms[5], atoms[6], atoms[7], atoms[8]};

  XVisualInfo argb{};
  if (XMatchVisualInfo(display_, screen, 32, TrueColor, &argb)) {
    visual_ = argb.visual;
    depth_ = 32;
    colormap_ = XCreateColormap(display_, root_, visual_, AllocNone);
    ownColormap_ = true;
    translucent_ = true;
  } else {
    visual_ = DefaultVisual(display_, screen);
    depth_ = DefaultDepth(display_, screen);
    colormap_ = DefaultColormap(display_, screen);
    NolariLogger::warn("the X server has no 32-bit visual: the agent's windows are opaque");
  }

  int shapeEvents = 0, shapeErrors = 0, shapeMajor = 0, shapeMinor = 0;
  shapes_ = XShapeQueryExtension(display_, &shapeEvents, &shapeErrors);
  shapeInput_ = shapes_ && XShapeQueryVersion(display_, &shapeMajor, &shapeMinor) &&
                (shapeMajor > 1 || (shapeMajor == 1 && shapeMinor >= 1));
  if (!shapeInput_) {
    NolariLogger::warn("the X server has no input shapes: the agent's windows take every click");
  }

  modifierRoles_ = x11ModifierRoles(display_, modifierKeys_);
  // Held keys then repeat as presses without releases between them.
  XkbSetDetectableAutoRepeat(display_, True, nullptr);

  // Raw button presses reach the root's listeners even while another client
  // grabs the pointer (from version 2.1 of the extension on).
  int inputEvents = 0, inputErrors = 0, inputMajor = 2, inputMinor = 2;
  if (XQueryExtension(display_, "XInputExtension", &inputOpcode_, &inputEvents, &inputErrors) &&
      XIQueryVersion(display_, &inputMajor, &inputMinor) == Success &&
      (inputMajor > 2 || (inputMajor == 2 && inputMinor >= 1))) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(display_, root_, &mask, 1);
  } else {
    inputOpcode_ = -1;
    NolariLogger::warn("the X server has no raw input events: mouse downs elsewhere go unheard");
  }

  // The root's own size changes.
  XSelectInput(display_, root_, StructureNotifyMask);
  int randrErrors = 0;
  if (XRRQueryExtension(display_, &randrEvents_, &randrErrors)) {
    XRRSelectInput(display_, root_,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  } else {
    randrEvents_ = -1;
  }
  // A compositing manager that starts or stops takes or leaves its selection.
  int fixesErrors = 0;
  if (XFixesQueryExtension(display_, &fixesEvents_, &fixesErrors)) {
    XFixesSelectSelectionInput(display_, root_, atoms_.compositor,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
  } else {
    fixesEvents_ = -1;
  }
  compositing_ = XGetSelectionOwner(display_, atoms_.compositor) != None;
  XFlush(display_);

  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    error = "cannot watch the X display for the agent's windows";
    return false;
  }
  watcher_ = std::thread([this] {
    nameCurrentThread("nolari.x11windows");
    watch();
  });
  return true;
}

bool X11OverlayConnection::usable() {
  if (gone_) return false;
  if (!X11Desktop::isBroken(display_)) return true;
  serverGone();
  return false;
}

void X11OverlayConnection::serverGone() {
  if (gone_) return;
  gone_ = true;
  keyboardHolder_ = 0;
  NolariLogger::error("the X server went away: the agent's windows are gone");
  for (auto& [id, weak] : windows_) {
    if (auto window = weak.lock()) window->lost();
  }
}

void X11OverlayConnection::flush() {
  XFlush(display_);
  if (XEventsQueued(display_, QueuedAlready) > 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
  }
}

bool X11OverlayConnection::blendsTranslucency() {
  if (!translucent_) return false;
  if (fixesEvents_ < 0 && usable()) {
    compositing_ = XGetSelectionOwner(display_, atoms_.compositor) != None;
  }
  return compositing_;
}

Pixels X11OverlayConnection::pixelsOf(const Rect& frame) const {
  const double width = std::max(1.0, std::round(frame.size.width));
  const double height = std::max(1.0, std::round(frame.size.height));
  const double top = rootHeight_ - (frame.origin.y + height);
  return {static_cast<int>(std::lround(frame.origin.x)),
          static_cast<int>(
              std::lround(std::clamp(top, MIN_PROTOCOL_COORDINATE, MAX_PROTOCOL_COORDINATE))),
          static_cast<int>(width), static_cast<int>(height)};
}

Pixels X11OverlayConnection::onRoot(const Pixels& pixels) const {
  const int left = std::max(pixels.x, 0);
  const int top = std::max(pixels.y, 0);
  const int right = std::min(pixels.x + pixels.width, rootWidth_);
  const int bottom = std::min(pixels.y + pixels.height, rootHeight_);
  return {left, top, right - left, bottom - top};
}

void X11OverlayConnection::add(Window window, const std::shared_ptr<X11OverlayWindow>& overlay) {
  if (window) windows_[window] = overlay;
}

void X11OverlayConnection::restack() {
  std::vector<std::shared_ptr<X11OverlayWindow>> shown;
  for (const auto& [id, weak] : windows_) {
    auto window = weak.lock();
    if (window && window->isVisible()) shown.push_back(std::move(window));
  }
  if (shown.empty()) return;
  std::sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) {
    if (a->level() != b->level()) return a->level() > b->level();
    return a->raisedAt() > b->raisedAt();
  });
  std::vector<Window> order;
  order.reserve(shown.size());
  for (const auto& window : shown) order.push_back(window->id());
  XRaiseWindow(display_, order.front());
  XRestackWindows(display_, order.data(), static_cast<int>(order.size()));
}

bool X11OverlayConnection::grabKeyboard(Window window) {
  for (int attempt = 1;; ++attempt) {
    grabSerial_ = NextRequest(display_);
    const int status =
        XGrabKeyboard(display_, window, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (status == GrabSuccess) break;
    const bool busy = status == AlreadyGrabbed || status == GrabFrozen;
    if (!busy || attempt == GRAB_ATTEMPTS || !usable()) return false;
    std::this_thread::sleep_for(GRAB_RETRY_DELAY);
  }
  keyboardHolder_ = window;
  // A key held as the grab begins repeats as presses: it counts as down.
  char down[32] = {};
  XQueryKeymap(display_, down);
  keysDown_.reset();
  for (std::size_t code = 0; code < keysDown_.size(); ++code) {
    if (static_cast<unsigned char>(down[code / 8]) & (1U << (code % 8))) keysDown_.set(code);
  }
  flush();
  return true;
}

void X11OverlayConnection::ungrabKeyboard(Window window) {
  if (keyboardHolder_ != window || window == 0) return;
  keyboardHolder_ = 0;
  XUngrabKeyboard(display_, CurrentTime);
  flush();
}

Windowing::ObserverToken X11OverlayConnection::addObserver(NoticeKind kind,
                                                           Windowing::Notice notice) {
  return notices_->add(
      [kind, notice = std::move(notice)](const NoticeKind& happened, const Point&) {
        if (happened == kind) notice();
      });
}

Windowing::ObserverToken X11OverlayConnection::addMouseDownMonitor(
    Windowing::MouseDownHandler handler) {
  return notices_->add(
      [handler = std::move(handler)](const NoticeKind& happened, const Point& location) {
        if (happened == NoticeKind::mouseDown) handler(location);
      });
}

// Events Xlib read while answering a request wait in its queue, where poll()
// cannot see them: the queue is looked at before each wait, and the main
// thread wakes the watcher when its requests left events there.
void X11OverlayConnection::watch() {
  const auto wake = LogindWakeSignal::connect(systemBus_);
  pollfd fds[3] = {{ConnectionNumber(display_), POLLIN, 0},
                   {wakeFd_, POLLIN, 0},
                   {wake ? wake->fd() : -1, POLLIN, 0}};
  const auto weak = weak_from_this();
  bool busReadable = false;
  while (!stopping_) {
    Batch batch;
    batch.serverGone = X11Desktop::isBroken(display_);
    while (!batch.serverGone && XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (randrEvents_ >= 0 && (event.type == randrEvents_ + RRScreenChangeNotify ||
                                event.type == randrEvents_ + RRNotify)) {
        batch.screensChanged = true;
      } else if (fixesEvents_ >= 0 && event.type == fixesEvents_ + XFixesSelectionNotify) {
        const auto& notice = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
        batch.compositing = notice.subtype == XFixesSetSelectionOwnerNotify && notice.owner != None;
      } else if (event.type == GenericEvent && event.xcookie.extension == inputOpcode_) {
        readRawPress(event, batch);
      } else {
        batch.events.push_back(event);
      }
      batch.serverGone = X11Desktop::isBroken(display_);
    }
    if (busReadable && wake) {
      batch.woke = wake->readWoke();
      fds[2].fd = wake->fd();
    }
    if (!batch.events.empty() || !batch.presses.empty() || batch.screensChanged || batch.woke ||
        batch.compositing || batch.serverGone) {
      loop_.post([weak, batch]() mutable {
        if (auto connection = weak.lock()) connection->handle(batch);
      });
    }
    if (batch.serverGone) return;
    if (XEventsQueued(display_, QueuedAlready) > 0) continue;
    for (pollfd& fd : fds) fd.revents = 0;
    if (::poll(fds, 3, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] auto read = ::read(wakeFd_, &count, sizeof count);
    }
    busReadable = (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
}

// Where the pointer is is asked at once, as close to the press as can be;
// the event's data is only there until the next event is read.
void X11OverlayConnection::readRawPress(XEvent& event, Batch& batch) {
  if (!XGetEventData(display_, &event.xcookie)) return;
  const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
  const bool press = event.xcookie.evtype == XI_RawButtonPress &&
                     (raw->detail == Button1 || raw->detail == Button3);
  XFreeEventData(display_, &event.xcookie);
  if (!press) return;
  Window root = 0, child = 0;
  int rootX = 0, rootY = 0, x = 0, y = 0;
  unsigned int mask = 0;
  if (XQueryPointer(display_, root_, &root, &child, &rootX, &rootY, &x, &y, &mask)) {
    batch.presses.push_back({rootX, rootY, child});
  }
}

void X11OverlayConnection::key(const XKeyEvent& event) {
  if (event.keycode >= keysDown_.size()) return;
  const bool press = event.type == KeyPress;
  const bool repeat = press && keysDown_.test(event.keycode);
  keysDown_.set(event.keycode, press);
  if (!press || modifierKeys_.test(event.keycode) || event.window != keyboardHolder_) return;
  auto found = windows_.find(event.window);
  if (found == windows_.end()) return;
  auto window = found->second.lock();
  if (!window) return;
  const unsigned long keysym = x11UnshiftedKeysym(display_, event.keycode);
  window->key(
      {x11NeutralKeyCode(keysym), x11NeutralFlags(keysym, event.state, modifierRoles_), repeat});
}

void X11OverlayConnection::handle(Batch& batch) {
  if (batch.serverGone) serverGone();
  std::vector<std::shared_ptr<X11OverlayWindow>> exposed;
  bool rootChanged = false;
  for (const XEvent& event : batch.events) {
    // The root is configured again when its size changes and when monitors
    // are set or deleted, of which XRandR itself says nothing.
    if (event.type == ConfigureNotify && event.xconfigure.window == root_) {
      rootWidth_ = event.xconfigure.width;
      rootHeight_ = event.xconfigure.height;
      rootChanged = true;
      continue;
    }
    if (event.type == KeyPress || event.type == KeyRelease) {
      if (usable()) key(event.xkey);
      continue;
    }
    // The grab ended by itself: the window was unmapped or destroyed by
    // another client.
    if (event.type == FocusOut && event.xfocus.mode == NotifyUngrab &&
        event.xfocus.window == keyboardHolder_ && event.xfocus.serial >= grabSerial_) {
      keyboardHolder_ = 0;
      continue;
    }
    auto found = windows_.find(event.xany.window);
    if (found == windows_.end()) continue;
    auto window = found->second.lock();
    if (!window) continue;
    if (event.type == Expose) {
      if (event.xexpose.count == 0) exposed.push_back(window);
    } else {
      window->pointer(event);
    }
  }
  if (usable()) {
    if (rootChanged) {
      for (const auto& [id, weak] : windows_) {
        if (auto window = weak.lock()) window->place();
      }
    }
    for (const auto& window : exposed) window->draw();
    flush();
  }
  if (batch.screensChanged || rootChanged) notices_->deliver(NoticeKind::screens, {});
  if (batch.woke) notices_->deliver(NoticeKind::wake, {});
  if (batch.compositing && *batch.compositing != compositing_) {
    compositing_ = *batch.compositing;
    if (translucent_) notices_->deliver(NoticeKind::translucency, {});
  }
  // A press that one of our windows takes is that window's.
  for (const RawPress& press : batch.presses) {
    auto found = windows_.find(press.child);
    auto window = found == windows_.end() ? nullptr : found->second.lock();
    if (window && window->takesPointer()) continue;
    notices_->deliver(NoticeKind::mouseDown, at(press.x, rootHeight_ - press.y));
  }
}

}  // namespace nolari::platform
