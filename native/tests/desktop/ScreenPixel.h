#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>

// What the screen shows at a root pixel, as the compositing manager painted
// it: red, green and blue, or -1s when it cannot be read.

namespace nolari::test {

using Rgb = std::array<int, 3>;

inline Rgb screenPixel(Display* display, int x, int y) {
  XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return {-1, -1, -1};
  const unsigned long value = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return {static_cast<int>((value >> 16) & 0xff), static_cast<int>((value >> 8) & 0xff),
          static_cast<int>(value & 0xff)};
}

}  // namespace nolari::test
