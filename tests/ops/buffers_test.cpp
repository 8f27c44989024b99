// Buffers of points and lines on small built objects: densities, merges of
// overlapping circles, the side rule of line buffers checked by brute force,
// one-sided bands, joins, poles and the antimeridian, afar as the complement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "lib/cells/object_dump.h"
#include "lib/ops/rset_buffers.h"
#include "lib/ops/rset_point_test.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using cells::PointNode;
using geodesy::DirectionCosines;
using V = geodesy::DirectionCosines;

struct Arena : OutputArena {
  explicit Arena(std::size_t n = 256 << 20) : OutputArena(n, 1234) {}
};

class Buffers : public IsotypeSuite {};

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

// The legs of the lines (a one-vertex line is a leg from the vertex to
// itself), entered in a grid of cubes over the sphere so that the brute force
// looks only at legs that can reach a query: every leg is sampled at half a
// cube and entered in the cubes round each sample, which holds every leg
// within 0.75 cubes (95 km) of a query.
struct LegGrid {
  static constexpr double kCube = 0.02;
  std::vector<std::pair<V, V>> legs;
  std::vector<char> single;
  std::unordered_map<std::uint64_t, std::vector<int>> cube;
  static std::uint64_t Key(std::int64_t i, std::int64_t j, std::int64_t k) {
    return static_cast<std::uint64_t>(((i + 200) * 512 + (j + 200)) * 512 + (k + 200));
  }
  static std::int64_t C(double c) { return static_cast<std::int64_t>(std::floor(c / kCube)); }
  explicit LegGrid(const std::vector<std::vector<V>>& lines) {
    for (const auto& l : lines)
      for (std::size_t i = 0; i < l.size(); ++i) {
        if (l.size() > 1 && i + 1 == l.size()) break;
        const V a = l[i], b = l.size() > 1 ? l[i + 1] : l[i];
        // A repeated vertex is no leg: it has no great circle, so no sides.
        if (l.size() > 1 && Angle(a, b) < 1e-12) continue;
        const int id = static_cast<int>(legs.size());
        legs.push_back({a, b});
        single.push_back(l.size() == 1);
        const double len = Angle(a, b);
        const int steps = std::max(1, static_cast<int>(std::ceil(len / (kCube / 2.0))));
        const V n = len > 0.0 ? Unitised(geodesy::Cross(a, b)) : V{0, 0, 1};
        std::vector<std::uint64_t> keys;
        for (int s = 0; s <= steps; ++s) {
          const V p = len > 0.0 ? Along(a, geodesy::Cross(n, a), len * s / steps) : a;
          for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
              for (int dz = -1; dz <= 1; ++dz) keys.push_back(Key(C(p.x) + dx, C(p.y) + dy, C(p.z) + dz));
        }
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (std::uint64_t k : keys) cube[k].push_back(id);
      }
  }
  const std::vector<int>* Near(V q) const {
    auto it = cube.find(Key(C(q.x), C(q.y), C(q.z)));
    return it == cube.end() ? nullptr : &it->second;
  }
};

// The side rule against brute force: 1 surely inside, -1 surely outside, 0
// within the tolerance of the polygons.
int Expected(const LegGrid& g, const Widths& w, V q) {
  const int n = ops::DensityVertices(w.density);
  const double k = ops::AreaEqualFactor(n), metre = 1.0 / 6371007.1808;
  bool maybe = false;
  const std::vector<int>* near = g.Near(q);
  if (!near) return -1;
  for (int id : *near) {
    const V a = g.legs[id].first, b = g.legs[id].second;
    const double side = geodesy::Dot(geodesy::Cross(a, b), q);
    const double width = g.single[id] ? std::max(w.right, w.left) : side > 0.0 ? w.left : w.right;
    const double d = ArcDistance(a, b, q);
    if (width > 0.0 && d < width * std::cos(M_PI / n) - metre) return 1;
    // A side of no width keeps a hair of 3 m, with round parts of 6 m.
    if (d <= (width > 0.0 ? width * k : 1e-6) + metre) maybe = true;
  }
  return maybe ? 0 : -1;
}

struct Failures {
  int inside_missed = 0, outside_taken = 0, checked = 0, vertices_outside = 0;
  int afar_not_complement = 0;  // counted on its own when afar is not checked with near
};

// Buffers the lines (near and afar) and checks queries near them; with
// vertices, also that every vertex of the lines lies inside near.
void CheckLines(cells::CellIndex& idx, const std::vector<std::vector<V>>& lines, const Widths& w, int queries,
                std::mt19937_64& rng, Failures& f, int* status = nullptr, bool vertices = false,
                bool afar_with_near = true) {
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
  const LegGrid grid(lines);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double reach = 2.0 * std::max(w.right, w.left);
  for (int i = 0; i < queries; ++i) {
    const auto& l = lines[rng() % lines.size()];
    const std::size_t j = rng() % l.size();
    V p = l[j];
    if (j + 1 < l.size() && Angle(p, l[j + 1]) > 1e-12) {
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
    const int want = Expected(grid, w, q);
    const int got = ops::q7_RsetPointTest(idx, q, near.out, 1e-12, 1);
    int got_afar = s2 == 0 ? ops::q7_RsetPointTest(idx, q, afar.out, 1e-12, 1) : -2;
    ++f.checked;
    if (!afar_with_near) {
      if (want != 0 && s2 == 0 && (got > 0) == (got_afar > 0)) ++f.afar_not_complement;
      got_afar = want == 1 ? -1 : 1;
    }
    if (want == 1 && (got < 0 || got_afar > 0)) ++f.inside_missed;
    if (want == -1 && (got > 0 || got_afar < 0)) ++f.outside_taken;
  }
  if (vertices)
    for (const auto& l : lines)
      for (const V& p : l)
        if (ops::q7_RsetPointTest(idx, p, near.out, 1e-12, 1) < 0) ++f.vertices_outside;
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
    const double turn = (u(rng) - 0.5) * 2.0 * 170.0 * M_PI / 180.0 * (kind == 1 ? 0.2 : 1.0);
    line.push_back(q);
    dir = TurnedAt(p, q, turn);
    p = q;
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

namespace {

using namespace ops::testing;

std::vector<std::vector<V>> CoastLines(const char* name) {
  std::vector<std::vector<V>> lines;
  std::FILE* f = std::fopen((BinDir() + name).c_str(), "rb");
  if (!f) return lines;
  cells::CoordReadOptions o;
  o.kind = 1;
  o.res = 10;
  std::vector<PointNode> nodes;
  const cells::CoordReadResult r = cells::ReadCoordText(f, o, nodes);
  std::fclose(f);
  if (r.status != 0) return {};
  lines.emplace_back();
  for (const PointNode& n : nodes) {
    if (cells::IsMark(n)) {
      if (!lines.back().empty()) lines.emplace_back();
      continue;
    }
    lines.back().push_back(n.p);
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

// Natural Earth land rings as lines, sea and land sides: the merge must
// close its rings where three shapes' boundaries cross in one point (it
// ended with status 16 on both one-sided buffers), and with side_rule the
// result follows the side rule and holds every coast vertex.
void CheckCoast(cells::CellIndex& idx, const char* name, int queries, bool one_sided, bool side_rule,
                bool afar = false) {
  const std::vector<std::vector<V>> coast = CoastLines(name);
  ASSERT_GT(coast.size(), 100u) << name;
  const double km = 1000.0 / 6371007.1808;
  const std::vector<Widths> widths = one_sided ? std::vector<Widths>{{0.0, 20 * km, 2}, {20 * km, 0.0, 2}}
                                               : std::vector<Widths>{{25 * km, 10 * km, 2}, {50 * km, 50 * km, 2}};
  std::mt19937_64 rng(110);
  for (const Widths& w : widths) {
    Failures f;
    int status = -1;
    CheckLines(idx, coast, w, side_rule ? queries : 1, rng, f, &status, side_rule, false);
    const std::string what = std::string(name) + " widths " + std::to_string(w.right / km) + ", " +
                             std::to_string(w.left / km) + ", " + std::to_string(f.checked) + " queries";
    EXPECT_EQ(status, 0) << what;
    if (!side_rule) continue;
    EXPECT_EQ(f.inside_missed, 0) << what;
    EXPECT_EQ(f.outside_taken, 0) << what;
    EXPECT_EQ(f.vertices_outside, 0) << what;
    if (afar) {
      EXPECT_EQ(f.afar_not_complement, 0) << what;
    }
  }
}

// The afar regions too: at a vertex of a ring lying wholly in one cell, the
// cell's chain meets the vertex again at its end an ulp nearer, and the
// point test took the end's one-leg side there (one query of the 50 km
// buffer's complement answered wrong). One-sided, the land side lost the
// places where the joins of a leg shorter than the width ran along one great
// circle (the Mozambique coast, below) and the strip beside two Canadian
// Arctic islands' legs (below).
TEST_F(Buffers, Coast110mAsLines) {
  const int queries = Sanitized() ? 2000 : 25000;
  CheckCoast(*idx_, "land110m.rgn", queries, false, true, true);
  CheckCoast(*idx_, "land110m.rgn", queries, true, true, true);
}

// The 50m coast takes minutes: with OMBREL_BUFFERS_FULL=1 only.
TEST_F(Buffers, Coast50mAsLines) {
  if (!std::getenv("OMBREL_BUFFERS_FULL")) GTEST_SKIP() << "set OMBREL_BUFFERS_FULL=1";
  CheckCoast(*idx_, "land50m.rgn", 25000, false, true, true);
  CheckCoast(*idx_, "land50m.rgn", 25000, true, true, true);
}

// Three vertices of a 110m island (exact doubles), a left turn of 91
// degrees, 20 km on the right (the outer side) and the hair on the left:
// the hair's crossings left two ring vertices a millimetre or so apart,
// one position once stored, and the region lost the turn vertex and the
// band 6.5 km beside it (rounded to 15 digits the vertices came out right).
TEST_F(Buffers, OneSidedSharpTurnOfAnIsland) {
  const double km = 1000.0 / 6371007.1808;
  const V a{0x1.e7223f02d849ep-3, 0x1.38ab59785787fp-1, -0x1.82b7c3bed4f14p-1};
  const V b{0x1.e15b0d3f8cf25p-3, 0x1.355ce6b81b89fp-1, -0x1.85d11a53a5ec3p-1};
  const V c{0x1.c093c14d5660fp-3, 0x1.38e458ca4f144p-1, -0x1.85718b7d4a35ep-1};
  HeapObject ls;
  Build(*idx_, cells::kLset, {{a, 0}, {b, 0}, {c, 0}, cells::Mark(1)}, ls);
  ASSERT_EQ(ls.status, 0);
  Arena ar;
  ASSERT_EQ(ops::q7_LsetExpand(ar.Context(*idx_), nullptr, 1, 2, 2, 20 * km, 0.0, ls.obj), 0);
  EXPECT_GT(ops::q7_RsetPointTest(*idx_, b, ar.out, 1e-12, 1), 0);
  EXPECT_GT(ops::q7_RsetPointTest(*idx_, V{0.234906449816, 0.603444830987, -0.762019222717}, ar.out, 1e-12, 1), 0);
}

// Where a leg is shorter than the wide side, the join at its far end has a
// vertex (straight back along the leg, at the join's radius) that lies on
// the great circle of the join at its near end, and on that join's edge
// between its two radii: the two are built from the same great circle, and
// the vertex's determinant against the edge came out exactly 0. The
// crossing test took only strict signs, so neither leg beside the vertex
// crossed the edge, the edge ran on uncut through the other join, and the
// wedge that join's inner side reaches across the arriving leg came out as a
// ring of its own that the region lost. Two 110m coasts (exact doubles), 20
// km on the left and the hair on the right: Wrangel Island west of 180
// degrees (a left turn of 44 degrees after a leg of 15.6 km, then one of 69)
// and a stretch of Ellesmere Island (a left turn of 70 degrees after a leg
// of 16.3 km, whose far join's vertex lies on the near join's edge).
TEST_F(Buffers, JoinVertexOnTheNeighbouringJoinsEdge) {
  const double km = 1000.0 / 6371007.1808;
  const std::vector<V> wrangel = {
      {-0x1.523b1e4417453p-2, -0x1.75171d068de07p-55, 0x1.e3438c65e6b51p-1},
      {-0x1.511c17e103f64p-2, -0x1.ec2c2ffb8f61dp-8, 0x1.e371c30fd9169p-1},
      {-0x1.4cde6ecda6b42p-2, -0x1.b29a6a4556498p-7, 0x1.e425680853345p-1},
      {-0x1.4a851617a2f9bp-2, -0x1.bf835cc165a3dp-7, 0x1.e48ba0698c29cp-1},
      {-0x1.45e673b9a2612p-2, -0x1.633082393e12dp-8, 0x1.e55e9868439fp-1},
      {-0x1.45eaf44032c01p-2, -0x1.79748c911614bp-11, 0x1.e55fd59cab02fp-1},
      {-0x1.469c48744386ep-2, -0x1.6845ae311bd0ep-55, 0x1.e542112538822p-1}};
  const std::vector<V> ellesmere = {
      {0x1.37882f57aa7d8p-6, -0x1.bb0f2af5b4fdp-3, 0x1.f3c7c3bed4faap-1},
      {0x1.1a0d50c8cd751p-7, -0x1.ad3dccfe72209p-3, 0x1.f49bd3792af8bp-1},
      {0x1.a3b9fca088affp-8, -0x1.afd80deb1180fp-3, 0x1.f47a39c4a8b7cp-1},
      {0x1.1d25dc9fb35c4p-7, -0x1.c910fd7106cd7p-3, 0x1.f3110121cdf98p-1},
      {0x1.8d9b4cd042773p-10, -0x1.d14a573b45cb4p-3, 0x1.f29c4aff7ceeep-1}};
  // In each wedge: 12 km behind the Wrangel vertex of the 69-degree turn,
  // 13 km ahead of the Ellesmere turn.
  const V wedge[2] = {{-0.324065311930, -0.015001655611, 0.945915759427},
                      {0.006382894604, -0.213219046538, 0.976983570409}};
  std::mt19937_64 rng(94);
  int k = 0;
  for (const std::vector<V>* line : {&wrangel, &ellesmere}) {
    std::vector<PointNode> nodes;
    for (const V& p : *line) nodes.push_back({p, 0});
    nodes.push_back(cells::Mark(1));
    HeapObject ls;
    Build(*idx_, cells::kLset, nodes, ls);
    ASSERT_EQ(ls.status, 0);
    Arena ar;
    ASSERT_EQ(ops::q7_LsetExpand(ar.Context(*idx_), nullptr, 1, 2, 2, 0.0, 20 * km, ls.obj), 0);
    EXPECT_GT(ops::q7_RsetPointTest(*idx_, Unitised(wedge[k]), ar.out, 1e-12, 1), 0) << "line " << k;
    Failures f;
    CheckLines(*idx_, {*line}, {0.0, 20 * km, 2}, 3000, rng, f, nullptr, true);
    EXPECT_EQ(f.inside_missed + f.outside_taken + f.vertices_outside, 0) << "line " << k;
    ++k;
  }
}

// One short line from a coast, buffered and held to the side rule with its
// vertices inside.
void ExpectSideRule(cells::CellIndex& idx, const std::vector<V>& line, const Widths& w, int queries,
                    std::mt19937_64& rng) {
  Failures f;
  int status = -1;
  CheckLines(idx, {line}, w, queries, rng, f, &status, true);
  EXPECT_EQ(status, 0);
  const double km = 1000.0 / 6371007.1808;
  EXPECT_EQ(f.inside_missed + f.outside_taken + f.vertices_outside, 0) << w.right / km << ", " << w.left / km;
}

// The first leg of a 50m island (exact doubles) is 5 km long; 20 km on the
// right, the hair on the left. The join at its end reaches 20 km straight
// back along it, beyond the line's start, where the end cap's edge between
// its two radii runs along the same great circle the same way: the two
// edges overlap for 15 km, a few nanometres apart, and each one's midpoint
// test against the other was rounding noise. The merged output kept both,
// or neither, and lost the cap's quarter circle on the wide side.
TEST_F(Buffers, EdgesAlongOneGreatCircleAtALineStart) {
  const double km = 1000.0 / 6371007.1808;
  const std::vector<V> island = {
      {0x1.86770ecccc07ep-3, -0x1.9a6dd68661005p-1, 0x1.221bd37ee1c8dp-1},
      {0x1.84e4b23c7db4cp-3, -0x1.9a7eca44bef35p-1, 0x1.22259e908ed12p-1},
      {0x1.8560fbb6445aap-3, -0x1.9a8c305b0384ep-1, 0x1.22083ce5a9b1bp-1},
      {0x1.87061b5986a96p-3, -0x1.9a8ed8e82a2ccp-1, 0x1.21e10dcf93c7fp-1},
      {0x1.8835284c2a9b8p-3, -0x1.9a8a9d3c3da09p-1, 0x1.21cd755f1f9f6p-1},
      {0x1.88d18cb598c04p-3, -0x1.9a7ef672c598cp-1, 0x1.21d0b97cc4e99p-1}};
  std::mt19937_64 rng(184);
  for (const Widths& w : {Widths{20 * km, 0.0, 2}, Widths{20 * km, 5 * km, 2}, Widths{0.0, 20 * km, 2}})
    ExpectSideRule(*idx_, island, w, 3000, rng);
}

// Four vertices of the 110m Mozambique coast, 20 km on the land side: a
// left turn of 108 degrees, a leg of 19 km, a right turn of 104. The edge of
// the far join between its two radii ran straight back along the short leg,
// past its start, along the near join's edge on the same great circle, and
// no crossing test cut the two there: the wedge of the first turn came out
// as a ring of its own (131 of 4000 queries). The wider side now reaches a
// quarter of a metre past each leg's great circle, so the two edges cross.
TEST_F(Buffers, LegsAlongOneGreatCircleAfterAShortLeg) {
  const double km = 1000.0 / 6371007.1808;
  const std::vector<V> mozambique = {{0x1.7fb86b2c5fcf2p-1, 0x1.120ce4ab15dafp-1, -0x1.8efe7a50c4b5p-2},
                                     {0x1.824a1b8894cf9p-1, 0x1.142db3210827fp-1, -0x1.7ee211b1d9179p-2},
                                     {0x1.830136c991a3fp-1, 0x1.12e4ae74885ccp-1, -0x1.7fb150c628476p-2},
                                     {0x1.83e1efe13714p-1, 0x1.135ec34bead41p-1, -0x1.7abf512c861e7p-2}};
  std::mt19937_64 rng(756);
  ExpectSideRule(*idx_, mozambique, {0.0, 20 * km, 2}, 4000, rng);
}

// The last three vertices of a 110m Canadian Arctic island (exact doubles),
// 20 km on the left: a left turn of 89 degrees. Near the turn vertex the
// leaving leg's hair edge is cut twice within 6 cm of its start, and the
// cuts were ordered by the cosine of their angle from it, which cannot tell
// such points apart: the stretches came out in the wrong order, the wedge
// ahead of the turn became a ring of its own and the strip along the leaving
// leg was lost (90 of 20 000 queries; 3 152 with the neighbouring island).
TEST_F(Buffers, CutsCentimetresFromALegStart) {
  const double km = 1000.0 / 6371007.1808;
  const std::vector<V> island = {{-0x1.e1310743fbf88p-6, -0x1.a557d4c008e8ep-3, 0x1.f4d2532bf1291p-1},
                                 {-0x1.b9a4060dd424ap-6, -0x1.ae4d19f5c636cp-3, 0x1.f4618502721f6p-1},
                                 {-0x1.5ab46cb61ac35p-6, -0x1.a85c31d3dad3cp-3, 0x1.f4c55b3db81ffp-1}};
  HeapObject ls;
  Build(*idx_, cells::kLset, {{island[0], 0}, {island[1], 0}, {island[2], 0}, cells::Mark(1)}, ls);
  ASSERT_EQ(ls.status, 0);
  Arena ar;
  ASSERT_EQ(ops::q7_LsetExpand(ar.Context(*idx_), nullptr, 1, 2, 2, 0.0, 20 * km, ls.obj), 0);
  // 11 km along the leaving leg, 100 m to its left.
  EXPECT_GT(ops::q7_RsetPointTest(*idx_, LatLonDeg(77.8306923, -96.8859742), ar.out, 1e-12, 1), 0);
  std::mt19937_64 rng(116);
  ExpectSideRule(*idx_, island, {0.0, 20 * km, 2}, 6000, rng);
}

}  // namespace

namespace {

using namespace ops::testing;

// DumpObject's vertex total of a built object.
int DumpedVertices(const cells::Object& o) {
  std::FILE* f = std::tmpfile();
  if (!f) return -1;
  cells::DumpObjectText(o, f);
  std::rewind(f);
  char line[512];
  int total = -1;
  while (std::fgets(line, sizeof line, f)) std::sscanf(line, "  Total vertices: %d", &total);
  std::fclose(f);
  return total;
}

// Near points of the given points on the default ellipsoid; the status.
int NearPoints(cells::CellIndex& idx, Arena& a, const std::vector<V>& pts, double d, int density, int mode = 1) {
  std::vector<PointNode> nodes;
  for (const V& p : pts) nodes.push_back({p, 7});
  HeapObject ps;
  Build(idx, cells::kPset, nodes, ps);
  if (ps.status != 0) return 100 + ps.status;
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  return ops::q7_RsetNearPoints(a.Context(idx), &e, mode, density, d, ps.obj);
}

TEST_F(Buffers, DensitiesGiveTheirVertexCounts) {
  const int expected[] = {11, 23, 43, 89, 179, 359};
  for (int density = 1; density <= 6; ++density) {
    Arena a(32 << 20);
    ASSERT_EQ(NearPoints(*idx_, a, {LatLonDeg(10.3, 20.7)}, 1000.0, density), 0);
    EXPECT_EQ(DumpedVertices(a.out), expected[density - 1]) << "density " << density;
  }
  for (int density : {0, 7, -1}) {
    Arena a(32 << 20);
    EXPECT_EQ(NearPoints(*idx_, a, {LatLonDeg(10.3, 20.7)}, 1000.0, density), ops::DERIVE_BAD_PARAMETERS);
    HeapObject ls;
    Build(*idx_, cells::kLset, {{LatLonDeg(1, 1), 0}, {LatLonDeg(1, 2), 0}, cells::Mark(1)}, ls);
    EXPECT_EQ(ops::q7_LsetExpand(a.Context(*idx_), nullptr, 1, density, 2, 1e-3, 1e-3, ls.obj),
              ops::DERIVE_BAD_PARAMETERS);
    EXPECT_EQ(ops::q7_LsetExpand(a.Context(*idx_), nullptr, 1, 2, density, 1e-3, 1e-3, ls.obj),
              ops::DERIVE_BAD_PARAMETERS);
  }
}

TEST_F(Buffers, PointSetsOfOneCircle) {
  const V p = LatLonDeg(-33.2, 151.1);
  const V east = Unitised(geodesy::Cross(V{0, 0, 1}, p));
  // 50 km: points 40 m apart (under d / 1000) are one; 60 m apart are two.
  const double d = 50000.0, m = 1.0 / 6371007.1808;
  {
    Arena a(32 << 20);
    ASSERT_EQ(NearPoints(*idx_, a, {p, Along(p, east, 40 * m), Along(p, east, 20 * m)}, d, 2), 0);
    EXPECT_EQ(DumpedVertices(a.out), 23);
  }
  {
    Arena a(32 << 20);
    ASSERT_EQ(NearPoints(*idx_, a, {p, Along(p, east, 60 * m)}, d, 2), 0);
    EXPECT_GT(DumpedVertices(a.out), 23);
  }
  {
    Arena a(32 << 20);
    ASSERT_EQ(NearPoints(*idx_, a, std::vector<V>(50, p), d, 2), 0);
    EXPECT_EQ(DumpedVertices(a.out), 23);
    EXPECT_GT(ops::q7_RsetPointTest(*idx_, p, a.out, 1e-12, 1), 0);
  }
}

TEST_F(Buffers, PointsOnThePolesAndAtTheLimit) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  std::mt19937_64 rng(3);
  for (double lat : {90.0, -90.0}) {
    Arena a(32 << 20);
    const V pole = LatLonDeg(lat, 0.0);
    ASSERT_EQ(NearPoints(*idx_, a, {pole}, 100000.0, 3), 0) << lat;
    EXPECT_GT(ops::q7_RsetPointTest(*idx_, pole, a.out, 1e-12, 1), 0) << lat;
    for (double lon : {-180.0, -90.0, 0.0, 45.0, 179.9}) {
      EXPECT_GT(ops::q7_RsetPointTest(*idx_, LatLonDeg(lat > 0 ? 89.2 : -89.2, lon), a.out, 1e-12, 1), 0);
      EXPECT_LT(ops::q7_RsetPointTest(*idx_, LatLonDeg(lat > 0 ? 88.9 : -88.9, lon), a.out, 1e-12, 1), 0);
    }
  }
  // The largest distance the command takes (1.1 d = mean radius): one circle
  // of 52 degrees, its centre in, its antipode out; the library refuses more
  // than a.
  const double limit = ops::MeanRadius(e) / 1.1;
  const V c = LatLonDeg(20.0, -170.0);
  Arena a(64 << 20);
  ASSERT_EQ(NearPoints(*idx_, a, {c}, limit, 2), 0);
  EXPECT_GT(ops::q7_RsetPointTest(*idx_, c, a.out, 1e-12, 1), 0);
  EXPECT_LT(ops::q7_RsetPointTest(*idx_, V{-c.x, -c.y, -c.z}, a.out, 1e-12, 1), 0);
  const V east = Unitised(geodesy::Cross(V{0, 0, 1}, c));
  const double r = limit / 6371007.1808;
  EXPECT_GT(ops::q7_RsetPointTest(*idx_, Along(c, east, 0.98 * r), a.out, 1e-12, 1), 0);
  EXPECT_LT(ops::q7_RsetPointTest(*idx_, Along(c, east, 1.02 * r), a.out, 1e-12, 1), 0);
  Arena b(32 << 20);
  EXPECT_EQ(NearPoints(*idx_, b, {c}, e.a * 1.001, 2), ops::DERIVE_BAD_PARAMETERS);
}

TEST_F(Buffers, CirclesCoveringTheEarthGiveTheWorld) {
  // The twelve icosahedron vertices with circles of 5000 km (45 degrees;
  // the faces' circumradius is 37.4).
  std::vector<V> ico;
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  for (double s1 : {-1.0, 1.0})
    for (double s2 : {-t, t}) {
      ico.push_back(Unitised({0, s1, s2}));
      ico.push_back(Unitised({s1, s2, 0}));
      ico.push_back(Unitised({s2, 0, s1}));
    }
  Arena near(64 << 20), afar(64 << 20);
  ASSERT_EQ(NearPoints(*idx_, near, ico, 5000000.0, 2, 1), 0);
  EXPECT_EQ(NearPoints(*idx_, afar, ico, 5000000.0, 2, 2), ops::DERIVE_EMPTY);
  std::mt19937_64 rng(12);
  int outside = 0;
  for (int i = 0; i < 2000; ++i)
    if (ops::q7_RsetPointTest(*idx_, RandomUnit(rng), near.out, 1e-12, 1) <= 0) ++outside;
  EXPECT_EQ(outside, 0);
}

TEST_F(Buffers, LineCasesFollowTheSideRule) {
  const double km = 1000.0 / 6371007.1808;
  std::mt19937_64 rng(77);
  struct Case { const char* what; std::vector<std::vector<V>> lines; Widths w; };
  const std::vector<Case> cases = {
      {"one-sided, left 0", {{LatLonDeg(10, 10), LatLonDeg(10, 12), LatLonDeg(12, 13)}}, {20 * km, 0.0, 2}},
      {"a zero-length leg",
       {{LatLonDeg(-5, 30), LatLonDeg(-5, 31), LatLonDeg(-5, 31), LatLonDeg(-4, 32)}}, {30 * km, 10 * km, 2}},
      {"one vertex", {{LatLonDeg(40, -3)}}, {10 * km, 30 * km, 4}},
      {"one vertex, one-sided", {{LatLonDeg(40, -3)}}, {0.0, 30 * km, 4}},
      {"a U-turn", {{LatLonDeg(0, 0), LatLonDeg(0, 3), LatLonDeg(0.2, 0)}}, {30 * km, 10 * km, 4}},
      {"a U-turn, one-sided", {{LatLonDeg(0, 0), LatLonDeg(0, 3), LatLonDeg(0.2, 0)}}, {0.0, 20 * km, 4}},
      {"over the north pole", {{LatLonDeg(85, 10), LatLonDeg(87, 190)}}, {30 * km, 10 * km, 4}},
      {"over the south pole, one-sided", {{LatLonDeg(-86, -60), LatLonDeg(-86, 120)}}, {20 * km, 0.0, 4}},
      {"along +-180", {{LatLonDeg(-20, 180), LatLonDeg(-10, -180), LatLonDeg(0, 180), LatLonDeg(10, 179.999)}},
       {30 * km, 10 * km, 4}},
      {"across +-180, crossing itself",
       {{LatLonDeg(5, 179), LatLonDeg(6, -179), LatLonDeg(7, 179.5), LatLonDeg(4, -179.5)}}, {50 * km, 50 * km, 2}},
      // Joins keep only what the bands beside them leave uncovered: legs
      // much shorter than the width, and sharp turns whose inner side is
      // the wider, where the inner half-discs reach across the other leg.
      {"short legs under a wide side",
       {{LatLonDeg(20, 20), LatLonDeg(20.01, 20.02), LatLonDeg(20.03, 20.025), LatLonDeg(20.035, 20.05),
         LatLonDeg(20.02, 20.07), LatLonDeg(20.04, 20.08)}},
       {30 * km, 5 * km, 2}},
      {"sharp turns, the inner side wider",
       {{LatLonDeg(-30, 40), LatLonDeg(-30, 40.5), LatLonDeg(-29.8, 40.1), LatLonDeg(-29.7, 40.6),
         LatLonDeg(-29.9, 40.2)}},
       {40 * km, 10 * km, 4}},
      {"sharp turns, one-sided on the inner side",
       {{LatLonDeg(-30, 40), LatLonDeg(-30, 40.5), LatLonDeg(-29.8, 40.1), LatLonDeg(-29.7, 40.6),
         LatLonDeg(-29.9, 40.2)}},
       {0.0, 20 * km, 2}},
  };
  for (const Case& c : cases) {
    Failures f;
    int status = -1;
    CheckLines(*idx_, c.lines, c.w, 1500, rng, f, &status, true);
    EXPECT_EQ(status, 0) << c.what;
    EXPECT_EQ(f.inside_missed + f.outside_taken + f.vertices_outside, 0) << c.what;
  }
  // Both poles of the lines over them lie inside.
  std::vector<PointNode> nodes{{LatLonDeg(85, 10), 0}, {LatLonDeg(87, 190), 0}, cells::Mark(1)};
  HeapObject ls;
  Build(*idx_, cells::kLset, nodes, ls);
  Arena a;
  ASSERT_EQ(ops::q7_LsetExpand(a.Context(*idx_), nullptr, 1, 4, 4, 30 * km, 10 * km, ls.obj), 0);
  EXPECT_GT(ops::q7_RsetPointTest(*idx_, V{0, 0, 1}, a.out, 1e-12, 1), 0);
}

// Coast-like lines: many legs far shorter than the widths, with turns of up
// to 150 degrees either way, so that most edges of the shapes lie deep
// inside a neighbouring band or join (cores, band ends, wedges inside the
// next vertex's join) and the merge leaves them out of its crossing search,
// while the edges still in it cross them. One-sided and unequal widths,
// densities 2 and 6.
TEST_F(Buffers, DenseWigglesFollowTheSideRule) {
  const double km = 1000.0 / 6371007.1808;
  std::mt19937_64 rng(4242);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const Widths widths[] = {{20 * km, 5 * km, 2}, {0.0, 8 * km, 2}, {6 * km, 15 * km, 6}};
  const int lines = Sanitized() ? 2 : 4;
  for (int i = 0; i < lines; ++i) {
    V p = i == 1 ? LatLonDeg(89.9, 0.0) : RandomUnit(rng);
    const V east = Unitised(geodesy::Cross(std::fabs(p.z) < 0.9 ? V{0, 0, 1} : V{1, 0, 0}, p));
    V dir = east;
    std::vector<V> line{p};
    const int legs = 60 + static_cast<int>(rng() % 60);
    for (int k = 0; k < legs; ++k) {
      const V q = Along(p, dir, (0.5 + 3.0 * u(rng)) * km);
      line.push_back(q);
      dir = TurnedAt(p, q, (u(rng) - 0.5) * 2.0 * 150.0 * M_PI / 180.0);
      p = q;
    }
    for (const Widths& w : widths) {
      Failures f;
      int status = -1;
      CheckLines(*idx_, {line}, w, 1000, rng, f, &status, true);
      EXPECT_EQ(status, 0) << "line " << i;
      EXPECT_EQ(f.inside_missed + f.outside_taken + f.vertices_outside, 0) << "line " << i << ", " << f.checked
                                                                           << " queries";
    }
  }
}

TEST_F(Buffers, LineWidthLimits) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const double limit = 0.1 * ops::MeanRadius(e);
  HeapObject ls;
  Build(*idx_, cells::kLset, {{LatLonDeg(30, 30), 0}, {LatLonDeg(31, 33), 0}, cells::Mark(1)}, ls);
  ASSERT_EQ(ls.status, 0);
  {
    Arena a;
    ASSERT_EQ(ops::q7_LsetExpand(a.Context(*idx_), &e, 1, 2, 2, limit, 0.0, ls.obj), 0);
    // 0.1 mean radius on the right (south-east), a hair on the left.
    EXPECT_GT(ops::q7_RsetPointTest(*idx_, LatLonDeg(27.0, 32.0), a.out, 1e-12, 1), 0);
    EXPECT_LT(ops::q7_RsetPointTest(*idx_, LatLonDeg(31.0, 31.0), a.out, 1e-12, 1), 0);
  }
  Arena a;
  EXPECT_EQ(ops::q7_LsetExpand(a.Context(*idx_), &e, 1, 2, 2, limit * 1.0001, 0.0, ls.obj), ops::DERIVE_BAD_PARAMETERS);
  EXPECT_EQ(ops::q7_LsetExpand(a.Context(*idx_), &e, 1, 2, 2, 10.0, limit * 1.0001, ls.obj), ops::DERIVE_BAD_PARAMETERS);
  EXPECT_EQ(ops::q7_LsetExpand(a.Context(*idx_), &e, 1, 2, 2, 0.0009, 0.0009, ls.obj), ops::DERIVE_BAD_PARAMETERS);
  EXPECT_EQ(ops::q7_LsetExpand(a.Context(*idx_), &e, 1, 2, 2, 0.0009, 0.001, ls.obj), 0);
}

}  // namespace
