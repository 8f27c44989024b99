// Nearest and farthest searches against brute force over the objects' own
// restored points and over the input legs, and the edge cases of the
// searches: empty and one-point sets, poles and the 180 degree meridian, an
// index with thin cells, a leg through the antipode, tiny proximities, equal
// distances and a workspace too small.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "lib/cells/cell_grow.h"
#include "lib/cells/cell_locate.h"
#include "lib/geodesy/constants.h"
#include "lib/ops/derive_params.h"
#include "lib/ops/nearest.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;

// OMBREL_NEAREST_FULL=1 runs the oracle comparisons at their full counts.
int Count(int quick, int full) {
  if (std::getenv("OMBREL_NEAREST_FULL")) return full;
  return Sanitized() ? quick / 10 : quick;
}
using geodesy::DirectionCosines;

double Angle(const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines c = geodesy::Cross(a, b);
  return std::atan2(std::sqrt(geodesy::Dot(c, c)), geodesy::Dot(a, b));
}

// The angle from q to the great-circle arc a-b, computed directly.
double ArcAngle(const DirectionCosines& q, const DirectionCosines& a, const DirectionCosines& b) {
  double best = std::min(Angle(q, a), Angle(q, b));
  DirectionCosines n = geodesy::Cross(a, b);
  const double l = std::sqrt(geodesy::Dot(n, n));
  if (l < 1e-300) return best;
  n = {n.x / l, n.y / l, n.z / l};
  const double qn = geodesy::Dot(q, n);
  const DirectionCosines f{q.x - qn * n.x, q.y - qn * n.y, q.z - qn * n.z};
  if (geodesy::Dot(geodesy::Cross(a, f), n) >= 0 && geodesy::Dot(geodesy::Cross(f, b), n) >= 0)
    best = std::min(best, std::asin(std::min(1.0, std::fabs(qn))));
  return best;
}

// Brute force over the cache's restored points: the index (in the cache's
// point order) of the nearest or farthest, lowest index among equals.
std::int64_t BrutePoint(const ops::NearestCache& c, const DirectionCosines& q, int mode) {
  std::int64_t best = -1;
  double bd = 0;
  for (std::size_t i = 0; i < c.points.size(); ++i) {
    const double d = geodesy::ChordSq(q, c.points[i]);
    if (best < 0 || (mode == 1 ? d < bd : d > bd)) {
      best = static_cast<std::int64_t>(i);
      bd = d;
    }
  }
  return best;
}

std::int64_t HitIndex(const ops::NearestCache& c, const ops::NearestHit& h) {
  return c.dir_first[c.dir_of[h.cell]] + h.index;
}

class Nearest : public IsotypeSuite {
 protected:
  static std::vector<cells::PointNode> RandomPoints(int n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::vector<cells::PointNode> nodes;
    for (int i = 0; i < n; ++i) nodes.push_back({RandomUnit(rng), static_cast<std::uint64_t>(i + 1)});
    return nodes;
  }
};

TEST_F(Nearest, PointsEqualBruteForceNearestAndFarthest) {
  HeapObject h;
  Build(*idx_, cells::kPset, RandomPoints(10000, 2), h, 11);
  ASSERT_EQ(h.status, 0);
  ops::NearestCache c;
  ASSERT_EQ(ops::PrepareNearest(*idx_, h.obj, c), 0);
  ASSERT_EQ(c.points.size(), 10000u);
  std::mt19937_64 rng(1);
  const int queries = Count(10000, 100000);
  int agree[2] = {0, 0};
  for (int i = 0; i < queries; ++i) {
    const DirectionCosines q = RandomUnit(rng);
    for (int mode = 1; mode <= 2; ++mode) {
      ops::NearestHit hit, ref;
      ASSERT_EQ(ops::q7_PsetNearest(*idx_, c, q, mode, &hit), 1);
      if (i % 10 == 0) {  // the single pass is the slow one
        ASSERT_EQ(ops::q7_PsetNearestReference(*idx_, c, q, mode, &ref), 1);
        EXPECT_EQ(hit.cell, ref.cell);
        EXPECT_EQ(hit.index, ref.index);
      }
      const std::int64_t b = BrutePoint(c, q, mode);
      if (HitIndex(c, hit) == b) ++agree[mode - 1];
      EXPECT_EQ(hit.datum[0], c.point_attr[b]);
    }
  }
  EXPECT_EQ(agree[0], queries);
  EXPECT_EQ(agree[1], queries);
}

// A set in most cells is searched by the flood from the query's cell, a
// sparse one through the tree of caps: both give the single pass's point.
TEST_F(Nearest, DenseAndSparsePointSetsEqualTheSinglePass) {
  for (const int n : {40000, 3000}) {
    HeapObject h;
    Build(*idx_, cells::kPset, RandomPoints(n, 5), h, 11);
    ASSERT_EQ(h.status, 0);
    ops::NearestCache c;
    ASSERT_EQ(ops::PrepareNearest(*idx_, h.obj, c), 0);
    std::mt19937_64 rng(6);
    for (int i = 0; i < Count(500, 5000); ++i) {
      const DirectionCosines q = RandomUnit(rng);
      for (int mode = 1; mode <= 2; ++mode) {
        ops::NearestHit hit, ref;
        ASSERT_EQ(ops::q7_PsetNearest(*idx_, c, q, mode, &hit), 1);
        ASSERT_EQ(ops::q7_PsetNearestReference(*idx_, c, q, mode, &ref), 1);
        EXPECT_EQ(hit.cell, ref.cell) << n << " " << i << " mode " << mode;
        EXPECT_EQ(hit.index, ref.index);
        EXPECT_EQ(HitIndex(c, hit), BrutePoint(c, q, mode));
      }
    }
  }
}

TEST_F(Nearest, FarthestWithThePointerOnAPointAndTiesInFoundOrder) {
  // Three points: q itself, and two at the same distance on either side.
  const DirectionCosines q = LatLonDeg(10, 20);
  std::vector<cells::PointNode> nodes = {{q, 1}, {LatLonDeg(10, 21), 2}, {LatLonDeg(10, 19), 3},
                                         {LatLonDeg(-10, -160), 4}};
  HeapObject h;
  Build(*idx_, cells::kPset, nodes, h, 11);
  ASSERT_EQ(h.status, 0);
  ops::NearestCache c;
  ASSERT_EQ(ops::PrepareNearest(*idx_, h.obj, c), 0);
  ops::NearestHit hit;
  ASSERT_EQ(ops::q7_PsetNearest(*idx_, c, q, 2, &hit), 1);
  EXPECT_EQ(hit.datum[0], 4u);  // the antipode, not the point under the pointer
  ASSERT_EQ(ops::q7_PsetNearest(*idx_, c, q, 1, &hit), 1);
  EXPECT_EQ(hit.datum[0], 1u);
  EXPECT_LT(hit.chord2, 1e-20);
  // Ordered from the midpoint of the two equal ones: both, in the order found.
  std::int32_t found[ops::ORDERED_MAX][2];
  double d2[ops::ORDERED_MAX];
  std::vector<std::uint8_t> mem(1 << 20);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size()));
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const int n = ops::q7_PsetOrdered(*idx_, &ws, c, &e, q, 200000.0, 10, found, d2);
  ASSERT_EQ(n, 3);
  EXPECT_LT(d2[0], 1e-20);
  EXPECT_NEAR(d2[1], d2[2], 1e-15);
  EXPECT_EQ(ws.top, ws.base);  // the workspace is given back
  // A full list that ends at equal distances keeps the first found.
  const int two = ops::q7_PsetOrdered(*idx_, &ws, c, &e, q, 200000.0, 2, found, d2);
  ASSERT_EQ(two, 2);
  EXPECT_LT(d2[0], 1e-20);
}

TEST_F(Nearest, EmptyOnePointPolesAndTheDateLine) {
  ops::NearestCache c;
  HeapObject empty;
  Build(*idx_, cells::kPset, {}, empty, 11);
  ASSERT_EQ(ops::PrepareNearest(*idx_, empty.obj, c), 0);
  ops::NearestHit hit;
  EXPECT_EQ(ops::q7_PsetNearest(*idx_, c, LatLonDeg(0, 0), 1, &hit), 0);
  EXPECT_EQ(ops::q7_PsetNearest(*idx_, c, LatLonDeg(0, 0), 2, &hit), 0);
  std::int32_t found[ops::ORDERED_MAX][2];
  double d2[ops::ORDERED_MAX];
  EXPECT_EQ(ops::q7_PsetOrdered(*idx_, nullptr, c, nullptr, LatLonDeg(0, 0), 0.1, 5, found, d2), 0);

  HeapObject one;
  Build(*idx_, cells::kPset, {{LatLonDeg(45, 7), 9}}, one, 11);
  ASSERT_EQ(ops::PrepareNearest(*idx_, one.obj, c), 0);
  for (int mode = 1; mode <= 3; ++mode) {
    const int r = ops::q7_PsetNearest(*idx_, c, LatLonDeg(-45, -173), mode, &hit);
    EXPECT_EQ(r, mode == 3 ? 0 : 1) << mode;  // mode 3 is no mode
    if (r) EXPECT_EQ(hit.datum[0], 9u);
  }

  // Points at both poles and on both sides of 180 degrees.
  std::vector<cells::PointNode> nodes = {{LatLonDeg(90, 0), 1},      {LatLonDeg(-90, 0), 2},
                                         {LatLonDeg(0, 180), 3},     {LatLonDeg(0, -179.999), 4},
                                         {LatLonDeg(89.9, 45), 5},   {LatLonDeg(-89.9, -135), 6}};
  for (int i = 0; i < 60; ++i) nodes.push_back({LatLonDeg(-60 + 2 * i, 179.5 - (i % 3)), 100u + i});
  HeapObject poles;
  Build(*idx_, cells::kPset, nodes, poles, 11);
  ASSERT_EQ(ops::PrepareNearest(*idx_, poles.obj, c), 0);
  std::mt19937_64 rng(5);
  const DirectionCosines probes[] = {LatLonDeg(90, 0),   LatLonDeg(-90, 0),       LatLonDeg(89.95, 170),
                                     LatLonDeg(0, 180),  LatLonDeg(0.001, -180),  LatLonDeg(-89.99, 0)};
  for (const DirectionCosines& q : probes)
    for (int mode = 1; mode <= 2; ++mode) {
      ASSERT_EQ(ops::q7_PsetNearest(*idx_, c, q, mode, &hit), 1);
      EXPECT_EQ(HitIndex(c, hit), BrutePoint(c, q, mode));
    }
  for (int i = 0; i < 2000; ++i) {
    const DirectionCosines q = RandomUnit(rng);
    ASSERT_EQ(ops::q7_PsetNearest(*idx_, c, q, 1, &hit), 1);
    EXPECT_EQ(HitIndex(c, hit), BrutePoint(c, q, 1));
  }
}

TEST_F(Nearest, AllPointsInOneCell) {
  const DirectionCosines centre = idx_->cells[1234]->centre;
  std::vector<cells::PointNode> nodes;
  const geodesy::LatLong ll = geodesy::CosinesToGeocentric(centre);
  for (int i = 0; i < 50; ++i)
    nodes.push_back({LatLonDeg(ll.lat * 180 / M_PI + 0.001 * (i % 7), ll.lon * 180 / M_PI + 0.001 * (i / 7)),
                     static_cast<std::uint64_t>(i)});
  HeapObject h;
  Build(*idx_, cells::kPset, nodes, h, 11);
  ops::NearestCache c;
  ASSERT_EQ(ops::PrepareNearest(*idx_, h.obj, c), 0);
  ASSERT_EQ(c.dir_cell.size(), 1u);
  std::mt19937_64 rng(8);
  ops::NearestHit hit;
  for (int i = 0; i < 500; ++i) {
    const DirectionCosines q = RandomUnit(rng);
    for (int mode = 1; mode <= 2; ++mode) {
      ASSERT_EQ(ops::q7_PsetNearest(*idx_, c, q, mode, &hit), 1);
      EXPECT_EQ(HitIndex(c, hit), BrutePoint(c, q, mode));
    }
  }
}

// Thin cells: centres crowded along a meridian in a coarse index give long
// narrow cells; the bounds must still never pass over the nearest point
// (beside the middle of a long edge a far vertex is nearer than its ends).
TEST_F(Nearest, ThinCellsStillEqualBruteForce) {
  cells::CellIndex coarse;
  ASSERT_TRUE(LoadIndex("dodeca05.vix", coarse));
  cells::GrowState grow;
  ASSERT_EQ(cells::BeginGrow(grow, coarse, 200), 0);
  for (int i = 0; i < 150; ++i) cells::InsertCentre(grow, LatLonDeg(-15 + 0.2 * i, 10 + 0.01 * (i % 2)));
  cells::CellIndex& thin = grow.work;
  // Points near the middle of the cells' edges, far from the vertices.
  std::vector<cells::PointNode> nodes;
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-0.1, 0.1);
  for (std::int32_t cell = 0; cell < thin.cell_count; ++cell) {
    const cells::CellRecord* r = thin.cells[cell];
    for (int k = 0; k < r->neighbour_count; ++k) {
      DirectionCosines v1, v2;
      cells::VoronoiVertex(thin, cell, k, v1);
      cells::VoronoiVertex(thin, cell, (k + r->neighbour_count - 1) % r->neighbour_count, v2);
      const double t = 0.5 + u(rng);
      const DirectionCosines c = r->centre;
      DirectionCosines m{v1.x * t + v2.x * (1 - t), v1.y * t + v2.y * (1 - t), v1.z * t + v2.z * (1 - t)};
      m = {m.x * 0.98 + c.x * 0.02, m.y * 0.98 + c.y * 0.02, m.z * 0.98 + c.z * 0.02};
      const double l = std::sqrt(geodesy::Dot(m, m));
      nodes.push_back({{m.x / l, m.y / l, m.z / l}, nodes.size() + 1});
    }
  }
  HeapObject h;
  Build(thin, cells::kPset, nodes, h, 11);
  ASSERT_EQ(h.status, 0);
  ops::NearestCache c;
  ASSERT_EQ(ops::PrepareNearest(thin, h.obj, c), 0);
  ops::NearestHit hit, ref;
  std::normal_distribution<double> jitter(0.0, 0.02);
  for (int i = 0; i < Count(2000, 20000); ++i) {
    // Queries beside the thin cells' long edges and anywhere.
    DirectionCosines q;
    if (i % 3 == 2) {
      q = RandomUnit(rng);
    } else {
      const DirectionCosines base = LatLonDeg(-15 + 30 * (i % 997) / 997.0, 10);
      q = {base.x + jitter(rng), base.y + jitter(rng), base.z + jitter(rng)};
      const double l = std::sqrt(geodesy::Dot(q, q));
      q = {q.x / l, q.y / l, q.z / l};
    }
    for (int mode = 1; mode <= 2; ++mode) {
      ASSERT_EQ(ops::q7_PsetNearest(thin, c, q, mode, &hit), 1);
      ASSERT_EQ(ops::q7_PsetNearestReference(thin, c, q, mode, &ref), 1);
      EXPECT_EQ(HitIndex(c, hit), BrutePoint(c, q, mode));
      EXPECT_EQ(HitIndex(c, ref), BrutePoint(c, q, mode));
    }
  }
  cells::EndGrow(grow);
  cells::ReleaseIndex(coarse);
}

// Lines: the land rings as lines, nearest and farthest point on them against
// every input leg.
std::vector<cells::PointNode> LandNodes(int kind, const char* name) {
  std::vector<cells::PointNode> nodes;
  std::FILE* f = std::fopen((SourceDir() + "data/" + name).c_str(), "rb");
  if (!f) return nodes;
  cells::CoordReadOptions o;
  o.kind = kind;
  o.res = 10;
  cells::ReadCoordText(f, o, nodes);
  std::fclose(f);
  return nodes;
}

double BruteLegs(const std::vector<cells::PointNode>& nodes, const DirectionCosines& q, bool rings, int mode) {
  double best = mode == 1 ? 10.0 : -1.0;
  const DirectionCosines qs = mode == 1 ? q : DirectionCosines{-q.x, -q.y, -q.z};
  std::size_t start = 0;
  for (std::size_t i = 0; i <= nodes.size(); ++i) {
    if (i < nodes.size() && !cells::IsMark(nodes[i])) continue;
    const std::size_t n = i - start;
    const std::size_t legs = rings ? (n >= 3 ? n : 0) : (n >= 1 ? n - 1 : 0);
    for (std::size_t k = 0; k < legs; ++k) {
      const double a = ArcAngle(qs, nodes[start + k].p, nodes[start + (k + 1) % n].p);
      best = mode == 1 ? std::min(best, a) : std::max(best, M_PI - a);
    }
    start = i + 1;
  }
  return best;
}

TEST_F(Nearest, LinesEqualBruteForceArcDistance) {
  const std::vector<cells::PointNode> nodes = LandNodes(1, "land110m.rgn");
  ASSERT_FALSE(nodes.empty());
  HeapObject h;
  Build(*idx_, cells::kLset, nodes, h, 10);
  ASSERT_EQ(h.status, 0);
  ops::NearestCache c;
  ASSERT_EQ(ops::PrepareNearest(*idx_, h.obj, c), 0);
  std::mt19937_64 rng(11);
  const int queries = Count(1500, 20000);
  double worst = 0;
  int tied[2] = {0, 0};
  for (int i = 0; i < queries; ++i) {
    const DirectionCosines q = RandomUnit(rng);
    for (int mode = 1; mode <= 2; ++mode) {
      ops::NearestHit hit, ref;
      ASSERT_GE(ops::q7_LsetNearest(*idx_, c, q, mode, &hit), 0);
      // A vertex shared by the legs of two cells ties: the seed cell's, else
      // the first cell's, as in the single pass.
      if (c.ties.size() > 1) ++tied[mode - 1];
      ASSERT_GE(ops::q7_LsetNearestReference(*idx_, c, q, mode, &ref), 0);
      EXPECT_EQ(hit.cell, ref.cell) << i << " mode " << mode;
      EXPECT_EQ(hit.index, ref.index) << i << " mode " << mode;
      const double want = BruteLegs(nodes, q, false, mode);
      worst = std::max(worst, std::fabs(Angle(q, hit.p) - want));
      EXPECT_NEAR(Angle(q, hit.p), want, 1e-9) << i << " mode " << mode;
      EXPECT_NEAR(Angle(q, ref.p), want, 1e-9);
      EXPECT_NEAR(hit.chord2, geodesy::ChordSq(q, hit.p), 1e-15);
    }
  }
  EXPECT_GT(tied[0], 0);
  EXPECT_GT(tied[1], 0);
  RecordProperty("worst_rad", std::to_string(worst));
}

// Farthest on a line takes the feet of the antipode: one long line whose
// middle passes near the antipode of q.
TEST_F(Nearest, FarthestOnALongLegThroughTheAntipode) {
  const DirectionCosines q = LatLonDeg(20, 30);
  // One leg whose ends lie some 40 degrees from -q on either side of it.
  std::vector<cells::PointNode> nodes = {{LatLonDeg(-10, 170), 1}, {LatLonDeg(-30, -110), 2}, cells::Mark(1)};
  HeapObject h;
  Build(*idx_, cells::kLset, nodes, h, 11);
  ASSERT_EQ(h.status, 0);
  ops::NearestCache c;
  ASSERT_EQ(ops::PrepareNearest(*idx_, h.obj, c), 0);
  ops::NearestHit hit;
  ASSERT_EQ(ops::q7_LsetNearest(*idx_, c, q, 2, &hit), 0);
  const double want = BruteLegs(nodes, q, false, 2);
  EXPECT_NEAR(Angle(q, hit.p), want, 1e-9);
  // Farther than either end: the point found lies inside the leg.
  EXPECT_GT(Angle(q, hit.p), Angle(q, nodes[0].p) + 0.01);
  EXPECT_GT(Angle(q, hit.p), Angle(q, nodes[1].p) + 0.01);
  EXPECT_EQ(hit.datum[0], 1u);
  EXPECT_EQ(hit.datum[1], 2u);
}

TEST_F(Nearest, RegionBoundaryEqualsBruteForceAndNeedsWorkspace) {
  HeapObject h;
  ASSERT_TRUE(LoadLand(*idx_, "land110m.rgn", h));
  const std::vector<cells::PointNode> nodes = LandNodes(2, "land110m.rgn");
  ops::NearestCache c;
  ASSERT_EQ(ops::PrepareNearest(*idx_, h.obj, c), 0);
  std::vector<std::uint8_t> mem(128000);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size()));
  std::mt19937_64 rng(12);
  int statuses[4] = {0, 0, 0, 0};
  const int queries = Count(1000, 10000);
  for (int i = 0; i < queries; ++i) {
    const DirectionCosines q = i < 4 ? LatLonDeg(i < 2 ? 90 - 180 * i : 0, i < 2 ? 0 : 180 - 360 * (i - 2))
                                     : RandomUnit(rng);
    ops::NearestHit hit;
    const int st = ops::q7_RsetNearestBoundary(*idx_, &ws, c, q, &hit);
    ASSERT_GE(st, 1);
    ASSERT_LE(st, 3);
    ++statuses[st];
    EXPECT_NEAR(Angle(q, hit.p), BruteLegs(nodes, q, true, 1), 1e-9) << i;
    EXPECT_EQ(ws.top, ws.base);
  }
  EXPECT_GT(statuses[3], 0);
  // A workspace without room for the cell set.
  platform::Workspace tiny;
  platform::WorkspaceInit(&tiny, mem.data(), 1000);
  ops::NearestHit hit;
  EXPECT_EQ(ops::q7_RsetNearestBoundary(*idx_, &tiny, c, LatLonDeg(0, -150), &hit), -9);
  EXPECT_EQ(ops::q7_RsetNearestBoundary(*idx_, nullptr, c, LatLonDeg(0, -150), &hit), -9);
}

// The ordered list against brute force, the tolerance edge cases and the
// workspace.
TEST_F(Nearest, OrderedEqualsBruteForce) {
  HeapObject h;
  Build(*idx_, cells::kPset, RandomPoints(40000, 2), h, 11);
  ops::NearestCache c;
  ASSERT_EQ(ops::PrepareNearest(*idx_, h.obj, c), 0);
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  std::vector<std::uint8_t> mem(128000);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size()));
  std::mt19937_64 rng(21);
  std::int32_t found[ops::ORDERED_MAX][2];
  double d2[ops::ORDERED_MAX];
  for (double proximity : {100000.0, 1000000.0}) {
    for (int i = 0; i < Count(100, 2000); ++i) {
      const DirectionCosines q = RandomUnit(rng);
      const int n = ops::q7_PsetOrdered(*idx_, &ws, c, &e, q, proximity, 100, found, d2);
      ASSERT_GE(n, 0);
      const double tol = ops::ChordSqOfAngle(proximity * ops::MetresToRadians(e, q));
      std::vector<double> all;
      for (const DirectionCosines& p : c.points) {
        const double d = geodesy::ChordSq(q, p);
        if (d <= tol) all.push_back(d);
      }
      std::sort(all.begin(), all.end());
      ASSERT_EQ(n, std::min<int>(100, static_cast<int>(all.size())));
      for (int k = 0; k < n; ++k) {
        EXPECT_NEAR(d2[k], all[k], 1e-9 * all[k] + 1e-18);
        const std::int64_t at = c.dir_first[c.dir_of[found[k][0]]] + found[k][1];
        EXPECT_EQ(geodesy::ChordSq(q, c.points[at]), d2[k]);
      }
    }
  }
  // 50 m: a point 30 m from q in another cell than q's own is still found.
  const DirectionCosines q = LatLonDeg(0, 0);
  std::vector<cells::PointNode> near = {{LatLonDeg(0, 0.00027), 1}, {LatLonDeg(0.1, 0.1), 2}};
  HeapObject hn;
  Build(*idx_, cells::kPset, near, hn, 11);
  ASSERT_EQ(ops::PrepareNearest(*idx_, hn.obj, c), 0);
  EXPECT_EQ(ops::q7_PsetOrdered(*idx_, &ws, c, &e, q, 50.0, 5, found, d2), 1);
  EXPECT_EQ(ops::q7_PsetOrdered(*idx_, &ws, c, &e, q, 20.0, 5, found, d2), 0);
  // Bad counts and proximities.
  EXPECT_EQ(ops::q7_PsetOrdered(*idx_, &ws, c, &e, q, 50.0, 1, found, d2), -1);
  EXPECT_EQ(ops::q7_PsetOrdered(*idx_, &ws, c, &e, q, 50.0, 101, found, d2), -1);
  EXPECT_EQ(ops::q7_PsetOrdered(*idx_, &ws, c, &e, q, e.a * 1.01, 5, found, d2), -1);
  EXPECT_EQ(ops::q7_PsetOrdered(*idx_, &ws, c, nullptr, q, 1.0, 5, found, d2), -1);
  // No workspace for the cell list.
  platform::Workspace tiny;
  platform::WorkspaceInit(&tiny, mem.data(), 1000);
  EXPECT_EQ(ops::q7_PsetOrdered(*idx_, &tiny, c, &e, LatLonDeg(0.05, 0.05), 50000.0, 5, found, d2), -9);
  EXPECT_EQ(tiny.top, tiny.base);
}

TEST_F(Nearest, RegionNearCellsMeetTheCircle) {
  // Every cell whose polygon comes within the radius, none other; the own
  // cell even when the circle is smaller than the distance to its centre.
  std::vector<std::uint8_t> mem(1 << 20);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size()));
  std::mt19937_64 rng(31);
  for (int i = 0; i < 50; ++i) {
    const DirectionCosines q = RandomUnit(rng);
    const double r2 = i < 10 ? 1e-14 : 1e-4 * i;
    platform::WorkspaceMark mark(&ws);
    const std::uint32_t* list = cells::NearCellsRegionIn(*idx_, &ws, q, r2);
    ASSERT_NE(list, nullptr);
    const std::int32_t own = cells::Locate(*idx_, q);
    EXPECT_EQ(static_cast<std::int32_t>(list[1]), own);
    std::vector<std::int32_t> got(list + 2, list + list[0]);
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
    // Brute force: a cell meets the disc when a sample of its edges does.
    const std::vector<std::uint32_t> wide = cells::NearCellsList(*idx_, q, 4 * r2 + 0.01);
    for (std::size_t w = 2; w < wide.size(); ++w) {
      const std::int32_t cell = static_cast<std::int32_t>(wide[w]);
      const cells::CellRecord* r = idx_->cells[cell];
      double best = 4;
      for (int k = 0; k < r->neighbour_count; ++k) {
        DirectionCosines a, b;
        cells::VoronoiVertex(*idx_, cell, k, a);
        cells::VoronoiVertex(*idx_, cell, (k + 1) % r->neighbour_count, b);
        best = std::min(best, ArcAngle(q, a, b));
      }
      const bool meets = cell == own || ops::ChordSqOfAngle(best) <= r2;
      const bool listed = std::binary_search(got.begin(), got.end(), cell);
      if (std::fabs(ops::ChordSqOfAngle(best) - r2) > 1e-12 && cell != own) EXPECT_EQ(meets, listed) << cell;
    }
  }
}

TEST(NearestDistances, ChordRuleAndKilometres) {
  for (double a : {0.0, 1e-9, 0.3, 1.0, 1.2, 2.0, 3.0, M_PI}) {
    EXPECT_NEAR(ops::AngleOfChordSq(ops::ChordSqOfAngle(a)), a, 1e-12) << a;
  }
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  // A degree of longitude on the equator: 111.32 km on WGS 84.
  const DirectionCosines p = LatLonDeg(0, 0), q = LatLonDeg(0, 1);
  EXPECT_NEAR(ops::ReportKilometres(&e, p, q, geodesy::ChordSq(p, q)), 111.319, 0.001);
  // Ordered entries are kilometres of the mean radius.
  EXPECT_NEAR(ops::OrderedKilometres(&e, ops::ChordSqOfAngle(0.01)), 0.01 * ops::MeanRadius(e) / 1000, 1e-9);
}

}  // namespace
