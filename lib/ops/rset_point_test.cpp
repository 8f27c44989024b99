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
  const double dot = in_u * out_u + in_v * out_v;
  if (dot < 0.0 && std::fabs(turn) <= 1e-12 * -dot) return 0;
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

// The signed distance from q to chain k, leaving out the legs that lie on
// one of the shared lines (their ends then count as chain ends); leg
// receives the leg of the nearest point, and tie a leg whose point is as
// near with the other side (the chain runs back along itself), or -1.
double ChainDistanceSkipping(const CellChains& ch, int k, PlanePoint q,
                             const std::vector<SharedLine>& skip, int* leg, int* tie) {
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
  int best_side = 0;
  bool best_at_end = false;  // decided by the leg side at a chain end
  // A candidate replaces the best when nearer, or equally near and decided
  // by both legs at a vertex where the best was decided at a chain end (a
  // ring wholly inside the cell meets its own vertices again at the ends).
  auto better = [&](double d2, bool at_end) {
    return d2 < best2 || (d2 == best2 && best_at_end && !at_end);
  };
  for (int j = first; j < last; ++j) {
    if (!skip.empty() && skipped(j)) continue;
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
      at_end = j == lo || (!skip.empty() && skipped(j - 1));
      side = !at_end ? VertexSide(all, j, q) : (across > 0.0 ? 1 : -1);
    } else if (dot >= len2) {
      const double xu = q.u - all[j + 1].u, xv = q.v - all[j + 1].v;
      d2 = xu * xu + xv * xv;
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
  const double iu = b.u - a.u, iv = b.v - a.v, ou = c.u - b.u, ov = c.v - b.v;
  const double dot = iu * ou + iv * ov;
  return dot < 0.0 && std::fabs(Cross2(iu, iv, ou, ov)) <= 1e-12 * -dot;
}

// The chains with their spikes taken out: where a ring runs out and
// straight back along itself, the part run twice bounds nothing, so the tip
// goes (repeatedly, for a spike of several legs) and the path runs on from
// where it turned.
void WithoutSpikes(const CellChains& ch, CellChains& out) {
  out.points.clear();
  out.start.assign(1, 0);
  out.item.clear();
  for (int k = 0; k < ch.Count(); ++k) {
    const std::size_t s = out.points.size();
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

// The signed distance of the nearest boundary that is not a shared leg.
double NearestBoundary(const CellChains& raw, PlanePoint q) {
  CellChains ch;
  WithoutSpikes(raw, ch);
  // The nearest boundary decides. Chains that are equally near with
  // opposite sides are two rings sharing a leg in opposite directions (land
  // that the data cuts along 180 degrees, two halves of a region meeting
  // along a cell edge): that leg bounds nothing, so its line is set aside
  // and the next nearest boundary decides.
  std::vector<SharedLine> skip;
  struct Near {
    double d;
    int chain, leg, tie;
  };
  std::vector<Near> d;
  // Two chains that are the same boundary: a ring that passes along a cell
  // edge has a second piece there (its copy on the other side of the edge),
  // whose chain repeats the first.
  auto same_chain = [&](int a, int b) {
    if (ch.item[a] != ch.item[b] || ch.Last(a) - ch.First(a) != ch.Last(b) - ch.First(b)) return false;
    for (int i = 0; i <= ch.Last(a) - ch.First(a); ++i) {
      const PlanePoint &pa = ch.points[ch.First(a) + i], &pb = ch.points[ch.First(b) + i];
      if (std::fabs(pa.u - pb.u) > kSharedLineTolerance || std::fabs(pa.v - pb.v) > kSharedLineTolerance)
        return false;
    }
    return true;
  };
  for (int round = 0; round < 8; ++round) {
    d.clear();
    for (int k = 0; k < ch.Count(); ++k) {
      int leg = 0, tie = -1;
      const double dk = ChainDistanceSkipping(ch, k, q, skip, &leg, &tie);
      if (dk != geodesy::HUGE_VALUE) d.push_back({dk, k, leg, tie});
    }
    if (d.empty()) break;
    std::sort(d.begin(), d.end(), [](const Near& a, const Near& b) { return std::fabs(a.d) < std::fabs(b.d); });
    const double near = std::fabs(d[0].d);
    if (near == 0.0) return 0.0;
    int sides = 0;
    std::size_t end = 0;
    int shared = -1;  // a leg of the nearest boundary that another runs back along
    while (end < d.size() && SameDistance(std::fabs(d[end].d), near)) {
      bool again = false;
      for (std::size_t i = 0; i < end; ++i) again = again || same_chain(d[i].chain, d[end].chain);
      if (!again) sides += d[end].d > 0.0 ? 1 : -1;
      if (d[end].tie >= 0 && shared < 0) shared = d[end].leg;
      ++end;
    }
    if (shared < 0) {
      if (sides != 0) return sides > 0 ? near : -near;
      shared = d[0].leg;
    }
    if (shared + 1 >= static_cast<int>(ch.points.size())) break;
    const PlanePoint* pts = ch.points.data();
    const double du = pts[shared + 1].u - pts[shared].u, dv = pts[shared + 1].v - pts[shared].v;
    const double len = std::hypot(du, dv);
    if (!(len > 0.0)) break;
    skip.push_back({pts[shared], du / len, dv / len});
  }
  return geodesy::HUGE_VALUE;
}

}  // namespace

double BoundaryDistance(const CellChains& ch, PlanePoint q, double fuzz, int boundary_indicator) {
  const double best = NearestBoundary(ch, q);
  if (boundary_indicator != 0 && std::fabs(best) <= fuzz) return 0.0;
  return best;
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
    GatherCellChains(idx, region, cell, c.chains);
    c.region = &region;
    c.side_cell = cells::NO_CELL;
  }
  const double d = NearestBoundary(c.chains, q);
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
