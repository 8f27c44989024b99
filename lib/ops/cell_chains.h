// The legs of a line set or region that run through one cell, as chains of
// plane points in that cell's TangentFrame.
//
// Every piece of an item in the cell becomes one chain: the last vertex of
// the item before the piece (found in the nearest earlier piece that holds
// vertices, round the ring for a region), the piece's own vertices, and the
// first vertex after it. A piece without vertices (the item only crosses the
// cell) is the single leg from the vertex before to the vertex after. A line
// that starts or ends in the piece has no vertex before or after; the chain
// records that with open_start / open_end. Vertices of other cells are
// projected into this cell's plane; one 90 degrees or more from the cell
// centre is first moved along its leg to 87 degrees from it, where the leg
// still projects as the same straight line near the cell.
//
// The legs that join a piece to the vertices of other cells are cut at the
// cell's Voronoi polygon (widened by a few centimetres): what lies outside
// the cell is measured in the cells it runs through.
//
// Consecutive equal plane points are dropped, so no leg of a chain has
// length 0. A chain may hold a single point (a one-vertex line).
#pragma once

#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/ops/leg_predicates.h"

namespace ops {

struct CellChains {
  std::int32_t cell = cells::NO_CELL;
  std::vector<PlanePoint> points;
  std::vector<std::int32_t> start;  // chain k is points[start[k] .. start[k+1])
  std::vector<std::int32_t> item;   // the item of chain k
  std::vector<std::uint8_t> open_start, open_end;  // line ends in the piece
  std::vector<double> xbd;          // the piece's boundary parameter
  std::vector<PlanePoint> polygon;  // the cell's Voronoi polygon, counterclockwise
  std::int32_t First(int k) const { return start[k]; }
  std::int32_t Last(int k) const { return start[k + 1] - 1; }
  int Count() const { return static_cast<int>(item.size()); }
};

// Index entries [first, last) of the object's cell index that belong to the
// cell (binary search; the index is sorted by cell).
void CellPieceRange(const cells::Object& obj, std::int32_t cell, std::int64_t* first,
                    std::int64_t* last);

// True when the Lset or Rset has at least one piece in the cell.
bool HasPiecesIn(const cells::Object& obj, std::int32_t cell);

// Fills chains with the pieces of the cell; returns the number of chains.
// With ring_once, a ring is never walked round more than once: a ring that
// stays in the cell becomes its vertices with one leg more at each end (the
// region algebra's crossings want each leg once); without it the walk goes
// on until a leg leaves the cell, as the point test reads the chains.
int GatherCellChains(cells::CellIndex& idx, const cells::Object& obj, std::int32_t cell,
                     CellChains& chains, bool ring_once = false);

// The cell's Voronoi polygon in its own plane, counterclockwise, widened by a
// few centimetres so that a boundary running along the cell's edge is kept.
// Empty when a polygon vertex is too far from the centre to project.
void CellPolygonInPlane(const cells::CellIndex& idx, std::int32_t cell, std::vector<PlanePoint>& poly);

// Cuts the segment p0-p1 to a convex polygon (Cyrus-Beck): -1 when nothing of
// it lies inside, else bit 0 when p0 was moved and bit 1 when p1 was. An
// empty polygon cuts nothing.
int ClipSegmentToPolygon(const std::vector<PlanePoint>& poly, PlanePoint& p0, PlanePoint& p1);

// Plane coordinates of a vertex record stored in `cell` (in that cell's frame).
PlanePoint RestorePlane(const cells::CellIndex& idx, std::int32_t cell, const std::uint8_t* rec,
                        int res);

}  // namespace ops

namespace ops {

// The legs of a line set or region through one cell as unit vectors, not
// cut: per piece, the vertex before it, its own vertices and the vertex
// after it (what exists of them). Chain k is points[start[k] .. start[k+1]);
// xbd[k] is the piece's boundary parameter.
struct CellLegs3 {
  std::vector<geodesy::DirectionCosines> points;
  std::vector<std::int32_t> start{0};
  std::vector<double> xbd;
  std::vector<std::int32_t> item;
  int Count() const { return static_cast<int>(xbd.size()); }
};
int GatherCellLegs3(cells::CellIndex& idx, const cells::Object& obj, std::int32_t cell, CellLegs3& legs);

}  // namespace ops
