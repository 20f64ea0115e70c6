#pragma once

#include <chrono>
#include <string_view>

#include "platform/DisplayList.h"
#include "platform/Geometry.h"

// The visual constants of the agent's own drawing: the action blob, the
// command list and the help card. Each is named once here and read by its
// full name, so that the three surfaces cannot drift apart. Every value is a
// compile-time constant: reading one allocates nothing and needs no lock.

namespace nolari::ambrel::BlobDesignTokens {

using platform::Color;
using platform::Size;
using Seconds = std::chrono::duration<double>;

namespace detail {
constexpr Color white(double alpha) { return Color{1, 1, 1, alpha}; }
constexpr Color black(double alpha) { return Color{0, 0, 0, alpha}; }
}  // namespace detail

// The blur behind the blob and the panels, in the platform's visual-effect
// terms; the numbers are its own raw values.
namespace Material {
enum class Kind { hudWindow = 13 };
enum class Blending { behindWindow = 0 };
// Drawn as active whatever the window's key state.
enum class State { active = 1 };

inline constexpr Kind base = Kind::hudWindow;
inline constexpr Blending blending = Blending::behindWindow;
inline constexpr State state = State::active;
}  // namespace Material

namespace Stroke {
inline constexpr Color primary = detail::white(0.14);
inline constexpr double primaryWidth = 0.5;
}  // namespace Stroke

namespace Blob {
inline constexpr Color darkOverlay = detail::black(0.62);
inline constexpr Color disabledStroke = detail::white(0.22);
inline constexpr double disabledStrokeWidth = 0.5;
// The error crimson at 85 %.
inline constexpr Color rejectFlashColor{0.812, 0, 0.247, 0.85};
inline constexpr double rejectFlashWidth = 1.5;
inline constexpr Seconds rejectFlashDuration{0.25};
}  // namespace Blob

namespace Text {
inline constexpr Color primary{0.949, 0.949, 0.953, 1};
inline constexpr Color secondary{0.788, 0.788, 0.796, 1};
inline constexpr Color muted{0.416, 0.416, 0.431, 1};
}  // namespace Text

namespace Status {
inline constexpr Color processing{1, 0.624, 0.039, 1};
inline constexpr Color recording = processing;
inline constexpr Color success{0.204, 0.78, 0.349, 1};
inline constexpr Color error{0.812, 0, 0.247, 1};
}  // namespace Status

namespace Row {
inline constexpr Color focusedFill{0.118, 0.118, 0.133, 1};
inline constexpr Color divider = detail::white(0.05);
}  // namespace Row

namespace Radius {
inline constexpr double panel = 10;
inline constexpr double row = 6;
inline constexpr double pillThin = 3.5;
inline constexpr double pillStandard = 8;
inline constexpr double pillExpanded = 11;
}  // namespace Radius

// The pill's visual size per state; the window around it is larger (see
// outerFrame) so that the pill can grow on hover without the window moving.
namespace BlobSize {
inline constexpr Size idle{48, 8};
inline constexpr Size idleHover{220, 20};
inline constexpr Size idleHoverMinimal{124, 20};
inline constexpr Size processing{34, 14};
inline constexpr Size recording{40, 16};
inline constexpr Size ready{132, 20};
inline constexpr Size success{26, 16};
inline constexpr Size errorCollapsed{132, 20};
inline constexpr Size errorExpanded{256, 92};
inline constexpr Size disabled{48, 8};
// Between the bottom of the screen's visible area and the bottom of the pill.
inline constexpr double bottomMargin = 14;
inline constexpr double hoverExpansion = 1.2;

// The window that hosts a pill of `pill`: each side times hoverExpansion,
// rounded up to a whole point so the window never clips the pill's edge.
Size outerFrame(Size pill);
}  // namespace BlobSize

namespace PanelSize {
inline constexpr double width = 300;
inline constexpr double rowHeight = 30;
inline constexpr double verticalPadding = 8;
inline constexpr int maxRows = 8;
inline constexpr double caretGap = 6;
inline constexpr double screenMargin = 8;
}  // namespace PanelSize

namespace Motion {
inline constexpr Seconds panelAppearDuration{0.18};
inline constexpr Seconds panelDismissDuration{0.14};
// The window's resize when the state changes.
inline constexpr Seconds blobStateDuration{0.22};
// The window's move when the blob follows the pointer to another screen.
inline constexpr Seconds blobHoverDuration{0.18};
// How long a hovered blob stays open after the pointer leaves, so that a
// pointer grazing the edge does not make it flicker.
inline constexpr Seconds hoverGracePeriod{0.12};
inline constexpr Seconds successLinger{8};
inline constexpr Seconds errorLinger{30};
inline constexpr Seconds infoLinger{10};
inline constexpr Seconds readyLinger{30};
// Hovering pushes a linger's end this far, but only within lingerHoverCap of
// the first hover, so a resting pointer cannot keep the blob up for ever.
inline constexpr Seconds lingerHoverExtension{2};
inline constexpr Seconds lingerHoverCap{60};
inline constexpr Seconds showFade{0.18};
inline constexpr Seconds hideFade{0.12};
inline constexpr Seconds panelInactivityTimeout{12};
// One half-cycle of the breathing dot.
inline constexpr Seconds breathingDotDuration{0.95};
}  // namespace Motion

// A font as a text run asks for it. The family is a fontconfig list: the
// design's face first, then the stand-in this system ships with, then the
// generic family, so every token yields a usable font of its size and weight
// whether or not the Fira faces are installed.
struct Font {
  std::string_view family;
  double size = 0;
  platform::FontWeight weight = platform::FontWeight::regular;
  friend bool operator==(const Font&, const Font&) = default;
};

namespace Typography {
inline constexpr std::string_view monospacedFamily = "Fira Code,monospace";

constexpr Font trigger() { return {monospacedFamily, 12, platform::FontWeight::medium}; }
constexpr Font preview() {
  return {platform::defaultFontFamily, 12, platform::FontWeight::regular};
}
constexpr Font readyLabel() {
  return {platform::defaultFontFamily, 11, platform::FontWeight::medium};
}
}  // namespace Typography

namespace HelpCard {
inline constexpr double width = 340;
inline constexpr double outerPad = 16;
inline constexpr double headerToHeadlineGap = 14;

namespace Chip {
inline constexpr double radius = 4;
inline constexpr double kbdMinWidth = 18;
inline constexpr double kbdHeight = 18;
inline constexpr double kbdHorizontalPad = 5;
inline constexpr Color kbdBackground = Row::focusedFill;
// The set-shortcut chip under the pointer.
inline constexpr Color hoverBackground{0.145, 0.145, 0.161, 1};
}  // namespace Chip

// The footer link under the pointer.
inline constexpr Color linkHoverFill = detail::white(0.05);
// What the close symbol and the legend caption are drawn in when the user
// asked for more contrast, instead of Text::muted.
inline constexpr Color mutedHighContrast{0.541, 0.541, 0.557, 1};

namespace Legend {
inline constexpr double columnWidth = 84;
inline constexpr double columnGap = 14;
inline constexpr double rowGap = 6;
}  // namespace Legend

namespace Hairline {
inline constexpr Color color = Row::divider;
inline constexpr double height = 1;
inline constexpr double marginV = 14;
}  // namespace Hairline

namespace Typography {
constexpr Font title() { return {platform::defaultFontFamily, 13, platform::FontWeight::semibold}; }
constexpr Font headline() {
  return {platform::defaultFontFamily, 15, platform::FontWeight::regular};
}
constexpr Font chip() { return {platform::defaultFontFamily, 11, platform::FontWeight::medium}; }
constexpr Font caption() {
  return {platform::defaultFontFamily, 11, platform::FontWeight::regular};
}
constexpr Font trigger() {
  return {BlobDesignTokens::Typography::monospacedFamily, 12, platform::FontWeight::medium};
}
constexpr Font description() {
  return {platform::defaultFontFamily, 12, platform::FontWeight::regular};
}
constexpr Font link() { return {platform::defaultFontFamily, 12, platform::FontWeight::regular}; }
}  // namespace Typography
}  // namespace HelpCard

}  // namespace nolari::ambrel::BlobDesignTokens
