#include "lib/ops/lset_in_rset.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/cell_chains.h"
#include "lib/ops/leg_predicates.h"
#include "lib/ops/rset_point_test.h"

namespace ops {

using cells::Object;
using geodesy::DirectionCosines;

namespace {

// Cuts closer than this (radians, about 0.06 mm) are one.
constexpr double kSameCut = 1e-11;

// Smallest c.p kept for a vertex projected into a cell's plane (cos 87°).
constexpr double kMinDepth = 0.05233595624294383;

DirectionCosines Unit(double x, double y, double z) {
  const double n = std::sqrt(x * x + y * y + z * z);
  return n > 0.0 ? DirectionCosines{x / n, y / n, z / n} : DirectionCosines{0.0, 0.0, 1.0};
}

// The angle from a to p, measured along the leg a-b (p is on or near it).
double AngleFrom(const DirectionCosines& a, const DirectionCosines& p) {
  const DirectionCosines c = geodesy::Cross(a, p);
  return std::atan2(std::sqrt(geodesy::Dot(c, c)), geodesy::Dot(a, p));
}

// The point at angle t from a towards b, on the great circle of a and b.
DirectionCosines Along(const DirectionCosines& a, const DirectionCosines& b, double theta, double t) {
  if (theta <= 0.0) return a;
  const double s = std::sin(theta);
  if (s < 1e-300) return a;
  const double wa = std::sin(theta - t) / s, wb = std::sin(t) / s;
  return Unit(wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z);
}

// One boundary cell of the region: its frame, widened polygon and legs, kept
// while the walk stays near it.
struct BoundaryCell {
  std::int32_t cell = -1;
  geodesy::TangentFrame frame;
  std::vector<PlanePoint> polygon;
  std::vector<Leg> legs;
};

struct Clipper {
  cells::CellIndex& idx;
  const Object& region;
  double fuzz;
  const std::int32_t* bcells;
  BoundaryCell cache[8];
  int next_slot = 0;
  CellChains chains;

  const BoundaryCell& Cell(std::int32_t cell) {
    for (const BoundaryCell& b : cache)
      if (b.cell == cell) return b;
    BoundaryCell& b = cache[next_slot];
    next_slot = (next_slot + 1) % 8;
    b.cell = cell;
    b.frame = geodesy::BuildTangentFrame(idx.cells[cell]->centre);
    CellPolygonInPlane(idx, cell, b.polygon);
    GatherCellChains(idx, region, cell, chains);
    b.legs.clear();
    for (int k = 0; k < chains.Count(); ++k)
      for (std::int32_t i = chains.First(k); i < chains.Last(k); ++i)
        b.legs.push_back(MakeLeg(chains.points[i], chains.points[i + 1], fuzz));
    return b;
  }

  PlanePoint Place(const geodesy::TangentFrame& f, const DirectionCosines& p, const DirectionCosines& other) const {
    auto project = [&](const DirectionCosines& q) {
      const double d = geodesy::Dot(f.c, q);
      return PlanePoint{(f.ex * q.x + f.ey * q.y) / d, (f.nx * q.x + f.ny * q.y + f.nz * q.z) / d};
    };
    const double dp = geodesy::Dot(f.c, p);
    if (dp >= kMinDepth) return project(p);
    const double dq = geodesy::Dot(f.c, other);
    if (dq <= dp) return project(other);
    const double t = (dq - kMinDepth) / (dq - dp);
    return project({other.x + t * (p.x - other.x), other.y + t * (p.y - other.y), other.z + t * (p.z - other.z)});
  }

  // The angles along leg a-b (of length theta) at which the boundary legs of
  // `cell` meet it; the stretches where they run along it go to `along`.
  void Cuts(std::int32_t cell, const DirectionCosines& a, const DirectionCosines& b, std::vector<double>& t,
            std::vector<std::pair<double, double>>& along) {
    const BoundaryCell& bc = Cell(cell);
    PlanePoint p0 = Place(bc.frame, a, b), p1 = Place(bc.frame, b, a);
    if (ClipSegmentToPolygon(bc.polygon, p0, p1) < 0) return;
    const Leg leg = MakeLeg(p0, p1, fuzz);
    for (const Leg& r : bc.legs) {
      const LegCrossing x = LegCross(leg, r);
      if (x.result == CROSS_NONE) continue;
      double at[2] = {0.0, 0.0};
      for (int i = 0; i < x.count; ++i) {
        at[i] = AngleFrom(a, geodesy::LiftFromFrame(bc.frame, x.point[i].u, x.point[i].v));
        t.push_back(at[i]);
      }
      if (std::abs(x.result) == CROSS_OVERLAP && x.count == 2)
        along.push_back({std::min(at[0], at[1]) - kSameCut, std::max(at[0], at[1]) + kSameCut});
    }
  }
};

// The vertices of a line, and the cells each leg visits after its first
// vertex's cell (the cells of pieces without vertices, then the next
// vertex's cell).
struct LineWalk {
  std::vector<DirectionCosines> v;
  std::vector<std::uint64_t> attr;
  std::vector<std::int32_t> vcell;
  std::vector<std::int32_t> leg_first;  // leg i visits pass[leg_first[i] .. leg_first[i+1])
  std::vector<std::int32_t> pass;
};

void ReadLine(cells::CellIndex& idx, const Object& lines, const cells::Item& it, LineWalk& w) {
  w.v.clear();
  w.attr.clear();
  w.vcell.clear();
  w.leg_first.clear();
  w.pass.clear();
  const int rs = cells::RecordSize(lines.res);
  std::vector<std::int32_t> between;
  for (std::int32_t k = 0; k < it.count; ++k) {
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(lines, it, k));
    if (pc.count <= 0) {
      between.push_back(pc.cell);
      continue;
    }
    for (std::int32_t i = 0; i < pc.count; ++i) {
      DirectionCosines p;
      std::uint64_t a = 0;
      cells::Restore(idx, pc.cell, lines.coords + pc.offset + static_cast<std::int64_t>(i) * rs, lines.res, p, &a);
      if (!w.v.empty()) {
        // The leg that ends here: the cells passed, then this vertex's cell.
        w.leg_first.push_back(static_cast<std::int32_t>(w.pass.size()));
        w.pass.insert(w.pass.end(), between.begin(), between.end());
        w.pass.push_back(pc.cell);
        between.clear();
      }
      w.v.push_back(p);
      w.attr.push_back(a);
      w.vcell.push_back(pc.cell);
    }
    between.clear();
  }
  w.leg_first.push_back(static_cast<std::int32_t>(w.pass.size()));
}

}  // namespace

int q7_LsetInRset(const DeriveContext& ctx, int mode, double fuzz, int boundary_indicator, const Object& region,
                  const Object& lines) {
  if ((mode != CLIP_INSIDE && mode != CLIP_OUTSIDE) || !OutputResValid(ctx.res)) return DERIVE_BAD_PARAMETERS;
  cells::CellIndex& idx = *ctx.index;
  const double f = EffectiveFuzz(fuzz);
  try {
    std::vector<cells::PointNode> out;
    const bool world = RsetIsWorld(region, idx.cell_count), null_region = RsetIsNull(region);
    if ((world && mode == CLIP_OUTSIDE) || (null_region && mode == CLIP_INSIDE)) return DERIVE_EMPTY;
    if (world || null_region) {
      // The whole line set, rebuilt as it is.
      if (!cells::CollectVertices(idx, lines, out)) return DERIVE_NO_WORKSPACE;
      if (!out.empty()) out.pop_back();  // the object's own closing mark
      if (out.empty()) return DERIVE_EMPTY;
      if (!ctx.output) return DERIVE_DONE;
    } else {
      Clipper clip{idx, region, f, cells::EnvelopeList(region, 0)};
      RsetTestCache cache;
      auto side = [&](const DirectionCosines& p) { return q7_RsetPointTest(idx, p, region, fuzz, 1, &cache); };
      auto keep_side = [&](int r) {
        if (r == 0) return boundary_indicator >= 0;
        return mode == CLIP_INSIDE ? r > 0 : r < 0;
      };
      auto keep = [&](const DirectionCosines& p) { return keep_side(side(p)); };
      std::vector<std::pair<double, double>> along;
      LineWalk w;
      std::vector<double> t;
      bool any = false;
      for (std::int64_t item = 0; item < cells::ItemCount(lines); ++item) {
        const cells::Item it = cells::LoadItem(cells::ItemAt(lines, item));
        ReadLine(idx, lines, it, w);
        bool open = false;  // an output line is running
        auto emit = [&](const DirectionCosines& p, std::uint64_t attr) {
          if (!out.empty() && !cells::IsMark(out.back()) && open && geodesy::ChordSq(out.back().p, p) == 0.0) return;
          out.push_back({p, attr});
          open = true;
        };
        auto close = [&]() {
          if (!open) return;
          out.push_back(cells::Mark(it.id));
          open = false;
        };
        if (w.v.size() == 1) {
          // A line of one vertex: kept or dropped as a point.
          if (keep(w.v[0])) {
            emit(w.v[0], w.attr[0]);
            close();
            any = true;
          }
          continue;
        }
        for (std::size_t i = 0; i + 1 < w.v.size(); ++i) {
          const DirectionCosines& a = w.v[i];
          const DirectionCosines& b = w.v[i + 1];
          const double theta = AngleFrom(a, b);
          t.assign({0.0, theta});
          along.clear();
          bool boundary = cells::CellListContains(clip.bcells, w.vcell[i]);
          if (boundary) clip.Cuts(w.vcell[i], a, b, t, along);
          for (std::int32_t k = w.leg_first[i]; k < w.leg_first[i + 1]; ++k) {
            const std::int32_t c = w.pass[k];
            if (c == w.vcell[i] || !cells::CellListContains(clip.bcells, c)) continue;
            clip.Cuts(c, a, b, t, along);
            boundary = true;
          }
          // Cuts at a hair from an end, or from each other, are one cut: a
          // touch at a vertex makes no stretch of its own.
          for (double& x : t) {
            if (x < kSameCut) x = 0.0;
            if (x > theta - kSameCut) x = theta;
          }
          std::sort(t.begin(), t.end());
          t.erase(std::unique(t.begin(), t.end(), [](double x, double y) { return y - x < kSameCut; }), t.end());
          if (t.size() == 1) t.push_back(theta);
          for (std::size_t j = 0; j + 1 < t.size(); ++j) {
            const double lo = std::max(0.0, t[j]), hi = std::min(theta, t[j + 1]);
            // The middle decides; a middle within the fuzz of the boundary on a
            // stretch that does not run along it (a spike of the coast beside
            // it) is asked again a little to either side.
            int r = side(Along(a, b, theta, 0.5 * (lo + hi)));
            if (r == 0) {
              bool on_boundary = false;
              for (const auto& s : along) on_boundary = on_boundary || (s.first <= lo && hi <= s.second);
              for (double q : {0.25, 0.75, 0.1, 0.9, 0.02, 0.98})
                if (!on_boundary && r == 0) r = side(Along(a, b, theta, lo + q * (hi - lo)));
            }
            const bool kept = keep_side(r);
            if (kept) {
              emit(lo <= 0.0 ? a : Along(a, b, theta, lo), w.attr[i]);
              emit(hi >= theta ? b : Along(a, b, theta, hi), hi >= theta ? w.attr[i + 1] : w.attr[i]);
              any = true;
            } else {
              close();
            }
          }
        }
        close();
        if (any && !ctx.output) return DERIVE_DONE;
      }
      if (!any) return DERIVE_EMPTY;
    }
    cells::SectionTarget target{ctx.output, nullptr};
    cells::BuildParams p{ctx.created ? ctx.created : 1, 0, ctx.res, ctx.prec};
    const int status = cells::BuildLset(idx, target, p, out, *ctx.object);
    return status;
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

}  // namespace ops
