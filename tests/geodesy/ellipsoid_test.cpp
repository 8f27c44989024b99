// Ellipsoid set-up, the table, and the conversions at their edges: poles,
// the sphere, the invalid marker.
#include "lib/geodesy/ellipsoid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "lib/geodesy/release.h"

using namespace geodesy;

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180.0;
}  // namespace

TEST(EllipsoidTable, NamesAndAxesOfChosenEntries) {
  char name[ELLIPSOID_NAME_MAX + 1];
  Ellipsoid e;
  ASSERT_EQ(EllipsoidSetup(34, e, name), 0);
  EXPECT_STREQ(name, "World Geodetic System 1984");
  EXPECT_EQ(e.a, 6378137.0);
  EXPECT_EQ(e.b, 6356752.3141);
  ASSERT_EQ(EllipsoidSetup(1, e, name), 0);
  EXPECT_STREQ(name, "Bouguer/Maupertius, 1738");
  ASSERT_EQ(EllipsoidSetup(7, e, name), 0);
  EXPECT_STREQ(name, "Bessel, 1841/Helmert, 1886");
  EXPECT_EQ(e.b, 6356078.96325);
  ASSERT_EQ(EllipsoidSetup(13, e, name), 0);
  EXPECT_STREQ(name, "Bonsdorf, 1888 (uncertain!)");
  ASSERT_EQ(EllipsoidSetup(30, e, name), 0);
  EXPECT_STREQ(name, "Fischer/NASA (Mrcy mod), 1968");
  EXPECT_EQ(std::strlen(name), 29u);
}

TEST(EllipsoidTable, EveryEntryIsOblateAndNamedWithinThirtyCharacters) {
  for (int i = 1; i <= ELLIPSOID_COUNT; ++i) {
    const EllipsoidEntry* entry = FindEllipsoidEntry(i);
    ASSERT_NE(entry, nullptr) << i;
    EXPECT_LE(std::strlen(entry->name), static_cast<std::size_t>(ELLIPSOID_NAME_MAX)) << i;
    EXPECT_GT(entry->a, entry->b) << i;
    Ellipsoid e;
    ASSERT_EQ(EllipsoidSetup(i, e), 0);
    EXPECT_GT(e.half_area, 2.5e14) << i;
    EXPECT_LT(e.half_area, 2.6e14) << i;
  }
  EXPECT_EQ(FindEllipsoidEntry(0), nullptr);
  EXPECT_EQ(FindEllipsoidEntry(35), nullptr);
}

TEST(EllipsoidSetup, RefusedNumbersLeaveRecordAndNameAlone) {
  Ellipsoid e = MakeEllipsoid(7);
  const Ellipsoid before = e;
  char name[ELLIPSOID_NAME_MAX + 1] = "unchanged";
  EXPECT_EQ(EllipsoidSetup(35, e, name), 1);
  EXPECT_EQ(EllipsoidSetup(-1, e, name), 1);
  EXPECT_EQ(std::memcmp(&e, &before, sizeof e), 0);
  EXPECT_STREQ(name, "unchanged");
}

TEST(EllipsoidSetup, UserAxesNeedPositiveFiniteValues) {
  Ellipsoid e;
  e.a = 0.0;
  e.b = 6356752.0;
  EXPECT_EQ(EllipsoidSetup(0, e), 1);
  e.a = -5.0;
  EXPECT_EQ(EllipsoidSetup(0, e), 1);
  e.a = NAN;
  EXPECT_EQ(EllipsoidSetup(0, e), 1);
  e.a = 6378137.0;
  char name[ELLIPSOID_NAME_MAX + 1] = "kept";
  EXPECT_EQ(EllipsoidSetup(0, e, name), 0);
  EXPECT_STREQ(name, "kept");  // a user ellipsoid has no table name
  EXPECT_DOUBLE_EQ(e.a2mb2, e.a2 - e.b2);
}

TEST(EllipsoidSetup, DerivedFieldsOfEntry34) {
  const Ellipsoid e = MakeEllipsoid(34);
  EXPECT_DOUBLE_EQ(e.a2, 6378137.0 * 6378137.0);
  EXPECT_DOUBLE_EQ(e.a2ob2, e.a2 / e.b2);
  EXPECT_NEAR(e.quarter_meridian, 10001965.729, 1e-3);
  EXPECT_NEAR(2 * e.half_area / 1e6, 510065621.7, 0.05);
}

TEST(EllipsoidSphere, EqualAxesGiveSphericalValues) {
  const double r = 6371000.0;
  const Ellipsoid e = MakeUserEllipsoid(r, r);
  EXPECT_EQ(e.a2mb2, 0.0);
  EXPECT_DOUBLE_EQ(e.half_area, 2 * kPi * r * r);
  EXPECT_DOUBLE_EQ(e.quarter_meridian, kPi * r / 2);
  EXPECT_NEAR(MeridianArc(e, std::cos(0.3), std::sin(0.3)), 0.3 * r, 1e-6);
  for (double lat : {-1.2, -0.4, 0.0, 0.7, 1.5}) {
    const DirectionCosines u = GeodeticToCosines({lat, 0.9}, e);
    EXPECT_NEAR(CosinesToGeocentric(u).lat, lat, 1e-15);
    EXPECT_NEAR(CosinesToGeodetic(u, e).lat, lat, 1e-15);
  }
}

TEST(EllipsoidSetup, StronglyFlattenedUserEllipsoidUsesClosedFormArea) {
  // e2 = 0.75: the series would stop after 16 terms far from its sum.
  const double a = 2.0, b = 1.0;
  const Ellipsoid e = MakeUserEllipsoid(a, b);
  const double ecc = std::sqrt(0.75);
  const double exact = kPi * a * a + kPi * b * b * std::atanh(ecc) / ecc;
  EXPECT_NEAR(e.half_area, exact, 1e-13 * exact);
  // Prolate: b > a.
  const Ellipsoid p = MakeUserEllipsoid(1.0, 3.0);
  const double ep = std::sqrt(8.0);  // |e2| = 8
  const double prolate = kPi * 1.0 + kPi * 9.0 * std::atan(ep) / ep;
  EXPECT_NEAR(p.half_area, prolate, 1e-13 * prolate);
}

TEST(Conversions, PolesConvertBothWays) {
  const Ellipsoid e = MakeEllipsoid(34);
  for (double lon : {0.0, 1.0, -2.5, kPi}) {
    const DirectionCosines n = GeodeticToCosines({kPi / 2, lon}, e);
    EXPECT_NEAR(n.x, 0.0, 1e-15);
    EXPECT_NEAR(n.y, 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(n.z, 1.0);
    const DirectionCosines s = GeodeticToCosines({-kPi / 2, lon}, e);
    EXPECT_DOUBLE_EQ(s.z, -1.0);
  }
  LatLong ll = CosinesToGeodetic({0, 0, 1}, e);
  EXPECT_EQ(ll.lat, kPi / 2);
  EXPECT_EQ(ll.lon, 0.0);
  ll = CosinesToGeodetic({0, 0, -1}, e);
  EXPECT_EQ(ll.lat, -kPi / 2);
  EXPECT_EQ(ll.lon, 0.0);
  // Just inside the pole rule: still the pole.
  ll = CosinesToGeodetic({1e-7, 1e-7, 1.0}, e);
  EXPECT_EQ(ll.lat, kPi / 2);
  EXPECT_EQ(ll.lon, 0.0);
  ll = CosinesToGeocentric({1e-12, 1e-12, -1.0});
  EXPECT_EQ(ll.lon, 0.0);
  EXPECT_NEAR(ll.lat, -kPi / 2, 1e-11);
}

TEST(Conversions, GeocentricLatitudeAt45IsAbout0point1924DegreesSmaller) {
  const Ellipsoid e = MakeEllipsoid(34);
  const DirectionCosines u = GeodeticToCosines({45 * kDeg, 10 * kDeg}, e);
  const LatLong gc = CosinesToGeocentric(u);
  EXPECT_NEAR((45 * kDeg - gc.lat) / kDeg, 0.1924, 5e-5);
  EXPECT_NEAR(gc.lon, 10 * kDeg, 1e-15);
  const LatLong back = CosinesToGeodetic(u, e);
  EXPECT_NEAR(back.lat, 45 * kDeg, 4e-16);
  EXPECT_NEAR(back.lon, 10 * kDeg, 4e-16);
}

TEST(Conversions, GeocentricRoundTripAndTheEquator) {
  const DirectionCosines u = GeocentricToCosines({0.0, -kPi / 2});
  EXPECT_NEAR(u.x, 0.0, 1e-16);
  EXPECT_DOUBLE_EQ(u.y, -1.0);
  EXPECT_EQ(u.z, 0.0);
  const LatLong ll = CosinesToGeocentric(GeocentricToCosines({-0.8, 2.9}));
  EXPECT_NEAR(ll.lat, -0.8, 1e-15);
  EXPECT_NEAR(ll.lon, 2.9, 1e-15);
}

TEST(SurfaceNormal, IsTheGeodeticDirectionAndInvertsExactly) {
  const Ellipsoid e = MakeEllipsoid(34);
  const double lat = 0.61, lon = -1.3;
  const DirectionCosines u = GeodeticToCosines({lat, lon}, e);
  const DirectionCosines n = SurfaceNormal(u, e);
  EXPECT_NEAR(n.x, std::cos(lat) * std::cos(lon), 1e-15);
  EXPECT_NEAR(n.y, std::cos(lat) * std::sin(lon), 1e-15);
  EXPECT_NEAR(n.z, std::sin(lat), 1e-15);
  const DirectionCosines back = DirectionFromNormal(n, e);
  EXPECT_LT(ChordSq(back, u), 1e-30);
  // Poles and the equator are fixed points.
  const DirectionCosines pole{0, 0, -1};
  EXPECT_EQ(SurfaceNormal(pole, e).z, -1.0);
  EXPECT_EQ(DirectionFromNormal(pole, e).z, -1.0);
  const DirectionCosines eq = SurfaceNormal({0.6, 0.8, 0.0}, e);
  EXPECT_DOUBLE_EQ(eq.x, 0.6);
  EXPECT_DOUBLE_EQ(eq.y, 0.8);
}

TEST(Normalise, ShortVectorsGetTheInvalidMarker) {
  DirectionCosines v{3.0, 0.0, 4.0};
  Normalise(v);
  EXPECT_DOUBLE_EQ(v.x, 0.6);
  EXPECT_DOUBLE_EQ(v.z, 0.8);
  EXPECT_TRUE(IsValid(v));
  DirectionCosines tiny{1e-11, 1e-11, 0.0};  // length 1.414e-11
  Normalise(tiny);
  EXPECT_FALSE(IsValid(tiny));
  EXPECT_EQ(tiny.x, NOVALUE);
  EXPECT_EQ(tiny.y, 1e-11);  // y and z are left as they were
  DirectionCosines just{1.6e-11, 0.0, 0.0};
  Normalise(just);
  EXPECT_DOUBLE_EQ(just.x, 1.0);
  DirectionCosines zero{};
  Normalise(zero);
  EXPECT_FALSE(IsValid(zero));
  DirectionCosines nan{NAN, 0.0, 1.0};
  Normalise(nan);
  EXPECT_FALSE(IsValid(nan));
}

TEST(MeridianArc, SignSymmetryAndUnnormalisedInput) {
  const Ellipsoid e = MakeEllipsoid(34);
  const double m = MeridianArc(e, std::cos(0.5), std::sin(0.5));
  EXPECT_NEAR(MeridianArc(e, std::cos(0.5), -std::sin(0.5)), -m, 1e-9);
  EXPECT_NEAR(MeridianArc(e, 3 * std::cos(0.5), 3 * std::sin(0.5)), m, 1e-8);
  EXPECT_EQ(MeridianArc(e, 1.0, 0.0), 0.0);
  EXPECT_NEAR(MeridianArc(e, 1e-300, 1.0), e.quarter_meridian, 1e-7);
}

TEST(FuzzAngle, MetresOverTheMeanRadius) {
  const Ellipsoid e = MakeEllipsoid(34);
  EXPECT_DOUBLE_EQ(MeanRadius(e), (2 * 6378137.0 + 6356752.3141) / 3);
  EXPECT_NEAR(FuzzAngle(e, 0.1), 0.1 / 6371008.7714, 1e-18);
  EXPECT_NEAR(FuzzAngle(e, 0.1), DEFAULT_FUZZ, 1e-14);  // the library default is 0.1 m on 6371 km
  EXPECT_EQ(FuzzAngle(e, 0.0), 0.0);
}

TEST(SinCos, AgreesWithSeparateCalls) {
  double s, c;
  SinCos(0.3, s, c);
  EXPECT_EQ(s, std::sin(0.3));
  EXPECT_EQ(c, std::cos(0.3));
}

TEST(Release, NumberAndBuildStamp) {
  const ReleaseInfo r = QueryLibraryRelease();
  EXPECT_EQ(r.release, 360);
  ASSERT_NE(r.build_stamp, nullptr);
  // "Mmm dd yyyy hh:mm:ss": the date and the time joined by one blank.
  EXPECT_EQ(std::strlen(r.build_stamp), 20u);
  EXPECT_EQ(r.build_stamp[11], ' ');
  EXPECT_EQ(r.build_stamp[14], ':');
}
