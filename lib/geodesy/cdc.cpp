// CDC encoding and decoding.
//
// T(t) rounds t * CDC_SCALE down to a 32-bit two's-complement value and
// shifts it right by 2 (logically), which leaves a 30-bit two's-complement
// field and frees bits 30 and 31 for the flags. Decoding multiplies by 4
// (shifting the flags out) and adds 2 to land in the middle of the interval
// [4k, 4k + 4) that the stored k stands for, then recovers the dominant
// component from the unit length.
//
// Rounding down rather than towards zero is what makes "+2" the middle for
// negative components too: truncation would leave negative components up to
// 3 units off, and near the diagonals the dominant component, which inherits
// the errors of both stored ones, up to 6 units. Rounded down, every stored
// component is within 2 units and every decoded component within 4. Codes
// made by truncation decode the same way, just less exactly.
#include "lib/geodesy/cdc.h"

#include <cmath>

namespace geodesy {

namespace {

constexpr uint32_t kBit30 = 0x40000000u;
constexpr uint32_t kBit31 = 0x80000000u;

uint32_t Quantise(double t) {
  if (!(t == t)) t = 0.0;  // not a number
  if (t > 1.0) t = 1.0;
  if (t < -1.0) t = -1.0;
  const int32_t v = static_cast<int32_t>(std::floor(t * CDC_SCALE));
  return static_cast<uint32_t>(v) >> 2;
}

double Restore(uint32_t w) {
  const int32_t v = static_cast<int32_t>(w << 2);
  return (static_cast<double>(v) + 2.0) / CDC_SCALE;
}

}  // namespace

CDC EncodeCdc(const DirectionCosines& u) {
  const double ax = std::fabs(u.x), ay = std::fabs(u.y), az = std::fabs(u.z);
  CDC code;
  if (ax > ay && ax > az) {
    code.w1 = Quantise(u.z);
    code.w0 = u.x > 0.0 ? Quantise(u.y) : (Quantise(-u.y) | kBit30);
  } else if (ay > az) {
    code.w1 = Quantise(u.z) | kBit30;
    code.w0 = u.y > 0.0 ? Quantise(-u.x) : (Quantise(u.x) | kBit30);
  } else if (u.z > 0.0) {
    code.w0 = Quantise(u.y);
    code.w1 = Quantise(-u.x) | kBit31;
  } else {
    code.w0 = Quantise(u.y) | kBit30;
    code.w1 = Quantise(u.x) | kBit31;
  }
  return code;
}

DirectionCosines DecodeCdc(const CDC& code) {
  const double s = Restore(code.w0), t = Restore(code.w1);
  const double m = 1.0 - s * s - t * t;
  const double d = m >= SAME_POINT_SQ ? std::sqrt(m) : 0.0;
  const bool negative = (code.w0 & kBit30) != 0;
  if (code.w1 & kBit31) return negative ? DirectionCosines{t, s, -d} : DirectionCosines{-t, s, d};
  if (code.w1 & kBit30) return negative ? DirectionCosines{s, -d, t} : DirectionCosines{-s, d, t};
  return negative ? DirectionCosines{-d, -s, t} : DirectionCosines{d, s, t};
}

}  // namespace geodesy
