// Drawing the cell lattice of a cell index through a MapGeometry: centres,
// numbers, order colours, boundaries, duals and spokes, and the outlines of
// the cells an object occupies.
//
// Cells are visited in ascending order. When the geometry holds a visible-cell
// list for the index only those cells are drawn; without one every cell is
// tried and what does not project is skipped. Cell boundaries are Voronoi
// edges between consecutive vertices (vertex k lies between neighbours k and
// k + 1, so the edge ending at vertex k is shared with neighbour k); each
// edge, dual and spoke is drawn along its great circle by the PolylinePen, so
// that it curves as the projection bends it.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"

namespace display {

// The cells to draw: the visible ones of the index (all when the geometry has
// no list for it), restricted to only (a CellList) when only is not null.
std::vector<int32_t> CellsToDraw(const MapGeometry& g, const cells::CellIndex& idx, const int32_t* only);

// Markers at the centres of the cells (markers state). Returns the count.
int64_t DrawCellCentres(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                        DrawState* d);
// Cell numbers at the centres (text state).
int64_t DrawCellNumbers(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                        DrawState* d);
// Outlines (lines state): each edge once. Returns the edges drawn.
int64_t DrawCellOutlines(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                         DrawState* d);
// Dual edges joining neighbouring centres, each once (lines state).
int64_t DrawCellDuals(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                      DrawState* d);
// Spokes from each centre to the vertices of its cell (lines state).
int64_t DrawCellSpokes(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                       DrawState* d);
// Each cell's polygon filled in its cell-order colour between background and
// colour (plain state: each polygon is painted directly).
int64_t DrawCellOrder(const MapGeometry& g, const cells::CellIndex& idx, const std::vector<int32_t>& list,
                      uint32_t background, uint32_t colour, DrawState* d);

}  // namespace display
