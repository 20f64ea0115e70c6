#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "ambrel/agent/AgentWindows.h"
#include "ambrel/agent/FeedbackOverlayWindow.h"
#include "ambrel/agent/FocusedField.h"
#include "ambrel/agent/HoverTracker.h"
#include "base/LineSink.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// After the parent wrote into another application's field: the star rating
// shown a moment later below that field, only while that application is in
// front, and taken away when the user stays in another application.

namespace nolari::ambrel {

// Where the rating after a write stands. Main loop only.
//
//   from            trigger                              to
//   any             "write_success"                      waitingToShow (an earlier widget
//                                                        hidden at once; an earlier observer
//                                                        stays until the show replaces it)
//   waitingToShow   show step, front not expected        what the observer left: quiet,
//                                                        watching or hidePending
//   waitingToShow   show step, front expected            watching (widget, fresh observer)
//   watching        another application in front         hidePending
//   hidePending     the expected one in front again      watching
//   hidePending     debounce over, front not expected    quiet (widget faded, observer gone)
//   hidePending     debounce over, front expected        watching
enum class FeedbackPhase {
  quiet,          // no widget pending, no observer
  waitingToShow,  // the show step is scheduled
  watching,       // the widget is (or was) on screen, the observer installed, no hide pending
  hidePending,    // the debounced hide is scheduled
};

class FeedbackFlow : public std::enable_shared_from_this<FeedbackFlow> {
 public:
  static constexpr platform::Duration SHOW_DELAY = std::chrono::milliseconds(200);
  static constexpr platform::Duration HIDE_DEBOUNCE = std::chrono::milliseconds(1200);

  static std::shared_ptr<FeedbackFlow> create(platform::Workspace& workspace,
                                              platform::Windowing& windowing,
                                              platform::RunLoop& mainLoop, FocusedField& field,
                                              const HoverTracker& hover, AgentWindows& windows,
                                              LineSink& sink);

  // Command thread: "write_success". A "field_rect" of the parent's, when
  // usable, is the field the write went to and wins over what accessibility
  // reports. The window title the parent sends is not read: the guard
  // compares applications.
  void writeSucceeded(const nlohmann::json& command);

 private:
  FeedbackFlow(platform::Workspace& workspace, platform::Windowing& windowing,
               platform::RunLoop& mainLoop, FocusedField& field, const HoverTracker& hover,
               AgentWindows& windows, LineSink& sink)
      : workspace_(workspace),
        windowing_(windowing),
        loop_(mainLoop),
        field_(field),
        hover_(hover),
        windows_(windows),
        sink_(sink) {}

  // The transitions, main loop.
  void writeArrived();
  void showDue(std::uint64_t write, std::optional<platform::Rect> anchor, bool queryField,
               const FeedbackCycle& cycle);
  void applicationActivated(const std::optional<platform::RunningApplication>& app);
  void hideDue();

  // Main loop.
  bool isFrontmostAppExpected();
  void installObserver();
  void removeObserver();
  void scheduleHide();
  void cancelHide();
  // What the observer left behind: the phase outside a show.
  FeedbackPhase observerPhase() const;
  FeedbackOverlayWindow& window();

  platform::Workspace& workspace_;
  platform::Windowing& windowing_;
  platform::RunLoop& loop_;
  FocusedField& field_;
  const HoverTracker& hover_;
  AgentWindows& windows_;
  LineSink& sink_;

  // Written by the command thread, read on the main loop.
  struct FromCommandThread {
    std::mutex mutex;
    std::string expectedBundleId;  // under `mutex`
    // The newest write: a show step for an older one does nothing, so that a
    // flood of writes shows one widget.
    std::atomic<std::uint64_t> writes{0};
  } command_;

  struct OnMainLoop {
    FeedbackPhase phase = FeedbackPhase::quiet;
    std::optional<platform::Workspace::ObserverToken> observer;
    std::shared_ptr<platform::WorkItem> pendingHide;
    // Made on first use.
    std::shared_ptr<FeedbackOverlayWindow> window;
  } mainLoop_;
};

}  // namespace nolari::ambrel
