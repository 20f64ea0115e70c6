#include "ambrel/panels/HelpContent.h"

#include <algorithm>

namespace nolari::ambrel {

namespace {

using Json = nlohmann::json;

std::string stringMember(const Json& object, const char* key, const std::string& fallback = {}) {
  auto member = object.find(key);
  if (member == object.end() || !member->is_string()) return fallback;
  return member->get<std::string>();
}

const Json* arrayMember(const Json& object, const char* key) {
  auto member = object.find(key);
  return member != object.end() && member->is_array() ? &*member : nullptr;
}

std::vector<std::string> chipsOf(const Json& content) {
  const Json* chips = arrayMember(content, "hotkey_chips");
  if (chips == nullptr ||
      !std::all_of(chips->begin(), chips->end(), [](const Json& chip) { return chip.is_string(); }))
    return {};
  std::vector<std::string> out;
  out.reserve(chips->size());
  for (const Json& chip : *chips) out.push_back(chip.get<std::string>());
  return out;
}

bool isStringObject(const Json& row) {
  return row.is_object() &&
         std::all_of(row.begin(), row.end(), [](const Json& member) { return member.is_string(); });
}

std::vector<HelpLegendEntry> rowsOf(const Json& content) {
  const Json* rows = arrayMember(content, "legend_rows");
  if (rows == nullptr || !std::all_of(rows->begin(), rows->end(), isStringObject)) return {};
  std::vector<HelpLegendEntry> out;
  for (const Json& row : *rows) {
    if (!row.contains("trigger") || !row.contains("description")) continue;
    out.push_back({row["trigger"].get<std::string>(), row["description"].get<std::string>()});
  }
  return out;
}

}  // namespace

HelpContent HelpContent::from(const Json& content) {
  if (!content.is_object()) return HelpContent{};
  const HelpContent defaults;
  HelpContent out;
  out.hotkeyChips = chipsOf(content);
  out.headlineLine1 = stringMember(content, "headline_line1");
  out.headlineLine2 = stringMember(content, "headline_line2");
  out.legendLabel = stringMember(content, "legend_label");
  out.legendRows = rowsOf(content);
  out.openNolariLabel = stringMember(content, "open_nolari_label", defaults.openNolariLabel);
  out.setShortcutLabel = stringMember(content, "set_shortcut_label", defaults.setShortcutLabel);
  return out;
}

HelpContent HelpContent::empty() {
  HelpContent out;
  out.headlineLine1 = "Set a shortcut to start writing.";
  out.legendLabel = "Or type a slash command in any text field";
  out.legendRows = {{"list", "Browse and run any saved command"},
                    {"history", "Insert a recent result back into the field"},
                    {"remember", "Save the selection to memory"},
                    {"nolari", "Reopen this help panel anywhere"}};
  return out;
}

std::string describeChips(const std::vector<std::string>& chips) {
  std::string out = "[";
  for (std::size_t i = 0; i < chips.size(); ++i) {
    if (i > 0) out += ", ";
    out += '"';
    out += chips[i];
    out += '"';
  }
  out += "]";
  return out;
}

}  // namespace nolari::ambrel
