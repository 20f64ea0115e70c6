#pragma once

#include <cstdint>

#include "platform/EventTaps.h"

// X key symbols and event states in the neutral terms of the event taps. Pure
// functions, so that the mapping is testable without a display.

namespace nolari::platform {

// The state bits that stand for option and command: the modifiers the server
// maps the Alt or Meta keys and the Super or Hyper keys to, Mod1 and Mod4 on
// nearly every server.
struct X11ModifierRoles {
  unsigned int alternate = 1U << 3;  // Mod1Mask
  unsigned int command = 1U << 6;    // Mod4Mask
};

// The neutral code of the key whose unshifted symbol is `keysym` (the first of
// its key code); `KeyEvent::noKeyCode` for a key without one. Upper-case
// letters count as their letter.
KeyCode x11NeutralKeyCode(unsigned long keysym);

// The neutral flags of an event on the key `keysym` with the modifier state
// `state` (the state just before the event, as X reports it).
std::uint64_t x11NeutralFlags(unsigned long keysym, unsigned int state,
                              const X11ModifierRoles& roles);

// The unshifted symbol of the key with the neutral code, or 0 (NoSymbol).
unsigned long x11KeysymForKeyCode(KeyCode code);

}  // namespace nolari::platform
