#pragma once

#include <cmath>

// Plain geometric values shared by the seam and the programs. Which screen
// coordinate system a value is in (top-left "carbon" or bottom-left "cocoa") is
// told by the operation that produces or takes it, never by the type.

namespace nolari::platform {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;
  friend bool operator==(const Rect&, const Rect&) = default;

  double minX() const { return origin.x; }
  double minY() const { return origin.y; }
  double maxX() const { return origin.x + size.width; }
  double maxY() const { return origin.y + size.height; }
  // All four numbers are finite: frames that come from other processes or
  // the parent may hold infinities or NaNs.
  bool isFinite() const {
    return std::isfinite(origin.x) && std::isfinite(origin.y) && std::isfinite(size.width) &&
           std::isfinite(size.height);
  }
  bool contains(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
};

// A range of characters in a text, as the accessibility interface packs it.
struct TextRange {
  long location = 0;
  long length = 0;
  friend bool operator==(const TextRange&, const TextRange&) = default;
};

}  // namespace nolari::platform
