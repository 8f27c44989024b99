// The collection searches under the pointer: NearPointInCollection,
// NearLineInCollection and OverheadRsetInCollection.
#pragma once

#include "interp/global.h"

namespace interp {

// The first variant is the search dimension: 0 points, 1 lines, 2 regions.
void CmdCollectionSearch(GlobalBlock& g, const char* args, int variant, int mode);

}  // namespace interp
