#include "ambrel/blob/ActionBlobView.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "ambrel/blob/Animation.h"
#include "ambrel/blob/LaidOutText.h"

namespace nolari::ambrel {

namespace {

namespace Tokens = BlobDesignTokens;
using platform::Color;
using platform::DisplayList;
using platform::FontWeight;
using platform::Group;
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
using State = ActionBlobState;

constexpr double pi = std::numbers::pi;

// No window shows a pill wider or taller than this; a wild size is held here so
// that it cannot make wild geometry.
constexpr double maxSide = 4096;
// Two lines of the narrowest glyphs across the widest pill take fewer bytes;
// a longer message is cut here before it is laid out, so that a huge one
// costs no more than one that just overflows.
constexpr std::size_t maxShownBytes = 8192;
// An age long past every transition and spring.
constexpr double settledAge = 1e9;

constexpr Color foreground = Tokens::Text::primary;
constexpr Color muted = Tokens::Text::muted;
constexpr Color amber = Tokens::Status::processing;
constexpr Color green = Tokens::Status::success;
constexpr Color red = Tokens::Status::error;

Color faded(Color color, double opacity) {
  color.alpha *= opacity;
  return color;
}

double side(double length) { return std::isnan(length) ? 0 : std::clamp(length, 0.0, maxSide); }

Size saneSize(Size size) { return {side(size.width), side(size.height)}; }

// NaN as long settled, a negative age as just come on screen.
double saneAge(double age) {
  return std::isnan(age) ? settledAge : std::clamp(age, 0.0, settledAge);
}

double easeInOut(double t) { return Timing::easeInOut(1).progress(t); }

// A repeating animation that reverses on each repeat, with halves of `half`
// seconds: 0 at `age` 0, 1 after one half, 0 again after two.
double swing(double age, double half) {
  if (age <= 0) return 0;
  const double within = std::fmod(age, 2 * half);
  return easeInOut((within < half ? within : 2 * half - within) / half);
}

// The transitions' progress `age` seconds after they began.
double transitionProgress(double age) { return easeInOut(age / BLOB_CONTENT_TRANSITION); }

// The check pops in on a spring of mass 1, stiffness 300 and damping 15,
// started at rest: under-damped, it overshoots by about a fifth.
const Timing CHECK_SPRING = Timing::interpolatingSpring(1, 300, 15);

enum class Content {
  none,
  idleMenu,
  readyMenu,
  readyLabel,
  dots,
  waveform,
  check,
  collapsedError,
  expandedError,
  info,
};

const State::Error* errorOf(const State& state) {
  return std::get_if<State::Error>(&state.value());
}

// Only an error with more to say expands when hovered.
bool expandsError(const ActionBlobRoot& root) {
  const State::Error* error = errorOf(root.state);
  return error != nullptr && root.isHovered && !error->longMessage.empty();
}

Content contentOf(const ActionBlobRoot& root) {
  const State& state = root.state;
  if (state.is<State::Idle>()) return root.isHovered ? Content::idleMenu : Content::none;
  if (state.is<State::Processing>() || state.is<State::Transcribing>() ||
      state.is<State::Editing>()) {
    return Content::dots;
  }
  if (state.is<State::Recording>()) return Content::waveform;
  if (state.is<State::Ready>()) return root.isHovered ? Content::readyMenu : Content::readyLabel;
  if (state.is<State::Success>()) return Content::check;
  if (state.is<State::Error>()) {
    return expandsError(root) ? Content::expandedError : Content::collapsedError;
  }
  if (state.is<State::Info>()) return Content::info;
  return Content::none;
}

bool loops(Content content) {
  return content == Content::dots || content == Content::readyLabel || content == Content::waveform;
}

// The menus and the expanded error grow in while they fade in; the rest only
// fade.
bool growsIn(Content content) {
  return content == Content::idleMenu || content == Content::readyMenu ||
         content == Content::expandedError;
}

double cornerRadius(const ActionBlobRoot& root) {
  const State& state = root.state;
  if (state.is<State::Error>() || state.is<State::Info>()) return Tokens::Radius::pillExpanded;
  if (state.is<State::Idle>() || state.is<State::Disabled>()) {
    return root.isHovered ? Tokens::Radius::pillExpanded : Tokens::Radius::pillThin;
  }
  return Tokens::Radius::pillStandard;
}

double contentPadding(const ActionBlobRoot& root) {
  const State& state = root.state;
  if (state.is<State::Error>()) return expandsError(root) ? 10 : 6;
  if (state.is<State::Disabled>()) return 0;
  if (state.is<State::Idle>()) return root.isHovered ? 6 : 0;
  return 6;
}

// Laid-out content in coordinates of its own, its top-left corner at the
// origin.
struct Block {
  Size size{};
  std::vector<Item> items{};
};

void move(Point& point, Point by) {
  point.x += by.x;
  point.y += by.y;
}

void translate(Item& item, Point by) {
  if (auto* shape = std::get_if<Shape>(&item.content)) {
    move(shape->shape.rect.origin, by);
  } else if (auto* run = std::get_if<TextRun>(&item.content)) {
    move(run->origin, by);
  } else if (auto* symbol = std::get_if<Symbol>(&item.content)) {
    move(symbol->box.origin, by);
  } else if (auto* region = std::get_if<HitRegion>(&item.content)) {
    move(region->shape.rect.origin, by);
  } else if (auto* group = std::get_if<Group>(&item.content)) {
    move(group->anchor, by);
    if (group->clip) move(group->clip->rect.origin, by);
    for (Item& child : group->children) translate(child, by);
  }
}

void place(std::vector<Item>& into, Block& block, Point at) {
  for (Item& item : block.items) {
    translate(item, at);
    into.push_back(std::move(item));
  }
  block.items.clear();
}

enum class Align { centre, top };

// Side by side `spacing` apart, each centred on the row's middle or hung
// from its top.
Block row(std::vector<Block> children, double spacing, Align align = Align::centre) {
  Block out;
  for (const Block& child : children)
    out.size.height = std::max(out.size.height, child.size.height);
  double x = 0;
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (i > 0) x += spacing;
    Block& child = children[i];
    const double y = align == Align::top ? 0 : (out.size.height - child.size.height) / 2;
    place(out.items, child, {x, y});
    x += child.size.width;
  }
  out.size.width = x;
  return out;
}

// One above the other `spacing` apart, at the leading edge.
Block column(std::vector<Block> children, double spacing) {
  Block out;
  double y = 0;
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (i > 0) y += spacing;
    Block& child = children[i];
    place(out.items, child, {0, y});
    y += child.size.height;
    out.size.width = std::max(out.size.width, child.size.width);
  }
  out.size.height = y;
  return out;
}

Block padded(Block block, double horizontal, double vertical) {
  Block out{{block.size.width + 2 * horizontal, block.size.height + 2 * vertical}};
  place(out.items, block, {horizontal, vertical});
  return out;
}

Block gap(double width) { return Block{{width, 0}}; }

// A circle `diameter` wide in the layout, drawn scaled about its centre as a
// scale effect draws it.
Block circle(double diameter, Color color, double scale = 1, double opacity = 1) {
  const double drawn = diameter * scale;
  const double inset = (diameter - drawn) / 2;
  Block out{{diameter, diameter}};
  out.items.push_back(
      {Shape{.shape = {{{inset, inset}, {drawn, drawn}}, drawn / 2}, .fill = color}, opacity});
  return out;
}

Block divider() {
  constexpr Size size{1, 12};
  Block out{size};
  out.items.push_back({Shape{.shape = {{{}, size}}, .fill = Tokens::Stroke::primary}});
  return out;
}

// A symbol takes a square of its point size in the layout, as a symbol image
// at that font size roughly does.
Block symbol(SymbolName name, double size, FontWeight weight, Color color) {
  Block out{{size, size}};
  out.items.push_back({Symbol{
      .name = name, .size = size, .weight = weight, .color = color, .box = {{}, {size, size}}}});
  return out;
}

TextRun systemText(std::string_view text, double size, FontWeight weight, Color color) {
  return TextRun{.text = std::string(text), .size = size, .weight = weight, .color = color};
}

// Builds the content of one pill. Content that is leaving is built without
// hit regions: it no longer takes clicks while it fades.
class Builder {
 public:
  Builder(platform::TextMeasurer& text, bool interactive)
      : text_(text), interactive_(interactive) {}

  Block content(const ActionBlobRoot& root, Content kind, double age, double level, double width) {
    switch (kind) {
      case Content::none:
        return {};
      case Content::idleMenu:
        return idleMenu(root.context.hasLastResult);
      case Content::readyMenu:
        return readyMenu();
      case Content::readyLabel:
        return readyLabel(age, width);
      case Content::dots:
        return dots(age);
      case Content::waveform:
        return waveform(age, level);
      case Content::check:
        return check(age);
      case Content::collapsedError:
        return collapsedError(root.state.message(), width);
      case Content::expandedError: {
        const State::Error* error = errorOf(root.state);
        return expandedError(error->message, error->longMessage, width);
      }
      case Content::info:
        return info(root.state.message(), width);
    }
    return {};
  }

 private:
  // `run` laid out within `maxWidth`, taking the size it is drawn at.
  Block text(TextRun run, double maxWidth) {
    Block out;
    if (!(maxWidth > 0)) return out;
    run.text = laidOutPart(run.text, maxShownBytes);
    run.width = maxWidth;
    const Size measured = text_.measure(run, maxWidth);
    out.size = {std::min(side(measured.width), maxWidth), side(measured.height)};
    out.items.push_back({std::move(run)});
    return out;
  }

  Block button(Block label, BlobAction action) {
    if (interactive_) {
      label.items.push_back({HitRegion{{{{}, label.size}}, std::string(rawValue(action))}});
    }
    return label;
  }

  Block quickButton(SymbolName name, std::string_view label, BlobAction action,
                    bool accent = false) {
    const Color color = accent ? amber : foreground;
    Block content = row({symbol(name, 9, FontWeight::medium, color),
                         text(systemText(label, 10, FontWeight::medium, color), maxSide)},
                        3);
    return button(padded(std::move(content), 3, 1), action);
  }

  Block idleMenu(bool hasLastResult) {
    std::vector<Block> items;
    if (hasLastResult) {
      items.push_back(
          quickButton(SymbolName::arrowCounterclockwise, "Retry", BlobAction::retry, true));
      items.push_back(divider());
    }
    items.push_back(quickButton(SymbolName::questionmarkCircle, "Help", BlobAction::help));
    items.push_back(divider());
    items.push_back(quickButton(SymbolName::gearshape, "Nolari", BlobAction::openNolari));
    return row(std::move(items), 6);
  }

  Block readyMenu() {
    std::vector<Block> items;
    items.push_back(quickButton(SymbolName::returnKey, "Insert", BlobAction::tap, true));
    items.push_back(divider());
    items.push_back(quickButton(SymbolName::docOnDoc, "Copy", BlobAction::copyLast));
    items.push_back(divider());
    items.push_back(quickButton(SymbolName::xmark, "Discard", BlobAction::discard));
    return row(std::move(items), 6);
  }

  Block readyLabel(double age, double width) {
    constexpr Tokens::Font font = Tokens::Typography::readyLabel();
    const double swell = 1 + 0.35 * swing(age, Tokens::Motion::breathingDotDuration.count());
    std::vector<Block> items;
    items.push_back(circle(5, amber, swell));
    items.push_back(text(TextRun{.text = "Click to insert",
                                 .fontFamily = std::string(font.family),
                                 .size = font.size,
                                 .weight = font.weight,
                                 .color = foreground,
                                 .letterSpacing = 0.1},
                         width - 5 - 6));
    return row(std::move(items), 6);
  }

  // Each dot pulses with a 0.9 s period, 0.3 s behind the one before it, and
  // rests dim and small until its pulse starts.
  static Block dots(double age) {
    std::vector<Block> items;
    for (int dot = 0; dot < 3; ++dot) {
      const double pulse = swing(age - 0.3 * dot, 0.45);
      items.push_back(circle(4.5, foreground, 0.7 + 0.3 * pulse, 0.18 + 0.82 * pulse));
    }
    return row(std::move(items), 4);
  }

  // The phase goes round once every 0.6 s; a silent microphone still moves
  // the bars a little.
  static Block waveform(double age, double level) {
    const double phase = 2 * pi * std::fmod(age, 0.6) / 0.6;
    std::vector<Block> bars;
    for (const double offset : {0.0, 0.66, 1.33}) {
      const double wave = (std::sin(phase + offset) + 1) / 2;
      const Size size{2, 3 + 7 * level * wave};
      Block bar{size};
      bar.items.push_back({Shape{.shape = {{{}, size}, 1}, .fill = Tokens::Status::recording}});
      bars.push_back(std::move(bar));
    }
    return row(std::move(bars), 2);
  }

  static Block check(double age) {
    constexpr double size = 11;
    const double scale = CHECK_SPRING.progress(age);
    const double drawn = size * scale;
    const double inset = (size - drawn) / 2;
    Block out{{size, size}};
    out.items.push_back({Symbol{.name = SymbolName::checkmark,
                                .size = drawn,
                                .weight = FontWeight::semibold,
                                .color = green,
                                .box = {{inset, inset}, {drawn, drawn}}},
                         std::clamp(scale, 0.0, 1.0)});
    return out;
  }

  // The message takes what the dot and the close button leave, and the space
  // after it pushes the button to the trailing edge.
  Block collapsedError(std::string_view message, double width) {
    constexpr double spacing = 6;
    constexpr double minSpace = 4;
    Block dot = circle(5, red);
    Block close =
        button(symbol(SymbolName::xmark, 9, FontWeight::semibold, muted), BlobAction::dismiss);
    const double fixed = dot.size.width + close.size.width + 3 * spacing;
    Block shown =
        text(systemText(message, 11, FontWeight::medium, foreground), width - fixed - minSpace);
    const double space = std::max(minSpace, width - fixed - shown.size.width);
    std::vector<Block> items;
    items.push_back(std::move(dot));
    items.push_back(std::move(shown));
    items.push_back(gap(space));
    items.push_back(std::move(close));
    return row(std::move(items), spacing);
  }

  // Stretched across the pill with everything at the leading edge. The short
  // message keeps to one line, as in the collapsed form, so that a long one
  // cannot push the rows out of the pill.
  Block expandedError(std::string_view message, std::string_view longMessage, double width) {
    std::vector<Block> header;
    header.push_back(circle(5, red));
    header.push_back(text(systemText(message, 11, FontWeight::semibold, foreground), width - 11));

    TextRun moreLink = systemText("… more", 10, FontWeight::medium, faded(foreground, 0.85));
    moreLink.underline = true;
    Block more = button(text(std::move(moreLink), maxSide), BlobAction::errorMore);
    TextRun details = systemText(longMessage, 10, FontWeight::regular, muted);
    details.maxLines = 2;
    std::vector<Block> detailRow;
    detailRow.push_back(text(std::move(details), width - 4 - more.size.width));
    detailRow.push_back(std::move(more));

    std::vector<Block> actions;
    actions.push_back(
        quickButton(SymbolName::arrowCounterclockwise, "Retry", BlobAction::retry, true));
    actions.push_back(quickButton(SymbolName::xmark, "Dismiss", BlobAction::dismiss));

    std::vector<Block> rows;
    rows.push_back(row(std::move(header), 6));
    rows.push_back(row(std::move(detailRow), 4, Align::top));
    rows.push_back(row(std::move(actions), 10));
    Block out = padded(column(std::move(rows), 4), 0, 8);
    out.size.width = std::max(out.size.width, width);
    return out;
  }

  Block info(std::string_view message, double width) {
    return text(systemText(message, 11, FontWeight::regular, faded(foreground, 0.9)), width);
  }

  platform::TextMeasurer& text_;
  bool interactive_;
};

Rect pillIn(Size window, Size visual) {
  const Size pill = saneSize(visual);
  return {{(window.width - pill.width) / 2, (window.height - pill.height) / 2}, pill};
}

// The content of `root` in `pill`, as one layer that fades and scales about
// the pill's centre.
Item contentLayer(Builder& builder, const ActionBlobRoot& root, Content kind, const Rect& pill,
                  double age, double level, double opacity, double scale) {
  const double padding = contentPadding(root);
  const double width = std::max(pill.size.width - 2 * padding, 0.0);
  Block block = builder.content(root, kind, age, level, width);
  const double centreX = pill.origin.x + pill.size.width / 2;
  const double centreY = pill.origin.y + pill.size.height / 2;
  const double x =
      kind == Content::expandedError ? pill.origin.x + padding : centreX - block.size.width / 2;
  Group layer;
  layer.scale = scale;
  layer.anchor = {centreX, centreY};
  place(layer.children, block, {x, centreY - block.size.height / 2});
  return {std::move(layer), opacity};
}

}  // namespace

DisplayList drawActionBlob(const ActionBlobRoot& root, const BlobMoment& moment,
                           platform::TextMeasurer& text) {
  DisplayList list;
  const Size window = saneSize(root.outerSize);
  const RoundedRect pill{pillIn(window, root.visualSize), cornerRadius(root)};

  // There is no blur to draw behind the pill: its dark layer stands over
  // whatever lies behind the window.
  if (root.state.isDisabled()) {
    list.items.push_back({Shape{.shape = pill,
                                .stroke = platform::Stroke{Tokens::Blob::disabledStrokeWidth,
                                                           Tokens::Blob::disabledStroke}}});
  } else {
    list.items.push_back(
        {Shape{.shape = pill,
               .fill = Tokens::Blob::darkOverlay,
               .stroke = platform::Stroke{Tokens::Stroke::primaryWidth, Tokens::Stroke::primary}}});
  }
  const double ring = std::isnan(moment.ringOpacity) ? 0 : std::clamp(moment.ringOpacity, 0.0, 1.0);
  if (ring > 0) {
    list.items.push_back({Shape{.shape = pill,
                                .stroke = platform::Stroke{Tokens::Blob::rejectFlashWidth,
                                                           Tokens::Blob::rejectFlashColor}},
                          ring});
  }
  list.items.push_back({HitRegion{pill, std::string(rawValue(BlobAction::tap))}});

  const double level =
      std::isnan(moment.audioLevel) ? 0.15 : std::clamp(moment.audioLevel, 0.15, 1.0);
  if (moment.leaving) {
    const Content kind = contentOf(*moment.leaving);
    const double fade = transitionProgress(saneAge(moment.leavingAge));
    if (kind != Content::none && fade < 1) {
      Builder builder(text, false);
      list.items.push_back(contentLayer(builder, *moment.leaving, kind,
                                        pillIn(window, moment.leaving->visualSize),
                                        saneAge(moment.leavingContentAge), level, 1 - fade, 1));
    }
  }
  const Content kind = contentOf(root);
  if (kind != Content::none) {
    const double age = saneAge(moment.contentAge);
    const double shown = transitionProgress(age);
    Builder builder(text, true);
    list.items.push_back(contentLayer(builder, root, kind, pill.rect, age, level, shown,
                                      growsIn(kind) ? 0.88 + 0.12 * shown : 1));
  }
  return list;
}

bool actionBlobAnimates(const ActionBlobRoot& root, const BlobMoment& moment) {
  const Content kind = contentOf(root);
  const double age = saneAge(moment.contentAge);
  if (kind != Content::none && (loops(kind) || age < BLOB_CONTENT_TRANSITION)) return true;
  if (kind == Content::check && age < CHECK_SPRING.duration) return true;
  return moment.leaving && contentOf(*moment.leaving) != Content::none &&
         saneAge(moment.leavingAge) < BLOB_CONTENT_TRANSITION;
}

}  // namespace nolari::ambrel
