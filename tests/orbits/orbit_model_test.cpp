// The orbit model against independent computations.
#include "lib/orbits/orbit_model.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using orbits::Orbit;
using orbits::Vector3;

constexpr double kDeg = M_PI / 180.0;

geodesy::Ellipsoid Wgs84() { return geodesy::MakeEllipsoid(34); }

Orbit MakeOrbit(double a, double e, double node, double incl, double perigee, double gm = orbits::DEFAULT_GM) {
  Orbit o;
  o.a = a;
  o.period = orbits::OrbitPeriod(a, gm);
  orbits::SetOrbitShape(o, e, node, incl, perigee);
  return o;
}

// The area-law iteration of the satellite file's first design, kept here as
// a reference: it converges for moderate eccentricities.
int AreaLawAnomaly(const Orbit& o, double t, double* cn, double* sn) {
  const double P = o.period;
  double tau = std::fmod(t + o.t0, P);
  if (tau < 0) tau += P;
  const bool mirrored = tau > P / 2;
  if (mirrored) tau = P - tau;
  const double At = tau / P * M_PI * o.a * o.b;
  double nu = 2 * M_PI * tau / P;
  double c = std::cos(nu), s = std::sin(nu);
  bool before = true;
  for (int i = 0; i < 64; ++i) {
    const double r = o.b * o.b / (o.a + o.c * c);
    const double d = 2 * (At - orbits::OrbitSectorArea(o, c, s)) / r;
    const double x = r * c - d * s, y = r * s + d * c, l = std::hypot(x, y);
    c = x / l;
    s = y / l;
    const bool now = std::fabs(d) <= 0.0001;
    if (now && before) {
      *cn = c;
      *sn = mirrored ? -s : s;
      return 0;
    }
    before = now;
  }
  *cn = c;
  *sn = mirrored ? -s : s;
  return 1;
}

// Kepler's equation by plain bisection over [0, 2 pi): slow, but shares
// nothing with the library's solve.
double TrueAnomalyByBisection(double M, double e) {
  double lo = 0, hi = 2 * M_PI;
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    (mid - e * std::sin(mid) < M ? lo : hi) = mid;
  }
  const double E = 0.5 * (lo + hi);
  return 2 * std::atan2(std::sqrt(1 + e) * std::sin(E / 2), std::sqrt(1 - e) * std::cos(E / 2));
}

double AngleDiff(double a, double b) { return std::remainder(a - b, 2 * M_PI); }

TEST(Kepler, RandomAnomaliesAgreeWithIndependentSolveAndAreaLaw) {
  std::mt19937_64 rng(19);
  std::uniform_real_distribution<double> ue(0.0, 0.95), ut(0.0, 1.0);
  double worst = 0, worst_area = 0;
  int area_converged = 0;
  for (int i = 0; i < 100000; ++i) {
    const double e = i == 0 ? 0.95 : ue(rng);
    Orbit o = MakeOrbit(7.0e6 + 3.0e7 * ut(rng), e, 0, 0.5, 0);
    const double t = ut(rng) * o.period;
    double cn, sn;
    ASSERT_EQ(orbits::SolveOrbitAnomaly(o, t, &cn, &sn), 0) << "e=" << e << " t=" << t;
    const double nu = std::atan2(sn, cn);
    const double ref = TrueAnomalyByBisection(2 * M_PI * t / o.period, e);
    worst = std::max(worst, std::fabs(AngleDiff(nu, ref)));
    double ac, as;
    if (AreaLawAnomaly(o, t, &ac, &as) == 0) {
      ++area_converged;
      worst_area = std::max(worst_area, std::fabs(AngleDiff(nu, std::atan2(as, ac))));
    }
  }
  EXPECT_LT(worst, 1e-9);
  EXPECT_LT(worst_area, 1e-9);
  EXPECT_GT(area_converged, 90000);
}

TEST(Kepler, HighEccentricityThatCyclesTheAreaLawStillConverges) {
  // e = 0.93, tau = 0.4 P: the area-law iteration alternates between two
  // directions and gives up; Kepler's equation has one answer.
  Orbit o = MakeOrbit(2.0e7, 0.93, 0, 0.5, 0);
  const double t = 0.4 * o.period;
  double ac, as;
  EXPECT_EQ(AreaLawAnomaly(o, t, &ac, &as), 1);
  double cn, sn;
  ASSERT_EQ(orbits::SolveOrbitAnomaly(o, t, &cn, &sn), 0);
  EXPECT_NEAR(AngleDiff(std::atan2(sn, cn), TrueAnomalyByBisection(0.8 * M_PI, 0.93)), 0, 1e-10);
  // Across the whole orbit at e = 0.95 the position is continuous.
  Orbit p = MakeOrbit(2.0e7, 0.95, 0, 0.5, 0);
  Vector3 last;
  orbits::SatellitePosition(p, 0, &last);
  const double vmax = std::sqrt(orbits::DEFAULT_GM * (1 + 0.95) / (p.a * (1 - 0.95)));
  for (int k = 1; k <= 4000; ++k) {
    Vector3 s;
    EXPECT_EQ(orbits::SatellitePosition(p, k * p.period / 4000, &s), 0);
    const double jump = std::hypot(s.x - last.x, s.y - last.y, s.z - last.z);
    EXPECT_LT(jump, 1.5 * vmax * p.period / 4000) << k;
    last = s;
  }
}

TEST(Kepler, PerigeeApogeeAndMirror) {
  Orbit o = MakeOrbit(7.5e6, 0.2, 0, 1.0, 0);
  o.period = 6000;
  o.t0 = 0;
  double cn, sn;
  for (int k = 0; k < 5; ++k) {
    orbits::SolveOrbitAnomaly(o, k * 6000.0, &cn, &sn);
    EXPECT_EQ(cn, 1.0);
    EXPECT_EQ(sn, 0.0);
    orbits::SolveOrbitAnomaly(o, k * 6000.0 + 3000.0, &cn, &sn);
    EXPECT_EQ(cn, -1.0);
    EXPECT_EQ(sn, 0.0);
  }
  // Negative times come into [0, P) too.
  orbits::SolveOrbitAnomaly(o, -6000.0, &cn, &sn);
  EXPECT_EQ(cn, 1.0);
  for (double t : {1.0, 517.25, 1499.0, 2999.0}) {
    double c2, s2;
    orbits::SolveOrbitAnomaly(o, t, &cn, &sn);
    orbits::SolveOrbitAnomaly(o, 6000.0 - t, &c2, &s2);
    EXPECT_DOUBLE_EQ(cn, c2);
    EXPECT_DOUBLE_EQ(sn, -s2);
    EXPECT_GT(sn, 0);
  }
  // The sector area is half the ellipse at the apogee, and odd in nu.
  EXPECT_DOUBLE_EQ(orbits::OrbitSectorArea(o, -1, 0), M_PI * o.a * o.b / 2);
  EXPECT_DOUBLE_EQ(orbits::OrbitSectorArea(o, 0.6, 0.8), -orbits::OrbitSectorArea(o, 0.6, -0.8));
}

TEST(OrbitRecord, PeriodAxisAndEpochs) {
  EXPECT_NEAR(orbits::OrbitSemiMajorAxis(6000, orbits::DEFAULT_GM), 7136640.6, 0.1);
  EXPECT_NEAR(orbits::OrbitPeriod(7136640.6, orbits::DEFAULT_GM), 6000, 1e-4);
  // Circular orbit, ascending-node epoch: t0 = -w P / 2 pi, and the
  // satellite starts on the equator heading north.
  const double w = 40 * kDeg;
  Orbit o = MakeOrbit(7.1e6, 0, 30 * kDeg, 98 * kDeg, w);
  o.t0 = orbits::EpochTimeSincePerigee(o, w, orbits::kEpochAscending, 0);
  EXPECT_NEAR(o.t0, -w * o.period / (2 * M_PI), 1e-9);
  Vector3 s0, s1;
  orbits::SatellitePosition(o, 0, &s0);
  orbits::SatellitePosition(o, 1, &s1);
  EXPECT_NEAR(s0.z, 0, 1e-6);
  EXPECT_GT(s1.z, 0);
  EXPECT_NEAR(std::atan2(s0.y, s0.x), 30 * kDeg, 1e-12);
  EXPECT_NEAR(o.W.z, std::cos(98 * kDeg), 1e-15);
  // An eccentric orbit with a descending-node epoch starts on the equator
  // heading south (not half a period after the ascending node).
  Orbit d = MakeOrbit(1.2e7, 0.4, 0, 60 * kDeg, 90 * kDeg);
  d.t0 = orbits::EpochTimeSincePerigee(d, 90 * kDeg, orbits::kEpochDescending, 0);
  orbits::SatellitePosition(d, 0, &s0);
  orbits::SatellitePosition(d, 1, &s1);
  EXPECT_NEAR(s0.z / d.a, 0, 1e-12);
  EXPECT_LT(s1.z, 0);
}

TEST(J2, SunSynchronousNodeRateAndPeriods) {
  const geodesy::Ellipsoid e = Wgs84();
  const double R = (2 * e.a + e.b) / 3;
  // 700 km above the equator.
  Orbit o = MakeOrbit(e.a + 700e3, 0, 0, 98.2 * kDeg, 0);
  orbits::SetOrbitRates(R, orbits::DEFAULT_J2, o);
  const double per_day = o.node_rate * 86400 / kDeg;
  EXPECT_NEAR(per_day, 0.98488, 0.00002);
  // The sun-synchronous rate: 360 degrees per tropical year.
  EXPECT_NEAR(per_day / (360.0 / 365.2422), 1.0, 0.001);
  // Textbook period of a 700 km orbit: about 98.6 minutes.
  EXPECT_NEAR(o.period / 60, 98.6, 0.2);
  // The perigee turns backwards beyond the critical inclination 63.4 degrees.
  EXPECT_LT(o.perigee_rate, 0);
  Orbit crit = MakeOrbit(R + 700e3, 0.01, 0, std::acos(std::sqrt(0.2)), 0);
  orbits::SetOrbitRates(R, orbits::DEFAULT_J2, crit);
  EXPECT_NEAR(crit.perigee_rate, 0, 1e-20);
}

// Numerical integration of the J2 problem (RK4 in an inertial frame) for one
// day: the node of the integrated orbit drifts at the model's secular rate.
TEST(J2, NodeDriftMatchesNumericalIntegration) {
  const geodesy::Ellipsoid e = Wgs84();
  const double R = (2 * e.a + e.b) / 3, gm = orbits::DEFAULT_GM, j2 = orbits::DEFAULT_J2;
  Orbit o = MakeOrbit(R + 700e3, 0, 0, 98.2 * kDeg, 0);
  orbits::SetOrbitRates(R, j2, o);
  // J2 acceleration with the reference radius R.
  auto accel = [&](const double* r, double* a) {
    const double x = r[0], y = r[1], z = r[2];
    const double r2 = x * x + y * y + z * z, rr = std::sqrt(r2), r5 = r2 * r2 * rr;
    const double k = 1.5 * j2 * gm * R * R / r5, zz = 5 * z * z / r2;
    const double g = -gm / (r2 * rr);
    a[0] = g * x + k * x * (zz - 1);
    a[1] = g * y + k * y * (zz - 1);
    a[2] = g * z + k * z * (zz - 3);
  };
  // Start on the equator at the ascending node with the circular speed
  // raised slightly so the mean radius stays at a (first-order J2 correction).
  const double a = o.a;
  const double v = std::sqrt(gm / a * (1 + 1.5 * j2 * R * R / (a * a) * (1 - 1.5 * std::pow(std::sin(98.2 * kDeg), 2)) ));
  double s[6] = {a, 0, 0, 0, v * std::cos(98.2 * kDeg), v * std::sin(98.2 * kDeg)};
  const double h = 5.0;
  auto deriv = [&](const double* in, double* out) {
    out[0] = in[3];
    out[1] = in[4];
    out[2] = in[5];
    accel(in, out + 3);
  };
  std::vector<double> nodes;
  double prev_z = 0;
  for (int i = 0; i < 86400 / 5 * 2; ++i) {
    double k1[6], k2[6], k3[6], k4[6], tmp[6];
    deriv(s, k1);
    for (int j = 0; j < 6; ++j) tmp[j] = s[j] + h / 2 * k1[j];
    deriv(tmp, k2);
    for (int j = 0; j < 6; ++j) tmp[j] = s[j] + h / 2 * k2[j];
    deriv(tmp, k3);
    for (int j = 0; j < 6; ++j) tmp[j] = s[j] + h * k3[j];
    deriv(tmp, k4);
    for (int j = 0; j < 6; ++j) s[j] += h / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
    if (prev_z < 0 && s[2] >= 0) {
      // Ascending node: the longitude of the orbit normal's node line.
      const double hx = s[1] * s[5] - s[2] * s[4], hy = s[2] * s[3] - s[0] * s[5];
      nodes.push_back(std::atan2(hx, -hy));
    }
    prev_z = s[2];
  }
  ASSERT_GT(nodes.size(), 20u);
  // Least-squares slope of the node longitude per node passage.
  const double drift = AngleDiff(nodes.back(), nodes.front()) / (nodes.size() - 1);
  const double nodal = 2 * M_PI / (2 * M_PI / o.period + o.perigee_rate);
  EXPECT_NEAR(drift / (o.node_rate * nodal), 1.0, 0.02);
}

TEST(Swath, EdgeCentralAngleAndMends) {
  // Sphere of 6371 km, 700 km up: +-45 degrees lies 745 km from the nadir.
  const double r = 6371e3, D = r + 700e3;
  const double th = orbits::SwathCentralAngle(r, D, std::sin(45 * kDeg), std::cos(45 * kDeg));
  EXPECT_NEAR(th * r, 745e3, 1.5e3);
  EXPECT_NEAR(th, std::asin(D * std::sin(45 * kDeg) / r) - 45 * kDeg, 1e-15);
  // Past the grazing angle (about 63.7 degrees here) the edge stays on the
  // horizon, acos(r / D) = 25.7 degrees out, however far the limit goes.
  const double horizon = std::acos(r / D);
  EXPECT_NEAR(horizon / kDeg, 25.7, 0.05);
  for (double alpha : {70.0, 80.0, 90.0}) {
    const double t = orbits::SwathCentralAngle(r, D, std::sin(alpha * kDeg), std::cos(alpha * kDeg));
    EXPECT_NEAR(t, horizon, 1e-12) << alpha;
    EXPECT_NEAR(orbits::SwathCentralAngle(r, D, -std::sin(alpha * kDeg), std::cos(alpha * kDeg)), -horizon, 1e-12);
  }
  // Up to the grazing angle the edge moves out monotonically.
  double last = 0;
  for (double alpha = 1; alpha < 63.5; alpha += 0.5) {
    const double t = orbits::SwathCentralAngle(r, D, std::sin(alpha * kDeg), std::cos(alpha * kDeg));
    EXPECT_GT(t, last);
    last = t;
  }
}

TEST(Swath, SymmetricEdgesOnTheEllipsoidAndPolarAxis) {
  const geodesy::Ellipsoid e = Wgs84();
  const double R = (2 * e.a + e.b) / 3;
  Orbit o = MakeOrbit(R + 700e3, 0.001, 20 * kDeg, 98.2 * kDeg, 0);
  orbits::SetOrbitRates(R, orbits::DEFAULT_J2, o);
  orbits::Swath sw{std::sin(-45 * kDeg), std::cos(-45 * kDeg), std::sin(45 * kDeg), std::cos(45 * kDeg)};
  orbits::Swath asym = sw;
  asym.sin_left = std::sin(44.999999 * kDeg);
  asym.cos_left = std::cos(44.999999 * kDeg);
  for (double t = 0; t < 6000; t += 377) {
    orbits::NadirSwath ns, as;
    ASSERT_EQ(orbits::SatelliteNadirAndSwath(e, o, &sw, t, &ns), 0);
    ASSERT_EQ(orbits::SatelliteNadirAndSwath(e, o, &asym, t, &as), 0);
    const double dr = std::acos(geodesy::Dot(ns.nadir, ns.right)), dl = std::acos(geodesy::Dot(ns.nadir, ns.left));
    // The nadir of the ellipsoid is not quite square to the cross-track
    // direction: the edges agree to a few metres.
    EXPECT_NEAR(dr, dl, 5e-6);
    EXPECT_NEAR(dr * R, 745e3, 20e3);
    // The symmetric shortcut agrees with computing the left edge itself.
    EXPECT_LT(std::sqrt(geodesy::ChordSq(ns.left, as.left)) * R, 1.0);
    // The right edge lies right of the motion: the cross product of the
    // nadir's motion and the offset to the right edge points down.
    orbits::NadirSwath next;
    orbits::SatelliteNadirAndSwath(e, o, &sw, t + 1, &next);
    const geodesy::DirectionCosines v{next.nadir.x - ns.nadir.x, next.nadir.y - ns.nadir.y, next.nadir.z - ns.nadir.z};
    const geodesy::DirectionCosines off{ns.right.x - ns.nadir.x, ns.right.y - ns.nadir.y, ns.right.z - ns.nadir.z};
    EXPECT_LT(geodesy::Dot(geodesy::Cross(v, off), ns.nadir), 0);
    EXPECT_NEAR(ns.height, 700e3, 30e3);
  }
  // A position on the polar axis: the pole is the nadir, the height |z| - b.
  geodesy::DirectionCosines n;
  double h;
  orbits::FootPoint(e, {0, 0, -7.0e6}, &n, &h);
  EXPECT_EQ(n.z, -1.0);
  EXPECT_EQ(n.x, 0.0);
  EXPECT_DOUBLE_EQ(h, 7.0e6 - e.b);
}

// The foot point against GeographicLib's geodetic latitude and height, and a
// ground track whose successive nadirs are as far apart as the ground speed
// says (GeographicLib geodesic distance).
TEST(GroundTrack, FootPointsAndStepsAgainstGeographicLib) {
  const geodesy::Ellipsoid e = Wgs84();
  const GeographicLib::Geodesic& geod = GeographicLib::Geodesic::WGS84();
  const double R = (2 * e.a + e.b) / 3;
  Orbit o = MakeOrbit(R + 705e3, 0.0001, 295 * kDeg, 98.2 * kDeg, 90 * kDeg);
  orbits::SetOrbitRates(R, orbits::DEFAULT_J2, o);
  double last_lat = 0, last_lon = 0;
  for (int k = 0; k <= 600; ++k) {
    const double t = k * 10.0;
    orbits::NadirSwath ns;
    orbits::SatelliteNadirAndSwath(e, o, nullptr, t, &ns);
    // Independent geodetic latitude and height of the satellite position.
    const double x = ns.position.x, y = ns.position.y, z = ns.position.z;
    const double p = std::hypot(x, y);
    double lat = std::atan2(z, p * (1 - 0.00669437999014));
    for (int i = 0; i < 20; ++i) {
      const double N = e.a / std::sqrt(1 - 0.00669437999014 * std::sin(lat) * std::sin(lat));
      const double hh = p / std::cos(lat) - N;
      lat = std::atan2(z, p * (1 - 0.00669437999014 * N / (N + hh)));
    }
    const double N = e.a / std::sqrt(1 - 0.00669437999014 * std::sin(lat) * std::sin(lat));
    const double hh = p / std::cos(lat) - N;
    const geodesy::LatLong ll = geodesy::CosinesToGeodetic(ns.nadir, e);
    EXPECT_NEAR(ll.lat, lat, 1e-9);
    EXPECT_NEAR(ns.height, hh, 1e-3);
    const double lon = std::atan2(y, x);
    EXPECT_NEAR(AngleDiff(ll.lon, lon), 0, 1e-9);
    if (k > 0) {
      double s12;
      geod.Inverse(last_lat / kDeg, last_lon / kDeg, ll.lat / kDeg, ll.lon / kDeg, s12);
      // Ground speed of a 705 km orbit: about 6.7 to 6.9 km/s over the ground.
      EXPECT_NEAR(s12 / 10.0, 6780, 150) << k;
    }
    last_lat = ll.lat;
    last_lon = ll.lon;
  }
}

}  // namespace
