// Boundary distance and the point-in-region test.
//
// Each chain is walked leg by leg. For leg j from A to B the foot of q on the
// leg's line is at parameter t; a foot strictly between the ends gives the
// perpendicular distance with the side of the leg. A foot before A or beyond
// B makes the end vertex the nearest point of that leg; for a vertex inside
// the chain the vertex rule (left turn: left of both legs; right turn: left of
// either) gives the side, while at the chain's own ends, where the legs are
// cut at the cell's edge, the leg's side is used.
//
// Why the cells' own boundary suffices: the cell is convex in its plane, so
// the segment from q to the nearest point p of the boundary inside the cell
// stays in the cell and meets no other boundary (that would be nearer); q is
// therefore on the side of the boundary at p that the legs at p tell.
#include "lib/ops/rset_point_test.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/derive_params.h"

namespace ops {

namespace {

inline double Cross2(double au, double av, double bu, double bv) { return au * bv - av * bu; }

// Plane width below which the triangle a path a-v-b makes at a turn straight
// back (the tip of a spike) encloses nothing (0.6 micrometres on the earth).
// Vertices restored from doubles lie on one line only to the rounding of
// their unit vectors, some 1e-16: the angle at the tip of a spike whose
// shorter leg is 200 m long is then about 3e-12 radians, so an angle bound
// alone would miss it.
constexpr double kSpikeWidth = 1e-13;

// True when the legs in (a to v) and out (v to b) turn straight back at v:
// the angle is within 1e-12 radians of a half turn, or the shorter leg's far
// end lies within kSpikeWidth of the longer leg's line.
inline bool SpikeTip(double in_u, double in_v, double out_u, double out_v) {
  const double dot = in_u * out_u + in_v * out_v;
  if (!(dot < 0.0)) return false;
  const double turn = std::fabs(Cross2(in_u, in_v, out_u, out_v));
  if (turn <= 1e-12 * -dot) return true;
  const double longer2 = std::max(in_u * in_u + in_v * in_v, out_u * out_u + out_v * out_v);
  return turn * turn <= kSpikeWidth * kSpikeWidth * longer2;
}

// Side of q at the chain vertex i (between legs i-1 and i): +1 inside, -1
// outside, 0 when the vertex is the tip of a spike.
int VertexSide(const PlanePoint* p, int i, PlanePoint q) {
  const PlanePoint a = p[i - 1], v = p[i], b = p[i + 1];
  const double in_u = v.u - a.u, in_v = v.v - a.v, out_u = b.u - v.u, out_v = b.v - v.v;
  const bool left_in = Cross2(in_u, in_v, q.u - a.u, q.v - a.v) > 0.0;
  const bool left_out = Cross2(out_u, out_v, q.u - v.u, q.v - v.v) > 0.0;
  const double turn = Cross2(in_u, in_v, out_u, out_v);
  // A spike: the ring runs out and straight back along itself. The tip is
  // no boundary point (the two legs cancel where they overlap), so it
  // decides nothing; the next nearest point does.
  if (SpikeTip(in_u, in_v, out_u, out_v)) return 0;
  const bool inside = turn > 0.0 ? (left_in && left_out) : (left_in || left_out);
  return inside ? 1 : -1;
}

}  // namespace

namespace {

// A line of the plane that a shared leg lies on: a point and a unit direction.
struct SharedLine {
  PlanePoint a;
  double du, dv;
};

// Plane distance within which a leg's end lies on a shared line (about a
// millimetre on the earth): the two rings' copies of a leg are restored from
// the same vertex records or from records a quantum apart.
constexpr double kSharedLineTolerance = 1.6e-10;
// Legs shorter than this (plane units, a few nanometres) have no direction.
constexpr double kNoLength = 1e-13;

// The signed distance from q to chain k, leaving out the legs that lie on
// one of the shared lines (their ends then count as chain ends); leg
// receives the leg of the nearest point.
// Distances that are the same but for rounding. The two copies of a shared
// leg are restored from the same vertex records (a vertex is stored in its
// own cell, whichever ring it belongs to), so only the arithmetic differs;
// legs a few nanometres apart, as in a thin sliver, are not the same.
inline bool SameDistance(double a, double b) {
  return std::fabs(a - b) <= std::max(1e-12 * std::max(a, b), 1e-16);
}

// A squared distance beyond which no distance is SameDistance to b, or
// (hops 2) to a distance SameDistance to b; with room for the rounding of
// the squares.
inline double SameDistanceReach2(double b, int hops) {
  double a = b;
  for (int h = 0; h < hops; ++h) a = std::max(a / (1.0 - 1e-12), a + 1e-16);
  return a * a * (1.0 + 1e-9);
}

// The signed distance from q to chain k, leaving out the legs that lie on
// one of the shared lines (their ends then count as chain ends); leg
// receives the leg of the nearest point, and tie a leg whose point is as
// near with the other side (the chain runs back along itself), or -1.
// With legs given (n of them, ascending, each the first point of a leg of
// chain k), only those legs are walked; legs == nullptr walks them all.
// Beyond outer2 (a squared distance) a leg whose nearest point is one of its
// ends is passed over: its side is not read.
double ChainDistanceSkipping(const CellChains& ch, int k, PlanePoint q,
                             const std::vector<SharedLine>& skip, int* leg, int* tie,
                             const std::int32_t* legs = nullptr, int n = 0,
                             double outer2 = geodesy::HUGE_VALUE) {
  double reach2 = outer2;
  const PlanePoint* all = ch.points.data();
  const int first = ch.First(k), last = ch.Last(k);
  const int lo = first, hi = last;  // the chain ends: cut points on the cell edge or line ends
  *leg = first;
  *tie = -1;
  if (first == last) {
    // A lone vertex bounds nothing: its distance, counted as outside.
    return -std::hypot(q.u - all[first].u, q.v - all[first].v);
  }
  auto on = [&](const SharedLine& l, const PlanePoint& p) {
    return std::fabs(Cross2(l.du, l.dv, p.u - l.a.u, p.v - l.a.v)) <= kSharedLineTolerance;
  };
  auto skipped = [&](int j) {
    if (j < first || j >= last) return true;
    for (const SharedLine& l : skip)
      if (on(l, all[j]) && on(l, all[j + 1])) return true;
    return false;
  };
  double best2 = geodesy::HUGE_VALUE;
  double best = geodesy::HUGE_VALUE;
  // Beyond reach2 a leg's point is neither nearer than the best nor the
  // same distance (SameDistance), so its side is not needed.
  int best_side = 0;
  bool best_at_end = false;  // decided by the leg side at a chain end
  // A candidate replaces the best when nearer, or equally near and decided
  // by both legs at a vertex where the best was decided at a chain end (a
  // ring wholly inside the cell meets its own vertices again at the ends).
  // The same distance but for rounding counts as equal here: a ring wholly
  // in the cell meets its first vertex again at the chain's end, an ulp or
  // so nearer, and the end's one-leg side must not beat the vertex's.
  auto better = [&](double d2, bool at_end) {
    if (best2 != geodesy::HUGE_VALUE && at_end != best_at_end && SameDistance(std::sqrt(d2), std::sqrt(best2)))
      return best_at_end;
    return d2 < best2;
  };
  const int count = legs ? n : last - first;
  for (int i = 0; i < count; ++i) {
    const int j = legs ? legs[i] : first + i;
    if (!skip.empty() && skipped(j)) continue;
    // A leg whose box lies beyond the reach is farther still (most legs of
    // a cell, once a near one is known).
    const PlanePoint& pa = all[j];
    const PlanePoint& pb = all[j + 1];
    const double gu = std::max(0.0, std::max(std::min(pa.u, pb.u) - q.u, q.u - std::max(pa.u, pb.u)));
    const double gv = std::max(0.0, std::max(std::min(pa.v, pb.v) - q.v, q.v - std::max(pa.v, pb.v)));
    if (gu * gu + gv * gv > reach2) continue;
    const double du = all[j + 1].u - all[j].u, dv = all[j + 1].v - all[j].v;
    const double wu = q.u - all[j].u, wv = q.v - all[j].v;
    const double len2 = du * du + dv * dv;
    // A leg of a few times the rounding (a cut point beside a vertex on the
    // cell's edge) has no direction to tell a side or carry a shared line;
    // its ends are the ends of the legs beside it.
    if (len2 <= kNoLength * kNoLength && j > lo && j + 1 < hi) continue;
    const double dot = du * wu + dv * wv;
    double d2;
    int side;
    bool at_end = false;
    const double across = Cross2(du, dv, wu, wv);
    if (dot <= 0.0) {
      d2 = wu * wu + wv * wv;
      if (d2 > reach2) continue;
      at_end = j == lo || (!skip.empty() && skipped(j - 1));
      side = !at_end ? VertexSide(all, j, q) : (across > 0.0 ? 1 : -1);
    } else if (dot >= len2) {
      const double xu = q.u - all[j + 1].u, xv = q.v - all[j + 1].v;
      d2 = xu * xu + xv * xv;
      if (d2 > reach2) continue;
      at_end = j + 1 == hi || (!skip.empty() && skipped(j + 1));
      side = !at_end ? VertexSide(all, j + 1, q) : (across > 0.0 ? 1 : -1);
    } else {
      d2 = across * across / len2;
      side = across > 0.0 ? 1 : (across < 0.0 ? -1 : 0);
      if (side == 0) {
        *leg = j;
        *tie = -1;
        return 0.0;
      }
    }
    if (side == 0) continue;  // the tip of a spike
    // Equally near with the other side: the chain runs back along itself
    // here. A side read at a chain end (where the chain is cut, or where a
    // ring wholly in the cell meets its own start again) gives way to one
    // read at a vertex, as below.
    // Legs that meet at a vertex (a thin sliver's tip) are no such pair:
    // the nearer of them decides, or the vertex.
    auto meet = [&](int a, int b) {
      for (int x : {a, a + 1})
        for (int y : {b, b + 1})
          if (all[x].u == all[y].u && all[x].v == all[y].v) return true;
      return false;
    };
    if (best_side != 0 && side == -best_side && !at_end && !best_at_end &&
        SameDistance(std::sqrt(d2), std::sqrt(best2)) && !meet(j, *leg)) {
      *tie = j;
      continue;
    }
    if (!better(d2, at_end)) continue;
    if (*tie >= 0 && !SameDistance(std::sqrt(d2), std::sqrt(best2))) *tie = -1;
    best2 = d2;
    best_at_end = at_end;
    best_side = side;
    best = side * std::sqrt(d2);
    // A best the same distance but for rounding may replace a nearer one
    // (above), so the reach follows the best, within the caller's.
    reach2 = std::min(outer2, SameDistanceReach2(std::sqrt(d2), 1));
    *leg = j;
    if (d2 == 0.0) return 0.0;
  }
  return best;
}

}  // namespace

double ChainDistance(const CellChains& ch, int k, PlanePoint q) {
  static const std::vector<SharedLine> none;
  int leg = 0, tie = 0;
  return ChainDistanceSkipping(ch, k, q, none, &leg, &tie);
}

namespace {

// True when the path a-b-c turns straight back at b.
bool Reverses(const PlanePoint& a, const PlanePoint& b, const PlanePoint& c) {
  return SpikeTip(b.u - a.u, b.v - a.v, c.u - b.u, c.v - b.v);
}

inline bool SamePlace(const PlanePoint& a, const PlanePoint& b) {
  return std::fabs(a.u - b.u) <= kNoLength && std::fabs(a.v - b.v) <= kNoLength;
}

// The number of vertices of a ring that lies wholly in the cell, when the
// chain p[0 .. count) walks it round (its plane points come again every n,
// to the last bit, and the chain holds at least one whole round and a leg);
// 0 for a chain that enters and leaves the cell.
int RingPeriod(const PlanePoint* p, int count) {
  for (int n = 2; n + 2 <= count; ++n) {
    if (p[n].u != p[0].u || p[n].v != p[0].v) continue;
    bool same = true;
    for (int i = 0; same && i + n < count; ++i) same = p[i].u == p[i + n].u && p[i].v == p[i + n].v;
    if (same) return n;
  }
  return 0;
}

// The spikes of the ring p[0 .. n) taken out round the ring: a spike whose
// tip is the ring's first vertex (or that runs across it) has its two legs
// at the two ends of a chain that walks the ring, where taking out the tips
// along the chain never brings them together. False when there was none;
// out is empty when the ring was all spike.
bool RingWithoutSpikes(const PlanePoint* p, int n, std::vector<PlanePoint>& out) {
  std::vector<PlanePoint> c;
  bool changed = false;
  for (int i = 0; i < n; ++i) {
    c.push_back(p[i]);
    while (c.size() >= 3 && Reverses(c[c.size() - 3], c[c.size() - 2], c.back())) {
      c[c.size() - 2] = c.back();
      c.pop_back();
      if (SamePlace(c[c.size() - 2], c.back())) c.pop_back();
      changed = true;
    }
  }
  // Round the seam between the last vertex and the first.
  std::size_t head = 0;
  while (c.size() - head >= 3) {
    if (SamePlace(c.back(), c[head])) {
      c.pop_back();
    } else if (Reverses(c[c.size() - 2], c.back(), c[head])) {
      c.pop_back();
    } else if (Reverses(c.back(), c[head], c[head + 1])) {
      ++head;
    } else {
      break;
    }
    changed = true;
  }
  out.clear();
  if (c.size() - head >= 3) out.assign(c.begin() + static_cast<std::ptrdiff_t>(head), c.end());
  return changed;
}

// The chains with their spikes taken out: where a ring runs out and
// straight back along itself, the part run twice bounds nothing, so the tip
// goes (repeatedly, for a spike of several legs) and the path runs on from
// where it turned. A ring that lies wholly in the cell is cleaned round the
// ring and walked as before: three times round for a chain that went three
// times round, else once with a leg more at each end.
void WithoutSpikes(const CellChains& ch, CellChains& out) {
  out.points.clear();
  out.start.assign(1, 0);
  out.item.clear();
  std::vector<PlanePoint> ring;
  for (int k = 0; k < ch.Count(); ++k) {
    const std::size_t s = out.points.size();
    const int count = ch.Last(k) - ch.First(k) + 1;
    const int period = RingPeriod(ch.points.data() + ch.First(k), count);
    if (period > 0 && RingWithoutSpikes(ch.points.data() + ch.First(k), period, ring)) {
      if (ring.empty()) continue;  // all spike: bounds nothing
      if (count >= 3 * period) {
        for (int round = 0; round < 3; ++round) out.points.insert(out.points.end(), ring.begin(), ring.end());
      } else {
        out.points.push_back(ring.back());
        out.points.insert(out.points.end(), ring.begin(), ring.end());
        out.points.push_back(ring.front());
      }
      out.start.push_back(static_cast<std::int32_t>(out.points.size()));
      out.item.push_back(ch.item[k]);
      continue;
    }
    for (int j = ch.First(k); j <= ch.Last(k); ++j) {
      out.points.push_back(ch.points[j]);
      while (out.points.size() >= s + 3) {
        const std::size_t n = out.points.size();
        if (!Reverses(out.points[n - 3], out.points[n - 2], out.points[n - 1])) break;
        out.points[n - 2] = out.points[n - 1];
        out.points.pop_back();
        // Back where it turned (to the rounding of two cuts at one edge).
        const PlanePoint &a = out.points[n - 3], &c = out.points[n - 2];
        if (std::fabs(a.u - c.u) <= kNoLength && std::fabs(a.v - c.v) <= kNoLength) out.points.pop_back();
      }
    }
    // A chain that was all spike (the ring runs into the cell and straight
    // back out) bounds nothing here.
    const bool none = out.points.size() < s + 2 ||
                      (out.points.size() == s + 2 && std::fabs(out.points[s].u - out.points[s + 1].u) <= kNoLength &&
                       std::fabs(out.points[s].v - out.points[s + 1].v) <= kNoLength);
    if (none && ch.Last(k) > ch.First(k)) {
      out.points.resize(s);
      continue;
    }
    out.start.push_back(static_cast<std::int32_t>(out.points.size()));
    out.item.push_back(ch.item[k]);
  }
}

// Two chains that are the same boundary: a ring that passes along a cell
// edge has a second piece there (its copy on the other side of the edge),
// whose chain repeats the first.
bool SameChain(const CellChains& ch, int a, int b) {
  if (ch.item[a] != ch.item[b] || ch.Last(a) - ch.First(a) != ch.Last(b) - ch.First(b)) return false;
  for (int i = 0; i <= ch.Last(a) - ch.First(a); ++i) {
    const PlanePoint &pa = ch.points[ch.First(a) + i], &pb = ch.points[ch.First(b) + i];
    if (std::fabs(pa.u - pb.u) > kSharedLineTolerance || std::fabs(pa.v - pb.v) > kSharedLineTolerance)
      return false;
  }
  return true;
}

struct Near {
  double d;
  int chain, leg, tie;
};

// One round of the nearest boundary search, with the shared lines set aside
// so far. The nearest boundary decides. Chains that are equally near with
// opposite sides are two rings sharing a leg in opposite directions (land
// that the data cuts along 180 degrees, two halves of a region meeting
// along a cell edge): that leg bounds nothing, so its line is set aside
// (next) and the next nearest boundary decides. Returns 1 when the round
// decides (*result; 0.0 on the boundary), 0 when next is to be set aside,
// -1 when nothing is left. With groups (a count, then per chain: the chain,
// a count and that many legs, ascending) only those legs are walked.
int NearestRound(const CellChains& ch, PlanePoint q, const std::vector<SharedLine>& skip,
                 const std::int32_t* groups, std::vector<Near>& d, double* result, SharedLine* next) {
  d.clear();
  if (groups) {
    const std::int32_t* g = groups + 1;
    for (std::int32_t n = groups[0]; n > 0; --n) {
      const int k = g[0], m = g[1];
      int leg = 0, tie = -1;
      const double dk = ChainDistanceSkipping(ch, k, q, skip, &leg, &tie, g + 2, m);
      if (dk != geodesy::HUGE_VALUE) d.push_back({dk, k, leg, tie});
      g += 2 + m;
    }
  } else {
    // Only the chains as near as the nearest (SameDistance) decide below.
    // A chain's legs that lie beyond three such steps from the nearest chain
    // so far are passed over: alone they would not decide, and within the
    // chain's own search one of them could only tie with, or give way to, a
    // leg a step nearer, which does not decide either.
    double reach2 = geodesy::HUGE_VALUE;
    for (int k = 0; k < ch.Count(); ++k) {
      int leg = 0, tie = -1;
      const double dk = ChainDistanceSkipping(ch, k, q, skip, &leg, &tie, nullptr, 0, reach2);
      if (dk != geodesy::HUGE_VALUE) {
        d.push_back({dk, k, leg, tie});
        reach2 = std::min(reach2, SameDistanceReach2(std::fabs(dk), 3));
      }
    }
  }
  if (d.empty()) return -1;
  std::sort(d.begin(), d.end(), [](const Near& a, const Near& b) { return std::fabs(a.d) < std::fabs(b.d); });
  const double near = std::fabs(d[0].d);
  if (near == 0.0) {
    *result = 0.0;
    return 1;
  }
  int sides = 0;
  std::size_t end = 0;
  int shared = -1;  // a leg of the nearest boundary that another runs back along
  while (end < d.size() && SameDistance(std::fabs(d[end].d), near)) {
    bool again = false;
    for (std::size_t i = 0; i < end; ++i) again = again || SameChain(ch, d[i].chain, d[end].chain);
    if (!again) sides += d[end].d > 0.0 ? 1 : -1;
    if (d[end].tie >= 0 && shared < 0) shared = d[end].leg;
    ++end;
  }
  if (shared < 0) {
    if (sides != 0) {
      *result = sides > 0 ? near : -near;
      return 1;
    }
    shared = d[0].leg;
  }
  if (shared + 1 >= static_cast<int>(ch.points.size())) return -1;
  const PlanePoint* pts = ch.points.data();
  const double du = pts[shared + 1].u - pts[shared].u, dv = pts[shared + 1].v - pts[shared].v;
  const double len = std::hypot(du, dv);
  if (!(len > 0.0)) return -1;
  *next = {pts[shared], du / len, dv / len};
  return 0;
}

// The signed distance of the nearest boundary that is not a shared leg, of
// chains without spikes.
double NearestBoundaryClean(const CellChains& ch, PlanePoint q) {
  std::vector<SharedLine> skip;
  std::vector<Near> d;
  for (int round = 0; round < 8; ++round) {
    double result = 0.0;
    SharedLine next{};
    const int r = NearestRound(ch, q, skip, nullptr, d, &result, &next);
    if (r > 0) return result;
    if (r < 0) break;
    skip.push_back(next);
  }
  return geodesy::HUGE_VALUE;
}

}  // namespace

void ChainsWithoutSpikes(const CellChains& chains, CellChains& clean) { WithoutSpikes(chains, clean); }

double CleanBoundaryDistance(const CellChains& clean, PlanePoint q, double fuzz, int boundary_indicator) {
  const double best = NearestBoundaryClean(clean, q);
  if (boundary_indicator != 0 && std::fabs(best) <= fuzz) return 0.0;
  return best;
}

double BoundaryDistance(const CellChains& ch, PlanePoint q, double fuzz, int boundary_indicator) {
  CellChains clean;
  WithoutSpikes(ch, clean);
  return CleanBoundaryDistance(clean, q, fuzz, boundary_indicator);
}

int SideByNeighbours(cells::CellIndex& idx, const cells::Object& region, std::int32_t cell) {
  // Every boundary in the cell is a shared leg: the cell is on one side
  // throughout. Walk to the nearest cell without boundary, whose side its
  // list tells, counting the legs that each step between two cells' probe
  // points crosses (as the region assembly does); the shared legs are
  // crossed twice and cancel.
  const std::int32_t* il = cells::EnvelopeList(region, 1);
  constexpr std::size_t kMaxVisits = 512;
  std::vector<std::pair<std::int32_t, std::int32_t>> seen{{cell, -1}};  // cell, parent entry
  std::size_t head = 0;
  std::int64_t target = -1;
  while (head < seen.size() && target < 0 && seen.size() < kMaxVisits) {
    const cells::CellRecord* r = idx.cells[seen[head].first];
    for (int k = 0; k < r->neighbour_count && target < 0; ++k) {
      const std::int32_t w = r->neighbours[k];
      if (w < 0 || w >= idx.cell_count) continue;
      bool known = false;
      for (const auto& sv : seen) known = known || sv.first == w;
      if (known) continue;
      seen.push_back({w, static_cast<std::int32_t>(head)});
      if (!HasPiecesIn(region, w)) target = static_cast<std::int64_t>(seen.size()) - 1;
    }
    ++head;
  }
  if (target < 0) return -1;
  int side = cells::CellListContains(il, seen[target].first) ? 1 : 0;
  CellLegs3 legs;
  std::vector<std::pair<geodesy::DirectionCosines, geodesy::DirectionCosines>> arcs;
  for (std::int64_t at = target; seen[at].second >= 0; at = seen[at].second) {
    const std::int32_t w = seen[at].first, u = seen[seen[at].second].first;
    const cells::CellRecord* r = idx.cells[u];
    const int n = r->neighbour_count;
    std::int32_t near[4] = {u, w, u, u};
    for (int k = 0; k < n; ++k) {
      if (r->neighbours[k] != w) continue;
      near[2] = r->neighbours[(k + n - 1) % n];
      near[3] = r->neighbours[(k + 1) % n];
    }
    // The legs of the four cells, each once (a leg through several of them
    // is restored from the same records, bit for bit).
    arcs.clear();
    for (int m = 0; m < 4; ++m) {
      if (near[m] < 0 || near[m] >= idx.cell_count) continue;
      GatherCellLegs3(idx, region, near[m], legs);
      for (int k = 0; k < legs.Count(); ++k)
        for (std::int32_t j = legs.start[k]; j + 1 < legs.start[k + 1]; ++j)
          arcs.push_back({legs.points[j], legs.points[j + 1]});
    }
    auto less = [](const geodesy::DirectionCosines& a, const geodesy::DirectionCosines& b) {
      return a.x != b.x ? a.x < b.x : (a.y != b.y ? a.y < b.y : a.z < b.z);
    };
    auto equal = [](const geodesy::DirectionCosines& a, const geodesy::DirectionCosines& b) {
      return a.x == b.x && a.y == b.y && a.z == b.z;
    };
    std::sort(arcs.begin(), arcs.end(), [&](const auto& x, const auto& y) {
      return !equal(x.first, y.first) ? less(x.first, y.first) : less(x.second, y.second);
    });
    arcs.erase(std::unique(arcs.begin(), arcs.end(),
                           [&](const auto& x, const auto& y) {
                             return equal(x.first, y.first) && equal(x.second, y.second);
                           }),
               arcs.end());
    const geodesy::DirectionCosines pu = cells::CellProbe(idx, u), pw = cells::CellProbe(idx, w);
    for (const auto& arc : arcs)
      if (cells::ArcsCross(pu, pw, arc.first, arc.second)) side ^= 1;
  }
  return side ? 1 : -1;
}

bool RsetIsNull(const cells::Object& region) {
  return cells::CellIndexCount(region) == 0 && cells::EnvelopeList(region, 1)[0] <= 1;
}

bool RsetIsWorld(const cells::Object& region, std::int32_t cell_count) {
  if (cells::CellIndexCount(region) != 0) return false;
  const std::int32_t* list = cells::EnvelopeList(region, 1);
  return cells::CellListCells(list) == cell_count && cell_count > 0;
}

int q7_RsetPointTestInCell(cells::CellIndex& idx, std::int32_t cell, PlanePoint q,
                           const cells::Object& region, double fuzz, int boundary_indicator,
                           RsetTestCache* cache) {
  const double f = EffectiveFuzz(fuzz);
  (void)boundary_indicator;  // the result table always applies the fuzz zone
  if (!HasPiecesIn(region, cell))
    return cells::CellListContains(cells::EnvelopeList(region, 1), cell) ? 2 : -2;
  RsetTestCache local;
  RsetTestCache& c = cache ? *cache : local;
  if (c.region != &region || c.chains.cell != cell) {
    // The cell's chains are kept with their spikes taken out, once.
    CellChains raw;
    GatherCellChains(idx, region, cell, raw);
    WithoutSpikes(raw, c.chains);
    c.chains.cell = cell;
    c.region = &region;
    c.side_cell = cells::NO_CELL;
  }
  const double d = NearestBoundaryClean(c.chains, q);
  if (d == geodesy::HUGE_VALUE) {
    if (c.side_cell != cell) {
      c.side = SideByNeighbours(idx, region, cell);
      c.side_cell = cell;
    }
    return c.side;
  }
  if (std::fabs(d) <= f) return 0;
  return d > 0.0 ? 1 : -1;
}

int q7_RsetPointTest(cells::CellIndex& idx, const geodesy::DirectionCosines& p,
                     const cells::Object& region, double fuzz, int boundary_indicator,
                     RsetTestCache* cache) {
  const std::int32_t cell = cells::Locate(idx, p);
  if (cell == cells::NO_CELL) return -2;
  double u = 0.0, v = 0.0;
  geodesy::ProjectToFrame(geodesy::BuildTangentFrame(idx.cells[cell]->centre), p, u, v);
  return q7_RsetPointTestInCell(idx, cell, {u, v}, region, fuzz, boundary_indicator, cache);
}

}  // namespace ops

namespace ops {

namespace {

// Entries of the squares' quadtree (RsetCellTest::nodes).
constexpr std::uint32_t kTagMask = 3u << 30;
constexpr std::uint32_t kTagNode = 0u << 30, kTagIn = 1u << 30, kTagOut = 2u << 30, kTagLegs = 3u << 30;
// Squares are split down to a 1024th of the cell, and at least to an
// eighth while undecided; an undecided square of at most kLeafLegs legs
// is a leaf.
constexpr int kTreeMaxDepth = 10;
constexpr int kTreeMinDepth = 3;
// Tests start from the table of the squares this many levels down.
constexpr int kTopLevels = 4;
static_assert(std::tuple_size<decltype(RsetCellTest::top)>::value == 1u << (2 * kTopLevels));
constexpr std::size_t kLeafLegs = 6;
// At most this many nodes per cell and region; an undecided leaf of more
// legs than kLeafLegsMax walks all chains.
constexpr std::size_t kTreeNodes = 256;
constexpr std::size_t kLeafLegsMax = 48;
// A leg is compared with this many of the vertices nearest a square.
constexpr std::size_t kDominators = 4;
// A square is decided from its centre with every distance widened by these
// (relative, and plane units: far above the rounding of the plane
// arithmetic, far below any leg's reach).
constexpr double kWiden = 1e-9;
constexpr double kWidenAbs = 1e-12;

// The four children of a square (centre cu, cv, half side s): child i has
// the high u half when bit 0 is set, the high v half when bit 1 is.
inline void ChildSquare(double& cu, double& cv, double& s, int i) {
  s *= 0.5;
  cu += (i & 1) ? s : -s;
  cv += (i & 2) ? s : -s;
}

// True when the line through a and b stays farther than h from c, so every
// point within h of c is on one side of it (*side: +1 left, as Cross2 > 0).
bool LineClear(const PlanePoint& a, const PlanePoint& b, PlanePoint c, double h, int* side) {
  const double du = b.u - a.u, dv = b.v - a.v;
  const double len = std::sqrt(du * du + dv * dv);
  if (!(len > 0.0)) return false;
  const double across = Cross2(du, dv, c.u - a.u, c.v - a.v);
  if (std::fabs(across) <= (h * (1.0 + kWiden) + kWidenAbs) * len) return false;
  *side = across > 0.0 ? 1 : -1;
  return true;
}

// VertexSide at vertex i for every point within h of c; 0 when it may differ
// (or the vertex is the tip of a spike).
int VertexSideOver(const PlanePoint* p, int i, PlanePoint c, double h) {
  const PlanePoint a = p[i - 1], v = p[i], b = p[i + 1];
  const double in_u = v.u - a.u, in_v = v.v - a.v, out_u = b.u - v.u, out_v = b.v - v.v;
  const double turn = Cross2(in_u, in_v, out_u, out_v);
  if (SpikeTip(in_u, in_v, out_u, out_v)) return 0;
  int side_in = 0, side_out = 0;
  const bool clear_in = LineClear(a, v, c, h, &side_in), clear_out = LineClear(v, b, c, h, &side_out);
  if (turn > 0.0) {  // inside when left of both
    if ((clear_in && side_in < 0) || (clear_out && side_out < 0)) return -1;
    return clear_in && clear_out ? 1 : 0;
  }
  // inside when left of either
  if ((clear_in && side_in > 0) || (clear_out && side_out > 0)) return 1;
  return clear_in && clear_out ? -1 : 0;
}

// The side that leg j of chain k gives every point within h of c, as
// ChainDistanceSkipping reads it with nothing set aside: whichever of the
// leg's own side, the vertex before and the vertex after may apply there
// must agree. 0 when they may not; 2 for a leg the walk passes over.
int LegSideOver(const CellChains& ch, int k, int j, PlanePoint c, double h) {
  const PlanePoint* all = ch.points.data();
  const int lo = ch.First(k), hi = ch.Last(k);
  if (lo == hi) return -1;  // a lone vertex counts as outside
  const double du = all[j + 1].u - all[j].u, dv = all[j + 1].v - all[j].v;
  const double len2 = du * du + dv * dv;
  if (len2 <= kNoLength * kNoLength && j > lo && j + 1 < hi) return 2;
  // The foot's parameter (dot) moves by at most len * h over the square.
  const double len = std::sqrt(len2);
  const double dot = du * (c.u - all[j].u) + dv * (c.v - all[j].v);
  const double reach = len * (h * (1.0 + kWiden) + kWidenAbs);
  const bool before = dot - reach <= 0.0, after = dot + reach >= len2;
  const bool between = dot + reach > 0.0 && dot - reach < len2;
  int s = 0;
  auto take = [&](int v) {
    if (v == 0 || (s != 0 && v != s)) return false;
    s = v;
    return true;
  };
  if (between || (before && j == lo) || (after && j + 1 == hi)) {
    int side = 0;
    if (!LineClear(all[j], all[j + 1], c, h, &side) || !take(side)) return 0;
  }
  if (before && j != lo && !take(VertexSideOver(all, j, c, h))) return 0;
  if (after && j + 1 != hi && !take(VertexSideOver(all, j + 1, c, h))) return 0;
  return s;
}

// A leg for distances: its first point, its direction and 1 / its length
// squared (0 for a lone vertex).
struct LegGeom {
  double au, av, du, dv, inv;
};

struct TreeBuilder {
  RsetCellTest& t;
  std::vector<std::int32_t> chain_of;  // per point: its chain
  std::vector<LegGeom> geom;           // per point: the leg it starts

  // A square about c with half side s: kTagIn or kTagOut when decided, else
  // 0 with near holding the legs that can be nearest anywhere in it, out of
  // cand (legs by their first points; a lone vertex by its own).
  std::uint32_t Decide(PlanePoint c, double s, const std::vector<std::int32_t>& cand,
                       std::vector<std::int32_t>& near) {
    const double h = s * std::sqrt(2.0);
    dist.resize(cand.size());
    double dmin2 = geodesy::HUGE_VALUE;
    for (std::size_t i = 0; i < cand.size(); ++i) {
      const LegGeom& g = geom[static_cast<std::size_t>(cand[i])];
      const double wu = c.u - g.au, wv = c.v - g.av;
      const double f = std::clamp((g.du * wu + g.dv * wv) * g.inv, 0.0, 1.0);
      const double eu = wu - f * g.du, ev = wv - f * g.dv;
      dist[i] = eu * eu + ev * ev;
      dmin2 = std::min(dmin2, dist[i]);
    }
    // Every point of the square has its nearest leg within dmin + h, so the
    // legs that can be nearest (or equally near, to the rounding) for some
    // point of it lie within dmin + 2h of c.
    const double dmin = std::sqrt(dmin2);
    const double reach = (dmin + h) * (1.0 + kWiden) + h + kWidenAbs, reach2 = reach * reach;
    near.clear();
    near_dist.clear();
    for (std::size_t i = 0; i < cand.size(); ++i)
      if (dist[i] <= reach2) {
        near.push_back(cand[i]);
        near_dist.push_back(std::sqrt(dist[i]));
      }
    // A square the boundary (or its fuzz) may reach is never decided.
    if (near.empty() || !(dmin - h > t.fuzz * (1.0 + kWiden) + kWidenAbs)) return 0;
    const std::uint32_t once = Sides(c, h, near);
    if (once != 0) return once;
    // Legs farther than one of the nearest vertices throughout the square
    // are never the nearest there (nor equally near): they go, and the rest
    // are asked again.
    Prune(c, h, near);
    return Sides(c, h, near);
  }

  // kTagIn or kTagOut when every leg of near tells that side throughout.
  std::uint32_t Sides(PlanePoint c, double h, const std::vector<std::int32_t>& near) const {
    int side = 0;
    for (std::int32_t j : near) {
      const int v = LegSideOver(t.chains, chain_of[j], j, c, h);
      if (v == 2) continue;
      if (v == 0 || (side != 0 && v != side)) return 0;
      side = v;
    }
    return side > 0 ? kTagIn : (side < 0 ? kTagOut : 0);
  }

  void Prune(PlanePoint c, double h, std::vector<std::int32_t>& near) {
    const CellChains& ch = t.chains;
    const PlanePoint* all = ch.points.data();
    // The vertices of the legs near the square (but spike tips, which the
    // walk passes over) nearest to c, with their distances from it.
    points.clear();
    for (std::int32_t i : near) {
      const int ki = chain_of[i];
      const int ends = ch.First(ki) == ch.Last(ki) ? 1 : 2;
      for (int e = 0; e < ends; ++e) {
        const int yi = i + e;
        if (yi > ch.First(ki) && yi < ch.Last(ki) && Reverses(all[yi - 1], all[yi], all[yi + 1])) continue;
        const PlanePoint y = all[yi];
        points.push_back({y, std::sqrt((c.u - y.u) * (c.u - y.u) + (c.v - y.v) * (c.v - y.v))});
      }
    }
    if (points.empty()) return;
    const std::size_t keep = std::min<std::size_t>(points.size(), kDominators);
    std::nth_element(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(keep - 1), points.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    points.resize(keep);
    std::size_t out = 0;
    for (std::size_t i = 0; i < near.size(); ++i)
      if (!Dominated(near[i], near_dist[i], c, h)) {
        near_dist[out] = near_dist[i];
        near[out++] = near[i];
      }
    near.resize(out);
    near_dist.resize(out);
  }

  // True when leg j is farther than some vertex of the legs in near from
  // every point within h of c (by more than the rounding), so it is never
  // the nearest boundary there nor equally near.
  bool Dominated(std::int32_t j, double dj, PlanePoint c, double h) const {
    const CellChains& ch = t.chains;
    const PlanePoint* all = ch.points.data();
    const int k = chain_of[j];
    PlanePoint x = all[j];
    bool at_vertex = ch.First(k) == ch.Last(k);
    if (!at_vertex) {
      const double du = all[j + 1].u - all[j].u, dv = all[j + 1].v - all[j].v;
      const double len2 = du * du + dv * dv, len = std::sqrt(len2);
      const double dot = du * (c.u - all[j].u) + dv * (c.v - all[j].v);
      const double reach = len * (h * (1.0 + kWiden) + kWidenAbs);
      if (dot + reach <= 0.0) at_vertex = true;
      else if (dot - reach >= len2) at_vertex = true, x = all[j + 1];
    }
    const double low = dj - h;  // the leg's least distance over the square
    const double xc = std::sqrt((c.u - x.u) * (c.u - x.u) + (c.v - x.v) * (c.v - x.v));
    for (const auto& [y, yc] : points) {
      if (at_vertex) {
        // |q - x|^2 - |q - y|^2 is linear in q: its least value over the
        // square is at least its value at c less 2h |y - x|.
        const double f = (xc - yc) * (xc + yc) - 2.0 * h * std::sqrt((y.u - x.u) * (y.u - x.u) + (y.v - x.v) * (y.v - x.v));
        const double far = xc + h;
        if (f > 1e-8 * far * far + 1e-24) return true;
      } else if (yc + h < low * (1.0 - 1e-8) - kWidenAbs) {
        return true;
      }
    }
    return false;
  }

  std::vector<std::pair<PlanePoint, double>> points;
  std::vector<double> near_dist;

  // The leaf of an undecided square: its legs grouped by chain, or all
  // chains when there are too many.
  std::uint32_t Leaf(const std::vector<std::int32_t>& near) {
    const CellChains& ch = t.chains;
    const std::uint32_t at = static_cast<std::uint32_t>(t.legs.size());
    if (near.size() > kLeafLegsMax) {
      t.legs.push_back(-1);
      return kTagLegs | at;
    }
    t.legs.push_back(0);
    for (std::size_t i = 0; i < near.size();) {
      const std::int32_t k = chain_of[near[i]];
      const std::size_t head = t.legs.size();
      t.legs.push_back(k);
      t.legs.push_back(0);
      ++t.legs[at];
      if (ch.First(k) == ch.Last(k)) {
        ++i;
        continue;
      }
      for (; i < near.size() && chain_of[near[i]] == k; ++i) {
        t.legs.push_back(near[i]);
        ++t.legs[head + 1];
      }
    }
    return kTagLegs | at;
  }

  // The quadtree, breadth first, so that the node budget is spent evenly.
  std::uint32_t Build(const std::vector<std::int32_t>& all) {
    struct Pending {
      std::size_t slot;  // entry to fill (~0: the root)
      double cu, cv, s;
      int depth;
      std::vector<std::int32_t> near;
    };
    std::vector<Pending> queue;
    std::vector<std::int32_t> near;
    std::uint32_t root = Decide({t.cu, t.cv}, t.half, all, near);
    if (root != 0) return root;
    queue.push_back({~std::size_t{0}, t.cu, t.cv, t.half, 0, near});
    for (std::size_t head = 0; head < queue.size(); ++head) {
      Pending p = std::move(queue[head]);
      std::uint32_t e;
      const bool split = p.depth < kTreeMaxDepth && t.nodes.size() / 4 < kTreeNodes &&
                         !(p.depth >= kTreeMinDepth && p.near.size() <= kLeafLegs);
      if (!split) {
        e = Leaf(p.near);
      } else {
        const std::uint32_t node = static_cast<std::uint32_t>(t.nodes.size() / 4);
        t.nodes.resize(t.nodes.size() + 4);
        for (int i = 0; i < 4; ++i) {
          double cu = p.cu, cv = p.cv, cs = p.s;
          ChildSquare(cu, cv, cs, i);
          const std::uint32_t d = Decide({cu, cv}, cs, p.near, near);
          t.nodes[4 * node + i] = d;
          if (d == 0) queue.push_back({4 * std::size_t{node} + i, cu, cv, cs, p.depth + 1, near});
        }
        e = kTagNode | node;
      }
      if (p.slot == ~std::size_t{0}) root = e;
      else t.nodes[p.slot] = e;
      p.near.clear();
      p.near.shrink_to_fit();
    }
    return root;
  }

  std::vector<double> dist;
};

}  // namespace

void PrepareRsetCellTest(cells::CellIndex& idx, std::int32_t cell, const cells::Object& region, double fuzz,
                         RsetCellTest& t) {
  t = RsetCellTest{};
  t.cell = cell;
  t.fuzz = EffectiveFuzz(fuzz);
  if (!HasPiecesIn(region, cell)) {
    t.fixed = cells::CellListContains(cells::EnvelopeList(region, 1), cell) ? 2 : -2;
    return;
  }
  CellChains raw;
  GatherCellChains(idx, region, cell, raw);
  WithoutSpikes(raw, t.chains);
  if (t.chains.Count() == 0) {  // nothing bounds here: the cell's side throughout
    t.fixed = SideByNeighbours(idx, region, cell);
    return;
  }
  if (raw.polygon.empty()) return;  // no squares: every test walks all chains
  double u0 = geodesy::HUGE_VALUE, u1 = -geodesy::HUGE_VALUE, v0 = u0, v1 = u1;
  for (const PlanePoint& p : raw.polygon) {
    u0 = std::min(u0, p.u);
    u1 = std::max(u1, p.u);
    v0 = std::min(v0, p.v);
    v1 = std::max(v1, p.v);
  }
  t.cu = 0.5 * (u0 + u1);
  t.cv = 0.5 * (v0 + v1);
  t.half = 0.5 * std::max(u1 - u0, v1 - v0) * (1.0 + 1e-6);
  if (!(t.half > 0.0)) {
    t.half = 0.0;
    return;
  }
  TreeBuilder b{t, {}, {}, {}, {}, {}};
  const CellChains& ch = t.chains;
  b.chain_of.assign(ch.points.size(), 0);
  b.geom.resize(ch.points.size());
  std::vector<std::int32_t> all;
  for (int k = 0; k < ch.Count(); ++k) {
    for (int j = ch.First(k); j <= ch.Last(k); ++j) {
      b.chain_of[j] = k;
      const PlanePoint& a = ch.points[j];
      LegGeom& g = b.geom[j];
      g = {a.u, a.v, 0.0, 0.0, 0.0};
      if (j < ch.Last(k)) {
        g.du = ch.points[j + 1].u - a.u;
        g.dv = ch.points[j + 1].v - a.v;
        const double len2 = g.du * g.du + g.dv * g.dv;
        g.inv = len2 > 0.0 ? 1.0 / len2 : 0.0;
      }
    }
    if (ch.First(k) == ch.Last(k)) all.push_back(ch.First(k));
    for (int j = ch.First(k); j < ch.Last(k); ++j) all.push_back(j);
  }
  t.root = b.Build(all);
  t.nodes.shrink_to_fit();
  t.legs.shrink_to_fit();
  for (int path = 0; path < (1 << (2 * kTopLevels)); ++path) {
    std::uint32_t e = t.root;
    for (int level = 0; level < kTopLevels && (e & kTagMask) == kTagNode; ++level)
      e = t.nodes[4 * static_cast<std::size_t>(e) + ((path >> (2 * level)) & 3)];
    t.top[static_cast<std::size_t>(path)] = e;
  }
}

int RsetCellTestAt(cells::CellIndex& idx, const cells::Object& region, RsetCellTest& t, PlanePoint q) {
  if (t.fixed != 0) return t.fixed;
  const std::int32_t* groups = nullptr;
  if (t.half > 0.0 && std::fabs(q.u - t.cu) <= t.half && std::fabs(q.v - t.cv) <= t.half) {
    double cu = t.cu, cv = t.cv, s = t.half;
    int path = 0;
    for (int level = 0; level < kTopLevels; ++level) {
      const int i = (q.u >= cu ? 1 : 0) | (q.v >= cv ? 2 : 0);
      ChildSquare(cu, cv, s, i);
      path |= i << (2 * level);
    }
    std::uint32_t e = t.top[static_cast<std::size_t>(path)];
    while ((e & kTagMask) == kTagNode) {
      const int i = (q.u >= cu ? 1 : 0) | (q.v >= cv ? 2 : 0);
      ChildSquare(cu, cv, s, i);
      e = t.nodes[4 * static_cast<std::size_t>(e) + i];
    }
    if (e == kTagIn) return 1;
    if (e == kTagOut) return -1;
    groups = t.legs.data() + (e & ~kTagMask);
    if (groups[0] < 0) groups = nullptr;
  }
  double d = geodesy::HUGE_VALUE;
  bool decided = false;
  if (groups) {
    // The legs that can be nearest here decide unless a shared leg must be
    // set aside; then the next nearest may be anywhere in the cell.
    thread_local std::vector<Near> scratch;
    static const std::vector<SharedLine> none;
    SharedLine next{};
    decided = NearestRound(t.chains, q, none, groups, scratch, &d, &next) > 0;
  }
  if (!decided) d = NearestBoundaryClean(t.chains, q);
  if (d == geodesy::HUGE_VALUE) {
    if (t.side == 0) t.side = SideByNeighbours(idx, region, t.cell);
    return t.side;
  }
  if (std::fabs(d) <= t.fuzz) return 0;
  return d > 0.0 ? 1 : -1;
}

}  // namespace ops
