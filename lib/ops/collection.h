// Collections: large read-only sets of named points, lines or regions kept in
// a collection file (".plr") and an optional attribute file (".dat"), read
// by the pointer searches, the orbit traces and the map sheets.
//
// All integers and floats are little-endian; every record is read through
// memcpy, so no field needs alignment. Offsets are byte offsets from the
// start of the file that holds them.
//
// Collection file, fixed header (44 bytes):
//    0 u16 release level, 300 ... 360
//    2 i16 dimension: 0 points, 1 lines, 2 regions
//    4 u32 db-id (equals the attribute file's when there is one)
//    8 u32 index_id of the cell index the collection was built on
//   12 u8  flag byte: bit 6 set when name references are 4-byte aligned
//   13 7 bytes  builder's (plrbuild writes zero)
//   20 i32 number of cell table entries
//   24 i32 lowest cell number in the table
//   28 u32 highest cell number in the table
//   32 u32 number of items (points, lines or regions); 36 u32 zero
//   40 u32 cell table size in bytes (12 x entries)
// Cell table (from 44), 12-byte entries sorted by cell, one per cell that
// holds anything:
//    0 i32 cell   4 u32 offset of the cell's first record   8 u32 record count
// Records of one cell lie end to end:
//   dimension 0, point record (32 bytes): 0 f64 x, 8 f64 y, 16 f64 z (unit
//     vector), 24 u32 datum word, 28 u32 item number (0-based);
//   dimensions 1 and 2, leg record (56 bytes): 0 3 x f64 first vertex,
//     24 3 x f64 second vertex, 48 u32 datum word, 52 u32 item number. A leg
//     is recorded in every cell it passes through; a region collection
//     records the legs of its rings, so the line and point searches serve it
//     too (the point search takes the legs' vertices).
// Region section (dimension 2), at 44 + cell table size, header of 88 bytes:
//    0 8 bytes "PLRRGN1\0"
//    8 u32 per-cell entry count      12 u32 per-cell table offset
//   16 u32 candidate count           20 u32 candidate table offset
//   24 u32 region count              28 u32 region table offset
//   32 u32 object area offset        36 u32 object area size
//   40 48 bytes zero
//   per-cell entry (20 bytes), sorted by cell: 0 i32 cell, 4 u32 candidate
//     count, 8 u32 first candidate (index), 12 8 bytes zero;
//   candidate (24 bytes): 0 u32 region number, 4 f32 squared radius, 8 f32
//     centre u, 12 f32 centre v (the cell's TangentFrame), 16 8 bytes zero.
//     The squared radius is -3.402823e38 when the cell lies wholly inside the
//     region; below 1.0 the circle encloses every vertex of the region's part
//     of the cell (boundary vertices and crossings, cell corners inside), so
//     a position of the cell outside it is outside the region; 1.0 or more
//     when no quick test applies;
//   region entry (32 bytes, eight u32): 0 name reference (a datum word),
//     4 offset and 8 size of the region's object image in the object area
//     (relative to the area; an object file image, 256-byte header and
//     sections, which ObjectValid checks at open), 12 identifier, 16 ring
//     count, 20 vertex count, 24 and 28 zero. Object images start 8-aligned.
// Attribute file: 0 u32 db-id, 4 u32 name count, then names, each a length
// byte and that many bytes (UTF-8). A datum word locates its name: offset =
// (datum >> 2) & ~3 when bit 6 of the flag byte is set, else
// (datum >> 3) & ~1. A reference outside the file reads as no name.
//
// Every count, offset and range is checked against the file size at open or
// before use; a file that fails is refused with the header or mapping status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/rset_point_test.h"
#include "platform/mapped_file.h"

namespace ops {

inline constexpr int kCollHeaderSize = 44;
inline constexpr int kCollRegionHeaderSize = 88;
inline constexpr int kCollCellEntrySize = 12;
inline constexpr int kCollPointRecordSize = 32;
inline constexpr int kCollLegRecordSize = 56;
inline constexpr int kCollRegionCellSize = 20;
inline constexpr int kCollCandidateSize = 24;
inline constexpr int kCollRegionEntrySize = 32;
inline constexpr int kCollReleaseLow = 300;
inline constexpr int kCollReleaseHigh = 360;
inline constexpr std::uint8_t kCollAlignedNames = 0x40;
inline constexpr int kCollMaxRegions = 8;
inline constexpr float kCollInsideRadius = -3.402823e38f;
inline constexpr double kCollCircleSlack = 2.458e-14;

// Open statuses, in the order the checks run. a and b of the report carry
// the two numbers of the message (see each).
enum CollStatus {
  kCollOk = 0,
  kCollOpenError = 1,          // the .plr cannot be opened
  kCollHeaderError = 2,        // header short, or any table outside the file
  kCollReleaseMismatch = 3,    // a = 360, b = the file's
  kCollIndexMismatch = 4,      // a = the loaded index's, b = the file's
  kCollDimensionMismatch = 5,  // a = the file's, b = the search's
  kCollAttHeaderError = 6,     // the .dat header cannot be read
  kCollDbIdMismatch = 7,       // a = the .plr's, b = the .dat's
  kCollHeader2Error = 8,       // the region header cannot be read or is bad
  kCollMappingError = 9,       // a = the file's errno-like code
  kCollMemoryShortfall = 10,   // a = the bytes needed
};

struct CollHeader {
  std::uint16_t release = 0;
  std::int16_t dimension = 0;
  std::uint32_t db_id = 0;
  std::uint32_t index_id = 0;
  std::uint8_t flags = 0;
  std::int32_t entries = 0;
  std::int32_t low_cell = 0;
  std::uint32_t high_cell = 0;
  std::uint32_t items = 0;
  std::uint32_t table_size = 0;
};
void DecodeCollHeader(const std::uint8_t* p, CollHeader& h);
void EncodeCollHeader(const CollHeader& h, std::uint8_t* p);

struct CollOpenReport {
  int status = kCollOk;
  long long a = 0, b = 0;
  bool has_attributes = false;  // the .dat was found (the "data from" line)
  std::string which;            // the file the status is about
};

// One region of a region collection (its object lives in the mapping).
struct CollRegion {
  std::uint32_t name_ref = 0;
  std::uint32_t id = 0;
  std::uint32_t rings = 0;
  std::uint32_t vertices = 0;
  cells::Object obj;
};

// An open collection. Not copyable; Close (or the destructor) releases it.
class Collection {
 public:
  Collection() = default;
  Collection(const Collection&) = delete;
  Collection& operator=(const Collection&) = delete;
  ~Collection() { Close(); }

  // Opens plr_path (and dat_path when that file exists) for a search of
  // dimension search_dim over idx; the checks run in the order of CollStatus.
  CollOpenReport Open(const std::string& plr_path, const std::string& dat_path,
                      cells::CellIndex& idx, int search_dim);
  void Close();
  bool IsOpen() const { return plr_.base != nullptr; }

  const CollHeader& Header() const { return header_; }
  bool HasAttributes() const { return dat_.base != nullptr; }
  std::size_t RegionCount() const { return regions_.size(); }
  const CollRegion& Region(std::size_t i) const { return regions_[i]; }

  // The name a datum word refers to; false (name empty) without an attribute
  // file or for a reference outside it.
  bool Name(std::uint32_t datum, std::string& name) const;

  // Records of one cell: the table entry is found by stepping from the last
  // entry found (32 entries at a time when the table's cell range is below
  // 511, else a sixteenth of the range plus one) and a binary search over
  // the remaining span. Returns the number of records and their address.
  std::uint32_t CellRecords(std::int32_t cell, const std::uint8_t** records);

  // The regions holding p (at most out_cap; the count found is returned, and
  // a count above out_cap means more regions overlap than fit). cell is p's
  // cell.
  int RegionsAt(cells::CellIndex& idx, std::int32_t cell, const geodesy::DirectionCosines& p,
                std::uint32_t* out, int out_cap);

  struct Nearest {
    bool found = false;
    std::uint32_t item = 0;
    std::uint32_t datum = 0;
    double angle = 0.0;                 // great-circle distance, radians
    geodesy::DirectionCosines where{};  // the nearest point (of the item)
    int side = 0;                       // lines: +1 left of the leg, -1 right, 0 on it
    int rings_searched = 0;             // neighbour rings beyond the window
  };
  // The nearest point (dim 0) or line (dim 1) to p (p's cell given). The
  // window (the cell and its neighbours) is searched first and widened by
  // rings of neighbours while the best found lies farther than the searched
  // cells guarantee; a collection with nothing gives found = false.
  Nearest NearestTo(cells::CellIndex& idx, std::int32_t cell, const geodesy::DirectionCosines& p,
                    int search_dim);

 private:
  platform::MappedFile plr_, dat_;
  CollHeader header_;
  std::int64_t last_entry_ = 0;
  const std::uint8_t* rcells_ = nullptr;
  std::uint32_t rcell_count_ = 0;
  const std::uint8_t* cands_ = nullptr;
  std::uint32_t cand_count_ = 0;
  std::vector<CollRegion> regions_;
  // Made at open for the region search: per cell of the index, its per-cell
  // entry (or -1); per entry, the cell's tangent frame; per candidate that
  // is not wholly inside, its region's boundary in the cell made ready for
  // the point test.
  std::vector<std::int32_t> cell_entry_;
  std::vector<geodesy::TangentFrame> frames_;
  std::vector<RsetCellTest> tests_;
  std::vector<std::int32_t> ring_mark_;  // per cell: search generation
  std::int32_t generation_ = 0;
};

// Bytes of search memory the point (dim 0) or line (dim 1) window takes:
// 32 x c + 424 or 32 x c + 432 with c the index's max_neighbours.
inline long long CollWindowMemory(const cells::CellIndex& idx, int search_dim) {
  return 32LL * idx.max_neighbours + (search_dim == 0 ? 424 : 432);
}
inline constexpr long long kCollWindowLimit = 2048;

// Datum word of a name at byte offset off of the attribute file.
inline std::uint32_t CollNameDatum(std::uint32_t off, bool aligned) {
  return aligned ? off << 2 : off << 3;
}
inline std::uint32_t CollNameOffset(std::uint32_t datum, bool aligned) {
  return aligned ? ((datum >> 2) & ~3u) : ((datum >> 3) & ~1u);
}

// Great-circle helpers.
double CollAngle(const geodesy::DirectionCosines& a, const geodesy::DirectionCosines& b);
// Distance from p to the arc ab, the nearest point and the side (+1 left).
double CollLegDistance(const geodesy::DirectionCosines& a, const geodesy::DirectionCosines& b,
                       const geodesy::DirectionCosines& p, geodesy::DirectionCosines* at,
                       int* side);

}  // namespace ops
