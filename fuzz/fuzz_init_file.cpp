// Fuzzes the initialisation file reader: the keyed store over arbitrary bytes,
// its syntax check, and look-ups of the start-up keys, with and without a
// run-time value in front of the file's.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "interp/keyed_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  interp::KeyedStore* s =
      interp::OpenKeyedStoreFromText("fuzz.oin", reinterpret_cast<const char*>(data), size);
  const char* message = nullptr;
  const int line = interp::CheckKeyedStoreSyntax(s, &message);
  if (line != 0 && message == nullptr) __builtin_trap();
  static const char* const keys[] = {"work.space.size", "ellipsoid.semiaxes", "center", "a", "_", ".",
                                     "console.position", "projection", ""};
  char small[4];
  char big[1100];
  for (const char* key : keys) {
    const int n = interp::GetKeyText(s, key, "dflt", big, sizeof big);
    if (n >= 0 && std::strlen(big) != static_cast<size_t>(n) && std::memchr(big, 0, n) == nullptr) __builtin_trap();
    interp::GetKeyText(s, key, nullptr, small, sizeof small);
    if (std::strlen(small) >= sizeof small) __builtin_trap();
    interp::GetKeyInteger(s, key, -1);
  }
  interp::SetKeyText(s, "center", "1N 2E");
  interp::GetKeyText(s, "center", nullptr, big, sizeof big);
  if (std::strcmp(big, "1N 2E") != 0) __builtin_trap();
  interp::CloseKeyedStore(s);
  return 0;
}
