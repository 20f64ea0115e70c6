#pragma once

#include <cstddef>
#include <mutex>
#include <string_view>
#include <vector>

// Typing into the window that has the keyboard focus, as the keyboard would,
// through the X server's XTest extension, on a connection of its own.
//
// A character the layout has is typed on its key, with Shift for the second
// level. One it lacks (accented letters of other layouts, typographic quotes,
// emoji) is bound for the time being to a spare key code, one no key of the
// layout uses. Applications look a key code up in the key map when they
// handle the key, which may be long after it was sent; a binding undone at
// once would make them read nothing, so bindings stay until `restore`, which
// the caller calls once the application has shown the text.

struct _XDisplay;

namespace nolari::platform {

class X11Keyboard {
 public:
  X11Keyboard() = default;
  // Gives back the spare keys still bound.
  ~X11Keyboard();

  X11Keyboard(const X11Keyboard&) = delete;
  X11Keyboard& operator=(const X11Keyboard&) = delete;

  // Control+A, the toolkits' select-all; false without a display or XTest.
  bool selectAll();
  // BackSpace, which deletes the selection.
  bool erase();
  // Types the longest beginning of `text` (Unicode code points) whose
  // characters fit on the keyboard at once, a line feed as Return; how many
  // code points were typed, 0 when none could be.
  std::size_t type(std::u32string_view text);
  // Unbinds the spare keys `type` bound.
  void restore();

 private:
  struct Layout;
  bool connect();
  void restoreLocked();

  std::mutex mutex_;
  _XDisplay* display_ = nullptr;
  bool tried_ = false;
  std::vector<unsigned int> bound_;
};

}  // namespace nolari::platform
