// Buffers beside S2BufferOperation, in the same run:
//   - near points: 100 000 points in 1 000 clusters of 100 (each within
//     0.4 degrees of its centre, so neighbouring circles overlap), 20 km,
//     density 2 (23 vertices a circle): q7_RsetNearPoints against one
//     S2BufferOperation with one AddPoint per point and 23 circle segments;
//   - near lines: the land 50m rings as lines, 20 km right and 5 km left,
//     density 2: q7_LsetExpand against two S2BufferOperations (RIGHT, LEFT,
//     23 circle segments, round caps) and the union of their polygons.
// S2 builds S2Polygons (S2PolygonLayer). Cluster centres and offsets come
// from splitmix64 seed 5. BENCH_ROUNDS rounds (default 3, for S2 and for
// ours alike: a first round pays for fresh memory that later rounds find in
// the heap; BENCH_LINE_ROUNDS sets ours apart for the line buffer); each
// figure is the best round.
// BENCH_POINTS_ONLY or BENCH_LINES_ONLY runs one half, BENCH_COAST names
// another coast file, BENCH_OURS_ONLY leaves S2 out.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <s2/s2buffer_operation.h>
#include <s2/s2builderutil_s2polygon_layer.h>
#include <s2/s2debug.h>
#include <s2/s2polygon.h>

#include "lib/cells/cell_index.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/rset_buffers.h"
#include "bench/bench_points.h"
#include "tests/ops/ops_test_util.h"

using geodesy::DirectionCosines;
using namespace benchpoints;

namespace {

constexpr double kMeanRadius = 6371007.1808;


DirectionCosines Unit(DirectionCosines a) {
  const double l = std::sqrt(geodesy::Dot(a, a));
  return {a.x / l, a.y / l, a.z / l};
}

int Rounds(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

// The best of rounds of f, in seconds.
template <class F>
double BestSeconds(int rounds, F&& f) {
  return BestNs(rounds, 1, f) * 1e-9;
}

std::unique_ptr<S2Polygon> S2Buffer(double radians, S2BufferOperation::PolylineSide side,
                                    const std::vector<S2Point>* points,
                                    const std::vector<std::vector<S2Point>>* lines) {
  auto poly = std::make_unique<S2Polygon>();
  S2BufferOperation::Options o(S1Angle::Radians(radians));
  o.set_circle_segments(23);
  o.set_polyline_side(side);
  o.set_end_cap_style(S2BufferOperation::EndCapStyle::ROUND);
  S2BufferOperation op(std::make_unique<s2builderutil::S2PolygonLayer>(poly.get()), o);
  if (points)
    for (const S2Point& p : *points) op.AddPoint(p);
  if (lines)
    for (const auto& l : *lines) op.AddPolyline(l);
  S2Error error;
  if (!op.Build(&error)) std::printf("S2 buffer failed: %s\n", error.text().c_str());
  return poly;
}

void PointBench(cells::CellIndex& idx, const geodesy::Ellipsoid& e) {
  SplitMix r{5};
  std::vector<cells::PointNode> nodes;
  std::vector<S2Point> s2pts;
  const double spread = 0.4 * M_PI / 180.0;
  const int clusters = Rounds("BENCH_CLUSTERS", 1000);
  for (int c = 0; c < clusters; ++c) {
    const DirectionCosines centre = r.Point();
    const DirectionCosines east = Unit(geodesy::Cross(std::fabs(centre.z) < 0.9 ? DirectionCosines{0, 0, 1}
                                                                                         : DirectionCosines{1, 0, 0},
                                                               centre));
    const DirectionCosines north = geodesy::Cross(centre, east);
    for (int i = 0; i < 100; ++i) {
      const double t = 2 * M_PI * r.Unit(), rho = spread * std::sqrt(r.Unit());
      const double ct = std::cos(t) * std::sin(rho), st = std::sin(t) * std::sin(rho), cr = std::cos(rho);
      const DirectionCosines p{centre.x * cr + east.x * ct + north.x * st, centre.y * cr + east.y * ct + north.y * st,
                               centre.z * cr + east.z * ct + north.z * st};
      nodes.push_back({p, static_cast<std::uint64_t>(c)});
    }
  }
  BenchObject pts;
  if (!BuildObject(idx, cells::kPset, nodes, pts)) {
    std::printf("Pset build failed\n");
    return;
  }
  // S2 buffers the stored positions, as the buffer does.
  std::vector<cells::PointNode> stored;
  cells::CollectVertices(idx, pts.obj, stored);
  for (const auto& n : stored)
    if (!cells::IsMark(n)) s2pts.emplace_back(n.p.x, n.p.y, n.p.z);
  const int rounds = Rounds("BENCH_ROUNDS", 3);
  ops::testing::OutputArena out(512u << 20, 1);
  int status = 0;
  const double ours = BestSeconds(rounds, [&] {
    status = ops::q7_RsetNearPoints(out.Context(idx), &e, 1, 2, 20000.0, pts.obj);
  });
  std::size_t s2_vertices = 0;
  const double s2 = BestSeconds(std::getenv("BENCH_OURS_ONLY") ? 0 : rounds, [&] {
    auto poly = S2Buffer(20000.0 / kMeanRadius, S2BufferOperation::PolylineSide::BOTH, &s2pts, nullptr);
    s2_vertices = static_cast<std::size_t>(poly->num_vertices());
  });
  std::printf("near points, %zu clustered points at 20 km, density 2: ours %.3f s (status %d), "
              "S2BufferOperation %.3f s (%zu vertices); ratio %.2f\n",
              s2pts.size(), ours, status, s2, s2_vertices, ours / s2);
}

void LineBench(cells::CellIndex& idx, const geodesy::Ellipsoid& e) {
  const char* coast = std::getenv("BENCH_COAST") ? std::getenv("BENCH_COAST") : "land50m.rgn";
  std::FILE* f = std::fopen((BinDir() + coast).c_str(), "rb");
  if (!f) {
    std::printf("%s not found\n", coast);
    return;
  }
  cells::CoordReadOptions o;
  o.kind = 1;
  o.res = 10;
  std::vector<cells::PointNode> nodes;
  cells::ReadCoordText(f, o, nodes);
  std::fclose(f);
  BenchObject lines;
  if (!BuildObject(idx, cells::kLset, nodes, lines)) {
    std::printf("land 50m build failed\n");
    return;
  }
  std::vector<cells::PointNode> stored;
  cells::CollectVertices(idx, lines.obj, stored);
  std::vector<std::vector<S2Point>> s2lines(1);
  std::size_t vertices = 0;
  for (const auto& n : stored) {
    if (cells::IsMark(n)) {
      if (!s2lines.back().empty()) s2lines.emplace_back();
      continue;
    }
    s2lines.back().emplace_back(n.p.x, n.p.y, n.p.z);
    ++vertices;
  }
  if (s2lines.back().empty()) s2lines.pop_back();
  // The widths as angles at the radius the buffer takes for each line lie
  // within a few thousandths of these.
  const double right = 20000.0 / kMeanRadius, left = 5000.0 / kMeanRadius;
  const int rounds = Rounds("BENCH_ROUNDS", 3), line_rounds = Rounds("BENCH_LINE_ROUNDS", rounds);
  std::size_t s2_vertices = 0;
  double s2_sides = 0.0;
  const double s2 = BestSeconds(std::getenv("BENCH_OURS_ONLY") ? 0 : rounds, [&] {
    const double t0 = Now();
    auto r = S2Buffer(right, S2BufferOperation::PolylineSide::RIGHT, nullptr, &s2lines);
    auto l = S2Buffer(left, S2BufferOperation::PolylineSide::LEFT, nullptr, &s2lines);
    s2_sides = Now() - t0;
    S2Polygon both;
    both.InitToUnion(*r, *l);
    s2_vertices = static_cast<std::size_t>(both.num_vertices());
  });
  ops::testing::OutputArena out(1024u << 20, 1);
  int status = 0;
  const double ours = BestSeconds(line_rounds, [&] {
    status = ops::q7_LsetExpand(out.Context(idx), &e, 1, 2, 2, 20000.0, 5000.0, lines.obj);
  });
  std::printf("near lines, %s as %zu lines of %zu vertices, 20 km right, 5 km left, density 2: ours %.2f s "
              "(status %d), S2 RIGHT + LEFT + union %.2f s (the two buffers %.2f s, %zu vertices); ratio %.2f\n",
              coast, s2lines.size(), vertices, ours, status, s2, s2_sides, s2_vertices, ours / s2);
}

}  // namespace

int main() {
  FLAGS_s2debug = false;
  cells::CellIndex idx;
  if (!LoadIsotype(idx)) return 1;
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  if (!std::getenv("BENCH_LINES_ONLY")) PointBench(idx, e);
  if (!std::getenv("BENCH_POINTS_ONLY")) LineBench(idx, e);
  cells::ReleaseIndex(idx);
  return 0;
}
