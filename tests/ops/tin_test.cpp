// Planar hull and TIN construction: the edge cases of the construction, its
// trace, and agreement with qhull's hull and Delaunay triangulation on
// random, clustered and real (quantised, co-circular) point sets.

#include <gtest/gtest.h>

#include <iterator>

extern "C" {
#include <libqhull_r/qhull_ra.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "lib/geodesy/constants.h"
#include "lib/ops/q2hull.h"
#include "lib/ops/q2mtin.h"
#include "tests/ops/ops_test_util.h"

namespace {

using ops::PlanarPoint;
using Tri = std::array<int, 3>;

// A triangle as a sorted vertex triple, for comparing triangulations.
std::set<Tri> Triangles(const ops::Tin& tin) {
  std::set<Tri> out;
  for (int t = 0; t < tin.ntri; ++t) {
    Tri v{tin.vt[3 * t], tin.vt[3 * t + 1], tin.vt[3 * t + 2]};
    std::sort(v.begin(), v.end());
    out.insert(v);
  }
  return out;
}

// qhull's Delaunay triangles ("d Qt Qbb Qc") and, with hull = true, its hull
// vertices.
std::set<Tri> QhullDelaunay(const std::vector<PlanarPoint>& p) {
  std::vector<coordT> c;
  for (const PlanarPoint& q : p) c.push_back(q.x), c.push_back(q.y);
  qhT qh_qh;
  qhT* qh = &qh_qh;
  qh_zero(qh, stderr);
  std::set<Tri> out;
  char opts[] = "qhull d Qt Qbb Qc";
  if (qh_new_qhull(qh, 2, static_cast<int>(p.size()), c.data(), False, opts, nullptr, stderr) == 0) {
    facetT* facet;
    FORALLfacets {
      if (facet->upperdelaunay) continue;
      Tri v{};
      int k = 0;
      vertexT *vertex, **vertexp;
      FOREACHvertex_(facet->vertices) if (k < 3) v[k++] = qh_pointid(qh, vertex->point);
      std::sort(v.begin(), v.end());
      out.insert(v);
    }
  }
  int curlong, totlong;
  qh_freeqhull(qh, !qh_ALL);
  qh_memfreeshort(qh, &curlong, &totlong);
  return out;
}

std::set<int> QhullHull(const std::vector<PlanarPoint>& p) {
  std::vector<coordT> c;
  for (const PlanarPoint& q : p) c.push_back(q.x), c.push_back(q.y);
  qhT qh_qh;
  qhT* qh = &qh_qh;
  qh_zero(qh, stderr);
  std::set<int> out;
  char opts[] = "qhull";
  if (qh_new_qhull(qh, 2, static_cast<int>(p.size()), c.data(), False, opts, nullptr, stderr) == 0) {
    vertexT* vertex;
    FORALLvertices out.insert(qh_pointid(qh, vertex->point));
  }
  int curlong, totlong;
  qh_freeqhull(qh, !qh_ALL);
  qh_memfreeshort(qh, &curlong, &totlong);
  return out;
}

std::vector<PlanarPoint> Uniform(int n, unsigned seed, double scale = 1.0) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-scale, scale);
  std::vector<PlanarPoint> p(static_cast<size_t>(n));
  for (auto& q : p) q = {u(rng), u(rng)};
  return p;
}

// Every triangle's circumcircle is empty of its neighbours' far vertices
// (which for a triangulation makes every circumcircle empty), to 1e-9
// relative to the quad's size.
int NonDelaunayEdges(const ops::Tin& tin) {
  int bad = 0;
  const PlanarPoint* p = tin.points;
  for (int t = 0; t < tin.ntri; ++t)
    for (int j = 0; j < 3; ++j) {
      int u = tin.nb[3 * t + j];
      if (u < 0) continue;
      int d = -1;
      for (int k = 0; k < 3; ++k)
        if (tin.vt[3 * u + k] != tin.vt[3 * t + j] &&
            tin.vt[3 * u + k] != tin.vt[3 * t + (j + 1) % 3])
          d = tin.vt[3 * u + k];
      const PlanarPoint &a = p[tin.vt[3 * t]], &b = p[tin.vt[3 * t + 1]], &c = p[tin.vt[3 * t + 2]];
      double adx = a.x - p[d].x, ady = a.y - p[d].y, bdx = b.x - p[d].x, bdy = b.y - p[d].y;
      double cdx = c.x - p[d].x, cdy = c.y - p[d].y;
      double ad = adx * adx + ady * ady, bd = bdx * bdx + bdy * bdy, cd = cdx * cdx + cdy * cdy;
      double det = ad * (bdx * cdy - cdx * bdy) + bd * (cdx * ady - adx * cdy) +
                   cd * (adx * bdy - bdx * ady);
      double s = std::max(ad, std::max(bd, cd));
      if (det / (s * s) > 1e-9) ++bad;
    }
  return bad;
}

struct Capture {
  std::string text;
  int hull_edges = 0, fan = 0, inserted = 0, changed = 0;
  ops::TinTrace trace;
  Capture() {
    trace.ctx = this;
    trace.text = [](void* c, const char* s) { static_cast<Capture*>(c)->text += s; };
    trace.hull_edge = [](void* c, PlanarPoint, PlanarPoint) { ++static_cast<Capture*>(c)->hull_edges; };
    trace.fan_triangle = [](void* c, const PlanarPoint*) { ++static_cast<Capture*>(c)->fan; };
    trace.inserted_point = [](void* c, PlanarPoint) { ++static_cast<Capture*>(c)->inserted; };
    trace.changed_triangle = [](void* c, int, const PlanarPoint*) { ++static_cast<Capture*>(c)->changed; };
  }
};

int Build(const std::vector<PlanarPoint>& p, ops::Tin& tin, ops::TinCounts* c = nullptr,
          int iH = 0, int nH = 0, const ops::TinTrace* tr = nullptr) {
  return ops::q2mtin(p.data(), static_cast<int>(p.size()), iH, nH, &tin, c, tr);
}

// ---------------------------------------------------------------- hull

TEST(PlanarHull, SmallAndBadInputs) {
  std::vector<PlanarPoint> p = {{0, 0}, {1, 1}};
  int ix[3] = {0, 1};
  PlanarPoint c{};
  EXPECT_EQ(ops::q2hull(p.data(), ix, 2, 2.458e-14, &c, 0), 2);
  p = {{0, 0}, {NAN, 1}, {1, 0}};
  int iy[3] = {0, 1, 2};
  EXPECT_EQ(ops::q2hull(p.data(), iy, 3, 2.458e-14, &c, 0), -3);
  // All on one line: the two end points.
  p = {{0.5, 0.5}, {0, 0}, {2, 2}, {1, 1}, {1.5, 1.5}};
  int iz[5] = {0, 1, 2, 3, 4};
  ASSERT_EQ(ops::q2hull(p.data(), iz, 5, 2.458e-14, &c, 0), 2);
  EXPECT_EQ((std::set<int>{iz[0], iz[1]}), (std::set<int>{1, 2}));
}

TEST(PlanarHull, EliminatedIndexZeroIsRestoredAndOrderIsCounterClockwise) {
  // Point 0 lies deep inside; points 5..7 sit on hull edges (not hull points);
  // 8 repeats an extreme.
  std::vector<PlanarPoint> p = {{0.1, 0.1}, {-1, -1}, {1, -1}, {1, 1}, {-1, 1},
                                {0, -1},   {1, 0},   {0, 1},  {1, 1}};
  std::vector<int> ix(p.size());
  for (size_t i = 0; i < ix.size(); ++i) ix[i] = static_cast<int>(i);
  PlanarPoint c{};
  int h = ops::q2hull(p.data(), ix.data(), static_cast<int>(p.size()), 2.458e-14, &c, 0);
  ASSERT_EQ(h, 4);
  std::set<std::pair<double, double>> corners;
  for (int i = 0; i < 4; ++i) corners.insert({p[ix[i]].x, p[ix[i]].y});
  EXPECT_EQ(corners, (std::set<std::pair<double, double>>{{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}));
  std::vector<int> all = ix;
  std::sort(all.begin(), all.end());
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], static_cast<int>(i));
  for (int i = 0; i < 4; ++i)
    EXPECT_GT(ops::TinArea(p[ix[i]], p[ix[(i + 1) % 4]], p[ix[(i + 2) % 4]]), 0);
}

TEST(PlanarHull, MatchesQhull) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    int n = 3 + static_cast<int>(seed * seed * 7 % 5000);
    std::vector<PlanarPoint> p = Uniform(n, seed);
    if (seed % 3 == 0)  // points in a disc: many on the hull
      for (auto& q : p) {
        double r = std::hypot(q.x, q.y);
        if (r > 0) q = {q.x / r, q.y / r};
      }
    std::vector<int> ix(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) ix[i] = i;
    PlanarPoint c{};
    int h = ops::q2hull(p.data(), ix.data(), n, 2.458e-14, &c, 0);
    ASSERT_GE(h, 3);
    std::set<int> mine(ix.begin(), ix.begin() + h), theirs = QhullHull(p), only_mine, only_theirs;
    std::set_difference(mine.begin(), mine.end(), theirs.begin(), theirs.end(),
                        std::inserter(only_mine, only_mine.end()));
    std::set_difference(theirs.begin(), theirs.end(), mine.begin(), mine.end(),
                        std::inserter(only_theirs, only_theirs.end()));
    // qhull keeps vertices whose turn is within the hull edge criterion.
    for (auto it = only_theirs.begin(); it != only_theirs.end();) {
      bool on_edge = false;
      for (int i = 0; i < h && !on_edge; ++i)
        on_edge = std::fabs(ops::TinArea(p[ix[i]], p[ix[(i + 1) % h]], p[*it])) < 1e-13;
      it = on_edge ? only_theirs.erase(it) : std::next(it);
    }
    EXPECT_TRUE(only_mine.empty() && only_theirs.empty())
        << "seed " << seed << " n " << n << " h " << h << " qhull " << theirs.size() << " only mine "
        << only_mine.size() << " only qhull " << only_theirs.size();
  }
}

// ---------------------------------------------------------------- TIN edge cases

TEST(TinConstruction, ThreePointsAndDegenerateSets) {
  ops::Tin tin;
  EXPECT_EQ(Build({{0, 0}, {1, 0}}, tin), ops::TIN_TOO_FEW);
  // Given clockwise, stored counter-clockwise.
  const std::vector<PlanarPoint> three = {{0, 0}, {0, 1}, {1, 0}};
  ASSERT_EQ(Build(three, tin), 0);
  ASSERT_EQ(tin.ntri, 1);
  EXPECT_EQ(ops::TinVerify(tin), 0);
  EXPECT_EQ(tin.nb, (std::vector<int>{-1, -1, -1}));
  EXPECT_EQ(Build({{0, 0}, {1, 1}, {2, 2}}, tin), ops::TIN_BAD_HULL);
  EXPECT_EQ(Build({{1, 1}, {1, 1}, {1, 1}}, tin), ops::TIN_BAD_HULL);
  std::vector<PlanarPoint> line;
  for (int i = 0; i < 50; ++i) line.push_back({i * 0.1, i * 0.2});
  EXPECT_EQ(Build(line, tin), ops::TIN_BAD_HULL);
  EXPECT_EQ(Build({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, tin), ops::TIN_ALL_ON_HULL);
  EXPECT_EQ(Build({{0, 0}, {1, 0}, {NAN, 1}, {0, 1}, {0.5, 0.5}}, tin), ops::TIN_BAD_HULL);
}

TEST(TinConstruction, DuplicatesWithinTheDistanceCriterion) {
  ops::Tin tin;
  ops::TinCounts c;
  // An exact duplicate and one 1e-6 away (about 6 m on the ground) of an
  // inserted point, and an exact duplicate of a hull vertex.
  std::vector<PlanarPoint> p = {{0, 0},   {2, 0},         {2, 2}, {0, 2}, {1, 1},
                                {0.5, 0.7}, {0.5, 0.700001}, {0.5, 0.7}, {2, 2}, {1.5, 0.3}};
  EXPECT_EQ(Build(p, tin, &c), ops::TIN_DONE_WITH_DROPS);
  EXPECT_EQ(c.duplicated, 3);
  EXPECT_EQ(c.failed, 0);
  EXPECT_EQ(ops::TinVerify(tin), 0);
  EXPECT_EQ(tin.ntri, 2 * 7 - 2 - 4);
  // Farther than the criterion: a point of its own.
  p[6] = {0.5, 0.70001};
  p[7] = {0.3, 0.3};
  p[8] = {1.2, 1.7};
  EXPECT_EQ(Build(p, tin, &c), ops::TIN_DONE);
  EXPECT_EQ(c.duplicated, 0);
}

TEST(TinConstruction, PointsOnEdgesAndTheCentreVertex) {
  ops::Tin tin;
  ops::TinCounts c;
  // (0.5, 0.5) lies on the fan edge from the centre (1, 1) to (0, 0): the
  // edge's two triangles become four.
  ASSERT_EQ(Build({{0, 0}, {2, 0}, {2, 2}, {0, 2}, {1, 1}, {0.5, 0.5}}, tin, &c), 0);
  EXPECT_EQ(c.edge, 1);
  EXPECT_EQ(tin.ntri, 6);
  // A point on a hull edge splits the one triangle that has it.
  ASSERT_EQ(Build({{0, 0}, {2, 0}, {2, 2}, {0, 2}, {1, 1}, {1, 0}}, tin, &c), 0);
  EXPECT_EQ(c.edge, 1);
  EXPECT_EQ(tin.ntri, 5);
  // The point nearest the hull's centre lies on a hull edge: the centre
  // vertex is taken among the points strictly inside.
  const std::vector<PlanarPoint> strip = {{0, 0}, {4, 0}, {4, 1}, {0, 1}, {2, 0}, {3, 0.6}};
  ASSERT_EQ(Build(strip, tin, &c), 0);
  EXPECT_EQ(tin.ntri, 2 * 6 - 2 - 5);
  EXPECT_EQ(ops::TinVerify(tin), 0);
  // Only points on hull edges besides the hull: nothing to fan about.
  EXPECT_EQ(Build({{0, 0}, {4, 0}, {4, 1}, {0, 1}, {2, 0}}, tin, &c), ops::TIN_ALL_ON_HULL);
}

TEST(TinConstruction, GivenHull) {
  std::vector<PlanarPoint> p = Uniform(300, 7);
  // The last four points are the hull, given in no particular order.
  p.push_back({-2, 2});
  p.push_back({2, -2});
  p.push_back({-2, -2});
  p.push_back({2, 2});
  const int n = static_cast<int>(p.size());
  ops::Tin given, computed;
  ASSERT_EQ(Build(p, given, nullptr, n - 4, 4), 0);
  ASSERT_EQ(Build(p, computed), 0);
  EXPECT_EQ(Triangles(given), Triangles(computed));
  EXPECT_EQ(Build(p, given, nullptr, n - 2, 2), ops::TIN_BAD_HULL);
  EXPECT_EQ(Build(p, given, nullptr, n - 1, 1), ops::TIN_BAD_HULL);
  EXPECT_EQ(Build(p, given, nullptr, n - 2, 4), ops::TIN_BAD_HULL);  // past the end
  // A given hull whose last point repeats its first: rejected, counted.
  Capture cap;
  ops::TinCounts c;
  p.push_back({-2, 2.000001});
  ASSERT_EQ(Build(p, given, &c, n - 4, 5, &cap.trace), ops::TIN_DONE_WITH_DROPS);
  EXPECT_EQ(c.duplicated, 1);
  EXPECT_NE(cap.text.find("Reject prox pt on hull"), std::string::npos);
  EXPECT_NE(cap.text.find("Hull OK, total:5, unique:4\n"), std::string::npos);
}

TEST(TinConstruction, SameTrianglesAtEveryScale) {
  std::vector<PlanarPoint> base = Uniform(200, 11);
  std::set<Tri> first;
  for (double s : {1e-3, 1.0, 1e3}) {
    std::vector<PlanarPoint> p = base;
    for (auto& q : p) q = {q.x * s, q.y * s};
    ops::Tin tin;
    ASSERT_EQ(Build(p, tin), 0) << s;
    EXPECT_EQ(NonDelaunayEdges(tin), 0) << s;
    if (first.empty())
      first = Triangles(tin);
    else
      EXPECT_EQ(Triangles(tin), first) << s;
  }
  EXPECT_EQ(first, QhullDelaunay(base));
}

TEST(TinConstruction, SwapChainBeyondTheRecursionLimit) {
  // An arc of points bent like a parabola about the last point inserted (the
  // one farthest from the centre vertex at the origin): that point lies in
  // the circumcircles of the arc's triangles and takes them all by swaps.
  std::vector<PlanarPoint> p = {{-10, -10}, {10, -10}, {10, 10}, {-10, 10}, {0, 0}};
  const double pi = std::acos(-1.0);
  for (int i = 0; i < 300; ++i) {
    double t = i / 299.0 - 0.5;
    double r = 3 + 0.01 * t * t;
    double a = pi * (1.25 + 0.45 * t);
    p.push_back({9 + r * std::cos(a), 9 + r * std::sin(a)});
  }
  p.push_back({9, 9});
  ops::Tin tin;
  ops::TinCounts c;
  Capture cap;
  int s = Build(p, tin, &c, 0, 0, &cap.trace);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(ops::TinVerify(tin), 0);
  EXPECT_EQ(NonDelaunayEdges(tin), 0);  // what the cut chain left is swapped after
  EXPECT_EQ(c.depth, geodesy::TIN_RECURSION_LIMIT);
  EXPECT_NE(cap.text.find("Recursion limit 64 exceeded\n"), std::string::npos);
  EXPECT_NE(cap.text.find("Recursion depth             64 (64)\n"), std::string::npos);
}

const char* const kTrace =
    "new TIN sort, pts: 8, iH: 0, nH: 0\n"
    "distance criterion on ground 14.246\n"
    "hull edge criterion 2.458e-14\n"
    "tin edge criterion 2.458e-14\n"
    "fuzzcc 2.458e-14\n"
    "Planar convex hull of 8 points type 0\n"
    "Final clean-up, hull:4 total:8\n"
    "Hull OK, total:4, unique:4\n"
    "Hull TIN verification 0\n"
    "Duplicate vertex?\n"
    "Found point on edge 1\n"
    "Point on the edge\n"
    "Total input points          8\n"
    "Points on hull (and center) 5\n"
    "Edge points                 1\n"
    "Duplicated                  1\n"
    "Insertion failed points     0\n"
    "Triangles                   7\n"
    "Recursion depth             2 (64)\n"
    "TIN verification status     0\n";

TEST(TinConstruction, TraceTextAndDrawing) {
  Capture cap;
  ops::Tin tin;
  ops::TinCounts c;
  // A hull, a centre, one point inside, one on a hull edge, one duplicate.
  std::vector<PlanarPoint> p = {{0, 0},     {2, 0}, {2, 2},          {0, 2},
                                {1.1, 0.9}, {1, 0}, {0.5, 0.5000001}, {0.5, 0.5}};
  ASSERT_EQ(Build(p, tin, &c, 0, 0, &cap.trace), ops::TIN_DONE_WITH_DROPS);
  EXPECT_EQ(cap.text, kTrace);
  EXPECT_EQ(cap.hull_edges, 4);
  EXPECT_EQ(cap.fan, 4);
  EXPECT_EQ(cap.inserted, 3);
  EXPECT_GE(cap.changed, 6);
}

TEST(TinVerification, FindsDamage) {
  std::vector<PlanarPoint> p = Uniform(50, 3);
  ops::Tin tin;
  ASSERT_EQ(Build(p, tin), 0);
  ops::Tin bad = tin;
  bad.vt[4] = 50;
  EXPECT_EQ(ops::TinVerify(bad), 1);
  bad = tin;
  bad.nb[2] = bad.ntri;
  EXPECT_EQ(ops::TinVerify(bad), 2);
  bad = tin;
  std::swap(bad.vt[0], bad.vt[1]);
  EXPECT_NE(ops::TinVerify(bad), 0);
  Capture cap;
  bad = tin;
  for (int j = 0; j < 3; ++j)  // an interior triangle loses a neighbour
    if (bad.nb[j] >= 0) {
      bad.nb[j] = -1;
      break;
    }
  EXPECT_EQ(ops::TinVerify(bad, &cap.trace), 3);
  EXPECT_NE(cap.text.find("not found among nghbrs of:"), std::string::npos);
}

// ---------------------------------------------------------------- oracles

TEST(TinOracle, UniformAndClusteredMatchQhull) {
  for (int n : {10000, 100000}) {
    std::vector<PlanarPoint> p = Uniform(n, static_cast<unsigned>(n));
    ops::Tin tin;
    ASSERT_EQ(Build(p, tin), 0) << n;
    EXPECT_EQ(NonDelaunayEdges(tin), 0) << n;
    std::set<Tri> mine = Triangles(tin), theirs = QhullDelaunay(p);
    EXPECT_EQ(mine.size(), theirs.size()) << n;
    EXPECT_TRUE(mine == theirs) << n;
  }
  // 1000 points in ten tight clusters.
  std::mt19937_64 rng(5);
  std::normal_distribution<double> g(0, 1e-2);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<PlanarPoint> p;
  for (int k = 0; k < 10; ++k) {
    double cx = u(rng), cy = u(rng);
    for (int i = 0; i < 100; ++i) p.push_back({cx + g(rng), cy + g(rng)});
  }
  ops::Tin tin;
  ops::TinCounts c;
  ASSERT_EQ(Build(p, tin, &c), 0);
  EXPECT_EQ(NonDelaunayEdges(tin), 0) << c.edge << " " << c.depth;
  EXPECT_TRUE(Triangles(tin) == QhullDelaunay(p));
}

TEST(TinOracle, Land110mVertices) {
  std::FILE* f = std::fopen((ops::testing::SourceDir() + "data/land110m.rgn").c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::vector<PlanarPoint> p;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    double lat, lon;
    if (line[0] != ';' && line[0] != '*' && std::sscanf(line, "%lf %lf", &lat, &lon) == 2)
      p.push_back({lon, lat});
  }
  std::fclose(f);
  ASSERT_GT(p.size(), 4000u);
  // Unique points and the hull boundary count (vertices and points on it).
  std::set<std::pair<double, double>> uniq;
  for (auto& q : p) uniq.insert({q.x, q.y});
  ops::Tin tin;
  ops::TinCounts c;
  int s = Build(p, tin, &c);
  ASSERT_TRUE(s == 0 || s == -1) << s;
  EXPECT_EQ(c.failed, 0);
  EXPECT_EQ(static_cast<size_t>(c.total - c.duplicated), uniq.size());
  EXPECT_EQ(NonDelaunayEdges(tin), 0);
  int b = 0;
  for (int t = 0; t < tin.ntri; ++t)
    for (int j = 0; j < 3; ++j) b += tin.nb[3 * t + j] < 0;
  EXPECT_EQ(tin.ntri, 2 * static_cast<int>(uniq.size()) - 2 - b);
}

}  // namespace
