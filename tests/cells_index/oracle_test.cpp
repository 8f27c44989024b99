// Checks of the shipped indexes against independent references: location
// against the nearest centre found by search over every centre that could
// be nearer, and the cell areas against the ellipsoid's area.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "index_support.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/geodesy/area.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {
namespace {

using geodesy::ChordSq;
using geodesy::DirectionCosines;

// Exact nearest centre: the centres sorted by z; any centre whose z differs
// from p's by more than sqrt(d) is farther than d, so only the band around
// p's z needs scanning once a first distance d is known. Equal distances go
// to the lowest cell number.
struct BandSearch {
  std::vector<std::pair<double, std::int32_t>> by_z;
  const CellIndex& idx;
  explicit BandSearch(const CellIndex& i) : idx(i) {
    for (std::int32_t c = 0; c < i.cell_count; ++c) by_z.emplace_back(i.cells[c]->centre.z, c);
    std::sort(by_z.begin(), by_z.end());
  }
  std::int32_t Nearest(const DirectionCosines& p, std::int32_t guess) const {
    double best = ChordSq(p, idx.cells[guess]->centre);
    std::int32_t who = guess;
    const double reach = std::sqrt(best) + 1e-12;
    auto lo = std::lower_bound(by_z.begin(), by_z.end(), std::make_pair(p.z - reach, -1));
    for (auto it = lo; it != by_z.end() && it->first <= p.z + reach; ++it) {
      const double e = ChordSq(p, idx.cells[it->second]->centre);
      if (e < best || (e == best && it->second < who)) {
        best = e;
        who = it->second;
      }
    }
    return who;
  }
};

void CheckLocation(const char* name, std::uint64_t seed) {
  CellIndex idx;
  ASSERT_EQ(test::LoadShipped(name, idx), 0) << name;
  const BandSearch band(idx);
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> g;
  const int n = test::Sanitized() ? 10000 : 1000000;
  int wrong = 0;
  for (int t = 0; t < n; ++t) {
    const DirectionCosines p = geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)});
    const std::int32_t c = Locate(idx, p);
    // The located cell only bounds the band: if it were not the nearest,
    // the nearest would lie inside the band and be found there.
    const std::int32_t want = band.Nearest(p, c);
    if (c != want && ++wrong <= 5) ADD_FAILURE() << name << ": point " << t << " located in " << c << ", nearest " << want;
  }
  EXPECT_EQ(wrong, 0) << name << ": " << n << " points";
  ReleaseIndex(idx);
}

TEST(LocateOracle, DodecaMatchesTheNearestCentre) { CheckLocation("dodeca05.vix", 101); }
TEST(LocateOracle, IsotypeMatchesTheNearestCentre) { CheckLocation("isotype.vix", 202); }

void CheckAreas(const char* name, std::int32_t expected_cells) {
  CellIndex idx;
  ASSERT_EQ(test::LoadShipped(name, idx), 0) << name;
  ASSERT_EQ(idx.cell_count, expected_cells);
  ASSERT_EQ(VerifyIndex(idx).status, 0);
  const geodesy::Ellipsoid wgs = geodesy::MakeEllipsoid(34);
  const double ellipsoid_area = 2.0 * wgs.half_area;
  // Compensated sums (Kahan) of the cell areas, on the ellipsoid and on the
  // unit sphere.
  double sum = 0, comp = 0, ssum = 0, scomp = 0;
  std::vector<DirectionCosines> verts;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const CellRecord* r = idx.cells[i];
    verts.resize(static_cast<std::size_t>(r->neighbour_count));
    for (int k = 0; k < r->neighbour_count; ++k) ASSERT_EQ(VoronoiVertex(idx, i, k, verts[k]), 1);
    const double a = geodesy::CellArea(r->centre, verts, &wgs);
    const double s = geodesy::CellArea(r->centre, verts, nullptr);
    double y = a - comp, t = sum + y;
    comp = (t - sum) - y;
    sum = t;
    y = s - scomp;
    t = ssum + y;
    scomp = (t - ssum) - y;
    ssum = t;
  }
  const double rel = std::fabs(sum - ellipsoid_area) / ellipsoid_area;
  const double srel = std::fabs(ssum - 4 * M_PI) / (4 * M_PI);
  std::printf("%s: ellipsoidal cell areas %.6f km2, ellipsoid %.6f km2, relative difference %.3g; "
              "unit sphere %.15f (4 pi %.15f, relative %.3g)\n",
              name, sum / 1e6, ellipsoid_area / 1e6, rel, ssum, 4 * M_PI, srel);
  EXPECT_LT(srel, 1e-12) << "the cells tile the sphere";
  EXPECT_LT(rel, 1e-9) << "sum of the cell areas against the ellipsoid's area";
  ReleaseIndex(idx);
}

TEST(CellAreaOracle, DodecaAreasSumToTheEllipsoid) { CheckAreas("dodeca05.vix", 10242); }
TEST(CellAreaOracle, IsotypeAreasSumToTheEllipsoid) { CheckAreas("isotype.vix", 40962); }

}  // namespace
}  // namespace cells
