// Derivation benchmarks, one line per figure with S2's beside it:
//   inside land 10m: 1 000 000 random points, end to end as DerivePsetInside
//     runs it (open and map both object files, create the output file,
//     derive, close and put it in place; no argument parsing) against S2's
//     S2ContainsPointQuery over a MutableS2ShapeIndex of the same rings
//     (index built before timing; the points handed over as S2Points), run
//     by the S2 peers (s2_peer.cpp) in the same run: S2 built -O2 -DNDEBUG
//     (the fair figure) and Debian's libs2 with its debug checks; each
//     ratio is S2's time over ours (above 1: ours is faster);
//   unique and common on 1 000 000 points (no peer).
// Run from the build folder: bench/bench_derive (OMBREL_BIN and
// OMBREL_SOURCE as for the tests, else ./bin and /work/main).
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <cstdio>
#include <memory>

#include "bench/s2_peers.h"
#include "lib/cells/object_file.h"
#include "lib/ops/pset_ops.h"
#include "tests/ops/ops_test_util.h"

using namespace ops::testing;

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  if (!std::getenv("OMBREL_BIN")) setenv("OMBREL_BIN", "bin", 0);
  cells::CellIndex idx;
  if (!LoadIndex("isotype.vix", idx)) {
    std::fprintf(stderr, "bench_derive: cannot load isotype.vix\n");
    return 1;
  }
  HeapObject land;
  if (!LoadLand(idx, "land10m.rgn", land)) {
    std::fprintf(stderr, "bench_derive: cannot load land10m.rgn\n");
    return 1;
  }
  const int n = 1000000;
  std::mt19937_64 rng(2026);
  std::vector<cells::PointNode> nodes;
  for (int i = 0; i < n; ++i) nodes.push_back({RandomUnit(rng), static_cast<std::uint64_t>(i)});
  HeapObject points;
  Build(idx, cells::kPset, nodes, points, 7);

  std::vector<std::uint8_t> memory(static_cast<std::size_t>(n) * 16 + (8 << 20));
  platform::Workspace ws;
  cells::Object out;
  auto context = [&](int res) {
    platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
    ops::DeriveContext c;
    c.index = &idx;
    c.output = &ws;
    c.object = &out;
    c.created = 1;
    c.res = res;
    return c;
  };

  // S2: the same rings, read back from the region, and the same points.
  std::vector<cells::PointNode> v;
  cells::CollectVertices(idx, land.obj, v);
  std::vector<std::vector<bench::Xyz>> loops(1);
  for (const auto& p : v) {
    if (cells::IsMark(p)) {
      if (!loops.back().empty()) loops.emplace_back();
      continue;
    }
    loops.back().push_back({p.p.x, p.p.y, p.p.z});
  }
  if (loops.back().empty()) loops.pop_back();
  std::vector<bench::Xyz> s2pts;
  for (const auto& p : nodes) s2pts.push_back({p.p.x, p.p.y, p.p.z});

  // End to end as the command runs it: both objects in files, opened and
  // mapped, the output created in a file, derived, closed and put in place.
  char dir[] = "/tmp/bench_deriveXXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string pts_path = std::string(dir) + "/pts.qbo", land_path = std::string(dir) + "/land.qbo",
                    out_path = std::string(dir) + "/in.qbo", peer_path = std::string(dir) + "/peer.bin";
  auto save = [&](const cells::Object& o, const std::string& path) {
    cells::ObjectHandle h;
    if (cells::CreateObject(h, path, o.kind, 256 << 20) != 0) return false;
    // Copy the sections into the new file's arena, one after another.
    cells::Object c = o;
    std::uint8_t* sec[3] = {o.env, o.structure, o.coords};
    std::uint32_t len[3] = {o.env_size, o.struct_size, o.coords ? o.coord_size : 0};
    std::uint8_t** dst[3] = {&c.env, &c.structure, &c.coords};
    for (int i = 0; i < 3; ++i) {
      *dst[i] = static_cast<std::uint8_t*>(platform::WorkspaceAlloc(&h.arena, static_cast<std::int32_t>(len[i])));
      if (len[i]) std::memcpy(*dst[i], sec[i], len[i]);
    }
    h.obj = c;
    return cells::CloseObject(h) == 0;
  };
  if (!save(points.obj, pts_path) || !save(land.obj, land_path)) return 1;
  auto t0 = std::chrono::steady_clock::now();
  cells::ObjectHandle hp, hl, ho;
  long inside = 0;
  if (cells::OpenObjectRead(hp, pts_path, idx.index_id, idx.cell_count) == 0 &&
      cells::OpenObjectRead(hl, land_path, idx.index_id, idx.cell_count) == 0 &&
      cells::CreateObject(ho, out_path, cells::kPset, 16 << 20) == 0) {
    ops::DeriveContext c;
    c.index = &idx;
    c.output = &ho.arena;
    c.object = &ho.obj;
    c.created = 1;
    c.res = 7;
    if (ops::q7_PsetInRset(c, hp.obj, hl.obj, 1, 0.0, 0) == 0) inside = static_cast<long>(cells::VertexCount(ho.obj));
    cells::CloseObject(ho);
  }
  cells::CloseObject(hp);
  cells::CloseObject(hl);
  const double ours = Seconds(t0);
  bench::PeerFigure fair, debian;
  if (bench::WritePeerFile(peer_path, &loops, s2pts)) {
    fair = bench::RunPeer("ndebug", "contains", peer_path, 1);
    debian = bench::RunPeer("debian", "contains", peer_path, 1);
  }
  std::remove(pts_path.c_str());
  std::remove(land_path.c_str());
  std::remove(out_path.c_str());
  std::remove(peer_path.c_str());
  rmdir(dir);

  std::printf("DerivePsetInside land10m, %d points: %.3f s, %.0f points/s (%ld inside) | S2ContainsPointQuery: %s, %s (%llu inside)\n",
              n, ours, n / ours, inside, bench::PeerText("S2 NDEBUG", fair, ours, 1, "s").c_str(),
              bench::PeerText("Debian S2", debian, ours, 1, "s").c_str(), fair.result);

  t0 = std::chrono::steady_clock::now();
  ops::q7_PsetSelect(context(7), points.obj, 1);
  std::printf("DerivePsetUnique, %d points: %.3f s | no peer\n", n, Seconds(t0));
  t0 = std::chrono::steady_clock::now();
  ops::q7_PsetMerge(context(7), points.obj, points.obj, 1, 0);
  std::printf("DerivePsetCommon, %d points with themselves: %.3f s | no peer\n", n, Seconds(t0));
  cells::ReleaseIndex(idx);
  return 0;
}
