#pragma once

#include <optional>

#include "ambrel/blob/ActionBlobState.h"
#include "platform/Geometry.h"
#include "platform/Workspace.h"

// Where the blob's window stands and how large it and its pill are, per
// state: the window is sized for the largest pill its state can show, so
// hovering never resizes it, and stands at the bottom centre of a screen.

namespace nolari::ambrel::BlobPlacement {

// Between the window and each side of a screen too narrow for it.
inline constexpr double NARROW_SCREEN_MARGIN = 32;

// The largest pill the state can show, hovered or not.
platform::Size windowBasisSize(const ActionBlobState& state);
// The pill drawn for the state; the idle menu is narrower without a result.
platform::Size pillSize(const ActionBlobState& state, bool hovered, const BlobContext& context);

// The window for a pill of `basis` on `screen`: the pill's bottom sits
// `bottomMargin` above the visible frame's bottom, and the window reaches
// below it by its transparent margin. On a screen too narrow for it the
// window keeps 32 points clear, and never shrinks below a point.
platform::Rect placedFrame(const platform::Screen& screen, platform::Size basis);

// The first screen holding the pointer, else the main screen.
std::optional<platform::Screen> activeScreen(platform::Workspace& workspace);
// `screen`, else the main screen, else the first; none without a screen.
std::optional<platform::Screen> placementScreen(platform::Workspace& workspace,
                                                const std::optional<platform::Screen>& screen);

}  // namespace nolari::ambrel::BlobPlacement
