#pragma once

#include <memory>
#include <string>

#include "ambrel/agent/FeedbackView.h"
#include "ambrel/blob/Animation.h"
#include "base/LineSink.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The star rating strip shown after a write: placed below the field that took
// the text (above it near the screen's bottom, held inside the screen) or
// below the action blob, rated with one click, gone by itself after eight
// seconds. A rating and the time-out are written as events; a hide by the
// caller writes nothing.
//
// Main-thread only. Steps it times hold it weakly.

namespace nolari::ambrel {

struct FeedbackCycle {
  std::string taskId;
  std::string promptKey;
  std::string appName;
};

class FeedbackOverlayWindow : public std::enable_shared_from_this<FeedbackOverlayWindow> {
 public:
  static constexpr const char* ACCESSIBILITY_LABEL = "Rate this write";
  static constexpr double FIELD_GAP = 6;
  static constexpr double SCREEN_MARGIN = 4;
  static constexpr platform::Duration TIMEOUT = std::chrono::seconds(8);
  static constexpr double DEFAULT_FADE_SECONDS = 0.2;

  static std::shared_ptr<FeedbackOverlayWindow> create(platform::Windowing& windowing,
                                                       platform::Workspace& workspace,
                                                       platform::RunLoop& mainLoop, LineSink& sink);
  ~FeedbackOverlayWindow();

  // `fieldRect` in bottom-left screen coordinates. Each show starts a fresh
  // cycle with a new time-out; the earlier cycle ends without an event.
  void showBelowField(platform::Rect fieldRect, FeedbackCycle cycle);
  // Centred below the action blob's window frame, without screen clamping.
  void showBelowActionBlob(platform::Rect blobFrame, FeedbackCycle cycle);
  // Nothing when the window is off screen.
  void hide(bool animated = true, double seconds = DEFAULT_FADE_SECONDS);

 private:
  FeedbackOverlayWindow(platform::Windowing& windowing, platform::Workspace& workspace,
                        platform::RunLoop& mainLoop, LineSink& sink);
  void configure();
  void showAt(platform::Point origin, FeedbackCycle cycle);
  void reset();
  void render();
  void startDismissTimer();
  void dismissTimerFired();
  void handlePointer(const platform::PointerEvent& event);

  platform::Windowing& windowing_;
  platform::Workspace& workspace_;
  platform::RunLoop& mainLoop_;
  LineSink& sink_;
  Animator animator_;
  std::shared_ptr<platform::OverlayWindow> window_;
  FeedbackView view_;
  FeedbackCycle cycle_;
  std::shared_ptr<platform::Timer> dismissTimer_;
  Animator::Id fadeAnimation_ = 0;
};

}  // namespace nolari::ambrel
