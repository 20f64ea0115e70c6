#include "ambrel/blob/ActionBlobView.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "ambrel/blob/DesignTokens.h"
#include "platform/cairo/TextMeasure.h"

// The blob's frames laid out with the real text engine, checked through what
// a click hits and where the drawn items land.

namespace nolari::ambrel {
namespace {

namespace Tokens = BlobDesignTokens;
namespace BlobSize = Tokens::BlobSize;
using platform::Color;
using platform::DisplayList;
using platform::Item;
using platform::Point;
using platform::Rect;
using platform::Shape;
using platform::Size;
using platform::Symbol;
using platform::SymbolName;
using platform::TextRun;
using State = ActionBlobState;

ActionBlobRoot blob(State state, bool hovered, Size pill, Size windowBasis,
                    BlobContext context = {}) {
  return {.state = std::move(state),
          .context = std::move(context),
          .isHovered = hovered,
          .visualSize = pill,
          .outerSize = BlobSize::outerFrame(windowBasis)};
}

Rect pillOf(const ActionBlobRoot& root) {
  return {{(root.outerSize.width - root.visualSize.width) / 2,
           (root.outerSize.height - root.visualSize.height) / 2},
          root.visualSize};
}

Point centre(const Rect& r) { return {r.minX() + r.size.width / 2, r.minY() + r.size.height / 2}; }

bool within(const Rect& inner, const Rect& outer) {
  constexpr double slack = 0.01;
  return inner.minX() >= outer.minX() - slack && inner.maxX() <= outer.maxX() + slack &&
         inner.minY() >= outer.minY() - slack && inner.maxY() <= outer.maxY() + slack;
}

// A drawn item, its rectangle in the window through its groups' scales, and
// the opacity it shows with.
struct Placed {
  const Item* item;
  Rect box;
  double opacity;
};

class ActionBlobViewTest : public ::testing::Test {
 protected:
  DisplayList draw(const ActionBlobRoot& root, const BlobMoment& moment = {}) {
    return drawActionBlob(root, moment, text_);
  }

  // The items point into `list`, so a list that is about to go is refused.
  std::vector<Placed> placed(const DisplayList&&) = delete;
  template <typename T>
  std::vector<Placed> placedOf(const DisplayList&&) = delete;
  std::vector<Placed> shapesFilled(const DisplayList&&, Color) = delete;

  std::vector<Placed> placed(const DisplayList& list) {
    std::vector<Placed> out;
    collect(list.items, 1, {}, 1, out);
    return out;
  }

  template <typename T>
  std::vector<Placed> placedOf(const DisplayList& list) {
    std::vector<Placed> out;
    for (const Placed& p : placed(list)) {
      if (std::holds_alternative<T>(p.item->content)) out.push_back(p);
    }
    return out;
  }

  // Where the text `text` is drawn; fails the test when it is not.
  Rect textBox(const DisplayList& list, const std::string& text) {
    for (const Placed& p : placedOf<TextRun>(list)) {
      if (std::get<TextRun>(p.item->content).text == text) return p.box;
    }
    ADD_FAILURE() << "no text \"" << text << "\"";
    return {};
  }

  Rect symbolBox(const DisplayList& list, SymbolName name) {
    for (const Placed& p : placedOf<Symbol>(list)) {
      if (std::get<Symbol>(p.item->content).name == name) return p.box;
    }
    ADD_FAILURE() << "no symbol " << static_cast<int>(name);
    return {};
  }

  std::vector<Placed> shapesFilled(const DisplayList& list, Color fill) {
    std::vector<Placed> out;
    for (const Placed& p : placedOf<Shape>(list)) {
      if (std::get<Shape>(p.item->content).fill == fill) out.push_back(p);
    }
    return out;
  }

  platform::PangoTextMeasurer text_;

 private:
  void collect(const std::vector<Item>& items, double scale, Point offset, double opacity,
               std::vector<Placed>& out) {
    const auto map = [&](const Rect& r) {
      return Rect{{r.minX() * scale + offset.x, r.minY() * scale + offset.y},
                  {r.size.width * scale, r.size.height * scale}};
    };
    for (const Item& item : items) {
      const double shown = opacity * item.opacity;
      if (const auto* shape = std::get_if<Shape>(&item.content)) {
        out.push_back({&item, map(shape->shape.rect), shown});
      } else if (const auto* run = std::get_if<TextRun>(&item.content)) {
        out.push_back({&item, map({run->origin, text_.measure(*run, run->width)}), shown});
      } else if (const auto* symbol = std::get_if<Symbol>(&item.content)) {
        out.push_back({&item, map(symbol->box), shown});
      } else if (const auto* region = std::get_if<platform::HitRegion>(&item.content)) {
        out.push_back({&item, map(region->shape.rect), shown});
      } else if (const auto* group = std::get_if<platform::Group>(&item.content)) {
        // p ↦ anchor + s·(p − anchor), then the parent's own mapping.
        const Point inner{group->anchor.x * (1 - group->scale),
                          group->anchor.y * (1 - group->scale)};
        collect(group->children, scale * group->scale,
                {offset.x + scale * inner.x, offset.y + scale * inner.y}, shown, out);
      }
    }
  }
};

TEST_F(ActionBlobViewTest, ClicksReachTheButtonUnderThem) {
  const auto hit = [](const DisplayList& list, Point at) {
    return platform::hitTest(list, at).value_or("(nothing)");
  };

  const ActionBlobRoot readyMenu =
      blob(State::Ready{}, true, BlobSize::idleHover, BlobSize::idleHover);
  const DisplayList ready = draw(readyMenu);
  EXPECT_EQ(hit(ready, centre(textBox(ready, "Copy"))), "copyLast");
  EXPECT_EQ(hit(ready, centre(textBox(ready, "Insert"))), "tap");
  EXPECT_EQ(hit(ready, centre(textBox(ready, "Discard"))), "discard");
  const Rect pill = pillOf(readyMenu);
  EXPECT_EQ(hit(ready, {pill.minX() + 3, centre(pill).y}), "tap");
  EXPECT_EQ(hit(ready, {1, 1}), "(nothing)") << "the window's margin is not the pill";
  // Just come on screen, the menu has not faded in yet; the label it replaces
  // fades out and takes no clicks either.
  const ActionBlobRoot readyLabel =
      blob(State::Ready{}, false, BlobSize::ready, BlobSize::idleHover);
  const DisplayList appearing = draw(readyMenu, {.contentAge = 0, .leaving = readyLabel});
  EXPECT_EQ(hit(appearing, centre(textBox(ready, "Copy"))), "tap");
  EXPECT_EQ(hit(draw(readyLabel, {.leaving = readyMenu}), centre(textBox(ready, "Copy"))), "tap");

  for (const bool hasLastResult : {false, true}) {
    SCOPED_TRACE(hasLastResult);
    const DisplayList idle = draw(
        blob(State::Idle{}, true, hasLastResult ? BlobSize::idleHover : BlobSize::idleHoverMinimal,
             BlobSize::idleHover, {.hasLastResult = hasLastResult}));
    EXPECT_EQ(hit(idle, centre(textBox(idle, "Help"))), "help");
    EXPECT_EQ(hit(idle, centre(textBox(idle, "Nolari"))), "openNolari");
    bool offersRetry = false;
    for (const Placed& p : placedOf<TextRun>(idle)) {
      if (std::get<TextRun>(p.item->content).text == "Retry") {
        offersRetry = true;
        EXPECT_EQ(hit(idle, centre(p.box)), "retry");
        EXPECT_EQ(std::get<TextRun>(p.item->content).color, Tokens::Status::processing);
      }
    }
    EXPECT_EQ(offersRetry, hasLastResult);
  }

  for (const ActionBlobRoot& root :
       {blob(State::Processing{}, false, BlobSize::processing, BlobSize::processing),
        blob(State::Recording{}, false, BlobSize::recording, BlobSize::recording),
        blob(State::Disabled{"Offline"}, false, BlobSize::disabled, BlobSize::idleHover)}) {
    EXPECT_EQ(hit(draw(root), centre(pillOf(root))), "tap") << root.state.stringValue();
  }

  const DisplayList expanded = draw(blob(State::Error{"Timed out", "The service did not answer."},
                                         true, BlobSize::errorExpanded, BlobSize::errorExpanded));
  EXPECT_EQ(hit(expanded, centre(textBox(expanded, "Retry"))), "retry");
  EXPECT_EQ(hit(expanded, centre(textBox(expanded, "Dismiss"))), "dismiss");
  EXPECT_EQ(hit(expanded, centre(textBox(expanded, "… more"))), "errorMore");
  EXPECT_EQ(hit(expanded, centre(textBox(expanded, "The service did not answer."))), "tap");

  const ActionBlobRoot collapsedError =
      blob(State::Error{"Timed out"}, false, BlobSize::errorCollapsed, BlobSize::errorCollapsed);
  const DisplayList collapsed = draw(collapsedError);
  const Rect close = symbolBox(collapsed, SymbolName::xmark);
  EXPECT_EQ(hit(collapsed, centre(close)), "dismiss");
  EXPECT_EQ(hit(collapsed, centre(textBox(collapsed, "Timed out"))), "tap");
  EXPECT_NEAR(close.maxX(), pillOf(collapsedError).maxX() - 6, 0.01)
      << "the space pushes the close button to the trailing padding";
}

TEST_F(ActionBlobViewTest, PillShapeAndPaddingFollowTheState) {
  struct Case {
    ActionBlobRoot root;
    double radius;
  };
  const Case cases[] = {
      {blob(State::Idle{}, false, BlobSize::idle, BlobSize::idleHover), 3.5},
      {blob(State::Idle{}, true, BlobSize::idleHoverMinimal, BlobSize::idleHover), 11},
      {blob(State::Disabled{"Offline"}, false, BlobSize::disabled, BlobSize::idleHover), 3.5},
      {blob(State::Processing{}, false, BlobSize::processing, BlobSize::processing), 8},
      {blob(State::Ready{}, false, BlobSize::ready, BlobSize::idleHover), 8},
      {blob(State::Success{}, false, BlobSize::success, BlobSize::success), 8},
      {blob(State::Recording{}, false, BlobSize::recording, BlobSize::recording), 8},
      {blob(State::Info{"Copied"}, false, BlobSize::errorCollapsed, BlobSize::errorCollapsed), 11},
      {blob(State::Error{"Timed out", "Details"}, true, BlobSize::errorExpanded,
            BlobSize::errorExpanded),
       11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root.state.stringValue());
    const DisplayList list = draw(c.root);
    ASSERT_FALSE(list.items.empty());
    const auto& background = std::get<Shape>(list.items.front().content);
    EXPECT_EQ(background.shape.rect, pillOf(c.root)) << "centred in the window";
    EXPECT_EQ(background.shape.cornerRadius, c.radius);
    ASSERT_TRUE(background.stroke);
    EXPECT_EQ(background.stroke->width, 0.5);
    if (c.root.state.isDisabled()) {
      EXPECT_FALSE(background.fill) << "a border alone";
      EXPECT_EQ(background.stroke->color, Tokens::Blob::disabledStroke);
      EXPECT_EQ(list.items.size(), 2u) << "and the pill's click";
    } else {
      EXPECT_EQ(background.fill, Tokens::Blob::darkOverlay);
      EXPECT_EQ(background.stroke->color, Tokens::Stroke::primary);
    }
  }

  // The error's dot marks the leading padding: wider when it expands.
  for (const bool expands : {false, true}) {
    const ActionBlobRoot root =
        blob(State::Error{"Timed out", "Details"}, expands,
             expands ? BlobSize::errorExpanded : BlobSize::errorCollapsed, BlobSize::errorExpanded);
    const DisplayList list = draw(root);
    const auto dots = shapesFilled(list, Tokens::Status::error);
    ASSERT_EQ(dots.size(), 1u);
    EXPECT_NEAR(dots[0].box.minX(), pillOf(root).minX() + (expands ? 10 : 6), 0.01);
  }

  // The rejection ring lies inside the pill's edge at the opacity it is
  // faded to.
  const ActionBlobRoot processing =
      blob(State::Processing{}, false, BlobSize::processing, BlobSize::processing);
  for (const double opacity : {0.0, 0.4}) {
    int rings = 0;
    const DisplayList list = draw(processing, {.ringOpacity = opacity});
    for (const Placed& p : placedOf<Shape>(list)) {
      const auto& shape = std::get<Shape>(p.item->content);
      if (!shape.stroke || shape.stroke->color != Tokens::Blob::rejectFlashColor) continue;
      ++rings;
      EXPECT_EQ(shape.stroke->width, 1.5);
      EXPECT_EQ(shape.shape.rect, pillOf(processing));
      EXPECT_EQ(p.opacity, opacity);
    }
    EXPECT_EQ(rings, opacity > 0 ? 1 : 0);
  }
}

TEST_F(ActionBlobViewTest, AnimationsRunOnTheContentsAge) {
  // Each dot's own opacity, and its drawn width, at `age`.
  const ActionBlobRoot processing =
      blob(State::Processing{}, false, BlobSize::processing, BlobSize::processing);
  const auto dots = [&](double age) {
    std::vector<std::pair<double, double>> out;
    const DisplayList list = draw(processing, {.contentAge = age});
    for (const Placed& p : shapesFilled(list, Tokens::Text::primary)) {
      out.emplace_back(p.item->opacity, p.box.size.width);
    }
    EXPECT_EQ(out.size(), 3u);
    out.resize(3);
    return out;
  };
  const auto early = dots(0.2);
  EXPECT_GT(early[0].first, 0.18) << "the first dot starts at once";
  EXPECT_EQ(early[1], std::make_pair(0.18, 4.5 * 0.7)) << "the others wait, dim and small";
  EXPECT_EQ(early[2], early[1]);
  EXPECT_EQ(dots(0.45)[0], std::make_pair(1.0, 4.5)) << "full after half a period";
  for (const double age : {0.1, 0.3, 0.7}) {
    SCOPED_TRACE(age);
    const double first = dots(age)[0].first;
    EXPECT_NEAR(dots(age + 0.3)[1].first, first, 1e-9);
    EXPECT_NEAR(dots(age + 0.6)[2].first, first, 1e-9);
    EXPECT_NEAR(dots(age + 0.9)[0].first, first, 1e-9) << "a 0.9 s period";
  }

  // The bars' heights for a level, `age` seconds in; each bar is centred on
  // the pill's middle.
  const ActionBlobRoot recording =
      blob(State::Recording{}, false, BlobSize::recording, BlobSize::recording);
  const auto bars = [&](double level, double age) {
    std::vector<double> out;
    const DisplayList list = draw(recording, {.contentAge = age, .audioLevel = level});
    for (const Placed& p : shapesFilled(list, Tokens::Status::recording)) {
      out.push_back(p.box.size.height);
      EXPECT_NEAR(centre(p.box).y, centre(pillOf(recording)).y, 1e-9);
    }
    EXPECT_EQ(out.size(), 3u);
    out.resize(3);
    return out;
  };
  const double offsets[] = {0, 0.66, 1.33};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const double wave = (std::sin(offsets[i]) + 1) / 2;
    EXPECT_NEAR(bars(0, 0)[i], 3 + 7 * 0.15 * wave, 1e-9) << "a silent level counts as 0.15";
    EXPECT_NEAR(bars(nan, 0)[i], 3 + 7 * 0.15 * wave, 1e-9);
    EXPECT_NEAR(bars(7, 0)[i], 3 + 7 * wave, 1e-9) << "a level past 1 counts as 1";
    const double quarterWave = (std::sin(std::numbers::pi / 2 + offsets[i]) + 1) / 2;
    EXPECT_NEAR(bars(1, 0.15)[i], 3 + 7 * quarterWave, 1e-9) << "once round every 0.6 s";
    EXPECT_NEAR(bars(0.5, 0.6)[i], bars(0.5, 0)[i], 1e-9);
  }

  // The check springs past its size and settles on it.
  const ActionBlobRoot success =
      blob(State::Success{}, false, BlobSize::success, BlobSize::success);
  const auto check = [&](double age) {
    const DisplayList list = draw(success, {.contentAge = age});
    const auto symbols = placedOf<Symbol>(list);
    EXPECT_EQ(symbols.size(), 1u);
    return std::make_pair(symbols.at(0).item->opacity, symbols.at(0).box.size.width / 11);
  };
  EXPECT_EQ(check(0), std::make_pair(0.0, 0.0));
  double largest = 0;
  for (double age = 0; age < 0.5; age += 0.005) largest = std::max(largest, check(age).second);
  EXPECT_GT(largest, 1.15);
  EXPECT_LT(largest, 1.3);
  EXPECT_EQ(check(1.5), std::make_pair(1.0, 1.0));

  const ActionBlobRoot idle = blob(State::Idle{}, false, BlobSize::idle, BlobSize::idleHover);
  const ActionBlobRoot idleMenu =
      blob(State::Idle{}, true, BlobSize::idleHoverMinimal, BlobSize::idleHover);
  const ActionBlobRoot readyMenu =
      blob(State::Ready{}, true, BlobSize::idleHover, BlobSize::idleHover);
  struct Case {
    const char* name;
    ActionBlobRoot root;
    BlobMoment moment;
    bool animates;
  };
  const Case cases[] = {
      {"idle", idle, {}, false},
      {"idle menu growing in", idleMenu, {.contentAge = 0.1}, true},
      {"idle menu", idleMenu, {.contentAge = 0.3}, false},
      {"disabled",
       blob(State::Disabled{"Offline"}, false, BlobSize::disabled, BlobSize::idleHover),
       {.contentAge = 0},
       false},
      {"error",
       blob(State::Error{"Timed out"}, false, BlobSize::errorCollapsed, BlobSize::errorCollapsed),
       {},
       false},
      {"ready menu", readyMenu, {}, false},
      {"processing", processing, {}, true},
      {"recording", recording, {}, true},
      {"ready label", blob(State::Ready{}, false, BlobSize::ready, BlobSize::idleHover), {}, true},
      {"check springing", success, {.contentAge = 0.6}, true},
      {"check settled", success, {.contentAge = 1.5}, false},
      {"menu fading out", idle, {.leaving = readyMenu, .leavingAge = 0.2}, true},
      {"menu faded out", idle, {.leaving = readyMenu, .leavingAge = 0.25}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(actionBlobAnimates(c.root, c.moment), c.animates) << c.name;
  }
}

TEST_F(ActionBlobViewTest, LongMessagesAreCutToTheirLinesInsideThePill) {
  const std::string message =
      "The transcription service did not answer within thirty seconds.\nCheck the network "
      "connection and try again; the recording is kept until you dismiss it.";
  // The message's run, laid out as it is drawn: how many lines it takes and
  // whether it was cut.
  const auto layout = [&](const DisplayList& list) {
    for (const Placed& p : placedOf<TextRun>(list)) {
      const auto& run = std::get<TextRun>(p.item->content);
      if (run.text != message) continue;
      const platform::LayoutPtr laidOut = text_.layout(run, run.width);
      return std::make_pair(pango_layout_get_line_count(laidOut.get()),
                            pango_layout_is_ellipsized(laidOut.get()) != 0);
    }
    ADD_FAILURE() << "the message is not drawn";
    return std::make_pair(0, false);
  };
  const auto everythingInside = [&](const ActionBlobRoot& root, const DisplayList& list) {
    const Rect pill = pillOf(root);
    for (const Placed& p : placed(list)) {
      EXPECT_TRUE(within(p.box, pill)) << p.box.minX() << ", " << p.box.minY() << " "
                                       << p.box.size.width << " x " << p.box.size.height;
    }
  };

  const ActionBlobRoot expanded = blob(State::Error{"Timed out", message}, true,
                                       BlobSize::errorExpanded, BlobSize::errorExpanded);
  const DisplayList details = draw(expanded);
  EXPECT_EQ(layout(details), std::make_pair(2, true));
  const Rect long_ = textBox(details, message);
  const Rect more = textBox(details, "… more");
  EXPECT_NEAR(more.minX(), long_.maxX() + 4, 0.5) << "the link follows the message";
  EXPECT_EQ(more.minY(), long_.minY()) << "hung from the row's top";
  everythingInside(expanded, details);

  for (const ActionBlobRoot& root :
       {blob(State::Error{message}, false, BlobSize::errorCollapsed, BlobSize::errorCollapsed),
        blob(State::Error{message}, true, BlobSize::errorCollapsed, BlobSize::errorCollapsed),
        blob(State::Info{message}, false, BlobSize::errorCollapsed, BlobSize::errorCollapsed)}) {
    SCOPED_TRACE(root.state.stringValue());
    const DisplayList list = draw(root);
    EXPECT_EQ(layout(list), std::make_pair(1, true));
    everythingInside(root, list);
  }
}

TEST_F(ActionBlobViewTest, HugeAndBrokenInputStaysQuickAndFinite) {
  std::string huge;
  while (huge.size() < (1u << 20)) huge += "Ünïcode line\nwith an emoji 🎙 and more words ";
  for (const ActionBlobRoot& root :
       {blob(State::Error{huge}, false, BlobSize::errorCollapsed, BlobSize::errorCollapsed),
        blob(State::Error{huge, huge}, true, BlobSize::errorExpanded, BlobSize::errorExpanded),
        blob(State::Info{huge}, false, BlobSize::errorCollapsed, BlobSize::errorCollapsed)}) {
    SCOPED_TRACE(root.state.stringValue());
    const auto start = std::chrono::steady_clock::now();
    const DisplayList list = draw(root);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    for (const Placed& p : placedOf<TextRun>(list)) {
      const auto& run = std::get<TextRun>(p.item->content);
      EXPECT_LT(run.text.size(), 16u * 1024);
      EXPECT_TRUE(pango_layout_is_ellipsized(text_.layout(run, run.width).get()) ||
                  run.text.size() < 100);
    }
  }

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Size sizes[] = {{nan, nan}, {-20, -3}, {inf, 1e300}};
  const BlobMoment moments[] = {
      {.contentAge = nan, .leavingAge = nan, .ringOpacity = nan, .audioLevel = nan},
      {.contentAge = -1, .leavingAge = -1, .ringOpacity = -1, .audioLevel = -inf},
      {.contentAge = inf, .leavingAge = 0.1, .ringOpacity = inf, .audioLevel = inf}};
  const State states[] = {State::Idle{},
                          State::Ready{},
                          State::Recording{},
                          State::Success{},
                          State::Error{"Timed out", "Details"},
                          State::Info{"Copied"}};
  for (const Size& size : sizes) {
    for (const State& state : states) {
      for (const bool hovered : {false, true}) {
        ActionBlobRoot root{
            .state = state, .isHovered = hovered, .visualSize = size, .outerSize = size};
        for (BlobMoment moment : moments) {
          moment.leaving = root;
          const DisplayList list = draw(root, moment);
          for (const Placed& p : placed(list)) {
            const Rect& b = p.box;
            EXPECT_TRUE(
                std::isfinite(b.minX() + b.minY() + b.size.width + b.size.height + p.opacity))
                << state.stringValue() << " at " << size.width;
          }
          platform::hitTest(list, {1, 1});
          actionBlobAnimates(root, moment);
        }
      }
    }
  }
}

}  // namespace
}  // namespace nolari::ambrel
