#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"

// The X window system as the workspace and the accessibility backend see it:
// the active window and its process, top-level windows by process, the screens
// and the pointer. Every answer is read afresh from the server. Without a
// display every answer is empty; a display that goes away is reconnected.
// One connection, opened on first use from DISPLAY and shared by whoever was
// handed it; safe from any thread.

struct _XDisplay;

namespace nolari::platform {

// What the window manager and the toolkit say about one top-level window.
struct X11WindowFacts {
  std::int32_t pid = 0;
  std::string resName;        // WM_CLASS instance, the program's own name
  std::string resClass;       // WM_CLASS class, the application's display name
  std::string applicationId;  // _GTK_APPLICATION_ID, a reverse-domain identifier
};

class X11Desktop {
 public:
  X11Desktop() = default;
  ~X11Desktop();

  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  std::optional<X11WindowFacts> activeWindow();
  // The process owning the active window; nothing when no window is active.
  std::optional<std::int32_t> activeProcess();
  // The first top-level window the window manager lists for the process.
  std::optional<X11WindowFacts> windowOfProcess(std::int32_t pid);
  // The root window's size, and the window manager's work area within it,
  // both in top-left coordinates.
  std::optional<Rect> screenFrame();
  std::optional<Rect> workArea();
  // XRandR's monitors in top-left coordinates, the primary one first; empty
  // where the server has no monitors to tell.
  std::vector<Rect> monitors();
  // The pointer in top-left coordinates.
  std::optional<Point> pointer();
  // The process owning the topmost window that takes the pointer at a point
  // (top-left coordinates): an unmanaged window's, or the client's inside a
  // window manager's frame. Nothing over the bare root or a window that
  // names no process.
  std::optional<std::int32_t> processAt(int x, int y);
  // Asks the window manager to activate the process's topmost window and
  // waits, up to `timeout`, until it is the active window; false when the
  // process has no window or the window manager did not make it active.
  bool activate(std::int32_t pid, std::chrono::milliseconds timeout);

  // A connection of its own for a watching thread; nullptr without a display.
  static _XDisplay* openDisplay();
  static void closeDisplay(_XDisplay* display);
  static std::optional<X11WindowFacts> activeWindowOn(_XDisplay* display);
  // The atom of _NET_ACTIVE_WINDOW on `display`.
  static unsigned long activeWindowAtom(_XDisplay* display);
  static bool isBroken(_XDisplay* display);
  // Protocol errors on `display` are logged, as coming from `source`, rather
  // than ignored; until the display is closed.
  static void logErrorsOf(_XDisplay* display, const std::string& source);

 private:
  _XDisplay* displayLocked();
  // Asks on the shared connection; a request that finds the server gone is
  // asked once more on a new connection, as the server may have been replaced.
  template <class Request>
  auto ask(Request request) -> decltype(request(nullptr)) {
    std::lock_guard lock(mutex_);
    _XDisplay* display = displayLocked();
    if (!display) return std::nullopt;
    auto answer = request(display);
    if (!isBroken(display)) return answer;
    display = displayLocked();
    if (!display) return std::nullopt;
    answer = request(display);
    if (isBroken(display)) return std::nullopt;
    return answer;
  }

  std::mutex mutex_;
  _XDisplay* display_ = nullptr;
  bool tried_ = false;
  std::chrono::steady_clock::time_point triedAt_;
};

}  // namespace nolari::platform
