// The rings of the circle and sector entries: point counts of the
// densities, equal distance from the centre, counterclockwise order, the
// reverse order of the outside forms, the sector's sweep and closing points,
// and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "interp/cmd_entry.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/geodesy/tangent_frame.h"

namespace {

using geodesy::DirectionCosines;
using interp::CircleRing;

DirectionCosines Deg(double lat, double lon) {
  return geodesy::GeocentricToCosines({lat * M_PI / 180, lon * M_PI / 180});
}

// Twice the signed area of the ring's projection in the centre's tangent
// plane: positive when it runs counterclockwise seen from outside.
double PlaneArea(const DirectionCosines& c, const std::vector<DirectionCosines>& ring) {
  const geodesy::TangentFrame f = geodesy::BuildTangentFrame(c);
  double s = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    double u0, v0, u1, v1;
    geodesy::ProjectToFrame(f, ring[i], u0, v0);
    geodesy::ProjectToFrame(f, ring[(i + 1) % ring.size()], u1, v1);
    s += u0 * v1 - u1 * v0;
  }
  return s;
}

TEST(CircleRing, DensitiesGiveTheirPointCountsRoundTheCentre) {
  const DirectionCosines c = Deg(45, 15), edge = Deg(45, 17);
  for (int d = 0; d < 6; ++d) {
    std::vector<DirectionCosines> ring;
    ASSERT_EQ(CircleRing(c, edge, nullptr, interp::kCircleDensityPoints[d], false, &ring), interp::RING_DONE);
    ASSERT_EQ((int)ring.size(), interp::kCircleDensityPoints[d]);
    EXPECT_EQ(geodesy::ChordSq(ring[0], edge), 0.0);  // the edge point itself
    const double r = geodesy::Dot(c, edge);
    for (const DirectionCosines& p : ring) EXPECT_NEAR(geodesy::Dot(c, p), r, 1e-14);
    EXPECT_GT(PlaneArea(c, ring), 0.0);
    // Neighbouring points are evenly spaced, the closing leg too.
    const double first = geodesy::ChordSq(ring[0], ring[1]);
    EXPECT_NEAR(geodesy::ChordSq(ring.back(), ring[0]) / first, 1.0, 1e-6);
  }
}

TEST(CircleRing, OutsideIsTheReverse) {
  const DirectionCosines c = Deg(-30, 100), edge = Deg(-31, 100.5);
  std::vector<DirectionCosines> in, out;
  ASSERT_EQ(CircleRing(c, edge, nullptr, 43, false, &in), 0);
  ASSERT_EQ(CircleRing(c, edge, nullptr, 43, true, &out), 0);
  ASSERT_EQ(in.size(), out.size());
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(geodesy::ChordSq(in[i], out[in.size() - 1 - i]), 0.0);
  EXPECT_LT(PlaneArea(c, out), 0.0);
}

TEST(CircleRing, SectorsSweepCounterclockwiseAndCloseThroughTheCentre) {
  const DirectionCosines c = Deg(0, 0);
  const DirectionCosines east = Deg(0, 2), north = Deg(2, 0), south = Deg(-2, 0);
  std::vector<DirectionCosines> quarter, most;
  ASSERT_EQ(CircleRing(c, east, &north, 359, false, &quarter), 0);
  // A quarter turn at 359 points a circle: 89 points between, then the
  // second point, the centre, the first.
  ASSERT_EQ(quarter.size(), 89u + 3u);
  EXPECT_EQ(geodesy::ChordSq(quarter[quarter.size() - 3], north), 0.0);
  EXPECT_EQ(geodesy::ChordSq(quarter[quarter.size() - 2], c), 0.0);
  EXPECT_EQ(geodesy::ChordSq(quarter.back(), east), 0.0);
  EXPECT_GT(PlaneArea(c, quarter), 0.0);
  // East to south is three quarters counterclockwise.
  ASSERT_EQ(CircleRing(c, east, &south, 359, false, &most), 0);
  EXPECT_EQ(most.size(), 269u + 3u);
  EXPECT_GT(PlaneArea(c, most), 3 * PlaneArea(c, quarter) * 0.99);
}

TEST(CircleRing, DegenerateAndUnreachableEdgesAreRefused) {
  const DirectionCosines c = Deg(10, 10);
  std::vector<DirectionCosines> ring;
  EXPECT_EQ(CircleRing(c, c, nullptr, 23, false, &ring), interp::RING_DEGENERATE);
  EXPECT_EQ(CircleRing(c, Deg(-80, -170), nullptr, 23, false, &ring), interp::RING_NO_FRAME);
  EXPECT_EQ(CircleRing(c, Deg(11, 10), nullptr, 4, false, &ring), interp::RING_STEP);  // a step of 90 degrees
  EXPECT_TRUE(ring.empty());
}

}  // namespace
