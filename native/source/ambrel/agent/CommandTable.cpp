#include "ambrel/agent/CommandTable.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ambrel/agent/CommandChannel.h"
#include "ambrel/agent/HotkeySpec.h"
#include "ambrel/panels/PanelPlacement.h"
#include "base/NolariLogger.h"

namespace nolari::ambrel {

namespace {

using Json = nlohmann::json;
using Handler = void (*)(const CommandTargets& to, const Json& command);

// Far beyond any screen: a larger coordinate is a fault of the sender.
constexpr double MAX_COORDINATE = 1e9;

// A rectangle member of the command; one holding a number beyond any screen
// counts as absent.
std::optional<platform::Rect> commandRect(const Json& command, std::string_view key) {
  auto wire = CommandPayload::rect(command, key);
  if (!wire) return std::nullopt;
  const platform::Rect rect{{wire->x, wire->y}, {wire->w, wire->h}};
  const bool sane = rect.isFinite() && std::fabs(wire->x) <= MAX_COORDINATE &&
                    std::fabs(wire->y) <= MAX_COORDINATE && std::fabs(wire->w) <= MAX_COORDINATE &&
                    std::fabs(wire->h) <= MAX_COORDINATE;
  if (!sane) return std::nullopt;
  return rect;
}

// An accelerator that does not parse clears the hotkey; an absent or empty one
// changes nothing.
void setShortcuts(const CommandTargets& to, const Json& command) {
  auto accelerator = CommandPayload::string(command, "write_accel");
  if (!accelerator || accelerator->empty()) return;
  auto hotkey = HotkeySpec::parse(*accelerator);
  to.pushToTalk.setWriteHotkey(hotkey);
  to.sink.emitTyped(
      "status",
      {{"event", "hotkey_updated"}, {"write_accel", *accelerator}, {"parsed", hotkey.has_value()}});
}

void setDictationHotkey(const CommandTargets& to, const Json& command) {
  auto accelerator = CommandPayload::string(command, "command_accel");
  if (!accelerator || accelerator->empty()) return;
  auto hotkey = HotkeySpec::parse(*accelerator);
  to.pushToTalk.setCommandHotkey(hotkey);
  to.sink.emitTyped("status", {{"event", "dictation_command_hotkey_updated"},
                               {"accel", *accelerator},
                               {"parsed", hotkey.has_value()}});
}

// Without "enabled" the trigger goes off. The reported delay is the one now in
// force, in whole milliseconds.
void setSpaceHold(const CommandTargets& to, const Json& command) {
  const auto setting =
      to.pushToTalk.setSpaceHold(CommandPayload::boolean(command, "enabled").value_or(false),
                                 CommandPayload::number(command, "delay_ms"));
  to.sink.emitTyped(
      "status",
      {{"event", "dictation_space_hold_updated"},
       {"enabled", setting.enabled},
       {"delay_ms", std::chrono::duration_cast<std::chrono::milliseconds>(setting.delay).count()}});
}

// A press on the parent's behalf; the state stays as it is.
void arm(const CommandTargets& to, const Json& command) {
  to.sink.emitTyped("dictation_ptt_down",
                    {{"mode", CommandPayload::string(command, "mode").value_or("dictation")},
                     {"source", "stdin"}});
}

void disarm(const CommandTargets& to, const Json&) { to.pushToTalk.disarm(); }

// The state is parsed here, on the reader's thread; the window takes it on
// the main queue.
void setActionBlobState(const CommandTargets& to, const Json& command) {
  auto state = ActionBlobState::from(CommandPayload::string(command, "state").value_or("idle"),
                                     CommandPayload::string(command, "message").value_or(""),
                                     CommandPayload::string(command, "long_message").value_or(""),
                                     CommandPayload::string(command, "action").value_or("dismiss"));
  to.windows.postToBlob(
      [state = std::move(state)](ActionBlobWindow& blob) { blob.setState(state); });
}

void setActionBlobDictationState(const CommandTargets& to, const Json& command) {
  auto state = ActionBlobState::from(CommandPayload::string(command, "state").value_or("idle"),
                                     CommandPayload::string(command, "message").value_or(""));
  to.windows.postToBlob(
      [state = std::move(state)](ActionBlobWindow& blob) { blob.setState(state); });
}

void setActionBlobContext(const CommandTargets& to, const Json& command) {
  BlobContext context{CommandPayload::boolean(command, "has_last_result").value_or(false),
                      CommandPayload::string(command, "last_trigger").value_or("")};
  to.windows.postToBlob(
      [context = std::move(context)](ActionBlobWindow& blob) { blob.setContext(context); });
}

void setActionBlobAudioLevel(const CommandTargets& to, const Json& command) {
  const double level = CommandPayload::number(command, "level").value_or(0);
  to.windows.postAudioLevel(std::isnan(level) ? 0 : std::clamp(level, 0.0, 1.0));
}

void forceActionBlobHover(const CommandTargets& to, const Json& command) {
  const bool on = CommandPayload::boolean(command, "on").value_or(false);
  to.windows.postToBlob([on](ActionBlobWindow& blob) { blob.setDebugForcedHover(on); });
}

void flashActionBlobRejection(const CommandTargets& to, const Json&) {
  to.windows.postToBlob([](ActionBlobWindow& blob) { blob.flashRejection(); });
}

void writeSuccess(const CommandTargets& to, const Json& command) {
  to.feedback.writeSucceeded(command);
}

// Items without a string trigger and preview are dropped; an item that is not
// an object rejects the whole command.
void showList(const CommandTargets& to, const Json& command) {
  auto items = command.find("items");
  if (items == command.end() || !items->is_array() ||
      !std::all_of(items->begin(), items->end(),
                   [](const Json& item) { return item.is_object(); })) {
    NolariLogger::warn("show_list: missing or invalid items");
    return;
  }
  std::vector<CommandListItem> kept;
  for (const Json& item : *items) {
    auto trigger = CommandPayload::string(item, "trigger");
    auto preview = CommandPayload::string(item, "preview");
    if (!trigger || !preview) continue;
    kept.push_back({std::move(*trigger), std::move(*preview),
                    CommandPayload::string(item, "full_text").value_or("")});
  }
  const platform::Rect fieldRect = commandRect(command, "field_rect").value_or(platform::Rect{});
  const auto caretRect = commandRect(command, "caret_rect");
  const CommandListMode mode =
      commandListModeFromRawValue(CommandPayload::string(command, "mode").value_or(""))
          .value_or(CommandListMode::list);
  std::string line = "show_list: ";
  line += std::to_string(kept.size());
  line += " items mode=";
  line += rawValue(mode);
  line += " fieldRect=";
  line += describeRect(fieldRect);
  line += " caret=";
  line += describeRect(caretRect);
  NolariLogger::info(line);
  to.windows.post(
      [items = std::move(kept), fieldRect, caretRect, mode](AgentWindows& windows) mutable {
        windows.commandList().show(std::move(items), fieldRect, caretRect, mode);
      });
}

// The content is read here, on the reader's thread; the panel takes it on the
// main queue.
void showNolariHelp(const CommandTargets& to, const Json& command) {
  auto member = command.find("content");
  if (member == command.end() || !member->is_object()) {
    NolariLogger::warn("show_nolari_help: missing content payload");
    return;
  }
  HelpContent content = HelpContent::from(*member);
  const platform::Rect fieldRect = commandRect(command, "field_rect").value_or(platform::Rect{});
  const auto caretRect = commandRect(command, "caret_rect");
  std::string line = "show_nolari_help chips=";
  line += describeChips(content.hotkeyChips);
  line += " fieldRect=";
  line += describeRect(fieldRect);
  NolariLogger::info(line);
  to.windows.post(
      [content = std::move(content), fieldRect, caretRect](AgentWindows& windows) mutable {
        windows.helpPanel().show(std::move(content), fieldRect, caretRect);
      });
}

const std::map<std::string, Handler, std::less<>>& handlers() {
  static const std::map<std::string, Handler, std::less<>> table = {
      {"set_shortcuts", &setShortcuts},
      {"dictation_set_hotkey", &setDictationHotkey},
      {"dictation_set_space_hold", &setSpaceHold},
      {"dictation_arm", &arm},
      {"dictation_disarm", &disarm},
      {"action_blob_state", &setActionBlobState},
      {"action_blob_set_dictation_state", &setActionBlobDictationState},
      {"action_blob_context", &setActionBlobContext},
      {"action_blob_set_audio_level", &setActionBlobAudioLevel},
      {"action_blob_debug_force_hover", &forceActionBlobHover},
      {"action_blob_flash_rejection", &flashActionBlobRejection},
      {"write_success", &writeSuccess},
      {"show_list", &showList},
      {"show_nolari_help", &showNolariHelp},
  };
  return table;
}

}  // namespace

void CommandTable::dispatch(const Json& command) const {
  auto handler = handlers().find(command["type"].get_ref<const std::string&>());
  if (handler != handlers().end()) handler->second(targets_, command);
}

}  // namespace nolari::ambrel
