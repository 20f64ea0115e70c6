#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ambrel/panels/FloatingPanel.h"
#include "ambrel/panels/HelpCardView.h"
#include "ambrel/panels/HelpContent.h"
#include "base/LineSink.h"
#include "platform/Geometry.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The quick-start help card next to the caret: it names the shortcut that
// starts writing, lists the slash commands and links to the main window and
// the shortcut settings. It never takes the keyboard, so the user types on in
// the field while it shows. The close button, a click elsewhere, another
// application or the inactivity time-out dismiss it ("nolari_help_dismiss");
// a link reports only its own event and hides the card.
//
// Main-thread only, like the floating panel it is shown in.

namespace nolari::ambrel {

class NolariHelpPanel : public std::enable_shared_from_this<NolariHelpPanel> {
 public:
  // Never lower than this, whatever the card holds.
  static constexpr double MIN_HEIGHT = 180;

  static std::shared_ptr<NolariHelpPanel> create(platform::Windowing& windowing,
                                                 platform::Workspace& workspace,
                                                 platform::RunLoop& mainLoop, LineSink& sink,
                                                 std::int32_t ownPid);

  // Rectangles in bottom-left screen coordinates; one without width and
  // height counts as absent. The user's display settings are read afresh.
  void show(HelpContent content, const platform::Rect& fieldRect,
            const std::optional<platform::Rect>& caretRect);
  // Without an event; fades out unless `animated` is false or the user asked
  // for reduced motion.
  void hide(bool animated);
  // "nolari_help_dismiss", then hides.
  void dismiss();

  bool isVisible() const { return panel_->isVisible(); }
  // The texts of the last showing, the standard ones before the first.
  const HelpContent& content() const { return content_; }

 private:
  NolariHelpPanel(platform::Windowing& windowing, platform::Workspace& workspace, LineSink& sink);
  void handlePointer(const platform::PointerEvent& event);
  void activate(std::string_view action);
  // Lays the card out again for the hover flags and hands it to the window.
  void redraw();

  platform::Windowing& windowing_;
  platform::Workspace& workspace_;
  LineSink& sink_;
  std::shared_ptr<FloatingPanel> panel_;

  HelpContent content_ = HelpContent::empty();
  bool increaseContrast_ = false;
  HelpCardHover hover_{};
  // The card as last laid out, in the window's points, for the pointer.
  platform::DisplayList shown_;
  std::optional<std::string> pressedAction_;
};

}  // namespace nolari::ambrel
