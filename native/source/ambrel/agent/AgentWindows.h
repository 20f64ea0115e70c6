#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "ambrel/blob/ActionBlobWindow.h"
#include "ambrel/panels/CommandListPanel.h"
#include "ambrel/panels/NolariHelpPanel.h"
#include "base/LineSink.h"
#include "platform/RunLoop.h"
#include "platform/Windowing.h"
#include "platform/Workspace.h"

// The agent's panels on the main loop: the action blob, made at start-up with
// its clicks and actions turned into events, and the command list and the help
// card, made on first use. Other threads reach them by posting steps, which
// run in the order posted.

namespace nolari::ambrel {

class AgentWindows : public std::enable_shared_from_this<AgentWindows> {
 public:
  static std::shared_ptr<AgentWindows> create(platform::Windowing& windowing,
                                              platform::Workspace& workspace,
                                              platform::RunLoop& mainLoop, LineSink& sink);

  // Main loop, once, at start-up.
  void createBlob();

  // Any thread: `step` runs on the main loop.
  void post(std::function<void(AgentWindows&)> step);
  // Any thread: `step` runs on the blob on the main loop, once it exists.
  void postToBlob(std::function<void(ActionBlobWindow&)> step);
  // Any thread. A flood costs one queued step at a time: a level that
  // arrives while one waits replaces it, and the waveform draws the latest.
  void postAudioLevel(double level);
  // Any thread. A pointer move waits on the main loop for the blob's cursor
  // tick; later moves join it rather than queue behind it.
  void postCursorTick();

  // Any thread, without a lock: whether the command list shows.
  bool commandListVisible() const {
    const CommandListPanel* list = mainLoop_.publishedCommandList.load(std::memory_order_acquire);
    return list && list->isListVisible();
  }

  // Main loop only.
  ActionBlobWindow* blob() { return mainLoop_.blob.get(); }
  CommandListPanel& commandList();
  NolariHelpPanel& helpPanel();

 private:
  AgentWindows(platform::Windowing& windowing, platform::Workspace& workspace,
               platform::RunLoop& mainLoop, LineSink& sink)
      : windowing_(windowing), workspace_(workspace), loop_(mainLoop), sink_(sink) {}

  platform::Windowing& windowing_;
  platform::Workspace& workspace_;
  platform::RunLoop& loop_;
  LineSink& sink_;

  // Made and used on the main loop; the keyboard tap reads whether the list
  // shows through the published pointer.
  struct OnMainLoop {
    std::shared_ptr<ActionBlobWindow> blob;
    std::shared_ptr<CommandListPanel> commandList;
    std::atomic<const CommandListPanel*> publishedCommandList{nullptr};
    std::shared_ptr<NolariHelpPanel> helpPanel;
  } mainLoop_;

  // Set by any thread, cleared by the step it queued.
  struct Coalesced {
    std::atomic<bool> cursorTickPending{false};
    std::atomic<double> audioLevel{0};
    std::atomic<bool> audioLevelPending{false};
  } coalesced_;
};

}  // namespace nolari::ambrel
