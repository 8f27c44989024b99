// The plot target of the drawing states, and the fill grid's outlines.
#include "lib/plot/plot.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace plot {

namespace {

Plot* Of(void* p) { return static_cast<Plot*>(p); }

void Spill(Plot* p) {
  if (p->pending.size() >= kPlotFlushBytes) FlushPlot(p);
}

void OpOpen(void* pp, const display::DrawState& d) {
  Plot* p = Of(pp);
  switch (d.kind) {
    case display::kDrawMarkers: {
      display::LineStyle pen;
      pen.colour = d.marker.colour;
      pen.pattern = d.marker.pattern;
      p->pending += WindowCommand(p->frame);
      p->pending += PenCommands(p->mode, pen, p->background);
      break;
    }
    case display::kDrawLines:
      p->pending += WindowCommand(p->frame);
      p->pending += PenCommands(p->mode, d.line, p->background);
      break;
    case display::kDrawAreas:
      p->pending += WindowCommand(p->frame);
      p->pending += FillCommand(d.area.pattern);
      p->pending += ';';
      std::fill(p->grid.begin(), p->grid.end(), 0);
      break;
    default:
      break;
  }
}

void OpPolyline(void* pp, const display::DrawPoint* pts, size_t n) {
  Plot* p = Of(pp);
  AppendPolyline(p->pending, pts, n);
  Spill(p);
}

void OpPolygon(void* pp, const display::DrawPoint* pts, size_t n) {
  Plot* p = Of(pp);
  AppendPolygon(p->pending, pts, n);
  Spill(p);
}

void OpRings(void* pp, const std::vector<std::vector<display::DrawPoint>>& rings) {
  Plot* p = Of(pp);
  std::vector<Ring> out;
  for (const auto& r : rings) {
    if (r.size() < 3) continue;
    Ring ring;
    for (const auto& q : r) ring.points.push_back({PlotUnit(q.x), PlotUnit(q.y)});
    out.push_back(std::move(ring));
  }
  AppendRings(p->pending, out);
  Spill(p);
}

void OpSpan(void* pp, int y, int x0, int x1) {
  Plot* p = Of(pp);
  if (y < 0 || y >= p->grid_h) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, p->grid_w);
  if (x0 < x1) memset(p->grid.data() + (size_t)y * p->grid_w + x0, 1, (size_t)(x1 - x0));
}

void OpMarker(void* pp, double x, double y) {
  Plot* p = Of(pp);
  AppendDot(p->pending, x, y);
  Spill(p);
}

void OpText(void* pp, double x, double y, const std::string& text) {
  Plot* p = Of(pp);
  AppendLabel(p->pending, x, y, text);
  Spill(p);
}

// The decided grid becomes one even-odd fill per connected piece.
void WriteGrid(Plot* p) {
  if (p->grid.empty()) return;
  std::vector<std::vector<display::PixelPoint>> rings;
  std::vector<int> piece;
  TraceGrid(p->grid.data(), p->grid_w, p->grid_h, &rings, &piece);
  std::vector<size_t> order(rings.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return piece[a] < piece[b]; });
  const int32_t half = kFillCell / 2;
  for (size_t k = 0; k < order.size();) {
    std::vector<Ring> fill;
    const int id = piece[order[k]];
    for (; k < order.size() && piece[order[k]] == id; ++k) {
      Ring r;
      for (const auto& c : rings[order[k]])
        r.points.push_back({p->grid_x0 + kFillCell * c.x - half, p->grid_y0 + kFillCell * c.y - half});
      fill.push_back(std::move(r));
    }
    AppendRings(p->pending, fill);
    Spill(p);
  }
}

void OpClose(void* pp, const display::DrawState& d) {
  Plot* p = Of(pp);
  if (d.kind == display::kDrawAreas) WriteGrid(p);
  FlushPlot(p);
}

const display::PlotOps kOps = [] {
  display::PlotOps o;
  o.open = OpOpen;
  o.polyline = OpPolyline;
  o.polygon = OpPolygon;
  o.rings = OpRings;
  o.span = OpSpan;
  o.marker = OpMarker;
  o.text = OpText;
  o.close = OpClose;
  return o;
}();

}  // namespace

void InitPlot(Plot* p, int mode, const display::DeviceFrame& frame, uint32_t background, PlotSink sink) {
  p->mode = mode >= kColourPlot ? kColourPlot : kMonoPlot;
  p->frame = frame;
  p->background = background & 0xffffffu;
  p->sink = sink;
  p->pending.clear();
  p->failed = false;
  p->bytes = 0;
  p->grid.clear();
  p->grid_w = p->grid_h = 0;
  p->target.ops = &kOps;
  p->target.plot = p;
  p->target.capacity = kPlotCapacity;
  p->target.fill_width = p->target.fill_height = 0;
}

void PlotWrite(Plot* p, const char* data, size_t n) {
  p->pending.append(data, n);
  Spill(p);
}

bool FlushPlot(Plot* p) {
  if (!p->pending.empty() && !p->failed) {
    if (!p->sink.write || !p->sink.write(p->sink.context, p->pending.data(), p->pending.size()))
      p->failed = true;
    else
      p->bytes += (int64_t)p->pending.size();
  }
  p->pending.clear();
  return !p->failed;
}

const display::PlotTarget* Target(Plot* p) { return &p->target; }

int SetUpFillGrid(Plot* p, const display::GeometrySpec& plot_spec, const geodesy::Ellipsoid* ellipsoid,
                  cells::CellIndex* index, platform::Workspace* workspace, display::MapGeometry* fill_geometry,
                  display::DisplaySurface* grid_surface) {
  const display::DeviceFrame& f = plot_spec.frame;
  const int32_t w = std::max<int32_t>(display::MIN_FRAME, std::abs(f.x1 - f.x0) / kFillCell);
  const int32_t h = std::max<int32_t>(display::MIN_FRAME, std::abs(f.y1 - f.y0) / kFillCell);
  display::GeometrySpec spec = plot_spec;
  spec.pixel_width *= (double)std::abs(f.x1 - f.x0) / (kFillCell * (double)w) * kFillCell;
  spec.pixel_height *= (double)std::abs(f.y1 - f.y0) / (kFillCell * (double)h) * kFillCell;
  // The same directions as the plot frame, from device (0, 0).
  spec.frame.x0 = f.x0 <= f.x1 ? 0 : w;
  spec.frame.x1 = f.x0 <= f.x1 ? w : 0;
  spec.frame.y0 = f.y0 <= f.y1 ? 0 : h;
  spec.frame.y1 = f.y0 <= f.y1 ? h : 0;
  spec.point_capacity = kPlotCapacity;
  const int st = display::SetUpMapGeometry(index, workspace, nullptr, ellipsoid, spec, fill_geometry);
  if (st != display::MAPGEOM_OK) return st;
  p->grid_w = w + 1;
  p->grid_h = h + 1;
  p->grid.assign((size_t)p->grid_w * p->grid_h, 0);
  // Grid cell (0, 0) lies at the frame's low corner.
  p->grid_x0 = std::min(f.x0, f.x1);
  p->grid_y0 = std::min(f.y0, f.y1);
  p->target.fill_width = p->grid_w;
  p->target.fill_height = p->grid_h;
  *grid_surface = display::DisplaySurface();
  grid_surface->width = p->grid_w;
  grid_surface->height = p->grid_h;
  return st;
}

void TraceGrid(const uint8_t* grid, int w, int h, std::vector<std::vector<display::PixelPoint>>* rings,
               std::vector<int>* piece) {
  rings->clear();
  piece->clear();
  if (w <= 0 || h <= 0) return;
  auto filled = [&](int i, int j) { return i >= 0 && j >= 0 && i < w && j < h && grid[(size_t)j * w + i]; };
  // Pieces: 4-connected components of filled cells.
  std::vector<int> label((size_t)w * h, -1);
  std::vector<int> stack;
  int pieces = 0;
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      if (!filled(i, j) || label[(size_t)j * w + i] >= 0) continue;
      label[(size_t)j * w + i] = pieces;
      stack.push_back(j * w + i);
      while (!stack.empty()) {
        const int c = stack.back();
        stack.pop_back();
        const int ci = c % w, cj = c / w;
        const int ni[4] = {ci + 1, ci - 1, ci, ci}, nj[4] = {cj, cj, cj + 1, cj - 1};
        for (int k = 0; k < 4; ++k)
          if (filled(ni[k], nj[k]) && label[(size_t)nj[k] * w + ni[k]] < 0) {
            label[(size_t)nj[k] * w + ni[k]] = pieces;
            stack.push_back(nj[k] * w + ni[k]);
          }
      }
      ++pieces;
    }
  // Boundary edges, filled cell on the left: bit d of out[v] is an edge
  // leaving corner v in direction d (0 +x, 1 +y, 2 -x, 3 -y).
  const int vw = w + 1;
  std::vector<uint8_t> out((size_t)vw * (h + 1), 0);
  auto V = [&](int i, int j) { return (size_t)j * vw + i; };
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      if (!filled(i, j)) continue;
      if (!filled(i, j - 1)) out[V(i, j)] |= 1;
      if (!filled(i + 1, j)) out[V(i + 1, j)] |= 2;
      if (!filled(i, j + 1)) out[V(i + 1, j + 1)] |= 4;
      if (!filled(i - 1, j)) out[V(i, j + 1)] |= 8;
    }
  static const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
  for (int j = 0; j <= h; ++j)
    for (int i = 0; i <= w; ++i) {
      while (out[V(i, j)]) {
        int d = 0;
        while (!(out[V(i, j)] & (1 << d))) ++d;
        // The cell on the left of the first edge names the piece.
        const int li = d == 0 ? i : d == 1 ? i - 1 : d == 2 ? i - 1 : i;
        const int lj = d == 0 ? j : d == 1 ? j : d == 2 ? j - 1 : j - 1;
        std::vector<display::PixelPoint> ring;
        const int d0 = d;
        int ci = i, cj = j, prev = -1;
        while (true) {
          out[V(ci, cj)] &= (uint8_t)~(1 << d);
          if (d != prev) ring.push_back({ci, cj});
          prev = d;
          ci += dx[d];
          cj += dy[d];
          uint8_t o = out[V(ci, cj)];
          const bool at_start = ci == i && cj == j;
          if (at_start) o |= (uint8_t)(1 << d0);
          if (!o) break;  // cannot happen on a closed boundary
          // Turn left first, then straight, then right: cells touching only
          // at a corner stay in separate rings.
          const int left = (d + 1) & 3, right = (d + 3) & 3;
          const int next = (o & (1 << left)) ? left : (o & (1 << d)) ? d : right;
          if (at_start && next == d0) {
            // Closed. The start corner is no corner when the ring goes
            // straight through it.
            if (d == d0 && ring.size() > 1) ring.erase(ring.begin());
            break;
          }
          d = next;
        }
        rings->push_back(std::move(ring));
        piece->push_back(label[(size_t)lj * w + li]);
      }
    }
}

}  // namespace plot
