#include "ambrel/panels/CommandListView.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "ambrel/blob/DesignTokens.h"
#include "ambrel/blob/LaidOutText.h"

namespace nolari::ambrel {

namespace {

namespace Tokens = BlobDesignTokens;
using platform::Item;
using platform::Rect;
using platform::Shape;
using platform::TextRun;

constexpr double TRIGGER_X = 14;
constexpr double COLUMN_GAP = 8;
constexpr double MAX_TRIGGER_WIDTH = 90;
constexpr double ROW_INSET_X = 4;
constexpr double DIVIDER_INSET_X = 10;
// Far more than a row can show at any font size.
constexpr std::size_t MAX_LAID_OUT_BYTES = 1024;

constexpr double rowHeight = Tokens::PanelSize::rowHeight;
constexpr double verticalPad = Tokens::PanelSize::verticalPadding;

TextRun run(std::string text, const Tokens::Font& font) {
  TextRun result;
  result.text = std::move(text);
  result.fontFamily = std::string(font.family);
  result.size = font.size;
  result.weight = font.weight;
  result.maxLines = 1;
  return result;
}

TextRun triggerRun(std::string_view trigger) {
  std::string text = "/";
  text += laidOutPart(trigger, MAX_LAID_OUT_BYTES);
  return run(std::move(text), Tokens::Typography::trigger());
}

double rowTop(std::size_t index) { return verticalPad + static_cast<double>(index) * rowHeight; }

}  // namespace

std::string_view rawValue(CommandListMode mode) {
  return mode == CommandListMode::history ? "history" : "list";
}

std::optional<CommandListMode> commandListModeFromRawValue(std::string_view raw) {
  if (raw == "list") return CommandListMode::list;
  if (raw == "history") return CommandListMode::history;
  return std::nullopt;
}

// Once the column reaches its cap no item can widen it: the rest is skipped.
// The trigger font is monospaced, so printable ASCII triggers of one length
// take one width: one of each length is measured, which keeps a list of
// 100,000 commands to a few measurements.
CommandListMetrics measureCommandList(const std::vector<CommandListItem>& items,
                                      platform::TextMeasurer& text) {
  CommandListMetrics metrics;
  metrics.triggerLineHeight = text.measure(triggerRun(""), MAX_TRIGGER_WIDTH).height;
  metrics.previewLineHeight =
      text.measure(run("/", Tokens::Typography::preview()), MAX_TRIGGER_WIDTH).height;
  std::unordered_set<std::size_t> asciiLengths;
  for (const auto& item : items) {
    if (metrics.triggerColumnWidth >= MAX_TRIGGER_WIDTH) break;
    const bool ascii = std::all_of(item.trigger.begin(), item.trigger.end(),
                                   [](char c) { return c >= 0x20 && c < 0x7f; });
    if (ascii && !asciiLengths.insert(item.trigger.size()).second) continue;
    metrics.triggerColumnWidth =
        std::max(metrics.triggerColumnWidth,
                 std::min(MAX_TRIGGER_WIDTH,
                          text.measure(triggerRun(item.trigger), MAX_TRIGGER_WIDTH).width));
  }
  return metrics;
}

std::size_t commandListRowCount(std::size_t count) {
  return std::min<std::size_t>(count, Tokens::PanelSize::maxRows);
}

double commandListHeight(std::size_t count) {
  return static_cast<double>(commandListRowCount(count)) * rowHeight + 2 * verticalPad;
}

platform::DisplayList drawCommandList(const std::vector<CommandListItem>& items,
                                      std::size_t focusedIndex, const CommandListMetrics& metrics,
                                      platform::Size size) {
  platform::DisplayList list;
  // The blob's material: a dark translucent fill inside a hairline.
  list.items.push_back(
      {Shape{.shape = {{{}, size}, Tokens::Radius::panel},
             .fill = Tokens::Blob::darkOverlay,
             .stroke = platform::Stroke{Tokens::Stroke::primaryWidth, Tokens::Stroke::primary}}});
  const std::size_t rows = commandListRowCount(items.size());
  const double previewX = TRIGGER_X + metrics.triggerColumnWidth + COLUMN_GAP;
  const double previewWidth = size.width - previewX - TRIGGER_X;
  for (std::size_t i = 0; i < rows; ++i) {
    const CommandListItem& item = items[i];
    const bool focused = i == focusedIndex;
    const double top = rowTop(i);
    if (focused) {
      list.items.push_back(
          {Shape{.shape = {{{ROW_INSET_X, top + 2}, {size.width - 2 * ROW_INSET_X, rowHeight - 4}},
                           Tokens::Radius::row},
                 .fill = Tokens::Row::focusedFill}});
    }
    // The trigger is cut at its column, so that it never runs into the preview.
    TextRun trigger = triggerRun(item.trigger);
    trigger.color = focused ? Tokens::Text::primary : Tokens::Text::muted;
    trigger.origin = {TRIGGER_X, top + (rowHeight - metrics.triggerLineHeight) / 2};
    trigger.width = metrics.triggerColumnWidth;
    list.items.push_back({std::move(trigger)});
    if (previewWidth > 0 && !item.preview.empty()) {
      TextRun preview =
          run(laidOutPart(item.preview, MAX_LAID_OUT_BYTES), Tokens::Typography::preview());
      preview.color = focused ? Tokens::Text::secondary : Tokens::Text::muted;
      preview.origin = {previewX, top + (rowHeight - metrics.previewLineHeight) / 2};
      preview.width = previewWidth;
      list.items.push_back({std::move(preview)});
    }
    if (i + 1 < rows) {
      list.items.push_back({Shape{.shape = {{{DIVIDER_INSET_X, top + rowHeight - 0.5},
                                             {size.width - 2 * DIVIDER_INSET_X, 1}}},
                                  .fill = Tokens::Row::divider}});
    }
  }
  return list;
}

std::optional<std::size_t> commandListRowIndex(platform::Point point, std::size_t count,
                                               platform::Size size) {
  if (!(point.x >= 0 && point.x < size.width)) return std::nullopt;
  const double offset = point.y - verticalPad;
  const auto rows = commandListRowCount(count);
  if (!(offset >= 0 && offset < static_cast<double>(rows) * rowHeight)) return std::nullopt;
  return std::min(rows - 1, static_cast<std::size_t>(offset / rowHeight));
}

}  // namespace nolari::ambrel
