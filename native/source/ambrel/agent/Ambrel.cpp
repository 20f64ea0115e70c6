#include "ambrel/agent/Ambrel.h"

#include <unistd.h>

#include <algorithm>

#include "ambrel/agent/HoverHighlight.h"

namespace nolari::ambrel {

namespace {

constexpr float MIN_AX_TIMEOUT_SECONDS = 0.01f;

platform::AXUIElement systemWideElement(platform::Accessibility& accessibility,
                                        const NolariConfig& config) {
  platform::AXUIElement element = accessibility.createSystemWide();
  accessibility.setMessagingTimeout(
      element,
      std::max(MIN_AX_TIMEOUT_SECONDS, static_cast<float>(config.dictation.axTimeoutSeconds)));
  return element;
}

}  // namespace

std::shared_ptr<Ambrel> Ambrel::create(platform::Accessibility& accessibility,
                                       platform::Workspace& workspace,
                                       platform::EventTaps& eventTaps,
                                       platform::Windowing& windowing, platform::RunLoop& mainLoop,
                                       const NolariConfig& config, LineSink& sink,
                                       const AgentSettings& settings) {
  std::shared_ptr<Ambrel> agent(
      new Ambrel(accessibility, workspace, eventTaps, windowing, mainLoop, config, sink, settings));
  // The reader holds the agent weakly: a command that comes while the agent
  // goes is dropped.
  agent->channel_ = CommandChannel::create(
      mainLoop, [weak = agent->weak_from_this()](const nlohmann::json& command) {
        if (auto self = weak.lock()) self->commands_.dispatch(command);
      });
  return agent;
}

Ambrel::Ambrel(platform::Accessibility& accessibility, platform::Workspace& workspace,
               platform::EventTaps& eventTaps, platform::Windowing& windowing,
               platform::RunLoop& mainLoop, const NolariConfig& config, LineSink& sink,
               const AgentSettings& settings)
    : accessibility_(accessibility),
      eventTaps_(eventTaps),
      mainLoop_(mainLoop),
      sink_(sink),
      systemWideAX_(systemWideElement(accessibility, config)),
      focusedField_(accessibility, workspace, systemWideAX_),
      tapCheck_(sink),
      windows_(AgentWindows::create(windowing, workspace, mainLoop, sink)),
      hover_(HoverTracker::create(
          accessibility, workspace, windowing, mainLoop, config.highlight, systemWideAX_,
          HighlightPolicy::debugBoxVisible(
              config.highlight,
              settings.hoverDebugBoxVisible ? settings.hoverDebugBoxVisible->c_str() : nullptr),
          *windows_, sink)),
      slashCommands_(SlashCommandTrigger::create(accessibility, workspace, systemWideAX_, mainLoop,
                                                 *windows_, *hover_, sink)),
      pushToTalk_(
          PushToTalk::create(mainLoop, sink, config.dictation.spaceHoldEnabled,
                             PushToTalk::clampedDelay(config.dictation.spaceHoldDelay * 1000.0),
                             [weak = std::weak_ptr(slashCommands_)] {
                               if (auto trigger = weak.lock()) trigger->writeHotkeyPressed();
                             })),
      feedback_(FeedbackFlow::create(workspace, windowing, mainLoop, focusedField_, *hover_,
                                     *windows_, sink)),
      commands_({*pushToTalk_, *windows_, *feedback_, sink}) {}

void Ambrel::start(int commandFd) {
  const bool trusted = accessibility_.isProcessTrusted(true);
  sink_.emitTyped("status", {{"event", "startup"}, {"trusted", trusted}, {"pid", ::getpid()}});
  windows_->createBlob();
  channel_->start(commandFd);

  auto keyTap = eventTaps_.createKeyboardTap([this](const platform::TapEvent& event) {
    tapCheck_.keyboardEvent(event);
    return pushToTalk_->tapEvent(event);
  });
  if (!keyTap) {
    sink_.emitTyped("error", {{"event", "key_event_tap_create_failed"}});
    return;
  }
  pushToTalk_->attachKeyboardTap(keyTap);
  mainLoop_.startThread("nolari.hover.key-tap", [keyTap] {
    keyTap->setEnabled(true);
    keyTap->run();
  });

  auto mouseTap = eventTaps_.createMouseTap([this](const platform::TapEvent& event) {
    tapCheck_.mouseEvent();
    return hover_->tapEvent(event);
  });
  if (!mouseTap) {
    sink_.emitTyped("warn", {{"event", "mouse_event_tap_create_failed"}});
    return;
  }
  hover_->attachMouseTap(mouseTap);
  mainLoop_.startThread("nolari.hover.mouse-tap", [mouseTap] {
    mouseTap->setEnabled(true);
    mouseTap->run();
  });

  mainLoop_.postAfter(TapCheck::DELAY, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->tapCheck_.report();
  });
}

}  // namespace nolari::ambrel
