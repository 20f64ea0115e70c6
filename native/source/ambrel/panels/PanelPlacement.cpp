#include "ambrel/panels/PanelPlacement.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "ambrel/blob/DesignTokens.h"

namespace nolari::ambrel {

namespace {

namespace Tokens = BlobDesignTokens;
using platform::Point;
using platform::Rect;
using platform::Screen;

const Rect FALLBACK_VISIBLE_FRAME{{0, 0}, {1440, 900}};

// A caret-sized mark stands for the caret: one point wide, 20 high.
constexpr double MARK_HEIGHT = 20;

bool hasArea(const Rect& rect) { return rect.size.width > 0 || rect.size.height > 0; }

Point centre(const Rect& rect) {
  return {rect.minX() + rect.size.width / 2, rect.minY() + rect.size.height / 2};
}

// The visible frame of the main screen, else of the first one.
Rect preferredVisibleFrame(const std::vector<Screen>& screens,
                           const std::optional<Screen>& mainScreen) {
  if (mainScreen) return mainScreen->visibleFrame;
  if (!screens.empty()) return screens.front().visibleFrame;
  return FALLBACK_VISIBLE_FRAME;
}

Rect anchorFor(const std::optional<Rect>& caretRect, const Rect& fieldRect, double panelWidth,
               double panelHeight, const std::vector<Screen>& screens,
               const std::optional<Screen>& mainScreen) {
  if (caretRect && hasArea(*caretRect)) return *caretRect;
  if (hasArea(fieldRect)) {
    return {
        {fieldRect.minX(), fieldRect.minY() + std::max(0.0, fieldRect.size.height - MARK_HEIGHT)},
        {1, MARK_HEIGHT}};
  }
  // Centred just above where the idle blob sits.
  const Rect visible = preferredVisibleFrame(screens, mainScreen);
  return {{visible.minX() + visible.size.width / 2 - panelWidth / 2,
           visible.minY() + Tokens::BlobSize::bottomMargin + Tokens::BlobSize::idleHover.height +
               Tokens::PanelSize::caretGap + panelHeight},
          {1, 1}};
}

Rect clampingFrame(const Rect& anchor, const std::vector<Screen>& screens,
                   const std::optional<Screen>& mainScreen) {
  const Point point = centre(anchor);
  for (const auto& screen : screens) {
    if (screen.visibleFrame.contains(point)) return screen.visibleFrame;
  }
  return preferredVisibleFrame(screens, mainScreen);
}

void appendNumber(std::string& out, double value) {
  std::array<char, 64> buffer{};
  auto [end, error] =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
  if (error != std::errc()) {
    // Beyond the buffer only in fixed notation of huge numbers.
    end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
  }
  const std::string_view text(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
  out += text;
  if (std::isfinite(value) && text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

}  // namespace

std::string_view flipName(FlipDirection flip) {
  return flip == FlipDirection::above ? "above" : "below";
}

PanelPlacement computePanelFrame(const std::optional<Rect>& caretRect, const Rect& fieldRect,
                                 double panelWidth, double panelHeight,
                                 const std::vector<Screen>& screens,
                                 const std::optional<Screen>& mainScreen) {
  namespace Panel = Tokens::PanelSize;
  const Rect anchor = anchorFor(caretRect, fieldRect, panelWidth, panelHeight, screens, mainScreen);
  const Rect visible = clampingFrame(anchor, screens, mainScreen);
  double x = anchor.minX();
  double y = anchor.minY() - Panel::caretGap - panelHeight;
  FlipDirection flip = FlipDirection::below;
  if (x < visible.minX() + Panel::screenMargin) x = visible.minX() + Panel::screenMargin;
  // After the left edge, so that a panel wider than the screen keeps its
  // right edge inside.
  if (x + panelWidth > visible.maxX() - Panel::screenMargin) {
    x = visible.maxX() - Panel::screenMargin - panelWidth;
  }
  if (y < visible.minY() + Panel::screenMargin) {
    y = anchor.maxY() + Panel::caretGap;
    flip = FlipDirection::above;
  }
  if (y + panelHeight > visible.maxY() - Panel::screenMargin) {
    y = visible.maxY() - Panel::screenMargin - panelHeight;
  }
  return {{{x, y}, {panelWidth, panelHeight}}, flip};
}

std::string describeRect(const Rect& rect) {
  std::string out = "(";
  appendNumber(out, rect.origin.x);
  out += ", ";
  appendNumber(out, rect.origin.y);
  out += ", ";
  appendNumber(out, rect.size.width);
  out += ", ";
  appendNumber(out, rect.size.height);
  out += ")";
  return out;
}

std::string describeRect(const std::optional<Rect>& rect) {
  if (!rect) return "nil";
  std::string out = "Optional(";
  out += describeRect(*rect);
  out += ")";
  return out;
}

}  // namespace nolari::ambrel
