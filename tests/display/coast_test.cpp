// Coast files: encoding round trips in every vertex form, the checks on
// loading, level choice, and the shipped files built from Natural Earth.
#include "lib/display/coast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "lib/geodesy/constants.h"
#include "lib/geodesy/ellipsoid.h"

namespace display {
namespace {

using geodesy::DirectionCosines;

double Angle(const DirectionCosines& a, const DirectionCosines& b) {
  return 2 * std::asin(std::min(1.0, std::sqrt(geodesy::ChordSq(a, b)) / 2));
}

DirectionCosines FromDegrees(double lat, double lon) {
  return geodesy::GeocentricToCosines({lat * M_PI / 180, lon * M_PI / 180});
}

// A wiggly line of n points starting at (lat, lon), stepping east.
std::vector<DirectionCosines> Wiggle(double lat, double lon, int n, double step_deg) {
  std::vector<DirectionCosines> line;
  for (int i = 0; i < n; ++i) line.push_back(FromDegrees(lat + 0.3 * std::sin(i * 0.7), lon + i * step_deg));
  return line;
}

std::vector<DirectionCosines> DecodeLevel(const CoastData& data, int level) {
  std::vector<DirectionCosines> all;
  for (size_t i = 0; i < data.levels[level].count; ++i)
    DecodeCoastSegment(data, level, CoastSegmentAt(data, level, i), &all);
  return all;
}

TEST(CoastEncoding, EveryFormRoundTripsWithinItsQuantum) {
  // Lines crossing a pole and the antimeridian as well as ordinary ones.
  std::vector<std::vector<DirectionCosines>> lines = {Wiggle(10, 20, 300, 0.05), Wiggle(-60, 170, 200, 0.1)};
  std::vector<DirectionCosines> polar;
  for (int i = 0; i <= 100; ++i) polar.push_back(FromDegrees(89.5 - i * 0.02, i * 3.6));
  lines.push_back(polar);
  for (int form : {2, 4, 6}) {
    CoastLevelSource src;
    src.scale_limit = 1e8;
    src.form = form;
    src.max_radius = 0.02;
    src.lines = lines;
    std::vector<uint8_t> sgm, vtx;
    ASSERT_EQ(EncodeCoastFiles({src}, &sgm, &vtx), kCoastOk);
    CoastData data;
    ASSERT_EQ(CheckCoastData(sgm, vtx, &data), kCoastOk);
    EXPECT_EQ(data.levels[1].scale_limit, geodesy::NOVALUE);
    EXPECT_GT(data.levels[0].count, 3);  // the lines were cut into pieces
    // The pieces of a line share their end vertex, so walking the segments in
    // order and skipping each repeated start gives the line back.
    std::vector<DirectionCosines> back;
    size_t line_index = 0, in_line = 0;
    const double quantum = 0.0203 / (form == 2 ? 126 : form == 4 ? 32256 : 2113929216.0);
    double worst = 0;
    for (size_t i = 0; i < data.levels[0].count; ++i) {
      std::vector<DirectionCosines> seg;
      const CoastSegment s = CoastSegmentAt(data, 0, i);
      EXPECT_LE(s.radius, 0.0203 + 1e-6);
      DecodeCoastSegment(data, 0, s, &seg);
      ASSERT_GE(seg.size(), 2u);
      size_t first = 0;
      if (in_line > 0) {
        EXPECT_LT(Angle(seg[0], lines[line_index][in_line]), 2 * quantum + 1e-12);
        first = 1;
      }
      for (size_t k = first; k < seg.size(); ++k) {
        if (in_line > 0 || k > 0) ++in_line;
        worst = std::max(worst, Angle(seg[k], lines[line_index][in_line]));
      }
      if (in_line + 1 == lines[line_index].size()) {
        ++line_index;
        in_line = 0;
      }
    }
    EXPECT_EQ(line_index, lines.size());
    EXPECT_LT(worst, quantum + 1e-12) << "form " << form;
  }
}

TEST(CoastEncoding, RefusesWhatTheFormatCannotHold) {
  std::vector<uint8_t> sgm, vtx;
  CoastLevelSource bad;
  bad.form = 3;
  bad.lines = {Wiggle(0, 0, 10, 0.1)};
  EXPECT_EQ(EncodeCoastFiles({bad}, &sgm, &vtx), kCoastDamaged);
  CoastLevelSource ok;
  ok.lines = {Wiggle(0, 0, 10, 0.1)};
  EXPECT_EQ(EncodeCoastFiles({ok, ok, ok, ok, ok}, &sgm, &vtx), kCoastDamaged);
  // A one-point line and an empty line give no segments and no trouble.
  CoastLevelSource tiny;
  tiny.scale_limit = 5;
  tiny.lines = {{FromDegrees(1, 1)}, {}};
  ASSERT_EQ(EncodeCoastFiles({tiny}, &sgm, &vtx), kCoastOk);
  CoastData data;
  ASSERT_EQ(CheckCoastData(sgm, vtx, &data), kCoastOk);
  EXPECT_EQ(data.levels[0].count, 0);
}

TEST(CoastLoading, DamagedFilesAreRefusedWhole) {
  CoastLevelSource src;
  src.scale_limit = 1e8;
  src.lines = {Wiggle(0, 0, 50, 0.1)};
  std::vector<uint8_t> sgm, vtx;
  ASSERT_EQ(EncodeCoastFiles({src}, &sgm, &vtx), kCoastOk);
  CoastData data;
  ASSERT_EQ(CheckCoastData(sgm, vtx, &data), kCoastOk);
  const size_t seg0 = 64;  // the first segment record
  auto refused = [&](std::vector<uint8_t> s, std::vector<uint8_t> v) {
    CoastData d;
    const int st = CheckCoastData(std::move(s), std::move(v), &d);
    return st == kCoastDamaged && d.sgm.empty() && CoastLevelForScale(d, 1) == -1;
  };
  EXPECT_TRUE(refused(std::vector<uint8_t>(sgm.begin(), sgm.begin() + 63), vtx));  // short header
  EXPECT_TRUE(refused(std::vector<uint8_t>(sgm.begin(), sgm.end() - 1), vtx));     // short table
  EXPECT_TRUE(refused(sgm, std::vector<uint8_t>(vtx.begin(), vtx.end() - 1)));     // short vertices
  std::vector<uint8_t> s = sgm;
  s[14] = 5;  // vertex form 5
  EXPECT_TRUE(refused(s, vtx));
  s = sgm;
  s[8] = 0xf0;  // table offset far outside
  s[11] = 0x7f;
  EXPECT_TRUE(refused(s, vtx));
  s = sgm;
  s[seg0 + 3] = 0x7f;  // centre x huge: not a unit vector
  EXPECT_TRUE(refused(s, vtx));
  s = sgm;
  s[seg0 + 12 + 3] = 0xc0;  // negative radius
  EXPECT_TRUE(refused(s, vtx));
  s = sgm;
  s[seg0 + 16 + 3] = 0x10;  // vertex offset beyond coast.vtx
  EXPECT_TRUE(refused(s, vtx));
  s = sgm;
  for (int i = 0; i < 8; ++i) s[i] = 0xff;  // scale limit NaN
  EXPECT_TRUE(refused(s, vtx));
  // Random damage never passes the check with a record pointing outside.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 2000; ++trial) {
    std::vector<uint8_t> d = sgm;
    for (int k = 0; k < 3; ++k) d[rng() % d.size()] = (uint8_t)rng();
    CoastData cd;
    if (CheckCoastData(d, vtx, &cd) != kCoastOk) continue;
    std::vector<DirectionCosines> out;
    for (int l = 0; l < kCoastLevels; ++l) {
      if (cd.levels[l].scale_limit == geodesy::NOVALUE) continue;
      for (size_t i = 0; i < cd.levels[l].count; ++i) {
        const CoastSegment seg = CoastSegmentAt(cd, l, i);
        ASSERT_LE(seg.vertex_offset + (size_t)seg.count * (cd.levels[l].form == 6 ? 8 : cd.levels[l].form), cd.vtx.size());
        DecodeCoastSegment(cd, l, seg, &out);
      }
    }
  }
  EXPECT_EQ(LoadCoastFiles("no-such.sgm", "no-such.vtx", &data), kCoastMissing);
}

class ShippedCoast : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* src = getenv("OMBREL_SOURCE");
    const std::string dir = std::string(src ? src : "..") + "/data/";
    ASSERT_EQ(LoadCoastFiles(dir + "coast.sgm", dir + "coast.vtx", &data), kCoastOk);
  }
  CoastData data;
};

TEST_F(ShippedCoast, LevelsByScale) {
  EXPECT_EQ(CoastLevelForScale(data, 1e6), 0);
  EXPECT_EQ(CoastLevelForScale(data, 3e7), 1);
  EXPECT_EQ(CoastLevelForScale(data, 1e8), 2);
  EXPECT_EQ(CoastLevelForScale(data, 1e12), 2);
  EXPECT_EQ(data.levels[3].scale_limit, geodesy::NOVALUE);
  EXPECT_GT(data.levels[0].count, data.levels[1].count);
  EXPECT_GT(data.levels[1].count, data.levels[2].count);
}

TEST_F(ShippedCoast, KnownCoastalPointsLieOnTheLines) {
  const geodesy::Ellipsoid wgs84 = geodesy::MakeEllipsoid();
  struct Place {
    const char* name;
    double lat, lon, km110;
  } places[] = {
      {"Cape Agulhas", -34.83, 20.00, 60},  {"Cabo da Roca", 38.78, -9.50, 60},
      {"Cape Horn area", -55.98, -67.27, 80}, {"Dezhnev", 66.08, -169.65, 60},
  };
  for (int level : {0, 2}) {
    const std::vector<DirectionCosines> all = DecodeLevel(data, level);
    for (const Place& p : places) {
      const DirectionCosines u = geodesy::GeodeticToCosines({p.lat * M_PI / 180, p.lon * M_PI / 180}, wgs84);
      double best = 10;
      for (const DirectionCosines& v : all) best = std::min(best, Angle(u, v));
      EXPECT_LT(best * 6371.0, level == 0 ? 15.0 : p.km110) << p.name << " level " << level;
    }
  }
}

TEST_F(ShippedCoast, NoEdgeRunsAlongTheAntimeridianOrThePole) {
  for (int level = 0; level < 3; ++level) {
    for (size_t i = 0; i < data.levels[level].count; ++i) {
      std::vector<DirectionCosines> seg;
      DecodeCoastSegment(data, level, CoastSegmentAt(data, level, i), &seg);
      for (size_t k = 1; k < seg.size(); ++k) {
        const double lon0 = std::atan2(seg[k - 1].y, seg[k - 1].x) * 180 / M_PI;
        const double lon1 = std::atan2(seg[k].y, seg[k].x) * 180 / M_PI;
        const bool along = std::fabs(std::fabs(lon0) - 180) < 0.001 && std::fabs(std::fabs(lon1) - 180) < 0.001;
        ASSERT_FALSE(along && Angle(seg[k - 1], seg[k]) > 1e-4) << "level " << level << " segment " << i;
        ASSERT_GT(seg[k].z, -0.99999) << "pole ring";
        // No edge is longer than a few degrees.
        ASSERT_LT(Angle(seg[k - 1], seg[k]), 0.2);
      }
    }
  }
}

}  // namespace
}  // namespace display
