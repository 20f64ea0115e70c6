#include "ambrel/panels/NolariHelpPanel.h"

#include <algorithm>
#include <string>
#include <utility>

#include "ambrel/blob/DesignTokens.h"
#include "ambrel/panels/PanelPlacement.h"
#include "base/NolariLogger.h"

namespace nolari::ambrel {

namespace {

namespace Tokens = BlobDesignTokens;
using platform::Rect;

// The visible frame the panel went to: of the screen holding the middle of
// its top edge, which placement keeps on the anchor's screen.
Rect visibleFrameOf(const PanelPlacement& placement, platform::Workspace& workspace) {
  const Rect& frame = placement.frame;
  const platform::Point top{frame.minX() + frame.size.width / 2, frame.maxY() - 0.5};
  const auto screens = workspace.screens();
  for (const auto& screen : screens) {
    if (screen.visibleFrame.contains(top)) return screen.visibleFrame;
  }
  if (auto main = workspace.mainScreen()) return main->visibleFrame;
  if (!screens.empty()) return screens.front().visibleFrame;
  return {{0, 0}, {1440, 900}};
}

std::optional<Rect> usable(const std::optional<Rect>& rect) {
  if (rect && rect->isFinite() && (rect->size.width > 0 || rect->size.height > 0)) return rect;
  return std::nullopt;
}

}  // namespace

std::shared_ptr<NolariHelpPanel> NolariHelpPanel::create(platform::Windowing& windowing,
                                                         platform::Workspace& workspace,
                                                         platform::RunLoop& mainLoop,
                                                         LineSink& sink, std::int32_t ownPid) {
  std::shared_ptr<NolariHelpPanel> help(new NolariHelpPanel(windowing, workspace, sink));
  std::weak_ptr<NolariHelpPanel> weak = help;
  help->panel_ = FloatingPanel::create(
      windowing, workspace, mainLoop,
      {.logName = "NolariHelpPanel",
       .windowName = "help-card",
       .accessibilityLabel = "Nolari quickstart help",
       .accessibilityRole = "group",
       .width = Tokens::HelpCard::width,
       .insideClickRestartsTimer = true,
       .ownPid = ownPid},
      [weak](const platform::PointerEvent& event) {
        if (auto self = weak.lock()) self->handlePointer(event);
      },
      [weak](FloatingPanel::Dismissal why) {
        auto self = weak.lock();
        if (!self) return;
        self->sink_.emitTyped("nolari_help_dismiss", nlohmann::json::object());
        // A click elsewhere or another application in front: the user chose
        // where to go next, and the focus stays there.
        self->panel_->hide(!self->windowing_.displayOptions().reduceMotion,
                           why == FloatingPanel::Dismissal::inactivity
                               ? FloatingPanel::Focus::restore
                               : FloatingPanel::Focus::leave);
      });
  return help;
}

NolariHelpPanel::NolariHelpPanel(platform::Windowing& windowing, platform::Workspace& workspace,
                                 LineSink& sink)
    : windowing_(windowing), workspace_(workspace), sink_(sink) {}

void NolariHelpPanel::show(HelpContent content, const Rect& fieldRect,
                           const std::optional<Rect>& caretRect) {
  content_ = std::move(content);
  const platform::DisplayOptions options = windowing_.displayOptions();
  increaseContrast_ = options.increaseContrast;
  hover_ = {};
  pressedAction_.reset();
  HelpCardLayout card =
      layoutHelpCard(content_, hover_, increaseContrast_, windowing_.textMeasurer());

  const Rect field = fieldRect.isFinite() ? fieldRect : Rect{};
  const auto caret = usable(caretRect);
  const auto screens = workspace_.screens();
  const auto mainScreen = workspace_.mainScreen();
  double height = std::max(card.fittingHeight, MIN_HEIGHT);
  PanelPlacement placement =
      computePanelFrame(caret, field, Tokens::HelpCard::width, height, screens, mainScreen);
  // A card taller than the screen is cut at the bottom.
  const double room =
      visibleFrameOf(placement, workspace_).size.height - 2 * Tokens::PanelSize::screenMargin;
  if (height > room && room > 0) {
    height = room;
    placement =
        computePanelFrame(caret, field, Tokens::HelpCard::width, height, screens, mainScreen);
  }

  std::string line = "NolariHelpPanel.show frame=";
  line += describeRect(placement.frame);
  line += " flipped=";
  line += flipName(placement.flip);
  line += " chips=";
  line += describeChips(content_.hotkeyChips);
  NolariLogger::info(line);

  shown_ = drawHelpPanel(std::move(card.content), placement.frame.size);
  panel_->setContent(shown_);
  panel_->show(placement, !options.reduceMotion);
}

void NolariHelpPanel::hide(bool animated) {
  panel_->hide(animated && !windowing_.displayOptions().reduceMotion,
               FloatingPanel::Focus::restore);
}

void NolariHelpPanel::dismiss() {
  sink_.emitTyped("nolari_help_dismiss", nlohmann::json::object());
  hide(true);
}

// A click is an action where it is pressed and released on the same one; a
// press anywhere on the card starts the time-out over.
void NolariHelpPanel::handlePointer(const platform::PointerEvent& event) {
  using Type = platform::PointerEvent::Type;
  if (!panel_->isVisible()) return;
  const auto action = platform::hitTest(shown_, event.location);
  switch (event.type) {
    case Type::entered:
    case Type::moved:
    case Type::exited: {
      const bool inside = event.type != Type::exited;
      const HelpCardHover hover{.setShortcut = inside && action == HELP_CARD_SET_SHORTCUT,
                                .openNolari = inside && action == HELP_CARD_OPEN_NOLARI};
      if (hover == hover_) break;
      hover_ = hover;
      redraw();
      break;
    }
    case Type::pressed:
      pressedAction_ = action;
      panel_->resetInactivityTimer();
      break;
    case Type::released: {
      const auto pressed = std::exchange(pressedAction_, std::nullopt);
      if (action && action == pressed) activate(*action);
      break;
    }
  }
}

void NolariHelpPanel::activate(std::string_view action) {
  if (action == HELP_CARD_DISMISS) {
    dismiss();
  } else if (action == HELP_CARD_OPEN_NOLARI) {
    sink_.emitTyped("nolari_help_open_nolari", nlohmann::json::object());
    hide(true);
  } else if (action == HELP_CARD_SET_SHORTCUT) {
    sink_.emitTyped("nolari_help_set_shortcut", nlohmann::json::object());
    hide(true);
  }
}

void NolariHelpPanel::redraw() {
  HelpCardLayout card =
      layoutHelpCard(content_, hover_, increaseContrast_, windowing_.textMeasurer());
  shown_ = drawHelpPanel(std::move(card.content), panel_->placement().frame.size);
  panel_->setContent(shown_);
}

}  // namespace nolari::ambrel
