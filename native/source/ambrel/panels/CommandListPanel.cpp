#include "ambrel/panels/CommandListPanel.h"

#include <algorithm>
#include <string>
#include <utility>

#include "ambrel/blob/DesignTokens.h"
#include "base/NolariLogger.h"

namespace nolari::ambrel {

namespace {

namespace Tokens = BlobDesignTokens;
using platform::KeyCode;
using Focus = FloatingPanel::Focus;

namespace Key {
constexpr KeyCode period = 47;
constexpr KeyCode down = 125;
constexpr KeyCode up = 126;
constexpr KeyCode home = 115;
constexpr KeyCode end = 119;
constexpr KeyCode pageUp = 116;
constexpr KeyCode pageDown = 121;
constexpr KeyCode returnKey = 36;
// Shift, Control, Option, Command, Caps Lock and Fn, left and right: a
// modifier pressed on its way to Shift-Down or Command-period is no key of
// its own.
constexpr KeyCode firstModifier = 54;
constexpr KeyCode lastModifier = 63;
}  // namespace Key

constexpr std::ptrdiff_t PAGE_STEP = 4;
// The device-independent modifier bits.
constexpr std::uint64_t MODIFIER_MASK = 0xFFFF0000;

}  // namespace

std::shared_ptr<CommandListPanel> CommandListPanel::create(platform::Windowing& windowing,
                                                           platform::Workspace& workspace,
                                                           platform::RunLoop& mainLoop,
                                                           LineSink& sink, std::int32_t ownPid) {
  std::shared_ptr<CommandListPanel> list(new CommandListPanel(windowing, workspace, sink));
  list->configure(mainLoop, ownPid);
  return list;
}

CommandListPanel::CommandListPanel(platform::Windowing& windowing, platform::Workspace& workspace,
                                   LineSink& sink)
    : windowing_(windowing), workspace_(workspace), sink_(sink) {}

void CommandListPanel::configure(platform::RunLoop& mainLoop, std::int32_t ownPid) {
  auto weak = weak_from_this();
  panel_ = FloatingPanel::create(
      windowing_, workspace_, mainLoop,
      {.logName = "CommandListPanel",
       .windowName = WINDOW_NAME,
       .accessibilityLabel = ACCESSIBILITY_LABEL,
       .accessibilityRole = "list",
       .width = Tokens::PanelSize::width,
       .insideClickRestartsTimer = false,
       .ownPid = ownPid},
      [weak](const platform::PointerEvent& event) {
        if (auto self = weak.lock()) self->handlePointer(event);
      },
      // After a click elsewhere or a switch the user chose where the focus
      // goes; only the time-out gives it back.
      [weak](FloatingPanel::Dismissal why) {
        if (auto self = weak.lock()) {
          self->dismiss(why == FloatingPanel::Dismissal::inactivity ? Focus::restore
                                                                    : Focus::leave);
        }
      });
}

void CommandListPanel::show(std::vector<CommandListItem> items, const platform::Rect& fieldRect,
                            const std::optional<platform::Rect>& caretRect, CommandListMode mode) {
  items_ = std::move(items);
  focusedIndex_ = 0;
  mode_ = mode;
  pressedRow_.reset();
  const double height = commandListHeight(items_.size());
  const PanelPlacement placement =
      computePanelFrame(caretRect, fieldRect, Tokens::PanelSize::width, height,
                        workspace_.screens(), workspace_.mainScreen());
  std::string line = "CommandListPanel.show mode=";
  line += rawValue(mode_);
  line += " items=";
  line += std::to_string(items_.size());
  line += " frame=";
  line += describeRect(placement.frame);
  line += " flipped=";
  line += flipName(placement.flip);
  line += " caret=";
  line += describeRect(caretRect);
  NolariLogger::info(line);

  metrics_ = measureCommandList(items_, windowing_.textMeasurer());
  panel_->setContent(drawCommandList(items_, focusedIndex_, metrics_, placement.frame.size));
  panel_->show(placement, true);
  listVisible_.store(true, std::memory_order_release);
  takeKeyboard();
}

// Without the keyboard the list still works by mouse.
void CommandListPanel::takeKeyboard() {
  auto& window = panel_->window();
  if (window.holdsKeyboard()) return;
  const bool taken = window.takeKeyboard([weak = weak_from_this()](const platform::KeyEvent& key) {
    if (auto self = weak.lock()) self->keyDown(key);
  });
  if (!taken) NolariLogger::warn("CommandListPanel: the keyboard could not be taken; mouse only");
}

void CommandListPanel::redraw() {
  panel_->setContent(
      drawCommandList(items_, focusedIndex_, metrics_, panel_->placement().frame.size));
}

void CommandListPanel::hide(bool animated) { hide(animated, Focus::restore); }

void CommandListPanel::hide(bool animated, Focus focus) {
  listVisible_.store(false, std::memory_order_release);
  panel_->hide(animated, focus);
}

void CommandListPanel::dismiss() { dismiss(Focus::restore); }

void CommandListPanel::dismiss(Focus focus) {
  sink_.emitTyped("list_dismissed", {{"mode", rawValue(mode_)}});
  hide(true, focus);
}

void CommandListPanel::confirmSelection() {
  if (items_.empty() || focusedIndex_ >= items_.size()) return;
  const CommandListItem& item = items_[focusedIndex_];
  sink_.emitTyped(
      "list_selected",
      {{"trigger", item.trigger}, {"full_text", item.fullText}, {"mode", rawValue(mode_)}});
  hide(true, Focus::restore);
}

void CommandListPanel::moveFocus(std::ptrdiff_t to) {
  const std::size_t rows = commandListRowCount(items_.size());
  if (rows == 0) return;
  focusedIndex_ = static_cast<std::size_t>(
      std::clamp<std::ptrdiff_t>(to, 0, static_cast<std::ptrdiff_t>(rows) - 1));
  redraw();
  panel_->resetInactivityTimer();
}

void CommandListPanel::keyDown(const platform::KeyEvent& event) {
  if (!isListVisible()) return;
  if ((event.flags & MODIFIER_MASK) == platform::EventFlags::command &&
      event.keyCode == Key::period) {
    dismiss();
    return;
  }
  const auto focused = static_cast<std::ptrdiff_t>(focusedIndex_);
  switch (event.keyCode) {
    case Key::down:
      moveFocus(focused + 1);
      return;
    case Key::up:
      moveFocus(focused - 1);
      return;
    case Key::home:
      moveFocus(0);
      return;
    case Key::end:
      moveFocus(static_cast<std::ptrdiff_t>(items_.size()));
      return;
    case Key::pageUp:
      moveFocus(focused - PAGE_STEP);
      return;
    case Key::pageDown:
      moveFocus(focused + PAGE_STEP);
      return;
    case Key::returnKey:
      confirmSelection();
      return;
    default:
      if (event.keyCode >= Key::firstModifier && event.keyCode <= Key::lastModifier) return;
      dismiss();
  }
}

// A press on a row focuses it; a release on the row pressed picks it.
void CommandListPanel::handlePointer(const platform::PointerEvent& event) {
  using Type = platform::PointerEvent::Type;
  if (!isListVisible()) return;
  const auto row =
      commandListRowIndex(event.location, items_.size(), panel_->placement().frame.size);
  if (event.type == Type::pressed) {
    pressedRow_ = row;
    if (row && *row != focusedIndex_) {
      focusedIndex_ = *row;
      redraw();
    }
  } else if (event.type == Type::released) {
    auto pressed = std::exchange(pressedRow_, std::nullopt);
    if (row && row == pressed && *row == focusedIndex_) confirmSelection();
  }
}

}  // namespace nolari::ambrel
