#include "ambrel/agent/HotkeySpec.h"

#include <gtest/gtest.h>

namespace nolari::ambrel {
namespace {

namespace Flags = platform::EventFlags;
using Spec = std::optional<HotkeySpec>;

TEST(HotkeySpec, ParsesModifiersInAnyOrderAndTheLastKeyName) {
  const std::pair<std::string, Spec> cases[] = {
      {"command+shift+x", HotkeySpec{7, Flags::command | Flags::shift}},
      {"CMD+Shift+X", HotkeySpec{7, Flags::command | Flags::shift}},
      {"ctrl+f5", HotkeySpec{96, Flags::control}},
      {"alt+space", HotkeySpec{49, Flags::alternate}},
      {"option+control+alt+Return", HotkeySpec{36, Flags::alternate | Flags::control}},
      {"a+b", HotkeySpec{11, 0}},
      {"command+foo+x", HotkeySpec{7, Flags::command}},
      {"x+", HotkeySpec{7, 0}},
      {"f20+backspace", HotkeySpec{51, 0}},
      // Kelvin sign: lower-cased by Unicode rules, it is the letter k.
      {"\xE2\x84\xAA", HotkeySpec{40, 0}},
      // Tokens are not trimmed.
      {"command + x", std::nullopt},
      {"shift", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"command+\xFF\xFE", std::nullopt},
      {"f21", std::nullopt},
      {std::string(100000, '+') + "q", HotkeySpec{12, 0}},
  };
  for (const auto& [accelerator, expected] : cases) {
    EXPECT_EQ(HotkeySpec::parse(accelerator), expected) << accelerator.substr(0, 40);
  }
}

TEST(HotkeySpec, MatchesTheFourModifiersExactly) {
  const HotkeySpec spec{7, Flags::command | Flags::shift};
  EXPECT_TRUE(
      spec.matches({7, Flags::command | Flags::shift | Flags::alphaShift | Flags::numericPad}));
  EXPECT_FALSE(spec.matches({7, Flags::command | Flags::shift | Flags::alternate}));
  EXPECT_FALSE(spec.matches({7, Flags::command}));
  EXPECT_FALSE(spec.matches({8, Flags::command | Flags::shift}));
}

}  // namespace
}  // namespace nolari::ambrel
