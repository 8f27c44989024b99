// The demo's own maps against outside arithmetic: ombrel --batch runs the
// shipped demo script (data/demo.omb), and on both saved PNG images every
// air route leg of data/routes.lns that has a part in view must show route
// pixels along it. Where the leg runs is computed here without the system's
// drawing code: GeographicLib gives points along the geodesic between the two
// cities on WGS84, PROJ projects them (spherical Mercator for the world map,
// the orthographic view for the globe, on the unit sphere at the geocentric
// latitude, which is how the system's projections read a position), and only
// the final affine step from plane to pixels uses the map geometry's
// transform. The geodesic and the system's great circle through the same two
// positions part by at most a few kilometres, well within a pixel at these
// scales; a leg drawn as a straight chord or dropped misses by hundreds.
#include <gtest/gtest.h>
#include <proj.h>
#include <unistd.h>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lib/display/bitmap.h"
#include "lib/display/colour.h"
#include "lib/display/map_geometry.h"
#include "lib/geodesy/ellipsoid.h"

namespace display {
namespace {

constexpr int kWidth = 1600, kHeight = 1000;
constexpr double kDeg = M_PI / 180;
// WGS84 flattening, from GeographicLib.
const double kF = GeographicLib::Constants::WGS84_f();

struct City {
  double lat, lon;
};

// The routes file: "lat lon ; name" lines, each route closed by a "*" line.
std::vector<std::vector<City>> ReadRoutes(const std::string& path) {
  std::vector<std::vector<City>> routes(1);
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::string body = line.substr(0, line.find(';'));
    std::istringstream words(body);
    std::string first;
    if (!(words >> first)) continue;
    if (first[0] == '*') {
      if (!routes.back().empty()) routes.emplace_back();
      continue;
    }
    City c{std::atof(first.c_str()), 0};
    words >> c.lon;
    routes.back().push_back(c);
  }
  if (routes.back().empty()) routes.pop_back();
  return routes;
}

// The route colour of the demo's style (DarkOrange, a 2-pixel smooth pen):
// its own colour, or its blend with the land or the sea under it.
bool RoutePixel(uint32_t c) {
  const int r = RedOf(c), g = GreenOf(c), b = BlueOf(c);
  return r >= 225 && g >= 110 && g <= 200 && b <= 100 && r - g >= 45;
}

struct Map {
  const char* file;
  uint32_t projection;
  double lat, lon, scale;
  std::string proj;  // the PROJ definition of the same projection
};

struct DemoRoutes : ::testing::Test {
  std::string dir;
  geodesy::Ellipsoid wgs84 = geodesy::MakeEllipsoid();
  void SetUp() override {
    char tmpl[] = "/tmp/ombrel_demo_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    if (!HasFailure()) std::system(("rm -rf " + dir).c_str());
  }
};

TEST_F(DemoRoutes, EveryLegInViewShowsAlongItsGeodesic) {
  const char* bin_env = getenv("OMBREL_BIN");
  const char* src_env = getenv("OMBREL_SOURCE");
  const std::string bin = bin_env ? bin_env : "bin", src = src_env ? src_env : "..";
  for (const char* f : {"land50m.rgn", "cities.pts", "routes.lns"})
    std::system(("cp " + src + "/data/" + f + " " + dir + "/").c_str());
  std::system(("cp " + src + "/data/demo.omb " + dir + "/").c_str());
  // The demo ends on the world tileset that the build makes beside the programs.
  std::system(("cp " + bin + "/world.tgxm " + dir + "/").c_str());
  const std::string cmd = "cd " + dir + " && SDL_VIDEODRIVER=dummy " + bin + "/ombrel --batch demo.omb 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  if (p) pclose(p);
  ASSERT_EQ(out.find("the demo stopped"), std::string::npos) << out;

  const auto routes = ReadRoutes(dir + "/routes.lns");
  ASSERT_EQ(routes.size(), 5u);
  // The two maps of the demo script, and PROJ's spelling of each. The globe's
  // centre is 40N geodetic; the projection sees its geocentric latitude.
  const double centre_gc = std::atan((1 - kF) * (1 - kF) * std::tan(40 * kDeg)) / kDeg;
  const Map maps[] = {
      {"demo_world.png", PROJ_WWMERC, 0, 10, geodesy::NOVALUE, "+proj=merc +R=1 +lon_0=10"},
      {"demo_globe.png", PROJ_ORTHO, 40, 20, 6e7,
       "+proj=ortho +R=1 +lon_0=20 +lat_0=" + std::to_string(centre_gc)},
  };
  const GeographicLib::Geodesic& geod = GeographicLib::Geodesic::WGS84();
  PJ_CONTEXT* ctx = proj_context_create();
  int legs_seen = 0, all_visible = 0, all_shown = 0;
  for (const Map& m : maps) {
    cairo_surface_t* image = nullptr;
    ASSERT_EQ(LoadImageFile(dir + "/" + m.file, ImageKind::kPng, &image), DecodeResult::kOk) << m.file;
    ASSERT_EQ(cairo_image_surface_get_width(image), kWidth);
    cairo_surface_flush(image);
    auto at = [&](int x, int y) {
      const uint32_t v =
          reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image))[x];
      return MakeColour((v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff);
    };
    GeometrySpec spec;
    spec.projection = m.projection;
    spec.centre = geodesy::GeodeticToCosines({m.lat * kDeg, m.lon * kDeg}, wgs84);
    spec.scale = m.scale;
    spec.pixel_width = spec.pixel_height = 0.0254 / 96;
    spec.frame = {0, kHeight - 1, kWidth - 1, 0};
    MapGeometry g;
    ASSERT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84, spec, &g), 0);
    PJ* pj = proj_create(ctx, m.proj.c_str());
    ASSERT_NE(pj, nullptr) << m.proj;
    for (const auto& route : routes) {
      for (size_t k = 1; k < route.size(); ++k) {
        const City a = route[k - 1], b = route[k];
        const GeographicLib::GeodesicLine line = geod.InverseLine(a.lat, a.lon, b.lat, b.lon);
        int visible = 0, shown = 0;
        const int n = std::max(2, (int)(line.Distance() / 20000));
        for (int i = 0; i <= n; ++i) {
          double lat, lon;
          line.Position(line.Distance() * i / n, lat, lon);
          const double gc = std::atan((1 - kF) * (1 - kF) * std::tan(lat * kDeg));
          PJ_COORD c = proj_coord(lon * kDeg, gc, 0, 0);
          proj_errno_reset(pj);
          const PJ_COORD xy = proj_trans(pj, PJ_FWD, c);
          if (proj_errno(pj) != 0 || !std::isfinite(xy.xy.x) || std::fabs(xy.xy.x) > 1e10) continue;  // behind the globe
          // The end points carry the cities' markers.
          if (i == 0 || i == n) continue;
          double x, y;
          PlaneToDeviceExact(g.transform, xy.xy.x, xy.xy.y, &x, &y);
          if (x < 4 || y < 4 || x > kWidth - 4 || y > kHeight - 4) continue;
          ++visible;
          bool found = false;
          for (int dy = -2; dy <= 2 && !found; ++dy)
            for (int dx = -2; dx <= 2 && !found; ++dx) found = RoutePixel(at((int)x + dx, (int)y + dy));
          shown += found;
        }
        if (visible == 0) continue;
        ++legs_seen;
        all_visible += visible;
        all_shown += shown;
        // A point under a city's marker may show the marker instead.
        EXPECT_GE(shown, visible * 97 / 100)
            << m.file << ": leg " << a.lat << "," << a.lon << " -> " << b.lat << "," << b.lon << ": " << shown
            << " of " << visible << " points along the geodesic show the route";
      }
    }
    proj_destroy(pj);
    ReleaseMapGeometry(&g);
    cairo_surface_destroy(image);
  }
  proj_context_destroy(ctx);
  std::printf("demo routes: %d legs in view on the two maps, %d of %d geodesic points show the route\n", legs_seen,
              all_shown, all_visible);
  // All 12 legs are on the world map; the globe shows a part of most.
  EXPECT_GE(legs_seen, 12 + 8);
}

}  // namespace
}  // namespace display
