#include "platform/cairo/TextMeasure.h"

#include <algorithm>
#include <string>

namespace nolari::platform {

namespace {

PangoWeight pangoWeight(FontWeight weight) {
  switch (weight) {
    case FontWeight::regular:
      return PANGO_WEIGHT_NORMAL;
    case FontWeight::medium:
      return PANGO_WEIGHT_MEDIUM;
    case FontWeight::semibold:
      return PANGO_WEIGHT_SEMIBOLD;
    case FontWeight::bold:
      return PANGO_WEIGHT_BOLD;
  }
  return PANGO_WEIGHT_NORMAL;
}

// Valid UTF-8 (pango refuses a text that is not) with line breaks as spaces,
// since a run is one paragraph.
std::string paragraphText(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string result(valid);
  g_free(valid);
  std::replace_if(
      result.begin(), result.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return result;
}

}  // namespace

PangoTextMeasurer::PangoTextMeasurer()
    : fontMap_(pango_cairo_font_map_new()),
      context_(pango_font_map_create_context(fontMap_.get())) {
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  // Grey antialiasing: subpixel colours would fringe on a transparent window.
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(context_.get(), options);
  cairo_font_options_destroy(options);
  pango_context_set_round_glyph_positions(context_.get(), FALSE);
}

LayoutPtr PangoTextMeasurer::layout(const TextRun& run, double width) {
  LayoutPtr layout(pango_layout_new(context_.get()));
  const std::string text = paragraphText(run.text);
  pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));

  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, run.fontFamily.c_str());
  pango_font_description_set_weight(font, pangoWeight(run.weight));
  // Absolute: one point of the list is one unit, whatever the screen's DPI.
  pango_font_description_set_absolute_size(font, std::max(run.size, 0.0) * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font);
  pango_font_description_free(font);

  PangoAttrList* attributes = pango_attr_list_new();
  if (run.letterSpacing != 0) {
    pango_attr_list_insert(
        attributes, pango_attr_letter_spacing_new(pango_units_from_double(run.letterSpacing)));
  }
  if (run.underline) {
    pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  }
  pango_layout_set_attributes(layout.get(), attributes);
  pango_attr_list_unref(attributes);

  pango_layout_set_width(layout.get(), pango_units_from_double(std::max(width, 0.0)));
  pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
  pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
  // A negative height is a number of lines.
  pango_layout_set_height(layout.get(), -std::max(run.maxLines, 1));
  return layout;
}

Size PangoTextMeasurer::measure(const TextRun& run, double maxWidth) {
  const LayoutPtr laidOut = layout(run, maxWidth);
  PangoRectangle logical;
  pango_layout_get_extents(laidOut.get(), nullptr, &logical);
  return {pango_units_to_double(logical.width), pango_units_to_double(logical.height)};
}

}  // namespace nolari::platform
