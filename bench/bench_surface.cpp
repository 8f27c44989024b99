// DisplaySurfaceShade and DisplaySurfaceHypso of a TIN of about 100 000
// triangles (random points with hilly heights over a 40 x 40 degree box,
// triangulated on isotype.vix), drawn into a 1600 x 1000 picture on an
// ortho map that holds the box and on a world plate carree map:
// milliseconds, best of 5.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_heights.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/display/map_geometry.h"
#include "lib/display/projections.h"
#include "lib/display/surface_render.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/pset_tin.h"

namespace {

constexpr double kPi = 3.141592653589793;

double Ms(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 50000;
  cells::CellIndex idx;
  if (!benchheights::LoadIsotype(idx)) return 1;
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  std::mt19937_64 rng(25);
  std::uniform_real_distribution<double> lat(10.0, 50.0), lon(-10.0, 30.0);
  std::vector<cells::PointNode> nodes(n);
  for (auto& node : nodes) {
    const double a = lat(rng), o = lon(rng);
    node.p = geodesy::GeodeticToCosines({a * kPi / 180, o * kPi / 180}, e);
    const float z = float(2000.0 * (std::sin(a * 0.7) * std::cos(o * 0.5) + 1.0) + 300.0 * std::sin(a * 3.1 + o));
    benchheights::SetHeight(node, z);
  }
  std::vector<std::uint8_t> heap;
  cells::Object src;
  if (!benchheights::BuildHeightPset(idx, nodes, heap, src)) return 1;
  const std::int64_t bytes = std::int64_t{256} << 20;
  std::vector<std::uint64_t> mem(bytes / 8);
  platform::Workspace arena;
  platform::WorkspaceInit(&arena, mem.data(), bytes);
  cells::Object tin;
  if (benchheights::DeriveTin(idx, arena, src, false, tin) != 0) return 1;
  std::vector<std::uint64_t> scratch(1 << 20);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, scratch.data(), std::int64_t(scratch.size() * 8));

  struct View {
    const char* name;
    uint32_t projection;
    double scale;
  } views[] = {{"ortho 1:20M over the box", display::PROJ_ORTHO, 2e7},
               {"world plate carree", display::PROJ_WWPLTCRR, geodesy::NOVALUE}};
  for (const View& v : views) {
    display::GeometrySpec spec;
    spec.projection = v.projection;
    spec.centre = geodesy::GeodeticToCosines({30 * kPi / 180, 10 * kPi / 180}, e);
    spec.scale = v.scale;
    spec.pixel_width = spec.pixel_height = 0.0254 / 96;
    spec.frame = {0, 999, 1599, 0};
    display::MapGeometry g;
    if (display::SetUpMapGeometry(nullptr, nullptr, nullptr, &e, spec, &g) != 0) return 1;
    display::DisplaySurface s;
    display::CreateDisplaySurface(&s, 1600, 1000, 0x00ffffff);
    for (int p = 0; p < 2; ++p) {
      double best = 1e30;
      display::SurfaceReport r;
      for (int k = 0; k < 5; ++k) {
        const auto t0 = std::chrono::steady_clock::now();
        display::RenderTinSurface(g, idx, tin, display::ParseRampStyle("r0.255g64.255b128.0"),
                                  p ? display::kSurfaceShade : display::kSurfaceHypso, &ws, &s, &r);
        best = std::min(best, Ms(t0));
      }
      std::printf("%s, %s: %.1f ms (%lld triangles stored, %lld filled, %lld pixels)\n",
                  p ? "DisplaySurfaceShade" : "DisplaySurfaceHypso", v.name, best, (long long)r.triangles,
                  (long long)r.drawn, (long long)r.pixels);
    }
    display::DestroyDisplaySurface(&s);
    display::ReleaseMapGeometry(&g);
  }
  cells::ReleaseIndex(idx);
  return 0;
}
