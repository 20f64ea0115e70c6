#pragma once

#include <optional>
#include <string_view>

#include "platform/EventTaps.h"

// The names of the keys that have a neutral key code, as accelerators and the
// simulated desktop's control channel write them: the 26 letters, the ten
// digits, "space", "return" (also "enter"), "delete" (also "backspace"),
// "escape", "tab", "f1" to "f20" and the arrows "left", "right", "down" and
// "up".

namespace nolari::platform {

// The code of a lower-case key name; nothing for a name not in the table.
std::optional<KeyCode> keyCodeForName(std::string_view name);
// The first name of a code ("return", never "enter"); "" for a code without one.
std::string_view nameOfKeyCode(KeyCode code);

}  // namespace nolari::platform
