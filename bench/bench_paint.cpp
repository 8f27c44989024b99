// Painting and tileset figures on a 1600 x 1000 map, milliseconds (best of 5).
//
//   PaintLatLong, ortho 1:30M about 40N 20E and world plate carree: PaintMap
//   beside the naive loop (one inverse projection and one geodetic
//   conversion per pixel, the colour per pixel).
//   PaintCost psetDistance of 10 000 random points on the world map.
//   ShowTileset of the shipped world tileset, world view: DrawTileset.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "lib/display/colour.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/display/paint.h"
#include "lib/display/paint_cost.h"
#include "lib/display/tileset.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/mapped_file.h"

using namespace display;

namespace {

constexpr double kPi = 3.141592653589793;
const geodesy::Ellipsoid kE = geodesy::MakeEllipsoid();

template <class F>
double Best(F f) {
  double best = 1e30;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

bool Geometry(uint32_t code, double lat, double lon, double scale, MapGeometry* g) {
  GeometrySpec spec;
  spec.projection = code;
  spec.centre = geodesy::GeodeticToCosines({lat * kPi / 180, lon * kPi / 180}, kE);
  spec.scale = scale;
  spec.pixel_width = spec.pixel_height = 0.0254 / 96;
  spec.frame = {0, 999, 1599, 0};
  return SetUpMapGeometry(nullptr, nullptr, nullptr, &kE, spec, g) == 0;
}

// The loop PaintMap replaces.
void NaivePaint(const MapGeometry& g, DisplaySurface* s, const PaintColours& c) {
  for (int y = g.ymin; y <= g.ymax; ++y)
    for (int x = g.xmin; x <= g.xmax; ++x) {
      double X, Y;
      DeviceToPlane(g.transform, x, y, &X, &Y);
      DirectionCosines u;
      if (ProjectInverse(*g.params, g.projection, X, Y, &u) != 0) continue;
      uint32_t* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s->bitmap) +
                                                  size_t(y) * cairo_image_surface_get_stride(s->bitmap));
      const uint32_t v = PaintColour(c, kPaintLatLong, u, kE);
      row[x] = 0xff000000u | (RedOf(v) << 16) | (GreenOf(v) << 8) | BlueOf(v);
    }
}

}  // namespace

int main() {
  DisplaySurface s;
  if (!CreateDisplaySurface(&s, 1600, 1000, 0x00ffffff)) return 1;
  const PaintColours c = MakePaintColours(nullptr, 0);
  struct Case { const char* name; uint32_t code; double lat, lon, scale; };
  for (const Case& k : {Case{"ortho 1:30M 40N 20E", PROJ_ORTHO, 40, 20, 3e7},
                        Case{"ortho 1:100M (whole disc)", PROJ_ORTHO, 40, 20, 1e8},
                        Case{"world plate carree", PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE},
                        Case{"world Mercator", PROJ_WWMERC, 0, 0, geodesy::NOVALUE}}) {
    MapGeometry g;
    if (!Geometry(k.code, k.lat, k.lon, k.scale, &g)) return 1;
    const double ours = Best([&] { PaintMap(g, &s, c, kPaintLatLong); });
    const double naive = Best([&] { NaivePaint(g, &s, c); });
    std::printf("PaintLatLong %-28s %8.1f ms   naive per-pixel loop %8.1f ms   ratio %.2f\n", k.name, ours, naive,
                naive / ours);
    ReleaseMapGeometry(&g);
  }
  {
    MapGeometry g;
    if (!Geometry(PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE, &g)) return 1;
    std::mt19937_64 rng(1);
    std::normal_distribution<double> nd;
    std::vector<DirectionCosines> pts;
    for (int i = 0; i < 10000; ++i) pts.push_back(geodesy::Normalised({nd(rng), nd(rng), nd(rng)}));
    const RampStyle ramp = ParseRampStyle("r0.255g0.255b255.0");
    std::printf("PaintCost psetDistance 10 000 points, world  %8.1f ms\n",
                Best([&] { PaintPointDistance(g, &s, pts, ramp); }));
    ReleaseMapGeometry(&g);
  }
  {
    const char* bin = getenv("OMBREL_BIN");
    const std::string path = std::string(bin ? bin : "bin") + "/world.tgxm";
    platform::MappedFile f;
    TilesetInfo t;
    MapGeometry g;
    if (platform::MapFileRead(f, path.c_str()) == 0 && ReadTileset(f.base, size_t(f.size), &t) == 0 &&
        SetUpTilesetGeometry(t, &kE, nullptr, 0.0254 / 96, 0.0254 / 96, {0, 999, 1599, 0}, 512, nullptr, nullptr,
                             &g) == 0) {
      std::printf("ShowTileset world view (%lld x %lld picture)  %8.1f ms\n", (long long)t.PictureWidth(),
                  (long long)t.PictureHeight(), Best([&] { DrawTileset(t, g, &s); }));
      ReleaseMapGeometry(&g);
    } else {
      std::printf("ShowTileset: %s not readable\n", path.c_str());
    }
  }
  DestroyDisplaySurface(&s);
  return 0;
}
