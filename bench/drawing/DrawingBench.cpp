// Frames of the action blob as the window draws them: the display list built
// by the view and painted with cairo and pango onto an ARGB surface of the
// window's size at two pixels to the point. The recording waveform moving with
// the level, the ready menu (the most text) and the expanded error (wrapped,
// truncated text), each beside clearing and flatly filling the same surface in
// the same run.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "ambrel/ActionBlobView.h"
#include "ambrel/DesignTokens.h"
#include "platform/cairo/Render.h"
#include "platform/cairo/TextMeasure.h"

namespace {

using namespace nolari;
using platform::Size;
namespace BlobSize = ambrel::BlobDesignTokens::BlobSize;

constexpr double scale = 2;
constexpr int frames = 2000;
constexpr double frameSeconds = 1.0 / 60;

struct Figure {
  double p50, p99;  // microseconds per frame
};

Figure measure(const std::function<void(int)>& frame) {
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

struct Case {
  const char* name;
  ambrel::ActionBlobRoot root;
};

}  // namespace

int main() {
  platform::PangoTextMeasurer text;
  platform::CairoRenderer renderer(text);
  const auto root = [](ambrel::ActionBlobState state, bool hovered, Size pill, Size basis) {
    return ambrel::ActionBlobRoot{.state = std::move(state),
                                  .isHovered = hovered,
                                  .visualSize = pill,
                                  .outerSize = BlobSize::outerFrame(basis)};
  };
  const Case cases[] = {
      {"recording, waveform moving",
       root(ambrel::ActionBlobState::Recording{}, false, BlobSize::recording, BlobSize::recording)},
      {"ready menu, hovered",
       root(ambrel::ActionBlobState::Ready{}, true, BlobSize::idleHover, BlobSize::idleHover)},
      {"error, expanded",
       root(ambrel::ActionBlobState::Error{"Transcription timed out",
                                           "The transcription service did not answer within 30 "
                                           "seconds. Check the network connection and retry."},
            true, BlobSize::errorExpanded, BlobSize::errorExpanded)},
  };

  for (const Case& bench : cases) {
    const Size size = bench.root.outerSize;
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(size.width * scale),
                                   static_cast<int>(size.height * scale));
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    const auto clear = [&] {
      cairo_save(cr);
      cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
      cairo_paint(cr);
      cairo_restore(cr);
    };
    // Each frame a sixtieth of a second on, the level swinging as speech does.
    const auto frame = [&](int i) {
      const ambrel::BlobMoment moment{.contentAge = 1 + i * frameSeconds,
                                      .audioLevel = 0.5 + 0.5 * std::sin(i * 0.3)};
      clear();
      renderer.draw(cr, ambrel::drawActionBlob(bench.root, moment, text));
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
    std::printf("%-27s (%3.0fx%-3.0f pt): p50 %6.1f us, p99 %6.1f us; baseline p50 %5.1f us, "
                "p99 %5.1f us; ratio %.1fx at p50, %.1fx at p99\n",
                bench.name, size.width, size.height, drawn.p50, drawn.p99, baseline.p50,
                baseline.p99, drawn.p50 / baseline.p50, drawn.p99 / baseline.p99);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  return 0;
}
