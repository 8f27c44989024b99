// Planar convex hull: extreme-point elimination, radial sort about the
// centre of the extremes, then clean-up walks that drop every point where the
// ring fails to turn left.

#include "lib/ops/q2hull.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/report.h"

namespace ops {
namespace {

double Turn(const PlanarPoint& a, const PlanarPoint& b, const PlanarPoint& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

int Mark(int i) { return i == 0 ? HULL_ZERO_MARK : -i; }
int Unmark(int m) { return m == HULL_ZERO_MARK ? 0 : -m; }

// Sorts ix[0..n) by angle about c (ties: nearer first, then lower index).
void RadialSort(const PlanarPoint* p, int* ix, int n, PlanarPoint c) {
  struct Key {
    double angle, d2;
    int i;
  };
  std::vector<Key> keys(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    const PlanarPoint& q = p[ix[k]];
    double dx = q.x - c.x, dy = q.y - c.y;
    keys[k] = {std::atan2(dy, dx), dx * dx + dy * dy, ix[k]};
  }
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.angle != b.angle) return a.angle < b.angle;
    if (a.d2 != b.d2) return a.d2 < b.d2;
    return a.i < b.i;
  });
  for (int k = 0; k < n; ++k) ix[k] = keys[k].i;
}

}  // namespace

int q2hull(const PlanarPoint* p, int* ix, int n, double tol, PlanarPoint* centre, int type,
           const TinTrace* trace) {
  TinTracef(trace, "Planar convex hull of %d points type %d\n", n, type);
  if (type == 1) {
    if (n <= 0) return n;
    PlanarPoint c{0, 0};
    for (int k = 0; k < n; ++k) {
      c.x += p[ix[k]].x;
      c.y += p[ix[k]].y;
    }
    c.x /= n;
    c.y /= n;
    if (!std::isfinite(c.x) || !std::isfinite(c.y)) return -3;
    if (centre) *centre = c;
    RadialSort(p, ix, n, c);
    return n;
  }
  if (n <= 2) return n;

  // The four extremes; a later point replaces one only when strictly more
  // extreme. A point that is not finite makes the extremes meaningless.
  int iminx = -1, imaxy = -1, imaxx = -1, iminy = -1;
  double minx = HUGE_VAL, maxy = -HUGE_VAL, maxx = -HUGE_VAL, miny = HUGE_VAL;
  for (int k = 0; k < n; ++k) {
    const PlanarPoint& q = p[ix[k]];
    if (!std::isfinite(q.x) || !std::isfinite(q.y)) return -3;
    if (q.x < minx) minx = q.x, iminx = ix[k];
    if (q.y > maxy) maxy = q.y, imaxy = ix[k];
    if (q.x > maxx) maxx = q.x, imaxx = ix[k];
    if (q.y < miny) miny = q.y, iminy = ix[k];
  }
  if (iminx < 0 || imaxy < 0 || imaxx < 0 || iminy < 0) return -3;

  // Repeated extremes, then the polygon counter-clockwise:
  // least x, least y, greatest x, greatest y.
  if (iminx == iminy) iminx = -1;
  if (iminx >= 0 && iminx == imaxy) imaxy = -1;
  if (imaxx == imaxy) imaxx = -1;
  if (iminy >= 0 && iminy == imaxx) iminy = -1;
  int ext[4];
  int m = 0;
  for (int e : {iminx, iminy, imaxx, imaxy}) {
    if (e < 0) continue;
    bool seen = false;  // a point can still be extreme twice (equal x or y)
    for (int k = 0; k < m; ++k) seen = seen || ext[k] == e;
    if (!seen) ext[m++] = e;
  }
  PlanarPoint c{0, 0};
  for (int k = 0; k < m; ++k) {
    c.x += p[ext[k]].x;
    c.y += p[ext[k]].y;
  }
  c.x /= m;
  c.y /= m;
  if (centre) *centre = c;

  // Points strictly inside every edge of the extreme polygon cannot be on
  // the hull: mark them and move them to the end, keeping the others' order.
  int live = n;
  if (m > 2) {
    std::vector<int> out;
    out.reserve(static_cast<size_t>(n));
    std::vector<int> gone;
    for (int k = 0; k < n; ++k) {
      const PlanarPoint& q = p[ix[k]];
      bool inside = true;
      for (int e = 0; e < m && inside; ++e)
        inside = Turn(p[ext[e]], p[ext[(e + 1) % m]], q) > tol;
      if (inside)
        gone.push_back(Mark(ix[k]));
      else
        out.push_back(ix[k]);
    }
    live = static_cast<int>(out.size());
    std::copy(out.begin(), out.end(), ix);
    std::copy(gone.begin(), gone.end(), ix + live);
  }

  RadialSort(p, ix, live, c);

  // Clean-up walks: drop every point where the ring does not turn left by
  // more than the tolerance (stepping back after each drop), until a walk
  // drops nothing.
  std::vector<int> ring(ix, ix + live), next_ring, dropped;
  bool changed = true;
  while (changed && ring.size() >= 3) {
    changed = false;
    next_ring.clear();
    const size_t r = ring.size();
    for (size_t k = 0; k < r; ++k) {
      int cur = ring[k];
      int nxt = ring[(k + 1) % r];
      int prv = next_ring.empty() ? ring[r - 1] : next_ring.back();
      if (Turn(p[prv], p[cur], p[nxt]) <= tol) {
        dropped.push_back(cur);
        changed = true;
        continue;
      }
      next_ring.push_back(cur);
      while (next_ring.size() >= 3) {
        size_t s = next_ring.size();
        if (Turn(p[next_ring[s - 3]], p[next_ring[s - 2]], p[next_ring[s - 1]]) > tol) break;
        dropped.push_back(next_ring[s - 2]);
        next_ring.erase(next_ring.end() - 2);
      }
    }
    ring.swap(next_ring);
  }
  if (ring.size() < 3) {
    // All points on one line: the hull is the farthest pair of extremes.
    dropped.insert(dropped.end(), ring.begin(), ring.end());
    int a = ext[0], b = ext[m > 1 ? 1 : 0];
    double best = -1;
    for (int i = 0; i < m; ++i)
      for (int j = i + 1; j < m; ++j) {
        double dx = p[ext[i]].x - p[ext[j]].x, dy = p[ext[i]].y - p[ext[j]].y;
        if (dx * dx + dy * dy > best) best = dx * dx + dy * dy, a = ext[i], b = ext[j];
      }
    ring.assign({a, b});
    if (a == b) ring.pop_back();
    dropped.erase(std::remove_if(dropped.begin(), dropped.end(),
                                 [&](int v) { return v == a || v == b; }),
                  dropped.end());
  }
  const int h = static_cast<int>(ring.size());
  TinTracef(trace, "Final clean-up, hull:%d total:%d\n", h, n);

  // Hull first, then the points dropped by the walks, then the eliminated.
  std::vector<int> tail(ix + live, ix + n);
  int k = 0;
  for (int v : ring) ix[k++] = v;
  for (int v : dropped) ix[k++] = Mark(v);
  for (int v : tail) ix[k++] = v;
  const int* ixArr = ix;
  for (int i = h; i < n; ++i) OMBREL_ASSERT(ixArr[i] < 0);
  for (int i = h; i < n; ++i) ix[i] = Unmark(ix[i]);
  return h;
}

}  // namespace ops
