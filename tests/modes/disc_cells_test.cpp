// The cells a circle selects (NearestCells a and d): the flood finds every
// cell that the brute-force test over the whole index finds; every point
// inside the circle lies in a selected cell; every point on the circle lies
// in a boundary cell, never in an interior one; every cell whose centre is
// within the radius is selected.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "lib/cells/cell_disc.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/geodesy/tangent_frame.h"

namespace {

using geodesy::DirectionCosines;

class DiscCellsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("OMBREL_BIN");
    if (!bin) GTEST_SKIP() << "OMBREL_BIN is not set";
    FILE* f = fopen((std::string(bin) + "/isotype.vix").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(cells::LoadVix(f, idx_, 1), 0);
    fclose(f);
  }
  void TearDown() override { cells::ReleaseIndex(idx_); }
  cells::CellIndex idx_;
};

// A point at angle a from c in direction t (radians).
DirectionCosines Around(const DirectionCosines& c, double a, double t) {
  const geodesy::TangentFrame f = geodesy::BuildTangentFrame(c);
  return geodesy::LiftFromFrame(f, std::tan(a) * std::cos(t), std::tan(a) * std::sin(t));
}

TEST_F(DiscCellsTest, FloodAgreesWithBruteForceAndWithSampledPoints) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> n(0, 1);
  std::uniform_real_distribution<double> u(0, 1);
  for (int trial = 0; trial < 12; ++trial) {
    const DirectionCosines q = geodesy::Normalised({n(rng), n(rng), n(rng)});
    const double radius = (0.2 + 15 * u(rng) * u(rng)) * M_PI / 180;  // 0.2 to 15 degrees
    const double r2 = 2 - 2 * std::cos(radius);
    std::vector<int32_t> boundary, interior;
    ASSERT_EQ(cells::DiscCells(idx_, q, r2, &boundary, &interior), 0);
    ASSERT_FALSE(boundary.empty());
    // Brute force over every cell.
    const int32_t qc = cells::Locate(idx_, q);
    std::vector<int32_t> bb, bi;
    for (int32_t c = 0; c < idx_.cell_count; ++c) {
      const int s = cells::DiscCellStatus(idx_, c, qc, q, r2);
      if (s == cells::DISC_BOUNDARY) bb.push_back(c);
      if (s == cells::DISC_INTERIOR) bi.push_back(c);
    }
    EXPECT_EQ(boundary, bb) << "trial " << trial;
    EXPECT_EQ(interior, bi) << "trial " << trial;
    std::vector<int32_t> all = boundary;
    all.insert(all.end(), interior.begin(), interior.end());
    std::sort(all.begin(), all.end());
    auto selected = [&](int32_t c) { return std::binary_search(all.begin(), all.end(), c); };
    auto is_interior = [&](int32_t c) { return std::binary_search(interior.begin(), interior.end(), c); };
    for (int i = 0; i < 400; ++i) {
      // Inside: selected. On the circle: a boundary cell.
      const double t = 2 * M_PI * u(rng);
      const int32_t in = cells::Locate(idx_, Around(q, radius * std::sqrt(u(rng)) * 0.999, t));
      EXPECT_TRUE(selected(in)) << "trial " << trial << " cell " << in;
      const int32_t on = cells::Locate(idx_, Around(q, radius, t));
      EXPECT_TRUE(selected(on) && !is_interior(on)) << "trial " << trial << " cell " << on;
    }
    for (int32_t c = 0; c < idx_.cell_count; ++c) {
      if (geodesy::ChordSq(idx_.cells[c]->centre, q) <= r2) {
        EXPECT_TRUE(selected(c)) << c;
      }
    }
  }
}

TEST_F(DiscCellsTest, TinyCircleSelectsOnlyItsOwnCell) {
  const DirectionCosines q = idx_.cells[1234]->centre;
  std::vector<int32_t> boundary, interior;
  ASSERT_EQ(cells::DiscCells(idx_, q, 1e-12, &boundary, &interior), 0);
  EXPECT_EQ(boundary, std::vector<int32_t>{1234});
  EXPECT_TRUE(interior.empty());
}

TEST(ArcNearest, FootOnTheArcOrAnEnd) {
  const DirectionCosines a{1, 0, 0}, b{0, 1, 0};
  // Above the middle of the arc: the foot is on it.
  const DirectionCosines q = geodesy::Normalised({1, 1, 1});
  EXPECT_NEAR(cells::ArcNearestCosine(q, a, b), std::sqrt(2.0 / 3.0), 1e-15);
  // Beyond an end: the end is nearest.
  const DirectionCosines r = geodesy::Normalised({1, -1, 0.2});
  EXPECT_NEAR(cells::ArcNearestCosine(r, a, b), geodesy::Dot(r, a), 1e-15);
}

}  // namespace
