#include "platform/cairo/Render.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace nolari::platform {

namespace {

// Cairo's own limit on an image surface's side.
constexpr int maxImageSide = 32767;
// A shadow's mask past this many pixels is drawn unblurred rather than held in
// memory.
constexpr double maxShadowPixels = 4096.0 * 4096.0;

void setColor(cairo_t* cr, const Color& color) {
  cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
}

// One pass of a running-sum box blur along rows (`step` 1) or columns.
void boxBlur(unsigned char* data, int count, int length, int step, int lineStride, int radius) {
  std::vector<unsigned char> line(static_cast<std::size_t>(length));
  const int window = 2 * radius + 1;
  for (int l = 0; l < count; ++l) {
    unsigned char* first = data + static_cast<std::ptrdiff_t>(l) * lineStride;
    for (int i = 0; i < length; ++i) line[static_cast<std::size_t>(i)] = first[i * step];
    int sum = 0;
    // Pixels past either end count as transparent.
    for (int i = 0; i <= std::min(radius, length - 1); ++i)
      sum += line[static_cast<std::size_t>(i)];
    for (int i = 0; i < length; ++i) {
      first[i * step] = static_cast<unsigned char>((sum + window / 2) / window);
      const int in = i + radius + 1;
      const int out = i - radius;
      if (in < length) sum += line[static_cast<std::size_t>(in)];
      if (out >= 0) sum -= line[static_cast<std::size_t>(out)];
    }
  }
}

void drawShadow(cairo_t* cr, const RoundedRect& shape, const Shadow& shadow) {
  RoundedRect cast = shape;
  cast.rect.origin.x += shadow.offset.x;
  cast.rect.origin.y += shadow.offset.y;
  setColor(cr, shadow.color);
  cairo_matrix_t matrix;
  cairo_get_matrix(cr, &matrix);
  const double blur = std::max(shadow.blurRadius, 0.0);
  // The mask needs no more pixels than keep the blur's sigma near 1.5 of
  // them: a blurred edge has no detail that more would show, and cairo
  // smooths the mask as it scales it up.
  const double scale = std::min(std::hypot(matrix.xx, matrix.yx), 3 / std::max(blur, 1e-9));
  const double width = (cast.rect.size.width + 2 * blur) * scale;
  const double height = (cast.rect.size.height + 2 * blur) * scale;
  if (blur * scale < 0.5 || !(width * height <= maxShadowPixels)) {
    addRoundedRect(cr, cast);
    cairo_fill(cr);
    return;
  }
  // The shape as an alpha mask, blurred three times over, which comes close
  // to a Gaussian with the blur radius as twice its sigma.
  const int pixelsWide = static_cast<int>(std::ceil(width));
  const int pixelsHigh = static_cast<int>(std::ceil(height));
  cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, pixelsWide, pixelsHigh);
  cairo_t* maskCr = cairo_create(mask);
  cairo_scale(maskCr, scale, scale);
  cairo_translate(maskCr, blur - cast.rect.origin.x, blur - cast.rect.origin.y);
  addRoundedRect(maskCr, cast);
  cairo_fill(maskCr);
  cairo_destroy(maskCr);
  cairo_surface_flush(mask);
  unsigned char* data = cairo_image_surface_get_data(mask);
  const int stride = cairo_image_surface_get_stride(mask);
  const int radius = std::max(1, static_cast<int>(std::lround(blur * scale / 2)));
  for (int pass = 0; pass < 3; ++pass) {
    boxBlur(data, pixelsHigh, pixelsWide, 1, stride, radius);
    boxBlur(data, pixelsWide, pixelsHigh, stride, 1, radius);
  }
  cairo_surface_mark_dirty(mask);
  cairo_surface_set_device_scale(mask, scale, scale);
  cairo_mask_surface(cr, mask, cast.rect.origin.x - blur, cast.rect.origin.y - blur);
  cairo_surface_destroy(mask);
}

}  // namespace

void addRoundedRect(cairo_t* cr, const RoundedRect& shape) {
  const Rect& r = shape.rect;
  const double radius =
      std::clamp(shape.cornerRadius, 0.0, std::min(r.size.width, r.size.height) / 2);
  constexpr double pi = std::numbers::pi;
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.maxX() - radius, r.minY() + radius, radius, -pi / 2, 0);
  cairo_arc(cr, r.maxX() - radius, r.maxY() - radius, radius, 0, pi / 2);
  cairo_arc(cr, r.minX() + radius, r.maxY() - radius, radius, pi / 2, pi);
  cairo_arc(cr, r.minX() + radius, r.minY() + radius, radius, pi, 3 * pi / 2);
  cairo_close_path(cr);
}

void CairoRenderer::drawShape(cairo_t* cr, const Shape& shape) {
  if (shape.shadow) drawShadow(cr, shape.shape, *shape.shadow);
  if (shape.fill) {
    setColor(cr, *shape.fill);
    addRoundedRect(cr, shape.shape);
    cairo_fill(cr);
  }
  if (shape.stroke && shape.stroke->width > 0) {
    // Stroked along a path inset by half the width, the line ends at the edge.
    const double half =
        std::min({shape.stroke->width, shape.shape.rect.size.width, shape.shape.rect.size.height}) /
        2;
    RoundedRect inset = shape.shape;
    inset.rect.origin.x += half;
    inset.rect.origin.y += half;
    inset.rect.size.width -= 2 * half;
    inset.rect.size.height -= 2 * half;
    inset.cornerRadius = std::max(shape.shape.cornerRadius - half, 0.0);
    setColor(cr, shape.stroke->color);
    cairo_set_line_width(cr, 2 * half);
    addRoundedRect(cr, inset);
    cairo_stroke(cr);
  }
}

void CairoRenderer::drawText(cairo_t* cr, const TextRun& run) {
  const LayoutPtr layout = text_.layout(run, run.width);
  setColor(cr, run.color);
  cairo_move_to(cr, run.origin.x, run.origin.y);
  pango_cairo_show_layout(cr, layout.get());
}

void CairoRenderer::drawItem(cairo_t* cr, const Item& item) {
  if (item.opacity <= 0) return;
  // Painted apart and blended once, so that overlapping parts of a
  // translucent item do not double up.
  const bool layered = item.opacity < 1;
  if (layered) cairo_push_group(cr);
  if (const auto* shape = std::get_if<Shape>(&item.content)) {
    drawShape(cr, *shape);
  } else if (const auto* run = std::get_if<TextRun>(&item.content)) {
    drawText(cr, *run);
  } else if (const auto* symbol = std::get_if<Symbol>(&item.content)) {
    drawSymbol(cr, *symbol);
  } else if (const auto* group = std::get_if<Group>(&item.content)) {
    cairo_save(cr);
    cairo_translate(cr, group->anchor.x, group->anchor.y);
    cairo_scale(cr, group->scale, group->scale);
    cairo_translate(cr, -group->anchor.x, -group->anchor.y);
    if (group->clip) {
      addRoundedRect(cr, *group->clip);
      cairo_clip(cr);
    }
    for (const Item& child : group->children) drawItem(cr, child);
    cairo_restore(cr);
  }
  if (layered) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, item.opacity);
  }
}

void CairoRenderer::draw(cairo_t* cr, const DisplayList& list) {
  for (const Item& item : list.items) drawItem(cr, item);
}

bool CairoRenderer::renderToPng(const DisplayList& list, Size size, double scale,
                                const std::string& path, std::string& error) {
  const double pixelsWide = std::ceil(size.width * scale);
  const double pixelsHigh = std::ceil(size.height * scale);
  if (!(scale > 0) || !(pixelsWide >= 1 && pixelsWide <= maxImageSide) ||
      !(pixelsHigh >= 1 && pixelsHigh <= maxImageSide)) {
    error = "the image would be ";
    error += std::to_string(pixelsWide);
    error += " by ";
    error += std::to_string(pixelsHigh);
    error += " pixels; each side must be from 1 to 32767";
    return false;
  }
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, static_cast<int>(pixelsWide), static_cast<int>(pixelsHigh));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  draw(cr, list);
  cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    error = path;
    error += ": ";
    error += cairo_status_to_string(status);
    return false;
  }
  return true;
}

}  // namespace nolari::platform
