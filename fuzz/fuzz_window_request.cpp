// Fuzzes the decoder of window requests (datagrams any local program can
// send to a window's socket): any bytes decode or are refused, and a decoded
// request encodes back to the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/window_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::WindowRequest r;
  if (!platform::DecodeWindowRequest(data, size, &r)) return 0;
  std::string again = platform::EncodeWindowRequest(r);
  if (again.size() > size || memcmp(again.data(), data, again.size()) != 0) abort();
  return 0;
}
