// TIN surfaces drawn into the map picture (see surface_render.h).
//
// Work per cell: restore the cell's points (own and neighbour points, all in
// the cell's frame) once into the workspace with their device position,
// their plane position in metres and their height; then fill each triangle
// of the cell. A triangle's fill visits the rows whose pixel centres it
// covers and, in each row, the pixel centres between the row's crossings of
// its edges (both ends included), the ramp intensity following the plane
// through the three device points.
#include "lib/display/surface_render.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "lib/cells/cell_locate.h"
#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/projections.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/pset_tin.h"

namespace display {

namespace {

// The sphere radius when the geometry carries no ellipsoid (metres).
constexpr double kMeanRadius = 6371007.1808;
// Device coordinates beyond this are not filled: such a triangle cannot be
// drawn faithfully (a vertex close to a projection's singularity).
constexpr double kDeviceLimit = 1.0e7;

struct Vertex {
  double x, y;        // exact device position
  double e, n, z;     // east, north (metres in the cell's plane) and height
  double t;           // ramp intensity, unrounded
  int ok;             // projected with status 0
};

struct Picture {
  uint32_t* data = nullptr;
  int stride = 0;  // in words
  int x0 = 0, x1 = -1, y0 = 0, y1 = -1;  // the pixels that may be set
};

// How one triangle's pixels are coloured.
struct Paint {
  const uint32_t* table = nullptr;  // ARGB words of the ramp by intensity
  uint32_t flat = 0;                // ARGB word for a constant colour
  bool constant = false;            // flat for every pixel
  int factor = 0;                   // > 0: table colour times factor / 65536
};

// A stored height that can be drawn: finite and not the "no value" mark
// (a damaged or foreign file may hold either; DerivePsetTin writes neither).
inline bool HeightUsable(double z) { return std::isfinite(z) && z > double(ops::TIN_NO_HEIGHT); }

inline uint32_t Scaled(uint32_t argb, int factor) {
  uint32_t r = (((argb >> 16) & 0xff) * uint32_t(factor)) >> 16;
  uint32_t g = (((argb >> 8) & 0xff) * uint32_t(factor)) >> 16;
  uint32_t b = ((argb & 0xff) * uint32_t(factor)) >> 16;
  r = std::min(r, 255u);
  g = std::min(g, 255u);
  b = std::min(b, 255u);
  return 0xff000000u | (r << 16) | (g << 8) | b;
}

inline uint32_t Argb(uint32_t colour) {
  return 0xff000000u | (RedOf(colour) << 16) | (GreenOf(colour) << 8) | BlueOf(colour);
}

// Fills the triangle a, b, c; returns the pixels set.
int64_t FillTriangle(const Picture& pic, const Vertex& a, const Vertex& b, const Vertex& c, const Paint& paint) {
  const double ymin = std::min({a.y, b.y, c.y}), ymax = std::max({a.y, b.y, c.y});
  const double xmin = std::min({a.x, b.x, c.x}), xmax = std::max({a.x, b.x, c.x});
  int r0 = int(std::ceil(ymin - 0.5)), r1 = int(std::floor(ymax - 0.5));
  r0 = std::max(r0, pic.y0);
  r1 = std::min(r1, pic.y1);
  if (r0 > r1 || xmax < pic.x0 || xmin > pic.x1 + 1) return 0;
  const double det = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
  if (!(std::fabs(det) > 1e-12)) return 0;
  // The intensity plane t = a.t + dx (x - a.x) + dy (y - a.y).
  const double dx = ((b.t - a.t) * (c.y - a.y) - (c.t - a.t) * (b.y - a.y)) / det;
  const double dy = ((c.t - a.t) * (b.x - a.x) - (b.t - a.t) * (c.x - a.x)) / det;
  const Vertex* v[3] = {&a, &b, &c};
  int64_t set = 0;
  for (int row = r0; row <= r1; ++row) {
    const double yc = row + 0.5;
    double xl = std::numeric_limits<double>::infinity(), xr = -xl;
    for (int k = 0; k < 3; ++k) {
      const Vertex& p = *v[k];
      const Vertex& q = *v[(k + 1) % 3];
      if (p.y == q.y) {
        if (yc == p.y) {
          xl = std::min({xl, p.x, q.x});
          xr = std::max({xr, p.x, q.x});
        }
        continue;
      }
      if (yc < std::min(p.y, q.y) || yc > std::max(p.y, q.y)) continue;
      const double x = p.x + (yc - p.y) * (q.x - p.x) / (q.y - p.y);
      xl = std::min(xl, x);
      xr = std::max(xr, x);
    }
    if (!(xl <= xr)) continue;
    const int c0 = std::max(int(std::ceil(xl - 0.5)), pic.x0);
    const int c1 = std::min(int(std::floor(xr - 0.5)), pic.x1);
    if (c0 > c1) continue;
    uint32_t* out = pic.data + size_t(row) * size_t(pic.stride);
    if (paint.constant) {
      for (int x = c0; x <= c1; ++x) out[x] = paint.flat;
    } else {
      double t = a.t + dx * (c0 + 0.5 - a.x) + dy * (yc - a.y);
      for (int x = c0; x <= c1; ++x, t += dx) {
        const int i = std::clamp(int(std::lround(t)), 0, 4080);
        out[x] = paint.factor > 0 ? Scaled(paint.table[i], paint.factor) : paint.table[i];
      }
    }
    set += c1 - c0 + 1;
  }
  return set;
}

// The colour rules of one presentation for a triangle of brightness b.
Paint PaintFor(SurfacePresentation presentation, const RampStyle& ramp, const uint32_t* table, double b) {
  Paint p;
  p.table = table;
  if (presentation == kSurfaceHypso) return p;
  const int s = std::min<int>(ramp.s, 100);
  if (s > 0) {
    const double f = ((100 - s) + s * b / SURFACE_FLAT_BRIGHTNESS) / 100.0;
    p.factor = std::max(0, int(std::lround(f * 65536.0)));
    return p;
  }
  p.constant = true;
  p.flat = table[std::clamp(int(std::lround(4080.0 * b)), 0, 4080)];
  return p;
}

}  // namespace

int SurfaceIntensity(double z, double zmin, double zmax) {
  if (!(zmax > zmin)) return 0;
  return std::clamp(int(std::lround(4080.0 * (z - zmin) / (zmax - zmin))), 0, 4080);
}

double SurfaceBrightness(const double a[3], const double b[3], const double c[3]) {
  const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  const double w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(len > 0.0)) return SURFACE_FLAT_BRIGHTNESS;
  // A triangle seen from below (clockwise from above) still faces up.
  const double sign = n[2] < 0 ? -1.0 : 1.0;
  const double d = sign * (n[0] * SURFACE_LIGHT[0] + n[1] * SURFACE_LIGHT[1] + n[2] * SURFACE_LIGHT[2]) / len;
  return std::max(0.0, d);
}

int RenderTinSurface(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& tin,
                     const RampStyle& ramp, SurfacePresentation presentation, platform::Workspace* ws,
                     DisplaySurface* s, SurfaceReport* report) {
  SurfaceReport local;
  SurfaceReport& r = report ? *report : local;
  r = SurfaceReport();
  if (!s || !s->bitmap) return SURFACE_NO_PICTURE;
  if (tin.kind != cells::kTinPset) return SURFACE_NOT_TIN;
  if (!g.params) return SURFACE_NO_GEOMETRY;

  const int64_t count = cells::PsetCellCount(tin);
  const uint8_t* cell_array = tin.structure + cells::PsetCellArrayOffset(tin);
  auto cell_at = [&](int64_t i) { return cells::LoadTinCell(cell_array + i * cells::kTinCellSize); };

  // The height range of the object and the largest cell.
  int32_t most = 0;
  bool have_range = false;
  for (int64_t i = 0; i < count; ++i) {
    const cells::TinCell t = cell_at(i);
    r.triangles += t.triangle_count;
    most = std::max(most, t.point_count);
    if (cells::TinOwnPoints(t) <= 0 || !HeightUsable(t.z[1]) || !HeightUsable(t.z[2])) continue;
    if (!have_range) {
      r.zmin = t.z[1];
      r.zmax = t.z[2];
      have_range = true;
    }
    r.zmin = std::min(r.zmin, t.z[1]);
    r.zmax = std::max(r.zmax, t.z[2]);
  }
  if (count == 0) return SURFACE_OK;

  // Scratch for one cell's vertices (and a cell polygon's fan).
  const int64_t slots = int64_t(most) + 2;
  if (slots * int64_t(sizeof(Vertex)) > std::numeric_limits<int32_t>::max()) return SURFACE_WORKSPACE;
  Vertex* vx = nullptr;
  std::vector<Vertex> heap;
  platform::WorkspaceMark mark(ws);
  if (ws && ws->base) {
    vx = static_cast<Vertex*>(platform::WorkspaceAlloc(ws, int32_t(slots * int64_t(sizeof(Vertex)))));
    if (!vx) return SURFACE_WORKSPACE;
  } else {
    heap.resize(size_t(slots));
    vx = heap.data();
  }

  uint32_t table[4081];
  for (int t = 0; t <= 4080; ++t) table[t] = Argb(RampColour(ramp, t));

  cairo_surface_flush(s->bitmap);
  Picture pic;
  pic.data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s->bitmap));
  pic.stride = cairo_image_surface_get_stride(s->bitmap) / 4;
  pic.x0 = std::max(g.xmin, 0);
  pic.x1 = std::min(g.xmax, s->width - 1);
  pic.y0 = std::max(g.ymin, 0);
  pic.y1 = std::min(g.ymax, s->height - 1);

  const double radius = g.ellipsoid ? g.ellipsoid->a : kMeanRadius;
  const double exaggeration = ramp.n > 0 ? double(ramp.n) : 1.0;
  const double zmin = r.zmin, zmax = r.zmax;
  const bool seam = ProjectionHasSeam(g.projection);
  const double seam_span = 2.0 / 3.0 * double(g.xmax - g.xmin);

  auto place = [&](const geodesy::TangentFrame& f, const geodesy::DirectionCosines& p, double z, Vertex* v) {
    double X = 0, Y = 0, pu = 0, pv = 0;
    v->ok = HeightUsable(z) && ProjectForward(*g.params, g.projection, p, &X, &Y) == 0 &&
            geodesy::ProjectToFrame(f, p, pu, pv) == 0;
    if (v->ok) {
      PlaneToDeviceExact(g.transform, X, Y, &v->x, &v->y);
      v->ok = std::fabs(v->x) < kDeviceLimit && std::fabs(v->y) < kDeviceLimit;
    }
    v->e = pu * radius;
    v->n = pv * radius;
    v->z = z;
    v->t = zmax > zmin ? 4080.0 * (z - zmin) / (zmax - zmin) : 0.0;
  };
  auto fill = [&](const Vertex& a, const Vertex& b, const Vertex& c) {
    if (!a.ok || !b.ok || !c.ok ||
        (seam && std::max({a.x, b.x, c.x}) - std::min({a.x, b.x, c.x}) > seam_span)) {
      ++r.skipped;
      return;
    }
    double b3 = SURFACE_FLAT_BRIGHTNESS;
    if (presentation == kSurfaceShade) {
      const double pa[3] = {a.e, a.n, a.z * exaggeration}, pb[3] = {b.e, b.n, b.z * exaggeration},
                   pc[3] = {c.e, c.n, c.z * exaggeration};
      b3 = SurfaceBrightness(pa, pb, pc);
    }
    r.pixels += FillTriangle(pic, a, b, c, PaintFor(presentation, ramp, table, b3));
    ++r.drawn;
  };

  const int rec = cells::RecordSize(tin.res);
  for (int64_t i = 0; i < count; ++i) {
    const cells::TinCell t = cell_at(i);
    if (t.cell < 0 || t.cell >= idx.cell_count) continue;
    const cells::CellRecord* cell = idx.cells[t.cell];
    const geodesy::TangentFrame frame = geodesy::BuildTangentFrame(cell->centre);
    if (t.triangle_count == 0) {
      // One height for the whole cell: its polygon as a fan about the centre.
      if (cells::TinOwnPoints(t) <= 0) continue;
      Vertex centre{}, first{}, prev{};
      place(frame, cell->centre, t.z[0], &centre);
      const int nn = cell->neighbour_count;
      for (int k = 0; k <= nn; ++k) {
        geodesy::DirectionCosines p;
        Vertex v{};
        if (k < nn) {
          cells::VoronoiVertex(idx, t.cell, k, p);
          if (p.x == geodesy::NOVALUE) {
            v.ok = 0;
          } else {
            place(frame, p, t.z[0], &v);
          }
          if (k == 0) first = v;
        } else {
          v = first;
        }
        if (k > 0) fill(centre, prev, v);
        prev = v;
      }
      continue;
    }
    const uint8_t* src = tin.coords + t.point_offset;
    for (int32_t k = 0; k < t.point_count; ++k, src += rec) {
      geodesy::DirectionCosines p;
      uint64_t attribute = 0;
      cells::Restore(idx, t.cell, src, tin.res, p, &attribute);
      place(frame, p, ops::TinHeightOf(attribute), &vx[k]);
    }
    const uint8_t* tri = tin.coords + t.triangle_offset;
    for (int32_t k = 0; k < t.triangle_count; ++k, tri += 12) {
      const int32_t ia = cells::Load<int32_t>(tri), ib = cells::Load<int32_t>(tri + 4),
                    ic = cells::Load<int32_t>(tri + 8);
      if (ia < 0 || ib < 0 || ic < 0 || ia >= t.point_count || ib >= t.point_count || ic >= t.point_count) {
        ++r.skipped;
        continue;
      }
      fill(vx[ia], vx[ib], vx[ic]);
    }
  }
  cairo_surface_mark_dirty(s->bitmap);
  ++s->generation;
  return SURFACE_OK;
}

}  // namespace display
