#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "ambrel/panels/CommandListView.h"
#include "ambrel/panels/FloatingPanel.h"
#include "base/LineSink.h"
#include "platform/EventTaps.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The list the parent shows under the caret when the user types a slash
// command or asks for recent results. The user moves through it with the
// arrows, Home, End and the page keys, picks a row with Return or a click,
// and dismisses it with any other key, a click elsewhere, a switch to
// another application or by leaving it alone; the choice goes out as
// "list_selected" or "list_dismissed", and the keyboard goes back to the
// application the user was typing in.
//
// Main-thread only, except `isListVisible`, which the keyboard tap reads.

namespace nolari::ambrel {

class CommandListPanel : public std::enable_shared_from_this<CommandListPanel> {
 public:
  static constexpr const char* ACCESSIBILITY_LABEL = "Nolari command list";
  static constexpr const char* WINDOW_NAME = "command-list";

  // The window is made at once, off screen.
  static std::shared_ptr<CommandListPanel> create(platform::Windowing& windowing,
                                                  platform::Workspace& workspace,
                                                  platform::RunLoop& mainLoop, LineSink& sink,
                                                  std::int32_t ownPid);

  // Rectangles in bottom-left screen coordinates; one of zero width and
  // height counts as unknown. A showing replaces the one on screen without an
  // event.
  void show(std::vector<CommandListItem> items, const platform::Rect& fieldRect,
            const std::optional<platform::Rect>& caretRect,
            CommandListMode mode = CommandListMode::list);
  // Without an event; the focus goes back to the previous application.
  void hide(bool animated);
  // "list_dismissed", then hides.
  void dismiss();
  // "list_selected" for the focused item, then hides; nothing without items.
  void confirmSelection();
  // A key down while the list holds the keyboard.
  void keyDown(const platform::KeyEvent& event);
  void handlePointer(const platform::PointerEvent& event);

  // Any thread.
  bool isListVisible() const { return listVisible_.load(std::memory_order_acquire); }
  bool isAnimatingOut() const { return panel_->isAnimatingOut(); }
  std::size_t focusedIndex() const { return focusedIndex_; }
  CommandListMode mode() const { return mode_; }
  const PanelPlacement& placement() const { return panel_->placement(); }
  // The trigger column as the current showing measured it.
  const CommandListMetrics& metrics() const { return metrics_; }

 private:
  CommandListPanel(platform::Windowing& windowing, platform::Workspace& workspace, LineSink& sink);
  void configure(platform::RunLoop& mainLoop, std::int32_t ownPid);
  void dismiss(FloatingPanel::Focus focus);
  void hide(bool animated, FloatingPanel::Focus focus);
  void redraw();
  // Focus moves only over the rows drawn, so that the highlighted row is
  // always the one Return picks.
  void moveFocus(std::ptrdiff_t to);
  void takeKeyboard();

  platform::Windowing& windowing_;
  platform::Workspace& workspace_;
  LineSink& sink_;
  std::shared_ptr<FloatingPanel> panel_;

  std::vector<CommandListItem> items_;
  std::size_t focusedIndex_ = 0;
  CommandListMode mode_ = CommandListMode::list;
  CommandListMetrics metrics_{};
  std::atomic<bool> listVisible_{false};
  // The row a press in the current showing landed on: a release on it picks
  // it.
  std::optional<std::size_t> pressedRow_;
};

}  // namespace nolari::ambrel
