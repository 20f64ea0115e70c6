// The blob's window on virtual time: where it stands, when it fades, how long
// a terminal state lingers and how hover stretches it, with a recording fake
// of the windowing area.

#include "ambrel/blob/ActionBlobWindow.h"

#include <gtest/gtest.h>

#include <chrono>

#include "AgentFixture.h"
#include "ambrel/blob/DesignTokens.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;
using ambrel::ActionBlobState;
using ambrel::ActionBlobWindow;
using ambrel::BlobAction;
using ambrel::BlobVisibilityPhase;
using nlohmann::json;
using platform::Point;
using platform::PointerEvent;
using platform::Rect;
using test::FakeWindow;
using test::FakeWindowing;

const json TWO_SCREENS = {
    {"screens",
     {{{"frame", {0, 0, 1440, 900}}, {"visible_frame", {0, 0, 1440, 875}}},
      {{"frame", {1440, 0, 200, 600}}, {"visible_frame", {1440, 40, 200, 560}}}}},
    {"mouse", {700, 320}}};

// The opacity the rejection ring is drawn at, 0 without one.
double ringOpacity(const std::vector<platform::Item>& items, double outer = 1) {
  double found = 0;
  for (const auto& item : items) {
    if (auto* shape = std::get_if<platform::Shape>(&item.content)) {
      if (shape->stroke &&
          shape->stroke->color == ambrel::BlobDesignTokens::Blob::rejectFlashColor) {
        found = std::max(found, outer * item.opacity);
      }
    } else if (auto* group = std::get_if<platform::Group>(&item.content)) {
      found = std::max(found, ringOpacity(group->children, outer * item.opacity));
    }
  }
  return found;
}
double ringOpacity(const platform::DisplayList& list) { return ringOpacity(list.items); }

class ActionBlobWindowTest : public testing::Test {
 protected:
  explicit ActionBlobWindowTest(const json& scene = TWO_SCREENS) : sim_(scene, makeLoop()) {}

  std::unique_ptr<platform::RunLoop> makeLoop() {
    auto loop = std::make_unique<platform::VirtualRunLoop>();
    loop_ = loop.get();
    return loop;
  }
  void create() {
    blob_ = ActionBlobWindow::create(windowing_, sim_.workspace(), *loop_);
    blob_->onBlobClick = [this](const ActionBlobState& state) {
      actions_.push_back("click:" + std::string(state.stringValue()));
    };
    blob_->onBlobAction = [this](BlobAction action, const ActionBlobState&) {
      actions_.push_back(std::string(ambrel::rawValue(action)));
    };
    blob_->onRequestContext = [this] { actions_.emplace_back("context"); };
  }
  void SetUp() override { create(); }

  void set(const char* word, const char* message = "", const char* longMessage = "",
           const char* action = "dismiss") {
    blob_->setState(ActionBlobState::from(word, message, longMessage, action));
    loop_->runUntilIdle();
  }
  void advance(platform::Duration by) { loop_->advance(by); }
  FakeWindow& window() { return *windowing_.window; }
  void pointer(PointerEvent::Type type, Point at = {}) { window().pointer({type, at}); }
  // A click at the point of the pill's frame, given from its centre.
  void clickFromCentre(double dx, double dy) {
    const Point at{window().rect.size.width / 2 + dx, window().rect.size.height / 2 + dy};
    pointer(PointerEvent::Type::pressed, at);
    pointer(PointerEvent::Type::released, at);
  }
  double seconds(std::optional<platform::TimePoint> when) {
    return std::chrono::duration<double>(*when - loop_->now()).count();
  }

  platform::VirtualRunLoop* loop_ = nullptr;
  test::SimPlatform sim_;
  FakeWindowing windowing_;
  std::shared_ptr<ActionBlobWindow> blob_;
  std::vector<std::string> actions_;
};

TEST_F(ActionBlobWindowTest, StandsAtTheBottomCentreSizedForItsLargestForm) {
  EXPECT_EQ(window().rect, (Rect{{588, 12}, {264, 24}}));
  EXPECT_FALSE(window().visible);
  set("ready");
  EXPECT_EQ(blob_->visibilityPhase(), BlobVisibilityPhase::showing);
  advance(200ms);
  EXPECT_EQ(window().rect, (Rect{{588, 12}, {264, 24}}));
  EXPECT_EQ(window().opacity, 1);
  EXPECT_EQ(blob_->visibilityPhase(), BlobVisibilityPhase::shown);
  // Hovering grows the pill, never the window; the idle and ready forms ask
  // for a fresh context.
  pointer(PointerEvent::Type::entered);
  advance(1s);
  EXPECT_TRUE(blob_->isHovered());
  EXPECT_EQ(window().rect, (Rect{{588, 12}, {264, 24}}));
  EXPECT_EQ(actions_, std::vector<std::string>{"context"});
  // An error with a long text has the tall window even collapsed; its pill's
  // bottom stays 14 points above the visible frame.
  set("error", "Failed", "The service did not answer.");
  advance(300ms);
  EXPECT_EQ(window().rect, (Rect{{566, 14 - 9.5}, {308, 111}}));
  // A dictation state has no hovered form and asks for nothing.
  set("recording");
  actions_.clear();
  pointer(PointerEvent::Type::exited);
  advance(200ms);
  pointer(PointerEvent::Type::entered);
  EXPECT_FALSE(blob_->isHovered());
  EXPECT_TRUE(actions_.empty());
}

TEST_F(ActionBlobWindowTest, TerminalStatesLingerAndHoverPutsTheEndOffWithinACap) {
  set("success");
  EXPECT_DOUBLE_EQ(seconds(blob_->lingerFireDate()), 8);
  advance(6s);
  pointer(PointerEvent::Type::entered);
  EXPECT_DOUBLE_EQ(seconds(blob_->lingerFireDate()), 4);
  advance(3s);
  pointer(PointerEvent::Type::exited);
  pointer(PointerEvent::Type::entered);
  EXPECT_DOUBLE_EQ(seconds(blob_->lingerFireDate()), 3);
  // A resting pointer does not hold the blob: it goes back to idle at 12 s and
  // fades out.
  advance(3s);
  EXPECT_TRUE(blob_->currentState().is<ActionBlobState::Idle>());
  advance(200ms);
  EXPECT_FALSE(window().visible);
  EXPECT_EQ(blob_->visibilityPhase(), BlobVisibilityPhase::hidden);
  EXPECT_FALSE(blob_->isHovered());

  // The same state again keeps its fire date; an error with another action is
  // a new state and starts over. Entries stop extending a minute after the
  // first one.
  set("error", "Failed");
  advance(10s);
  set("error", "Failed");
  EXPECT_DOUBLE_EQ(seconds(blob_->lingerFireDate()), 20);
  set("error", "Failed", "", "retry");
  EXPECT_DOUBLE_EQ(seconds(blob_->lingerFireDate()), 30);
  for (int second = 0; second < 70; ++second) {
    pointer(PointerEvent::Type::entered);
    pointer(PointerEvent::Type::exited);
    advance(1s);
  }
  EXPECT_TRUE(blob_->currentState().is<ActionBlobState::Error>());
  advance(80s);
  EXPECT_TRUE(blob_->currentState().is<ActionBlobState::Idle>());
}

TEST_F(ActionBlobWindowTest, FadesDecideByGenerationAndABurstEndsOnItsLastState) {
  // "ready" then "idle" before the main queue runs: the show step finds
  // another state and stays away.
  blob_->setState(ActionBlobState::Ready{});
  blob_->setState(ActionBlobState::Idle{});
  loop_->runUntilIdle();
  advance(1s);
  EXPECT_FALSE(window().visible);
  // A hide overtaken by a show ends shown, from the alpha it had reached.
  set("processing");
  advance(300ms);
  set("idle");
  advance(60ms);
  const double midway = window().opacity;
  EXPECT_GT(midway, 0);
  EXPECT_LT(midway, 1);
  set("processing");
  advance(1s);
  EXPECT_TRUE(window().visible);
  EXPECT_EQ(window().opacity, 1);
  EXPECT_EQ(blob_->visibilityPhase(), BlobVisibilityPhase::shown);
  // Waking forgets the state and hides at once.
  windowing_.wake();
  loop_->runUntilIdle();
  EXPECT_FALSE(window().visible);
  EXPECT_TRUE(blob_->currentState().is<ActionBlobState::Idle>());
}

TEST_F(ActionBlobWindowTest, HoverGraceFlashAndClicks) {
  set("ready");
  advance(300ms);
  pointer(PointerEvent::Type::entered);
  pointer(PointerEvent::Type::exited);
  advance(100ms);
  pointer(PointerEvent::Type::entered);
  advance(1s);
  EXPECT_TRUE(blob_->isHovered());
  pointer(PointerEvent::Type::exited);
  advance(130ms);
  EXPECT_FALSE(blob_->isHovered());
  advance(1s);

  // Clicks act on release over what they were pressed on.
  actions_.clear();
  clickFromCentre(0, 0);
  EXPECT_EQ(actions_, (std::vector<std::string>{"click:ready", "tap"}));
  actions_.clear();
  const Point centre{window().rect.size.width / 2, window().rect.size.height / 2};
  pointer(PointerEvent::Type::pressed, centre);
  pointer(PointerEvent::Type::released, {centre.x + 200, centre.y});
  EXPECT_TRUE(actions_.empty());

  // The rejection ring only flashes while processing, for a quarter second.
  blob_->flashRejection();
  loop_->runUntilIdle();
  set("processing");
  blob_->flashRejection();
  loop_->runUntilIdle();
  advance(100ms);
  EXPECT_GT(ringOpacity(window().content), 0.3);
  advance(500ms);
  EXPECT_EQ(ringOpacity(window().content), 0);
}

TEST_F(ActionBlobWindowTest, FollowsThePointerAcrossScreensAndKeepsClearOfNarrowOnes) {
  set("ready");
  advance(300ms);
  sim_.desktop().setMouseLocation({1500, 300});
  blob_->handleCursorTick();
  advance(90ms);
  EXPECT_GT(window().rect.origin.x, 588);
  EXPECT_LT(window().rect.origin.x, 1440);
  advance(200ms);
  // 200 points wide: the window keeps 16 points either side.
  EXPECT_EQ(window().rect, (Rect{{1456, 52}, {168, 24}}));
  // Moving within the screen does not move it.
  sim_.desktop().setMouseLocation({1510, 310});
  blob_->handleCursorTick();
  advance(300ms);
  EXPECT_EQ(window().rect, (Rect{{1456, 52}, {168, 24}}));
  // The screens change while it moves back: it ends where the pointer is.
  sim_.desktop().setMouseLocation({700, 300});
  blob_->handleCursorTick();
  advance(60ms);
  windowing_.screenChange();
  advance(400ms);
  EXPECT_EQ(window().rect, (Rect{{588, 12}, {264, 24}}));
}

TEST_F(ActionBlobWindowTest, NothingTicksWhileHiddenAndIdle) {
  set("recording");
  for (int i = 0; i < 1000; ++i) blob_->setAudioLevel(i % 2 ? 1e300 : -1);
  advance(1s);
  set("idle");
  advance(1s);
  const int draws = window().draws;
  advance(60s);
  EXPECT_EQ(window().draws, draws);
}

class NoScreenTest : public ActionBlobWindowTest {
 protected:
  NoScreenTest() : ActionBlobWindowTest(json{{"screens", json::array()}}) {}
};

TEST_F(NoScreenTest, StaysWhereItWasWithoutAScreenAndNeverShrinksToNothing) {
  set("ready");
  advance(1s);
  EXPECT_EQ(window().rect, (Rect{{-200, -200}, {264, 24}}));
  EXPECT_TRUE(window().visible);
  sim_.desktop().setScreens({{.frame = {{0, 0}, {20, 400}}, .visibleFrame = {{0, 0}, {20, 400}}}},
                            0);
  windowing_.screenChange();
  advance(1s);
  EXPECT_EQ(window().rect, (Rect{{9.5, 12}, {1, 24}}));
}

class MigrationNoticeTest : public ActionBlobWindowTest {
 protected:
  void SetUp() override {}
};

TEST_F(MigrationNoticeTest, ShowsOnceAndNeverOverAStateThatCameFirst) {
  windowing_.defaults.values.clear();
  create();
  EXPECT_EQ(windowing_.defaults.values[ActionBlobWindow::MIGRATION_KEY], true);
  advance(900ms);
  EXPECT_EQ(blob_->currentState(),
            ActionBlobState(ActionBlobState::Info{ActionBlobWindow::MIGRATION_MESSAGE}));
  advance(11s);
  EXPECT_TRUE(blob_->currentState().is<ActionBlobState::Idle>());

  // Written already: a second start shows nothing.
  create();
  advance(1s);
  EXPECT_TRUE(blob_->currentState().is<ActionBlobState::Idle>());

  // Dictation started in the first 0.8 s keeps the blob.
  windowing_.defaults.values.clear();
  create();
  set("recording");
  advance(1s);
  EXPECT_TRUE(blob_->currentState().is<ActionBlobState::Recording>());
}

}  // namespace
}  // namespace nolari
