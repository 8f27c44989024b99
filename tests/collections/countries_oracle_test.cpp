// The country collections built from the shipped Natural Earth outlines:
// the regions over random positions against S2's containment of the same
// rings, and the click report's area and perimeter (cell method) against
// GeographicLib's geodesic polygon of the rings.
#include <gtest/gtest.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2closest_edge_query.h>
#include <s2/s2contains_point_query.h>
#include <s2/s2debug.h>
#include <s2/s2error.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2loop.h>
#include <s2/s2pointutil.h>

#include <GeographicLib/PolygonArea.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lib/cells/cell_locate.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/measure_object.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/collection.h"
#include "lib/ops/collection_build.h"
#include "tests/ops/ops_test_util.h"

namespace {

namespace ot = ops::testing;
using geodesy::DirectionCosines;

struct Countries {
  cells::CellIndex idx;
  std::vector<cells::PointNode> nodes;
  std::map<std::uint32_t, std::string> names;
  std::map<std::uint32_t, std::vector<std::vector<S2Point>>> loops;  // by country number
  std::map<std::uint32_t, bool> valid;                               // every loop valid for S2
  std::string plr;
};

bool Load(const char* stem, Countries& c) {
  if (!ot::LoadIndex("isotype.vix", c.idx)) return false;
  std::FILE* f = std::fopen((ot::SourceDir() + "data/" + stem + ".rgn").c_str(), "rb");
  if (!f) return false;
  cells::CoordReadOptions o;
  o.kind = 2;
  o.res = 10;
  const bool ok = cells::ReadCoordText(f, o, c.nodes).status == 0;
  std::fclose(f);
  std::ifstream nf(ot::SourceDir() + "data/" + stem + ".names", std::ios::binary);
  std::stringstream ss;
  ss << nf.rdbuf();
  if (!ok || ops::ReadCollNames(ss.str(), c.names) != 0) return false;
  std::vector<S2Point> ring;
  for (const auto& n : c.nodes) {
    if (!cells::IsMark(n)) {
      ring.push_back(S2Point(n.p.x, n.p.y, n.p.z));
      continue;
    }
    if (ring.size() >= 3) {
      const auto id = static_cast<std::uint32_t>(n.attribute);
      S2Loop loop(ring, S2Debug::DISABLE);
      S2Error error;
      const bool good = !loop.FindValidationError(&error);
      c.valid.emplace(id, true);
      c.valid[id] = c.valid[id] && good;
      c.loops[id].push_back(ring);
    }
    ring.clear();
  }
  return true;
}

double Km2(double m2) { return m2 / 1e6; }

// Even-odd containment of p in the rings of one country, in the gnomonic
// plane about p (great-circle legs are straight there): the oracle for the
// countries whose rings cross themselves, which S2's lax shapes invert. A
// country with a vertex 90 degrees or more from p does not hold it (no
// such country is larger than a hemisphere).
bool EvenOdd(const std::vector<std::vector<S2Point>>& rings, const S2Point& p) {
  const S2Point e1 = S2::Ortho(p), e2 = p.CrossProd(e1);
  bool inside = false;
  for (const auto& ring : rings) {
    for (std::size_t i = 0; i < ring.size(); ++i) {
      const S2Point& a = ring[i];
      const S2Point& b = ring[(i + 1) % ring.size()];
      const double da = a.DotProd(p), db = b.DotProd(p);
      if (da <= 0 || db <= 0) return false;
      const double ax = a.DotProd(e1) / da, ay = a.DotProd(e2) / da;
      const double bx = b.DotProd(e1) / db, by = b.DotProd(e2) / db;
      if ((ay > 0) == (by > 0)) continue;
      if (ax + (bx - ax) * (0 - ay) / (by - ay) > 0) inside = !inside;
    }
  }
  return inside;
}

// Positions for the outside checks: few in an ordinary run, the full count
// with OMBREL_COLLECTIONS_FULL set (or under a sanitizer, fewer still).
int Positions(int ordinary, int full) {
  if (ot::Sanitized()) return ordinary / 5;
  const char* f = std::getenv("OMBREL_COLLECTIONS_FULL");
  return f && *f && std::string(f) != "0" ? full : ordinary;
}

void CheckCountries(const char* stem, int positions) {
  FLAGS_s2debug = false;
  Countries c;
  ASSERT_TRUE(Load(stem, c));
  ot::HeapObject obj;
  ot::Build(c.idx, cells::kRset, c.nodes, obj, 10);
  ASSERT_EQ(obj.status, 0);
  ops::CollBuildResult b = ops::BuildCollection(c.idx, obj.obj, &c.names, 9);
  ASSERT_EQ(b.status, 0);
  char dir[] = "/tmp/collcountriesXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string plr = std::string(dir) + "/c.plr", dat = std::string(dir) + "/c.dat";
  for (const auto& [path, bytes] : {std::pair{plr, &b.plr}, std::pair{dat, &b.dat}}) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
  }
  ops::Collection coll;
  ASSERT_EQ(coll.Open(plr, dat, c.idx, 2).status, ops::kCollOk);
  std::remove(plr.c_str());
  std::remove(dat.c_str());
  rmdir(dir);

  // S2: one lax polygon per country, shape ids mapped to country numbers.
  MutableS2ShapeIndex index;
  std::vector<std::uint32_t> shape_country;
  for (const auto& [id, loops] : c.loops) {
    index.Add(std::make_unique<S2LaxPolygonShape>(loops));
    shape_country.push_back(id);
  }
  index.ForceBuild();
  auto contains = MakeS2ContainsPointQuery(&index);
  S2ClosestEdgeQuery closest(&index);
  closest.mutable_options()->set_include_interiors(false);
  const double one_metre = 1.0 / 6371000.0;
  std::mt19937_64 rng(24);
  long compared = 0, agree = 0, invalid_country = 0, near_border = 0, self_crossing_differ = 0;
  for (int i = 0; i < positions; ++i) {
    const DirectionCosines p = ot::RandomUnit(rng);
    const S2Point sp(p.x, p.y, p.z);
    S2ClosestEdgeQuery::PointTarget target(sp);
    if (closest.GetDistance(&target).radians() < one_metre) {
      ++near_border;
      continue;
    }
    std::vector<std::uint32_t> want;
    for (S2Shape* s : contains.GetContainingShapes(sp)) want.push_back(shape_country[s->id()]);
    std::sort(want.begin(), want.end());
    std::uint32_t out[8];
    const int n = coll.RegionsAt(c.idx, cells::Locate(c.idx, p), p, out, 8);
    std::vector<std::uint32_t> got;
    for (int k = 0; k < std::min(n, 8); ++k) got.push_back(coll.Region(out[k]).id);
    std::sort(got.begin(), got.end());
    // S2's lax shapes invert a country whose ring crosses itself: for such
    // countries the even-odd test of their rings stands in for S2.
    want.erase(std::remove_if(want.begin(), want.end(), [&](std::uint32_t id) { return !c.valid[id]; }), want.end());
    bool invalid = false;
    for (const auto& [id, good] : c.valid)
      if (!good && EvenOdd(c.loops[id], sp)) {
        want.push_back(id);
        invalid = true;
      }
    std::sort(want.begin(), want.end());
    for (std::uint32_t id : got) invalid = invalid || !c.valid[id];
    invalid_country += invalid;
    ++compared;
    agree += got == want;
    if (got != want && invalid) ++self_crossing_differ;
    if (got != want && compared - agree <= 5) {
      std::string gs, ws;
      for (auto id : got) gs += " " + c.names[id];
      for (auto id : want) ws += " " + c.names[id];
      int direct = 0;
      for (std::size_t r = 0; r < coll.RegionCount(); ++r)
        if (ops::q7_RsetPointTest(c.idx, p, coll.Region(r).obj, 0.0, 0) > 0) ++direct;
      std::printf("  at %.6f %.6f %.6f: ours [%s ] S2 [%s ] direct %d\n", p.x, p.y, p.z, gs.c_str(), ws.c_str(), direct);
    }
  }
  // Antarctica included: at 50m its polygon lists the ring around the pole
  // first; while atlas2rgn took that ring for the coast, the country was the
  // rest of the world on both sides and S2 and the cell assembly disagreed
  // about a band of it (199 of 30 000 positions).
  std::printf("%s: %ld positions compared, %ld agree with S2, %ld beside a self-crossing country (even-odd), "
              "%ld of them differ, %ld within 1 m\n",
              stem, compared, agree, invalid_country, self_crossing_differ, near_border);
  // Every position where only countries with sound rings are involved agrees.
  EXPECT_EQ(agree + self_crossing_differ, compared);
  // Known fault of the region built from Sudan's self-crossing 110m ring
  // (edge 30 crosses edge 32 in a thin spike at 34 E): the built region
  // also holds bands of South Sudan and the Central African Republic (8-9 N,
  // 24-33 E), about 0.01% of random positions; the even-odd rings do not.
  // Bounded here so that it cannot grow unseen; it is no containment answer
  // to rely on.
  EXPECT_LE(self_crossing_differ, compared / 5000 + 3);

  // Area and perimeter of every country above 10 000 km2.
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const GeographicLib::Geodesic geod(e.a, (e.a - e.b) / e.a);
  long measured = 0, within = 0;
  for (std::size_t r = 0; r < coll.RegionCount(); ++r) {
    const ops::CollRegion& reg = coll.Region(r);
    double area = 0, perimeter = 0;
    for (const auto& loop : c.loops[reg.id]) {
      GeographicLib::PolygonArea poly(geod);
      for (const S2Point& q : loop) {
        const geodesy::LatLong ll = geodesy::CosinesToGeodetic({q.x(), q.y(), q.z()}, e);
        poly.AddPoint(ll.lat * 57.29577951308232, ll.lon * 57.29577951308232);
      }
      double pa = 0, pp = 0;
      poly.Compute(false, true, pp, pa);
      area += pa;
      perimeter += pp;
    }
    if (Km2(area) <= 10000 || !c.valid[reg.id]) continue;
    const cells::ObjectMeasure m = cells::MeasureRset(c.idx, reg.obj, e, 'c', nullptr);
    ++measured;
    const bool ok = std::fabs(m.area - area) <= 1e-3 * area && std::fabs(m.perimeter - perimeter) <= 1e-3 * perimeter;
    within += ok;
    if (!ok) {
      std::string name;
      coll.Name(reg.name_ref, name);
      ADD_FAILURE() << name << ": A " << Km2(m.area) << " km2 (GeographicLib " << Km2(area) << "), P "
                    << m.perimeter / 1e3 << " km (" << perimeter / 1e3 << ")";
    }
  }
  std::printf("%s: %ld countries above 10 000 km2, %ld with A and P within 0.1%% of GeographicLib\n", stem,
              measured, within);
  EXPECT_GT(measured, 100);
}

TEST(CountriesOracle, Countries110m) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build";
#endif
  CheckCountries("countries110m", Positions(25000, 100000));
}
TEST(CountriesOracle, Countries50m) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build";
#endif
  CheckCountries("countries50m", Positions(10000, 100000));
}

}  // namespace
