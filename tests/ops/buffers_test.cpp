// Buffers of points and lines on small built objects: densities, merges of
// overlapping circles, the side rule of line buffers checked by brute force,
// one-sided bands, joins, poles and the antimeridian, afar as the complement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "lib/cells/object_dump.h"
#include "lib/ops/rset_buffers.h"
#include "lib/ops/rset_point_test.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using cells::PointNode;
using geodesy::DirectionCosines;
using V = geodesy::DirectionCosines;

struct Arena {
  std::vector<std::uint8_t> memory;
  platform::Workspace ws;
  cells::Object out;
  explicit Arena(std::size_t n = 256 << 20) : memory(n) {}
  ops::DeriveContext Context(cells::CellIndex& idx, int res = 10) {
    platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
    ops::DeriveContext c;
    c.index = &idx;
    c.output = &ws;
    c.object = &out;
    c.created = 1234;
    c.res = res;
    return c;
  }
};

class Buffers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    idx_ = new cells::CellIndex;
    ASSERT_TRUE(LoadIndex("isotype.vix", *idx_));
  }
  static void TearDownTestSuite() {
    cells::ReleaseIndex(*idx_);
    delete idx_;
  }
  static cells::CellIndex* idx_;
};
cells::CellIndex* Buffers::idx_ = nullptr;

// FNV-1a over the three sections of an object.
std::uint64_t Fingerprint(const cells::Object& o) {
  std::uint64_t h = 1469598103934665603ull;
  auto eat = [&](const std::uint8_t* p, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  };
  eat(o.env, o.env_size);
  eat(o.structure, o.struct_size);
  eat(o.coords, o.coord_size);
  return h;
}

std::vector<PointNode> Clusters(int clusters, int per, double spread_deg, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<PointNode> v;
  for (int c = 0; c < clusters; ++c) {
    const double lat = std::asin(u(rng)) * 180.0 / M_PI, lon = 180.0 * u(rng);
    for (int i = 0; i < per; ++i)
      v.push_back({LatLonDeg(std::clamp(lat + spread_deg * u(rng), -90.0, 90.0), lon + spread_deg * u(rng)),
                   static_cast<std::uint64_t>(c * per + i)});
  }
  return v;
}

TEST_F(Buffers, PointResultsKeepTheirBytes) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  struct Case { int clusters, per; double spread, d; int density, mode; std::uint64_t seed; };
  // The fingerprints of the pairwise neighbour search, kept by the indexed one.
  const Case cases[] = {{20, 15, 1.0, 50000, 2, 1, 7}, {5, 40, 0.5, 30000, 4, 1, 8},
                        {30, 10, 2.0, 80000, 1, 2, 9}};
  const std::uint64_t expected[] = {12472244687603909168ull, 1135817975622211300ull, 4867068677065943143ull};
  int k = 0;
  for (const Case& c : cases) {
    HeapObject pts;
    Build(*idx_, cells::kPset, Clusters(c.clusters, c.per, c.spread, c.seed), pts);
    ASSERT_EQ(pts.status, 0);
    Arena a;
    ASSERT_EQ(ops::q7_RsetNearPoints(a.Context(*idx_), &e, c.mode, c.density, c.d, pts.obj), 0);
    EXPECT_EQ(Fingerprint(a.out), expected[k++]) << "density " << c.density;
  }
}

double Angle(V a, V b) { return std::atan2(std::sqrt(geodesy::Dot(geodesy::Cross(a, b), geodesy::Cross(a, b))), geodesy::Dot(a, b)); }
V Unitised(V a) {
  const double l = std::sqrt(geodesy::Dot(a, a));
  return {a.x / l, a.y / l, a.z / l};
}
V Along(V a, V dir, double t) {
  return Unitised({a.x * std::cos(t) + dir.x * std::sin(t), a.y * std::cos(t) + dir.y * std::sin(t),
                     a.z * std::cos(t) + dir.z * std::sin(t)});
}

// Distance of q to the arc a-b with its ends.
double ArcDistance(V a, V b, V q) {
  const V n = geodesy::Cross(a, b);
  const double ln = std::sqrt(geodesy::Dot(n, n));
  if (ln < 1e-15) return Angle(a, q);
  const V u{n.x / ln, n.y / ln, n.z / ln};
  const V ua = geodesy::Cross(u, a), ub = geodesy::Cross(b, u);
  if (geodesy::Dot(q, ua) >= 0.0 && geodesy::Dot(q, ub) >= 0.0) return std::asin(std::min(1.0, std::fabs(geodesy::Dot(q, u))));
  return std::min(Angle(a, q), Angle(b, q));
}

struct Widths { double right, left; int density; };

// The side rule against brute force: 1 surely inside, -1 surely outside, 0
// within the tolerance of the polygons.
int Expected(const std::vector<std::vector<V>>& lines, const Widths& w, V q) {
  const int n = ops::DensityVertices(w.density);
  const double k = ops::AreaEqualFactor(n), metre = 1.0 / 6371007.1808;
  bool maybe = false;
  for (const auto& l : lines) {
    for (std::size_t i = 0; i < l.size(); ++i) {
      if (l.size() > 1 && i + 1 == l.size()) break;
      const V a = l[i], b = l.size() > 1 ? l[i + 1] : l[i];
      const double side = geodesy::Dot(geodesy::Cross(a, b), q);
      const double width = l.size() == 1 ? std::max(w.right, w.left) : side > 0.0 ? w.left : w.right;
      const double d = ArcDistance(a, b, q);
      if (width > 0.0 && d < width * std::cos(M_PI / n) - metre) return 1;
      if (d <= width * k + metre) maybe = true;
    }
  }
  return maybe ? 0 : -1;
}

struct Failures {
  int inside_missed = 0, outside_taken = 0, checked = 0;
};

// Buffers the lines (near and afar) and checks queries near them.
void CheckLines(cells::CellIndex& idx, const std::vector<std::vector<V>>& lines, const Widths& w, int queries,
                std::mt19937_64& rng, Failures& f, int* status = nullptr) {
  std::vector<PointNode> nodes;
  std::uint64_t id = 0;
  for (const auto& l : lines) {
    for (const V& p : l) nodes.push_back({p, 0});
    nodes.push_back(cells::Mark(++id));
  }
  HeapObject ls;
  Build(idx, cells::kLset, nodes, ls);
  ASSERT_EQ(ls.status, 0);
  Arena near, afar;
  const int s1 = ops::q7_LsetExpand(near.Context(idx), nullptr, 1, w.density, w.density, w.right, w.left, ls.obj);
  const int s2 = ops::q7_LsetExpand(afar.Context(idx), nullptr, 2, w.density, w.density, w.right, w.left, ls.obj);
  if (status) *status = s1;
  ASSERT_EQ(s1, 0);
  ASSERT_LE(s2, 0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double reach = 2.0 * std::max(w.right, w.left);
  for (int i = 0; i < queries; ++i) {
    const auto& l = lines[rng() % lines.size()];
    const std::size_t j = rng() % l.size();
    V p = l[j];
    if (j + 1 < l.size()) {
      const V b = l[j + 1];
      const V n = Unitised(geodesy::Cross(p, b));
      p = Along(p, geodesy::Cross(n, p), u(rng) * Angle(p, b));
    }
    const V east = Unitised(geodesy::Cross(std::fabs(p.z) < 0.9 ? V{0, 0, 1} : V{1, 0, 0}, p));
    const V north = geodesy::Cross(p, east);
    const double t = 2.0 * M_PI * u(rng);
    const V dir{east.x * std::cos(t) + north.x * std::sin(t), east.y * std::cos(t) + north.y * std::sin(t),
                east.z * std::cos(t) + north.z * std::sin(t)};
    const V q = Along(p, dir, reach * u(rng));
    const int want = Expected(lines, w, q);
    const int got = ops::q7_RsetPointTest(idx, q, near.out, 1e-12, 1);
    const int got_afar = s2 == 0 ? ops::q7_RsetPointTest(idx, q, afar.out, 1e-12, 1) : -2;
    ++f.checked;
    if (want == 1 && (got < 0 || got_afar > 0)) ++f.inside_missed;
    if (want == -1 && (got > 0 || got_afar < 0)) ++f.outside_taken;
  }
}

// Random polylines: legs of 10 to 800 km with random turns (crossing
// themselves and doubling back), some across +-180 degrees, some over a pole.
std::vector<V> RandomLine(std::mt19937_64& rng, int kind) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double km = 1000.0 / 6371007.1808;
  V p = RandomUnit(rng);
  if (kind == 1) p = LatLonDeg(60.0 * (u(rng) - 0.5), 179.5 + u(rng));
  if (kind == 2) p = LatLonDeg(86.0 + 2.0 * u(rng), 360.0 * u(rng));
  V east = Unitised(geodesy::Cross(std::fabs(p.z) < 0.9 ? V{0, 0, 1} : V{1, 0, 0}, p));
  double heading = 2.0 * M_PI * u(rng);
  if (kind == 1) { east = Unitised(geodesy::Cross(V{0, 0, 1}, p)); heading = u(rng) < 0.5 ? 0.0 : M_PI; }
  if (kind == 2) { heading = 0.0; east = Unitised(geodesy::Cross(p, V{0, 0, 1})); }
  const V north = geodesy::Cross(p, east);
  V dir{east.x * std::cos(heading) + north.x * std::sin(heading), east.y * std::cos(heading) + north.y * std::sin(heading),
        east.z * std::cos(heading) + north.z * std::sin(heading)};
  std::vector<V> line{p};
  const int legs = 2 + static_cast<int>(rng() % 19);
  for (int i = 0; i < legs; ++i) {
    const double len = (10.0 + 790.0 * u(rng)) * km;
    const V q = Along(p, dir, kind == 2 && i == 0 ? 8.0 * M_PI / 180.0 : len);
    // The direction at q, then a turn of up to 170 degrees either way.
    const V n = Unitised(geodesy::Cross(p, q));
    V t = geodesy::Cross(n, q);
    const double turn = (u(rng) - 0.5) * 2.0 * 170.0 * M_PI / 180.0 * (kind == 1 ? 0.2 : 1.0);
    const V side = geodesy::Cross(q, t);
    t = {t.x * std::cos(turn) + side.x * std::sin(turn), t.y * std::cos(turn) + side.y * std::sin(turn),
         t.z * std::cos(turn) + side.z * std::sin(turn)};
    line.push_back(q);
    p = q;
    dir = t;
  }
  return line;
}

TEST_F(Buffers, SmallLines) {
  const double km = 1000.0 / 6371007.1808;
  std::mt19937_64 rng(5);
  const std::vector<std::vector<std::vector<V>>> cases = {
      {{LatLonDeg(10, 10), LatLonDeg(10, 12)}},
      {{LatLonDeg(10, 10), LatLonDeg(10, 12), LatLonDeg(10, 14)}},
      {{LatLonDeg(10, 10), LatLonDeg(10, 12), LatLonDeg(12, 13)}},
      {{LatLonDeg(10, 10), LatLonDeg(10, 12), LatLonDeg(12, 13), LatLonDeg(9, 11)}},
  };
  const Widths widths[] = {{30 * km, 10 * km, 2}, {0.0, 20 * km, 2}, {50 * km, 50 * km, 4}};
  int c = 0;
  for (const auto& lines : cases) {
    for (const Widths& w : widths) {
      Failures f;
      int status = 0;
      CheckLines(*idx_, lines, w, 500, rng, f, &status);
      EXPECT_EQ(status, 0) << "case " << c;
      EXPECT_EQ(f.inside_missed + f.outside_taken, 0) << "case " << c;
      ++c;
    }
  }
}

TEST_F(Buffers, RandomLinesFollowTheSideRule) {
  const double km = 1000.0 / 6371007.1808;
  const bool full = std::getenv("OMBREL_BUFFERS_FULL") != nullptr;
  const int lines = full ? 200 : Sanitized() ? 4 : 16;
  const int queries = full ? 333 : 150;
  const Widths widths[] = {{30 * km, 10 * km, 4}, {0.0, 20 * km, 4}, {50 * km, 50 * km, 4}};
  std::mt19937_64 rng(2024);
  Failures f;
  for (int i = 0; i < lines; ++i) {
    const int kind = i % 10 == 3 ? 1 : i % 40 == 7 ? 2 : 0;
    const std::vector<std::vector<V>> one{RandomLine(rng, kind)};
    for (const Widths& w : widths) {
      int status = 0;
      CheckLines(*idx_, one, w, queries, rng, f, &status);
      ASSERT_EQ(status, 0) << "line " << i;
    }
  }
  EXPECT_EQ(f.inside_missed, 0) << f.checked << " queries";
  EXPECT_EQ(f.outside_taken, 0) << f.checked << " queries";
}

}  // namespace
