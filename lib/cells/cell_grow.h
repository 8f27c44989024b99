// Growing a cell index by inserting centres, and assembling an index from
// centres and neighbour lists.
//
// GrowState: a working copy of an index in storage mode 2 whose records each
// have room for 256 neighbours (1052 bytes), with a pointer array sized for
// the expansion limit (the source's cell count plus the cells to add).
// InsertCentre keeps the copy a Voronoi partition after every insertion:
// every list stays counterclockwise and consistent with its neighbours'.
//
// Insertion works on the Voronoi vertices: the vertices that the new centre
// is nearer to than their own three centres (the "wavefront" that the new
// cell sweeps over) form one connected patch around the split cell; the
// cells that own those vertices become the new cell's neighbours, in the
// order in which the patch's rim passes them, and each of them loses the
// neighbours lying beyond the new cell. A new vertex closer than the
// same-point chord to another vertex means four cells meet at one point:
// the centre is moved towards the split cell's centre to 0.91537 of its
// distance and tried again, at most four times.
//
// WavefrontSort orders a cell's neighbours from any superset of candidates by
// wrapping round the cell; it gives the same lists as the insertion (the
// tests hold the two against each other).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"
#include "lib/geodesy/direction_cosines.h"

namespace cells {

// Room of a working record: 256 neighbours.
inline constexpr std::size_t GROW_RECORD_BYTES = RecordFileSize(MAX_NEIGHBOURS);
// The repeatable seed of AddCellCenters with a negative count.
inline constexpr unsigned FIXED_GROW_SEED = 18713;
// At most this many four-corner shifts per centre.
inline constexpr int MAX_SHIFTS = 4;
// A shift moves the centre to this share of its angle from the split centre.
inline constexpr double SHIFT_SHARE = 0.91537;

struct GrowState {
  CellIndex work;             // storage mode 2, GROW_RECORD_BYTES per record
  std::int32_t limit = 0;     // expansion limit: cells the copy may hold
  std::int32_t largest = 0;   // largest neighbour count reached
  int shifts = 0;             // four-corner shifts of the current insertion
};

// Insert statuses.
enum InsertStatus : int {
  INSERT_DONE = 0,
  INSERT_SAME_CENTRE = 1,      // within the same-point chord of a centre: nothing changed
  INSERT_LIMIT = 2,            // the expansion limit is reached
  INSERT_SORT_FAILED = 3,      // the neighbourhood could not be ordered
  INSERT_FOUR_CORNERS = 4,     // four cells still met after MAX_SHIFTS shifts
  INSERT_LIST_FULL = 5,        // a neighbour list would exceed 256 entries
  INSERT_INCONSISTENT = 6,     // the index itself is not consistent around the point
  INSERT_NO_MEMORY = 8,
};

struct InsertReport {
  std::int32_t cell = NO_CELL;         // the new cell's number
  std::int32_t split_cell = NO_CELL;   // the cell the centre fell in
  int shifts = 0;                      // "four-corners detected - shifting" times
  geodesy::DirectionCosines centre{};  // where the centre went in the end
  std::vector<std::int32_t> affected;  // the new cell and every cell whose list changed
};

// Makes the working copy of source with room for `add` more cells.
// Returns 0, or 8 when memory runs out (state left empty).
int BeginGrow(GrowState& g, const CellIndex& source, std::int32_t add);

// Inserts the centre p (a unit vector; normalised here). Statuses above.
int InsertCentre(GrowState& g, const geodesy::DirectionCosines& p, InsertReport* report = nullptr);

// Releases the working copy.
void EndGrow(GrowState& g);

struct FinishResult {
  VerifyResult verify;            // verification of the grown index
  int write_status = -1;          // WriteVix status; -1 when nothing was written
  std::int32_t failed_row = 0;    // the record that failed to write
  VixHeader header;               // what was written
};

// Verifies the grown index and, when it passes and path is not null, writes
// it: release 360, index_id the given time (0: now), the ellipsoid number,
// today's day number, max_neighbour_chord2 from the verification and
// max_diagonal_chord2 computed anew.
FinishResult FinishGrow(GrowState& g, const char* path, int ellipsoid_number, std::int64_t unix_seconds = 0);

// The C library style generator of random centres: glibc random_r with its
// own state, so that a seeded run repeats exactly and no one else's random
// numbers are disturbed.
struct GrowRandom {
  alignas(8) char state[128];
  struct random_data data;
};
void SeedGrowRandom(GrowRandom& r, unsigned seed);
// A number 0 ... 32767.
int NextGrowRandom(GrowRandom& r);
// Three components (r - 16383) * 6.103515625e-5, drawn again while the
// squared length is below 0.25 or above 1, then normalised.
geodesy::DirectionCosines RandomCentre(GrowRandom& r);

// Wavefront sort statuses.
enum WavefrontStatus : int {
  WAVEFRONT_DONE = 0,
  WAVEFRONT_TOO_FEW = 1,       // fewer than 3 neighbours among the candidates
  WAVEFRONT_FOUR_CORNERS = 2,  // two candidates tie for the next vertex
  WAVEFRONT_OPEN = 3,          // the neighbour ring does not close
};

// Sorts the candidates (cell numbers indexing centres) into the Voronoi
// neighbour list of `cell` among them: starting from the nearest candidate,
// each next neighbour is the counterclockwise candidate whose circle through
// the cell and the previous neighbour holds no other candidate, i.e. whose
// Voronoi vertex comes first along the edge. Candidates that never become a
// neighbour drop out. On success the first *count entries of candidates are
// the list and *scale the cell's scale value. A tie within the same-point
// chord is four corners.
int WavefrontSort(const geodesy::DirectionCosines* centres, std::int32_t cell, std::vector<std::int32_t>& candidates,
                  int* count, std::uint16_t* scale);

// Builds a storage mode 1 index from centres and counterclockwise neighbour
// lists: scale values from the Voronoi vertices, max_neighbour_chord2 and
// max_diagonal_chord2 computed. Returns 0, 2 (a list shorter than 3 or
// longer than 256, or a neighbour number out of range), 3 (fewer than 7 or
// more than 262600 cells) or 8 (no memory).
int AssembleIndex(const std::vector<geodesy::DirectionCosines>& centres,
                  const std::vector<std::vector<std::int32_t>>& lists, std::uint32_t index_id, CellIndex& idx);

// A copy of idx in storage mode 1 with the cells renumbered: new cell k is
// old cell order[k] (order is a permutation). Returns 0, 2 or 8.
int RenumberIndex(const CellIndex& idx, const std::vector<std::int32_t>& order, CellIndex& out);

}  // namespace cells
