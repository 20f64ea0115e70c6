#include "platform/x11/X11KeyMapping.h"

#include <X11/X.h>
#include <X11/keysym.h>

#include <string>

#include "platform/KeyNames.h"

namespace nolari::platform {

namespace {

bool between(unsigned long keysym, unsigned long first, unsigned long last) {
  return keysym >= first && keysym <= last;
}

}  // namespace

KeyCode x11NeutralKeyCode(unsigned long keysym) {
  std::optional<KeyCode> code;
  if (between(keysym, XK_A, XK_Z)) keysym += XK_a - XK_A;
  if (between(keysym, XK_a, XK_z) || between(keysym, XK_0, XK_9)) {
    code = keyCodeForName(std::string(1, static_cast<char>(keysym)));
  } else if (between(keysym, XK_F1, XK_F20)) {
    std::string name = "f";
    name += std::to_string(keysym - XK_F1 + 1);
    code = keyCodeForName(name);
  } else {
    switch (keysym) {
      case XK_space:
        code = keyCodeForName("space");
        break;
      case XK_Return:
        code = keyCodeForName("return");
        break;
      // The key left of the backspace key; X's Delete is the forward delete,
      // which has no code here.
      case XK_BackSpace:
        code = keyCodeForName("delete");
        break;
      case XK_Escape:
        code = keyCodeForName("escape");
        break;
      case XK_Tab:
      case XK_ISO_Left_Tab:
        code = keyCodeForName("tab");
        break;
      case XK_Left:
        code = keyCodeForName("left");
        break;
      case XK_Right:
        code = keyCodeForName("right");
        break;
      case XK_Down:
        code = keyCodeForName("down");
        break;
      case XK_Up:
        code = keyCodeForName("up");
        break;
      default:
        break;
    }
  }
  return code.value_or(KeyEvent::noKeyCode);
}

std::uint64_t x11NeutralFlags(unsigned long keysym, unsigned int state,
                              const X11ModifierRoles& roles) {
  std::uint64_t flags = 0;
  if (state & ShiftMask) flags |= EventFlags::shift;
  if (state & LockMask) flags |= EventFlags::alphaShift;
  if (state & ControlMask) flags |= EventFlags::control;
  if (state & roles.alternate) flags |= EventFlags::alternate;
  if (state & roles.command) flags |= EventFlags::command;
  if (between(keysym, XK_KP_Space, XK_KP_Equal)) flags |= EventFlags::numericPad;
  return flags;
}

unsigned long x11KeysymForKeyCode(KeyCode code) {
  const std::string name(nameOfKeyCode(code));
  if (name.size() == 1) return static_cast<unsigned char>(name[0]);
  if (name.size() > 1 && name[0] == 'f') return XK_F1 + std::stoul(name.substr(1)) - 1;
  if (name == "space") return XK_space;
  if (name == "return") return XK_Return;
  if (name == "delete") return XK_BackSpace;
  if (name == "escape") return XK_Escape;
  if (name == "tab") return XK_Tab;
  if (name == "left") return XK_Left;
  if (name == "right") return XK_Right;
  if (name == "down") return XK_Down;
  if (name == "up") return XK_Up;
  return NoSymbol;
}

}  // namespace nolari::platform
