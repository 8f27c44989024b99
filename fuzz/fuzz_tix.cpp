// Fuzz target: the text cell index loader. Any text loads or is refused with
// a status; an index that loads is verified and located in.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<char> text(data, data + size);
  cells::CellIndex idx;
  if (cells::LoadTixBytes(text.data(), text.size(), idx, 1) == 0) {
    cells::VerifyIndex(idx);
    cells::Locate(idx, geodesy::DirectionCosines{0, 0, 1});
    cells::NearCellsList(idx, geodesy::DirectionCosines{0.6, 0.8, 0}, 0.05);
  }
  cells::ReleaseIndex(idx);
  return 0;
}
