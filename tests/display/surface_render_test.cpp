// TIN surfaces in the map picture: hypsometric pixels against the ramp of
// the height the surface query interpolates at the same position, the
// shading law, every projection (nothing across the seam, nothing from the
// far side of the globe), cells without triangles, an empty TIN and a
// workspace too small for a cell.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/map_geometry.h"
#include "lib/display/projections.h"
#include "lib/display/surface_render.h"
#include "lib/display/tileset.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/pset_tin.h"
#include "lib/ops/surface.h"
#include "tests/ops/ops_test_util.h"

namespace display {
namespace {

constexpr double kPi = 3.141592653589793;

std::uint64_t Bits(float z) {
  std::uint32_t b;
  std::memcpy(&b, &z, 4);
  return b;
}

struct Map {
  geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  MapGeometry g;
  DisplaySurface s;
  int status = -1;
  Map(uint32_t projection, double lat, double lon, double scale, int w, int h) {
    GeometrySpec spec;
    spec.projection = projection;
    spec.centre = geodesy::GeodeticToCosines({lat * kPi / 180, lon * kPi / 180}, e);
    spec.scale = scale;
    spec.pixel_width = spec.pixel_height = 0.0254 / 96;
    spec.frame = {0, h - 1, w - 1, 0};
    status = SetUpMapGeometry(nullptr, nullptr, nullptr, &e, spec, &g);
    EXPECT_TRUE(CreateDisplaySurface(&s, w, h, 0x00ffffff));
  }
  ~Map() {
    ReleaseMapGeometry(&g);
    DestroyDisplaySurface(&s);
  }
  uint32_t At(int x, int y) { return SurfacePixel(&s, x, y); }
  int64_t Painted() {
    int64_t n = 0;
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x) n += At(x, y) != 0x00ffffffu;
    return n;
  }
};

class SurfaceRender : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    idx_ = new cells::CellIndex;
    if (!ops::testing::LoadIndex("isotype.vix", *idx_)) {
      delete idx_;
      idx_ = nullptr;
    }
  }
  static void TearDownTestSuite() {
    if (idx_) cells::ReleaseIndex(*idx_);
    delete idx_;
    idx_ = nullptr;
  }
  void SetUp() override {
    if (!idx_) GTEST_SKIP() << "isotype.vix not found (OMBREL_BIN)";
  }

  // A TIN of a grid of (2k+1)^2 points about (lat, lon), step degrees
  // apart, with heights height(lat, lon) in metres.
  template <typename F>
  void Tin(double lat, double lon, double step, int k, F height) {
    std::vector<cells::PointNode> nodes;
    for (int i = -k; i <= k; ++i)
      for (int j = -k; j <= k; ++j) {
        const double a = lat + i * step, o = lon + j * step / std::cos(lat * kPi / 180);
        nodes.push_back({geodesy::GeodeticToCosines({a * kPi / 180, o * kPi / 180}, wgs84_),
                         Bits(float(height(a, o)))});
      }
    src_ = ops::testing::HeapObject();
    ops::testing::Build(*idx_, cells::kPset, nodes, src_, 9);
    ASSERT_EQ(src_.status, 0);
    mem_.assign((std::size_t{64} << 20) / 8, 0);
    platform::WorkspaceInit(&arena_, mem_.data(), std::int64_t(mem_.size() * 8));
    ops::DeriveContext ctx;
    ctx.index = idx_;
    ctx.output = &arena_;
    ctx.object = &tin_;
    ctx.created = 1;
    ctx.res = 9;
    ASSERT_EQ(ops::q7_PsetTin(ctx, src_.obj, false), 0);
    ASSERT_TRUE(cells::ObjectValid(tin_, idx_->cell_count));
  }

  int Render(Map& m, SurfacePresentation p, const char* style, SurfaceReport* r, platform::Workspace* ws = nullptr) {
    return RenderTinSurface(m.g, *idx_, tin_, ParseRampStyle(style), p, ws, &m.s, r);
  }

  static cells::CellIndex* idx_;
  geodesy::Ellipsoid wgs84_ = geodesy::MakeEllipsoid();
  ops::testing::HeapObject src_;
  std::vector<std::uint64_t> mem_;
  platform::Workspace arena_;
  cells::Object tin_;
};
cells::CellIndex* SurfaceRender::idx_ = nullptr;

int MaxComponentDifference(uint32_t a, uint32_t b) {
  return std::max({std::abs(int(RedOf(a)) - int(RedOf(b))), std::abs(int(GreenOf(a)) - int(GreenOf(b))),
                   std::abs(int(BlueOf(a)) - int(BlueOf(b)))});
}

TEST_F(SurfaceRender, HypsoPixelsAreTheRampOfTheInterpolatedHeight) {
  // Heights linear in latitude and longitude: 0 m to 6000 m over the grid.
  Tin(20, 30, 0.2, 15, [](double a, double o) { return 1000.0 * (a - 17) + 200.0 * (o - 26.8); });
  Map m(PROJ_ORTHO, 20, 30, 4e6, 500, 500);
  ASSERT_EQ(m.status, 0);
  SurfaceReport r;
  const char* style = "r0.255g255.0b40.200";
  ASSERT_EQ(Render(m, kSurfaceHypso, style, &r), SURFACE_OK);
  EXPECT_GT(r.triangles, 1000);
  EXPECT_EQ(r.skipped, 0);
  EXPECT_GT(r.zmax - r.zmin, 5000.0f);
  const RampStyle ramp = ParseRampStyle(style);
  ops::SurfaceSearch search;
  std::mt19937 rng(25);
  int checked = 0, exact = 0, worst = 0;
  for (int n = 0; n < 4000 && checked < 400; ++n) {
    const int x = int(rng() % 500), y = int(rng() % 500);
    double X, Y;
    DeviceToPlane(m.g.transform, x, y, &X, &Y);
    DirectionCosines u;
    if (ProjectInverse(*m.g.params, m.g.projection, X, Y, &u) != 0) continue;
    const double z = ops::q7_TinSurfaceValue(*idx_, u, tin_, search);
    if (z == geodesy::NOVALUE) {
      EXPECT_EQ(m.At(x, y), 0x00ffffffu) << x << " " << y;  // no surface there
      continue;
    }
    const uint32_t want = RampColour(ramp, SurfaceIntensity(z, r.zmin, r.zmax));
    const int d = MaxComponentDifference(m.At(x, y), want);
    worst = std::max(worst, d);
    exact += d == 0;
    ++checked;
  }
  EXPECT_GE(checked, 300);
  // Interpolation in device space and in the cell's plane differ by a
  // fraction of a ramp step at this scale.
  EXPECT_LE(worst, 1);
  EXPECT_GE(exact, checked * 9 / 10);
}

TEST_F(SurfaceRender, BrightnessFollowsTheLightFromTheNorthWest) {
  const double o[3] = {0, 0, 0};
  // Flat ground, either winding.
  const double e[3] = {1, 0, 0}, n[3] = {0, 1, 0};
  EXPECT_NEAR(SurfaceBrightness(o, e, n), SURFACE_FLAT_BRIGHTNESS, 1e-12);
  EXPECT_NEAR(SurfaceBrightness(o, n, e), SURFACE_FLAT_BRIGHTNESS, 1e-12);
  // A slope rising towards the south-east at 45 degrees faces the light.
  const double s2 = std::sqrt(0.5);
  const double lit[3][3] = {{-s2, -s2, 0}, {s2, s2, 0}, {s2, -s2, 1}};
  EXPECT_NEAR(SurfaceBrightness(lit[0], lit[2], lit[1]), 1.0, 1e-12);
  // The same slope turned to face south-east is in full shadow.
  const double dark[3][3] = {{-s2, -s2, 0}, {s2, s2, 0}, {-s2, s2, 1}};
  EXPECT_NEAR(SurfaceBrightness(dark[0], dark[1], dark[2]), 0.0, 1e-12);
  // Degenerate triangles count as flat ground.
  EXPECT_NEAR(SurfaceBrightness(o, o, e), SURFACE_FLAT_BRIGHTNESS, 1e-12);
}

TEST_F(SurfaceRender, ShadedConeIsBrightestOnItsNorthWestFlank) {
  // A steep cone (30 km high, 165 km round) so that the slopes show at n 1.
  Tin(-40, 150, 0.1, 15, [](double a, double o) {
    const double r = std::hypot(a + 40, (o - 150) * std::cos(40 * kPi / 180));
    return 30000.0 * std::max(0.0, 1.0 - r / 1.5);
  });
  Map m(PROJ_STEREO, -40, 150, 2e6, 400, 400);
  ASSERT_EQ(m.status, 0);
  SurfaceReport r;
  ASSERT_EQ(Render(m, kSurfaceShade, "r0.255g0.255b0.255", &r), SURFACE_OK);
  // Mean position of the brightest and of the darkest pixels (the slopes
  // are about 11 degrees: from about 0.56 to 0.82 of full light).
  int most = 0, least = 255;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x)
      if (m.At(x, y) != 0x00ffffffu) most = std::max<int>(most, RedOf(m.At(x, y))), least = std::min<int>(least, RedOf(m.At(x, y)));
  EXPECT_GT(most, 190);
  EXPECT_LT(least, 160);
  double bx = 0, by = 0, dx = 0, dy = 0;
  int nb = 0, nd = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x) {
      const uint32_t c = m.At(x, y);
      if (c == 0x00ffffffu) continue;
      if (int(RedOf(c)) >= most - 6) bx += x - 199.5, by += y - 199.5, ++nb;
      if (int(RedOf(c)) <= least + 6) dx += x - 199.5, dy += y - 199.5, ++nd;
    }
  ASSERT_GT(nb, 100);
  ASSERT_GT(nd, 100);
  bx /= nb, by /= nb, dx /= nd, dy /= nd;
  EXPECT_LT(bx, -10);  // west
  EXPECT_LT(by, -10);  // north (rows grow southwards)
  EXPECT_NEAR(bx / by, 1.0, 0.35);
  EXPECT_GT(dx, 10);
  EXPECT_GT(dy, 10);
  // Exaggerated three times the slopes are steeper: deeper shadows.
  Map x3(PROJ_STEREO, -40, 150, 2e6, 400, 400);
  ASSERT_EQ(Render(x3, kSurfaceShade, "r0.255g0.255b0.255n3", &r), SURFACE_OK);
  int least3 = 255;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x)
      if (x3.At(x, y) != 0x00ffffffu) least3 = std::min<int>(least3, RedOf(x3.At(x, y)));
  EXPECT_LT(least3, least - 30);
  // Blended with the ramp, flat ground keeps its hypsometric colour: the
  // flat ground round the cone is its lowest height, the ramp's low colour.
  Map b(PROJ_STEREO, -40, 150, 5e6, 400, 400);
  ASSERT_EQ(Render(b, kSurfaceShade, "r40.255g90.255b140.255s50", &r), SURFACE_OK);
  PixelPoint foot;
  ASSERT_TRUE(PositionToDevice(b.g, geodesy::GeodeticToCosines({-41.3 * kPi / 180, 151.7 * kPi / 180}, wgs84_), &foot));
  EXPECT_LE(MaxComponentDifference(b.At(foot.x, foot.y), MakeColour(40, 90, 140)), 1);
}

TEST_F(SurfaceRender, EveryProjectionSkipsWhatItCannotShow) {
  // Across the 180th meridian, so the world maps centred on 0E cut it.
  Tin(10, 180, 0.25, 10, [](double a, double) { return 100.0 * (a - 7); });
  const uint32_t codes[] = {PROJ_STEREO, PROJ_ORTHO, PROJ_WWMERC, PROJ_GNOMONIC, PROJ_CONICAL,
                            PROJ_MERCATOR, PROJ_PERSPECT, PROJ_WWVIEW, PROJ_EQDISTCYL, PROJ_WWPLTCRR};
  for (uint32_t code : codes) {
    // Centred on the surface: everything is drawn.
    Map near(code, 10, 179, code == PROJ_WWMERC || code == PROJ_WWVIEW || code == PROJ_WWPLTCRR ? geodesy::NOVALUE : 1e7, 400, 300);
    if (near.status != 0) continue;
    SurfaceReport r;
    ASSERT_EQ(Render(near, kSurfaceHypso, "", &r), SURFACE_OK) << code;
    EXPECT_GT(near.Painted(), 20) << code;
  }
  // A world map centred on 0E: the triangles across the seam are skipped,
  // and nothing streaks across the map's middle.
  Map world(PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE, 800, 400);
  ASSERT_EQ(world.status, 0);
  SurfaceReport r;
  ASSERT_EQ(Render(world, kSurfaceHypso, "", &r), SURFACE_OK);
  EXPECT_GT(r.skipped, 0);
  EXPECT_GT(world.Painted(), 10);
  for (int y = 0; y < 400; ++y)
    for (int x = 100; x < 700; ++x) ASSERT_EQ(world.At(x, y), 0x00ffffffu) << x << " " << y;
  // A world tileset wraps round at 180 degrees as well.
  TilesetInfo t;
  t.version = 1;
  t.format = 1;
  t.across = 8;
  t.down = 4;
  t.tile_width = 100;
  t.tile_height = 50;
  t.lon0 = 0;
  t.width = 4294967280u;  // 2 pi
  t.bands = 4;
  for (int deg : {-80, -40, 0, 40, 80}) t.latitudes.push_back(int32_t(deg * (2147483640.0 / 180.0)));
  {
    Map tiles(PROJ_STEREO, 0, 0, 1e8, 800, 200);
    ReleaseMapGeometry(&tiles.g);
    ASSERT_EQ(SetUpTilesetGeometry(t, &tiles.e, nullptr, 0.0254 / 96, 0.0254 / 96, {0, 199, 799, 0}, 64, nullptr,
                                   nullptr, &tiles.g), 0);
    ASSERT_EQ(Render(tiles, kSurfaceHypso, "", &r), SURFACE_OK);
    EXPECT_GT(r.skipped, 0);
    EXPECT_GT(tiles.Painted(), 10);
    for (int y = 0; y < 200; ++y)
      for (int x = 100; x < 700; ++x) ASSERT_EQ(tiles.At(x, y), 0x00ffffffu) << x << " " << y;
  }
  // The far side of an ortho globe: nothing at all.
  Map far(PROJ_ORTHO, -10, 0, 1e8, 300, 300);
  ASSERT_EQ(far.status, 0);
  ASSERT_EQ(Render(far, kSurfaceShade, "", &r), SURFACE_OK);
  EXPECT_EQ(r.drawn, 0);
  EXPECT_EQ(far.Painted(), 0);
}

TEST_F(SurfaceRender, ACellWithoutTrianglesIsItsPolygonInOneHeight) {
  // Two lone points far apart: no triangles, each cell its own height.
  std::vector<cells::PointNode> nodes = {
      {geodesy::GeodeticToCosines({0.0, 0.0}, wgs84_), Bits(0.0f)},
      {geodesy::GeodeticToCosines({0.0, 10 * kPi / 180}, wgs84_), Bits(100.0f)}};
  src_ = ops::testing::HeapObject();
  ops::testing::Build(*idx_, cells::kPset, nodes, src_, 9);
  mem_.assign(1 << 20, 0);
  platform::WorkspaceInit(&arena_, mem_.data(), std::int64_t(mem_.size() * 8));
  ops::DeriveContext ctx;
  ctx.index = idx_;
  ctx.output = &arena_;
  ctx.object = &tin_;
  ctx.res = 9;
  ASSERT_EQ(ops::q7_PsetTin(ctx, src_.obj, false), 0);
  Map m(PROJ_WWPLTCRR, 0, 5, geodesy::NOVALUE, 1440, 720);
  SurfaceReport r;
  ASSERT_EQ(Render(m, kSurfaceHypso, "r0.255g0.0b0.0", &r), SURFACE_OK);
  EXPECT_EQ(r.triangles, 0);
  EXPECT_GT(r.drawn, 0);
  PixelPoint a, b;
  ASSERT_TRUE(PositionToDevice(m.g, nodes[0].p, &a));
  ASSERT_TRUE(PositionToDevice(m.g, nodes[1].p, &b));
  EXPECT_EQ(m.At(a.x, a.y), MakeColour(0, 0, 0));
  EXPECT_EQ(m.At(b.x, b.y), MakeColour(255, 0, 0));
  EXPECT_EQ(m.At((a.x + b.x) / 2, a.y), 0x00ffffffu);  // between the cells: nothing
}

TEST_F(SurfaceRender, EmptyTinOtherKindsNoPictureAndASmallWorkspace) {
  Map m(PROJ_ORTHO, 20, 30, 4e6, 200, 200);
  SurfaceReport r;
  // An empty TIN Pset: nothing drawn, no failure.
  cells::Object empty;
  empty.kind = cells::kTinPset;
  ASSERT_EQ(RenderTinSurface(m.g, *idx_, empty, RampStyle(), kSurfaceHypso, nullptr, &m.s, &r), SURFACE_OK);
  EXPECT_EQ(m.Painted(), 0);
  cells::Object plain;
  EXPECT_EQ(RenderTinSurface(m.g, *idx_, plain, RampStyle(), kSurfaceHypso, nullptr, &m.s, &r), SURFACE_NOT_TIN);
  DisplaySurface none;
  EXPECT_EQ(RenderTinSurface(m.g, *idx_, empty, RampStyle(), kSurfaceHypso, nullptr, &none, &r), SURFACE_NO_PICTURE);
  // A workspace that cannot hold a cell's vertices is refused before any
  // pixel is set, and the workspace is given back.
  Tin(20, 30, 0.2, 5, [](double a, double) { return a; });
  std::vector<std::uint64_t> small(4);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, small.data(), 32);
  EXPECT_EQ(Render(m, kSurfaceHypso, "", &r, &ws), SURFACE_WORKSPACE);
  EXPECT_EQ(m.Painted(), 0);
  EXPECT_EQ(ws.top, ws.base);
}

TEST_F(SurfaceRender, DamagedHeightsSkipTheirTrianglesAndLeaveTheRange) {
  Tin(20, 30, 0.2, 5, [](double a, double) { return 100.0 * (a - 19); });
  // A file may hold heights DerivePsetTin never writes: NaN, infinity and
  // the "no value" mark, in a vertex record and in a cell's height range.
  const cells::TinCell t = cells::LoadTinCell(tin_.structure + cells::PsetCellArrayOffset(tin_));
  ASSERT_GT(t.triangle_count, 0);
  const float bad[3] = {std::nanf(""), INFINITY, ops::TIN_NO_HEIGHT};
  for (int k = 0; k < 3 && k < t.point_count; ++k) std::memcpy(tin_.coords + t.point_offset + 12 * k + 8, &bad[k], 4);
  std::memcpy(tin_.structure + cells::PsetCellArrayOffset(tin_) + 40, &bad[1], 4);  // z[1] of the first cell
  Map m(PROJ_ORTHO, 20, 30, 4e6, 300, 300);
  SurfaceReport r;
  for (SurfacePresentation p : {kSurfaceHypso, kSurfaceShade}) {
    ASSERT_EQ(Render(m, p, "r0.255s30", &r), SURFACE_OK);
    EXPECT_GT(r.skipped, 0);
    EXPECT_GT(r.drawn, 0);
    EXPECT_TRUE(std::isfinite(r.zmin) && std::isfinite(r.zmax));
    EXPECT_GT(r.zmax - r.zmin, 150.0f);  // of 0 m to 200 m
  }
}

}  // namespace
}  // namespace display
