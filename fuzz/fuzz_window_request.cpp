// Fuzzes what a window does with a datagram (any local program can send one
// to a window's socket): any bytes decode or are refused, and a decoded
// request encodes back to the bytes it came from; a datagram split into
// requests is exactly those requests back to back, or is refused whole; and
// every request of it is drawn on a small picture without a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apps/lumenlog/lumen.h"
#include "platform/window_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::WindowRequest r;
  if (platform::DecodeWindowRequest(data, size, &r)) {
    std::string again = platform::EncodeWindowRequest(r);
    if (again.size() > size || memcmp(again.data(), data, again.size()) != 0) abort();
  }
  std::vector<platform::WindowRequest> requests;
  if (!lumenlog::SplitRequests(data, size, &requests)) {
    if (!requests.empty()) abort();  // refused whole
    return 0;
  }
  std::string joined;
  for (const platform::WindowRequest& q : requests) {
    if (q.text.size() > 255) abort();
    joined += platform::EncodeWindowRequest(q);
  }
  if (joined.size() != size || memcmp(joined.data(), data, size) != 0) abort();
  static lumenlog::Canvas canvas;
  if (!canvas.picture && !lumenlog::CanvasCreate(canvas, 64, 48)) abort();
  for (const platform::WindowRequest& q : requests) {
    // A resize is drawn at most 256 pixels a side here, so that a run stays fast.
    if (q.number == lumenlog::kUser + 1) {
      lumenlog::CanvasResize(canvas, static_cast<int>(q.second & 0xff) + 1, static_cast<int>((q.second >> 16) & 0xff) + 1);
      continue;
    }
    lumenlog::Apply(canvas, q);
  }
  return 0;
}
