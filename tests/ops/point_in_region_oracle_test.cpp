// Oracle: q7_RsetPointTest against S2's containment of the same rings.
//
// The rings are read back from the built region (so both sides see the same
// unit vectors) and handed to S2 as a lax polygon, whose legs are great-circle
// arcs as ours are. For uniformly random points and for points scattered
// within 10 km of the boundary, every point farther than the fuzz from the
// boundary (S2's own edge distance) must get the same answer; points within
// the fuzz may go either way. A result of 0 must only come within the fuzz
// (plus the small excess of the plane measure over the angle).
#include <gtest/gtest.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2closest_edge_query.h>
#include <s2/s2contains_point_query.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2debug.h>

#include <memory>

#include "lib/cells/cell_locate.h"
#include "lib/ops/derive_params.h"
#include "lib/ops/rset_point_test.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;

struct Land {
  cells::CellIndex idx;
  HeapObject region;
  std::vector<std::vector<S2Point>> loops;
  MutableS2ShapeIndex s2index;
};

std::unique_ptr<Land> MakeLand(const char* file) {
  FLAGS_s2debug = false;
  auto land = std::make_unique<Land>();
  if (!LoadIndex("isotype.vix", land->idx)) return nullptr;
  if (!LoadLand(land->idx, file, land->region)) return nullptr;
  std::vector<cells::PointNode> v;
  cells::CollectVertices(land->idx, land->region.obj, v);
  std::vector<S2Point> ring;
  for (const cells::PointNode& n : v) {
    if (cells::IsMark(n)) {
      if (ring.size() >= 3) land->loops.push_back(ring);
      ring.clear();
      continue;
    }
    ring.push_back(S2Point(n.p.x, n.p.y, n.p.z));
  }
  land->s2index.Add(std::make_unique<S2LaxPolygonShape>(land->loops));
  land->s2index.ForceBuild();
  return land;
}

struct Tally {
  long points = 0, agree = 0, within_fuzz = 0, disagree_far = 0, zero_far = 0;
};

void Check(Land& land, const std::vector<geodesy::DirectionCosines>& pts, Tally& t) {
  auto query = MakeS2ContainsPointQuery(&land.s2index);
  S2ClosestEdgeQuery closest(&land.s2index);
  const double f = geodesy::DEFAULT_FUZZ;
  ops::RsetTestCache cache;
  for (const auto& p : pts) {
    ++t.points;
    const int ours = ops::q7_RsetPointTest(land.idx, p, land.region.obj, 0.0, 1, &cache);
    const bool s2in = query.Contains(S2Point(p.x, p.y, p.z));
    const bool agree = ours == 0 ? false : ((ours > 0) == s2in);
    if (agree) {
      ++t.agree;
      continue;
    }
    S2ClosestEdgeQuery::PointTarget target(S2Point(p.x, p.y, p.z));
    const double dist = closest.GetDistance(&target).ToAngle().radians();
    if (dist <= f * 1.001) {
      ++t.within_fuzz;
    } else if (ours == 0) {
      ++t.zero_far;
      if (t.zero_far < 5) ADD_FAILURE() << "0 at distance " << dist << " " << p.x << " " << p.y << " " << p.z;
    } else {
      ++t.disagree_far;
      if (t.disagree_far < 5)
        ADD_FAILURE() << "ours " << ours << " S2 " << s2in << " distance " << dist << " at " << p.x
                      << " " << p.y << " " << p.z;
    }
  }
}

// Points within 10 km of the boundary: a random leg, a random place along it,
// moved across it by up to 10 km either way.
std::vector<geodesy::DirectionCosines> NearBoundary(const Land& land, int n, std::mt19937_64& rng) {
  std::vector<geodesy::DirectionCosines> out;
  std::uniform_int_distribution<std::size_t> pick_loop(0, land.loops.size() - 1);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double reach = 10000.0 / 6371008.8;
  while (static_cast<int>(out.size()) < n) {
    const auto& loop = land.loops[pick_loop(rng)];
    std::uniform_int_distribution<std::size_t> pick(0, loop.size() - 1);
    const std::size_t i = pick(rng);
    const S2Point a = loop[i], b = loop[(i + 1) % loop.size()];
    S2Point m = (a + (b - a) * unit(rng)).Normalize();
    S2Point normal = a.CrossProd(b);
    if (normal.Norm2() == 0) continue;
    normal = normal.Normalize();
    const double off = (unit(rng) * 2.0 - 1.0) * reach;
    S2Point q = (m * std::cos(off) + normal * std::sin(off)).Normalize();
    out.push_back({q.x(), q.y(), q.z()});
  }
  return out;
}

void RunOracle(const char* file, int random_points, int near_points, long seed) {
  auto land = MakeLand(file);
  ASSERT_TRUE(land) << "cannot load isotype.vix or " << file;
  std::mt19937_64 rng(seed);
  std::vector<geodesy::DirectionCosines> pts;
  for (int i = 0; i < random_points; ++i) pts.push_back(RandomUnit(rng));
  Tally rnd;
  Check(*land, pts, rnd);
  Tally near;
  Check(*land, NearBoundary(*land, near_points, rng), near);
  std::printf("%s random: %ld points, %ld agree, %ld within fuzz, %ld disagree beyond it\n", file,
              rnd.points, rnd.agree, rnd.within_fuzz, rnd.disagree_far + rnd.zero_far);
  std::printf("%s near boundary: %ld points, %ld agree, %ld within fuzz, %ld disagree beyond it\n",
              file, near.points, near.agree, near.within_fuzz, near.disagree_far + near.zero_far);
  EXPECT_EQ(rnd.disagree_far, 0);
  EXPECT_EQ(near.disagree_far, 0);
  EXPECT_EQ(rnd.zero_far + near.zero_far, 0);
}

TEST(PointInRegionOracle, Land110mAgreesWithS2) {
  const int scale = Sanitized() ? 50 : 1;
  RunOracle("land110m.rgn", 1000000 / scale, 100000 / scale, 110);
}

TEST(PointInRegionOracle, Land10mAgreesWithS2) {
  const int scale = Sanitized() ? 50 : 1;
  RunOracle("land10m.rgn", 1000000 / scale, 100000 / scale, 10);
}

}  // namespace
