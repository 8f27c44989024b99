// The cells of a built Lset against a brute-force walk along each leg: every
// cell the great-circle leg passes through has a piece, no piece lies in a
// cell the leg does not touch, and consecutive pieces lie in neighbouring
// cells. Legs are random: short, long (up to 170 degrees), through or beside
// Voronoi vertices, and along cell edges.
#include "lib/cells/cell_locate.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/ellipsoid.h"
#include "tests/objects/test_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <map>
#include <set>
#include <sstream>

namespace cells {
namespace {

using geodesy::DirectionCosines;
using geodesy::Dot;

DirectionCosines Unit(double x, double y, double z) { return geodesy::Normalised({x, y, z}); }

// The point a fraction t of the way along the short arc a-b.
DirectionCosines Along(const DirectionCosines& a, const DirectionCosines& b, double t) {
  const double w = std::acos(std::clamp(Dot(a, b), -1.0, 1.0));
  if (w < 1e-15) return a;
  const double s = std::sin(w), fa = std::sin((1 - t) * w) / s, fb = std::sin(t * w) / s;
  return Unit(fa * a.x + fb * b.x, fa * a.y + fb * b.y, fa * a.z + fb * b.z);
}

bool Neighbours(const CellIndex& idx, std::int32_t a, std::int32_t b) {
  const CellRecord* r = idx.cells[a];
  return std::find(r->neighbours, r->neighbours + r->neighbour_count, b) !=
         r->neighbours + r->neighbour_count;
}

// How far p lies inside cell c: its chord-distance lead over the nearest
// neighbour of c (negative when p is outside c).
double Margin(const CellIndex& idx, std::int32_t c, const DirectionCosines& p) {
  const CellRecord* r = idx.cells[c];
  double best = -2;
  for (int k = 0; k < r->neighbour_count; ++k)
    best = std::max(best, Dot(p, idx.cells[r->neighbours[k]]->centre));
  return Dot(p, r->centre) - best;
}

// One visit of the line to a cell, with the deepest margin seen in it.
struct Visit {
  std::int32_t cell;
  double depth;
};

void Add(const CellIndex& idx, std::vector<Visit>& seq, std::int32_t c, const DirectionCosines& p) {
  const double m = Margin(idx, c, p);
  if (!seq.empty() && seq.back().cell == c)
    seq.back().depth = std::max(seq.back().depth, m);
  else
    seq.push_back({c, m});
}

void Bisect(CellIndex& idx, const DirectionCosines& a, const DirectionCosines& b, double ta,
            double tb, std::int32_t ca, std::int32_t cb, std::vector<Visit>& seq, int level) {
  if (ca == cb || level > 40) return;
  const double tm = 0.5 * (ta + tb);
  const DirectionCosines m = Along(a, b, tm);
  const std::int32_t cm = Locate(idx, m);
  Bisect(idx, a, b, ta, tm, ca, cm, seq, level + 1);
  Add(idx, seq, cm, m);
  Bisect(idx, a, b, tm, tb, cm, cb, seq, level + 1);
}

// The cells along the leg a-b in order, appended to seq: dense samples,
// refined by bisection between samples in different cells.
void BruteForce(CellIndex& idx, const DirectionCosines& a, const DirectionCosines& b,
                std::vector<Visit>& seq) {
  const double len = std::acos(std::clamp(Dot(a, b), -1.0, 1.0));
  const int n = std::max(2, static_cast<int>(len / 0.002));
  std::int32_t prev = -1;
  double tprev = 0;
  for (int i = 0; i <= n; ++i) {
    const double t = static_cast<double>(i) / n;
    const DirectionCosines p = i == 0 ? a : i == n ? b : Along(a, b, t);
    const std::int32_t c = Locate(idx, p);
    if (prev >= 0) Bisect(idx, a, b, tprev, t, prev, c, seq, 0);
    Add(idx, seq, c, p);
    prev = c;
    tprev = t;
  }
}

// The smallest lag of any point of the leg behind cell c's winner (0 when
// the leg enters c): how close the leg comes to touching c.
double Gap(const CellIndex& idx, std::int32_t c, const std::vector<DirectionCosines>& v) {
  double gap = 2;
  for (std::size_t k = 1; k < v.size(); ++k)
    for (int i = 0; i <= 2000; ++i)
      gap = std::min(gap, std::max(0.0, -Margin(idx, c, Along(v[k - 1], v[k], i / 2000.0))));
  return gap;
}

class BuilderCells : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::LoadShippedIndex("isotype.vix", idx)) GTEST_SKIP() << "isotype.vix not built";
  }
  void TearDown() override { ReleaseIndex(idx); }
  CellIndex idx;
  std::mt19937_64 rng{20261208};

  DirectionCosines RandomPoint() {
    std::normal_distribution<double> g;
    return Unit(g(rng), g(rng), g(rng));
  }
  DirectionCosines Near(const DirectionCosines& p, double r) {
    std::normal_distribution<double> g;
    return Unit(p.x + r * g(rng), p.y + r * g(rng), p.z + r * g(rng));
  }
  DirectionCosines RandomVertex(std::int32_t* cell = nullptr, int* k = nullptr) {
    for (;;) {
      const std::int32_t c = std::uniform_int_distribution<std::int32_t>(0, idx.cell_count - 1)(rng);
      const int kk = std::uniform_int_distribution<int>(0, idx.cells[c]->neighbour_count - 1)(rng);
      DirectionCosines v;
      if (VoronoiVertex(idx, c, kk, v) != 0 && geodesy::IsValid(v)) {
        if (cell) *cell = c;
        if (k) *k = kk;
        return v;
      }
    }
  }

  // Builds an Lset of the line v and checks its pieces; returns the
  // number of faults found (all reported at once).
  int Check(const std::vector<DirectionCosines>& v, const char* what) {
    std::vector<PointNode> nodes;
    for (std::size_t i = 0; i < v.size(); ++i) nodes.push_back({v[i], i + 1});
    nodes.push_back(Mark(7));
    std::vector<std::uint8_t> heap;
    Object obj;
    const int status = BuildLset(idx, {nullptr, &heap}, {7, 0, 10, 0}, nodes, obj);
    EXPECT_EQ(status, 0);
    if (status != 0) return 1;
    EXPECT_EQ(ItemCount(obj), 1);
    // Pieces in item order, from the segment array.
    const Item it = LoadItem(ItemAt(obj, 0));
    std::vector<std::int32_t> order;
    for (std::int32_t k = 0; k < it.count; ++k) order.push_back(LoadPiece(PieceAt(obj, it, k)).cell);
    EXPECT_EQ(CellIndexCount(obj), it.count);

    std::ostringstream why;
    int faults = 0;
    for (std::size_t k = 1; k < order.size(); ++k)
      if (!Neighbours(idx, order[k - 1], order[k])) {
        why << " pieces " << order[k - 1] << "," << order[k] << " not neighbours;";
        ++faults;
      }
    std::vector<Visit> seq;
    for (std::size_t k = 1; k < v.size(); ++k) BruteForce(idx, v[k - 1], v[k], seq);
    // Visits per cell: the line's passes that go deeper into the cell than
    // a snap distance must each have a piece (a pass that only grazes a
    // Voronoi vertex or runs along an edge may go either way), and no cell
    // may hold more pieces than the line passes through it.
    const double tol = 3e-10;
    std::map<std::int32_t, int> deep, all, built;
    for (std::size_t k = 0; k < seq.size(); ++k) {
      if (k > 0 && seq[k].cell == seq[k - 1].cell) continue;
      all[seq[k].cell]++;
      if (seq[k].depth > tol) deep[seq[k].cell]++;
    }
    for (std::int32_t c : order) built[c]++;
    for (const auto& [c, n] : deep)
      if (built[c] < n) {
        why << " cell " << c << " passed " << n << " times has " << built[c] << " pieces;";
        ++faults;
      }
    for (const auto& [c, n] : built)
      if (n > all[c] && Gap(idx, c, v) > tol) {
        why << " cell " << c << " passed " << all[c] << " times has " << n << " pieces;";
        ++faults;
      }
    EXPECT_EQ(faults, 0) << what << ":" << why.str();
    return faults;
  }
};

TEST_F(BuilderCells, RandomLegsShortAndLong) {
  const int n = testing::Sanitized() ? 30 : 600;
  int faults = 0;
  for (int i = 0; i < n && faults < 5; ++i) {
    const DirectionCosines a = RandomPoint();
    const double r = std::pow(10.0, std::uniform_real_distribution<double>(-3.5, 0.3)(rng));
    DirectionCosines b = Near(a, r);
    if (Dot(a, b) < std::cos(170 * M_PI / 180)) continue;
    faults += Check({a, b}, "random leg");
  }
}

TEST_F(BuilderCells, LegsNearVoronoiVertices) {
  const int n = testing::Sanitized() ? 30 : 600;
  int faults = 0;
  for (int i = 0; i < n && faults < 5; ++i) {
    const DirectionCosines v = RandomVertex();
    // Through the vertex, or beside it by 1e-7 to 1e-3 radians.
    const double off = i % 3 == 0 ? 0.0 : std::pow(10.0, std::uniform_real_distribution<double>(-7, -3)(rng));
    const DirectionCosines c = off == 0 ? v : Near(v, off);
    const DirectionCosines d = c;
    const double len = std::pow(10.0, std::uniform_real_distribution<double>(-3, -1)(rng));
    const DirectionCosines dir = geodesy::Normalised(geodesy::Cross(d, RandomPoint()));
    const DirectionCosines a = Unit(d.x - len * dir.x, d.y - len * dir.y, d.z - len * dir.z);
    const DirectionCosines b = Unit(d.x + len * dir.x, d.y + len * dir.y, d.z + len * dir.z);
    faults += Check({a, b}, "near vertex");
  }
}

TEST_F(BuilderCells, LegsAlongCellEdges) {
  const int n = testing::Sanitized() ? 30 : 600;
  int faults = 0;
  for (int i = 0; i < n && faults < 5; ++i) {
    std::int32_t c;
    int k;
    RandomVertex(&c, &k);
    DirectionCosines v0, v1;
    const int cnt = idx.cells[c]->neighbour_count;
    if (VoronoiVertex(idx, c, (k + cnt - 1) % cnt, v0) == 0 || VoronoiVertex(idx, c, k, v1) == 0) continue;
    if (!geodesy::IsValid(v0) || !geodesy::IsValid(v1)) continue;
    // From just before one end of the edge to just past the other, a hair
    // to either side (or exactly on it).
    const double off = i % 4 == 0 ? 0.0 : std::pow(10.0, std::uniform_real_distribution<double>(-9, -4)(rng));
    const DirectionCosines a = Near(Along(v0, v1, -0.2), off);
    const DirectionCosines b = Near(Along(v0, v1, 1.2), off);
    faults += Check({a, b}, "along edge");
  }
}

TEST_F(BuilderCells, SelfCrossingLinesPassCellsTwice) {
  // A small bow tie crossing itself, in both axis orders, and random
  // zigzags that come back through cells they passed before.
  auto ll = [](double lat, double lon) {
    return geodesy::GeocentricToCosines({lat * M_PI / 180, lon * M_PI / 180});
  };
  Check({ll(0, 0), ll(0, 2), ll(1, 1), ll(-1, 1)}, "bow tie lat-lon");
  Check({ll(0, 0), ll(2, 0), ll(1, 1), ll(1, -1)}, "bow tie lon-lat");
  const int n = testing::Sanitized() ? 10 : 200;
  int faults = 0;
  for (int i = 0; i < n && faults < 5; ++i) {
    std::vector<DirectionCosines> v{RandomPoint()};
    const double r = std::pow(10.0, std::uniform_real_distribution<double>(-2.5, -1)(rng));
    for (int k = 0; k < 6; ++k) v.push_back(Near(v[k % 2], r));
    faults += Check(v, "zigzag");
  }
}

// The cells whose centres are nearest to p, ties (to the last bit) included.
std::set<std::int32_t> NearestCells(CellIndex& idx, const DirectionCosines& p) {
  const std::int32_t c = Locate(idx, p);
  std::set<std::int32_t> out{c};
  const double best = Dot(p, idx.cells[c]->centre);
  const CellRecord* r = idx.cells[c];
  for (int k = 0; k < r->neighbour_count; ++k)
    if (Dot(p, idx.cells[r->neighbours[k]]->centre) >= best - 1e-15) out.insert(r->neighbours[k]);
  return out;
}

void CollectLegCell(void* context, std::int64_t leg, std::int32_t cell) {
  (*static_cast<std::map<std::int64_t, std::set<std::int32_t>>*>(context))[leg].insert(cell);
}

TEST_F(BuilderCells, LegsAlongTheEquatorLieInTheCellsOnBothSides) {
  // The index is symmetric about the equator, so the equator runs along
  // cell edges. A bow tie crossing itself on the equator: the crossing
  // point ties between the cells above and below, and each of them must
  // hold both legs through it, whichever one a point is located in.
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  auto ll = [&](double lat, double lon) {
    return geodesy::GeodeticToCosines({lat * M_PI / 180, lon * M_PI / 180}, e);
  };
  int runs = 0;
  for (double lon0 = 0; lon0 < 360; lon0 += 7.5) {
    const std::vector<DirectionCosines> v{ll(0, lon0), ll(0, lon0 + 2), ll(1, lon0 + 1), ll(-1, lon0 + 1)};
    std::vector<ItemPiece> pieces;
    std::vector<std::int32_t> cells;
    std::map<std::int64_t, std::set<std::int32_t>> legs;
    CutIntoPieces(idx, v, false, pieces, cells, CollectLegCell, &legs);
    for (std::size_t k = 1; k < pieces.size(); ++k) {
      EXPECT_TRUE(Neighbours(idx, pieces[k - 1].cell, pieces[k].cell)) << lon0;
      EXPECT_LE(std::fabs(pieces[k].xbd), 1.0);
    }
    const std::set<std::int32_t> at = NearestCells(idx, ll(0, lon0 + 1));
    runs += at.size() > 1;
    for (std::int32_t c : at) {
      EXPECT_TRUE(legs[0].count(c)) << "lon " << lon0 << ": cell " << c << " lacks the equator leg";
      EXPECT_TRUE(legs[2].count(c)) << "lon " << lon0 << ": cell " << c << " lacks the crossing leg";
    }
    // Every cell a sample of the equator leg is nearest to (ties included)
    // has a piece of it, where the leg passes cells without a vertex (a
    // stretch along an edge of the cell holding a vertex stays in that
    // cell's piece alone).
    std::set<std::int32_t> built;
    for (const ItemPiece& p : pieces) built.insert(p.cell);
    for (int s = 0; s <= 200; ++s) {
      const std::set<std::int32_t> near = NearestCells(idx, ll(0, lon0 + s / 100.0));
      if (near.count(cells[0]) || near.count(cells[1])) continue;
      for (std::int32_t c : near) EXPECT_TRUE(built.count(c)) << "lon " << lon0 + s / 100.0 << ": cell " << c;
    }
  }
  EXPECT_GT(runs, 0);  // some crossings do fall on an edge
  // An Lset built of the bow tie holds the same cells, and a check of the
  // pieces against the cells passed still holds.
  Check({ll(0, 0), ll(0, 2), ll(1, 1), ll(-1, 1)}, "bow tie on the equator");
}

}  // namespace
}  // namespace cells
