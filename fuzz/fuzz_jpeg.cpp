// Fuzzes the JPEG reader: any bytes must decode or be refused, never crash,
// hang or read outside the buffer.
#include <cstddef>
#include <cstdint>

#include "lib/display/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cairo_surface_t* out = nullptr;
  if (display::DecodeImage(data, size, display::ImageKind::kJpeg, &out) == display::DecodeResult::kOk)
    cairo_surface_destroy(out);
  return 0;
}
