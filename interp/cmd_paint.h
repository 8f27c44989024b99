// The paint commands: PaintLatLong, PaintDCos3, PaintCDC and PaintCost colour
// every pixel of the map picture by a function of the position under it
// (lib/display/paint.h).
#pragma once

#include "interp/global.h"

namespace interp {

// Variant 1 PaintLatLong, 4 PaintCDC, 5 PaintDCos3.
void CmdPaint(GlobalBlock& g, const char* args, int variant, int mode);
void CmdPaintCost(GlobalBlock& g, const char* args, int variant, int mode);

inline constexpr int PAINT_LATLONG = 1;
inline constexpr int PAINT_CDC = 4;
inline constexpr int PAINT_DCOS3 = 5;

}  // namespace interp
