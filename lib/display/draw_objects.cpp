// Points, lines and areas of stored objects: how they are visited.
//
// Point and line drawing walk the object's own records (the cell array of a
// point set, the items and pieces of a line or region set), passing over
// cells that the visible-cell list of the object's index leaves out. Lines
// run through the PolylinePen (pen.h): each leg along its great circle, split
// at the seam, cut at the horizon and the frame. A piece in a cell out of
// view contributes its first and last vertex only: a Voronoi cell is convex,
// so its own legs stay out of view, but the legs that join it to the pieces
// before and after (a route from London to New York on a map of Europe) can
// cross the map. A ring is closed by returning to its first vertex.
//
// Area fill decides pixels, not polygons: each pixel centre is turned back
// into a position and tested against the region. Blocks of kFillBlock pixels
// are first sampled at their corners and centre; the point test tells
// whether a sample lies in an interior cell (2), in a cell wholly outside
// (-2), or in a boundary cell (-1, 0, 1), and only blocks with boundary cells
// or mixed samples are tested pixel by pixel.
#include "lib/display/draw_objects.h"

#include <cmath>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/display/draw_map.h"
#include "lib/ops/rset_point_test.h"

namespace display {

namespace {

using cells::Object;

const int32_t* VisibleList(const MapGeometry& g, const cells::CellIndex& idx) {
  for (const VisibleCells& v : g.visible)
    if (v.list && v.index_id == idx.index_id) return v.list;
  return nullptr;
}

bool CellInView(const int32_t* visible, int32_t cell) {
  return !visible || cells::CellListContains(visible, cell);
}


// The vertices of one piece, in order.
void PieceVertices(cells::CellIndex& idx, const Object& obj, const cells::Piece& pc,
                   std::vector<DirectionCosines>* out) {
  out->clear();
  const uint8_t* src = obj.coords + pc.offset;
  for (int32_t k = 0; k < pc.count; ++k) {
    DirectionCosines p;
    src = cells::Restore(idx, pc.cell, src, obj.res, p);
    out->push_back(p);
  }
}

}  // namespace

int64_t DrawObjectPoints(const MapGeometry& g, cells::CellIndex& idx, const Object& obj, int choice,
                         DrawState* d) {
  const int32_t* visible = VisibleList(g, idx);
  int64_t placed = 0;
  auto mark = [&](const DirectionCosines& u) {
    PixelPoint p;
    if (PositionToDevice(g, u, &p)) {
      Marker(d, p.x, p.y);
      ++placed;
    }
  };
  if (obj.kind == cells::kPset || obj.kind == cells::kTinPset) {
    const bool tin = obj.kind == cells::kTinPset;
    const int64_t count = PsetCellCount(obj);
    for (int64_t i = 0; i < count && !d->cancelled; ++i) {
      int32_t cell, offset, n;
      if (tin) {
        const cells::TinCell t = cells::LoadTinCell(obj.structure + PsetCellArrayOffset(obj) + i * cells::kTinCellSize);
        if (!CellInView(visible, t.cell)) continue;
        // "p" the cell's own points, "v" its triangles' vertices, "b" both.
        const int32_t own = cells::TinOwnPoints(t);
        std::vector<bool> take(static_cast<size_t>(t.point_count), false);
        if (choice != kTinVertices)
          for (int32_t k = 0; k < own; ++k) take[k] = true;
        if (choice == kTinVertices || choice == kTinBoth)
          for (int64_t k = 0; k < 3 * int64_t{t.triangle_count}; ++k)
            take[cells::Load<int32_t>(obj.coords + t.triangle_offset + 4 * k)] = true;
        const int rec = cells::RecordSize(obj.res);
        for (int32_t k = 0; k < t.point_count; ++k) {
          if (!take[k]) continue;
          DirectionCosines p;
          cells::Restore(idx, t.cell, obj.coords + t.point_offset + int64_t{k} * rec, obj.res, p);
          mark(p);
        }
        continue;
      } else {
        const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(obj, i));
        cell = c.cell;
        offset = c.offset;
        n = c.count;
      }
      if (!CellInView(visible, cell)) continue;
      const uint8_t* src = obj.coords + offset;
      for (int32_t k = 0; k < n; ++k) {
        DirectionCosines p;
        src = cells::Restore(idx, cell, src, obj.res, p);
        mark(p);
      }
    }
    return placed;
  }
  // Line and region sets: vertices, or the ends of each segment.
  std::vector<DirectionCosines> v;
  const int64_t items = ItemCount(obj);
  for (int64_t i = 0; i < items && !d->cancelled; ++i) {
    const cells::Item item = cells::LoadItem(cells::ItemAt(obj, i));
    for (int32_t k = 0; k < item.count; ++k) {
      const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, item, k));
      const bool first = k == 0, last = k == item.count - 1;
      if (obj.kind == cells::kLset && choice != kAllVertices && !first && !last) continue;
      if (!CellInView(visible, pc.cell)) continue;
      PieceVertices(idx, obj, pc, &v);
      if (v.empty()) continue;
      if (obj.kind == cells::kLset && choice == kStartPoints) {
        if (first) mark(v.front());
      } else if (obj.kind == cells::kLset && choice == kEndPoints) {
        if (last) mark(v.back());
      } else if (obj.kind == cells::kLset && choice == kBothEnds) {
        if (first) mark(v.front());
        if (last) mark(v.back());
      } else {
        for (const DirectionCosines& p : v) mark(p);
      }
    }
  }
  return placed;
}

int64_t DrawObjectLines(const MapGeometry& g, cells::CellIndex& idx, const Object& obj, DrawState* d) {
  if (obj.kind != cells::kLset && obj.kind != cells::kRset) return 0;
  const int32_t* visible = VisibleList(g, idx);
  PolylinePen pen(g, d);
  std::vector<DirectionCosines> v;
  const int64_t items = ItemCount(obj);
  for (int64_t i = 0; i < items && !d->cancelled; ++i) {
    const cells::Item item = cells::LoadItem(cells::ItemAt(obj, i));
    bool have_first = false;
    DirectionCosines ring_start;
    for (int32_t k = 0; k < item.count; ++k) {
      const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, item, k));
      PieceVertices(idx, obj, pc, &v);
      if (v.empty()) continue;
      if (!have_first) {
        ring_start = v.front();
        have_first = true;
      }
      if (CellInView(visible, pc.cell)) {
        for (const DirectionCosines& p : v) pen.Add(p);
      } else {
        // A cell out of view: its legs stay inside it, but the legs that
        // join it to the pieces before and after may cross the map.
        pen.Add(v.front());
        if (v.size() > 1) pen.Add(v.back());
      }
    }
    if (obj.kind == cells::kRset && have_first) pen.Add(ring_start);
    pen.Break();
  }
  return pen.points;
}

int64_t FillObjectAreaExact(const MapGeometry& g, cells::CellIndex& idx, const Object& obj, double fuzz,
                            DrawState* d) {
  if (obj.kind != cells::kRset || !g.params || d->kind != kDrawAreas) return 0;
  ops::RsetTestCache cache;
  const int w = d->surface->width, h = d->surface->height;
  const int x_lo = std::max(0, g.xmin), x_hi = std::min(w - 1, g.xmax);
  const int y_lo = std::max(0, g.ymin), y_hi = std::min(h - 1, g.ymax);
  // The test at a pixel: the region's class, or -3 when the pixel has no position.
  auto test = [&](int x, int y) -> int {
    double X, Y;
    DeviceToPlane(g.transform, x, y, &X, &Y);
    DirectionCosines u;
    if (ProjectInverse(*g.params, g.projection, X, Y, &u) != 0) return -3;
    // Points the forward projection refuses (the far side of an ortho view) are not on the map.
    if (!ProjectForwardAccepts(*g.params, g.projection, u)) return -3;
    return ops::q7_RsetPointTest(idx, u, obj, fuzz, 0, &cache);
  };
  int64_t filled = 0;
  std::vector<int> row_a, row_b;
  for (int by = y_lo; by <= y_hi && !d->cancelled; by += kFillBlock) {
    const int ey = std::min(by + kFillBlock - 1, y_hi);
    for (int bx = x_lo; bx <= x_hi; bx += kFillBlock) {
      const int ex = std::min(bx + kFillBlock - 1, x_hi);
      const int s[5] = {test(bx, by), test(ex, by), test(bx, ey), test(ex, ey), test((bx + ex) / 2, (by + ey) / 2)};
      bool all_in = true, all_out = true;
      for (int r : s) {
        all_in = all_in && r == 2;
        all_out = all_out && (r == -2 || r == -3);
      }
      if (all_out) continue;
      if (all_in) {
        for (int y = by; y <= ey; ++y) MaskSpan(d, y, bx, ex + 1);
        filled += (int64_t)(ex - bx + 1) * (ey - by + 1);
        continue;
      }
      for (int y = by; y <= ey; ++y) {
        int run = -1;
        for (int x = bx; x <= ex + 1; ++x) {
          const bool inside = x <= ex && test(x, y) >= 0;
          if (inside && run < 0) run = x;
          if (!inside && run >= 0) {
            MaskSpan(d, y, run, x);
            filled += x - run;
            run = -1;
          }
        }
      }
    }
  }
  return filled;
}

}  // namespace display
