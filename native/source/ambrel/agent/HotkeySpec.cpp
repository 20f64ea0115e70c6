#include "ambrel/agent/HotkeySpec.h"

#include <string>

#include "core/UnicodeText.h"
#include "platform/KeyNames.h"

namespace nolari::ambrel {

namespace {

using platform::KeyCode;

std::uint64_t modifierForWord(std::string_view word) {
  if (word == "option" || word == "alt") return platform::EventFlags::alternate;
  if (word == "control" || word == "ctrl") return platform::EventFlags::control;
  if (word == "command" || word == "cmd") return platform::EventFlags::command;
  if (word == "shift") return platform::EventFlags::shift;
  return 0;
}

}  // namespace

std::optional<KeyCode> HotkeySpec::keyCodeForName(std::string_view name) {
  return platform::keyCodeForName(UnicodeText::lowercased(name));
}

std::optional<HotkeySpec> HotkeySpec::parse(std::string_view accelerator) {
  std::uint64_t modifiers = 0;
  std::optional<KeyCode> keyCode;
  for (;;) {
    const std::size_t plus = accelerator.find('+');
    const std::string_view token = accelerator.substr(0, plus);
    const std::string lower = UnicodeText::lowercased(token);
    if (std::uint64_t modifier = modifierForWord(lower)) {
      modifiers |= modifier;
    } else if (auto code = keyCodeForName(lower)) {
      keyCode = code;
    }
    if (plus == std::string_view::npos) break;
    accelerator.remove_prefix(plus + 1);
  }
  if (!keyCode) return std::nullopt;
  return HotkeySpec{*keyCode, modifiers};
}

}  // namespace nolari::ambrel
