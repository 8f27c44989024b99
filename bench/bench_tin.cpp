// Hull and TIN benchmarks, one line per figure with the peer's beside it:
//   q2mtin (no trace) of 100 000 and 1 000 000 uniform random planar points
//     against qhull's Delaunay (qh_new_qhull "d Qt Qbb Qc") of the same points;
//   SphericalHull of 1 000 000 points uniform in a 60 degree cap against
//     S2ConvexHullQuery.
// Run from the build folder: bench/bench_tin.
extern "C" {
#include <libqhull_r/qhull_ra.h>
}
#include <s2/s2convex_hull_query.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "lib/ops/q2mtin.h"
#include "lib/ops/sphere_hull.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Qhull(const std::vector<ops::PlanarPoint>& p, int* facets) {
  std::vector<coordT> c;
  for (const auto& q : p) c.push_back(q.x), c.push_back(q.y);
  const auto t0 = std::chrono::steady_clock::now();
  qhT qh_qh;
  qhT* qh = &qh_qh;
  qh_zero(qh, stderr);
  char opts[] = "qhull d Qt Qbb Qc";
  int n = 0;
  if (qh_new_qhull(qh, 2, static_cast<int>(p.size()), c.data(), False, opts, nullptr, stderr) == 0) {
    facetT* facet;
    FORALLfacets n += !facet->upperdelaunay;
  }
  int curlong, totlong;
  qh_freeqhull(qh, !qh_ALL);
  qh_memfreeshort(qh, &curlong, &totlong);
  *facets = n;
  return Seconds(t0);
}

}  // namespace

int main() {
  for (int n : {100000, 1000000}) {
    std::mt19937_64 rng(static_cast<unsigned>(n));
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<ops::PlanarPoint> p(static_cast<size_t>(n));
    for (auto& q : p) q = {u(rng), u(rng)};
    ops::Tin tin;
    const auto t0 = std::chrono::steady_clock::now();
    const int status = ops::q2mtin(p.data(), n, 0, 0, &tin);
    const double ours = Seconds(t0);
    int facets = 0;
    const double theirs = Qhull(p, &facets);
    std::printf("TIN of %7d uniform points: %.3f s (status %d, %d triangles); qhull %.3f s (%d); ratio %.2f\n",
                n, ours, status, tin.ntri, theirs, facets, ours / theirs);
  }
  {
    const int n = 1000000;
    std::mt19937_64 rng(60);
    std::uniform_real_distribution<double> u(0, 1);
    const double pi = std::acos(-1.0), cosr = std::cos(60 * pi / 180);
    std::vector<geodesy::DirectionCosines> p(static_cast<size_t>(n));
    for (auto& q : p) {
      double z = 1 - u(rng) * (1 - cosr), s = std::sqrt(1 - z * z), a = 2 * pi * u(rng);
      q = {s * std::cos(a), s * std::sin(a), z};  // about the north pole
    }
    std::vector<int> hull;
    auto t0 = std::chrono::steady_clock::now();
    const int h = ops::SphericalHull(p, hull);
    const double ours = Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    S2ConvexHullQuery query;
    for (const auto& v : p) query.AddPoint(S2Point(v.x, v.y, v.z));
    const int m = query.GetConvexHull()->num_vertices();
    const double theirs = Seconds(t0);
    std::printf("Spherical hull of %d points in a 60 degree cap: %.3f s (%d vertices); S2 %.3f s (%d); ratio %.2f\n",
                n, ours, h, theirs, m, ours / theirs);
  }
  return 0;
}
