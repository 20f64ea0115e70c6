#include "ambrel/agent/TapCheck.h"

namespace nolari::ambrel {

void TapCheck::report() {
  const std::int64_t events = keyTapCallbacks_.load() + mouseTapCallbacks_.load();
  const std::int64_t keyDowns = keyDowns_.load();
  if (events > 0 && keyDowns == 0) {
    sink_.emitTyped("error", {{"event", "event_tap_no_keyboard"},
                              {"message",
                               "CGEventTap receives mouse events but no keyboard events. Grant "
                               "Input Monitoring permission in "
                               "System Settings → Privacy & Security → Input Monitoring."},
                              {"mouseEvents", events}});
  } else if (events == 0) {
    sink_.emitTyped(
        "error",
        {{"event", "event_tap_no_events"},
         {"message",
          "CGEventTap created but received 0 events after 3s. Grant Input Monitoring permission to "
          "Ambrel in System Settings."}});
  }
}

}  // namespace nolari::ambrel
