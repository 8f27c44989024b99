// Rings laid exactly on the lines that carry the centres, vertices and edges
// of the shipped indexes: boxes with a side on the equator or on one of the
// meridians 0, +-36, 72, +-90, 144 and 180, on isotype.vix and dodeca05.vix,
// each as an outer ring, reversed (a hole in the world) and as the hole of a
// larger ring. Every cell is checked against a brute-force classification of
// its centre by S2:
// - an i-cell's centre is inside, a cell of neither list has its centre
//   outside;
// - the cell every point of a leg is located in is a b-cell (legs along the
//   equator or a meridian run on cell edges, where location breaks ties);
// - the point-in-region test puts points scattered round the vertices on
//   S2's side;
// - the cell method's area is that of the rings.
// Two more sets: rings that share a side in opposite directions (a region
// cut along a meridian) and a ring with a spike along a meridian.
#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/measure_object.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/rset_point_test.h"
#include "tests/objects/test_index.h"

#include <gtest/gtest.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2closest_edge_query.h>
#include <s2/s2contains_point_query.h>
#include <s2/s2debug.h>
#include <s2/s2lax_polygon_shape.h>

#include <algorithm>
#include <functional>
#include <random>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace cells {
namespace {

using geodesy::DirectionCosines;

constexpr double kDeg = 0.017453292519943295;

struct Box {
  double lat0, lat1, lon0, lon1;
};

// The box's outline counterclockwise (inside on the left), a vertex at least
// every half degree along each side, so the legs are short and every
// vertex of a side on an index line lies on that line.
std::vector<DirectionCosines> Corners(const Box& b, const geodesy::Ellipsoid& e) {
  std::vector<DirectionCosines> v;
  const std::pair<double, double> c[4] = {{b.lat0, b.lon0}, {b.lat0, b.lon1}, {b.lat1, b.lon1}, {b.lat1, b.lon0}};
  for (int k = 0; k < 4; ++k) {
    const auto [la, lo] = c[k];
    const auto [lb, lob] = c[(k + 1) % 4];
    const int steps = std::max(1, static_cast<int>(std::ceil(std::max(std::fabs(lb - la), std::fabs(lob - lo)) / 0.5)));
    for (int i = 0; i < steps; ++i) {
      const double t = static_cast<double>(i) / steps;
      v.push_back(geodesy::GeodeticToCosines({(la + t * (lb - la)) * kDeg, (lo + t * (lob - lo)) * kDeg}, e));
    }
  }
  return v;
}

// S2's side of p for the ring (counterclockwise).
class S2Ring {
 public:
  explicit S2Ring(const std::vector<DirectionCosines>& v) {
    std::vector<std::vector<S2Point>> loops(1);
    for (const DirectionCosines& p : v) loops[0].push_back(S2Point(p.x, p.y, p.z));
    index_.Add(std::make_unique<S2LaxPolygonShape>(loops));
    query_ = std::make_unique<S2ContainsPointQuery<MutableS2ShapeIndex>>(&index_);
  }
  bool Contains(const DirectionCosines& p) { return query_->Contains(S2Point(p.x, p.y, p.z)); }
  // Angle from p to the nearest edge.
  double Distance(const DirectionCosines& p) {
    S2ClosestEdgeQuery q(&index_);
    q.mutable_options()->set_include_interiors(false);
    S2ClosestEdgeQuery::PointTarget t(S2Point(p.x, p.y, p.z));
    return q.GetDistance(&t).ToAngle().radians();
  }

 private:
  MutableS2ShapeIndex index_;
  std::unique_ptr<S2ContainsPointQuery<MutableS2ShapeIndex>> query_;
};

struct Built {
  std::vector<std::uint8_t> memory;
  Object obj;
};

int Build(CellIndex& idx, const std::vector<std::vector<DirectionCosines>>& rings, Built& out) {
  std::vector<PointNode> nodes;
  for (const auto& r : rings) {
    for (const DirectionCosines& p : r) nodes.push_back({p, 0});
    nodes.push_back(Mark(1));
  }
  nodes.push_back(Mark(0));
  BuildParams params;
  params.id = 7;
  params.res = 10;
  return BuildRset(idx, {nullptr, &out.memory}, params, nodes, out.obj);
}

class RingEdges : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    FLAGS_s2debug = false;
    if (!testing::LoadShippedIndex(GetParam(), idx)) GTEST_SKIP() << GetParam() << " not built";
    table.resize(idx.cell_count);
    ASSERT_TRUE(FillCellAreaTable(idx, &e, table));
  }
  void TearDown() override { ReleaseIndex(idx); }

  // Checks one region of rings against the classification inside(p).
  template <typename Inside>
  void Check(const std::string& what, const std::vector<std::vector<DirectionCosines>>& rings,
             Inside inside) {
    SCOPED_TRACE(what);
    Built b;
    ASSERT_EQ(Build(idx, rings, b), 0);
    const std::int32_t* bl = EnvelopeList(b.obj, 0);
    const std::int32_t* il = EnvelopeList(b.obj, 1);
    int wrong_i = 0, wrong_out = 0;
    for (std::int32_t c = 0; c < idx.cell_count; ++c) {
      if (CellListContains(bl, c)) continue;
      const bool in = inside(idx.cells[c]->centre);
      if (CellListContains(il, c) && !in) ++wrong_i;
      if (!CellListContains(il, c) && in) ++wrong_out;
    }
    EXPECT_EQ(wrong_i, 0) << "i-cells whose centre is outside";
    EXPECT_EQ(wrong_out, 0) << "cells outside both lists whose centre is inside";

    // Points along every leg: their cells, both of them on an edge, are b-cells.
    int missing = 0;
    for (const auto& r : rings)
      for (std::size_t i = 0; i < r.size(); ++i) {
        const DirectionCosines& p = r[i];
        const DirectionCosines& q = r[(i + 1) % r.size()];
        for (int k = 0; k <= 400; ++k) {
          const double t = k / 400.0;
          const DirectionCosines x = geodesy::Normalised(
              {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y), p.z + t * (q.z - p.z)});
          if (!CellListContains(bl, Locate(idx, x))) ++missing;
        }
      }
    EXPECT_EQ(missing, 0) << "points of legs in cells that are not b-cells";

    // The point-in-region test on points scattered over the rings' cells,
    // against the classification, away from the boundary.
    if (distance_) {
      std::mt19937_64 rng(17);
      std::uniform_real_distribution<double> u(-1.0, 1.0);
      int wrong = 0;
      for (const auto& r : rings)
        for (int k = 0; k < 300; ++k) {
          const DirectionCosines& a = r[static_cast<std::size_t>(k) % r.size()];
          const DirectionCosines p = geodesy::Normalised({a.x + 0.02 * u(rng), a.y + 0.02 * u(rng), a.z + 0.02 * u(rng)});
          if (distance_(p) < 1e-7) continue;
          const int t = ops::q7_RsetPointTest(idx, p, b.obj, 0.0, 0);
          if (t == 0 || (t > 0) != inside(p)) {
            const geodesy::LatLong ll = geodesy::CosinesToGeodetic(p, e);
            if (++wrong <= 3)
              ADD_FAILURE() << "test " << t << " at " << ll.lat / kDeg << " " << ll.lon / kDeg << ", "
                            << distance_(p) * 6371e3 << " m from the boundary";
          }
        }
      EXPECT_EQ(wrong, 0) << "points on the wrong side";
    }

    // The cell method against the rings' own area.
    const ObjectMeasure mc = MeasureRset(idx, b.obj, e, 'c', table.data());
    const ObjectMeasure mr = MeasureRset(idx, b.obj, e, 'r', nullptr);
    ASSERT_EQ(mc.status, 0);
    ASSERT_EQ(mr.status, 0);
    EXPECT_NEAR(mc.area / mr.area, 1.0, 1e-7) << mc.area / 1e6 << " km2 against " << mr.area / 1e6;
  }

  CellIndex idx;
  geodesy::Ellipsoid e = geodesy::MakeEllipsoid(34);
  std::vector<double> table;
  std::function<double(const DirectionCosines&)> distance_;  // to the boundary, when points are tested
};

std::vector<Box> BoxesAlongLines() {
  std::vector<Box> boxes;
  // Along the equator, north and south of it, small and large.
  for (double lon : {0.0, 17.0, 36.0, 72.0, 179.0, -180.0})
    for (double size : {1.0, 10.0}) {
      boxes.push_back({0.0, size, lon, lon + size});
      boxes.push_back({-size, 0.0, lon, lon + size});
    }
  // Along the meridians, east and west of them.
  for (double lon : {0.0, 36.0, -36.0, 72.0, 90.0, -90.0, 144.0, 180.0})
    for (double size : {1.0, 10.0}) {
      boxes.push_back({20.0, 20.0 + size, lon, lon + size});
      boxes.push_back({-30.0 - size, -30.0, lon - size, lon});
    }
  boxes.push_back({0.0, 1.0, 0.0, 1.0});
  boxes.push_back({20.0, 30.0, 0.0, 10.0});
  boxes.push_back({-1.0, 1.0, 179.0, 181.0});  // across the equator and 180
  return boxes;
}

TEST_P(RingEdges, BoxesOnIndexLines) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build";
#endif
  for (const Box& box : BoxesAlongLines()) {
    char name[96];
    std::snprintf(name, sizeof name, "box %g..%g N %g..%g E", box.lat0, box.lat1, box.lon0, box.lon1);
    const std::vector<DirectionCosines> ring = Corners(box, e);
    std::vector<DirectionCosines> reversed(ring.rbegin(), ring.rend());
    S2Ring s2(ring);
    distance_ = [&](const DirectionCosines& p) { return s2.Distance(p); };
    Check(std::string(name) + " outer", {ring}, [&](const DirectionCosines& p) { return s2.Contains(p); });
    Check(std::string(name) + " reversed", {reversed},
          [&](const DirectionCosines& p) { return !s2.Contains(p); });
    // A hole in a ring two degrees larger all round.
    const Box big{box.lat0 - 2, box.lat1 + 2, box.lon0 - 2, box.lon1 + 2};
    const std::vector<DirectionCosines> outer = Corners(big, e);
    S2Ring s2big(outer);
    distance_ = [&](const DirectionCosines& p) { return std::min(s2.Distance(p), s2big.Distance(p)); };
    Check(std::string(name) + " hole", {outer, reversed},
          [&](const DirectionCosines& p) { return s2big.Contains(p) && !s2.Contains(p); });
  }
}

// Two rings that share a side in opposite directions (a polygon cut along a
// meridian, as Natural Earth cuts land at 180 degrees): the common side bounds
// nothing, and the cells along it are whole.
TEST_P(RingEdges, RingsSharingASide) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build";
#endif
  for (double lon : {0.0, 36.0, 90.0, 180.0, -90.0}) {
    const Box west{60.0, 70.0, lon - 3.0, lon}, east{60.0, 70.0, lon, lon + 3.0};
    // The union has the same vertices but for the common side.
    S2Ring s2(Corners({60.0, 70.0, lon - 3.0, lon + 3.0}, e));
    distance_ = [&](const DirectionCosines& p) { return s2.Distance(p); };
    Check("shared side at " + std::to_string(lon), {Corners(west, e), Corners(east, e)},
          [&](const DirectionCosines& p) { return s2.Contains(p); });
  }
}

// A ring with a spike: it runs out along a meridian (an index line) and
// straight back. The spike bounds nothing; points beside it are inside.
TEST_P(RingEdges, RingWithSpike) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build";
#endif
  for (double lon : {0.0, 90.0, 180.0}) {
    // The box's outline with a spike from the middle of its north side
    // down to 64N and back.
    const std::vector<DirectionCosines> plain = Corners({60.0, 70.0, lon - 3.0, lon + 3.0}, e);
    std::vector<DirectionCosines> ring;
    for (const DirectionCosines& p : plain) {
      ring.push_back(p);
      const geodesy::LatLong ll = geodesy::CosinesToGeodetic(p, e);
      if (std::fabs(ll.lat / kDeg - 70.0) < 1e-9 && std::fabs(std::remainder(ll.lon / kDeg - lon, 360.0)) < 1e-9) {
        for (double lat : {67.0, 64.0, 67.0}) ring.push_back(geodesy::GeodeticToCosines({lat * kDeg, lon * kDeg}, e));
        ring.push_back(p);
      }
    }
    ASSERT_EQ(ring.size(), plain.size() + 4);
    S2Ring s2(plain);
    distance_ = [&](const DirectionCosines& p) { return s2.Distance(p); };
    Check("spike at " + std::to_string(lon), {ring}, [&](const DirectionCosines& p) { return s2.Contains(p); });
  }
}

INSTANTIATE_TEST_SUITE_P(Indexes, RingEdges, ::testing::Values("isotype.vix", "dodeca05.vix"));

}  // namespace
}  // namespace cells
