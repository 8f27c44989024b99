// Building a collection (".plr" and ".dat" images, layout in collection.h)
// from a Pset, Lset or Rset object.
//
// The dimension is the object's kind. Each point of a Pset is one point item
// (its datum is its attribute word, or its 1-based order when the object has
// none); each segment of an Lset is one line item (datum: its identifier);
// the rings of one identifier of an Rset make one region item (holes
// included), rebuilt as a region object of its own.
//
// Names: with a names table, each item's datum word becomes a reference to
// its name in the attribute image (names 4-byte aligned, flag bit 6 set); an
// item without an entry is named by its identifier in decimal. Without
// names, no attribute image is made and the datum stays the identifier.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"

namespace ops {

struct CollBuildResult {
  int status = 0;  // 0 done, 1 not a Pset/Lset/Rset, 2 larger than 4 GiB, 3 a region failed to build
  std::vector<std::uint8_t> plr;
  std::vector<std::uint8_t> dat;  // empty without names
  std::uint32_t items = 0;
  std::uint32_t rings = 0;
  std::uint32_t cells = 0;
  std::uint32_t quick_circles = 0;  // boundary candidates with a usable circle
};

// names: identifier (or point datum) to UTF-8 name, at most 255 bytes each
// (longer names are cut at a character boundary).
CollBuildResult BuildCollection(cells::CellIndex& idx, const cells::Object& obj,
                                const std::map<std::uint32_t, std::string>* names,
                                std::uint32_t db_id);

// Reads a names text: lines "ID<TAB>NAME"; blank lines and lines starting
// with '#' are skipped. Returns the 1-based number of the first bad line, or
// 0 when every line was read.
int ReadCollNames(const std::string& text, std::map<std::uint32_t, std::string>& names);

}  // namespace ops
