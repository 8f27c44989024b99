// Growing an index: random centres, insertion with the neighbour update, the
// four-corner shift, the limit, and the repeatable seeded run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "index_support.h"
#include "lib/cells/cell_grow.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {
namespace {

using geodesy::ChordSq;
using geodesy::DirectionCosines;

struct Grow : ::testing::Test {
  CellIndex base;
  GrowState g;
  void SetUp() override { ASSERT_EQ(test::LoadShipped("dodeca05.vix", base), 0); }
  void TearDown() override {
    EndGrow(g);
    ReleaseIndex(base);
  }
};

// Runs the repeatable expansion by `count` centres and writes it.
std::vector<unsigned char> SeededRun(const CellIndex& base, int count, std::int64_t when, const std::string& path,
                                     int* inserted) {
  GrowState g;
  EXPECT_EQ(BeginGrow(g, base, count), 0);
  GrowRandom rnd;
  SeedGrowRandom(rnd, FIXED_GROW_SEED);
  *inserted = 0;
  for (int t = 0; t < count; ++t) {
    const int st = InsertCentre(g, RandomCentre(rnd));
    EXPECT_TRUE(st == INSERT_DONE || st == INSERT_SAME_CENTRE) << "status " << st << " at " << t;
    if (st == INSERT_DONE) ++*inserted;
  }
  const FinishResult fr = FinishGrow(g, path.c_str(), 34, when);
  EXPECT_EQ(fr.verify.status, 0) << "cells " << fr.verify.fault[0] << " " << fr.verify.fault[1];
  EXPECT_EQ(fr.write_status, 0);
  EndGrow(g);
  return test::ReadBytes(path);
}

TEST_F(Grow, SeededRunVerifiesAndRepeatsByteForByte) {
  test::TempDir dir;
  int n1 = 0, n2 = 0;
  const std::vector<unsigned char> a = SeededRun(base, 2000, 1800000000, dir.File("a.vix"), &n1);
  const std::vector<unsigned char> b = SeededRun(base, 2000, 1900000000, dir.File("b.vix"), &n2);
  EXPECT_EQ(n1, 2000);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_GT(a.size(), VIX_HEADER_SIZE);
  std::vector<std::size_t> differ;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) differ.push_back(i);
  for (std::size_t i : differ) EXPECT_TRUE((i >= 4 && i < 8) || (i >= 20 && i < 22)) << "byte " << i << " differs";

  // The written file loads, verifies, and locates exactly.
  CellIndex grown;
  ASSERT_EQ(LoadVixBytes(a.data(), a.size(), grown, 1), 0);
  EXPECT_EQ(grown.cell_count, 10242 + 2000);
  const VerifyResult v = VerifyIndex(grown);
  EXPECT_EQ(v.status, 0);
  EXPECT_NEAR(grown.max_diagonal_chord2, DiagonalStatistic(grown), 0);
  EXPECT_EQ(grown.max_neighbour_chord2, v.max_chord2);
  std::mt19937_64 rng(9);
  std::normal_distribution<double> gauss;
  for (int t = 0; t < (test::Sanitized() ? 100 : 2000); ++t) {
    const DirectionCosines p = geodesy::Normalised(DirectionCosines{gauss(rng), gauss(rng), gauss(rng)});
    std::int32_t best = 0;
    for (std::int32_t i = 1; i < grown.cell_count; ++i)
      if (ChordSq(p, grown.cells[i]->centre) < ChordSq(p, grown.cells[best]->centre)) best = i;
    ASSERT_EQ(Locate(grown, p), best);
  }
  // Scale values agree with the vertices of the grown cells, and the
  // independent wavefront sort finds the same lists.
  std::vector<DirectionCosines> centres(static_cast<std::size_t>(grown.cell_count));
  for (std::int32_t i = 0; i < grown.cell_count; ++i) centres[i] = grown.cells[i]->centre;
  for (std::int32_t i = 10242; i < grown.cell_count; i += 37) {
    std::uint16_t s;
    ASSERT_TRUE(ComputeCellScale(grown, i, s));
    EXPECT_EQ(grown.cells[i]->scale, s);
    const CellRecord* r = grown.cells[i];
    std::vector<std::int32_t> cand;
    for (int k = 0; k < r->neighbour_count; ++k) {
      const CellRecord* rn = grown.cells[r->neighbours[k]];
      cand.insert(cand.end(), rn->neighbours, rn->neighbours + rn->neighbour_count);
    }
    int count = 0;
    ASSERT_EQ(WavefrontSort(centres.data(), i, cand, &count, nullptr), WAVEFRONT_DONE);
    ASSERT_EQ(count, r->neighbour_count);
    const int at = static_cast<int>(std::find(r->neighbours, r->neighbours + count, cand[0]) - r->neighbours);
    for (int k = 0; k < count; ++k) EXPECT_EQ(cand[k], r->neighbours[(at + k) % count]);
  }
  ReleaseIndex(grown);
}

TEST_F(Grow, AnExistingCentreChangesNothing) {
  ASSERT_EQ(BeginGrow(g, base, 5), 0);
  const DirectionCosines c = base.cells[321]->centre;
  InsertReport rep;
  EXPECT_EQ(InsertCentre(g, c, &rep), INSERT_SAME_CENTRE);
  EXPECT_EQ(g.work.cell_count, base.cell_count);
  for (std::int32_t i = 0; i < base.cell_count; i += 13)
    EXPECT_EQ(std::memcmp(g.work.cells[i], base.cells[i], RecordFileSize(base.cells[i]->neighbour_count)), 0);
}

TEST_F(Grow, InsertionUpdatesTheNeighboursConsistently) {
  ASSERT_EQ(BeginGrow(g, base, 3), 0);
  const DirectionCosines p = geodesy::Normalised(DirectionCosines{0.31, 0.42, -0.77});
  InsertReport rep;
  ASSERT_EQ(InsertCentre(g, p, &rep), INSERT_DONE);
  EXPECT_EQ(rep.cell, base.cell_count);
  EXPECT_EQ(rep.shifts, 0);
  EXPECT_EQ(Locate(g.work, p), rep.cell);
  const CellRecord* r = g.work.cells[rep.cell];
  EXPECT_GE(r->neighbour_count, 3);
  EXPECT_EQ(static_cast<std::size_t>(r->neighbour_count + 1), rep.affected.size());
  EXPECT_TRUE(std::find(r->neighbours, r->neighbours + r->neighbour_count, rep.split_cell) !=
              r->neighbours + r->neighbour_count)
      << "the split cell is a neighbour";
  EXPECT_EQ(VerifyIndex(g.work).status, 0);
  EXPECT_GT(r->scale, 1);
}

TEST_F(Grow, FourCornersShiftTheCentre) {
  ASSERT_EQ(BeginGrow(g, base, 3), 0);
  // A centre on the circle through three centres (about their Voronoi
  // vertex v), on the far side of the edge between two of them: four
  // cells would meet at v.
  const CellRecord* r = g.work.cells[500];
  DirectionCosines v;
  ASSERT_EQ(VoronoiVertex(g.work, 500, 2, v), 1);
  const DirectionCosines& b = g.work.cells[r->neighbours[2]]->centre;
  const DirectionCosines& c = g.work.cells[r->neighbours[3 % r->neighbour_count]]->centre;
  const DirectionCosines m = geodesy::Normalised(DirectionCosines{b.x + c.x, b.y + c.y, b.z + c.z});
  const double mv = geodesy::Dot(m, v);
  const DirectionCosines t = geodesy::Normalised(DirectionCosines{m.x - mv * v.x, m.y - mv * v.y, m.z - mv * v.z});
  const double rho = std::acos(geodesy::Dot(v, r->centre));
  const DirectionCosines p{std::cos(rho) * v.x + std::sin(rho) * t.x, std::cos(rho) * v.y + std::sin(rho) * t.y,
                           std::cos(rho) * v.z + std::sin(rho) * t.z};
  InsertReport rep;
  const int st = InsertCentre(g, p, &rep);
  EXPECT_EQ(st, INSERT_DONE);
  EXPECT_GE(rep.shifts, 1);
  EXPECT_GT(ChordSq(rep.centre, p), 0.0) << "the centre moved";
  EXPECT_EQ(VerifyIndex(g.work).status, 0);
}

TEST_F(Grow, TheLimitStopsTheExpansion) {
  ASSERT_EQ(BeginGrow(g, base, 1), 0);
  EXPECT_EQ(g.limit, base.cell_count + 1);
  EXPECT_EQ(InsertCentre(g, geodesy::Normalised(DirectionCosines{1, 2, 3})), INSERT_DONE);
  EXPECT_EQ(InsertCentre(g, geodesy::Normalised(DirectionCosines{3, 2, 1})), INSERT_LIMIT);
  EXPECT_EQ(g.work.cell_count, base.cell_count + 1);
}

TEST_F(Grow, DenseInsertionsAroundOnePointStayValid) {
  // Many centres in a small patch make cells with many neighbours.
  ASSERT_EQ(BeginGrow(g, base, 400), 0);
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-1e-3, 1e-3);
  int done = 0;
  for (int t = 0; t < 400; ++t) {
    const int st = InsertCentre(g, geodesy::Normalised(DirectionCosines{1.0, u(rng), u(rng)}));
    ASSERT_TRUE(st == INSERT_DONE || st == INSERT_SAME_CENTRE) << st;
    done += st == INSERT_DONE;
  }
  EXPECT_GT(done, 390);
  EXPECT_EQ(VerifyIndex(g.work).status, 0);
}

TEST(GrowRandomCentres, AreUnitVectorsAndRepeat) {
  GrowRandom a, b;
  SeedGrowRandom(a, FIXED_GROW_SEED);
  SeedGrowRandom(b, FIXED_GROW_SEED);
  for (int t = 0; t < 1000; ++t) {
    const DirectionCosines p = RandomCentre(a), q = RandomCentre(b);
    EXPECT_EQ(p.x, q.x);
    EXPECT_EQ(p.z, q.z);
    EXPECT_NEAR(geodesy::Dot(p, p), 1.0, 1e-15);
  }
  for (int t = 0; t < 1000; ++t) {
    const int r = NextGrowRandom(a);
    EXPECT_GE(r, 0);
    EXPECT_LE(r, 32767);
  }
}

TEST(Assemble, RefusesBadListsAndCounts) {
  std::vector<DirectionCosines> c(7, DirectionCosines{1, 0, 0});
  std::vector<std::vector<std::int32_t>> l(7, std::vector<std::int32_t>{1, 2, 3});
  CellIndex idx;
  EXPECT_EQ(AssembleIndex(std::vector<DirectionCosines>(6, DirectionCosines{1, 0, 0}),
                          std::vector<std::vector<std::int32_t>>(6, {1, 2, 3}), 1, idx),
            3);
  l[3] = {1, 2};
  EXPECT_EQ(AssembleIndex(c, l, 1, idx), 2);
  l[3] = {1, 2, 7};
  EXPECT_EQ(AssembleIndex(c, l, 1, idx), 2);
  EXPECT_EQ(idx.cells, nullptr);
}

}  // namespace
}  // namespace cells

namespace cells {
namespace {

// The wavefront sort recovers every list of a valid index from a shuffled
// superset of candidates (neighbours and their neighbours).
TEST(Wavefront, RecoversTheNeighbourListsOfTheShippedIndex) {
  CellIndex idx;
  ASSERT_EQ(test::LoadShipped("dodeca05.vix", idx), 0);
  std::vector<DirectionCosines> centres(static_cast<std::size_t>(idx.cell_count));
  for (std::int32_t i = 0; i < idx.cell_count; ++i) centres[i] = idx.cells[i]->centre;
  std::mt19937_64 rng(11);
  for (std::int32_t i = 0; i < idx.cell_count; i += 7) {
    const CellRecord* r = idx.cells[i];
    std::vector<std::int32_t> cand;
    for (int k = 0; k < r->neighbour_count; ++k) {
      const CellRecord* rn = idx.cells[r->neighbours[k]];
      cand.insert(cand.end(), rn->neighbours, rn->neighbours + rn->neighbour_count);
    }
    std::shuffle(cand.begin(), cand.end(), rng);
    int count = 0;
    std::uint16_t scale = 0;
    ASSERT_EQ(WavefrontSort(centres.data(), i, cand, &count, &scale), WAVEFRONT_DONE) << "cell " << i;
    ASSERT_EQ(count, r->neighbour_count);
    // The same cyclic list, from wherever it starts.
    const std::int32_t* nb = r->neighbours;
    const int at = static_cast<int>(std::find(nb, nb + count, cand[0]) - nb);
    ASSERT_LT(at, count);
    for (int k = 0; k < count; ++k) EXPECT_EQ(cand[k], nb[(at + k) % count]) << "cell " << i;
    EXPECT_EQ(scale, r->scale);
  }
  // Too few candidates, and a tie: a fifth centre on the circle through a
  // cell and two neighbours.
  std::vector<std::int32_t> two{idx.cells[0]->neighbours[0], idx.cells[0]->neighbours[1]};
  int count = 0;
  EXPECT_EQ(WavefrontSort(centres.data(), 0, two, &count, nullptr), WAVEFRONT_TOO_FEW);
  ReleaseIndex(idx);
}

TEST(Wavefront, FourCentresOnOneCircleAreFourCorners) {
  // A cell at the pole with six around it, and a seventh centre on the
  // circle through the cell and its neighbours 1 and 2 (about their vertex
  // v), beyond the edge between 1 and 2.
  std::vector<DirectionCosines> c{{0, 0, 1}};
  const double s = std::sin(0.1), co = std::cos(0.1);
  for (int k = 0; k < 6; ++k) c.push_back({s * std::cos(k * M_PI / 3.0), s * std::sin(k * M_PI / 3.0), co});
  DirectionCosines v;
  ASSERT_EQ(VertexOf(c[0], c[1], c[2], v), 1);
  const DirectionCosines m = geodesy::Normalised(DirectionCosines{c[1].x + c[2].x, c[1].y + c[2].y, c[1].z + c[2].z});
  const double mv = geodesy::Dot(m, v);
  const DirectionCosines t = geodesy::Normalised(DirectionCosines{m.x - mv * v.x, m.y - mv * v.y, m.z - mv * v.z});
  auto on_circle = [&](double rho) {
    return DirectionCosines{std::cos(rho) * v.x + std::sin(rho) * t.x, std::cos(rho) * v.y + std::sin(rho) * t.y,
                            std::cos(rho) * v.z + std::sin(rho) * t.z};
  };
  const double rho = std::acos(geodesy::Dot(v, c[0]));
  c.push_back(on_circle(rho));
  std::vector<std::int32_t> cand{1, 2, 3, 4, 5, 6, 7};
  int count = 0;
  EXPECT_EQ(WavefrontSort(c.data(), 0, cand, &count, nullptr), WAVEFRONT_FOUR_CORNERS);
  // A little farther out the seventh centre is no neighbour and drops out.
  c[7] = on_circle(rho * 1.01);
  cand = {7, 1, 2, 3, 4, 5, 6};
  ASSERT_EQ(WavefrontSort(c.data(), 0, cand, &count, nullptr), WAVEFRONT_DONE);
  EXPECT_EQ(count, 6);
  EXPECT_TRUE(std::find(cand.begin(), cand.begin() + count, 7) == cand.begin() + count);
  // A little nearer it cuts the edge between 1 and 2.
  c[7] = on_circle(rho * 0.99);
  cand = {1, 2, 3, 4, 5, 6, 7};
  ASSERT_EQ(WavefrontSort(c.data(), 0, cand, &count, nullptr), WAVEFRONT_DONE);
  EXPECT_EQ(count, 7);
}

}  // namespace
}  // namespace cells
