// The secondary index table: up to 64 cell indexes kept beside the current
// one, for objects and collections made with another index.
//
// An entry is free when its index_id is 0. FindSecondaryIndex looks first
// among the loaded entries; otherwise it reads the 72-byte header of every
// ".vix" file in the directory of the object's file (in name order, so the
// choice is repeatable) and takes the first whose index_id matches. That
// file is mapped read-only and checked in place: the header as the loader
// checks it, and every record (neighbour count 3 ... max_neighbours, every
// neighbour number within the index, every byte inside the file). Records
// in the file start at 4-byte boundaries (28 + 4n bytes each), which is not
// where a CellRecord's doubles may be read, so the checked records are then
// copied into one 8-byte aligned block (storage_mode 4) and the mapping is
// released.
#pragma once

#include <cstdint>
#include <string>

#include "lib/cells/cell_index.h"

namespace cells {

inline constexpr int MAX_SECONDARY_INDEXES = 64;

struct SecondaryEntry {
  CellIndex index;          // index_id 0: a free entry
  std::string path;         // the file it came from
  std::int64_t last_use = 0;  // use counter value at the last find
};

struct SecondaryTable {
  SecondaryEntry entries[MAX_SECONDARY_INDEXES];
  std::int64_t use_counter = 0;
};

// Find statuses.
enum SecondaryStatus : int {
  SECONDARY_FOUND = 0,
  SECONDARY_NOT_FOUND = 1,    // "matching index not found (id:%d)"
  SECONDARY_MAP_ERROR = 2,    // "secondary index mapping error?"
  SECONDARY_TABLE_FULL = 3,   // all 64 entries taken: the search fails
};

// The index with index_id `wanted` for the object file at object_path.
int FindSecondaryIndex(SecondaryTable& table, const char* object_path, std::uint32_t wanted, CellIndex** found);

// Maps and checks one .vix file as a secondary index (see above). Statuses
// as the binary loader's (1 ... 4, 7, 8), or 5 when the file cannot be
// opened or mapped.
int MapSecondaryIndex(const char* path, CellIndex& idx);

// Releases every entry.
void ReleaseSecondaryTable(SecondaryTable& table);

}  // namespace cells
