#include "core/CoordinateSpace.h"

#include <gtest/gtest.h>

namespace nolari {
namespace {

using CoordinateSpace::carbonScreenPointFromCocoaScreenPoint;
using CoordinateSpace::cocoaWindowRectFromAXRect;
using platform::Point;
using platform::Rect;
using platform::Screen;

Screen screen(double x, double y, double width, double height) {
  return {{{x, y}, {width, height}}, {{x, y}, {width, height}}};
}

TEST(CoordinateSpace, MeasuresFromTheTopOfTheHighestScreen) {
  // The second screen sits above the primary one, so the top is 1440, not 900.
  const std::vector<Screen> screens = {screen(0, 0, 1440, 900), screen(0, 900, 2560, 540)};
  EXPECT_EQ(carbonScreenPointFromCocoaScreenPoint(screens, std::nullopt, {100, 400}),
            (Point{100, 1040}));
  EXPECT_EQ(cocoaWindowRectFromAXRect(screens, std::nullopt, {{100, 40}, {200, 30}}),
            (Rect{{100, 1370}, {200, 30}}));
}

TEST(CoordinateSpace, WithoutScreensTheMainScreenOrZeroIsTheTop) {
  EXPECT_EQ(carbonScreenPointFromCocoaScreenPoint({}, std::nullopt, {5, 40}), (Point{5, -40}));
  EXPECT_EQ(cocoaWindowRectFromAXRect({}, std::nullopt, {{0, 10}, {20, 30}}),
            (Rect{{0, -40}, {20, 30}}));
  EXPECT_EQ(carbonScreenPointFromCocoaScreenPoint({}, screen(0, 0, 800, 600), {5, 40}),
            (Point{5, 560}));
}

TEST(CoordinateSpace, RoundTripsThroughBothSystems) {
  const std::vector<Screen> screens = {screen(0, 0, 1440, 900)};
  const Rect ax{{280, 140}, {700, 22}};
  const Rect cocoa = cocoaWindowRectFromAXRect(screens, std::nullopt, ax);
  EXPECT_EQ(cocoa, (Rect{{280, 738}, {700, 22}}));
  // The cocoa rectangle's top-left corner maps back onto the AX origin.
  EXPECT_EQ(carbonScreenPointFromCocoaScreenPoint(
                screens, std::nullopt, {cocoa.origin.x, cocoa.origin.y + cocoa.size.height}),
            ax.origin);
}

}  // namespace
}  // namespace nolari
