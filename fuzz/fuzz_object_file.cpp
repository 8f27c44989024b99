// Fuzz target: the object file reader. Any bytes are parsed as an object
// file; one that is accepted is then walked completely (vertex count and the
// whole dump), which must stay inside the bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/cells/object_dump.h"
#include "lib/cells/object_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A mapping is page aligned: copy into 8-byte aligned memory of exactly
  // size bytes (ASan sees a read past the end of the vector's contents).
  std::vector<std::uint8_t> bytes(data, data + size);
  static std::FILE* sink = std::fopen("/dev/null", "w");
  for (int update = 0; update < 2; ++update) {
    cells::Object obj;
    for (std::int64_t limit : {std::int64_t{0}, std::int64_t{40962}}) {
      if (cells::ParseObject(bytes.data(), static_cast<std::int64_t>(bytes.size()), obj, 0, limit,
                             update == 1) != 0)
        continue;
      cells::VertexCount(obj);
      if (sink) cells::DumpObjectText(obj, sink);
    }
  }
  return 0;
}
