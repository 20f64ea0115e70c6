#include "platform/KeyNames.h"

#include <array>
#include <utility>

namespace nolari::platform {

namespace {

// Virtual key codes of the ANSI layout; where two names share a code, the
// first one names it.
constexpr std::array<std::pair<std::string_view, KeyCode>, 67> KEYS = {{
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
    {"f18", 79},   {"f19", 80},    {"f20", 90},   {"left", 123},  {"right", 124},    {"down", 125},
    {"up", 126},
}};

}  // namespace

std::optional<KeyCode> keyCodeForName(std::string_view name) {
  for (const auto& [keyName, code] : KEYS) {
    if (keyName == name) return code;
  }
  return std::nullopt;
}

std::string_view nameOfKeyCode(KeyCode code) {
  for (const auto& [keyName, keyCode] : KEYS) {
    if (keyCode == code) return keyName;
  }
  return {};
}

}  // namespace nolari::platform
