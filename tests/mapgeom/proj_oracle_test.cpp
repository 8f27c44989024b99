// The forward mappings against PROJ on the unit sphere (+R=1).
//
// For every projection and several centres, 10 000 random points of the
// visible region are written as geocentric longitude and latitude in degrees
// to a file, run through PROJ's `proj` program with the matching projection
// string, and compared with ProjectForward in plane units. PROJ reads the
// geocentric angles of the direction cosines, so the comparison is exact
// spherical geometry on both sides. Tolerance: 1e-12 plane units.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "lib/display/projections.h"

namespace display {
namespace {

constexpr double kDeg = 57.29577951308232;
constexpr double kPi = 3.141592653589793;

struct Centre {
  double lat_deg, lon_deg;
};

DirectionCosines FromDegrees(double lat, double lon) {
  const double f = lat / kDeg, l = lon / kDeg;
  return {std::cos(f) * std::cos(l), std::cos(f) * std::sin(l), std::sin(f)};
}

// Geocentric latitude and longitude of a unit vector, degrees.
void ToDegrees(const DirectionCosines& u, double* lat, double* lon) {
  *lat = std::atan2(u.z, std::hypot(u.x, u.y)) * kDeg;
  *lon = std::atan2(u.y, u.x) * kDeg;
}

bool HaveProj() { return std::system("command -v proj >/dev/null 2>&1") == 0; }

// Runs `proj <args>` on the points; returns false when the program could not
// be run. A point PROJ refuses comes back as NaN.
bool RunProj(const std::string& args, const std::vector<DirectionCosines>& pts,
             std::vector<double>* xs, std::vector<double>* ys) {
  char name[] = "/tmp/mapgeom_projXXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return false;
  FILE* in = fdopen(fd, "w");
  for (const DirectionCosines& u : pts) {
    double lat, lon;
    ToDegrees(u, &lat, &lon);
    std::fprintf(in, "%.17g %.17g\n", lon, lat);
  }
  std::fclose(in);
  const std::string cmd = "proj " + args + " -f %.17g < " + name;
  FILE* out = popen(cmd.c_str(), "r");
  if (out == nullptr) {
    unlink(name);
    return false;
  }
  xs->clear();
  ys->clear();
  char line[256];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    char* end = nullptr;
    double x = std::strtod(line, &end);
    if (end == line) x = NAN;
    char* rest = end;
    double y = std::strtod(rest, &end);
    if (end == rest) y = NAN;
    xs->push_back(x);
    ys->push_back(y);
  }
  pclose(out);
  unlink(name);
  return xs->size() == pts.size();
}

// Random points within max_angle (radians) of c, and with |latitude| below
// max_lat (radians).
std::vector<DirectionCosines> RandomPoints(std::mt19937_64& rng, const DirectionCosines& c,
                                           double max_angle, double max_lat, int count) {
  std::normal_distribution<double> g;
  std::vector<DirectionCosines> pts;
  const double min_dot = std::cos(max_angle), max_z = std::sin(max_lat);
  while (static_cast<int>(pts.size()) < count) {
    DirectionCosines u{g(rng), g(rng), g(rng)};
    const double len = std::sqrt(geodesy::Dot(u, u));
    if (len < 1e-6) continue;
    u = {u.x / len, u.y / len, u.z / len};
    if (geodesy::Dot(u, c) < min_dot || std::fabs(u.z) > max_z) continue;
    pts.push_back(u);
  }
  return pts;
}

struct OracleCase {
  uint32_t code;
  double max_angle;  // radius of the sampled region about the centre
  double max_lat;    // latitude limit of the sampled region
};

// The PROJ string of a projection about a centre; empty when PROJ has no
// match for this centre.
std::string ProjString(uint32_t code, const ProjectionParams& p, const Centre& c) {
  char buf[512];
  const DirectionCosines u = FromDegrees(c.lat_deg, c.lon_deg);
  double lat0, lon0;
  ToDegrees(u, &lat0, &lon0);
  if (u.x * u.x + u.y * u.y <= geodesy::FRAME_POLE_SQ) lon0 = 0.0;  // the frame's pole convention
  switch (code) {
    case PROJ_STEREO:
      std::snprintf(buf, sizeof buf, "+proj=stere +R=1 +k=1 +lat_0=%.17g +lon_0=%.17g", lat0, lon0);
      break;
    case PROJ_GNOMONIC:
      std::snprintf(buf, sizeof buf, "+proj=gnom +R=1 +lat_0=%.17g +lon_0=%.17g", lat0, lon0);
      break;
    case PROJ_ORTHO:
      std::snprintf(buf, sizeof buf, "+proj=ortho +R=1 +lat_0=%.17g +lon_0=%.17g", lat0, lon0);
      break;
    case PROJ_PERSPECT:
      std::snprintf(buf, sizeof buf, "+proj=nsper +R=1 +h=%.17g +lat_0=%.17g +lon_0=%.17g",
                    PERSPECT_DISTANCE - 1.0, lat0, lon0);
      break;
    case PROJ_CONICAL:
      std::snprintf(buf, sizeof buf,
                    "+proj=eqdc +R=1 +lat_1=%.17g +lat_2=%.17g +lat_0=%.17g +lon_0=%.17g", lat0,
                    lat0, lat0, lon0);
      break;
    case PROJ_MERCATOR:
      std::snprintf(buf, sizeof buf, "+proj=merc +R=1 +lat_ts=%.17g +lon_0=%.17g +y_0=%.17g", lat0,
                    lon0, -p.mercator.y0 * p.mercator.k);
      break;
    case PROJ_EQDISTCYL:
      std::snprintf(buf, sizeof buf, "+proj=eqc +R=1 +lat_ts=%.17g +lat_0=%.17g +lon_0=%.17g",
                    lat0, lat0, lon0);
      break;
    case PROJ_WWPLTCRR:
      std::snprintf(buf, sizeof buf, "+proj=eqc +R=1 +lon_0=%.17g", p.world.lon0 * kDeg);
      break;
    default: return {};
  }
  return buf;
}

// Scaled for the sanitizer build, where PROJ runs at full speed but our loop does not.
int PointCount() { return std::getenv("OMBREL_SANITIZED") ? 1000 : 10000; }

TEST(ProjOracle, ForwardAgreesWithProjOnTheUnitSphere) {
  if (!HaveProj()) GTEST_SKIP() << "PROJ's proj program is not installed";
  const std::vector<Centre> centres = {{51.5, -0.12}, {-33.9, 151.2}, {70.0, 179.9},
                                       {90.0, 0.0},   {-90.0, 0.0},   {0.0, 0.0}};
  const std::vector<OracleCase> cases = {
      {PROJ_STEREO, 100.0 / kDeg, kPi / 2}, {PROJ_GNOMONIC, 70.0 / kDeg, kPi / 2},
      {PROJ_ORTHO, 90.0 / kDeg, kPi / 2},   {PROJ_PERSPECT, 75.0 / kDeg, kPi / 2},
      {PROJ_CONICAL, 60.0 / kDeg, 89.0 / kDeg}, {PROJ_MERCATOR, 180.0 / kDeg, 80.0 / kDeg},
      {PROJ_EQDISTCYL, 180.0 / kDeg, 89.9 / kDeg}, {PROJ_WWPLTCRR, 180.0 / kDeg, 89.9 / kDeg}};
  std::mt19937_64 rng(20261208);
  for (const OracleCase& oc : cases) {
    double worst = 0.0;
    int compared = 0;
    for (const Centre& ce : centres) {
      const DirectionCosines c = FromDegrees(ce.lat_deg, ce.lon_deg);
      ProjectionParams params;
      if (SetUpProjection(oc.code, c, nullptr, &params) != 0) continue;  // refused centres
      const std::string args = ProjString(oc.code, params, ce);
      ASSERT_FALSE(args.empty());
      const std::vector<DirectionCosines> pts =
          RandomPoints(rng, c, oc.max_angle, oc.max_lat, PointCount());
      std::vector<double> xs, ys;
      ASSERT_TRUE(RunProj(args, pts, &xs, &ys)) << args;
      // Longitude differences at the back meridian may come out as +pi or -pi.
      const double x_period = oc.code == PROJ_MERCATOR   ? 2 * kPi * params.mercator.k
                              : oc.code == PROJ_EQDISTCYL ? 2 * kPi * params.eqdistcyl.k
                                                          : 2 * kPi;
      for (size_t i = 0; i < pts.size(); ++i) {
        double X, Y;
        const int status = ProjectForward(params, oc.code, pts[i], &X, &Y);
        ASSERT_EQ(status, 0) << ProjectionName(oc.code) << " point " << i;
        ASSERT_TRUE(std::isfinite(xs[i]) && std::isfinite(ys[i])) << args << " point " << i;
        double dx = std::fabs(X - xs[i]);
        if (std::fabs(dx - x_period) < 1e-9) dx = std::fabs(dx - x_period);
        const double d = std::fmax(dx, std::fabs(Y - ys[i]));
        worst = std::fmax(worst, d);
        EXPECT_LE(d, 1e-12) << args << " point " << i << " ours " << X << "," << Y << " proj "
                            << xs[i] << "," << ys[i];
        ++compared;
      }
    }
    std::printf("%-10s largest difference from PROJ %.3g plane units over %d points\n",
                std::string(ProjectionName(oc.code)).c_str(), worst, compared);
    RecordProperty(std::string(ProjectionName(oc.code)) + "_max_diff", std::to_string(worst));
  }
}

}  // namespace
}  // namespace display
