#include "ambrel/agent/SlashCommandTrigger.h"

#include "ambrel/agent/CommandChannel.h"

namespace nolari::ambrel {

std::shared_ptr<SlashCommandTrigger> SlashCommandTrigger::create(
    platform::Accessibility& accessibility, platform::Workspace& workspace,
    platform::AXUIElement systemWide, platform::RunLoop& mainLoop, AgentWindows& windows,
    const HoverTracker& hover, LineSink& sink) {
  return std::shared_ptr<SlashCommandTrigger>(new SlashCommandTrigger(
      accessibility, workspace, std::move(systemWide), mainLoop, windows, hover, sink));
}

void SlashCommandTrigger::writeHotkeyPressed() {
  auto check = [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->check();
  };
  if (windows_.commandListVisible()) {
    windows_.post([](AgentWindows& windows) { windows.commandList().hide(false); });
    loop_.postAfter(CHECK_AFTER_LIST, std::move(check));
  } else {
    loop_.post(std::move(check));
  }
}

void SlashCommandTrigger::check() {
  auto submission = detector_.check();
  if (!submission) return;
  nlohmann::json payload = {{"trigger", submission->trigger},
                            {"pid", submission->pid},
                            {"frame", rectJson(hover_.lastFieldRect())}};
  if (submission->caretRect) payload["caret_rect"] = rectJson(*submission->caretRect);
  sink_.emitTyped("slash_command_submit", payload);
}

}  // namespace nolari::ambrel
