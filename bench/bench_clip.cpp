// Clipping and generalising, one line per figure with the peer's beside it:
//   DeriveLsetInside of 10 000 random lines (1 000 000 vertices) against land
//     10m (the library call writing its output into an arena) beside S2's
//     S2Polygon::IntersectWithPolyline of the same lines (polygon built first);
//   Generalize of land 10m at 1 km beside GEOS's GEOSSimplify_r on the same
//     rings in degrees (tolerance 1 km as degrees of a great circle).
// Run from the build folder: bench/bench_clip (OMBREL_BIN and OMBREL_SOURCE
// as for the tests, else ./bin and /work/main).
#include <s2/s2debug.h>
#include <s2/s2error.h>
#include <s2/s2loop.h>
#include <s2/s2polygon.h>
#include <s2/s2polyline.h>

#include <chrono>
#include <cstdio>
#include <memory>

#ifdef OMBREL_HAVE_GEOS
#include <geos_c.h>
#endif

#include "lib/cells/coord_text.h"
#include "lib/ops/generalize.h"
#include "lib/ops/lset_in_rset.h"
#include "tests/ops/ops_test_util.h"

using namespace ops::testing;
using geodesy::DirectionCosines;

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

DirectionCosines Unit(double x, double y, double z) {
  const double n = std::sqrt(x * x + y * y + z * z);
  return {x / n, y / n, z / n};
}

std::vector<std::vector<DirectionCosines>> Rings(cells::CellIndex& idx, const cells::Object& obj) {
  std::vector<cells::PointNode> v;
  cells::CollectVertices(idx, obj, v);
  std::vector<std::vector<DirectionCosines>> rings(1);
  for (const auto& nd : v) {
    if (cells::IsMark(nd)) {
      if (!rings.back().empty()) rings.emplace_back();
      continue;
    }
    rings.back().push_back(nd.p);
  }
  if (rings.back().empty()) rings.pop_back();
  return rings;
}

}  // namespace

int main() {
  FLAGS_s2debug = false;
  if (!std::getenv("OMBREL_BIN")) setenv("OMBREL_BIN", "bin", 0);
  cells::CellIndex idx;
  HeapObject land;
  if (!LoadIndex("isotype.vix", idx) || !LoadLand(idx, "land10m.rgn", land)) {
    std::fprintf(stderr, "bench_clip: cannot load isotype.vix or land10m.rgn\n");
    return 1;
  }
  // S2's boolean operations refuse land 10m (loops that cross each other):
  // the comparison clips by land 50m, which S2 accepts; ours on 10m is shown
  // beside it.
  HeapObject land50;
  if (!LoadLand(idx, "land50m.rgn", land50)) return 1;
  const auto rings = Rings(idx, land50.obj);
  // 10 000 random lines of 100 vertices, each a wandering track of 10 km steps.
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<cells::PointNode> nodes;
  std::vector<std::vector<S2Point>> tracks;
  for (int l = 0; l < 10000; ++l) {
    DirectionCosines p = RandomUnit(rng);
    DirectionCosines dir = Unit(u(rng), u(rng), u(rng));
    std::vector<S2Point> track;
    for (int i = 0; i < 100; ++i) {
      nodes.push_back({p, 0});
      track.push_back(S2Point(p.x, p.y, p.z));
      DirectionCosines side = geodesy::Cross(p, dir);
      side = Unit(side.x, side.y, side.z);
      const double step = 10.0 / 6371.0, turn = 0.3 * u(rng);
      DirectionCosines t = geodesy::Cross(side, p);
      t = Unit(t.x + turn * side.x, t.y + turn * side.y, t.z + turn * side.z);
      p = Unit(p.x + step * t.x, p.y + step * t.y, p.z + step * t.z);
      dir = t;
    }
    nodes.push_back(cells::Mark(l + 1));
    tracks.push_back(track);
  }
  HeapObject lines;
  Build(idx, cells::kLset, nodes, lines, 10);

  std::vector<std::uint8_t> memory(256 << 20);
  auto run_ours = [&](auto&& op) {
    platform::Workspace ws;
    platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
    ops::DeriveContext c;
    c.index = &idx;
    c.output = &ws;
    cells::Object out;
    c.object = &out;
    c.created = 1;
    c.res = 10;
    return op(c);
  };
  double ours = 1e30, ours10 = 1e30;
  for (int r = 0; r < 2; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    run_ours([&](ops::DeriveContext& c) { return ops::q7_LsetInRset(c, ops::CLIP_INSIDE, 0.0, 0, land50.obj, lines.obj); });
    ours = std::min(ours, Seconds(t0));
    t0 = std::chrono::steady_clock::now();
    run_ours([&](ops::DeriveContext& c) { return ops::q7_LsetInRset(c, ops::CLIP_INSIDE, 0.0, 0, land.obj, lines.obj); });
    ours10 = std::min(ours10, Seconds(t0));
  }
  std::vector<std::unique_ptr<S2Loop>> loops;
  for (const auto& r : rings) {
    std::vector<S2Point> pts;
    for (const auto& p : r) pts.push_back(S2Point(p.x, p.y, p.z));
    auto loop = std::make_unique<S2Loop>(pts, S2Debug::DISABLE);
    loop->Normalize();
    loops.push_back(std::move(loop));
  }
  S2Polygon polygon;
  polygon.set_s2debug_override(S2Debug::DISABLE);
  polygon.InitNested(std::move(loops));
  S2Error polygon_error;
  if (polygon.FindValidationError(&polygon_error)) {
    std::printf("DeriveLsetInside: ours %.3f s   S2 refuses the polygon (%s)\n", ours, polygon_error.text().c_str());
    return 0;
  }
  double s2 = 1e30;
  for (int r = 0; r < 2; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    std::size_t pieces = 0;
    for (const auto& t : tracks) {
      S2Polyline pl(t, S2Debug::DISABLE);
      pieces += polygon.IntersectWithPolyline(pl).size();
    }
    s2 = std::min(s2, Seconds(t0));
    if (pieces == 0) std::printf("(S2 kept nothing)\n");
  }
  std::printf("DeriveLsetInside 10000 lines (1000000 vertices) x land 50m: ours %.3f s   S2 IntersectWithPolyline %.3f s"
              "   ratio ours/S2 %.2f   (ours x land 10m: %.3f s)\n", ours, s2, ours / s2, ours10);

  // Generalize at 1 km.
  const double tol = ops::GeneralizeTolerance(1000.0, geodesy::MakeEllipsoid());
  ops::GeneralizeCounts counts;
  double gen = 1e30;
  for (int r = 0; r < 2; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    run_ours([&](ops::DeriveContext& c) { return ops::q7_Generalize(c, land.obj, tol, &counts); });
    gen = std::min(gen, Seconds(t0));
  }
  // The simplification alone (windows of 32 along every ring), without
  // reading the vertices back or rebuilding the region.
  const auto rings10 = Rings(idx, land.obj);
  double simplify = 1e30;
  long kept = 0;
  for (int r = 0; r < 3; ++r) {
    std::vector<std::uint8_t> keep;
    kept = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (const auto& ring : rings10)
      for (std::size_t w = 0; w < ring.size(); w += ops::kGeneralizeWindow)
        kept += ops::SimplifyLine(ring.data() + w, static_cast<int>(std::min<std::size_t>(ops::kGeneralizeWindow, ring.size() - w)), tol, keep);
    simplify = std::min(simplify, Seconds(t0));
  }
#ifdef OMBREL_HAVE_GEOS
  GEOSContextHandle_t h = GEOS_init_r();
  std::vector<GEOSGeometry*> polys;
  for (const auto& r : rings) {
    GEOSCoordSequence* seq = GEOSCoordSeq_create_r(h, static_cast<unsigned>(r.size() + 1), 2);
    for (std::size_t i = 0; i <= r.size(); ++i) {
      const auto& p = r[i % r.size()];
      GEOSCoordSeq_setXY_r(h, seq, static_cast<unsigned>(i), std::atan2(p.y, p.x) * 180 / M_PI,
                           std::asin(p.z) * 180 / M_PI);
    }
    GEOSGeometry* ring = GEOSGeom_createLinearRing_r(h, seq);
    polys.push_back(GEOSGeom_createPolygon_r(h, ring, nullptr, 0));
  }
  double geos = 1e30;
  long geos_vertices = 0;
  for (int r = 0; r < 2; ++r) {
    geos_vertices = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (GEOSGeometry* g : polys) {
      GEOSGeometry* s = GEOSSimplify_r(h, g, 1000.0 / 111195.0);
      if (s) {
        geos_vertices += GEOSGetNumCoordinates_r(h, s);
        GEOSGeom_destroy_r(h, s);
      }
    }
    geos = std::min(geos, Seconds(t0));
  }
  for (GEOSGeometry* g : polys) GEOSGeom_destroy_r(h, g);
  GEOS_finish_r(h);
  std::printf("Generalize land 10m at 1 km: the simplification %.3f s (%ld kept)   GEOS GEOSSimplify_r %.3f s (%ld)"
              "   ratio ours/GEOS %.2f; the whole command with the region rebuilt %.3f s (%lld -> %lld vertices), %.2f\n",
              simplify, kept, geos, geos_vertices, simplify / geos, gen, static_cast<long long>(counts.before),
              static_cast<long long>(counts.after), gen / geos);
#else
  std::printf("Generalize land 10m at 1 km: ours %.3f s (%lld -> %lld vertices)   GEOS not found\n", gen,
              static_cast<long long>(counts.before), static_cast<long long>(counts.after));
#endif
  return 0;
}
