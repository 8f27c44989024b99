// The S2 side of the derivation and location benchmarks, built twice: once
// against Debian's libs2 (which keeps S2's debug checks) and once against
// the -O2 -DNDEBUG build of the same source (bench/build-s2.sh). The
// benchmark programs write their points (and rings) to a file, run both
// builds on it, and print the figures beside their own.
//
//   s2peer_<build> contains FILE   rings then points: S2ContainsPointQuery
//                                  over a MutableS2ShapeIndex of the rings
//                                  (index built before timing)
//   s2peer_<build> cellid FILE     points: S2CellId of every point
//
// FILE: little-endian uint64 counts and doubles: for contains, the number of
// rings, then each ring as a count and its x, y, z triples; for both, the
// number of points and their triples. Prints "best_seconds result", the best
// of ROUNDS rounds (third argument, default 5).
#include <s2/mutable_s2shape_index.h>
#include <s2/s2cell_id.h>
#include <s2/s2contains_point_query.h>
#include <s2/s2debug.h>
#include <s2/s2lax_polygon_shape.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool ReadPoints(std::FILE* f, std::vector<S2Point>& out) {
  std::uint64_t n = 0;
  if (std::fread(&n, sizeof n, 1, f) != 1 || n > (1ull << 32)) return false;
  std::vector<double> xyz(3 * n);
  if (n && std::fread(xyz.data(), sizeof(double), xyz.size(), f) != xyz.size()) return false;
  out.clear();
  out.reserve(n);
  for (std::uint64_t i = 0; i < n; ++i) out.emplace_back(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  FLAGS_s2debug = false;
  if (argc < 3 || (std::strcmp(argv[1], "contains") != 0 && std::strcmp(argv[1], "cellid") != 0)) {
    std::fprintf(stderr, "usage: %s contains|cellid FILE [ROUNDS]\n", argv[0]);
    return 2;
  }
  const bool contains = std::strcmp(argv[1], "contains") == 0;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  std::FILE* f = std::fopen(argv[2], "rb");
  if (!f) {
    std::fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[2]);
    return 1;
  }
  std::vector<std::vector<S2Point>> loops;
  std::vector<S2Point> points;
  bool ok = true;
  if (contains) {
    std::uint64_t n = 0;
    ok = std::fread(&n, sizeof n, 1, f) == 1 && n < (1u << 24);
    for (std::uint64_t i = 0; ok && i < n; ++i) {
      loops.emplace_back();
      ok = ReadPoints(f, loops.back());
    }
  }
  ok = ok && ReadPoints(f, points);
  std::fclose(f);
  if (!ok) {
    std::fprintf(stderr, "%s: %s is not a points file\n", argv[0], argv[2]);
    return 1;
  }
  double best = 1e30;
  std::uint64_t result = 0;
  if (contains) {
    MutableS2ShapeIndex index;
    index.Add(std::make_unique<S2LaxPolygonShape>(loops));
    index.ForceBuild();
    auto query = MakeS2ContainsPointQuery(&index);
    for (int r = 0; r < rounds; ++r) {
      const double t0 = Now();
      std::uint64_t inside = 0;
      for (const S2Point& p : points) inside += query.Contains(p);
      best = std::min(best, Now() - t0);
      result = inside;
    }
  } else {
    for (int r = 0; r < rounds; ++r) {
      const double t0 = Now();
      std::uint64_t sum = 0;
      for (const S2Point& p : points) sum += S2CellId(p).id();
      best = std::min(best, Now() - t0);
      result = sum;
    }
  }
  std::printf("%.9f %llu\n", best, static_cast<unsigned long long>(result));
  return 0;
}
