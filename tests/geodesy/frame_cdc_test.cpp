// Tangent frames (orthonormality, projection failure, lift) and the compact
// direction-cosine code (bit layout per dominant axis, ties, poles, and a
// million random round trips).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "lib/geodesy/cdc.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/geodesy/tangent_frame.h"
#include "tests/geodesy/oracle_support.h"

using namespace geodesy;

namespace {

constexpr double kTol = 4.0 / CDC_SCALE;

void ExpectRoundTrip(const DirectionCosines& u) {
  const DirectionCosines d = DecodeCdc(EncodeCdc(u));
  EXPECT_LE(std::fabs(d.x - u.x), kTol) << u.x << " " << u.y << " " << u.z;
  EXPECT_LE(std::fabs(d.y - u.y), kTol) << u.x << " " << u.y << " " << u.z;
  EXPECT_LE(std::fabs(d.z - u.z), kTol) << u.x << " " << u.y << " " << u.z;
}

DirectionCosines Unit(double x, double y, double z) { return Normalised({x, y, z}); }

}  // namespace

// ---- tangent frames ----

TEST(TangentFrame, IsRightHandedAndOrthonormal) {
  std::mt19937_64 rng(5);
  for (int i = 0; i < 1000; ++i) {
    const DirectionCosines c = geodesy_test::RandomUnit(rng);
    const TangentFrame f = BuildTangentFrame(c);
    const DirectionCosines east{f.ex, f.ey, 0.0}, north{f.nx, f.ny, f.nz};
    EXPECT_NEAR(Dot(east, east), 1.0, 1e-15);
    EXPECT_NEAR(Dot(north, north), 1.0, 1e-15);
    EXPECT_NEAR(Dot(east, north), 0.0, 1e-15);
    EXPECT_NEAR(Dot(east, c), 0.0, 1e-15);
    const DirectionCosines up = Cross(east, north);
    EXPECT_LT(ChordSq(up, c), 1e-28);
    EXPECT_GE(f.nz, 0.0);  // north points towards the north pole
  }
}

TEST(TangentFrame, PolesUseTheFixedAxes) {
  const TangentFrame n = BuildTangentFrame({0, 0, 1});
  EXPECT_EQ(n.ex, 0.0);
  EXPECT_EQ(n.ey, 1.0);
  EXPECT_EQ(n.nx, -1.0);
  EXPECT_EQ(n.nz, 0.0);
  const TangentFrame s = BuildTangentFrame({1e-12, 0, -1});
  EXPECT_EQ(s.ey, 1.0);
  EXPECT_EQ(s.nx, 1.0);
  // Projection and lift still invert each other there.
  const DirectionCosines p = Unit(0.1, -0.2, -1.0);
  double u = 0, v = 0;
  ASSERT_EQ(ProjectToFrame(s, p, u, v), 0);
  // c is 1e-12 off the axis, which the pole frame ignores: agreement to ~1e-12.
  EXPECT_LT(ChordSq(LiftFromFrame(s, u, v), p), 1e-22);
}

TEST(TangentFrame, ProjectionIsGnomonicAndLiftInvertsIt) {
  const DirectionCosines c = Unit(0.3, -0.5, 0.8);
  const TangentFrame f = BuildTangentFrame(c);
  std::mt19937_64 rng(6);
  int projected = 0;
  for (int i = 0; i < 2000; ++i) {
    const DirectionCosines p = geodesy_test::RandomUnit(rng);
    double u = 7.0, v = 7.0;
    const int status = ProjectToFrame(f, p, u, v);
    if (Dot(c, p) < SAME_POINT_SQ) {
      EXPECT_EQ(status, 1);
      EXPECT_EQ(u, 7.0);  // no output on failure
      continue;
    }
    ASSERT_EQ(status, 0);
    ++projected;
    // The plane distance is the tangent of the angle from the centre.
    const double angle = std::acos(std::min(1.0, Dot(c, p)));
    EXPECT_NEAR(std::hypot(u, v), std::tan(angle), 1e-9 * (1 + std::tan(angle) * std::tan(angle)));
    EXPECT_LT(ChordSq(LiftFromFrame(f, u, v), p), 1e-24);
  }
  EXPECT_GT(projected, 800);
}

TEST(TangentFrame, NinetyDegreesAwayFailsAndOriginLiftsToCentre) {
  const DirectionCosines c{1, 0, 0};
  const TangentFrame f = BuildTangentFrame(c);
  double u = 0, v = 0;
  EXPECT_EQ(ProjectToFrame(f, {0, 1, 0}, u, v), 1);
  EXPECT_EQ(ProjectToFrame(f, {-1, 0, 0}, u, v), 1);
  EXPECT_EQ(ProjectToFrame(f, Unit(1e-15, 1, 0), u, v), 1);
  ASSERT_EQ(ProjectToFrame(f, Unit(1, 1, 0), u, v), 0);
  EXPECT_NEAR(u, 1.0, 1e-15);  // 45 degrees east
  EXPECT_NEAR(v, 0.0, 1e-15);
  const DirectionCosines back = LiftFromFrame(f, 0.0, 0.0);
  EXPECT_EQ(back.x, 1.0);
  const DirectionCosines north = LiftFromFrame(f, 0.0, 1.0);
  EXPECT_NEAR(north.z, std::sqrt(0.5), 1e-15);
}

// ---- CDC ----

TEST(Cdc, XDominantPositive) {
  const DirectionCosines u = Unit(0.9, 0.3, -0.2);
  const CDC c = EncodeCdc(u);
  EXPECT_EQ(c.w1 & 0xC0000000u, 0u);
  EXPECT_EQ(c.w0 & 0x40000000u, 0u);
  ExpectRoundTrip(u);
}

TEST(Cdc, XDominantNegative) {
  const DirectionCosines u = Unit(-0.9, 0.3, 0.2);
  const CDC c = EncodeCdc(u);
  EXPECT_EQ(c.w1 & 0xC0000000u, 0u);
  EXPECT_EQ(c.w0 & 0x40000000u, 0x40000000u);
  ExpectRoundTrip(u);
}

TEST(Cdc, YDominantPositive) {
  const DirectionCosines u = Unit(-0.3, 0.9, 0.2);
  const CDC c = EncodeCdc(u);
  EXPECT_EQ(c.w1 & 0xC0000000u, 0x40000000u);
  EXPECT_EQ(c.w0 & 0x40000000u, 0u);
  ExpectRoundTrip(u);
}

TEST(Cdc, YDominantNegative) {
  const DirectionCosines u = Unit(0.3, -0.9, -0.2);
  const CDC c = EncodeCdc(u);
  EXPECT_EQ(c.w1 & 0xC0000000u, 0x40000000u);
  EXPECT_EQ(c.w0 & 0x40000000u, 0x40000000u);
  ExpectRoundTrip(u);
}

TEST(Cdc, ZDominantPositive) {
  const DirectionCosines u = Unit(0.3, -0.2, 0.9);
  const CDC c = EncodeCdc(u);
  EXPECT_EQ(c.w1 & 0xC0000000u, 0x80000000u);
  EXPECT_EQ(c.w0 & 0x40000000u, 0u);
  ExpectRoundTrip(u);
}

TEST(Cdc, ZDominantNegative) {
  const DirectionCosines u = Unit(-0.3, 0.2, -0.9);
  const CDC c = EncodeCdc(u);
  EXPECT_EQ(c.w1 & 0xC0000000u, 0x80000000u);
  EXPECT_EQ(c.w0 & 0x40000000u, 0x40000000u);
  ExpectRoundTrip(u);
}

TEST(Cdc, StoredFieldsAreThirtyBitTwosComplement) {
  // x dominant and positive: w0 holds y, w1 holds z.
  const CDC c = EncodeCdc(Unit(1.0, 0.0, -1e-3));
  EXPECT_EQ(c.w0, 0u);
  const int32_t z = static_cast<int32_t>(c.w1 << 2);
  EXPECT_NEAR(z / CDC_SCALE, -1e-3, 4 / CDC_SCALE);
  EXPECT_EQ(c.w1 & 0x20000000u, 0x20000000u);  // the 30-bit sign bit
}

TEST(Cdc, DiagonalsFallToTheLaterCase) {
  const double h = std::sqrt(0.5), t = 1.0 / std::sqrt(3.0);
  // |x| = |y| > |z|: y dominates.
  for (double sx : {1.0, -1.0}) {
    for (double sy : {1.0, -1.0}) {
      const DirectionCosines u{sx * h, sy * h, 0.0};
      const CDC c = EncodeCdc(u);
      EXPECT_EQ(c.w1 & 0xC0000000u, 0x40000000u);
      EXPECT_EQ((c.w0 & 0x40000000u) != 0, sy < 0);
      ExpectRoundTrip(u);
    }
  }
  // |y| = |z| and |x| = |z|: z dominates.
  for (const DirectionCosines& u : {DirectionCosines{0.0, h, h}, DirectionCosines{h, 0.0, -h},
                                    DirectionCosines{t, t, t}, DirectionCosines{-t, -t, -t}}) {
    const CDC c = EncodeCdc(u);
    EXPECT_EQ(c.w1 & 0xC0000000u, 0x80000000u);
    EXPECT_EQ((c.w0 & 0x40000000u) != 0, u.z < 0);
    ExpectRoundTrip(u);
  }
}

TEST(Cdc, PolesAndAxes) {
  for (const DirectionCosines& u :
       {DirectionCosines{0, 0, 1}, DirectionCosines{0, 0, -1}, DirectionCosines{1, 0, 0},
        DirectionCosines{-1, 0, 0}, DirectionCosines{0, 1, 0}, DirectionCosines{0, -1, 0}}) {
    ExpectRoundTrip(u);
  }
  EXPECT_EQ(EncodeCdc({0, 0, 1}).w1 & 0x80000000u, 0x80000000u);
  EXPECT_EQ(EncodeCdc({0, 0, -1}).w0 & 0x40000000u, 0x40000000u);
}

TEST(Cdc, OddInputNeverFailsAndAnyCodeDecodes) {
  const CDC bad = EncodeCdc({NOVALUE, 0.0, 0.0});
  (void)bad;
  const CDC nan = EncodeCdc({NAN, NAN, NAN});
  const DirectionCosines d = DecodeCdc(nan);
  EXPECT_TRUE(std::isfinite(d.x) && std::isfinite(d.y) && std::isfinite(d.z));
  const DirectionCosines any = DecodeCdc({0x3FFFFFFFu, 0xDFFFFFFFu});
  EXPECT_TRUE(std::isfinite(any.x) && std::isfinite(any.z));
  const DirectionCosines big = DecodeCdc({0x1FFFFFFEu, 0x1FFFFFFEu});  // s = t = 1
  EXPECT_EQ(big.x, 0.0);  // no square root of a negative number
}

TEST(Cdc, MillionRandomVectorsRoundTrip) {
  std::mt19937_64 rng(31);
  double worst = 0.0, worst_stored = 0.0;
  const int n = geodesy_test::Scaled(1000000);
  for (int i = 0; i < n; ++i) {
    const DirectionCosines u = geodesy_test::RandomUnit(rng);
    const DirectionCosines d = DecodeCdc(EncodeCdc(u));
    const double ex = std::fabs(d.x - u.x), ey = std::fabs(d.y - u.y), ez = std::fabs(d.z - u.z);
    const double err = std::max({ex, ey, ez});
    worst = std::max(worst, err);
    ASSERT_LE(err, kTol) << u.x << " " << u.y << " " << u.z;
    // The two stored (smaller) components are within half of that.
    const double ax = std::fabs(u.x), ay = std::fabs(u.y), az = std::fabs(u.z);
    const double stored = ax >= ay && ax >= az ? std::max(ey, ez)
                          : ay >= az           ? std::max(ex, ez)
                                               : std::max(ex, ey);
    worst_stored = std::max(worst_stored, stored);
    ASSERT_LE(stored, 2.0 / CDC_SCALE) << u.x << " " << u.y << " " << u.z;
  }
  std::printf("CDC: worst change %.3f / CDC_SCALE (stored components %.3f) over %d vectors\n",
              worst * CDC_SCALE, worst_stored * CDC_SCALE, n);
}
