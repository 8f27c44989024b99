// Area of Natural Earth land (10m by default; the file name may be given as
// the first argument) on WGS84 by the methods s, p and r, each beside
// GeographicLib's PolygonArea of the same rings in the same run, in seconds
// and with the relative difference of the result. Then the geodetic to
// direction cosine conversion and back, in nanoseconds per point, beside
// GeographicLib's Geocentric::Forward/Reverse of the same points.
//
// Each line: what, our figure, GeographicLib's figure, and the ratio of
// GeographicLib's time to ours (above 1: ours is faster).
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "lib/geodesy/area.h"
#include "tests/geodesy/land_rings.h"

using namespace geodesy;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : "land-10m.json";
  const auto rings = geodesy_test::LoadLandRings(geodesy_test::TestDataPath(file));
  if (rings.empty()) {
    std::fprintf(stderr, "bench_area: cannot read %s\n", file.c_str());
    return 1;
  }
  const Ellipsoid e = MakeEllipsoid(34);
  const auto list = geodesy_test::AsMarkedList(rings);
  std::size_t vertices = 0;
  for (const auto& r : rings) vertices += r.lat.size();

  // The peer: one PolygonArea per ring, the signed areas summed.
  auto t0 = Clock::now();
  const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  double peer = 0.0;
  for (const auto& r : rings) {
    GeographicLib::PolygonArea poly(g);
    for (std::size_t i = 0; i < r.lat.size(); ++i) poly.AddPoint(r.lat[i], r.lon[i]);
    double perimeter, area;
    poly.Compute(false, true, perimeter, area);
    peer += area;
  }
  const double t_peer = Seconds(t0, Clock::now());

  std::printf("%s: %zu rings, %zu vertices; PolygonArea %.3f km2 in %.3f s\n", file.c_str(),
              rings.size(), vertices, peer / 1e6, t_peer);
  struct Method {
    const char* name;
    double (*run)(const Ellipsoid&, std::span<const DirectionCosines>);
  };
  const Method methods[] = {
      {"s",
       [](const Ellipsoid& el, std::span<const DirectionCosines> v) {
         return RegionAreaByEdges(el, v, SubdivisionLength(el), EdgePath::Geodesic);
       }},
      {"p",
       [](const Ellipsoid& el, std::span<const DirectionCosines> v) {
         return RegionAreaByEdges(el, v, SubdivisionLength(el), EdgePath::ParallelWhenLevel);
       }},
      {"r", [](const Ellipsoid& el,
               std::span<const DirectionCosines> v) { return RegionGeodesicMeasure(el, v).area; }},
  };
  for (const Method& m : methods) {
    t0 = Clock::now();
    const double area = m.run(e, list);
    const double t = Seconds(t0, Clock::now());
    std::printf("area method %s: %.3f s (diff %.2g), PolygonArea %.3f s, ratio %.2f\n", m.name, t,
                area / peer - 1, t_peer, t_peer / t);
  }

  // Conversions on a million random points.
  const int n = 1000000;
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> lat_d(-M_PI / 2, M_PI / 2), lon_d(-M_PI, M_PI);
  std::vector<LatLong> points(n);
  for (auto& p : points) p = {lat_d(rng), lon_d(rng)};
  std::vector<DirectionCosines> dcs(n);
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) dcs[i] = GeodeticToCosines(points[i], e);
  const double t_fwd = Seconds(t0, Clock::now());
  double sink = 0.0;
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) sink += CosinesToGeodetic(dcs[i], e).lat;
  const double t_rev = Seconds(t0, Clock::now());

  const GeographicLib::Geocentric gc(e.a, (e.a - e.b) / e.a);
  std::vector<double> xyz(3 * static_cast<std::size_t>(n));
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    gc.Forward(points[i].lat * 57.29577951308232, points[i].lon * 57.29577951308232, 0.0,
               xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
  }
  const double t_gfwd = Seconds(t0, Clock::now());
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    double lat = 0, lon = 0, h = 0;
    gc.Reverse(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2], lat, lon, h);
    sink += lat;
  }
  const double t_grev = Seconds(t0, Clock::now());
  std::printf(
      "geodetic to direction cosines: %.1f ns/point, Geocentric::Forward %.1f ns, ratio %.2f\n",
      t_fwd * 1e9 / n, t_gfwd * 1e9 / n, t_gfwd / t_fwd);
  std::printf(
      "direction cosines to geodetic: %.1f ns/point, Geocentric::Reverse %.1f ns, ratio %.2f\n",
      t_rev * 1e9 / n, t_grev * 1e9 / n, t_grev / t_rev);
  return sink == 12345.678 ? 2 : 0;  // keeps the loops from being optimised away
}
