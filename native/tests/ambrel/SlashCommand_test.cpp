#include "ambrel/agent/SlashCommand.h"

#include <gtest/gtest.h>

#include <string>

#include "core/AXHelpers.h"
#include "support/SimPlatform.h"

namespace nolari::ambrel {
namespace {

using platform::Rect;

struct SlashCommandQueries : ::testing::Test {
  test::SimPlatform sim{"slash_field"};
  SlashCommandDetector detector{sim.accessibility(), sim.workspace(),
                                sim.accessibility().createSystemWide()};
  FocusedField field{sim.accessibility(), sim.workspace(), sim.accessibility().createSystemWide()};

  platform::AXUIElement focused() {
    return *AXHelpers::getElementAttribute(
        sim.accessibility(), sim.accessibility().createSystemWide(), "AXFocusedUIElement");
  }
};

// The caret rectangle asks for the character before the caret, the first one
// at the start, and turns the answer to bottom-left coordinates; an answer
// that is no rectangle, or not finite, is none.
TEST_F(SlashCommandQueries, CaretRectAsksForTheCharacterBeforeTheCaret) {
  EXPECT_EQ(detector.queryCaretRect(focused(), 16), (Rect{{300, 683}, {8, 17}}));
  EXPECT_EQ(detector.queryCaretRect(focused(), 0), (Rect{{122, 731}, {7, 17}}));
  EXPECT_EQ(detector.queryCaretRect(focused(), 4), std::nullopt);
}

// The focused field's frame, not grown; none without a focused element or a
// frame.
TEST_F(SlashCommandQueries, FocusedFieldRectIsTheFrameInBottomLeftCoordinates) {
  EXPECT_EQ(field.frame(), (Rect{{120, 450}, {560, 300}}));
  std::string error;
  ASSERT_TRUE(sim.desktop().setAttribute("note", "AXSize", {{"size", {0, 300}}}, error));
  EXPECT_EQ(field.frame(), std::nullopt);
  ASSERT_TRUE(sim.desktop().quitApplication(601));
  EXPECT_EQ(field.frame(), std::nullopt);
}

// Only the last slash word before the caret counts, and only when all after
// its slash is letters, marks or digits.
TEST(SlashCommandScan, TakesTheLastSlashWordBeforeTheCaret) {
  EXPECT_EQ(scanForSlashCommand("/fix this", 0).trigger, std::nullopt);
  EXPECT_EQ(scanForSlashCommand("/fix this", 4).trigger, "fix");
  EXPECT_EQ(scanForSlashCommand("//fix", 99).trigger, std::nullopt);
  EXPECT_EQ(scanForSlashCommand("/fix /fix-it", 99).trigger, std::nullopt);
  EXPECT_EQ(scanForSlashCommand("/fix /fix.", 99).trigger, std::nullopt);
  EXPECT_EQ(scanForSlashCommand("a/fix", 99).trigger, std::nullopt);
  EXPECT_EQ(scanForSlashCommand("say /", 99).trigger, std::nullopt);
}

// Offsets in UTF-16 code units: a caret in the middle of a character of two
// units cuts before it; ill-formed bytes count as one unit each. Unicode
// separators end words; a symbol or an invisible format character in the
// command ends the check.
TEST(SlashCommandScan, CountsUtf16CodeUnits) {
  EXPECT_EQ(scanForSlashCommand("😀 /ab", 5).trigger, "a");
  EXPECT_EQ(scanForSlashCommand("/ab😀", 4).trigger, "ab");
  EXPECT_EQ(scanForSlashCommand("/ab😀", 5).trigger, std::nullopt);
  EXPECT_EQ(scanForSlashCommand("/ab😀 /c", 8).trigger, "c");
  EXPECT_EQ(scanForSlashCommand("\xff /ab", 4).trigger, "a");
  EXPECT_EQ(scanForSlashCommand("/Ωμέγα\u2028/ok", 99).trigger, "ok");
  EXPECT_EQ(scanForSlashCommand("/fix\u00a0it", 99).trigger, "fix");
  EXPECT_EQ(scanForSlashCommand("/fix\u200bit", 99).trigger, std::nullopt);
  EXPECT_EQ(scanForSlashCommand("/fix", -1).trigger, std::nullopt);
  EXPECT_EQ(scanForSlashCommand("/fix", -1).caret, 0);
  EXPECT_EQ(scanForSlashCommand("😀 /fix", 99).caret, 7);
  EXPECT_EQ(scanForSlashCommand("😀 /fix", 1).caret, 1);
}

}  // namespace
}  // namespace nolari::ambrel
