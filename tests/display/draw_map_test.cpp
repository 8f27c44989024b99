// Coastline, grid and horizon drawn through real map geometries.
#include "lib/display/draw_map.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "lib/display/colour.h"
#include "lib/geodesy/ellipsoid.h"

namespace display {
namespace {

constexpr uint32_t kWhite = MakeColour(255, 255, 255);

DirectionCosines LatLon(double lat, double lon) {
  return geodesy::GeocentricToCosines({lat * M_PI / 180, lon * M_PI / 180});
}

struct MapFixture : ::testing::Test {
  geodesy::Ellipsoid wgs84 = geodesy::MakeEllipsoid();
  MapGeometry g;
  DisplaySurface s;
  CoastData coast;
  void SetUp() override {
    const char* src = getenv("OMBREL_SOURCE");
    const std::string dir = std::string(src ? src : "..") + "/data/";
    ASSERT_EQ(LoadCoastFiles(dir + "coast.sgm", dir + "coast.vtx", &coast), kCoastOk);
  }
  void TearDown() override {
    ReleaseMapGeometry(&g);
    DestroyDisplaySurface(&s);
  }
  void Build(uint32_t code, const DirectionCosines& c, double scale, int w, int h) {
    ReleaseMapGeometry(&g);
    GeometrySpec spec;
    spec.projection = code;
    spec.centre = c;
    spec.scale = scale;
    spec.pixel_width = spec.pixel_height = 0.00025;
    spec.frame = {0, h - 1, w - 1, 0};
    ASSERT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84, spec, &g), 0);
    ASSERT_TRUE(CreateDisplaySurface(&s, w, h, kWhite));
  }
  int Coast(int level = -1) {
    DrawState d;
    EXPECT_EQ(OpenLines(&d, &s, ParseLineStyle("blue")), kDrawOk);
    const int n = DrawCoastOnMap(g, coast, &d, level);
    CloseDrawState(&d);
    return n;
  }
  int LongestRun(uint32_t colour) {
    int longest = 0;
    for (int y = 0; y < s.height; ++y) {
      int run = 0;
      for (int x = 0; x < s.width; ++x) {
        run = SurfacePixel(&s, x, y) == colour ? run + 1 : 0;
        longest = std::max(longest, run);
      }
    }
    return longest;
  }
  int Count(uint32_t colour) {
    int n = 0;
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x) n += SurfacePixel(&s, x, y) == colour;
    return n;
  }
};

TEST(GridRules, SpacingTableAndTracingSteps) {
  EXPECT_EQ(GridSpacingForScale(1e8).parallels, 36000);
  EXPECT_EQ(GridSpacingForScale(3e7).meridians, 54000);
  EXPECT_EQ(GridSpacingForScale(2.9e7).parallels, 18000);
  EXPECT_EQ(GridSpacingForScale(5e6).meridians, 18000);
  EXPECT_EQ(GridSpacingForScale(1e6).parallels, 3600);
  EXPECT_EQ(GridSpacingForScale(5e5).parallels, 1200);
  EXPECT_EQ(GridSpacingForScale(1e5).meridians, 1200);
  EXPECT_EQ(GridSpacingForScale(5e4).parallels, 300);
  EXPECT_EQ(GridSpacingForScale(1e4).meridians, 120);
  EXPECT_EQ(GridSpacingForScale(5000).parallels, 30);
  EXPECT_EQ(GridSpacingForScale(4999).meridians, 30);
  EXPECT_EQ(GridTraceStep(36000), 9000);
  EXPECT_EQ(GridTraceStep(54000), 13500);
  EXPECT_EQ(GridTraceStep(300), 75);
  EXPECT_EQ(GridTraceStep(30), 30);   // a sixth would be 5"
  EXPECT_EQ(GridTraceStep(10), 10);   // a fifth would be 2"
  EXPECT_EQ(GridTraceStep(60), 15);
  EXPECT_EQ(GridLatitudeLimit(36000), 288000);
  EXPECT_EQ(GridLatitudeLimit(3600), 320400);
  EXPECT_EQ(GridLatitudeLimit(10), 323990);
}

TEST_F(MapFixture, WorldWideCoastHasNoSeamStreak) {
  for (uint32_t code : {PROJ_WWPLTCRR, PROJ_WWMERC, PROJ_WWVIEW}) {
    for (double lon : {0.0, 150.0, -100.0}) {
      Build(code, LatLon(0, lon), geodesy::NOVALUE, 800, 500);
      EXPECT_GT(Coast(), 50);
      const uint32_t blue = MakeColour(0, 0, 255);
      EXPECT_GT(Count(blue), 2000);
      EXPECT_LT(LongestRun(blue), 800 / 3) << ProjectionName(code) << " " << lon;
      DestroyDisplaySurface(&s);
    }
  }
}

TEST_F(MapFixture, RegionalCoastSkipsSegmentsOutOfView) {
  Build(PROJ_STEREO, LatLon(45, 10), 5e6, 600, 400);  // northern Italy, 10m level
  const int near = Coast();
  EXPECT_GT(near, 0);
  EXPECT_LT(near, coast.levels[0].count / 4);
  EXPECT_GT(Count(MakeColour(0, 0, 255)), 500);
  // The same segments at a forced level: the 110m level has fewer.
  DestroyDisplaySurface(&s);
  ASSERT_TRUE(CreateDisplaySurface(&s, 600, 400, kWhite));
  EXPECT_LT(Coast(2), near);
}

TEST_F(MapFixture, NoLevelAboveTheScaleDrawsNothing) {
  CoastLevelSource src;
  src.scale_limit = 1e7;
  src.lines = {{LatLon(0, 0), LatLon(1, 1)}};
  std::vector<uint8_t> sgm, vtx;
  ASSERT_EQ(EncodeCoastFiles({src}, &sgm, &vtx), kCoastOk);
  ASSERT_EQ(CheckCoastData(sgm, vtx, &coast), kCoastOk);
  Build(PROJ_STEREO, LatLon(0, 0), 5e7, 200, 200);
  EXPECT_EQ(Coast(), 0);
  EXPECT_EQ(Count(kWhite), 200 * 200);
  Build(PROJ_STEREO, LatLon(0, 0), 5e6, 200, 200);
  EXPECT_EQ(Coast(), 1);
  EXPECT_GT(Count(MakeColour(0, 0, 255)), 10);
}

TEST_F(MapFixture, OrthoLeavesTheCornersAndHorizonRules) {
  Build(PROJ_ORTHO, LatLon(30, 20), 1.5e8, 400, 400);
  DrawState d;
  ASSERT_EQ(OpenLines(&d, &s, ParseLineStyle("red")), kDrawOk);
  EXPECT_GT(DrawGridOnMap(g, &d), 10);
  EXPECT_EQ(DrawHorizonOnMap(g, &d), 361);
  DrawCoastOnMap(g, coast, &d);
  CloseDrawState(&d);
  // The disc's radius in pixels: the plane radius 1 through the transform.
  const PixelPoint edge = PlaneToDevice(g.transform, 1.0, 0.0), centre = PlaneToDevice(g.transform, 0, 0);
  const double r = std::abs(edge.x - centre.x);
  ASSERT_LT(r, 200 * 1.41);  // the corners lie outside the disc
  ASSERT_LT(r, 199);        // and the whole horizon inside the frame
  for (auto [x, y] : {std::pair{0, 0}, std::pair{399, 0}, std::pair{0, 399}, std::pair{399, 399}})
    for (int dy = 0; dy < 10; ++dy)
      for (int dx = 0; dx < 10; ++dx)
        EXPECT_EQ(SurfacePixel(&s, x == 0 ? dx : x - dx, y == 0 ? dy : y - dy), kWhite);
  // The horizon passes through the disc's edge on the centre's row.
  EXPECT_EQ(SurfacePixel(&s, edge.x, edge.y), MakeColour(255, 0, 0));
  // Other projections have no horizon.
  Build(PROJ_STEREO, LatLon(30, 20), 1e7, 200, 200);
  ASSERT_EQ(OpenLines(&d, &s, ParseLineStyle("red")), kDrawOk);
  EXPECT_EQ(DrawHorizonOnMap(g, &d), 0);
  CloseDrawState(&d);
  EXPECT_EQ(Count(kWhite), 200 * 200);
}

TEST_F(MapFixture, GridAtLargeScalesTracesOnlyWhatIsInView) {
  for (double scale : {1e7, 1e5, 2e4, 3000.0}) {
    Build(PROJ_STEREO, LatLon(52, 13), scale, 500, 400);
    DrawState d;
    ASSERT_EQ(OpenLines(&d, &s, ParseLineStyle("red")), kDrawOk);
    const auto t0 = std::chrono::steady_clock::now();
    const int pieces = DrawGridOnMap(g, &d);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    CloseDrawState(&d);
    EXPECT_GE(pieces, 2) << scale;  // lines are cut at the frame: at least a parallel and a meridian
    EXPECT_LT(pieces, 400) << scale;
    if (!getenv("OMBREL_SANITIZED")) {
      EXPECT_LT(ms, 2000) << scale;  // the visible range keeps it quick
    }
    EXPECT_GT(Count(MakeColour(255, 0, 0)), 400) << scale;  // lines cross the frame
  }
  // A pole in view: every meridian is traced and meets near the pole.
  Build(PROJ_STEREO, LatLon(89, 0), 2e7, 400, 400);
  DrawState d;
  ASSERT_EQ(OpenLines(&d, &s, ParseLineStyle("red")), kDrawOk);
  EXPECT_GE(DrawGridOnMap(g, &d), 36000 / 36000 + 36);
  CloseDrawState(&d);
}

TEST_F(MapFixture, PositionsOutsideTheProjectionAreRefused) {
  Build(PROJ_GNOMONIC, LatLon(0, 0), 1e7, 200, 200);
  PixelPoint p;
  EXPECT_TRUE(PositionToDevice(g, LatLon(0, 0), &p));
  EXPECT_NEAR(p.x, 100, 1);
  EXPECT_NEAR(p.y, 100, 1);
  EXPECT_FALSE(PositionToDevice(g, LatLon(0, 120), &p));  // far side
  EXPECT_FALSE(PositionToDevice(g, LatLon(0, 89.99), &p));  // absurdly far off the frame
  EXPECT_GT(MapRadius(g), 0.0);
  EXPECT_LT(MapRadius(g), 1.0);
  MapGeometry none;
  EXPECT_FALSE(PositionToDevice(none, LatLon(0, 0), &p));
}

}  // namespace
}  // namespace display

namespace display {
namespace {

TEST_F(MapFixture, GridParallelsRunAtGeodeticLatitudes) {
  // 1:50 000 about 45N 15E (geodetic): the frame is 10 km wide and the 45
  // degree parallel runs through its middle. Geocentric 45 degrees would lie
  // 21 km further north, off the map.
  Build(PROJ_STEREO, geodesy::GeodeticToCosines({45 * M_PI / 180, 15 * M_PI / 180}, wgs84), 5e4, 800, 500);
  DrawState d;
  ASSERT_EQ(OpenLines(&d, &s, ParseLineStyle("red")), kDrawOk);
  EXPECT_GE(DrawGridOnMap(g, &d), 2);
  CloseDrawState(&d);
  const uint32_t red = MakeColour(255, 0, 0);
  for (double lon = 14.96; lon <= 15.04; lon += 0.01) {
    PixelPoint p;
    ASSERT_TRUE(PositionToDevice(g, geodesy::GeodeticToCosines({45 * M_PI / 180, lon * M_PI / 180}, wgs84), &p));
    ASSERT_TRUE(p.x > 0 && p.x < 799 && p.y > 0 && p.y < 499) << lon;
    bool found = false;
    for (int dy = -1; dy <= 1; ++dy) found = found || SurfacePixel(&s, p.x, p.y + dy) == red;
    EXPECT_TRUE(found) << lon;
  }
  // Meridians every 10': 15E runs down the middle column.
  PixelPoint m;
  ASSERT_TRUE(PositionToDevice(g, geodesy::GeodeticToCosines({45.02 * M_PI / 180, 15 * M_PI / 180}, wgs84), &m));
  bool found = false;
  for (int dx = -1; dx <= 1; ++dx) found = found || SurfacePixel(&s, m.x + dx, m.y) == red;
  EXPECT_TRUE(found);
}

TEST_F(MapFixture, WorldGridDrawsItsLinesOnly) {
  // 10 degree parallels and 15 degree meridians, one of them on the seam:
  // 17 rows (15 on wwmerc, whose frame ends near 75 degrees) and 24 columns
  // carry lines, nothing else.
  for (uint32_t code : {PROJ_WWPLTCRR, PROJ_WWMERC, PROJ_WWVIEW}) {
    Build(code, LatLon(0, 0), geodesy::NOVALUE, 720, 400);
    DrawState d;
    ASSERT_EQ(OpenLines(&d, &s, ParseLineStyle("red")), kDrawOk);
    DrawGridOnMap(g, &d);
    CloseDrawState(&d);
    const uint32_t red = MakeColour(255, 0, 0);
    int rows = 0, columns = 0;
    for (int y = 0; y < s.height; ++y) {
      int n = 0;
      for (int x = 0; x < s.width; ++x) n += SurfacePixel(&s, x, y) == red;
      rows += n > s.width / 2;
    }
    for (int x = 0; x < s.width; ++x) {
      int n = 0;
      for (int y = 0; y < s.height; ++y) n += SurfacePixel(&s, x, y) == red;
      columns += n > s.height / 2;
    }
    const int parallels = code == PROJ_WWMERC ? 15 : 17;
    EXPECT_GE(rows, parallels) << ProjectionName(code);
    EXPECT_LE(rows, parallels + 2) << ProjectionName(code);
    EXPECT_GE(columns, 24) << ProjectionName(code);
    EXPECT_LE(columns, 26) << ProjectionName(code);
    DestroyDisplaySurface(&s);
  }
}

}  // namespace
}  // namespace display
