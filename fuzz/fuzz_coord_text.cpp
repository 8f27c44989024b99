// Fuzz target: the coordinate text reader. The first byte picks the kind
// (points, lines, regions), the form (text or CDC) and whether an attribute
// is read; the rest is the file's text.
#include <cstdint>
#include <vector>

#include "lib/cells/coord_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  cells::CoordReadOptions o;
  o.kind = data[0] % 3;
  o.form = (data[0] & 4) ? cells::CoordForm::kCdc : cells::CoordForm::kText;
  o.res = (data[0] & 8) ? ((data[0] & 16) ? 267 : 7) : 6;
  o.datum_float = (data[0] & 32) != 0;
  std::vector<cells::PointNode> nodes;
  cells::CoordReadResult r =
      cells::ReadCoordTextBuffer(reinterpret_cast<const char*>(data + 1), size - 1, o, nodes);
  // A finished line or region list ends with two marks.
  if (r.status == 0 && o.kind > 0 && !nodes.empty() &&
      !(cells::IsMark(nodes.back()) && cells::IsMark(nodes[nodes.size() - 2])))
    __builtin_trap();
  return 0;
}
