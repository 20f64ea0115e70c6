#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ambrel/blob/ActionBlobState.h"
#include "ambrel/blob/ActionBlobView.h"
#include "ambrel/blob/Animation.h"
#include "ambrel/blob/BlobContentTransition.h"
#include "ambrel/blob/BlobFade.h"
#include "ambrel/blob/BlobHitRegions.h"
#include "ambrel/blob/BlobHover.h"
#include "ambrel/blob/BlobLinger.h"
#include "ambrel/blob/BlobMigrationNotice.h"
#include "ambrel/blob/BlobSpring.h"
#include "ambrel/blob/RejectionRing.h"
#include "platform/DisplayList.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The one floating window that hosts the action blob at the bottom centre of
// the screen the user works on: the wiring of the blob's parts. It owns the
// state and context and turns them, with the pointer, into the fade
// (`BlobFade`), the placement (`BlobPlacement`), the linger (`BlobLinger`),
// the hover (`BlobHover`), the pill's spring (`BlobSpring`), the content's
// transitions (`BlobContentTransition`), the ring (`RejectionRing`) and the
// clicks (`BlobHitRegions`), and hands the user's actions to the agent
// through its callbacks.
//
// Main-loop only: every operation is called on the main loop, where the
// agent already runs its commands, and takes effect at once. What changes in
// one turn of the loop is drawn with one frame posted for it.

namespace nolari::ambrel {

class ActionBlobWindow : public std::enable_shared_from_this<ActionBlobWindow> {
 public:
  static constexpr const char* ACCESSIBILITY_LABEL = "Nolari activity indicator";
  static constexpr const char* MIGRATION_KEY = BlobMigrationNotice::KEY;
  static constexpr const char* MIGRATION_MESSAGE = BlobMigrationNotice::MESSAGE;

  // At start-up, on the main loop: creates the window off screen, places it
  // on the main screen and schedules the one-time notice.
  static std::shared_ptr<ActionBlobWindow> create(platform::Windowing& windowing,
                                                  platform::Workspace& workspace,
                                                  platform::RunLoop& mainLoop);
  ~ActionBlobWindow();

  // Told of every user action with the state it happened in; a tap goes to
  // `onBlobClick` first.
  std::function<void(BlobAction, const ActionBlobState&)> onBlobAction;
  std::function<void(const ActionBlobState&)> onBlobClick;
  // Asked for a fresh context when the pointer enters the blob.
  std::function<void()> onRequestContext;

  void setState(const ActionBlobState& state);
  void setContext(const BlobContext& context);
  // Only while processing.
  void flashRejection();
  void setDebugForcedHover(bool hovered);
  // On pointer movement: follows the pointer to another screen.
  void handleCursorTick();
  // At the bottom centre of `screen`, else the main screen, else the first.
  void reposition(const std::optional<platform::Screen>& screen, bool animated = false);
  // The microphone level the waveform draws, 0 to 1.
  void setAudioLevel(double level);

  // The pointer entering and leaving the window; the backend's pointer
  // events come here too.
  void mouseEntered();
  void mouseExited();

  const ActionBlobState& currentState() const { return currentState_; }
  const BlobContext& context() const { return context_; }
  bool isHovered() const { return hover_.hovered(); }
  BlobVisibilityPhase visibilityPhase() const { return fade_->phase(); }
  platform::Rect frame() const { return window_->frame(); }
  // When the running linger returns the blob to idle, if one runs.
  std::optional<platform::TimePoint> lingerFireDate() const { return linger_.fireDate(); }

 private:
  ActionBlobWindow(platform::Windowing& windowing, platform::Workspace& workspace,
                   platform::RunLoop& mainLoop);
  void configure();

  platform::Size pillSize(bool hovered) const;
  void repositionKeepingCenterBottom(platform::Size basis,
                                     const std::optional<platform::Screen>& screen);
  void animateFrame(platform::Rect to, double seconds);
  void updateView(platform::Size pill, const Timing& spring);
  void showWindow();
  void hideWindow(bool animated);

  ActionBlobRoot root() const;
  BlobMoment moment();
  void requestFrame();
  void drawFrame();
  void scheduleFrames();

  void handleAction(BlobAction action);
  void handlePointer(const platform::PointerEvent& event);
  void screensChanged();
  void woke();

  platform::Windowing& windowing_;
  platform::Workspace& workspace_;
  platform::RunLoop& mainLoop_;
  Animator animator_;
  std::shared_ptr<platform::OverlayWindow> window_;
  std::vector<platform::Windowing::ObserverToken> observers_;

  ActionBlobState currentState_{};
  BlobContext context_{};
  double audioLevel_ = 0;
  platform::Rect lastTickedVisibleFrame_{};
  Animator::Id frameAnimation_ = 0;

  BlobHover hover_;
  BlobLinger linger_;
  RejectionRing ring_;
  BlobSpring pill_;
  BlobContentTransition content_;
  std::optional<BlobFade> fade_;
  BlobHitRegions hits_;

  // One frame is posted for the changes of a turn; the looping animations and
  // transitions ask for one on every tick of the animator while the window is
  // on screen.
  bool frameRequested_ = false;
  Animator::Id loopingFrame_ = 0;
  platform::DisplayList shown_;
  // What the last frame drew, for the content that leaves when the form changes.
  ActionBlobState shownState_{};
  bool shownHovered_ = false;
};

}  // namespace nolari::ambrel
