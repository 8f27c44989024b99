// Fuzz target: the collection file reader. The first byte picks the search
// dimension; the rest is the ".plr" file, its index_id set to the loaded
// index's so that the tables behind the header are reached. A collection
// that opens is then searched around a few positions, which must stay
// inside the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/index_file.h"
#include "lib/ops/collection.h"

namespace {

cells::CellIndex* Index() {
  static cells::CellIndex* idx = [] {
    auto* i = new cells::CellIndex;
    const char* bin = std::getenv("OMBREL_BIN");
    const std::string path = std::string(bin ? bin : "../bin") + "/isotype.vix";
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
      cells::LoadVix(f, *i, 1);
      std::fclose(f);
    }
    return i;
  }();
  return idx;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cells::CellIndex& idx = *Index();
  if (size < 1 || idx.cell_count == 0) return 0;
  const int dim = data[0] % 3;
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if (bytes.size() >= 12) cells::Store<std::uint32_t>(bytes.data() + 8, idx.index_id);
  static const std::string path = "/tmp/fuzz_collection." + std::to_string(getpid()) + ".plr";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  ops::Collection c;
  if (c.Open(path, "", idx, dim).status == ops::kCollOk) {
    const geodesy::DirectionCosines pts[4] = {{1, 0, 0}, {0, 0.6, -0.8}, {-0.48, 0.6, 0.64}, {0, 0, 1}};
    for (const auto& p : pts) {
      const std::int32_t cell = cells::Locate(idx, p);
      std::uint32_t out[8];
      if (dim == 2) c.RegionsAt(idx, cell, p, out, 8);
      else c.NearestTo(idx, cell, p, dim);
    }
  }
  std::remove(path.c_str());
  return 0;
}
