// Fuzz target: the encrypted index reader. Any bytes open or are refused;
// what opens is loaded as a .vix. Files that ask for a pass phrase are
// skipped (their key derivation is deliberately slow and would only time
// the fuzzer out); their header checks run before it and are covered by
// the seeds sealed with a key.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/index_cipher.h"
#include "lib/cells/index_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 12 && data[12] == cells::CIX_KEY_PASS_PHRASE) return 0;
  const std::vector<unsigned char> bytes(data, data + size);
  std::vector<unsigned char> plain;
  int detail = 0;
  if (cells::OpenCixBytes(bytes.data(), bytes.size(),
                          "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff", plain, &detail) ==
      cells::CIX_OK) {
    cells::CellIndex idx;
    cells::LoadVixBytes(plain.data(), plain.size(), idx, 1);
    cells::ReleaseIndex(idx);
  }
  return 0;
}
