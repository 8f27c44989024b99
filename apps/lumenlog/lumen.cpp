#include "apps/lumenlog/lumen.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumenlog {
namespace {

// 0x00BBGGRR (posted) to 0x00RRGGBB (the picture's order) and back.
std::uint32_t PostedToRgb(std::uint32_t c) {
  return ((c & 0xff) << 16) | (c & 0xff00) | ((c >> 16) & 0xff);
}

std::uint32_t* Row(const Canvas& c, int y) {
  return reinterpret_cast<std::uint32_t*>(c.data + static_cast<std::ptrdiff_t>(y) * c.stride);
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
  if (!pattern && c.pen_width <= 1 && c.mode == 13) {
    // The common line, thin, solid and copied: each pixel is the pen's.
    const std::uint32_t value = 0xff000000u | rgb;
    while (!(x == x1 && y == y1)) {
      if (x >= 0 && y >= 0 && x < c.width && y < c.height) Row(c, y)[x] = value;
      const int e2 = 2 * err;
      if (e2 >= dy) err += dy, x += sx;
      if (e2 <= dx) err += dx, y += sy;
    }
    return;
  }
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

const char* kFont = "DejaVu Sans";
constexpr double kFontSize = 11;

void SelectFont(cairo_t* cr) {
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kFontSize);
}

// Cairo's own text drawing: black, centred on x, bottom on y.
void CairoText(Canvas& c, int x, int y, const std::string& text) {
  cairo_t* cr = cairo_create(c.picture);
  SelectFont(cr);
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

// Cairo's image backend places each glyph's picture at the rounded glyph
// position (no subpixel placement) and lays the glyphs of one text into a
// coverage mask (saturating add) that darkens the picture once: pixel :=
// pixel * (255 - coverage) / 255, rounded as pixman rounds. So a text is
// its glyphs' coverage pictures at integer offsets, each taken once from
// Cairo by drawing the glyph on white (white * (255 - m) / 255 is exactly
// 255 - m).
int RoundHalfUp(double v) { return static_cast<int>(std::floor(v + 0.5)); }

// Each colour channel times keep / 255, rounded as pixman rounds, two
// channels at a time; the pixel stays opaque.
std::uint32_t DarkenPixel(std::uint32_t p, std::uint32_t keep) {
  std::uint32_t rb = (p & 0xff00ff) * keep + 0x800080;
  rb = (((rb >> 8) & 0xff00ff) + rb) >> 8 & 0xff00ff;
  std::uint32_t g = (p & 0xff00) * keep + 0x8000;
  g = (((g >> 8) & 0xff00) + g) >> 8 & 0xff00;
  return 0xff000000u | rb | g;
}

}  // namespace

struct TextCache {
  bool usable = false;
  double descent = 0;
  struct Glyph {
    double advance = 0;
    int dx = 0, dy = 0, w = 0, h = 0;  // the coverage box relative to the glyph's position
    std::vector<std::uint8_t> coverage;
    // The covered pixels only: x + y * 65536 within the box, and the coverage.
    std::vector<std::uint32_t> spot;
    std::vector<std::uint8_t> spot_coverage;
    // The same pixels as offsets in a picture of `offset_row` pixels a row,
    // made again when the picture's row length changes.
    std::vector<std::ptrdiff_t> spot_offset;
    std::ptrdiff_t offset_row = -1;
    // The box's rows in runs of four pixels from each row's first covered
    // pixel (the last run reaching at most three pixels beyond its last):
    // each run's offset from the box's corner in a picture of `offset_row`
    // pixels a row, and its four coverages. run_width is the widest reach.
    std::vector<std::ptrdiff_t> run_offset;
    std::vector<std::uint32_t> run_coverage;
    int run_width = 0;
  };
  Glyph glyph[95];  // ' ' ... '~'
  std::vector<std::uint8_t> mask;  // the text's coverage, reused
};

namespace {

constexpr int kCapture = 64, kOrigin = 24;

TextCache* MakeTextCache() {
  auto* t = new TextCache;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kCapture, kCapture);
  cairo_t* cr = cairo_create(s);
  SelectFont(cr);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  t->descent = fe.descent;
  cairo_scaled_font_t* font = cairo_get_scaled_font(cr);
  bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  for (int k = 0; k < 95 && ok; ++k) {
    const char text[2] = {static_cast<char>(32 + k), 0};
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(font, kOrigin, kOrigin, text, 1, &glyphs, &count, nullptr, nullptr, nullptr) !=
            CAIRO_STATUS_SUCCESS ||
        count != 1) {
      ok = false;
      break;
    }
    cairo_text_extents_t te;
    cairo_scaled_font_glyph_extents(font, glyphs, 1, &te);
    TextCache::Glyph& g = t->glyph[k];
    g.advance = te.x_advance;
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_show_glyphs(cr, glyphs, 1);
    cairo_glyph_free(glyphs);
    cairo_surface_flush(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    int x0 = kCapture, y0 = kCapture, x1 = -1, y1 = -1;
    for (int y = 0; y < kCapture; ++y)
      for (int x = 0; x < kCapture; ++x) {
        const std::uint32_t p = reinterpret_cast<const std::uint32_t*>(data + y * stride)[x];
        const std::uint32_t r = (p >> 16) & 0xff, gg = (p >> 8) & 0xff, b = p & 0xff;
        if (r != gg || r != b) ok = false;  // not grey coverage: leave texts to Cairo
        if (r == 255) continue;
        if (x == 0 || y == 0 || x == kCapture - 1 || y == kCapture - 1) ok = false;  // glyph too large to capture
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
      }
    if (x1 < 0) continue;  // a blank glyph
    g.dx = x0 - kOrigin, g.dy = y0 - kOrigin, g.w = x1 - x0 + 1, g.h = y1 - y0 + 1;
    g.coverage.resize(static_cast<std::size_t>(g.w) * g.h);
    for (int y = 0; y < g.h; ++y)
      for (int x = 0; x < g.w; ++x)
        g.coverage[y * g.w + x] =
            static_cast<std::uint8_t>(255 - ((reinterpret_cast<const std::uint32_t*>(data + (y0 + y) * stride)[x0 + x] >> 16) & 0xff));
    for (int y = 0; y < g.h; ++y)
      for (int x = 0; x < g.w; ++x)
        if (g.coverage[y * g.w + x]) {
          g.spot.push_back(static_cast<std::uint32_t>(x) | static_cast<std::uint32_t>(y) << 16);
          g.spot_coverage.push_back(g.coverage[y * g.w + x]);
        }
  }
  t->usable = ok;
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return t;
}

void MakeOffsets(TextCache::Glyph& g, std::ptrdiff_t row) {
  g.spot_offset.resize(g.spot.size());
  for (std::size_t k = 0; k < g.spot.size(); ++k)
    g.spot_offset[k] = static_cast<std::ptrdiff_t>(g.spot[k] >> 16) * row + (g.spot[k] & 0xffff);
  g.run_offset.clear();
  g.run_coverage.clear();
  g.run_width = 0;
  for (int y = 0; y < g.h; ++y) {
    int first = g.w, last = -1;
    for (int x = 0; x < g.w; ++x)
      if (g.coverage[y * g.w + x]) first = std::min(first, x), last = x;
    for (int x = first; x <= last; x += 4) {
      std::uint32_t four = 0;
      for (int k = 0; k < 4; ++k)
        if (x + k <= last) four |= static_cast<std::uint32_t>(g.coverage[y * g.w + x + k]) << (8 * k);
      g.run_offset.push_back(static_cast<std::ptrdiff_t>(y) * row + x);
      g.run_coverage.push_back(four);
      g.run_width = std::max(g.run_width, x + 4);
    }
  }
  g.offset_row = row;
}

#if defined(__SSE2__)
// The glyph's runs darkened four pixels at a time, as DarkenPixel does one
// (the same rounding: t = c * keep + 128, (t + t / 256) / 256). A zero
// coverage keeps its pixel exactly, so the pixels a run reaches beyond the
// glyph are written back unchanged; four black pixels are left alone.
void DarkenRuns(std::uint32_t* origin, const TextCache::Glyph& g) {
  const __m128i colour = _mm_set1_epi32(0x00ffffff), opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
  const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(0x80), all = _mm_set1_epi8(static_cast<char>(0xff));
  const std::size_t runs = g.run_offset.size();
  for (std::size_t k = 0; k < runs; ++k) {
    __m128i* at = reinterpret_cast<__m128i*>(origin + g.run_offset[k]);
    const __m128i p = _mm_loadu_si128(at);
    const __m128i black = _mm_cmpeq_epi32(_mm_and_si128(p, colour), zero);
    if (_mm_movemask_epi8(black) == 0xffff) continue;
    // keep = 255 - coverage, spread over the four channels of its pixel.
    __m128i keep = _mm_cvtsi32_si128(static_cast<int>(g.run_coverage[k]));
    keep = _mm_xor_si128(_mm_unpacklo_epi8(keep, keep), all);  // 8 x 16: k0 k0 k1 k1 k2 k2 k3 k3 as bytes
    keep = _mm_unpacklo_epi16(keep, keep);                     // each keep byte four times
    const __m128i klo = _mm_unpacklo_epi8(keep, zero), khi = _mm_unpackhi_epi8(keep, zero);
    __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(p, zero), klo), half);
    __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(p, zero), khi), half);
    lo = _mm_srli_epi16(_mm_add_epi16(lo, _mm_srli_epi16(lo, 8)), 8);
    hi = _mm_srli_epi16(_mm_add_epi16(hi, _mm_srli_epi16(hi, 8)), 8);
    _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(_mm_packus_epi16(lo, hi), colour), opaque));
  }
}
#endif

bool CachedText(Canvas& c, int x, int y, std::string_view text) {
  for (unsigned char ch : text)
    if (ch < 32 || ch > 126) return false;
  if (!c.glyphs) c.glyphs = MakeTextCache();
  TextCache& t = *c.glyphs;
  if (!t.usable) return false;
  // The advance as Cairo sums it, then each glyph's position from the start.
  double advance = 0;
  for (unsigned char ch : text) advance += t.glyph[ch - 32].advance;
  double gx = x - advance / 2.0;
  const double gy = y - t.descent;
  const int py = RoundHalfUp(gy) - kOrigin;
  int bx0 = 1 << 30, by0 = 1 << 30, bx1 = -(1 << 30), by1 = -(1 << 30);
  int px[256];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const TextCache::Glyph& g = t.glyph[static_cast<unsigned char>(text[i]) - 32];
    px[i] = RoundHalfUp(gx) - kOrigin;
    gx += g.advance;
    if (g.coverage.empty()) continue;
    bx0 = std::min(bx0, px[i] + kOrigin + g.dx), bx1 = std::max(bx1, px[i] + kOrigin + g.dx + g.w);
    by0 = std::min(by0, py + kOrigin + g.dy), by1 = std::max(by1, py + kOrigin + g.dy + g.h);
  }
  if (bx1 <= bx0) return true;  // nothing to draw
  // Glyph boxes that do not meet darken the picture one by one; otherwise
  // their coverage is summed first, as one mask.
  bool apart = true;
  for (std::size_t i = 0; i < text.size() && apart; ++i) {
    const TextCache::Glyph& g = t.glyph[static_cast<unsigned char>(text[i]) - 32];
    if (g.coverage.empty()) continue;
    for (std::size_t j = i + 1; j < text.size() && apart; ++j) {
      const TextCache::Glyph& h = t.glyph[static_cast<unsigned char>(text[j]) - 32];
      if (h.coverage.empty()) continue;
      const int ax = px[i] + g.dx, bx = px[j] + h.dx;
      if (ax < bx + h.w && bx < ax + g.w && g.dy < h.dy + h.h && h.dy < g.dy + g.h) apart = false;
    }
  }
  const int mw = bx1 - bx0, mh = by1 - by0;
  auto darken = [&](int x0, int y0, int w, int h, const std::uint8_t* coverage) {
    for (int yy = std::max(0, y0); yy < std::min(c.height, y0 + h); ++yy) {
      std::uint32_t* row = Row(c, yy);
      const std::uint8_t* m = coverage + static_cast<std::ptrdiff_t>(yy - y0) * w - x0;
      for (int xx = std::max(0, x0); xx < std::min(c.width, x0 + w); ++xx)
        if (m[xx] && (row[xx] & 0xffffff)) row[xx] = m[xx] == 255 ? 0xff000000u : DarkenPixel(row[xx], 255u - m[xx]);
    }
  };
  if (apart) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      TextCache::Glyph& g = t.glyph[static_cast<unsigned char>(text[i]) - 32];
      if (g.coverage.empty()) continue;
      const int x0 = px[i] + kOrigin + g.dx, y0 = py + kOrigin + g.dy;
      if (x0 < 0 || y0 < 0 || x0 + g.w > c.width || y0 + g.h > c.height) {
        darken(x0, y0, g.w, g.h, g.coverage.data());
        continue;
      }
      // Wholly inside the picture: only the covered pixels, unchecked. Most
      // land on pixels already black, which are only read: the test costs
      // less than darkening and storing them all.
      std::uint32_t* origin = Row(c, y0) + x0;
      const std::ptrdiff_t row = c.stride / 4;
      if (g.offset_row != row) {
        MakeOffsets(g, row);
      }
      const std::size_t count = g.spot.size();
      const std::ptrdiff_t* offset = g.spot_offset.data();
      const std::uint8_t* cov = g.spot_coverage.data();
#if defined(__SSE2__)
      if (x0 + g.run_width <= c.width) {
        DarkenRuns(origin, g);
        continue;
      }
#endif
      for (std::size_t k = 0; k < count; ++k) {
        std::uint32_t& p = origin[offset[k]];
        if (p & 0xffffff) {
          const std::uint32_t m = cov[k];
          p = m == 255 ? 0xff000000u : DarkenPixel(p, 255u - m);
        }
      }
    }
    return true;
  }
  t.mask.assign(static_cast<std::size_t>(mw) * mh, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const TextCache::Glyph& g = t.glyph[static_cast<unsigned char>(text[i]) - 32];
    const int ox = px[i] + kOrigin + g.dx - bx0, oy = py + kOrigin + g.dy - by0;
    for (int yy = 0; yy < g.h; ++yy)
      for (int xx = 0; xx < g.w; ++xx) {
        std::uint8_t& m = t.mask[(oy + yy) * mw + ox + xx];
        m = static_cast<std::uint8_t>(std::min(255, m + g.coverage[yy * g.w + xx]));
      }
  }
  darken(bx0, by0, mw, mh, t.mask.data());
  return true;
}

}  // namespace

void DrawText(Canvas& c, int x, int y, std::string_view text, bool use_cache) {
  if (text.empty()) return;
  // The cache writes the pixels directly (the caller tells Cairo, as for
  // lines); Cairo's own text is flushed and marked here.
  if (use_cache && text.size() <= 255 && CachedText(c, x, y, text)) return;
  cairo_surface_flush(c.picture);
  CairoText(c, x, y, std::string(text));
  cairo_surface_mark_dirty(c.picture);
}

namespace {

std::uint64_t Le(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

}  // namespace

bool SplitRequestViews(const void* data, std::size_t size, std::vector<RequestView>* out) {
  out->clear();
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t at = 0;
  while (at < size) {
    // The layout of platform::DecodeWindowRequest, read in place.
    const std::size_t left = size - at;
    if (left < platform::kWindowRequestHeader) {
      out->clear();
      return false;
    }
    const std::uint64_t length = Le(p + at + 4, 4);
    if (length > 255 || left < platform::kWindowRequestHeader + length) {
      out->clear();
      return false;
    }
    RequestView r;
    r.number = static_cast<std::uint32_t>(Le(p + at, 4));
    r.first = static_cast<std::int64_t>(Le(p + at + 8, 8));
    r.second = static_cast<std::int64_t>(Le(p + at + 16, 8));
    r.text = std::string_view(reinterpret_cast<const char*>(p + at + platform::kWindowRequestHeader), length);
    out->push_back(r);
    at += platform::kWindowRequestHeader + length;
  }
  return !out->empty();
}

bool SplitRequests(const void* data, std::size_t size, std::vector<platform::WindowRequest>* out) {
  out->clear();
  std::vector<RequestView> views;
  if (!SplitRequestViews(data, size, &views)) return false;
  for (const RequestView& v : views) {
    platform::WindowRequest r;
    r.number = v.number;
    r.first = v.first;
    r.second = v.second;
    r.text.assign(v.text);
    out->push_back(std::move(r));
  }
  return !out->empty();
}

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
  c.data = cairo_image_surface_get_data(c.picture);
  c.stride = cairo_image_surface_get_stride(c.picture);
  for (int y = 0; y < c.height; ++y) std::fill(Row(c, y), Row(c, y) + c.width, 0xffffffffu);
  cairo_surface_mark_dirty(c.picture);
  return true;
}

void CanvasDestroy(Canvas& c) {
  if (c.picture) cairo_surface_destroy(c.picture);
  c.picture = nullptr;
  c.data = nullptr;
  delete c.glyphs;
  c.glyphs = nullptr;
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
  cairo_surface_destroy(c.picture);  // the glyph cache stays
  c.picture = n.picture;
  c.data = n.data;
  c.stride = n.stride;
  c.width = width;
  c.height = height;
}

std::uint32_t PixelAt(const Canvas& c, int x, int y) {
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return 0;
  return Row(c, y)[x] & 0xffffff;
}

Effect Apply(Canvas& c, const platform::WindowRequest& r) {
  return Apply(c, RequestView{r.number, r.first, r.second, r.text});
}

Effect Apply(Canvas& c, const RequestView& r) {
  if (r.number < kUser || r.number > kUser + 12) return Effect::kIgnored;
  const std::uint32_t second = static_cast<std::uint32_t>(static_cast<std::uint64_t>(r.second) & 0xffffffffu);
  const int x = static_cast<std::int16_t>(second & 0xffff), y = static_cast<std::int16_t>(second >> 16);
  const std::uint32_t colour = static_cast<std::uint32_t>(r.first) & 0xffffff;
  // The picture's pixels are written directly; only a text may go through
  // Cairo, and DrawText tells Cairo itself (a flush and a mark for every
  // request cost a tenth of the window's time).
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
      DrawText(c, x, y, r.text);
      break;
  }
  return e;
}

}  // namespace lumenlog
