#include "ambrel/blob/BlobPlacement.h"

#include <algorithm>
#include <type_traits>

#include "ambrel/blob/DesignTokens.h"

namespace nolari::ambrel::BlobPlacement {

using platform::Rect;
using platform::Size;
namespace BlobSize = BlobDesignTokens::BlobSize;

Size windowBasisSize(const ActionBlobState& state) {
  return std::visit(
      [](const auto& value) -> Size {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, ActionBlobState::Processing>) return BlobSize::processing;
        if constexpr (std::is_same_v<T, ActionBlobState::Success>) return BlobSize::success;
        if constexpr (std::is_same_v<T, ActionBlobState::Error>) {
          return value.longMessage.empty() ? BlobSize::errorCollapsed : BlobSize::errorExpanded;
        }
        if constexpr (std::is_same_v<T, ActionBlobState::Info>) return BlobSize::errorCollapsed;
        if constexpr (std::is_same_v<T, ActionBlobState::Recording> ||
                      std::is_same_v<T, ActionBlobState::Transcribing> ||
                      std::is_same_v<T, ActionBlobState::Editing>) {
          return BlobSize::recording;
        }
        return BlobSize::idleHover;
      },
      state.value());
}

Size pillSize(const ActionBlobState& state, bool hovered, const BlobContext& context) {
  if (state.is<ActionBlobState::Idle>()) {
    if (!hovered) return BlobSize::idle;
    return context.hasLastResult ? BlobSize::idleHover : BlobSize::idleHoverMinimal;
  }
  if (state.is<ActionBlobState::Ready>()) return hovered ? BlobSize::idleHover : BlobSize::ready;
  if (auto* error = std::get_if<ActionBlobState::Error>(&state.value())) {
    return hovered && !error->longMessage.empty() ? BlobSize::errorExpanded
                                                  : BlobSize::errorCollapsed;
  }
  if (state.is<ActionBlobState::Disabled>()) return BlobSize::disabled;
  return windowBasisSize(state);
}

Rect placedFrame(const platform::Screen& screen, Size basis) {
  const Rect& visible = screen.visibleFrame;
  const Size full = BlobSize::outerFrame(basis);
  const double width =
      std::max(1.0, std::min(full.width, visible.size.width - NARROW_SCREEN_MARGIN));
  const double pad = std::max(0.0, (full.height - basis.height) / 2);
  return {{visible.minX() + visible.size.width / 2 - width / 2,
           visible.minY() + BlobSize::bottomMargin - pad},
          {width, full.height}};
}

std::optional<platform::Screen> activeScreen(platform::Workspace& workspace) {
  const auto pointer = workspace.mouseLocation();
  for (const auto& screen : workspace.screens()) {
    if (screen.frame.contains(pointer)) return screen;
  }
  return workspace.mainScreen();
}

std::optional<platform::Screen> placementScreen(platform::Workspace& workspace,
                                                const std::optional<platform::Screen>& screen) {
  if (screen) return screen;
  if (auto main = workspace.mainScreen()) return main;
  auto screens = workspace.screens();
  if (screens.empty()) return std::nullopt;
  return screens.front();
}

}  // namespace nolari::ambrel::BlobPlacement
