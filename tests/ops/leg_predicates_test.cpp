// LegClassify and LegCross: the flags of each zone around a leg, and the
// laws of the crossing table (symmetry, sign, overlap direction) checked on
// hand cases and on random legs.
#include <gtest/gtest.h>

#include <random>

#include "lib/geodesy/constants.h"
#include "lib/ops/leg_predicates.h"

namespace {

using namespace ops;
constexpr double F = geodesy::DEFAULT_FUZZ;

TEST(LegClassify, ZonesAroundALeg) {
  const Leg l = MakeLeg({0, 0}, {1e-3, 0}, F);
  EXPECT_EQ(LegClassify(l, {0, 0}), LEG_AT_START);
  EXPECT_EQ(LegClassify(l, {1e-3, 1.5 * F}), LEG_AT_END);
  EXPECT_EQ(LegClassify(l, {5e-4, 0}), LEG_ON);
  EXPECT_EQ(LegClassify(l, {5e-4, 0.5 * F}), LEG_ON);  // within f of the leg
  EXPECT_EQ(LegClassify(l, {5e-4, 1e-5}), LEG_LEFT | LEG_BETWEEN);
  EXPECT_EQ(LegClassify(l, {5e-4, -1e-5}), LEG_RIGHT | LEG_BETWEEN);
  EXPECT_EQ(LegClassify(l, {-1e-5, 1e-5}), LEG_LEFT | LEG_BEFORE);
  EXPECT_EQ(LegClassify(l, {2e-3, -1e-5}), LEG_RIGHT | LEG_BEYOND);
  EXPECT_EQ(LegClassify(l, {-1e-5, 0}), LEG_ON_LINE | LEG_BEFORE);
  double along = 0, across = 0;
  LegClassify(l, {3e-4, 2e-4}, &along, &across);
  EXPECT_DOUBLE_EQ(along, 3e-4);
  EXPECT_DOUBLE_EQ(across, 2e-4);
}

TEST(LegClassify, DegenerateLegIsAPoint) {
  const Leg l = MakeLeg({1e-4, 1e-4}, {1e-4 + 1e-9, 1e-4}, F);
  EXPECT_TRUE(l.degenerate);
  EXPECT_EQ(LegClassify(l, {1e-4, 1e-4}), LEG_DEGENERATE | LEG_AT_START | LEG_AT_END);
  EXPECT_EQ(LegClassify(l, {2e-4, 1e-4}), LEG_DEGENERATE);
}

TEST(LegCross, ProperCrossingSignFollowsDirection) {
  const Leg a = MakeLeg({-1e-3, 0}, {1e-3, 0}, F);
  const Leg up = MakeLeg({0, -1e-3}, {0, 1e-3}, F);
  const Leg down = MakeLeg({0, 1e-3}, {0, -1e-3}, F);
  LegCrossing c = LegCross(a, up);
  EXPECT_EQ(c.result, 1);
  EXPECT_NEAR(c.point[0].u, 0, 1e-15);
  EXPECT_EQ(LegCross(a, down).result, -1);
  EXPECT_EQ(LegCross(up, a).result, -1);
}

TEST(LegCross, TouchOverlapAndMiss) {
  const Leg a = MakeLeg({0, 0}, {1e-3, 0}, F);
  // End to end at an angle: a touch.
  EXPECT_EQ(LegCross(a, MakeLeg({1e-3, 0}, {2e-3, 1e-3}, F)).result, CROSS_TOUCH);
  // End of b inside a: a crossing with b's contact at its start.
  LegCrossing t = LegCross(a, MakeLeg({5e-4, 0}, {5e-4, 1e-3}, F));
  EXPECT_EQ(t.result, 1);
  EXPECT_EQ(t.contact_a[0], CONTACT_INSIDE);
  EXPECT_EQ(t.contact_b[0], CONTACT_START);
  // Overlaps, same way and opposite.
  LegCrossing o = LegCross(a, MakeLeg({5e-4, 0}, {2e-3, 0}, F));
  EXPECT_EQ(o.result, 2);
  EXPECT_EQ(o.count, 2);
  EXPECT_NEAR(o.point[0].u, 5e-4, 1e-15);
  EXPECT_NEAR(o.point[1].u, 1e-3, 1e-15);
  EXPECT_EQ(LegCross(a, MakeLeg({2e-3, 0}, {5e-4, 0}, F)).result, -2);
  // Collinear, end to end: a touch, not an overlap.
  EXPECT_EQ(LegCross(a, MakeLeg({1e-3, 0}, {2e-3, 0}, F)).result, CROSS_TOUCH);
  // Parallel apart, and far apart.
  EXPECT_EQ(LegCross(a, MakeLeg({0, 1e-5}, {1e-3, 1e-5}, F)).result, CROSS_NONE);
  EXPECT_EQ(LegCross(a, MakeLeg({5e-3, 5e-3}, {6e-3, 6e-3}, F)).result, CROSS_NONE);
  // Within the fuzz of the end point counts as at the end point.
  LegCrossing n = LegCross(a, MakeLeg({1e-3 + 0.5 * F, -1e-4}, {1e-3 + 0.5 * F, 1e-4}, F));
  EXPECT_EQ(n.result, 1);
  EXPECT_EQ(n.contact_a[0], CONTACT_END);
}

TEST(LegCross, SymmetricOnRandomLegs) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1e-3, 1e-3);
  std::uniform_int_distribution<int> snap(0, 3);
  for (int i = 0; i < 200000; ++i) {
    PlanePoint p[4];
    for (auto& q : p) q = {u(rng), u(rng)};
    // Share end points and lines now and then, where the table is subtle.
    if (snap(rng) == 0) p[2] = p[1];
    if (snap(rng) == 0) p[3] = {p[0].u + 0.5 * (p[1].u - p[0].u), p[0].v + 0.5 * (p[1].v - p[0].v)};
    const Leg a = MakeLeg(p[0], p[1], F), b = MakeLeg(p[2], p[3], F);
    const LegCrossing ab = LegCross(a, b), ba = LegCross(b, a);
    const int expect = (ab.result == 1 || ab.result == -1) ? -ab.result : ab.result;
    ASSERT_EQ(ba.result, expect) << i;
    ASSERT_EQ(ba.count, ab.count);
    if (ab.count == 1) {
      EXPECT_NEAR(ab.point[0].u, ba.point[0].u, 4 * F);
      EXPECT_NEAR(ab.point[0].v, ba.point[0].v, 4 * F);
      EXPECT_EQ(ab.contact_a[0], ba.contact_b[0]);
      EXPECT_EQ(ab.contact_b[0], ba.contact_a[0]);
    }
  }
}

}  // namespace
