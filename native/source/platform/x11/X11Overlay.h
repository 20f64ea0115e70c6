#pragma once

// What the agent's windows on X11 share with the connection they are drawn
// through: the connection, with its watching thread, and the windows it
// delivers events to.

#include <X11/Xlib.h>
#include <cairo.h>

#include <atomic>
#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/Notices.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/cairo/Render.h"
#include "platform/cairo/TextMeasure.h"
#include "platform/x11/EventTaps.h"

namespace nolari::platform {

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

enum class NoticeKind { screens, wake, mouseDown, translucency };

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
  // The selection a compositing manager of the screen owns.
  Atom compositor = 0;
};

// What the watching thread read in one go, handled on the main loop in order.
struct Batch {
  std::vector<XEvent> events;
  std::vector<RawPress> presses;
  bool screensChanged = false;
  bool woke = false;
  bool serverGone = false;
  // The compositing manager's selection changed hands: whether it has an owner now.
  std::optional<bool> compositing;
};

class X11OverlayWindow;

inline Point at(int x, int y) { return {static_cast<double>(x), static_cast<double>(y)}; }

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
  bool canShape() const { return shapes_; }
  // Whether translucent pixels blend with what lies below: the windows have
  // an alpha channel and a compositing manager owns the screen's selection.
  // Followed through the fixes extension's selection events; where the
  // server has none, asked afresh.
  bool blendsTranslucency();
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
  bool shapes_ = false;
  int randrEvents_ = -1;
  int fixesEvents_ = -1;
  bool compositing_ = false;
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
  void setShape(std::vector<Rect> parts) override;
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
  void applyShape();
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
  std::vector<Rect> shape_;
  Windowing::PointerHandler handler_;
  KeyHandler keys_;
};

}  // namespace nolari::platform
