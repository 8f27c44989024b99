#include "apps/lumenlog/lumen.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace lumenlog {
namespace {

// 0x00BBGGRR (posted) to 0x00RRGGBB (the picture's order) and back.
std::uint32_t PostedToRgb(std::uint32_t c) {
  return ((c & 0xff) << 16) | (c & 0xff00) | ((c >> 16) & 0xff);
}

std::uint32_t* Row(const Canvas& c, int y) {
  unsigned char* data = cairo_image_surface_get_data(c.picture);
  return reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(c.picture));
}

void SetPixel(Canvas& c, int x, int y, std::uint32_t rgb) {
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return;
  Row(c, y)[x] = 0xff000000u | (rgb & 0xffffff);
}

void PenPixel(Canvas& c, int x, int y, std::uint32_t pen_rgb) {
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return;
  std::uint32_t& p = Row(c, y)[x];
  p = 0xff000000u | (RasterOp(c.mode, pen_rgb, p & 0xffffff) & 0xffffff);
}

// A round brush of the pen's width about (x, y); each pixel once per dab.
void Dab(Canvas& c, int x, int y, std::uint32_t rgb) {
  const int w = std::max(1, c.pen_width);
  if (w == 1) {
    PenPixel(c, x, y, rgb);
    return;
  }
  const double r = w / 2.0;
  const int lo = -(w / 2), hi = lo + w - 1;
  for (int dy = lo; dy <= hi; ++dy)
    for (int dx = lo; dx <= hi; ++dx) {
      const double cx = dx + 0.5 - (w % 2 ? 0.5 : 0.0), cy = dy + 0.5 - (w % 2 ? 0.5 : 0.0);
      if (cx * cx + cy * cy <= r * r) PenPixel(c, x + dx, y + dy, rgb);
    }
}

// On/off runs of the thin pen styles, in pixels.
const int* Pattern(int style, int* n) {
  static const int dash[] = {18, 6}, dot[] = {3, 3}, dashdot[] = {9, 6, 3, 6}, dashdotdot[] = {9, 3, 3, 3, 3, 3};
  switch (style) {
    case 1: *n = 2; return dash;
    case 2: *n = 2; return dot;
    case 3: *n = 4; return dashdot;
    case 4: *n = 6; return dashdotdot;
    default: *n = 0; return nullptr;
  }
}

void Line(Canvas& c, int x0, int y0, int x1, int y1) {
  if (c.pen_style == 5) return;  // no pen
  const std::uint32_t rgb = PostedToRgb(c.pen_colour);
  int n = 0;
  const int* pattern = c.pen_width <= 1 ? Pattern(c.pen_style, &n) : nullptr;
  const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy, x = x0, y = y0;
  int run = 0, left = pattern ? pattern[0] : 0;
  while (!(x == x1 && y == y1)) {  // the end pixel stays undrawn
    if (!pattern || run % 2 == 0) Dab(c, x, y, rgb);
    if (pattern && --left == 0) {
      run = (run + 1) % n;
      left = pattern[run];
    }
    const int e2 = 2 * err;
    if (e2 >= dy) err += dy, x += sx;
    if (e2 <= dx) err += dx, y += sy;
  }
}

void Text(Canvas& c, int x, int y, const std::string& text) {
  if (text.empty()) return;
  cairo_t* cr = cairo_create(c.picture);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 11);
  cairo_text_extents_t te;
  cairo_text_extents(cr, text.c_str(), &te);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_move_to(cr, x - te.x_advance / 2.0, y - fe.descent);
  cairo_show_text(cr, text.c_str());
  cairo_destroy(cr);
  cairo_surface_flush(c.picture);
}

}  // namespace

std::uint32_t RasterOp(int mode, std::uint32_t p, std::uint32_t d) {
  const std::uint32_t m = 0xffffff;
  switch (mode) {
    case 1: return 0;
    case 2: return ~(d | p) & m;
    case 3: return d & ~p & m;
    case 4: return ~p & m;
    case 5: return p & ~d & m;
    case 6: return ~d & m;
    case 7: return (d ^ p) & m;
    case 8: return ~(d & p) & m;
    case 9: return d & p;
    case 10: return ~(d ^ p) & m;
    case 11: return d;
    case 12: return (d | ~p) & m;
    case 13: return p;
    case 14: return (p | ~d) & m;
    case 15: return d | p;
    case 16: return m;
    default: return d;
  }
}

int MarkerPixels(int shape, int (*px)[2], int capacity) {
  int n = 0;
  auto add = [&](int x, int y) {
    if (n < capacity) px[n][0] = x, px[n][1] = y;
    ++n;
  };
  switch (shape) {
    case 1:
      add(0, 0), add(-1, 0), add(1, 0), add(0, -1), add(0, 1);
      break;
    case 2:
      for (int x = -1; x <= 1; ++x) add(x, -2), add(x, 2);
      for (int y = -1; y <= 1; ++y) add(-2, y), add(2, y);
      break;
    case 3:
      add(0, -1), add(-1, 0), add(1, 0);
      for (int x = -1; x <= 1; ++x) add(x, 1);
      break;
    case 4:
      for (int k = 1; k <= 3; ++k) add(k, 0), add(-k, 0), add(0, k), add(0, -k);
      break;
    case 5:
      for (int y = -2; y <= 2; ++y)
        for (int x = -2; x <= 2; ++x)
          if (!(std::abs(x) == 2 && std::abs(y) == 2)) add(x, y);
      break;
    default:
      add(0, 0);
      break;
  }
  return n;
}

bool CanvasCreate(Canvas& c, int width, int height) {
  c.width = std::clamp(width, 1, kMaxSide);
  c.height = std::clamp(height, 1, kMaxSide);
  c.picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, c.width, c.height);
  if (cairo_surface_status(c.picture) != CAIRO_STATUS_SUCCESS) return false;
  for (int y = 0; y < c.height; ++y) std::fill(Row(c, y), Row(c, y) + c.width, 0xffffffffu);
  cairo_surface_mark_dirty(c.picture);
  return true;
}

void CanvasDestroy(Canvas& c) {
  if (c.picture) cairo_surface_destroy(c.picture);
  c.picture = nullptr;
}

void CanvasResize(Canvas& c, int width, int height) {
  width = std::clamp(width, 1, kMaxSide);
  height = std::clamp(height, 1, kMaxSide);
  Canvas n;
  if (!CanvasCreate(n, width, height)) return;
  cairo_surface_flush(c.picture);
  for (int y = 0; y < std::min(c.height, height); ++y)
    std::memcpy(Row(n, y), Row(c, y), static_cast<std::size_t>(std::min(c.width, width)) * 4);
  cairo_surface_mark_dirty(n.picture);
  CanvasDestroy(c);
  c.picture = n.picture;
  c.width = width;
  c.height = height;
}

std::uint32_t PixelAt(const Canvas& c, int x, int y) {
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return 0;
  return Row(c, y)[x] & 0xffffff;
}

Effect Apply(Canvas& c, const platform::WindowRequest& r) {
  if (r.number < kUser || r.number > kUser + 12) return Effect::kIgnored;
  const std::uint32_t second = static_cast<std::uint32_t>(static_cast<std::uint64_t>(r.second) & 0xffffffffu);
  const int x = static_cast<std::int16_t>(second & 0xffff), y = static_cast<std::int16_t>(second >> 16);
  const std::uint32_t colour = static_cast<std::uint32_t>(r.first) & 0xffffff;
  cairo_surface_flush(c.picture);
  Effect e = Effect::kDrawn;
  switch (r.number - kUser) {
    case 0:
      c.front_requests = true;
      e = Effect::kRaise;
      break;
    case 1:
      ++c.beeps;
      CanvasResize(c, x, y);
      e = Effect::kResized;
      break;
    case 2:
      for (int yy = 0; yy < c.height; ++yy) std::fill(Row(c, yy), Row(c, yy) + c.width, 0xff000000u | PostedToRgb(colour));
      break;
    case 3:
      Line(c, c.x, c.y, x, y);
      c.x = x, c.y = y;
      break;
    case 4:
      c.x = x, c.y = y;
      e = Effect::kNone;
      break;
    case 5:
      SetPixel(c, x, y, PostedToRgb(colour));
      break;
    case 6:
      e = Effect::kNone;
      break;
    case 7:
      c.pen_colour = colour;
      e = Effect::kNone;
      break;
    case 8:
      c.pen_style = static_cast<int>(r.first);
      e = Effect::kNone;
      break;
    case 9:
      c.pen_width = static_cast<int>(std::clamp<std::int64_t>(r.first, 0, 64));
      e = Effect::kNone;
      break;
    case 10:
      if (r.first >= 1 && r.first <= 16) c.mode = static_cast<int>(r.first);
      e = Effect::kNone;
      break;
    case 11: {
      int px[32][2];
      const int n = MarkerPixels(r.first >= 0 && r.first <= 5 ? static_cast<int>(r.first) : 0, px, 32);
      for (int i = 0; i < n && i < 32; ++i) SetPixel(c, x + px[i][0], y + px[i][1], PostedToRgb(c.pen_colour));
      break;
    }
    case 12:
      Text(c, x, y, r.text);
      break;
  }
  cairo_surface_mark_dirty(c.picture);
  return e;
}

}  // namespace lumenlog
