#pragma once

#include "platform/Windowing.h"

// The user's display settings as GNOME's settings keep them, read through
// GIO's GSettings from whatever store the session uses (dconf on a desktop):
// `enable-animations` of org.gnome.desktop.interface switched off is reduced
// motion, `high-contrast` of org.gnome.desktop.a11y.interface is increased
// contrast. A schema or key the system does not have reads as off.

namespace nolari::platform {

// Read afresh on each call.
DisplayOptions readGSettingsDisplayOptions();

}  // namespace nolari::platform
