// The compact direction-cosine code: one unit vector in two 32-bit words,
// to about 1.9e-9 per component (about 1.2 cm on the earth).
//
// In each word the low 30 bits hold a signed fixed-point component (two's
// complement within 30 bits, scale CDC_SCALE, the value rounded down and
// shifted right by 2). w1 bit 31 set: z dominates; w1 bit 30 set: y dominates;
// neither: x dominates. w0 bit 30 is set when the dominant component is
// negative or zero. The dominant component itself is not stored: decoding
// recovers it from the unit length.
//
// Encode then decode changes each stored component of a unit vector by at
// most 2 / CDC_SCALE and the dominant one by at most 4 / CDC_SCALE. Of two
// components of equal magnitude the later one (y before x, z before y)
// counts as dominant.
#pragma once

#include <cstdint>

#include "lib/geodesy/direction_cosines.h"

namespace geodesy {

inline constexpr double CDC_SCALE = 2147483640.0;  // 0x7FFFFFF8

struct CDC {
  uint32_t w0 = 0;
  uint32_t w1 = 0;
};

// Encodes a unit vector. Components outside [-1, 1] are clamped and a
// component that is not a number counts as 0, so any input gives a code.
CDC EncodeCdc(const DirectionCosines& u);

// Decodes a code; every pair of words gives a vector (of unit length for
// codes made by EncodeCdc).
DirectionCosines DecodeCdc(const CDC& code);

}  // namespace geodesy
