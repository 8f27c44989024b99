// The collection reader and builder: header checks in order, damaged and
// truncated files, names, the region search against the point-in-region test
// on the source object, the nearest point and line against brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "lib/cells/cell_locate.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/cell_chains.h"
#include "lib/ops/collection.h"
#include "lib/ops/derive_params.h"
#include "lib/ops/collection_build.h"
#include "lib/ops/rset_point_test.h"
#include "tests/ops/ops_test_util.h"

namespace {

using geodesy::DirectionCosines;
using ops::Collection;
using ops::CollOpenReport;
namespace ot = ops::testing;

class CollectionTest : public ::testing::Test {
 protected:
  static cells::CellIndex idx;
  static void SetUpTestSuite() { ASSERT_TRUE(ot::LoadIndex("isotype.vix", idx)); }
  std::string dir;
  void SetUp() override {
    char t[] = "/tmp/colltestXXXXXX";
    ASSERT_NE(mkdtemp(t), nullptr);
    dir = t;
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  std::string Path(const char* name) const { return dir + "/" + name; }
  static void Write(const std::string& p, const std::vector<std::uint8_t>& b) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
};
cells::CellIndex CollectionTest::idx;

// A ring of n vertices at angular radius r (radians) about c, counterclockwise
// seen from outside (inside on the left), or clockwise for a hole.
std::vector<DirectionCosines> Cap(const DirectionCosines& c, double r, int n, bool hole = false) {
  const geodesy::TangentFrame f = geodesy::BuildTangentFrame(c);
  std::vector<DirectionCosines> v;
  for (int i = 0; i < n; ++i) {
    const double t = 2 * M_PI * (hole ? n - i : i) / n;
    v.push_back(geodesy::LiftFromFrame(f, std::tan(r) * std::cos(t), std::tan(r) * std::sin(t)));
  }
  return v;
}

void AddRing(std::vector<cells::PointNode>& nodes, const std::vector<DirectionCosines>& v, std::uint64_t id) {
  for (const auto& p : v) nodes.push_back({p, 0});
  nodes.push_back(cells::Mark(id));
}

ot::HeapObject Regions(cells::CellIndex& idx, const std::vector<cells::PointNode>& nodes) {
  ot::HeapObject h;
  ot::Build(idx, cells::kRset, nodes, h, 10);
  return h;
}

std::vector<std::uint32_t> At(Collection& c, cells::CellIndex& idx, const DirectionCosines& p, int* n = nullptr) {
  std::uint32_t out[8];
  const int k = c.RegionsAt(idx, cells::Locate(idx, p), p, out, 8);
  if (n) *n = k;
  std::vector<std::uint32_t> v(out, out + std::min(k, 8));
  std::sort(v.begin(), v.end());
  return v;
}

TEST_F(CollectionTest, HeaderChecksRunInOrderAndReportBothNumbers) {
  std::vector<cells::PointNode> nodes;
  AddRing(nodes, Cap(ot::LatLonDeg(10, 20), 0.05, 12), 7);
  ot::HeapObject h = Regions(idx, nodes);
  ASSERT_EQ(h.status, 0);
  std::map<std::uint32_t, std::string> names{{7, "Seven"}};
  ops::CollBuildResult b = ops::BuildCollection(idx, h.obj, &names, 1234);
  ASSERT_EQ(b.status, 0);
  auto open = [&](std::vector<std::uint8_t> plr, const std::vector<std::uint8_t>* dat, int dim) {
    Write(Path("c.plr"), plr);
    std::remove(Path("c.dat").c_str());
    if (dat) Write(Path("c.dat"), *dat);
    Collection c;
    return c.Open(Path("c.plr"), Path("c.dat"), idx, dim);
  };
  EXPECT_EQ(open(b.plr, &b.dat, 2).status, ops::kCollOk);
  for (int release : {299, 361}) {
    auto p = b.plr;
    cells::Store<std::uint16_t>(p.data(), static_cast<std::uint16_t>(release));
    CollOpenReport r = open(p, &b.dat, 2);
    EXPECT_EQ(r.status, ops::kCollReleaseMismatch);
    EXPECT_EQ(r.a, 360);
    EXPECT_EQ(r.b, release);
  }
  for (int release : {300, 360}) {
    auto p = b.plr;
    cells::Store<std::uint16_t>(p.data(), static_cast<std::uint16_t>(release));
    EXPECT_EQ(open(p, &b.dat, 2).status, ops::kCollOk) << release;
  }
  auto bad_index = b.plr;
  cells::Store<std::uint32_t>(bad_index.data() + 8, idx.index_id + 1);
  CollOpenReport r = open(bad_index, &b.dat, 2);
  EXPECT_EQ(r.status, ops::kCollIndexMismatch);
  EXPECT_EQ(r.a, idx.index_id);
  EXPECT_EQ(r.b, idx.index_id + 1);
  // Two faults at once: the first check in order is the one reported.
  auto both = bad_index;
  cells::Store<std::uint16_t>(both.data(), 299);
  EXPECT_EQ(open(both, &b.dat, 2).status, ops::kCollReleaseMismatch);
  auto dim1 = bad_index;
  cells::Store<std::int16_t>(dim1.data() + 2, 1);
  EXPECT_EQ(open(dim1, &b.dat, 2).status, ops::kCollIndexMismatch);
  // Dimension: a region collection serves every search.
  for (int d = 0; d <= 2; ++d) EXPECT_EQ(open(b.plr, &b.dat, d).status, ops::kCollOk) << d;
  auto dat = b.dat;
  cells::Store<std::uint32_t>(dat.data(), 99);
  r = open(b.plr, &dat, 2);
  EXPECT_EQ(r.status, ops::kCollDbIdMismatch);
  EXPECT_EQ(r.a, 1234);
  EXPECT_EQ(r.b, 99);
  std::vector<std::uint8_t> short_dat(b.dat.begin(), b.dat.begin() + 5);
  EXPECT_EQ(open(b.plr, &short_dat, 2).status, ops::kCollAttHeaderError);
  std::vector<std::uint8_t> short_plr(b.plr.begin(), b.plr.begin() + 43);
  EXPECT_EQ(open(short_plr, &b.dat, 2).status, ops::kCollHeaderError);
  Collection c;
  EXPECT_EQ(c.Open(Path("none.plr"), Path("none.dat"), idx, 2).status, ops::kCollOpenError);
}

TEST_F(CollectionTest, LineCollectionRefusesTheRegionSearchAndDamagedFilesAreRefusedSafely) {
  std::vector<cells::PointNode> nodes;
  for (int i = 0; i < 5; ++i) {
    nodes.push_back({ot::LatLonDeg(i, 0), 0});
    nodes.push_back({ot::LatLonDeg(i, 3), 0});
    nodes.push_back(cells::Mark(100 + i));
  }
  ot::HeapObject lines;
  ot::Build(idx, cells::kLset, nodes, lines, 10);
  ASSERT_EQ(lines.status, 0);
  ops::CollBuildResult b = ops::BuildCollection(idx, lines.obj, nullptr, 5);
  ASSERT_EQ(b.status, 0);
  Write(Path("l.plr"), b.plr);
  Collection c;
  CollOpenReport r = c.Open(Path("l.plr"), "", idx, 2);
  EXPECT_EQ(r.status, ops::kCollDimensionMismatch);
  EXPECT_EQ(r.a, 1);
  EXPECT_EQ(r.b, 2);
  EXPECT_EQ(c.Open(Path("l.plr"), "", idx, 0).status, ops::kCollOk);

  // Regions: truncated at every length of the fixed part and at many more,
  // and bytes overwritten anywhere: refused or readable, never a read out of
  // the file (ASan builds watch that).
  std::vector<cells::PointNode> rn;
  AddRing(rn, Cap(ot::LatLonDeg(-30, 140), 0.08, 20), 3);
  AddRing(rn, Cap(ot::LatLonDeg(-30, 140), 0.02, 8, true), 3);
  ot::HeapObject h = Regions(idx, rn);
  ops::CollBuildResult rb = ops::BuildCollection(idx, h.obj, nullptr, 5);
  ASSERT_EQ(rb.status, 0);
  std::mt19937_64 rng(3);
  for (std::size_t len = 0; len < rb.plr.size(); len += (len < 200 ? 1 : 997)) {
    std::vector<std::uint8_t> p(rb.plr.begin(), rb.plr.begin() + static_cast<long>(len));
    Write(Path("r.plr"), p);
    EXPECT_NE(c.Open(Path("r.plr"), "", idx, 2).status, ops::kCollOk) << len;
  }
  for (int trial = 0; trial < 300; ++trial) {
    auto p = rb.plr;
    const std::size_t at = rng() % p.size();
    p[at] = static_cast<std::uint8_t>(rng());
    Write(Path("r.plr"), p);
    if (c.Open(Path("r.plr"), "", idx, 2).status == ops::kCollOk) {
      for (int k = 0; k < 20; ++k) {
        const DirectionCosines q = ot::LatLonDeg(-30 + (k - 10) * 0.01, 140 + (k % 3) * 0.05);
        At(c, idx, q);
        c.NearestTo(idx, cells::Locate(idx, q), q, 1);
      }
    }
  }
}

TEST_F(CollectionTest, RegionSearchHolesOverlapsAndQuickCircles) {
  const DirectionCosines c0 = ot::LatLonDeg(45, -100);
  std::vector<cells::PointNode> nodes;
  for (int i = 0; i < 9; ++i) AddRing(nodes, Cap(c0, 0.02 + 0.01 * i, 10 + i), 10 + i);
  // A region with a hole, elsewhere.
  const DirectionCosines c1 = ot::LatLonDeg(-10, 60);
  AddRing(nodes, Cap(c1, 0.1, 24), 50);
  AddRing(nodes, Cap(c1, 0.03, 12, true), 50);
  ot::HeapObject h = Regions(idx, nodes);
  ASSERT_EQ(h.status, 0);
  ops::CollBuildResult b = ops::BuildCollection(idx, h.obj, nullptr, 1);
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(b.items, 10u);
  EXPECT_GT(b.quick_circles, 0u);
  Write(Path("o.plr"), b.plr);
  Collection c;
  ASSERT_EQ(c.Open(Path("o.plr"), "", idx, 2).status, ops::kCollOk);
  int n = 0;
  At(c, idx, c0, &n);
  EXPECT_EQ(n, 9) << "nine overlapping regions are more than the eight reported";
  const geodesy::TangentFrame f = geodesy::BuildTangentFrame(c0);
  // Between the radii of the fifth and sixth caps: the six larger ones.
  const DirectionCosines p5 = geodesy::LiftFromFrame(f, std::tan(0.065), 0.0);
  EXPECT_EQ(At(c, idx, p5).size(), 4u);
  const geodesy::TangentFrame f1 = geodesy::BuildTangentFrame(c1);
  EXPECT_TRUE(At(c, idx, c1).empty()) << "the hole is not in the region";
  const auto ring = At(c, idx, geodesy::LiftFromFrame(f1, 0.0, std::tan(0.06)));
  ASSERT_EQ(ring.size(), 1u);
  EXPECT_EQ(c.Region(ring[0]).id, 50u);
  EXPECT_EQ(c.Region(ring[0]).rings, 2u);

  // The region search agrees with the point-in-region test on the source
  // object everywhere near the regions (quick circles and interior cells
  // never pass over a region that holds the position).
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-0.2, 0.2);
  int checked = 0;
  for (const DirectionCosines& cc : {c0, c1}) {
    const geodesy::TangentFrame fc = geodesy::BuildTangentFrame(cc);
    for (int i = 0; i < 4000; ++i) {
      const DirectionCosines q = geodesy::LiftFromFrame(fc, u(rng), u(rng));
      int k = 0;
      const auto got = At(c, idx, q, &k);
      if (k > 8) continue;
      std::vector<std::uint32_t> want;
      for (std::size_t g = 0; g < c.RegionCount(); ++g)
        if (ops::q7_RsetPointTest(idx, q, c.Region(g).obj, 0.0, 0) > 0) want.push_back(static_cast<std::uint32_t>(g));
      EXPECT_EQ(got, want);
      ++checked;
    }
  }
  EXPECT_GT(checked, 7000);
}

// The rings of a region text file, read in doubles.
bool ReadRegionText(const std::string& path, std::vector<cells::PointNode>& nodes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  cells::CoordReadOptions o;
  o.kind = 2;
  o.res = 10;
  const bool ok = cells::ReadCoordText(f, o, nodes).status == 0;
  std::fclose(f);
  return ok;
}

TEST_F(CollectionTest, LandRegionsAgreeWithTheSourceObject) {
  // Every ring of the land text as one region (holes stay holes).
  std::vector<cells::PointNode> nodes;
  ASSERT_TRUE(ReadRegionText(ot::SourceDir() + "data/land110m.rgn", nodes));
  for (auto& n : nodes)
    if (cells::IsMark(n)) n.attribute = 1;
  ot::HeapObject land = Regions(idx, nodes);
  ASSERT_EQ(land.status, 0);
  ops::CollBuildResult b = ops::BuildCollection(idx, land.obj, nullptr, 1);
  ASSERT_EQ(b.status, 0);
  Write(Path("land.plr"), b.plr);
  Collection c;
  ASSERT_EQ(c.Open(Path("land.plr"), "", idx, 2).status, ops::kCollOk);
  std::mt19937_64 rng(5);
  int agree = 0, inside = 0;
  const int n = ot::Sanitized() ? 2000 : 20000;
  for (int i = 0; i < n; ++i) {
    const DirectionCosines q = ot::RandomUnit(rng);
    const bool want = ops::q7_RsetPointTest(idx, q, land.obj, 0.0, 0) > 0;
    const bool got = !At(c, idx, q).empty();
    agree += want == got;
    inside += want;
  }
  EXPECT_EQ(agree, n);
  EXPECT_GT(inside, n / 5);
}

// Queries of the brute-force checks: 2 000 in an ordinary run, 20 000 with
// OMBREL_COLLECTIONS_FULL set.
int Queries() {
  const char* full = std::getenv("OMBREL_COLLECTIONS_FULL");
  return full && *full && std::string(full) != "0" ? 20000 : 2000;
}

// The region search's prepared cell test (the quadtree of decided squares
// and near legs) against the point test it stands for, value for value:
// the countries at 110m (Sudan's self-crossing ring, rings meeting along
// cell edges, islands inside one cell), a cap with a hole and two halves of
// a cap that share their cut, at random points of each border cell and at
// points beside every vertex and leg, from half the fuzz to a kilometre.
TEST_F(CollectionTest, PreparedCellTestGivesThePointTestsAnswers) {
  std::vector<cells::PointNode> nodes;
  ASSERT_TRUE(ReadRegionText(ot::SourceDir() + "data/countries110m.rgn", nodes));
  const DirectionCosines c0 = ot::LatLonDeg(-30, 140);
  AddRing(nodes, Cap(c0, 0.04, 40), 901);
  AddRing(nodes, Cap(c0, 0.015, 17, true), 901);
  // Two halves of a cap about c1, cut along one great circle through it.
  const DirectionCosines c1 = ot::LatLonDeg(35, -40);
  const geodesy::TangentFrame fr = geodesy::BuildTangentFrame(c1);
  for (int half = 0; half < 2; ++half) {
    std::vector<DirectionCosines> v;
    for (int i = 0; i <= 20; ++i) {
      const double t = M_PI * (half + i / 20.0);
      v.push_back(geodesy::LiftFromFrame(fr, 0.05 * std::cos(t), 0.05 * std::sin(t)));
    }
    AddRing(nodes, v, 902);
  }
  ot::HeapObject h = Regions(idx, nodes);
  ASSERT_EQ(h.status, 0);
  ops::CollBuildResult b = ops::BuildCollection(idx, h.obj, nullptr, 3);
  ASSERT_EQ(b.status, 0);
  Write(Path("p.plr"), b.plr);
  Collection c;
  ASSERT_EQ(c.Open(Path("p.plr"), "", idx, 2).status, ops::kCollOk);
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  const double fuzz = ops::EffectiveFuzz(0.0);
  const double scales[] = {0.5 * fuzz, 1.5 * fuzz, 1e-7, 1e-5, 1.6e-4};
  long compared = 0, differ = 0, values[5] = {};
  for (std::size_t r = 0; r < c.RegionCount(); ++r) {
    const cells::Object& obj = c.Region(r).obj;
    for (std::int32_t cell = 0; cell < idx.cell_count; ++cell) {
      if (!ops::HasPiecesIn(obj, cell)) continue;
      ops::RsetCellTest t;
      ops::PrepareRsetCellTest(idx, cell, obj, 0.0, t);
      ops::RsetTestCache cache;
      std::vector<ops::PlanePoint> qs;
      const double half = t.half > 0 ? t.half : 0.01;
      for (int i = 0; i < 60; ++i) qs.push_back({t.cu + half * uni(rng), t.cv + half * uni(rng)});
      const auto& pts = t.chains.points;
      for (std::size_t j = 0; j < pts.size(); ++j) {
        const double s = scales[rng() % 5];
        qs.push_back({pts[j].u + s * uni(rng), pts[j].v + s * uni(rng)});
        if (j + 1 >= pts.size()) continue;
        const double du = pts[j + 1].u - pts[j].u, dv = pts[j + 1].v - pts[j].v, len = std::hypot(du, dv);
        if (!(len > 0)) continue;
        const double k = scales[rng() % 5] / len, m = 0.5 + 0.5 * uni(rng);
        for (int side : {1, -1})
          qs.push_back({pts[j].u + m * du - side * k * dv, pts[j].v + m * dv + side * k * du});
      }
      for (const ops::PlanePoint& q : qs) {
        const int want = ops::q7_RsetPointTestInCell(idx, cell, q, obj, 0.0, 0, &cache);
        const int got = ops::RsetCellTestAt(idx, obj, t, q);
        ++compared;
        ++values[want + 2];
        if (got != want && ++differ <= 5)
          ADD_FAILURE() << "region " << r << " cell " << cell << " at " << q.u << " " << q.v << ": " << got
                        << ", the point test " << want;
      }
    }
  }
  std::printf("prepared cell test: %ld positions, %ld differ (-2..2: %ld %ld %ld %ld %ld)\n", compared, differ,
              values[0], values[1], values[2], values[3], values[4]);
  EXPECT_EQ(differ, 0);
  EXPECT_GT(values[2], 1000);  // positions within the fuzz of a boundary were tried
}

TEST_F(CollectionTest, NearestPointAndLineMatchBruteForceAndWiden) {
  std::mt19937_64 rng(7);
  // Points: random, plus a sparse collection of three.
  for (int count : {3, 2000}) {
    std::vector<cells::PointNode> nodes;
    std::vector<DirectionCosines> pts;
    for (int i = 0; i < count; ++i) {
      pts.push_back(ot::RandomUnit(rng));
      nodes.push_back({pts.back(), static_cast<std::uint64_t>(1000 + i)});
    }
    ot::HeapObject ps;
    ot::Build(idx, cells::kPset, nodes, ps, 11);
    ASSERT_EQ(ps.status, 0);
    ops::CollBuildResult b = ops::BuildCollection(idx, ps.obj, nullptr, 1);
    ASSERT_EQ(b.status, 0);
    Write(Path("p.plr"), b.plr);
    Collection c;
    ASSERT_EQ(c.Open(Path("p.plr"), "", idx, 0).status, ops::kCollOk);
    int widened = 0;
    const int queries = count == 3 ? 100 : Queries();
    for (int q = 0; q < queries; ++q) {
      const DirectionCosines p = ot::RandomUnit(rng);
      Collection::Nearest got = c.NearestTo(idx, cells::Locate(idx, p), p, 0);
      ASSERT_TRUE(got.found);
      double best = 10;
      for (const auto& x : pts) best = std::min(best, ops::CollAngle(x, p));
      EXPECT_NEAR(got.angle, best, 1e-9);
      widened += got.rings_searched > 0;
    }
    if (count == 3) { EXPECT_GT(widened, 90); }
    // Round trip: each point found again at its own position, with its datum.
    for (int i = 0; i < std::min(count, 200); ++i) {
      Collection::Nearest got = c.NearestTo(idx, cells::Locate(idx, pts[i]), pts[i], 0);
      EXPECT_LT(got.angle, 1e-6);
      EXPECT_EQ(got.datum, static_cast<std::uint32_t>(1000 + i));
    }
  }
  // Lines: random short polylines; the nearest line and side. Their own
  // generator, so that the layout does not depend on the query counts.
  std::mt19937_64 lrng(8);
  std::vector<cells::PointNode> nodes;
  std::vector<std::vector<DirectionCosines>> lines;
  for (int i = 0; i < 300; ++i) {
    const DirectionCosines a = ot::RandomUnit(lrng);
    const geodesy::TangentFrame f = geodesy::BuildTangentFrame(a);
    std::vector<DirectionCosines> v{a};
    for (int k = 1; k < 4; ++k) v.push_back(geodesy::LiftFromFrame(f, 0.02 * k, 0.01 * (k % 2)));
    for (const auto& p : v) nodes.push_back({p, 0});
    nodes.push_back(cells::Mark(500 + i));
    lines.push_back(v);
  }
  ot::HeapObject ls;
  ot::Build(idx, cells::kLset, nodes, ls, 10);
  ASSERT_EQ(ls.status, 0);
  ops::CollBuildResult b = ops::BuildCollection(idx, ls.obj, nullptr, 1);
  ASSERT_EQ(b.status, 0);
  Write(Path("l.plr"), b.plr);
  Collection c;
  ASSERT_EQ(c.Open(Path("l.plr"), "", idx, 1).status, ops::kCollOk);
  for (int q = 0; q < Queries(); ++q) {
    const DirectionCosines p = ot::RandomUnit(rng);
    Collection::Nearest got = c.NearestTo(idx, cells::Locate(idx, p), p, 1);
    ASSERT_TRUE(got.found);
    double best = 10;
    std::size_t which = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
      for (std::size_t k = 0; k + 1 < lines[i].size(); ++k) {
        const double d = ops::CollLegDistance(lines[i][k], lines[i][k + 1], p, nullptr, nullptr);
        if (d < best) best = d, which = i;
      }
    EXPECT_NEAR(got.angle, best, 1e-9);
    if (std::fabs(got.angle - best) < 1e-12) { EXPECT_EQ(got.datum, 500u + which); }
  }
  // Crossing a line changes the side and keeps the line.
  const geodesy::TangentFrame f = geodesy::BuildTangentFrame(lines[0][0]);
  const DirectionCosines left = geodesy::LiftFromFrame(f, 0.01, 0.008);
  const DirectionCosines right = geodesy::LiftFromFrame(f, 0.01, 0.001);
  auto l = c.NearestTo(idx, cells::Locate(idx, left), left, 1);
  auto r = c.NearestTo(idx, cells::Locate(idx, right), right, 1);
  EXPECT_EQ(l.datum, 500u);
  EXPECT_EQ(r.datum, 500u);
  EXPECT_EQ(l.side, -r.side);
  EXPECT_NE(l.side, 0);
}

TEST_F(CollectionTest, NamesAreByteCountedUtf8AndBadReferencesReadAsNoName) {
  std::vector<cells::PointNode> nodes;
  for (int i = 0; i < 3; ++i) nodes.push_back({ot::LatLonDeg(5 * i, 5 * i), static_cast<std::uint64_t>(i + 1)});
  ot::HeapObject ps;
  ot::Build(idx, cells::kPset, nodes, ps, 11);
  std::map<std::uint32_t, std::string> names;
  ASSERT_EQ(ops::ReadCollNames("# cities\n1\tC\xc3\xb4te d'Ivoire\r\n\n2\tCura\xc3\xa7" "ao\n", names), 0);
  std::map<std::uint32_t, std::string> bad;
  EXPECT_EQ(ops::ReadCollNames("1\tA\nx2\tB\n", bad), 2);
  EXPECT_EQ(ops::ReadCollNames("12 no tab\n", bad), 1);
  names.erase(3);
  ops::CollBuildResult b = ops::BuildCollection(idx, ps.obj, &names, 77);
  ASSERT_EQ(b.status, 0);
  Write(Path("n.plr"), b.plr);
  Write(Path("n.dat"), b.dat);
  Collection c;
  ASSERT_EQ(c.Open(Path("n.plr"), Path("n.dat"), idx, 0).status, ops::kCollOk);
  std::map<std::string, int> seen;
  for (int i = 0; i < 3; ++i) {
    const DirectionCosines p = ot::LatLonDeg(5 * i, 5 * i);
    auto got = c.NearestTo(idx, cells::Locate(idx, p), p, 0);
    std::string name;
    EXPECT_TRUE(c.Name(got.datum, name));
    seen[name]++;
  }
  EXPECT_EQ(seen["C\xc3\xb4te d'Ivoire"], 1);
  EXPECT_EQ(seen["Cura\xc3\xa7" "ao"], 1);
  EXPECT_EQ(seen["3"], 1) << "an item without a name is named by its identifier";
  std::string name;
  EXPECT_FALSE(c.Name(0xFFFFFFF0u, name));
  EXPECT_FALSE(c.Name(0, name));
  // Without the attribute file the datum words are the points' own.
  ops::CollBuildResult bare = ops::BuildCollection(idx, ps.obj, nullptr, 77);
  Write(Path("m.plr"), bare.plr);
  Collection m;
  CollOpenReport r = m.Open(Path("m.plr"), Path("m.dat"), idx, 0);
  ASSERT_EQ(r.status, ops::kCollOk);
  EXPECT_FALSE(r.has_attributes);
  const DirectionCosines p = ot::LatLonDeg(10, 10);
  EXPECT_EQ(m.NearestTo(idx, cells::Locate(idx, p), p, 0).datum, 3u);
  EXPECT_FALSE(m.Name(3, name));
}

TEST_F(CollectionTest, WindowMemoryOfTheShippedIndexes) {
  EXPECT_EQ(ops::CollWindowMemory(idx, 0), 32LL * idx.max_neighbours + 424);
  EXPECT_LE(ops::CollWindowMemory(idx, 1), ops::kCollWindowLimit);
  cells::CellIndex d;
  ASSERT_TRUE(ot::LoadIndex("dodeca05.vix", d));
  EXPECT_LE(ops::CollWindowMemory(d, 1), ops::kCollWindowLimit);
  cells::ReleaseIndex(d);
}

}  // namespace
