// The highlight box with and without blending: a tinted box with a thin
// border, or an outline alone with the window shaped to it, switching when a
// compositing manager comes or goes.

#include "ambrel/agent/HighlightOverlayWindow.h"

#include <gtest/gtest.h>

#include "AgentFixture.h"

namespace nolari {
namespace {

using ambrel::HighlightOverlayWindow;
using platform::Rect;

const platform::Shape& boxShape(const test::FakeWindow& window) {
  return std::get<platform::Shape>(window.content.items.at(0).content);
}

TEST(HighlightOverlayWindow, OutlineAloneWithoutBlendingAndFilledOnceItComes) {
  test::FakeWindowing windowing;
  windowing.blends = false;
  HighlightOverlayWindow box(windowing);
  test::FakeWindow& window = *windowing.named.at("highlight-box");
  box.show({{100, 200}, {50, 20}});
  EXPECT_TRUE(box.isOutlineOnly());
  EXPECT_EQ(boxShape(window).fill->alpha, 0);
  EXPECT_EQ(boxShape(window).stroke->width, 2);
  EXPECT_EQ(window.shape,
            (std::vector<Rect>{
                {{0, 0}, {50, 2}}, {{0, 18}, {50, 2}}, {{0, 2}, {2, 16}}, {{48, 2}, {2, 16}}}));

  // The compositor starts while the box shows: it is drawn again, filled.
  windowing.blends = true;
  windowing.translucency();
  EXPECT_FALSE(box.isOutlineOnly());
  EXPECT_TRUE(window.shape.empty());
  EXPECT_NEAR(boxShape(window).fill->alpha, HighlightOverlayWindow::DEFAULT_OPACITY, 1e-9);
  EXPECT_EQ(boxShape(window).stroke->width, 1);

  // It stops while the box is hidden: nothing is drawn until the next show.
  box.hide();
  const int draws = window.draws;
  windowing.blends = false;
  windowing.translucency();
  EXPECT_EQ(window.draws, draws);
  box.show({{0, 0}, {3, 40}});
  EXPECT_EQ(boxShape(window).fill->alpha, 0);
  // A box narrower than two borders is all border.
  EXPECT_EQ(window.shape.at(2), (Rect{{0, 1.5}, {1.5, 37}}));
}

}  // namespace
}  // namespace nolari
