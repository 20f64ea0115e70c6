#include "ambrel/agent/FeedbackFlow.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "ambrel/agent/CommandChannel.h"
#include "ambrel/panels/PanelPlacement.h"
#include "base/NolariLogger.h"

namespace nolari::ambrel {

namespace {

using platform::Rect;

bool usable(const Rect& rect) {
  return rect.isFinite() && rect.size.width > 0 && rect.size.height > 0;
}

// Values from the parent or other applications go into log lines with their
// control characters and line separators written out, so that no value can
// end a line and forge the next one.
std::string loggable(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    const bool nextLine =
        byte == 0xC2 && i + 1 < value.size() && static_cast<unsigned char>(value[i + 1]) == 0x85;
    const bool separator = byte == 0xE2 && i + 2 < value.size() &&
                           static_cast<unsigned char>(value[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(value[i + 2]) & 0xFE) == 0xA8;
    if (byte < 0x20 || byte == 0x7F || byte == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else if (nextLine) {
      out += "\\u0085";
      ++i;
    } else if (separator) {
      out += static_cast<unsigned char>(value[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

std::optional<Rect> wireRect(const nlohmann::json& command) {
  auto rect = CommandPayload::rect(command, "field_rect");
  if (!rect) return std::nullopt;
  const Rect value{{rect->x, rect->y}, {rect->w, rect->h}};
  return usable(value) ? std::optional(value) : std::nullopt;
}

}  // namespace

std::shared_ptr<FeedbackFlow> FeedbackFlow::create(platform::Workspace& workspace,
                                                   platform::Windowing& windowing,
                                                   platform::RunLoop& mainLoop, FocusedField& field,
                                                   const HoverTracker& hover, AgentWindows& windows,
                                                   LineSink& sink) {
  return std::shared_ptr<FeedbackFlow>(
      new FeedbackFlow(workspace, windowing, mainLoop, field, hover, windows, sink));
}

FeedbackOverlayWindow& FeedbackFlow::window() {
  auto& window = mainLoop_.window;
  if (!window) window = FeedbackOverlayWindow::create(windowing_, workspace_, loop_, sink_);
  return *window;
}

void FeedbackFlow::writeSucceeded(const nlohmann::json& command) {
  FeedbackCycle cycle{CommandPayload::string(command, "task_id").value_or(""),
                      CommandPayload::string(command, "prompt_key").value_or("write"),
                      CommandPayload::string(command, "app_name").value_or("unknown")};
  const std::string expected = CommandPayload::string(command, "source_bundle_id").value_or("");
  const auto given = wireRect(command);
  auto immediate = field_.frame();
  if (immediate && !usable(*immediate)) immediate.reset();
  const Rect lastField = hover_.lastFieldRect();
  std::optional<Rect> anchor = given ? given : immediate;
  if (!anchor && usable(lastField)) anchor = lastField;
  std::string line = "feedback write_success: immediateAX=";
  line += describeRect(immediate);
  line += " lastField=";
  line += describeRect(lastField);
  line += " anchorRect=";
  line += describeRect(anchor);
  line += " expectedBundleId=";
  line += loggable(expected);
  NolariLogger::info(line);
  {
    std::lock_guard lock(command_.mutex);
    command_.expectedBundleId = expected;
  }
  const std::uint64_t write = ++command_.writes;
  loop_.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->writeArrived();
  });
  loop_.postAfter(SHOW_DELAY, [weak = weak_from_this(), write, anchor, queryField = !given,
                               cycle = std::move(cycle)] {
    if (auto self = weak.lock()) self->showDue(write, anchor, queryField, cycle);
  });
}

// The transitions. Each runs on the main loop and is the only place its
// phase is entered from.

void FeedbackFlow::writeArrived() {
  window().hide(false, 0.2);
  mainLoop_.phase = FeedbackPhase::waitingToShow;
}

void FeedbackFlow::showDue(std::uint64_t write, std::optional<Rect> anchor, bool queryField,
                           const FeedbackCycle& cycle) {
  if (write != command_.writes.load()) return;
  if (!isFrontmostAppExpected()) {
    NolariLogger::info("feedback: frontmost app changed before show — skipping");
    mainLoop_.phase = observerPhase();
    return;
  }
  std::optional<Rect> fieldRect = queryField ? field_.frame() : std::nullopt;
  if (!fieldRect || !usable(*fieldRect)) fieldRect = anchor;
  auto& widget = window();
  if (!fieldRect) {
    NolariLogger::warn("feedback: no field rect, falling back to blob anchor");
    if (auto* blob = windows_.blob()) widget.showBelowActionBlob(blob->frame(), cycle);
  } else {
    widget.showBelowField(*fieldRect, cycle);
  }
  installObserver();
  mainLoop_.phase = FeedbackPhase::watching;
}

// The guard asks for the front application afresh rather than trusting the
// notice's.
void FeedbackFlow::applicationActivated(const std::optional<platform::RunningApplication>& app) {
  std::string line = "feedback: app activated=";
  line += loggable(app && app->bundleIdentifier ? *app->bundleIdentifier : "?");
  NolariLogger::info(line);
  if (isFrontmostAppExpected()) {
    cancelHide();
  } else {
    scheduleHide();
  }
  // While a show is scheduled, the observer of the earlier widget is on its
  // way out and does not move the phase.
  if (mainLoop_.phase != FeedbackPhase::waitingToShow) mainLoop_.phase = observerPhase();
}

void FeedbackFlow::hideDue() {
  if (isFrontmostAppExpected()) {
    NolariLogger::info("feedback: debounce expired but front is expected — keeping widget");
    mainLoop_.pendingHide.reset();
  } else {
    NolariLogger::info("feedback: app switched (debounced) — hiding widget");
    window().hide(true, 0.15);
    removeObserver();
  }
  if (mainLoop_.phase != FeedbackPhase::waitingToShow) mainLoop_.phase = observerPhase();
}

FeedbackPhase FeedbackFlow::observerPhase() const {
  if (!mainLoop_.observer) return FeedbackPhase::quiet;
  return mainLoop_.pendingHide ? FeedbackPhase::hidePending : FeedbackPhase::watching;
}

// The agent in front (one of its panels) is no switch away. It is recognised
// by its process, so that an application without an identifier never passes
// for it.
bool FeedbackFlow::isFrontmostAppExpected() {
  std::string expected;
  {
    std::lock_guard lock(command_.mutex);
    expected = command_.expectedBundleId;
  }
  if (expected.empty()) {
    NolariLogger::info("feedback guard: no expected bundleId → pass-through");
    return true;
  }
  const auto front = workspace_.frontmostApplication();
  const std::string frontId = front ? front->bundleIdentifier.value_or("") : "";
  const auto own = workspace_.runningApplication(::getpid());
  const std::string ownId = own ? own->bundleIdentifier.value_or("") : "";
  const bool ours = front && front->pid == ::getpid();
  const bool match = ours || frontId == expected;
  std::string line = "feedback guard: front=";
  line += loggable(frontId);
  line += " expected=";
  line += loggable(expected);
  line += " ours=";
  line += loggable(ownId);
  line += " match=";
  line += match ? "true" : "false";
  NolariLogger::info(line);
  return match;
}

void FeedbackFlow::installObserver() {
  removeObserver();
  std::string line = "feedback: installing app-switch observer (expected=";
  {
    std::lock_guard lock(command_.mutex);
    line += loggable(command_.expectedBundleId);
  }
  line += ")";
  NolariLogger::info(line);
  mainLoop_.observer = workspace_.addActivationObserver(
      [weak = weak_from_this()](const std::optional<platform::RunningApplication>& app) {
        if (auto self = weak.lock()) self->applicationActivated(app);
      });
}

void FeedbackFlow::removeObserver() {
  cancelHide();
  if (!mainLoop_.observer) return;
  workspace_.removeActivationObserver(*mainLoop_.observer);
  mainLoop_.observer.reset();
}

void FeedbackFlow::scheduleHide() {
  cancelHide();
  mainLoop_.pendingHide = loop_.postAfter(HIDE_DEBOUNCE, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->hideDue();
  });
}

void FeedbackFlow::cancelHide() {
  if (mainLoop_.pendingHide) mainLoop_.pendingHide->cancel();
  mainLoop_.pendingHide.reset();
}

}  // namespace nolari::ambrel
