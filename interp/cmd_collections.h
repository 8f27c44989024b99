// The collection searches under the pointer: NearPointInCollection,
// NearLineInCollection and OverheadRsetInCollection.
#pragma once

#include "interp/global.h"

namespace interp {

// The first variant is the search dimension: 0 points, 1 lines, 2 regions.
void CmdCollectionSearch(GlobalBlock& g, const char* args, int variant, int mode);

}  // namespace interp

namespace interp {

// DisplayPoints (what 0), DisplayLines (1) and DisplayArea (2) of a name with
// the extension ".plr": the collection is drawn member by member in the
// style (the argument word, else the value of style_key). False when the
// name is not a collection's (the caller opens it as an object); true when it
// was handled, drawn or refused with its message and error level.
bool DisplayCollectionIfNamed(GlobalBlock& g, const char* word, const char* style_word, const char* style_key,
                              int what);

}  // namespace interp
