// The query commands NearestInPset, NearestInLset, NearestInRset,
// FarthestInPset, FarthestInLset and NearestOrderedInPset: one handler that
// opens the object and puts the map window into the query pointer mode
// (interp/map_modes.h). Moving the pointer draws a rubber band to the
// nearest (farthest) item, a click reports it and marks it, ESC ends the
// mode and closes the object. The command row's first variant is the object
// kind (0 Pset, 1 Lset, 2 Rset), the second the query: 1 nearest,
// 2 farthest, 0 the ordered list.
#pragma once

#include "interp/global.h"

namespace interp {

// The query mode's number (GlobalBlock::map_mode).
inline constexpr int MODE_NEAREST_QUERY = 17;

void CmdNearestQuery(GlobalBlock& g, const char* args, int kind, int query);

}  // namespace interp
