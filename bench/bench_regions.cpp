// Region algebra benchmarks, one line per figure with S2's beside it:
//   land 50m with the 20 degree cap (a regular 360-gon at 45N 10E), common
//     part and combination: the library call alone, and end to end as
//     DeriveRsetCommon / DeriveRsetCombined run it (both objects opened and
//     mapped, the output created in a file, built, closed and put in place),
//     against S2Polygon::InitToIntersection / InitToUnion of the same loops
//     (the two polygons built before timing);
//   land 10m with the cap (common part), and the complement of land 10m.
// Each figure is the best of three runs. Run from the build folder:
// bench/bench_regions (OMBREL_BIN and OMBREL_SOURCE as for the tests).
#include <s2/s2debug.h>
#include <s2/s2loop.h>
#include <s2/s2polygon.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "lib/cells/object_file.h"
#include "tests/ops/rset_algebra_util.h"

using namespace ops::testing;

namespace {

double Ms(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

std::unique_ptr<S2Polygon> ToS2(const std::vector<Ring>& rings) {
  std::vector<std::unique_ptr<S2Loop>> loops;
  for (const Ring& r : rings) {
    std::vector<S2Point> v;
    for (const auto& p : r) v.emplace_back(p.x, p.y, p.z);
    loops.push_back(std::make_unique<S2Loop>(v, S2Debug::DISABLE));
  }
  auto poly = std::make_unique<S2Polygon>();
  poly->set_s2debug_override(S2Debug::DISABLE);
  poly->InitOriented(std::move(loops));
  return poly;
}

template <typename Fn>
double Best(Fn fn) {
  double best = 1e300;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    best = std::min(best, Ms(t0));
  }
  return best;
}

bool Save(const cells::Object& o, const std::string& path) {
  cells::ObjectHandle h;
  if (cells::CreateObject(h, path, o.kind, 256 << 20) != 0) return false;
  cells::Object c = o;
  std::uint8_t* sec[3] = {o.env, o.structure, o.coords};
  std::uint32_t len[3] = {o.env_size, o.struct_size, o.coord_size};
  std::uint8_t** dst[3] = {&c.env, &c.structure, &c.coords};
  for (int i = 0; i < 3; ++i) {
    *dst[i] = static_cast<std::uint8_t*>(platform::WorkspaceAlloc(&h.arena, static_cast<std::int32_t>(len[i])));
    if (len[i]) std::memcpy(*dst[i], sec[i], len[i]);
  }
  h.obj = c;
  return cells::CloseObject(h) == 0;
}

}  // namespace

int main() {
  FLAGS_s2debug = false;
  if (!std::getenv("OMBREL_BIN")) setenv("OMBREL_BIN", "bin", 0);
  cells::CellIndex idx;
  if (!LoadIndex("isotype.vix", idx)) {
    std::fprintf(stderr, "bench_regions: cannot load isotype.vix\n");
    return 1;
  }
  auto cap = FromRings(idx, {Cap(45, 10, 20)});
  std::vector<std::uint8_t> scratch(std::size_t{256} << 20);
  platform::Workspace ws;
  for (const char* file : {"land50m.rgn", "land10m.rgn"}) {
    HeapObject land;
    if (!LoadLand(idx, file, land)) {
      std::fprintf(stderr, "bench_regions: cannot load %s\n", file);
      return 1;
    }
    auto pl = ToS2(RingsOf(idx, land.obj)), pc = ToS2(RingsOf(idx, cap->obj));
    for (int mode : {ops::RSET_COMMON, ops::RSET_COMBINED}) {
      if (std::string(file) == "land10m.rgn" && mode == ops::RSET_COMBINED) continue;
      int status = 0;
      Region out(std::size_t{64} << 20);
      const double lib = Best([&] {
        platform::WorkspaceInit(&out.arena, out.block.data(), static_cast<std::int64_t>(out.block.size()));
        platform::WorkspaceInit(&ws, scratch.data(), static_cast<std::int64_t>(scratch.size()));
        status = ops::q7_RsetCombine(Context(idx, out, 10, &ws), mode, 0.0, land.obj, cap->obj);
      });
      // End to end, through files.
      char dir[] = "/tmp/bench_regionsXXXXXX";
      if (!mkdtemp(dir)) return 1;
      const std::string a = std::string(dir) + "/land.qbo", b = std::string(dir) + "/cap.qbo",
                        o = std::string(dir) + "/out.qbo";
      if (!Save(land.obj, a) || !Save(cap->obj, b)) return 1;
      const double e2e = Best([&] {
        cells::ObjectHandle ha, hb, ho;
        if (cells::OpenObjectRead(ha, a, idx.index_id, idx.cell_count) == 0 &&
            cells::OpenObjectRead(hb, b, idx.index_id, idx.cell_count) == 0 &&
            cells::CreateObject(ho, o, cells::kRset, 64 << 20) == 0) {
          platform::WorkspaceInit(&ws, scratch.data(), static_cast<std::int64_t>(scratch.size()));
          ops::DeriveContext c;
          c.index = &idx;
          c.workspace = &ws;
          c.output = &ho.arena;
          c.object = &ho.obj;
          c.created = 1;
          c.res = 6;
          if (ops::q7_RsetCombine(c, mode, 0.0, ha.obj, hb.obj) > 0) status = 99;
          cells::CloseObject(ho);
        }
        cells::CloseObject(ha);
        cells::CloseObject(hb);
      });
      std::remove(a.c_str());
      std::remove(b.c_str());
      std::remove(o.c_str());
      rmdir(dir);
      // S2's polygons of the 10m outlines are not valid (rings that cross
      // themselves): its boolean operations refuse them.
      const bool peer = std::string(file) != "land10m.rgn";
      const double s2 = !peer ? 0.0 : Best([&] {
        S2Polygon r;
        r.set_s2debug_override(S2Debug::DISABLE);
        if (mode == ops::RSET_COMMON) r.InitToIntersection(*pl, *pc);
        else r.InitToUnion(*pl, *pc);
      });
      if (peer)
        std::printf("%s %s cap: library %.1f ms, end to end %.1f ms (status %d) | S2 %s %.1f ms | ratio %.2f\n",
                    file, mode == ops::RSET_COMMON ? "common" : "combined", lib, e2e, status,
                    mode == ops::RSET_COMMON ? "InitToIntersection" : "InitToUnion", s2, lib / s2);
      else
        std::printf("%s %s cap: library %.1f ms, end to end %.1f ms (status %d)\n", file,
                    mode == ops::RSET_COMMON ? "common" : "combined", lib, e2e, status);
    }
    if (std::string(file) == "land10m.rgn") {
      int status = 0;
      Region out(std::size_t{64} << 20);
      const double ms = Best([&] {
        platform::WorkspaceInit(&out.arena, out.block.data(), static_cast<std::int64_t>(out.block.size()));
        status = ops::q7_RsetComplement(Context(idx, out, 10), &land.obj);
      });
      std::printf("%s complement: library %.1f ms (status %d)\n", file, ms, status);
    }
  }
  return 0;
}
