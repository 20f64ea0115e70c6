#pragma once

#include <string_view>

#include "ambrel/panels/HelpContent.h"
#include "platform/DisplayList.h"
#include "platform/Geometry.h"
#include "platform/TextMeasure.h"

// What the quick-start help card draws: top to bottom a header with the
// product name and a close button, the headline naming the writing shortcut as
// key caps (or a chip that offers to set one), the legend of slash commands
// between two hairlines, and a link to the main window at the bottom right.
// The view keeps nothing: the panel hands it the texts and the two hover
// flags and gets back a display list whose hit regions name what a click
// there means.

namespace nolari::ambrel {

// The hit regions' actions.
inline constexpr std::string_view HELP_CARD_DISMISS = "dismiss";
inline constexpr std::string_view HELP_CARD_OPEN_NOLARI = "open_nolari";
inline constexpr std::string_view HELP_CARD_SET_SHORTCUT = "set_shortcut";

struct HelpCardHover {
  bool setShortcut = false;
  bool openNolari = false;
  friend bool operator==(const HelpCardHover&, const HelpCardHover&) = default;
};

struct HelpCardLayout {
  // The card's width (`BlobDesignTokens::HelpCard::width`) wide, its top-left
  // at the origin, y downwards.
  platform::DisplayList content;
  // Everything the card holds, its padding included.
  double fittingHeight = 0;
};

// `increaseContrast` draws the close symbol and the legend caption in a
// lighter grey. Each text is measured once.
HelpCardLayout layoutHelpCard(const HelpContent& content, const HelpCardHover& hover,
                              bool increaseContrast, platform::TextMeasurer& text);

// The panel's window of `size`: the rounded, bordered dark background the
// action blob also stands on, with the card over it, cut at the window's
// edge when the window is shorter than the card.
platform::DisplayList drawHelpPanel(platform::DisplayList card, platform::Size size);

}  // namespace nolari::ambrel
