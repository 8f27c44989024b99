// The surface value of a TIN Pset (see surface.h).

#include "lib/ops/surface.h"

#include <cmath>
#include <utility>

#include "lib/cells/cell_locate.h"
#include "lib/ops/pset_tin.h"

namespace ops {
namespace {

using geodesy::DirectionCosines;

struct Vertex {
  double u, v, z;
};

// Vertex k of the cell's points in the cell's plane, with its height.
Vertex VertexAt(cells::CellIndex& idx, const cells::Object& o, const cells::TinCell& t,
                const geodesy::TangentFrame& f, std::int32_t k) {
  const int rec = cells::RecordSize(o.res);
  const std::uint8_t* src = o.coords + t.point_offset + static_cast<std::int64_t>(k) * rec;
  Vertex out{0, 0, 0};
  if (cells::ResForm(o.res) == 4) {
    out.u = cells::Load<float>(src);
    out.v = cells::Load<float>(src + 4);
    if (cells::ResHasAttribute(o.res)) out.z = TinHeightOf(cells::Load<std::uint32_t>(src + 8));
    return out;
  }
  DirectionCosines p;
  std::uint64_t attr = 0;
  cells::Restore(idx, t.cell, src, o.res, p, &attr);
  geodesy::ProjectToFrame(f, p, out.u, out.v);
  out.z = TinHeightOf(attr);
  return out;
}

// The interpolated value at (u, v) in the triangle (a, b, c), or false when
// it does not hold the position.
inline bool InTriangle(const double* a, const double* b, const double* c, double u, double v, double* wa_out,
                       double* wb_out, double* wc_out) {
  const double wc = (a[0] - u) * (b[1] - v) - (a[1] - v) * (b[0] - u);
  const double wa = (b[0] - u) * (c[1] - v) - (b[1] - v) * (c[0] - u);
  const double wb = (c[0] - u) * (a[1] - v) - (c[1] - v) * (a[0] - u);
  const double total = wa + wb + wc;
  if (!(total > 0.0)) return false;
  const double tol = -1e-9 * total;
  if (wa < tol || wb < tol || wc < tol) return false;
  *wa_out = wa, *wb_out = wb, *wc_out = wc;
  return true;
}

// The interpolated value at (u, v) over the cell's decoded vertices, or
// false when no triangle holds it.
bool InTriangles(const cells::Object& o, const cells::TinCell& t, const std::vector<double>& vx, double u,
                 double v, double* value) {
  const std::uint8_t* tri = o.coords + t.triangle_offset;
  for (std::int32_t i = 0; i < t.triangle_count; ++i, tri += 12) {
    const double* a = &vx[3 * static_cast<std::size_t>(cells::Load<std::int32_t>(tri))];
    const double* b = &vx[3 * static_cast<std::size_t>(cells::Load<std::int32_t>(tri + 4))];
    const double* c = &vx[3 * static_cast<std::size_t>(cells::Load<std::int32_t>(tri + 8))];
    double wa, wb, wc;
    if (!InTriangle(a, b, c, u, v, &wa, &wb, &wc)) continue;
    *value = (wa * a[2] + wb * b[2] + wc * c[2]) / (wa + wb + wc);
    return true;
  }
  return false;
}

// The same over the plane coordinates as stored (two floats and the height
// word per point): nothing is decoded ahead, and the heights only of the
// triangle that holds the position. The floats widen to the doubles the
// decoded vertices hold, so the value is the same to the bit.
bool InStoredTriangles(const cells::Object& o, const cells::TinCell& t, double u, double v, double* value) {
  const int rec = cells::RecordSize(o.res);
  const bool heights = cells::ResHasAttribute(o.res);
  const std::uint8_t* pts = o.coords + t.point_offset;
  const std::uint8_t* tri = o.coords + t.triangle_offset;
  for (std::int32_t i = 0; i < t.triangle_count; ++i, tri += 12) {
    const std::uint8_t* pa = pts + static_cast<std::int64_t>(cells::Load<std::int32_t>(tri)) * rec;
    const std::uint8_t* pb = pts + static_cast<std::int64_t>(cells::Load<std::int32_t>(tri + 4)) * rec;
    const std::uint8_t* pc = pts + static_cast<std::int64_t>(cells::Load<std::int32_t>(tri + 8)) * rec;
    const double a[2] = {cells::Load<float>(pa), cells::Load<float>(pa + 4)};
    const double b[2] = {cells::Load<float>(pb), cells::Load<float>(pb + 4)};
    const double c[2] = {cells::Load<float>(pc), cells::Load<float>(pc + 4)};
    double wa, wb, wc;
    if (!InTriangle(a, b, c, u, v, &wa, &wb, &wc)) continue;
    double za = 0, zb = 0, zc = 0;
    if (heights) {
      za = TinHeightOf(cells::Load<std::uint32_t>(pa + 8));
      zb = TinHeightOf(cells::Load<std::uint32_t>(pb + 8));
      zc = TinHeightOf(cells::Load<std::uint32_t>(pc + 8));
    }
    *value = (wa * za + wb * zb + wc * zc) / (wa + wb + wc);
    return true;
  }
  return false;
}

// Starts the loads of a cell's points and triangles together: at random
// positions they are not in the cache, and one miss after another was most
// of a value's time.
void Prefetch(const std::uint8_t* p, std::int64_t bytes) {
  for (std::int64_t k = 0; k < bytes; k += 64) __builtin_prefetch(p + k);
}

// The object's record of a cell, -1 when it holds none: a binary search over
// its cell array, and after many cell changes (values at positions all over
// the map) a table by cell number, one load instead of a dozen dependent
// misses. The table is made only when the cell array is strictly ascending,
// so both give the same record.
std::int64_t RecordOf(const cells::CellIndex& idx, const cells::Object& tin, std::int32_t cell,
                      SurfaceSearch& s) {
  const std::int64_t count = cells::PsetCellCount(tin);
  const std::uint8_t* arr = tin.structure + cells::PsetCellArrayOffset(tin);
  if (s.table_of != arr || s.table_cells != idx.cell_count) {
    s.table_of = arr;
    s.table_cells = idx.cell_count;
    s.lookups = 0;
    s.record_of.clear();
  }
  if (!s.record_of.empty()) return s.record_of[static_cast<std::size_t>(cell)];
  if (++s.lookups == SURFACE_TABLE_AFTER && idx.cell_count <= SURFACE_TABLE_MAX_CELLS) {
    std::vector<std::int32_t> table(static_cast<std::size_t>(idx.cell_count), -1);
    bool ascending = count <= 0x7fffffff;
    std::int32_t before = -1;
    for (std::int64_t r = 0; r < count && ascending; ++r) {
      const std::int32_t c = cells::Load<std::int32_t>(arr + r * cells::kTinCellSize);
      ascending = c > before && c < idx.cell_count;
      if (ascending) table[static_cast<std::size_t>(c)] = static_cast<std::int32_t>(r);
      before = c;
    }
    if (ascending) {
      s.record_of = std::move(table);
      return s.record_of[static_cast<std::size_t>(cell)];
    }
  }
  std::int64_t lo = 0, hi = count - 1;
  while (lo <= hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    const std::int32_t c = cells::Load<std::int32_t>(arr + mid * cells::kTinCellSize);
    if (c == cell) return mid;
    if (c < cell) lo = mid + 1;
    else hi = mid - 1;
  }
  return -1;
}

}  // namespace

double q7_TinSurfaceValue(cells::CellIndex& idx, const DirectionCosines& p, const cells::Object& tin,
                          SurfaceSearch& s) {
  if (tin.kind != cells::kTinPset || idx.cell_count <= 0) return geodesy::NOVALUE;
  const std::int32_t cell = cells::Locate(idx, p);
  if (cell == cells::NO_CELL || cell < 0 || cell >= idx.cell_count) return geodesy::NOVALUE;
  // A new cell: its record and frame. Plane floats are read as stored for
  // the first value in a cell (most values at random positions are the only
  // one in their cell) and decoded for the second, so that a pointer moving
  // within the cell reads doubles; other resolutions are decoded at once.
  const bool stored_plane = cells::ResForm(tin.res) == 4;
  bool first_in_cell = false;
  if (cell != s.cell) {
    s.cell = cell;
    s.record = RecordOf(idx, tin, cell, s);
    s.frame = geodesy::BuildTangentFrame(idx.cells[cell]->centre);
    s.vertices.clear();
    first_in_cell = true;
  }
  s.steps = 0;
  if (s.record < 0) return geodesy::NOVALUE;
  const cells::TinCell t = cells::LoadTinCell(tin.structure + cells::PsetCellArrayOffset(tin) +
                                              s.record * cells::kTinCellSize);
  if (t.triangle_count == 0) return t.z[0];
  const bool read_stored = stored_plane && first_in_cell;
  if (read_stored) {
    Prefetch(tin.coords + t.point_offset, static_cast<std::int64_t>(t.point_count) * cells::RecordSize(tin.res));
    Prefetch(tin.coords + t.triangle_offset, static_cast<std::int64_t>(t.triangle_count) * 12);
  } else if (s.vertices.empty()) {
    s.vertices.resize(3 * static_cast<std::size_t>(t.point_count));
    for (std::int32_t k = 0; k < t.point_count; ++k) {
      const Vertex w = VertexAt(idx, tin, t, s.frame, k);
      s.vertices[3 * k] = w.u;
      s.vertices[3 * k + 1] = w.v;
      s.vertices[3 * k + 2] = w.z;
    }
  }
  double u = 0, v = 0;
  if (geodesy::ProjectToFrame(s.frame, p, u, v) != 0) return geodesy::NOVALUE;
  double step = SURFACE_FIRST_STEP;
  for (int k = 0;; ++k) {
    double value = 0;
    const bool found = read_stored ? InStoredTriangles(tin, t, u, v, &value)
                                   : InTriangles(tin, t, s.vertices, u, v, &value);
    if (found) {
      s.steps = k;
      return value;
    }
    const double d2 = u * u + v * v;
    if (k == SURFACE_STEPS || d2 <= SURFACE_CENTRE_SQ) return geodesy::NOVALUE;
    const double d = std::sqrt(d2);
    if (step >= d) {
      u = v = 0.0;
    } else {
      u *= (d - step) / d;
      v *= (d - step) / d;
    }
    step *= 2.0;
  }
}

}  // namespace ops
