// Angle parsing and formatting.
//
// The parser checks the whole text in one pass (sign letter, digits, one
// decimal point, up to two separators, nothing else), then reads each field
// with from_chars. Minutes and seconds are not limited, so a very long
// minutes field can give an angle of many turns: such an angle is reduced
// with remainder() before the wrap loops, which would otherwise run for
// ever once 2 pi is below the angle's rounding step.
//
// The formatter rounds once, by adding half a unit of the last printed digit
// to the magnitude in degrees, and then only truncates, so that no field
// can carry into its neighbour after it has been written.
#include "lib/geodesy/angle_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "lib/geodesy/constants.h"

namespace geodesy {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = 0.017453292519943295;        // pi / 180
constexpr double kMinute = 0.0002908882086657216;       // pi / 10800
constexpr double kSecond = 4.84813681109536e-6;         // pi / 648000
constexpr double kLargestDegrees = 12.566370614359172;  // 4 pi: 720 degrees
constexpr int kMaxDigits = 20;
constexpr double kRadToDeg = 57.29577951308232;
// Beyond this many degrees a magnitude is no angle the system produces.
constexpr double kMaxFormatDegrees = 1e6;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of one field ("45", "30.5", "" or "."); empty fields count 0.
double FieldValue(std::string_view field) {
  double value = 0.0;
  const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
  if (result.ec != std::errc()) return 0.0;
  return value;
}

}  // namespace

double ParseAngle(std::string_view text, std::string_view positive, std::string_view negative) {
  if (text.empty()) return NOVALUE;
  double sign = 1.0;
  std::size_t i = 0;
  if (!IsDigit(text[0])) {
    const bool in_positive = positive.find(text[0]) != std::string_view::npos;
    const bool in_negative = negative.find(text[0]) != std::string_view::npos;
    if (in_positive) {
      sign = in_negative ? -1.0 : 1.0;
    } else if (in_negative) {
      sign = -1.0;
    } else {
      return NOVALUE;
    }
    i = 1;
  }
  std::string_view fields[3];
  int separators = 0, digits = 0;
  bool point = false;
  std::size_t field_start = i;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      if (++digits > kMaxDigits) return NOVALUE;
    } else if (c == '.') {
      if (point) return NOVALUE;
      point = true;
    } else if (c == ':' || c == '/') {
      if (point || separators == 2) return NOVALUE;
      fields[separators++] = text.substr(field_start, i - field_start);
      field_start = i + 1;
    } else {
      return NOVALUE;
    }
  }
  if (digits == 0) return NOVALUE;
  fields[separators] = text.substr(field_start);

  const double degrees = FieldValue(fields[0]) * kDegree;
  if (degrees > kLargestDegrees) return NOVALUE;
  double angle = degrees;
  if (separators >= 1) angle += FieldValue(fields[1]) * kMinute;
  if (separators >= 2) angle += FieldValue(fields[2]) * kSecond;
  angle *= sign;
  if (std::fabs(angle) > 64 * kPi) angle = std::remainder(angle, 2 * kPi);
  while (angle > kPi) angle -= 2 * kPi;
  while (angle < -kPi) angle += 2 * kPi;
  return angle;
}

const char* FormatAngle(double radians, std::string_view code, char* out, std::size_t size) {
  static char shared[ANGLE_TEXT_SIZE];
  char* dst = out ? out : shared;
  const std::size_t cap = out ? size : sizeof shared;
  if (cap == 0) return dst;

  const char positive = code.size() > 0 ? code[0] : ' ';
  const char negative = code.size() > 1 ? code[1] : ' ';
  const char mode = code.size() > 2 ? code[2] : 'd';
  const int decimals = code.size() > 3 && IsDigit(code[3]) ? code[3] - '0' : 0;
  const char letter = radians >= 0.0 ? positive : negative;

  double unit = 0.5 * std::pow(10.0, -decimals);
  if (mode == 'm') {
    unit /= 60.0;
  } else if (mode != 'd') {
    unit /= 3600.0;
  }
  const double degrees = std::fabs(radians) * kRadToDeg + unit;

  char text[ANGLE_TEXT_SIZE];
  int n = 0;
  if (!(degrees < kMaxFormatDegrees)) {
    n = std::snprintf(text, sizeof text, "%c***", letter);
  } else {
    const long whole = static_cast<long>(degrees);
    char number[16];
    std::snprintf(number, sizeof number, "%03ld", whole);
    if (number[0] == '0' && number[1] == '0') {
      n = std::snprintf(text, sizeof text, "  %c%c", letter, number[2]);
    } else if (number[0] == '0') {
      n = std::snprintf(text, sizeof text, " %c%s", letter, number + 1);
    } else {
      n = std::snprintf(text, sizeof text, "%c%s", letter, number);
    }
    double fraction = degrees - static_cast<double>(whole);
    if (mode != 'd') {
      const double minutes = fraction * 60.0;
      int whole_minutes = static_cast<int>(minutes);
      if (whole_minutes > 59) whole_minutes = 59;
      n += std::snprintf(text + n, sizeof text - n, ":%02d", whole_minutes);
      fraction = minutes - whole_minutes;
      if (mode != 'm') {
        const double seconds = fraction * 60.0;
        int whole_seconds = static_cast<int>(seconds);
        if (whole_seconds > 59) whole_seconds = 59;
        n += std::snprintf(text + n, sizeof text - n, ":%02d", whole_seconds);
        fraction = seconds - whole_seconds;
      }
    }
    if (decimals > 0) {
      long long scale = 1;
      for (int d = 0; d < decimals; ++d) scale *= 10;
      long long digits = static_cast<long long>(fraction * static_cast<double>(scale));
      if (digits < 0) digits = 0;
      if (digits >= scale) digits = scale - 1;
      n += std::snprintf(text + n, sizeof text - n, ".%0*lld", decimals, digits);
    }
  }
  if (code.size() > 4 && n + 1 < static_cast<int>(sizeof text)) {
    text[n++] = code[4];
    text[n] = '\0';
  }
  std::snprintf(dst, cap, "%s", text);
  return dst;
}

bool IsValidAngleCode(std::string_view code) {
  return code.size() >= 4 && code.size() <= 5 &&
         (code[2] == 'd' || code[2] == 'm' || code[2] == 's') && IsDigit(code[3]);
}

AngleCodes DefaultAngleCodes(int sexagesimal) {
  if (sexagesimal == 0) return {"nsd6 ", "ewd6"};
  if (sexagesimal == 1) return {"nss1 ", "ews1"};
  return {"nsm4 ", "ewm4"};
}

}  // namespace geodesy
