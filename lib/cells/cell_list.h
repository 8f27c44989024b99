// CellList: a compressed, ascending list of cell numbers (an object's cell
// envelope: o-cells, t-cells, b-cells, i-cells).
//
// A list is a sequence of signed 32-bit words. Word 0 is the number of words
// including itself (1 = empty list). The following words are cell numbers in
// ascending order; a negative word -m after a cell number c stands for every
// cell from c to m inclusive. Compression merges equal neighbours, turns runs
// of three or more consecutive cells c..m into c, -m, and keeps runs of two
// as two numbers.
#pragma once

#include <cstdint>
#include <vector>

namespace cells {

// Builds the compressed list of the given cell numbers (any order, repeats
// allowed; negative numbers are ignored).
std::vector<std::int32_t> MakeCellList(std::vector<std::int32_t> cells);

// Compresses in place a list whose words after word 0 are plain cell numbers
// in ascending order (repeats allowed); updates and returns word 0.
std::int32_t CompressCellList(std::int32_t* words);

// Expands a list into its cell numbers, ascending.
std::vector<std::int32_t> ExpandCellList(const std::int32_t* list);

// Number of cells the list stands for.
std::int64_t CellListCells(const std::int32_t* list);

// Binary search over the numbers and ranges.
bool CellListContains(const std::int32_t* list, std::int32_t cell);

// The range of cells: false for an empty list.
bool CellListRange(const std::int32_t* list, std::int32_t* first, std::int32_t* last);

// True when a list of `available` words is well formed: 1 <= word 0 <=
// available, numbers ascending (strictly, ranges included), a range word
// only after a number and above it, and every cell in [0, cell_limit) when
// cell_limit > 0.
bool CellListValid(const std::int32_t* list, std::int64_t available, std::int64_t cell_limit);

// Visits the cells of one list in ascending order.
struct CellListCursor {
  const std::int32_t* list = nullptr;
  std::int32_t pos = 1;     // next word
  std::int32_t next = 0;    // next cell of a range in progress
  std::int32_t range_end = -1;
};
CellListCursor CellListBegin(const std::int32_t* list);
// Stores the next cell and returns true, or returns false at the end.
bool CellListNext(CellListCursor& c, std::int32_t* cell);

// The parallel walk over two lists: yields every cell of either list once,
// in ascending order, with flags telling which lists hold it. Intersections
// take the cells with both flags, unions every cell.
struct CellListWalk {
  CellListCursor a, b;
  std::int32_t ca = 0, cb = 0;
  bool has_a = false, has_b = false;
};
CellListWalk CellListWalkBegin(const std::int32_t* a, const std::int32_t* b);
bool CellListWalkNext(CellListWalk& w, std::int32_t* cell, bool* in_a, bool* in_b);

}  // namespace cells
