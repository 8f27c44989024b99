// Location and the cell queries: tie rules, the walk hint, Voronoi vertex
// signs, bit sets, near cells and the outward search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "index_support.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/workspace.h"

namespace cells {
namespace {

using geodesy::ChordSq;
using geodesy::DirectionCosines;

DirectionCosines RandomPoint(std::mt19937_64& rng) {
  std::normal_distribution<double> g;
  return geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)});
}

struct Dodeca : ::testing::Test {
  CellIndex idx;
  void SetUp() override { ASSERT_EQ(test::LoadShipped("dodeca05.vix", idx), 0); }
  void TearDown() override { ReleaseIndex(idx); }
};

TEST_F(Dodeca, ACentreIsFoundFromAnyStart) {
  std::mt19937_64 rng(5);
  for (int t = 0; t < 300; ++t) {
    const std::int32_t target = static_cast<std::int32_t>(rng() % idx.cell_count);
    const std::int32_t start = static_cast<std::int32_t>(rng() % idx.cell_count);
    EXPECT_EQ(LocateFrom(idx, start, idx.cells[target]->centre), target);
    idx.walk_hint = start;
    EXPECT_EQ(Locate(idx, idx.cells[target]->centre), target);
    EXPECT_EQ(idx.walk_hint, target);
  }
}

TEST_F(Dodeca, LocatingTheSamePointAgainTakesNoStep) {
  std::mt19937_64 rng(6);
  for (int t = 0; t < 100; ++t) {
    const DirectionCosines p = RandomPoint(rng);
    const std::int32_t c = Locate(idx, p);
    int steps = -1;
    EXPECT_EQ(LocateFrom(idx, idx.walk_hint, p, &steps), c);
    EXPECT_EQ(steps, 0);
  }
}

TEST_F(Dodeca, HalfwayBetweenTwoCentresGoesToTheLowerNumber) {
  // The index is symmetric about the plane y = 0: a cell and its mirror
  // image are exactly as far from any point of that plane.
  int checked = 0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const CellRecord* r = idx.cells[i];
    const DirectionCosines& a = r->centre;
    if (a.y <= 0) continue;
    for (int k = 0; k < r->neighbour_count; ++k) {
      const std::int32_t j = r->neighbours[k];
      const DirectionCosines& b = idx.cells[j]->centre;
      if (b.x != a.x || b.z != a.z || b.y != -a.y) continue;
      const DirectionCosines mid = geodesy::Normalised(DirectionCosines{a.x, 0.0, a.z});
      ASSERT_EQ(ChordSq(mid, a), ChordSq(mid, b));
      const std::int32_t third = r->neighbours[(k + 1) % r->neighbour_count];  // next to both
      if (ChordSq(mid, idx.cells[third]->centre) <= ChordSq(mid, a)) continue;
      idx.walk_hint = third;
      EXPECT_EQ(Locate(idx, mid), std::min(i, j)) << "cells " << i << " and " << j;
      // From either of the two themselves the walk does not move.
      EXPECT_EQ(LocateFrom(idx, i, mid), i);
      EXPECT_EQ(LocateFrom(idx, j, mid), j);
      ++checked;
    }
  }
  EXPECT_GT(checked, 20);
}

TEST_F(Dodeca, StartTableAndPlainWalkAgree) {
  std::mt19937_64 rng(7);
  ASSERT_TRUE(BuildStartTable(idx));
  for (int t = 0; t < 20000; ++t) {
    const DirectionCosines p = RandomPoint(rng);
    const std::int32_t from_zero = LocateFrom(idx, 0, p);
    EXPECT_EQ(Locate(idx, p), from_zero);
  }
  DropStartTable(idx);
  EXPECT_EQ(idx.extra, nullptr);
}

TEST_F(Dodeca, NoPositionAndEmptyIndex) {
  idx.walk_hint = 12;
  EXPECT_EQ(Locate(idx, DirectionCosines{geodesy::NOVALUE, 0, 0}), 12);
  CellIndex empty;
  EXPECT_EQ(Locate(empty, DirectionCosines{1, 0, 0}), NO_CELL);
}

TEST_F(Dodeca, VertexSignsFollowTheTurn) {
  for (std::int32_t i = 0; i < idx.cell_count; i += 501) {
    const CellRecord* r = idx.cells[i];
    for (int k = 0; k < r->neighbour_count; ++k) {
      DirectionCosines v;
      ASSERT_EQ(VoronoiVertex(idx, i, k, v), 1);
      // The vertex is equally far from the three centres.
      const double da = ChordSq(v, r->centre);
      EXPECT_NEAR(ChordSq(v, idx.cells[r->neighbours[k]]->centre), da, 1e-13);
      EXPECT_NEAR(ChordSq(v, idx.cells[r->neighbours[(k + 1) % r->neighbour_count]]->centre), da, 1e-13);
      // Swapping the two neighbours turns it round.
      DirectionCosines w;
      EXPECT_EQ(VertexOf(r->centre, idx.cells[r->neighbours[(k + 1) % r->neighbour_count]]->centre,
                         idx.cells[r->neighbours[k]]->centre, w),
                -1);
    }
  }
  DirectionCosines v;
  const DirectionCosines a{1, 0, 0};
  EXPECT_EQ(VertexOf(a, a, a, v), 0) << "three equal centres have no vertex";
  EXPECT_FALSE(geodesy::IsValid(v));
}

TEST(BitSet, SetsClearsAndTestsSingleCells) {
  std::vector<std::uint32_t> set(BitSetWords(70), 0xFFFFFFFFu);
  EXPECT_EQ(set.size(), 3u);
  BitSetClearAll(set.data(), 70);
  for (std::int32_t c : {0, 31, 32, 69}) {
    EXPECT_FALSE(BitSetTest(set.data(), c));
    BitSetSet(set.data(), c);
    EXPECT_TRUE(BitSetTest(set.data(), c));
  }
  EXPECT_FALSE(BitSetTest(set.data(), 30));
  EXPECT_FALSE(BitSetTest(set.data(), 33));
  BitSetClear(set.data(), 31);
  EXPECT_FALSE(BitSetTest(set.data(), 31));
  EXPECT_TRUE(BitSetTest(set.data(), 32));
  EXPECT_EQ(set[2], 1u << 5);
}

TEST_F(Dodeca, NearCellsLimitsAndOrder) {
  const DirectionCosines p = geodesy::Normalised(DirectionCosines{0.3, -0.5, 0.8});
  const std::int32_t h = Locate(idx, p);
  const double own = ChordSq(p, idx.cells[h]->centre);
  std::vector<std::uint32_t> l = NearCellsList(idx, p, own * 0.5);
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0], 1u);
  EXPECT_EQ(l[1], static_cast<std::uint32_t>(NO_CELL));
  // A limit that admits only the own cell (every neighbour is farther).
  double nearest_other = 4.0;
  for (int k = 0; k < idx.cells[h]->neighbour_count; ++k)
    nearest_other = std::min(nearest_other, ChordSq(p, idx.cells[idx.cells[h]->neighbours[k]]->centre));
  l = NearCellsList(idx, p, (own + nearest_other) / 2);
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0], 2u);
  EXPECT_EQ(l[1], static_cast<std::uint32_t>(h));
  // A wide limit: exactly the cells within it (the flood reaches them all
  // on a Voronoi index of a convex cap), own cell first, then ascending.
  const double limit = 0.01;
  l = NearCellsList(idx, p, limit);
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l[0], l.size());
  EXPECT_EQ(l[1], static_cast<std::uint32_t>(h));
  EXPECT_TRUE(std::is_sorted(l.begin() + 2, l.end()));
  std::set<std::uint32_t> got(l.begin() + 1, l.end());
  std::set<std::uint32_t> want{static_cast<std::uint32_t>(h)};
  for (std::int32_t i = 0; i < idx.cell_count; ++i)
    if (ChordSq(p, idx.cells[i]->centre) < limit) want.insert(static_cast<std::uint32_t>(i));
  EXPECT_EQ(got, want);
}

TEST_F(Dodeca, NearCellsOnTheWorkspaceKeepsItsTop) {
  std::vector<std::uint64_t> mem(1 << 15);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size() * 8));
  const DirectionCosines p{0, 0, 1};
  std::uint8_t* top = ws.top;
  std::uint32_t* heap = NearCellsIn(idx, &ws, p, 0.002, nullptr);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(ws.top, top) << "scratch space is not kept";
  std::uint32_t* in_ws = NearCellsIn(idx, &ws, p, 0.002, &ws);
  ASSERT_NE(in_ws, nullptr);
  EXPECT_EQ(in_ws[0], heap[0]);
  EXPECT_TRUE(std::equal(heap, heap + heap[0], in_ws));
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(in_ws), top);
  EXPECT_EQ(ws.top, top + ((heap[0] * 4 + 7) / 8) * 8) << "only the list stays taken";
  std::free(heap);
  // An arena too small for the bit sets gives no list and takes nothing.
  platform::Workspace small;
  platform::WorkspaceInit(&small, mem.data(), 1024);
  EXPECT_EQ(NearCellsIn(idx, &small, p, 0.002, nullptr), nullptr);
  EXPECT_EQ(small.top, small.base);
}

int Never(std::int32_t, void* ctx) {
  ++*static_cast<int*>(ctx);
  return 0;
}

struct Wanted {
  std::int32_t cell;
  std::vector<std::int32_t> visited;
};
int IsWanted(std::int32_t c, void* ctx) {
  auto* w = static_cast<Wanted*>(ctx);
  w->visited.push_back(c);
  return c == w->cell;
}

TEST_F(Dodeca, SearchOutwardVisitsEveryCellOnceWhenNothingQualifies) {
  std::vector<std::uint64_t> mem(1 << 14);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size() * 8));
  int calls = 0;
  EXPECT_EQ(SearchOutwardIn(idx, &ws, DirectionCosines{1, 0, 0}, Never, &calls), NO_CELL);
  EXPECT_EQ(calls, idx.cell_count);
  EXPECT_EQ(ws.top, ws.base) << "the workspace is given back";
}

TEST_F(Dodeca, SearchOutwardIsBreadthFirst) {
  std::vector<std::uint32_t> scratch(SearchOutwardScratchBytes(idx) / 4);
  const DirectionCosines p = geodesy::Normalised(DirectionCosines{-0.2, 0.7, 0.1});
  const std::int32_t h = Locate(idx, p);
  const std::int32_t ring1 = idx.cells[h]->neighbours[2];
  const std::int32_t ring2 = idx.cells[ring1]->neighbours[0] == h ? idx.cells[ring1]->neighbours[3]
                                                                   : idx.cells[ring1]->neighbours[0];
  Wanted w{ring1, {}};
  EXPECT_EQ(SearchOutward(idx, Scratch{scratch.data(), scratch.size() * 4}, p, IsWanted, &w), ring1);
  ASSERT_GE(w.visited.size(), 2u);
  EXPECT_EQ(w.visited[0], h);
  EXPECT_LE(w.visited.size(), static_cast<std::size_t>(idx.cells[h]->neighbour_count + 1));
  Wanted w2{ring2, {}};
  EXPECT_EQ(SearchOutward(idx, Scratch{scratch.data(), scratch.size() * 4}, p, IsWanted, &w2), ring2);
  // Every cell of the first ring is visited before anything farther.
  std::set<std::int32_t> first(idx.cells[h]->neighbours, idx.cells[h]->neighbours + idx.cells[h]->neighbour_count);
  for (std::size_t k = 1; k <= first.size() && k < w2.visited.size(); ++k) EXPECT_TRUE(first.count(w2.visited[k]));
  // No room: no search, except the point's own cell.
  Wanted w3{ring1, {}};
  EXPECT_EQ(SearchOutward(idx, Scratch{scratch.data(), 8}, p, IsWanted, &w3), NO_CELL);
  Wanted w4{h, {}};
  EXPECT_EQ(SearchOutward(idx, Scratch{}, p, IsWanted, &w4), h);
}

}  // namespace
}  // namespace cells
