#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "ambrel/blob/ActionBlobState.h"
#include "ambrel/blob/ActionBlobView.h"
#include "ambrel/blob/Animation.h"
#include "platform/DisplayList.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The one floating window that hosts the action blob at the bottom centre of
// the screen the user works on. It owns the blob's state and context, decides
// when the blob is on screen and fades it in and out, sizes and places the
// window per state, follows the pointer from screen to screen, turns hover
// into the expanded menus, ends terminal states after their linger, flashes
// the rejection ring, and hands clicks to the agent through its callbacks.
//
// Main-thread only. Steps it queues or times hold it weakly, and the
// generation counter makes a fade that was overtaken by the opposite one
// change nothing when it completes.

namespace nolari::ambrel {

class ActionBlobWindow : public std::enable_shared_from_this<ActionBlobWindow> {
 public:
  static constexpr const char* ACCESSIBILITY_LABEL = "Nolari activity indicator";
  static constexpr const char* MIGRATION_KEY = "migratedToHiddenBlob_v1";
  static constexpr const char* MIGRATION_MESSAGE = "Nolari runs quietly in the background now";
  static constexpr platform::Duration MIGRATION_DELAY = std::chrono::milliseconds(800);

  // Creates the window off screen, places it on the main screen and schedules
  // the one-time notice; on the main loop.
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
  bool isHovered() const { return isHovered_; }
  BlobVisibilityPhase visibilityPhase() const { return phase_; }
  platform::Rect frame() const { return window_->frame(); }
  // When the running linger returns the blob to idle, if one runs.
  std::optional<platform::TimePoint> lingerFireDate() const;

 private:
  ActionBlobWindow(platform::Windowing& windowing, platform::Workspace& workspace,
                   platform::RunLoop& mainLoop);
  void configure();

  // The form the pill takes: its content changes with a transition only when
  // this changes.
  struct Form {
    std::size_t stateCase = 0;
    bool hoveredForm = false;
    friend bool operator==(const Form&, const Form&) = default;
  };
  Form formOf(const ActionBlobState& state, bool hovered) const;

  platform::Size windowBasisSize(const ActionBlobState& state) const;
  platform::Size pillSize(const ActionBlobState& state, bool hovered) const;
  std::optional<platform::Screen> activeScreen();
  std::optional<platform::Screen> placementScreen(const std::optional<platform::Screen>& screen);
  platform::Rect placedFrame(const platform::Screen& screen, platform::Size basis) const;
  void repositionKeepingCenterBottom(platform::Size basis,
                                     const std::optional<platform::Screen>& screen);
  void animateFrame(platform::Rect to, double seconds);

  void updateView(platform::Size pill, const Timing& spring);
  ActionBlobRoot root() const;
  BlobMoment moment();
  void render();
  void scheduleFrames();
  void showWindow();
  void hideWindow(bool animated);
  void animateAlpha(double to, const Timing& timing, std::function<void()> done);
  void scheduleLinger(const ActionBlobState& state);
  void cancelLinger();
  void extendLingerForHover();
  void cancelHoverCollapse();
  void handleAction(BlobAction action);
  void handlePointer(const platform::PointerEvent& event);
  void screensChanged();
  void woke();
  void scheduleMigrationNoticeIfNeeded();

  platform::Windowing& windowing_;
  platform::Workspace& workspace_;
  platform::RunLoop& mainLoop_;
  Animator animator_;
  std::shared_ptr<platform::OverlayWindow> window_;
  std::vector<platform::Windowing::ObserverToken> observers_;

  ActionBlobState currentState_{};
  BlobContext context_{};
  bool isHovered_ = false;
  bool rejectionFlashActive_ = false;
  std::shared_ptr<platform::Timer> rejectionFlashTimer_;
  std::shared_ptr<platform::Timer> lingerTimer_;
  std::shared_ptr<platform::Timer> hoverCollapseTimer_;
  BlobVisibilityPhase phase_ = BlobVisibilityPhase::hidden;
  std::int64_t visibilityGeneration_ = 0;
  std::optional<platform::TimePoint> lingerHoverAnchor_;
  platform::Rect lastTickedVisibleFrame_{};
  double audioLevel_ = 0;

  // What is drawn: the pill's size springs towards `pillTarget_`, the content
  // of the current form came on screen at `contentStart_`, the one it
  // replaced fades out from `leavingStart_`, and the ring fades to its flag.
  platform::Size pillTarget_{};
  platform::Size pillFrom_{};
  platform::Size pillDrawn_{};
  Animator::Id pillAnimation_ = 0;
  Form form_{};
  platform::TimePoint contentStart_{};
  std::optional<ActionBlobRoot> leaving_;
  platform::TimePoint leavingStart_{};
  platform::TimePoint leavingContentStart_{};
  double ringOpacity_ = 0;
  Animator::Id ringAnimation_ = 0;
  Animator::Id alphaAnimation_ = 0;
  Animator::Id frameAnimation_ = 0;
  std::shared_ptr<platform::Timer> frameTimer_;
  platform::DisplayList shown_;
  // What the last frame drew, for the content that leaves when the form changes.
  ActionBlobState shownState_{};
  bool shownHovered_ = false;
  std::optional<std::string> pressedAction_;
};

}  // namespace nolari::ambrel
