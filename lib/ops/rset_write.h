// Writing regions piece by piece, for the region operations that keep the
// cell structure of a source: the world and null regions, a source rewritten
// under a new header (and, when asked, at another resolution), and the
// complement with its rings reversed.
//
// The layout is the builder's: environment = b-cells list then i-cells
// list; structure = cell index (sorted by cell, ring, piece), ring array,
// pieces; coordinates = the vertex records in cell index order. The vertex
// records are handed over already encoded at the output resolution.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_model.h"

namespace ops {

struct RawPiece {
  std::int32_t cell = 0;
  std::int32_t count = 0;                  // vertices
  const std::uint8_t* records = nullptr;   // count records at the output resolution
  double xbd = cells::kNoCrossing;
};

struct RawRing {
  std::uint32_t id = 0;
  std::int64_t first = 0;   // first piece in the piece vector
  std::int64_t count = 0;   // pieces
};

// Writes the region. blist and ilist are complete CellLists (word 0 the
// count). Returns 0, 1 for an invalid resolution or id, 8 when the target
// has no room; nothing is taken from the target on failure.
int WriteRsetRaw(cells::CellIndex& idx, cells::SectionTarget target, const cells::BuildParams& params,
                 const std::vector<RawRing>& rings, const std::vector<RawPiece>& pieces,
                 const std::vector<std::int32_t>& blist, const std::vector<std::int32_t>& ilist,
                 cells::Object& out);

// The region without boundary: the world (every cell interior) or the null
// region (nothing). Same statuses as WriteRsetRaw.
int WriteWorldRset(cells::CellIndex& idx, cells::SectionTarget target,
                   const cells::BuildParams& params, cells::Object& out);
int WriteNullRset(cells::CellIndex& idx, cells::SectionTarget target,
                  const cells::BuildParams& params, cells::Object& out);

// The source's rings, pieces and cell lists under the new header. Records
// are copied as they are when the resolution code is the source's, and
// otherwise restored and quantised again at params.res in the same cell.
// reverse: every ring runs the other way (see rset_complement.h), with its
// pieces' boundary parameters worked out for the new direction, and the
// i-cells list replaced by icells_override when that is given.
int RewriteRset(cells::CellIndex& idx, cells::SectionTarget target, const cells::BuildParams& params,
                const cells::Object& src, bool reverse,
                const std::vector<std::int32_t>* icells_override, cells::Object& out);

}  // namespace ops
