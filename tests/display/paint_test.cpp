// Painting: the colour arithmetic against the formulas written out here
// independently, and the pixel loop on real map geometries (the pixels it
// sets, the ones it must leave, half density, the fast cylindrical path).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/display/paint.h"
#include "lib/display/paint_cost.h"
#include "lib/geodesy/ellipsoid.h"

namespace display {
namespace {

constexpr double kPi = 3.141592653589793;

struct Map {
  geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  MapGeometry g;
  DisplaySurface s;
  Map(uint32_t projection, double lat, double lon, double scale, int w, int h) {
    GeometrySpec spec;
    spec.projection = projection;
    spec.centre = geodesy::GeodeticToCosines({lat * kPi / 180, lon * kPi / 180}, e);
    spec.scale = scale;
    spec.pixel_width = spec.pixel_height = 0.0254 / 96;
    spec.frame = {0, h - 1, w - 1, 0};
    EXPECT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &e, spec, &g), 0);
    EXPECT_TRUE(CreateDisplaySurface(&s, w, h, 0x00ffffff));
  }
  ~Map() {
    ReleaseMapGeometry(&g);
    DestroyDisplaySurface(&s);
  }
  uint32_t At(int x, int y) { return SurfacePixel(&s, x, y); }
};

int Clamp(long v) { return v < 0 ? 0 : v > 255 ? 255 : (int)v; }

// The lat/long colour with the default colours, written out per component:
// red 127 + 128 lat_m / 1570, green 127 + 128 lon_m / 3141, blue 127.
uint32_t DefaultLatLong(double lat, double lon) {
  if (lon <= -kPi) lon += 2 * kPi;
  const long lat_m = (long)std::trunc(1000 * lat), lon_m = (long)std::trunc(1000 * lon);
  return MakeColour(Clamp(127 + 128 * lat_m / 1570), Clamp(127 + 128 * lon_m / 3141), 127);
}

TEST(PaintColours, DefaultsAndGivenColours) {
  const PaintColours c = MakePaintColours(nullptr, 0);
  EXPECT_EQ(c.base, MakeColour(127, 127, 127));
  EXPECT_EQ(c.pattern, 0);
  EXPECT_EQ(LatLongColour(c, kPaintLatLong, 0, 0), MakeColour(127, 127, 127));
  // Colours given in part: the rest keep their defaults; a pattern in the base.
  const std::string v[2] = {"r10g20b30p3", "g0"};
  const PaintColours d = MakePaintColours(v, 2);
  EXPECT_EQ(d.base, MakeColour(10, 20, 30));
  EXPECT_EQ(d.pattern, 3);
  EXPECT_EQ(d.low[0], MakeColour(0, 0, 0));
  EXPECT_EQ(d.high[0], MakeColour(0, 255, 0));
  EXPECT_EQ(d.high[2], MakeColour(0, 0, 255));
}

TEST(PaintColours, LatLongAtTenPositionsMatchesTheFormula) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const PaintColours c = MakePaintColours(nullptr, 0);
  const double pos[10][2] = {{0, 0}, {45, 90}, {-45, -90}, {89.9, 179.9}, {-89.9, -179.9},
                             {30, 180}, {10, -179.99999}, {60.5, 12.25}, {-0.01, 0.01}, {1e-7, -1e-7}};
  for (const auto& p : pos) {
    const double lat = p[0] * kPi / 180, lon = p[1] * kPi / 180;
    const DirectionCosines u = geodesy::GeodeticToCosines({lat, lon}, e);
    // The geodetic latitude back from the vector, independently.
    const double e2 = 1 - (e.b * e.b) / (e.a * e.a);
    const double glat = std::atan(u.z / (std::hypot(u.x, u.y) * (1 - e2)));
    EXPECT_EQ(PaintColour(c, kPaintLatLong, u, e), DefaultLatLong(glat, std::atan2(u.y, u.x)))
        << p[0] << " " << p[1];
  }
  // Latitude only and longitude only keep one term each.
  EXPECT_EQ(LatLongColour(c, kPaintLatitude, 1570, 3141), MakeColour(255, 127, 127));
  EXPECT_EQ(LatLongColour(c, kPaintLongitude, 1570, 3141), MakeColour(127, 255, 127));
  // Large differences clamp, negative ones too.
  const std::string v[3] = {"r200g200b200", "g0", "g255"};
  const PaintColours d = MakePaintColours(v, 3);
  EXPECT_EQ(GreenOf(LatLongColour(d, kPaintLatLong, 0, 3141)), 255u);
  EXPECT_EQ(GreenOf(LatLongColour(d, kPaintLatLong, 0, -3141)), 0u);
  // Each quotient truncates towards zero: -1 * 128 / 3141 is 0, not -1.
  EXPECT_EQ(GreenOf(LatLongColour(c, kPaintLatLong, 0, -1)), 127u);
}

TEST(PaintColours, DirectionCosinesAndCompactCode) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const PaintColours c = MakePaintColours(nullptr, 0);
  EXPECT_EQ(PaintColour(c, kPaintDCos3, {1, 0, 0}, e), MakeColour(127, 255, 127));
  EXPECT_EQ(PaintColour(c, kPaintDCos3, {0, -1, 0}, e), MakeColour(0, 127, 127));
  EXPECT_EQ(PaintColour(c, kPaintDCos3, {0, 0, 1}, e), MakeColour(127, 127, 255));
  const double s = std::sqrt(1.0 / 3);
  // 128 * 577 / 1000 = 73 per pair.
  EXPECT_EQ(PaintColour(c, kPaintDCos3, {s, s, s}, e), MakeColour(200, 200, 200));
  // CDC: the north pole has z dominant (C driven by +1000), both stored
  // components 0; the south pole negates C.
  EXPECT_EQ(PaintColour(c, kPaintCdc, {0, 0, 1}, e), MakeColour(127, 127, 255));
  EXPECT_EQ(PaintColour(c, kPaintCdc, {0, 0, -1}, e), MakeColour(127, 127, 0));
  // x dominant: C is 0, pair A from y, pair B from z.
  const uint32_t v = PaintColour(c, kPaintCdc, geodesy::Normalised({0.9, 0.3, -0.3}), e);
  EXPECT_EQ(BlueOf(v), 127u);
  EXPECT_GT(GreenOf(v), 127u);
  EXPECT_LT(RedOf(v), 127u);
}

TEST(PaintMap, OrthoDefaultsGreyAtCentreBackgroundOutsideDisc) {
  Map m(PROJ_ORTHO, 0, 0, 2e8, 300, 300);
  const int64_t n = PaintMap(m.g, &m.s, MakePaintColours(nullptr, 0), kPaintLatLong);
  EXPECT_GT(n, 0);
  PixelPoint c;
  ASSERT_TRUE(PositionToDevice(m.g, {1, 0, 0}, &c));
  EXPECT_EQ(m.At(c.x, c.y), MakeColour(127, 127, 127));
  // Eastwards greener, northwards redder.
  EXPECT_GT(GreenOf(m.At(c.x + 20, c.y)), 127u);
  EXPECT_GT(RedOf(m.At(c.x, c.y - 20)), 127u);
  EXPECT_LT(RedOf(m.At(c.x, c.y + 20)), 127u);
  // The corners lie outside the disc: background.
  EXPECT_EQ(m.At(0, 0), 0x00ffffffu);
  EXPECT_EQ(m.At(299, 299), 0x00ffffffu);
  // Every pixel set is one with a point, in the colour of its position;
  // every other keeps the background.
  int64_t inside = 0;
  const PaintColours colours = MakePaintColours(nullptr, 0);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 300; ++x) {
      double X, Y;
      DeviceToPlane(m.g.transform, x, y, &X, &Y);
      DirectionCosines u;
      const bool point = ProjectInverse(*m.g.params, m.g.projection, X, Y, &u) == 0;
      inside += point;
      ASSERT_EQ(m.At(x, y), point ? PaintColour(colours, kPaintLatLong, u, m.e) : 0x00ffffffu) << x << "," << y;
    }
  EXPECT_EQ(n, inside);
}

// The tabulated angles of the per-pixel loop give the arctangents' values
// on maps that cross the date line, reach the poles and step many bracket
// widths per pixel.
TEST(PaintMap, PerPixelAnglesMatchTheFormula) {
  struct Case { uint32_t proj; double lat, lon, scale; };
  for (const Case& k : {Case{PROJ_ORTHO, 80, 179, 1e8}, Case{PROJ_STEREO, -90, 0, 5e7},
                        Case{PROJ_GNOMONIC, 10, -170, 2e7}, Case{PROJ_ORTHO, 0, 0, 1e6}}) {
    Map m(k.proj, k.lat, k.lon, k.scale, 260, 180);
    for (PaintFunction f : {kPaintLatLong, kPaintLatitude, kPaintLongitude}) {
      const PaintColours c = MakePaintColours(nullptr, 0);
      PaintMap(m.g, &m.s, c, f);
      for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 260; ++x) {
          double X, Y;
          DeviceToPlane(m.g.transform, x, y, &X, &Y);
          DirectionCosines u;
          if (ProjectInverse(*m.g.params, m.g.projection, X, Y, &u) != 0) continue;
          ASSERT_EQ(m.At(x, y), PaintColour(c, f, u, m.e)) << k.proj << " " << f << " " << x << "," << y;
        }
    }
  }
}

TEST(PaintMap, HalfDensityIsACheckerboard) {
  for (int p : {1, 2}) {
    Map m(PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE, 200, 100);
    const std::string base = "r127g127b127p" + std::to_string(p);
    const PaintColours c = MakePaintColours(&base, 1);
    PaintMap(m.g, &m.s, c, kPaintLatLong);
    for (int y = m.g.ymin; y <= m.g.ymax; ++y)
      for (int x = m.g.xmin; x <= m.g.xmax; ++x) {
        const bool painted = m.At(x, y) != 0x00ffffffu;
        double X, Y;
        DeviceToPlane(m.g.transform, x, y, &X, &Y);
        DirectionCosines u;
        const bool point = ProjectInverse(*m.g.params, m.g.projection, X, Y, &u) == 0;
        const bool expected = point && ((x - m.g.xmin) & 1) == (((p & 1) + (y - m.g.ymin)) & 1);
        ASSERT_EQ(painted, expected) << "p" << p << " " << x << "," << y;
      }
  }
}

// The cylindrical fast path gives what the plain per-pixel loop gives, and
// the frame's last column and row are painted too.
TEST(PaintMap, CylindricalPathMatchesPerPixelInverse) {
  struct Case { uint32_t proj; double lat, lon, scale; };
  for (const Case& k : {Case{PROJ_WWPLTCRR, 0, 30, geodesy::NOVALUE}, Case{PROJ_WWMERC, 0, -120, geodesy::NOVALUE},
                        Case{PROJ_WWVIEW, 0, 179, geodesy::NOVALUE}, Case{PROJ_MERCATOR, 50, 10, 3e7},
                        Case{PROJ_EQDISTCYL, -30, 100, 3e7}}) {
    Map m(k.proj, k.lat, k.lon, k.scale, 240, 160);
    const PaintColours c = MakePaintColours(nullptr, 0);
    PaintMap(m.g, &m.s, c, kPaintLatLong);
    int checked = 0;
    for (int y = m.g.ymin; y <= m.g.ymax; ++y)
      for (int x = m.g.xmin; x <= m.g.xmax; ++x) {
        double X, Y;
        DeviceToPlane(m.g.transform, x, y, &X, &Y);
        DirectionCosines u;
        if (ProjectInverse(*m.g.params, m.g.projection, X, Y, &u) != 0) {
          ASSERT_EQ(m.At(x, y), 0x00ffffffu);
          continue;
        }
        ASSERT_EQ(m.At(x, y), PaintColour(c, kPaintLatLong, u, m.e)) << k.proj << " " << x << "," << y;
        ++checked;
      }
    EXPECT_GT(checked, 1000);
    EXPECT_NE(m.At(m.g.xmax, m.g.ymax), 0x00ffffffu) << k.proj;
  }
}

// The bucket grid finds the same nearest point as a search of every point,
// for sets from one point to many, clustered or spread.
TEST(PaintCost, NearestMatchesBruteForce) {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> nd;
  for (int n : {1, 7, 300, 5000}) {
    std::vector<DirectionCosines> pts;
    for (int i = 0; i < n; ++i) {
      DirectionCosines u{nd(rng), nd(rng), nd(rng)};
      if (i % 2) u = {1 + 0.01 * nd(rng), 0.01 * nd(rng), 0.01 * nd(rng)};  // a cluster
      pts.push_back(geodesy::Normalised(u));
    }
    NearestPoints near(pts);
    for (int q = 0; q < 500; ++q) {
      const DirectionCosines u = geodesy::Normalised({nd(rng), nd(rng), nd(rng)});
      double best = 1e300;
      for (const auto& p : pts) best = std::min(best, ChordSq(u, p));
      ASSERT_EQ(near.NearestChordSq(u), best) << n;
    }
  }
  EXPECT_GT(NearestPoints({}).NearestChordSq({1, 0, 0}), 1e300);
}

// The ramp runs from low at the nearest pixel to high at the farthest.
TEST(PaintCost, RampSpansTheCostsInView) {
  Map m(PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE, 200, 100);
  RampStyle ramp = ParseRampStyle("r0.255g0.0b0.0");
  const int64_t n = PaintPointDistance(m.g, &m.s, {{1, 0, 0}}, ramp);
  EXPECT_GT(n, 0);
  PixelPoint c;
  ASSERT_TRUE(PositionToDevice(m.g, {1, 0, 0}, &c));
  EXPECT_LE(RedOf(m.At(c.x, c.y)), 3u);
  // The antipode's meridian at the frame's edge: the largest cost.
  EXPECT_GE(RedOf(m.At(m.g.xmin, c.y)), 250u);
  EXPECT_GT(RedOf(m.At(c.x + 40, c.y)), RedOf(m.At(c.x + 20, c.y)));
}

}  // namespace
}  // namespace display
