#include "ambrel/HotkeySpec.h"

#include <array>
#include <string>
#include <utility>

#include "core/UnicodeText.h"

namespace nolari::ambrel {

namespace {

using platform::KeyCode;

// The keys of the ANSI layout that accelerators may name.
constexpr std::array<std::pair<std::string_view, KeyCode>, 63> KEY_NAMES = {{
    {"a", 0},      {"s", 1},       {"d", 2},      {"f", 3},       {"h", 4},          {"g", 5},
    {"z", 6},      {"x", 7},       {"c", 8},      {"v", 9},       {"b", 11},         {"q", 12},
    {"w", 13},     {"e", 14},      {"r", 15},     {"y", 16},      {"t", 17},         {"1", 18},
    {"2", 19},     {"3", 20},      {"4", 21},     {"6", 22},      {"5", 23},         {"9", 25},
    {"7", 26},     {"8", 28},      {"0", 29},     {"o", 31},      {"u", 32},         {"i", 34},
    {"p", 35},     {"l", 37},      {"j", 38},     {"k", 40},      {"n", 45},         {"m", 46},
    {"space", 49}, {"return", 36}, {"enter", 36}, {"delete", 51}, {"backspace", 51}, {"escape", 53},
    {"tab", 48},   {"f1", 122},    {"f2", 120},   {"f3", 99},     {"f4", 118},       {"f5", 96},
    {"f6", 97},    {"f7", 98},     {"f8", 100},   {"f9", 101},    {"f10", 109},      {"f11", 103},
    {"f12", 111},  {"f13", 105},   {"f14", 107},  {"f15", 113},   {"f16", 106},      {"f17", 64},
    {"f18", 79},   {"f19", 80},    {"f20", 90},
}};

std::uint64_t modifierForWord(std::string_view word) {
  if (word == "option" || word == "alt") return platform::EventFlags::alternate;
  if (word == "control" || word == "ctrl") return platform::EventFlags::control;
  if (word == "command" || word == "cmd") return platform::EventFlags::command;
  if (word == "shift") return platform::EventFlags::shift;
  return 0;
}

}  // namespace

std::optional<KeyCode> HotkeySpec::keyCodeForName(std::string_view name) {
  const std::string lower = UnicodeText::lowercased(name);
  for (const auto& [known, code] : KEY_NAMES) {
    if (known == lower) return code;
  }
  return std::nullopt;
}

std::optional<HotkeySpec> HotkeySpec::parse(std::string_view accelerator) {
  std::uint64_t modifiers = 0;
  std::optional<KeyCode> keyCode;
  for (;;) {
    const std::size_t plus = accelerator.find('+');
    const std::string_view token = accelerator.substr(0, plus);
    const std::string lower = UnicodeText::lowercased(token);
    if (std::uint64_t modifier = modifierForWord(lower)) {
      modifiers |= modifier;
    } else if (auto code = keyCodeForName(lower)) {
      keyCode = code;
    }
    if (plus == std::string_view::npos) break;
    accelerator.remove_prefix(plus + 1);
  }
  if (!keyCode) return std::nullopt;
  return HotkeySpec{*keyCode, modifiers};
}

}  // namespace nolari::ambrel
