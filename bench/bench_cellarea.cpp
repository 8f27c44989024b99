// The cell-area loop of the zonesum check: the ellipsoidal area of every cell
// of an index (isotype.vix by default; another .vix may be named as the first
// argument), from its centre and Voronoi vertices, in milliseconds, with the
// total against the ellipsoid area. Beside it GeographicLib's PolygonArea of
// the same Voronoi polygons (geodesic edges between the vertices) in the
// same run. Vertex formation is included in both timings.
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"
#include "lib/geodesy/area.h"

using geodesy::DirectionCosines;

namespace {
using Clock = std::chrono::steady_clock;
double Millis(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}
}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : std::string(OMBREL_BIN_DIR) + "/isotype.vix";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "bench_cellarea: cannot open %s\n", path.c_str());
    return 1;
  }
  cells::CellIndex idx;
  const int status = cells::LoadVix(f, idx, 1);
  std::fclose(f);
  if (status != 0) {
    std::fprintf(stderr, "bench_cellarea: load error %d for %s\n", status, path.c_str());
    return 1;
  }
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid(34);
  const double whole = 2 * e.half_area;

  std::vector<DirectionCosines> vertices;
  auto t0 = Clock::now();
  double total = 0.0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const cells::CellRecord* r = idx.cells[i];
    vertices.resize(r->neighbour_count);
    for (int k = 0; k < r->neighbour_count; ++k) cells::VoronoiVertex(idx, i, k, vertices[k]);
    total += geodesy::CellArea(r->centre, vertices, &e);
  }
  const double ms = Millis(t0, Clock::now());

  const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  t0 = Clock::now();
  double peer = 0.0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const cells::CellRecord* r = idx.cells[i];
    GeographicLib::PolygonArea poly(g);
    for (int k = 0; k < r->neighbour_count; ++k) {
      DirectionCosines v;
      cells::VoronoiVertex(idx, i, k, v);
      const geodesy::LatLong ll = geodesy::CosinesToGeodetic(v, e);
      poly.AddPoint(ll.lat * 57.29577951308232, ll.lon * 57.29577951308232);
    }
    double perimeter, area;
    poly.Compute(false, true, perimeter, area);
    peer += area;
  }
  const double peer_ms = Millis(t0, Clock::now());

  std::printf("%s: %d cells\n", path.c_str(), idx.cell_count);
  std::printf(
      "cell-area loop: %.1f ms (total - ellipsoid: %.3g of it), PolygonArea %.1f ms "
      "(%.3g of it), ratio %.2f\n",
      ms, (total - whole) / whole, peer_ms, (peer - whole) / whole, peer_ms / ms);
  cells::ReleaseIndex(idx);
  return 0;
}
