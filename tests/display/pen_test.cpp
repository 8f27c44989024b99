// The polyline pen against the arcs it draws: every leg is compared with its
// great circle sampled densely (20 000 points, projected one by one). What
// the pen writes must lie within a pixel of that curve, and every sample
// inside the frame must lie within a pixel of what the pen writes: nothing
// drawn off the arc, nothing of the arc left out.
#include "lib/display/pen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "lib/geodesy/ellipsoid.h"

namespace display {
namespace {

using Point = std::pair<double, double>;

DirectionCosines LatLon(double lat, double lon) {
  return geodesy::GeocentricToCosines({lat * M_PI / 180, lon * M_PI / 180});
}

// What a pen writes, piece by piece.
struct Recorder {
  std::vector<std::vector<Point>> pieces;
  PenOutput Output() {
    PenOutput o;
    o.context = this;
    o.begin = [](void* c, double x, double y) { static_cast<Recorder*>(c)->pieces.push_back({{x, y}}); };
    o.add = [](void* c, double x, double y) { static_cast<Recorder*>(c)->pieces.back().push_back({x, y}); };
    o.finish = [](void*) {};
    return o;
  }
};

// Points bucketed by whole pixel, for nearest-point questions.
struct PointGrid {
  std::map<std::pair<long, long>, std::vector<Point>> cells;
  void Add(double x, double y) { cells[{std::lround(std::floor(x)), std::lround(std::floor(y))}].push_back({x, y}); }
  double Nearest(double x, double y) const {
    double best = 1e9;
    const long cx = std::lround(std::floor(x)), cy = std::lround(std::floor(y));
    for (long i = cx - 2; i <= cx + 2; ++i)
      for (long j = cy - 2; j <= cy + 2; ++j) {
        auto it = cells.find({i, j});
        if (it == cells.end()) continue;
        for (const Point& p : it->second) best = std::min(best, std::hypot(p.first - x, p.second - y));
      }
    return best;
  }
};

struct PenFixture : ::testing::Test {
  geodesy::Ellipsoid wgs84 = geodesy::MakeEllipsoid();
  MapGeometry g;
  static constexpr int kW = 800, kH = 500;
  void TearDown() override { ReleaseMapGeometry(&g); }
  void Build(uint32_t code, const DirectionCosines& c, double scale) {
    ReleaseMapGeometry(&g);
    GeometrySpec spec;
    spec.projection = code;
    spec.centre = c;
    spec.scale = scale;
    spec.pixel_width = spec.pixel_height = 0.00025;
    spec.frame = {0, kH - 1, kW - 1, 0};
    ASSERT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84, spec, &g), 0);
  }
  bool InFrame(double x, double y, double margin) const {
    return x >= g.xmin - margin && x <= g.xmax + margin && y >= g.ymin - margin && y <= g.ymax + margin;
  }
  // Draws a -> b and compares it with the sampled arc; returns the pieces.
  Recorder Check(const DirectionCosines& a, const DirectionCosines& b, const char* what) {
    Recorder r;
    {
      PolylinePen pen(g, r.Output());
      pen.MoveTo(a);
      pen.LineTo(b);
    }
    const double theta = std::acos(std::clamp(geodesy::Dot(a, b), -1.0, 1.0));
    PointGrid truth, drawn;
    std::vector<Point> inside;
    constexpr int kSamples = 20000;
    for (int i = 0; i <= kSamples; ++i) {
      const double t = (double)i / kSamples;
      const double wa = std::sin((1 - t) * theta) / std::sin(theta), wb = std::sin(t * theta) / std::sin(theta);
      const DirectionCosines u = geodesy::Normalised({wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z});
      double x, y;
      if (!PositionToDeviceExact(g, u, &x, &y)) continue;
      x -= 0.5;
      y -= 0.5;
      if (!InFrame(x, y, 6)) continue;
      truth.Add(x, y);
      if (InFrame(x, y, 0)) inside.push_back({x, y});
    }
    double worst_off = 0;
    for (const auto& piece : r.pieces) {
      EXPECT_GE(piece.size(), 2u) << what;
      for (size_t k = 1; k < piece.size(); ++k) {
        const Point p = piece[k - 1], q = piece[k];
        const double len = std::hypot(q.first - p.first, q.second - p.second);
        EXPECT_LT(len, kW / 3.0) << what << ": a chord across the map";
        const int steps = 1 + (int)(len * 4);
        for (int s = 0; s <= steps; ++s) {
          const double x = p.first + (q.first - p.first) * s / steps, y = p.second + (q.second - p.second) * s / steps;
          drawn.Add(x, y);
          EXPECT_TRUE(InFrame(x, y, kPenFrameMargin + 0.51)) << what << ": drawn outside the frame " << x << "," << y;
          worst_off = std::max(worst_off, truth.Nearest(x, y));
        }
      }
    }
    EXPECT_LE(worst_off, 1.0) << what << ": drawn off the arc";
    double worst_missed = 0;
    for (const Point& p : inside) worst_missed = std::max(worst_missed, drawn.Nearest(p.first, p.second));
    EXPECT_LE(worst_missed, 1.0) << what << ": a part of the arc in the frame is not drawn";
    return r;
  }
};

TEST_F(PenFixture, ALineOverTheHorizonEndsOnIt) {
  Build(PROJ_ORTHO, geodesy::GeodeticToCosines({40 * M_PI / 180, 20 * M_PI / 180}, wgs84), 1e8);
  const PixelPoint centre = PlaneToDevice(g.transform, 0, 0), edge = PlaneToDevice(g.transform, 1, 0);
  const double radius = std::abs(edge.x - centre.x);
  // New York (just in view) to Los Angeles (behind the globe), and back.
  for (bool reverse : {false, true}) {
    const DirectionCosines ny = LatLon(40.64, -73.78), la = LatLon(33.94, -118.41);
    const Recorder r = reverse ? Check(la, ny, "LA-NY") : Check(ny, la, "NY-LA");
    ASSERT_EQ(r.pieces.size(), 1u);
    const Point end = reverse ? r.pieces[0].front() : r.pieces[0].back();
    EXPECT_NEAR(std::hypot(end.first - centre.x, end.second - centre.y), radius, 1.5) << reverse;
  }
  // Wholly behind the globe: nothing.
  EXPECT_TRUE(Check(LatLon(-40, -150), LatLon(-30, -120), "hidden").pieces.empty());
  // Both ends in view near the rim, the arc bowing through the disc.
  Check(LatLon(10, -60), LatLon(20, 100), "rim to rim");
}

TEST_F(PenFixture, ALineAcrossTheSeamSplitsOnEveryWorldProjection) {
  const DirectionCosines tokyo = LatLon(35.55, 139.78), anchorage = LatLon(61.17, -150.0);
  for (uint32_t code : {PROJ_WWMERC, PROJ_WWVIEW, PROJ_WWPLTCRR}) {
    for (double lon0 : {0.0, 10.0, -30.0}) {
      Build(code, LatLon(0, lon0), geodesy::NOVALUE);
      const std::string what = std::string(ProjectionName(code)) + " " + std::to_string(lon0);
      const Recorder r = Check(tokyo, anchorage, what.c_str());
      ASSERT_EQ(r.pieces.size(), 2u) << what;
      // One piece runs to the right edge, the other from the left edge, at
      // the same height.
      const Point right = r.pieces[0].back(), left = r.pieces[1].front();
      EXPECT_GE(right.first, g.xmax - 1.0) << what;
      EXPECT_LE(left.first, g.xmin + 1.0) << what;
      EXPECT_NEAR(right.second, left.second, 1.5) << what;
    }
  }
  // The cut of the conic map, opposite its central meridian.
  Build(PROJ_CONICAL, LatLon(50, 10), 3e8);
  EXPECT_EQ(Check(LatLon(60, 160), LatLon(60, -160), "conical").pieces.size(), 2u);
  // A parallel traced through a point on the seam: the point is drawn on the
  // side of the arc that uses it, so no chord crosses the map.
  Build(PROJ_WWPLTCRR, LatLon(0, 0), geodesy::NOVALUE);
  Check(LatLon(-20, 175), LatLon(-20, 180), "to the seam");
  Check(LatLon(-20, 180), LatLon(-20, -175), "from the seam");
  Recorder r;
  {
    PolylinePen pen(g, r.Output());
    for (double lon = 170; lon <= 190.0; lon += 5) pen.LineTo(LatLon(-20, lon));
  }
  ASSERT_EQ(r.pieces.size(), 2u);
  EXPECT_GE(r.pieces[0].back().first, g.xmax - 1.0);
  EXPECT_LE(r.pieces[1].front().first, g.xmin + 1.0);
  // A meridian on the seam itself (a grid line, a ring's edge along 180
  // degrees) stays on one edge, whichever side its points round to.
  for (uint32_t code : {PROJ_WWPLTCRR, PROJ_WWMERC, PROJ_WWVIEW}) {
    Build(code, LatLon(0, 0), geodesy::NOVALUE);
    Recorder m;
    {
      PolylinePen pen(g, m.Output());
      for (double lat = -70; lat <= 70; lat += 10) pen.LineTo(LatLon(lat, lat < 0 ? -180.0 : 180.0));
    }
    ASSERT_EQ(m.pieces.size(), 1u) << ProjectionName(code);
    for (const Point& p : m.pieces[0]) EXPECT_NEAR(p.first, m.pieces[0][0].first, 1.0) << ProjectionName(code);
    EXPECT_TRUE(m.pieces[0][0].first >= g.xmax - 1.0 || m.pieces[0][0].first <= g.xmin + 1.0);
  }
}

TEST_F(PenFixture, ALegOf179DegreesFollowsItsGreatCircle) {
  const DirectionCosines a = LatLon(20, -30);
  // 179 degrees from a towards the north-east.
  const DirectionCosines east{-std::sin(-30 * M_PI / 180), std::cos(-30 * M_PI / 180), 0};
  const DirectionCosines north = geodesy::Normalised(geodesy::Cross(a, east));
  const DirectionCosines t = geodesy::Normalised({east.x + north.x, east.y + north.y, east.z + north.z});
  const double k = 179 * M_PI / 180;
  const DirectionCosines b = geodesy::Normalised(
      {std::cos(k) * a.x + std::sin(k) * t.x, std::cos(k) * a.y + std::sin(k) * t.y, std::cos(k) * a.z + std::sin(k) * t.z});
  for (uint32_t code : {PROJ_WWPLTCRR, PROJ_WWMERC, PROJ_WWVIEW}) {
    Build(code, LatLon(0, 0), geodesy::NOVALUE);
    Check(a, b, ProjectionName(code).data());
  }
  // On a globe turned away from the arc's plane: an ellipse's half, not a chord.
  const DirectionCosines mid = geodesy::Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
  Build(PROJ_ORTHO, geodesy::Normalised({mid.x + 0.5 * t.x, mid.y + 0.5 * t.y, mid.z + 0.5 * t.z}), 1e8);
  Check(a, b, "ortho");
  Build(PROJ_STEREO, mid, 1e8);
  Check(a, b, "stereo");
}

TEST_F(PenFixture, ALegWithOneEndOutOfViewIsDrawnToTheFrame) {
  Build(PROJ_STEREO, LatLon(50, 10), 1.5e7);
  const DirectionCosines london = LatLon(51.47, -0.45), new_york = LatLon(40.64, -73.78), dubai = LatLon(25.25, 55.37);
  for (auto [a, b, what] : {std::tuple{london, new_york, "London-New York"}, std::tuple{dubai, london, "Dubai-London"}}) {
    const Recorder r = Check(a, b, what);
    ASSERT_EQ(r.pieces.size(), 1u) << what;
  }
  // Gnomonic: the far end beyond 90 degrees cannot be projected at all.
  Build(PROJ_GNOMONIC, LatLon(50, 10), 3e7);
  ASSERT_EQ(Check(london, LatLon(-30, 150), "gnomonic").pieces.size(), 1u);
}

TEST_F(PenFixture, DegenerateLegsDrawNothingAndBreakTheLine) {
  Build(PROJ_WWPLTCRR, LatLon(0, 0), geodesy::NOVALUE);
  Recorder r;
  {
    PolylinePen pen(g, r.Output());
    const DirectionCosines a = LatLon(10, 10);
    pen.MoveTo(a);
    pen.LineTo(a);  // the same position
    pen.LineTo({-a.x, -a.y, -a.z});  // opposite: no great circle
    pen.LineTo({geodesy::NOVALUE, 0, 0});  // no position
    pen.LineTo(LatLon(10, 20));
    EXPECT_EQ(pen.pieces, 0);
    pen.LineTo(LatLon(10, 30));
    EXPECT_EQ(pen.pieces, 1);
  }
  ASSERT_EQ(r.pieces.size(), 1u);
  // The piece runs from 20E to 30E only.
  double x20, y20;
  ASSERT_TRUE(PositionToDeviceExact(g, LatLon(10, 20), &x20, &y20));
  EXPECT_NEAR(r.pieces[0].front().first, x20 - 0.5, 0.01);
}

TEST_F(PenFixture, RandomLegsOnEveryProjection) {
  std::mt19937 rng(20261209);
  std::uniform_real_distribution<double> uz(-1, 1), ul(-180, 180);
  auto random_position = [&] {
    const double z = uz(rng), lon = ul(rng) * M_PI / 180, r = std::sqrt(1 - z * z);
    return DirectionCosines{r * std::cos(lon), r * std::sin(lon), z};
  };
  struct View {
    uint32_t code;
    double lat, lon, scale;
  } views[] = {{PROJ_WWPLTCRR, 0, 40, geodesy::NOVALUE}, {PROJ_WWMERC, 0, -120, geodesy::NOVALUE},
               {PROJ_WWVIEW, 0, 170, geodesy::NOVALUE}, {PROJ_ORTHO, -30, 60, 1e8},
               {PROJ_STEREO, 70, -40, 4e7},           {PROJ_GNOMONIC, 10, 100, 4e7},
               {PROJ_CONICAL, 45, 0, 1e8},            {PROJ_MERCATOR, 20, 30, 5e7},
               {PROJ_EQDISTCYL, -10, -60, 5e7}};
  for (const View& v : views) {
    Build(v.code, LatLon(v.lat, v.lon), v.scale);
    for (int i = 0; i < 12; ++i) {
      const DirectionCosines a = random_position(), b = random_position();
      const std::string what = std::string(ProjectionName(v.code)) + " leg " + std::to_string(i);
      Check(a, b, what.c_str());
    }
  }
}

}  // namespace
}  // namespace display
