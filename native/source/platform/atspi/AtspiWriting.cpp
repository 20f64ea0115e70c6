// Writing a field: through the bus where its toolkit takes text that way, else
// by selecting its text and typing over it, checked by reading it back.

#include <atspi/atspi.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/atspi/AtspiInternal.h"
#include "platform/atspi/AtspiSession.h"

namespace nolari::platform::atspi {

namespace {

using Clock = std::chrono::steady_clock;
using Keyboard = AtspiAccessibility::Keyboard;

// A toolkit applies text from the bus at once, mostly, but typed keys pass
// through the application's event queue first, and some toolkits tell the bus
// of the change only once the queue is empty; so a check waits for as long as
// the keys may take, and while the field keeps changing, and gives up once it
// has been quiet for a while after that.
constexpr auto QUIET_WAIT = std::chrono::milliseconds(1000);
constexpr auto TIME_PER_KEY = std::chrono::milliseconds(3);
// A busy browser takes several milliseconds a key, so the bound on the whole
// wait grows with the keys; the quiet rule ends it early when nothing moves.
constexpr auto LONGEST_WAIT = std::chrono::seconds(2);
constexpr auto LONGEST_WAIT_PER_KEY = std::chrono::milliseconds(10);
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(5);
// How long a selection asked of the bus may take to show.
constexpr auto SELECTION_WAIT = std::chrono::milliseconds(300);

// A field takes text where its user could type: editable, neither read-only
// nor disabled, with text to read back.
bool takesText(AtspiAccessible* object, const Facts& facts) {
  if (!facts.has(ATSPI_STATE_EDITABLE) || facts.has(ATSPI_STATE_READ_ONLY)) return false;
  if (!facts.has(ATSPI_STATE_ENABLED) && !facts.has(ATSPI_STATE_SENSITIVE)) return false;
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));
  return text != nullptr;
}

}  // namespace

// Through the bus where the toolkit offers it, else on the keyboard.
Answer valueSettable(const AtspiElementRef& ref, bool withKeyboard) {
  if (ref.kind != Kind::object) return {AXErrorCode::success, false};
  Facts facts;
  if (AXError code = factsOf(ref.object, facts, true)) return failed(code);
  if (!takesText(ref.object, facts)) return {AXErrorCode::success, false};
  if (withKeyboard) return {AXErrorCode::success, true};
  Ref<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(ref.object));
  return {AXErrorCode::success, editable != nullptr};
}

namespace {

// Whether the field shows `expected`, read through the field's value, as
// "AXValue" reads it. A password's characters never leave the application:
// its length is compared instead.
bool shows(AtspiAccessible* object, AtspiText* text, const Facts& facts,
           const std::string& expected, std::size_t keys) {
  const bool password = facts.role == ATSPI_ROLE_PASSWORD_TEXT;
  // The field's count of characters, as it may count them: characters
  // beyond the basic plane once or twice.
  glong least = 0, most = 0;
  for (const gchar* p = expected.c_str(); *p; p = g_utf8_next_char(p)) {
    ++least;
    most += g_utf8_get_char(p) > 0xFFFF ? 2 : 1;
  }
  const auto start = Clock::now();
  Clock::time_point quietUntil = start + QUIET_WAIT + TIME_PER_KEY * static_cast<long>(keys);
  const auto longest = LONGEST_WAIT + LONGEST_WAIT_PER_KEY * static_cast<long>(keys);
  std::optional<std::string> last;
  for (;;) {
    std::string reading;
    if (password) {
      GError* error = nullptr;
      const gint count = atspi_text_get_character_count(text, &error);
      if (take(error)) return false;
      if (count == least || count == most) return true;
      reading = std::to_string(count);
    } else {
      // The whole value, flattened: a rich editor counts one character for
      // each paragraph it holds.
      Answer value = valueOf(object, facts);
      if (value.error) return false;
      reading = *value.value.get<std::string>();
      if (reading == expected) return true;
    }
    const auto now = Clock::now();
    if (reading != last) {
      last = std::move(reading);
      quietUntil = std::max(quietUntil, now + QUIET_WAIT);
    }
    if (now >= quietUntil || now - start >= longest) return false;
    std::this_thread::sleep_for(POLL_INTERVAL);
  }
}

// Characters beyond the basic plane, which toolkits count in offsets as one
// or as two, and sometimes each way in different places.
gint outsideBasicPlane(AtspiText* text, gint count) {
  GError* error = nullptr;
  Text contents(atspi_text_get_text(text, 0, count, &error));
  g_clear_error(&error);
  gint found = 0;
  for (const gchar* p = contents ? contents.get() : ""; *p; p = g_utf8_next_char(p)) {
    if (g_utf8_get_char(p) > 0xFFFF) ++found;
  }
  return found;
}

// Whether the first selection spans the whole text. Chromium miscounts a
// selection's end in a text with such characters, even down to nothing: there
// a selection starting at the start is taken on trust, and the check of the
// written text has the last word.
bool wholeTextSelected(AtspiText* text, gint count) {
  const gint slack = outsideBasicPlane(text, count);
  const auto until = Clock::now() + SELECTION_WAIT;
  for (;;) {
    GError* error = nullptr;
    const gint selections = atspi_text_get_n_selections(text, &error);
    if (take(error)) return false;
    std::unique_ptr<AtspiRange, Free> range(
        selections > 0 ? atspi_text_get_selection(text, 0, &error) : nullptr);
    g_clear_error(&error);
    const gint start = range ? range->start_offset : 0;
    const gint end = range ? range->end_offset : 0;
    if (start == 0 && (end == count || slack > 0)) return true;
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(POLL_INTERVAL);
  }
}

// Selects all of the field's text, so that what is typed replaces it: with
// the toolkit's select-all key, as the user would, else through the bus.
// Typing without the whole text selected would mix the old text with the
// new. The key comes first: Chromium counts characters beyond the basic plane
// differently in different places, and a selection asked with its own count
// there can end its page's renderer.
bool selectWhole(AtspiText* text, Keyboard& keyboard) {
  GError* error = nullptr;
  const gint count = atspi_text_get_character_count(text, &error);
  if (take(error)) return false;
  if (count == 0) return true;
  if (keyboard.selectAll() && wholeTextSelected(text, count)) return true;
  const gint selections = atspi_text_get_n_selections(text, &error);
  g_clear_error(&error);
  const gboolean asked = selections > 0 ? atspi_text_set_selection(text, 0, 0, count, &error)
                                        : atspi_text_add_selection(text, 0, count, &error);
  g_clear_error(&error);
  return asked && wholeTextSelected(text, count);
}

// Keys reach a field only while it has the keyboard focus in the active
// window of the application in front.
bool hasKeyboardFocus(AtspiAccessible* object, const Facts& facts,
                      const AtspiAccessibility::FrontmostProcess& frontmost) {
  if (!facts.has(ATSPI_STATE_FOCUSED)) return false;
  Answer window = windowOf(object);
  if (window.error) return false;
  const auto* ref = window.value.get<AXUIElement>()->as<AtspiElementRef>();
  Ref<AtspiStateSet> states(atspi_accessible_get_state_set(ref->object));
  if (!atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE)) return false;
  const auto front = frontmost();
  return !front || *front == AtspiSession::shared().processOf(object);
}

std::string utf8Of(std::u32string_view chars) {
  Text converted(g_ucs4_to_utf8(reinterpret_cast<const gunichar*>(chars.data()),
                                static_cast<glong>(chars.size()), nullptr, nullptr, nullptr));
  return converted ? std::string(converted.get()) : std::string();
}

// Types over the whole text. Keys the keyboard had to change for the text
// are given back only once the field shows what was typed with them, so the
// text goes in as many parts as the keyboard needs.
AXError typeOver(AtspiAccessible* object, AtspiText* text, const Facts& facts,
                 std::u32string_view chars, Keyboard& keyboard) {
  if (!selectWhole(text, keyboard)) return AXErrorCode::cannotComplete;
  if (chars.empty()) {
    const bool erased = keyboard.erase() && shows(object, text, facts, "", 1);
    return erased ? AXErrorCode::success : AXErrorCode::cannotComplete;
  }
  std::size_t typed = 0;
  while (typed < chars.size()) {
    const std::size_t count = keyboard.type(chars.substr(typed));
    if (count == 0) return AXErrorCode::cannotComplete;
    typed += count;
    const bool shown = shows(object, text, facts, utf8Of(chars.substr(0, typed)), count);
    keyboard.restore();
    if (!shown) return AXErrorCode::cannotComplete;
  }
  return AXErrorCode::success;
}

// Gecko accepts text over the bus and drops it; asking would only cost the
// wait for text that never comes.
bool dropsEditedText(AtspiAccessible* object) {
  return AtspiSession::shared().toolkitOf(object) == "Gecko";
}

}  // namespace

// A write counts only once the field reads back what was written: some
// toolkits accept text over the bus and drop it. Those, and toolkits without
// the bus's editing, are typed into instead.
AXError writeValue(const AtspiElementRef& ref, const std::string& value,
                   const AtspiAccessibility::FrontmostProcess& frontmost, Keyboard* keyboard) {
  if (ref.kind != Kind::object) return AXErrorCode::attributeUnsupported;
  AtspiAccessible* object = ref.object;
  Facts facts;
  if (AXError code = factsOf(object, facts, true)) return code;
  if (!takesText(object, facts)) return AXErrorCode::attributeUnsupported;
  glong length = 0;
  std::unique_ptr<gunichar, Free> decoded(
      g_utf8_to_ucs4(value.data(), static_cast<glong>(value.size()), nullptr, &length, nullptr));
  if (!decoded) return AXErrorCode::illegalArgument;
  std::u32string chars(decoded.get(), decoded.get() + length);
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));

  Ref<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object));
  if (editable && !dropsEditedText(object)) {
    GError* error = nullptr;
    const gboolean accepted =
        atspi_editable_text_set_text_contents(editable.get(), value.c_str(), &error);
    if (take(error) == AXErrorCode::invalidUIElement) return AXErrorCode::invalidUIElement;
    if (accepted && shows(object, text.get(), facts, value, 0)) {
      // The toolkits leave the caret where it was, at the start mostly; what
      // the user types next belongs after the written text.
      atspi_text_set_caret_offset(text.get(), static_cast<gint>(length), &error);
      g_clear_error(&error);
      return AXErrorCode::success;
    }
  }
  if (!keyboard || !hasKeyboardFocus(object, facts, frontmost)) {
    return AXErrorCode::cannotComplete;
  }
  // Return in a single-line field sends its form or opens an address; a line
  // break becomes a space there, as when lines are pasted into one.
  if (!facts.has(ATSPI_STATE_MULTI_LINE)) std::replace(chars.begin(), chars.end(), U'\n', U' ');
  return typeOver(object, text.get(), facts, chars, *keyboard);
}

}  // namespace nolari::platform::atspi
