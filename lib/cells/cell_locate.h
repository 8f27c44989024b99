// Cell location and the small cell queries built on the neighbour structure.
//
// Distances between a point and a cell centre are squared chords between
// unit vectors; the nearest centre by chord is the nearest by angle.
//
// Locate walks from the index's walk_hint (or, for a point far from it, from
// a start cell looked up in the index's start-cell table) to the cell whose
// centre is nearest, moving each step to the nearest neighbour that is
// strictly nearer. Ties: a neighbour exactly as near as the current cell
// never replaces it, and among equally near neighbours the lowest cell
// number wins. The result is stored as the new walk_hint, so the index is
// not shared between threads that locate at the same time.
//
// Cell bit set: ceil(cell_count/32) 32-bit words, bit (c mod 32) of word
// c/32 standing for cell c.
//
// Cell number list (result of NearCells): word 0 the number of words
// including itself, word 1 the cell holding the query point, then the other
// cells in ascending order. (1, NO_CELL) when the point is farther from its
// own centre than the limit.
//
// Scratch memory: the queries take a caller's scratch region (in the
// program, the free part of the workspace arena above its top) and give it
// all back when they return; they never keep a pointer into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/geodesy/direction_cosines.h"
#include "platform/workspace.h"

namespace cells {

// ---- location ------------------------------------------------------------

// The cell whose centre is nearest to p (a unit vector); stores it as
// idx.walk_hint. An empty index gives NO_CELL. A point whose x is NOVALUE
// (no position) gives the walk_hint unchanged.
std::int32_t Locate(CellIndex& idx, const geodesy::DirectionCosines& p);

// The walk alone, from a given start cell, with the number of steps taken
// (cells moved to). Leaves walk_hint alone.
std::int32_t LocateFrom(const CellIndex& idx, std::int32_t start,
                        const geodesy::DirectionCosines& p, int* steps = nullptr);

// Makes the start-cell table in idx.extra now (Locate makes it on its first
// far jump; about 130 bytes a cell, 5.4 MB and some 40 ms for 40 962
// cells). Returns false when memory runs out; Locate then walks from the
// walk_hint alone. ReleaseIndex frees it; DropStartTable frees it earlier
// (needed after centres change or cells are added).
bool BuildStartTable(CellIndex& idx);
void DropStartTable(CellIndex& idx);

// ---- Voronoi vertices ------------------------------------------------------

// Vertex sign threshold: v.b above this is a counterclockwise turn.
inline constexpr double VERTEX_SIGN_LIMIT = 1.5678e-11;

// The Voronoi vertex of the centres a, b, c: normalise((b-a) x (c-a)).
// Returns +1 when v.b > VERTEX_SIGN_LIMIT (a, b, c counterclockwise seen
// from above), 0 when v cannot be normalised (v.x is then NOVALUE) or v.b
// equals the limit exactly, -1 otherwise.
int VertexOf(const geodesy::DirectionCosines& a, const geodesy::DirectionCosines& b,
             const geodesy::DirectionCosines& c, geodesy::DirectionCosines& v);

// Vertex k of cell i: between neighbours k and (k+1) mod n. Sign as VertexOf.
int VoronoiVertex(const CellIndex& idx, std::int32_t cell, int k, geodesy::DirectionCosines& v);

// ---- cell bit sets ---------------------------------------------------------

inline std::size_t BitSetWords(std::int32_t cell_count) {
  return (static_cast<std::size_t>(cell_count) + 31) / 32;
}
inline void BitSetClearAll(std::uint32_t* set, std::int32_t cell_count) {
  for (std::size_t w = 0, n = BitSetWords(cell_count); w < n; ++w) set[w] = 0;
}
inline void BitSetSet(std::uint32_t* set, std::int32_t c) {
  set[static_cast<std::uint32_t>(c) >> 5] |= 1u << (c & 31);
}
inline void BitSetClear(std::uint32_t* set, std::int32_t c) {
  set[static_cast<std::uint32_t>(c) >> 5] &= ~(1u << (c & 31));
}
inline bool BitSetTest(const std::uint32_t* set, std::int32_t c) {
  return (set[static_cast<std::uint32_t>(c) >> 5] >> (c & 31)) & 1u;
}

// ---- near cells and search outward ---------------------------------------

// A caller's scratch region: the queries use it and keep nothing in it.
struct Scratch {
  void* base = nullptr;
  std::size_t size = 0;  // bytes
};

// Scratch bytes NearCells and SearchOutward need for an index.
std::size_t NearCellsScratchBytes(const CellIndex& idx);
std::size_t SearchOutwardScratchBytes(const CellIndex& idx);
// Words a near-cells list can take at most: cell_count + 1.
inline std::size_t NearCellsMaxWords(const CellIndex& idx) {
  return static_cast<std::size_t>(idx.cell_count) + 1;
}

// The cells whose centres lie within the squared chord limit2 of p, found by
// a flood from p's cell through cells within the limit (a cell within the
// limit reachable only across cells outside it is not found). Writes the
// cell number list into list (capacity list_words, at least 2; the full
// list needs NearCellsMaxWords). Returns the number of words written, or 0
// when the scratch region or the list has no room.
std::size_t NearCells(CellIndex& idx, Scratch scratch, const geodesy::DirectionCosines& p,
                      double limit2, std::uint32_t* list, std::size_t list_words);

// The same with heap memory for everything; an empty vector when memory runs
// out.
std::vector<std::uint32_t> NearCellsList(CellIndex& idx, const geodesy::DirectionCosines& p,
                                         double limit2);

// The region-distance form: the cells whose Voronoi polygon comes within
// the squared chord limit2 of p (the cells a circle of that radius about p
// meets), found by a flood from p's cell through such cells. The cells that
// meet a disc form a connected patch, so none is missed, whatever the
// distance from p to its own centre. The list has the NearCells layout:
// word 1 p's own cell (always listed), then the others ascending. The
// scratch region holds a cell bit set and the flood's stack; the list needs
// at most NearCellsMaxWords words. Returns the number of words written, or 0
// when the scratch region or the list has no room.
std::size_t NearCellsRegion(CellIndex& idx, Scratch scratch, const geodesy::DirectionCosines& p,
                            double limit2, std::uint32_t* list, std::size_t list_words);

// The same on the workspace arena: the list is left at the arena's top
// (which is moved past it, above the bit set the flood used); the caller's
// mark gives both back. nullptr (top unchanged) when the arena has no room.
std::uint32_t* NearCellsRegionIn(CellIndex& idx, platform::Workspace* ws, const geodesy::DirectionCosines& p,
                                 double limit2);

// Predicate of SearchOutward: non-zero when the cell qualifies.
using CellPredicate = int (*)(std::int32_t cell, void* context);

// The first cell, in breadth-first order from p's cell (neighbours in list
// order), for which pred(cell, context) is non-zero; NO_CELL when none
// qualifies or the scratch region has no room.
std::int32_t SearchOutward(CellIndex& idx, Scratch scratch, const geodesy::DirectionCosines& p,
                           CellPredicate pred, void* context);

// The same two queries on the program's workspace arena.
//
// NearCellsIn takes its scratch space above the arena's top without moving
// it, and puts the list in target (the end of the list becomes target's top)
// or, with no target, in a heap block the caller frees with std::free.
// Returns the list, or nullptr when memory runs out (target's top is then
// where it was).
std::uint32_t* NearCellsIn(CellIndex& idx, platform::Workspace* ws, const geodesy::DirectionCosines& p,
                           double limit2, platform::Workspace* target);

// SearchOutwardIn takes its bit set and queue from the arena (the predicate
// may take and give back workspace of its own above them) and gives them
// back before returning.
std::int32_t SearchOutwardIn(CellIndex& idx, platform::Workspace* ws, const geodesy::DirectionCosines& p,
                             CellPredicate pred, void* context);

}  // namespace cells
