// The tileset projection: round trips, the band table, its edges and
// refusals, and equal bands against PROJ's plate carree (eqc) times k.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "lib/display/projections.h"

namespace display {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDeg = kPi / 180;

DirectionCosines At(double lat, double lon) {
  return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

std::vector<double> EqualBands(double lo, double hi, int n) {
  std::vector<double> t(n + 1);
  for (int i = 0; i <= n; ++i) t[i] = lo + (hi - lo) * i / n;
  return t;
}

// Bands equal in Mercator ordinate between +-lat_max.
std::vector<double> MercatorBands(double lat_max, int n) {
  const double y = std::asinh(std::tan(lat_max));
  std::vector<double> t(n + 1);
  for (int i = 0; i <= n; ++i) t[i] = std::atan(std::sinh(-y + 2 * y * i / n));
  return t;
}

TEST(TilesetProjection, RoundTripInsideTheTable) {
  std::mt19937_64 rng(25);
  for (int kind = 0; kind < 2; ++kind) {
    const std::vector<double> t = kind ? MercatorBands(85 * kDeg, 16) : EqualBands(-60 * kDeg, 75 * kDeg, 9);
    TilesetParams p;
    const DirectionCosines centre = At(20 * kDeg, 40 * kDeg);
    ASSERT_EQ(SetUpTileset(30 * kDeg, 2 * kPi, t.data(), (int)t.size() - 1, kind ? &centre : nullptr, &p), 0);
    std::uniform_real_distribution<double> lat(t.front(), t.back()), lon(-kPi, kPi);
    double worst = 0;
    for (int i = 0; i < 100000; ++i) {
      const DirectionCosines u = At(lat(rng), lon(rng));
      double X, Y;
      ASSERT_EQ(TilesetForward(p, u, &X, &Y), 0);
      DirectionCosines v;
      ASSERT_EQ(TilesetInverse(p, X, Y, &v), 0);
      worst = std::max(worst, std::sqrt((u.x - v.x) * (u.x - v.x) + (u.y - v.y) * (u.y - v.y) + (u.z - v.z) * (u.z - v.z)));
    }
    EXPECT_LT(worst, 1e-12) << kind;
  }
}

TEST(TilesetProjection, EqualBandsAreEquirectangularScaledByK) {
  const std::vector<double> t = EqualBands(-80 * kDeg, 60 * kDeg, 14);
  TilesetParams p;
  ASSERT_EQ(SetUpTileset(-50 * kDeg, 2 * kPi, t.data(), 14, nullptr, &p), 0);
  const double k = std::cos(-10 * kDeg);
  EXPECT_NEAR(p.k, k, 1e-15);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> lat(t.front(), t.back()), lon(-kPi, kPi);
  std::vector<DirectionCosines> pts;
  for (int i = 0; i < 2000; ++i) pts.push_back(At(lat(rng), lon(rng)));
  for (const DirectionCosines& u : pts) {
    double X, Y;
    ASSERT_EQ(TilesetForward(p, u, &X, &Y), 0);
    const double la = std::atan2(u.z, std::hypot(u.x, u.y));
    const double d = WrapAngle(std::atan2(u.y, u.x) + 50 * kDeg);
    EXPECT_NEAR(X, d * k, 1e-12);
    EXPECT_NEAR(Y, la - t[0], 1e-12);
  }
  // PROJ's eqc on the unit sphere, true at latitude -10, centred on -50.
  if (std::system("command -v proj >/dev/null 2>&1") != 0) GTEST_SKIP() << "no proj program";
  char name[] = "/tmp/tileset_eqcXXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  FILE* in = fdopen(fd, "w");
  for (const DirectionCosines& u : pts)
    std::fprintf(in, "%.17g %.17g\n", std::atan2(u.y, u.x) / kDeg, std::atan2(u.z, std::hypot(u.x, u.y)) / kDeg);
  std::fclose(in);
  const std::string cmd = std::string("proj +proj=eqc +R=1 +lat_ts=-10 +lon_0=-50 -f %.17g < ") + name;
  FILE* out = popen(cmd.c_str(), "r");
  ASSERT_NE(out, nullptr);
  size_t i = 0;
  double x, y;
  int compared = 0;
  while (i < pts.size() && std::fscanf(out, "%lf %lf", &x, &y) == 2) {
    double X, Y;
    TilesetForward(p, pts[i++], &X, &Y);
    // eqc's x is d cos(lat_ts) = d k; its y is the latitude, from 0 at the equator.
    EXPECT_NEAR(X, x, 1e-12);
    EXPECT_NEAR(Y, y - t[0], 1e-12);
    ++compared;
  }
  pclose(out);
  unlink(name);
  EXPECT_EQ(compared, (int)pts.size());
}

TEST(TilesetProjection, EdgesOutsideAndRefusals) {
  const std::vector<double> t = MercatorBands(80 * kDeg, 8);
  TilesetParams p;
  ASSERT_EQ(SetUpTileset(0, kPi, t.data(), 8, nullptr, &p), 0);
  const double h = (t[8] - t[0]) / 8;
  // The top edge reads the last latitude, not one beyond the table.
  DirectionCosines u;
  ASSERT_EQ(TilesetInverse(p, 0, t[8] - t[0], &u), 0);
  EXPECT_NEAR(std::asin(u.z), t[8], 1e-14);
  ASSERT_EQ(TilesetInverse(p, 0, 0, &u), 0);
  EXPECT_NEAR(std::asin(u.z), t[0], 1e-14);
  // Each band boundary maps to a multiple of h.
  for (int i = 0; i <= 8; ++i) {
    double X, Y;
    EXPECT_EQ(TilesetForward(p, At(t[i], 0), &X, &Y), 0);
    EXPECT_NEAR(Y, i * h, 1e-13) << i;
  }
  // Outside the table and outside the width: projected with status -1, and
  // the inverse gives the point back with -1.
  double X, Y;
  EXPECT_EQ(TilesetForward(p, At(85 * kDeg, 0), &X, &Y), -1);
  EXPECT_GT(Y, t[8] - t[0]);
  EXPECT_EQ(TilesetInverse(p, X, Y, &u), -1);
  EXPECT_NEAR(std::asin(u.z), 85 * kDeg, 1e-12);
  EXPECT_EQ(TilesetForward(p, At(0, 100 * kDeg), &X, &Y), -1);
  EXPECT_EQ(TilesetInverse(p, X, Y, &u), -1);
  EXPECT_NEAR(std::atan2(u.y, u.x), 100 * kDeg, 1e-12);
  // Far beyond a pole there is no point.
  EXPECT_EQ(TilesetInverse(p, 0, 100.0, &u), 1);
  // A centre maps to the plane origin.
  const DirectionCosines c = At(10 * kDeg, 20 * kDeg);
  ASSERT_EQ(SetUpTileset(0, kPi, t.data(), 8, &c, &p), 0);
  ASSERT_EQ(TilesetForward(p, c, &X, &Y), 0);
  EXPECT_NEAR(X, 0, 1e-15);
  EXPECT_NEAR(Y, 0, 1e-15);
  // Refusals: no bands, too many, not ascending, no width; a cleared block
  // projects nothing.
  EXPECT_EQ(SetUpTileset(0, kPi, t.data(), 0, nullptr, &p), 1);
  EXPECT_EQ(TilesetForward(p, c, &X, &Y), 1);
  EXPECT_EQ(TilesetInverse(p, 0, 0, &u), 1);
  std::vector<double> many = EqualBands(-1, 1, TILESET_MAX_BANDS + 1);
  EXPECT_EQ(SetUpTileset(0, kPi, many.data(), TILESET_MAX_BANDS + 1, nullptr, &p), 1);
  std::vector<double> bad = t;
  bad[3] = bad[2];
  EXPECT_EQ(SetUpTileset(0, kPi, bad.data(), 8, nullptr, &p), 1);
  EXPECT_EQ(SetUpTileset(0, 0, t.data(), 8, nullptr, &p), 1);
  // Through the dispatch by code.
  ASSERT_EQ(SetUpTileset(0, kPi, t.data(), 8, nullptr, &p), 0);
  ProjectionParams pp;
  pp.tileset = p;
  EXPECT_EQ(ProjectForward(pp, PROJ_TILESET, At(0, 0), &X, &Y), 0);
  EXPECT_EQ(ProjectInverse(pp, PROJ_TILESET, X, Y, &u), 0);
}

}  // namespace
}  // namespace display
