#include "ambrel/blob/DesignTokens.h"

#include <gtest/gtest.h>

namespace nolari::ambrel {
namespace {

namespace Tokens = BlobDesignTokens;
using platform::Size;

TEST(DesignTokens, BlobWindowIsThePillExpandedAndRoundedUp) {
  namespace BlobSize = Tokens::BlobSize;
  const std::pair<Size, Size> cases[] = {
      {BlobSize::idle, {58, 10}},  // 57.6 × 9.6
      {BlobSize::disabled, {58, 10}},
      {BlobSize::idleHover, {264, 24}},  // whole products stay as they are
      {BlobSize::idleHoverMinimal, {149, 24}},
      {BlobSize::processing, {41, 17}},
      {BlobSize::recording, {48, 20}},
      {BlobSize::ready, {159, 24}},
      {BlobSize::errorCollapsed, {159, 24}},
      {BlobSize::success, {32, 20}},
      {BlobSize::errorExpanded, {308, 111}},  // 307.2 × 110.4
  };
  for (const auto& [pill, window] : cases) {
    EXPECT_EQ(BlobSize::outerFrame(pill), window) << pill.width << " x " << pill.height;
  }
}

TEST(DesignTokens, SharedColoursAndFontsAgree) {
  EXPECT_EQ(Tokens::Status::processing, Tokens::Status::recording);
  auto flash = Tokens::Status::error;
  flash.alpha = 0.85;
  EXPECT_EQ(Tokens::Blob::rejectFlashColor, flash);
  EXPECT_EQ(Tokens::HelpCard::Chip::kbdBackground, Tokens::Row::focusedFill);
  EXPECT_EQ(Tokens::HelpCard::Hairline::color, Tokens::Row::divider);

  // The design's faces first, with a generic family behind them for systems
  // that lack them.
  EXPECT_EQ(Tokens::Typography::trigger(),
            (Tokens::Font{"Fira Code,monospace", 12, platform::FontWeight::medium}));
  EXPECT_TRUE(Tokens::Typography::preview().family.starts_with("Fira Sans,"));
  EXPECT_TRUE(Tokens::Typography::readyLabel().family.ends_with(",sans-serif"));
  EXPECT_EQ(Tokens::Typography::readyLabel().weight, platform::FontWeight::medium);
}

}  // namespace
}  // namespace nolari::ambrel
