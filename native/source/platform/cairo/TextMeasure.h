#pragma once

#include <pango/pangocairo.h>

#include <memory>

#include "platform/TextMeasure.h"

// Text laid out by pango with fonts fontconfig finds. The renderer draws the
// layouts made here, so what is measured is what is drawn. Glyph positions and
// font metrics are neither hinted nor rounded to pixels, which keeps a run's
// size the same at every scale the renderer draws at.

namespace nolari::platform {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

class PangoTextMeasurer : public TextMeasurer {
 public:
  PangoTextMeasurer();

  Size measure(const TextRun& run, double maxWidth) override;
  // `run` laid out within `width` points, with its first line's top-left at
  // the layout's origin.
  LayoutPtr layout(const TextRun& run, double width);

 private:
  // A font map of its own rather than the thread's default, so that a
  // measurer can be made and used on any one thread.
  std::unique_ptr<PangoFontMap, GObjectUnref> fontMap_;
  std::unique_ptr<PangoContext, GObjectUnref> context_;
};

}  // namespace nolari::platform
