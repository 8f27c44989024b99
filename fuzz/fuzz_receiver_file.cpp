// Fuzzes the receiver file reader: arbitrary bytes read twice through a
// stream, as the trace does (count, then fill), which must agree.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "interp/orbit_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return 0;
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  int64_t count = 0;
  int code = 0, line = 0;
  std::string text;
  const int first = interp::ReadReceiverStream(f, e, nullptr, 0, &count, &code, &line, &text);
  if (first == 0 && count > 0) {
    std::vector<interp::Receiver> list(static_cast<size_t>(count));
    std::rewind(f);
    int64_t again = 0;
    if (interp::ReadReceiverStream(f, e, list.data(), count, &again, &code, &line, &text) != 0 || again != count)
      __builtin_trap();
    for (const interp::Receiver& r : list)
      if (!geodesy::IsValid(r.p) || r.name[interp::RECEIVER_NAME_CHARS] != '\0') __builtin_trap();
  } else if (first != 0) {
    char msg[512];
    std::snprintf(msg, sizeof msg, interp::ReceiverLineFormat(code), line, text.c_str());
  }
  std::fclose(f);
  return 0;
}
