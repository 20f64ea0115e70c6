// After the parent wrote into another application's field: the star rating
// shown a moment later below that field, only while that application is in
// front, and taken away when the user stays in another application.

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "ambrel/agent/Ambrel.h"
#include "base/NolariLogger.h"

namespace nolari::ambrel {

namespace {

using platform::Rect;

bool usable(const Rect& rect) {
  return rect.isFinite() && rect.size.width > 0 && rect.size.height > 0;
}

std::string describe(const Rect& rect) {
  char text[160];
  std::snprintf(text, sizeof text, "(%g, %g, %g, %g)", rect.origin.x, rect.origin.y,
                rect.size.width, rect.size.height);
  return text;
}

std::string describe(const std::optional<Rect>& rect) { return rect ? describe(*rect) : "nil"; }

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

FeedbackOverlayWindow& Ambrel::feedbackWindow() {
  if (feedback_) return *feedback_;
  feedback_ = FeedbackOverlayWindow::create(windowing_, workspace_, mainLoop_);
  feedback_->onSubmitted = [emit = emit_](int rating, const FeedbackCycle& cycle) {
    emit("feedback_submitted", {{"rating", rating},
                                {"task_id", cycle.taskId},
                                {"prompt_key", cycle.promptKey},
                                {"app_name", cycle.appName},
                                {"feedback_method", "star_tap"}});
  };
  feedback_->onDismissed = [emit = emit_](const FeedbackCycle& cycle) {
    emit("feedback_dismissed", {{"task_id", cycle.taskId},
                                {"prompt_key", cycle.promptKey},
                                {"app_name", cycle.appName},
                                {"dismiss_method", "auto"}});
  };
  return *feedback_;
}

// On the command thread. A "field_rect" of the parent's, when usable, is the
// field the write went to and wins over what accessibility reports. The
// window title the parent sends is not read: the guard compares applications.
void Ambrel::handleWriteSuccess(const nlohmann::json& command) {
  FeedbackCycle cycle{CommandPayload::string(command, "task_id").value_or(""),
                      CommandPayload::string(command, "prompt_key").value_or("write"),
                      CommandPayload::string(command, "app_name").value_or("unknown")};
  const std::string expected = CommandPayload::string(command, "source_bundle_id").value_or("");
  const auto given = wireRect(command);
  auto immediate = queryFocusedFieldRect();
  if (immediate && !usable(*immediate)) immediate.reset();
  Rect lastField;
  {
    std::lock_guard lock(lastFieldRectMutex_);
    lastField = lastFieldRect_;
  }
  std::optional<Rect> anchor = given ? given : immediate;
  if (!anchor && usable(lastField)) anchor = lastField;
  std::string line = "feedback write_success: immediateAX=";
  line += describe(immediate);
  line += " lastField=";
  line += describe(lastField);
  line += " anchorRect=";
  line += describe(anchor);
  line += " expectedBundleId=";
  line += loggable(expected);
  NolariLogger::info(line);
  {
    std::lock_guard lock(feedbackMutex_);
    feedbackExpectedBundleId_ = expected;
  }
  const std::uint64_t write = ++feedbackWrites_;
  mainLoop_.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->feedbackWindow().hide(false, 0.2);
  });
  mainLoop_.postAfter(FEEDBACK_SHOW_DELAY, [weak = weak_from_this(), write, anchor,
                                            queryField = !given, cycle = std::move(cycle)] {
    if (auto self = weak.lock()) self->showFeedback(write, anchor, queryField, cycle);
  });
}

void Ambrel::showFeedback(std::uint64_t write, std::optional<Rect> anchor, bool queryField,
                          const FeedbackCycle& cycle) {
  if (write != feedbackWrites_.load()) return;
  if (!isFrontmostAppExpected()) {
    NolariLogger::info("feedback: frontmost app changed before show — skipping");
    return;
  }
  std::optional<Rect> field = queryField ? queryFocusedFieldRect() : std::nullopt;
  if (!field || !usable(*field)) field = anchor;
  auto& widget = feedbackWindow();
  if (!field) {
    NolariLogger::warn("feedback: no field rect, falling back to blob anchor");
    if (blob_) widget.showBelowActionBlob(blob_->frame(), cycle);
  } else {
    widget.showBelowField(*field, cycle);
  }
  installFeedbackAppSwitchObserver();
}

// On Linux there is no bundle of our own: Ambrel is recognised in front by its
// process id, so that an application without an identifier never passes for
// it.
bool Ambrel::isFrontmostAppExpected() {
  std::string expected;
  {
    std::lock_guard lock(feedbackMutex_);
    expected = feedbackExpectedBundleId_;
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

void Ambrel::installFeedbackAppSwitchObserver() {
  removeFeedbackAppSwitchObserver();
  std::string line = "feedback: installing app-switch observer (expected=";
  {
    std::lock_guard lock(feedbackMutex_);
    line += loggable(feedbackExpectedBundleId_);
  }
  line += ")";
  NolariLogger::info(line);
  feedbackAppSwitchObserver_ = workspace_.addActivationObserver(
      [weak = weak_from_this()](const std::optional<platform::RunningApplication>& app) {
        if (auto self = weak.lock()) self->feedbackAppActivated(app);
      });
}

// The guard asks for the front application afresh rather than trusting the
// notice's.
void Ambrel::feedbackAppActivated(const std::optional<platform::RunningApplication>& app) {
  std::string line = "feedback: app activated=";
  line += loggable(app && app->bundleIdentifier ? *app->bundleIdentifier : "?");
  NolariLogger::info(line);
  if (isFrontmostAppExpected()) {
    cancelPendingFeedbackHide();
  } else {
    scheduleDebouncedFeedbackHide();
  }
}

void Ambrel::scheduleDebouncedFeedbackHide() {
  cancelPendingFeedbackHide();
  feedbackPendingHide_ = mainLoop_.postAfter(FEEDBACK_HIDE_DEBOUNCE, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    if (self->isFrontmostAppExpected()) {
      NolariLogger::info("feedback: debounce expired but front is expected — keeping widget");
      return;
    }
    NolariLogger::info("feedback: app switched (debounced) — hiding widget");
    self->feedbackWindow().hide(true, 0.15);
    self->removeFeedbackAppSwitchObserver();
    self->feedbackPendingHide_.reset();
  });
}

void Ambrel::removeFeedbackAppSwitchObserver() {
  cancelPendingFeedbackHide();
  if (!feedbackAppSwitchObserver_) return;
  workspace_.removeActivationObserver(*feedbackAppSwitchObserver_);
  feedbackAppSwitchObserver_.reset();
}

void Ambrel::cancelPendingFeedbackHide() {
  if (feedbackPendingHide_) feedbackPendingHide_->cancel();
  feedbackPendingHide_.reset();
}

}  // namespace nolari::ambrel
