// ProjectForward of 1 000 000 points per projection, in nanoseconds per
// point, beside PROJ's proj_trans of the same points on the unit sphere in
// the same run. Points are uniform on the sphere, restricted to what each
// map shows (the near hemisphere for the azimuthal maps, |latitude| < 85
// degrees for the cylinders). PROJ gets the geocentric longitude and latitude
// in radians, as the oracle test feeds it; that conversion is not timed.
//
// One line per projection: name, our ns/point, PROJ's ns/point, and PROJ's
// time over ours (above 1: ours is faster).
#include <proj.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "lib/display/projections.h"

namespace {

using display::DirectionCosines;
constexpr double kDeg = 57.29577951308232;

struct Case {
  uint32_t code;
  const char* peer;  // PROJ string, %s for lat_0/lon_0 parts
  double max_angle;  // radians about the centre
  double max_lat;    // radians
};

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const DirectionCosines c{0.6713783094625926, 0.19191377192117604, 0.715835364961901};
  const double lat0 = std::atan2(c.z, std::hypot(c.x, c.y)) * kDeg;
  const double lon0 = std::atan2(c.y, c.x) * kDeg;
  const Case cases[] = {
      {display::PROJ_STEREO, "+proj=stere +R=1 +k=1", 1.57, 1.58},
      {display::PROJ_GNOMONIC, "+proj=gnom +R=1", 1.2, 1.58},
      {display::PROJ_ORTHO, "+proj=ortho +R=1", 1.57, 1.58},
      {display::PROJ_CONICAL, "+proj=eqdc +R=1 +lat_1=%1$.17g +lat_2=%1$.17g", 1.57, 1.5},
      {display::PROJ_MERCATOR, "+proj=merc +R=1 +lat_ts=%1$.17g", 3.2, 1.48},
      {display::PROJ_EQDISTCYL, "+proj=eqc +R=1 +lat_ts=%1$.17g", 3.2, 1.48},
      {display::PROJ_WWMERC, "+proj=merc +R=1", 3.2, 1.48},
      {display::PROJ_WWVIEW, "", 3.2, 1.48},
      {display::PROJ_WWPLTCRR, "+proj=eqc +R=1", 3.2, 1.48},
      {display::PROJ_PERSPECT, "+proj=nsper +R=1 +h=5.6107", 1.4, 1.58},
  };
  PJ_CONTEXT* ctx = proj_context_create();
  std::mt19937_64 rng(42);
  std::normal_distribution<double> g;
  std::printf("%-10s %12s %12s %8s   (%d points)\n", "projection", "ours ns/pt", "PROJ ns/pt",
              "PROJ/ours", n);
  for (const Case& k : cases) {
    display::ProjectionParams params;
    if (display::SetUpProjection(k.code, c, nullptr, &params) != 0) continue;
    std::vector<DirectionCosines> pts;
    pts.reserve(n);
    while (static_cast<int>(pts.size()) < n) {
      DirectionCosines u{g(rng), g(rng), g(rng)};
      const double l = std::sqrt(geodesy::Dot(u, u));
      u = {u.x / l, u.y / l, u.z / l};
      if (geodesy::Dot(u, c) < std::cos(k.max_angle) || std::fabs(u.z) > std::sin(k.max_lat)) {
        continue;
      }
      pts.push_back(u);
    }
    double sum = 0.0;
    const auto t0 = std::chrono::steady_clock::now();
    for (const DirectionCosines& u : pts) {
      double X, Y;
      display::ProjectForward(params, k.code, u, &X, &Y);
      sum += X + Y;
    }
    const auto t1 = std::chrono::steady_clock::now();
    const double ours = Seconds(t0, t1) * 1e9 / n;

    double peer = NAN;
    if (k.peer[0] != '\0') {
      char def[512];
      char lat_part[64];
      std::snprintf(lat_part, sizeof lat_part, k.peer, lat0);
      const bool world = k.code == display::PROJ_WWMERC || k.code == display::PROJ_WWPLTCRR;
      std::snprintf(def, sizeof def, "%s +lat_0=%.17g +lon_0=%.17g", lat_part,
                    world || k.code == display::PROJ_MERCATOR || k.code == display::PROJ_EQDISTCYL
                        ? 0.0
                        : lat0,
                    lon0);
      PJ* pj = proj_create(ctx, def);
      if (pj != nullptr) {
        std::vector<PJ_COORD> in(pts.size());
        for (size_t i = 0; i < pts.size(); ++i) {
          const DirectionCosines& u = pts[i];
          in[i] = proj_coord(std::atan2(u.y, u.x), std::atan2(u.z, std::hypot(u.x, u.y)), 0, 0);
        }
        const auto t2 = std::chrono::steady_clock::now();
        for (const PJ_COORD& p : in) {
          const PJ_COORD q = proj_trans(pj, PJ_FWD, p);
          sum += q.xy.x + q.xy.y;
        }
        const auto t3 = std::chrono::steady_clock::now();
        peer = Seconds(t2, t3) * 1e9 / n;
        proj_destroy(pj);
      }
    }
    const std::string name(display::ProjectionName(k.code));
    if (std::isnan(peer)) {
      std::printf("%-10s %12.1f %12s %8s   (PROJ has no such projection)\n", name.c_str(), ours,
                  "-", "-");
    } else {
      std::printf("%-10s %12.1f %12.1f %8.2f\n", name.c_str(), ours, peer, peer / ours);
    }
    if (sum == 42.0) std::printf(" ");  // keeps the loops from being optimised away
  }
  proj_context_destroy(ctx);
  return 0;
}
