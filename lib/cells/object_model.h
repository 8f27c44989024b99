// Pset, Lset, Rset and TIN Pset objects: the header, the section records and
// the vertex records.
//
// An object is a 48-byte common header, kind-specific fields and three
// sections (environment, structure, coordinates). Offsets stored inside the
// sections are byte offsets from the start of their section, so a mapped file
// is usable in place. All integers are little-endian; records are read and
// written through memcpy so that no section needs more than byte alignment.
//
// Sections by kind:
//   Pset (0): env = o-cells CellList; struct = cell array of 12-byte
//     PsetCell entries in ascending cell order; coords = vertex records, cell
//     after cell.
//   Lset (1) / Rset (2): env = t-cells (Lset) or b-cells and i-cells (Rset);
//     struct = cell index (12-byte PieceRef, sorted by cell, item, piece),
//     item array (12-byte Item), cell pieces (24-byte Piece); coords = vertex
//     records of the pieces in cell index order.
//   TIN Pset (5): as a Pset with 48-byte TinCell entries; triangles and
//     neighbour triples are three 32-bit integers each in the coordinates.
//     Per cell (as DerivePsetTin writes it, always at res 9): the points,
//     the cell's own first (cptnb of them) and then the neighbour points its
//     triangles use, all in the cell's plane; then the triangles
//     (counterclockwise vertex indices into the cell's points); then, with
//     "n", one neighbour triple per triangle (the triangle across the edge
//     from vertex j to j+1, -1 when there is none in the cell). cvxnb is the
//     hull vertex count of the cell's triangulation; z holds the mean, least
//     and greatest height of the own points, the mean being the one value of
//     a cell without triangles. The header's three further fields are the
//     totals of own points, triangles and neighbour triples. Readers of the
//     object as a point set take the first cptnb points of each cell.
//
// Vertex records, chosen by the resolution code res (see RecordSize): two
// tangent-plane coordinates (u, v) about the centre of the vertex's cell, as
// 8-, 16- or 32-bit integers scaled by the cell's scale value, or as floats or
// doubles unscaled, then, for odd res, the attribute word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/cells/cell_index.h"
#include "lib/geodesy/direction_cosines.h"

namespace cells {

inline constexpr int kPset = 0;
inline constexpr int kLset = 1;
inline constexpr int kRset = 2;
inline constexpr int kTinPset = 5;

// Size of the file header area before the sections, and the least length of
// a file that can hold an object header.
inline constexpr int kObjectHeaderArea = 256;
inline constexpr int kObjectMinFile = 80;

// The boundary parameter of the first piece of an item.
inline constexpr double kNoCrossing = geodesy::NOVALUE;

// Number of kind-specific 32-bit header fields per kind (0 for a bad kind).
inline int KindFieldCount(int kind) {
  switch (kind) {
    case kPset: return 3;
    case kLset: return 5;
    case kRset: return 6;
    case kTinPset: return 6;
    default: return 0;
  }
}

// ---- resolution codes ----

// Storage form 1..5 of res: 8-, 16-, 32-bit integers, floats, doubles.
inline int ResForm(int res) { return (res & 0xFF) / 2; }
// Bytes of the two coordinates of form 1..5.
inline int FormCoordSize(int form) {
  static const int sizes[6] = {0, 2, 4, 8, 8, 16};
  return (form >= 1 && form <= 5) ? sizes[form] : 0;
}
inline bool ResHasAttribute(int res) { return (res & 1) != 0; }
// 64-bit attribute word for 256 <= res < 65280, 32-bit otherwise.
inline bool ResWideAttribute(int res) { return res >= 256 && res < 65280; }
// Whole record size in bytes.
inline int RecordSize(int res) {
  int size = FormCoordSize(ResForm(res));
  if (res >= 256) return size + (res >> 8) * 8;
  return size + ((res & 1) ? 4 : 0);
}
// True for the codes an object may carry.
bool ResValid(int res);

// ---- little-endian field access ----

template <typename T>
inline T Load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
inline void Store(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// ---- section records ----

struct PsetCell {  // 12 bytes
  std::int32_t cell;
  std::int32_t offset;  // of the first vertex record in the coordinate section
  std::int32_t count;
};
inline constexpr int kPsetCellSize = 12;

struct PieceRef {  // 12 bytes: one cell index entry of an Lset or Rset
  std::int32_t cell;
  std::int32_t item;
  std::int32_t piece;
};
inline constexpr int kPieceRefSize = 12;

struct Item {  // 12 bytes: a segment or ring
  std::uint32_t id;
  std::int32_t first;  // offset of its first piece in the structure section
  std::int32_t count;  // number of pieces
};
inline constexpr int kItemSize = 12;

struct Piece {  // 24 bytes
  std::int32_t cell;
  std::int32_t count;   // vertices
  std::int32_t offset;  // of the first vertex record in the coordinate section
  double xbd;           // boundary parameter; kNoCrossing for an item's first piece
};
inline constexpr int kPieceSize = 24;

struct TinCell {  // 48 bytes
  std::int32_t cell;
  std::int32_t point_offset, point_count;
  std::int32_t triangle_offset, triangle_count;
  std::int32_t neighbour_offset, neighbour_count;
  std::int32_t cptnb, cvxnb;
  float z[3];
};
inline constexpr int kTinCellSize = 48;
// The cell's own points (the first cptnb of its points) are what a reader of
// the TIN Pset as a point set takes; the rest are neighbour points that the
// cell's triangles use.
inline std::int32_t TinOwnPoints(const TinCell& t) {
  return t.cptnb < 0 ? 0 : (t.cptnb > t.point_count ? t.point_count : t.cptnb);
}

PsetCell LoadPsetCell(const std::uint8_t* p);
void StorePsetCell(std::uint8_t* p, const PsetCell& c);
PieceRef LoadPieceRef(const std::uint8_t* p);
void StorePieceRef(std::uint8_t* p, const PieceRef& r);
Item LoadItem(const std::uint8_t* p);
void StoreItem(std::uint8_t* p, const Item& it);
Piece LoadPiece(const std::uint8_t* p);
void StorePiece(std::uint8_t* p, const Piece& pc);
TinCell LoadTinCell(const std::uint8_t* p);
void StoreTinCell(std::uint8_t* p, const TinCell& t);

// ---- the object in memory ----

// The header fields and the three sections of one object, wherever it lives
// (a mapped file, an arena or the heap). kfield holds the kind-specific
// fields as stored (offsets as magnitudes, counts as they are).
struct Object {
  std::uint16_t release = 0;
  std::uint16_t kind = 0;
  std::uint32_t id = 0;
  std::uint32_t klass = 0;
  std::uint32_t vix_id = 0;
  std::uint16_t res = 0;
  std::uint16_t prec = 0;
  std::uint8_t* env = nullptr;
  std::uint32_t env_size = 0;
  std::uint8_t* structure = nullptr;
  std::uint32_t struct_size = 0;
  std::uint8_t* coords = nullptr;
  std::uint32_t coord_size = 0;
  std::int64_t kfield[6] = {0, 0, 0, 0, 0, 0};
};

// Named views of the kind-specific fields.
inline std::int64_t PsetOcellsOffset(const Object& o) { return o.kfield[0]; }
inline std::int64_t PsetCellArrayOffset(const Object& o) { return o.kfield[1]; }
inline std::int64_t PsetCellCount(const Object& o) { return o.kfield[2]; }
// Lset: t-cells, cell index offset, count, segment array offset, count.
// Rset: b-cells, i-cells, cell index offset, count, ring array offset, count.
inline int LinearBase(const Object& o) { return o.kind == kRset ? 1 : 0; }
inline std::int64_t CellIndexOffset(const Object& o) { return o.kfield[LinearBase(o) + 1]; }
inline std::int64_t CellIndexCount(const Object& o) { return o.kfield[LinearBase(o) + 2]; }
inline std::int64_t ItemArrayOffset(const Object& o) { return o.kfield[LinearBase(o) + 3]; }
inline std::int64_t ItemCount(const Object& o) { return o.kfield[LinearBase(o) + 4]; }

// Pointers into the sections (the object must have been validated).
inline const std::uint8_t* PsetCellAt(const Object& o, std::int64_t i) {
  return o.structure + PsetCellArrayOffset(o) + i * kPsetCellSize;
}
inline const std::uint8_t* ItemAt(const Object& o, std::int64_t i) {
  return o.structure + ItemArrayOffset(o) + i * kItemSize;
}
inline const std::uint8_t* PieceRefAt(const Object& o, std::int64_t i) {
  return o.structure + CellIndexOffset(o) + i * kPieceRefSize;
}
inline const std::uint8_t* PieceAt(const Object& o, const Item& it, std::int64_t k) {
  return o.structure + it.first + k * kPieceSize;
}
// The CellList of an envelope: which 0 gives the o-cells (Pset), t-cells
// (Lset) or b-cells (Rset); which 1 the i-cells of an Rset. Lists sit at
// 4-byte aligned offsets, which ObjectValid checks.
const std::int32_t* EnvelopeList(const Object& o, int which);

// Checks every offset and count of the object against its section sizes:
// sections, kind fields, cell lists (ascending, within [0, cell_limit) when
// cell_limit > 0), cell arrays, cell index entries, items, pieces and vertex
// records. Returns true when every record the readers will touch lies
// inside its section. A TIN Pset's triangles must name the cell's own points,
// its neighbour triples (none, or one per triangle) its triangles or -1.
bool ObjectValid(const Object& o, std::int64_t cell_limit);

// Number of vertices (points of a Pset, vertices of an Lset or Rset).
std::int64_t VertexCount(const Object& o);

// ---- quantise and restore ----

// The scale constants K of the integer forms 1..3: stored value =
// trunc(u * (32766 / s) * K), s the cell scale value.
inline constexpr double kFormScale[3] = {2394.0 / 13.0, 612864.0 / 13.0, 40164655104.0 / 13.0};

// Writes the vertex record of p (with its attribute word) in cell `cell`
// with code res at dst; returns the address just past it. Uses and refreshes
// the index's frame and factor caches. Integer values beyond the form's range
// (a point far outside its cell) are clamped.
std::uint8_t* Quantise(CellIndex& idx, std::int32_t cell, const geodesy::DirectionCosines& p,
                       std::uint64_t attribute, std::uint8_t* dst, int res);

// The plane coordinates form of the same: (u, v) already projected.
std::uint8_t* QuantisePlane(CellIndex& idx, std::int32_t cell, double u, double v,
                            std::uint64_t attribute, std::uint8_t* dst, int res);

// Reads the record at src in cell `cell` into p and attribute (the 32-bit
// attribute widened; 0 when res has none); returns the address past it.
const std::uint8_t* Restore(CellIndex& idx, std::int32_t cell, const std::uint8_t* src, int res,
                            geodesy::DirectionCosines& p, std::uint64_t* attribute = nullptr);

// The stored values of a record as numbers, for the dump: the two
// coordinates and the first 32 bits of the attribute.
void RecordValues(const std::uint8_t* src, int res, double* a, double* b, std::uint32_t* attr);

}  // namespace cells
