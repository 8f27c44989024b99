// DerivePsetTin of 1 000 000 random points over the sphere on isotype.vix
// (heights linear in the unit vector), and the surface value at random
// positions: seconds for the TIN, microseconds per value.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "lib/cells/cell_locate.h"
#include "bench/bench_heights.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/ops/pset_tin.h"
#include "lib/ops/surface.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

geodesy::DirectionCosines RandomUnit(std::mt19937_64& rng) {
  std::normal_distribution<double> n(0.0, 1.0);
  double x = n(rng), y = n(rng), z = n(rng);
  const double r = std::sqrt(x * x + y * y + z * z);
  return {x / r, y / r, z / r};
}

// This thread's CPU time.
double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  cells::CellIndex idx;
  if (!benchheights::LoadIsotype(idx)) return 1;
  std::mt19937_64 rng(12);
  std::vector<cells::PointNode> nodes(n);
  for (auto& node : nodes) {
    node.p = RandomUnit(rng);
    const float z = static_cast<float>(800.0 * node.p.x - 300.0 * node.p.y + 500.0 * node.p.z);
    benchheights::SetHeight(node, z);
  }
  std::vector<std::uint8_t> heap;
  cells::Object src;
  if (!benchheights::BuildHeightPset(idx, nodes, heap, src)) return 1;

  const std::int64_t bytes = std::int64_t{1} << 30;
  std::vector<std::uint64_t> mem(bytes / 8);
  platform::Workspace arena;
  platform::WorkspaceInit(&arena, reinterpret_cast<std::uint8_t*>(mem.data()), bytes);
  cells::Object out;
  auto t0 = std::chrono::steady_clock::now();
  const int status = benchheights::DeriveTin(idx, arena, src, true, out);
  const double tin_s = Seconds(t0);
  std::printf("DerivePsetTin of %d points (isotype, with n): %.3f s, status %d, %lld triangles\n", n, tin_s, status,
              static_cast<long long>(out.kfield[4]));

  const int queries = 1000000;
  std::vector<geodesy::DirectionCosines> q(queries);
  for (auto& p : q) p = RandomUnit(rng);
  // Best of 3 for each loop, in the thread's CPU time: the machine is shared
  // and other jobs' turns would count in wall time. A fresh search state for
  // every repetition, so each one starts cold.
  double random_us = 1e30, locate_us = 1e30, path_us = 1e30;
  double random_sum = 0.0, path_sum = 0.0, c0 = 0.0;
  int valued = 0;
  std::int64_t cellsum = 0;
  for (int rep = 0; rep < 3; ++rep) {
    ops::SurfaceSearch s;
    random_sum = 0.0;
    valued = 0;
    c0 = CpuSeconds();
    for (const auto& p : q) {
      const double v = ops::q7_TinSurfaceValue(idx, p, out, s);
      if (v != geodesy::NOVALUE) random_sum += v, ++valued;
    }
    random_us = std::min(random_us, (CpuSeconds() - c0) / queries * 1e6);
    // The cell location alone, which every value starts with.
    cellsum = 0;
    c0 = CpuSeconds();
    for (const auto& p : q) cellsum += cells::Locate(idx, p);
    locate_us = std::min(locate_us, (CpuSeconds() - c0) / queries * 1e6);
    // A pointer's path: small moves from one position to the next.
    geodesy::DirectionCosines p = q[0];
    path_sum = 0.0;
    c0 = CpuSeconds();
    for (int i = 0; i < queries; ++i) {
      p = {p.x + 1e-5, p.y - 0.7e-5, p.z + 0.3e-5};
      const double r = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
      p = {p.x / r, p.y / r, p.z / r};
      const double v = ops::q7_TinSurfaceValue(idx, p, out, s);
      if (v != geodesy::NOVALUE) path_sum += v;
    }
    path_us = std::min(path_us, (CpuSeconds() - c0) / queries * 1e6);
  }
  std::printf("Surface value: %.3f us at random positions (%d of %d with a value; locating the cell alone "
              "%.3f us), %.3f us along a path (thread CPU time, best of 3; checksums %.17g %.17g %lld)\n",
              random_us, valued, queries, locate_us, path_us, random_sum, path_sum, static_cast<long long>(cellsum));
  cells::ReleaseIndex(idx);
  return 0;
}
