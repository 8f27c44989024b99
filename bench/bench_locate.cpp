// Location speed on isotype.vix, with S2CellId::FromPoint of the same points
// in the same run as the peer figure:
//   - 1 000 000 random points (no locality);
//   - 1 000 000 points along great-circle tracks in 1 km steps;
//   - loading isotype.vix.
// Each figure is the best of five rounds. S2's figures come from the S2 peers
// (s2_peer.cpp): S2 built -O2 -DNDEBUG (the fair figure) and Debian's libs2
// with its debug checks; each ratio is S2's time over ours (above 1: ours is
// faster). The index is found beside the programs (OMBREL_BIN, else ../bin
// from this program's folder).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bench_points.h"
#include "bench/s2_peers.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"
#include "lib/geodesy/ellipsoid.h"

using geodesy::DirectionCosines;

namespace {

using benchpoints::BestNs;
using benchpoints::Now;

std::string IndexPath() { return benchpoints::BinDir() + "isotype.vix"; }

}  // namespace

int main() {
  const std::string path = IndexPath();
  cells::CellIndex idx;
  double load_ms = 1e30;
  for (int r = 0; r < 5; ++r) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
      std::fprintf(stderr, "bench_locate: cannot open %s\n", path.c_str());
      return 1;
    }
    cells::ReleaseIndex(idx);
    const double t0 = Now();
    const int st = cells::LoadVix(f, idx, 1);
    load_ms = std::min(load_ms, (Now() - t0) * 1e3);
    std::fclose(f);
    if (st != 0) {
      std::fprintf(stderr, "bench_locate: error loading index (%s), status %d\n", path.c_str(), st);
      return 1;
    }
  }

  const std::size_t n = 1000000;
  std::mt19937_64 rng(4711);
  std::normal_distribution<double> g;
  std::vector<DirectionCosines> random(n);
  for (auto& p : random) p = geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)});

  // 1000 tracks of 1000 points, 1 km apart on a sphere of 6371 km.
  std::vector<DirectionCosines> track;
  track.reserve(n);
  const double step = 1.0 / 6371.0;
  while (track.size() < n) {
    const DirectionCosines a = geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)});
    DirectionCosines t = geodesy::Cross(a, geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)}));
    geodesy::Normalise(t);
    for (int k = 0; k < 1000 && track.size() < n; ++k) {
      const double c = std::cos(k * step), s = std::sin(k * step);
      track.push_back({c * a.x + s * t.x, c * a.y + s * t.y, c * a.z + s * t.z});
    }
  }

  const double table_t0 = Now();
  cells::BuildStartTable(idx);
  const double table_ms = (Now() - table_t0) * 1e3;

  std::uint64_t sink = 0;
  auto locate_all = [&](const std::vector<DirectionCosines>& pts) {
    return [&]() {
      for (const DirectionCosines& p : pts) sink += static_cast<std::uint64_t>(cells::Locate(idx, p));
    };
  };
  double ours_random = 1e30, ours_track = 1e30;
  for (int r = 0; r < 5; ++r) {
    ours_random = std::min(ours_random, BestNs(1, n, locate_all(random)));
    ours_track = std::min(ours_track, BestNs(1, n, locate_all(track)));
  }
  // The peers: the same points, from a file.
  char dir[] = "/tmp/bench_locateXXXXXX";
  bench::PeerFigure peer[2][2];  // [random, track][ndebug, debian]
  if (mkdtemp(dir)) {
    const std::string file = std::string(dir) + "/points.bin";
    const std::vector<DirectionCosines>* sets[2] = {&random, &track};
    for (int k = 0; k < 2; ++k) {
      std::vector<bench::Xyz> pts;
      pts.reserve(n);
      for (const DirectionCosines& p : *sets[k]) pts.push_back({p.x, p.y, p.z});
      if (!bench::WritePeerFile(file, nullptr, pts)) continue;
      peer[k][0] = bench::RunPeer("ndebug", "cellid", file, 5);
      peer[k][1] = bench::RunPeer("debian", "cellid", file, 5);
    }
    std::remove(file.c_str());
    rmdir(dir);
  }
  const double ours_ns[2] = {ours_random, ours_track};
  const char* what[2] = {"1000000 random points on isotype.vix", "1000000 points along great-circle tracks, 1 km steps"};
  for (int k = 0; k < 2; ++k) {
    // PeerText takes seconds for the whole set; ours is per point.
    const double ours_s = ours_ns[k] * 1e-9 * static_cast<double>(n);
    std::printf("Locate, %s: %.1f ns/point | S2CellId::FromPoint: %s, %s\n", what[k], ours_ns[k],
                bench::PeerText("S2 NDEBUG", peer[k][0], ours_s, 1e9 / static_cast<double>(n), "ns/point").c_str(),
                bench::PeerText("Debian S2", peer[k][1], ours_s, 1e9 / static_cast<double>(n), "ns/point").c_str());
  }
  std::printf("Loading isotype.vix: %.2f ms (start-cell table on first far location: %.2f ms)\n", load_ms,
              table_ms);
  std::fprintf(stderr, "(checksum %llu)\n", static_cast<unsigned long long>(sink));
  cells::ReleaseIndex(idx);
  return 0;
}
