// The object-level walk: region sets cut into cell pieces measured by the
// cell method against the rings (method r), complements, rings in one cell,
// holes, corners at Voronoi vertices; line lengths against GeographicLib.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <numbers>

#include "lib/cells/cell_locate.h"
#include "lib/cells/measure_object.h"
#include "tests/measure/measure_support.h"

using namespace geodesy;
using namespace cells;
using Rings = std::vector<std::vector<std::pair<double, double>>>;

namespace {

class MeasureObject : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(measure_test::LoadIndex("dodeca05.vix", idx)); }
  void TearDown() override { cells::ReleaseIndex(idx); }

  ObjectMeasure Measure(const std::vector<cells::PointNode>& nodes, char method) {
    measure_test::HeapObject h = measure_test::Build(idx, nodes, cells::kRset);
    EXPECT_EQ(h.status, 0);
    return MeasureRset(idx, h.obj, e, method, nullptr);
  }
  // The cell method takes a leg as the builder follows it, along the plane
  // through its ends and the centre; a geodesic leaves that plane by 1.5 m
  // over 150 km. The reference is method r on the ring with every leg cut
  // into 64 along its plane, where the two paths agree to a millimetre.
  static std::vector<cells::PointNode> Densified(const std::vector<cells::PointNode>& nodes) {
    std::vector<cells::PointNode> out;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      if (!cells::IsMark(nodes[i])) continue;
      for (std::size_t j = begin; j < i; ++j) {
        const DirectionCosines a = nodes[j].p, b = nodes[j + 1 < i ? j + 1 : begin].p;
        for (int k = 0; k < 64; ++k) {
          const double t = k / 64.0;
          out.push_back({Normalised({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)}), 0});
        }
      }
      out.push_back(nodes[i]);
      begin = i + 1;
    }
    return out;
  }
  // Cell method against r, and the complement against the rest.
  void CheckRegion(const std::vector<cells::PointNode>& nodes, double tolerance, const char* what) {
    const ObjectMeasure c = Measure(nodes, 'c'), r = Measure(Densified(nodes), 'r');
    ASSERT_EQ(c.status, 0) << what;
    ASSERT_EQ(r.status, 0) << what;
    EXPECT_NEAR(c.area, r.area, tolerance * r.area + 1e-3) << what;
    EXPECT_NEAR(c.perimeter, r.perimeter, 1e-6 * r.perimeter) << what;
    const ObjectMeasure rest = Measure(measure_test::Reversed(nodes), 'c');
    ASSERT_EQ(rest.status, 0) << what;
    EXPECT_NEAR(c.area + rest.area, whole, 1e-12 * whole) << what;
  }
  // A ring of n corners round (lat, lon), radius in degrees.
  static std::vector<std::pair<double, double>> Circle(double lat, double lon, double radius, int n,
                                                       bool clockwise = false) {
    std::vector<std::pair<double, double>> ring;
    for (int k = 0; k < n; ++k) {
      const double t = 2 * std::numbers::pi * k / n * (clockwise ? -1 : 1);
      ring.emplace_back(lat + radius * std::sin(t), lon + radius * std::cos(t) / std::cos(lat * std::numbers::pi / 180));
    }
    return ring;
  }

  cells::CellIndex idx;
  Ellipsoid e = MakeEllipsoid(34);
  double whole = 2.0 * e.half_area;
};

LatLong Degrees(const DirectionCosines& v, const Ellipsoid& e) {
  LatLong ll = CosinesToGeodetic(v, e);
  return {ll.lat * 180 / std::numbers::pi, ll.lon * 180 / std::numbers::pi};
}

}  // namespace

TEST_F(MeasureObject, RingInsideOneCell) {
  // 2 km across: well inside one cell of about 200 km.
  CheckRegion(measure_test::NodesOf({Circle(12.3, 45.6, 0.01, 24)}, e), 1e-9, "small ring");
  CheckRegion(measure_test::NodesOf({Circle(-33.3, 150.6, 0.01, 24, true)}, e), 1e-9, "small hole");
}

TEST_F(MeasureObject, RingsAcrossManyCellsWithAHole) {
  const Rings rings = {Circle(40, 10, 8, 200), Circle(41, 11, 3, 120, true)};
  CheckRegion(measure_test::NodesOf(rings, e), 1e-9, "ring with hole");
  // Over a pole and across the date line.
  CheckRegion(measure_test::NodesOf({Circle(85, 179, 3, 300)}, e), 1e-9, "polar ring");
}

TEST_F(MeasureObject, CornersOnVoronoiVertices) {
  // A quadrangle whose corners are Voronoi vertices of one cell and one that
  // crosses right through a vertex: crossings meet at the corners of cells.
  DirectionCosines v[4];
  for (int k = 0; k < 4; ++k) cells::VoronoiVertex(idx, 100, k, v[k]);
  std::vector<cells::PointNode> nodes;
  for (int k = 0; k < 4; ++k) nodes.push_back({v[k], 0});
  nodes.push_back(cells::Mark(1));
  nodes.push_back(cells::Mark(1));
  CheckRegion(nodes, 1e-9, "vertex corners");
  const LatLong w = Degrees(v[0], e);
  CheckRegion(measure_test::NodesOf({Circle(w.lat, w.lon, 0.5, 4)}, e), 1e-9, "through a vertex");
  // A sliver cutting one cell's corner a metre from the vertex.
  CheckRegion(measure_test::NodesOf({Circle(w.lat, w.lon, 1e-5, 3)}, e), 1e-6, "corner sliver");
}

TEST_F(MeasureObject, RingsAlongCellEdges) {
  // A ring round one cell along its own edges is that cell.
  const cells::CellRecord* r = idx.cells[321];
  std::vector<cells::PointNode> cell_ring;
  for (int k = 0; k < r->neighbour_count; ++k) {
    DirectionCosines v;
    cells::VoronoiVertex(idx, 321, k, v);
    cell_ring.push_back({v, 0});
  }
  cell_ring.push_back(cells::Mark(1));
  cell_ring.push_back(cells::Mark(1));
  const ObjectMeasure c = Measure(cell_ring, 'c');
  ASSERT_EQ(c.status, 0);
  EXPECT_NEAR(c.area, IndexCellArea(idx, &e, 321), 1e-9 * c.area);
  // Two quadrangles sharing an edge, as two rings of one region: their sum.
  const Rings pair = {{{10, 10}, {10, 12}, {12, 12}, {12, 10}}, {{10, 12}, {10, 14}, {12, 14}, {12, 12}}};
  const Rings left = {pair[0]}, right = {pair[1]};
  const double both = Measure(measure_test::NodesOf(pair, e), 'c').area;
  const double sum = Measure(measure_test::NodesOf(left, e), 'c').area + Measure(measure_test::NodesOf(right, e), 'c').area;
  EXPECT_NEAR(both, sum, 1e-9 * sum);
}

TEST_F(MeasureObject, WrongKindOrDamageIsRefused) {
  measure_test::HeapObject line = measure_test::Build(idx, measure_test::NodesOf({Circle(0, 0, 1, 5)}, e), cells::kLset);
  ASSERT_EQ(line.status, 0);
  EXPECT_EQ(MeasureRset(idx, line.obj, e, 'c', nullptr).status, 1);
  measure_test::HeapObject region = measure_test::Build(idx, measure_test::NodesOf({Circle(0, 0, 1, 5)}, e), cells::kRset);
  EXPECT_EQ(MeasureLset(idx, region.obj, e).status, 1);
  region.obj.coord_size = 8;  // sections no longer hold the vertices
  EXPECT_EQ(MeasureRset(idx, region.obj, e, 'c', nullptr).status, 1);
}

TEST_F(MeasureObject, LengthOfEquatorAndMeridian) {
  const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  auto length = [&](const std::vector<std::pair<double, double>>& line) {
    std::vector<cells::PointNode> nodes = measure_test::NodesOf({line}, e);
    measure_test::HeapObject h = measure_test::Build(idx, nodes, cells::kLset, 6);
    EXPECT_EQ(h.status, 0);
    const ObjectMeasure m = MeasureLset(idx, h.obj, e);
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.vertices, static_cast<std::int64_t>(line.size()));
    return m.perimeter;
  };
  // A quarter of the equator, stored with 32-bit coordinates.
  EXPECT_NEAR(length({{0, 0}, {0, 90}}), e.a * std::numbers::pi / 2, 1e-3);
  EXPECT_NEAR(length({{0, -30}, {0, 0}, {0, 30}, {0, 60}}), e.a * std::numbers::pi / 2, 1e-3);
  // Meridian arcs: one geocentric radius for the whole line, so the length
  // is as good as that radius is along the arc.
  for (double top : {1.0, 10.0, 60.0}) {
    std::vector<std::pair<double, double>> line;
    for (int k = 0; k <= 20; ++k) line.emplace_back(top * k / 20, 10.0);
    double s12 = 0;
    g.Inverse(0, 10, top, 10, s12);
    const double rel = length(line) / s12 - 1.0;
    std::printf("meridian arc 0-%g N: %.3g relative to GeographicLib\n", top, rel);
    EXPECT_LT(std::fabs(rel), top <= 1.0 ? 2e-5 : 2e-3);
  }
}
