#pragma once

#include <nlohmann/json.hpp>

#include "ambrel/agent/AgentWindows.h"
#include "ambrel/agent/FeedbackFlow.h"
#include "ambrel/agent/PushToTalk.h"
#include "base/LineSink.h"

// The parent's commands: each command word bound to its handler. A command is
// added with one entry of the table and its handler, both in CommandTable.cpp.
// Types without an entry are ignored without output, like any line that is
// not a command.

namespace nolari::ambrel {

// What the handlers act on. Handlers run on the command thread; what they
// change on the main loop they post there.
struct CommandTargets {
  PushToTalk& pushToTalk;
  AgentWindows& windows;
  FeedbackFlow& feedback;
  LineSink& sink;
};

class CommandTable {
 public:
  explicit CommandTable(CommandTargets targets) : targets_(targets) {}

  // A decoded command: an object whose "type" is a string.
  void dispatch(const nlohmann::json& command) const;

 private:
  const CommandTargets targets_;
};

}  // namespace nolari::ambrel
