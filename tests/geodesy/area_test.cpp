// Area and length: the building blocks on cases with known answers, and
// the three region methods against GeographicLib's PolygonArea on random
// rings (the largest differences are printed for the closing figures).
#include "lib/geodesy/area.h"

#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

#include "lib/geodesy/tangent_frame.h"
#include "tests/geodesy/oracle_support.h"

using namespace geodesy;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180.0;
const DirectionCosines kMark{NOVALUE, 0.0, 0.0};

DirectionCosines Normal(double lat_deg, double lon_deg) {
  return GeocentricToCosines({lat_deg * kDeg, lon_deg * kDeg});
}

// Area on entry-34-like ellipsoid of the zone from the equator to latitude
// phi, per radian of longitude.
double ZonePerRadian(const Ellipsoid& e, double phi) {
  const double e2 = e.a2mb2 / e.a2, ecc = std::sqrt(e2), s = std::sin(phi);
  return e.b2 * (s / (2 * (1 - e2 * s * s)) + std::atanh(ecc * s) / (2 * ecc));
}

struct Oracle {
  double area, perimeter;
};

Oracle PolygonAreaOf(const Ellipsoid& e, const std::vector<DirectionCosines>& ring) {
  const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  GeographicLib::PolygonArea poly(g);
  for (const DirectionCosines& n : ring) {
    const LatLong ll = CosinesToGeocentric(n);
    poly.AddPoint(ll.lat / kDeg, ll.lon / kDeg);
  }
  Oracle o{};
  poly.Compute(false, true, o.perimeter, o.area);
  return o;
}

// A star-shaped counter-clockwise ring of n normals about centre, at most
// radius radians from it.
std::vector<DirectionCosines> RandomRing(std::mt19937_64& rng, const DirectionCosines& centre,
                                         double radius, int n) {
  const TangentFrame f = BuildTangentFrame(centre);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<DirectionCosines> ring;
  for (int k = 0; k < n; ++k) {
    const double az = 2 * kPi * (k + 0.8 * unit(rng)) / n;
    const double r = std::tan(radius * (0.3 + 0.7 * unit(rng)));
    ring.push_back(LiftFromFrame(f, r * std::cos(az), r * std::sin(az)));
  }
  return ring;
}

std::vector<DirectionCosines> AsRegion(const std::vector<std::vector<DirectionCosines>>& rings) {
  std::vector<DirectionCosines> list;
  for (const auto& r : rings) {
    list.insert(list.end(), r.begin(), r.end());
    list.push_back(kMark);
  }
  list.push_back(kMark);
  return list;
}

std::vector<DirectionCosines> Reversed(std::vector<DirectionCosines> ring) {
  std::reverse(ring.begin(), ring.end());
  return ring;
}

}  // namespace

TEST(GaussianRadius, EquatorPoleAndMeanOfPrincipalRadii) {
  const Ellipsoid e = MakeEllipsoid(34);
  EXPECT_DOUBLE_EQ(GaussianRadius(e, {1, 0, 0}), e.b);
  EXPECT_DOUBLE_EQ(GaussianRadius(e, {0, 0, -1}), e.a2 / e.b);
  const double e2 = e.a2mb2 / e.a2;
  for (double lat : {-1.3, -0.5, 0.2, 0.9, 1.5}) {
    const double w = 1 - e2 * std::sin(lat) * std::sin(lat);
    const double m = e.a * (1 - e2) / std::pow(w, 1.5), n = e.a / std::sqrt(w);
    EXPECT_NEAR(GaussianRadius(e, Normal(lat / kDeg, 40)), std::sqrt(m * n), 1e-7);
  }
  EXPECT_EQ(GaussianRadius(e, kMark), NOVALUE);
}

TEST(GeocentricRadius, DistanceToTheSurface) {
  const Ellipsoid e = MakeEllipsoid(34);
  const GeographicLib::Geocentric gc(e.a, (e.a - e.b) / e.a);
  EXPECT_DOUBLE_EQ(GeocentricRadius(e, {0, 1, 0}), e.a);
  EXPECT_DOUBLE_EQ(GeocentricRadius(e, {0, 0, 1}), e.b);
  for (double lat : {-80.0, -33.0, 12.0, 61.0}) {
    double X, Y, Z;
    gc.Forward(lat, 25.0, 0.0, X, Y, Z);
    const DirectionCosines u = Normalised({X, Y, Z});
    EXPECT_NEAR(GeocentricRadius(e, u), std::sqrt(X * X + Y * Y + Z * Z), 1e-8);
  }
}

TEST(ChordAngle, SeriesAndExactFormAgree) {
  EXPECT_EQ(ChordAngle(0.0), 0.0);
  EXPECT_EQ(ChordAngle(2e-14), 0.0);
  EXPECT_NEAR(ChordAngle(2.0), kPi / 2, 1e-15);
  EXPECT_NEAR(ChordAngle(4.0), kPi, 1e-15);
  EXPECT_NEAR(ChordAngle(4.0 + 1e-15), kPi, 1e-15);  // rounding past the antipode
  for (double q = 1e-13; q < 4.0; q *= 1.37) {
    EXPECT_NEAR(ChordAngle(q), 2 * std::asin(std::sqrt(q) / 2), 4e-16 * ChordAngle(q)) << q;
  }
  // Both sides of the switch to the exact form.
  EXPECT_NEAR(ChordAngle(0.1), 2 * std::asin(std::sqrt(0.1) / 2), 1e-16);
  EXPECT_NEAR(ChordAngle(0.1000001), 2 * std::asin(std::sqrt(0.1000001) / 2), 1e-16);
}

TEST(SphericalTriangle, KnownAreasAndDegenerateCases) {
  EXPECT_NEAR(SphericalTriangleArea({1, 0, 0}, {0, 1, 0}, {0, 0, 1}), kPi / 2, 1e-15);
  EXPECT_NEAR(SphericalTriangleArea({0, 0, 1}, {0, 1, 0}, {1, 0, 0}), kPi / 2, 1e-15);
  EXPECT_EQ(SphericalTriangleArea({1, 0, 0}, {1, 0, 0}, {0, 1, 0}), 0.0);
  EXPECT_NEAR(SphericalTriangleArea({1, 0, 0}, Normalised({1, 1, 0}), {0, 1, 0}), 0.0, 1e-15);
  // Small and thin triangles against the Van Oosterom-Strackee formula.
  std::mt19937_64 rng(3);
  double worst = 0.0;
  for (int i = 0; i < 1000; ++i) {
    const DirectionCosines a = geodesy_test::RandomUnit(rng);
    const TangentFrame f = BuildTangentFrame(a);
    const double s = std::pow(10.0, -1 - 5 * (i % 7) / 6.0);
    const DirectionCosines b = LiftFromFrame(f, s * 3.0, s * 0.1);
    const DirectionCosines c = LiftFromFrame(f, s * 0.5, s * 0.05 * (i % 5 + 1));
    // Reference in long double, the triple product from edge vectors.
    using L = long double;
    const L bx = L(b.x) - a.x, by = L(b.y) - a.y, bz = L(b.z) - a.z;
    const L cx = L(c.x) - a.x, cy = L(c.y) - a.y, cz = L(c.z) - a.z;
    const L triple =
        a.x * (by * cz - bz * cy) + a.y * (bz * cx - bx * cz) + a.z * (bx * cy - by * cx);
    const L den = 1 + (L(a.x) * b.x + L(a.y) * b.y + L(a.z) * b.z) +
                  (L(b.x) * c.x + L(b.y) * c.y + L(b.z) * c.z) +
                  (L(c.x) * a.x + L(c.y) * a.y + L(c.z) * a.z);
    const double vos = static_cast<double>(2 * std::atan2(std::fabs(triple), den));
    const double got = SphericalTriangleArea(a, b, c);
    worst = std::max(worst, std::fabs(got - vos) / vos);
    EXPECT_NEAR(got, vos, 1e-6 * vos + 1e-22) << s;
  }
  std::printf("L'Huilier on triangles of 1e-1 to 1e-6 rad: worst relative difference %.3g\n",
              worst);
}

TEST(CellArea, CubeFacesOnTheSphereAndTheTable) {
  // The six faces of a cube seen from its centre: six equal cells.
  const double t = 1 / std::sqrt(3.0);
  const DirectionCosines centres[6] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                       {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
  std::vector<double> table;
  const Ellipsoid sphere = MakeUserEllipsoid(6371000.0, 6371000.0);
  for (const DirectionCosines& c : centres) {
    const TangentFrame f = BuildTangentFrame(c);
    std::vector<DirectionCosines> corners;
    for (double az : {45.0, 135.0, 225.0, 315.0}) {
      corners.push_back(LiftFromFrame(f, std::sqrt(2.0) * std::cos(az * kDeg),
                                      std::sqrt(2.0) * std::sin(az * kDeg)));
      EXPECT_NEAR(std::fabs(corners.back().x), t, 1e-15);
    }
    EXPECT_NEAR(CellArea(c, corners, nullptr), 4 * kPi / 6, 1e-14);
    const double area = CellArea(c, corners, &sphere);
    EXPECT_NEAR(area, 4 * kPi / 6 * sphere.a2, 1e-14 * area);
    table.push_back(area);
  }
  ASSERT_TRUE(NormaliseCellAreas(table));
  double sum = 0;
  for (double v : table) {
    EXPECT_NEAR(v, 1.0 / 6, 1e-16);
    sum += v;
  }
  EXPECT_NEAR(sum, 1.0, 1e-15);
  std::vector<double> empty{0.0, 0.0};
  EXPECT_FALSE(NormaliseCellAreas(empty));
  EXPECT_EQ(empty[0], 0.0);
  EXPECT_EQ(CellArea({1, 0, 0}, {}, nullptr), 0.0);
}

TEST(EllipsoidalTriangle, SignFollowsOrientation) {
  const Ellipsoid e = MakeEllipsoid(34);
  const DirectionCosines c = Normal(10, 10), a = Normal(10.1, 10), b = Normal(10, 10.1);
  const double ccw = EllipsoidalTriangleArea(e, c, b, a);
  EXPECT_GT(ccw, 0.0);
  EXPECT_EQ(EllipsoidalTriangleArea(e, c, a, b), -ccw);
  EXPECT_EQ(EllipsoidalTriangleArea(e, c, c, a), 0.0);
  // A triangle below a square metre counts as nothing.
  EXPECT_EQ(EllipsoidalTriangleArea(e, c, Normal(10, 10 + 1e-6), Normal(10 + 1e-6, 10)), 0.0);
  // Opposite directions have no centroid.
  EXPECT_EQ(EllipsoidalTriangleArea(e, {1, 0, 0}, {-1, 0, 0}, Normalised({1e-9, 1, 0})), 0.0);
  // Small triangles agree with the geodesic triangle.
  const Oracle o = PolygonAreaOf(e, {c, b, a});
  EXPECT_NEAR(ccw / o.area, 1.0, 1e-5);
}

TEST(RegionArea, QuarterOfTheNorthernHemisphere) {
  // Equator from 0 to 90 E, up the meridian to the pole and down again:
  // all three edges are geodesics and parallels at once.
  for (int number : {34, 7}) {
    const Ellipsoid e = MakeEllipsoid(number);
    const auto region = AsRegion({{Normal(0, 0), Normal(0, 90), Normal(90, 0)}});
    const double quarter = e.half_area / 4;
    const double s = RegionAreaByEdges(e, region, SubdivisionLength(e), EdgePath::Geodesic);
    const double p =
        RegionAreaByEdges(e, region, SubdivisionLength(e), EdgePath::ParallelWhenLevel);
    const GeodesicMeasure r = RegionGeodesicMeasure(e, region);
    std::printf("entry %d quarter hemisphere: s %.3g, p %.3g, r %.3g relative\n", number,
                s / quarter - 1, p / quarter - 1, r.area / quarter - 1);
    EXPECT_NEAR(r.area / quarter, 1.0, 1e-13);
    EXPECT_NEAR(s / quarter, 1.0, 1e-12);
    EXPECT_NEAR(p / quarter, 1.0, 1e-12);
    EXPECT_NEAR(r.perimeter, 2 * e.quarter_meridian + e.a * kPi / 2, 1e-3);
  }
}

TEST(RegionArea, ParallelEdgesFollowTheParallel) {
  // A box between 40 and 50 N, 10 W to 30 E: its top and bottom edges are
  // parallels, which only the p method follows.
  const Ellipsoid e = MakeEllipsoid(34);
  const auto region =
      AsRegion({{Normal(40, -10), Normal(40, 30), Normal(50, 30), Normal(50, -10)}});
  const double exact = 40 * kDeg * (ZonePerRadian(e, 50 * kDeg) - ZonePerRadian(e, 40 * kDeg));
  const double p = RegionAreaByEdges(e, region, SubdivisionLength(e), EdgePath::ParallelWhenLevel);
  const double s = RegionAreaByEdges(e, region, SubdivisionLength(e), EdgePath::Geodesic);
  const Oracle o =
      PolygonAreaOf(e, {Normal(40, -10), Normal(40, 30), Normal(50, 30), Normal(50, -10)});
  std::printf("box 40-50N 40 deg wide: p vs exact %.3g, s vs PolygonArea %.3g\n", p / exact - 1,
              s / o.area - 1);
  EXPECT_NEAR(p / exact, 1.0, 5e-9);  // chords of the parallel between cut points
  EXPECT_NEAR(s / o.area, 1.0, 1e-5);
  EXPECT_GT(std::fabs(s / exact - 1), 1e-3);  // the geodesics bulge towards the pole
}

TEST(RegionArea, RandomRingsAgainstPolygonArea) {
  const Ellipsoid e = MakeEllipsoid(34);
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double worst_r = 0, worst_s = 0, worst_perimeter = 0;
  const int count = geodesy_test::Scaled(200);
  for (int i = 0; i < count; ++i) {
    const DirectionCosines centre = geodesy_test::RandomUnit(rng);
    const double radius = std::pow(10.0, -3.5 + 3.3 * unit(rng));  // 0.02 to 40 degrees
    const auto ring = RandomRing(rng, centre, radius, 3 + static_cast<int>(40 * unit(rng)));
    const Oracle o = PolygonAreaOf(e, ring);
    ASSERT_GT(o.area, 0.0);
    const auto region = AsRegion({ring});
    const GeodesicMeasure r = RegionGeodesicMeasure(e, region);
    const double dr = std::fabs(r.area - o.area) / o.area;
    worst_r = std::max(worst_r, dr);
    EXPECT_LT(dr, 1e-9) << "radius " << radius;
    const double dp = std::fabs(r.perimeter - o.perimeter) / o.perimeter;
    worst_perimeter = std::max(worst_perimeter, dp);
    EXPECT_LT(dp, 1e-11);
    if (i % 4 == 0) {  // the subdivided method is slower: a quarter of the rings
      const double s = RegionAreaByEdges(e, region, SubdivisionLength(e), EdgePath::Geodesic);
      const double ds = std::fabs(s - o.area) / o.area;
      worst_s = std::max(worst_s, ds);
      EXPECT_LT(ds, 5e-9) << "radius " << radius;
    }
  }
  std::printf("random rings: r worst %.3g, s worst %.3g relative; perimeter worst %.3g\n", worst_r,
              worst_s, worst_perimeter);
}

TEST(RegionArea, PolesAntimeridianHolesAndComplements) {
  const Ellipsoid e = MakeEllipsoid(34);
  const double whole = 2 * e.half_area;
  std::mt19937_64 rng(8);
  // A ring round the north pole, crossing the antimeridian.
  const auto polar = RandomRing(rng, {0, 0, 1}, 20 * kDeg, 30);
  const auto across = RandomRing(rng, Normal(-5, 179.9), 3 * kDeg, 12);
  for (const auto* ring : {&polar, &across}) {
    const Oracle o = PolygonAreaOf(e, *ring);
    EXPECT_NEAR(RegionGeodesicMeasure(e, AsRegion({*ring})).area / o.area, 1.0, 1e-11);
    const double s =
        RegionAreaByEdges(e, AsRegion({*ring}), SubdivisionLength(e), EdgePath::Geodesic);
    EXPECT_NEAR(s / o.area, 1.0, 1e-4);
    // Reversed: everything but the ring.
    const double rev = RegionGeodesicMeasure(e, AsRegion({Reversed(*ring)})).area;
    EXPECT_NEAR(rev, whole - o.area, 1e-9 * whole);
    const double srev =
        RegionAreaByEdges(e, AsRegion({Reversed(*ring)}), SubdivisionLength(e), EdgePath::Geodesic);
    EXPECT_NEAR(srev / (whole - o.area), 1.0, 1e-6);
  }
  // A ring with a hole, and two separate rings.
  const auto outer = RandomRing(rng, Normal(30, 60), 8 * kDeg, 20);
  const auto hole = Reversed(RandomRing(rng, Normal(30, 60), 1 * kDeg, 9));
  const auto other = RandomRing(rng, Normal(-40, -70), 2 * kDeg, 9);
  const double want =
      PolygonAreaOf(e, outer).area + PolygonAreaOf(e, hole).area + PolygonAreaOf(e, other).area;
  const auto region = AsRegion({outer, hole, other});
  EXPECT_NEAR(RegionGeodesicMeasure(e, region).area / want, 1.0, 1e-11);
  EXPECT_NEAR(RegionAreaByEdges(e, region, SubdivisionLength(e), EdgePath::Geodesic) / want, 1.0,
              1e-4);
}

// Edges from a kilometre to a hundred: the cut edges' paths are found in
// three ways by length (the middle without solving the geodesic, the cuts
// on a quadratic through the line's middle, a position on the line per cut);
// each agrees with GeographicLib at every latitude and azimuth.
TEST(RegionArea, EdgesOfEveryLengthFollowTheGeodesic) {
  const Ellipsoid e = MakeEllipsoid(34);
  std::mt19937_64 rng(77);
  double worst[4] = {0, 0, 0, 0};
  const double edge_km[4] = {1.5, 6.0, 25.0, 90.0};
  for (double lat : {-75.0, -40.0, 0.0, 20.0, 55.0, 82.0}) {
    for (int k = 0; k < 4; ++k) {
      const int n = static_cast<int>(1400.0 * 0.65 / edge_km[k]);
      const auto ring = RandomRing(rng, Normal(lat, 37.0 * k), 2 * kDeg, n);
      const double want = PolygonAreaOf(e, ring).area;
      const double s = RegionAreaByEdges(e, AsRegion({ring}), SubdivisionLength(e), EdgePath::Geodesic);
      worst[k] = std::max(worst[k], std::fabs(s / want - 1));
    }
  }
  std::printf("edges of 1.5, 6, 25, 90 km: s worst %.2g %.2g %.2g %.2g relative\n", worst[0], worst[1], worst[2],
              worst[3]);
  for (double w : worst) EXPECT_LT(w, 1e-10);
}

TEST(RegionArea, ListEndsAndRefusals) {
  const Ellipsoid e = MakeEllipsoid(34);
  const std::vector<DirectionCosines> ring = {Normal(0, 0), Normal(0, 1), Normal(1, 0)};
  const double one = RegionGeodesicMeasure(e, AsRegion({ring})).area;
  // Without marks, and with rubbish after the two closing marks.
  EXPECT_DOUBLE_EQ(RegionGeodesicMeasure(e, ring).area, one);
  auto padded = AsRegion({ring});
  padded.push_back(Normal(50, 50));
  padded.push_back(Normal(51, 50));
  padded.push_back(Normal(50, 51));
  EXPECT_DOUBLE_EQ(RegionGeodesicMeasure(e, padded).area, one);
  EXPECT_DOUBLE_EQ(RegionAreaByEdges(e, padded, 637.0, EdgePath::Geodesic),
                   RegionAreaByEdges(e, AsRegion({ring}), 637.0, EdgePath::Geodesic));
  // Empty lists and degenerate rings.
  EXPECT_EQ(RegionGeodesicMeasure(e, {}).area, 0.0);
  EXPECT_EQ(RegionGeodesicMeasure(e, AsRegion({{Normal(3, 3)}})).area, 0.0);
  // Two vertices: out along the geodesic and back again, nothing enclosed
  // (within rounding, never the whole ellipsoid).
  EXPECT_NEAR(
      RegionAreaByEdges(e, AsRegion({{Normal(3, 3), Normal(4, 4)}}), 637.0, EdgePath::Geodesic),
      0.0, 1e-3);
  EXPECT_NEAR(RegionGeodesicMeasure(e, AsRegion({{Normal(3, 3), Normal(4, 4)}})).area, 0.0, 1e-3);
  // Refusals: no subdivision, no ellipsoid, vertices that sum to nothing.
  EXPECT_EQ(RegionAreaByEdges(e, ring, 0.0, EdgePath::Geodesic), NOVALUE);
  EXPECT_EQ(RegionAreaByEdges(Ellipsoid{}, ring, 637.0, EdgePath::Geodesic), NOVALUE);
  EXPECT_EQ(RegionGeodesicMeasure(Ellipsoid{}, ring).area, NOVALUE);
  const std::vector<DirectionCosines> balanced = {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}};
  EXPECT_EQ(RegionAreaByEdges(e, balanced, 637.0, EdgePath::Geodesic), NOVALUE);
  EXPECT_NEAR(RegionGeodesicMeasure(e, balanced).area, e.half_area, 1e-3);
  // A tiny subdivision is capped, not followed for ever.
  const double fine = RegionAreaByEdges(e, ring, 1e-9, EdgePath::Geodesic);
  EXPECT_NEAR(fine / one, 1.0, 1e-6);
}

TEST(RegionArea, SphereUserEllipsoid) {
  const double r = 6371000.0;
  const Ellipsoid sphere = MakeUserEllipsoid(r, r);
  const auto region = AsRegion({{Normal(0, 0), Normal(0, 90), Normal(90, 0)}});
  EXPECT_NEAR(RegionGeodesicMeasure(sphere, region).area, kPi / 2 * r * r, 1e-3);
  EXPECT_NEAR(RegionAreaByEdges(sphere, region, SubdivisionLength(sphere), EdgePath::Geodesic) /
                  (kPi / 2 * r * r),
              1.0, 1e-12);
}

TEST(PolylineLength, EquatorMeridianAndSegments) {
  const Ellipsoid e = MakeEllipsoid(34);
  std::vector<DirectionCosines> equator;
  for (int k = 0; k <= 90; ++k) equator.push_back(GeodeticToCosines({0.0, k * kDeg}, e));
  EXPECT_NEAR(PolylineLength(e, equator), e.a * kPi / 2, 1e-3);
  // One 90-degree edge: the chord's angle is exact, not the short series.
  EXPECT_NEAR(PolylineLength(e, std::vector<DirectionCosines>{{1, 0, 0}, {0, 1, 0}}), e.a * kPi / 2,
              1e-3);

  const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  std::vector<DirectionCosines> meridian;
  for (int k = 0; k <= 60; ++k) meridian.push_back(GeodeticToCosines({k * kDeg, 20 * kDeg}, e));
  double s12;
  g.Inverse(0, 20, 60, 20, s12);
  const double len = PolylineLength(e, meridian);
  std::printf("meridian 0-60 N in 1-degree steps: %.3f m, GeographicLib %.3f m (%.3g relative)\n",
              len, s12, len / s12 - 1);
  EXPECT_NEAR(len / s12, 1.0, 2e-3);
  // Along geodesic edges the length is exact.
  EXPECT_NEAR(GeodesicPolylineLength(e, meridian), s12, 1e-6);
  EXPECT_NEAR(GeodesicPolylineLength(e, equator), e.a * kPi / 2, 1e-6);

  // Segments are not joined across marks; empty lists measure nothing.
  std::vector<DirectionCosines> two = {{1, 0, 0},
                                       Normalised({1, 0.01, 0}),
                                       kMark,
                                       Normalised({1, 0.5, 0}),
                                       Normalised({1, 0.51, 0})};
  const double joined = PolylineLength(
      e,
      std::vector<DirectionCosines>{
          {1, 0, 0}, Normalised({1, 0.01, 0}), Normalised({1, 0.5, 0}), Normalised({1, 0.51, 0})});
  EXPECT_LT(PolylineLength(e, two), joined / 10);
  EXPECT_EQ(PolylineLength(e, {}), 0.0);
  EXPECT_EQ(PolylineLength(e, std::vector<DirectionCosines>{kMark, kMark}), 0.0);
  EXPECT_EQ(PolylineLength(e, std::vector<DirectionCosines>{{1, 0, 0}, {-1, 0, 0}}), NOVALUE);
  EXPECT_LT(GeodesicPolylineLength(e, two),
            GeodesicPolylineLength(
                e, std::vector<DirectionCosines>{{1, 0, 0}, Normalised({1, 0.51, 0})}) /
                10);
  EXPECT_EQ(GeodesicPolylineLength(e, {}), 0.0);
  EXPECT_EQ(GeodesicPolylineLength(Ellipsoid{}, two), NOVALUE);
}
