// The parent's commands: decoded lines dispatched through a table of command
// words. Types without an entry are ignored without output, like any line
// that is not a command.

#include <map>
#include <string>

#include "ambrel/Ambrel.h"

namespace nolari::ambrel {

namespace {

using Json = nlohmann::json;

}  // namespace

void Ambrel::handleCommand(std::string_view line) {
  static const std::map<std::string, CommandHandler, std::less<>> handlers = {
      {"set_shortcuts", &Ambrel::setShortcuts},
      {"dictation_set_hotkey", &Ambrel::setDictationHotkey},
      {"dictation_set_space_hold", &Ambrel::setSpaceHold},
      {"dictation_arm", &Ambrel::arm},
      {"dictation_disarm", &Ambrel::disarm},
  };
  auto command = decodeCommand(line);
  if (!command) return;
  auto handler = handlers.find((*command)["type"].get_ref<const std::string&>());
  if (handler != handlers.end()) (this->*handler->second)(*command);
}

// An accelerator that does not parse clears the hotkey; an absent or empty one
// changes nothing.
void Ambrel::setShortcuts(const Json& command) {
  auto accelerator = CommandPayload::string(command, "write_accel");
  if (!accelerator || accelerator->empty()) return;
  auto hotkey = HotkeySpec::parse(*accelerator);
  writeHotkey_.store(hotkey);
  emit_(
      "status",
      {{"event", "hotkey_updated"}, {"write_accel", *accelerator}, {"parsed", hotkey.has_value()}});
}

void Ambrel::setDictationHotkey(const Json& command) {
  auto accelerator = CommandPayload::string(command, "command_accel");
  if (!accelerator || accelerator->empty()) return;
  auto hotkey = HotkeySpec::parse(*accelerator);
  dictationCommandHotkey_.store(hotkey);
  emit_("status", {{"event", "dictation_command_hotkey_updated"},
                   {"accel", *accelerator},
                   {"parsed", hotkey.has_value()}});
}

// Without "enabled" the trigger goes off. The reported delay is the one now in
// force, in whole milliseconds.
void Ambrel::setSpaceHold(const Json& command) {
  const auto setting =
      pushToTalk_->setSpaceHold(CommandPayload::boolean(command, "enabled").value_or(false),
                                CommandPayload::number(command, "delay_ms"));
  applySpaceRepeatSwallowing(setting.enabled);
  emit_("status", {{"event", "dictation_space_hold_updated"},
                   {"enabled", setting.enabled},
                   {"delay_ms",
                    std::chrono::duration_cast<std::chrono::milliseconds>(setting.delay).count()}});
}

// A press on the parent's behalf; the state stays as it is.
void Ambrel::arm(const Json& command) {
  emit_("dictation_ptt_down",
        {{"mode", CommandPayload::string(command, "mode").value_or("dictation")},
         {"source", "stdin"}});
}

void Ambrel::disarm(const Json&) { pushToTalk_->disarm(); }

}  // namespace nolari::ambrel
