// Map geometry set-up, the pixel transform, the visible-cell lists and the
// window outline.
//
// Set-up checks its arguments in a fixed order (parameters, the conical
// equator rule, scale limits and the projection code), fills the projection's
// parameter block, derives plane units per device unit from the pixel size,
// the scale and the earth radius at the centre (world-wide maps instead fit
// the whole world into the frame, trimming the frame to the world's aspect
// unless the scale is NOVALUE), and checks that every frame corner of the
// bounded projections has a point on the globe. Nothing stays allocated when
// it fails.
//
// Visible cells: a breadth-first walk from the cell holding the centre
// through neighbours, keeping every cell whose centre or a Voronoi vertex
// projects onto the plane rectangle of the frame; ortho keeps the cells
// within about 87 degrees of the centre; world-wide maps list every cell.
// The walk's bit sets and queue come from the workspace above its top (given
// back before returning), or from the heap when the workspace has no room.
#include "lib/display/map_geometry.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/geodesy/constants.h"
#include "platform/memcheck.h"
#include "platform/workspace.h"

namespace display {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// Blocks of a record come from the alternative arena or the checked heap.
void* TakeBlock(platform::Workspace* arena, size_t bytes) {
  if (arena != nullptr) {
    if (bytes > 0x7FFFFFF0u) return nullptr;
    return platform::WorkspaceAlloc(arena, static_cast<int32_t>(bytes));
  }
  return platform::CheckedAlloc(bytes);
}

void GiveBlock(platform::Workspace* arena, void* block) {
  // An arena's blocks go back with the arena itself.
  if (arena == nullptr && block != nullptr) platform::CheckedFree(block);
}

bool ValidCentre(const DirectionCosines& c) {
  if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.z)) return false;
  if (c.x == geodesy::NOVALUE) return false;
  return std::fabs(geodesy::Dot(c, c) - 1.0) < 1e-6;
}

bool KnownCode(uint32_t code) {
  switch (code) {
    case PROJ_STEREO:
    case PROJ_ORTHO:
    case PROJ_WWMERC:
    case PROJ_GNOMONIC:
    case PROJ_CONICAL:
    case PROJ_MERCATOR:
    case PROJ_PERSPECT:
    case PROJ_WWVIEW:
    case PROJ_EQDISTCYL:
    case PROJ_WWPLTCRR: return true;
    default: return false;
  }
}

bool ScaleInRange(uint32_t code, double scale) {
  if (code == PROJ_ORTHO) return scale >= MIN_ORTHO_SCALE && scale <= MAX_ORTHO_SCALE;
  if (IsWorldWide(code) && scale == geodesy::NOVALUE) return true;
  return scale >= MIN_SCALE && scale <= MAX_SCALE;
}

// Projections whose frame corners must all lie on the globe.
bool CornersChecked(uint32_t code) {
  return code == PROJ_STEREO || code == PROJ_GNOMONIC || code == PROJ_CONICAL ||
         code == PROJ_MERCATOR || code == PROJ_EQDISTCYL;
}

int64_t Abs64(int64_t v) { return v < 0 ? -v : v; }

// Integer halving as the frame arithmetic does it (towards zero).
int32_t Centre(int32_t a, int32_t b) {
  return static_cast<int32_t>((static_cast<int64_t>(a) + b + 1) / 2);
}

void FreeSlot(MapGeometry* g, int slot) {
  GiveBlock(g->arena, g->visible[slot].list);
  g->visible[slot].list = nullptr;
  g->visible[slot].index_id = 0;
}

// Scratch for a walk over the cells: from the workspace (above its top, not
// kept) when it has room, else from the heap, so that a small workspace
// never keeps a map from being drawn.
struct WalkScratch {
  std::vector<uint32_t> heap;
  uint32_t* words = nullptr;
  bool Take(platform::Workspace* ws, size_t count) {
    if (ws != nullptr && count * 4 <= 0x7FFFFFF0u) {
      words = static_cast<uint32_t*>(platform::WorkspacePeek(ws, static_cast<int32_t>(count * 4)));
      if (words != nullptr) return true;
    }
    try {
      heap.assign(count, 0u);
    } catch (...) {
      return false;
    }
    words = heap.data();
    return true;
  }
};

// True when p projects with status 0 inside the rectangle |X| <= hw, |Y| <= hh.
bool ShowsInRect(const MapGeometry& g, const DirectionCosines& p, double hw, double hh) {
  double X, Y;
  if (ProjectForward(*g.params, g.projection, p, &X, &Y) != 0) return false;
  return std::fabs(X) <= hw && std::fabs(Y) <= hh;
}

bool CellShows(const cells::CellIndex& idx, const MapGeometry& g, int32_t cell, double hw,
               double hh) {
  const cells::CellRecord* r = idx.cells[cell];
  if (ShowsInRect(g, r->centre, hw, hh)) return true;
  for (int k = 0; k < r->neighbour_count; ++k) {
    DirectionCosines v;
    if (cells::VoronoiVertex(idx, cell, k, v) == 0 && !geodesy::IsValid(v)) continue;
    if (ShowsInRect(g, v, hw, hh)) return true;
  }
  return false;
}

// Makes a slot's list from the cells marked in a bit set, ascending.
int ListFromBits(const cells::CellIndex& idx, const uint32_t* bits, MapGeometry* g, int slot) {
  int64_t count = 0;
  for (int32_t c = 0; c < idx.cell_count; ++c) count += cells::BitSetTest(bits, c) ? 1 : 0;
  int32_t* list = static_cast<int32_t*>(TakeBlock(g->arena, static_cast<size_t>(count + 1) * 4));
  if (list == nullptr) return MAPGEOM_NO_MEMORY;
  int32_t n = 1;
  for (int32_t c = 0; c < idx.cell_count; ++c) {
    if (cells::BitSetTest(bits, c)) list[n++] = c;
  }
  list[0] = n;
  cells::CompressCellList(list);
  g->visible[slot].list = list;
  g->visible[slot].index_id = idx.index_id;
  return 0;
}

int WalkVisibleCells(cells::CellIndex* idx, platform::Workspace* ws, MapGeometry* g, int slot) {
  const size_t set_words = cells::BitSetWords(idx->cell_count);
  const size_t cells_n = static_cast<size_t>(idx->cell_count);
  WalkScratch scratch;
  if (!scratch.Take(ws, 2 * set_words + cells_n)) return MAPGEOM_NO_MEMORY;
  uint32_t* seen = scratch.words;
  uint32_t* kept = seen + set_words;
  uint32_t* queue = kept + set_words;
  cells::BitSetClearAll(seen, idx->cell_count);
  cells::BitSetClearAll(kept, idx->cell_count);
  const double hw = std::fabs(g->plane_width) / 2, hh = std::fabs(g->plane_height) / 2;

  const int32_t start = cells::Locate(*idx, g->centre);
  if (start < 0 || start >= idx->cell_count) return MAPGEOM_NO_MEMORY;
  size_t head = 0, tail = 0;
  queue[tail++] = static_cast<uint32_t>(start);
  cells::BitSetSet(seen, start);
  // The cell holding the centre shows the centre, even when the whole frame
  // lies inside it; the others must show their centre or a vertex.
  bool first = true;
  while (head < tail) {
    const int32_t c = static_cast<int32_t>(queue[head++]);
    if (!first && !CellShows(*idx, *g, c, hw, hh)) continue;
    first = false;
    cells::BitSetSet(kept, c);
    const cells::CellRecord* r = idx->cells[c];
    for (int k = 0; k < r->neighbour_count; ++k) {
      const int32_t m = r->neighbours[k];
      if (m < 0 || m >= idx->cell_count || cells::BitSetTest(seen, m)) continue;
      cells::BitSetSet(seen, m);
      queue[tail++] = static_cast<uint32_t>(m);
    }
  }
  return ListFromBits(*idx, kept, g, slot);
}

int HemisphereCells(cells::CellIndex* idx, platform::Workspace* ws, MapGeometry* g, int slot) {
  const size_t set_words = cells::BitSetWords(idx->cell_count);
  WalkScratch scratch;
  if (!scratch.Take(ws, set_words)) return MAPGEOM_NO_HEMISPHERE_MEMORY;
  uint32_t* kept = scratch.words;
  cells::BitSetClearAll(kept, idx->cell_count);
  // A squared chord of 1.9 is about 87.1 degrees: the visible hemisphere
  // and the cells that reach over its rim.
  for (int32_t c = 0; c < idx->cell_count; ++c) {
    if (geodesy::ChordSq(idx->cells[c]->centre, g->centre) < 1.9) cells::BitSetSet(kept, c);
  }
  const int status = ListFromBits(*idx, kept, g, slot);
  return status == MAPGEOM_NO_MEMORY ? MAPGEOM_NO_HEMISPHERE_MEMORY : status;
}

int AllCells(cells::CellIndex* idx, MapGeometry* g, int slot) {
  int32_t* list = static_cast<int32_t*>(TakeBlock(g->arena, 3 * 4));
  if (list == nullptr) return MAPGEOM_NO_MEMORY;
  list[0] = idx->cell_count > 1 ? 3 : (idx->cell_count == 1 ? 2 : 1);
  list[1] = 0;
  list[2] = 1 - idx->cell_count;
  g->visible[slot].list = list;
  g->visible[slot].index_id = idx->index_id;
  return 0;
}

}  // namespace

PixelTransform MakePixelTransform(const DeviceFrame& f, double sx, double sy, uint32_t rot_ref) {
  PixelTransform t;
  if (rot_ref & 8u) sx = -sx;
  if (rot_ref & 4u) sy = -sy;
  const int32_t cx = Centre(f.x0, f.x1), cy = Centre(f.y0, f.y1);
  t.sx = sx;
  t.sy = sy;
  t.inv_sx = 1.0 / sx;
  t.inv_sy = 1.0 / sy;
  t.px0 = cx + 0.5;
  t.py0 = cy + 0.5;
  t.ox = -(cx + 0.5) * sx;
  t.oy = -(cy + 0.5) * sy;
  return t;
}

void DeviceToPlane(const PixelTransform& t, int32_t x, int32_t y, double* X, double* Y) {
  *X = (x + 0.5) * t.sx + t.ox;
  *Y = (y + 0.5) * t.sy + t.oy;
}

void DeviceCornerToPlane(const PixelTransform& t, int32_t x, int32_t y, double* X, double* Y) {
  *X = (x + 1.0) * t.sx + t.ox;
  *Y = (y + 1.0) * t.sy + t.oy;
}

void PlaneToDeviceExact(const PixelTransform& t, double X, double Y, double* x, double* y) {
  *x = X / t.sx + t.px0;
  *y = Y / t.sy + t.py0;
}

PixelPoint PlaneToDevice(const PixelTransform& t, double X, double Y) {
  double x, y;
  PlaneToDeviceExact(t, X, Y, &x, &y);
  // Clamped first, so that far-off points (and HUGE_VALUE) give safe
  // integers; then the device point whose square holds the plane point, also
  // left of and above the frame's origin.
  x = x != x ? 0.0 : std::fmax(-DEVICE_CLAMP, std::fmin(DEVICE_CLAMP, x));
  y = y != y ? 0.0 : std::fmax(-DEVICE_CLAMP, std::fmin(DEVICE_CLAMP, y));
  return {static_cast<int32_t>(std::floor(x)), static_cast<int32_t>(std::floor(y))};
}

double GeocentricRadius(const geodesy::Ellipsoid& e, const DirectionCosines& c) {
  const double rho2 = c.x * c.x + c.y * c.y;
  if (rho2 < geodesy::SAME_POINT_SQ) return e.b;
  const double rho = std::sqrt(rho2);
  // Geodetic latitude of the surface point in direction c.
  const double phi = std::atan2(e.a2 / e.b2 * c.z, rho);
  const double cp = std::cos(phi), sp = std::sin(phi);
  const double inv_r = (rho / cp) * std::sqrt(e.a2 * cp * cp + e.b2 * sp * sp) / e.a2;
  return 1.0 / inv_r;
}

void ReleaseMapGeometry(MapGeometry* g) {
  if (g == nullptr) return;
  for (int s = 0; s < VISIBLE_SLOTS; ++s) FreeSlot(g, s);
  GiveBlock(g->arena, g->params);
  GiveBlock(g->arena, g->points);
  *g = MapGeometry{};
}

int BuildVisibleCells(cells::CellIndex* index, platform::Workspace* workspace, MapGeometry* g,
                      int slot) {
  if (slot < 0 || slot >= VISIBLE_SLOTS || g->params == nullptr) return -1;
  if (g->projection == PROJ_PERSPECT) return -1;
  if (!KnownCode(g->projection) && g->projection != PROJ_TILESET) return -1;
  FreeSlot(g, slot);
  if (index == nullptr || index->cell_count <= 0 || index->cells == nullptr) return -1;
  platform::WorkspaceMark mark(workspace);
  if (IsWorldWide(g->projection)) return AllCells(index, g, slot);
  if (g->projection == PROJ_ORTHO) return HemisphereCells(index, workspace, g, slot);
  return WalkVisibleCells(index, workspace, g, slot);
}

int SetUpMapGeometry(cells::CellIndex* index, platform::Workspace* workspace,
                     platform::Workspace* arena, const geodesy::Ellipsoid* ellipsoid,
                     const GeometrySpec& spec, MapGeometry* g) {
  *g = MapGeometry{};
  const DeviceFrame& f = spec.frame;
  // 1. Parameters.
  if (ellipsoid == nullptr || !(ellipsoid->a > 0.0) || !(ellipsoid->b > 0.0)) return MAPGEOM_PARAMETER;
  if (!(spec.pixel_width >= MIN_PIXEL_SIZE) || !(spec.pixel_height >= MIN_PIXEL_SIZE) ||
      !std::isfinite(spec.pixel_width) || !std::isfinite(spec.pixel_height)) {
    return MAPGEOM_PARAMETER;
  }
  if (Abs64(static_cast<int64_t>(f.x1) - f.x0) < MIN_FRAME ||
      Abs64(static_cast<int64_t>(f.y1) - f.y0) < MIN_FRAME) {
    return MAPGEOM_PARAMETER;
  }
  if (spec.point_capacity < MIN_POINT_CAPACITY) return MAPGEOM_PARAMETER;
  const uint32_t code = spec.projection;
  const DirectionCosines& c = spec.centre;
  // 2. The cone degenerates near the equator.
  if (code == PROJ_CONICAL && std::fabs(c.z) < 0.09) return MAPGEOM_CONICAL_EQUATOR;
  // 3. The centre device point.
  const int32_t cx = Centre(f.x0, f.x1), cy = Centre(f.y0, f.y1);
  // 4. The projection code, then the scale limits.
  if (!KnownCode(code)) return MAPGEOM_NOT_HERE;
  if (!ScaleInRange(code, spec.scale)) return MAPGEOM_PARAMETER;
  if (!ValidCentre(c)) return MAPGEOM_REFUSED;

  // 5. The frame and the parameter block.
  g->frame = f;
  g->arena = arena;
  g->params = static_cast<ProjectionParams*>(TakeBlock(arena, sizeof(ProjectionParams)));
  g->points = static_cast<PixelPoint*>(
      TakeBlock(arena, static_cast<size_t>(spec.point_capacity) * sizeof(PixelPoint)));
  auto fail = [&](int code_out) {
    ReleaseMapGeometry(g);
    return code_out;
  };
  if (g->params == nullptr || g->points == nullptr) return fail(MAPGEOM_NO_MEMORY);
  new (g->params) ProjectionParams();
  if (SetUpProjection(code, c, spec.up, g->params) != 0) return fail(MAPGEOM_REFUSED);
  g->projection = code;
  g->centre = c;

  // 6. Plane units per device unit.
  double sx, sy;
  if (IsWorldWide(code)) {
    const double h = WorldPlaneHeight(code);
    int64_t w = Abs64(static_cast<int64_t>(f.x1) - f.x0);
    int64_t v = Abs64(static_cast<int64_t>(f.y1) - f.y0);
    if (spec.scale != geodesy::NOVALUE) {
      // Trim the frame to the world's aspect.
      const double per_m_y = h / (spec.pixel_height * v);  // plane units per metre, vertically
      const double per_m_x = kTwoPi / (spec.pixel_width * w);
      if (per_m_y > per_m_x) {
        const int32_t w2 = static_cast<int32_t>(kTwoPi / (per_m_y * spec.pixel_width)) / 2;
        g->frame.x0 = f.x1 >= f.x0 ? cx - w2 : cx + w2;
        g->frame.x1 = f.x1 >= f.x0 ? cx + w2 : cx - w2;
      } else {
        const int32_t v2 = static_cast<int32_t>(h / (per_m_x * spec.pixel_height)) / 2;
        g->frame.y0 = f.y1 >= f.y0 ? cy - v2 : cy + v2;
        g->frame.y1 = f.y1 >= f.y0 ? cy + v2 : cy - v2;
      }
      w = Abs64(static_cast<int64_t>(g->frame.x1) - g->frame.x0);
      v = Abs64(static_cast<int64_t>(g->frame.y1) - g->frame.y0);
      if (w < 1 || v < 1) return fail(MAPGEOM_REFUSED);
    }
    sx = kTwoPi / static_cast<double>(w);
    sy = h / static_cast<double>(v);
    g->scale = ellipsoid->a * kTwoPi / (spec.pixel_width * static_cast<double>(w));
    g->plane_width = kTwoPi;
    g->plane_height = h;
  } else {
    const double r = code == PROJ_ORTHO ? std::cbrt(ellipsoid->a2 * ellipsoid->b)
                                        : GeocentricRadius(*ellipsoid, c);
    sx = spec.pixel_width * spec.scale / r;
    sy = spec.pixel_height * spec.scale / r;
    g->scale = spec.scale;
  }
  if (!(sx >= MIN_PIXEL_SIZE) || !(sy >= MIN_PIXEL_SIZE)) return fail(MAPGEOM_REFUSED);

  // 7. Signs from the frame's direction, then the transform with rot-ref.
  const DeviceFrame& t = g->frame;
  if (t.x1 < t.x0) sx = -sx;
  if (t.y1 < t.y0) sy = -sy;
  g->transform = MakePixelTransform(t, sx, sy, spec.rot_ref);

  // 8. The plane extent, and the corners of the bounded projections.
  if (!IsWorldWide(code)) {
    double xa, ya, xb, yb;
    DeviceToPlane(g->transform, t.x0, t.y0, &xa, &ya);
    DeviceToPlane(g->transform, t.x1, t.y1, &xb, &yb);
    g->plane_width = std::fabs(xb - xa);
    g->plane_height = std::fabs(yb - ya);
    if (CornersChecked(code)) {
      const int32_t xs[4] = {t.x0, t.x1, t.x1, t.x0}, ys[4] = {t.y0, t.y0, t.y1, t.y1};
      for (int k = 0; k < 4; ++k) {
        double X, Y;
        DirectionCosines u;
        DeviceToPlane(g->transform, xs[k], ys[k], &X, &Y);
        if (ProjectInverse(*g->params, code, X, Y, &u) != 0) return fail(MAPGEOM_REFUSED);
      }
    }
  }

  // 9. The rest of the record.
  g->current_pen = -1;
  g->point_capacity = spec.point_capacity;
  g->point_count = 0;
  g->xmin = std::min(t.x0, t.x1);
  g->xmax = std::max(t.x0, t.x1);
  g->ymin = std::min(t.y0, t.y1);
  g->ymax = std::max(t.y0, t.y1);
  g->ellipsoid = ellipsoid;
  g->rot_ref = spec.rot_ref;

  // 10. The visible cells of the loaded index.
  if (index != nullptr) {
    const int status = BuildVisibleCells(index, workspace, g, 0);
    if (status > 0) return fail(status);
  }
  return MAPGEOM_OK;
}

namespace {

int OutlinePoints(const MapGeometry& g, DirectionCosines* out) {
  if (g.params == nullptr) return 0;
  int n = 0;
  if (g.projection == PROJ_ORTHO) {
    // Counterclockwise in the plane, which is the sphere seen from above the
    // centre whatever the rot-ref.
    for (int k = 0; k < 180; ++k) {
      const double a = 2.0 * k * 0.017453292519943295;
      DirectionCosines u;
      if (ProjectInverse(*g.params, g.projection, 0.99 * std::cos(a), 0.99 * std::sin(a), &u) == 0) {
        out[n++] = u;
      }
    }
    return n;
  }
  if (IsWorldWide(g.projection)) {
    // About the edge meridian: up its west side, west along 80 N, down its
    // east side, east along 80 S. The seam of 0.2 degrees is where the map
    // wraps; the polar caps beyond 80 degrees are left out.
    const double le = std::atan2(g.params->world.opposite.y, g.params->world.opposite.x);
    constexpr double d = 0.017453292519943295;
    const double pts[12][2] = {{-80, -0.1}, {0, -0.1},  {80, -0.1},  {80, 270},
                               {80, 180},   {80, 90},   {80, 0.1},   {0, 0.1},
                               {-80, 0.1},  {-80, 90},  {-80, 180},  {-80, 270}};
    for (const auto& p : pts) {
      const double lat = p[0] * d;
      const double lon = WrapAngle(WrapAngle(le + p[1] * d));
      out[n++] = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
    }
    return n;
  }
  if (!CornersChecked(g.projection)) return 0;
  const DeviceFrame& f = g.frame;
  const int32_t ym = static_cast<int32_t>((static_cast<int64_t>(f.y0) + f.y1) / 2);
  const int32_t xm = static_cast<int32_t>((static_cast<int64_t>(f.x0) + f.x1) / 2);
  const int32_t xl = static_cast<int32_t>((static_cast<int64_t>(f.x0) + xm) / 2);
  const int32_t xr = static_cast<int32_t>((static_cast<int64_t>(f.x1) + xm) / 2);
  const int32_t dev[12][2] = {{f.x1, f.y0}, {f.x1, ym},   {f.x1, f.y1}, {xr, f.y1},
                              {xm, f.y1},   {xl, f.y1},   {f.x0, f.y1}, {f.x0, ym},
                              {f.x0, f.y0}, {xl, f.y0},   {xm, f.y0},   {xr, f.y0}};
  for (const auto& p : dev) {
    double X, Y;
    DirectionCosines u;
    DeviceToPlane(g.transform, p[0], p[1], &X, &Y);
    if (ProjectInverse(*g.params, g.projection, X, Y, &u) == 0) out[n++] = u;
  }
  // The frame runs counterclockwise in the plane; a single mirror turns it.
  const bool mirrored = ((g.rot_ref & 4u) != 0) != ((g.rot_ref & 8u) != 0);
  if (mirrored) std::reverse(out, out + n);
  return n;
}

}  // namespace

int WindowOutline(const MapGeometry& g, DirectionCosines* out) { return OutlinePoints(g, out); }

int q7_RsetWindow(cells::CellIndex& idx, const MapGeometry& g, cells::SectionTarget target,
                  const cells::BuildParams& params, cells::Object& out) {
  DirectionCosines pts[WINDOW_OUTLINE_MAX];
  const int n = OutlinePoints(g, pts);
  if (n < 3) return 1;
  std::vector<cells::PointNode> nodes;
  nodes.reserve(n + 1);
  for (int i = 0; i < n; ++i) nodes.push_back({pts[i], 0});
  nodes.push_back(cells::Mark(1));
  return cells::BuildRset(idx, target, params, nodes, out);
}

}  // namespace display
