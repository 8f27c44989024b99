// OverheadSurface: opens a TIN Pset and puts the map window into the
// surface mode. A pointer move posts the surface value under the pointer
// ("%9.3f\n"), a left click outside the top-left box posts it with the
// pointer's pixel position ("%9.3f (%d %d)\n"); no value, or a position off
// the map, beeps. ESC closes the object, redraws the map and ends the mode;
// other keys beep.
#pragma once

#include "interp/global.h"

namespace interp {

// The surface mode's number (GlobalBlock::map_mode).
inline constexpr int MODE_SURFACE = 25;

void CmdOverheadSurface(GlobalBlock& g, const char* args, int variant, int mode);

}  // namespace interp
