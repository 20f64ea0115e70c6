#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/LineSink.h"
#include "platform/Accessibility.h"
#include "platform/Geometry.h"
#include "platform/Workspace.h"

// Turns one focused element into one "focus_info" line: its role, title, a
// preview of its value, and a screen rectangle chosen by walking up its
// ancestors, since many applications give the innermost element no usable frame.

namespace nolari::FocusEmitter {

using platform::Accessibility;
using platform::AXUIElement;
using platform::Rect;
using platform::Workspace;

// The walk looks at the focused element and at most this many parents above it.
inline constexpr int MAX_FRAME_DEPTH = 10;
// Frames smaller than this are only taken when nothing larger is on the walk.
inline constexpr double MIN_FRAME_WIDTH = 40;
inline constexpr double MIN_FRAME_HEIGHT = 16;
// Longer values are cut to this many characters and "..." in the preview.
inline constexpr std::size_t MAX_VALUE_PREVIEW = 50;

struct FrameSelection {
  // Top-left screen coordinates; absent when nothing on the walk had a frame.
  std::optional<Rect> frame;
  // Parent steps above the focused element (0: the element itself).
  int depth = 0;
  // "focused", "ancestor_min_area", "fallback_first" or "none".
  std::string strategy = "none";
  // The role of the element that gave the frame ("" when none).
  std::string role;
  friend bool operator==(const FrameSelection&, const FrameSelection&) = default;
};

std::string roleCategory(std::string_view role);
FrameSelection selectBestFrameElement(Accessibility& ax, const AXUIElement& start);
// The "focus_info" object for `element` of the application `pid`.
nlohmann::json focusInfo(Accessibility& ax, Workspace& workspace, const AXUIElement& element,
                         std::int32_t pid);
// Writes `focusInfo` to `sink`; every call writes exactly one line.
void emitFocus(LineSink& sink, Accessibility& ax, Workspace& workspace, const AXUIElement& element,
               std::int32_t pid);

}  // namespace nolari::FocusEmitter
