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

#include <array>
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

// The same in two steps, for many points of one cell: the chains with their
// spikes taken out once, then each point measured on them.
void ChainsWithoutSpikes(const CellChains& chains, CellChains& clean);
double CleanBoundaryDistance(const CellChains& clean, PlanePoint q, double fuzz, int boundary_indicator);

// +1 or -1: the side of a cell whose chains bound nothing (legs that rings
// share in opposite directions), walked from the nearest cell without
// boundary; -1 when none is within a few hundred cells.
int SideByNeighbours(cells::CellIndex& idx, const cells::Object& region, std::int32_t cell);

// The signed distance from q to one chain (see above), without the fuzz.
double ChainDistance(const CellChains& chains, int k, PlanePoint q);

// A reusable cache for q7_RsetPointTest: the chains of the last cell tested.
struct RsetTestCache {
  const cells::Object* region = nullptr;
  CellChains chains;  // of the last cell tested, spikes taken out
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

// One region's boundary in one cell made ready for many point tests (a
// collection keeps one per border cell of each region). The cell's chains
// are gathered and their spikes taken out once, and the cell's plane is cut
// into a quadtree of squares (about half a millisecond for a border cell of
// a 10m country). A leaf square is decided throughout when every leg
// that can be the nearest boundary of some point of it (those within the
// nearest distance from its centre plus twice its half diagonal, less those
// farther than one of the nearest vertices all over it) tells the same side
// for every point of it (the leg's line, or both lines at a vertex, clear of
// the square) and the nearest boundary is farther than the fuzz; otherwise
// the leaf keeps those legs and the test runs on them alone, falling back
// to all chains where shared legs must be set aside. RsetCellTestAt gives
// what q7_RsetPointTestInCell gives, value for value.
struct RsetCellTest {
  // What a test reads first comes first.
  std::int32_t cell = cells::NO_CELL;
  int fixed = 0;                          // non-zero: the result everywhere in the cell
  double cu = 0.0, cv = 0.0, half = 0.0;  // the root square (half its side); half 0: no squares
  // The entries four levels down (or the leaf above), by the path of child
  // numbers from the root (two bits a level, the first level lowest), so
  // that a test starts there. Entries: the top two bits 0 for a node (its
  // number; four entries a node in nodes, children in the order u low/high,
  // then v low/high), 1 inside, 2 outside, 3 a leaf whose legs start at that
  // position of legs (a count of chains, -1 for all of them, then per chain:
  // the chain, a count and the legs' first points).
  std::array<std::uint32_t, 256> top{};
  std::vector<std::uint32_t> nodes;
  std::vector<std::int32_t> legs;
  std::uint32_t root = 0;  // the root's entry
  double fuzz = 0.0;       // the effective fuzz the squares were decided for
  CellChains chains;       // the cell's chains without spikes
  int side = 0;            // SideByNeighbours once it was needed
};
void PrepareRsetCellTest(cells::CellIndex& idx, std::int32_t cell, const cells::Object& region, double fuzz,
                         RsetCellTest& t);
int RsetCellTestAt(cells::CellIndex& idx, const cells::Object& region, RsetCellTest& t, PlanePoint q);

// Whether a region is the null region (no boundary, empty interior) or the
// world region (no boundary, interior 0 ... N-1).
bool RsetIsNull(const cells::Object& region);
bool RsetIsWorld(const cells::Object& region, std::int32_t cell_count);

}  // namespace ops
