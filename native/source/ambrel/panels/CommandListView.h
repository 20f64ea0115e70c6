#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DisplayList.h"
#include "platform/Geometry.h"
#include "platform/TextMeasure.h"

// What the command list draws: its rounded, bordered background, one row per
// item up to the row limit with the slash trigger in a column of its own and a
// one-line preview beside it, the focused row filled, and hairlines between
// the rows. In the window's points, top-left origin, y down; the first item
// is the top row.

namespace nolari::ambrel {

enum class CommandListMode { list, history };

std::string_view rawValue(CommandListMode mode);
// Nothing for any word but "list" and "history".
std::optional<CommandListMode> commandListModeFromRawValue(std::string_view raw);

struct CommandListItem {
  std::string trigger;
  std::string preview;
  // Handed back to the parent unchanged when the item is chosen.
  std::string fullText;
  friend bool operator==(const CommandListItem&, const CommandListItem&) = default;
};

// What a showing measures once: the trigger column over every item, drawn or
// not (capped), and the height of a line of each font.
struct CommandListMetrics {
  double triggerColumnWidth = 0;
  double triggerLineHeight = 0;
  double previewLineHeight = 0;
};

CommandListMetrics measureCommandList(const std::vector<CommandListItem>& items,
                                      platform::TextMeasurer& text);

// Rows drawn for `count` items, and the panel's height for them.
std::size_t commandListRowCount(std::size_t count);
double commandListHeight(std::size_t count);

platform::DisplayList drawCommandList(const std::vector<CommandListItem>& items,
                                      std::size_t focusedIndex, const CommandListMetrics& metrics,
                                      platform::Size size);

// The drawn row under `point`; nothing over the insets above and below the rows.
std::optional<std::size_t> commandListRowIndex(platform::Point point, std::size_t count,
                                               platform::Size size);

}  // namespace nolari::ambrel
