// The region algebra on small regions: regions without boundary, the
// complement, shared boundaries, resolutions and the statuses for bad
// parameters and exhausted memory.
#include <gtest/gtest.h>

#include <random>

#include "lib/cells/cell_list.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/rset_write.h"
#include "tests/ops/rset_algebra_util.h"

namespace {

using namespace ops::testing;
using ops::RSET_COMBINED;
using ops::RSET_COMMON;

struct RsetAlgebra : ::testing::Test {
  static cells::CellIndex* idx;
  static void SetUpTestSuite() {
    idx = new cells::CellIndex;
    ASSERT_TRUE(LoadIndex("isotype.vix", *idx));
  }
  RegionPtr World() { return Complement(*idx, nullptr); }
  RegionPtr Null() {
    auto w = World();
    return Complement(*idx, &w->obj);
  }
  // A square of side s degrees with its south-west corner at (lat, lon), off
  // the equator and the meridians the index is symmetric about.
  RegionPtr Square(double lat, double lon, double s, int res = 10) {
    return FromRings(*idx, {LL({{lat, lon}, {lat, lon + s}, {lat + s, lon + s}, {lat + s, lon}})}, res);
  }
  double Area(const RegionPtr& r) { return CellArea(*idx, r->obj); }
  // Membership of random points near a region (within deg degrees of c).
  long Differ(const cells::Object& a, const cells::Object& b, DirectionCosines c, double deg, int n = 3000) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const auto ll = geodesy::CosinesToGeocentric(c);
    long differ = 0;
    for (int i = 0; i < n; ++i) {
      const DirectionCosines p = LatLonDeg(std::clamp(ll.lat * 180 / M_PI + deg * u(rng), -90.0, 90.0),
                                           ll.lon * 180 / M_PI + deg * u(rng));
      bool on1 = false, on2 = false;
      const bool x = Inside(*idx, a, p, &on1), y = Inside(*idx, b, p, &on2);
      if (!on1 && !on2 && x != y) ++differ;
    }
    return differ;
  }
};
cells::CellIndex* RsetAlgebra::idx = nullptr;

TEST_F(RsetAlgebra, RegionsWithoutBoundary) {
  auto w = World(), n = Null();
  ASSERT_EQ(w->status, 0);
  ASSERT_EQ(n->status, -1);
  EXPECT_TRUE(ops::RsetIsWorld(w->obj, idx->cell_count));
  EXPECT_TRUE(ops::RsetIsNull(n->obj));
  // Every pairing of the two, both ways round, in both modes.
  struct Case {
    bool a_world, b_world;
    int mode;
    int status;
    bool world;
  } cases[] = {
      {false, false, RSET_COMMON, -1, false}, {false, true, RSET_COMMON, -1, false},
      {true, false, RSET_COMMON, -1, false},  {true, true, RSET_COMMON, 0, true},
      {false, false, RSET_COMBINED, -1, false}, {false, true, RSET_COMBINED, 0, true},
      {true, false, RSET_COMBINED, 0, true},  {true, true, RSET_COMBINED, 0, true},
  };
  for (const Case& c : cases) {
    auto r = Combine(*idx, c.mode, (c.a_world ? w : n)->obj, (c.b_world ? w : n)->obj);
    EXPECT_EQ(r->status, c.status) << c.a_world << c.b_world << c.mode;
    EXPECT_EQ(ops::RsetIsWorld(r->obj, idx->cell_count), c.world) << c.a_world << c.b_world << c.mode;
    if (!c.world) EXPECT_TRUE(ops::RsetIsNull(r->obj));
  }
  // With a region: the region itself, under the new header.
  auto sq = Square(41, 21, 5);
  for (auto [mode, other] : {std::pair{RSET_COMMON, w.get()}, std::pair{RSET_COMBINED, n.get()}}) {
    auto r = Combine(*idx, mode, sq->obj, other->obj);
    ASSERT_EQ(r->status, 0);
    EXPECT_EQ(r->obj.id, 12345u);
    EXPECT_TRUE(SameSections(r->obj, sq->obj));
    auto r2 = Combine(*idx, mode, other->obj, sq->obj, 6);
    ASSERT_EQ(r2->status, 0);
    EXPECT_EQ(r2->obj.res, 6);  // re-encoded, not the stale records
    EXPECT_EQ(r2->obj.coord_size, 8u * 4);
    EXPECT_NEAR(Area(r2), Area(sq), 1e-6 * Area(sq));
  }
  EXPECT_EQ(Common(*idx, sq->obj, n->obj)->status, -1);
  EXPECT_TRUE(ops::RsetIsWorld(Union(*idx, w->obj, sq->obj)->obj, idx->cell_count));
  // A region without boundary whose interior is neither nothing nor everything.
  Region bad;
  cells::BuildParams p;
  p.id = 3;
  p.res = 10;
  ASSERT_EQ(ops::WriteRsetRaw(*idx, {&bad.arena, nullptr}, p, {}, {}, {1}, {3, 5, 9}, bad.obj), 0);
  EXPECT_EQ(Common(*idx, bad.obj, sq->obj)->status, 10);
  EXPECT_EQ(Union(*idx, sq->obj, bad.obj)->status, 10);
  EXPECT_EQ(Union(*idx, w->obj, bad.obj)->status, 10);
  EXPECT_EQ(Complement(*idx, &bad.obj)->status, 10);
}

TEST_F(RsetAlgebra, Complement) {
  auto w = World();
  EXPECT_EQ(cells::EnvelopeList(w->obj, 1)[0], 3);
  EXPECT_EQ(cells::EnvelopeList(w->obj, 1)[2], -(idx->cell_count - 1));
  // A square with a hole, a ring round the north pole and land.
  auto holed = FromRings(*idx, {LL({{31, 31}, {31, 41}, {41, 41}, {41, 31}}),
                                LL({{34, 34}, {38, 34}, {38, 38}, {34, 38}})});
  auto polar = FromRings(*idx, {Cap(90, 0, 3, 90)});
  auto land = std::make_unique<HeapObject>();
  ASSERT_TRUE(LoadLand(*idx, "land110m.rgn", *land));
  const double earth = cells::MeasureRset(*idx, w->obj, geodesy::MakeEllipsoid(), 'c', nullptr).area;
  for (const cells::Object* src : {&holed->obj, &polar->obj, &land->obj}) {
    auto c = Complement(*idx, src);
    ASSERT_EQ(c->status, 0);
    EXPECT_EQ(c->obj.res, src->res);
    EXPECT_TRUE(cells::ObjectValid(c->obj, idx->cell_count));
    // Inside and outside change places, the boundary stays.
    EXPECT_NEAR(OwnArea(*idx, c->obj) + OwnArea(*idx, *src), earth, 1e-9 * earth);
    const std::int32_t* b0 = cells::EnvelopeList(*src, 0);
    const std::int32_t* b1 = cells::EnvelopeList(c->obj, 0);
    EXPECT_EQ(std::vector<std::int32_t>(b0, b0 + b0[0]), std::vector<std::int32_t>(b1, b1 + b1[0]));
    EXPECT_EQ(cells::CellListCells(cells::EnvelopeList(c->obj, 1)) + cells::CellListCells(b0) +
                  cells::CellListCells(cells::EnvelopeList(*src, 1)),
              idx->cell_count);
    // Every first piece still starts its ring.
    for (std::int64_t i = 0; i < cells::ItemCount(c->obj); ++i) {
      const cells::Item it = cells::LoadItem(cells::ItemAt(c->obj, i));
      EXPECT_EQ(cells::LoadPiece(cells::PieceAt(c->obj, it, 0)).xbd, cells::kNoCrossing);
      for (std::int32_t k = 1; k < it.count; ++k)
        EXPECT_NE(cells::LoadPiece(cells::PieceAt(c->obj, it, k)).xbd, cells::kNoCrossing);
    }
    // The complement of the complement is the source, section for section.
    auto cc = Complement(*idx, &c->obj);
    ASSERT_EQ(cc->status, 0);
    EXPECT_TRUE(SameSections(cc->obj, *src));
    // And the reversed rings built afresh make the same pieces.
    std::vector<Ring> rev = RingsOf(*idx, *src);
    for (Ring& r : rev) std::reverse(r.begin() + 1, r.end());
    auto built = FromRings(*idx, rev, src->res);
    ASSERT_EQ(cells::ItemCount(built->obj), cells::ItemCount(c->obj));
    long differ = 0;
    for (std::int64_t i = 0; i < cells::ItemCount(c->obj); ++i) {
      const cells::Item x = cells::LoadItem(cells::ItemAt(c->obj, i));
      const cells::Item y = cells::LoadItem(cells::ItemAt(built->obj, i));
      if (x.count != y.count) {
        ++differ;
        continue;
      }
      for (std::int32_t k = 0; k < x.count; ++k) {
        const cells::Piece p = cells::LoadPiece(cells::PieceAt(c->obj, x, k));
        const cells::Piece q = cells::LoadPiece(cells::PieceAt(built->obj, y, k));
        if (p.cell != q.cell || p.count != q.count || (k > 0 && std::fabs(p.xbd - q.xbd) > 1e-12)) ++differ;
      }
    }
    EXPECT_EQ(differ, 0) << "pieces differ from the builder's";
  }
  // The pole lies outside the complement of the polar cap, and inside it.
  EXPECT_TRUE(Inside(*idx, polar->obj, {0, 0, 1}));
  EXPECT_FALSE(Inside(*idx, Complement(*idx, &polar->obj)->obj, {0, 0, 1}));
  EXPECT_TRUE(Inside(*idx, Complement(*idx, &holed->obj)->obj, LatLonDeg(36, 36)));
}

TEST_F(RsetAlgebra, RegionWithItselfAndItsComplement) {
  auto sq = Square(41, 21, 5);
  auto land = std::make_unique<HeapObject>();
  ASSERT_TRUE(LoadLand(*idx, "land110m.rgn", *land));
  for (const cells::Object* r : {&sq->obj, &land->obj}) {
    const double a = OwnArea(*idx, *r);
    auto i = Common(*idx, *r, *r), u = Union(*idx, *r, *r);
    ASSERT_EQ(i->status, 0);
    ASSERT_EQ(u->status, 0);
    EXPECT_NEAR(OwnArea(*idx, i->obj), a, 1e-9 * a);
    EXPECT_NEAR(OwnArea(*idx, u->obj), a, 1e-9 * a);
    // Rings of R that share a leg (along the antimeridian) merge: the leg
    // bounds nothing.
    EXPECT_LE(cells::ItemCount(i->obj), cells::ItemCount(*r));
    EXPECT_EQ(cells::ItemCount(u->obj), cells::ItemCount(i->obj));
    EXPECT_EQ(Differ(i->obj, *r, LatLonDeg(0, 0), 90, 20000), 0);
    // R and its complement share every leg running opposite ways.
    auto c = Complement(*idx, r);
    auto all = Union(*idx, *r, c->obj);
    EXPECT_EQ(all->status, 0);
    EXPECT_TRUE(ops::RsetIsWorld(all->obj, idx->cell_count));
    auto none = Common(*idx, c->obj, *r);
    EXPECT_EQ(none->status, -1);
    EXPECT_TRUE(ops::RsetIsNull(none->obj));
  }
}

TEST_F(RsetAlgebra, NeighboursAndTouches) {
  // Side by side along a whole edge (opposite ways) and along part of one.
  auto a = Square(41, 21, 4);
  auto b = Square(41, 25, 4);
  auto part = FromRings(*idx, {LL({{42, 25}, {42, 28}, {44, 28}, {44, 25}})});
  for (const RegionPtr* other : {&b, &part}) {
    auto u = Union(*idx, a->obj, (*other)->obj);
    ASSERT_EQ(u->status, 0);
    EXPECT_EQ(cells::ItemCount(u->obj), 1);
    EXPECT_NEAR(Area(u), Area(a) + Area(*other), 1e-9 * Area(u));
    auto i = Common(*idx, a->obj, (*other)->obj);
    EXPECT_TRUE(i->status == -1 || Area(i) < 1e3) << i->status;
  }
  // Overlapping along stretches the same way: a quadrilateral inside the
  // square sharing half its south edge (the great circle, not the parallel)
  // and part of its west edge.
  const DirectionCosines sw = LatLonDeg(41, 21), se = LatLonDeg(41, 25);
  const DirectionCosines half = geodesy::Normalised({sw.x + se.x, sw.y + se.y, sw.z + se.z});
  auto inner = FromRings(*idx, {{sw, half, LatLonDeg(43, 23), LatLonDeg(43, 21)}});
  auto u = Union(*idx, a->obj, inner->obj);
  ASSERT_EQ(u->status, 0);
  EXPECT_NEAR(Area(u), Area(a), 1e-9 * Area(a));
  EXPECT_EQ(cells::ItemCount(u->obj), 1);
  auto i = Common(*idx, a->obj, inner->obj);
  ASSERT_EQ(i->status, 0);
  EXPECT_NEAR(Area(i), Area(inner), 1e-9 * Area(inner));
  // Only a stretch shared: the side of the rest decides (a thinner part).
  auto left = FromRings(*idx, {LL({{41, 21}, {41, 25}, {42, 25}, {42, 21}})});
  auto lc = Common(*idx, left->obj, inner->obj);
  ASSERT_EQ(lc->status, 0);
  EXPECT_LT(Area(lc), 0.6 * Area(inner));
  EXPECT_EQ(Differ(lc->obj, Common(*idx, inner->obj, left->obj)->obj, LatLonDeg(42, 23), 3), 0);
  // Two squares touching at one corner.
  auto corner = Square(45, 25, 3);
  auto cu = Union(*idx, a->obj, corner->obj);
  ASSERT_EQ(cu->status, 0);
  EXPECT_NEAR(Area(cu), Area(a) + Area(corner), 1e-9 * Area(cu));
  EXPECT_EQ(Common(*idx, a->obj, corner->obj)->status, -1);
}

// A neighbour whose ring crosses itself next to the shared edge, as
// simplified borders do: it runs down the edge to the corner T, back up
// beside it 12 m inside the other square to Q, and crosses the edge again at
// X, so that the thin loop T-Q-X winds the wrong way. The loop is no part of
// it: the union is the two squares' outline with the notch below X-N, and
// the two have nothing in common.
TEST_F(RsetAlgebra, NeighbourWhoseRingCrossesItself) {
  auto west = Square(41, 21, 5);
  const DirectionCosines p = LatLonDeg(46, 26), t = LatLonDeg(41, 26), q = LatLonDeg(43.5, 26 - 1.5e-4),
                         n = LatLonDeg(41.5, 28.5);
  DirectionCosines x = geodesy::Normalised(geodesy::Cross(geodesy::Cross(p, t), geodesy::Cross(q, n)));
  if (geodesy::Dot(x, q) < 0) x = {-x.x, -x.y, -x.z};
  auto east = FromRings(*idx, {{LatLonDeg(41, 31), LatLonDeg(46, 31), p, t, q, n}});
  ASSERT_EQ(east->status, 0);
  auto expect = FromRings(*idx, {{LatLonDeg(41, 21), t, x, n, LatLonDeg(41, 31), LatLonDeg(46, 31), p,
                                  LatLonDeg(46, 21)}});
  for (bool swap : {false, true}) {
    const cells::Object& a = swap ? east->obj : west->obj;
    const cells::Object& b = swap ? west->obj : east->obj;
    auto u = Union(*idx, a, b);
    ASSERT_EQ(u->status, 0) << swap;
    EXPECT_EQ(cells::ItemCount(u->obj), 1) << swap;
    EXPECT_NEAR(Area(u), Area(expect), 1e-9 * Area(expect)) << swap;
    EXPECT_EQ(Differ(u->obj, expect->obj, LatLonDeg(43.5, 26), 0.01), 0) << swap;
    EXPECT_EQ(Differ(u->obj, expect->obj, LatLonDeg(43.5, 26), 6), 0) << swap;
    EXPECT_EQ(Common(*idx, a, b)->status, -1) << swap;
  }
}

TEST_F(RsetAlgebra, VerticesWithinTwiceTheFuzzAreOne) {
  // B's corner 0.15 m from A's corner (the default fuzz is 0.1 m): they meet
  // in one node, and the two touch there without a sliver between them. A
  // square whose south edge runs 0.15 m north of A's: nearly shared.
  auto a = Square(41, 21, 4);
  const double d = 0.15 / 6371008.8 * 180 / M_PI / std::sqrt(2.0);
  auto corner = FromRings(*idx, {LL({{45 + d, 25 + d}, {45 + d, 29}, {49, 29}, {49, 25 + d}})});
  auto u = Union(*idx, a->obj, corner->obj);
  ASSERT_EQ(u->status, 0);
  EXPECT_EQ(Common(*idx, a->obj, corner->obj)->status, -1);
  EXPECT_NEAR(Area(u), Area(a) + Area(corner), 1e-6 * Area(u));
  const double e = 0.15 / 6371008.8 * 180 / M_PI;
  auto shifted = FromRings(*idx, {LL({{41 + e, 21}, {41 + e, 25}, {45, 25}, {45, 21}})});
  auto su = Union(*idx, a->obj, shifted->obj);
  auto si = Common(*idx, a->obj, shifted->obj);
  ASSERT_EQ(su->status, 0);
  ASSERT_EQ(si->status, 0);
  EXPECT_NEAR(Area(su), Area(a), 1e-6 * Area(a));
  EXPECT_NEAR(Area(si), Area(shifted), 1e-6 * Area(a));
}

TEST_F(RsetAlgebra, RingsWithinTheOtherRegionsCells) {
  // A ring inside one interior cell of a large square, and a ring whose
  // every cell is a boundary cell of the other: a thin band along a square's
  // edge, wholly inside it.
  auto big = Square(21, 21, 20);
  const DirectionCosines c = LatLonDeg(31, 31);
  auto tiny = FromRings(*idx, {Cap(31, 31, 0.05, 12)});
  ASSERT_TRUE(cells::CellListContains(cells::EnvelopeList(big->obj, 1), cells::Locate(*idx, c)));
  auto i = Common(*idx, big->obj, tiny->obj);
  ASSERT_EQ(i->status, 0);
  EXPECT_NEAR(Area(i), Area(tiny), 1e-9 * Area(tiny));
  auto u = Union(*idx, tiny->obj, big->obj);
  ASSERT_EQ(u->status, 0);
  EXPECT_NEAR(Area(u), Area(big), 1e-9 * Area(big));
  EXPECT_EQ(cells::ItemCount(u->obj), 1);
  // (its west edge is a meridian, a great circle)
  auto band = FromRings(*idx, {LL({{22, 21.001}, {22, 21.002}, {40, 21.002}, {40, 21.001}})});
  for (std::int32_t cell : cells::ExpandCellList(cells::EnvelopeList(band->obj, 0)))
    ASSERT_TRUE(cells::CellListContains(cells::EnvelopeList(big->obj, 0), cell));
  auto bi = Common(*idx, band->obj, big->obj);
  ASSERT_EQ(bi->status, 0);
  EXPECT_NEAR(Area(bi), Area(band), 1e-9 * Area(band));
  // outside: the same band west of the edge.
  auto south = FromRings(*idx, {LL({{22, 20.998}, {22, 20.999}, {40, 20.999}, {40, 20.998}})});
  EXPECT_EQ(Common(*idx, south->obj, big->obj)->status, -1);
  EXPECT_EQ(cells::ItemCount(Union(*idx, south->obj, big->obj)->obj), 2);
}

TEST_F(RsetAlgebra, Resolutions) {
  auto a = Square(41, 21, 4), b = Square(43, 23, 4, 6);  // sources of different resolutions
  auto ref = Common(*idx, a->obj, b->obj, 10);
  ASSERT_EQ(ref->status, 0);
  for (int res : {2, 4, 6, 10, 7, 267}) {
    auto i = Common(*idx, a->obj, b->obj, res);
    ASSERT_EQ(i->status, 0) << res;
    EXPECT_EQ(i->obj.res, res);
    // 8-bit vertices are good to a few hundred metres of a 110 km cell.
    const double tol = res == 2 ? 2e-2 : (res == 4 ? 1e-4 : 1e-7);
    EXPECT_NEAR(Area(i), Area(ref), tol * Area(ref)) << res;
  }
  EXPECT_EQ(Common(*idx, a->obj, b->obj, 3)->status, 1);
  EXPECT_EQ(Common(*idx, a->obj, b->obj, 0x0104)->status, 1);
  EXPECT_EQ(Complement(*idx, nullptr, 3)->status, 1);
  // The complement keeps the source's resolution.
  EXPECT_EQ(Complement(*idx, &b->obj, 10)->obj.res, 6);
}

// The other boundary along a stretch both ways. A spike of no width that
// runs out along the neighbour's edge and back (as the Natural Earth 10m
// West Bank does along Israel's edge at the Dead Sea): the union keeps the
// edge. Two rings of one region sharing an edge (a seam) that the other
// region's boundary runs along: the intersection keeps that boundary, the
// union drops it.
TEST_F(RsetAlgebra, BoundaryAlongASpikeOrASeam) {
  auto a = FromRings(*idx, {LL({{0, 0}, {0, 1}, {0.5, 1}, {1, 1}, {1, 0}})});
  auto b = FromRings(*idx, {LL({{1, 1}, {0.5, 1}, {0.25, 1}, {0.5, 1}, {0.5, 2}, {1, 2}})});
  auto b_plain = FromRings(*idx, {LL({{1, 1}, {0.5, 1}, {0.5, 2}, {1, 2}})});
  ASSERT_EQ(a->status, 0);
  ASSERT_EQ(b->status, 0);
  auto u = Union(*idx, a->obj, b->obj);
  ASSERT_EQ(u->status, 0);
  EXPECT_NEAR(Area(u), Area(a) + Area(b_plain), 1e-9 * Area(u));
  // A spike that runs out along the neighbour's edge to its corner and
  // comes back in one leg past where it started, on along the shared edge
  // (as the Natural Earth 10m Belgium does along the Netherlands at the
  // Scheldt): the neighbour's edge is the union's boundary there.
  auto sa = FromRings(*idx, {LL({{0, 0}, {0, 1}, {0.2, 1}, {1, 1}, {0.5, 1}, {0.5, 0}})});
  auto sa_plain = FromRings(*idx, {LL({{0, 0}, {0, 1}, {0.5, 1}, {0.5, 0}})});
  auto sb = FromRings(*idx, {LL({{0, 1}, {0, 2}, {1, 2}, {1, 1}, {0.2, 1}})});
  ASSERT_EQ(sa->status, 0);
  ASSERT_EQ(sb->status, 0);
  for (bool swap : {false, true}) {
    auto su = swap ? Union(*idx, sb->obj, sa->obj) : Union(*idx, sa->obj, sb->obj);
    ASSERT_EQ(su->status, 0) << swap;
    EXPECT_NEAR(Area(su), Area(sa_plain) + Area(sb), 1e-9 * Area(su)) << swap;
    auto si = swap ? Common(*idx, sb->obj, sa->obj) : Common(*idx, sa->obj, sb->obj);
    EXPECT_TRUE(si->status == -1 || Area(si) < 1e3) << si->status;
  }
  auto u2 = Union(*idx, b->obj, a->obj);
  ASSERT_EQ(u2->status, 0);
  EXPECT_NEAR(Area(u2), Area(u), 1e-9 * Area(u));
  auto i = Common(*idx, a->obj, b->obj);
  EXPECT_TRUE(i->status == -1 || Area(i) < 1e3) << i->status;

  // B: two squares side by side as two rings; A: a square east of the seam
  // whose west edge is the seam.
  auto seam = FromRings(*idx, {LL({{0, 0}, {0, 1}, {1, 1}, {1, 0}}), LL({{0, 1}, {0, 2}, {1, 2}, {1, 1}})});
  auto west = FromRings(*idx, {LL({{0, 0}, {0, 1}, {1, 1}, {1, 0}})});
  auto east = FromRings(*idx, {LL({{0, 1}, {0, 2}, {1, 2}, {1, 1}})});
  auto wide = FromRings(*idx, {LL({{0, 1}, {0, 3}, {1, 3}, {1, 1}})});
  ASSERT_EQ(seam->status, 0);
  for (bool swap : {false, true}) {
    auto c = swap ? Common(*idx, seam->obj, wide->obj) : Common(*idx, wide->obj, seam->obj);
    ASSERT_EQ(c->status, 0) << swap;
    EXPECT_NEAR(Area(c), Area(east), 1e-9 * Area(east)) << swap;
    EXPECT_TRUE(Inside(*idx, c->obj, LatLonDeg(0.5, 1.01))) << swap;
    EXPECT_FALSE(Inside(*idx, c->obj, LatLonDeg(0.5, 0.99))) << swap;
    auto w = swap ? Union(*idx, seam->obj, wide->obj) : Union(*idx, wide->obj, seam->obj);
    ASSERT_EQ(w->status, 0) << swap;
    EXPECT_NEAR(Area(w), Area(west) + Area(wide), 1e-9 * Area(w)) << swap;
    EXPECT_TRUE(Inside(*idx, w->obj, LatLonDeg(0.5, 0.99))) << swap;
    EXPECT_TRUE(Inside(*idx, w->obj, LatLonDeg(0.5, 1.01))) << swap;
  }
}

// Rings on the WGS84 ellipsoid from (lat, lon) degree pairs, as the 10m
// countries are read: vertices on one meridian lie on one plane only to the
// rounding of their unit vectors.
Ring Geodetic(std::initializer_list<std::pair<double, double>> pts) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  Ring r;
  for (const auto& [lat, lon] : pts) r.push_back(geodesy::GeodeticToCosines({lat * M_PI / 180, lon * M_PI / 180}, e));
  return r;
}
DirectionCosines GeodeticDeg(double lat, double lon) { return Geodetic({{lat, lon}})[0]; }

// A spike of no width along the neighbour's edge whose tip turns back by
// the rounding of its vertices only (about 1e-12 radians: the Natural Earth
// 10m Belgium at the Scheldt, 51.37 N 4.22 E, out 190 m along the Dutch
// edge and back 570 m). Beside the spike and beyond its tip the point test
// answers outside (it answered inside on one side of the tip's meridian,
// 14 m off, and the merge with the Netherlands then ended in status 16).
TEST_F(RsetAlgebra, SpikeWhoseTipTurnsBackByRounding) {
  // The Belgian vertices as the merge before the last but two read them.
  const DirectionCosines v1{0.6254374823708514, 0.046476304764068, 0.7788888937076253},     // 51.3468 N 4.2498 E
      v2{0.6253057574013129, 0.04638750376508388, 0.7789999417555913},                    // 51.3569 N 4.2426 E
      v3{0.6251856151829507, 0.04614160911528708, 0.7791109667284676},                    // 51.3671 N 4.2210 E
      tip{0.6251626820825095, 0.04613991654570352, 0.7791294687229837},                   // 51.3688 N 4.2210 E
      v5{0.6252314797233784, 0.046144994131905016, 0.7790739607248345},                   // 51.3637 N 4.2210 E
      v6{0.6255582609427248, 0.046090073574215226, 0.7788148478837815};                   // 51.3401 N 4.2138 E
  const DirectionCosines sw = GeodeticDeg(51.30, 4.20), se = GeodeticDeg(51.30, 4.29), ne = GeodeticDeg(51.3400604, 4.2858429);
  auto be = FromRings(*idx, {{ne, v1, v2, v3, tip, v5, v6, sw, se}});
  auto be_plain = FromRings(*idx, {{ne, v1, v2, v3, v5, v6, sw, se}});
  auto nl = FromRings(*idx, {{sw, v6, v5, tip, GeodeticDeg(51.3755205, 4.1994420), GeodeticDeg(51.30, 4.15)}});
  ASSERT_EQ(be->status, 0);
  ASSERT_EQ(nl->status, 0);
  const double metre = 180.0 / M_PI / 6371008.8, east = metre / std::cos(51.368 * M_PI / 180);
  struct Probe {
    double lat, lon;
    bool in_be, in_nl;
  } probes[] = {{51.3680, 4.2210422 - 14 * east, false, true},   // beside the spike
                {51.3680, 4.2210422 + 14 * east, false, false},
                {51.3684, 4.2210422 + 3 * east, false, false},
                {51.3687662 + 30 * metre, 4.2210422, false, false},  // beyond its tip
                {51.3687662 + 30 * metre, 4.2210422 + 10 * east, false, false},
                {51.3687662 + 300 * metre, 4.2210422 - 5 * east, false, false},
                {51.3650, 4.2210422 + 14 * east, true, false},   // beside the edge they share
                {51.3650, 4.2210422 - 14 * east, false, true}};
  auto u = Union(*idx, be->obj, nl->obj);
  auto u2 = Union(*idx, nl->obj, be->obj);
  ASSERT_EQ(u->status, 0);
  ASSERT_EQ(u2->status, 0);
  for (const Probe& q : probes) {
    const DirectionCosines p = GeodeticDeg(q.lat, q.lon);
    EXPECT_EQ(Inside(*idx, be->obj, p), q.in_be) << q.lat << " " << q.lon;
    EXPECT_EQ(Inside(*idx, be_plain->obj, p), q.in_be) << q.lat << " " << q.lon;
    EXPECT_EQ(Inside(*idx, u->obj, p), q.in_be || q.in_nl) << q.lat << " " << q.lon;
    EXPECT_EQ(Inside(*idx, u2->obj, p), q.in_be || q.in_nl) << q.lat << " " << q.lon;
  }
  EXPECT_NEAR(Area(u), Area(be_plain) + Area(nl), 1e-9 * Area(u));
  EXPECT_EQ(Differ(u->obj, u2->obj, GeodeticDeg(51.367, 4.221), 0.01), 0);
  auto c = Common(*idx, be->obj, nl->obj);
  EXPECT_TRUE(c->status == -1 || Area(c) < 1.0) << c->status;
}

// A ring that lies wholly in one cell and begins at the tip of a spike (the
// 10m Tuvalu's Nui: a triangle at the end of a spike of no width out along
// a meridian and back): its chain in the cell is walked round from the tip,
// whose two legs are then the chain's two ends. Whichever vertex the ring
// begins at, only the triangle is inside; a point 1 km or 12 km beside the
// spike is outside (the ring as stored from Tuvalu's first vertex answered
// inside there, and Tuvalu merged with a neighbour came out so).
TEST_F(RsetAlgebra, RingInOneCellBeginningAtASpikeTip) {
  const Ring nui = Geodetic({{-7.1995364, 177.1523715}, {-7.1944707, 177.1523715}, {-7.1877164, 177.1487715},
                             {-7.1910935, 177.1487715}, {-7.1944707, 177.1523715}, {-7.1978478, 177.1523715}});
  const Ring triangle = Geodetic({{-7.1944707, 177.1523715}, {-7.1877164, 177.1487715}, {-7.1910935, 177.1487715}});
  auto plain = FromRings(*idx, {triangle});
  const double e = 180.0 / M_PI / 6371008.8 / std::cos(7.19 * M_PI / 180);
  const DirectionCosines outside[] = {GeodeticDeg(-7.1960, 177.1523715 + 1000 * e), GeodeticDeg(-7.1960, 177.1523715 + 12000 * e),
                                      GeodeticDeg(-7.1960, 177.1523715 - 1000 * e), GeodeticDeg(-7.1960, 177.1523715 + 20 * e),
                                      GeodeticDeg(-7.2010, 177.1523715), GeodeticDeg(-7.1900, 177.1540)};
  const DirectionCosines inside = GeodeticDeg(-7.1911, 177.1500);
  for (std::size_t k = 0; k < nui.size(); ++k) {
    Ring r(nui.begin() + static_cast<std::ptrdiff_t>(k), nui.end());
    r.insert(r.end(), nui.begin(), nui.begin() + static_cast<std::ptrdiff_t>(k));
    auto one = FromRings(*idx, {r});
    ASSERT_EQ(one->status, 0) << k;
    for (const DirectionCosines& p : outside) EXPECT_FALSE(Inside(*idx, one->obj, p)) << "from vertex " << k;
    EXPECT_TRUE(Inside(*idx, one->obj, inside)) << "from vertex " << k;
    EXPECT_EQ(Differ(one->obj, plain->obj, GeodeticDeg(-7.19, 177.15), 0.01), 0) << k;
    EXPECT_EQ(Differ(one->obj, plain->obj, GeodeticDeg(-7.19, 177.15), 0.3), 0) << k;
  }
}

// A ring whose two banks of an inlet cross twice, 80 m apart, where the
// inlet widens into a loop that winds the wrong way: a lake inside the land
// (the 10m Panama at the Tuira, 8.2 N 77.8 W). Merged with a neighbour
// close by, the loop stays a lake and the land round it stays land (cutting
// the loop at the first crossing alone made the lake land and left the
// ring crossing itself at the new vertex, where the land beyond it was then
// answered as outside).
TEST_F(RsetAlgebra, InletWhoseBanksCrossTwice) {
  auto a = FromRings(*idx, {Geodetic({{8.3759003, -78.0613806}, {8.3319973, -78.0397804}, {8.3100458, -78.0361804},
                                      {8.2897829, -78.0217802}, {8.2762743, -78.0073801}, {8.2678314, -77.9857799},
                                      {8.2509456, -77.8957790}, {8.2425027, -77.8813788}, {8.2357484, -77.8705787},
                                      {8.1715825, -77.8201782}, {8.1749596, -77.8021780}, {8.1293680, -77.7661777},
                                      {8.1310566, -77.7373774}, {8.1158594, -77.7481775}, {8.1124823, -77.7625776},
                                      {8.1158594, -77.7769778}, {8.1276795, -77.7841778}, {8.1445652, -77.7877779},
                                      {8.1580738, -77.7985780}, {8.1631396, -77.8093781}, {8.1580738, -77.8201782},
                                      {8.1631396, -77.8309783}, {8.1698939, -77.8345783}, {8.1800253, -77.8381784},
                                      {8.1952225, -77.8381784}, {8.2019769, -77.8453785}, {8.2154855, -77.8705787},
                                      {8.2340598, -77.8849788}, {8.2441913, -77.9137791}, {8.2543227, -77.9641796},
                                      {8.2408141, -77.9569796}, {7.9, -77.9569796}, {7.9, -77.6}, {8.5, -77.6},
                                      {8.5, -78.1}})});
  auto b = FromRings(*idx, {Geodetic({{8.0, -77.55}, {8.0, -77.5}, {8.05, -77.5}, {8.05, -77.55}})});
  ASSERT_EQ(a->status, 0);
  ASSERT_EQ(b->status, 0);
  const DirectionCosines lake = GeodeticDeg(8.125, -77.755), land = GeodeticDeg(8.15, -77.74);
  ASSERT_FALSE(Inside(*idx, a->obj, lake));
  ASSERT_TRUE(Inside(*idx, a->obj, land));
  for (bool swap : {false, true}) {
    auto u = swap ? Union(*idx, b->obj, a->obj) : Union(*idx, a->obj, b->obj);
    ASSERT_EQ(u->status, 0) << swap;
    EXPECT_FALSE(Inside(*idx, u->obj, lake)) << swap;
    EXPECT_TRUE(Inside(*idx, u->obj, land)) << swap;
    EXPECT_NEAR(Area(u), Area(a) + Area(b), 1e-9 * Area(u)) << swap;
    EXPECT_EQ(Differ(u->obj, a->obj, GeodeticDeg(8.16, -77.80), 0.07), 0) << swap;
  }
}

TEST_F(RsetAlgebra, ExhaustedMemory) {
  auto land = std::make_unique<HeapObject>();
  ASSERT_TRUE(LoadLand(*idx, "land110m.rgn", *land));
  auto cap = FromRings(*idx, {Cap(45, 10, 20)});
  // A workspace too small for the rings.
  std::vector<std::uint8_t> small(4096);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, small.data(), static_cast<std::int64_t>(small.size()));
  Region out;
  ops::DeriveContext ctx = Context(*idx, out, 10, &ws);
  EXPECT_EQ(ops::q7_RsetCombine(ctx, RSET_COMMON, 0.0, land->obj, cap->obj), 9);
  EXPECT_EQ(ws.top, ws.base);  // released
  // An output arena too small for the result.
  Region tiny(1024);
  EXPECT_EQ(ops::q7_RsetCombine(Context(*idx, tiny, 10), RSET_COMBINED, 0.0, land->obj, cap->obj), 8);
  EXPECT_EQ(tiny.arena.top, tiny.arena.base);
  EXPECT_EQ(ops::q7_RsetComplement(Context(*idx, tiny, 10), &land->obj), 8);
  // Enough of both.
  std::vector<std::uint8_t> big(64 << 20);
  platform::WorkspaceInit(&ws, big.data(), static_cast<std::int64_t>(big.size()));
  Region out2;
  EXPECT_EQ(ops::q7_RsetCombine(Context(*idx, out2, 10, &ws), RSET_COMMON, 0.0, land->obj, cap->obj), 0);
  EXPECT_EQ(ws.top, ws.base);
}

// A result ring laid along a Voronoi edge: the index is symmetric about the
// equator and the prime meridian, so a square with its corner at (0, 0)
// runs along cell edges there. A cell left out beside an edge would take
// some 12 000 km² (1e-2 of the square) and the points in it.
TEST_F(RsetAlgebra, ResultAlongVoronoiEdges) {
  auto sq = FromRings(*idx, {LL({{0, 0}, {0, 10}, {10, 10}, {10, 0}})});
  auto cap = FromRings(*idx, {Cap(5, 5, 30)});
  auto i = Common(*idx, sq->obj, cap->obj);
  ASSERT_EQ(i->status, 0);
  auto u = Union(*idx, sq->obj, sq->obj);
  ASSERT_EQ(u->status, 0);
  // The same region, by the cell method (great-circle legs, as stored).
  EXPECT_NEAR(Area(i), Area(sq), 1e-9 * Area(sq));
  EXPECT_NEAR(Area(u), Area(sq), 1e-9 * Area(sq));
  // Against GeographicLib, whose edges are geodesics: the ring method
  // follows them too; the stored great-circle legs of 10° differ from them
  // by 1.6e-5 of the area along the parallel of 10°.
  const double expect = GeodesicArea(RingsOf(*idx, sq->obj));
  EXPECT_NEAR(OwnArea(*idx, i->obj), expect, 1e-8 * expect);
  EXPECT_NEAR(Area(i), expect, 3e-5 * expect);
  // Points a kilometre either side of the two edges on cell edges.
  int checked = 0;
  for (double t = 0.05; t < 10.0; t += 0.1) {
    for (const RegionPtr* r : {&i, &u}) {
      EXPECT_TRUE(Inside(*idx, (*r)->obj, LatLonDeg(0.01, t))) << "north of the equator at " << t;
      EXPECT_FALSE(Inside(*idx, (*r)->obj, LatLonDeg(-0.01, t))) << "south of the equator at " << t;
      EXPECT_TRUE(Inside(*idx, (*r)->obj, LatLonDeg(t, 0.01))) << "east of the meridian at " << t;
      EXPECT_FALSE(Inside(*idx, (*r)->obj, LatLonDeg(t, -0.01))) << "west of the meridian at " << t;
      checked += 4;
    }
  }
  EXPECT_EQ(checked, 800);
}

}  // namespace
