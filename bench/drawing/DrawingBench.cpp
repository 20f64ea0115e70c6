// Building and painting one frame of a dictation pill (a shadowed, bordered
// pill, three level bars, a status text, a symbol and their hit regions, about
// fifteen items) onto an ARGB surface at two pixels to the point, beside
// clearing and flatly filling the same surface in the same run. With a path argument, the
// last frame is also written there as a PNG to look at.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/DisplayList.h"
#include "platform/cairo/Render.h"
#include "platform/cairo/TextMeasure.h"

namespace {

using namespace nolari::platform;

constexpr Size windowSize{220, 44};
constexpr double scale = 2;
constexpr int frames = 2000;

DisplayList pill(int frame) {
  const Color white{1, 1, 1, 1};
  DisplayList list;
  Group body;
  body.scale = 1 + 0.02 * std::sin(frame * 0.1);
  body.anchor = {110, 22};
  body.children.push_back(
      {Shape{.shape = {{{6, 4}, {208, 34}}, 17},
             .fill = Color{0.08, 0.08, 0.09, 0.82},
             .stroke = Stroke{.width = 0.5, .color = {1, 1, 1, 0.18}},
             .shadow = Shadow{.blurRadius = 6, .offset = {0, 2}, .color = {0, 0, 0, 0.3}}}});
  body.children.push_back(
      {Shape{.shape = {{{12, 10}, {22, 22}}, 11}, .fill = Color{0.95, 0.3, 0.25, 1}}});
  for (int bar = 0; bar < 3; ++bar) {
    const double level = 6 + 10 * std::abs(std::sin(frame * 0.2 + bar));
    body.children.push_back(
        {Shape{.shape = {{{42 + bar * 6.0, 21 - level / 2}, {3, level}}, 1.5}, .fill = white}});
  }
  body.children.push_back({TextRun{.text = "Listening… say what to write",
                                   .size = 12,
                                   .weight = FontWeight::medium,
                                   .color = {1, 1, 1, 0.92},
                                   .letterSpacing = 0.1,
                                   .origin = {66, 13},
                                   .width = 112}});
  body.children.push_back({Symbol{.name = SymbolName::xmark,
                                  .size = 10,
                                  .weight = FontWeight::semibold,
                                  .color = {1, 1, 1, 0.7},
                                  .box = {{186, 11}, {20, 20}}}});
  body.children.push_back({HitRegion{{{{186, 11}, {20, 20}}, 10}, "cancel"}});
  body.children.push_back({HitRegion{{{{6, 4}, {208, 34}}, 17}, "open"}});
  list.items.push_back({std::move(body), 0.96});
  return list;
}

struct Figure {
  double p50, p99;  // microseconds per frame
};

template <typename Frame>
Figure measure(Frame&& frame) {
  std::vector<double> times;
  times.reserve(frames);
  for (int i = 0; i < frames; ++i) {
    const auto start = std::chrono::steady_clock::now();
    frame(i);
    times.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(windowSize.width * scale),
                                 static_cast<int>(windowSize.height * scale));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  PangoTextMeasurer text;
  CairoRenderer renderer(text);

  const auto clear = [&] {
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);
  };
  const auto frame = [&](int i) {
    clear();
    renderer.draw(cr, pill(i));
    cairo_surface_flush(surface);
  };
  // Cairo skips clearing a surface it knows is clear, so the baseline fills
  // it too: the least a frame that touches every pixel costs.
  const auto baselineFrame = [&](int) {
    clear();
    cairo_set_source_rgba(cr, 0.08, 0.08, 0.09, 0.82);
    cairo_paint(cr);
    cairo_surface_flush(surface);
  };

  measure(frame);  // warm-up: fonts found, glyphs cached
  const Figure baseline = measure(baselineFrame);
  const Figure drawn = measure(frame);
  std::printf("pill frame (%zu-pixel ARGB, scale %.0f): p50 %.1f us, p99 %.1f us over %d frames\n",
              static_cast<std::size_t>(windowSize.width * scale * windowSize.height * scale), scale,
              drawn.p50, drawn.p99, frames);
  std::printf("clear and flat fill (baseline):         p50 %.1f us, p99 %.1f us\n", baseline.p50,
              baseline.p99);
  std::printf("ratio: %.1fx the baseline at p50, %.1fx at p99\n", drawn.p50 / baseline.p50,
              drawn.p99 / baseline.p99);

  int status = 0;
  if (argc > 1) {
    std::string error;
    if (!renderer.renderToPng(pill(0), windowSize, scale, argv[1], error)) {
      std::fprintf(stderr, "drawing bench: %s\n", error.c_str());
      status = 1;
    }
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return status;
}
