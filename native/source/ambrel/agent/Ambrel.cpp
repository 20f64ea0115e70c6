#include "ambrel/agent/Ambrel.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "ambrel/agent/HoverHighlight.h"
#include "base/NolariLogger.h"
#include "core/AXHelpers.h"
#include "core/CoordinateSpace.h"

namespace nolari::ambrel {

using platform::TapAnswer;
using platform::TapEvent;

namespace {

constexpr float MIN_AX_TIMEOUT_SECONDS = 0.01f;
constexpr std::size_t READ_CHUNK = 64 * 1024;

// An increment by the counter's only writer.
void bump(std::atomic<std::int64_t>& counter) {
  counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

nlohmann::json rectJson(const platform::Rect& rect) {
  return {
      {"x", rect.origin.x}, {"y", rect.origin.y}, {"w", rect.size.width}, {"h", rect.size.height}};
}

}  // namespace

std::shared_ptr<Ambrel> Ambrel::create(platform::Accessibility& accessibility,
                                       platform::Workspace& workspace,
                                       platform::EventTaps& eventTaps,
                                       platform::Windowing& windowing, platform::RunLoop& mainLoop,
                                       const NolariConfig& config, Emit emit) {
  return std::shared_ptr<Ambrel>(new Ambrel(accessibility, workspace, eventTaps, windowing,
                                            mainLoop, config, std::move(emit)));
}

Ambrel::Ambrel(platform::Accessibility& accessibility, platform::Workspace& workspace,
               platform::EventTaps& eventTaps, platform::Windowing& windowing,
               platform::RunLoop& mainLoop, const NolariConfig& config, Emit emit)
    : accessibility_(accessibility),
      workspace_(workspace),
      eventTaps_(eventTaps),
      windowing_(windowing),
      mainLoop_(mainLoop),
      config_(config),
      emit_(std::move(emit)),
      systemWideAX_(accessibility_.createSystemWide()),
      slashCommands_(accessibility_, workspace_, systemWideAX_),
      pushToTalk_(
          PushToTalk::create(mainLoop, emit_, config.dictation.spaceHoldEnabled,
                             PushToTalk::clampedDelay(config.dictation.spaceHoldDelay * 1000.0))),
      spaceRepeatsSwallowed_(config.dictation.spaceHoldEnabled),
      showDebugBox_(HighlightPolicy::debugBoxVisible(
          config.highlight, std::getenv(HighlightPolicy::DEBUG_BOX_ENVIRONMENT))) {
  accessibility_.setMessagingTimeout(
      systemWideAX_,
      std::max(MIN_AX_TIMEOUT_SECONDS, static_cast<float>(config_.dictation.axTimeoutSeconds)));
  highlight_ = std::make_unique<HighlightOverlayWindow>(windowing_);
  highlight_->applyStyle(config_.highlight.nsColor(), config_.highlight.debugOpacity());
}

void Ambrel::start(int commandFd) {
  const bool trusted = accessibility_.isProcessTrusted(true);
  emit_("status", {{"event", "startup"}, {"trusted", trusted}, {"pid", ::getpid()}});
  setupBlobClickHandler();
  startCommandListener(commandFd);

  auto keyTap = eventTaps_.createKeyboardTap(
      [this](const TapEvent& event) { return keyboardTapCallback(event); });
  if (!keyTap) {
    emit_("error", {{"event", "key_event_tap_create_failed"}});
    return;
  }
  {
    std::lock_guard lock(tapMutex_);
    keyEventTap_ = keyTap;
    keyTap->setRepeatsSwallowed(SPACE_KEY, spaceRepeatsSwallowed_);
  }
  mainLoop_.startThread("nolari.hover.key-tap", [keyTap] {
    keyTap->setEnabled(true);
    keyTap->run();
  });

  auto mouseTap =
      eventTaps_.createMouseTap([this](const TapEvent& event) { return mouseTapCallback(event); });
  if (!mouseTap) {
    emit_("warn", {{"event", "mouse_event_tap_create_failed"}});
    return;
  }
  {
    std::lock_guard lock(tapMutex_);
    mouseEventTap_ = mouseTap;
  }
  mainLoop_.startThread("nolari.hover.mouse-tap", [mouseTap] {
    mouseTap->setEnabled(true);
    mouseTap->run();
  });

  mainLoop_.postAfter(TAP_CHECK_DELAY, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->tapCheck();
  });
}

void Ambrel::startCommandListener(int commandFd) {
  // A thread of its own blocks in read, so an idle agent costs nothing; lines
  // are handled on it one after another, in the order they arrive. At the end
  // of input the thread ends and the agent goes on.
  mainLoop_.startThread("nolari.commands", [weak = weak_from_this(), commandFd] {
    std::string buffer(READ_CHUNK, '\0');
    for (;;) {
      const ssize_t got = ::read(commandFd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return;
      auto self = weak.lock();
      if (!self) return;
      self->consumeCommandData(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
  });
}

void Ambrel::consumeCommandData(std::string_view bytes) {
  stdinFramer_.feed(bytes, [this](std::string_view line) { handleCommand(line); });
}

bool Ambrel::handleKeyDown(const platform::KeyEvent& event) {
  // Every space-bar event takes the space-hold path, even one that would
  // match a hotkey.
  if (event.keyCode == SPACE_KEY) return pushToTalk_->spaceKeyDown(event.autorepeat);
  pushToTalk_->otherKeyDown();
  // The command hotkey comes first: set to the same accelerator, only
  // push-to-talk fires.
  if (auto hotkey = dictationCommandHotkey_.load(); hotkey && hotkey->matches(event)) {
    pushToTalk_->commandHotkeyDown();
    return false;
  }
  // Every press posts its own check, auto-repeats included: the field is read
  // on the main loop, never on the key path.
  if (auto hotkey = writeHotkey_.load(); hotkey && hotkey->matches(event)) {
    auto check = [weak = weak_from_this()] {
      if (auto self = weak.lock()) self->checkSlashCommandInField();
    };
    // A shown list goes at once, without an event; the check waits for the
    // field to have the keyboard again.
    const CommandListPanel* list = publishedCommandList_.load(std::memory_order_acquire);
    if (list && list->isListVisible()) {
      mainLoop_.post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->commandList().hide(false);
      });
      mainLoop_.postAfter(SLASH_CHECK_AFTER_LIST, std::move(check));
    } else {
      mainLoop_.post(std::move(check));
    }
  }
  return false;
}

bool Ambrel::handleKeyUp(const platform::KeyEvent& event) {
  if (event.keyCode == SPACE_KEY) {
    pushToTalk_->spaceKeyUp();
    return false;
  }
  // The press ends when its main key goes up, whatever modifiers are held.
  if (auto hotkey = dictationCommandHotkey_.load(); hotkey && hotkey->keyCode == event.keyCode) {
    pushToTalk_->commandHotkeyUp();
  }
  return false;
}

// Every key press of the user in every application comes here: the path of an
// ordinary key takes no lock and allocates nothing.
TapAnswer Ambrel::keyboardTapCallback(const TapEvent& event) {
  bump(keyTapCallbacks_);
  switch (event.type) {
    case TapEvent::Type::keyDown:
      bump(tapKeyEventCount_);
      return handleKeyDown(event.key) ? TapAnswer::swallow : TapAnswer::pass;
    case TapEvent::Type::keyUp:
      return handleKeyUp(event.key) ? TapAnswer::swallow : TapAnswer::pass;
    case TapEvent::Type::tapDisabledByTimeout:
    case TapEvent::Type::tapDisabledByUserInput:
      reenableKeyboardTap(event.type);
      return TapAnswer::pass;
    default:
      return TapAnswer::pass;
  }
}

void Ambrel::reenableKeyboardTap(TapEvent::Type cause) {
  {
    std::lock_guard lock(tapMutex_);
    if (keyEventTap_) keyEventTap_->setEnabled(true);
  }
  NolariLogger::info(cause == TapEvent::Type::tapDisabledByTimeout
                         ? "keyboard tap disabled by time-out, enabled again"
                         : "keyboard tap disabled by user input, enabled again");
  emit_("warn", {{"event", "key_tap_reenabled"}});
}

TapAnswer Ambrel::mouseTapCallback(const TapEvent& event) {
  bump(mouseTapCallbacks_);
  if (event.type == TapEvent::Type::tapDisabledByTimeout ||
      event.type == TapEvent::Type::tapDisabledByUserInput) {
    std::lock_guard lock(tapMutex_);
    if (mouseEventTap_) mouseEventTap_->setEnabled(true);
  } else if (event.type == TapEvent::Type::mouseMoved) {
    handleMouseMove(event.mouseLocation);
  }
  return TapAnswer::pass;
}

void Ambrel::postCursorTick() {
  if (cursorTickPending_.exchange(true)) return;
  mainLoop_.post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    self->cursorTickPending_.store(false);
    if (self->blob_) self->blob_->handleCursorTick();
  });
}

// On the mouse tap's thread. A dropped move costs one comparison; the time
// is taken before the hit test, so a slow application does not shorten the
// interval. `location` is the event's pointer, bottom-left.
void Ambrel::handleMouseMove(platform::Point location) {
  const platform::TimePoint now = mainLoop_.now();
  if (hoverUpdated_ && now - lastHoverUpdate_ < HOVER_THROTTLE) return;
  hoverUpdated_ = true;
  lastHoverUpdate_ = now;
  postCursorTick();

  const auto screens = workspace_.screens();
  const auto mainScreen = workspace_.mainScreen();
  const platform::Point carbon =
      CoordinateSpace::carbonScreenPointFromCocoaScreenPoint(screens, mainScreen, location);
  auto element = AXHoverHitTest::elementAtScreenPoint(accessibility_, systemWideAX_, carbon);
  if (!element) {
    hideDebugBox();
    return;
  }
  auto role = AXHelpers::getStringAttribute(accessibility_, *element, "AXRole");
  // Without a role the policy says no whatever the title: an application
  // that no longer answers is not asked twice more.
  auto title = role ? AXHoverHitTest::windowTitle(accessibility_, *element) : std::nullopt;
  if (!HighlightPolicy::shouldHighlight(role, title, config_.highlight)) {
    hideDebugBox();
    return;
  }
  auto frame = AXHelpers::getFrame(accessibility_, *element);
  auto rects = frame ? hoverRects(screens, mainScreen, *frame, config_.highlight.debugPadding())
                     : std::nullopt;
  if (!rects) {
    hideDebugBox();
    return;
  }

  auto screen = screenHoldingCenter(screens, rects->paddedRect);
  mainLoop_.post([weak = weak_from_this(), padded = rects->paddedRect, screen] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->lastFieldRectMutex_);
      self->lastFieldRect_ = padded;
    }
    if (screen && self->blob_) self->blob_->reposition(screen, false);
    self->highlight_->applyStyle(self->config_.highlight.nsColor(),
                                 self->config_.highlight.debugOpacity());
    if (self->showDebugBox_) {
      self->highlight_->show(padded);
    } else {
      self->highlight_->hide();
    }
  });

  auto rectJson = [](const platform::Rect& r) {
    return nlohmann::json{
        {"x", r.origin.x}, {"y", r.origin.y}, {"w", r.size.width}, {"h", r.size.height}};
  };
  emit_("hover", {{"role", role.value_or("")},
                  {"window_title", title.value_or("")},
                  {"mouse",
                   {{"cocoa_x", location.x},
                    {"cocoa_y", location.y},
                    {"carbon_x", carbon.x},
                    {"carbon_y", carbon.y}}},
                  {"rect", rectJson(rects->frame)},
                  {"window_rect", rectJson(rects->windowRect)},
                  {"padded_rect", rectJson(rects->paddedRect)},
                  {"debug_box_visible", showDebugBox_}});
}

void Ambrel::hideDebugBox() {
  mainLoop_.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->highlight_->hide();
  });
}

void Ambrel::applySpaceRepeatSwallowing(bool swallowed) {
  std::lock_guard lock(tapMutex_);
  spaceRepeatsSwallowed_ = swallowed;
  if (keyEventTap_) keyEventTap_->setRepeatsSwallowed(SPACE_KEY, swallowed);
}

void Ambrel::checkSlashCommandInField() {
  auto submission = slashCommands_.check();
  if (!submission) return;
  nlohmann::json payload = {{"trigger", submission->trigger},
                            {"pid", submission->pid},
                            {"frame", rectJson(lastFieldRect_)}};
  if (submission->caretRect) payload["caret_rect"] = rectJson(*submission->caretRect);
  emit_("slash_command_submit", payload);
}

std::optional<platform::Rect> Ambrel::queryFocusedFieldRect() {
  return slashCommands_.queryFocusedFieldRect();
}

void Ambrel::tapCheck() {
  const std::int64_t events = keyTapCallbacks_.load() + mouseTapCallbacks_.load();
  const std::int64_t keyDowns = tapKeyEventCount_.load();
  if (events > 0 && keyDowns == 0) {
    emit_("error", {{"event", "event_tap_no_keyboard"},
                    {"message",
                     "CGEventTap receives mouse events but no keyboard events. Grant Input "
                     "Monitoring permission in "
                     "System Settings → Privacy & Security → Input Monitoring."},
                    {"mouseEvents", events}});
  } else if (events == 0) {
    emit_(
        "error",
        {{"event", "event_tap_no_events"},
         {"message",
          "CGEventTap created but received 0 events after 3s. Grant Input Monitoring permission to "
          "Ambrel in System Settings."}});
  }
}

}  // namespace nolari::ambrel
