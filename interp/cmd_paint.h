// The paint commands: PaintLatLong, PaintDCos3, PaintCDC and PaintCost colour
// every pixel of the map picture by a function of the position under it
// (lib/display/paint.h); the tileset commands show a prepared world picture
// under its own geometry (lib/display/tileset.h).
#pragma once

#include "interp/global.h"

namespace interp {

// Variant 1 PaintLatLong, 4 PaintCDC, 5 PaintDCos3.
void CmdPaint(GlobalBlock& g, const char* args, int variant, int mode);
void CmdPaintCost(GlobalBlock& g, const char* args, int variant, int mode);

// Tileset "filename [latitude longitude] | [w]": the tileset file becomes the
// map's geometry (projection 19) about its own centre, the map's centre (w)
// or the one given. ShowTileset draws its tiles into the map.
void CmdTileset(GlobalBlock& g, const char* args, int variant, int mode);
void CmdShowTileset(GlobalBlock& g, const char* args, int variant, int mode);

inline constexpr int PAINT_LATLONG = 1;
inline constexpr int PAINT_CDC = 4;
inline constexpr int PAINT_DCOS3 = 5;

}  // namespace interp
