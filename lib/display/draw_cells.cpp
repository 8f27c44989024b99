// The cell lattice: how each drawing walks the cells.
//
// Edges, duals and spokes are great-circle arcs, each drawn as its own short
// line through the PolylinePen (pen.h): followed along the arc, split at the
// seam, cut at the horizon and the frame. Order
// colours paint each projected cell polygon straight onto the bitmap, which
// looks the same as one area drawing per cell at a fraction of the cost.
#include "lib/display/draw_cells.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/styles.h"
#include "lib/geodesy/ellipsoid.h"

namespace display {

namespace {

const int32_t* VisibleFor(const MapGeometry& g, const cells::CellIndex& idx) {
  for (const VisibleCells& v : g.visible)
    if (v.list && v.index_id == idx.index_id) return v.list;
  return nullptr;
}

// A great-circle piece from a to b, through the pen.
void Arc(const MapGeometry& g, const DirectionCosines& a, const DirectionCosines& b, DrawState* d) {
  if (!geodesy::IsValid(a) || !geodesy::IsValid(b)) return;
  PolylinePen pen(g, d);
  pen.MoveTo(a);
  pen.LineTo(b);
}

bool Listed(const std::vector<int32_t>& list, int32_t cell) {
  return std::binary_search(list.begin(), list.end(), cell);
}

}  // namespace

std::vector<int32_t> CellsToDraw(const MapGeometry& g, const cells::CellIndex& idx, const int32_t* only) {
  std::vector<int32_t> out;
  const int32_t* visible = VisibleFor(g, idx);
  if (only) {
    for (int32_t c : cells::ExpandCellList(only))
      if (c >= 0 && c < idx.cell_count && (!visible || cells::CellListContains(visible, c))) out.push_back(c);
    return out;
  }
  if (visible) {
    for (int32_t c : cells::ExpandCellList(visible))
      if (c >= 0 && c < idx.cell_count) out.push_back(c);
    return out;
  }
  out.reserve(idx.cell_count);
  for (int32_t c = 0; c < idx.cell_count; ++c) out.push_back(c);
  return out;
}

int64_t DrawCellCentres(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                        DrawState* d) {
  int64_t n = 0;
  for (int32_t c : list) {
    if (d->cancelled) break;
    PixelPoint p;
    if (PositionToDevice(g, idx.cells[c]->centre, &p)) {
      Marker(d, p.x, p.y);
      ++n;
    }
  }
  return n;
}

int64_t DrawCellNumbers(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                        DrawState* d) {
  int64_t n = 0;
  for (int32_t c : list) {
    if (d->cancelled) break;
    PixelPoint p;
    if (PositionToDevice(g, idx.cells[c]->centre, &p)) {
      Text(d, p.x, p.y, std::to_string(c));
      ++n;
    }
  }
  return n;
}

int64_t DrawCellOutlines(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                         DrawState* d) {
  int64_t edges = 0;
  for (int32_t c : list) {
    if (d->cancelled) break;
    const cells::CellRecord* r = idx.cells[c];
    const int n = r->neighbour_count;
    DirectionCosines prev;
    cells::VoronoiVertex(idx, c, n - 1, prev);
    for (int k = 0; k < n; ++k) {
      DirectionCosines v;
      cells::VoronoiVertex(idx, c, k, v);
      const int32_t other = r->neighbours[k];
      // A shared edge is drawn by the lower-numbered cell when both are drawn.
      if ((other > c || !Listed(list, other)) && geodesy::IsValid(prev) && geodesy::IsValid(v)) {
        Arc(g, prev, v, d);
        ++edges;
      }
      prev = v;
    }
  }
  return edges;
}

int64_t DrawCellDuals(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                      DrawState* d) {
  int64_t edges = 0;
  for (int32_t c : list) {
    if (d->cancelled) break;
    const cells::CellRecord* r = idx.cells[c];
    for (int k = 0; k < r->neighbour_count; ++k) {
      const int32_t other = r->neighbours[k];
      if (other > c || !Listed(list, other)) {
        Arc(g, r->centre, idx.cells[other]->centre, d);
        ++edges;
      }
    }
  }
  return edges;
}

int64_t DrawCellSpokes(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                       DrawState* d) {
  int64_t spokes = 0;
  for (int32_t c : list) {
    if (d->cancelled) break;
    const cells::CellRecord* r = idx.cells[c];
    for (int k = 0; k < r->neighbour_count; ++k) {
      DirectionCosines v;
      cells::VoronoiVertex(idx, c, k, v);
      if (!geodesy::IsValid(v)) continue;
      Arc(g, r->centre, v, d);
      ++spokes;
    }
  }
  return spokes;
}

int64_t DrawCellOrder(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                      uint32_t background, uint32_t colour, DrawState* d) {
  if (d->kind != kDrawPlain) return 0;
  int64_t filled = 0;
  const bool seam = ProjectionHasSeam(g.projection);
  const double jump = 2.0 / 3.0 * (g.xmax - g.xmin + 1);
  std::vector<DrawPoint> polygon;
  for (int32_t c : list) {
    if (d->cancelled) break;
    const cells::CellRecord* r = idx.cells[c];
    polygon.clear();
    bool whole = true;
    for (int k = 0; k < r->neighbour_count && whole; ++k) {
      DirectionCosines v;
      cells::VoronoiVertex(idx, c, k, v);
      PixelPoint p;
      whole = geodesy::IsValid(v) && PositionToDevice(g, v, &p);
      if (whole && seam && !polygon.empty() && std::fabs(p.x - polygon.back().x) > jump) whole = false;
      if (whole) polygon.push_back({(double)p.x, (double)p.y});
    }
    // A cell cut by the seam or the edge of the projection is left out.
    if (!whole || polygon.size() < 3) continue;
    FillPolygonColour(d, polygon.data(), polygon.size(), CellOrderColour(background, colour, c, idx.cell_count));
    ++filled;
  }
  return filled;
}

}  // namespace display
