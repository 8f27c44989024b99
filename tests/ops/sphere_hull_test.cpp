// Spherical hull: the failures of the wrap, and agreement with S2's convex
// hull on random caps of every size, at the poles and across 180 degrees.

#include <gtest/gtest.h>
#include <s2/s2convex_hull_query.h>
#include <s2/s2loop.h>

#include <array>
#include <algorithm>
#include <cmath>
#include <set>
#include <random>
#include <vector>

#include "lib/geodesy/direction_cosines.h"
#include "lib/ops/sphere_hull.h"

namespace {

using geodesy::DirectionCosines;

DirectionCosines FromLatLon(double lat_deg, double lon_deg) {
  const double d = std::acos(-1.0) / 180.0;
  return {std::cos(lat_deg * d) * std::cos(lon_deg * d), std::cos(lat_deg * d) * std::sin(lon_deg * d),
          std::sin(lat_deg * d)};
}

// n points uniform in the cap of angular radius r (degrees) about c.
std::vector<DirectionCosines> Cap(DirectionCosines c, double r_deg, int n, std::mt19937_64& rng) {
  const double pi = std::acos(-1.0);
  // An orthonormal frame about c.
  DirectionCosines e1 = std::fabs(c.z) < 0.9 ? DirectionCosines{-c.y, c.x, 0} : DirectionCosines{1, 0, 0};
  double l = std::sqrt(e1.x * e1.x + e1.y * e1.y + e1.z * e1.z);
  e1 = {e1.x / l, e1.y / l, e1.z / l};
  double d = geodesy::Dot(e1, c);
  e1 = {e1.x - d * c.x, e1.y - d * c.y, e1.z - d * c.z};
  l = std::sqrt(geodesy::Dot(e1, e1));
  e1 = {e1.x / l, e1.y / l, e1.z / l};
  DirectionCosines e2 = geodesy::Cross(c, e1);
  std::uniform_real_distribution<double> u(0, 1);
  const double cosr = std::cos(r_deg * pi / 180);
  std::vector<DirectionCosines> out;
  for (int i = 0; i < n; ++i) {
    double z = 1 - u(rng) * (1 - cosr), s = std::sqrt(std::max(0.0, 1 - z * z)), a = 2 * pi * u(rng);
    out.push_back({z * c.x + s * (std::cos(a) * e1.x + std::sin(a) * e2.x),
                   z * c.y + s * (std::cos(a) * e1.y + std::sin(a) * e2.y),
                   z * c.z + s * (std::cos(a) * e1.z + std::sin(a) * e2.z)});
  }
  return out;
}

TEST(SphericalHull, Failures) {
  std::vector<int> hull;
  std::vector<DirectionCosines> p = {FromLatLon(10, 10), FromLatLon(11, 10)};
  EXPECT_EQ(ops::SphericalHull(p, hull), 0);
  p = {FromLatLon(10, 10), FromLatLon(10, 10), FromLatLon(10, 10), FromLatLon(10, 10)};
  EXPECT_EQ(ops::SphericalHull(p, hull), 0);
  // On one great circle (the equator): two hull points.
  p.clear();
  for (int i = 0; i < 20; ++i) p.push_back(FromLatLon(0, -30 + 3 * i));
  EXPECT_EQ(ops::SphericalHull(p, hull), 2);
  // Spanning more than a hemisphere about their mean.
  p = {FromLatLon(0, 0), FromLatLon(0, 120), FromLatLon(0, -120), FromLatLon(1, 0)};
  EXPECT_EQ(ops::SphericalHull(p, hull), 1);
  // Ties on one hull edge: the corners only, no vertex on an edge.
  p.clear();
  for (int i = 0; i <= 10; ++i) {
    p.push_back(FromLatLon(0, i));
    p.push_back(FromLatLon(0, i));  // every point twice
  }
  p.push_back(FromLatLon(5, 5));
  ASSERT_EQ(ops::SphericalHull(p, hull), 3);
}

TEST(SphericalHull, MatchesS2OnRandomCaps) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build";
#endif
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(0, 1);
  const double radii[] = {0.001, 0.01, 0.1, 1, 10, 45, 85};
  int compared = 0, matched = 0, within_tolerance = 0;
  double worst_outside = 0.0;
  int total_outside = 0, caps_outside = 0;
  const int trials = 1001;
  for (int trial = 0; trial < trials; ++trial) {
    DirectionCosines c;
    if (trial % 7 == 0)
      c = FromLatLon(trial % 2 ? 90 : -90, 0);  // a pole
    else if (trial % 7 == 1)
      c = FromLatLon(60 * u(rng) - 30, 180);  // across 180 degrees
    else
      c = FromLatLon(180 * std::asin(2 * u(rng) - 1) / std::acos(-1.0), 360 * u(rng) - 180);
    const double r = radii[trial % 7];
    const int n = trial == trials - 1 ? 100000 : 3 + static_cast<int>(std::pow(10.0, 4 * u(rng)));
    std::vector<DirectionCosines> p = Cap(c, r, n, rng);
    std::vector<int> hull;
    const int h = ops::SphericalHull(p, hull);
    S2ConvexHullQuery q;
    for (const auto& v : p) q.AddPoint(S2Point(v.x, v.y, v.z));
    std::unique_ptr<S2Loop> loop = q.GetConvexHull();
    if (h == 1) {
      // A wide cap whose points reach past a quarter circle from their mean.
      DirectionCosines sum{0, 0, 0};
      for (const auto& v : p) sum.x += v.x, sum.y += v.y, sum.z += v.z;
      double far = 1;
      for (const auto& v : p) far = std::min(far, geodesy::Dot(v, sum));
      EXPECT_LT(far, 1e-9) << "trial " << trial;
      continue;
    }
    ASSERT_GE(h, 3) << "trial " << trial << " r " << r << " n " << n;
    std::set<std::array<double, 3>> ours, theirs;
    for (int v : hull) ours.insert({p[v].x, p[v].y, p[v].z});
    for (int i = 0; i < loop->num_vertices(); ++i)
      theirs.insert({loop->vertex(i).x(), loop->vertex(i).y(), loop->vertex(i).z()});
    // S2 gives the full loop when its bound of the points passes a hemisphere.
    if (loop->is_full()) continue;
    ++compared;
    // Every vertex of ours is S2's; S2's others lie on one of our edges within
    // the wrap's triple-product tolerance.
    bool same = true;
    // Within the tolerance, a tie may also pick a point just inside S2's edge.
    int ours_only = 0;
    const int m = loop->num_vertices();
    for (const auto& v : ours) {
      if (theirs.count(v)) continue;
      ++ours_only;
      bool near = false;
      for (int k = 0; k < m && !near; ++k) {
        const S2Point a = loop->vertex(k), b = loop->vertex((k + 1) % m);
        near = std::fabs(a.CrossProd(b).DotProd(S2Point(v[0], v[1], v[2]))) <= 16 * 2.458e-14;
      }
      same = same && near;
    }
    int on_edge = 0;
    for (const auto& v : theirs) {
      if (ours.count(v)) continue;
      DirectionCosines q{v[0], v[1], v[2]};
      bool near = false;
      for (int k = 0; k < h && !near; ++k) {
        double t = geodesy::Dot(geodesy::Cross(p[hull[k]], p[hull[(k + 1) % h]]), q);
        near = std::fabs(t) <= 16 * 2.458e-14;  // ties compound along an edge
      }
      same = same && near;
      ++on_edge;
    }
    // Counter-clockwise: every point on the left of every edge.
    for (int k = 0; k < h; ++k)
      EXPECT_GT(geodesy::Dot(geodesy::Cross(p[hull[k]], p[hull[(k + 1) % h]]),
                             p[hull[(k + 2) % h]]), 0);
    // Every point inside its hull, on an edge within the wrap's tolerance, or
    // the same point as a hull vertex (within the same-point chord, 1 m).
    int outside = 0;
    for (const auto& v : p) {
      bool at_vertex = false;
      for (int k = 0; k < h && !at_vertex; ++k) at_vertex = geodesy::ChordSq(v, p[hull[k]]) <= geodesy::SAME_POINT_SQ;
      for (int k = 0; k < h && !at_vertex; ++k) {
        const DirectionCosines nk = geodesy::Cross(p[hull[k]], p[hull[(k + 1) % h]]);
        const double t = geodesy::Dot(nk, v);
        if (t >= -16 * 2.458e-14) continue;
        worst_outside = std::max(worst_outside, -t / std::sqrt(geodesy::Dot(nk, nk)));
        ++outside;
        break;
      }
    }
    total_outside += outside;
    if (outside) ++caps_outside;
    EXPECT_TRUE(same) << "trial " << trial << " r " << r << " n " << n << " ours only " << ours_only
                      << " S2 only " << on_edge << " ours " << h << " S2 " << loop->num_vertices();
    matched += same && on_edge == 0;
    within_tolerance += same && on_edge > 0;
  }
  std::printf("spherical hull: %d of %d caps match S2 vertex for vertex, %d more within tolerance; "
              "worst point outside its hull %.3g rad\n",
              matched, compared, within_tolerance, worst_outside);
  std::printf("spherical hull: %d points in %d caps outside their hull by more than the tolerance\n", total_outside,
              caps_outside);
  // Every point inside its hull, to within the same-point distance (1 m):
  // a point that close to the current vertex is not a candidate for the
  // next one. Before the side of a point was measured as a distance, points
  // up to 3 m outside the hull of a cap 100 m across counted as on an edge.
  EXPECT_LE(worst_outside, std::sqrt(geodesy::SAME_POINT_SQ));
  EXPECT_LE(caps_outside, compared / 100);
}

}  // namespace
