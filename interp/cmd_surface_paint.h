// DisplaySurfaceHypso and DisplaySurfaceShade "name [style]": a TIN Pset
// rendered into the map picture as hypsometric tints or hill shading
// (lib/display/surface_render.h), the ramp from the style argument or the
// "object.surface" key. The surfaces are pictures of pixels: they go to the
// screen's map picture only, also while a plot is active (a plot takes no
// pixels, so nothing of them reaches the plot file), and the style key is
// then the screen's "object.surface", not the plot's.
#pragma once

#include "interp/global.h"

namespace interp {

// Variant 0 DisplaySurfaceHypso, 1 DisplaySurfaceShade.
void CmdDisplaySurface(GlobalBlock& g, const char* args, int variant, int mode);

}  // namespace interp
