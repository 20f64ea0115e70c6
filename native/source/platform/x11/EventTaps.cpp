#include "platform/x11/EventTaps.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/x11/KeyRepeat.h"
#include "platform/x11/X11Desktop.h"

namespace nolari::platform {

struct X11RecordReceiver {
  static void intercept(XPointer closure, XRecordInterceptData* data) {
    if (data->category == XRecordFromServer && data->data_len * 4 >= sizeof(xEvent)) {
      const auto* event = reinterpret_cast<const xEvent*>(data->data);
      reinterpret_cast<X11EventTap*>(closure)->deliver(
          event->u.u.type & 0x7f, event->u.u.detail, event->u.keyButtonPointer.state,
          event->u.keyButtonPointer.rootX, event->u.keyButtonPointer.rootY);
    }
    XRecordFreeData(data);
  }
};

unsigned long x11UnshiftedKeysym(Display* display, unsigned int keycode) {
  int perCode = 0;
  KeySym* symbols = XGetKeyboardMapping(display, static_cast<KeyCode>(keycode), 1, &perCode);
  if (!symbols) return NoSymbol;
  const unsigned long keysym = perCode > 0 ? symbols[0] : NoSymbol;
  XFree(symbols);
  return keysym;
}

X11ModifierRoles x11ModifierRoles(Display* display, std::bitset<256>& modifierKeys) {
  X11ModifierRoles roles;
  XModifierKeymap* map = XGetModifierMapping(display);
  if (!map) return roles;
  X11ModifierRoles found{0, 0};
  for (int modifier = 0; modifier < 8; ++modifier) {
    for (int i = 0; i < map->max_keypermod; ++i) {
      const unsigned int keycode = map->modifiermap[modifier * map->max_keypermod + i];
      if (keycode == 0 || keycode >= 256) continue;
      modifierKeys.set(keycode);
      const unsigned long keysym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, 0);
      if (modifier < Mod1MapIndex) continue;
      if (keysym == XK_Alt_L || keysym == XK_Alt_R || keysym == XK_Meta_L || keysym == XK_Meta_R) {
        found.alternate |= 1U << modifier;
      } else if (keysym == XK_Super_L || keysym == XK_Super_R || keysym == XK_Hyper_L ||
                 keysym == XK_Hyper_R) {
        found.command |= 1U << modifier;
      }
    }
  }
  XFreeModifiermap(map);
  if (found.alternate) roles.alternate = found.alternate;
  if (found.command) roles.command = found.command;
  return roles;
}

std::shared_ptr<X11EventTap> X11EventTap::make(Kind kind, TapCallback callback,
                                               std::shared_ptr<X11KeyRepeat> keyRepeat) {
  std::shared_ptr<X11EventTap> tap(
      new X11EventTap(kind, std::move(callback), std::move(keyRepeat)));
  if (!tap->connect()) return nullptr;
  return tap;
}

bool X11EventTap::connect() {
  control_ = X11Desktop::openDisplay();
  data_ = X11Desktop::openDisplay();
  int major = 0, minor = 0;
  if (!control_ || !data_ || !XRecordQueryVersion(control_, &major, &minor)) return false;
  XRecordRange* range = XRecordAllocRange();
  if (!range) return false;
  if (kind_ == Kind::keyboard) {
    range->device_events.first = KeyPress;
    range->device_events.last = KeyRelease;
  } else {
    range->device_events.first = MotionNotify;
    range->device_events.last = MotionNotify;
  }
  XRecordClientSpec clients = XRecordAllClients;
  context_ = XRecordCreateContext(control_, 0, &clients, 1, &range, 1);
  XFree(range);
  XSync(control_, False);
  if (!context_ || ::pipe2(wake_, O_CLOEXEC) != 0) return false;
  screenHeight_ = DisplayHeight(control_, DefaultScreen(control_));
  if (kind_ == Kind::keyboard) roles_ = x11ModifierRoles(control_, modifierKeys_);
  return true;
}

X11EventTap::~X11EventTap() {
  for (const auto& [key, keycode] : repeatOff_) keyRepeat_->restore(keycode);
  if (control_ && context_) {
    XRecordDisableContext(control_, context_);
    XRecordFreeContext(control_, context_);
    XSync(control_, False);
  }
  X11Desktop::closeDisplay(data_);
  X11Desktop::closeDisplay(control_);
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

void X11EventTap::setEnabled(bool enabled) { enabled_ = enabled; }

bool X11EventTap::isEnabled() const { return enabled_; }

void X11EventTap::setRepeatsSwallowed(KeyCode key, bool swallowed) {
  std::lock_guard lock(mutex_);
  if (!swallowed) {
    if (auto it = repeatOff_.find(key); it != repeatOff_.end()) {
      keyRepeat_->restore(it->second);
      repeatOff_.erase(it);
    }
    return;
  }
  if (!keyRepeat_ || repeatOff_.contains(key)) return;
  const unsigned long keysym = x11KeysymForKeyCode(key);
  const unsigned int keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(control_, keysym);
  if (keycode != 0 && keyRepeat_->suppress(keycode)) repeatOff_[key] = keycode;
}

void X11EventTap::run() {
  if (!XRecordEnableContextAsync(data_, context_, X11RecordReceiver::intercept,
                                 reinterpret_cast<XPointer>(this))) {
    return;
  }
  for (;;) {
    XRecordProcessReplies(data_);
    pollfd polled[2] = {{ConnectionNumber(data_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(polled, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (polled[1].revents) return;
    if (X11Desktop::isBroken(data_)) return;
  }
}

void X11EventTap::stop() {
  const char byte = 0;
  [[maybe_unused]] ssize_t written = ::write(wake_[1], &byte, 1);
}

void X11EventTap::deliver(int type, unsigned int keycode, unsigned int state, int rootX,
                          int rootY) {
  if (type == MotionNotify) {
    if (!enabled_) return;
    TapEvent event;
    event.type = TapEvent::Type::mouseMoved;
    event.mouseLocation = Point{static_cast<double>(rootX), screenHeight_ - rootY};
    callback_(event);
    return;
  }
  if ((type != KeyPress && type != KeyRelease) || keycode >= 256) return;
  const bool press = type == KeyPress;
  const bool repeat = press && down_.test(keycode);
  down_.set(keycode, press);
  if (!enabled_ || modifierKeys_.test(keycode)) return;
  const unsigned long keysym = x11UnshiftedKeysym(control_, keycode);
  TapEvent event;
  event.type = press ? TapEvent::Type::keyDown : TapEvent::Type::keyUp;
  event.key = KeyEvent{x11NeutralKeyCode(keysym), x11NeutralFlags(keysym, state, roles_), repeat};
  callback_(event);
}

X11EventTaps::X11EventTaps(std::shared_ptr<X11KeyRepeat> keyRepeat)
    : keyRepeat_(std::move(keyRepeat)) {}

X11EventTaps::~X11EventTaps() {
  std::lock_guard lock(mutex_);
  for (const auto& weak : made_) {
    if (auto tap = weak.lock()) tap->stop();
  }
}

std::shared_ptr<EventTap> X11EventTaps::createKeyboardTap(TapCallback callback) {
  keyRepeat_->recoverAbandoned();
  return keep(X11EventTap::make(X11EventTap::Kind::keyboard, std::move(callback), keyRepeat_));
}

std::shared_ptr<EventTap> X11EventTaps::createMouseTap(TapCallback callback) {
  return keep(X11EventTap::make(X11EventTap::Kind::mouse, std::move(callback), nullptr));
}

std::shared_ptr<EventTap> X11EventTaps::keep(std::shared_ptr<X11EventTap> tap) {
  if (!tap) return nullptr;
  std::lock_guard lock(mutex_);
  made_.push_back(tap);
  return tap;
}

}  // namespace nolari::platform
