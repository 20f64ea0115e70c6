#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Geometry.h"

// What an overlay window shows, as plain values: program code builds a list,
// a drawing backend paints it, and the same list answers which action a click
// lands on. Items are painted in order, so a later item is in front.
//
// Coordinates are points in the window, with the origin at its top-left corner
// and y growing downwards, whatever the platform's screen convention; the
// agent converts where it places the window. A backend maps one point to
// `scale` pixels.

namespace nolari::platform {

// Components from 0 to 1, not premultiplied.
struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  friend bool operator==(const Color&, const Color&) = default;
};

enum class FontWeight { regular, medium, semibold, bold };

// The design's family first; fontconfig takes the next one installed.
inline constexpr std::string_view defaultFontFamily = "Fira Sans,Lato,sans-serif";

struct RoundedRect {
  Rect rect{};
  // Clamped to half the shorter side, so a square with half its side as the
  // radius is a circle.
  double cornerRadius = 0;
  friend bool operator==(const RoundedRect&, const RoundedRect&) = default;
};

// Drawn entirely inside the shape's edge, so a hairline border never grows the
// shape or spills past a clip of the same shape.
struct Stroke {
  double width = 1;
  Color color{};
};

struct Shadow {
  double blurRadius = 0;
  Point offset{};
  Color color{};
};

// A rounded rectangle with a fill, an inner stroke or both; the shadow is
// painted first, behind the fill.
struct Shape {
  RoundedRect shape{};
  std::optional<Color> fill{};
  std::optional<Stroke> stroke{};
  std::optional<Shadow> shadow{};
};

// Text laid out from `origin` (the top-left of its first line) within `width`.
// Lines wrap at word boundaries up to `maxLines`; text beyond them is cut at
// the tail with "…". The run is one paragraph: line breaks in `text` are laid
// out as spaces.
struct TextRun {
  std::string text{};  // UTF-8
  std::string fontFamily{defaultFontFamily};
  double size = 13;  // points
  FontWeight weight = FontWeight::regular;
  Color color{};
  double letterSpacing = 0;  // points added after each character
  bool underline = false;
  Point origin{};
  double width = 0;
  int maxLines = 1;
};

enum class SymbolName {
  checkmark,
  xmark,
  arrowCounterclockwise,
  docOnDoc,
  questionmarkCircle,
  gearshape,
  returnKey,
};

// The symbol a name such as "doc.on.doc" stands for; nothing for a name
// outside the set.
std::optional<SymbolName> symbolNamed(std::string_view name);

// A symbol drawn `size` points tall, centred in `box`; a heavier weight gives
// thicker strokes.
struct Symbol {
  SymbolName name = SymbolName::checkmark;
  double size = 13;
  FontWeight weight = FontWeight::regular;
  Color color{};
  Rect box{};
};

// Where a click means `action`. Invisible; hit regions of a group are scaled
// and clipped with it.
struct HitRegion {
  RoundedRect shape{};
  std::string action{};
};

struct Item;

// Children painted as one layer: clipped to `clip` and scaled by `scale`
// about `anchor` (the clip is in the children's coordinates and scales with
// them), then blended with the item's opacity, so that overlapping children do
// not show through one another as the group fades.
struct Group {
  double scale = 1;
  Point anchor{};
  std::optional<RoundedRect> clip{};
  std::vector<Item> children;
};

struct Item {
  std::variant<Shape, TextRun, Symbol, Group, HitRegion> content;
  double opacity = 1;
};

struct DisplayList {
  std::vector<Item> items{};
};

// The action of the front-most hit region under `point`, if any. A region
// under a group with no opacity left is not hit, nor one outside its group's
// clip.
std::optional<std::string> hitTest(const DisplayList& list, Point point);

// Whether `point` lies inside the rounded rectangle, corners cut.
bool contains(const RoundedRect& shape, Point point);

}  // namespace nolari::platform
