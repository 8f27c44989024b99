// Crossing points of lines, cell by cell.
//
// In each cell that either set passes through, and in the cells around
// them, the legs of the pieces in the cell and its neighbours (each leg once,
// with the legs that join pieces) are projected into the cell's plane and
// every leg of one set is crossed with every leg of the other by LegCross. A crossing becomes a point when it lies in this very cell (the
// lifted point is located), so a crossing that the widened cell edges let
// two cells see is kept once; points within twice the fuzz of one kept
// before in the cell are the same point. The points are built into the
// output Pset at the output resolution.
#include "lib/ops/lset_intersections.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/cell_chains.h"

namespace ops {

using cells::Object;

namespace {

// Smallest c.p kept for a projected leg end (cos 87 degrees).
constexpr double kMinDepth = 0.05233595624294383;

struct LegRef {
  Leg leg;
  std::int32_t item;
  geodesy::DirectionCosines a, b;  // the leg's ends, for recognising copies
};

bool Same3(const geodesy::DirectionCosines& p, const geodesy::DirectionCosines& q) {
  return p.x == q.x && p.y == q.y && p.z == q.z;
}

PlanePoint Project(const geodesy::TangentFrame& f, const geodesy::DirectionCosines& p) {
  const double d = geodesy::Dot(f.c, p);
  return {(f.ex * p.x + f.ey * p.y) / d, (f.nx * p.x + f.ny * p.y + f.nz * p.z) / d};
}

// The legs of obj in the cell and its neighbours, in the cell's plane; each
// leg once (a leg seen from two cells is the same leg).
void CollectLegs(cells::CellIndex& idx, const Object& obj, std::int32_t cell, double fuzz,
                 const geodesy::TangentFrame& frame, CellLegs3& scratch, std::vector<LegRef>& out) {
  out.clear();
  const cells::CellRecord* r = idx.cells[cell];
  for (int n = -1; n < r->neighbour_count; ++n) {
    const std::int32_t c = n < 0 ? cell : r->neighbours[n];
    if (c < 0 || c >= idx.cell_count || !HasPiecesIn(obj, c)) continue;
    GatherCellLegs3(idx, obj, c, scratch);
    for (int k = 0; k < scratch.Count(); ++k) {
      const std::int32_t item = scratch.item[k];
      for (int j = scratch.start[k]; j + 1 < scratch.start[k + 1]; ++j) {
        geodesy::DirectionCosines a = scratch.points[j], b = scratch.points[j + 1];
        bool copy = false;
        for (const LegRef& l : out)
          if (l.item == item && Same3(l.a, a) && Same3(l.b, b)) {
            copy = true;
            break;
          }
        if (copy) continue;
        const double da = geodesy::Dot(frame.c, a), db = geodesy::Dot(frame.c, b);
        if (da < kMinDepth && db < kMinDepth) continue;
        // A far end is moved along the chord (same gnomonic image) to 87 degrees.
        auto pull = [&](geodesy::DirectionCosines& far, const geodesy::DirectionCosines& near,
                        double dfar, double dnear) {
          const double t = (dnear - kMinDepth) / (dnear - dfar);
          far = {near.x + t * (far.x - near.x), near.y + t * (far.y - near.y), near.z + t * (far.z - near.z)};
        };
        geodesy::DirectionCosines pa = a, pb = b;
        if (da < kMinDepth) pull(pa, b, da, db);
        if (db < kMinDepth) pull(pb, a, db, da);
        out.push_back({MakeLeg(Project(frame, pa), Project(frame, pb), fuzz), item, a, b});
      }
    }
  }
}

// In the self case: legs of one line that are the same leg or meet at a
// vertex are not crossed with each other.
bool Neighbours(const LegRef& x, const LegRef& y) {
  if (x.item != y.item) return false;
  return Same3(x.a, y.a) || Same3(x.a, y.b) || Same3(x.b, y.a) || Same3(x.b, y.b);
}

}  // namespace

int q7_LsetIntersections(const DeriveContext& ctx, const Object& first, const Object* second,
                         double fuzz) {
  if (first.kind != cells::kLset || (second && second->kind != cells::kLset)) return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res)) return DERIVE_BAD_PARAMETERS;
  const double f = EffectiveFuzz(fuzz);
  const double g2 = 4.0 * f * f;
  cells::CellIndex& idx = *ctx.index;
  const bool self = second == nullptr;
  const Object& other = self ? first : *second;
  if (cells::VertexCount(first) == 0 || cells::VertexCount(other) == 0) {
    if (!ctx.output) return DERIVE_EMPTY;
    cells::SectionTarget t{ctx.output, nullptr};
    cells::BuildParams p{ctx.created ? ctx.created : 1, 0, ctx.res, ctx.prec};
    const int st = cells::BuildPset(idx, t, p, {}, *ctx.object);
    return st > 0 ? st : DERIVE_EMPTY;
  }
  try {
    std::vector<cells::PointNode> found;
    std::vector<PlanePoint> in_cell;
    CellLegs3 scratch;
    std::vector<LegRef> la, lb;
    // Every cell either set passes, with its neighbours: a crossing is kept
    // in the cell it lies in even when a leg's pieces skip that cell.
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(idx.cell_count), 0);
    std::vector<std::int32_t> todo;
    for (const Object* o : {&first, &other}) {
      for (std::int32_t c : cells::ExpandCellList(cells::EnvelopeList(*o, 0))) {
        if (c < 0 || c >= idx.cell_count) continue;
        const cells::CellRecord* r = idx.cells[c];
        for (int n = -1; n < r->neighbour_count; ++n) {
          const std::int32_t x = n < 0 ? c : r->neighbours[n];
          if (x >= 0 && x < idx.cell_count && !seen[x]) seen[x] = 1, todo.push_back(x);
        }
      }
    }
    std::sort(todo.begin(), todo.end());
    for (const std::int32_t cell : todo) {
      const geodesy::TangentFrame frame = geodesy::BuildTangentFrame(idx.cells[cell]->centre);
      CollectLegs(idx, first, cell, f, frame, scratch, la);
      if (la.empty()) continue;
      if (!self) {
        CollectLegs(idx, other, cell, f, frame, scratch, lb);
        if (lb.empty()) continue;
      }
      const std::vector<LegRef>& lo = self ? la : lb;
      in_cell.clear();
      auto add = [&](PlanePoint x) {
        for (const PlanePoint& y : in_cell) {
          const double du = x.u - y.u, dv = x.v - y.v;
          if (du * du + dv * dv <= g2) return;
        }
        const geodesy::DirectionCosines p = geodesy::LiftFromFrame(frame, x.u, x.v);
        if (cells::Locate(idx, p) != cell) return;
        in_cell.push_back(x);
        found.push_back({p, 0});
      };
      for (std::size_t i = 0; i < la.size(); ++i) {
        for (std::size_t j = self ? i + 1 : 0; j < lo.size(); ++j) {
          if (self && Neighbours(la[i], lo[j])) continue;
          const LegCrossing c = LegCross(la[i].leg, lo[j].leg);
          if (c.result == CROSS_NONE) continue;
          for (int k = 0; k < c.count; ++k) add(c.point[k]);
          if (!ctx.output && !found.empty()) return DERIVE_DONE;
        }
      }
    }
    if (!ctx.output) return found.empty() ? DERIVE_EMPTY : DERIVE_DONE;
    // A crossing on the edge between two cells may be seen (by a hair) in
    // both: such twins within twice the fuzz are one point.
    std::vector<std::vector<std::size_t>> by_cell(static_cast<std::size_t>(idx.cell_count));
    std::vector<cells::PointNode> kept;
    for (std::size_t i = 0; i < found.size(); ++i) {
      const std::int32_t c = cells::Locate(idx, found[i].p);
      bool twin = false;
      const cells::CellRecord* r = idx.cells[c];
      for (int n = -1; n < r->neighbour_count && !twin; ++n) {
        const std::int32_t x = n < 0 ? c : r->neighbours[n];
        for (std::size_t j : by_cell[x])
          if (geodesy::ChordSq(kept[j].p, found[i].p) <= g2) {
            twin = true;
            break;
          }
      }
      if (twin) continue;
      by_cell[c].push_back(kept.size());
      kept.push_back(found[i]);
    }
    cells::SectionTarget t{ctx.output, nullptr};
    cells::BuildParams p{ctx.created ? ctx.created : 1, 0, ctx.res, ctx.prec};
    return cells::BuildPset(idx, t, p, kept, *ctx.object);
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

}  // namespace ops
