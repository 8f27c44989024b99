// Drawing states on a small surface: what each kind leaves in the pixels.
#include "lib/display/draw_state.h"

#include <gtest/gtest.h>

#include "lib/display/colour.h"

namespace display {
namespace {

constexpr uint32_t kRed = MakeColour(255, 0, 0);
constexpr uint32_t kWhite = MakeColour(255, 255, 255);

struct Surface {
  DisplaySurface s;
  Surface(int w = 100, int h = 80) { EXPECT_TRUE(CreateDisplaySurface(&s, w, h, kWhite)); }
  ~Surface() { DestroyDisplaySurface(&s); }
  int Count(uint32_t colour, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
    if (x1 < 0) x1 = s.width - 1;
    if (y1 < 0) y1 = s.height - 1;
    int n = 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) n += SurfacePixel(&s, x, y) == colour;
    return n;
  }
};

TEST(DisplaySurfaceTest, CreateClearResize) {
  Surface t;
  EXPECT_EQ(t.Count(kWhite), 100 * 80);
  ClearDisplaySurface(&t.s, MakeColour(0, 0, 128));
  EXPECT_EQ(t.s.background, MakeColour(0, 0, 128));
  EXPECT_EQ(t.Count(MakeColour(0, 0, 128)), 100 * 80);
  ASSERT_TRUE(ResizeDisplaySurface(&t.s, 30, 20));
  EXPECT_EQ(t.Count(MakeColour(0, 0, 128)), 30 * 20);
  DisplaySurface none;
  EXPECT_FALSE(CreateDisplaySurface(&none, 0, 10, kWhite));
  EXPECT_EQ(none.bitmap, nullptr);
  EXPECT_EQ(SurfacePixel(&t.s, -1, 0), 0u);
  EXPECT_EQ(SurfacePixel(&t.s, 30, 0), 0u);
}

TEST(DrawStateTest, OneStateAtATimeAndEmptySurfaces) {
  Surface t;
  DrawState d;
  ASSERT_EQ(OpenLines(&d, &t.s, ParseLineStyle("red")), kDrawOk);
  EXPECT_EQ(OpenAreas(&d, &t.s, ParseAreaStyle("red")), kStateOpen);
  CloseDrawState(&d);
  CloseDrawState(&d);  // closing twice is harmless
  EXPECT_EQ(OpenAreas(&d, &t.s, ParseAreaStyle("red")), kDrawOk);
  CloseDrawState(&d);
  DisplaySurface empty;
  EXPECT_EQ(OpenAreas(&d, &empty, AreaStyle{}), kGraphicsMemory);
  EXPECT_EQ(d.kind, -1);
  // Operations of the wrong kind draw nothing.
  ASSERT_EQ(OpenText(&d, &t.s, TextStyle{}), kDrawOk);
  const DrawPoint tri[3] = {{0, 0}, {50, 0}, {0, 50}};
  FillPolygon(&d, tri, 3);
  Marker(&d, 10, 10);
  BeginPolyline(&d, 0, 0);
  AddPolylinePoint(&d, 99, 79);
  CloseDrawState(&d);
  EXPECT_EQ(t.Count(kWhite), 100 * 80);
}

TEST(DrawStateTest, PolylinesStayContinuousAcrossBufferFlushes) {
  Surface t;
  DrawState d;
  d.capacity = 4;  // forces several flushes along the line
  ASSERT_EQ(OpenLines(&d, &t.s, ParseLineStyle("red")), kDrawOk);
  BeginPolyline(&d, 5, 10);
  for (int x = 10; x <= 95; x += 5) AddPolylinePoint(&d, x, 10);
  FinishPolyline(&d);
  CloseDrawState(&d);
  for (int x = 6; x < 95; ++x) ASSERT_EQ(SurfacePixel(&t.s, x, 10), kRed) << x;
  EXPECT_EQ(SurfacePixel(&t.s, 50, 9), kWhite);
  EXPECT_EQ(SurfacePixel(&t.s, 50, 11), kWhite);
  // An unfinished polyline is drawn at close.
  ASSERT_EQ(OpenLines(&d, &t.s, ParseLineStyle("blue/w3")), kDrawOk);  // smooth, but solid inside
  BeginPolyline(&d, 20, 40);
  AddPolylinePoint(&d, 80, 40);
  CloseDrawState(&d);
  EXPECT_EQ(SurfacePixel(&t.s, 50, 40), MakeColour(0, 0, 255));
  EXPECT_EQ(SurfacePixel(&t.s, 50, 39), MakeColour(0, 0, 255));  // three pixels wide
  EXPECT_EQ(SurfacePixel(&t.s, 50, 41), MakeColour(0, 0, 255));
}

TEST(DrawStateTest, DashFormsLeaveGapsOnlyWhenAsked) {
  for (int dash = 0; dash <= 3; ++dash) {
    Surface t;
    DrawState d;
    ASSERT_EQ(OpenLines(&d, &t.s, ParseLineStyle("red/d" + std::to_string(dash))), kDrawOk);
    BeginPolyline(&d, 0, 10);
    AddPolylinePoint(&d, 99, 10);
    CloseDrawState(&d);
    const int red = t.Count(kRed, 0, 10, 98, 10);
    if (dash == 0)
      EXPECT_GE(red, 98);
    else
      EXPECT_LT(red, 90) << dash;
    EXPECT_GT(red, 20) << dash;
  }
}

TEST(DrawStateTest, AreasFillSolidWithoutSeamsAndPatternsCut) {
  Surface t;
  DrawState d;
  ASSERT_EQ(OpenAreas(&d, &t.s, ParseAreaStyle("red")), kDrawOk);
  // Two squares sharing the edge x = 50: no pixel between them stays white.
  const DrawPoint a[4] = {{10, 10}, {50, 10}, {50, 50}, {10, 50}};
  const DrawPoint b[4] = {{50, 10}, {90, 10}, {90, 50}, {50, 50}};
  FillPolygon(&d, a, 4);
  FillPolygon(&d, b, 4);
  CloseDrawState(&d);
  EXPECT_EQ(t.Count(kRed), 80 * 40);
  EXPECT_EQ(t.Count(kRed, 10, 10, 89, 49), 80 * 40);

  // A ring with a hole, by the even-odd rule.
  Surface h;
  ASSERT_EQ(OpenAreas(&d, &h.s, ParseAreaStyle("green")), kDrawOk);
  FillRings(&d, {{{0, 0}, {60, 0}, {60, 60}, {0, 60}}, {{20, 20}, {40, 20}, {40, 40}, {20, 40}}});
  CloseDrawState(&d);
  EXPECT_EQ(SurfacePixel(&h.s, 10, 10), MakeColour(0, 128, 0));
  EXPECT_EQ(SurfacePixel(&h.s, 30, 30), kWhite);

  // Hatches and tiles colour part of the polygon, and nothing outside it.
  for (const char* style : {"red/p1", "red/p7", "red/p13", "red/p14", "red/p15", "red/q1", "red/q8"}) {
    Surface p(200, 200);
    ASSERT_EQ(OpenAreas(&d, &p.s, ParseAreaStyle(style)), kDrawOk);
    const DrawPoint sq[4] = {{0, 0}, {160, 0}, {160, 160}, {0, 160}};
    FillPolygon(&d, sq, 4);
    CloseDrawState(&d);
    const int inside = p.Count(kRed, 0, 0, 159, 159);
    EXPECT_GT(inside, 160 * 160 / 80) << style;
    EXPECT_LT(inside, 160 * 160 * 3 / 4) << style;
    EXPECT_EQ(p.Count(kRed, 161, 0, 199, 199), 0) << style;
  }
  // p1 and p15 are the same hatch (taken modulo 14).
  Surface p1(64, 64), p15(64, 64);
  const DrawPoint sq[4] = {{0, 0}, {64, 0}, {64, 64}, {0, 64}};
  ASSERT_EQ(OpenAreas(&d, &p1.s, ParseAreaStyle("red/p1")), kDrawOk);
  FillPolygon(&d, sq, 4);
  CloseDrawState(&d);
  ASSERT_EQ(OpenAreas(&d, &p15.s, ParseAreaStyle("red/p15")), kDrawOk);
  FillPolygon(&d, sq, 4);
  CloseDrawState(&d);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(SurfacePixel(&p1.s, x, y), SurfacePixel(&p15.s, x, y));
}

TEST(DrawStateTest, HatchesAndTilesAreDistinct) {
  const DisplayResources* r = GetDisplayResources();
  ASSERT_NE(r, nullptr);
  auto same = [](cairo_surface_t* a, cairo_surface_t* b) {
    cairo_surface_flush(a);
    cairo_surface_flush(b);
    const int h = cairo_image_surface_get_height(a), w = cairo_image_surface_get_width(a);
    for (int y = 0; y < h; ++y)
      if (memcmp(cairo_image_surface_get_data(a) + y * cairo_image_surface_get_stride(a),
                 cairo_image_surface_get_data(b) + y * cairo_image_surface_get_stride(b), w) != 0)
        return false;
    return true;
  };
  for (int i = 0; i < 14; ++i)
    for (int j = i + 1; j < 14; ++j) EXPECT_FALSE(same(r->hatch[i], r->hatch[j])) << i << " " << j;
  for (int i = 0; i < 8; ++i)
    for (int j = i + 1; j < 8; ++j) EXPECT_FALSE(same(r->tiles[i], r->tiles[j])) << i << " " << j;
}

TEST(DrawStateTest, MarkersSurroundTheirPoint) {
  Surface t;
  DrawState d;
  d.capacity = 2;  // flushes between markers
  ASSERT_EQ(OpenMarkers(&d, &t.s, ParseMarkerStyle("red/m1")), kDrawOk);
  Marker(&d, 20, 20);
  Marker(&d, 60, 40);
  Marker(&d, 80, 60);
  CloseDrawState(&d);
  for (auto [x, y] : {std::pair{20, 20}, std::pair{60, 40}, std::pair{80, 60}}) {
    EXPECT_EQ(SurfacePixel(&t.s, x, y), kRed);
    EXPECT_EQ(SurfacePixel(&t.s, x - 3, y - 3), kRed);
    EXPECT_EQ(SurfacePixel(&t.s, x + 3, y + 3), kRed);
    EXPECT_EQ(SurfacePixel(&t.s, x + 8, y), kWhite);
  }
  // Symbol 0 is one pixel; m18 is symbol 2, an open square: its centre stays.
  Surface one;
  ASSERT_EQ(OpenMarkers(&d, &one.s, ParseMarkerStyle("red/m0")), kDrawOk);
  Marker(&d, 30.2, 30.4);
  CloseDrawState(&d);
  EXPECT_EQ(one.Count(kRed), 1);
  EXPECT_EQ(SurfacePixel(&one.s, 30, 30), kRed);
  Surface open;
  ASSERT_EQ(OpenMarkers(&d, &open.s, ParseMarkerStyle("red/m18")), kDrawOk);
  Marker(&d, 30, 30);
  CloseDrawState(&d);
  EXPECT_EQ(SurfacePixel(&open.s, 30, 30), kWhite);
  EXPECT_GT(open.Count(kRed, 22, 22, 38, 38), 20);
  // A size scales the symbol.
  Surface big;
  ASSERT_EQ(OpenMarkers(&d, &big.s, ParseMarkerStyle("red/m1s32")), kDrawOk);
  Marker(&d, 50, 40);
  CloseDrawState(&d);
  EXPECT_EQ(SurfacePixel(&big.s, 50 + 8, 40 + 8), kRed);
  EXPECT_EQ(SurfacePixel(&big.s, 50 + 15, 40), kWhite);
}

TEST(DrawStateTest, MarkersKeepTheStyleColourAtEverySize) {
  // Markers go through a one-bit mask: every pixel they touch takes the
  // style colour exactly, whatever the symbol, size and sub-pixel position.
  const uint32_t crimson = MakeColour(220, 20, 60);
  for (const char* style : {"Crimson/s5m2", "Crimson/m2", "Crimson/s7m4", "Crimson/s11m6", "Crimson/s24m13",
                            "Crimson/s3m9", "Crimson/m15"}) {
    Surface t;
    DrawState d;
    ASSERT_EQ(OpenMarkers(&d, &t.s, ParseMarkerStyle(style)), kDrawOk);
    Marker(&d, 20, 20);
    Marker(&d, 50.3, 40.7);
    Marker(&d, 79.5, 60.5);
    CloseDrawState(&d);
    int marked = 0, blended = 0;
    for (int y = 0; y < t.s.height; ++y)
      for (int x = 0; x < t.s.width; ++x) {
        const uint32_t c = SurfacePixel(&t.s, x, y);
        marked += c == crimson;
        blended += c != crimson && c != kWhite;
      }
    EXPECT_GE(marked, 3 * 4) << style;
    EXPECT_EQ(blended, 0) << style;
  }
}

TEST(DrawStateTest, TextPlacementFollowsOffsets) {
  auto ink = [](const char* style, int* left, int* right, int* top, int* bottom) {
    Surface t(300, 120);
    DrawState d;
    EXPECT_EQ(OpenText(&d, &t.s, ParseTextStyle(style)), kDrawOk);
    Text(&d, 150, 60, "Hamburg");
    CloseDrawState(&d);
    *left = 300, *right = -1, *top = 120, *bottom = -1;
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 300; ++x) {
        const uint32_t c = SurfacePixel(&t.s, x, y);
        if (c != kWhite) {
          *left = std::min(*left, x);
          *right = std::max(*right, x);
          *top = std::min(*top, y);
          *bottom = std::max(*bottom, y);
        }
      }
  };
  int l, r, t, b;
  ink("black/h10v10k65535", &l, &r, &t, &b);
  EXPECT_GE(l, 159);
  EXPECT_LE(b, 50);
  ink("black/h-10v-10k65535", &l, &r, &t, &b);
  EXPECT_LE(r, 141);
  EXPECT_GE(t, 69);
  ink("black/k65535", &l, &r, &t, &b);
  EXPECT_LT(l, 150);
  EXPECT_GT(r, 150);
  EXPECT_LT(t, 60);
  EXPECT_GT(b, 55);
  EXPECT_NEAR((l + r) / 2.0, 150, 3);
  // Opaque background: the background colour box is painted too, so with a
  // red background and red text nothing but red shows in the box.
  Surface o(300, 120);
  ClearDisplaySurface(&o.s, kRed);
  ClearDisplaySurface(&o.s, kWhite);
  o.s.background = kRed;
  DrawState d;
  ASSERT_EQ(OpenText(&d, &o.s, ParseTextStyle("red/f3")), kDrawOk);
  Text(&d, 150, 60, "Hamburg");
  CloseDrawState(&d);
  EXPECT_EQ(SurfacePixel(&o.s, 150, 60), kRed);
  EXPECT_GT(o.Count(kRed), 400);
  // Unknown font numbers use font 2.
  EXPECT_EQ(TextFont(9).size, TextFont(2).size);
  EXPECT_EQ(TextFont(-1).size, TextFont(2).size);
}

TEST(DrawStateTest, RampPixelsAndClipping) {
  Surface t;
  DrawState d;
  const RampStyle ramp = ParseRampStyle("r0.255g0.0b0.0");
  ASSERT_EQ(OpenRamp(&d, &t.s, ramp), kDrawOk);
  Pixel(&d, 3, 4, RampColour(ramp, 4080));
  Pixel(&d, -1, 4, kRed);
  Pixel(&d, 100, 80, kRed);
  CloseDrawState(&d);
  EXPECT_EQ(SurfacePixel(&t.s, 3, 4), MakeColour(255, 0, 0));
  EXPECT_EQ(t.Count(kRed), 1);
}

TEST(ExclusiveOr, SecondDrawingRemovesTheLineAndMergeKeepsIt) {
  Surface t;
  std::vector<uint32_t> view(100 * 80);
  XorLine(&t.s, 10, 10, 90, 60);
  ComposeView(&t.s, view.data(), 100 * 4);
  int inverted = 0;
  for (uint32_t v : view) inverted += (v & 0xffffff) == 0;
  EXPECT_GT(inverted, 80);
  EXPECT_EQ(t.Count(kWhite), 100 * 80);  // the bitmap itself is untouched
  XorLine(&t.s, 10, 10, 90, 60);
  ComposeView(&t.s, view.data(), 100 * 4);
  for (uint32_t v : view) ASSERT_EQ(v & 0xffffff, 0xffffffu);
  // Crossing lines: the crossing pixel is toggled twice.
  XorLine(&t.s, 0, 20, 99, 20);
  XorLine(&t.s, 50, 0, 50, 79);
  ComposeView(&t.s, view.data(), 100 * 4);
  EXPECT_EQ(view[20 * 100 + 50] & 0xffffff, 0xffffffu);
  EXPECT_EQ(view[20 * 100 + 49] & 0xffffff, 0u);
  MergeOverlay(&t.s);
  EXPECT_EQ(SurfacePixel(&t.s, 49, 20), 0u);
  EXPECT_EQ(SurfacePixel(&t.s, 50, 20), kWhite);
  EXPECT_EQ(SurfacePixel(&t.s, 50, 60), 0u);
  // After the merge the overlay is empty; Clear restores the background.
  ComposeView(&t.s, view.data(), 100 * 4);
  EXPECT_EQ(view[20 * 100 + 49] & 0xffffff, 0u);
  XorLine(&t.s, 0, 0, 99, 0);
  ClearDisplaySurface(&t.s);
  ComposeView(&t.s, view.data(), 100 * 4);
  for (uint32_t v : view) ASSERT_EQ(v & 0xffffff, 0xffffffu);
  EXPECT_EQ(t.Count(kWhite), 100 * 80);
}

}  // namespace
}  // namespace display
