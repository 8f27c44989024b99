// Cell index files: the binary .vix (load and write) and the text .tix (load,
// and a writer for tests and tools).
//
// .vix, little-endian: a 72-byte header (release, format code 132, index_id,
// cell_count, total_neighbours, max_neighbours, ellipsoid number, creation
// day number, the two chord statistics, reserved zeros) and then the cell
// records in cell order, 28 + 4n bytes each, exactly as CellRecord.
//
// .tix: whitespace-separated fields: "tix.hdr.<release>", index_id,
// cell_count, max_neighbours, max_neighbour_chord2, max_diagonal_chord2,
// total_neighbours, ellipsoid number; then per cell x y z scale n and the n
// neighbour numbers.
//
// Loader statuses (shown as "error loading index (%s), status %d"):
//   .vix: 1 format code not 132; 2 release outside 300..360, a neighbour
//         count outside 3..max_neighbours, or a neighbour number outside
//         0..cell_count-1; 3 index_id 0, or cell_count, total_neighbours or
//         max_neighbours out of range; 4 short read; 7 cell data exceed
//         total_neighbours; 8 no memory.
//   .tix: 1 not a "tix.hdr." header or release out of range; 2 a header
//         value out of range (or missing); 3 a bad cell line; 7 and 8 as above.
// A loader fills the given CellIndex only when it succeeds; on failure
// everything it built is released and the index is left as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "lib/cells/cell_index.h"

namespace cells {

inline constexpr std::size_t VIX_HEADER_SIZE = 72;
inline constexpr int VIX_FORMAT_CODE = 132;
inline constexpr int DEFAULT_ELLIPSOID_NUMBER = 34;

struct VixHeader {
  std::uint16_t release = 360;
  std::uint16_t format_code = VIX_FORMAT_CODE;
  std::uint32_t index_id = 0;
  std::uint32_t cell_count = 0;
  std::uint32_t total_neighbours = 0;
  std::uint16_t max_neighbours = 0;
  std::uint16_t ellipsoid_number = DEFAULT_ELLIPSOID_NUMBER;
  std::uint16_t creation_day = 0;
  double max_neighbour_chord2 = 0.0;
  double max_diagonal_chord2 = 0.0;
};

// Field-by-field decoding and encoding of the 72-byte header.
VixHeader DecodeVixHeader(const unsigned char* bytes);
void EncodeVixHeader(const VixHeader& h, unsigned char* bytes);
// The header checks in the loader's order: 3 (id, counts), 2 (release),
// 1 (format code); 0 when the header is acceptable.
int CheckVixHeader(const VixHeader& h);

// Loads a binary index from an open stream (read from its current position)
// or from bytes in memory, in storage mode 1 or 2.
int LoadVix(std::FILE* f, CellIndex& idx, int storage_mode = 1);
int LoadVixBytes(const unsigned char* data, std::size_t size, CellIndex& idx, int storage_mode = 1);

// Loads a text index likewise.
int LoadTix(std::FILE* f, CellIndex& idx, int storage_mode = 1);
int LoadTixBytes(const char* text, std::size_t size, CellIndex& idx, int storage_mode = 1);

// Writer statuses: 1 the file cannot be opened for writing; 2 the header
// cannot be written; 3 a cell record cannot be written (its number in
// *failed_row). The file is written under a temporary name beside path and
// renamed over path only when it is complete; on failure path is untouched.
// The header's cell_count, total_neighbours and max_neighbours are taken
// from the index itself.
int WriteVix(const char* path, const CellIndex& idx, const VixHeader& header, std::int32_t* failed_row = nullptr);

// Writes the index as .tix text (for tests and conversions); 0 or 1.
int WriteTix(const char* path, const CellIndex& idx, const VixHeader& header);

// The header of a finished index to be written now: release 360, index_id
// the given time (seconds since 1970, 0 means now), the creation day of its
// UTC date, the ellipsoid number, the statistics as given.
VixHeader MakeVixHeader(std::int64_t unix_seconds, int ellipsoid_number, double max_neighbour_chord2,
                        double max_diagonal_chord2);

}  // namespace cells
