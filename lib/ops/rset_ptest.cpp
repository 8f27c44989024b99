#include "lib/ops/rset_ptest.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/geodesy/constants.h"
#include "lib/ops/cell_chains.h"
#include "lib/ops/leg_predicates.h"
#include "lib/ops/rset_point_test.h"

namespace ops {

using cells::Object;

namespace {

// Whether any cell of `a` (which 0 and, for a region, which 1) is in `interior`.
bool MeetsInterior(const Object& a, const std::int32_t* interior) {
  for (int which = 0; which < (a.kind == cells::kRset ? 2 : 1); ++which) {
    cells::CellListWalk w = cells::CellListWalkBegin(cells::EnvelopeList(a, which), interior);
    std::int32_t cell;
    bool in_a, in_b;
    while (cells::CellListWalkNext(w, &cell, &in_a, &in_b))
      if (in_a && in_b) return true;
  }
  return false;
}

// The parameters along leg (p, q) where the legs of `other` meet it, each
// contact counted as a cut; sets *contact when any contact exists and
// *same_way / *opposite for overlaps.
void Cuts(const Leg& leg, const std::vector<Leg>& other, std::vector<double>& t, bool* contact, bool* same_way,
          bool* opposite) {
  const double du = leg.p2.u - leg.p1.u, dv = leg.p2.v - leg.p1.v;
  const double len2 = du * du + dv * dv;
  for (const Leg& b : other) {
    const LegCrossing x = LegCross(leg, b);
    if (x.result == CROSS_NONE) continue;
    *contact = true;
    if (x.result == CROSS_OVERLAP) *same_way = true;
    if (x.result == -CROSS_OVERLAP) *opposite = true;
    if (len2 <= 0.0) continue;
    for (int i = 0; i < x.count; ++i)
      t.push_back(((x.point[i].u - leg.p1.u) * du + (x.point[i].v - leg.p1.v) * dv) / len2);
  }
}

// The stretches of the chains of `chains` in one cell against the region's
// boundary there: 1 when a stretch has a point inside (or on the boundary,
// with the flag), else 0. `boundary_source` marks a region's boundary, for
// which overlaps decide by their direction.
int StretchesMeet(cells::CellIndex& idx, const CellChains& chains, const CellChains& region_chains,
                  const Object& region, double f, bool boundary, bool boundary_source, RsetTestCache* cache) {
  std::vector<Leg> rlegs;
  for (int k = 0; k < region_chains.Count(); ++k)
    for (std::int32_t i = region_chains.First(k); i < region_chains.Last(k); ++i)
      rlegs.push_back(MakeLeg(region_chains.points[i], region_chains.points[i + 1], f));
  auto test = [&](PlanePoint q) {
    const int r = q7_RsetPointTestInCell(idx, chains.cell, q, region, f, 1, cache);
    return r > 0 || (r == 0 && boundary);
  };
  std::vector<double> t;
  for (int k = 0; k < chains.Count(); ++k) {
    const std::int32_t a = chains.First(k), z = chains.Last(k);
    if (a == z && test(chains.points[a])) return 1;  // a one-vertex line
    for (std::int32_t i = a; i < z; ++i) {
      const PlanePoint p = chains.points[i], q = chains.points[i + 1];
      const Leg leg = MakeLeg(p, q, f);
      t.assign({0.0, 1.0});
      bool contact = false, same_way = false, opposite = false;
      Cuts(leg, rlegs, t, &contact, &same_way, &opposite);
      if (boundary_source && same_way) return 1;
      if (boundary && contact) return 1;
      std::sort(t.begin(), t.end());
      for (std::size_t j = 0; j + 1 < t.size(); ++j) {
        const double lo = std::max(0.0, t[j]), hi = std::min(1.0, t[j + 1]);
        if (hi <= lo) continue;
        const double m = 0.5 * (lo + hi);
        if (test({p.u + m * (q.u - p.u), p.v + m * (q.v - p.v)})) return 1;
      }
      if (test(p) || test(q)) return 1;
      (void)opposite;
    }
  }
  return 0;
}

// Steps 2 of both tests: the cells that hold data of `source` and boundary
// of `region`.
int SharedBoundaryCells(cells::CellIndex& idx, const Object& source, const Object& region, double f, bool boundary) {
  CellChains chains, region_chains;
  RsetTestCache cache;
  cells::CellListWalk w = cells::CellListWalkBegin(cells::EnvelopeList(source, 0), cells::EnvelopeList(region, 0));
  std::int32_t cell;
  bool in_a, in_b;
  while (cells::CellListWalkNext(w, &cell, &in_a, &in_b)) {
    if (!in_a || !in_b || cell < 0 || cell >= idx.cell_count) continue;
    if (GatherCellChains(idx, source, cell, chains) == 0) continue;
    GatherCellChains(idx, region, cell, region_chains);
    if (StretchesMeet(idx, chains, region_chains, region, f, boundary, source.kind == cells::kRset, &cache)) return 1;
  }
  return 0;
}

}  // namespace

int q7_LsetRsetPtest(cells::CellIndex& idx, const Object& lines, const Object& region, double fuzz, bool boundary) {
  const double f = fuzz > 0.0 ? fuzz : geodesy::DEFAULT_FUZZ;
  if (MeetsInterior(lines, cells::EnvelopeList(region, 1))) return 1;
  return SharedBoundaryCells(idx, lines, region, f, boundary);
}

int q7_RsetRsetPtest(cells::CellIndex& idx, const Object& first, const Object& region, double fuzz, bool boundary) {
  const double f = fuzz > 0.0 ? fuzz : geodesy::DEFAULT_FUZZ;
  if (MeetsInterior(first, cells::EnvelopeList(region, 1))) return 1;
  if (MeetsInterior(region, cells::EnvelopeList(first, 1))) return 1;
  if (SharedBoundaryCells(idx, first, region, f, boundary)) return 1;
  return SharedBoundaryCells(idx, region, first, f, boundary);
}

}  // namespace ops
