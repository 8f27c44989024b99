// Buffers of points and lines on small built objects: densities, merges of
// overlapping circles, the side rule of line buffers checked by brute force,
// one-sided bands, joins, poles and the antimeridian, afar as the complement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "lib/cells/object_dump.h"
#include "lib/ops/rset_buffers.h"
#include "lib/ops/rset_point_test.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using cells::PointNode;
using geodesy::DirectionCosines;

struct Arena {
  std::vector<std::uint8_t> memory;
  platform::Workspace ws;
  cells::Object out;
  explicit Arena(std::size_t n = 256 << 20) : memory(n) {}
  ops::DeriveContext Context(cells::CellIndex& idx, int res = 10) {
    platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
    ops::DeriveContext c;
    c.index = &idx;
    c.output = &ws;
    c.object = &out;
    c.created = 1234;
    c.res = res;
    return c;
  }
};

class Buffers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    idx_ = new cells::CellIndex;
    ASSERT_TRUE(LoadIndex("isotype.vix", *idx_));
  }
  static void TearDownTestSuite() {
    cells::ReleaseIndex(*idx_);
    delete idx_;
  }
  static cells::CellIndex* idx_;
};
cells::CellIndex* Buffers::idx_ = nullptr;

// FNV-1a over the three sections of an object.
std::uint64_t Fingerprint(const cells::Object& o) {
  std::uint64_t h = 1469598103934665603ull;
  auto eat = [&](const std::uint8_t* p, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  };
  eat(o.env, o.env_size);
  eat(o.structure, o.struct_size);
  eat(o.coords, o.coord_size);
  return h;
}

std::vector<PointNode> Clusters(int clusters, int per, double spread_deg, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<PointNode> v;
  for (int c = 0; c < clusters; ++c) {
    const double lat = std::asin(u(rng)) * 180.0 / M_PI, lon = 180.0 * u(rng);
    for (int i = 0; i < per; ++i)
      v.push_back({LatLonDeg(std::clamp(lat + spread_deg * u(rng), -90.0, 90.0), lon + spread_deg * u(rng)),
                   static_cast<std::uint64_t>(c * per + i)});
  }
  return v;
}

TEST_F(Buffers, PointResultsKeepTheirBytes) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  struct Case { int clusters, per; double spread, d; int density, mode; std::uint64_t seed; };
  // The fingerprints of the pairwise neighbour search, kept by the indexed one.
  const Case cases[] = {{20, 15, 1.0, 50000, 2, 1, 7}, {5, 40, 0.5, 30000, 4, 1, 8},
                        {30, 10, 2.0, 80000, 1, 2, 9}};
  const std::uint64_t expected[] = {12472244687603909168ull, 1135817975622211300ull, 4867068677065943143ull};
  int k = 0;
  for (const Case& c : cases) {
    HeapObject pts;
    Build(*idx_, cells::kPset, Clusters(c.clusters, c.per, c.spread, c.seed), pts);
    ASSERT_EQ(pts.status, 0);
    Arena a;
    ASSERT_EQ(ops::q7_RsetNearPoints(a.Context(*idx_), &e, c.mode, c.density, c.d, pts.obj), 0);
    EXPECT_EQ(Fingerprint(a.out), expected[k++]) << "density " << c.density;
  }
}

}  // namespace
