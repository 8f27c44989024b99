// Measuring: the Area of Natural Earth land 10m (data/land10m.rgn, built as a
// region set on isotype.vix) by each method, in seconds, beside
// GeographicLib's PolygonArea of the same rings in the same run; and the
// cell-area loop of zonesum (every cell's true area) on isotype.vix, in
// milliseconds. Arguments: [region text] [index].
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/measure_object.h"

using Clock = std::chrono::steady_clock;

namespace {
double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }
}  // namespace

int main(int argc, char** argv) {
  const std::string rgn = argc > 1 ? argv[1] : std::string(OMBREL_SOURCE_DIR) + "/data/land10m.rgn";
  const std::string vix = argc > 2 ? argv[2] : std::string(OMBREL_BIN_DIR) + "/isotype.vix";
  std::FILE* f = std::fopen(vix.c_str(), "rb");
  cells::CellIndex idx;
  if (!f || cells::LoadVix(f, idx, 1) != 0) {
    std::fprintf(stderr, "bench_measure: cannot load %s\n", vix.c_str());
    return 1;
  }
  std::fclose(f);
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid(34);

  // zonesum's loop: every cell's area, summed.
  auto t0 = Clock::now();
  double total = 0.0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) total += cells::IndexCellArea(idx, &e, i);
  const double loop_ms = Seconds(t0) * 1000.0;
  std::printf("cell-area loop, %s (%d cells): %.1f ms, total - ellipsoid %.2g of it\n", vix.c_str(),
              idx.cell_count, loop_ms, total / (2 * e.half_area) - 1);

  std::FILE* in = std::fopen(rgn.c_str(), "r");
  if (!in) {
    std::fprintf(stderr, "bench_measure: cannot open %s\n", rgn.c_str());
    return 1;
  }
  cells::CoordReadOptions options;
  options.kind = cells::kRset;
  options.res = 10;
  std::vector<cells::PointNode> nodes;
  cells::ReadCoordText(in, options, nodes);
  std::fclose(in);
  std::vector<std::uint8_t> memory;
  cells::Object obj;
  cells::BuildParams params;
  params.id = 1;
  params.res = 10;
  t0 = Clock::now();
  if (cells::BuildRset(idx, {nullptr, &memory}, params, nodes, obj) != 0) {
    std::fprintf(stderr, "bench_measure: cannot build the region\n");
    return 1;
  }
  std::printf("%s: %lld vertices, region set built in %.2f s\n", rgn.c_str(),
              static_cast<long long>(cells::VertexCount(obj)), Seconds(t0));

  // The peer: PolygonArea ring by ring, from latitude and longitude.
  t0 = Clock::now();
  const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  GeographicLib::PolygonArea poly(g);
  double peer = 0.0;
  int points = 0;
  for (const cells::PointNode& n : nodes) {
    if (cells::IsMark(n)) {
      if (points >= 3) {
        double p, a;
        poly.Compute(false, true, p, a);
        peer += a;
      }
      poly.Clear();
      points = 0;
      continue;
    }
    const geodesy::LatLong ll = geodesy::CosinesToGeodetic(n.p, e);
    poly.AddPoint(ll.lat * 57.29577951308232, ll.lon * 57.29577951308232);
    ++points;
  }
  const double peer_s = Seconds(t0);

  std::vector<double> table(idx.cell_count);
  t0 = Clock::now();
  cells::FillCellAreaTable(idx, &e, table);
  const double table_s = Seconds(t0);
  for (char method : {'c', 's', 'p', 'r'}) {
    t0 = Clock::now();
    const cells::ObjectMeasure m = cells::MeasureRset(idx, obj, e, method, table.data());
    const double s = Seconds(t0);
    std::printf("Area %c: %.2f s (%.3f km2, %.2g from PolygonArea) | PolygonArea %.2f s (%.3f km2)\n",
                method == 'c' ? 'c' : method, s, m.area / 1e6, m.area / peer - 1, peer_s, peer / 1e6);
  }
  std::printf("cell area table (once per index): %.2f s\n", table_s);
  cells::ReleaseIndex(idx);
  return 0;
}
