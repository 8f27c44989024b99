// Oracle: the common part and the combination of regions against S2's
// boolean operations on the same rings (the same unit vectors), with the
// areas of both results from GeographicLib on WGS84, and the membership of
// random and near-boundary points against S2's containment in the sources.
#include <gtest/gtest.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2closest_edge_query.h>
#include <s2/s2contains_point_query.h>
#include <s2/s2debug.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2loop.h>
#include <s2/s2polygon.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "tests/ops/rset_algebra_util.h"

namespace {

using namespace ops::testing;
using ops::RSET_COMBINED;
using ops::RSET_COMMON;

constexpr double kMetre = 1.0 / 6371008.8;

std::unique_ptr<S2Polygon> ToS2(const std::vector<Ring>& rings) {
  std::vector<std::unique_ptr<S2Loop>> loops;
  for (const Ring& r : rings) {
    std::vector<S2Point> v;
    for (const auto& p : r) v.emplace_back(p.x, p.y, p.z);
    loops.push_back(std::make_unique<S2Loop>(v, S2Debug::DISABLE));
  }
  auto poly = std::make_unique<S2Polygon>();
  poly->set_s2debug_override(S2Debug::DISABLE);
  poly->InitOriented(std::move(loops));
  return poly;
}

std::vector<Ring> FromS2(const S2Polygon& p) {
  std::vector<Ring> rings;
  for (int k = 0; k < p.num_loops(); ++k) {
    const S2Loop* l = p.loop(k);
    Ring r;
    for (int j = 0; j < l->num_vertices(); ++j) {
      const S2Point& v = l->oriented_vertex(j);
      r.push_back({v.x(), v.y(), v.z()});
    }
    rings.push_back(r);
  }
  return rings;
}

// A source as S2 sees it: its rings in a shape index.
struct Source {
  std::vector<Ring> rings;
  MutableS2ShapeIndex index;
  explicit Source(std::vector<Ring> r) : rings(std::move(r)) {
    std::vector<std::vector<S2Point>> loops;
    for (const Ring& ring : rings) {
      std::vector<S2Point> v;
      for (const auto& p : ring) v.emplace_back(p.x, p.y, p.z);
      loops.push_back(v);
    }
    index.Add(std::make_unique<S2LaxPolygonShape>(loops));
    index.ForceBuild();
  }
  bool Contains(const DirectionCosines& p) {
    auto q = MakeS2ContainsPointQuery(&index);
    return q.Contains(S2Point(p.x, p.y, p.z));
  }
  double Distance(const DirectionCosines& p) {
    S2ClosestEdgeQuery q(&index);
    S2ClosestEdgeQuery::PointTarget t(S2Point(p.x, p.y, p.z));
    return q.GetDistance(&t).ToAngle().radians();
  }
};

// Points within reach (radians) of the rings: a random leg, a random place
// along it, moved across it.
void AddNear(const std::vector<Ring>& rings, int n, double reach, std::mt19937_64& rng,
             std::vector<DirectionCosines>& out) {
  std::uniform_int_distribution<std::size_t> pick_ring(0, rings.size() - 1);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < n;) {
    const Ring& r = rings[pick_ring(rng)];
    const std::size_t k = std::uniform_int_distribution<std::size_t>(0, r.size() - 1)(rng);
    const DirectionCosines a = r[k], b = r[(k + 1) % r.size()];
    const double t = unit(rng);
    const DirectionCosines m = geodesy::Normalised({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)});
    const DirectionCosines nrm = geodesy::Normalised(geodesy::Cross(a, b));
    if (!geodesy::IsValid(m) || !geodesy::IsValid(nrm)) continue;
    const double off = (2.0 * unit(rng) - 1.0) * reach;
    out.push_back(geodesy::Normalised({m.x * std::cos(off) + nrm.x * std::sin(off),
                                       m.y * std::cos(off) + nrm.y * std::sin(off),
                                       m.z * std::cos(off) + nrm.z * std::sin(off)}));
    ++i;
  }
}

struct Tally {
  long points = 0, skipped = 0, disagree = 0;
};

// Every point farther than 1 m from both boundaries must be inside the
// result exactly when S2 puts it in both sources (common) or either.
void CheckMembership(cells::CellIndex& idx, const cells::Object& result, Source& a, Source& b, int mode,
                     std::vector<DirectionCosines> pts, Tally& t, const char* what) {
  std::vector<std::pair<std::int32_t, std::size_t>> order;
  for (std::size_t i = 0; i < pts.size(); ++i) order.push_back({cells::Locate(idx, pts[i]), i});
  std::sort(order.begin(), order.end());
  ops::RsetTestCache cache;
  for (const auto& o : order) {
    const DirectionCosines& p = pts[o.second];
    ++t.points;
    const bool ina = a.Contains(p), inb = b.Contains(p);
    const bool want = mode == RSET_COMMON ? (ina && inb) : (ina || inb);
    bool on = false;
    const bool got = Inside(idx, result, p, &on, &cache);
    if (!on && got == want) continue;
    if (a.Distance(p) <= kMetre || b.Distance(p) <= kMetre) {
      ++t.skipped;
      continue;
    }
    if (++t.disagree <= 10)
      ADD_FAILURE() << what << ": point " << p.x << " " << p.y << " " << p.z << " ours " << got << (on ? " (on)" : "")
                    << " S2 in A " << ina << " in B " << inb << " dist A " << a.Distance(p) / kMetre << " m, B "
                    << b.Distance(p) / kMetre << " m";
  }
}

struct Index {
  cells::CellIndex idx;
  bool ok = false;
  Index() {
    FLAGS_s2debug = false;
    ok = LoadIndex("isotype.vix", idx);
  }
};

Index& Shared() {
  static Index* i = new Index;
  return *i;
}

RegionPtr Land(const char* file) {
  auto h = std::make_unique<HeapObject>();
  if (!LoadLand(Shared().idx, file, *h)) return nullptr;
  // Rebuilt into an arena object, so every region here is alike.
  return FromRings(Shared().idx, RingsOf(Shared().idx, h->obj));
}

// Runs both operations of a and b and compares them with S2: areas, the
// area identity, and point membership. Returns the two results.
std::pair<RegionPtr, RegionPtr> AgainstS2(const char* what, const cells::Object& a, const cells::Object& b,
                                          int random_points, int near_points, double area_tol, long seed) {
  cells::CellIndex& idx = Shared().idx;
  Source sa(RingsOf(idx, a)), sb(RingsOf(idx, b));
  auto pa = ToS2(sa.rings), pb = ToS2(sb.rings);
  S2Polygon s2i, s2u;
  s2i.set_s2debug_override(S2Debug::DISABLE);
  s2u.set_s2debug_override(S2Debug::DISABLE);
  s2i.InitToIntersection(*pa, *pb);
  s2u.InitToUnion(*pa, *pb);
  auto inter = Common(idx, a, b);
  auto uni = Union(idx, a, b);
  EXPECT_EQ(inter->status, 0) << what;
  EXPECT_EQ(uni->status, 0) << what;
  if (inter->status != 0 || uni->status != 0) return {std::move(inter), std::move(uni)};
  const double gi = GeodesicArea(RingsOf(idx, inter->obj)), gu = GeodesicArea(RingsOf(idx, uni->obj));
  const double si = GeodesicArea(FromS2(s2i)), su = GeodesicArea(FromS2(s2u));
  EXPECT_NEAR(gi, si, area_tol * std::max(si, 1.0)) << what << " common";
  EXPECT_NEAR(gu, su, area_tol * std::max(su, 1.0)) << what << " combined";
  const double oa = OwnArea(idx, a), ob = OwnArea(idx, b);
  const double oi = OwnArea(idx, inter->obj), ou = OwnArea(idx, uni->obj);
  EXPECT_NEAR(oi + ou, oa + ob, 1e-9 * (oa + ob)) << what << " |A n B| + |A u B| = |A| + |B|";
  std::mt19937_64 rng(seed);
  std::vector<DirectionCosines> pts;
  for (int i = 0; i < random_points; ++i) pts.push_back(RandomUnit(rng));
  AddNear(sa.rings, near_points / 2, 20000.0 * kMetre, rng, pts);
  AddNear(sb.rings, near_points / 2, 20000.0 * kMetre, rng, pts);
  Tally ti, tu;
  CheckMembership(idx, inter->obj, sa, sb, RSET_COMMON, pts, ti, what);
  CheckMembership(idx, uni->obj, sa, sb, RSET_COMBINED, pts, tu, what);
  std::printf("%s: common %.6e m2 (S2 %.6e, rel %.2e), combined %.6e m2 (S2 %.6e, rel %.2e); "
              "%ld points, %ld / %ld within 1 m, %ld / %ld disagree\n",
              what, gi, si, std::fabs(gi - si) / std::max(si, 1.0), gu, su, std::fabs(gu - su) / std::max(su, 1.0),
              ti.points, ti.skipped, tu.skipped, ti.disagree, tu.disagree);
  EXPECT_EQ(ti.disagree, 0) << what;
  EXPECT_EQ(tu.disagree, 0) << what;
  return {std::move(inter), std::move(uni)};
}

#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_ASAN() GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build"
#else
#define SKIP_UNDER_ASAN() (void)0
#endif

int Scale() { return Sanitized() ? 20 : 1; }

TEST(RsetAlgebraOracle, Land110mWithCap) {
  SKIP_UNDER_ASAN();
  ASSERT_TRUE(Shared().ok);
  auto land = Land("land110m.rgn");
  ASSERT_TRUE(land);
  auto cap = FromRings(Shared().idx, {Cap(45, 10, 20)});
  AgainstS2("land110m & cap", land->obj, cap->obj, 100000 / Scale(), 100000 / Scale(), 2e-6, 1);
}

TEST(RsetAlgebraOracle, Land50mWithCap) {
  SKIP_UNDER_ASAN();
  ASSERT_TRUE(Shared().ok);
  auto land = Land("land50m.rgn");
  ASSERT_TRUE(land);
  auto cap = FromRings(Shared().idx, {Cap(45, 10, 20)});
  AgainstS2("land50m & cap", land->obj, cap->obj, 50000 / Scale(), 50000 / Scale(), 2e-6, 2);
}

}  // namespace
