// Point-set derivations.
//
// Every operation walks its sources cell by cell in ascending cell order and
// hands each kept point's record to a PsetWriter, which gathers the output
// cell array and vertex records and, at the end, lays the three sections of
// the new Pset into the output arena (environment: the o-cells list;
// structure: the cell array; coordinates: the records). Without an output
// arena the first kept point ends the operation with 0.
//
// Selection marks equal points with a bit set as long as the cell's point
// count; the merges compare every point of a shared cell of one source with
// every point of the same cell of the other (cells hold few points, and the
// comparison is a memcmp of a few bytes).
#include "lib/ops/pset_ops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/geodesy/constants.h"
#include "lib/ops/rset_point_test.h"
#include "lib/ops/cell_chains.h"

namespace ops {

using cells::Object;

namespace {

struct PsetWriter {
  const DeriveContext* ctx = nullptr;
  int out_rs = 0;
  std::vector<cells::PsetCell> cells_out;
  std::vector<std::uint8_t> records;
  bool probe_hit = false;

  bool Probe() const { return ctx->output == nullptr; }

  // Starts a record in `cell`; returns where to write out_rs bytes.
  std::uint8_t* Add(std::int32_t cell) {
    if (Probe()) {
      probe_hit = true;
      return nullptr;
    }
    if (cells_out.empty() || cells_out.back().cell != cell)
      cells_out.push_back({cell, static_cast<std::int32_t>(records.size()), 0});
    ++cells_out.back().count;
    records.resize(records.size() + out_rs);
    return records.data() + records.size() - out_rs;
  }

  // Copies a record of code src_res (same coordinate form) into the output
  // record, padding a longer datum part with the default datum value 0.
  void Copy(std::int32_t cell, const std::uint8_t* rec, int src_res) {
    std::uint8_t* dst = Add(cell);
    if (!dst) return;
    const int coord = cells::FormCoordSize(cells::ResForm(src_res));
    const int src_attr = cells::RecordSize(src_res) - coord;
    const int dst_attr = out_rs - coord;
    std::memcpy(dst, rec, coord);
    const int n = std::min(src_attr, dst_attr);
    if (n > 0) std::memcpy(dst + coord, rec + coord, n);
    if (dst_attr > n) std::memset(dst + coord + n, 0, dst_attr - n);
  }

  // Writes the sections; the derivation status.
  int Finish() {
    if (Probe()) return probe_hit ? DERIVE_DONE : DERIVE_EMPTY;
    std::vector<std::int32_t> nums;
    nums.reserve(cells_out.size());
    for (const auto& c : cells_out) nums.push_back(c.cell);
    const std::vector<std::int32_t> list = cells::MakeCellList(nums);
    const auto align8 = [](std::int64_t n) { return (n + 7) & ~std::int64_t{7}; };
    const std::int64_t env = align8(static_cast<std::int64_t>(list.size()) * 4);
    const std::int64_t st = align8(static_cast<std::int64_t>(cells_out.size()) * cells::kPsetCellSize);
    const std::int64_t co = align8(static_cast<std::int64_t>(records.size()));
    if (env + st + co > 0x7FFFFFFF) return DERIVE_OUTPUT_FULL;
    platform::Workspace* a = ctx->output;
    std::uint8_t* mark = a->top;
    auto take = [&](std::int64_t n) -> std::uint8_t* {
      if (n == 0) return a->top;
      return static_cast<std::uint8_t*>(platform::WorkspaceAlloc(a, static_cast<std::int32_t>(n)));
    };
    std::uint8_t* e = take(env);
    std::uint8_t* s = e ? take(st) : nullptr;
    std::uint8_t* c = s ? take(co) : nullptr;
    if (!e || !s || !c) {
      platform::WorkspaceSetTop(a, mark);
      return DERIVE_OUTPUT_FULL;
    }
    std::memset(e, 0, env);
    std::memcpy(e, list.data(), list.size() * 4);
    std::memset(s, 0, st);
    for (std::size_t i = 0; i < cells_out.size(); ++i)
      cells::StorePsetCell(s + i * cells::kPsetCellSize, cells_out[i]);
    std::memset(c, 0, co);
    if (!records.empty()) std::memcpy(c, records.data(), records.size());
    Object& o = *ctx->object;
    o = Object{};
    o.release = static_cast<std::uint16_t>(geodesy::LIBRARY_RELEASE);
    o.kind = cells::kPset;
    o.id = ctx->created ? ctx->created : 1;
    o.vix_id = ctx->index->index_id;
    o.res = static_cast<std::uint16_t>(ctx->res);
    o.prec = static_cast<std::uint16_t>(ctx->prec);
    o.env = e;
    o.env_size = static_cast<std::uint32_t>(env);
    o.structure = s;
    o.struct_size = static_cast<std::uint32_t>(st);
    o.coords = c;
    o.coord_size = static_cast<std::uint32_t>(co);
    o.kfield[0] = 0;
    o.kfield[1] = 0;
    o.kfield[2] = static_cast<std::int64_t>(cells_out.size());
    return cells_out.empty() ? DERIVE_EMPTY : DERIVE_DONE;
  }
};

const std::uint8_t* PointAt(const Object& o, const cells::PsetCell& c, std::int64_t i) {
  return o.coords + c.offset + i * cells::RecordSize(o.res);
}

bool HasDatum(int res) { return (res & 1) != 0; }

int ComparedLength(int res, int datum_flag) {
  return (datum_flag & DATUM_IGNORED) ? cells::FormCoordSize(cells::ResForm(res))
                                      : cells::RecordSize(res);
}

}  // namespace

int q7_PsetSelect(const DeriveContext& ctx, const Object& source, int mode) {
  const int datum_flag = mode & DATUM_IGNORED;
  mode &= ~DATUM_IGNORED;
  if (mode < 1 || mode > 3 || source.kind != cells::kPset) return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res) || CoordinatePart(ctx.res) != CoordinatePart(source.res))
    return DERIVE_BAD_PARAMETERS;
  if (!datum_flag && !HasDatum(source.res)) return DERIVE_BAD_PARAMETERS;
  try {
    PsetWriter w;
    w.ctx = &ctx;
    w.out_rs = cells::RecordSize(ctx.res);
    const int len = ComparedLength(source.res, datum_flag);
    std::vector<std::uint8_t> kept;
    std::vector<std::uint8_t> equal_earlier;
    for (std::int64_t ci = 0; ci < cells::PsetCellCount(source); ++ci) {
      const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(source, ci));
      equal_earlier.assign(static_cast<std::size_t>(c.count), 0);
      for (std::int32_t i = 0; i < c.count; ++i) {
        if (equal_earlier[i]) continue;  // a copy of an earlier point
        const std::uint8_t* pi = PointAt(source, c, i);
        bool had_equal = false;
        for (std::int32_t j = i + 1; j < c.count; ++j) {
          if (!equal_earlier[j] && std::memcmp(pi, PointAt(source, c, j), len) == 0) {
            equal_earlier[j] = 1;
            had_equal = true;
          }
        }
        const bool keep = mode == 1 ? !had_equal : mode == 2 ? true : had_equal;
        if (!keep) continue;
        w.Copy(c.cell, pi, source.res);
        if (w.Probe()) return DERIVE_DONE;
      }
    }
    return w.Finish();
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

int q7_PsetMerge(const DeriveContext& ctx, const Object& first_in, const Object& second_in, int mode,
                 int datum_flag) {
  if (mode < 1 || mode > 3 || first_in.kind != cells::kPset || second_in.kind != cells::kPset)
    return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res)) return DERIVE_BAD_PARAMETERS;
  const Object* first = &first_in;
  const Object* second = &second_in;
  // An output with a datum takes it from the source that has one.
  if (HasDatum(ctx.res) && !HasDatum(first->res) && HasDatum(second->res)) std::swap(first, second);
  try {
    PsetWriter w;
    w.ctx = &ctx;
    w.out_rs = cells::RecordSize(ctx.res);
    const int len = std::min(ComparedLength(first->res, datum_flag), ComparedLength(second->res, datum_flag));
    const std::int64_t na = cells::PsetCellCount(*first), nb = cells::PsetCellCount(*second);
    std::int64_t ia = 0, ib = 0;
    std::vector<std::uint8_t> mark_a, mark_b;
    while (ia < na || ib < nb) {
      const cells::PsetCell ca = ia < na ? cells::LoadPsetCell(cells::PsetCellAt(*first, ia))
                                         : cells::PsetCell{cells::NO_CELL, 0, 0};
      const cells::PsetCell cb = ib < nb ? cells::LoadPsetCell(cells::PsetCellAt(*second, ib))
                                         : cells::PsetCell{cells::NO_CELL, 0, 0};
      if (ca.cell < cb.cell) {
        ++ia;
        if (mode != 1)
          for (std::int32_t i = 0; i < ca.count; ++i) {
            w.Copy(ca.cell, PointAt(*first, ca, i), first->res);
            if (w.Probe()) return DERIVE_DONE;
          }
        continue;
      }
      if (cb.cell < ca.cell) {
        ++ib;
        if (mode != 1)
          for (std::int32_t i = 0; i < cb.count; ++i) {
            w.Copy(cb.cell, PointAt(*second, cb, i), second->res);
            if (w.Probe()) return DERIVE_DONE;
          }
        continue;
      }
      ++ia;
      ++ib;
      // Common: a marked when it has an equal in b. Combined: all start
      // marked; unique unmarks both of an equal pair, all unmarks b only.
      mark_a.assign(static_cast<std::size_t>(ca.count), mode == 1 ? 0 : 1);
      mark_b.assign(static_cast<std::size_t>(cb.count), mode == 1 ? 0 : 1);
      for (std::int32_t i = 0; i < ca.count; ++i) {
        const std::uint8_t* pa = PointAt(*first, ca, i);
        for (std::int32_t j = 0; j < cb.count; ++j) {
          if (std::memcmp(pa, PointAt(*second, cb, j), len) != 0) continue;
          if (mode == 1) {
            mark_a[i] = 1;
          } else if (mode == 2) {
            mark_a[i] = 0;
            mark_b[j] = 0;
          } else {
            mark_b[j] = 0;
          }
        }
      }
      for (std::int32_t i = 0; i < ca.count; ++i)
        if (mark_a[i]) {
          w.Copy(ca.cell, PointAt(*first, ca, i), first->res);
          if (w.Probe()) return DERIVE_DONE;
        }
      if (mode != 1)
        for (std::int32_t j = 0; j < cb.count; ++j)
          if (mark_b[j]) {
            w.Copy(cb.cell, PointAt(*second, cb, j), second->res);
            if (w.Probe()) return DERIVE_DONE;
          }
    }
    return w.Finish();
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

int q7_PsetInRset(const DeriveContext& ctx, const Object& points, const Object& region, int mode,
                  double fuzz, int boundary_indicator) {
  if (mode < 1 || mode > 2 || points.kind != cells::kPset || region.kind != cells::kRset)
    return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res)) return DERIVE_BAD_PARAMETERS;
  const double f = EffectiveFuzz(fuzz);
  const bool inside_mode = mode == 1;
  const bool same_form = CoordinatePart(ctx.res) == CoordinatePart(points.res);
  const std::int32_t* icells = cells::EnvelopeList(region, 1);
  try {
    PsetWriter w;
    w.ctx = &ctx;
    w.out_rs = cells::RecordSize(ctx.res);
    CellChains raw, chains;  // a cell's chains as stored, and without spikes
    auto keep = [&](std::int32_t cell, const std::uint8_t* rec) {
      if (same_form) {
        w.Copy(cell, rec, points.res);
        return;
      }
      std::uint8_t* dst = w.Add(cell);
      if (!dst) return;
      const PlanePoint q = RestorePlane(*ctx.index, cell, rec, points.res);
      double a, b;
      std::uint32_t attr32 = 0;
      cells::RecordValues(rec, points.res, &a, &b, &attr32);
      std::uint64_t attr = attr32;
      if (cells::ResWideAttribute(points.res))
        attr = cells::Load<std::uint64_t>(rec + cells::FormCoordSize(cells::ResForm(points.res)));
      cells::QuantisePlane(*ctx.index, cell, q.u, q.v, attr, dst, ctx.res);
    };
    for (std::int64_t ci = 0; ci < cells::PsetCellCount(points); ++ci) {
      const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(points, ci));
      if (c.cell < 0 || c.cell >= ctx.index->cell_count) return DERIVE_BAD_PARAMETERS;
      if (!HasPiecesIn(region, c.cell)) {
        const bool in = cells::CellListContains(icells, c.cell);
        if (in != inside_mode) continue;
        for (std::int32_t i = 0; i < c.count; ++i) {
          keep(c.cell, PointAt(points, c, i));
          if (w.Probe()) return DERIVE_DONE;
        }
        continue;
      }
      GatherCellChains(*ctx.index, region, c.cell, raw);
      ChainsWithoutSpikes(raw, chains);
      int side = 0;  // the cell's side where its chains bound nothing, once known
      for (std::int32_t i = 0; i < c.count; ++i) {
        const std::uint8_t* rec = PointAt(points, c, i);
        double d = CleanBoundaryDistance(chains, RestorePlane(*ctx.index, c.cell, rec, points.res), f,
                                         boundary_indicator);
        if (d == geodesy::HUGE_VALUE) {
          if (side == 0) side = SideByNeighbours(*ctx.index, region, c.cell);
          d = side;
        }
        bool kept;
        if (d == 0.0) kept = boundary_indicator >= 0;
        else kept = (d > 0.0) == inside_mode;
        if (!kept) continue;
        keep(c.cell, rec);
        if (w.Probe()) return DERIVE_DONE;
      }
    }
    return w.Finish();
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

// ---------------------------------------------------------------- near lines
//
// The line cells that can hold a leg within the tolerance of a point cell are
// found by a flood from the point cell's centre over the centres within the
// tolerance angle plus the two cells' radii (the radius of a cell is bounded
// by its scale value). Each point not yet near is tested against every leg
// of those cells, including the legs that join a piece to its neighbours, on
// the sphere: near a vertex, or with its foot on the leg's great circle
// between the leg's ends and near the foot.

namespace {

// Largest angle from a cell centre to its edge, from the cell scale value.
double CellRadius(const cells::CellIndex& idx, std::int32_t cell) {
  return std::atan(idx.cells[cell]->scale / cells::SCALE_FACTOR);
}

bool NearLeg(const geodesy::DirectionCosines& q, const geodesy::DirectionCosines& a,
             const geodesy::DirectionCosines& b, double tol) {
  if (geodesy::ChordSq(q, a) <= tol || geodesy::ChordSq(q, b) <= tol) return true;
  geodesy::DirectionCosines n = geodesy::Cross(a, b);
  const double nn = geodesy::Dot(n, n);
  if (nn <= 0.0) return false;
  // The foot of q on the great circle of a and b.
  const double k = geodesy::Dot(q, n) / nn;
  geodesy::DirectionCosines f{q.x - k * n.x, q.y - k * n.y, q.z - k * n.z};
  const double fl = std::sqrt(geodesy::Dot(f, f));
  if (fl <= 0.0) return false;
  f = {f.x / fl, f.y / fl, f.z / fl};
  const double leg = geodesy::ChordSq(a, b);
  if (geodesy::ChordSq(a, f) > leg || geodesy::ChordSq(b, f) > leg) return false;
  return geodesy::ChordSq(q, f) <= tol;
}

}  // namespace

int q7_PsetNearLines(const DeriveContext& ctx, const Object& points, const Object& lines,
                     const geodesy::Ellipsoid* e, int mode, double proximity) {
  if (mode < 1 || mode > 2 || points.kind != cells::kPset || lines.kind != cells::kLset)
    return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res) || !(proximity >= 0.0)) return DERIVE_BAD_PARAMETERS;
  if (e ? proximity > e->a : proximity > M_PI / 4.0) return DERIVE_BAD_PARAMETERS;
  cells::CellIndex& idx = *ctx.index;
  const bool near_mode = mode == 1;
  const bool same_form = CoordinatePart(ctx.res) == CoordinatePart(points.res);
  try {
    PsetWriter w;
    w.ctx = &ctx;
    w.out_rs = cells::RecordSize(ctx.res);
    auto keep = [&](std::int32_t cell, const std::uint8_t* rec) {
      if (same_form) {
        w.Copy(cell, rec, points.res);
        return;
      }
      std::uint8_t* dst = w.Add(cell);
      if (!dst) return;
      geodesy::DirectionCosines p;
      std::uint64_t attr = 0;
      cells::Restore(idx, cell, rec, points.res, p, &attr);
      cells::Quantise(idx, cell, p, attr, dst, ctx.res);
    };
    const bool no_lines = cells::ItemCount(lines) == 0 || cells::VertexCount(lines) == 0;
    if (no_lines && near_mode) return w.Finish();

    // The tolerance as a squared chord and as an angle.
    double angle = 0.0, tol = geodesy::SAME_POINT_SQ;
    if (!e) {
      angle = proximity;
      tol = ChordSqOfAngle(angle);
    } else if (proximity >= 0.0001) {
      geodesy::DirectionCosines sum{0, 0, 0};
      for (std::int64_t ci = 0; ci < cells::PsetCellCount(points); ++ci) {
        const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(points, ci));
        for (std::int32_t i = 0; i < c.count; ++i) {
          geodesy::DirectionCosines p;
          cells::Restore(idx, c.cell, PointAt(points, c, i), points.res, p);
          sum.x += p.x, sum.y += p.y, sum.z += p.z;
        }
      }
      geodesy::DirectionCosines mean = geodesy::Normalised(sum);
      if (!geodesy::IsValid(mean)) mean = {0.0, 0.0, 1.0};
      angle = proximity * MetresToRadians(*e, mean);
      tol = ChordSqOfAngle(angle);
    } else {
      angle = std::sqrt(tol);
    }
    double max_radius = 0.0;
    for (std::int32_t c = 0; c < idx.cell_count; ++c) max_radius = std::max(max_radius, CellRadius(idx, c));

    std::vector<std::int32_t> line_cells;
    for (std::int32_t lc : cells::ExpandCellList(cells::EnvelopeList(lines, 0)))
      if (lc >= 0 && lc < idx.cell_count) line_cells.push_back(lc);
    std::vector<std::uint8_t> marked;
    std::vector<geodesy::DirectionCosines> pts;
    CellLegs3 legs;
    for (std::int64_t ci = 0; ci < cells::PsetCellCount(points); ++ci) {
      const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(points, ci));
      if (c.cell < 0 || c.cell >= idx.cell_count) return DERIVE_BAD_PARAMETERS;
      marked.assign(static_cast<std::size_t>(c.count), 0);
      std::int32_t left = c.count;
      if (!no_lines) {
        pts.resize(static_cast<std::size_t>(c.count));
        for (std::int32_t i = 0; i < c.count; ++i) cells::Restore(idx, c.cell, PointAt(points, c, i), points.res, pts[i]);
        const double reach = std::min(M_PI, CellRadius(idx, c.cell) + angle + max_radius + 1e-9);
        // Small reaches flood the neighbourhood; large ones look through the
        // line cells, which is cheaper than a flood over half the index.
        const double reach2 = ChordSqOfAngle(reach);
        std::vector<std::uint32_t> near;
        if (reach < 0.1) {
          near = cells::NearCellsList(idx, idx.cells[c.cell]->centre, reach2);
          if (near.empty()) return DERIVE_NO_WORKSPACE;
        } else {
          near.push_back(0);
          for (std::int32_t lc : line_cells)
            if (geodesy::ChordSq(idx.cells[lc]->centre, idx.cells[c.cell]->centre) <= reach2)
              near.push_back(static_cast<std::uint32_t>(lc));
        }
        for (std::size_t k = 1; k < near.size() && left > 0; ++k) {
          const std::int32_t lc = static_cast<std::int32_t>(near[k]);
          if (lc == cells::NO_CELL || !HasPiecesIn(lines, lc)) continue;
          GatherCellLegs3(idx, lines, lc, legs);
          for (std::int32_t i = 0; i < c.count && left > 0; ++i) {
            if (marked[i]) continue;
            for (int ch = 0; ch < legs.Count() && !marked[i]; ++ch) {
              const int a = legs.start[ch], b = legs.start[ch + 1];
              if (b - a == 1 && geodesy::ChordSq(pts[i], legs.points[a]) <= tol) marked[i] = 1;
              for (int j = a; j + 1 < b && !marked[i]; ++j)
                if (NearLeg(pts[i], legs.points[j], legs.points[j + 1], tol)) marked[i] = 1;
            }
            if (marked[i]) --left;
          }
        }
      }
      for (std::int32_t i = 0; i < c.count; ++i) {
        if ((marked[i] != 0) != near_mode) continue;
        keep(c.cell, PointAt(points, c, i));
        if (w.Probe()) return DERIVE_DONE;
      }
    }
    return w.Finish();
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

}  // namespace ops
