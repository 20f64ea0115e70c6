#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ambrel/agent/AgentWindows.h"
#include "ambrel/agent/CommandChannel.h"
#include "ambrel/agent/CommandTable.h"
#include "ambrel/agent/FeedbackFlow.h"
#include "ambrel/agent/FocusedField.h"
#include "ambrel/agent/HoverTracker.h"
#include "ambrel/agent/PushToTalk.h"
#include "ambrel/agent/SlashCommandTrigger.h"
#include "ambrel/agent/TapCheck.h"
#include "base/LineSink.h"
#include "core/NolariConfig.h"
#include "platform/Accessibility.h"
#include "platform/EventTaps.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The overlay agent, one per process: the wiring of its parts. The command
// channel reads the parent's commands on a thread of its own and hands them
// to the command table; the keyboard tap's events go to push-to-talk, the
// mouse tap's to the hover tracker, each tap on a thread of its own; the
// write hotkey goes to the slash-command trigger; "write_success" to the
// feedback flow. Each part says which of its fields which thread owns.

namespace nolari::ambrel {

// What `main` reads from the process's environment for the agent.
struct AgentSettings {
  // NOLARI_HOVER_DEBUG_BOX_VISIBLE, absent when unset.
  std::optional<std::string> hoverDebugBoxVisible;
};

class Ambrel : public std::enable_shared_from_this<Ambrel> {
 public:
  // Construction sets the messaging time-out of the system-wide element, which
  // bounds every accessibility request of the process, and makes the
  // highlight box hidden; it opens no tap and reads no input.
  static std::shared_ptr<Ambrel> create(platform::Accessibility& accessibility,
                                        platform::Workspace& workspace,
                                        platform::EventTaps& eventTaps,
                                        platform::Windowing& windowing, platform::RunLoop& mainLoop,
                                        const NolariConfig& config, LineSink& sink,
                                        const AgentSettings& settings = {});

  // Start-up, on the main loop, once: the start-up line, the blob, the command
  // reader on `commandFd`, the keyboard tap, the mouse tap, and the tap check
  // three seconds later when both taps run.
  void start(int commandFd);

  // What the command reader hands over: bytes as they were read.
  void consumeCommandData(std::string_view bytes) { channel_->consume(bytes); }

  // The padded frame of the last highlighted field, bottom-left screen
  // coordinates; all zero before the first.
  platform::Rect lastFieldRect() const { return hover_->lastFieldRect(); }

 private:
  Ambrel(platform::Accessibility& accessibility, platform::Workspace& workspace,
         platform::EventTaps& eventTaps, platform::Windowing& windowing,
         platform::RunLoop& mainLoop, const NolariConfig& config, LineSink& sink,
         const AgentSettings& settings);

  platform::Accessibility& accessibility_;
  platform::EventTaps& eventTaps_;
  platform::RunLoop& mainLoop_;
  LineSink& sink_;

  const platform::AXUIElement systemWideAX_;
  FocusedField focusedField_;
  TapCheck tapCheck_;
  const std::shared_ptr<AgentWindows> windows_;
  const std::shared_ptr<HoverTracker> hover_;
  const std::shared_ptr<SlashCommandTrigger> slashCommands_;
  const std::shared_ptr<PushToTalk> pushToTalk_;
  const std::shared_ptr<FeedbackFlow> feedback_;
  const CommandTable commands_;
  // Made by `create`, once the agent can be held weakly.
  std::shared_ptr<CommandChannel> channel_;
};

}  // namespace nolari::ambrel
