// Oracle: the nearest point on a region boundary (q7_RsetNearestBoundary)
// and on lines (q7_LsetNearest) against S2ClosestEdgeQuery over the same
// restored vertices (land 10m: the rings as a lax polygon with
// include_interiors false, and as polylines), for random points, points
// near the coast, the poles and the 180 degree meridian.
#include <gtest/gtest.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2closest_edge_query.h>
#include <s2/s2debug.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2lax_polyline_shape.h>

#include <memory>
#include <random>

#include "lib/cells/coord_text.h"
#include "lib/ops/nearest.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using geodesy::DirectionCosines;

double Angle(const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines c = geodesy::Cross(a, b);
  return std::atan2(std::sqrt(geodesy::Dot(c, c)), geodesy::Dot(a, b));
}

TEST(NearestS2, Land10mBoundaryAndLinesEqualClosestEdge) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  FLAGS_s2debug = false;
  cells::CellIndex idx;
  ASSERT_TRUE(LoadIndex("isotype.vix", idx));
  HeapObject region;
  ASSERT_TRUE(LoadLand(idx, "land10m.rgn", region));
  std::vector<cells::PointNode> v;
  cells::CollectVertices(idx, region.obj, v);
  // The same rings as lines, built from the region's own vertices.
  std::vector<cells::PointNode> as_lines;
  std::vector<std::vector<S2Point>> loops;
  std::vector<S2Point> ring;
  std::vector<DirectionCosines> coast;
  for (const cells::PointNode& n : v) {
    if (cells::IsMark(n)) {
      if (ring.size() >= 3) loops.push_back(ring);
      ring.clear();
      as_lines.push_back(n);
      continue;
    }
    ring.push_back(S2Point(n.p.x, n.p.y, n.p.z));
    as_lines.push_back(n);
    coast.push_back(n.p);
  }
  MutableS2ShapeIndex s2r, s2l;
  s2r.Add(std::make_unique<S2LaxPolygonShape>(loops));
  for (const auto& l : loops) s2l.Add(std::make_unique<S2LaxPolylineShape>(l));
  s2r.ForceBuild();
  s2l.ForceBuild();
  HeapObject lines;
  Build(idx, cells::kLset, as_lines, lines, 10);
  ASSERT_EQ(lines.status, 0);
  ops::NearestCache rc, lc;
  ASSERT_EQ(ops::PrepareNearest(idx, region.obj, rc), 0);
  ASSERT_EQ(ops::PrepareNearest(idx, lines.obj, lc), 0);
  std::vector<std::uint8_t> mem(128000);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size()));
  S2ClosestEdgeQuery qr(&s2r), ql(&s2l);
  qr.mutable_options()->set_include_interiors(false);
  ql.mutable_options()->set_include_interiors(false);
  std::mt19937_64 rng(7);
  std::normal_distribution<double> near(0.0, 2e-3);
  const int queries = std::getenv("OMBREL_NEAREST_FULL") ? 10000 : Sanitized() ? 300 : 3000;
  int agree = 0;
  double worst = 0;
  for (int i = 0; i < queries; ++i) {
    DirectionCosines q;
    if (i < 6) {
      const double lat[6] = {90, -90, 0, 0, 65, -16};
      const double lon[6] = {0, 0, 180, -180, 180, -179.9999};
      q = LatLonDeg(lat[i], lon[i]);
    } else if (i % 2 == 0) {
      q = RandomUnit(rng);  // mostly open sea
    } else {
      const DirectionCosines& c = coast[rng() % coast.size()];  // by the coast
      q = {c.x + near(rng), c.y + near(rng), c.z + near(rng)};
      const double l = std::sqrt(geodesy::Dot(q, q));
      q = {q.x / l, q.y / l, q.z / l};
    }
    S2ClosestEdgeQuery::PointTarget t(S2Point(q.x, q.y, q.z));
    const double want_r = qr.FindClosestEdge(&t).distance().ToAngle().radians();
    const double want_l = ql.FindClosestEdge(&t).distance().ToAngle().radians();
    ops::NearestHit hr, hl;
    const int st = ops::q7_RsetNearestBoundary(idx, &ws, rc, q, &hr);
    ASSERT_GE(st, 1) << i;
    ASSERT_GE(ops::q7_LsetNearest(idx, lc, q, 1, &hl), 0);
    const double got = Angle(q, hr.p);
    worst = std::max(worst, std::fabs(got - want_r));
    EXPECT_NEAR(got, want_r, 1e-9) << i;
    EXPECT_NEAR(Angle(q, hl.p), want_l, 1e-9) << i;
    if (std::fabs(got - want_r) <= 1e-9) ++agree;
  }
  EXPECT_EQ(agree, queries);
  RecordProperty("worst_rad", std::to_string(worst));
  std::printf("boundary distance equal to S2 within 1e-9 rad: %d of %d (worst %.3g rad)\n", agree, queries, worst);
  cells::ReleaseIndex(idx);
}

}  // namespace
