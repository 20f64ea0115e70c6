#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DisplayList.h"
#include "platform/cairo/Render.h"
#include "platform/cairo/TextMeasure.h"
#include "support/TempDir.h"

// Display lists painted to PNG files and read back pixel by pixel, at twice
// the point size as on a high-density screen.

namespace nolari::platform {
namespace {

constexpr double scale = 2;

struct Pixel {
  int red, green, blue, alpha;  // premultiplied, 0 to 255
};

class Png {
 public:
  explicit Png(const std::string& path)
      : surface_(cairo_image_surface_create_from_png(path.c_str())) {}
  ~Png() { cairo_surface_destroy(surface_); }
  Png(const Png&) = delete;
  Png& operator=(const Png&) = delete;

  bool valid() const { return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(surface_); }
  int height() const { return cairo_image_surface_get_height(surface_); }
  // The pixel under a point of the list.
  Pixel at(double x, double y) const {
    return pixel(static_cast<int>(x * scale), static_cast<int>(y * scale));
  }
  Pixel pixel(int x, int y) const {
    const unsigned char* row =
        cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
    const std::uint32_t argb = reinterpret_cast<const std::uint32_t*>(row)[x];
    return {int(argb >> 16 & 0xFF), int(argb >> 8 & 0xFF), int(argb & 0xFF), int(argb >> 24)};
  }
  // How many pixels inside (or, with `inside` false, outside) a rect of the
  // list are not transparent.
  int painted(const Rect& rect, bool inside) const {
    int count = 0;
    for (int y = 0; y < height(); ++y) {
      for (int x = 0; x < width(); ++x) {
        const Point centre{(x + 0.5) / scale, (y + 0.5) / scale};
        if (rect.contains(centre) == inside && pixel(x, y).alpha > 0) ++count;
      }
    }
    return count;
  }

 private:
  cairo_surface_t* surface_;
};

class DrawingTest : public ::testing::Test {
 protected:
  std::unique_ptr<Png> render(const DisplayList& list, Size size) {
    const std::string path = dir_.file("list.png");
    std::string error;
    EXPECT_TRUE(renderer_.renderToPng(list, size, scale, path, error)) << error;
    auto png = std::make_unique<Png>(path);
    EXPECT_TRUE(png->valid());
    EXPECT_EQ(png->width(), static_cast<int>(size.width * scale));
    return png;
  }

  test::TempDir dir_;
  PangoTextMeasurer text_;
  CairoRenderer renderer_{text_};
};

const Color red{1, 0, 0, 1};
const Color blue{0, 0, 1, 1};
const Color green{0, 1, 0, 1};

TEST_F(DrawingTest, ShapesFillStrokeInsideAndFadeAsOneLayer) {
  DisplayList list;
  list.items.push_back({Shape{.shape = {{{10, 10}, {40, 40}}, 12}, .fill = red}});
  list.items.push_back(
      {Shape{.shape = {{{60, 10}, {40, 40}}, 8}, .stroke = Stroke{.width = 4, .color = blue}}});
  Group fading;
  fading.children.push_back({Shape{.shape = {{{10, 60}, {30, 20}}}, .fill = green}});
  fading.children.push_back({Shape{.shape = {{{20, 60}, {30, 20}}}, .fill = green}});
  list.items.push_back({fading, 0.5});
  const auto png = render(list, {110, 90});

  const Pixel centre = png->at(30, 30);
  EXPECT_EQ(centre.red, 255);
  EXPECT_EQ(centre.alpha, 255);
  EXPECT_EQ(png->at(10.5, 10.5).alpha, 0) << "the corner is rounded off";
  EXPECT_EQ(png->at(9.5, 30).alpha, 0);

  const Pixel edge = png->at(60.5, 30);
  EXPECT_EQ(edge.blue, 255) << "the stroke starts at the edge";
  EXPECT_EQ(png->at(63.5, 30).blue, 255);
  EXPECT_EQ(png->at(59.5, 30).alpha, 0) << "nothing is drawn outside the edge";
  EXPECT_EQ(png->at(64.5, 30).alpha, 0) << "the stroke is 4 points wide";
  EXPECT_EQ(png->at(80, 30).alpha, 0);

  // Where the two children overlap the group is as translucent as elsewhere.
  EXPECT_NEAR(png->at(15, 70).alpha, 128, 1);
  EXPECT_NEAR(png->at(30, 70).alpha, 128, 1);

  std::string error;
  EXPECT_FALSE(renderer_.renderToPng(list, {10, 10}, scale, dir_.file("none/list.png"), error));
  EXPECT_NE(error.find("none/list.png"), std::string::npos) << error;
  EXPECT_FALSE(renderer_.renderToPng(list, {0, 10}, scale, dir_.file("empty.png"), error));
}

TEST_F(DrawingTest, TextStaysInItsBoxTruncatedAtTheTail) {
  TextRun run{.text = "Dictation is ready in every application you write in",
              .weight = FontWeight::semibold,
              .color = {1, 1, 1, 1},
              .letterSpacing = 0.2,
              .origin = {10, 10},
              .width = 120};
  const Size whole = text_.measure(run, 1000);
  const Size line = text_.measure(run, run.width);
  EXPECT_GT(whole.width, 2 * run.width);
  EXPECT_GT(line.width, run.width * 0.8) << "the line is filled before the ellipsis";
  EXPECT_LE(line.width, run.width);
  EXPECT_NEAR(line.height, whole.height, 0.01) << "one line";
  TextRun twoLines = run;
  twoLines.maxLines = 2;
  twoLines.text += "\nand more";
  const Size two = text_.measure(twoLines, run.width);
  EXPECT_LE(two.width, run.width);
  EXPECT_NEAR(two.height, 2 * line.height, 1) << "two lines at most, the break laid out as a space";

  DisplayList list;
  list.items.push_back({run});
  const auto png = render(list, {160, 60});
  const Rect box{run.origin, line};
  EXPECT_GT(png->painted(box, true), 100);
  EXPECT_EQ(png->painted(box, false), 0);
}

TEST_F(DrawingTest, EverySymbolDrawsInsideItsBox) {
  const char* names[] = {
      "checkmark", "xmark", "arrow.counterclockwise", "doc.on.doc", "questionmark.circle",
      "gearshape", "return"};
  EXPECT_FALSE(symbolNamed("gear"));
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::optional<SymbolName> symbol = symbolNamed(name);
    ASSERT_TRUE(symbol);
    const Rect box{{10, 10}, {20, 20}};
    DisplayList list;
    list.items.push_back({Symbol{
        .name = *symbol, .size = 16, .weight = FontWeight::bold, .color = red, .box = box}});
    const auto png = render(list, {40, 40});
    EXPECT_GT(png->painted(box, true), 40);
    EXPECT_EQ(png->painted(box, false), 0);
  }
}

TEST(DisplayListTest, HitTestFindsTheFrontMostRegion) {
  DisplayList list;
  list.items.push_back({HitRegion{{{{0, 0}, {100, 40}}, 20}, "open"}});
  list.items.push_back({Shape{.shape = {{{0, 0}, {100, 40}}}, .fill = red}});
  list.items.push_back({HitRegion{{{{70, 10}, {20, 20}}}, "close"}});
  Group popped;
  popped.scale = 2;
  popped.anchor = {50, 80};
  popped.clip = RoundedRect{{{40, 70}, {20, 20}}};
  popped.children.push_back({HitRegion{{{{40, 70}, {40, 20}}}, "copy"}});
  list.items.push_back({popped});
  Group hidden;
  hidden.children.push_back({HitRegion{{{{0, 0}, {200, 200}}}, "hidden"}});
  list.items.push_back({hidden, 0});

  EXPECT_EQ(hitTest(list, {30, 20}), "open");
  EXPECT_EQ(hitTest(list, {80, 20}), "close") << "drawn later, in front";
  EXPECT_EQ(hitTest(list, {2, 2}), std::nullopt) << "outside the rounded corner";
  EXPECT_EQ(hitTest(list, {32, 62}), "copy") << "scaled twice about its anchor";
  EXPECT_EQ(hitTest(list, {75, 80}), std::nullopt) << "clipped away, though the region goes on";
  EXPECT_EQ(hitTest(list, {150, 150}), std::nullopt);
}

}  // namespace
}  // namespace nolari::platform
