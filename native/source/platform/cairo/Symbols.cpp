#include <cmath>
#include <numbers>

#include "platform/cairo/Render.h"

// Each symbol is drawn in a unit square centred on the origin, y down, and
// scaled to the symbol's size; strokes are round-capped like a symbol font's.

namespace nolari::platform {

namespace {

constexpr double pi = std::numbers::pi;

// Stroke widths in units of the symbol's size, heavier with the weight.
double lineWidth(FontWeight weight) {
  switch (weight) {
    case FontWeight::regular:
      return 0.085;
    case FontWeight::medium:
      return 0.1;
    case FontWeight::semibold:
      return 0.115;
    case FontWeight::bold:
      return 0.13;
  }
  return 0.085;
}

void checkmark(cairo_t* cr) {
  cairo_move_to(cr, -0.36, 0.02);
  cairo_line_to(cr, -0.12, 0.28);
  cairo_line_to(cr, 0.38, -0.3);
  cairo_stroke(cr);
}

void xmark(cairo_t* cr) {
  cairo_move_to(cr, -0.3, -0.3);
  cairo_line_to(cr, 0.3, 0.3);
  cairo_move_to(cr, 0.3, -0.3);
  cairo_line_to(cr, -0.3, 0.3);
  cairo_stroke(cr);
}

void arrowCounterclockwise(cairo_t* cr) {
  constexpr double r = 0.36;
  // From the top round through the right, open at the upper left; the head
  // at the top points the way the arrow turns.
  cairo_arc(cr, 0, 0, r, -pi / 2, 1.5 * pi - 0.9);
  cairo_stroke(cr);
  cairo_move_to(cr, 0.12, -r - 0.14);
  cairo_line_to(cr, -0.03, -r);
  cairo_line_to(cr, 0.12, -r + 0.14);
  cairo_stroke(cr);
}

void page(cairo_t* cr, double x, double y) { addRoundedRect(cr, {{{x, y}, {0.5, 0.62}}, 0.08}); }

void docOnDoc(cairo_t* cr, double width) {
  // The back page is hidden where the front one lies over it.
  cairo_save(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_rectangle(cr, -1, -1, 2, 2);
  addRoundedRect(cr, {{{-0.16 - width / 2, -0.22 - width / 2}, {0.5 + width, 0.62 + width}},
                      0.08 + width / 2});
  cairo_clip(cr);
  page(cr, -0.34, -0.42);
  cairo_stroke(cr);
  cairo_restore(cr);
  page(cr, -0.16, -0.22);
  cairo_stroke(cr);
}

void questionmarkCircle(cairo_t* cr, double width) {
  cairo_arc(cr, 0, 0, 0.44, 0, 2 * pi);
  cairo_stroke(cr);
  cairo_arc(cr, 0, -0.1, 0.13, pi, 2.5 * pi);
  cairo_line_to(cr, 0, 0.08);
  cairo_stroke(cr);
  cairo_arc(cr, 0, 0.22, width * 0.7, 0, 2 * pi);
  cairo_fill(cr);
}

void gearshape(cairo_t* cr) {
  constexpr int teeth = 8;
  constexpr double inner = 0.33;
  constexpr double outer = 0.45;
  constexpr double step = 2 * pi / teeth;
  for (int i = 0; i < teeth; ++i) {
    const double a = i * step;
    const double corners[4][2] = {{inner, a - 0.3 * step},
                                  {outer, a - 0.17 * step},
                                  {outer, a + 0.17 * step},
                                  {inner, a + 0.3 * step}};
    for (const auto& [radius, angle] : corners) {
      cairo_line_to(cr, radius * std::cos(angle), radius * std::sin(angle));
    }
  }
  cairo_close_path(cr);
  cairo_stroke(cr);
  cairo_arc(cr, 0, 0, 0.13, 0, 2 * pi);
  cairo_stroke(cr);
}

void returnArrow(cairo_t* cr) {
  cairo_move_to(cr, 0.34, -0.32);
  cairo_line_to(cr, 0.34, 0.08);
  cairo_line_to(cr, -0.34, 0.08);
  cairo_stroke(cr);
  cairo_move_to(cr, -0.18, -0.08);
  cairo_line_to(cr, -0.34, 0.08);
  cairo_line_to(cr, -0.18, 0.24);
  cairo_stroke(cr);
}

}  // namespace

void drawSymbol(cairo_t* cr, const Symbol& symbol) {
  if (!(symbol.size > 0)) return;
  const double width = lineWidth(symbol.weight);
  cairo_save(cr);
  cairo_translate(cr, symbol.box.origin.x + symbol.box.size.width / 2,
                  symbol.box.origin.y + symbol.box.size.height / 2);
  cairo_scale(cr, symbol.size, symbol.size);
  cairo_new_path(cr);
  cairo_set_source_rgba(cr, symbol.color.red, symbol.color.green, symbol.color.blue,
                        symbol.color.alpha);
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  switch (symbol.name) {
    case SymbolName::checkmark:
      checkmark(cr);
      break;
    case SymbolName::xmark:
      xmark(cr);
      break;
    case SymbolName::arrowCounterclockwise:
      arrowCounterclockwise(cr);
      break;
    case SymbolName::docOnDoc:
      docOnDoc(cr, width);
      break;
    case SymbolName::questionmarkCircle:
      questionmarkCircle(cr, width);
      break;
    case SymbolName::gearshape:
      gearshape(cr);
      break;
    case SymbolName::returnKey:
      returnArrow(cr);
      break;
  }
  cairo_restore(cr);
}

}  // namespace nolari::platform
