// The TIN of a point set, cell by cell (see pset_tin.h).

#include "lib/ops/pset_tin.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/q2mtin.h"

namespace ops {
namespace {

using cells::Load;
using cells::Store;
using geodesy::DirectionCosines;

inline std::int64_t Align8(std::int64_t n) { return (n + 7) & ~std::int64_t{7}; }

// Every point of the source: its unit vector and height, cell after cell.
struct SourcePoints {
  std::vector<DirectionCosines> p;
  std::vector<float> z;
  std::vector<std::uint32_t> zbits;
  std::vector<std::int64_t> start;  // per cell array entry, and one more
  std::vector<std::int32_t> cell;   // cell numbers, ascending
};

// The cell array entry of a cell number, or -1.
std::int64_t FindCell(const SourcePoints& s, std::int32_t c) {
  auto it = std::lower_bound(s.cell.begin(), s.cell.end(), c);
  if (it == s.cell.end() || *it != c) return -1;
  return it - s.cell.begin();
}

double Cross(const PlanarPoint& o, const PlanarPoint& a, const PlanarPoint& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool InConvex(const std::vector<PlanarPoint>& poly, const PlanarPoint& q) {
  const std::size_t n = poly.size();
  for (std::size_t i = 0; i < n; ++i)
    if (Cross(poly[i], poly[(i + 1) % n], q) < 0.0) return false;
  return true;
}

// True when all of b lies strictly right of one edge of the counterclockwise
// convex polygon a.
bool Separates(const PlanarPoint* a, std::size_t na, const PlanarPoint* b, std::size_t nb) {
  for (std::size_t i = 0; i < na; ++i) {
    const PlanarPoint& p0 = a[i];
    const PlanarPoint& p1 = a[(i + 1) % na];
    bool all_out = true;
    for (std::size_t k = 0; k < nb && all_out; ++k) all_out = Cross(p0, p1, b[k]) < 0.0;
    if (all_out) return true;
  }
  return false;
}

bool Overlaps(const std::vector<PlanarPoint>& poly, const PlanarPoint tri[3]) {
  return !Separates(poly.data(), poly.size(), tri, 3) && !Separates(tri, 3, poly.data(), poly.size());
}

// The convex hull of the points by exact turn tests (monotone chain): the
// indices of the vertices, counterclockwise, every vertex a strict left
// turn. Unlike the construction's own hull, whose clean-up drops points
// that turn by less than the hull edge criterion, it leaves no point
// outside itself however nearly collinear the boundary is.
void StrictHull(const std::vector<PlanarPoint>& p, std::vector<int>& hull) {
  std::vector<int> ix(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) ix[i] = static_cast<int>(i);
  std::sort(ix.begin(), ix.end(), [&](int a, int b) {
    return p[a].x < p[b].x || (p[a].x == p[b].x && p[a].y < p[b].y);
  });
  hull.assign(2 * ix.size() + 1, 0);
  std::size_t k = 0;
  for (std::size_t i = 0; i < ix.size(); ++i) {
    while (k >= 2 && Cross(p[hull[k - 2]], p[hull[k - 1]], p[ix[i]]) <= 0.0) --k;
    hull[k++] = ix[i];
  }
  for (std::size_t i = ix.size() - 1, lower = k + 1; i-- > 0;) {
    while (k >= lower && Cross(p[hull[k - 2]], p[hull[k - 1]], p[ix[i]]) <= 0.0) --k;
    hull[k++] = ix[i];
  }
  hull.resize(k > 1 ? k - 1 : k);
}

// What one cell writes.
struct CellOut {
  std::int32_t cell = 0;
  std::int32_t points = 0, triangles = 0, neighbours = 0;
  std::int32_t cptnb = 0, cvxnb = 0;
  float z[3] = {0, 0, 0};
};

class Builder {
 public:
  Builder(const DeriveContext& ctx, const SourcePoints& src, bool want_nb)
      : idx_(*ctx.index), src_(src), want_nb_(want_nb) {}

  // Triangulates the cell of source entry ci and appends its records.
  int Cell(std::int64_t ci);

  std::vector<CellOut> cells;
  std::vector<std::uint8_t> coords;
  std::int64_t own_total = 0, tri_total = 0, nb_total = 0;
  // The own points' plane coordinates as stored (float records), or null.
  const std::vector<PlanarPoint>* own_plane_ = nullptr;

 private:
  cells::CellIndex& idx_;
  const SourcePoints& src_;
  bool want_nb_;
  // Scratch reused from cell to cell.
  std::vector<PlanarPoint> pts_, poly_;
  std::vector<std::uint32_t> zb_;
  std::vector<int> newix_, kept_, keptix_, order_, hull_;
  std::vector<PlanarPoint> sorted_;
};

void PutPoint(std::vector<std::uint8_t>& out, const PlanarPoint& p, std::uint32_t zbits) {
  std::uint8_t rec[12];
  Store<float>(rec, static_cast<float>(p.x));
  Store<float>(rec + 4, static_cast<float>(p.y));
  Store<std::uint32_t>(rec + 8, zbits);
  out.insert(out.end(), rec, rec + 12);
}

void PutTriple(std::vector<std::uint8_t>& out, int a, int b, int c) {
  std::uint8_t rec[12];
  Store<std::int32_t>(rec, a);
  Store<std::int32_t>(rec + 4, b);
  Store<std::int32_t>(rec + 8, c);
  out.insert(out.end(), rec, rec + 12);
}

int Builder::Cell(std::int64_t ci) {
  const std::int32_t c = src_.cell[ci];
  const cells::CellRecord* rec = idx_.cells[c];
  const int nn = rec->neighbour_count;
  const geodesy::TangentFrame frame = geodesy::BuildTangentFrame(rec->centre);

  // The Voronoi polygon in the cell's plane: one vertex per neighbour.
  poly_.clear();
  for (int k = 0; k < nn; ++k) {
    DirectionCosines v;
    cells::VoronoiVertex(idx_, c, k, v);
    double u = 0, w = 0;
    if (v.x == geodesy::NOVALUE || geodesy::ProjectToFrame(frame, v, u, w) != 0) continue;
    poly_.push_back({u, w});
  }
  if (static_cast<int>(poly_.size()) != nn) return DERIVE_BAD_PARAMETERS;
  double area2 = 0.0;
  for (int k = 0; k < nn; ++k) area2 += Cross({0, 0}, poly_[k], poly_[(k + 1) % nn]);
  if (area2 < 0.0) std::reverse(poly_.begin(), poly_.end());

  // The cell's own points, then its neighbours'.
  pts_.clear();
  zb_.clear();
  const std::int64_t b0 = src_.start[ci], b1 = src_.start[ci + 1];
  const int own = static_cast<int>(b1 - b0);
  for (std::int64_t i = b0; i < b1; ++i) {
    double u = 0, w = 0;
    geodesy::ProjectToFrame(frame, src_.p[i], u, w);  // own points lie near the centre
    pts_.push_back({u, w});
    zb_.push_back(src_.zbits[i]);
  }
  if (own_plane_) {
    // Points stored as floats in their own cell's plane are taken as stored.
    for (int i = 0; i < own; ++i) pts_[i] = (*own_plane_)[b0 + i];
  }
  const std::int32_t* nbs = cells::Neighbours(rec);
  for (int k = 0; k < nn; ++k) {
    const std::int64_t nj = FindCell(src_, nbs[k]);
    if (nj < 0) continue;
    for (std::int64_t i = src_.start[nj]; i < src_.start[nj + 1]; ++i) {
      double u = 0, w = 0;
      if (geodesy::ProjectToFrame(frame, src_.p[i], u, w) != 0) continue;
      pts_.push_back({u, w});
      zb_.push_back(src_.zbits[i]);
    }
  }

  CellOut out;
  out.cell = c;
  out.cptnb = own;
  double sum = 0.0;
  float lo = std::numeric_limits<float>::max(), hi = -std::numeric_limits<float>::max();
  for (std::int64_t i = b0; i < b1; ++i) {
    sum += src_.z[i];
    lo = std::min(lo, src_.z[i]);
    hi = std::max(hi, src_.z[i]);
  }
  out.z[0] = static_cast<float>(own > 0 ? sum / own : 0.0);
  out.z[1] = own > 0 ? lo : 0.0f;
  out.z[2] = own > 0 ? hi : 0.0f;

  Tin tin;
  int status = TIN_TOO_FEW;
  order_.resize(pts_.size());
  for (std::size_t i = 0; i < pts_.size(); ++i) order_[i] = static_cast<int>(i);
  if (pts_.size() >= 3) status = q2mtin(pts_.data(), static_cast<int>(pts_.size()), 0, 0, &tin);
  if (status == TIN_INSERT_FAILED || status == TIN_INVALID) {
    // Points that the computed hull's clean-up left just outside it (a
    // nearly straight boundary, as gridded samples give): build again on
    // the exact hull, given to the construction as the first points.
    StrictHull(pts_, hull_);
    if (hull_.size() >= 3) {
      std::vector<bool> on(pts_.size(), false);
      for (int h : hull_) on[h] = true;
      order_ = hull_;
      for (std::size_t i = 0; i < pts_.size(); ++i)
        if (!on[i]) order_.push_back(static_cast<int>(i));
      sorted_.resize(pts_.size());
      for (std::size_t i = 0; i < pts_.size(); ++i) sorted_[i] = pts_[order_[i]];
      tin = Tin();
      status = q2mtin(sorted_.data(), static_cast<int>(sorted_.size()), 0, static_cast<int>(hull_.size()), &tin);
    }
  }
  // Triangle vertices as indices into pts_.
  for (int& v : tin.vt) v = order_[v];
  const bool triangulated = status == TIN_DONE || status == TIN_DONE_WITH_DROPS;
  // Too few points, all on one line or all on their hull: the cell's one value.
  const bool sparse = status == TIN_TOO_FEW || status == TIN_BAD_HULL || status == TIN_ALL_ON_HULL;
  if (!triangulated && !sparse) return DERIVE_BAD_PARAMETERS;
  if (triangulated) {
    // The verification sees the points in the order the construction had.
    Tin check = tin;
    check.points = pts_.data();
    if (TinVerify(check) != 0) return 2;
  }

  // The kept triangles and the neighbour points they use.
  kept_.clear();
  keptix_.assign(triangulated ? tin.ntri : 0, -1);
  newix_.assign(pts_.size(), -1);
  for (int i = 0; i < own; ++i) newix_[i] = i;
  int next = own;
  for (int t = 0; triangulated && t < tin.ntri; ++t) {
    const int* v = &tin.vt[3 * t];
    for (int j = 0; j < 3; ++j)
      if (tin.nb[3 * t + j] == -1) ++out.cvxnb;
    bool keep = v[0] < own || v[1] < own || v[2] < own;
    const PlanarPoint tri[3] = {pts_[v[0]], pts_[v[1]], pts_[v[2]]};
    if (!keep) {
      const PlanarPoint g{(tri[0].x + tri[1].x + tri[2].x) / 3.0, (tri[0].y + tri[1].y + tri[2].y) / 3.0};
      keep = InConvex(poly_, g) || Overlaps(poly_, tri);
    }
    if (!keep) continue;
    keptix_[t] = static_cast<int>(kept_.size());
    kept_.push_back(t);
    for (int j = 0; j < 3; ++j)
      if (newix_[v[j]] < 0) newix_[v[j]] = next++;
  }

  const std::int64_t at = static_cast<std::int64_t>(coords.size());
  for (int i = 0; i < own; ++i) PutPoint(coords, pts_[i], zb_[i]);
  std::vector<int> order(next - own);
  for (std::size_t i = own; i < pts_.size(); ++i)
    if (newix_[i] >= own) order[newix_[i] - own] = static_cast<int>(i);
  for (int i : order) PutPoint(coords, pts_[i], zb_[i]);
  out.points = next;
  for (int t : kept_)
    PutTriple(coords, newix_[tin.vt[3 * t]], newix_[tin.vt[3 * t + 1]], newix_[tin.vt[3 * t + 2]]);
  out.triangles = static_cast<std::int32_t>(kept_.size());
  if (want_nb_) {
    for (int t : kept_) {
      int n[3];
      for (int j = 0; j < 3; ++j) {
        const int o = tin.nb[3 * t + j];
        n[j] = o < 0 ? -1 : keptix_[o];
      }
      PutTriple(coords, n[0], n[1], n[2]);
    }
    out.neighbours = out.triangles;
  }
  if (static_cast<std::int64_t>(coords.size()) > 0x7FFFFFF0 || at > 0x7FFFFFF0) return DERIVE_OUTPUT_FULL;
  cells.push_back(out);
  own_total += own;
  tri_total += out.triangles;
  nb_total += out.neighbours;
  return DERIVE_DONE;
}

}  // namespace

float TinHeightOf(std::uint64_t attribute) {
  const std::uint32_t bits = static_cast<std::uint32_t>(attribute & 0xFFFFFFFFu);
  float z;
  std::memcpy(&z, &bits, sizeof z);
  return z;
}

int q7_PsetTin(const DeriveContext& ctx, const cells::Object& pset, bool neighbours) {
  if (ctx.res != TIN_RESOLUTION || !ctx.index || !ctx.object || pset.kind != cells::kPset)
    return DERIVE_BAD_PARAMETERS;
  cells::CellIndex& idx = *ctx.index;
  try {
    SourcePoints src;
    std::vector<PlanarPoint> own_plane;
    const bool as_stored = cells::ResForm(pset.res) == 4;
    const std::int64_t ncell = cells::PsetCellCount(pset);
    src.start.push_back(0);
    for (std::int64_t ci = 0; ci < ncell; ++ci) {
      const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(pset, ci));
      if (c.cell < 0 || c.cell >= idx.cell_count) return DERIVE_BAD_PARAMETERS;
      if (c.count <= 0) continue;
      const std::uint8_t* rec = pset.coords + c.offset;
      for (std::int32_t i = 0; i < c.count; ++i) {
        if (as_stored) {
          double a = 0, b = 0;
          std::uint32_t attr = 0;
          cells::RecordValues(rec, pset.res, &a, &b, &attr);
          own_plane.push_back({a, b});
        }
        DirectionCosines q;
        std::uint64_t attr = 0;
        rec = cells::Restore(idx, c.cell, rec, pset.res, q, &attr);
        const float z = TinHeightOf(attr);
        if (std::isnan(z) || z <= TIN_NO_HEIGHT) return 3;
        src.p.push_back(q);
        src.z.push_back(z);
        src.zbits.push_back(static_cast<std::uint32_t>(attr & 0xFFFFFFFFu));
      }
      src.cell.push_back(c.cell);
      src.start.push_back(static_cast<std::int64_t>(src.p.size()));
    }

    Builder b(ctx, src, neighbours);
    if (as_stored) b.own_plane_ = &own_plane;
    for (std::size_t ci = 0; ci < src.cell.size(); ++ci)
      if (const int s = b.Cell(static_cast<std::int64_t>(ci))) return s;
    if (!ctx.output) return src.p.empty() ? DERIVE_EMPTY : DERIVE_DONE;

    // The sections, one after the other in the output arena.
    std::vector<std::int32_t> cellnums;
    cellnums.reserve(b.cells.size());
    for (const CellOut& c : b.cells) cellnums.push_back(c.cell);
    const std::vector<std::int32_t> list = cells::MakeCellList(cellnums);
    const std::int64_t env = Align8(static_cast<std::int64_t>(list.size()) * 4);
    const std::int64_t st = Align8(static_cast<std::int64_t>(b.cells.size()) * cells::kTinCellSize);
    const std::int64_t co = Align8(static_cast<std::int64_t>(b.coords.size()));
    if (env > 0x7FFFFFF8 || st > 0x7FFFFFF8 || co > 0x7FFFFFF8) return DERIVE_OUTPUT_FULL;
    platform::Workspace* a = ctx.output;
    std::uint8_t* mark = a->top;
    std::uint8_t* e = static_cast<std::uint8_t*>(platform::WorkspaceAlloc(a, static_cast<std::int32_t>(env)));
    std::uint8_t* s = st ? static_cast<std::uint8_t*>(platform::WorkspaceAlloc(a, static_cast<std::int32_t>(st))) : a->top;
    std::uint8_t* k = co ? static_cast<std::uint8_t*>(platform::WorkspaceAlloc(a, static_cast<std::int32_t>(co))) : a->top;
    if (!e || !s || !k) {
      platform::WorkspaceSetTop(a, mark);
      return DERIVE_OUTPUT_FULL;
    }
    std::memset(e, 0, env);
    std::memcpy(e, list.data(), list.size() * 4);
    if (st) std::memset(s, 0, st);
    if (co) std::memset(k, 0, co);
    if (!b.coords.empty()) std::memcpy(k, b.coords.data(), b.coords.size());
    std::int64_t off = 0;
    for (std::size_t i = 0; i < b.cells.size(); ++i) {
      const CellOut& c = b.cells[i];
      cells::TinCell t{};
      t.cell = c.cell;
      t.point_offset = static_cast<std::int32_t>(off);
      t.point_count = c.points;
      off += std::int64_t{12} * c.points;
      t.triangle_offset = static_cast<std::int32_t>(off);
      t.triangle_count = c.triangles;
      off += std::int64_t{12} * c.triangles;
      t.neighbour_offset = static_cast<std::int32_t>(off);
      t.neighbour_count = c.neighbours;
      off += std::int64_t{12} * c.neighbours;
      t.cptnb = c.cptnb;
      t.cvxnb = c.cvxnb;
      for (int j = 0; j < 3; ++j) t.z[j] = c.z[j];
      cells::StoreTinCell(s + i * cells::kTinCellSize, t);
    }
    cells::Object& out = *ctx.object;
    out = cells::Object{};
    out.release = static_cast<std::uint16_t>(geodesy::LIBRARY_RELEASE);
    out.kind = cells::kTinPset;
    out.id = ctx.created;
    out.vix_id = idx.index_id;
    out.res = static_cast<std::uint16_t>(TIN_RESOLUTION);
    out.prec = static_cast<std::uint16_t>(ctx.prec);
    out.env = e;
    out.env_size = static_cast<std::uint32_t>(env);
    out.structure = s;
    out.struct_size = static_cast<std::uint32_t>(st);
    out.coords = k;
    out.coord_size = static_cast<std::uint32_t>(co);
    out.kfield[0] = 0;
    out.kfield[1] = 0;
    out.kfield[2] = static_cast<std::int64_t>(b.cells.size());
    out.kfield[3] = b.own_total;
    out.kfield[4] = b.tri_total;
    out.kfield[5] = b.nb_total;
    return src.p.empty() ? DERIVE_EMPTY : DERIVE_DONE;
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

}  // namespace ops
