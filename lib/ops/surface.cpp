// The surface value of a TIN Pset (see surface.h).

#include "lib/ops/surface.h"

#include <cmath>

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

// The interpolated value at (u, v) over the cell's decoded vertices, or
// false when no triangle holds it.
bool InTriangles(const cells::Object& o, const cells::TinCell& t, const std::vector<double>& vx, double u,
                 double v, double* value) {
  const std::uint8_t* tri = o.coords + t.triangle_offset;
  for (std::int32_t i = 0; i < t.triangle_count; ++i, tri += 12) {
    const double* a = &vx[3 * static_cast<std::size_t>(cells::Load<std::int32_t>(tri))];
    const double* b = &vx[3 * static_cast<std::size_t>(cells::Load<std::int32_t>(tri + 4))];
    const double* c = &vx[3 * static_cast<std::size_t>(cells::Load<std::int32_t>(tri + 8))];
    const double wc = (a[0] - u) * (b[1] - v) - (a[1] - v) * (b[0] - u);
    const double wa = (b[0] - u) * (c[1] - v) - (b[1] - v) * (c[0] - u);
    const double wb = (c[0] - u) * (a[1] - v) - (c[1] - v) * (a[0] - u);
    const double total = wa + wb + wc;
    if (!(total > 0.0)) continue;
    const double tol = -1e-9 * total;
    if (wa < tol || wb < tol || wc < tol) continue;
    *value = (wa * a[2] + wb * b[2] + wc * c[2]) / total;
    return true;
  }
  return false;
}

}  // namespace

double q7_TinSurfaceValue(cells::CellIndex& idx, const DirectionCosines& p, const cells::Object& tin,
                          SurfaceSearch& s) {
  if (tin.kind != cells::kTinPset || idx.cell_count <= 0) return geodesy::NOVALUE;
  const std::int32_t cell = cells::Locate(idx, p);
  if (cell == cells::NO_CELL || cell < 0 || cell >= idx.cell_count) return geodesy::NOVALUE;
  if (cell != s.cell) {
    s.cell = cell;
    s.record = -1;
    std::int64_t lo = 0, hi = cells::PsetCellCount(tin) - 1;
    const std::uint8_t* arr = tin.structure + cells::PsetCellArrayOffset(tin);
    while (lo <= hi) {
      const std::int64_t mid = lo + (hi - lo) / 2;
      const std::int32_t c = cells::Load<std::int32_t>(arr + mid * cells::kTinCellSize);
      if (c == cell) {
        s.record = mid;
        break;
      }
      if (c < cell) lo = mid + 1;
      else hi = mid - 1;
    }
    s.frame = geodesy::BuildTangentFrame(idx.cells[cell]->centre);
    s.vertices.clear();
    if (s.record >= 0) {
      const cells::TinCell t = cells::LoadTinCell(tin.structure + cells::PsetCellArrayOffset(tin) +
                                                  s.record * cells::kTinCellSize);
      if (t.triangle_count > 0) {
        s.vertices.resize(3 * static_cast<std::size_t>(t.point_count));
        for (std::int32_t k = 0; k < t.point_count; ++k) {
          const Vertex w = VertexAt(idx, tin, t, s.frame, k);
          s.vertices[3 * k] = w.u;
          s.vertices[3 * k + 1] = w.v;
          s.vertices[3 * k + 2] = w.z;
        }
      }
    }
  }
  s.steps = 0;
  if (s.record < 0) return geodesy::NOVALUE;
  const cells::TinCell t = cells::LoadTinCell(tin.structure + cells::PsetCellArrayOffset(tin) +
                                              s.record * cells::kTinCellSize);
  if (t.triangle_count == 0) return t.z[0];
  double u = 0, v = 0;
  if (geodesy::ProjectToFrame(s.frame, p, u, v) != 0) return geodesy::NOVALUE;
  double step = SURFACE_FIRST_STEP;
  for (int k = 0;; ++k) {
    double value = 0;
    if (InTriangles(tin, t, s.vertices, u, v, &value)) {
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
