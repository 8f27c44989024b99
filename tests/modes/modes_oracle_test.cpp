// Pointer modes against independent references. The ombrel program runs
// scripts whose clicks come from an events file; the objects and indexes it
// writes are then read back here and checked:
//   - a ring entered by clicks: Area (method r) against GeographicLib's
//     PolygonArea of the very vertices stored;
//   - circles: the inside ring's area likewise, inside plus outside against
//     the ellipsoid's area, and the vertex count of the densities;
//   - AddCellCenters with a negative count: repeatable bytes but for the
//     index identifier and date, a valid index whose every neighbour list
//     runs counterclockwise, cell areas summing to the ellipsoid, and Locate
//     equal to the brute-force nearest centre for 100 000 random points.
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/geodesy/measure_cells.h"

namespace {

using geodesy::DirectionCosines;

class ModesProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("OMBREL_BIN");
    if (!bin) GTEST_SKIP() << "OMBREL_BIN is not set";
    bin_ = bin;
    char templ[] = "/tmp/ombrel-modes-test-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    if (!dir_.empty() && system(("rm -rf '" + dir_ + "'").c_str()) != 0) ADD_FAILURE();
  }
  // Runs a script with its events in the test folder; returns the transcript.
  std::string Run(const std::string& script, const std::string& events) {
    std::ofstream(dir_ + "/t.omb") << script;
    std::ofstream(dir_ + "/t.events") << events;
    const std::string cmd = "cd '" + dir_ + "' && '" + bin_ + "/ombrel' --batch --events t.events t.omb 2>&1";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
  }
  // The index the program loaded.
  bool LoadIndex(const std::string& path, cells::CellIndex* idx) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    const int st = cells::LoadVix(f, *idx, 1);
    fclose(f);
    return st == 0;
  }
  // The vertices stored in an object file, marks left out.
  std::vector<DirectionCosines> Vertices(cells::CellIndex& idx, const std::string& name) {
    std::vector<DirectionCosines> out;
    cells::ObjectHandle h;
    if (cells::OpenObjectRead(h, dir_ + "/" + name, idx.index_id) != 0) return out;
    std::vector<cells::PointNode> nodes;
    if (cells::CollectVertices(idx, h.obj, nodes))
      for (const cells::PointNode& n : nodes)
        if (!cells::IsMark(n)) out.push_back(n.p);
    cells::CloseObject(h);
    return out;
  }
  std::string bin_, dir_;
};

// The km² of the nth "Area: ...[km**2]" line of a transcript.
double AreaKm2(const std::string& out, int nth) {
  size_t at = 0;
  for (int i = 0; i <= nth; ++i) {
    at = out.find("Area: ", at);
    if (at == std::string::npos) return NAN;
    at += 6;
  }
  return atof(out.c_str() + at);
}

// GeographicLib's area (m², signed: counterclockwise positive) of a ring of
// geodesic edges through the vertices.
double PolygonAreaM2(const geodesy::Ellipsoid& e, const std::vector<DirectionCosines>& ring) {
  const GeographicLib::Geodesic geod(e.a, (e.a - e.b) / e.a);
  GeographicLib::PolygonArea poly(geod);
  for (const DirectionCosines& u : ring) {
    const geodesy::LatLong ll = geodesy::CosinesToGeodetic(u, e);
    poly.AddPoint(ll.lat * 180 / M_PI, ll.lon * 180 / M_PI);
  }
  double perimeter, area;
  poly.Compute(false, true, perimeter, area);
  return area;
}

TEST_F(ModesProgram, ClickedRingHasTheGeodesicPolygonArea) {
  const std::string out = Run("Geometry N45 E15 2000000 stereo\nEnterRset ring f\nArea ring r\n",
                              "click @N44.5,E14\nclick @N44.6,E16\nclick @N45.5,E16.5\nclick @N45.8,E15\n"
                              "click @N45.2,E13.8\nkey SPACE\nkey ENTER\n");
  cells::CellIndex idx;
  ASSERT_TRUE(LoadIndex(bin_ + "/isotype.vix", &idx));
  const std::vector<DirectionCosines> ring = Vertices(idx, "ring.qbo");
  ASSERT_EQ(ring.size(), 5u) << out;
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid(34);
  const double ref = PolygonAreaM2(e, ring) / 1e6;
  const double area = AreaKm2(out, 0);
  EXPECT_GT(ref, 10000.0);
  EXPECT_NEAR(area / ref, 1.0, 1e-7) << out;
  std::printf("clicked ring: Area r %.6f km2, PolygonArea %.6f km2, relative difference %.2e\n", area, ref,
              std::fabs(area / ref - 1));
  cells::ReleaseIndex(idx);
}

TEST_F(ModesProgram, CirclesMatchTheirPolygonsAndFillTheWorldTogether) {
  const std::string out = Run(
      "Geometry N45 E15 5000000 stereo\nEnterRsetInsideCircle cin f 6\nArea cin r\n"
      "EnterRsetOutsideCircle cout f 6\nArea cout r\nEnterRsetInsideCircle c1 f 1\n",
      "click @N45,E15\nclick @N45,E17\nclick @N45,E15\nclick @N45,E17\nclick @N45,E15\nclick @N45,E17\n");
  cells::CellIndex idx;
  ASSERT_TRUE(LoadIndex(bin_ + "/isotype.vix", &idx));
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid(34);
  const std::vector<DirectionCosines> inside = Vertices(idx, "cin.qbo");
  const std::vector<DirectionCosines> outside = Vertices(idx, "cout.qbo");
  // Density 6: 359 points round the circle, the edge point among them.
  ASSERT_EQ(inside.size(), 359u) << out;
  ASSERT_EQ(outside.size(), 359u) << out;
  EXPECT_EQ(Vertices(idx, "c1.qbo").size(), 11u);
  // The same points, in reverse order.
  for (size_t i = 0; i < inside.size(); ++i)
    EXPECT_LT(geodesy::ChordSq(inside[i], outside[outside.size() - 1 - i]), 1e-20) << i;
  const double ref = PolygonAreaM2(e, inside) / 1e6;
  const double a_in = AreaKm2(out, 0), a_out = AreaKm2(out, 1);
  EXPECT_NEAR(a_in / ref, 1.0, 1e-7) << out;
  const GeographicLib::Geodesic geod(e.a, (e.a - e.b) / e.a);
  const double world = geod.EllipsoidArea() / 1e6;
  EXPECT_NEAR((a_in + a_out) / world, 1.0, 1e-9) << out;
  std::printf("circle: inside %.6f km2 vs PolygonArea %.6f km2 (%.2e); inside + outside vs ellipsoid %.2e\n", a_in,
              ref, std::fabs(a_in / ref - 1), std::fabs((a_in + a_out) / world - 1));
  cells::ReleaseIndex(idx);
}

// The header bytes of a .vix file that differ between runs: the index
// identifier (a time) and the creation day.
std::string WithoutStamps(const std::string& bytes) {
  std::string b = bytes;
  if (b.size() < 72) return b;
  const cells::VixHeader h = cells::DecodeVixHeader(reinterpret_cast<const unsigned char*>(b.data()));
  cells::VixHeader z = h;
  z.index_id = 0;
  z.creation_day = 0;
  unsigned char head[72];
  cells::EncodeVixHeader(z, head);
  b.replace(0, 72, reinterpret_cast<const char*>(head), 72);
  return b;
}

TEST_F(ModesProgram, RandomGrowthIsRepeatableValidAndLocatable) {
  const std::string out = Run("AddCellCenters a.vix c1 -2000\nAddCellCenters b.vix c1 -2000\n", "");
  std::ifstream fa(dir_ + "/a.vix", std::ios::binary), fb(dir_ + "/b.vix", std::ios::binary);
  std::stringstream sa, sb;
  sa << fa.rdbuf();
  sb << fb.rdbuf();
  ASSERT_GT(sa.str().size(), 72u) << out;
  EXPECT_EQ(WithoutStamps(sa.str()), WithoutStamps(sb.str()));

  cells::CellIndex idx, base;
  ASSERT_TRUE(LoadIndex(dir_ + "/a.vix", &idx));
  ASSERT_TRUE(LoadIndex(bin_ + "/isotype.vix", &base));
  ASSERT_EQ(idx.cell_count, base.cell_count + 2000);
  EXPECT_EQ(cells::VerifyIndex(idx).status, 0);
  // Every list counterclockwise: each pair of consecutive neighbours turns
  // left seen from outside.
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid(34);
  double total = 0;
  for (int32_t c = 0; c < idx.cell_count; ++c) {
    const cells::CellRecord* r = idx.cells[c];
    std::vector<DirectionCosines> vertices;
    for (int k = 0; k < r->neighbour_count; ++k) {
      const DirectionCosines a = idx.cells[r->neighbours[k]]->centre;
      const DirectionCosines b = idx.cells[r->neighbours[(k + 1) % r->neighbour_count]]->centre;
      const DirectionCosines d1{a.x - r->centre.x, a.y - r->centre.y, a.z - r->centre.z};
      const DirectionCosines d2{b.x - r->centre.x, b.y - r->centre.y, b.z - r->centre.z};
      ASSERT_GT(geodesy::Dot(geodesy::Cross(d1, d2), r->centre), 0.0) << "cell " << c << " neighbour " << k;
      DirectionCosines v;
      cells::VoronoiVertex(idx, c, k, v);
      vertices.push_back(v);
    }
    total += geodesy::CellTrueArea(&e, r->centre, vertices);
  }
  const GeographicLib::Geodesic geod(e.a, (e.a - e.b) / e.a);
  EXPECT_NEAR(total / geod.EllipsoidArea(), 1.0, 1e-9);
  std::printf("grown index: %d cells, cell areas / ellipsoid - 1 = %.2e\n", (int)idx.cell_count,
              total / geod.EllipsoidArea() - 1);
  // Locate in the grown index is the nearest centre, every point: checked
  // against every centre in the slab of z within the found distance (a
  // nearer centre cannot lie outside it, since the chord is at least the
  // difference in z).
  std::vector<std::pair<double, int32_t>> by_z;
  for (int32_t c = 0; c < idx.cell_count; ++c) by_z.push_back({idx.cells[c]->centre.z, c});
  std::sort(by_z.begin(), by_z.end());
  std::mt19937_64 rng(5);
  std::normal_distribution<double> n(0, 1);
  int wrong = 0;
  for (int i = 0; i < 100000; ++i) {
    const DirectionCosines p = geodesy::Normalised({n(rng), n(rng), n(rng)});
    const int32_t got = cells::Locate(idx, p);
    ASSERT_GE(got, 0);
    ASSERT_LT(got, idx.cell_count);
    const double d = geodesy::ChordSq(idx.cells[got]->centre, p);
    const double r = std::sqrt(d);
    auto lo = std::lower_bound(by_z.begin(), by_z.end(), std::make_pair(p.z - r, INT32_MIN));
    for (auto it = lo; it != by_z.end() && it->first <= p.z + r; ++it)
      if (geodesy::ChordSq(idx.cells[it->second]->centre, p) < d) {
        ++wrong;
        break;
      }
  }
  EXPECT_EQ(wrong, 0);
  std::printf("grown index: Locate differs from the nearest centre for %d of 100000 points\n", wrong);
  cells::ReleaseIndex(idx);
  cells::ReleaseIndex(base);
}

// At a terminal the console serves the map window and the events file too:
// ReCenter typed at the console takes its click from the file.
TEST_F(ModesProgram, TerminalConsoleFeedsTheModeFromTheEventsFile) {
  if (system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  std::ofstream(dir_ + "/t.events") << "click 400 300\n";
  const std::string cmd = "cd '" + dir_ + "' && (sleep 1; printf 'ReCenter\\r'; sleep 2; printf 'Quit\\r') | " +
                          "SDL_VIDEODRIVER=dummy timeout 30 script -qc \"'" + bin_ +
                          "/ombrel' --events t.events\" /dev/null 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  const size_t prompt = out.find("Click on new center or press <ESC>");
  ASSERT_NE(prompt, std::string::npos) << out;
  // The description line of the new geometry follows the prompt.
  EXPECT_NE(out.find("10000000 stereo", prompt), std::string::npos) << out;
}

}  // namespace
