// Projection names, the edge cases of each mapping, forward-inverse round
// trips over each map's visible region, the wwmerc table against the exact
// Mercator ordinate, and wwview against its closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "lib/display/projections.h"

namespace display {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDeg = kPi / 180.0;

DirectionCosines LatLon(double lat_deg, double lon_deg) {
  const double f = lat_deg * kDeg, l = lon_deg * kDeg;
  return {std::cos(f) * std::cos(l), std::cos(f) * std::sin(l), std::sin(f)};
}

ProjectionParams MakeParams(uint32_t code, const DirectionCosines& c) {
  ProjectionParams p;
  EXPECT_EQ(SetUpProjection(code, c, nullptr, &p), 0) << ProjectionName(code);
  return p;
}

TEST(ProjectionNames, RecognitionFollowsTheTable) {
  EXPECT_EQ(RecogniseProjection("stereo"), 1);
  EXPECT_EQ(RecogniseProjection("stereographic"), 1);  // a longer word selects its prefix
  EXPECT_EQ(RecogniseProjection("ortho"), 2);
  EXPECT_EQ(RecogniseProjection("orthographic"), 2);
  EXPECT_EQ(RecogniseProjection("wwmerc"), 3);
  EXPECT_EQ(RecogniseProjection("gnomonic"), 4);
  EXPECT_EQ(RecogniseProjection("conical"), 5);
  EXPECT_EQ(RecogniseProjection("mercator"), 6);
  EXPECT_EQ(RecogniseProjection("wwview"), 11);
  EXPECT_EQ(RecogniseProjection("eqdistcyl"), 12);
  EXPECT_EQ(RecogniseProjection("wwpltcrr"), 13);
  // Never recognised: perspect, the tileset, capitals, prefixes of names.
  EXPECT_EQ(RecogniseProjection("perspect"), -1);
  EXPECT_EQ(RecogniseProjection("perspective"), -1);
  EXPECT_EQ(RecogniseProjection("tileset"), -1);
  EXPECT_EQ(RecogniseProjection("Stereo"), -1);
  EXPECT_EQ(RecogniseProjection("ster"), -1);
  EXPECT_EQ(RecogniseProjection(""), -1);
  EXPECT_EQ(RecogniseProjection("merc"), -1);
}

TEST(ProjectionNames, NamesOfCodes) {
  EXPECT_EQ(ProjectionName(1), "stereo");
  EXPECT_EQ(ProjectionName(10), "perspect");
  EXPECT_EQ(ProjectionName(0), "noprojection");
  EXPECT_EQ(ProjectionName(7), "");
  EXPECT_EQ(ProjectionName(19), "");
  EXPECT_EQ(ProjectionName(1000), "");
  for (uint32_t c = 0; c < 20; ++c) {
    EXPECT_EQ(IsWorldWide(c), c == 3 || c == 11 || c == 13) << c;
    EXPECT_EQ(IsFixedScale(c), c == 3 || c == 11 || c == 13 || c == 19) << c;
  }
}

// The tileset (19) has its mapping here but no set-up by centre alone: its
// block comes from SetUpTileset. A cleared block projects nothing.
TEST(ProjectionEdges, TilesetNeedsItsTable) {
  ProjectionParams p;
  double X, Y;
  DirectionCosines u;
  EXPECT_EQ(SetUpProjection(PROJ_TILESET, {1, 0, 0}, nullptr, &p), 3);
  p.tileset = TilesetParams{};
  EXPECT_EQ(ProjectForward(p, PROJ_TILESET, {1, 0, 0}, &X, &Y), 1);
  EXPECT_EQ(ProjectInverse(p, PROJ_TILESET, 0, 0, &u), 1);
}

TEST(ProjectionEdges, UnknownCodesReturnThree) {
  ProjectionParams p;
  double X, Y;
  DirectionCosines u;
  for (uint32_t code : {0u, 7u, 8u, 9u, 14u, 0xFFFFFFFFu}) {
    EXPECT_EQ(ProjectForward(p, code, {1, 0, 0}, &X, &Y), 3) << code;
    EXPECT_EQ(ProjectInverse(p, code, 0, 0, &u), 3) << code;
    EXPECT_EQ(SetUpProjection(code, {1, 0, 0}, nullptr, &p), 3) << code;
  }
}

TEST(ProjectionEdges, StereoAntipodeIsTheOnlyPointWithoutImage) {
  for (const DirectionCosines& c : {LatLon(40, 10), LatLon(90, 0), LatLon(-90, 0), LatLon(0, 180)}) {
    const ProjectionParams p = MakeParams(PROJ_STEREO, c);
    double X, Y;
    EXPECT_EQ(ProjectForward(p, PROJ_STEREO, {-c.x, -c.y, -c.z}, &X, &Y), 1);
    // One milliradian from the antipode still projects, far out.
    const double e = 1e-3;
    DirectionCosines near{-c.x + e * (c.z != 0 ? 1 : 0), -c.y + e * (c.z == 0 ? 1 : 0), -c.z};
    const double len = std::sqrt(geodesy::Dot(near, near));
    near = {near.x / len, near.y / len, near.z / len};
    ASSERT_EQ(ProjectForward(p, PROJ_STEREO, near, &X, &Y), 0);
    EXPECT_GT(std::hypot(X, Y), 1000.0);
    // The centre maps to the origin and back.
    ASSERT_EQ(ProjectForward(p, PROJ_STEREO, c, &X, &Y), 0);
    EXPECT_NEAR(X, 0.0, 1e-15);
    EXPECT_NEAR(Y, 0.0, 1e-15);
    DirectionCosines u;
    ASSERT_EQ(ProjectInverse(p, PROJ_STEREO, 0.0, 0.0, &u), 0);
    EXPECT_EQ(u.x, c.x);
    EXPECT_EQ(u.z, c.z);
    // A plane point too far for any direction but the antipode.
    EXPECT_EQ(ProjectInverse(p, PROJ_STEREO, 1e12, 1e12, &u), 1);
  }
}

TEST(ProjectionEdges, GnomonicRefusesTheFarHemisphere) {
  const DirectionCosines c = LatLon(30, 40);
  const ProjectionParams p = MakeParams(PROJ_GNOMONIC, c);
  double X, Y;
  EXPECT_EQ(ProjectForward(p, PROJ_GNOMONIC, LatLon(-60, 40), &X, &Y), 1);  // 90 degrees away
  EXPECT_EQ(ProjectForward(p, PROJ_GNOMONIC, LatLon(-30, -140), &X, &Y), 1);
  EXPECT_EQ(ProjectForward(p, PROJ_GNOMONIC, LatLon(-59, 40), &X, &Y), 0);
  EXPECT_NEAR(Y, -std::tan(89 * kDeg), 1e-9);
}

TEST(ProjectionEdges, OrthoHidesTheFarSideAndInvertsTheDiscOnly) {
  const DirectionCosines c = LatLon(52, 5);
  const ProjectionParams p = MakeParams(PROJ_ORTHO, c);
  double X, Y;
  EXPECT_EQ(ProjectForward(p, PROJ_ORTHO, LatLon(-52, -175), &X, &Y), -1);
  EXPECT_NEAR(X, 0.0, 1e-12);  // coordinates still filled: the antipode is behind the centre
  EXPECT_EQ(ProjectForward(p, PROJ_ORTHO, LatLon(0, 5), &X, &Y), 0);
  DirectionCosines u;
  EXPECT_EQ(ProjectInverse(p, PROJ_ORTHO, 0.8, 0.7, &u), 1);
  EXPECT_EQ(ProjectInverse(p, PROJ_ORTHO, 0.6, 0.7, &u), 0);
  EXPECT_GE(geodesy::Dot(u, c), 0.0);  // the near-side point
  // At the poles the up vector is replaced: the maps stay defined.
  for (double z : {1.0, -1.0}) {
    ProjectionParams q;
    ASSERT_EQ(SetUpProjection(PROJ_ORTHO, {0, 0, z}, nullptr, &q), 0);
    EXPECT_NEAR(std::fabs(q.ortho.east.y), 1.0, 1e-15);
  }
  // An up vector along the centre cannot give a frame.
  ProjectionParams q;
  const DirectionCosines up = c;
  EXPECT_EQ(SetUpOrtho(c, &up, &q.ortho), 2);
}

TEST(ProjectionEdges, ConicalRefusesTheEquatorAndThePole) {
  ProjectionParams p;
  EXPECT_EQ(SetUpConical(LatLon(3, 10), &p.conical), 1);
  EXPECT_EQ(SetUpConical(LatLon(-5.1, 10), &p.conical), 1);
  EXPECT_EQ(SetUpConical({0, 0, 1}, &p.conical), 2);
  EXPECT_EQ(SetUpConical(LatLon(5.2, 10), &p.conical), 0);
  // The far pole projects, onto an arc.
  ASSERT_EQ(SetUpConical(LatLon(45, 10), &p.conical), 0);
  double X, Y;
  EXPECT_EQ(ConicalForward(p.conical, {0, 0, -1}, &X, &Y), 0);
  EXPECT_EQ(ConicalForward(p.conical, {0, 0, 1}, &X, &Y), 0);
}

TEST(ProjectionEdges, CylindersRefusePolarCentresAndPoles) {
  ProjectionParams p;
  EXPECT_EQ(SetUpMercator(LatLon(89.5, 0), &p.mercator), 1);
  EXPECT_EQ(SetUpMercator(LatLon(-89.5, 0), &p.mercator), 1);
  EXPECT_EQ(SetUpMercator(LatLon(88.9, 0), &p.mercator), 0);
  EXPECT_EQ(SetUpEqDistCyl(LatLon(89.5, 0), &p.eqdistcyl), 1);
  ASSERT_EQ(SetUpMercator(LatLon(0, 0), &p.mercator), 0);
  EXPECT_EQ(p.mercator.k, 1.0);
  double X, Y;
  EXPECT_EQ(MercatorForward(p.mercator, {0, 0, 1}, &X, &Y), 1);
  EXPECT_EQ(Y, geodesy::BIG);
  EXPECT_EQ(MercatorForward(p.mercator, {0, 0, -1}, &X, &Y), 1);
  EXPECT_EQ(Y, -geodesy::BIG);
  DirectionCosines u;
  EXPECT_EQ(MercatorInverse(p.mercator, 0.0, 40.0, &u), 1);
  EXPECT_EQ(MercatorInverse(p.mercator, 0.0, 1e300, &u), 1);
  ASSERT_EQ(SetUpEqDistCyl(LatLon(60, 0), &p.eqdistcyl), 0);
  EXPECT_EQ(EqDistCylForward(p.eqdistcyl, {0, 0, 1}, &X, &Y), 1);
  // Beyond a pole the latitude would fold back onto the globe: no point.
  EXPECT_EQ(EqDistCylInverse(p.eqdistcyl, 0.0, 120 * kDeg, &u), 1);
  EXPECT_EQ(EqDistCylInverse(p.eqdistcyl, 0.0, -170 * kDeg, &u), 1);
  EXPECT_EQ(EqDistCylInverse(p.eqdistcyl, 0.0, 29 * kDeg, &u), 0);
}

TEST(ProjectionEdges, WorldSetUpUsesOnlyTheLongitude) {
  ProjectionParams p;
  ASSERT_EQ(SetUpWorld(nullptr, &p.world), 0);
  EXPECT_EQ(p.world.lon0, 0.0);
  EXPECT_EQ(p.world.m.x, 1.0);
  ASSERT_EQ(SetUpWorld(std::data({LatLon(70, 120)}), &p.world), 0);
  EXPECT_NEAR(p.world.lon0, 120 * kDeg, 1e-15);
  EXPECT_NEAR(p.world.m.z, 0.0, 0.0);
  EXPECT_NEAR(p.world.opposite.x, -p.world.m.x, 0.0);
  const DirectionCosines pole{0, 0, 1};
  ASSERT_EQ(SetUpWorld(&pole, &p.world), 0);
  EXPECT_EQ(p.world.lon0, 0.0);
  // Points on the central meridian are at X = 0; the back meridian at +-pi.
  ASSERT_EQ(SetUpWorld(std::data({LatLon(0, 120)}), &p.world), 0);
  double X, Y;
  ASSERT_EQ(WwPltCrrForward(p.world, LatLon(10, 120), &X, &Y), 0);
  EXPECT_NEAR(X, 0.0, 1e-15);
  EXPECT_NEAR(Y, 10 * kDeg, 1e-15);
  ASSERT_EQ(WwPltCrrForward(p.world, LatLon(10, -61), &X, &Y), 0);
  EXPECT_NEAR(X, 179 * kDeg, 1e-14);
  DirectionCosines u;
  EXPECT_EQ(WwPltCrrInverse(p.world, 0.0, 1.6, &u), 1);
  EXPECT_EQ(WwPltCrrInverse(p.world, 0.0, kPi / 2, &u), 0);
}

TEST(ProjectionEdges, WwMercIsOffTheMapFromZ09975) {
  ProjectionParams p;
  ASSERT_EQ(SetUpWorld(nullptr, &p.world), 0);
  double X, Y;
  for (double z : {0.9975, 0.998, 0.99999, 1.0}) {
    const double h = std::sqrt(1 - z * z);
    EXPECT_EQ(WwMercForward(p.world, {h, 0, z}, &X, &Y), 1) << z;
    EXPECT_EQ(Y, geodesy::HUGE_VALUE);
    EXPECT_EQ(X, 0.0);
    EXPECT_EQ(WwMercForward(p.world, {h, 0, -z}, &X, &Y), 1) << -z;
  }
  const double z = 0.9974, h = std::sqrt(1 - z * z);
  EXPECT_EQ(WwMercForward(p.world, {h, 0, z}, &X, &Y), 0);
  EXPECT_GT(Y, 3.0);
  EXPECT_EQ(WwMercForward(p.world, {h, 0, -z}, &X, &Y), 0);
  EXPECT_LT(Y, -3.0);
  EXPECT_EQ(WWMERC_TABLE[75], 32766);
  EXPECT_EQ(WWMERC_TABLE[36], static_cast<int>(std::lround(10000 * std::atanh(0.9))));
}

// The table ordinate against atanh(z), by bands of |z|: linear interpolation
// over steps of 0.025 and then 0.0025 loses most where atanh curves most,
// and the last step, held at 32766 instead of 33417, runs below the exact
// value by up to 0.065.
TEST(ProjectionAccuracy, WwMercAgainstTheExactOrdinate) {
  ProjectionParams p;
  ASSERT_EQ(SetUpWorld(nullptr, &p.world), 0);
  const double band_top[4] = {0.9, 0.99, 0.995, 0.9975};
  const double bound[4] = {0.005, 0.004, 0.011, 0.066};
  double worst[4] = {0, 0, 0, 0};
  for (int i = 0; i <= 997400; ++i) {
    const double z = i * 1e-6;
    const double h = std::sqrt(1 - z * z);
    double X, Y;
    ASSERT_EQ(WwMercForward(p.world, {h, 0, z}, &X, &Y), 0) << z;
    int band = 0;
    while (z >= band_top[band]) ++band;
    worst[band] = std::fmax(worst[band], std::fabs(Y - std::atanh(z)));
  }
  for (int b = 0; b < 4; ++b) {
    std::printf("wwmerc: largest difference from atanh(z) below |z| %.4g: %.3g\n", band_top[b],
                worst[b]);
    EXPECT_LT(worst[b], bound[b]) << band_top[b];
  }
}

TEST(ProjectionAccuracy, WwViewFollowsItsClosedForm) {
  ProjectionParams p;
  ASSERT_EQ(SetUpWorld(nullptr, &p.world), 0);
  const double K = 0.7373573681590264;
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> lat(-kPi / 2, kPi / 2), lon(-kPi, kPi);
  for (int i = 0; i < 20000; ++i) {
    const double f = lat(rng), l = lon(rng);
    const DirectionCosines u{std::cos(f) * std::cos(l), std::cos(f) * std::sin(l), std::sin(f)};
    double X, Y;
    ASSERT_EQ(WwViewForward(p.world, u, &X, &Y), 0);
    EXPECT_NEAR(Y, (1 + K) * std::sin(f) / (std::cos(f) + K), 1e-14);
    EXPECT_NEAR(X, l, 1e-15);
  }
  double X, Y;
  ASSERT_EQ(WwViewForward(p.world, {0, 0, 1}, &X, &Y), 0);
  EXPECT_NEAR(Y, 3 * kPi / 4, 1e-15);
  EXPECT_NEAR(2 * Y, WWVIEW_HEIGHT, 1e-15);
  DirectionCosines u;
  EXPECT_EQ(WwViewInverse(p.world, 0.0, 3 * kPi / 4 + 0.01, &u), 1);
  EXPECT_EQ(WwViewInverse(p.world, 0.0, 3 * kPi / 4 - 1e-9, &u), 0);
}

struct RoundTrip {
  uint32_t code;
  double max_angle_deg;  // region about the centre
  double max_lat_deg;    // latitude limit
};

// Forward then inverse returns every visible point, to 1e-12 in chord.
TEST(ProjectionAccuracy, ForwardThenInverseReturnsThePoint) {
  const std::vector<RoundTrip> cases = {
      {PROJ_STEREO, 150, 90},  {PROJ_GNOMONIC, 80, 90},   {PROJ_ORTHO, 89.9, 90},
      {PROJ_CONICAL, 90, 89.99}, {PROJ_MERCATOR, 180, 85}, {PROJ_EQDISTCYL, 180, 89.99},
      {PROJ_WWVIEW, 180, 90},  {PROJ_WWPLTCRR, 180, 89.99}};
  const std::vector<DirectionCosines> centres = {LatLon(48, 11), LatLon(-35, -58),
                                                 LatLon(10, 179), LatLon(-70, 0),
                                                 LatLon(88, 30)};
  std::mt19937_64 rng(11);
  std::normal_distribution<double> g;
  for (const RoundTrip& rt : cases) {
    double worst = 0.0;
    for (const DirectionCosines& c : centres) {
      ProjectionParams p;
      if (SetUpProjection(rt.code, c, nullptr, &p) != 0) continue;
      int done = 0;
      while (done < 20000) {
        DirectionCosines u{g(rng), g(rng), g(rng)};
        const double len = std::sqrt(geodesy::Dot(u, u));
        u = {u.x / len, u.y / len, u.z / len};
        if (geodesy::Dot(u, c) < std::cos(rt.max_angle_deg * kDeg)) continue;
        if (std::fabs(u.z) > std::sin(rt.max_lat_deg * kDeg)) continue;
        ++done;
        double X, Y;
        ASSERT_EQ(ProjectForward(p, rt.code, u, &X, &Y), 0) << ProjectionName(rt.code);
        DirectionCosines v;
        ASSERT_EQ(ProjectInverse(p, rt.code, X, Y, &v), 0) << ProjectionName(rt.code);
        const double d = std::sqrt(geodesy::ChordSq(u, v));
        worst = std::fmax(worst, d);
        ASSERT_LE(d, 1e-12) << ProjectionName(rt.code) << " at " << u.x << "," << u.y << ","
                            << u.z;
        ASSERT_NEAR(geodesy::Dot(v, v), 1.0, 4e-15);
      }
    }
    std::printf("%-10s round trip: largest chord %.3g\n",
                std::string(ProjectionName(rt.code)).c_str(), worst);
  }
}

TEST(ProjectionEdges, PerspectSeesTheNearCapAndHasNoInverse) {
  const DirectionCosines c = LatLon(20, 30);
  const ProjectionParams p = MakeParams(PROJ_PERSPECT, c);
  double X, Y;
  EXPECT_EQ(ProjectForward(p, PROJ_PERSPECT, c, &X, &Y), 0);
  EXPECT_NEAR(std::hypot(X, Y), 0.0, 1e-15);
  // The horizon is at acos(1 / distance) from the centre.
  const double horizon = std::acos(1.0 / PERSPECT_DISTANCE) / kDeg;
  EXPECT_EQ(ProjectForward(p, PROJ_PERSPECT, LatLon(20 + horizon - 0.5, 30), &X, &Y), 0);
  EXPECT_EQ(ProjectForward(p, PROJ_PERSPECT, LatLon(20 + horizon + 0.5, 30), &X, &Y), -1);
  DirectionCosines u;
  EXPECT_EQ(ProjectInverse(p, PROJ_PERSPECT, 0.0, 0.0, &u), 1);
  PerspectParams q;
  EXPECT_EQ(SetUpPerspect(c, nullptr, 1.0, &q), 1);  // the eye on the surface
}

TEST(ProjectionEdges, InversesSurviveNonFiniteInput) {
  const DirectionCosines c = LatLon(45, 45);
  for (uint32_t code : {1u, 2u, 3u, 4u, 5u, 6u, 11u, 12u, 13u}) {
    const ProjectionParams p = MakeParams(code, c);
    DirectionCosines u;
    for (double v : {double(INFINITY), -double(INFINITY), 1e308}) {
      const int s = ProjectInverse(p, code, v, v, &u);
      if (s == 0) {
        EXPECT_TRUE(std::isfinite(u.x) && std::isfinite(u.y) && std::isfinite(u.z))
            << ProjectionName(code) << " " << v;
      }
    }
  }
}

}  // namespace
}  // namespace display
