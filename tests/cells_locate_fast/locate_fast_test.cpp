// Locate takes shortcuts (sure grid squares, the compact-node walk with its
// float test); each check here compares it with the plain walk on exact
// squared chords from the same walk hint, LocateFrom, on the points where a
// shortcut could go wrong: cell boundaries, Voronoi vertices, points of odd
// length, cells with more neighbours than a node holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "lib/cells/cell_grow.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {
namespace {

using geodesy::DirectionCosines;

std::string BinDir() {
  const char* b = std::getenv("OMBREL_BIN");
  return b ? std::string(b) + "/" : std::string("../bin/");
}

bool Sanitized() { return std::getenv("OMBREL_SANITIZED") != nullptr; }

int Load(const std::string& path, CellIndex& idx) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  const int st = LoadVix(f, idx, 1);
  std::fclose(f);
  return st;
}

// Locates p with hint as the walk hint and compares with the exact walk
// from the same hint. Counts disagreements.
int Compare(CellIndex& idx, std::int32_t hint, const DirectionCosines& p, const char* what, int& shown) {
  idx.walk_hint = hint;
  const std::int32_t want = LocateFrom(idx, hint, p);
  const std::int32_t got = Locate(idx, p);
  if (got == want && idx.walk_hint == got) return 0;
  if (++shown <= 5)
    ADD_FAILURE() << what << ": point (" << p.x << ", " << p.y << ", " << p.z << ") from hint " << hint
                  << " located in " << got << ", walk gives " << want;
  return 1;
}

// Points that sit on or next to cell boundaries: midpoints of neighbouring
// centres and Voronoi vertices, exactly and moved off by small amounts.
// Each is located from the cells around it and their neighbours (near hints,
// so the result must be the walk's even where distances tie).
int CheckBoundaries(CellIndex& idx, int stride) {
  std::mt19937_64 rng(99);
  std::normal_distribution<double> g;
  int wrong = 0, shown = 0;
  const double offsets[] = {0.0, 1e-15, 1e-13, 1e-11, 1e-9, 1e-7};
  for (std::int32_t c = 0; c < idx.cell_count; c += stride) {
    const CellRecord* r = idx.cells[c];
    for (int k = 0; k < r->neighbour_count; ++k) {
      const std::int32_t m = r->neighbours[k];
      const DirectionCosines& a = r->centre;
      const DirectionCosines& b = idx.cells[m]->centre;
      std::vector<DirectionCosines> pts;
      pts.push_back(geodesy::Normalised(DirectionCosines{a.x + b.x, a.y + b.y, a.z + b.z}));
      DirectionCosines v;
      if (VoronoiVertex(idx, c, k, v) != 0) pts.push_back(v);
      for (const DirectionCosines& q : std::vector<DirectionCosines>(pts)) {
        for (double o : offsets) {
          if (o == 0.0) continue;
          DirectionCosines s{q.x + o * g(rng), q.y + o * g(rng), q.z + o * g(rng)};
          pts.push_back(s);  // slightly off unit length too
        }
      }
      std::vector<std::int32_t> hints{c, m};
      for (int j = 0; j < idx.cells[m]->neighbour_count; ++j) hints.push_back(idx.cells[m]->neighbours[j]);
      for (const DirectionCosines& p : pts)
        for (std::int32_t h : hints) wrong += Compare(idx, h, p, "boundary", shown);
    }
  }
  return wrong;
}

// Random points (far jumps through the table) and tracks in 1 km steps
// (walks from the previous cell); each compared with the walk from the hint
// it started from.
int CheckRandomAndTracks(CellIndex& idx, int n) {
  std::mt19937_64 rng(4242);
  std::normal_distribution<double> g;
  int wrong = 0, shown = 0;
  for (int t = 0; t < n; ++t) {
    const DirectionCosines p = geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)});
    wrong += Compare(idx, idx.walk_hint, p, "random", shown);
  }
  const double step = 1.0 / 6371.0;
  for (int t = 0; t < n / 1000 + 1; ++t) {
    const DirectionCosines a = geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)});
    DirectionCosines d = geodesy::Cross(a, geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)}));
    geodesy::Normalise(d);
    for (int k = 0; k < 1000; ++k) {
      const double cs = std::cos(k * step), sn = std::sin(k * step);
      const DirectionCosines p{cs * a.x + sn * d.x, cs * a.y + sn * d.y, cs * a.z + sn * d.z};
      wrong += Compare(idx, idx.walk_hint, p, "track", shown);
    }
  }
  return wrong;
}

// Points far from unit length (the shortcuts hold only near it), the zero
// vector and non-finite components: always the walk's answer, never a crash.
int CheckOddLengths(CellIndex& idx) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> g;
  int wrong = 0, shown = 0;
  const double scales[] = {0.0, 1e-6, 0.3, 0.49, 0.51, 1.49, 1.51, 3.0, 1e6};
  for (int t = 0; t < 2000; ++t) {
    const DirectionCosines u = geodesy::Normalised(DirectionCosines{g(rng), g(rng), g(rng)});
    for (double s : scales) {
      wrong += Compare(idx, static_cast<std::int32_t>(rng() % idx.cell_count),
                       DirectionCosines{s * u.x, s * u.y, s * u.z}, "scaled", shown);
    }
  }
  const double inf = HUGE_VAL, nan = std::nan("");
  for (const DirectionCosines& p : {DirectionCosines{inf, 0, 0}, DirectionCosines{0, -inf, 1},
                                     DirectionCosines{nan, 0, 1}, DirectionCosines{0.6, nan, 0.8}}) {
    idx.walk_hint = 5;
    const std::int32_t c = Locate(idx, p);
    EXPECT_TRUE(c >= 0 && c < idx.cell_count) << c;
  }
  return wrong;
}

TEST(LocateFast, IsotypeAgreesWithTheWalk) {
  CellIndex idx;
  ASSERT_EQ(Load(BinDir() + "isotype.vix", idx), 0);
  ASSERT_TRUE(BuildStartTable(idx));
  EXPECT_EQ(CheckRandomAndTracks(idx, Sanitized() ? 5000 : 300000), 0);
  EXPECT_EQ(CheckBoundaries(idx, Sanitized() ? 997 : 37), 0);
  EXPECT_EQ(CheckOddLengths(idx), 0);
  ReleaseIndex(idx);
}

TEST(LocateFast, DodecaAgreesWithTheWalkAndTableIsRemade) {
  CellIndex idx;
  ASSERT_EQ(Load(BinDir() + "dodeca05.vix", idx), 0);
  // The table is made on the first far location.
  EXPECT_EQ(idx.extra, nullptr);
  EXPECT_EQ(CheckRandomAndTracks(idx, Sanitized() ? 2000 : 100000), 0);
  EXPECT_NE(idx.extra, nullptr);
  DropStartTable(idx);
  EXPECT_EQ(idx.extra, nullptr);
  EXPECT_EQ(CheckBoundaries(idx, Sanitized() ? 401 : 7), 0);
  ReleaseIndex(idx);
  EXPECT_EQ(idx.extra, nullptr);
}

// A grown index has cells with seven and more neighbours (walked on exact
// chords, not from nodes) and irregular cell sizes.
TEST(LocateFast, GrownIndexAgreesWithTheWalk) {
  CellIndex base;
  ASSERT_EQ(Load(BinDir() + "dodeca05.vix", base), 0);
  GrowState g;
  ASSERT_EQ(BeginGrow(g, base, 3000), 0);
  GrowRandom rnd;
  SeedGrowRandom(rnd, 5150);
  for (int t = 0; t < 3000; ++t) InsertCentre(g, RandomCentre(rnd));
  const std::string path = "cells_locate_fast_grown.vix";
  const FinishResult fr = FinishGrow(g, path.c_str(), 34, 1800000000);
  EndGrow(g);
  ReleaseIndex(base);
  ASSERT_EQ(fr.verify.status, 0);
  ASSERT_EQ(fr.write_status, 0);
  CellIndex idx;
  ASSERT_EQ(Load(path, idx), 0);
  std::remove(path.c_str());
  int big = 0;
  for (std::int32_t c = 0; c < idx.cell_count; ++c) big += idx.cells[c]->neighbour_count > 7;
  EXPECT_GT(big, 0);
  ASSERT_TRUE(BuildStartTable(idx));
  EXPECT_EQ(CheckRandomAndTracks(idx, Sanitized() ? 2000 : 100000), 0);
  EXPECT_EQ(CheckBoundaries(idx, Sanitized() ? 301 : 5), 0);
  ReleaseIndex(idx);
}

}  // namespace
}  // namespace cells
