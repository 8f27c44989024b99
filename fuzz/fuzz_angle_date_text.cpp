// Fuzzes the angle and date readers and the writers fed by them: any text
// must give an angle in [-pi, pi] or the invalid value, a day number in range
// or the invalid one, and the formatted texts must fit their buffers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/date_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& [pos, neg] : {std::pair{geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE},
                                 std::pair{geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE}}) {
    const double a = geodesy::ParseAngle(text, pos, neg);
    if (a != geodesy::NOVALUE && !(std::fabs(a) <= 3.1415926535897936)) __builtin_trap();
    char out[geodesy::ANGLE_TEXT_SIZE];
    // The text itself as a format code: any code must be safe.
    geodesy::FormatAngle(a, text.substr(0, 5), out, sizeof out);
    if (std::strlen(out) >= sizeof out) __builtin_trap();
    geodesy::FormatAngle(a, "nsd9 ", out, sizeof out);
  }
  const uint32_t day = geodesy::ParseDate(text);
  if (day != geodesy::INVALID_DAY) {
    geodesy::DateRecord d;
    if (!geodesy::DateFromDayNumber(day, d)) __builtin_trap();
    char out[geodesy::DATE_TEXT_SIZE];
    geodesy::DateText(d, out, sizeof out);
    if (std::strlen(out) != 15) __builtin_trap();
  }
  return 0;
}
