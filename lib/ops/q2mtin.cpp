// TIN construction: fan of the hull about a centre vertex, point insertion
// ring by ring outwards, circumcircle edge swaps after each insertion.

#include "lib/ops/q2mtin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "lib/geodesy/constants.h"
#include "lib/ops/q2hull.h"
#include "platform/report.h"

namespace ops {
namespace {

using geodesy::HULL_EDGE_CRITERION;
using geodesy::TIN_DISTANCE_SQ;
using geodesy::TIN_EDGE_CRITERION;
using geodesy::TIN_FUZZCC;
using geodesy::TIN_RECURSION_LIMIT;

double Dist2(const PlanarPoint& a, const PlanarPoint& b) {
  double dx = a.x - b.x, dy = a.y - b.y;
  return dx * dx + dy * dy;
}

int VerifyOne(const Tin& tin, int t, const TinTrace* trace) {
  const int* vt = tin.vt.data();
  const int* nb = tin.nb.data();
  for (int j = 0; j < 3; ++j) {
    int v = vt[3 * t + j];
    if (v < 0 || v >= tin.npts) {
      TinTracef(trace, "Tri:%d ix:%d bad vertex nbr:%d\n", t, j, v);
      return 1;
    }
  }
  for (int j = 0; j < 3; ++j) {
    int n = nb[3 * t + j];
    if (n == -1) continue;
    if (n < -1 || n >= tin.ntri) {
      TinTracef(trace, "Tri:%d ix:%d bad neighbor nbr:%d\n", t, j, n);
      return 2;
    }
    int k = 0;
    while (k < 3 && nb[3 * n + k] != t) ++k;
    if (k == 3) {
      TinTracef(trace, "Tri:%d not found among nghbrs of:%d\n", t, n);
      return 3;
    }
    int ka = (k + 1) % 3, jb = (j + 1) % 3;
    if (vt[3 * t + j] != vt[3 * n + ka]) {
      TinTracef(trace, "Tri/a:%d ix:%d vx:%d not equal to: tri:%d ix:%d vx:%d\n", t, j,
                vt[3 * t + j], n, ka, vt[3 * n + ka]);
      return 4;
    }
    if (vt[3 * t + jb] != vt[3 * n + k]) {
      TinTracef(trace, "Tri/b:%d ix:%d vx:%d not equal to: tri:%d ix:%d vx:%d\n", t, jb,
                vt[3 * t + jb], n, k, vt[3 * n + k]);
      return 5;
    }
  }
  const PlanarPoint* p = tin.points;
  double a = TinArea(p[vt[3 * t]], p[vt[3 * t + 1]], p[vt[3 * t + 2]]);
  if (!(a > 0)) {
    TinTracef(trace, "Tri:%d inverted vertices, a:%g\n", t, a);
    return 6;
  }
  return 0;
}

// Position of (x, y) in [0, 65536)² along a Hilbert curve: consecutive
// insertions within a ring stay near each other, so the walk stays short.
uint64_t Hilbert(uint32_t x, uint32_t y) {
  const uint32_t n = 1u << 16;
  uint64_t d = 0;
  for (uint32_t s = n / 2; s > 0; s /= 2) {
    uint32_t rx = (x & s) ? 1 : 0, ry = (y & s) ? 1 : 0;
    d += static_cast<uint64_t>(s) * s * ((3 * rx) ^ ry);
    if (ry == 0) {
      if (rx == 1) {
        x = n - 1 - x;
        y = n - 1 - y;
      }
      std::swap(x, y);
    }
  }
  return d;
}

struct Builder {
  const PlanarPoint* p;
  Tin* tin;
  TinCounts* counts;
  const TinTrace* trace;
  std::vector<int> changed;
  bool swap_failed = false;
  bool limit_hit = false;

  int* vt(int t) { return tin->vt.data() + 3 * t; }
  int* nb(int t) { return tin->nb.data() + 3 * t; }

  int NewTriangle() {
    tin->vt.insert(tin->vt.end(), {0, 0, 0});
    tin->nb.insert(tin->nb.end(), {-1, -1, -1});
    return tin->ntri++;
  }

  void Set(int t, int a, int b, int c, int na, int nbb, int nc) {
    int* v = vt(t);
    v[0] = a, v[1] = b, v[2] = c;
    int* n = nb(t);
    n[0] = na, n[1] = nbb, n[2] = nc;
    changed.push_back(t);
  }

  // Points neighbour n's side of the edge x -> y of triangle t back at t.
  void Link(int n, int x, int y, int t) {
    if (n < 0) return;
    int* v = vt(n);
    for (int k = 0; k < 3; ++k)
      if (v[k] == y && v[(k + 1) % 3] == x) {
        nb(n)[k] = t;
        return;
      }
    swap_failed = true;
  }

  // 0 inside, -1 on edge `edge`, -2 duplicate, 1 outside, 2 search panic.
  int Search(const PlanarPoint& q, int* tri, int* edge) {
    int t = *tri, prev = -1;
    for (int steps = 1;; ++steps) {
      if (steps > tin->ntri) {
        TinTracef(trace, "Triangle search panic:%d\n", steps);
        return 2;
      }
      const int* v = vt(t);
      for (int j = 0; j < 3; ++j)
        if (Dist2(p[v[j]], q) < TIN_DISTANCE_SQ) {
          TinTracef(trace, "Duplicate vertex?\n");
          return -2;
        }
      double a[3];
      int pos = 0, near = 0, jnear = -1;
      for (int j = 0; j < 3; ++j) {
        a[j] = TinArea(p[v[j]], p[v[(j + 1) % 3]], q);
        if (a[j] > TIN_EDGE_CRITERION)
          ++pos;
        else if (a[j] >= -TIN_EDGE_CRITERION)
          ++near, jnear = j;
      }
      if (pos == 3) {
        *tri = t;
        return 0;
      }
      if (pos == 2 && near == 1) {
        TinTracef(trace, "Found point on edge %d\n", jnear);
        *tri = t;
        *edge = jnear;
        return -1;
      }
      int best = -1;
      for (int j = 0; j < 3; ++j) {
        if (a[j] >= -TIN_EDGE_CRITERION) continue;
        if (prev >= 0 && nb(t)[j] == prev) continue;
        if (best < 0 || a[j] < a[best]) best = j;
      }
      if (best < 0) {
        if (pos + near == 3) {
          // On two edges at once: at a vertex, beyond the distance criterion
          // only by a rounding hair.
          TinTracef(trace, "Duplicate vertex?\n");
          return -2;
        }
        TinTracef(trace, "Triangle search panic:%d\n", steps);
        return 2;
      }
      int n = nb(t)[best];
      if (n < 0) {
        TinTracef(trace, "Outside hull point?\n");
        return 1;
      }
      prev = t;
      t = n;
    }
  }

  // Swaps the edge jna of nta when the far vertex of the triangle across it
  // lies inside nta's circumcircle: 1 swapped (nta and the neighbour now face
  // nta's old opposite vertex with their edge 1), 0 not, -1 inconsistent.
  int Flip(int nta, int jna, int* ntb_out) {
    int ntb = nb(nta)[jna];
    if (ntb < 0) return 0;
    Tin* qtn = tin;
    int ivab = vt(nta)[jna], ivba = vt(nta)[(jna + 1) % 3], iva = vt(nta)[(jna + 2) % 3];
    int jnb = 0;
    while (jnb < 3 && !(vt(ntb)[jnb] == ivba && vt(ntb)[(jnb + 1) % 3] == ivab)) ++jnb;
    if (jnb == 3) {
      TinTracef(trace, "Assertion swap error?\n");
      swap_failed = true;
      return -1;
    }
    int ivb = vt(ntb)[(jnb + 2) % 3];
    OMBREL_ASSERT(qtn->vt[(3*(nta) + ((((jna-1)+3)%3)))] == iva);
    OMBREL_ASSERT(qtn->vt[(3*(ntb) + ((((jnb-1)+3)%3)))] == ivb);
    OMBREL_ASSERT(ivab != ivba);
    OMBREL_ASSERT(ivab != iva);
    OMBREL_ASSERT(ivba != ivb);

    // Is ivb inside the circumcircle of (ivab, ivba, iva)? The determinant
    // is taken relative to the fourth power of the quad's size, so that
    // co-circular fours are skipped alike whatever the scale of the plane
    // (an absolute tolerance on a determinant that grows as size^4 skips
    // every swap in a small plane and none in a large one).
    const PlanarPoint &a = p[ivab], &b = p[ivba], &c = p[iva], &d = p[ivb];
    double adx = a.x - d.x, ady = a.y - d.y, bdx = b.x - d.x, bdy = b.y - d.y;
    double cdx = c.x - d.x, cdy = c.y - d.y;
    double ad = adx * adx + ady * ady, bd = bdx * bdx + bdy * bdy, cd = cdx * cdx + cdy * cdy;
    double det = ad * (bdx * cdy - cdx * bdy) + bd * (cdx * ady - adx * cdy) +
                 cd * (adx * bdy - bdx * ady);
    double size = std::max(ad, std::max(bd, cd));
    if (!(det > 0) || det < TIN_FUZZCC * size * size) return 0;

    int npa = nb(nta)[(jna + 2) % 3], nbp = nb(nta)[(jna + 1) % 3];
    int nad = nb(ntb)[(jnb + 1) % 3], ndb = nb(ntb)[(jnb + 2) % 3];
    Set(nta, iva, ivab, ivb, npa, nad, ntb);
    Set(ntb, iva, ivb, ivba, nta, ndb, nbp);
    Link(nad, ivab, ivb, nta);
    Link(nbp, ivba, iva, ntb);
    *ntb_out = ntb;
    return 1;
  }

  // The circumcircle swap of the edge jna of nta (the edge facing the
  // inserted point), recursive on the two edges that face it after a swap.
  void Swap(int nta, int jna, int depth) {
    if (swap_failed) return;
    if (depth > TIN_RECURSION_LIMIT) {
      TinTracef(trace, "Recursion limit %d exceeded\n", TIN_RECURSION_LIMIT);
      limit_hit = true;
      return;
    }
    if (counts->depth < depth) counts->depth = depth;
    int ntb = -1;
    if (Flip(nta, jna, &ntb) != 1) return;
    Swap(nta, 1, depth + 1);
    Swap(ntb, 1, depth + 1);
  }

  // Swaps until every edge passes the circumcircle test: makes the initial
  // fan Delaunay (insertions then keep it so), and repairs what a swap chain
  // cut off at the recursion limit left behind.
  void Legalize() {
    std::vector<std::pair<int, int>> work;
    for (int t = 0; t < tin->ntri; ++t)
      for (int j = 0; j < 3; ++j)
        if (nb(t)[j] > t) work.push_back({t, j});
    while (!work.empty() && !swap_failed) {
      auto [t, j] = work.back();
      work.pop_back();
      int u = -1;
      if (Flip(t, j, &u) != 1) continue;
      work.push_back({t, 0});
      work.push_back({t, 1});
      work.push_back({u, 1});
      work.push_back({u, 2});
    }
  }

  bool SplitTriangle(int t, int q) {
    int v0 = vt(t)[0], v1 = vt(t)[1], v2 = vt(t)[2];
    int n0 = nb(t)[0], n1 = nb(t)[1], n2 = nb(t)[2];
    if (!(TinArea(p[q], p[v0], p[v1]) > 0 && TinArea(p[q], p[v1], p[v2]) > 0 &&
          TinArea(p[q], p[v2], p[v0]) > 0))
      return false;
    int t1 = NewTriangle(), t2 = NewTriangle();
    Set(t, q, v0, v1, t2, n0, t1);
    Set(t1, q, v1, v2, t, n1, t2);
    Set(t2, q, v2, v0, t1, n2, t);
    Link(n1, v1, v2, t1);
    Link(n2, v2, v0, t2);
    Swap(t, 1, 1);
    Swap(t1, 1, 1);
    Swap(t2, 1, 1);
    return true;
  }

  bool SplitEdge(int t, int j, int q) {
    int a = vt(t)[j], b = vt(t)[(j + 1) % 3], c = vt(t)[(j + 2) % 3];
    int nbc = nb(t)[(j + 1) % 3], nca = nb(t)[(j + 2) % 3], u = nb(t)[j];
    if (!(TinArea(p[q], p[b], p[c]) > 0 && TinArea(p[q], p[c], p[a]) > 0)) return false;
    if (u < 0) {  // a hull edge: only t has it
      int t1 = NewTriangle();
      Set(t, q, b, c, -1, nbc, t1);
      Set(t1, q, c, a, t, nca, -1);
      Link(nca, c, a, t1);
      Swap(t, 1, 1);
      Swap(t1, 1, 1);
      return true;
    }
    int k = 0;
    while (k < 3 && !(vt(u)[k] == b && vt(u)[(k + 1) % 3] == a)) ++k;
    if (k == 3) return false;
    int d = vt(u)[(k + 2) % 3];
    int nad = nb(u)[(k + 1) % 3], ndb = nb(u)[(k + 2) % 3];
    if (!(TinArea(p[q], p[a], p[d]) > 0 && TinArea(p[q], p[d], p[b]) > 0)) return false;
    int t2 = NewTriangle(), u2 = NewTriangle();
    Set(t, q, b, c, u2, nbc, t2);
    Set(t2, q, c, a, t, nca, u);
    Set(u, q, a, d, t2, nad, u2);
    Set(u2, q, d, b, u, ndb, t);
    Link(nca, c, a, t2);
    Link(ndb, d, b, u2);
    Swap(t, 1, 1);
    Swap(t2, 1, 1);
    Swap(u, 1, 1);
    Swap(u2, 1, 1);
    return true;
  }

  void Draw(int t) {
    if (trace == nullptr || trace->changed_triangle == nullptr) return;
    PlanarPoint v[3] = {p[vt(t)[0]], p[vt(t)[1]], p[vt(t)[2]]};
    trace->changed_triangle(trace->ctx, t, v);
  }
};

}  // namespace

int TinVerifyTriangles(const Tin& tin, const int* triangles, int count, const TinTrace* trace) {
  if (static_cast<int>(tin.vt.size()) < 3 * tin.ntri ||
      static_cast<int>(tin.nb.size()) < 3 * tin.ntri)
    return 2;
  for (int i = 0; i < count; ++i) {
    int t = triangles[i];
    if (t < 0 || t >= tin.ntri) continue;
    if (int r = VerifyOne(tin, t, trace)) return r;
  }
  return 0;
}

int TinVerify(const Tin& tin, const TinTrace* trace) {
  if (static_cast<int>(tin.vt.size()) < 3 * tin.ntri ||
      static_cast<int>(tin.nb.size()) < 3 * tin.ntri)
    return 2;
  for (int t = 0; t < tin.ntri; ++t)
    if (int r = VerifyOne(tin, t, trace)) return r;
  return 0;
}

int q2mtin(const PlanarPoint* p, int npts, int iH, int nH, Tin* tin, TinCounts* counts_out,
           const TinTrace* trace) {
  TinCounts local;
  TinCounts* counts = counts_out ? counts_out : &local;
  *counts = TinCounts{};
  counts->total = npts;
  tin->npts = npts;
  tin->points = p;
  tin->ntri = 0;
  tin->vt.clear();
  tin->nb.clear();

  TinTracef(trace, "new TIN sort, pts: %d, iH: %d, nH: %d\n", npts, iH, nH);
  TinTracef(trace, "distance criterion on ground %g\n",
            std::sqrt(TIN_DISTANCE_SQ) * geodesy::TIN_EARTH_RADIUS_M);
  TinTracef(trace, "hull edge criterion %g\n", HULL_EDGE_CRITERION);
  TinTracef(trace, "tin edge criterion %g\n", TIN_EDGE_CRITERION);
  TinTracef(trace, "fuzzcc %g\n", TIN_FUZZCC);
  if (npts < 3) return TIN_TOO_FEW;
  for (int i = 0; i < npts; ++i)
    if (!std::isfinite(p[i].x) || !std::isfinite(p[i].y)) {
      TinTracef(trace, "Hull return code %d\n", -3);
      return TIN_BAD_HULL;
    }

  if (npts == 3) {
    // One triangle, counter-clockwise; collinear or coincident: no TIN.
    double a = TinArea(p[0], p[1], p[2]);
    if (std::fabs(a) <= TIN_EDGE_CRITERION || Dist2(p[0], p[1]) < TIN_DISTANCE_SQ ||
        Dist2(p[1], p[2]) < TIN_DISTANCE_SQ || Dist2(p[2], p[0]) < TIN_DISTANCE_SQ)
      return TIN_BAD_HULL;
    tin->vt = a > 0 ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 2, 1};
    tin->nb = {-1, -1, -1};
    tin->ntri = 1;
    counts->on_hull = 3;
    return TIN_DONE;
  }

  std::vector<int> ix(static_cast<size_t>(npts));
  PlanarPoint centre{0, 0};
  int h;
  if (nH != 0) {
    if (nH < 3 || iH < 0 || iH > npts - nH) return TIN_BAD_HULL;
    int k = 0;
    for (int i = 0; i < nH; ++i) ix[k++] = iH + i;
    for (int i = 0; i < npts; ++i)
      if (i < iH || i >= iH + nH) ix[k++] = i;
    h = q2hull(p, ix.data(), nH, HULL_EDGE_CRITERION, &centre, 1, trace);
    TinTracef(trace, "Radial sort hull return code %d\n", h);
    if (h < 3) return TIN_BAD_HULL;
  } else {
    for (int i = 0; i < npts; ++i) ix[i] = i;
    h = q2hull(p, ix.data(), npts, HULL_EDGE_CRITERION, &centre, 0, trace);
    if (h < 0) {
      TinTracef(trace, "Hull return code %d\n", h);
      return -h;
    }
    if (h < 3) return TIN_BAD_HULL;  // all points on one line
  }
  if (h == npts) return TIN_ALL_ON_HULL;

  // Hull points within the distance criterion of the one kept before them
  // (the last also of the first) are one point.
  std::vector<int> hull;
  hull.push_back(ix[0]);
  for (int i = 1; i < h; ++i) {
    if (Dist2(p[ix[i]], p[hull.back()]) < TIN_DISTANCE_SQ) {
      TinTracef(trace, "Reject prox pt on hull %3d %.6f %.6f\n", ix[i], p[ix[i]].x, p[ix[i]].y);
      ++counts->duplicated;
      ix[i] = -1;
    } else {
      hull.push_back(ix[i]);
    }
  }
  while (hull.size() > 1 && Dist2(p[hull.back()], p[hull[0]]) < TIN_DISTANCE_SQ) {
    int v = hull.back();
    TinTracef(trace, "Reject prox pt on hull %3d %.6f %.6f\n", v, p[v].x, p[v].y);
    ++counts->duplicated;
    hull.pop_back();
  }
  const int hk = static_cast<int>(hull.size());
  TinTracef(trace, "Hull OK, total:%d, unique:%d\n", h, hk);
  if (hk < 3) return TIN_BAD_HULL;

  // The centre vertex: of the points strictly inside the hull, the one
  // nearest to the hull's centre.
  auto strictly_inside = [&](int q) {
    for (int i = 0; i < hk; ++i) {
      if (Dist2(p[q], p[hull[i]]) < TIN_DISTANCE_SQ) return false;
      if (!(TinArea(p[hull[i]], p[hull[(i + 1) % hk]], p[q]) > TIN_EDGE_CRITERION)) return false;
    }
    return true;
  };
  std::vector<int> rest(ix.begin() + h, ix.end());
  int cv = -1;
  {
    size_t best = 0;
    for (size_t i = 1; i < rest.size(); ++i)
      if (Dist2(p[rest[i]], centre) < Dist2(p[rest[best]], centre)) best = i;
    if (strictly_inside(rest[best])) {
      cv = rest[best];
    } else {
      std::vector<int> byd = rest;
      std::sort(byd.begin(), byd.end(), [&](int a, int b) {
        double da = Dist2(p[a], centre), db = Dist2(p[b], centre);
        return da != db ? da < db : a < b;
      });
      for (int q : byd)
        if (strictly_inside(q)) {
          cv = q;
          break;
        }
    }
  }
  if (cv < 0) return TIN_ALL_ON_HULL;  // every other point lies on a hull edge
  counts->on_hull = hk + 1;

  double r2max = 0;
  for (int i = 0; i < npts; ++i) r2max = std::max(r2max, Dist2(p[i], p[cv]));
  const double R = std::sqrt(r2max);

  // The initial fan: one triangle per hull edge (end, centre, start).
  Builder bld{p, tin, counts, trace, {}, false};
  tin->vt.reserve(static_cast<size_t>(6 * npts + 6));
  tin->nb.reserve(static_cast<size_t>(6 * npts + 6));
  for (int i = 0; i < hk; ++i) {
    int a = hull[i], b = hull[(i + 1) % hk];
    int t = bld.NewTriangle();
    bld.Set(t, b, cv, a, (i + 1) % hk, (i - 1 + hk) % hk, -1);
    if (trace && trace->hull_edge) trace->hull_edge(trace->ctx, p[a], p[b]);
    if (trace && trace->fan_triangle) {
      PlanarPoint v[3] = {p[b], p[cv], p[a]};
      trace->fan_triangle(trace->ctx, v);
    }
  }
  int v = TinVerify(*tin, trace);
  TinTracef(trace, "Hull TIN verification %d\n", v);
  if (v != 0) return TIN_INVALID;
  bld.Legalize();
  if (bld.swap_failed || TinVerify(*tin, trace) != 0) return TIN_INVALID;

  // Insertion order: seven rings (k R / 8)², inner first, then the points
  // beyond 7R/8; within a ring along a Hilbert curve.
  std::vector<char> skip(static_cast<size_t>(npts), 0);
  skip[cv] = 1;
  struct Order {
    int ring;
    uint64_t key;
    int i;
  };
  std::vector<Order> order;
  order.reserve(rest.size());
  double minx = HUGE_VAL, miny = HUGE_VAL, maxx = -HUGE_VAL, maxy = -HUGE_VAL;
  for (int i = 0; i < npts; ++i) {
    minx = std::min(minx, p[i].x), maxx = std::max(maxx, p[i].x);
    miny = std::min(miny, p[i].y), maxy = std::max(maxy, p[i].y);
  }
  const double span = std::max(maxx - minx, maxy - miny);
  const double grid = span > 0 ? 65535.0 / span : 0;
  for (int q : rest) {
    if (skip[q]) continue;
    double d2 = Dist2(p[q], p[cv]);
    int ring = 8;
    for (int k = 1; k <= 7; ++k)
      if (d2 <= (k * R / 8) * (k * R / 8)) {
        ring = k;
        break;
      }
    uint64_t key = Hilbert(static_cast<uint32_t>((p[q].x - minx) * grid),
                           static_cast<uint32_t>((p[q].y - miny) * grid));
    order.push_back({ring, key, q});
  }
  std::sort(order.begin(), order.end(), [](const Order& a, const Order& b) {
    if (a.ring != b.ring) return a.ring < b.ring;
    if (a.key != b.key) return a.key < b.key;
    return a.i < b.i;
  });

  int status = TIN_DONE;
  int last = 0;
  std::vector<int> check;
  std::vector<int> stamp;
  int round = 0;
  for (const Order& o : order) {
    const int q = o.i;
    if (trace && trace->inserted_point) trace->inserted_point(trace->ctx, p[q]);
    int tri = last, edge = -1;
    int found = bld.Search(p[q], &tri, &edge);
    if (found == -2) {
      ++counts->duplicated;
      continue;
    }
    if (found > 0) {
      ++counts->failed;
      status = TIN_INSERT_FAILED;
      break;
    }
    bld.changed.clear();
    bld.swap_failed = false;
    if (found == -1) {
      TinTracef(trace, "Point on the edge\n");
      ++counts->edge;
      if (!bld.SplitEdge(tri, edge, q)) {
        TinTracef(trace, "Edge braking failed (A)?\n");
        ++counts->failed;
        status = TIN_INSERT_FAILED;
        break;
      }
    } else if (!bld.SplitTriangle(tri, q)) {
      TinTracef(trace, "Triangle breaking failed (B)?\n");
      ++counts->failed;
      status = TIN_INSERT_FAILED;
      break;
    }
    if (bld.swap_failed) {
      TinTracef(trace, "Triangle swap failed?\n");
      ++counts->failed;
      status = TIN_INSERT_FAILED;
      break;
    }
    // Only the changed triangles and their neighbours can have gone wrong.
    stamp.resize(static_cast<size_t>(tin->ntri), 0);
    ++round;
    check.clear();
    for (int t : bld.changed) {
      if (stamp[t] != round) stamp[t] = round, check.push_back(t);
      for (int j = 0; j < 3; ++j) {
        int n = tin->nb[3 * t + j];
        if (n >= 0 && n < tin->ntri && stamp[n] != round) stamp[n] = round, check.push_back(n);
      }
    }
    v = TinVerifyTriangles(*tin, check.data(), static_cast<int>(check.size()), trace);
    if (v != 0) {
      TinTracef(trace, "TIN verification %d\n", v);
      return TIN_INVALID;
    }
    if (trace && trace->changed_triangle) {
      ++round;
      for (int t : bld.changed)
        if (stamp[t] != round) stamp[t] = round, bld.Draw(t);
    }
    last = tri;
  }

  if (bld.limit_hit && status == TIN_DONE) {
    bld.swap_failed = false;
    bld.Legalize();
    if (bld.swap_failed) status = TIN_INSERT_FAILED;
  }
  v = TinVerify(*tin, trace);
  TinTracef(trace, "Total input points          %d\n", counts->total);
  TinTracef(trace, "Points on hull (and center) %d\n", counts->on_hull);
  TinTracef(trace, "Edge points                 %d\n", counts->edge);
  TinTracef(trace, "Duplicated                  %d\n", counts->duplicated);
  TinTracef(trace, "Insertion failed points     %d\n", counts->failed);
  TinTracef(trace, "Triangles                   %d\n", tin->ntri);
  TinTracef(trace, "Recursion depth             %d (%d)\n", counts->depth, TIN_RECURSION_LIMIT);
  TinTracef(trace, "TIN verification status     %d\n", v);
  if (v != 0 || status == TIN_INSERT_FAILED) return TIN_INSERT_FAILED;
  return counts->duplicated > 0 || counts->failed > 0 ? TIN_DONE_WITH_DROPS : TIN_DONE;
}

}  // namespace ops
