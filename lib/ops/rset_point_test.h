// The boundary distance of a point and the point-in-region test.
//
// A region (Rset) has its inside on the left of its boundary rings. The
// boundary distance of a point q in cell c is a signed plane length in c's
// TangentFrame: its magnitude is the distance from q to the nearest leg of
// the boundary pieces in c (including the legs that join each piece to the
// vertices before and after it), positive when q lies inside (left), negative
// outside. Where the nearest boundary point is a vertex, the two legs meeting
// there decide together: at a left turn q is inside only when it is left of
// both, at a right turn when it is left of either.
//
// q7_RsetPointTest results:
//    2 inside, the cell is an interior cell with no boundary in it
//    1 inside, boundary in the cell, distance above f
//    0 on the boundary, distance within f
//   -1 outside, boundary in the cell, distance below -f
//   -2 outside, the cell is neither an interior nor a boundary cell
// f is the fuzz angle, the library default when it is passed as 0.
// Two rings that share a leg in opposite directions (a region cut along a
// meridian and given as its two halves) are not bounded there: such a pair
// of equally near chains with opposite sides is passed over, and the next
// nearest boundary, or the cell's neighbours, decide.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/direction_cosines.h"
#include "lib/ops/cell_chains.h"

namespace ops {

// The signed distance of q from the chains of one cell (the value of least
// magnitude over all chains; the search stops at exactly 0). With
// boundary_indicator non-zero a distance within fuzz is returned as 0; with 0
// only the sign counts. Legs that two chains share in opposite directions
// and the tips of spikes (a ring running straight back along itself) bound
// nothing and are passed over. No chain at all, or only such legs, gives
// +HUGE_VALUE: SideByNeighbours then tells the cell's side.
//
// The small-circle legs of buffer arcs (pieces with a non-zero boundary
// parameter in a buffer region) are measured by ChainDistance too: a chain's
// legs are straight in the plane, which is exact for great-circle legs; the
// buffers give their arc pieces their own leg measure there.
double BoundaryDistance(const CellChains& chains, PlanePoint q, double fuzz, int boundary_indicator);

// +1 or -1: the side of a cell whose chains bound nothing (legs that rings
// share in opposite directions), walked from the nearest cell without
// boundary; -1 when none is within a few hundred cells.
int SideByNeighbours(cells::CellIndex& idx, const cells::Object& region, std::int32_t cell);

// The signed distance from q to one chain (see above), without the fuzz.
double ChainDistance(const CellChains& chains, int k, PlanePoint q);

// A reusable cache for q7_RsetPointTest: the chains of the last cell tested.
struct RsetTestCache {
  const cells::Object* region = nullptr;
  CellChains chains;
  std::int32_t side_cell = cells::NO_CELL;  // the cell whose side is known
  int side = 0;
};

// The point-in-region test for a unit vector p (its cell is located).
int q7_RsetPointTest(cells::CellIndex& idx, const geodesy::DirectionCosines& p,
                     const cells::Object& region, double fuzz, int boundary_indicator,
                     RsetTestCache* cache = nullptr);

// The same for plane coordinates q in the frame of a known cell.
int q7_RsetPointTestInCell(cells::CellIndex& idx, std::int32_t cell, PlanePoint q,
                           const cells::Object& region, double fuzz, int boundary_indicator,
                           RsetTestCache* cache = nullptr);

// Whether a region is the null region (no boundary, empty interior) or the
// world region (no boundary, interior 0 ... N-1).
bool RsetIsNull(const cells::Object& region);
bool RsetIsWorld(const cells::Object& region, std::int32_t cell_count);

}  // namespace ops
