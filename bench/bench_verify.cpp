// Region check benchmarks, one line per figure with S2's beside it:
//   VerifyRsetBoundary + VerifyRsetTopology of land 50m (the library calls)
//     against S2Polygon::InitNested + FindValidationError of the same loops;
//   the same checks of land 10m (S2 refuses those loops: some cross);
//   PtestRsetRset of land 10m and the 20 degree cap at 45N 10E (the library
//     call) against S2BooleanOperation::Intersects on built indexes.
// Run from the build folder: bench/bench_verify (OMBREL_BIN and
// OMBREL_SOURCE as for the tests, else ./bin and /work/main).
#include <s2/mutable_s2shape_index.h>
#include <s2/s2boolean_operation.h>
#include <s2/s2debug.h>
#include <s2/s2error.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2loop.h>
#include <s2/s2polygon.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "lib/ops/rset_ptest.h"
#include "lib/ops/rset_verify.h"
#include "tests/ops/ops_test_util.h"

using namespace ops::testing;

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::vector<std::vector<S2Point>> Loops(cells::CellIndex& idx, const cells::Object& obj) {
  std::vector<std::vector<S2Point>> loops;
  for (const auto& ring : ItemVertices(idx, obj)) {
    loops.emplace_back();
    for (const auto& p : ring) loops.back().push_back(S2Point(p.x, p.y, p.z));
  }
  return loops;
}

// Our two checks, best of `runs`; capacity is the boundary report's (8 as the
// command has it: the walk ends when the report is full; large: the whole walk).
double OurChecks(cells::CellIndex& idx, const cells::Object& land, int runs, int capacity, int* faults, int* rings) {
  std::vector<std::uint8_t> memory(static_cast<std::size_t>(ops::RsetTopologyWorkspaceBytes(land)));
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    platform::Workspace ws;
    platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
    std::vector<ops::BoundaryFault> report(capacity);
    std::int32_t listed[8];
    const auto t0 = std::chrono::steady_clock::now();
    ops::q7_RsetVerifyBoundary(idx, land, 0.0, report.data(), capacity, faults);
    ops::q7_RsetVerifyTopology(idx, ws, land, 0.0, listed, 8, rings);
    best = std::min(best, Seconds(t0));
  }
  return best;
}

double S2Checks(const std::vector<std::vector<S2Point>>& loops, int runs, bool* valid) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<S2Loop>> s2loops;
    for (const auto& l : loops) {
      auto loop = std::make_unique<S2Loop>(l, S2Debug::DISABLE);
      loop->Normalize();
      s2loops.push_back(std::move(loop));
    }
    S2Polygon polygon;
    polygon.set_s2debug_override(S2Debug::DISABLE);
    polygon.InitNested(std::move(s2loops));
    S2Error error;
    *valid = !polygon.FindValidationError(&error);
    best = std::min(best, Seconds(t0));
  }
  return best;
}

}  // namespace

int main() {
  FLAGS_s2debug = false;
  if (!std::getenv("OMBREL_BIN")) setenv("OMBREL_BIN", "bin", 0);
  cells::CellIndex idx;
  if (!LoadIndex("isotype.vix", idx)) {
    std::fprintf(stderr, "bench_verify: cannot load isotype.vix\n");
    return 1;
  }
  for (const char* file : {"land50m.rgn", "land10m.rgn"}) {
    HeapObject land;
    if (!LoadLand(idx, file, land)) {
      std::fprintf(stderr, "bench_verify: cannot load %s\n", file);
      return 1;
    }
    int faults = 0, rings = 0, all_faults = 0;
    const double ours = OurChecks(idx, land.obj, 3, 8, &faults, &rings);
    const double whole = OurChecks(idx, land.obj, 3, 1 << 20, &all_faults, &rings);
    bool valid = false;
    const double s2 = S2Checks(Loops(idx, land.obj), 3, &valid);
    std::printf("checks %s: ours %.3f s as the commands run (report of 8), %.3f s walking every cell (%d faults,"
                " %d rings listed)   S2 InitNested+FindValidationError %.3f s (%s)   ratio ours/S2 %.2f, whole walk %.2f\n",
                file, ours, whole, all_faults, rings, s2, valid ? "valid" : "refused", ours / s2, whole / s2);
  }
  HeapObject land;
  LoadLand(idx, "land10m.rgn", land);
  // The 20 degree cap at 45N 10E as a ring of 360 points.
  std::vector<cells::PointNode> nodes;
  const geodesy::DirectionCosines c = LatLonDeg(45, 10);
  const geodesy::DirectionCosines axis{0, 0, 1};
  geodesy::DirectionCosines e = geodesy::Cross(axis, c);
  const double el = std::sqrt(geodesy::Dot(e, e));
  e = {e.x / el, e.y / el, e.z / el};
  const geodesy::DirectionCosines nn = geodesy::Cross(c, e);
  std::vector<S2Point> cap_points;
  const double r = 20 * M_PI / 180;
  for (int i = 0; i < 360; ++i) {
    const double t = 2 * M_PI * i / 360;
    geodesy::DirectionCosines p{std::cos(r) * c.x + std::sin(r) * (std::cos(t) * e.x + std::sin(t) * nn.x),
                                std::cos(r) * c.y + std::sin(r) * (std::cos(t) * e.y + std::sin(t) * nn.y),
                                std::cos(r) * c.z + std::sin(r) * (std::cos(t) * e.z + std::sin(t) * nn.z)};
    nodes.push_back({p, 0});
    cap_points.push_back(S2Point(p.x, p.y, p.z));
  }
  nodes.push_back(cells::Mark(1));
  HeapObject cap;
  Build(idx, cells::kRset, nodes, cap, 10);
  const int reps = 2000;
  int answer = 0;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < reps; ++i) answer += ops::q7_RsetRsetPtest(idx, cap.obj, land.obj, 0.0, false);
  const double ours = Seconds(t0) / reps * 1e6;
  MutableS2ShapeIndex a, b;
  a.Add(std::make_unique<S2LaxPolygonShape>(std::vector<std::vector<S2Point>>{cap_points}));
  b.Add(std::make_unique<S2LaxPolygonShape>(Loops(idx, land.obj)));
  a.ForceBuild();
  b.ForceBuild();
  int s2answer = 0;
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < reps; ++i) s2answer += S2BooleanOperation::Intersects(a, b);
  const double s2 = Seconds(t0) / reps * 1e6;
  std::printf("PtestRsetRset land 10m x 20 degree cap at 45N 10E: ours %.2f us (%s)   S2 Intersects %.2f us (%s)"
              "   ratio ours/S2 %.2f\n",
              ours, answer ? "common" : "apart", s2, s2answer ? "common" : "apart", ours / s2);
  return 0;
}
