#include "platform/x11/X11KeyMapping.h"

#include <gtest/gtest.h>

#include "platform/KeyNames.h"

// After the test framework: X.h defines None, a name the framework uses.
#include <X11/X.h>
#include <X11/keysym.h>

namespace nolari::platform {
namespace {

TEST(X11KeyMapping, EveryNamedKeyMapsBothWaysAndOtherKeysHaveNoCode) {
  for (unsigned code = 0; code < 128; ++code) {
    const auto key = static_cast<KeyCode>(code);
    const unsigned long keysym = x11KeysymForKeyCode(key);
    if (nameOfKeyCode(key).empty()) {
      EXPECT_EQ(keysym, static_cast<unsigned long>(NoSymbol)) << code;
    } else {
      EXPECT_EQ(x11NeutralKeyCode(keysym), key) << nameOfKeyCode(key);
    }
  }
  EXPECT_EQ(x11NeutralKeyCode(XK_a), 0);
  EXPECT_EQ(x11NeutralKeyCode(XK_X), 7);
  EXPECT_EQ(x11NeutralKeyCode(XK_space), 49);
  EXPECT_EQ(x11NeutralKeyCode(XK_BackSpace), 51);
  EXPECT_EQ(x11NeutralKeyCode(XK_ISO_Left_Tab), 48);
  EXPECT_EQ(x11NeutralKeyCode(XK_F20), 90);
  EXPECT_EQ(x11NeutralKeyCode(XK_Down), 125);
  for (unsigned long unnamed :
       std::initializer_list<unsigned long>{XK_Delete, XK_KP_Enter, XK_KP_1, XK_minus, XK_Home,
                                            XK_Shift_L, XK_exclam, XK_eacute, XK_F21, 0UL}) {
    EXPECT_EQ(x11NeutralKeyCode(unnamed), KeyEvent::noKeyCode) << unnamed;
  }
}

TEST(X11KeyMapping, StateBitsBecomeFlagsByTheRolesTheServerGivesThem) {
  const X11ModifierRoles usual;
  EXPECT_EQ(x11NeutralFlags(XK_x, ShiftMask | LockMask | ControlMask | Mod1Mask | Mod4Mask, usual),
            EventFlags::shift | EventFlags::alphaShift | EventFlags::control |
                EventFlags::alternate | EventFlags::command);
  // Num Lock (Mod2 here) and the level-three shift (Mod5) are not modifiers of a hotkey.
  EXPECT_EQ(x11NeutralFlags(XK_x, Mod2Mask | Mod5Mask, usual), 0U);
  EXPECT_EQ(x11NeutralFlags(XK_KP_5, 0, usual), EventFlags::numericPad);

  const X11ModifierRoles swapped{Mod4Mask, Mod3Mask};
  EXPECT_EQ(x11NeutralFlags(XK_x, Mod1Mask | Mod3Mask, swapped), EventFlags::command);
}

}  // namespace
}  // namespace nolari::platform
