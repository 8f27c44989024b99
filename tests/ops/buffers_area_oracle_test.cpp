// Buffer areas on a sphere (a user ellipsoid with a = b): isolated circles
// and single legs against their closed forms, and random lines whose turns
// stay below 90 degrees against S2BufferOperation's RIGHT and LEFT buffers
// (their union), and its BOTH buffer when the widths are equal, the S2
// areas taken by GeographicLib on the same sphere. OMBREL_BUFFERS_FULL=1
// runs 200 lines instead of 24.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <s2/s2buffer_operation.h>
#include <s2/s2builderutil_s2polygon_layer.h>
#include <s2/s2debug.h>
#include <s2/s2latlng.h>
#include <s2/s2polygon.h>

#include <algorithm>
#include <cstdio>

#include "lib/cells/measure_object.h"
#include "lib/ops/rset_buffers.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using cells::PointNode;
using V = geodesy::DirectionCosines;

// Neither the earth's mean radius nor a: a factor taken from the wrong
// radius shows.
constexpr double kR = 6400000.0;

struct Arena : OutputArena {
  explicit Arena(std::size_t n = 256 << 20) : OutputArena(n, 77) {}
};

class BufferAreas : public IsotypeSuite {
 protected:
  const geodesy::Ellipsoid e_ = geodesy::MakeUserEllipsoid(kR, kR);
};

double Angle(V a, V b) {
  const V c = geodesy::Cross(a, b);
  return std::atan2(std::sqrt(geodesy::Dot(c, c)), geodesy::Dot(a, b));
}

double RegionArea(cells::CellIndex& idx, const cells::Object& o, const geodesy::Ellipsoid& e) {
  const cells::ObjectMeasure m = cells::MeasureRset(idx, o, e, 's', nullptr);
  return m.status == 0 ? m.area : -1.0;
}

// N points far enough apart that their circles do not meet.
std::vector<V> IsolatedPoints(int count, double apart, std::mt19937_64& rng) {
  std::vector<V> pts;
  while (static_cast<int>(pts.size()) < count) {
    const V p = RandomUnit(rng);
    bool ok = true;
    for (const V& q : pts) ok = ok && Angle(p, q) > apart;
    if (ok) pts.push_back(p);
  }
  return pts;
}

TEST_F(BufferAreas, IsolatedCirclesHaveTheCapArea) {
  std::mt19937_64 rng(31);
  for (double d : {20000.0, 300000.0, 1500000.0}) {
    const int count = d > 1e6 ? 6 : 40;
    const std::vector<V> pts = IsolatedPoints(count, 2.2 * d / kR * 1.01, rng);
    std::vector<PointNode> nodes;
    for (const V& p : pts) nodes.push_back({p, 3});
    HeapObject ps;
    Build(*idx_, cells::kPset, nodes, ps);
    ASSERT_EQ(ps.status, 0);
    const double want = count * M_PI * d * d * (1.0 - d * d / (12.0 * kR * kR));
    for (int density = 1; density <= 6; ++density) {
      Arena a;
      ASSERT_EQ(ops::q7_RsetNearPoints(a.Context(*idx_), &e_, 1, density, d, ps.obj), 0);
      const double got = RegionArea(*idx_, a.out, e_);
      const double err = (got - want) / want;
      std::printf("circles d %.0f km density %d: relative area error %+.2e\n", d / 1000, density, err);
      if (density == 6) {
        EXPECT_LT(std::fabs(err), 2e-4) << "d " << d;
      }
      if (density == 2) {
        EXPECT_LT(std::fabs(err), 1e-3) << "d " << d;
      }
      // The inscribed polygon alone (without the area-equal factor) would
      // fall short by 1 - sin(2 pi / n) n / (2 pi): 1.24% at density 2.
      if (density <= 2) {
        const int n = ops::DensityVertices(density);
        const double inscribed = std::sin(2.0 * M_PI / n) * n / (2.0 * M_PI);
        EXPECT_LT(std::fabs(err), (1.0 - inscribed) / 5.0) << "d " << d << " density " << density;
      }
    }
  }
}

// One leg of angle len with widths wr and wl (angles): a band of each side
// and two quarter circles of each side's width.
double LegArea(double len, double wr, double wl) {
  return kR * kR * (len * (std::sin(wr) + std::sin(wl)) + M_PI * (2.0 - std::cos(wr) - std::cos(wl)));
}

TEST_F(BufferAreas, OneLegHasTheBandAndCapArea) {
  const double km = 1000.0;
  struct Case { double lat1, lon1, lat2, lon2, right, left; };
  const Case cases[] = {
      {10, 10, 10.9, 10.2, 30 * km, 10 * km},     // 100 km
      {-40, 170, -35, -172, 50 * km, 50 * km},    // across +-180
      {60, -20, 30, 40, 0.0, 20 * km},            // one-sided, left
      {5, 100, -3, 60, 80 * km, 0.0},             // one-sided, right
      {-10, -30, 10, 140, 25 * km, 10 * km},      // over a quarter circle: cut into parts
      {85, 0, 80, 180, 0.1 * kR, 0.05 * kR},      // over the pole, the widest width
  };
  for (const Case& c : cases) {
    const V a = LatLonDeg(c.lat1, c.lon1), b = LatLonDeg(c.lat2, c.lon2);
    HeapObject ls;
    Build(*idx_, cells::kLset, {{a, 0}, {b, 0}, cells::Mark(1)}, ls);
    ASSERT_EQ(ls.status, 0);
    const std::vector<std::vector<V>> stored = ItemVertices(*idx_, ls.obj);
    const double len = Angle(stored[0][0], stored[0][1]);
    const double want = LegArea(len, c.right / kR, c.left / kR);
    for (int density = 1; density <= 6; ++density) {
      Arena near;
      ASSERT_EQ(ops::q7_LsetExpand(near.Context(*idx_), &e_, 1, density, density, c.right, c.left, ls.obj), 0);
      const double got = RegionArea(*idx_, near.out, e_);
      const double err = (got - want) / want;
      std::printf("leg %.0f km, widths %.0f / %.0f km, density %d: relative area error %+.2e\n", len * kR / km,
                  c.right / km, c.left / km, density, err);
      if (density == 6) {
        EXPECT_LT(std::fabs(err), 1e-3) << c.lat1 << " " << c.lon1;
        // Afar and near make up the whole sphere.
        Arena afar;
        ASSERT_EQ(ops::q7_LsetExpand(afar.Context(*idx_), &e_, 2, density, density, c.right, c.left, ls.obj), 0);
        EXPECT_NEAR(RegionArea(*idx_, afar.out, e_) + got, 4.0 * M_PI * kR * kR, 1e-9 * 4.0 * M_PI * kR * kR);
      }
    }
  }
}

// A random line whose turns stay below max_turn degrees either way; legs of
// 10 to 800 km; kind 1 starts beside +-180 degrees, kind 2 near a pole.
std::vector<V> RandomLine(std::mt19937_64& rng, int kind, double max_turn) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  V p = kind == 1 ? LatLonDeg(60.0 * (u(rng) - 0.5), 179.0 + 2.0 * u(rng))
      : kind == 2 ? LatLonDeg(87.0 + 2.0 * u(rng), 360.0 * u(rng))
                  : RandomUnit(rng);
  const V east = Unitised(geodesy::Cross(std::fabs(p.z) < 0.9 ? V{0, 0, 1} : V{1, 0, 0}, p));
  const V north = geodesy::Cross(p, east);
  const double h = 2.0 * M_PI * u(rng);
  V dir{east.x * std::cos(h) + north.x * std::sin(h), east.y * std::cos(h) + north.y * std::sin(h),
        east.z * std::cos(h) + north.z * std::sin(h)};
  std::vector<V> line{p};
  const int legs = 2 + static_cast<int>(rng() % 12);
  for (int i = 0; i < legs; ++i) {
    const V q = Along(p, dir, (10.0 + 790.0 * u(rng)) * 1000.0 / kR);
    const double turn = (u(rng) - 0.5) * 2.0 * max_turn * M_PI / 180.0;
    line.push_back(q);
    dir = TurnedAt(p, q, turn);
    p = q;
  }
  return line;
}

// Distance of q to the arc a-b with its ends.
double ArcDistance(V a, V b, V q) {
  const V u = Unitised(geodesy::Cross(a, b));
  if (geodesy::Dot(q, geodesy::Cross(u, a)) >= 0.0 && geodesy::Dot(q, geodesy::Cross(b, u)) >= 0.0)
    return std::asin(std::min(1.0, std::fabs(geodesy::Dot(q, u))));
  return std::min(Angle(a, q), Angle(b, q));
}

// The least distance between two legs of the line that are not neighbours
// (sampled every 2 km along the legs).
double Clearance(const std::vector<V>& line) {
  double least = M_PI;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    const V a = line[i], b = line[i + 1];
    const double len = Angle(a, b);
    const int steps = std::max(1, static_cast<int>(len / (2000.0 / kR)));
    const V dir = geodesy::Cross(Unitised(geodesy::Cross(a, b)), a);
    for (int s = 0; s <= steps; ++s) {
      const V p = Along(a, dir, len * s / steps);
      for (std::size_t j = i + 2; j + 1 < line.size(); ++j) least = std::min(least, ArcDistance(line[j], line[j + 1], p));
    }
  }
  return least;
}

// S2's buffer of one side (or both) of the polylines, merged.
std::unique_ptr<S2Polygon> S2Buffer(const std::vector<std::vector<S2Point>>& lines, double width,
                                    S2BufferOperation::PolylineSide side) {
  auto poly = std::make_unique<S2Polygon>();
  if (width <= 0.0) return poly;
  S2BufferOperation::Options o(S1Angle::Radians(width / kR));
  o.set_error_fraction(1e-4);
  o.set_polyline_side(side);
  o.set_end_cap_style(S2BufferOperation::EndCapStyle::ROUND);
  S2BufferOperation op(std::make_unique<s2builderutil::S2PolygonLayer>(poly.get()), o);
  for (const auto& line : lines) op.AddPolyline(line);
  S2Error error;
  EXPECT_TRUE(op.Build(&error)) << error;
  return poly;
}

// The area of an S2 polygon on the sphere of radius kR by GeographicLib:
// every loop's signed area along its oriented vertices.
double GeographicArea(const S2Polygon& p) {
  const GeographicLib::Geodesic g(kR, 0.0);
  double total = 0.0;
  for (int k = 0; k < p.num_loops(); ++k) {
    const S2Loop* l = p.loop(k);
    GeographicLib::PolygonArea pa(g);
    for (int j = 0; j < l->num_vertices(); ++j) {
      const S2LatLng ll(l->oriented_vertex(j));
      pa.AddPoint(ll.lat().degrees(), ll.lng().degrees());
    }
    double perimeter = 0.0, area = 0.0;
    pa.Compute(false, true, perimeter, area);
    total += area;
  }
  return total;
}

// S2's RIGHT and LEFT buffers of the lines, merged; legs: each leg buffered
// as a polyline of its own. Leg by leg that is the side rule exactly (a band
// and two quarter circles per side and leg); whole lines leave out, at
// every turn, the two wedges of the turn angle where a leg's end
// half-disc on the inner side reaches across the other leg (inside the
// other side's band when the widths are equal).
double S2SidesArea(const std::vector<S2Point>& line, double right, double left, bool legs) {
  std::vector<std::vector<S2Point>> parts;
  if (legs) {
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
      if (line[i] != line[i + 1]) parts.push_back({line[i], line[i + 1]});
  } else {
    parts.push_back(line);
  }
  auto r = S2Buffer(parts, right, S2BufferOperation::PolylineSide::RIGHT);
  auto l = S2Buffer(parts, left, S2BufferOperation::PolylineSide::LEFT);
  S2Polygon both_sides;
  both_sides.InitToUnion(*r, *l);
  const double area = GeographicArea(both_sides);
  EXPECT_NEAR(area, both_sides.GetArea() * kR * kR, 1e-6 * area);
  return area;
}

struct Worst {
  double err = 0.0;
  int line = -1;
  void Take(double e, int i) {
    if (std::fabs(e) > std::fabs(err)) *this = {e, i};
  }
};

// The line as stored (S2 buffers the same vertices as the buffer does).
std::vector<S2Point> StoredLine(cells::CellIndex& idx, const std::vector<V>& drawn, HeapObject& ls) {
  std::vector<PointNode> nodes;
  for (const V& p : drawn) nodes.push_back({p, 0});
  nodes.push_back(cells::Mark(1));
  Build(idx, cells::kLset, nodes, ls);
  std::vector<S2Point> line;
  if (ls.status != 0) return line;
  const std::vector<std::vector<V>> stored = ItemVertices(idx, ls.obj);
  if (stored.size() == 1)
    for (const V& p : stored[0]) line.emplace_back(p.x, p.y, p.z);
  return line;
}

const double kKm = 1000.0;
struct Widths { double right, left; };
const Widths kWidths[] = {{30 * kKm, 10 * kKm}, {0.0, 20 * kKm}, {20 * kKm, 0.0}, {50 * kKm, 50 * kKm}};
const int kDensities[] = {2, 4, 6};

// Lines with turns below 80 degrees whose legs that are no neighbours stay
// three widths apart (S2 leaves it open whether a one-sided buffer reaches
// across another leg closer than its width): within 0.3% of S2's RIGHT and
// LEFT buffers of each leg (the side rule), and of the whole line's RIGHT
// and LEFT buffers and its BOTH buffer when the widths are equal. With
// unequal widths the whole line's buffers are smaller by the turn wedges.
TEST_F(BufferAreas, GentleLinesMatchS2) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  FLAGS_s2debug = false;
  const bool full = std::getenv("OMBREL_BUFFERS_FULL") != nullptr;
  const int lines = full ? 200 : Sanitized() ? 4 : 24;
  std::mt19937_64 rng(90);
  Worst legs[6][4], whole[6][4], both[6];
  Arena a(64 << 20);
  int drawn_lines = 0;
  for (int i = 0; i < lines; ++i) {
    std::vector<V> drawn;
    do {
      drawn = RandomLine(rng, i % 6 == 1 ? 1 : 0, 80.0);
      ++drawn_lines;
    } while (Clearance(drawn) < 3.0 * 50000.0 / kR);
    HeapObject ls;
    const std::vector<S2Point> line = StoredLine(*idx_, drawn, ls);
    ASSERT_GE(line.size(), 2u);
    for (int w = 0; w < 4; ++w) {
      const Widths& wd = kWidths[w];
      const double by_legs = S2SidesArea(line, wd.right, wd.left, true);
      const double by_line = S2SidesArea(line, wd.right, wd.left, false);
      const double by_both =
          wd.right == wd.left ? GeographicArea(*S2Buffer({line}, wd.right, S2BufferOperation::PolylineSide::BOTH)) : 0.0;
      for (int density : kDensities) {
        ASSERT_EQ(ops::q7_LsetExpand(a.Context(*idx_), &e_, 1, density, density, wd.right, wd.left, ls.obj), 0)
            << "line " << i;
        const double got = RegionArea(*idx_, a.out, e_);
        const double e_legs = (got - by_legs) / by_legs, e_line = (got - by_line) / by_line;
        legs[density - 1][w].Take(e_legs, i);
        whole[density - 1][w].Take(e_line, i);
        const std::string what = "line " + std::to_string(i) + " widths " + std::to_string(wd.right / kKm) + " / " +
                                 std::to_string(wd.left / kKm) + " density " + std::to_string(density);
        EXPECT_LT(std::fabs(e_legs), 3e-3) << what;
        if (wd.right == wd.left) {
          EXPECT_LT(std::fabs(e_line), 3e-3) << what;
          const double e_both = (got - by_both) / by_both;
          both[density - 1].Take(e_both, i);
          EXPECT_LT(std::fabs(e_both), 3e-3) << what;
        } else {
          EXPECT_GT(e_line, -3e-3) << what;
        }
      }
    }
  }
  std::printf("%d lines drawn for %d that keep their legs apart\n", drawn_lines, lines);
  for (int density : kDensities)
    for (int w = 0; w < 4; ++w)
      std::printf("widths %2.0f / %2.0f km, density %d: largest relative difference from S2 leg by leg %+.2e, "
                  "whole line %+.2e\n",
                  kWidths[w].right / kKm, kWidths[w].left / kKm, density, legs[density - 1][w].err,
                  whole[density - 1][w].err);
  for (int density : kDensities)
    std::printf("widths 50 / 50 km, density %d: largest relative difference from S2's BOTH %+.2e\n", density,
                both[density - 1].err);
}

// Lines with turns of up to 170 degrees, crossing themselves and doubling
// back, some across +-180 degrees or over a pole: within 0.3% of S2's RIGHT
// and LEFT buffers leg by leg, where S2 leaves nothing open.
TEST_F(BufferAreas, SharpLinesMatchS2LegByLeg) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  FLAGS_s2debug = false;
  const bool full = std::getenv("OMBREL_BUFFERS_FULL") != nullptr;
  const int lines = full ? 200 : Sanitized() ? 4 : 20;
  std::mt19937_64 rng(91);
  Worst legs[6][4];
  Arena a(64 << 20);
  for (int i = 0; i < lines; ++i) {
    const std::vector<V> drawn = RandomLine(rng, i % 10 == 3 ? 1 : i % 10 == 7 ? 2 : 0, 170.0);
    HeapObject ls;
    const std::vector<S2Point> line = StoredLine(*idx_, drawn, ls);
    ASSERT_GE(line.size(), 2u);
    for (int w = 0; w < 4; ++w) {
      const Widths& wd = kWidths[w];
      const double by_legs = S2SidesArea(line, wd.right, wd.left, true);
      for (int density : {2, 4}) {
        ASSERT_EQ(ops::q7_LsetExpand(a.Context(*idx_), &e_, 1, density, density, wd.right, wd.left, ls.obj), 0)
            << "line " << i;
        const double err = (RegionArea(*idx_, a.out, e_) - by_legs) / by_legs;
        legs[density - 1][w].Take(err, i);
        EXPECT_LT(std::fabs(err), 3e-3) << "line " << i << " widths " << wd.right / kKm << " / " << wd.left / kKm
                                        << " density " << density;
      }
    }
  }
  for (int density : {2, 4})
    for (int w = 0; w < 4; ++w)
      std::printf("%d sharp lines, widths %2.0f / %2.0f km, density %d: largest relative difference from S2 leg by "
                  "leg %+.2e (line %d)\n",
                  lines, kWidths[w].right / kKm, kWidths[w].left / kKm, density, legs[density - 1][w].err,
                  legs[density - 1][w].line);
}

}  // namespace
