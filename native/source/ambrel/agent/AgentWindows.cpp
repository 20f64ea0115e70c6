#include "ambrel/agent/AgentWindows.h"

#include <unistd.h>

#include <map>

namespace nolari::ambrel {

std::shared_ptr<AgentWindows> AgentWindows::create(platform::Windowing& windowing,
                                                   platform::Workspace& workspace,
                                                   platform::RunLoop& mainLoop, LineSink& sink) {
  return std::shared_ptr<AgentWindows>(new AgentWindows(windowing, workspace, mainLoop, sink));
}

// The blob's clicks and actions become events; a tap is reported as the
// click alone.
void AgentWindows::createBlob() {
  auto& blob = mainLoop_.blob;
  blob = ActionBlobWindow::create(windowing_, workspace_, loop_);
  blob->onBlobClick = [&sink = sink_](const ActionBlobState& state) {
    nlohmann::json payload = {{"state", state.stringValue()}, {"pid", ::getpid()}};
    if (!state.message().empty()) payload["message"] = state.message();
    sink.emitTyped("action_blob_click", payload);
  };
  blob->onBlobAction = [&sink = sink_](BlobAction action, const ActionBlobState& state) {
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
    sink.emitTyped(event->second, {{"state", state.stringValue()}, {"pid", ::getpid()}});
  };
  blob->onRequestContext = [&sink = sink_] {
    sink.emitTyped("action_blob_get_context", {{"pid", ::getpid()}});
  };
}

void AgentWindows::post(std::function<void(AgentWindows&)> step) {
  loop_.post([weak = weak_from_this(), step = std::move(step)] {
    if (auto self = weak.lock()) step(*self);
  });
}

void AgentWindows::postToBlob(std::function<void(ActionBlobWindow&)> step) {
  post([step = std::move(step)](AgentWindows& windows) {
    if (auto* blob = windows.blob()) step(*blob);
  });
}

void AgentWindows::postAudioLevel(double level) {
  coalesced_.audioLevel.store(level);
  if (coalesced_.audioLevelPending.exchange(true)) return;
  post([](AgentWindows& windows) {
    windows.coalesced_.audioLevelPending.store(false);
    if (auto* blob = windows.blob()) blob->setAudioLevel(windows.coalesced_.audioLevel.load());
  });
}

void AgentWindows::postCursorTick() {
  if (coalesced_.cursorTickPending.exchange(true)) return;
  post([](AgentWindows& windows) {
    windows.coalesced_.cursorTickPending.store(false);
    if (auto* blob = windows.blob()) blob->handleCursorTick();
  });
}

CommandListPanel& AgentWindows::commandList() {
  if (!mainLoop_.commandList) {
    mainLoop_.commandList =
        CommandListPanel::create(windowing_, workspace_, loop_, sink_, ::getpid());
    mainLoop_.publishedCommandList.store(mainLoop_.commandList.get(), std::memory_order_release);
  }
  return *mainLoop_.commandList;
}

NolariHelpPanel& AgentWindows::helpPanel() {
  if (!mainLoop_.helpPanel) {
    mainLoop_.helpPanel = NolariHelpPanel::create(windowing_, workspace_, loop_, sink_, ::getpid());
  }
  return *mainLoop_.helpPanel;
}

}  // namespace nolari::ambrel
