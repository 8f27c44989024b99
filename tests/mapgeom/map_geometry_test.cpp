// SetUpMapGeometry's codes and limits, the pixel transform under every
// rot-ref, world-wide framing, the visible-cell lists against a brute-force
// reference, release, and the window outline.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/display/map_geometry.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/workspace.h"

namespace display {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDeg = kPi / 180.0;

DirectionCosines LatLon(double lat_deg, double lon_deg) {
  const double f = lat_deg * kDeg, l = lon_deg * kDeg;
  return {std::cos(f) * std::cos(l), std::cos(f) * std::sin(l), std::sin(f)};
}

// A screen client area of w x h pixels as a frame.
DeviceFrame Screen(int32_t w, int32_t h) { return {0, h - 1, w - 1, 0}; }

GeometrySpec Spec(uint32_t code, const DirectionCosines& c, double scale,
                  DeviceFrame frame = Screen(800, 600), uint32_t rot_ref = 0) {
  GeometrySpec s;
  s.projection = code;
  s.rot_ref = rot_ref;
  s.centre = c;
  s.scale = scale;
  s.pixel_width = s.pixel_height = 0.00025;
  s.frame = frame;
  return s;
}

struct MapGeometryTest : ::testing::Test {
  geodesy::Ellipsoid wgs84 = geodesy::MakeEllipsoid();
  MapGeometry g;
  void TearDown() override { ReleaseMapGeometry(&g); }
  int Build(const GeometrySpec& s) {
    ReleaseMapGeometry(&g);
    return SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84, s, &g);
  }
};

TEST_F(MapGeometryTest, ParameterChecksGiveCodeOne) {
  GeometrySpec s = Spec(PROJ_STEREO, LatLon(50, 10), 10e6);
  EXPECT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, nullptr, s, &g), 1);
  s.pixel_width = 1e-13;
  EXPECT_EQ(Build(s), 1);
  s = Spec(PROJ_STEREO, LatLon(50, 10), 10e6, {0, 0, 7, 100});
  EXPECT_EQ(Build(s), 1);
  s = Spec(PROJ_STEREO, LatLon(50, 10), 10e6, {0, 0, 8, 8});
  EXPECT_EQ(Build(s), 0);
  s.point_capacity = 15;
  EXPECT_EQ(Build(s), 1);
  EXPECT_EQ(Build(Spec(PROJ_STEREO, LatLon(50, 10), 499.0)), 1);
  EXPECT_EQ(Build(Spec(PROJ_STEREO, LatLon(50, 10), 499.999)), 0);
  EXPECT_EQ(Build(Spec(PROJ_STEREO, LatLon(50, 10), 5.00002e8)), 1);
  // ortho has its own range: 5e5 is refused.
  EXPECT_EQ(Build(Spec(PROJ_ORTHO, LatLon(50, 10), 5e5)), 1);
  EXPECT_EQ(Build(Spec(PROJ_ORTHO, LatLon(50, 10), 1e6)), 0);
  EXPECT_EQ(Build(Spec(PROJ_ORTHO, LatLon(50, 10), 1e9)), 0);
  // World maps take NOVALUE; other maps do not.
  EXPECT_EQ(Build(Spec(PROJ_WWMERC, LatLon(50, 10), geodesy::NOVALUE)), 0);
  EXPECT_EQ(Build(Spec(PROJ_MERCATOR, LatLon(50, 10), geodesy::NOVALUE)), 1);
  // A failure leaves the record cleared.
  EXPECT_EQ(Build(Spec(PROJ_ORTHO, LatLon(50, 10), 5e5)), 1);
  EXPECT_EQ(g.params, nullptr);
  EXPECT_EQ(g.projection, PROJ_NONE);
}

TEST_F(MapGeometryTest, ProjectionRefusalsAndCodes) {
  // Conical at 3 degrees: code 3, before any scale check.
  EXPECT_EQ(Build(Spec(PROJ_CONICAL, LatLon(3, 10), 1.0)), 3);
  EXPECT_EQ(Build(Spec(PROJ_CONICAL, LatLon(-3, 10), 10e6)), 3);
  EXPECT_EQ(Build(Spec(PROJ_CONICAL, LatLon(30, 10), 10e6)), 0);
  for (uint32_t code : {0u, 7u, 8u, 9u, 14u, 18u, 19u, 200u}) {
    EXPECT_EQ(Build(Spec(code, LatLon(30, 10), 10e6)), -1) << code;
  }
  // Mercator within a degree of a pole refuses the centre.
  EXPECT_EQ(Build(Spec(PROJ_MERCATOR, LatLon(89.5, 10), 1e6)), 2);
  EXPECT_EQ(Build(Spec(PROJ_EQDISTCYL, LatLon(-89.5, 10), 1e6)), 2);
  // A Mercator or equidistant-cylindrical window reaching beyond a pole.
  EXPECT_EQ(Build(Spec(PROJ_MERCATOR, LatLon(80, 10), 1e6)), 0);
  EXPECT_EQ(Build(Spec(PROJ_MERCATOR, LatLon(80, 10), 1.5e8)), 0);
  EXPECT_EQ(Build(Spec(PROJ_MERCATOR, LatLon(80, 10), 3e8)), 2);
  EXPECT_EQ(Build(Spec(PROJ_EQDISTCYL, LatLon(80, 10), 1e6)), 0);
  EXPECT_EQ(Build(Spec(PROJ_EQDISTCYL, LatLon(80, 10), 3e7)), 2);
  // A stereographic window may show the whole globe and more.
  EXPECT_EQ(Build(Spec(PROJ_STEREO, LatLon(80, 10), 5e8)), 0);
  // An invalid centre is refused, not projected.
  GeometrySpec s = Spec(PROJ_STEREO, {geodesy::NOVALUE, 0, 0}, 10e6);
  EXPECT_EQ(Build(s), 2);
}

TEST_F(MapGeometryTest, PlaneUnitsFollowScalePixelAndRadius) {
  ASSERT_EQ(Build(Spec(PROJ_STEREO, LatLon(0, 0), 10e6)), 0);
  EXPECT_DOUBLE_EQ(std::fabs(g.transform.sx), 0.00025 * 10e6 / wgs84.a);
  ASSERT_EQ(Build(Spec(PROJ_GNOMONIC, {0, 0, 1}, 10e6)), 0);
  EXPECT_DOUBLE_EQ(std::fabs(g.transform.sy), 0.00025 * 10e6 / wgs84.b);
  // Geocentric radius at 45 degrees: between the axes, by the ellipse.
  const DirectionCosines c = LatLon(45, 0);
  const double r = GeocentricRadius(wgs84, c);
  const double psi = 45 * kDeg;
  const double exact = wgs84.a * wgs84.b /
                       std::sqrt(wgs84.b2 * std::cos(psi) * std::cos(psi) +
                                 wgs84.a2 * std::sin(psi) * std::sin(psi));
  EXPECT_NEAR(r, exact, 1e-6);
  ASSERT_EQ(Build(Spec(PROJ_ORTHO, c, 10e6)), 0);
  EXPECT_DOUBLE_EQ(std::fabs(g.transform.sx), 0.00025 * 10e6 / std::cbrt(wgs84.a2 * wgs84.b));
  // Screen frames run downwards in y: sy is negative, north is up.
  EXPECT_GT(g.transform.sx, 0.0);
  EXPECT_LT(g.transform.sy, 0.0);
  EXPECT_NEAR(g.plane_width, 799 * g.transform.sx, 1e-15);
  EXPECT_NEAR(g.plane_height, 599 * -g.transform.sy, 1e-15);
  EXPECT_EQ(g.xmin, 0);
  EXPECT_EQ(g.ymax, 599);
  EXPECT_EQ(g.current_pen, -1);
  EXPECT_EQ(g.point_capacity, 512);
  EXPECT_NE(g.points, nullptr);
}

TEST_F(MapGeometryTest, DeviceAndPlaneAreExactInversesUnderEveryRotRef) {
  for (uint32_t rot : {0u, 1u, 4u, 8u, 12u}) {
    for (const DeviceFrame& f : {Screen(801, 600), DeviceFrame{0, 0, 10000, 7000},
                                 DeviceFrame{-300, 200, 300, -201}}) {
      ASSERT_EQ(Build(Spec(PROJ_STEREO, LatLon(40, -3), 10e6, f, rot)), 0);
      for (int32_t x = std::min(f.x0, f.x1) - 50; x <= std::max(f.x0, f.x1) + 50; x += 7) {
        for (int32_t y = std::min(f.y0, f.y1) - 50; y <= std::max(f.y0, f.y1) + 50; y += 5) {
          double X, Y;
          DeviceToPlane(g.transform, x, y, &X, &Y);
          const PixelPoint p = PlaneToDevice(g.transform, X, Y);
          ASSERT_EQ(p.x, x) << "rot " << rot << " y " << y;
          ASSERT_EQ(p.y, y) << "rot " << rot << " x " << x;
          double xe, ye;
          PlaneToDeviceExact(g.transform, X, Y, &xe, &ye);
          ASSERT_NEAR(xe, x + 0.5, 1e-9);
          ASSERT_NEAR(ye, y + 0.5, 1e-9);
        }
      }
    }
  }
}

TEST_F(MapGeometryTest, RotRefMirrorsAboutTheWindowCentre) {
  const DeviceFrame f = Screen(640, 480);
  MapGeometry plain;
  ASSERT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84,
                             Spec(PROJ_STEREO, LatLon(40, -3), 10e6, f, 0), &plain), 0);
  const DirectionCosines p = LatLon(42, 1);
  double X, Y;
  ASSERT_EQ(ProjectForward(*plain.params, PROJ_STEREO, p, &X, &Y), 0);
  const PixelPoint a = PlaneToDevice(plain.transform, X, Y);
  const int32_t cx = (f.x0 + f.x1 + 1) / 2, cy = (f.y0 + f.y1 + 1) / 2;
  ASSERT_EQ(Build(Spec(PROJ_STEREO, LatLon(40, -3), 10e6, f, 4)), 0);
  PixelPoint b = PlaneToDevice(g.transform, X, Y);
  EXPECT_EQ(b.x, a.x);                      // 4: top to bottom
  EXPECT_NEAR(b.y - cy, cy - a.y, 1);
  ASSERT_EQ(Build(Spec(PROJ_STEREO, LatLon(40, -3), 10e6, f, 8)), 0);
  b = PlaneToDevice(g.transform, X, Y);
  EXPECT_EQ(b.y, a.y);                      // 8: left to right
  EXPECT_NEAR(b.x - cx, cx - a.x, 1);
  // Other values have no effect.
  ASSERT_EQ(Build(Spec(PROJ_STEREO, LatLon(40, -3), 10e6, f, 3)), 0);
  b = PlaneToDevice(g.transform, X, Y);
  EXPECT_EQ(b.x, a.x);
  EXPECT_EQ(b.y, a.y);
  ReleaseMapGeometry(&plain);
}

TEST_F(MapGeometryTest, FarPlanePointsAreClamped) {
  ASSERT_EQ(Build(Spec(PROJ_STEREO, LatLon(40, -3), 10e6)), 0);
  PixelPoint p = PlaneToDevice(g.transform, geodesy::HUGE_VALUE, geodesy::HUGE_VALUE);
  EXPECT_EQ(p.x, 0x5FFFFFFF);
  EXPECT_EQ(p.y, -0x5FFFFFFF);  // plane north is device up
  p = PlaneToDevice(g.transform, -geodesy::HUGE_VALUE, NAN);
  EXPECT_EQ(p.x, -0x5FFFFFFF);
  EXPECT_EQ(p.y, 0);
}

TEST_F(MapGeometryTest, WorldMapsStretchOrKeepTheWorldsAspect) {
  const DeviceFrame f = Screen(1000, 900);
  // Stretched: the frame stays, the plane fills it.
  ASSERT_EQ(Build(Spec(PROJ_WWPLTCRR, LatLon(10, 30), geodesy::NOVALUE, f)), 0);
  EXPECT_EQ(g.frame.x0, f.x0);
  EXPECT_EQ(g.frame.y0, f.y0);
  EXPECT_DOUBLE_EQ(g.transform.sx, 2 * kPi / 999);
  EXPECT_DOUBLE_EQ(g.transform.sy, -kPi / 899);
  EXPECT_DOUBLE_EQ(g.scale, wgs84.a * 2 * kPi / (0.00025 * 999));
  EXPECT_NEAR(g.params->world.lon0, 30 * kDeg, 1e-15);
  // Kept aspect: a 2:1 world in a 999 x 899 frame keeps the width and trims
  // the height about the centre.
  for (double scale : {1e8, 1000.0, 12345.0}) {
    ASSERT_EQ(Build(Spec(PROJ_WWPLTCRR, LatLon(10, 30), scale, f)), 0);
    const int32_t v = std::abs(g.frame.y1 - g.frame.y0);
    EXPECT_NEAR(v, 999 / 2, 1);
    EXPECT_EQ(std::abs(g.frame.x1 - g.frame.x0), 999);
    EXPECT_GT(g.frame.y0, g.frame.y1);  // the corner order is kept
    EXPECT_DOUBLE_EQ(g.scale, wgs84.a * 2 * kPi / (0.00025 * 999));
    EXPECT_NEAR(g.transform.sx, -g.transform.sy * (kPi / v) / (2 * kPi / 999) * 2, 1e-2);
  }
  // A wide low frame trims the width instead, about the centre.
  ASSERT_EQ(Build(Spec(PROJ_WWVIEW, LatLon(10, 30), 1e8, Screen(1000, 300))), 0);
  EXPECT_EQ(std::abs(g.frame.y1 - g.frame.y0), 299);
  EXPECT_NEAR(std::abs(g.frame.x1 - g.frame.x0), 2 * kPi / (WWVIEW_HEIGHT / 299), 2);
  EXPECT_NEAR((g.frame.x0 + g.frame.x1) / 2.0, 499.5, 1);
  EXPECT_EQ(g.plane_height, WWVIEW_HEIGHT);
  EXPECT_DOUBLE_EQ(g.transform.sy, -WWVIEW_HEIGHT / 299);
  ASSERT_EQ(Build(Spec(PROJ_WWMERC, LatLon(10, 30), 1e8, Screen(1000, 300))), 0);
  EXPECT_EQ(g.plane_height, WWMERC_HEIGHT);
}

TEST_F(MapGeometryTest, ArenaBlocksAndMemoryShortage) {
  std::vector<uint64_t> store(64);
  platform::Workspace arena;
  platform::WorkspaceInit(&arena, store.data(), 64);  // too small for the point buffer
  GeometrySpec s = Spec(PROJ_STEREO, LatLon(50, 10), 10e6);
  EXPECT_EQ(SetUpMapGeometry(nullptr, nullptr, &arena, &wgs84, s, &g), 8);
  EXPECT_EQ(g.params, nullptr);
  std::vector<uint64_t> big(2048);
  platform::WorkspaceInit(&arena, big.data(), 2048 * 8);
  ASSERT_EQ(SetUpMapGeometry(nullptr, nullptr, &arena, &wgs84, s, &g), 0);
  EXPECT_GE(reinterpret_cast<uint8_t*>(g.params), arena.base);
  EXPECT_LT(reinterpret_cast<uint8_t*>(g.params), arena.end);
  ReleaseMapGeometry(&g);  // nothing to free: the arena owns the blocks
}

// ---- visible cells on a small index -------------------------------------

// The icosahedron's 12 vertices as a cell index: each cell's 5 neighbours
// are the nearest centres, ordered counterclockwise seen from above.
cells::CellIndex Icosahedron() {
  const double t = (1 + std::sqrt(5.0)) / 2;
  std::vector<DirectionCosines> v;
  for (double a : {-1.0, 1.0})
    for (double b : {-t, t}) {
      v.push_back({0, a, b});
      v.push_back({a, b, 0});
      v.push_back({b, 0, a});
    }
  for (auto& u : v) {
    const double l = std::sqrt(geodesy::Dot(u, u));
    u = {u.x / l, u.y / l, u.z / l};
  }
  const int n = static_cast<int>(v.size());
  auto** recs = static_cast<cells::CellRecord**>(std::malloc(n * sizeof(void*)));
  for (int i = 0; i < n; ++i) {
    std::vector<std::pair<double, int>> nb;
    const geodesy::TangentFrame f = geodesy::BuildTangentFrame(v[i]);
    for (int j = 0; j < n; ++j) {
      if (j == i || geodesy::Dot(v[i], v[j]) < 0.4) continue;  // the 5 nearest
      const double e = f.ex * v[j].x + f.ey * v[j].y;
      const double no = f.nx * v[j].x + f.ny * v[j].y + f.nz * v[j].z;
      nb.push_back({std::atan2(no, e), j});
    }
    std::sort(nb.begin(), nb.end());
    auto* r = static_cast<cells::CellRecord*>(std::calloc(1, sizeof(cells::CellRecord) + 4 * 8));
    r->centre = v[i];
    r->neighbour_count = static_cast<int16_t>(nb.size());
    r->scale = 100;
    for (size_t k = 0; k < nb.size(); ++k) r->neighbours[k] = nb[k].second;
    recs[i] = r;
  }
  cells::CellIndex idx;
  cells::SetUpIndex(idx, 4242, recs, n, 5, 2, 1.2, 2.0);
  return idx;
}

// Cells whose centre or a Voronoi vertex projects with status 0 into the
// plane rectangle of the frame, found by looking at every cell.
std::vector<int32_t> ReferenceCells(const cells::CellIndex& idx, const MapGeometry& g) {
  std::vector<int32_t> out;
  const double hw = g.plane_width / 2, hh = g.plane_height / 2;
  auto in = [&](const DirectionCosines& p) {
    double X, Y;
    return ProjectForward(*g.params, g.projection, p, &X, &Y) == 0 && std::fabs(X) <= hw &&
           std::fabs(Y) <= hh;
  };
  for (int32_t c = 0; c < idx.cell_count; ++c) {
    bool shows = in(idx.cells[c]->centre);
    for (int k = 0; k < idx.cells[c]->neighbour_count && !shows; ++k) {
      DirectionCosines v;
      cells::VoronoiVertex(idx, c, k, v);
      shows = geodesy::IsValid(v) && in(v);
    }
    if (shows) out.push_back(c);
  }
  return out;
}

TEST_F(MapGeometryTest, VisibleCellsOfEveryKind) {
  cells::CellIndex idx = Icosahedron();
  ASSERT_EQ(cells::VerifyIndex(idx).status, 0);
  std::vector<uint64_t> store(4096);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, store.data(), 4096 * 8);
  const DirectionCosines c = idx.cells[3]->centre;
  const DirectionCosines near_c = LatLon(std::asin(c.z) / kDeg + 1, std::atan2(c.y, c.x) / kDeg);
  for (uint32_t code : {PROJ_STEREO, PROJ_GNOMONIC, PROJ_CONICAL, PROJ_MERCATOR, PROJ_EQDISTCYL}) {
    for (double scale : {1e6, 3e7, 6e7}) {
      GeometrySpec s = Spec(code, near_c, scale);
      ReleaseMapGeometry(&g);
      const int status = SetUpMapGeometry(&idx, &ws, nullptr, &wgs84, s, &g);
      if (status == 2) continue;  // a cylinder reaching beyond a pole
      ASSERT_EQ(status, 0) << ProjectionName(code);
      ASSERT_NE(g.visible[0].list, nullptr);
      EXPECT_EQ(g.visible[0].index_id, 4242u);
      EXPECT_EQ(ws.top, ws.base);  // scratch given back
      std::vector<int32_t> got = cells::ExpandCellList(g.visible[0].list);
      std::vector<int32_t> want = ReferenceCells(idx, g);
      // The cell holding the centre is always listed.
      if (std::find(want.begin(), want.end(), 3) == want.end()) {
        want.push_back(3);
        std::sort(want.begin(), want.end());
      }
      EXPECT_EQ(got, want) << ProjectionName(code) << " scale " << scale;
    }
  }
  // Small windows inside one cell list that cell alone.
  ASSERT_EQ(SetUpMapGeometry(&idx, &ws, nullptr, &wgs84, Spec(PROJ_STEREO, near_c, 1e4), &g), 0);
  EXPECT_EQ(cells::ExpandCellList(g.visible[0].list), std::vector<int32_t>{3});
  // ortho: the centres within a squared chord of 1.9.
  ReleaseMapGeometry(&g);
  ASSERT_EQ(SetUpMapGeometry(&idx, &ws, nullptr, &wgs84, Spec(PROJ_ORTHO, c, 5e7), &g), 0);
  std::vector<int32_t> hemi;
  for (int32_t i = 0; i < idx.cell_count; ++i) {
    if (geodesy::ChordSq(idx.cells[i]->centre, c) < 1.9) hemi.push_back(i);
  }
  EXPECT_EQ(cells::ExpandCellList(g.visible[0].list), hemi);
  // World maps: every cell, as (3, 0, 1 - count).
  ReleaseMapGeometry(&g);
  ASSERT_EQ(SetUpMapGeometry(&idx, &ws, nullptr, &wgs84,
                             Spec(PROJ_WWMERC, c, geodesy::NOVALUE), &g), 0);
  ASSERT_NE(g.visible[0].list, nullptr);
  EXPECT_EQ(g.visible[0].list[0], 3);
  EXPECT_EQ(g.visible[0].list[1], 0);
  EXPECT_EQ(g.visible[0].list[2], -11);
  // Another slot for the same index; release clears every slot.
  EXPECT_EQ(BuildVisibleCells(&idx, &ws, &g, 5), 0);
  EXPECT_EQ(g.visible[5].index_id, 4242u);
  EXPECT_EQ(BuildVisibleCells(&idx, &ws, &g, 64), -1);
  // perspect has no list.
  ReleaseMapGeometry(&g);
  ASSERT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84, Spec(PROJ_PERSPECT, c, 5e7), &g),
            0);
  EXPECT_EQ(BuildVisibleCells(&idx, &ws, &g, 0), -1);
  // A workspace without room for the walk: the heap serves, and the
  // workspace is left as it was.
  ReleaseMapGeometry(&g);
  platform::WorkspaceInit(&ws, store.data(), 8);
  EXPECT_EQ(SetUpMapGeometry(&idx, &ws, nullptr, &wgs84, Spec(PROJ_STEREO, c, 1e7), &g), 0);
  EXPECT_EQ(ws.top, ws.base);
  ReleaseMapGeometry(&g);
  EXPECT_EQ(SetUpMapGeometry(&idx, nullptr, nullptr, &wgs84, Spec(PROJ_ORTHO, c, 1e7), &g), 0);
  ReleaseMapGeometry(&g);
  // An arena with room for the parameter block and the points but not for
  // the list: 8, or 9 for the hemisphere list; the record is left cleared.
  std::vector<uint64_t> small((sizeof(ProjectionParams) + 512 * sizeof(PixelPoint)) / 8 + 1);
  platform::Workspace arena;
  platform::WorkspaceInit(&arena, small.data(), small.size() * 8);
  EXPECT_EQ(SetUpMapGeometry(&idx, &ws, &arena, &wgs84, Spec(PROJ_STEREO, c, 1e7), &g), 8);
  EXPECT_EQ(g.params, nullptr);
  platform::WorkspaceInit(&arena, small.data(), small.size() * 8);
  EXPECT_EQ(SetUpMapGeometry(&idx, &ws, &arena, &wgs84, Spec(PROJ_ORTHO, c, 1e7), &g), 9);
  EXPECT_EQ(g.params, nullptr);
  cells::ReleaseIndex(idx);
}

TEST_F(MapGeometryTest, WindowRegionHoldsTheMapCentre) {
  cells::CellIndex idx = Icosahedron();
  const DirectionCosines c = idx.cells[7]->centre;
  for (uint32_t code : {PROJ_ORTHO, PROJ_STEREO, PROJ_WWMERC}) {
    ReleaseMapGeometry(&g);
    ASSERT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84, Spec(code, c, 2e7), &g), 0);
    std::vector<uint8_t> heap;
    cells::Object obj;
    ASSERT_EQ(q7_RsetWindow(idx, g, {nullptr, &heap}, {1, 0, 6, 0}, obj), 0)
        << ProjectionName(code);
    EXPECT_EQ(obj.kind, cells::kRset);
    const int32_t* b = cells::EnvelopeList(obj, 0);
    const int32_t* i = cells::EnvelopeList(obj, 1);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(i, nullptr);
    EXPECT_TRUE(cells::CellListContains(b, 7) || cells::CellListContains(i, 7))
        << ProjectionName(code);
  }
  ReleaseMapGeometry(&g);
  ASSERT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84, Spec(PROJ_PERSPECT, c, 2e7), &g),
            0);
  std::vector<uint8_t> heap;
  cells::Object obj;
  EXPECT_EQ(q7_RsetWindow(idx, g, {nullptr, &heap}, {1, 0, 6, 0}, obj), 1);
  cells::ReleaseIndex(idx);
}

// ---- window outline --------------------------------------------------------

TEST_F(MapGeometryTest, WindowOutlineOfEveryKind) {
  DirectionCosines pts[WINDOW_OUTLINE_MAX];
  const DirectionCosines c = LatLon(48, 16);
  ASSERT_EQ(Build(Spec(PROJ_ORTHO, c, 5e7)), 0);
  ASSERT_EQ(WindowOutline(g, pts), 180);
  for (int k = 0; k < 180; ++k) {
    // 0.99 from the axis: sin(angle from the centre) = 0.99, on the near side.
    EXPECT_NEAR(geodesy::Dot(pts[k], c), std::sqrt(1 - 0.99 * 0.99), 1e-12);
  }
  for (uint32_t code : {PROJ_STEREO, PROJ_GNOMONIC, PROJ_CONICAL, PROJ_MERCATOR, PROJ_EQDISTCYL}) {
    const DeviceFrame f = Screen(800, 600);
    ASSERT_EQ(Build(Spec(code, c, 2e7, f)), 0);
    ASSERT_EQ(WindowOutline(g, pts), 12) << ProjectionName(code);
    // The first point is the lower right corner, the seventh the upper left.
    double X, Y;
    ASSERT_EQ(ProjectForward(*g.params, code, pts[0], &X, &Y), 0);
    PixelPoint p = PlaneToDevice(g.transform, X, Y);
    EXPECT_EQ(p.x, f.x1);
    EXPECT_EQ(p.y, f.y0);
    ASSERT_EQ(ProjectForward(*g.params, code, pts[6], &X, &Y), 0);
    p = PlaneToDevice(g.transform, X, Y);
    EXPECT_EQ(p.x, f.x0);
    EXPECT_EQ(p.y, f.y1);
    ASSERT_EQ(ProjectForward(*g.params, code, pts[4], &X, &Y), 0);  // top middle
    p = PlaneToDevice(g.transform, X, Y);
    EXPECT_EQ(p.x, (f.x0 + f.x1) / 2);
  }
  // World maps: about the edge meridian, 164 W for a map centred at 16 E.
  ASSERT_EQ(Build(Spec(PROJ_WWPLTCRR, c, geodesy::NOVALUE)), 0);
  ASSERT_EQ(WindowOutline(g, pts), 12);
  EXPECT_NEAR(std::asin(pts[0].z), -80 * kDeg, 1e-12);
  EXPECT_NEAR(std::atan2(pts[0].y, pts[0].x), -164.1 * kDeg, 1e-12);
  EXPECT_NEAR(std::atan2(pts[6].y, pts[6].x), -163.9 * kDeg, 1e-12);
  EXPECT_NEAR(std::atan2(pts[4].y, pts[4].x), 16 * kDeg, 1e-12);
  EXPECT_NEAR(std::asin(pts[4].z), 80 * kDeg, 1e-12);
  ASSERT_EQ(Build(Spec(PROJ_PERSPECT, c, 5e7)), 0);
  EXPECT_EQ(WindowOutline(g, pts), 0);
  MapGeometry empty;
  EXPECT_EQ(WindowOutline(empty, pts), 0);
}

// The map centre lies on the left of every leg of a convex outline, under
// every rot-ref: the ring has the visible map inside.
TEST_F(MapGeometryTest, OutlinesHaveTheMapOnTheirLeft) {
  DirectionCosines pts[WINDOW_OUTLINE_MAX];
  const DirectionCosines c = LatLon(-30, 140);
  for (uint32_t code : {PROJ_ORTHO, PROJ_STEREO, PROJ_GNOMONIC, PROJ_MERCATOR, PROJ_EQDISTCYL}) {
    for (uint32_t rot : {0u, 4u, 8u, 12u}) {
      ASSERT_EQ(Build(Spec(code, c, 2e7, Screen(800, 600), rot)), 0);
      const int n = WindowOutline(g, pts);
      ASSERT_GT(n, 3);
      for (int i = 0; i < n; ++i) {
        const DirectionCosines& a = pts[i];
        const DirectionCosines& b = pts[(i + 1) % n];
        EXPECT_GT(geodesy::Dot(geodesy::Cross(a, b), c), 0.0)
            << ProjectionName(code) << " rot " << rot << " leg " << i;
      }
    }
  }
}

}  // namespace
}  // namespace display
