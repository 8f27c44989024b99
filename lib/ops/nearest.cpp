// Nearest and farthest items: the cache, the cell bounds, the reference pass
// and the outward search (see nearest.h).
#include "lib/ops/nearest.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "lib/cells/cell_locate.h"
#include "lib/cells/cell_disc.h"
#include "lib/ops/derive_params.h"

namespace ops {

namespace {

using geodesy::DirectionCosines;
using geodesy::Dot;

constexpr double kInf = std::numeric_limits<double>::infinity();
// Cells of at most this many items are searched without their polygon bound
// by the reference pass.
constexpr std::int64_t kFewItems = 12;
// The most points, and legs, of one cell in one chunk.
constexpr std::int64_t kChunkPoints = 16;
constexpr std::int64_t kChunkLegs = 16;
// The most points, legs and cell centres in one leaf of a tree.
constexpr std::int64_t kLeafPoints = 16;
constexpr std::int64_t kLeafLegs = 16;
constexpr std::int64_t kCentresPerLeaf = 4;
// Stands for q's cell before it is located.
constexpr std::int32_t kNotLocated = -2;
// Point sets in at least this share of the index's cells are searched by
// the flood outward from q's cell instead of the tree.
constexpr double kDenseShare = 0.35;
// The squared chord that stands for a distance of zero.
constexpr double kZeroChordSq = 2.458e-14;

// Slack added to a limit before a bound is compared with it, so that a cell
// holding an item at exactly the best distance is never passed over because
// of rounding in its bound.
inline double Slack(double limit) { return limit + 1e-13 + 1e-9 * std::fabs(limit); }

inline DirectionCosines Neg(const DirectionCosines& p) { return {-p.x, -p.y, -p.z}; }

DirectionCosines Unit(const DirectionCosines& v, bool* ok) {
  const double l = std::sqrt(Dot(v, v));
  if (!(l > 1e-300)) {
    *ok = false;
    return {0.0, 0.0, 0.0};
  }
  *ok = true;
  return {v.x / l, v.y / l, v.z / l};
}

// What a cell's search gives: its best item by the result rule.
struct CellBest {
  double key = kInf;  // nearest: the squared chord; farthest: its negative
  std::int64_t index = -1;
  DirectionCosines p{};
  double chord2 = 0.0;
};

// ---- bounds --------------------------------------------------------------

const NearestCache::CellDisc& Disc(const cells::CellIndex& idx, NearestCache& c, std::int32_t cell) {
  NearestCache::CellDisc& d = c.discs[cell];
  if (!std::isnan(d.cos_r)) return d;
  const cells::CellRecord* r = idx.cells[cell];
  double least = 1.0;
  for (int k = 0; k < r->neighbour_count; ++k) {
    DirectionCosines v;
    cells::VoronoiVertex(idx, cell, k, v);
    if (!geodesy::IsValid(v)) {
      least = -1.0;  // no usable polygon: the cell may reach anywhere
      break;
    }
    least = std::min(least, Dot(r->centre, v));
  }
  least = std::max(-1.0, least - 1e-12);  // widened a little against rounding
  d.x = r->centre.x;
  d.y = r->centre.y;
  d.z = r->centre.z;
  d.sin_r = std::sqrt(std::max(0.0, 1.0 - least * least));
  d.cos_r = least;
  return d;
}

// Lower bound of the squared chord from q to the cell: the centre distance
// less the cell's radius.
double CheapBound(const cells::CellIndex& idx, NearestCache& c, std::int32_t cell, const DirectionCosines& q) {
  const NearestCache::CellDisc& d = Disc(idx, c, cell);
  const double cq = q.x * d.x + q.y * d.y + q.z * d.z;
  if (cq >= d.cos_r) return 0.0;
  const double sq = std::sqrt(std::max(0.0, 1.0 - cq * cq));
  const double cosd = cq * d.cos_r + sq * d.sin_r;
  return std::max(0.0, 2.0 - 2.0 * cosd);
}

// True when q is in the cell: not nearer to any neighbour centre.
bool InCell(const cells::CellIndex& idx, std::int32_t cell, const DirectionCosines& q) {
  const cells::CellRecord* r = idx.cells[cell];
  const double own = Dot(q, r->centre);
  for (int k = 0; k < r->neighbour_count; ++k)
    if (Dot(q, idx.cells[r->neighbours[k]]->centre) > own) return false;
  return true;
}

// The least squared chord from q to an edge of the cell's polygon (whether
// q is inside or not).
double EdgeDistance(const cells::CellIndex& idx, std::int32_t cell, const DirectionCosines& q) {
  const cells::CellRecord* r = idx.cells[cell];
  const int n = r->neighbour_count;
  DirectionCosines first{}, prev{};
  double best = -2.0;  // the greatest cosine
  for (int k = 0; k < n; ++k) {
    DirectionCosines v;
    cells::VoronoiVertex(idx, cell, k, v);
    if (!geodesy::IsValid(v)) return 0.0;
    if (k == 0) first = v;
    else best = std::max(best, cells::ArcNearestCosine(q, prev, v));
    prev = v;
  }
  best = std::max(best, cells::ArcNearestCosine(q, prev, first));
  return std::max(0.0, 2.0 - 2.0 * best);
}

// The least bound of the cell for q.
double ExactBound(const cells::CellIndex& idx, std::int32_t cell, const DirectionCosines& q) {
  if (InCell(idx, cell, q)) return 0.0;
  return EdgeDistance(idx, cell, q);
}

// Lower bound of the squared chord from q to a node's cap: the centre
// distance less the radius.
inline double CapBound(const NearNode& d, const DirectionCosines& q) {
  const double cq = q.x * d.x + q.y * d.y + q.z * d.z;
  if (cq >= d.cos_r) return 0.0;
  const double sq = std::sqrt(std::max(0.0, 1.0 - cq * cq));
  const double cosd = cq * d.cos_r + sq * d.sin_r;
  return std::max(0.0, 2.0 - 2.0 * cosd);
}

using HeapEntry = std::pair<double, std::int32_t>;

// Best-first walk of a cap tree from qs: leaves by increasing bound, until
// the least bound left exceeds limit() (which may only fall as leaves are
// searched). leaf(first, count) searches a leaf's items in the tree's order.
template <class LeafFn, class LimitFn>
void WalkTree(const std::vector<NearNode>& tree, const DirectionCosines& qs, std::vector<HeapEntry>& heap,
              LeafFn&& leaf, LimitFn&& limit) {
  heap.clear();
  if (tree.empty()) return;
  auto greater = [](const HeapEntry& a, const HeapEntry& b) { return a.first > b.first; };
  std::int32_t n = 0;
  double bound = CapBound(tree[0], qs);
  for (;;) {
    // Down the nearer child while it is nearer than anything waiting.
    if (bound <= limit()) {
      const NearNode& nd = tree[n];
      if (nd.kid < 0) {
        leaf(-1 - nd.kid, nd.count);
      } else {
        const double lim = limit();
        const double b0 = CapBound(tree[nd.kid], qs), b1 = CapBound(tree[nd.kid + 1], qs);
        const std::int32_t near = b1 < b0 ? nd.kid + 1 : nd.kid;
        const double bn = std::min(b0, b1), bf = std::max(b0, b1);
        if (bf <= lim) {
          heap.push_back({bf, near == nd.kid ? nd.kid + 1 : nd.kid});
          std::push_heap(heap.begin(), heap.end(), greater);
        }
        if (bn <= lim && (heap.empty() || bn <= heap.front().first)) {
          n = near;
          bound = bn;
          continue;
        }
        if (bn <= lim) {
          heap.push_back({bn, near});
          std::push_heap(heap.begin(), heap.end(), greater);
        }
      }
    }
    if (heap.empty()) return;
    std::pop_heap(heap.begin(), heap.end(), greater);
    n = heap.back().second;
    bound = heap.back().first;
    heap.pop_back();
    if (bound > limit()) return;
  }
}

// Makes a cap tree over items [0, count): each(i, fn) calls fn(p) for every
// point of item i. A node's cap is centred on the mean of its points and
// reaches the farthest; a cap of 90 degrees or more becomes the whole sphere
// (below that a cap is convex, so it holds the arcs between its points too).
// Items are split in halves across the widest spread of their means.
template <class EachFn, class WeightFn>
void BuildCapTree(std::size_t count, EachFn&& each, WeightFn&& weight, std::int64_t per_leaf,
                  std::vector<NearNode>& tree, std::vector<std::int32_t>& ord) {
  tree.clear();
  ord.assign(count, 0);
  if (count == 0) return;
  std::vector<DirectionCosines> sum(count), mean(count);
  for (std::size_t i = 0; i < count; ++i) {
    ord[i] = static_cast<std::int32_t>(i);
    DirectionCosines s{0.0, 0.0, 0.0};
    each(i, [&](const DirectionCosines& p) {
      s.x += p.x;
      s.y += p.y;
      s.z += p.z;
    });
    sum[i] = s;
    bool ok = false;
    mean[i] = Unit(s, &ok);
  }
  tree.reserve(2 * count);
  tree.push_back(NearNode{});
  auto fill = [&](auto& self, std::size_t at, std::size_t lo, std::size_t hi) -> void {
    DirectionCosines s{0.0, 0.0, 0.0};
    for (std::size_t j = lo; j < hi; ++j) {
      s.x += sum[ord[j]].x;
      s.y += sum[ord[j]].y;
      s.z += sum[ord[j]].z;
    }
    bool ok = false;
    const DirectionCosines c = Unit(s, &ok);
    double least = ok ? 1.0 : -1.0;
    if (ok)
      for (std::size_t j = lo; j < hi; ++j)
        each(static_cast<std::size_t>(ord[j]), [&](const DirectionCosines& p) { least = std::min(least, Dot(c, p)); });
    least -= 1e-12;  // widened a little against rounding
    NearNode nd{c.x, c.y, c.z, -1.0, 0.0, 0, 0};
    if (ok && least > 0.0) {
      nd.cos_r = least;
      nd.sin_r = std::sqrt(std::max(0.0, 1.0 - least * least));
    }
    std::int64_t w = 0;
    for (std::size_t j = lo; j < hi; ++j) w += weight(static_cast<std::size_t>(ord[j]));
    if (hi - lo == 1 || w <= per_leaf) {
      nd.kid = -1 - static_cast<std::int32_t>(lo);
      nd.count = static_cast<std::int32_t>(hi - lo);
      tree[at] = nd;
      return;
    }
    double lo_c[3] = {kInf, kInf, kInf}, hi_c[3] = {-kInf, -kInf, -kInf};
    for (std::size_t j = lo; j < hi; ++j) {
      const DirectionCosines& m = mean[ord[j]];
      const double v[3] = {m.x, m.y, m.z};
      for (int a = 0; a < 3; ++a) {
        lo_c[a] = std::min(lo_c[a], v[a]);
        hi_c[a] = std::max(hi_c[a], v[a]);
      }
    }
    int axis = 0;
    for (int a = 1; a < 3; ++a)
      if (hi_c[a] - lo_c[a] > hi_c[axis] - lo_c[axis]) axis = a;
    auto coord = [&](std::int32_t i) {
      const DirectionCosines& m = mean[i];
      return axis == 0 ? m.x : axis == 1 ? m.y : m.z;
    };
    const std::size_t mid = lo + (hi - lo) / 2;
    std::nth_element(ord.begin() + static_cast<std::ptrdiff_t>(lo), ord.begin() + static_cast<std::ptrdiff_t>(mid),
                     ord.begin() + static_cast<std::ptrdiff_t>(hi),
                     [&](std::int32_t a, std::int32_t b) {
                       return coord(a) < coord(b) || (coord(a) == coord(b) && a < b);
                     });
    const std::size_t kid = tree.size();
    nd.kid = static_cast<std::int32_t>(kid);
    tree[at] = nd;
    tree.resize(kid + 2);
    self(self, kid, lo, mid);
    self(self, kid + 1, mid, hi);
  };
  fill(fill, 0, 0, count);
}

// ---- candidates ------------------------------------------------------------

// The best of the points [first, last) of directory cell d of a Pset.
CellBest EvalPoints(const NearestCache& c, std::int64_t d, std::int64_t first, std::int64_t last,
                    const DirectionCosines& q, int mode) {
  CellBest b;
  const std::int64_t base = c.dir_first[d];
  const double sign = mode == 1 ? 1.0 : -1.0;
  for (std::int64_t i = first; i < last; ++i) {
    const double d2 = geodesy::ChordSq(q, c.points[i]);
    const double key = sign * d2;
    if (key < b.key) {
      b.key = key;
      b.index = i - base;
      b.p = c.points[i];
      b.chord2 = d2;
    }
  }
  return b;
}

// The best point on the legs [first, last) of an Lset or Rset: vertices and
// feet (of qs: q itself for nearest, -q for farthest) on each leg.
CellBest EvalLegs(const NearestCache& c, std::int64_t, std::int64_t first, std::int64_t last,
                  const DirectionCosines& q, int mode) {
  CellBest b;
  const double sign = mode == 1 ? 1.0 : -1.0;
  const DirectionCosines qs = mode == 1 ? q : Neg(q);
  auto take = [&](const DirectionCosines& p, std::int64_t leg) {
    const double d2 = geodesy::ChordSq(q, p);
    const double key = sign * d2;
    if (key < b.key) {
      b.key = key;
      b.index = leg;
      b.p = p;
      b.chord2 = d2;
    }
  };
  for (std::int64_t i = first; i < last; ++i) {
    const NearLeg& l = c.legs[i];
    take(l.a, i);
    if (l.n.x == 0.0 && l.n.y == 0.0 && l.n.z == 0.0) continue;
    const double qn = Dot(qs, l.n);
    const DirectionCosines f{qs.x - qn * l.n.x, qs.y - qn * l.n.y, qs.z - qn * l.n.z};
    if (Dot(geodesy::Cross(l.a, f), l.n) >= 0 && Dot(geodesy::Cross(f, l.b), l.n) >= 0) {
      bool ok = false;
      const DirectionCosines fu = Unit(f, &ok);
      if (ok) take(fu, i);
    }
    take(l.b, i);
  }
  return b;
}

using EvalFn = CellBest (*)(const NearestCache&, std::int64_t, std::int64_t, std::int64_t, const DirectionCosines&,
                            int);

// The best item of directory cell d.
CellBest EvalCell(const NearestCache& c, EvalFn eval, std::int64_t d, const DirectionCosines& q, int mode) {
  return eval(c, d, c.dir_first[d], c.dir_first[d + 1], q, mode);
}

// The best so far with the items that tie with it.
struct Tracker {
  CellBest best;
  std::int64_t dir = -1;
  std::vector<std::pair<std::int32_t, std::int64_t>>* ties = nullptr;
  std::vector<CellBest> tie_items;
  void Offer(std::int64_t d, const CellBest& cb) {
    if (cb.index < 0) return;
    if (cb.key < best.key) {
      best = cb;
      dir = d;
      ties->clear();
      tie_items.clear();
      ties->push_back({static_cast<std::int32_t>(d), cb.index});
      tie_items.push_back(cb);
    } else if (cb.key == best.key) {
      ties->push_back({static_cast<std::int32_t>(d), cb.index});
      tie_items.push_back(cb);
    }
  }
  // The limit a cell's bound (on the distance from qs) must not exceed.
  double Limit(int mode) const { return mode == 1 ? best.key : 4.0 + best.key; }
};

// The seed cell's directory position: nearest, q's own cell when it holds
// items, else the cell with the nearest centre; farthest, the cell with the
// farthest centre. Ties: first in directory order. (The single pass over
// the directory; SeedCellByTree gives the same cell.)
std::int64_t SeedCell(cells::CellIndex& idx, const NearestCache& c, const DirectionCosines& q, int mode,
                      std::int32_t own) {
  if (mode == 1 && own != cells::NO_CELL && c.dir_of[own] >= 0) return c.dir_of[own];
  std::int64_t seed = 0;
  double best = mode == 1 ? kInf : -kInf;
  for (std::size_t d = 0; d < c.dir_cell.size(); ++d) {
    const double d2 = geodesy::ChordSq(q, idx.cells[c.dir_cell[d]]->centre);
    if (mode == 1 ? d2 < best : d2 > best) {
      best = d2;
      seed = static_cast<std::int64_t>(d);
    }
  }
  return seed;
}

// The same cell found through the tree of the cells' centres.
std::int64_t SeedCellByTree(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode,
                            std::int32_t own) {
  if (mode == 1 && own != cells::NO_CELL && c.dir_of[own] >= 0) return c.dir_of[own];
  std::int64_t seed = -1;
  double best = mode == 1 ? kInf : -kInf;
  const DirectionCosines qs = mode == 1 ? q : Neg(q);
  WalkTree(
      c.centre_tree, qs, c.heap,
      [&](std::int32_t first, std::int32_t count) {
        for (std::int32_t j = first; j < first + count; ++j) {
          const std::int32_t d = c.centre_order[j];
          const double d2 = geodesy::ChordSq(q, idx.cells[c.dir_cell[d]]->centre);
          if ((mode == 1 ? d2 < best : d2 > best) || (d2 == best && d < seed)) {
            best = d2;
            seed = d;
          }
        }
      },
      [&] { return Slack(mode == 1 ? best : 4.0 - best); });
  return seed < 0 ? SeedCell(idx, c, q, mode, own) : seed;
}

// Picks the result among tied items: the seed cell's, else the first cell's
// in directory order; within a cell the first in stored order. own is q's
// cell, or kNotLocated when it is still to be located.
void Resolve(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode, std::int32_t own,
             Tracker& t) {
  if (t.ties->size() <= 1) return;
  if (own == kNotLocated) own = cells::Locate(idx, q);
  const std::int64_t seed = SeedCellByTree(idx, c, q, mode, own);
  std::size_t pick = 0;
  auto before = [&](const std::pair<std::int32_t, std::int64_t>& a, const std::pair<std::int32_t, std::int64_t>& b) {
    const bool as = a.first == seed, bs = b.first == seed;
    if (as != bs) return as;
    if (a.first != b.first) return a.first < b.first;
    return a.second < b.second;
  };
  for (std::size_t i = 1; i < t.ties->size(); ++i)
    if (before((*t.ties)[i], (*t.ties)[pick])) pick = i;
  t.best = t.tie_items[pick];
  t.dir = (*t.ties)[pick].first;
}

bool EmptyFor(const NearestCache& c) { return c.dir_cell.empty(); }

// The single pass over every cell in directory order.
bool ReferencePass(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode, EvalFn eval,
                   Tracker& t) {
  if (EmptyFor(c) || (mode != 1 && mode != 2) || !geodesy::IsValid(q)) return false;
  const DirectionCosines qs = mode == 1 ? q : Neg(q);
  const std::int32_t own = cells::Locate(idx, q);
  const std::int64_t seed = SeedCell(idx, c, q, mode, own);
  t.Offer(seed, EvalCell(c, eval, seed, q, mode));
  c.visited = 1;
  // The polygon bounds hold for points only: a cell's legs reach past its
  // polygon (the legs joining its pieces to those of the next cells), so
  // every cell of a line object is searched.
  const bool bounded = c.kind == cells::kPset;
  for (std::size_t d = 0; d < c.dir_cell.size(); ++d) {
    if (static_cast<std::int64_t>(d) == seed) continue;
    const double limit = Slack(t.Limit(mode));
    if (bounded && CheapBound(idx, c, c.dir_cell[d], qs) > limit) continue;
    if (bounded && c.dir_first[d + 1] - c.dir_first[d] > kFewItems && ExactBound(idx, c.dir_cell[d], qs) > limit)
      continue;
    ++c.visited;
    const CellBest cb = EvalCell(c, eval, static_cast<std::int64_t>(d), q, mode);
    // Only a strictly better item replaces the best.
    if (cb.index >= 0 && cb.key < t.best.key) {
      t.best = cb;
      t.dir = static_cast<std::int64_t>(d);
    }
  }
  return t.best.index >= 0;
}

// The production search: the leaves of the content tree by increasing bound
// from qs, until none left can hold a better item. skip_dir (or -1) is a
// cell already searched; seen, when given, is a cleared cell bit set that
// gets the cells searched (counted in visited).
void TreeSearch(NearestCache& c, const DirectionCosines& q, int mode, EvalFn eval, std::int64_t skip_dir,
                std::uint32_t* seen, Tracker& t) {
  const DirectionCosines qs = mode == 1 ? q : Neg(q);
  WalkTree(
      c.tree, qs, c.heap,
      [&](std::int32_t first, std::int32_t count) {
        for (std::int32_t j = first; j < first + count; ++j) {
          const NearChunk& k = c.chunks[j];
          if (k.dir == skip_dir) continue;
          if (seen == nullptr) {
            ++c.visited;
          } else if (!cells::BitSetTest(seen, c.dir_cell[k.dir])) {
            cells::BitSetSet(seen, c.dir_cell[k.dir]);
            ++c.visited;
          }
          t.Offer(k.dir, eval(c, k.dir, k.first, k.last, q, mode));
        }
      },
      [&] { return Slack(t.Limit(mode)); });
}

// The outward search: cells by increasing cheap bound from qs's cell. seen
// is a cleared cell bit set.
bool OutwardSearch(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode, EvalFn eval,
                   std::uint32_t* seen, std::int32_t start, Tracker& t) {
  const DirectionCosines qs = mode == 1 ? q : Neg(q);
  auto& heap = c.heap;
  heap.clear();
  auto greater = [](const std::pair<double, std::int32_t>& a, const std::pair<double, std::int32_t>& b) {
    return a.first > b.first;
  };
  heap.push_back({0.0, start});
  cells::BitSetSet(seen, start);
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), greater);
    const auto [bound, cell] = heap.back();
    heap.pop_back();
    const double limit = Slack(t.Limit(mode));
    if (bound > limit) break;
    ++c.visited;
    const std::int32_t d = c.dir_of[cell];
    // The polygon bound pays only before a cell of many items; a few are
    // cheaper to look at than the polygon.
    if (d >= 0 && (t.best.index < 0 || c.dir_first[d + 1] - c.dir_first[d] <= kFewItems ||
                   ExactBound(idx, cell, qs) <= limit))
      t.Offer(d, EvalCell(c, eval, d, q, mode));
    const cells::CellRecord* r = idx.cells[cell];
    const double now = Slack(t.Limit(mode));
    for (int k = 0; k < r->neighbour_count; ++k) {
      const std::int32_t m = r->neighbours[k];
      if (cells::BitSetTest(seen, m)) continue;
      cells::BitSetSet(seen, m);
      const double b = CheapBound(idx, c, m, qs);
      if (b > now) continue;  // the limit only falls: it can never be wanted
      heap.push_back({b, m});
      std::push_heap(heap.begin(), heap.end(), greater);
    }
  }
  return t.best.index >= 0;
}

bool Search(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode, EvalFn eval, Tracker& t) {
  if (EmptyFor(c) || (mode != 1 && mode != 2) || !geodesy::IsValid(q)) return false;
  c.visited = 0;
  // A point set in most cells: the flood from q's cell finds the nearest
  // point within a cell or two, quicker than the walk down the tree.
  if (c.kind == cells::kPset &&
      static_cast<double>(c.dir_cell.size()) >= kDenseShare * static_cast<double>(idx.cell_count)) {
    const std::int32_t own = cells::Locate(idx, q);
    const std::int32_t start = mode == 1 ? own : cells::Locate(idx, Neg(q));
    std::fill(c.seen.begin(), c.seen.end(), 0u);
    OutwardSearch(idx, c, q, mode, eval, c.seen.data(), start, t);
    Resolve(idx, c, q, mode, own, t);
    return t.best.index >= 0;
  }
  TreeSearch(c, q, mode, eval, -1, nullptr, t);
  Resolve(idx, c, q, mode, kNotLocated, t);
  return t.best.index >= 0;
}

void FillPointHit(const NearestCache& c, const Tracker& t, NearestHit* hit) {
  if (!hit) return;
  hit->p = t.best.p;
  hit->chord2 = t.best.chord2;
  hit->cell = c.dir_cell[t.dir];
  hit->index = t.best.index;
  hit->line = -1;
  const std::int64_t i = c.dir_first[t.dir] + t.best.index;
  hit->datum[0] = c.point_attr[i];
  hit->datum[1] = 0;
}

// The leaves (runs of at most per items of a cell) and both cap trees.
// points(i, fn) calls fn for the points of item i (a point, or a leg's ends).
template <class PointsFn>
void BuildTrees(const cells::CellIndex& idx, NearestCache& c, std::int64_t per, std::int64_t per_leaf,
                PointsFn&& points) {
  std::vector<NearChunk> chunks;
  for (std::size_t d = 0; d < c.dir_cell.size(); ++d)
    for (std::int64_t i = c.dir_first[d]; i < c.dir_first[d + 1]; i += per)
      chunks.push_back({i, std::min(i + per, c.dir_first[d + 1]), static_cast<std::int32_t>(d)});
  std::vector<std::int32_t> order;
  BuildCapTree(
      chunks.size(),
      [&](std::size_t k, auto&& fn) {
        for (std::int64_t i = chunks[k].first; i < chunks[k].last; ++i) points(i, fn);
      },
      [&](std::size_t k) { return chunks[k].last - chunks[k].first; }, per_leaf, c.tree, order);
  c.chunks.resize(chunks.size());
  for (std::size_t k = 0; k < order.size(); ++k) c.chunks[k] = chunks[order[k]];
  BuildCapTree(
      c.dir_cell.size(), [&](std::size_t d, auto&& fn) { fn(idx.cells[c.dir_cell[d]]->centre); },
      [](std::size_t) { return std::int64_t{1}; }, kCentresPerLeaf, c.centre_tree, c.centre_order);
}

int FillLegHit(const NearestCache& c, const Tracker& t, NearestHit* hit) {
  const NearLeg& l = c.legs[t.best.index];
  if (hit) {
    hit->p = t.best.p;
    hit->chord2 = t.best.chord2;
    hit->cell = c.dir_cell[t.dir];
    hit->index = t.best.index;
    hit->line = l.item;
    hit->datum[0] = c.vert_attr[l.va];
    hit->datum[1] = c.vert_attr[l.vb];
  }
  return l.item;
}

}  // namespace

// ---- the cache -------------------------------------------------------------

int PrepareNearest(cells::CellIndex& idx, const cells::Object& obj, NearestCache& c) {
  c = NearestCache();
  if (obj.kind != cells::kPset && obj.kind != cells::kLset && obj.kind != cells::kRset) return 1;
  try {
    c.kind = obj.kind;
    c.res = obj.res;
    c.cell_count = idx.cell_count;
    c.dir_of.assign(static_cast<std::size_t>(idx.cell_count), -1);
    c.discs.assign(static_cast<std::size_t>(idx.cell_count), NearestCache::CellDisc{0, 0, 0, std::nan(""), 0});
    c.seen.assign(cells::BitSetWords(idx.cell_count), 0u);
    const int rec = cells::RecordSize(obj.res);
    auto add_cell = [&](std::int32_t cell, std::int64_t first) {
      if (cell < 0 || cell >= idx.cell_count) return false;
      if (!c.dir_cell.empty() && c.dir_cell.back() == cell) return true;
      c.dir_of[cell] = static_cast<std::int32_t>(c.dir_cell.size());
      c.dir_cell.push_back(cell);
      c.dir_first.push_back(first);
      return true;
    };
    if (obj.kind == cells::kPset) {
      const std::int64_t n = cells::PsetCellCount(obj);
      for (std::int64_t i = 0; i < n; ++i) {
        const cells::PsetCell pc = cells::LoadPsetCell(cells::PsetCellAt(obj, i));
        if (pc.count <= 0) continue;
        if (!add_cell(pc.cell, static_cast<std::int64_t>(c.points.size()))) return 1;
        const std::uint8_t* src = obj.coords + pc.offset;
        for (std::int32_t k = 0; k < pc.count; ++k, src += rec) {
          DirectionCosines p;
          std::uint64_t attr = 0;
          cells::Restore(idx, pc.cell, src, obj.res, p, &attr);
          c.points.push_back(p);
          c.point_attr.push_back(static_cast<std::uint32_t>(attr));
        }
      }
      c.dir_first.push_back(static_cast<std::int64_t>(c.points.size()));
      BuildTrees(idx, c, kChunkPoints, kLeafPoints, [&](std::int64_t i, auto&& fn) { fn(c.points[i]); });
      return 0;
    }
    // Lines and rings: every item's vertices in order, and where each piece's
    // vertices start among them.
    const bool rings = obj.kind == cells::kRset;
    const std::int64_t items = cells::ItemCount(obj);
    std::vector<std::int64_t> item_base(static_cast<std::size_t>(items) + 1), item_pieces(static_cast<std::size_t>(items) + 1);
    std::vector<std::int64_t> piece_start;
    for (std::int64_t i = 0; i < items; ++i) {
      const cells::Item it = cells::LoadItem(cells::ItemAt(obj, i));
      item_base[i] = static_cast<std::int64_t>(c.verts.size());
      item_pieces[i] = static_cast<std::int64_t>(piece_start.size());
      for (std::int32_t k = 0; k < it.count; ++k) {
        const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, k));
        piece_start.push_back(static_cast<std::int64_t>(c.verts.size()) - item_base[i]);
        const std::uint8_t* src = obj.coords + pc.offset;
        for (std::int32_t v = 0; v < pc.count; ++v, src += rec) {
          DirectionCosines p;
          std::uint64_t attr = 0;
          cells::Restore(idx, pc.cell, src, obj.res, p, &attr);
          c.verts.push_back(p);
          c.vert_attr.push_back(static_cast<std::uint32_t>(attr));
        }
      }
    }
    item_base[items] = static_cast<std::int64_t>(c.verts.size());
    item_pieces[items] = static_cast<std::int64_t>(piece_start.size());
    auto add_leg = [&](std::int64_t item, std::int64_t ja, std::int64_t jb) {
      NearLeg l;
      l.va = static_cast<std::int32_t>(item_base[item] + ja);
      l.vb = static_cast<std::int32_t>(item_base[item] + jb);
      l.a = c.verts[l.va];
      l.b = c.verts[l.vb];
      bool ok = false;
      l.n = Unit(geodesy::Cross(l.a, l.b), &ok);
      l.item = static_cast<std::int32_t>(item);
      c.legs.push_back(l);
    };
    const std::int64_t refs = cells::CellIndexCount(obj);
    for (std::int64_t e = 0; e < refs; ++e) {
      const cells::PieceRef r = cells::LoadPieceRef(cells::PieceRefAt(obj, e));
      if (r.item < 0 || r.item >= items) continue;
      const std::int64_t pieces = item_pieces[r.item + 1] - item_pieces[r.item];
      if (r.piece < 0 || r.piece >= pieces) continue;
      if (!add_cell(r.cell, static_cast<std::int64_t>(c.legs.size()))) return 1;
      const std::int64_t n = item_base[r.item + 1] - item_base[r.item];
      const std::int64_t s = piece_start[item_pieces[r.item] + r.piece];
      const cells::Item it = cells::LoadItem(cells::ItemAt(obj, r.item));
      const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, r.piece));
      const std::int64_t end = s + pc.count;
      if (n == 1) {
        if (pc.count > 0) add_leg(r.item, 0, 0);
        continue;
      }
      if (n == 0) continue;
      // The legs from the vertex before the piece to the vertex after it.
      for (std::int64_t j = s - 1; j <= end - 1; ++j) {
        if (rings) {
          const std::int64_t ja = ((j % n) + n) % n;
          add_leg(r.item, ja, (ja + 1) % n);
        } else if (j >= 0 && j + 1 <= n - 1) {
          add_leg(r.item, j, j + 1);
        }
      }
    }
    c.dir_first.push_back(static_cast<std::int64_t>(c.legs.size()));
    // A cell whose pieces gave no legs stays in the directory with none.
    BuildTrees(idx, c, kChunkLegs, kLeafLegs, [&](std::int64_t i, auto&& fn) {
      fn(c.legs[i].a);
      fn(c.legs[i].b);
    });
    return 0;
  } catch (const std::bad_alloc&) {
    c = NearestCache();
    return 8;
  }
}

// ---- searches ----------------------------------------------------------------

int q7_PsetNearest(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode, NearestHit* hit) {
  if (c.kind != cells::kPset) return 0;
  Tracker t;
  t.ties = &c.ties;
  c.ties.clear();
  if (!Search(idx, c, q, mode, EvalPoints, t)) return 0;
  FillPointHit(c, t, hit);
  return 1;
}

int q7_PsetNearestReference(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode,
                            NearestHit* hit) {
  if (c.kind != cells::kPset) return 0;
  Tracker t;
  t.ties = &c.ties;
  c.ties.clear();
  if (!ReferencePass(idx, c, q, mode, EvalPoints, t)) return 0;
  FillPointHit(c, t, hit);
  return 1;
}

int q7_LsetNearest(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode, NearestHit* hit) {
  if (c.kind != cells::kLset && c.kind != cells::kRset) return -1;
  Tracker t;
  t.ties = &c.ties;
  c.ties.clear();
  if (!Search(idx, c, q, mode, EvalLegs, t)) return -1;
  return FillLegHit(c, t, hit);
}

int q7_LsetNearestReference(cells::CellIndex& idx, NearestCache& c, const DirectionCosines& q, int mode,
                            NearestHit* hit) {
  if (c.kind != cells::kLset && c.kind != cells::kRset) return -1;
  Tracker t;
  t.ties = &c.ties;
  c.ties.clear();
  if (!ReferencePass(idx, c, q, mode, EvalLegs, t)) return -1;
  return FillLegHit(c, t, hit);
}

int q7_RsetNearestBoundary(cells::CellIndex& idx, platform::Workspace* ws, NearestCache& c,
                           const DirectionCosines& q, NearestHit* hit) {
  if (c.kind != cells::kRset && c.kind != cells::kLset) return 0;
  if (c.legs.empty() || !geodesy::IsValid(q)) return 0;
  platform::WorkspaceMark guard(ws);
  const std::size_t words = cells::BitSetWords(idx.cell_count);
  auto* seen = static_cast<std::uint32_t*>(
      ws ? platform::WorkspaceAlloc(ws, static_cast<std::int32_t>(words * 4)) : nullptr);
  if (seen == nullptr) return -9;
  Tracker t;
  t.ties = &c.ties;
  c.ties.clear();
  c.visited = 0;
  const std::int32_t own = cells::Locate(idx, q);
  const std::int64_t own_dir = own == cells::NO_CELL ? -1 : c.dir_of[own];
  int status = 3;
  if (own_dir >= 0) {
    t.Offer(own_dir, EvalCell(c, EvalLegs, own_dir, q, 1));
    c.visited = 1;
    // The circle of the best distance inside the own cell ends the search.
    if (t.best.index >= 0 && Slack(t.best.key) < EdgeDistance(idx, own, q)) {
      FillLegHit(c, t, hit);
      return 1;
    }
    status = 2;
  }
  // The other cells that the circle of the best distance meets, nearest
  // first (the own cell is searched already).
  cells::BitSetClearAll(seen, idx.cell_count);
  TreeSearch(c, q, 1, EvalLegs, own_dir, seen, t);
  if (t.best.index < 0) return 0;
  Resolve(idx, c, q, 1, own, t);
  FillLegHit(c, t, hit);
  return status;
}

int q7_PsetOrdered(cells::CellIndex& idx, platform::Workspace* ws, NearestCache& c, const geodesy::Ellipsoid* e,
                   const DirectionCosines& q, double proximity, int count, std::int32_t (*found)[2],
                   double* chord2) {
  if (c.kind != cells::kPset || c.points.empty()) return 0;
  if (count < 2 || count > ORDERED_MAX || !geodesy::IsValid(q) || !(proximity >= 0.0)) return -1;
  double tol;
  if (e != nullptr) {
    if (proximity > e->a) return -1;
    tol = proximity < 0.0001 ? kZeroChordSq : ChordSqOfAngle(proximity * MetresToRadians(*e, q));
  } else {
    if (proximity > M_PI / 4) return -1;
    tol = std::max(kZeroChordSq, ChordSqOfAngle(proximity));
  }
  int n = 0;
  auto insert = [&](std::int32_t cell, std::int32_t index, double d2) {
    if (d2 > tol) return;
    if (n == count && !(d2 < chord2[n - 1])) return;
    int j = 0;
    while (j < n && !(chord2[j] > d2)) ++j;
    const int last = n < count ? n : count - 1;
    for (int k = last; k > j; --k) {
      chord2[k] = chord2[k - 1];
      found[k][0] = found[k - 1][0];
      found[k][1] = found[k - 1][1];
    }
    chord2[j] = d2;
    found[j][0] = cell;
    found[j][1] = index;
    if (n < count) ++n;
  };
  auto insert_cell = [&](std::int32_t cell) {
    const std::int32_t d = c.dir_of[cell];
    if (d < 0) return;
    for (std::int64_t i = c.dir_first[d]; i < c.dir_first[d + 1]; ++i)
      insert(cell, static_cast<std::int32_t>(i - c.dir_first[d]), geodesy::ChordSq(q, c.points[i]));
  };
  const std::int32_t own = cells::Locate(idx, q);
  if (c.dir_of[own] >= 0) {
    insert_cell(own);
    if (n == count && Slack(chord2[n - 1]) < EdgeDistance(idx, own, q)) return n;
  }
  platform::WorkspaceMark guard(ws);
  const std::uint32_t* list = cells::NearCellsRegionIn(idx, ws, q, Slack(tol));
  if (list == nullptr) return -9;
  for (std::uint32_t w = 2; w < list[0]; ++w) {
    const std::int32_t cell = static_cast<std::int32_t>(list[w]);
    if (cell != own) insert_cell(cell);
  }
  return n;
}

// ---- distances for the reports ---------------------------------------------

double AngleOfChordSq(double chord2) {
  const double ch = std::sqrt(std::max(0.0, chord2));
  if (ch < 1.0) return 2.0 * std::asin(ch / 2.0);
  return M_PI - 2.0 * std::acos(std::min(1.0, ch / 2.0));
}

double ReportKilometres(const geodesy::Ellipsoid* e, const DirectionCosines& p, const DirectionCosines& q,
                        double chord2) {
  const geodesy::Ellipsoid el = e ? *e : geodesy::MakeEllipsoid();
  bool ok = false;
  DirectionCosines mid = Unit({p.x + q.x, p.y + q.y, p.z + q.z}, &ok);
  if (!ok) mid = p;
  return AngleOfChordSq(chord2) / MetresToRadians(el, mid) / 1000.0;
}

double OrderedKilometres(const geodesy::Ellipsoid* e, double chord2) {
  const geodesy::Ellipsoid el = e ? *e : geodesy::MakeEllipsoid();
  return AngleOfChordSq(chord2) * ops::MeanRadius(el) * 0.001;
}

}  // namespace ops
