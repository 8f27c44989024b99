// The ellipsoid conversions and series against GeographicLib on entries 34
// and 7 and on a strongly flattened user ellipsoid. The largest differences
// seen are printed so the closing figures can be quoted.
#include <gtest/gtest.h>

#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/Geocentric.hpp>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

#include "lib/geodesy/ellipsoid.h"
#include "tests/geodesy/oracle_support.h"

using namespace geodesy;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180.0;

double WrapDiff(double a, double b) {
  double d = std::fmod(a - b, 2 * kPi);
  if (d > kPi) d -= 2 * kPi;
  if (d < -kPi) d += 2 * kPi;
  return std::fabs(d);
}

struct Case {
  const char* label;
  Ellipsoid e;
};

Case Cases(int i) {
  switch (i) {
    case 0:
      return {"entry 34", MakeEllipsoid(34)};
    case 1:
      return {"entry 7", MakeEllipsoid(7)};
    default:
      return {"user 7000 km / 6000 km", MakeUserEllipsoid(7.0e6, 6.0e6)};
  }
}

}  // namespace

TEST(EllipsoidOracle, GeodeticRoundTripAndGeocentricLatitude) {
  const int n = geodesy_test::Scaled(100000);
  for (int c = 0; c < 3; ++c) {
    const Case k = Cases(c);
    const GeographicLib::Geocentric gc(k.e.a, (k.e.a - k.e.b) / k.e.a);
    std::mt19937_64 rng(1234 + c);
    std::uniform_real_distribution<double> lat_d(-kPi / 2, kPi / 2), lon_d(-kPi, kPi);
    double worst_trip = 0.0, worst_gc = 0.0;
    for (int i = 0; i < n; ++i) {
      const LatLong ll{lat_d(rng), lon_d(rng)};
      const DirectionCosines u = GeodeticToCosines(ll, k.e);
      ASSERT_NEAR(u.x * u.x + u.y * u.y + u.z * u.z, 1.0, 1e-15);
      const LatLong back = CosinesToGeodetic(u, k.e);
      if (u.x * u.x + u.y * u.y < SAME_POINT_SQ) {
        EXPECT_EQ(std::fabs(back.lat), kPi / 2);
        continue;
      }
      const double trip = std::max(std::fabs(back.lat - ll.lat), WrapDiff(back.lon, ll.lon));
      worst_trip = std::max(worst_trip, trip);
      ASSERT_LE(trip, 1e-12) << k.label << " lat " << ll.lat << " lon " << ll.lon;

      double X, Y, Z;
      gc.Forward(ll.lat / kDeg, ll.lon / kDeg, 0.0, X, Y, Z);
      const double psi_oracle = std::atan2(Z, std::hypot(X, Y));
      const double diff = std::fabs(CosinesToGeocentric(u).lat - psi_oracle);
      worst_gc = std::max(worst_gc, diff);
      ASSERT_LE(diff, 1e-13) << k.label << " lat " << ll.lat;
    }
    std::printf("%s: round trip worst %.3g rad, geocentric latitude worst %.3g rad\n", k.label,
                worst_trip, worst_gc);
  }
}

TEST(EllipsoidOracle, QuarterMeridianAndArea) {
  for (int c = 0; c < 3; ++c) {
    const Case k = Cases(c);
    const GeographicLib::Ellipsoid oracle(k.e.a, (k.e.a - k.e.b) / k.e.a);
    const double dq = std::fabs(k.e.quarter_meridian - oracle.QuarterMeridian());
    const double da = std::fabs(2 * k.e.half_area - oracle.Area());
    std::printf(
        "%s: quarter meridian %.4f m (oracle differs by %.3g m), area %.4f km2 "
        "(differs by %.3g m2)\n",
        k.label, k.e.quarter_meridian, dq, 2 * k.e.half_area / 1e6, da);
    if (c < 2) {
      EXPECT_LT(dq, 1e-3) << k.label;
    } else {
      // e2 = 0.265: the series stops at e2^4, so the next term (about e2^5)
      // shows: about 1e-3 of the arc.
      EXPECT_LT(dq / oracle.QuarterMeridian(), 2e-3) << k.label;
    }
    EXPECT_LT(da / oracle.Area(), 1e-13) << k.label;
  }
  const Ellipsoid wgs = MakeEllipsoid(34);
  EXPECT_NEAR(wgs.quarter_meridian, 10001965.729, 1e-3);
  EXPECT_NEAR(2 * wgs.half_area / 1e6, 510065621.7, 0.05);
}

TEST(EllipsoidOracle, AreaOfExtremeUserEllipsoids) {
  // Flattened beyond what 16 terms of the series can sum, oblate and prolate.
  const double axes[][2] = {{2.0e6, 1.0e6}, {7.14e7, 100.0}, {6.0e6, 9.0e6}, {100.0, 7.14e7}};
  for (const auto& ab : axes) {
    const Ellipsoid e = MakeUserEllipsoid(ab[0], ab[1]);
    const GeographicLib::Ellipsoid oracle(ab[0], (ab[0] - ab[1]) / ab[0]);
    EXPECT_NEAR(2 * e.half_area / oracle.Area(), 1.0, 1e-12) << ab[0] << " " << ab[1];
  }
}

TEST(EllipsoidOracle, MeridianArcAtRandomLatitudes) {
  const Ellipsoid e = MakeEllipsoid(34);
  const GeographicLib::Ellipsoid oracle(e.a, (e.a - e.b) / e.a);
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> lat_d(-kPi / 2, kPi / 2);
  double worst = 0.0;
  for (int i = 0; i < geodesy_test::Scaled(10000); ++i) {
    const double lat = lat_d(rng);
    const double m = MeridianArc(e, std::cos(lat), std::sin(lat));
    worst = std::max(worst, std::fabs(m - oracle.MeridianDistance(lat / kDeg)));
  }
  std::printf("meridian arc, entry 34: worst difference %.3g m\n", worst);
  EXPECT_LT(worst, 1e-3);
}
