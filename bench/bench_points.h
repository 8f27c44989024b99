// What the point-query benchmarks share: the clock, the folder of the
// programs and their data, random positions from splitmix64 (z = 2u - 1,
// phi = 2 pi v, u and v = next() >> 11 times 2^-53), the best of a few
// timed rounds and objects built in memory.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/direction_cosines.h"

namespace benchpoints {

using geodesy::DirectionCosines;

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// OMBREL_BIN, else the bin folder beside this program's folder; with a
// trailing slash.
inline std::string BinDir() {
  if (const char* b = std::getenv("OMBREL_BIN")) return std::string(b) + "/";
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  const std::string exe = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string("./x");
  return exe.substr(0, exe.find_last_of('/')) + "/../bin/";
}

// Loads isotype.vix from BinDir(); says so on standard output when it can't.
inline bool LoadIsotype(cells::CellIndex& idx) {
  std::FILE* f = std::fopen((BinDir() + "isotype.vix").c_str(), "rb");
  const bool ok = f != nullptr && cells::LoadVix(f, idx, 1) == 0;
  if (f != nullptr) std::fclose(f);
  if (!ok) std::printf("isotype.vix not found in %s\n", BinDir().c_str());
  return ok;
}

struct SplitMix {
  std::uint64_t s;
  std::uint64_t Next() {
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  DirectionCosines Point() {
    const double z = 2 * Unit() - 1, phi = 2 * M_PI * Unit();
    const double r = std::sqrt(std::max(0.0, 1 - z * z));
    return {r * std::cos(phi), r * std::sin(phi), z};
  }
};

inline std::vector<DirectionCosines> Points(std::uint64_t seed, std::size_t n) {
  SplitMix r{seed};
  std::vector<DirectionCosines> v(n);
  for (auto& p : v) p = r.Point();
  return v;
}

// The best of rounds of f, in nanoseconds per item of n.
template <class F>
double BestNs(int rounds, std::size_t n, F&& f) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    const double t0 = Now();
    f();
    best = std::min(best, (Now() - t0) * 1e9 / static_cast<double>(n));
  }
  return best;
}

// An object built in memory from nodes, in doubles, identifier 1.
struct BenchObject {
  std::vector<std::uint8_t> bytes;
  cells::Object obj;
};
inline bool BuildObject(cells::CellIndex& idx, int kind, const std::vector<cells::PointNode>& nodes, BenchObject& h) {
  cells::SectionTarget t;
  t.heap = &h.bytes;
  cells::BuildParams p;
  p.id = 1;
  p.res = 10;
  const int st = kind == cells::kPset   ? cells::BuildPset(idx, t, p, nodes, h.obj)
                 : kind == cells::kLset ? cells::BuildLset(idx, t, p, nodes, h.obj)
                                        : cells::BuildRset(idx, t, p, nodes, h.obj);
  return st == 0;
}

}  // namespace benchpoints
