#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ambrel/blob/Animation.h"
#include "ambrel/panels/PanelPlacement.h"
#include "platform/DisplayList.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// What the command list and the help card share: a borderless window at the
// status-bar level that grows in towards the caret and fades out, the
// watchers that dismiss it when the user clicks elsewhere or switches to
// another application, the inactivity time-out, and the return of the
// keyboard focus to the application the user was in.
//
// The owner draws the content, places the panel and decides what a dismissal
// says; the panel tells it when one of its watchers or its timer dismisses.
// Main-thread only. Steps it queues or times hold it weakly, and each showing
// and hiding takes a new generation, so that a step left over from an earlier
// one changes nothing.

namespace nolari::ambrel {

class FloatingPanel : public std::enable_shared_from_this<FloatingPanel> {
 public:
  struct Options {
    // Starts the time-out's log line ("CommandListPanel: inactivity timeout").
    std::string logName;
    std::string windowName;
    std::string accessibilityLabel;
    std::string accessibilityRole;
    double width = 0;
    // A mouse down inside the panel that reaches the monitor starts the
    // inactivity time-out over.
    bool insideClickRestartsTimer = false;
    // This program's own: its activation never dismisses, and it is never
    // recorded as the application to return to.
    std::int32_t ownPid = 0;
  };

  enum class Dismissal { outsideClick, otherApplication, inactivity };
  // Whether hiding gives the keyboard focus back to the application that was
  // frontmost when the panel came: not when the user just chose another.
  enum class Focus { restore, leave };

  static std::shared_ptr<FloatingPanel> create(platform::Windowing& windowing,
                                               platform::Workspace& workspace,
                                               platform::RunLoop& mainLoop, Options options,
                                               platform::Windowing::PointerHandler pointer,
                                               std::function<void(Dismissal)> dismiss);
  ~FloatingPanel();
  FloatingPanel(const FloatingPanel&) = delete;
  FloatingPanel& operator=(const FloatingPanel&) = delete;

  // What the panel shows, in its own points; drawn scaled while it grows in.
  void setContent(platform::DisplayList content);

  // Puts the panel at `placement`, growing in from 6 points nearer the caret
  // unless `animated` is false, and starts the watchers and the time-out. A
  // showing that replaces a visible one keeps the application recorded by the
  // first; one during the fade-out stops the fade.
  void show(const PanelPlacement& placement, bool animated);
  // Nothing while the fade-out runs. Otherwise stops the watchers and the
  // time-out, gives the keyboard back, restores the focus when asked to, and
  // fades out (or goes at once).
  void hide(bool animated, Focus focus);
  // Only while visible.
  void resetInactivityTimer();

  // From the start of a showing until its hiding starts.
  bool isVisible() const { return isVisible_; }
  bool isAnimatingOut() const { return isAnimatingOut_; }
  // Where the current or last showing placed the panel.
  const PanelPlacement& placement() const { return placement_; }
  platform::OverlayWindow& window() { return *window_; }

 private:
  FloatingPanel(platform::Windowing& windowing, platform::Workspace& workspace,
                platform::RunLoop& mainLoop, Options options,
                std::function<void(Dismissal)> dismiss);
  void configure(platform::Windowing::PointerHandler pointer);
  void render();
  void cancelAnimations();
  void installDismissalWatchers();
  void removeDismissalWatchers();
  void startInactivityTimer();
  void stopInactivityTimer();
  // Posts a dismissal that applies only to the showing it was made in.
  void postDismissal(Dismissal why);
  void mouseDown(platform::Point location);
  void applicationActivated(const std::optional<platform::RunningApplication>& app);

  platform::Windowing& windowing_;
  platform::Workspace& workspace_;
  platform::RunLoop& mainLoop_;
  const Options options_;
  const std::function<void(Dismissal)> dismiss_;
  Animator animator_;
  std::shared_ptr<platform::OverlayWindow> window_;

  platform::DisplayList content_;
  double scale_ = 1;
  PanelPlacement placement_{};
  bool isVisible_ = false;
  bool isAnimatingOut_ = false;
  std::uint64_t generation_ = 0;
  std::optional<platform::RunningApplication> previousApp_;
  std::optional<platform::Windowing::ObserverToken> mouseMonitor_;
  std::optional<platform::Workspace::ObserverToken> activationObserver_;
  std::shared_ptr<platform::Timer> inactivityTimer_;
  Animator::Id appearAnimation_ = 0;
  Animator::Id fadeAnimation_ = 0;
};

}  // namespace nolari::ambrel
