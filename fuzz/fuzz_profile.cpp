// Fuzzes the initialisation-file reader of the sheet plotter: arbitrary bytes
// parsed, every section and key looked up again by name in both cases.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::Profile p;
  platform::ParseProfile(reinterpret_cast<const char*>(data), size, &p);
  for (const platform::ProfileSection& s : p.sections) {
    if (platform::FindProfileSection(p, s.name) != &s) __builtin_trap();
    for (const auto& kv : s.keys) {
      if (kv.first.empty()) __builtin_trap();
      std::string v;
      if (!platform::FindProfileValue(p, s.name, kv.first, &v)) __builtin_trap();
      std::string upper = kv.first;
      for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
      if (!platform::FindProfileValue(p, s.name, upper, nullptr)) __builtin_trap();
    }
    platform::ProfileInt(p, s.name, "left", 0);
    platform::ProfileDouble(p, s.name, "width", -1.0);
  }
  return 0;
}
