#pragma once

#include <optional>

#include "ambrel/blob/ActionBlobState.h"
#include "platform/DisplayList.h"
#include "platform/Geometry.h"
#include "platform/TextMeasure.h"

// What the action blob draws inside its window: a pill centred in the window
// whose background, corner radius, padding and content follow the state, the
// hovered menus with their buttons, the little animations that tell the
// states apart, and the crimson ring of a rejected request. The view keeps
// nothing: the window hands it everything, time included, and gets back a
// display list whose hit regions name the `BlobAction` raw value a click
// there means ("tap" anywhere on the pill outside its buttons).

namespace nolari::ambrel {

// What the window draws with.
struct ActionBlobRoot {
  ActionBlobState state{};
  BlobContext context{};
  bool isHovered = false;
  // The window fades `BlobMoment::ringOpacity` in and out from this; the ring
  // is drawn at that opacity, so that it can fade out after the flag clears.
  bool showRejectionFlash = false;
  platform::Size visualSize{};  // the pill
  platform::Size outerSize{};   // the window; the pill is centred in it
};

// The moment being drawn. Ages are seconds since something came on screen;
// the looping animations (the pulsing dots, the breathing dot, the waveform)
// and the check's spring run on them, so one frame is a pure function of its
// inputs.
struct BlobMoment {
  // Since the pill's current content came on screen: it grows in from 0.88 of
  // its size while it fades in, and its animations start there.
  double contentAge = 1e9;
  // The content it replaced, fading out, and the time since it began to. It
  // is drawn as it was, in its own pill centred in the window, and takes no
  // clicks.
  std::optional<ActionBlobRoot> leaving{};
  double leavingAge = 0;
  // How long the leaving content had been on screen when this frame is drawn,
  // so that its own animations run on through the fade.
  double leavingContentAge = 1e9;
  // The rejection ring's opacity, 0 to 1, faded by the window.
  double ringOpacity = 0;
  // The microphone level the agent last set, 0 to 1.
  double audioLevel = 0;
};

// How long the content transitions take: the insertion's scale and fade, and
// the removal's fade.
inline constexpr double BLOB_CONTENT_TRANSITION = 0.25;

platform::DisplayList drawActionBlob(const ActionBlobRoot& root, const BlobMoment& moment,
                                     platform::TextMeasurer& text);

// Whether the frame of `root` at `moment` still changes with time: looping
// animations always do, the check's spring, a content's insertion and the
// leaving content's fade until they end. The window keeps drawing frames
// while this holds and stops when nothing moves; the rejection ring's fade is
// its own.
bool actionBlobAnimates(const ActionBlobRoot& root, const BlobMoment& moment);

}  // namespace nolari::ambrel
