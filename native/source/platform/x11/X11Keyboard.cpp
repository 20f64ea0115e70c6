#include "platform/x11/X11Keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <thread>
#include <unordered_map>

#include "platform/x11/X11Desktop.h"

namespace nolari::platform {

namespace {

constexpr auto BINDING_SETTLE = std::chrono::milliseconds(40);

struct Key {
  unsigned int code = 0;
  bool shifted = false;
};

// The key symbol that stands for a character: Latin-1 characters are their
// own symbols, every other character has one in X's Unicode range.
KeySym keysymOf(char32_t c) {
  if (c == U'\n') return XK_Return;
  if (c == U'\t') return XK_Tab;
  if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) return c;
  if (c < 0xa0 || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return NoSymbol;
  return 0x01000000 + c;
}

bool isLetter(KeySym sym) {
  KeySym lower = 0, upper = 0;
  XConvertCase(sym, &lower, &upper);
  return lower != upper;
}

void press(Display* display, unsigned int code) {
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
}

}  // namespace

// The server's key map as typing needs it: the first two levels of every
// key's first group, and the key codes that carry no symbol at all.
struct X11Keyboard::Layout {
  std::unordered_map<KeySym, Key> keys;
  std::vector<unsigned int> spare;
  bool capsLocked = false;

  explicit Layout(Display* display) {
    int first = 0, last = 0, perCode = 0;
    XDisplayKeycodes(display, &first, &last);
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perCode);
    if (!map) return;
    for (int code = first; code <= last; ++code) {
      const KeySym* syms = map + static_cast<std::ptrdiff_t>(code - first) * perCode;
      bool empty = true;
      for (int level = 0; level < perCode; ++level) empty = empty && syms[level] == NoSymbol;
      if (empty) {
        spare.push_back(static_cast<unsigned int>(code));
        continue;
      }
      for (int level = 0; level < std::min(perCode, 2); ++level) {
        if (syms[level] != NoSymbol) {
          keys.try_emplace(syms[level], Key{static_cast<unsigned int>(code), level == 1});
        }
      }
    }
    XFree(map);
    XkbStateRec state;
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
      capsLocked = (state.locked_mods & LockMask) != 0;
    }
  }

  // The key of a symbol the layout has; Caps Lock turns a letter's levels
  // around.
  std::optional<Key> find(KeySym sym) const {
    auto it = keys.find(sym);
    if (it == keys.end()) return std::nullopt;
    Key key = it->second;
    if (capsLocked && isLetter(sym)) key.shifted = !key.shifted;
    return key;
  }
};

X11Keyboard::~X11Keyboard() {
  std::lock_guard lock(mutex_);
  if (!display_) return;
  restoreLocked();
  X11Desktop::closeDisplay(display_);
}

bool X11Keyboard::connect() {
  if (display_ && X11Desktop::isBroken(display_)) {
    X11Desktop::closeDisplay(display_);
    display_ = nullptr;
    bound_.clear();
    tried_ = false;
  }
  if (!display_ && !tried_) {
    tried_ = true;
    display_ = X11Desktop::openDisplay();
    int event = 0, error = 0, major = 0, minor = 0;
    if (display_ && !XTestQueryExtension(display_, &event, &error, &major, &minor)) {
      X11Desktop::closeDisplay(display_);
      display_ = nullptr;
    }
  }
  return display_ != nullptr;
}

bool X11Keyboard::selectAll() {
  std::lock_guard lock(mutex_);
  if (!connect()) return false;
  const KeyCode control = XKeysymToKeycode(display_, XK_Control_L);
  const KeyCode a = XKeysymToKeycode(display_, XK_a);
  if (!control || !a) return false;
  XTestFakeKeyEvent(display_, control, True, CurrentTime);
  press(display_, a);
  XTestFakeKeyEvent(display_, control, False, CurrentTime);
  XSync(display_, False);
  return true;
}

bool X11Keyboard::erase() {
  std::lock_guard lock(mutex_);
  if (!connect()) return false;
  const KeyCode backspace = XKeysymToKeycode(display_, XK_BackSpace);
  if (!backspace) return false;
  press(display_, backspace);
  XSync(display_, False);
  return true;
}

std::size_t X11Keyboard::type(std::u32string_view text) {
  std::lock_guard lock(mutex_);
  if (!connect()) return 0;
  restoreLocked();
  const Layout layout(display_);
  const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);

  // The keys in order, binding a spare key to each new symbol the layout
  // lacks until none is left.
  std::vector<Key> keys;
  std::map<unsigned int, KeySym> bindings;
  std::unordered_map<KeySym, unsigned int> boundTo;
  for (char32_t c : text) {
    const KeySym sym = keysymOf(c);
    if (sym == NoSymbol) break;
    if (auto key = layout.find(sym); key && (!key->shifted || shift)) {
      keys.push_back(*key);
    } else if (auto it = boundTo.find(sym); it != boundTo.end()) {
      keys.push_back({it->second, false});
    } else if (bindings.size() < layout.spare.size()) {
      const unsigned int code = layout.spare[bindings.size()];
      bindings[code] = sym;
      boundTo[sym] = code;
      keys.push_back({code, false});
    } else {
      break;
    }
  }
  // Both levels carry the symbol, so a Shift the user holds changes nothing.
  // Neighbouring codes are bound in one change: every change makes every
  // application read the key map again.
  for (auto it = bindings.begin(); it != bindings.end();) {
    std::vector<KeySym> syms;
    const unsigned int firstCode = it->first;
    for (unsigned int next = firstCode; it != bindings.end() && it->first == next; ++it, ++next) {
      syms.insert(syms.end(), {it->second, it->second});
      bound_.push_back(it->first);
    }
    XChangeKeyboardMapping(display_, static_cast<int>(firstCode), 2, syms.data(),
                           static_cast<int>(syms.size() / 2));
  }
  // The server must hold the bindings before the keys that use them arrive.
  // Applications are told the map changed, but some read it only a moment
  // later: the keys that use it wait for that.
  if (!bindings.empty()) {
    XSync(display_, False);
    std::this_thread::sleep_for(BINDING_SETTLE);
  }

  bool shiftDown = false;
  for (const Key& key : keys) {
    if (key.shifted != shiftDown) {
      shiftDown = key.shifted;
      XTestFakeKeyEvent(display_, shift, shiftDown ? True : False, CurrentTime);
    }
    press(display_, key.code);
  }
  if (shiftDown) XTestFakeKeyEvent(display_, shift, False, CurrentTime);
  XSync(display_, False);
  return keys.size();
}

void X11Keyboard::restore() {
  std::lock_guard lock(mutex_);
  if (display_) restoreLocked();
}

void X11Keyboard::restoreLocked() {
  if (bound_.empty()) return;
  std::sort(bound_.begin(), bound_.end());
  for (auto it = bound_.begin(); it != bound_.end();) {
    const unsigned int firstCode = *it;
    unsigned int next = firstCode;
    for (; it != bound_.end() && *it == next; ++it) ++next;
    std::vector<KeySym> none(2 * static_cast<std::size_t>(next - firstCode), NoSymbol);
    XChangeKeyboardMapping(display_, static_cast<int>(firstCode), 2, none.data(),
                           static_cast<int>(next - firstCode));
  }
  bound_.clear();
  XSync(display_, False);
}

}  // namespace nolari::platform
