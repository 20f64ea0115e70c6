// Draws every form of the action blob, hovered and not, of the star rating
// strip and of the command list, each in its window and captioned, onto one PNG sheet at two pixels
// to the point over a desktop-grey background, so that a change to the view can be looked at whole;
// and every state of the help card onto a second sheet. `make gallery` writes
// docs/gallery/action-blob.png and docs/gallery/help-card.png.

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ambrel/agent/FeedbackView.h"
#include "ambrel/agent/HighlightOverlayWindow.h"
#include "ambrel/blob/ActionBlobView.h"
#include "ambrel/blob/DesignTokens.h"
#include "ambrel/panels/CommandListView.h"
#include "ambrel/panels/HelpCardView.h"
#include "ambrel/panels/HelpContent.h"
#include "core/NolariConfig.h"
#include "platform/DisplayList.h"
#include "platform/cairo/Render.h"
#include "platform/cairo/TextMeasure.h"

namespace {

using namespace nolari;
using ambrel::ActionBlobRoot;
using ambrel::ActionBlobState;
using ambrel::BlobMoment;
using platform::Size;
namespace BlobSize = ambrel::BlobDesignTokens::BlobSize;
using State = ActionBlobState;

constexpr double scale = 2;
constexpr double margin = 24;
constexpr double captionHeight = 18;
constexpr double rowGap = 22;

struct Cell {
  std::string caption;
  Size window;
  std::function<platform::DisplayList(platform::TextMeasurer&)> draw;
};

Cell blobCell(std::string caption, ActionBlobRoot root, const BlobMoment& moment = {}) {
  const Size window = root.outerSize;
  return {std::move(caption), window,
          [root = std::move(root), moment](platform::TextMeasurer& text) {
            return ambrel::drawActionBlob(root, moment, text);
          }};
}

// The strip lit up to the star under the pointer, or rated (0: neither),
// over the desktop or over a white field, where it often sits.
Cell starsCell(std::string caption, int hovered, int rated, bool overField = false) {
  return {std::move(caption), ambrel::FeedbackView::SIZE,
          [hovered, rated, overField](platform::TextMeasurer& text) {
            ambrel::FeedbackView view;
            view.hover(hovered);
            view.rate(rated);
            platform::DisplayList list;
            if (overField) {
              list.items.push_back({platform::Shape{.shape = {{{}, ambrel::FeedbackView::SIZE}},
                                                    .fill = platform::Color{1, 1, 1, 1}}});
            }
            for (auto& item : view.displayList(text).items) list.items.push_back(std::move(item));
            return list;
          }};
}

// The hover box in the default style round a field with text, padded by
// two points: tinted where translucent windows blend, an outline alone where
// they do not.
Cell highlightCell(std::string caption, bool outlineOnly) {
  const Size window{260, 34};
  return {std::move(caption), window, [window, outlineOnly](platform::TextMeasurer&) {
            const NolariConfig::Highlight style;
            platform::DisplayList list;
            list.items.push_back(
                {platform::Shape{.shape = {{{2, 2}, {window.width - 4, window.height - 4}}, 3},
                                 .fill = platform::Color{1, 1, 1, 1}}});
            list.items.push_back({platform::TextRun{.text = "Dear Ann, see you on Friday.",
                                                    .size = 13,
                                                    .color = {0.1, 0.1, 0.12, 1},
                                                    .origin = {10, 9},
                                                    .width = window.width - 20}});
            for (auto& item : ambrel::HighlightOverlayWindow::content(
                                  window, style.nsColor(), style.debugOpacity(), outlineOnly)
                                  .items) {
              list.items.push_back(std::move(item));
            }
            return list;
          }};
}

// The command list of `items` with the focus on `focused`, at the panel's width.
Cell listCell(std::string caption, std::vector<ambrel::CommandListItem> items,
              std::size_t focused) {
  const Size window{ambrel::BlobDesignTokens::PanelSize::width,
                    ambrel::commandListHeight(items.size())};
  return {std::move(caption), window,
          [items = std::move(items), focused, window](platform::TextMeasurer& text) {
            return ambrel::drawCommandList(items, focused, ambrel::measureCommandList(items, text),
                                           window);
          }};
}

// The window is sized for the largest pill the state shows, hovered or not.
ActionBlobRoot blob(State state, bool hovered, Size pill, Size windowBasis,
                    ambrel::BlobContext context = {}) {
  return ActionBlobRoot{.state = std::move(state),
                        .context = std::move(context),
                        .isHovered = hovered,
                        .visualSize = pill,
                        .outerSize = BlobSize::outerFrame(windowBasis)};
}

std::vector<Cell> cells() {
  const std::string longMessage =
      "The transcription service did not answer within 30 seconds. Check the network "
      "connection, then try again; the recording is kept until you dismiss it.";
  const ambrel::BlobContext withResult{.hasLastResult = true, .lastTrigger = "hotkey"};
  std::vector<Cell> all;
  all.push_back(blobCell("idle", blob(State::Idle{}, false, BlobSize::idle, BlobSize::idleHover)));
  all.push_back(blobCell(
      "idle, hovered", blob(State::Idle{}, true, BlobSize::idleHoverMinimal, BlobSize::idleHover)));
  all.push_back(
      blobCell("idle, hovered, with a last result",
               blob(State::Idle{}, true, BlobSize::idleHover, BlobSize::idleHover, withResult)));
  all.push_back(blobCell("disabled", blob(State::Disabled{"Offline"}, false, BlobSize::disabled,
                                          BlobSize::idleHover)));

  all.push_back(
      blobCell("processing, 0.55 s in",
               blob(State::Processing{}, false, BlobSize::processing, BlobSize::processing),
               {.contentAge = 0.55}));
  all.push_back(
      blobCell("processing, rejected",
               blob(State::Processing{}, false, BlobSize::processing, BlobSize::processing),
               {.contentAge = 1.2, .ringOpacity = 1}));
  all.push_back(blobCell("recording, level 0.05",
                         blob(State::Recording{}, false, BlobSize::recording, BlobSize::recording),
                         {.contentAge = 1.3, .audioLevel = 0.05}));
  all.push_back(blobCell("recording, level 0.9",
                         blob(State::Recording{}, false, BlobSize::recording, BlobSize::recording),
                         {.contentAge = 1.3, .audioLevel = 0.9}));

  all.push_back(blobCell("ready", blob(State::Ready{}, false, BlobSize::ready, BlobSize::idleHover),
                         {.contentAge = 0.95}));
  all.push_back(blobCell("ready, hovered",
                         blob(State::Ready{}, true, BlobSize::idleHover, BlobSize::idleHover)));
  all.push_back(blobCell("success, springing in (0.1 s)",
                         blob(State::Success{}, false, BlobSize::success, BlobSize::success),
                         {.contentAge = 0.1}));
  all.push_back(
      blobCell("success", blob(State::Success{}, false, BlobSize::success, BlobSize::success)));

  all.push_back(blobCell("error", blob(State::Error{"Microphone unavailable"}, false,
                                       BlobSize::errorCollapsed, BlobSize::errorCollapsed)));
  all.push_back(blobCell("error, long message",
                         blob(State::Error{"The transcription service did not answer in time"},
                              false, BlobSize::errorCollapsed, BlobSize::errorCollapsed)));
  all.push_back(blobCell("error, hovered, no details",
                         blob(State::Error{"Microphone unavailable"}, true,
                              BlobSize::errorCollapsed, BlobSize::errorCollapsed)));
  all.push_back(blobCell("info", blob(State::Info{"Copied to the clipboard"}, false,
                                      BlobSize::errorCollapsed, BlobSize::errorCollapsed)));

  all.push_back(blobCell("error, hovered, with details",
                         blob(State::Error{"Transcription timed out", longMessage}, true,
                              BlobSize::errorExpanded, BlobSize::errorExpanded)));
  all.push_back(blobCell("error, hovered, short details",
                         blob(State::Error{"Transcription timed out", "No answer in 30 seconds."},
                              true, BlobSize::errorExpanded, BlobSize::errorExpanded)));
  all.push_back(blobCell("error with details, not hovered",
                         blob(State::Error{"Transcription timed out", longMessage}, false,
                              BlobSize::errorCollapsed, BlobSize::errorExpanded)));
  all.push_back(blobCell("info, empty", blob(State::Info{""}, false, BlobSize::errorCollapsed,
                                             BlobSize::errorCollapsed)));
  all.push_back(blobCell("info, long message",
                         blob(State::Info{"Dictation is ready in every application you write in, "
                                          "including the browser"},
                              false, BlobSize::errorCollapsed, BlobSize::errorCollapsed)));
  all.push_back(starsCell("stars", 0, 0));
  all.push_back(starsCell("stars, pointer on the third", 3, 0));
  all.push_back(starsCell("stars, rated 4", 0, 4));
  all.push_back(starsCell("stars over a white field, pointer on the fifth", 5, 0, true));

  const std::vector<ambrel::CommandListItem> commands = {
      {"summarize", "Summarize the selection in three sentences", ""},
      {"translate", "Translate into French", ""},
      {"fix", "Fix spelling and grammar", ""},
      {"shorter", "Make it shorter", ""},
      {"formal", "Rewrite in a formal tone", ""},
      {"reply", "Draft a reply to this message", ""},
      {"bullets", "Turn into a bulleted list", ""},
      {"explain", "Explain like I'm new to the topic", ""},
      {"title", "Suggest a title", ""},
      {"remember", "Save the selection to memory", ""}};
  all.push_back(listCell("command list, ten items, focus on the third", commands, 2));
  all.push_back(listCell("command list, empty", {}, 0));
  all.push_back(
      listCell("command list, long triggers and previews",
               {{"a-very-long-command-name-indeed",
                 "Its preview runs on far past the panel's right edge", ""},
                {"x", "A short trigger beside a long preview that is cut at the tail as well", ""},
                {"history", "", ""}},
               0));
  all.push_back(highlightCell("hover box, with a compositing manager", false));
  all.push_back(highlightCell("hover box, without one: outline alone", true));
  return all;
}

// The card in a window of the panel's height: the fitting height, at least
// the panel's least.
Cell cardCell(std::string caption, const ambrel::HelpContent& content,
              ambrel::HelpCardHover hover = {}, bool increaseContrast = false) {
  platform::PangoTextMeasurer text;
  const double height =
      std::max(ambrel::layoutHelpCard(content, hover, increaseContrast, text).fittingHeight, 180.0);
  return {std::move(caption),
          {ambrel::BlobDesignTokens::HelpCard::width, height},
          [content, hover, increaseContrast, height](platform::TextMeasurer& measurer) {
            auto card = ambrel::layoutHelpCard(content, hover, increaseContrast, measurer);
            return ambrel::drawHelpPanel(std::move(card.content),
                                         {ambrel::BlobDesignTokens::HelpCard::width, height});
          }};
}

std::vector<Cell> cardCells() {
  ambrel::HelpContent withChips = ambrel::HelpContent::empty();
  withChips.hotkeyChips = {"Ctrl", "Alt", "W"};
  withChips.headlineLine1 = "Press {accel} to start writing";
  withChips.headlineLine2 = "in any text field.";
  ambrel::HelpContent longLegend = withChips;
  longLegend.legendRows.clear();
  for (int i = 1; i <= 24; ++i) {
    std::string trigger = "command";
    trigger += std::to_string(i);
    longLegend.legendRows.push_back(
        {trigger, i % 3 == 0 ? "A longer description that wraps onto a second line of the card"
                             : "A saved command"});
  }
  std::vector<Cell> all;
  all.push_back(cardCell("shortcut set, three key caps", withChips));
  all.push_back(cardCell("no shortcut, the chip under the pointer", ambrel::HelpContent::empty(),
                         {.setShortcut = true}));
  all.push_back(cardCell("empty content, the link under the pointer",
                         ambrel::HelpContent::from(nlohmann::json::object()),
                         {.openNolari = true}));
  all.push_back(cardCell("increased contrast", withChips, {}, true));
  all.push_back(cardCell("a long legend", longLegend));
  return all;
}

platform::DisplayList caption(const std::string& text, double width) {
  platform::DisplayList list;
  list.items.push_back({platform::TextRun{.text = text,
                                          .size = 11,
                                          .weight = platform::FontWeight::medium,
                                          .color = {0.09, 0.1, 0.11, 1},
                                          .width = width}});
  return list;
}

// The window's bounds, faintly, so that the pill's place in it shows.
platform::DisplayList windowFrame(Size window) {
  platform::DisplayList list;
  list.items.push_back(
      {platform::Shape{.shape = {{{}, window}},
                       .stroke = platform::Stroke{.width = 0.5, .color = {1, 1, 1, 0.22}}}});
  return list;
}

// The cells `columns` to a row, each row as tall as its tallest window.
bool writeSheet(const std::vector<Cell>& all, std::size_t columns, double columnWidth,
                const char* path) {
  std::vector<double> rowHeights;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (i % columns == 0) rowHeights.push_back(0);
    rowHeights.back() = std::max(rowHeights.back(), all[i].window.height);
  }
  double height = margin;
  for (const double rowHeight : rowHeights) height += captionHeight + rowHeight + rowGap;
  height += margin - rowGap;
  const double width = 2 * margin + static_cast<double>(columns) * columnWidth;

  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, static_cast<int>(width * scale), static_cast<int>(height * scale));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  // A desktop's quiet grey, lighter at the top, for the translucent pill to
  // sit on.
  cairo_pattern_t* desktop = cairo_pattern_create_linear(0, 0, 0, height);
  cairo_pattern_add_color_stop_rgb(desktop, 0, 0.62, 0.64, 0.67);
  cairo_pattern_add_color_stop_rgb(desktop, 1, 0.47, 0.49, 0.52);
  cairo_set_source(cr, desktop);
  cairo_paint(cr);
  cairo_pattern_destroy(desktop);

  platform::PangoTextMeasurer text;
  platform::CairoRenderer renderer(text);
  double y = margin;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Cell& cell = all[i];
    const double x = margin + static_cast<double>(i % columns) * columnWidth;
    cairo_save(cr);
    cairo_translate(cr, x, y);
    renderer.draw(cr, caption(cell.caption, columnWidth - 12));
    cairo_translate(cr, 0, captionHeight);
    renderer.draw(cr, windowFrame(cell.window));
    renderer.draw(cr, cell.draw(text));
    cairo_restore(cr);
    if (i % columns == columns - 1) y += captionHeight + rowHeights[i / columns] + rowGap;
  }

  cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_write_to_png(surface, path);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "%s: %s\n", path, cairo_status_to_string(status));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <action-blob.png> <help-card.png>\n", argv[0]);
    return 2;
  }
  if (!writeSheet(cells(), 4, 330, argv[1])) return 1;
  return writeSheet(cardCells(), 3, 370, argv[2]) ? 0 : 1;
}
