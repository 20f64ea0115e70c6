#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// The texts of the quick-start help card, as the parent sends them: the
// shortcut that starts writing as key caps, the headline around it, the
// slash commands the legend lists and the two link labels.

namespace nolari::ambrel {

struct HelpLegendEntry {
  std::string trigger;
  std::string description;
  friend bool operator==(const HelpLegendEntry&, const HelpLegendEntry&) = default;
};

struct HelpContent {
  // One key cap each, in order; empty when no shortcut is set.
  std::vector<std::string> hotkeyChips;
  // May hold "{accel}", where the key caps go.
  std::string headlineLine1;
  std::string headlineLine2;
  std::string legendLabel;
  std::vector<HelpLegendEntry> legendRows;
  std::string openNolariLabel = "Open Nolari \u2192";
  std::string setShortcutLabel = "Set shortcut \u2192";

  friend bool operator==(const HelpContent&, const HelpContent&) = default;

  // A member that is missing or of the wrong type takes its default: an
  // empty list or text, or the standard link labels. The chips count only
  // when every one is a string, the legend only when every member of every
  // row is; a row lacking its trigger or description is skipped.
  static HelpContent from(const nlohmann::json& content);
  // The standard texts, shown before the parent sends any.
  static HelpContent empty();
};

// The chips as the logs list them: ["Ctrl", "W"], or [] without any.
std::string describeChips(const std::vector<std::string>& chips);

}  // namespace nolari::ambrel
