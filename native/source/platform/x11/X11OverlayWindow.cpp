// One of the agent's windows on X11: placed, painted, faded, raised and given
// the keyboard through the connection it was made on.

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "platform/x11/X11Overlay.h"

namespace nolari::platform {

namespace {

// A side the server can hold and the agent never needs more of; what is
// below one point, or not a number, becomes one point.
constexpr double MAX_SIDE = 16384;
// Positions stay well inside the protocol's 16-bit coordinates.
constexpr double MAX_COORDINATE = 16384;

double side(double value) { return std::isnan(value) ? 1 : std::clamp(value, 1.0, MAX_SIDE); }

double coordinate(double value) {
  return std::isnan(value) ? 0 : std::clamp(value, -MAX_COORDINATE, MAX_COORDINATE);
}

Rect sanitized(const Rect& frame) {
  return {{coordinate(frame.origin.x), coordinate(frame.origin.y)},
          {side(frame.size.width), side(frame.size.height)}};
}

}  // namespace

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

void X11OverlayWindow::setShape(std::vector<Rect> parts) {
  if (parts == shape_) return;
  shape_ = std::move(parts);
  if (!window_ || !connection_->usable()) return;
  applyShape();
  connection_->flush();
}

// The window's bounding region, one pixel to the point; none at all is the
// whole window.
void X11OverlayWindow::applyShape() {
  if (!connection_->canShape()) return;
  if (shape_.empty()) {
    XShapeCombineMask(connection_->display(), window_, ShapeBounding, 0, 0, None, ShapeSet);
    return;
  }
  std::vector<XRectangle> rectangles;
  for (const Rect& part : shape_) {
    const Rect clipped = sanitized(part);
    rectangles.push_back({static_cast<short>(std::lround(clipped.origin.x)),
                          static_cast<short>(std::lround(clipped.origin.y)),
                          static_cast<unsigned short>(std::lround(clipped.size.width)),
                          static_cast<unsigned short>(std::lround(clipped.size.height))});
  }
  XShapeCombineRectangles(connection_->display(), window_, ShapeBounding, 0, 0, rectangles.data(),
                          static_cast<int>(rectangles.size()), ShapeSet, Unsorted);
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

}  // namespace nolari::platform
