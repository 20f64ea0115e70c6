#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/EventTaps.h"

// An accelerator such as "command+shift+x": one main key and the four
// modifiers that must be held with it, no more and no fewer.

namespace nolari::ambrel {

struct HotkeySpec {
  // The modifier bits a hotkey compares; Caps Lock, fn and the keypad bit are
  // ignored.
  static constexpr std::uint64_t MODIFIER_MASK =
      platform::EventFlags::alternate | platform::EventFlags::control |
      platform::EventFlags::command | platform::EventFlags::shift;

  platform::KeyCode keyCode = 0;
  std::uint64_t modifiers = 0;

  // Splits at each "+" without trimming; modifier words in any order, the last
  // key name wins, unknown tokens are ignored. Absent when no key is named.
  static std::optional<HotkeySpec> parse(std::string_view accelerator);
  static std::optional<platform::KeyCode> keyCodeForName(std::string_view name);

  bool matches(const platform::KeyEvent& event) const {
    return event.keyCode == keyCode && (event.flags & MODIFIER_MASK) == modifiers;
  }

  friend bool operator==(const HotkeySpec&, const HotkeySpec&) = default;
};

// A hotkey written by the command thread and read by the keyboard tap thread:
// packed into one lock-free word, so that the key path neither locks nor
// allocates and never sees half of an update.
class AtomicHotkey {
 public:
  void store(std::optional<HotkeySpec> hotkey) {
    packed_.store(hotkey ? SET | std::uint64_t{hotkey->keyCode} << 32 | hotkey->modifiers : 0,
                  std::memory_order_release);
  }

  std::optional<HotkeySpec> load() const {
    const std::uint64_t packed = packed_.load(std::memory_order_acquire);
    if (!(packed & SET)) return std::nullopt;
    return HotkeySpec{static_cast<platform::KeyCode>(packed >> 32),
                      packed & HotkeySpec::MODIFIER_MASK};
  }

 private:
  static constexpr std::uint64_t SET = std::uint64_t{1} << 63;
  static_assert(HotkeySpec::MODIFIER_MASK < (std::uint64_t{1} << 32));
  std::atomic<std::uint64_t> packed_{0};
};

}  // namespace nolari::ambrel
