// Fuzz target: the binary cell index loader. Any bytes load or are refused
// with a status; an index that loads is then verified, located in and
// flooded, which must stay inside its records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"

namespace {

void Exercise(cells::CellIndex& idx) {
  cells::VerifyIndex(idx);
  cells::DiagonalStatistic(idx);
  const geodesy::DirectionCosines pts[3] = {{1, 0, 0}, {0, 0.6, -0.8}, {-0.48, 0.6, 0.64}};
  for (const auto& p : pts) {
    const std::int32_t c = cells::Locate(idx, p);
    geodesy::DirectionCosines v;
    cells::VoronoiVertex(idx, c, 1, v);
    std::uint16_t s;
    cells::ComputeCellScale(idx, c, s);
    cells::NearCellsList(idx, p, 0.01);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly size bytes of our own, so a read past the end is caught.
  const std::vector<unsigned char> bytes(data, data + size);
  for (int mode : {1, 2}) {
    cells::CellIndex idx;
    if (cells::LoadVixBytes(bytes.data(), bytes.size(), idx, mode) == 0) Exercise(idx);
    cells::ReleaseIndex(idx);
  }
  return 0;
}
