// Natural Earth land at 110m, 50m and 10m, imported from the shipped region
// text and built as region sets on the shipped indexes: Area by the cell
// method and by s, p and r against GeographicLib's PolygonArea of the same
// rings on WGS84 (entry 34), and land + its complement (the reversed rings)
// against the ellipsoid's area. The figures are printed for the notes.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <chrono>
#include <cmath>

#include "lib/cells/measure_object.h"
#include "tests/measure/measure_support.h"

using namespace geodesy;
using namespace cells;

namespace {

double PolygonAreaOf(const Ellipsoid& e, const std::vector<cells::PointNode>& nodes, double* perimeter) {
  const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  GeographicLib::PolygonArea poly(g);
  double total = 0.0, length = 0.0;
  int points = 0;
  for (const cells::PointNode& n : nodes) {
    if (cells::IsMark(n)) {
      if (points >= 3) {
        double p = 0, a = 0;
        poly.Compute(false, true, p, a);
        total += a;
        length += p;
      }
      poly.Clear();
      points = 0;
      continue;
    }
    const LatLong ll = CosinesToGeodetic(n.p, e);
    poly.AddPoint(ll.lat * 57.29577951308232, ll.lon * 57.29577951308232);
    ++points;
  }
  *perimeter = length;
  return total;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void CheckLand(const char* rgn, const char* vix) {
  cells::CellIndex idx;
  ASSERT_TRUE(measure_test::LoadIndex(vix, idx)) << vix;
  const Ellipsoid e = MakeEllipsoid(34);
  const auto land = measure_test::ReadNodes(measure_test::SourcePath(std::string("data/") + rgn), cells::kRset);
  ASSERT_GT(land.size(), 100u) << rgn;
  double ref_perimeter = 0;
  const double ref = PolygonAreaOf(e, land, &ref_perimeter);

  auto t0 = std::chrono::steady_clock::now();
  measure_test::HeapObject obj = measure_test::Build(idx, land, cells::kRset);
  ASSERT_EQ(obj.status, 0);
  const double t_build = Seconds(t0);
  std::vector<double> table(idx.cell_count);
  ASSERT_TRUE(FillCellAreaTable(idx, &e, table));

  double area[4], secs[4];
  const char methods[4] = {'c', 's', 'p', 'r'};
  for (int i = 0; i < 4; ++i) {
    t0 = std::chrono::steady_clock::now();
    const ObjectMeasure m = MeasureRset(idx, obj.obj, e, methods[i], table.data());
    secs[i] = Seconds(t0);
    ASSERT_EQ(m.status, 0) << methods[i];
    area[i] = m.area;
    EXPECT_NEAR(m.perimeter / ref_perimeter, 1.0, 1e-12) << methods[i];
  }
  auto rel = [&](double a) { return std::fabs(a / ref - 1.0); };
  std::printf("%s on %s: PolygonArea %.3f km2; build %.2f s; relative difference (seconds): "
              "cell %.2g (%.2f), s %.2g (%.2f), p %.2g (%.2f), r %.2g (%.2f)\n",
              rgn, vix, ref / 1e6, t_build, rel(area[0]), secs[0], rel(area[1]), secs[1],
              rel(area[2]), secs[2], rel(area[3]), secs[3]);
  EXPECT_LT(rel(area[3]), 1e-7);  // r: geodesic edges exactly
  EXPECT_LT(rel(area[1]), 1e-5);  // s
  EXPECT_LT(rel(area[0]), 1e-5);  // cell: edges as plane sections, as the cell pieces are cut
  EXPECT_LT(rel(area[2]), 1e-5);  // p: level edges along parallels
  EXPECT_LT(std::fabs(area[0] / area[1] - 1.0), 1e-5);

  // The sea from the reversed rings: land + sea is the whole ellipsoid.
  measure_test::HeapObject sea = measure_test::Build(idx, measure_test::Reversed(land), cells::kRset);
  ASSERT_EQ(sea.status, 0);
  const ObjectMeasure s = MeasureRset(idx, sea.obj, e, 'c', table.data());
  ASSERT_EQ(s.status, 0);
  const double whole = 2.0 * e.half_area;
  std::printf("  land + sea - ellipsoid: %.3g of it\n", (area[0] + s.area - whole) / whole);
  EXPECT_LT(std::fabs(area[0] + s.area - whole), 1e-9 * whole);
  const ObjectMeasure sr = MeasureRset(idx, sea.obj, e, 'r', nullptr);
  EXPECT_LT(std::fabs(area[3] + sr.area - whole), 1e-9 * whole);
  cells::ReleaseIndex(idx);
}

}  // namespace

TEST(MeasureLand, Land110mOnDodeca05) { CheckLand("land110m.rgn", "dodeca05.vix"); }
TEST(MeasureLand, Land110mOnIsotype) { CheckLand("land110m.rgn", "isotype.vix"); }
TEST(MeasureLand, Land50m) { CheckLand("land50m.rgn", "isotype.vix"); }
TEST(MeasureLand, Land10m) {
  if (measure_test::Sanitized()) GTEST_SKIP() << "too slow under the sanitizers";
  CheckLand("land10m.rgn", "isotype.vix");
}
