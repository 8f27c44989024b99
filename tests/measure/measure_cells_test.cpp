// True triangle and cell areas: the sphere, convergence under subdivision,
// signs, and whole indexes against the ellipsoid's area.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "lib/geodesy/area.h"
#include "lib/geodesy/measure_cells.h"
#include "lib/cells/measure_object.h"
#include "tests/measure/measure_support.h"

using namespace geodesy;
using namespace cells;

namespace {

DirectionCosines Deg(double lat, double lon) {
  return GeocentricToCosines({lat * std::numbers::pi / 180, lon * std::numbers::pi / 180});
}

// The triangle cut into 4^depth by its midpoints.
double Subdivided(const Ellipsoid& e, DirectionCosines c, DirectionCosines a, DirectionCosines b, int depth) {
  if (depth == 0) return NormalTriangleArea(&e, c, a, b);
  const DirectionCosines m1 = Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
  const DirectionCosines m2 = Normalised({b.x + c.x, b.y + c.y, b.z + c.z});
  const DirectionCosines m3 = Normalised({c.x + a.x, c.y + a.y, c.z + a.z});
  return Subdivided(e, c, m3, m2, depth - 1) + Subdivided(e, m3, a, m1, depth - 1) +
         Subdivided(e, m2, m1, b, depth - 1) + Subdivided(e, m1, m2, m3, depth - 1);
}

}  // namespace

TEST(MeasureTriangle, SphereIsRadiusSquaredTimesExcess) {
  const Ellipsoid sphere = MakeUserEllipsoid(6371000.0, 6371000.0);
  const DirectionCosines c = Deg(10, 20), a = Deg(-5, 40), b = Deg(30, 35);
  const double excess = SphericalTriangleArea(c, a, b);
  EXPECT_NEAR(NormalTriangleArea(&sphere, c, a, b) / (sphere.a2 * excess), 1.0, 1e-13);
  EXPECT_NEAR(NormalTriangleArea(nullptr, c, a, b) / excess, 1.0, 1e-13);
}

TEST(MeasureTriangle, SignFollowsOrientation) {
  const Ellipsoid e = MakeEllipsoid(34);
  const DirectionCosines c = Deg(45, 0), a = Deg(44, 1), b = Deg(46, 1.5);
  const double t = NormalTriangleArea(&e, c, a, b);
  EXPECT_GT(t, 0.0);
  EXPECT_DOUBLE_EQ(NormalTriangleArea(&e, c, b, a), -t);
  EXPECT_NEAR(NormalTriangleArea(&e, a, b, c), t, 1e-12 * t);  // rotation keeps it
  EXPECT_EQ(NormalTriangleArea(&e, c, c, a), 0.0);
  EXPECT_EQ(NormalTriangleArea(&e, {NOVALUE, 0, 0}, a, b), NOVALUE);
}

// Triangles from 1 km to 30 degrees, skewed, at the equator, mid-latitude and
// over a pole, against the same triangle cut into 256 pieces.
TEST(MeasureTriangle, AgreesWithItsSubdivision) {
  const Ellipsoid e = MakeEllipsoid(34);
  const double lats[] = {0.0, 47.0, 89.5};
  for (double lat : lats) {
    for (double s : {0.01, 0.1, 1.0, 10.0, 30.0}) {
      const DirectionCosines c = Deg(lat, 10), a = Deg(lat - s, 10 + s), b = Deg(lat + 0.3 * s, 10 + 1.2 * s);
      const double direct = NormalTriangleArea(&e, c, a, b);
      const double fine = Subdivided(e, c, a, b, 4);
      EXPECT_NEAR(direct / fine, 1.0, s > 5 ? 1e-10 : 1e-11) << "lat " << lat << " size " << s;
    }
  }
}

TEST(MeasureCells, IndexCellsAddUpToTheEllipsoid) {
  const Ellipsoid e = MakeEllipsoid(34);
  const double whole = 2.0 * e.half_area;
  for (const char* vix : {"dodeca05.vix", "isotype.vix"}) {
    cells::CellIndex idx;
    ASSERT_TRUE(measure_test::LoadIndex(vix, idx)) << vix;
    double total = 0.0;
    std::vector<double> table(idx.cell_count);
    ASSERT_TRUE(FillCellAreaTable(idx, &e, table, &total));
    std::printf("%s: cells - ellipsoid = %.3g of it\n", vix, (total - whole) / whole);
    EXPECT_LT(std::fabs(total - whole), 1e-11 * whole);
    // Summed with compensation, the shares make 1 to the last bit.
    double sum = 0.0, carry = 0.0;
    for (double share : table) {
      const double t = sum + share;
      carry += (sum - t) + share;
      sum = t;
    }
    EXPECT_NEAR(sum + carry, 1.0, 1e-15);
    // One cell measured alone is its share of the total.
    EXPECT_NEAR(IndexCellArea(idx, &e, 17) / total, table[17], 1e-15);
    cells::ReleaseIndex(idx);
  }
}

TEST(MeasureCells, SphereTableIsSphericalAreaOverFourPi) {
  cells::CellIndex idx;
  ASSERT_TRUE(measure_test::LoadIndex("dodeca05.vix", idx));
  const Ellipsoid sphere = MakeUserEllipsoid(6371000.0, 6371000.0);
  std::vector<double> table(idx.cell_count);
  ASSERT_TRUE(FillCellAreaTable(idx, &sphere, table));
  for (std::int32_t i : {0, 1, 500, 10241}) {
    EXPECT_NEAR(table[i], IndexCellArea(idx, nullptr, i) / (4 * std::numbers::pi), 1e-16) << i;
  }
  std::vector<double> too_small(3);
  EXPECT_FALSE(FillCellAreaTable(idx, &sphere, too_small));
  EXPECT_EQ(IndexCellArea(idx, &sphere, idx.cell_count), NOVALUE);
  cells::ReleaseIndex(idx);
}
