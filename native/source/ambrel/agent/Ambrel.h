#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "ambrel/agent/CommandChannel.h"
#include "ambrel/agent/Emit.h"
#include "ambrel/agent/FeedbackOverlayWindow.h"
#include "ambrel/agent/HighlightOverlayWindow.h"
#include "ambrel/agent/HotkeySpec.h"
#include "ambrel/agent/PushToTalk.h"
#include "ambrel/agent/SlashCommand.h"
#include "ambrel/blob/ActionBlobWindow.h"
#include "ambrel/panels/CommandListPanel.h"
#include "ambrel/panels/NolariHelpPanel.h"
#include "core/NolariConfig.h"
#include "platform/Accessibility.h"
#include "platform/EventTaps.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The overlay agent: reads the parent's commands, watches the keyboard and the
// mouse through two event taps on threads of their own, and writes events.
//
// Threads: construction, start-up, the space-hold timer and the tap check run
// on the main loop; commands on the command reader's thread; the tap
// callbacks on the taps' threads. Fields shared between them: the hotkeys are
// single lock-free words (see `AtomicHotkey`); the press in progress and the
// space-hold state are owned by `PushToTalk` under its mutex; each tap counter
// has a single writer thread and is read once by the tap check; the tap
// handles are guarded by `tapMutex_`. The action blob lives on the main loop:
// commands and taps post to it, and so does the hover handler, which runs
// its accessibility queries on the mouse tap's thread and posts the highlight
// box and `lastFieldRect` to the main loop. So does the rating shown after a
// write: the command thread reads the field's frame and posts the rest.

namespace nolari::ambrel {

class Ambrel : public std::enable_shared_from_this<Ambrel> {
 public:
  static constexpr platform::KeyCode SPACE_KEY = 49;
  static constexpr platform::Duration TAP_CHECK_DELAY = std::chrono::seconds(3);
  static constexpr platform::Duration FEEDBACK_SHOW_DELAY = std::chrono::milliseconds(200);
  static constexpr platform::Duration FEEDBACK_HIDE_DEBOUNCE = std::chrono::milliseconds(1200);

  // Construction sets the messaging time-out of the system-wide element, which
  // bounds every accessibility request of the process; it opens no tap and
  // reads no input.
  static std::shared_ptr<Ambrel> create(platform::Accessibility& accessibility,
                                        platform::Workspace& workspace,
                                        platform::EventTaps& eventTaps,
                                        platform::Windowing& windowing, platform::RunLoop& mainLoop,
                                        const NolariConfig& config, Emit emit);

  // Start-up, on the main loop, once: the start-up line, the blob's
  // callbacks, the command reader on `commandFd`, the keyboard tap, the mouse tap, and the tap
  // check three seconds later when both taps run.
  void start(int commandFd);

  // What the command reader hands over: bytes as they were read.
  void consumeCommandData(std::string_view bytes);

  // The padded frame of the last highlighted field, bottom-left screen
  // coordinates; all zero before the first. Main-thread only: the hover
  // handler posts it there, after the box it goes with.
  platform::Rect lastFieldRect() const { return lastFieldRect_; }

  static constexpr platform::Duration HOVER_THROTTLE = std::chrono::milliseconds(100);
  // After the write hotkey hid the command list, the slash-command check waits
  // this long, so that the text field has the keyboard again.
  static constexpr platform::Duration SLASH_CHECK_AFTER_LIST = std::chrono::milliseconds(50);

 private:
  using CommandHandler = void (Ambrel::*)(const nlohmann::json& command);

  Ambrel(platform::Accessibility& accessibility, platform::Workspace& workspace,
         platform::EventTaps& eventTaps, platform::Windowing& windowing,
         platform::RunLoop& mainLoop, const NolariConfig& config, Emit emit);

  void setupBlobClickHandler();
  // Runs `step` on the blob on the main queue, in the order commands came.
  void postToBlob(std::function<void(ActionBlobWindow&)> step);

  void startCommandListener(int commandFd);
  void handleCommand(std::string_view line);
  void setShortcuts(const nlohmann::json& command);
  void setDictationHotkey(const nlohmann::json& command);
  void setSpaceHold(const nlohmann::json& command);
  void arm(const nlohmann::json& command);
  void disarm(const nlohmann::json& command);
  void setActionBlobState(const nlohmann::json& command);
  void setActionBlobDictationState(const nlohmann::json& command);
  void setActionBlobContext(const nlohmann::json& command);
  void setActionBlobAudioLevel(const nlohmann::json& command);
  void forceActionBlobHover(const nlohmann::json& command);
  void flashActionBlobRejection(const nlohmann::json& command);
  void showList(const nlohmann::json& command);
  // Main loop; the panel is made on first use.
  CommandListPanel& commandList();
  void showNolariHelp(const nlohmann::json& command);

  // The rating after a write (AmbrelWriteSuccess.cpp).
  void handleWriteSuccess(const nlohmann::json& command);
  void showFeedback(std::uint64_t write, std::optional<platform::Rect> anchor, bool queryField,
                    const FeedbackCycle& cycle);
  bool isFrontmostAppExpected();
  void installFeedbackAppSwitchObserver();
  void removeFeedbackAppSwitchObserver();
  void feedbackAppActivated(const std::optional<platform::RunningApplication>& app);
  void scheduleDebouncedFeedbackHide();
  void cancelPendingFeedbackHide();
  FeedbackOverlayWindow& feedbackWindow();

  platform::TapAnswer keyboardTapCallback(const platform::TapEvent& event);
  // Out of the key path, which it would otherwise weigh down.
  [[gnu::cold]] void reenableKeyboardTap(platform::TapEvent::Type cause);
  platform::TapAnswer mouseTapCallback(const platform::TapEvent& event);
  void postCursorTick();
  void handleMouseMove(platform::Point location);
  void hideDebugBox();
  bool handleKeyDown(const platform::KeyEvent& event);
  bool handleKeyUp(const platform::KeyEvent& event);
  void applySpaceRepeatSwallowing(bool swallowed);
  void tapCheck();

  // Main loop. Writes "slash_command_submit" when the focused field holds a
  // slash command before its caret; silent otherwise.
  void checkSlashCommandInField();
  // Main loop. The focused element's frame, bottom-left, not grown.
  std::optional<platform::Rect> queryFocusedFieldRect();

  platform::Accessibility& accessibility_;
  platform::Workspace& workspace_;
  platform::EventTaps& eventTaps_;
  platform::Windowing& windowing_;
  platform::RunLoop& mainLoop_;
  const NolariConfig config_;
  const Emit emit_;

  const platform::AXUIElement systemWideAX_;
  SlashCommandDetector slashCommands_;
  std::mutex tapMutex_;
  std::shared_ptr<platform::EventTap> keyEventTap_;
  std::shared_ptr<platform::EventTap> mouseEventTap_;
  // Callbacks of each tap and key downs: together the tap check's counts. One
  // writer each, so an increment needs no read-modify-write.
  std::atomic<std::int64_t> keyTapCallbacks_{0};
  std::atomic<std::int64_t> mouseTapCallbacks_{0};
  std::atomic<std::int64_t> tapKeyEventCount_{0};

  AtomicHotkey writeHotkey_;
  AtomicHotkey dictationCommandHotkey_;
  const std::shared_ptr<PushToTalk> pushToTalk_;
  // Whether the keyboard tap swallows the space bar's repeats: while space
  // hold is on. Guarded by `tapMutex_`, with the tap it is applied to.
  bool spaceRepeatsSwallowed_;

  CommandFramer stdinFramer_;

  // Made and used on the main loop only.
  std::shared_ptr<ActionBlobWindow> blob_;
  // Made on first use.
  std::shared_ptr<NolariHelpPanel> helpPanel_;
  // A pointer move waits on the main queue for the blob's cursor tick; later
  // moves join it rather than queue behind it.
  std::atomic<bool> cursorTickPending_{false};
  // Likewise the latest audio level.
  std::atomic<double> pendingAudioLevel_{0};
  std::atomic<bool> audioLevelPending_{false};

  // Made on the main loop on first use and kept; the keyboard tap reads
  // whether it shows through the published pointer, without a lock.
  std::shared_ptr<CommandListPanel> commandList_;
  std::atomic<const CommandListPanel*> publishedCommandList_{nullptr};

  // Fixed at construction: whether hovering draws the box.
  const bool showDebugBox_;
  // The last processed pointer move; mouse tap thread only.
  platform::TimePoint lastHoverUpdate_{};
  bool hoverUpdated_ = false;
  // Main loop only.
  std::unique_ptr<HighlightOverlayWindow> highlight_;

  // The padded frame of the last highlighted field, bottom-left coordinates;
  // all zero until the hover highlight sets it. Written on the main loop, under
  // the lock for the write-success flow, which reads it on the command thread.
  std::mutex lastFieldRectMutex_;
  platform::Rect lastFieldRect_{};

  // Written by the command thread, read on the main loop.
  std::mutex feedbackMutex_;
  std::string feedbackExpectedBundleId_;
  // The newest write: a show step queued for an older one does nothing, so a
  // flood of writes shows one widget.
  std::atomic<std::uint64_t> feedbackWrites_{0};
  // Main loop only; the window is made on first use.
  std::shared_ptr<FeedbackOverlayWindow> feedback_;
  std::optional<platform::Workspace::ObserverToken> feedbackAppSwitchObserver_;
  std::shared_ptr<platform::WorkItem> feedbackPendingHide_;
};

}  // namespace nolari::ambrel
