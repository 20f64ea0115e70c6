// The blob's parts on their own, on virtual time: placement and sizes, the
// content transition, the linger and its hover cap, the fade's generations,
// the hover grace, the rejection ring's period and the clicks.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "AgentFixture.h"
#include "ambrel/blob/Animation.h"
#include "ambrel/blob/BlobContentTransition.h"
#include "ambrel/blob/BlobFade.h"
#include "ambrel/blob/BlobHitRegions.h"
#include "ambrel/blob/BlobHover.h"
#include "ambrel/blob/BlobLinger.h"
#include "ambrel/blob/BlobPlacement.h"
#include "ambrel/blob/DesignTokens.h"
#include "ambrel/blob/RejectionRing.h"
#include "support/VirtualRunLoop.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;
using ambrel::ActionBlobState;
using ambrel::BlobContext;
using ambrel::BlobVisibilityPhase;
using platform::Rect;
using platform::Size;
namespace BlobPlacement = ambrel::BlobPlacement;
namespace BlobSize = ambrel::BlobDesignTokens::BlobSize;

double since(platform::VirtualRunLoop& loop, std::optional<platform::TimePoint> when) {
  return std::chrono::duration<double>(*when - loop.now()).count();
}

TEST(BlobPlacementTest, TheWindowFitsTheLargestFormAndThePillTheHoverOfTheMoment) {
  const ActionBlobState idle;
  EXPECT_EQ(BlobPlacement::pillSize(idle, false, {}), BlobSize::idle);
  EXPECT_EQ(BlobPlacement::pillSize(idle, true, {}), BlobSize::idleHoverMinimal);
  EXPECT_EQ(BlobPlacement::pillSize(idle, true, BlobContext{true, ""}), BlobSize::idleHover);
  EXPECT_EQ(BlobPlacement::windowBasisSize(idle), BlobSize::idleHover);
  // An error opens only with a long text, and its window is tall even closed.
  const ActionBlobState shortError = ActionBlobState::from("error", "Failed");
  const ActionBlobState longError = ActionBlobState::from("error", "Failed", "Details.");
  EXPECT_EQ(BlobPlacement::pillSize(shortError, true, {}), BlobSize::errorCollapsed);
  EXPECT_EQ(BlobPlacement::pillSize(longError, false, {}), BlobSize::errorCollapsed);
  EXPECT_EQ(BlobPlacement::pillSize(longError, true, {}), BlobSize::errorExpanded);
  EXPECT_EQ(BlobPlacement::windowBasisSize(longError), BlobSize::errorExpanded);
  // A disabled blob draws its thin line in the wide window.
  const ActionBlobState disabled = ActionBlobState::from("disabled");
  EXPECT_EQ(BlobPlacement::pillSize(disabled, true, {}), BlobSize::disabled);
  EXPECT_EQ(BlobPlacement::windowBasisSize(disabled), BlobSize::idleHover);
}

TEST(BlobPlacementTest, StandsOnTheVisibleFrameAndKeepsClearOfNarrowScreens) {
  const platform::Screen wide{.frame = {{0, 0}, {1440, 900}},
                              .visibleFrame = {{0, 40}, {1440, 860}}};
  // The pill's bottom 14 points above the Dock; the window's margin below it.
  EXPECT_EQ(BlobPlacement::placedFrame(wide, BlobSize::errorExpanded),
            (Rect{{566, 40 + 14 - 9.5}, {308, 111}}));
  const platform::Screen narrow{.frame = {{100, 0}, {200, 600}},
                                .visibleFrame = {{100, 0}, {200, 600}}};
  EXPECT_EQ(BlobPlacement::placedFrame(narrow, BlobSize::idleHover), (Rect{{116, 12}, {168, 24}}));
  const platform::Screen sliver{.frame = {{0, 0}, {20, 400}}, .visibleFrame = {{0, 0}, {20, 400}}};
  EXPECT_EQ(BlobPlacement::placedFrame(sliver, BlobSize::idleHover).size.width, 1);
}

TEST(BlobContentTransitionTest, TheReplacedContentFadesOutWithItsOwnAgeThenGoes) {
  platform::VirtualRunLoop loop;
  const auto start = loop.now();
  ambrel::BlobContentTransition content(ambrel::BlobForm::of(ActionBlobState{}, false), start);
  loop.advance(2s);
  // A hover that changes nothing in a state without a hovered form is no change.
  EXPECT_EQ(ambrel::BlobForm::of(ActionBlobState::Processing{}, true),
            ambrel::BlobForm::of(ActionBlobState::Processing{}, false));
  const auto ready = ambrel::BlobForm::of(ActionBlobState::Ready{}, false);
  content.change(ready, {.state = ActionBlobState{}, .showRejectionFlash = true}, loop.now());
  EXPECT_EQ(content.form(), ready);
  loop.advance(100ms);
  auto moment = content.moment(loop.now(), {264, 24});
  EXPECT_DOUBLE_EQ(moment.contentAge, 0.1);
  ASSERT_TRUE(moment.leaving);
  EXPECT_FALSE(moment.leaving->showRejectionFlash);
  EXPECT_EQ(moment.leaving->outerSize, (Size{264, 24}));
  EXPECT_DOUBLE_EQ(moment.leavingAge, 0.1);
  EXPECT_DOUBLE_EQ(moment.leavingContentAge, 2.1);
  loop.advance(200ms);
  EXPECT_FALSE(content.moment(loop.now(), {264, 24}).leaving);
  EXPECT_FALSE(content.moment(loop.now(), {264, 24}).leaving);
}

TEST(BlobLingerTest, EndsTerminalStatesAndHoverStretchesThemWithinAMinute) {
  platform::VirtualRunLoop loop;
  int expired = 0;
  ambrel::BlobLinger linger(loop, [&] { ++expired; });
  // Active states do not end by themselves.
  linger.start(ActionBlobState::Processing{});
  EXPECT_FALSE(linger.fireDate());
  const ActionBlobState error = ActionBlobState::from("error", "Failed");
  linger.start(error);
  EXPECT_DOUBLE_EQ(since(loop, linger.fireDate()), 30);
  // A hover while another state shows stretches nothing.
  linger.extendForHover(ActionBlobState::Processing{});
  EXPECT_DOUBLE_EQ(since(loop, linger.fireDate()), 30);
  linger.extendForHover(error);
  EXPECT_DOUBLE_EQ(since(loop, linger.fireDate()), 32);
  // An entry a second: each puts the end off by two seconds, until the one
  // 59 s after the first, which has a second left of the minute, and the
  // next, which has none.
  for (int second = 1; second < 59; ++second) {
    loop.advance(1s);
    linger.extendForHover(error);
  }
  EXPECT_DOUBLE_EQ(since(loop, linger.fireDate()), 30 + 59 * 2 - 58);
  loop.advance(1s);
  linger.extendForHover(error);
  EXPECT_DOUBLE_EQ(since(loop, linger.fireDate()), 30 + 59 * 2 + 1 - 59);
  loop.advance(1s);
  linger.extendForHover(error);
  EXPECT_DOUBLE_EQ(since(loop, linger.fireDate()), 30 + 59 * 2 + 1 - 60);
  loop.advance(90s);
  EXPECT_EQ(expired, 1);
  EXPECT_FALSE(linger.fireDate());
  // Cancelled, it stays quiet, and the next state's hover starts a new minute.
  linger.start(error);
  linger.cancel();
  loop.advance(60s);
  EXPECT_EQ(expired, 1);
  linger.start(error);
  linger.extendForHover(error);
  EXPECT_DOUBLE_EQ(since(loop, linger.fireDate()), 32);
}

class BlobFadeTest : public testing::Test {
 protected:
  BlobFadeTest() { window.opacity = 0; }
  // The frame that follows a show.
  void frame() {
    if (fade.takeRaise()) window.orderFront();
  }

  platform::VirtualRunLoop loop;
  ambrel::Animator animator{loop};
  test::FakeWindow window;
  ambrel::BlobFade fade{window, animator};
  int hidden = 0;
};

TEST_F(BlobFadeTest, ANewerFadeDecidesAndAHideBeforeTheFirstFrameLeavesNoTrace) {
  fade.show();
  frame();
  EXPECT_TRUE(window.visible);
  loop.advance(60ms);
  const double reached = window.opacity;
  EXPECT_GT(reached, 0);
  // The hide overtakes the show: the show's completion changes nothing.
  fade.hide(true, [&] { ++hidden; });
  EXPECT_EQ(fade.phase(), BlobVisibilityPhase::hiding);
  loop.advance(40ms);
  EXPECT_LT(window.opacity, reached);
  // And a show overtakes the hide, from the alpha reached.
  const double lowered = window.opacity;
  fade.show();
  frame();
  loop.advance(17ms);
  EXPECT_GT(window.opacity, lowered);
  loop.advance(1s);
  EXPECT_EQ(fade.phase(), BlobVisibilityPhase::shown);
  EXPECT_EQ(window.opacity, 1);
  EXPECT_EQ(hidden, 0);

  fade.hide(false, [&] { ++hidden; });
  EXPECT_EQ(fade.phase(), BlobVisibilityPhase::hidden);
  EXPECT_FALSE(window.visible);
  EXPECT_EQ(hidden, 1);

  // Shown and hidden again before a frame drew it: it never came up.
  fade.show();
  fade.hide(true, [&] { ++hidden; });
  EXPECT_EQ(fade.phase(), BlobVisibilityPhase::hidden);
  frame();
  EXPECT_FALSE(window.visible);
  EXPECT_EQ(hidden, 2);
  loop.advance(1s);
  EXPECT_EQ(window.opacity, 0);
  EXPECT_EQ(fade.phase(), BlobVisibilityPhase::hidden);
}

TEST(BlobHoverTest, OpensOnlyWithAHoveredFormAndForgivesAShortAbsence) {
  platform::VirtualRunLoop loop;
  ambrel::BlobHover hover(loop);
  int collapsed = 0;
  EXPECT_FALSE(hover.enter(ActionBlobState::Recording{}));
  EXPECT_FALSE(hover.hovered());
  EXPECT_TRUE(hover.enter(ActionBlobState::Ready{}));
  EXPECT_FALSE(hover.enter(ActionBlobState::Ready{}));
  hover.exit([&] { ++collapsed; });
  loop.advance(100ms);
  EXPECT_FALSE(hover.enter(ActionBlobState::Ready{}));
  loop.advance(1s);
  EXPECT_TRUE(hover.hovered());
  hover.exit([&] { ++collapsed; });
  loop.advance(130ms);
  EXPECT_FALSE(hover.hovered());
  EXPECT_EQ(collapsed, 1);
  // A collapse that finds the blob closed already tells nobody.
  hover.force(true);
  hover.exit([&] { ++collapsed; });
  hover.force(false);
  loop.advance(1s);
  EXPECT_EQ(collapsed, 1);
  hover.force(true);
  hover.exit([&] { ++collapsed; });
  hover.reset();
  loop.advance(1s);
  EXPECT_FALSE(hover.hovered());
  EXPECT_EQ(collapsed, 1);
}

TEST(RejectionRingTest, AFlashWithinThePeriodStartsItAgain) {
  platform::VirtualRunLoop loop;
  ambrel::Animator animator(loop);
  std::vector<bool> flags;
  ambrel::RejectionRing* ringSeen = nullptr;
  ambrel::RejectionRing ring(
      loop, animator, [&] { flags.push_back(ringSeen->active()); }, [] {});
  ringSeen = &ring;
  ring.flash();
  EXPECT_TRUE(ring.active());
  loop.advance(200ms);
  EXPECT_GT(ring.opacity(), 0.8);
  ring.flash();
  loop.advance(200ms);
  EXPECT_TRUE(ring.active());
  loop.advance(100ms);
  EXPECT_FALSE(ring.active());
  loop.advance(1s);
  EXPECT_EQ(ring.opacity(), 0);
  EXPECT_EQ(flags, (std::vector<bool>{true, true, false}));
}

TEST(BlobHitRegionsTest, AClickIsAPressAndAReleaseOverTheSameAction) {
  auto region = [](double x, const char* action) {
    return platform::Item{.content = platform::HitRegion{{{{x, 0}, {10, 10}}}, action}};
  };
  const platform::DisplayList shown{
      {region(0, "retry"), region(20, "dismiss"), region(40, "bogus")}};
  ambrel::BlobHitRegions hits;
  hits.press(shown, {5, 5});
  EXPECT_EQ(hits.release(shown, {6, 6}), ambrel::BlobAction::retry);
  // The release ends the press.
  EXPECT_EQ(hits.release(shown, {6, 6}), std::nullopt);
  hits.press(shown, {5, 5});
  EXPECT_EQ(hits.release(shown, {25, 5}), std::nullopt);
  hits.press(shown, {45, 5});
  EXPECT_EQ(hits.release(shown, {45, 5}), std::nullopt);
  hits.press(shown, {100, 5});
  EXPECT_EQ(hits.release(shown, {100, 5}), std::nullopt);
}

}  // namespace
}  // namespace nolari
