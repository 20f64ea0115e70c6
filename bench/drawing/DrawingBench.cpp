// Frames of the action blob as the window draws them: the display list built
// by the view and painted with cairo and pango onto an ARGB surface of the
// window's size at two pixels to the point. The recording waveform moving with
// the level, the ready menu (the most text) and the expanded error (wrapped,
// truncated text), each beside clearing and flatly filling the same surface in
// the same run. Then the help card with a legend of 200 rows: its layout beside
// measuring each of its texts once, and its drawing, in a panel as tall as a
// screen allows, beside filling the same surface.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ambrel/blob/ActionBlobView.h"
#include "ambrel/blob/DesignTokens.h"
#include "ambrel/panels/HelpCardView.h"
#include "ambrel/panels/HelpContent.h"
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

Figure measure(const std::function<void(int)>& frame, int count = frames) {
  std::vector<double> times;
  times.reserve(count);
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    frame(i);
    times.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 99 / 100]};
}

void clear(cairo_t* cr) {
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_restore(cr);
}

// Cairo skips clearing a surface it knows is clear, so a baseline fills it
// too: the least a frame that touches every pixel costs.
void fill(cairo_t* cr, cairo_surface_t* surface) {
  clear(cr);
  cairo_set_source_rgba(cr, 0.08, 0.08, 0.09, 0.82);
  cairo_paint(cr);
  cairo_surface_flush(surface);
}

void report(const char* name, const char* what, const Figure& measured, const Figure& baseline) {
  std::printf(
      "%-27s %s: p50 %7.1f us, p99 %7.1f us; baseline p50 %7.1f us, p99 %7.1f us; "
      "ratio %.1fx at p50, %.1fx at p99\n",
      name, what, measured.p50, measured.p99, baseline.p50, baseline.p99,
      measured.p50 / baseline.p50, measured.p99 / baseline.p99);
}

void helpCard(platform::TextMeasurer& text, platform::CairoRenderer& renderer) {
  constexpr int rows = 200;
  constexpr int runs = 200;
  // A 900-point screen's visible frame less the menu bar and both margins.
  const Size size{ambrel::BlobDesignTokens::HelpCard::width, 859};
  ambrel::HelpContent content = ambrel::HelpContent::empty();
  content.hotkeyChips = {"Ctrl", "Alt", "W"};
  content.headlineLine1 = "Press {accel} to start writing";
  content.legendRows.clear();
  for (int i = 0; i < rows; ++i) {
    std::string trigger = "command";
    trigger += std::to_string(i);
    content.legendRows.push_back(
        {std::move(trigger),
         i % 3 == 0 ? "A longer description that wraps onto a second line" : "A saved command"});
  }
  // Every text the card lays out, each measured once at the width it gets.
  std::vector<std::pair<platform::TextRun, double>> texts;
  for (const auto& row : content.legendRows) {
    std::string trigger = "/";
    trigger += row.trigger;
    texts.push_back(
        {{.text = std::move(trigger),
          .fontFamily = std::string(ambrel::BlobDesignTokens::Typography::monospacedFamily),
          .size = 12},
         84});
    texts.push_back({{.text = row.description, .size = 12, .maxLines = 100000}, 210});
  }
  const auto measureAll = [&](int) {
    for (const auto& [run, width] : texts) text.measure(run, width);
  };
  const auto layout = [&](int) { ambrel::layoutHelpCard(content, {}, false, text); };
  measure(layout, runs);  // warm-up
  const Figure measured = measure(measureAll, runs);
  const Figure laidOut = measure(layout, runs);
  report("help card, 200 rows", "layout", laidOut, measured);

  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(size.width * scale),
                                 static_cast<int>(size.height * scale));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  const platform::DisplayList panel =
      ambrel::drawHelpPanel(ambrel::layoutHelpCard(content, {}, false, text).content, size);
  const auto draw = [&](int) {
    clear(cr);
    renderer.draw(cr, panel);
    cairo_surface_flush(surface);
  };
  measure(draw, runs);
  const Figure baseline = measure([&](int) { fill(cr, surface); }, runs);
  const Figure drawn = measure(draw, runs);
  report("help card, 200 rows", "render", drawn, baseline);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
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
    // Each frame a sixtieth of a second on, the level swinging as speech does.
    const auto frame = [&](int i) {
      const ambrel::BlobMoment moment{.contentAge = 1 + i * frameSeconds,
                                      .audioLevel = 0.5 + 0.5 * std::sin(i * 0.3)};
      clear(cr);
      renderer.draw(cr, ambrel::drawActionBlob(bench.root, moment, text));
      cairo_surface_flush(surface);
    };
    const auto baselineFrame = [&](int) { fill(cr, surface); };
    measure(frame);  // warm-up: fonts found, glyphs cached
    const Figure baseline = measure(baselineFrame);
    const Figure drawn = measure(frame);
    std::printf(
        "%-27s (%3.0fx%-3.0f pt): p50 %6.1f us, p99 %6.1f us; baseline p50 %5.1f us, "
        "p99 %5.1f us; ratio %.1fx at p50, %.1fx at p99\n",
        bench.name, size.width, size.height, drawn.p50, drawn.p99, baseline.p50, baseline.p99,
        drawn.p50 / baseline.p50, drawn.p99 / baseline.p99);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  helpCard(text, renderer);
  return 0;
}
