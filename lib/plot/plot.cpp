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
      for (auto& row : p->rows) row.clear();
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
  if (y < 0 || y >= p->grid_h || y >= (int)p->rows.size()) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, p->grid_w);
  if (x0 < x1) AddRun(&p->rows[(size_t)y], x0, x1);
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
  if (p->rows.empty()) return;
  std::vector<std::vector<display::PixelPoint>> rings;
  std::vector<int> piece;
  TraceRuns(p->rows, &rings, &piece);
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
  p->rows.clear();
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
  p->rows.assign((size_t)p->grid_h, {});
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

void AddRun(std::vector<GridRun>* row, int32_t x0, int32_t x1) {
  if (x0 >= x1) return;
  if (row->empty() || x0 > row->back().x1) {
    row->push_back({x0, x1});
    return;
  }
  // The first run that reaches x0 (touching counts) and those after it that
  // start no later than x1 merge with the new one.
  auto first = std::lower_bound(row->begin(), row->end(), x0,
                                [](const GridRun& r, int32_t v) { return r.x1 < v; });
  auto last = first;
  int32_t a = x0, b = x1;
  while (last != row->end() && last->x0 <= x1) {
    a = std::min(a, last->x0);
    b = std::max(b, last->x1);
    ++last;
  }
  if (first == last) {
    row->insert(first, {a, b});
  } else {
    *first = {a, b};
    row->erase(first + 1, last);
  }
}

namespace {

// Outlines of run-coded cells. Corner (x, y) has the cells A (x-1, y-1),
// B (x, y-1), C (x-1, y) and D (x, y) round it; a boundary edge leaving it
// has a filled cell on its left: +x when D is filled and B not, +y C not D,
// -x A not C, -y B not A.
class RunTracer {
 public:
  explicit RunTracer(const std::vector<std::vector<GridRun>>& rows) : rows_(rows), h_((int)rows.size()) {
    base_.resize(rows_.size() + 1, 0);
    for (size_t j = 0; j < rows_.size(); ++j) base_[j + 1] = base_[j] + rows_[j].size();
  }

  void Trace(std::vector<std::vector<display::PixelPoint>>* rings, std::vector<int>* piece) {
    const std::vector<int> label = Pieces();
    std::vector<uint8_t> seen(base_.back(), 0);  // the run's left edge is on a ring
    for (int j = 0; j < h_; ++j)
      for (size_t k = 0; k < rows_[(size_t)j].size(); ++k) {
        if (seen[base_[(size_t)j] + k]) continue;
        rings->push_back(Ring(rows_[(size_t)j][k].x0, j + 1, &seen));
        piece->push_back(label[base_[(size_t)j] + k]);
      }
  }

 private:
  // The run of row j holding cell x, or -1.
  int RunAt(int x, int j) const {
    if (j < 0 || j >= h_) return -1;
    const auto& r = rows_[(size_t)j];
    auto it = std::upper_bound(r.begin(), r.end(), x, [](int v, const GridRun& q) { return v < q.x1; });
    if (it == r.end() || it->x0 > x) return -1;
    return (int)(it - r.begin());
  }
  bool Filled(int x, int j) const { return RunAt(x, j) >= 0; }

  // The nearest run end of row j beyond corner x in direction dir, or none.
  bool Stop(int j, int x, int dir, int* out) const {
    if (j < 0 || j >= h_) return false;
    const auto& r = rows_[(size_t)j];
    if (dir > 0) {
      auto it = std::upper_bound(r.begin(), r.end(), x, [](int v, const GridRun& q) { return v < q.x1; });
      if (it == r.end()) return false;
      *out = it->x0 > x ? it->x0 : it->x1;
    } else {
      auto it = std::lower_bound(r.begin(), r.end(), x, [](const GridRun& q, int v) { return q.x0 < v; });
      if (it == r.begin()) return false;
      --it;
      *out = it->x1 < x ? it->x1 : it->x0;
    }
    return true;
  }

  // 4-connected pieces: runs of neighbouring rows that share an edge.
  std::vector<int> Pieces() const {
    std::vector<int> parent(base_.back());
    for (size_t i = 0; i < parent.size(); ++i) parent[i] = (int)i;
    auto find = [&](int a) {
      while (parent[(size_t)a] != a) a = parent[(size_t)a] = parent[(size_t)parent[(size_t)a]];
      return a;
    };
    for (int j = 1; j < h_; ++j) {
      const auto& lo = rows_[(size_t)j - 1];
      const auto& hi = rows_[(size_t)j];
      size_t a = 0, b = 0;
      while (a < lo.size() && b < hi.size()) {
        if (std::max(lo[a].x0, hi[b].x0) < std::min(lo[a].x1, hi[b].x1)) {
          const int ra = find((int)(base_[(size_t)j - 1] + a)), rb = find((int)(base_[(size_t)j] + b));
          if (ra != rb) parent[(size_t)std::max(ra, rb)] = std::min(ra, rb);
        }
        if (lo[a].x1 < hi[b].x1) ++a;
        else ++b;
      }
    }
    std::vector<int> label(parent.size(), -1);
    int pieces = 0;
    for (size_t i = 0; i < parent.size(); ++i) {
      const int r = find((int)i);
      if (label[(size_t)r] < 0) label[(size_t)r] = pieces++;
      label[i] = label[(size_t)r];
    }
    return label;
  }

  // The ring through the left edge of the run starting at corner (x0, y0 - 1),
  // walked downwards from (x0, y0); left turns first, so that cells meeting
  // only at a corner stay in separate rings.
  std::vector<display::PixelPoint> Ring(int x0, int y0, std::vector<uint8_t>* seen) const {
    std::vector<display::PixelPoint> ring;
    int x = x0, y = y0, d = 3, prev = -1;
    const int d0 = d;
    while (true) {
      if (d != prev) ring.push_back({x, y});
      prev = d;
      if (d == 3) {
        const int k = RunAt(x, y - 1);
        if (k >= 0) (*seen)[base_[(size_t)y - 1] + (size_t)k] = 1;
        --y;
      } else if (d == 1) {
        ++y;
      } else {
        const int dir = d == 0 ? 1 : -1;
        int s0 = 0, s1 = 0;
        const bool h0 = Stop(y - 1, x, dir, &s0), h1 = Stop(y, x, dir, &s1);
        if (!h0 && !h1) break;  // cannot happen on a closed outline
        x = !h0 ? s1 : !h1 ? s0 : dir > 0 ? std::min(s0, s1) : std::max(s0, s1);
      }
      const bool A = Filled(x - 1, y - 1), B = Filled(x, y - 1), C = Filled(x - 1, y), D = Filled(x, y);
      const int out = (D && !B ? 1 : 0) | (C && !D ? 2 : 0) | (A && !C ? 4 : 0) | (B && !A ? 8 : 0);
      const int left = (d + 1) & 3, right = (d + 3) & 3;
      const int next = (out & (1 << left)) ? left : (out & (1 << d)) ? d : (out & (1 << right)) ? right : -1;
      if (next < 0) break;  // cannot happen on a closed outline
      if (x == x0 && y == y0 && next == d0) {
        // Closed. The start corner is no corner when the ring goes straight
        // through it.
        if (d == d0 && ring.size() > 1) ring.erase(ring.begin());
        break;
      }
      d = next;
    }
    return ring;
  }

  const std::vector<std::vector<GridRun>>& rows_;
  const int h_;
  std::vector<size_t> base_;  // index of each row's first run among all runs
};

}  // namespace

void TraceRuns(const std::vector<std::vector<GridRun>>& rows, std::vector<std::vector<display::PixelPoint>>* rings,
               std::vector<int>* piece) {
  rings->clear();
  piece->clear();
  RunTracer(rows).Trace(rings, piece);
}

void TraceGrid(const uint8_t* grid, int w, int h, std::vector<std::vector<display::PixelPoint>>* rings,
               std::vector<int>* piece) {
  std::vector<std::vector<GridRun>> rows(h > 0 && w > 0 ? (size_t)h : 0);
  for (size_t j = 0; j < rows.size(); ++j)
    for (int i = 0; i < w;) {
      if (!grid[j * (size_t)w + (size_t)i]) {
        ++i;
        continue;
      }
      int e = i;
      while (e < w && grid[j * (size_t)w + (size_t)e]) ++e;
      rows[j].push_back({i, e});
      i = e;
    }
  TraceRuns(rows, rings, piece);
}

}  // namespace plot
