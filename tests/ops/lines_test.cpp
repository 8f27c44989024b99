// Points near lines and the crossings of lines, against brute force on the
// sphere: every pair of great-circle legs is intersected directly, and the
// crossings must be the ones q7_LsetIntersections finds, within the fuzz.
#include <gtest/gtest.h>

#include "lib/geodesy/constants.h"
#include "lib/ops/lset_intersections.h"
#include "lib/ops/pset_ops.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using geodesy::DirectionCosines;

struct Arena : OutputArena {
  explicit Arena(std::size_t n = 16 << 20) : OutputArena(n, 99) {}
};

class Lines : public IsotypeSuite {};

DirectionCosines Unit(DirectionCosines p) { return geodesy::Normalised(p); }

std::vector<DirectionCosines> Restored(cells::CellIndex& idx, const cells::Object& o) {
  std::vector<cells::PointNode> v;
  cells::CollectVertices(idx, o, v);
  std::vector<DirectionCosines> out;
  for (const auto& n : v)
    if (!cells::IsMark(n)) out.push_back(n.p);
  return out;
}

TEST_F(Lines, NearAndAfar) {
  const auto a = LatLonDeg(10, 10), b = LatLonDeg(10, 12);
  std::vector<cells::PointNode> line{{a, 0}, {b, 0}, cells::Mark(1), cells::Mark(1)};
  HeapObject l;
  Build(*idx_, cells::kLset, line, l, 10);
  const auto mid = Unit({a.x + b.x, a.y + b.y, a.z + b.z});
  const auto off100 = Unit({mid.x, mid.y, mid.z + 100.0 / 6371000.0});
  std::vector<cells::PointNode> pts{{a, 1}, {mid, 2}, {off100, 3}, {LatLonDeg(-40, 10), 4}};
  HeapObject p;
  Build(*idx_, cells::kPset, pts, p, 11);
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  Arena ar;
  // Below 0.0001 m only points on the line count: the vertex and the midpoint.
  ASSERT_EQ(ops::q7_PsetNearLines(ar.Context(*idx_, 11), p.obj, l.obj, &e, 1, 0.00005), 0);
  EXPECT_EQ(cells::VertexCount(ar.out), 2);
  ASSERT_EQ(ops::q7_PsetNearLines(ar.Context(*idx_, 11), p.obj, l.obj, &e, 1, 1000.0), 0);
  EXPECT_EQ(cells::VertexCount(ar.out), 3);
  ASSERT_EQ(ops::q7_PsetNearLines(ar.Context(*idx_, 11), p.obj, l.obj, &e, 2, 1000.0), 0);
  EXPECT_EQ(cells::VertexCount(ar.out), 1);
  ASSERT_EQ(ops::q7_PsetNearLines(ar.Context(*idx_, 11), p.obj, l.obj, &e, 2, 50.0), 0);
  EXPECT_EQ(cells::VertexCount(ar.out), 2);
  // Far beyond the line's cells: a proximity of 4000 km reaches the last point.
  ASSERT_EQ(ops::q7_PsetNearLines(ar.Context(*idx_, 11), p.obj, l.obj, &e, 1, 6000000.0), 0);
  EXPECT_EQ(cells::VertexCount(ar.out), 4);
  EXPECT_EQ(ops::q7_PsetNearLines(ar.Context(*idx_, 11), p.obj, l.obj, &e, 1, e.a * 1.01),
            ops::DERIVE_BAD_PARAMETERS);
}

// Brute force: the crossing of arcs ab and cd, if it is inside both.
bool ArcCrossing(const DirectionCosines& a, const DirectionCosines& b, const DirectionCosines& c,
                 const DirectionCosines& d, DirectionCosines& x) {
  const DirectionCosines n1 = geodesy::Cross(a, b), n2 = geodesy::Cross(c, d);
  DirectionCosines m = geodesy::Cross(n1, n2);
  const double l = std::sqrt(geodesy::Dot(m, m));
  if (l < 1e-15) return false;
  m = {m.x / l, m.y / l, m.z / l};
  for (int s = 0; s < 2; ++s) {
    const DirectionCosines y = s ? DirectionCosines{-m.x, -m.y, -m.z} : m;
    if (geodesy::Dot(geodesy::Cross(a, y), n1) >= 0 && geodesy::Dot(geodesy::Cross(y, b), n1) >= 0 &&
        geodesy::Dot(geodesy::Cross(c, y), n2) >= 0 && geodesy::Dot(geodesy::Cross(y, d), n2) >= 0) {
      x = y;
      return true;
    }
  }
  return false;
}

std::vector<cells::PointNode> RandomLines(std::mt19937_64& rng, int lines, double step_deg) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_int_distribution<int> len(2, 6);
  std::vector<cells::PointNode> out;
  for (int i = 0; i < lines; ++i) {
    // Lines in one 20-degree patch, so that they cross often.
    DirectionCosines p = LatLonDeg(20 + 10 * u(rng), 30 + 10 * u(rng));
    const int n = len(rng);
    for (int k = 0; k < n; ++k) {
      out.push_back({p, 0});
      p = LatLonDeg(std::asin(p.z) * 180 / M_PI + step_deg * u(rng),
                    std::atan2(p.y, p.x) * 180 / M_PI + step_deg * u(rng));
    }
    out.push_back(cells::Mark(i + 1));
  }
  out.push_back(cells::Mark(0));
  return out;
}

struct Leg3 {
  DirectionCosines a, b;
  int line, index;
};

std::vector<Leg3> LegsOf(const std::vector<cells::PointNode>& restored) {
  std::vector<Leg3> legs;
  int line = 0, index = 0;
  for (std::size_t i = 0; i + 1 < restored.size(); ++i) {
    if (cells::IsMark(restored[i])) {
      ++line;
      index = 0;
      continue;
    }
    if (!cells::IsMark(restored[i + 1])) legs.push_back({restored[i].p, restored[i + 1].p, line, index++});
  }
  return legs;
}

void Compare(cells::CellIndex& idx, const cells::Object& found, const std::vector<DirectionCosines>& brute) {
  const std::vector<DirectionCosines> ours = Restored(idx, found);
  const double tol2 = 1e-14;  // about 0.6 m: the quantisation of the output is 1e-9 radians
  int missing = 0, extra = 0;
  for (const auto& x : brute) {
    bool hit = false;
    for (const auto& y : ours) hit = hit || geodesy::ChordSq(x, y) <= tol2;
    missing += !hit;
  }
  for (const auto& y : ours) {
    bool hit = false;
    for (const auto& x : brute) hit = hit || geodesy::ChordSq(x, y) <= tol2;
    extra += !hit;
  }
  EXPECT_EQ(missing, 0) << brute.size() << " crossings by brute force";
  EXPECT_EQ(extra, 0) << ours.size() << " crossings found";
  std::printf("%zu crossings by brute force, %zu found, %d missing, %d extra\n", brute.size(), ours.size(),
              missing, extra);
}

TEST_F(Lines, CrossingsOfTwoRandomLineSetsMatchBruteForce) {
  std::mt19937_64 rng(42);
  HeapObject a, b;
  Build(*idx_, cells::kLset, RandomLines(rng, 150, 3.0), a, 10);
  Build(*idx_, cells::kLset, RandomLines(rng, 150, 3.0), b, 10);
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  std::vector<cells::PointNode> ra, rb;
  cells::CollectVertices(*idx_, a.obj, ra);
  cells::CollectVertices(*idx_, b.obj, rb);
  std::vector<DirectionCosines> brute;
  for (const Leg3& x : LegsOf(ra))
    for (const Leg3& y : LegsOf(rb)) {
      DirectionCosines c;
      if (ArcCrossing(x.a, x.b, y.a, y.b, c)) brute.push_back(c);
    }
  Arena ar;
  ASSERT_EQ(ops::q7_LsetIntersections(ar.Context(*idx_, 10), a.obj, &b.obj, 0.0), 0);
  Compare(*idx_, ar.out, brute);
}

TEST_F(Lines, SelfCrossingsMatchBruteForce) {
  std::mt19937_64 rng(43);
  HeapObject a;
  Build(*idx_, cells::kLset, RandomLines(rng, 120, 4.0), a, 10);
  std::vector<cells::PointNode> ra;
  cells::CollectVertices(*idx_, a.obj, ra);
  const std::vector<Leg3> legs = LegsOf(ra);
  std::vector<DirectionCosines> brute;
  for (std::size_t i = 0; i < legs.size(); ++i)
    for (std::size_t j = i + 1; j < legs.size(); ++j) {
      if (legs[i].line == legs[j].line && std::abs(legs[i].index - legs[j].index) <= 1) continue;
      DirectionCosines c;
      if (ArcCrossing(legs[i].a, legs[i].b, legs[j].a, legs[j].b, c)) brute.push_back(c);
    }
  Arena ar;
  ASSERT_EQ(ops::q7_LsetIntersections(ar.Context(*idx_, 10), a.obj, nullptr, 0.0), 0);
  Compare(*idx_, ar.out, brute);
  // Without an output: only "not empty".
  ops::DeriveContext probe = ar.Context(*idx_, 10);
  probe.output = nullptr;
  EXPECT_EQ(ops::q7_LsetIntersections(probe, a.obj, nullptr, 0.0), 0);
}

}  // namespace
