#pragma once

#include <cairo.h>

#include <string>

#include "platform/DisplayList.h"
#include "platform/cairo/TextMeasure.h"

// Paints display lists with cairo, text through the measurer's pango layouts
// and symbols as vector strokes, so that no symbol depends on a font having it.

namespace nolari::platform {

class CairoRenderer {
 public:
  explicit CairoRenderer(PangoTextMeasurer& text) : text_(text) {}

  // Paints `list` over what `cr` holds, in its current user space (one unit
  // of it one point of the list). Takes only scales and translations in that
  // space into account for shadows.
  void draw(cairo_t* cr, const DisplayList& list);
  // Writes `list` painted on a transparent `size` window, `scale` pixels to
  // the point, as an ARGB PNG at `path`. False, with the reason in `error`,
  // for an empty or oversized image or when the file cannot be written.
  bool renderToPng(const DisplayList& list, Size size, double scale, const std::string& path,
                   std::string& error);

 private:
  void drawItem(cairo_t* cr, const Item& item);
  void drawShape(cairo_t* cr, const Shape& shape);
  void drawText(cairo_t* cr, const TextRun& run);

  PangoTextMeasurer& text_;
};

// Adds `shape` to the current path as one closed sub-path.
void addRoundedRect(cairo_t* cr, const RoundedRect& shape);

// Strokes `symbol` in its colour, centred in its box.
void drawSymbol(cairo_t* cr, const Symbol& symbol);

}  // namespace nolari::platform
