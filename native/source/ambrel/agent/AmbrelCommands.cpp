// The parent's commands: decoded lines dispatched through a table of command
// words. Types without an entry are ignored without output, like any line
// that is not a command.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ambrel/agent/Ambrel.h"
#include "ambrel/panels/PanelPlacement.h"
#include "base/NolariLogger.h"

namespace nolari::ambrel {

namespace {

using Json = nlohmann::json;

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

}  // namespace

void Ambrel::handleCommand(std::string_view line) {
  static const std::map<std::string, CommandHandler, std::less<>> handlers = {
      {"set_shortcuts", &Ambrel::setShortcuts},
      {"dictation_set_hotkey", &Ambrel::setDictationHotkey},
      {"dictation_set_space_hold", &Ambrel::setSpaceHold},
      {"dictation_arm", &Ambrel::arm},
      {"dictation_disarm", &Ambrel::disarm},
      {"action_blob_state", &Ambrel::setActionBlobState},
      {"action_blob_set_dictation_state", &Ambrel::setActionBlobDictationState},
      {"action_blob_context", &Ambrel::setActionBlobContext},
      {"action_blob_set_audio_level", &Ambrel::setActionBlobAudioLevel},
      {"action_blob_debug_force_hover", &Ambrel::forceActionBlobHover},
      {"action_blob_flash_rejection", &Ambrel::flashActionBlobRejection},
      {"write_success", &Ambrel::handleWriteSuccess},
      {"show_list", &Ambrel::showList},
      {"show_nolari_help", &Ambrel::showNolariHelp},
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

void Ambrel::postToBlob(std::function<void(ActionBlobWindow&)> step) {
  mainLoop_.post([weak = weak_from_this(), step = std::move(step)] {
    auto self = weak.lock();
    if (self && self->blob_) step(*self->blob_);
  });
}

// The state is parsed here, on the reader's thread; the window takes it on
// the main queue.
void Ambrel::setActionBlobState(const Json& command) {
  auto state = ActionBlobState::from(CommandPayload::string(command, "state").value_or("idle"),
                                     CommandPayload::string(command, "message").value_or(""),
                                     CommandPayload::string(command, "long_message").value_or(""),
                                     CommandPayload::string(command, "action").value_or("dismiss"));
  postToBlob([state = std::move(state)](ActionBlobWindow& blob) { blob.setState(state); });
}

void Ambrel::setActionBlobDictationState(const Json& command) {
  auto state = ActionBlobState::from(CommandPayload::string(command, "state").value_or("idle"),
                                     CommandPayload::string(command, "message").value_or(""));
  postToBlob([state = std::move(state)](ActionBlobWindow& blob) { blob.setState(state); });
}

void Ambrel::setActionBlobContext(const Json& command) {
  BlobContext context{CommandPayload::boolean(command, "has_last_result").value_or(false),
                      CommandPayload::string(command, "last_trigger").value_or("")};
  postToBlob([context = std::move(context)](ActionBlobWindow& blob) { blob.setContext(context); });
}

// A flood of levels costs one queued step at a time: a level that arrives
// while one waits replaces it, and the waveform draws the latest.
void Ambrel::setActionBlobAudioLevel(const Json& command) {
  double level = CommandPayload::number(command, "level").value_or(0);
  level = std::isnan(level) ? 0 : std::clamp(level, 0.0, 1.0);
  pendingAudioLevel_.store(level);
  if (audioLevelPending_.exchange(true)) return;
  postToBlob([this](ActionBlobWindow& blob) {
    audioLevelPending_.store(false);
    blob.setAudioLevel(pendingAudioLevel_.load());
  });
}

void Ambrel::forceActionBlobHover(const Json& command) {
  const bool on = CommandPayload::boolean(command, "on").value_or(false);
  postToBlob([on](ActionBlobWindow& blob) { blob.setDebugForcedHover(on); });
}

void Ambrel::flashActionBlobRejection(const Json&) {
  postToBlob([](ActionBlobWindow& blob) { blob.flashRejection(); });
}

// Items without a string trigger and preview are dropped; an item that is not
// an object rejects the whole command.
void Ambrel::showList(const Json& command) {
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
  mainLoop_.post(
      [weak = weak_from_this(), items = std::move(kept), fieldRect, caretRect, mode]() mutable {
        if (auto self = weak.lock())
          self->commandList().show(std::move(items), fieldRect, caretRect, mode);
      });
}

CommandListPanel& Ambrel::commandList() {
  if (!commandList_) {
    commandList_ = CommandListPanel::create(windowing_, workspace_, mainLoop_, emit_, ::getpid());
    publishedCommandList_.store(commandList_.get(), std::memory_order_release);
  }
  return *commandList_;
}

// The content is read here, on the reader's thread; the panel takes it on the
// main queue.
void Ambrel::showNolariHelp(const Json& command) {
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
  mainLoop_.post(
      [weak = weak_from_this(), content = std::move(content), fieldRect, caretRect]() mutable {
        auto self = weak.lock();
        if (!self) return;
        if (!self->helpPanel_) {
          self->helpPanel_ = NolariHelpPanel::create(self->windowing_, self->workspace_,
                                                     self->mainLoop_, self->emit_, ::getpid());
        }
        self->helpPanel_->show(std::move(content), fieldRect, caretRect);
      });
}

// The blob's clicks and actions become events; a tap is reported as the
// click alone.
void Ambrel::setupBlobClickHandler() {
  blob_ = ActionBlobWindow::create(windowing_, workspace_, mainLoop_);
  blob_->onBlobClick = [emit = emit_](const ActionBlobState& state) {
    Json payload = {{"state", state.stringValue()}, {"pid", ::getpid()}};
    if (!state.message().empty()) payload["message"] = state.message();
    emit("action_blob_click", payload);
  };
  blob_->onBlobAction = [emit = emit_](BlobAction action, const ActionBlobState& state) {
    static const std::map<BlobAction, const char*> events = {
        {BlobAction::retry, "action_blob_retry"},
        {BlobAction::copyLast, "action_blob_copy_last"},
        {BlobAction::openNolari, "action_blob_open_nolari"},
        {BlobAction::discard, "action_blob_discard"},
        {BlobAction::help, "action_blob_help"},
        {BlobAction::dismiss, "action_blob_dismiss"},
        {BlobAction::errorMore, "action_blob_error_more"},
    };
    auto event = events.find(action);
    if (event == events.end()) return;
    emit(event->second, {{"state", state.stringValue()}, {"pid", ::getpid()}});
  };
  blob_->onRequestContext = [emit = emit_] {
    emit("action_blob_get_context", {{"pid", ::getpid()}});
  };
}

}  // namespace nolari::ambrel
