#include "ambrel/panels/HelpCardView.h"

#include <algorithm>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "ambrel/blob/DesignTokens.h"
#include "ambrel/blob/LaidOutText.h"

namespace nolari::ambrel {

namespace {

namespace Tokens = BlobDesignTokens;
namespace Card = Tokens::HelpCard;
using platform::Color;
using platform::DisplayList;
using platform::HitRegion;
using platform::Item;
using platform::Point;
using platform::Rect;
using platform::RoundedRect;
using platform::Shape;
using platform::Size;
using platform::Symbol;
using platform::SymbolName;
using platform::TextRun;

constexpr double contentWidth = Card::width - 2 * Card::outerPad;
// Wrapping text is never cut: far more lines than any card holds.
constexpr int unlimitedLines = 100000;
constexpr double closeFrame = 24;
constexpr double closeSymbolSize = 12;
constexpr double headlineSpacing = 6;
constexpr double chipRowSpacing = 3;
constexpr double headlineLineSpacing = 2;
constexpr double captionToLegendGap = 8;
constexpr double chipStrokeWidth = 0.5;
constexpr double linkPadX = 6;
constexpr double linkPadY = 4;
constexpr double linkRadius = 4;
// No screen is this tall, and the panel is never taller than its screen: the
// card's texts are cut to what could fill it, and legend rows that would
// start below it are not laid out.
constexpr std::size_t maxTextBytes = 16384;
constexpr double tallerThanAnyScreen = 20000;

TextRun run(const std::string& text, const Tokens::Font& font, Color color, int maxLines = 1) {
  return TextRun{.text = laidOutPart(text, maxTextBytes),
                 .fontFamily = std::string(font.family),
                 .size = font.size,
                 .weight = font.weight,
                 .color = color,
                 .maxLines = maxLines};
}

// "{accel}" and what follows it give way to the key caps; blanks around the
// rest go.
std::string headlinePrefix(const std::string& line) {
  std::string_view prefix(line);
  prefix = prefix.substr(0, prefix.find("{accel}"));
  const auto first = prefix.find_first_not_of(" \t\n\r\f\v");
  if (first == std::string_view::npos) return {};
  prefix = prefix.substr(first, prefix.find_last_not_of(" \t\n\r\f\v") - first + 1);
  return std::string(prefix);
}

class CardBuilder {
 public:
  CardBuilder(platform::TextMeasurer& text, const HelpCardHover& hover, bool increaseContrast)
      : text_(text),
        hover_(hover),
        muted_(increaseContrast ? Card::mutedHighContrast : Tokens::Text::muted) {}

  HelpCardLayout build(const HelpContent& content) {
    y_ = Card::outerPad;
    header();
    y_ += Card::headerToHeadlineGap;
    if (content.hotkeyChips.empty()) {
      headlineWithoutShortcut(content);
    } else {
      headlineWithShortcut(content);
    }
    hairline();
    y_ += textAt(run(content.legendLabel, Card::Typography::caption(), muted_, unlimitedLines),
                 {left, y_}, contentWidth)
              .height;
    y_ += captionToLegendGap;
    legend(content.legendRows);
    hairline();
    footer(content.openNolariLabel);
    y_ += Card::outerPad;
    return {std::move(list_), y_};
  }

 private:
  static constexpr double left = Card::outerPad;

  // Laid out within `width` with its top-left at `origin`; the size it takes.
  Size textAt(TextRun textRun, Point origin, double width) {
    const Size size = text_.measure(textRun, width);
    textRun.origin = origin;
    textRun.width = width;
    list_.items.push_back({std::move(textRun)});
    return size;
  }

  void push(Item item) { list_.items.push_back(std::move(item)); }

  void header() {
    TextRun title = run("Nolari", Card::Typography::title(), Tokens::Text::primary);
    const Size size = text_.measure(title, contentWidth - closeFrame);
    const double height = std::max(size.height, closeFrame);
    title.origin = {left, y_ + (height - size.height) / 2};
    title.width = contentWidth - closeFrame;
    push({std::move(title)});
    const Rect close{{left + contentWidth - closeFrame, y_ + (height - closeFrame) / 2},
                     {closeFrame, closeFrame}};
    push({Symbol{
        .name = SymbolName::xmark, .size = closeSymbolSize, .color = muted_, .box = close}});
    push({HitRegion{{close}, std::string(HELP_CARD_DISMISS)}});
    y_ += height;
  }

  // No shortcut yet: the whole first line, placeholder and all, and the chip
  // that opens the settings.
  void headlineWithoutShortcut(const HelpContent& content) {
    y_ += textAt(run(content.headlineLine1, Card::Typography::headline(), Tokens::Text::primary,
                     unlimitedLines),
                 {left, y_}, contentWidth)
              .height;
    y_ += headlineSpacing;
    TextRun label = run(content.setShortcutLabel, Card::Typography::chip(), Tokens::Text::primary);
    const double labelRoom = contentWidth - 2 * Card::Chip::kbdHorizontalPad;
    const Size size = text_.measure(label, labelRoom);
    const Rect chip{{left, y_},
                    {size.width + 2 * Card::Chip::kbdHorizontalPad, Card::Chip::kbdHeight}};
    chipFace(chip, hover_.setShortcut ? Card::Chip::hoverBackground : Card::Chip::kbdBackground);
    label.origin = {left + Card::Chip::kbdHorizontalPad, y_ + (chip.size.height - size.height) / 2};
    label.width = labelRoom;
    push({std::move(label)});
    push({HitRegion{{chip, Card::Chip::radius}, std::string(HELP_CARD_SET_SHORTCUT)}});
    y_ += chip.size.height;
  }

  // The text before the placeholder, a key cap per chip and a full stop in one
  // row, the second line below it when there is one.
  void headlineWithShortcut(const HelpContent& content) {
    constexpr Tokens::Font headline = Card::Typography::headline();
    struct Cap {
      TextRun label;
      Size text;
      double width;
    };
    std::vector<Cap> caps;
    caps.reserve(content.hotkeyChips.size());
    double capsWidth = 0;
    for (const std::string& chip : content.hotkeyChips) {
      TextRun label = run(chip, Card::Typography::chip(), Tokens::Text::primary);
      const Size size = text_.measure(label, contentWidth);
      const double width =
          std::max(size.width + 2 * Card::Chip::kbdHorizontalPad, Card::Chip::kbdMinWidth);
      capsWidth += width + chipRowSpacing;
      caps.push_back({std::move(label), size, width});
    }
    TextRun stop = run(".", headline, Tokens::Text::primary);
    const Size stopSize = text_.measure(stop, contentWidth);

    const std::string prefix = headlinePrefix(content.headlineLine1);
    TextRun before = run(prefix, headline, Tokens::Text::primary, unlimitedLines);
    // Many key caps still leave the words a third of the row, rather than a
    // column a character wide.
    const double beforeRoom =
        std::max(contentWidth - capsWidth - stopSize.width - chipRowSpacing, contentWidth / 3);
    const Size beforeSize = prefix.empty() ? Size{} : text_.measure(before, beforeRoom);
    const double rowHeight = std::max({beforeSize.height, stopSize.height, Card::Chip::kbdHeight});

    double x = left;
    if (!prefix.empty()) {
      before.origin = {x, y_ + (rowHeight - beforeSize.height) / 2};
      before.width = beforeRoom;
      push({std::move(before)});
      x += beforeSize.width + chipRowSpacing;
    }
    const double capTop = y_ + (rowHeight - Card::Chip::kbdHeight) / 2;
    for (Cap& cap : caps) {
      chipFace({{x, capTop}, {cap.width, Card::Chip::kbdHeight}}, Card::Chip::kbdBackground);
      cap.label.origin = {x + (cap.width - cap.text.width) / 2,
                          capTop + (Card::Chip::kbdHeight - cap.text.height) / 2};
      cap.label.width = contentWidth;
      push({std::move(cap.label)});
      x += cap.width + chipRowSpacing;
    }
    stop.origin = {x, y_ + (rowHeight - stopSize.height) / 2};
    stop.width = contentWidth;
    push({std::move(stop)});
    y_ += rowHeight;

    if (!content.headlineLine2.empty()) {
      y_ += headlineLineSpacing;
      y_ += textAt(run(content.headlineLine2, headline, Tokens::Text::primary, unlimitedLines),
                   {left, y_}, contentWidth)
                .height;
    }
  }

  void chipFace(const Rect& rect, Color fill) {
    push({Shape{.shape = {rect, Card::Chip::radius},
                .fill = fill,
                .stroke = platform::Stroke{chipStrokeWidth, Tokens::Stroke::primary}}});
  }

  void hairline() {
    y_ += Card::Hairline::marginV;
    push({Shape{.shape = {{{left, y_}, {contentWidth, Card::Hairline::height}}},
                .fill = Card::Hairline::color}});
    y_ += Card::Hairline::height + Card::Hairline::marginV;
  }

  // The trigger's column and the description start on the same line; the
  // taller of the two sets the row's height.
  void legend(const std::vector<HelpLegendEntry>& rows) {
    constexpr double descriptionX = left + Card::Legend::columnWidth + Card::Legend::columnGap;
    constexpr double descriptionWidth = Card::outerPad + contentWidth - descriptionX;
    for (std::size_t i = 0; i < rows.size() && y_ < tallerThanAnyScreen; ++i) {
      if (i > 0) y_ += Card::Legend::rowGap;
      std::string trigger = "/";
      trigger += rows[i].trigger;
      const Size triggerSize =
          textAt(run(trigger, Card::Typography::trigger(), Tokens::Text::primary), {left, y_},
                 Card::Legend::columnWidth);
      const Size descriptionSize = textAt(run(rows[i].description, Card::Typography::description(),
                                              Tokens::Text::secondary, unlimitedLines),
                                          {descriptionX, y_}, descriptionWidth);
      y_ += std::max(triggerSize.height, descriptionSize.height);
    }
  }

  void footer(const std::string& labelText) {
    TextRun label = run(labelText, Card::Typography::link(), Tokens::Text::primary);
    const double labelRoom = contentWidth - 2 * linkPadX;
    const Size size = text_.measure(label, labelRoom);
    const Size face{size.width + 2 * linkPadX, size.height + 2 * linkPadY};
    const Rect link{{left + contentWidth - face.width, y_}, face};
    if (hover_.openNolari) {
      push({Shape{.shape = {link, linkRadius}, .fill = Card::linkHoverFill}});
    }
    label.origin = {link.minX() + linkPadX, y_ + linkPadY};
    label.width = labelRoom;
    push({std::move(label)});
    push({HitRegion{{link, linkRadius}, std::string(HELP_CARD_OPEN_NOLARI)}});
    y_ += face.height;
  }

  platform::TextMeasurer& text_;
  const HelpCardHover hover_;
  const Color muted_;
  DisplayList list_;
  double y_ = 0;
};

// Where the item starts downwards; the card holds no groups.
double topOf(const Item& item) {
  if (const auto* shape = std::get_if<Shape>(&item.content)) return shape->shape.rect.minY();
  if (const auto* textRun = std::get_if<TextRun>(&item.content)) return textRun->origin.y;
  if (const auto* symbol = std::get_if<Symbol>(&item.content)) return symbol->box.minY();
  if (const auto* region = std::get_if<HitRegion>(&item.content)) return region->shape.rect.minY();
  return 0;
}

}  // namespace

HelpCardLayout layoutHelpCard(const HelpContent& content, const HelpCardHover& hover,
                              bool increaseContrast, platform::TextMeasurer& text) {
  return CardBuilder(text, hover, increaseContrast).build(content);
}

DisplayList drawHelpPanel(DisplayList card, Size size) {
  const RoundedRect panel{{{}, size}, Tokens::Radius::panel};
  DisplayList list;
  // There is no blur to draw behind the card: its dark layer stands over
  // whatever lies behind the window, as the action blob's does.
  list.items.push_back(
      {Shape{.shape = panel,
             .fill = Tokens::Blob::darkOverlay,
             .stroke = platform::Stroke{Tokens::Stroke::primaryWidth, Tokens::Stroke::primary}}});
  // What starts below the edge is left out rather than drawn and cut away:
  // a long legend would otherwise cost its every row on every frame.
  std::erase_if(card.items, [&](const Item& item) { return topOf(item) >= size.height; });
  list.items.push_back({platform::Group{.clip = panel, .children = std::move(card.items)}});
  return list;
}

}  // namespace nolari::ambrel
