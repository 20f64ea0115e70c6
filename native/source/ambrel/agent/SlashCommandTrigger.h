#pragma once

#include <memory>

#include "ambrel/agent/AgentWindows.h"
#include "ambrel/agent/HoverTracker.h"
#include "ambrel/agent/SlashCommand.h"
#include "base/LineSink.h"
#include "platform/RunLoop.h"

// The write hotkey's press: the focused field is read on the main loop, never
// on the key path, and a slash command before its caret is written as
// "slash_command_submit"; without one the press writes nothing.

namespace nolari::ambrel {

class SlashCommandTrigger : public std::enable_shared_from_this<SlashCommandTrigger> {
 public:
  // After the write hotkey hid the command list, the check waits this long,
  // so that the text field has the keyboard again.
  static constexpr platform::Duration CHECK_AFTER_LIST = std::chrono::milliseconds(50);

  static std::shared_ptr<SlashCommandTrigger> create(platform::Accessibility& accessibility,
                                                     platform::Workspace& workspace,
                                                     platform::AXUIElement systemWide,
                                                     platform::RunLoop& mainLoop,
                                                     AgentWindows& windows,
                                                     const HoverTracker& hover, LineSink& sink);

  // Keyboard tap thread, at every press, auto-repeats included: each posts its
  // own check. A shown list goes at once, without an event.
  void writeHotkeyPressed();

  // Main loop.
  void check();

 private:
  SlashCommandTrigger(platform::Accessibility& accessibility, platform::Workspace& workspace,
                      platform::AXUIElement systemWide, platform::RunLoop& mainLoop,
                      AgentWindows& windows, const HoverTracker& hover, LineSink& sink)
      : detector_(accessibility, workspace, std::move(systemWide)),
        loop_(mainLoop),
        windows_(windows),
        hover_(hover),
        sink_(sink) {}

  // Main loop only.
  SlashCommandDetector detector_;
  platform::RunLoop& loop_;
  AgentWindows& windows_;
  const HoverTracker& hover_;
  LineSink& sink_;
};

}  // namespace nolari::ambrel
