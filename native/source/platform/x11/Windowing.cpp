#include "platform/x11/Windowing.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <cairo.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/NolariLogger.h"
#include "platform/Notices.h"
#include "platform/ThreadName.h"
#include "platform/cairo/Render.h"
#include "platform/cairo/TextMeasure.h"
#include "platform/gsettings/DisplayOptions.h"
#include "platform/logind/WakeSignal.h"
#include "platform/x11/EventTaps.h"
#include "platform/x11/X11Desktop.h"

namespace nolari::platform {

namespace {

// A side the server can hold and the agent never needs more of; what is
// below one point, or not a number, becomes one point.
constexpr double MAX_SIDE = 16384;
// Positions stay well inside the protocol's 16-bit coordinates.
constexpr double MAX_COORDINATE = 16384;
constexpr double MIN_PROTOCOL_COORDINATE = -32768;
constexpr double MAX_PROTOCOL_COORDINATE = 32767;
// A window manager may hold the keyboard for a moment (while it switches
// windows, say): a grab it refuses is asked again, this often, this far apart.
constexpr int GRAB_ATTEMPTS = 10;
constexpr auto GRAB_RETRY_DELAY = std::chrono::milliseconds(20);

double side(double value) { return std::isnan(value) ? 1 : std::clamp(value, 1.0, MAX_SIDE); }

double coordinate(double value) {
  return std::isnan(value) ? 0 : std::clamp(value, -MAX_COORDINATE, MAX_COORDINATE);
}

Rect sanitized(const Rect& frame) {
  return {{coordinate(frame.origin.x), coordinate(frame.origin.y)},
          {side(frame.size.width), side(frame.size.height)}};
}

// A rectangle in the root window's pixels, origin at its top-left.
struct Pixels {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Pixels&, const Pixels&) = default;
};

struct CairoSurfaceDestroy {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDestroy>;

struct CairoDestroy {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDestroy>;

enum class NoticeKind { screens, wake, mouseDown };

// A left or right mouse down anywhere, where the pointer was then (root
// pixels) and the root's child under it.
struct RawPress {
  int x = 0;
  int y = 0;
  Window child = 0;
};

// The atoms the windows set, asked for once.
struct Atoms {
  Atom utf8 = 0;
  Atom name = 0;
  Atom type = 0;
  Atom notification = 0;
  Atom pid = 0;
  Atom opacity = 0;
  Atom label = 0;
  Atom role = 0;
};

// What the watching thread read in one go, handled on the main loop in order.
struct Batch {
  std::vector<XEvent> events;
  std::vector<RawPress> presses;
  bool screensChanged = false;
  bool woke = false;
  bool serverGone = false;
};

class X11OverlayWindow;

Point at(int x, int y) { return {static_cast<double>(x), static_cast<double>(y)}; }

}  // namespace

class X11OverlayConnection : public std::enable_shared_from_this<X11OverlayConnection> {
 public:
  X11OverlayConnection(RunLoop& loop, Display* display, std::string systemBus)
      : loop_(loop), display_(display), systemBus_(std::move(systemBus)) {}
  ~X11OverlayConnection();

  X11OverlayConnection(const X11OverlayConnection&) = delete;
  X11OverlayConnection& operator=(const X11OverlayConnection&) = delete;

  // Reads what the windows share and starts the watching thread.
  bool start(std::string& error);

  Display* display() const { return display_; }
  Window root() const { return root_; }
  Visual* visual() const { return visual_; }
  int depth() const { return depth_; }
  Colormap colormap() const { return colormap_; }
  // Whether the windows have an alpha channel of their own; else their alpha
  // is a request to the compositing manager.
  bool translucent() const { return translucent_; }
  bool canIgnorePointer() const { return shapeInput_; }
  const Atoms& atoms() const { return atoms_; }
  // False once the server has gone.
  bool usable();
  // Sends what is buffered; events Xlib read meanwhile are the watcher's to
  // deliver.
  void flush();

  // Pixels of a frame in bottom-left points, and the part of them on the root.
  Pixels pixelsOf(const Rect& frame) const;
  Pixels onRoot(const Pixels& pixels) const;

  CairoRenderer& renderer() { return renderer_; }
  PangoTextMeasurer& text() { return text_; }

  void add(Window window, const std::shared_ptr<X11OverlayWindow>& overlay);
  void remove(Window window) { windows_.erase(window); }

  // Grabs the keyboard for `window`, which takes it from another of ours;
  // false when the server refuses.
  bool grabKeyboard(Window window);
  // Nothing unless `window` holds the keyboard.
  void ungrabKeyboard(Window window);
  // 0 when none of ours holds the keyboard.
  Window keyboardHolder() const { return keyboardHolder_; }
  std::uint64_t nextRaise() { return ++raises_; }
  // The shown windows above the others, by level, then the latest raised first.
  void restack();

  Windowing::ObserverToken addObserver(NoticeKind kind, Windowing::Notice notice);
  Windowing::ObserverToken addMouseDownMonitor(Windowing::MouseDownHandler handler);
  void removeObserver(Windowing::ObserverToken token) { notices_->remove(token); }

 private:
  void watch();
  void readRawPress(XEvent& event, Batch& batch);
  void handle(Batch& batch);
  void key(const XKeyEvent& event);
  void serverGone();

  RunLoop& loop_;
  Display* display_;
  const std::string systemBus_;
  Window root_ = 0;
  int rootWidth_ = 0;
  int rootHeight_ = 0;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  Colormap colormap_ = 0;
  bool ownColormap_ = false;
  bool translucent_ = false;
  bool shapeInput_ = false;
  int randrEvents_ = -1;
  // The input extension's major opcode, when it sends raw events.
  int inputOpcode_ = -1;
  bool gone_ = false;
  Window keyboardHolder_ = 0;
  // The request that made the grab: what the server says of the grab's end
  // before it is of an earlier grab.
  unsigned long grabSerial_ = 0;
  X11ModifierRoles modifierRoles_;
  std::bitset<256> modifierKeys_;
  // The keys down, as the key events of a grab tell; a press of a key already
  // down is its auto-repeat.
  std::bitset<256> keysDown_;
  Atoms atoms_;

  PangoTextMeasurer text_;
  CairoRenderer renderer_{text_};

  std::unordered_map<Window, std::weak_ptr<X11OverlayWindow>> windows_;
  std::uint64_t raises_ = 0;
  std::shared_ptr<NoticeHandlers<NoticeKind, Point>> notices_ =
      NoticeHandlers<NoticeKind, Point>::make();

  std::thread watcher_;
  int wakeFd_ = -1;
  std::atomic<bool> stopping_{false};
};

namespace {

class X11OverlayWindow : public OverlayWindow {
 public:
  X11OverlayWindow(std::shared_ptr<X11OverlayConnection> connection, const WindowOptions& options,
                   Windowing::PointerHandler handler);
  ~X11OverlayWindow() override;

  X11OverlayWindow(const X11OverlayWindow&) = delete;
  X11OverlayWindow& operator=(const X11OverlayWindow&) = delete;

  void setFrame(Rect frame) override;
  Rect frame() const override { return frame_; }
  void setAlpha(double alpha) override;
  double alpha() const override { return alpha_; }
  void orderFront() override;
  void orderOut() override;
  bool isVisible() const override { return visible_; }
  void setContent(DisplayList content) override;
  void setIgnoresPointer(bool ignores) override;
  void setAccessibility(const std::string& label, const std::string& role) override;
  bool takeKeyboard(KeyHandler handler) override;
  void releaseKeyboard() override;
  bool holdsKeyboard() const override {
    return window_ && connection_->keyboardHolder() == window_;
  }

  Window id() const { return window_; }
  WindowLevel level() const { return level_; }
  std::uint64_t raisedAt() const { return raisedAt_; }
  // Called by the connection.
  void pointer(const XEvent& event);
  void key(const KeyEvent& event);
  bool takesPointer() const { return visible_ && !ignoresPointer_; }
  void draw();
  void place();
  void lost() {
    visible_ = false;
    pointerInside_ = false;
    keys_ = nullptr;
  }

 private:
  void applyInputShape();
  void setText(Atom property, const std::string& text);
  // The part of the window on the root, in the window's pixels.
  Pixels visibleArea() const;

  std::shared_ptr<X11OverlayConnection> connection_;
  Window window_ = 0;
  GC gc_ = nullptr;
  // The content painted at full opacity, for the part of the window on the
  // root (`paintedArea_`, in the window's pixels); kept while neither
  // changes, so that a move paints nothing and a fade only blends it again.
  SurfacePtr painted_;
  Pixels paintedArea_{};
  // What is put in the window at a lower opacity.
  SurfacePtr faded_;
  Pixels pixels_{};
  Rect frame_{};
  double alpha_ = 0;
  bool visible_ = false;
  bool ignoresPointer_ = false;
  bool pointerInside_ = false;
  std::uint64_t raisedAt_ = 0;
  WindowLevel level_;
  DisplayList content_;
  Windowing::PointerHandler handler_;
  KeyHandler keys_;
};

X11OverlayWindow::X11OverlayWindow(std::shared_ptr<X11OverlayConnection> connection,
                                   const WindowOptions& options, Windowing::PointerHandler handler)
    : connection_(std::move(connection)),
      ignoresPointer_(options.ignoresPointer),
      level_(options.level),
      handler_(std::move(handler)) {
  frame_ = sanitized(options.frame);
  if (!connection_->usable()) return;
  Display* display = connection_->display();
  pixels_ = connection_->pixelsOf(frame_);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.colormap = connection_->colormap();
  attributes.border_pixel = 0;
  attributes.background_pixel = 0;
  // Focus changes tell of a keyboard grab that ended without us.
  attributes.event_mask = ExposureMask | EnterWindowMask | LeaveWindowMask | PointerMotionMask |
                          ButtonPressMask | ButtonReleaseMask | FocusChangeMask;
  window_ = XCreateWindow(
      display, connection_->root(), pixels_.x, pixels_.y, static_cast<unsigned>(pixels_.width),
      static_cast<unsigned>(pixels_.height), 0, connection_->depth(), InputOutput,
      connection_->visual(),
      CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel | CWEventMask, &attributes);

  // Never offered the keyboard, by a window manager that looks at it anyway.
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = False;
  XSetWMHints(display, window_, &hints);
  const Atoms& atoms = connection_->atoms();
  XStoreName(display, window_, options.name.c_str());
  setText(atoms.name, options.name);
  // What a compositing manager reads to treat the window as a notice that
  // stays above, without a frame and without focus.
  Atom type = atoms.notification;
  XChangeProperty(display, window_, atoms.type, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&type), 1);
  long pid = ::getpid();
  XChangeProperty(display, window_, atoms.pid, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&pid), 1);
  if (ignoresPointer_) applyInputShape();
  gc_ = XCreateGC(display, window_, 0, nullptr);
  setAlpha(0);
  connection_->flush();
}

X11OverlayWindow::~X11OverlayWindow() {
  if (!window_) return;
  connection_->remove(window_);
  if (!connection_->usable()) return;
  connection_->ungrabKeyboard(window_);
  XFreeGC(connection_->display(), gc_);
  XDestroyWindow(connection_->display(), window_);
  connection_->flush();
}

void X11OverlayWindow::setText(Atom property, const std::string& text) {
  XChangeProperty(connection_->display(), window_, property, connection_->atoms().utf8, 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<int>(text.size()));
}

void X11OverlayWindow::setFrame(Rect frame) {
  frame_ = sanitized(frame);
  place();
}

void X11OverlayWindow::place() {
  if (!window_ || !connection_->usable()) return;
  const Pixels pixels = connection_->pixelsOf(frame_);
  if (pixels == pixels_) return;
  const bool resized = pixels.width != pixels_.width || pixels.height != pixels_.height;
  pixels_ = pixels;
  XMoveResizeWindow(connection_->display(), window_, pixels.x, pixels.y,
                    static_cast<unsigned>(pixels.width), static_cast<unsigned>(pixels.height));
  if (resized) painted_.reset();
  // Only the part on the root is painted, and a compositing manager tells of
  // no other part coming into view.
  if (!painted_ || visibleArea() != paintedArea_) draw();
  connection_->flush();
}

void X11OverlayWindow::setAlpha(double alpha) {
  alpha_ = std::isnan(alpha) ? 0 : std::clamp(alpha, 0.0, 1.0);
  if (!window_ || !connection_->usable()) return;
  if (!connection_->translucent()) {
    // Without an alpha channel the compositing manager fades the window.
    unsigned long opacity = std::lround(alpha_ * 0xffffffffu);
    XChangeProperty(connection_->display(), window_, connection_->atoms().opacity, XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&opacity), 1);
  }
  draw();
  connection_->flush();
}

void X11OverlayWindow::orderFront() {
  if (!window_ || !connection_->usable()) return;
  raisedAt_ = connection_->nextRaise();
  if (!visible_) {
    visible_ = true;
    XMapWindow(connection_->display(), window_);
  }
  connection_->restack();
  draw();
  connection_->flush();
}

void X11OverlayWindow::orderOut() {
  if (!visible_) return;
  releaseKeyboard();
  visible_ = false;
  pointerInside_ = false;
  if (!connection_->usable()) return;
  XUnmapWindow(connection_->display(), window_);
  connection_->flush();
}

void X11OverlayWindow::setContent(DisplayList content) {
  content_ = std::move(content);
  painted_.reset();
  if (!window_ || !connection_->usable()) return;
  draw();
  connection_->flush();
}

void X11OverlayWindow::setIgnoresPointer(bool ignores) {
  if (ignores == ignoresPointer_) return;
  ignoresPointer_ = ignores;
  if (ignores) pointerInside_ = false;
  if (!window_ || !connection_->usable()) return;
  applyInputShape();
  connection_->flush();
}

// An empty input region lets every click through to the window below; none
// at all is the whole window again.
void X11OverlayWindow::applyInputShape() {
  if (!connection_->canIgnorePointer()) return;
  if (ignoresPointer_) {
    XShapeCombineRectangles(connection_->display(), window_, ShapeInput, 0, 0, nullptr, 0, ShapeSet,
                            Unsorted);
  } else {
    XShapeCombineMask(connection_->display(), window_, ShapeInput, 0, 0, None, ShapeSet);
  }
}

// Assistive technologies on X11 know only the windows of toolkits they are
// told about; the label and role are kept where any tool inspecting the
// window finds them.
void X11OverlayWindow::setAccessibility(const std::string& label, const std::string& role) {
  if (!window_ || !connection_->usable()) return;
  setText(connection_->atoms().label, label);
  setText(connection_->atoms().role, role);
  connection_->flush();
}

// The grab leaves the input focus alone, so the application that had the
// keyboard has it again the moment the grab ends.
bool X11OverlayWindow::takeKeyboard(KeyHandler handler) {
  if (!window_ || !visible_ || !connection_->usable()) return false;
  if (!connection_->grabKeyboard(window_)) return false;
  keys_ = std::move(handler);
  return true;
}

void X11OverlayWindow::releaseKeyboard() {
  keys_ = nullptr;
  if (window_ && connection_->usable()) connection_->ungrabKeyboard(window_);
}

void X11OverlayWindow::key(const KeyEvent& event) {
  if (!keys_ || !holdsKeyboard()) return;
  // The handler may give the keyboard back or let the window go.
  const auto handler = keys_;
  handler(event);
}

void X11OverlayWindow::pointer(const XEvent& event) {
  if (!visible_ || ignoresPointer_ || !handler_) return;
  PointerEvent out;
  switch (event.type) {
    case EnterNotify:
      if (pointerInside_) return;
      pointerInside_ = true;
      out = {PointerEvent::Type::entered, at(event.xcrossing.x, event.xcrossing.y)};
      break;
    case LeaveNotify:
      if (!pointerInside_) return;
      pointerInside_ = false;
      out = {PointerEvent::Type::exited, at(event.xcrossing.x, event.xcrossing.y)};
      break;
    case MotionNotify:
      out = {PointerEvent::Type::moved, at(event.xmotion.x, event.xmotion.y)};
      break;
    case ButtonPress:
    case ButtonRelease:
      if (event.xbutton.button != Button1) return;
      out = {event.type == ButtonPress ? PointerEvent::Type::pressed : PointerEvent::Type::released,
             at(event.xbutton.x, event.xbutton.y)};
      break;
    default:
      return;
  }
  // The handler may let the window go: it is called from a copy.
  const auto handler = handler_;
  handler(out);
}

// Painted in memory and put in the window in one request, so that a
// compositing manager never shows a frame half drawn. Cairo's own X surfaces
// are not used: once the server has gone, they wait for it for ever.
Pixels X11OverlayWindow::visibleArea() const {
  const Pixels onRoot = connection_->onRoot(pixels_);
  return {onRoot.x - pixels_.x, onRoot.y - pixels_.y, onRoot.width, onRoot.height};
}

void X11OverlayWindow::draw() {
  if (!visible_ || !gc_) return;
  const Pixels area = visibleArea();
  if (area.width <= 0 || area.height <= 0) return;
  if (!painted_ || area != paintedArea_) {
    painted_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, area.width, area.height));
    faded_.reset();
    paintedArea_ = area;
    const CairoPtr cr(cairo_create(painted_.get()));
    cairo_translate(cr.get(), -area.x, -area.y);
    connection_->renderer().draw(cr.get(), content_);
  }
  cairo_surface_t* shown = painted_.get();
  if (connection_->translucent() && alpha_ < 1) {
    if (!faded_) {
      faded_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, area.width, area.height));
    }
    const CairoPtr cr(cairo_create(faded_.get()));
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
    cairo_set_source_surface(cr.get(), painted_.get(), 0, 0);
    cairo_paint_with_alpha(cr.get(), alpha_);
    shown = faded_.get();
  }
  cairo_surface_flush(shown);
  if (cairo_surface_status(shown) != CAIRO_STATUS_SUCCESS) return;
  // Premultiplied ARGB in native words is what a 32-bit visual holds; a
  // 24-bit one ignores the alpha byte.
  XImage* image = XCreateImage(
      connection_->display(), connection_->visual(), static_cast<unsigned>(connection_->depth()),
      ZPixmap, 0, reinterpret_cast<char*>(cairo_image_surface_get_data(shown)),
      static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), 32,
      cairo_image_surface_get_stride(shown));
  if (!image) return;
  image->byte_order = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
  XPutImage(connection_->display(), window_, gc_, image, 0, 0, area.x, area.y,
            static_cast<unsigned>(area.width), static_cast<unsigned>(area.height));
  // The pixels are cairo's.
  image->data = nullptr;
  XDestroyImage(image);
}

}  // namespace

// --- The connection ------------------------------------------------------------

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
                         "_NOLARI_ACCESSIBLE_ROLE"};
  Atom atoms[std::size(names)] = {};
  XInternAtoms(display_, const_cast<char**>(names), static_cast<int>(std::size(names)), False,
               atoms);
  atoms_ = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7]};

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
  shapeInput_ = XShapeQueryExtension(display_, &shapeEvents, &shapeErrors) &&
                XShapeQueryVersion(display_, &shapeMajor, &shapeMinor) &&
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
        batch.serverGone) {
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
  // A press that one of our windows takes is that window's.
  for (const RawPress& press : batch.presses) {
    auto found = windows_.find(press.child);
    auto window = found == windows_.end() ? nullptr : found->second.lock();
    if (window && window->takesPointer()) continue;
    notices_->deliver(NoticeKind::mouseDown, at(press.x, rootHeight_ - press.y));
  }
}

// --- The windowing -------------------------------------------------------------

std::unique_ptr<X11Windowing> X11Windowing::open(RunLoop& mainLoop,
                                                 std::unique_ptr<UserDefaults> userDefaults,
                                                 const std::string& systemBus, std::string& error) {
  Display* display = X11Desktop::openDisplay();
  if (!display) {
    const char* name = std::getenv("DISPLAY");
    if (name && *name) {
      error = "cannot open the X display ";
      error += name;
      error += " for the agent's windows";
    } else {
      error = "the agent's windows need an X display, and DISPLAY is not set";
    }
    return nullptr;
  }
  auto connection = std::make_shared<X11OverlayConnection>(mainLoop, display, systemBus);
  if (!connection->start(error)) return nullptr;
  return std::unique_ptr<X11Windowing>(
      new X11Windowing(std::move(connection), std::move(userDefaults)));
}

X11Windowing::X11Windowing(std::shared_ptr<X11OverlayConnection> connection,
                           std::unique_ptr<UserDefaults> userDefaults)
    : connection_(std::move(connection)), userDefaults_(std::move(userDefaults)) {}

X11Windowing::~X11Windowing() = default;

std::shared_ptr<OverlayWindow> X11Windowing::createWindow(const WindowOptions& options,
                                                          PointerHandler handler) {
  auto window = std::make_shared<X11OverlayWindow>(connection_, options, std::move(handler));
  connection_->add(window->id(), window);
  return window;
}

TextMeasurer& X11Windowing::textMeasurer() { return connection_->text(); }

Windowing::ObserverToken X11Windowing::addScreenChangeObserver(Notice notice) {
  return connection_->addObserver(NoticeKind::screens, std::move(notice));
}

Windowing::ObserverToken X11Windowing::addWakeObserver(Notice notice) {
  return connection_->addObserver(NoticeKind::wake, std::move(notice));
}

Windowing::ObserverToken X11Windowing::addMouseDownMonitor(MouseDownHandler handler) {
  return connection_->addMouseDownMonitor(std::move(handler));
}

void X11Windowing::removeObserver(ObserverToken token) { connection_->removeObserver(token); }

DisplayOptions X11Windowing::displayOptions() { return readGSettingsDisplayOptions(); }

UserDefaults& X11Windowing::userDefaults() { return *userDefaults_; }

}  // namespace nolari::platform
