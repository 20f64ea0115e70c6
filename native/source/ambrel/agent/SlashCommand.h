#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ambrel/agent/FocusedField.h"
#include "platform/Accessibility.h"
#include "platform/Geometry.h"
#include "platform/Workspace.h"

// The slash command the user typed before the caret of the focused text
// field, and the two rectangles around it: the field's frame and the caret's.
//
// Positions count UTF-16 code units of the field's value, as the
// accessibility interface's text ranges do on every backend ("AXValue" is
// UTF-8 here, so it is measured in those units before it is cut). A caret
// inside a character of two units cuts before that character; a caret outside
// the value is taken to be at its nearer end.

namespace nolari::ambrel {

struct SlashCommandScan {
  // The command word, lower-cased and without its slash: the last
  // white-space-separated word before the caret that begins with "/", when
  // everything after that slash is letters, marks and digits.
  std::optional<std::string> trigger;
  // The caret moved into the value: a negative one to its start, one beyond
  // it to its end.
  long caret = 0;
};

SlashCommandScan scanForSlashCommand(std::string_view value, long caret);

struct SlashCommandSubmission {
  std::string trigger;
  std::int32_t pid = 0;
  std::optional<platform::Rect> caretRect;
};

class SlashCommandDetector {
 public:
  // `systemWide` is the process's system-wide element, whose messaging
  // time-out bounds every request made here.
  SlashCommandDetector(platform::Accessibility& accessibility, platform::Workspace& workspace,
                       platform::AXUIElement systemWide)
      : accessibility_(accessibility), field_(accessibility, workspace, std::move(systemWide)) {}

  // The focused field's slash command, its process and the caret's rectangle;
  // absent whenever any of the reads fails or no command stands before the
  // caret.
  std::optional<SlashCommandSubmission> check();

  // The bounds of the character before `cursorPos` (of the first one at the
  // start), in bottom-left screen coordinates.
  std::optional<platform::Rect> queryCaretRect(const platform::AXUIElement& element,
                                               long cursorPos);

 private:
  platform::Accessibility& accessibility_;
  FocusedField field_;
};

}  // namespace nolari::ambrel
