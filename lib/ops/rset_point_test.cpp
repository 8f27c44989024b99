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
#include "lib/geodesy/constants.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/derive_params.h"

namespace ops {

namespace {

inline double Cross2(double au, double av, double bu, double bv) { return au * bv - av * bu; }

// Side of q at the chain vertex i (between legs i-1 and i): +1 inside, -1 outside.
int VertexSide(const PlanePoint* p, int i, PlanePoint q) {
  const PlanePoint a = p[i - 1], v = p[i], b = p[i + 1];
  const double in_u = v.u - a.u, in_v = v.v - a.v, out_u = b.u - v.u, out_v = b.v - v.v;
  const bool left_in = Cross2(in_u, in_v, q.u - a.u, q.v - a.v) > 0.0;
  const bool left_out = Cross2(out_u, out_v, q.u - v.u, q.v - v.v) > 0.0;
  const double turn = Cross2(in_u, in_v, out_u, out_v);
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

// The signed distance from q to chain k, leaving out the legs that lie on
// one of the shared lines (their ends then count as chain ends); leg
// receives the leg of the nearest point.
double ChainDistanceSkipping(const CellChains& ch, int k, PlanePoint q,
                             const std::vector<SharedLine>& skip, int* leg) {
  const PlanePoint* all = ch.points.data();
  const int first = ch.First(k), last = ch.Last(k);
  const int lo = first, hi = last;  // the chain ends: cut points on the cell edge or line ends
  *leg = first;
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
    const double dot = du * wu + dv * wv;
    double d2;
    int side;
    bool at_end = false;
    const double across = Cross2(du, dv, wu, wv);
    if (dot <= 0.0) {
      d2 = wu * wu + wv * wv;
      at_end = j == lo || (!skip.empty() && skipped(j - 1));
      if (!better(d2, at_end)) continue;
      side = !at_end ? VertexSide(all, j, q) : (across > 0.0 ? 1 : -1);
    } else if (dot >= len2) {
      const double xu = q.u - all[j + 1].u, xv = q.v - all[j + 1].v;
      d2 = xu * xu + xv * xv;
      at_end = j + 1 == hi || (!skip.empty() && skipped(j + 1));
      if (!better(d2, at_end)) continue;
      side = !at_end ? VertexSide(all, j + 1, q) : (across > 0.0 ? 1 : -1);
    } else {
      d2 = across * across / len2;
      if (!better(d2, false)) continue;
      side = across > 0.0 ? 1 : (across < 0.0 ? -1 : 0);
    }
    best2 = d2;
    best_at_end = at_end;
    best = side == 0 ? 0.0 : side * std::sqrt(d2);
    *leg = j;
    if (d2 == 0.0) return 0.0;
  }
  return best;
}

}  // namespace

double ChainDistance(const CellChains& ch, int k, PlanePoint q) {
  static const std::vector<SharedLine> none;
  int leg = 0;
  return ChainDistanceSkipping(ch, k, q, none, &leg);
}

double BoundaryDistance(const CellChains& ch, PlanePoint q, double fuzz, int boundary_indicator) {
  double best = geodesy::HUGE_VALUE;
  for (int k = 0; k < ch.Count(); ++k) {
    const double d = ChainDistance(ch, k, q);
    if (std::fabs(d) < std::fabs(best)) best = d;
    if (best == 0.0) return 0.0;
  }
  if (boundary_indicator != 0 && std::fabs(best) <= fuzz) return 0.0;
  return best;
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
  }
  // The nearest boundary decides. Chains that are equally near with
  // opposite sides are two rings sharing a leg in opposite directions (land
  // that the data cuts along 180 degrees, two halves of a region meeting
  // along a cell edge): that leg bounds nothing, so its line is set aside
  // and the next nearest boundary decides.
  std::vector<SharedLine> skip;
  struct Near {
    double d;
    int chain, leg;
  };
  std::vector<Near> d;
  for (int round = 0; round < 8; ++round) {
    d.clear();
    for (int k = 0; k < c.chains.Count(); ++k) {
      int leg = 0;
      const double dk = ChainDistanceSkipping(c.chains, k, q, skip, &leg);
      if (dk != geodesy::HUGE_VALUE) d.push_back({dk, k, leg});
    }
    if (d.empty()) break;
    std::sort(d.begin(), d.end(), [](const Near& a, const Near& b) { return std::fabs(a.d) < std::fabs(b.d); });
    const double near = std::fabs(d[0].d);
    const double same = std::max(near * 1e-9, 1e-13);
    int sides = 0;
    std::size_t end = 0;
    while (end < d.size() && std::fabs(d[end].d) - near <= same) {
      sides += d[end].d > 0.0 ? 1 : (d[end].d < 0.0 ? -1 : 0);
      ++end;
    }
    if (end == 1 || sides != 0 || near == 0.0) {
      if (near <= f) return 0;
      return (end == 1 ? d[0].d : sides) > 0 ? 1 : -1;
    }
    const PlanePoint* pts = c.chains.points.data();
    const int j = d[0].leg;
    if (j + 1 > c.chains.Last(d[0].chain)) break;
    const double du = pts[j + 1].u - pts[j].u, dv = pts[j + 1].v - pts[j].v;
    const double len = std::hypot(du, dv);
    if (!(len > 0.0)) break;
    skip.push_back({pts[j], du / len, dv / len});
  }
  // Every boundary in the cell was a shared leg: the cell is on one side
  // throughout, which a neighbour without boundary tells.
  const std::int32_t* il = cells::EnvelopeList(region, 1);
  const cells::CellRecord* r = idx.cells[cell];
  for (int j = 0; j < r->neighbour_count; ++j) {
    const std::int32_t nb = r->neighbours[j];
    if (nb < 0 || nb >= idx.cell_count || HasPiecesIn(region, nb)) continue;
    return cells::CellListContains(il, nb) ? 1 : -1;
  }
  return -1;
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
