// Point-set derivations and the point-in-region test on small built objects:
// selection of unique/reduced/duplicate points, the merges, inside/outside
// with the boundary indicator, and the partition of random points by land.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "lib/cells/cell_locate.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/pset_ops.h"
#include "lib/ops/rset_point_test.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using cells::PointNode;

struct Arena : OutputArena {
  explicit Arena(std::size_t n = 64 << 20) : OutputArena(n, 1234) {}
};

class PsetOps : public IsotypeSuite {};

std::vector<PointNode> RandomPoints(int n, std::uint64_t seed, std::uint64_t datum_base = 0) {
  std::mt19937_64 rng(seed);
  std::vector<PointNode> v;
  for (int i = 0; i < n; ++i) v.push_back({RandomUnit(rng), datum_base + static_cast<std::uint64_t>(i)});
  return v;
}

std::int64_t Points(const cells::Object& o) { return cells::VertexCount(o); }

TEST_F(PsetOps, EveryPointTwice) {
  auto pts = RandomPoints(2000, 1);
  auto twice = pts;
  twice.insert(twice.end(), pts.begin(), pts.end());
  HeapObject src;
  Build(*idx_, cells::kPset, twice, src, 7);
  ASSERT_EQ(src.status, 0);
  Arena a;
  EXPECT_EQ(ops::q7_PsetSelect(a.Context(*idx_, 7), src.obj, 1), ops::DERIVE_EMPTY);
  EXPECT_EQ(Points(a.out), 0);
  ASSERT_EQ(ops::q7_PsetSelect(a.Context(*idx_, 7), src.obj, 2), 0);
  EXPECT_EQ(Points(a.out), 2000);
  std::vector<std::uint8_t> reduced(a.out.coords, a.out.coords + a.out.coord_size);
  ASSERT_EQ(ops::q7_PsetSelect(a.Context(*idx_, 7), src.obj, 3), 0);
  ASSERT_EQ(a.out.coord_size, reduced.size());
  EXPECT_EQ(std::memcmp(a.out.coords, reduced.data(), reduced.size()), 0);
  EXPECT_TRUE(cells::ObjectValid(a.out, idx_->cell_count));
  // Only the question "empty or not".
  ops::DeriveContext probe = a.Context(*idx_, 7);
  probe.output = nullptr;
  EXPECT_EQ(ops::q7_PsetSelect(probe, src.obj, 1), ops::DERIVE_EMPTY);
  EXPECT_EQ(ops::q7_PsetSelect(probe, src.obj, 3), 0);
}

TEST_F(PsetOps, DatumComparedOrNot) {
  // The same positions twice, with different attributes.
  auto pts = RandomPoints(500, 2, 0);
  auto other = RandomPoints(500, 2, 10000);
  pts.insert(pts.end(), other.begin(), other.end());
  HeapObject src;
  Build(*idx_, cells::kPset, pts, src, 7);
  Arena a;
  EXPECT_EQ(ops::q7_PsetSelect(a.Context(*idx_, 7), src.obj, 1), 0);  // all distinct with datum
  EXPECT_EQ(Points(a.out), 1000);
  EXPECT_EQ(ops::q7_PsetSelect(a.Context(*idx_, 7), src.obj, 1 | ops::DATUM_IGNORED), ops::DERIVE_EMPTY);
  // No datum in the source: comparing it is refused; a wrong output form too.
  HeapObject plain;
  Build(*idx_, cells::kPset, pts, plain, 6);
  EXPECT_EQ(ops::q7_PsetSelect(a.Context(*idx_, 6), plain.obj, 2), ops::DERIVE_BAD_PARAMETERS);
  EXPECT_EQ(ops::q7_PsetSelect(a.Context(*idx_, 8), plain.obj, 2 | ops::DATUM_IGNORED),
            ops::DERIVE_BAD_PARAMETERS);
  // A longer output record is padded with the default datum 0.
  ASSERT_EQ(ops::q7_PsetSelect(a.Context(*idx_, 7), plain.obj, 2 | ops::DATUM_IGNORED), 0);
  EXPECT_EQ(Points(a.out), 500);
  EXPECT_EQ(cells::Load<std::uint32_t>(a.out.coords + 8), 0u);
}

TEST_F(PsetOps, Merges) {
  HeapObject s1, s2, far;
  Build(*idx_, cells::kPset, RandomPoints(3000, 3), s1, 7);
  auto half = RandomPoints(3000, 3);
  half.resize(1000);
  auto extra = RandomPoints(500, 4, 50000);
  half.insert(half.end(), extra.begin(), extra.end());
  Build(*idx_, cells::kPset, half, s2, 7);
  Arena a;
  EXPECT_EQ(ops::q7_PsetMerge(a.Context(*idx_, 7), s1.obj, s1.obj, 2, 0), ops::DERIVE_EMPTY);
  ASSERT_EQ(ops::q7_PsetMerge(a.Context(*idx_, 7), s1.obj, s1.obj, 3, 0), 0);
  EXPECT_EQ(Points(a.out), 3000);
  ASSERT_EQ(ops::q7_PsetMerge(a.Context(*idx_, 7), s1.obj, s2.obj, 1, 0), 0);
  EXPECT_EQ(Points(a.out), 1000);
  ASSERT_EQ(ops::q7_PsetMerge(a.Context(*idx_, 7), s1.obj, s2.obj, 2, 0), 0);
  EXPECT_EQ(Points(a.out), 2000 + 500);
  ASSERT_EQ(ops::q7_PsetMerge(a.Context(*idx_, 7), s1.obj, s2.obj, 3, 0), 0);
  EXPECT_EQ(Points(a.out), 3500);
  EXPECT_TRUE(cells::ObjectValid(a.out, idx_->cell_count));
  // Two sets with no common cell have nothing in common.
  std::vector<PointNode> north{{LatLonDeg(80, 10), 1}}, south{{LatLonDeg(-80, 10), 1}};
  HeapObject n, s;
  Build(*idx_, cells::kPset, north, n, 7);
  Build(*idx_, cells::kPset, south, s, 7);
  EXPECT_EQ(ops::q7_PsetMerge(a.Context(*idx_, 7), n.obj, s.obj, 1, 0), ops::DERIVE_EMPTY);
  // A small output arena is reported, not overrun.
  Arena tiny(64);
  EXPECT_EQ(ops::q7_PsetMerge(tiny.Context(*idx_, 7), s1.obj, s1.obj, 3, 0), ops::DERIVE_OUTPUT_FULL);
}

// A square region of about 660 km around (lat 10, lon 20), counterclockwise.
std::vector<PointNode> Square(double lat, double lon, double half) {
  return {{LatLonDeg(lat - half, lon - half), 0}, {LatLonDeg(lat - half, lon + half), 0},
          {LatLonDeg(lat + half, lon + half), 0}, {LatLonDeg(lat + half, lon - half), 0},
          cells::Mark(1), cells::Mark(1)};
}

TEST_F(PsetOps, PointTestOnAndNearTheBoundary) {
  HeapObject sq;
  Build(*idx_, cells::kRset, Square(10, 20, 3.0), sq, 10);
  ASSERT_EQ(sq.status, 0);
  // The midpoint of a leg (on the great circle), and points just off it.
  const auto a = LatLonDeg(7, 17), b = LatLonDeg(7, 23);
  const auto mid = geodesy::Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
  EXPECT_EQ(ops::q7_RsetPointTest(*idx_, mid, sq.obj, 0.0, 1), 0);
  // 0.05 m and 10 m to the north (inside) and south.
  const auto north = geodesy::Normalised({mid.x, mid.y, mid.z + 0.05 / 6371000.0});
  EXPECT_EQ(ops::q7_RsetPointTest(*idx_, north, sq.obj, 0.0, 1), 0);
  const auto in10 = geodesy::Normalised({mid.x, mid.y, mid.z + 10 / 6371000.0});
  const auto out10 = geodesy::Normalised({mid.x, mid.y, mid.z - 10 / 6371000.0});
  EXPECT_EQ(ops::q7_RsetPointTest(*idx_, in10, sq.obj, 0.0, 1), 1);
  EXPECT_EQ(ops::q7_RsetPointTest(*idx_, out10, sq.obj, 0.0, 1), -1);
  // Cells without boundary: the centre is in an interior cell, the far side
  // of the earth in no cell of the region.
  EXPECT_EQ(ops::q7_RsetPointTest(*idx_, LatLonDeg(10, 20), sq.obj, 0.0, 1), 2);
  EXPECT_EQ(ops::q7_RsetPointTest(*idx_, LatLonDeg(-10, -160), sq.obj, 0.0, 1), -2);
  // A vertex is on the boundary.
  EXPECT_EQ(ops::q7_RsetPointTest(*idx_, LatLonDeg(13, 23), sq.obj, 0.0, 1), 0);

  // Inside/outside with the boundary indicator; either source kept apart.
  std::vector<PointNode> pts{{mid, 1}, {in10, 2}, {out10, 3}, {LatLonDeg(10, 20), 4},
                             {LatLonDeg(-10, -160), 5}};
  HeapObject ps;
  Build(*idx_, cells::kPset, pts, ps, 11);
  Arena ar;
  auto count = [&](int mode, int indicator) {
    const int st = ops::q7_PsetInRset(ar.Context(*idx_, 11), ps.obj, sq.obj, mode, 0.0, indicator);
    return st == ops::DERIVE_EMPTY ? 0 : st == 0 ? static_cast<int>(Points(ar.out)) : -100 - st;
  };
  EXPECT_EQ(count(1, 1), 3);   // mid, in10, centre
  EXPECT_EQ(count(2, 1), 3);   // mid, out10, far
  EXPECT_EQ(count(1, -1), 2);
  EXPECT_EQ(count(2, -1), 2);
  EXPECT_EQ(ops::q7_PsetInRset(ar.Context(*idx_, 11), sq.obj, ps.obj, 1, 0.0, 1),
            ops::DERIVE_BAD_PARAMETERS);
}

TEST_F(PsetOps, InsideAndOutsidePartitionRandomPoints) {
  HeapObject land;
  ASSERT_TRUE(LoadLand(*idx_, "land110m.rgn", land));
  const int n = Sanitized() ? 20000 : 1000000;
  HeapObject ps;
  Build(*idx_, cells::kPset, RandomPoints(n, 5), ps, 10);
  ASSERT_EQ(ps.status, 0);
  Arena ar(static_cast<std::size_t>(n) * 24 + (4 << 20));
  ASSERT_EQ(ops::q7_PsetInRset(ar.Context(*idx_, 10), ps.obj, land.obj, 1, 0.0, -1), 0);
  const std::int64_t in = Points(ar.out);
  ASSERT_EQ(ops::q7_PsetInRset(ar.Context(*idx_, 10), ps.obj, land.obj, 2, 0.0, -1), 0);
  const std::int64_t out = Points(ar.out);
  EXPECT_EQ(in + out, n);  // no random point lies within 0.1 m of the coast
  EXPECT_NEAR(static_cast<double>(in) / n, 0.2891, 0.003);
  // Re-encoded at another resolution, the same points are kept.
  ASSERT_EQ(ops::q7_PsetInRset(ar.Context(*idx_, 6), ps.obj, land.obj, 1, 0.0, -1), 0);
  EXPECT_EQ(Points(ar.out), in);
}

}  // namespace
