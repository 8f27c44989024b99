// Building objects: the Pset builder, the Lset and Rset builders that cut
// lines and rings into cell pieces, and the region assembly that finds the
// cells wholly inside a set of rings.
//
// Input points are PointNode records: a DirectionCosines and a 64-bit
// attribute word. A node whose x is NOVALUE is a mark: in line and region
// input it ends the current segment or ring and its attribute is that item's
// identifier; empty items (marks in a row) are skipped. Points of a Pset are
// taken in any order.
//
// Pieces: a line or ring is divided into one piece per cell it passes
// through, in order. A piece holds the item's vertices that lie in its cell
// (possibly none, when a leg only crosses the cell). Between two vertices in
// different cells the leg is followed across the cells it crosses: the
// crossing with the bisector of the two cells is located, and when it lies
// in a third cell the search repeats on both halves, so consecutive pieces
// lie in neighbouring cells; legs longer than 90 degrees (squared chord above
// 2) are split at their midpoint first. A piece's boundary parameter xbd is
// the signed distance (sine of the angle) of its entry crossing from the
// great circle through the previous and the entered cell centres, positive
// on the left of the direction from the previous to the entered centre; a
// crossing within VORONOI_SNAP_SQ of a Voronoi vertex takes the vertex's
// value. A line leg that passes a cell without a vertex along the edge it
// shares with a neighbour lies in both cells, and gets a piece without
// vertices in the neighbour too (rings do not). The first piece of an item
// has kNoCrossing. A ring's closing leg
// (last vertex back to the first) is followed too: when it re-enters the
// first piece's cell from another cell, the ring ends with a piece of that
// cell without vertices, carrying the entry crossing.
//
// Rings have their inside on the left (counterclockwise seen from outside
// the ellipsoid). Rings of fewer than three vertices bound nothing and are
// left out of an Rset.
//
// Builders return 0 done, -1 no points (an empty but valid object is still
// built), 1 invalid arguments (id 0, invalid res), 8 no room for a section in
// the target, 9 no scratch memory. A failed builder gives back what it took
// from the target.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "platform/workspace.h"

namespace cells {

// Squared chord within which a crossing takes a Voronoi vertex's parameter.
inline constexpr double VORONOI_SNAP_SQ = 2.463677236734865e-16;

struct PointNode {
  geodesy::DirectionCosines p;
  std::uint64_t attribute = 0;  // the point's attribute, or a mark's identifier
};
inline bool IsMark(const PointNode& n) { return n.p.x == geodesy::NOVALUE; }
inline PointNode Mark(std::uint64_t id) { return {{geodesy::NOVALUE, 0.0, 0.0}, id}; }

// Where sections go: the target workspace when given (a mapped output file or
// a workspace block), otherwise one heap block held in heap.
struct SectionTarget {
  platform::Workspace* arena = nullptr;
  std::vector<std::uint8_t>* heap = nullptr;
};

// The object header fields a builder writes.
struct BuildParams {
  std::uint32_t id = 0;
  std::uint32_t klass = 0;
  int res = 6;
  int prec = 0;
};

int BuildPset(CellIndex& idx, SectionTarget target, const BuildParams& params,
              std::span<const PointNode> points, Object& out);
int BuildLset(CellIndex& idx, SectionTarget target, const BuildParams& params,
              std::span<const PointNode> points, Object& out);
int BuildRset(CellIndex& idx, SectionTarget target, const BuildParams& params,
              std::span<const PointNode> points, Object& out);

// ---- pieces and the region assembly (shared by the derivations) ----

// One piece of an item: its cell, the item's vertices [first, first+count),
// and the boundary parameter of its entry.
struct ItemPiece {
  std::int32_t cell;
  std::int32_t first;
  std::int32_t count;
  double xbd;
};

// Cuts one line (closed = false) or ring (closed = true) of vertices into
// pieces, appending them to pieces. cells receives the cell of each vertex.
// Each leg (vertex i to i+1, and for a ring the last to the first) is
// reported to leg_cell(i, cell) for every cell it visits, when leg_cell is
// given.
using LegCellFn = void (*)(void* context, std::int64_t leg, std::int32_t cell);
void CutIntoPieces(CellIndex& idx, std::span<const geodesy::DirectionCosines> vertices,
                   bool closed, std::vector<ItemPiece>& pieces, std::vector<std::int32_t>& cells,
                   LegCellFn leg_cell = nullptr, void* context = nullptr);

// A set of rings: ring r is vertices[start[r] .. start[r+1]) (start has one
// more entry than there are rings), inside on the left.
struct RingSet {
  std::vector<geodesy::DirectionCosines> vertices;
  std::vector<std::int64_t> start{0};
};

// The region assembly: b-cells are the cells the rings' boundary passes
// through; i-cells the other cells, whose points lie all inside the rings.
// The side of every cell is carried from a point just left of a boundary leg
// across the neighbour graph, counting the boundary legs that each step
// between two cells crosses (even-odd rule). A cell's side is taken at a
// point a hair off its centre, so rings whose legs run through centres,
// Voronoi vertices or along cell edges get the same i-cells as any other.
// Both lists come back sorted, without repeats.
// Returns 0, or 9 when memory runs out.
int AssembleRegion(CellIndex& idx, const RingSet& rings, std::vector<std::int32_t>& bcells,
                   std::vector<std::int32_t>& icells);

// The point that stands for a cell in the assembly: its centre moved a
// hundred-thousandth of the cell's radius in a fixed direction that rings
// laid along index lines do not follow.
geodesy::DirectionCosines CellProbe(const CellIndex& idx, std::int32_t cell);

// The crossing test of two great-circle arcs shorter than 180 degrees: true
// when ab and cd cross at a point interior to both.
bool ArcsCross(const geodesy::DirectionCosines& a, const geodesy::DirectionCosines& b,
               const geodesy::DirectionCosines& c, const geodesy::DirectionCosines& d);

}  // namespace cells
