// The blob's window takes each operation at once and draws what a turn of the
// main loop changed with one frame.

#include <gtest/gtest.h>

#include <memory>

#include "AgentFixture.h"
#include "ambrel/blob/ActionBlobWindow.h"
#include "support/SimPlatform.h"
#include "support/VirtualRunLoop.h"

namespace nolari {
namespace {

using namespace std::chrono_literals;
using ambrel::ActionBlobState;
using ambrel::ActionBlobWindow;
using ambrel::BlobVisibilityPhase;

class ActionBlobFramesTest : public testing::Test {
 protected:
  ActionBlobFramesTest()
      : sim_(
            nlohmann::json{
                {"screens", {{{"frame", {0, 0, 1440, 900}}, {"visible_frame", {0, 0, 1440, 875}}}}},
                {"mouse", {700, 320}}},
            makeLoop()),
        blob_(ActionBlobWindow::create(windowing_, sim_.workspace(), *loop_)) {}

  std::unique_ptr<platform::RunLoop> makeLoop() {
    auto loop = std::make_unique<platform::VirtualRunLoop>();
    loop_ = loop.get();
    return loop;
  }
  test::FakeWindow& window() { return *windowing_.window; }

  platform::VirtualRunLoop* loop_ = nullptr;
  test::SimPlatform sim_;
  test::FakeWindowing windowing_;
  std::shared_ptr<ActionBlobWindow> blob_;
};

TEST_F(ActionBlobFramesTest, CommandsTakeEffectAtOnceAndATurnDrawsOneFrame) {
  const int drawn = window().draws;
  blob_->setState(ActionBlobState::Processing{});
  EXPECT_EQ(blob_->visibilityPhase(), BlobVisibilityPhase::showing);
  blob_->setContext({true, "hotkey"});
  EXPECT_TRUE(blob_->context().hasLastResult);
  blob_->flashRejection();
  blob_->setDebugForcedHover(true);
  EXPECT_TRUE(blob_->isHovered());
  // Nothing reached the window before the frame, which brings it up drawn.
  EXPECT_EQ(window().draws, drawn);
  EXPECT_FALSE(window().visible);
  loop_->runUntilIdle();
  EXPECT_EQ(window().draws, drawn + 1);
  EXPECT_TRUE(window().visible);

  // The terminal state's linger runs from the call.
  blob_->setState(ActionBlobState::Success{});
  ASSERT_TRUE(blob_->lingerFireDate());
  EXPECT_EQ(*blob_->lingerFireDate(), loop_->now() + 8s);
}

TEST_F(ActionBlobFramesTest, AStateTakenBackInTheSameTurnNeverReachesTheScreen) {
  blob_->setState(ActionBlobState::Ready{});
  blob_->setState(ActionBlobState::Idle{});
  EXPECT_EQ(blob_->visibilityPhase(), BlobVisibilityPhase::hidden);
  loop_->runUntilIdle();
  EXPECT_FALSE(window().visible);
  EXPECT_EQ(window().opacity, 0);
  EXPECT_FALSE(blob_->lingerFireDate());
}

TEST_F(ActionBlobFramesTest, AnimationsInStepShareTheirFrames) {
  blob_->setState(ActionBlobState::Ready{});
  loop_->advance(1s);
  // The hover's spring and the move to the pointer's screen step together:
  // one frame per interval, not one per animation.
  const int drawn = window().draws;
  blob_->mouseEntered();
  sim_.desktop().setScreens(
      {{.frame = {{0, 0}, {1000, 800}}, .visibleFrame = {{0, 0}, {1000, 800}}}}, 0);
  blob_->handleCursorTick();
  loop_->advance(ambrel::Animator::FRAME_INTERVAL * 3);
  EXPECT_EQ(window().draws, drawn + 1 + 3);
}

}  // namespace
}  // namespace nolari
