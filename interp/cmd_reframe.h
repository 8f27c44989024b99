// ReCenter and ReFrame: the map window's geometry changed by pointing. Both
// put the map window into a pointer mode (interp/map_modes.h): ReCenter
// takes the clicked point as the new centre; ReFrame takes a new centre and
// an edge point that fixes the new scale, outlining the new frame as the
// pointer moves.
#pragma once

#include "interp/global.h"

namespace interp {

void CmdReCenter(GlobalBlock& g, const char* args, int variant, int mode);
void CmdReFrame(GlobalBlock& g, const char* args, int variant, int mode);

}  // namespace interp
