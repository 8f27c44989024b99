// The Voronoi cell index: the partition of the ellipsoid surface into cells
// around a fixed set of centres.
//
// CellRecord: one per cell, laid out in memory exactly as in a .vix file:
// the centre as direction cosines (a unit vector), the neighbour count n
// (3 ... 256), the cell scale value s, and n neighbour cell numbers. A record
// is 28 + 4n bytes; cell numbers are 0-based positions in the index.
//
// Invariants of a valid index (what VerifyIndex checks):
// - the neighbours of a cell run counterclockwise seen from above the
//   surface (a positive turn about the outward centre direction);
// - neighbourhood is symmetric, and for cell i with neighbour j at position
//   k and i at position m in j's list, i's neighbour k-1 is j's neighbour
//   m+1 and i's neighbour k+1 is j's neighbour m-1 (cyclic positions);
// - consecutive neighbours k, k+1 of i define one Voronoi vertex of i, and
//   no two consecutive vertices coincide (no four cells meet at a point).
//
// Cell scale value: trunc(tan(theta) * 47888.76923076923 + 1.0), theta the
// largest angle between the centre and the cell's Voronoi vertices; object
// coordinates in the cell's tangent plane are stored in steps of s/32766/K.
//
// CellIndex owns its records according to storage_mode:
//   1  all records in one heap block, each rounded up to 8 bytes, in cell
//      order (what the loaders make; a location walk touches contiguous
//      memory);
//   2  one heap allocation per record (the working copy of a growing index);
//   4  a secondary index made from a read-only mapping of a .vix file.
// The caches (quantiser factors, tangent frame) belong to the index that
// owns them and are reset by SetUpIndex.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/tangent_frame.h"

namespace cells {

// "No cell": the mark of an empty cache slot and of a failed search.
inline constexpr std::int32_t NO_CELL = 0x7FFFFFFF;

// Limits of a cell index, as the loaders check them.
inline constexpr std::int32_t MIN_CELLS = 7;
inline constexpr std::int32_t MAX_CELLS = 262600;
inline constexpr std::int64_t MIN_TOTAL_NEIGHBOURS = 42;
inline constexpr std::int64_t MAX_TOTAL_NEIGHBOURS = 1575600;
inline constexpr std::int32_t MAX_NEIGHBOURS = 256;
inline constexpr std::int32_t MIN_NEIGHBOURS = 3;

// The scale value is trunc(tan(theta) * SCALE_FACTOR + 1.0).
inline constexpr double SCALE_FACTOR = 47888.76923076923;

struct CellRecord {
  geodesy::DirectionCosines centre;  // unit vector of the cell centre
  std::int16_t neighbour_count;      // n, 3 ... 256
  std::uint16_t scale;               // cell scale value
  // The n neighbour numbers, counterclockwise. The record is allocated with
  // room for all n; the declared length 1 is only the first of them.
  std::int32_t neighbours[1];
};
static_assert(sizeof(CellRecord) == 32, "a cell record's fixed part is 32 bytes");

// Bytes a record of n neighbours takes in a .vix file.
inline constexpr std::size_t RecordFileSize(int n) { return 28 + 4 * static_cast<std::size_t>(n); }
// Bytes it takes in a storage mode 1 block: the file size rounded up to 8.
inline constexpr std::size_t RecordBlockSize(int n) { return (RecordFileSize(n) + 7) & ~std::size_t{7}; }

// One quantiser cache slot: the cell whose factor is held, and the factor.
struct QuantiserCache {
  std::int32_t cell = NO_CELL;
  double factor = geodesy::NOVALUE;
};

// The integer storage forms 8, 16 and 32 bit, in that order, in the caches.
inline constexpr int QUANTISER_FORMS = 3;

struct CellIndex {
  std::uint32_t index_id = 0;       // identifier from the file header; objects record it
  std::int32_t cell_count = 0;
  std::int32_t max_neighbours = 0;  // largest neighbour count (from the header)
  CellRecord** cells = nullptr;     // cell_count pointers, indexed by cell number
  // Auxiliary array owned by the index (released with it): the start-cell
  // table of the location walk, made on first use (cell_locate.h). Never
  // made by a loader.
  void* extra = nullptr;
  double max_neighbour_chord2 = 0.0;  // largest squared chord between neighbouring centres
  double max_diagonal_chord2 = 0.0;   // largest squared chord across a neighbour (DiagonalStatistic)
  int storage_mode = 0;               // 1, 2 or 4 (see above); 0 when empty
  std::int32_t walk_hint = 0;         // where the next location walk starts

  // Quantiser caches per integer storage form (8, 16, 32 bit) and direction.
  QuantiserCache store_cache[QUANTISER_FORMS];
  QuantiserCache restore_cache[QUANTISER_FORMS];
  // Tangent frame cache: the cell whose frame is held, and the frame.
  std::int32_t frame_cell = NO_CELL;
  geodesy::TangentFrame frame{};

  // Storage owned by the index: the mode 1 block (records laid end to end)
  // and its size in bytes; null in the other modes.
  unsigned char* block = nullptr;
  std::size_t block_size = 0;
};

// Neighbour list of a record, as a plain pointer to its n entries.
inline std::int32_t* Neighbours(CellRecord* r) { return r->neighbours; }
inline const std::int32_t* Neighbours(const CellRecord* r) { return r->neighbours; }

// Clears idx and stores the given fields; walk_hint becomes 0 and every cache
// is reset. The index takes ownership of cells (and of block in mode 1).
void SetUpIndex(CellIndex& idx, std::uint32_t index_id, CellRecord** cells,
                std::int32_t cell_count, std::int32_t max_neighbours, int storage_mode,
                double max_neighbour_chord2, double max_diagonal_chord2,
                unsigned char* block = nullptr, std::size_t block_size = 0);

// Releases what the index owns (the block or the records, the pointer array,
// the auxiliary array) and leaves it empty. An index with no cells is left
// alone. Mode 4 records are released like mode 1 (a block of their own).
void ReleaseIndex(CellIndex& idx);

// Moves the index from `from` into `to` (releasing what `to` held); `from`
// is left empty. Used to make a completely loaded index current.
void ReplaceIndex(CellIndex& to, CellIndex& from);

// Resets the quantiser and frame caches (after the index changed in place).
void ResetIndexCaches(CellIndex& idx);

// Verification result and statistics.
struct VerifyResult {
  int status = 0;             // 0 valid; 1 neighbour asymmetry; 2 four cells meet; 3 order mismatch
  std::int32_t fault[4] = {NO_CELL, NO_CELL, NO_CELL, NO_CELL};  // the cells at fault
  double min_chord2 = 0.0, max_chord2 = 0.0;     // neighbouring centres
  std::int32_t min_pair[2] = {0, 0}, max_pair[2] = {0, 0};  // where they occur
  double min_vertex_dist2 = 0.0, max_vertex_dist2 = 0.0;  // consecutive Voronoi vertices
  std::int32_t max_neighbours = 0;
  std::int64_t total_neighbours = 0;
};

// Checks the neighbour structure of the whole index (see the invariants
// above) and gathers the statistics. Every neighbour number must lie within
// 0 ... cell_count-1 (the loaders check that); a number outside is reported
// as status 1 with the cell and the bad number.
VerifyResult VerifyIndex(const CellIndex& idx);

// Largest squared chord between the two cells on either side of a neighbour
// around a cell; 0 for an empty index.
double DiagonalStatistic(const CellIndex& idx);

// Day number of a UTC date kept to 16 bits: 365*Y + (Y-1)/4 + days before
// the month + day-1, Y the years since 1900 (the leap term 0 when Y is 0).
std::uint16_t CreationDayNumber(int year, int month, int day_of_month);
// The day number of the UTC date of a time in seconds since 1970.
std::uint16_t CreationDayNumberOf(std::int64_t unix_seconds);

// Cell scale value from the largest angle theta (radians) between a centre
// and its Voronoi vertices; saturates at 65535.
std::uint16_t ScaleValue(double theta);

// Recomputes a cell's scale value from its Voronoi vertices (cell_locate.h);
// returns false when a vertex cannot be formed.
bool ComputeCellScale(const CellIndex& idx, std::int32_t cell, std::uint16_t& scale);

}  // namespace cells
