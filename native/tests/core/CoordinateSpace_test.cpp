#include "core/CoordinateSpace.h"

#include <gtest/gtest.h>

#include "support/SimPlatform.h"

namespace nolari {
namespace {

using nlohmann::json;
using platform::Point;
using platform::Rect;

TEST(CoordinateSpace, MeasuresFromTheTopOfTheHighestScreen) {
  // The second screen sits above the primary one, so the top is 1440, not 900.
  test::SimPlatform sim(json{{"screens",
                              {{{"frame", {0, 0, 1440, 900}}},
                               {{"frame", {0, 900, 2560, 540}}}}}});
  EXPECT_EQ(CoordinateSpace::carbonScreenPointFromCocoaScreenPoint({100, 400}),
            (Point{100, 1040}));
  EXPECT_EQ(CoordinateSpace::cocoaWindowRectFromAXRect({{100, 40}, {200, 30}}),
            (Rect{{100, 1370}, {200, 30}}));
}

TEST(CoordinateSpace, WithoutScreensTheTopIsZero) {
  test::SimPlatform sim(json::object());
  EXPECT_EQ(CoordinateSpace::carbonScreenPointFromCocoaScreenPoint({5, 40}), (Point{5, -40}));
  EXPECT_EQ(CoordinateSpace::cocoaWindowRectFromAXRect({{0, 10}, {20, 30}}),
            (Rect{{0, -40}, {20, 30}}));
}

TEST(CoordinateSpace, RoundTripsThroughBothSystems) {
  test::SimPlatform sim("mail_compose");
  const Rect ax{{280, 140}, {700, 22}};
  const Rect cocoa = CoordinateSpace::cocoaWindowRectFromAXRect(ax);
  EXPECT_EQ(cocoa, (Rect{{280, 738}, {700, 22}}));
  // The cocoa rectangle's top-left corner maps back onto the AX origin.
  EXPECT_EQ(CoordinateSpace::carbonScreenPointFromCocoaScreenPoint(
                {cocoa.origin.x, cocoa.origin.y + cocoa.size.height}),
            ax.origin);
}

}  // namespace
}  // namespace nolari
