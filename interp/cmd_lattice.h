// The cell lattice commands: AddCellCenters grows a cell index by random or
// clicked centres and writes it as a new .vix file; TraverseCells shows the
// location walk click by click; NearestCells draws the cells round a circle
// given by two clicks (modifier c: their centres, a: their outlines, d: the
// outlines of the cells the circle crosses and of those inside it, in two
// styles). The clicked forms run as pointer modes (interp/map_modes.h);
// AddCellCenters and TraverseCells end with Escape or a click in the map's
// top-left corner box, NearestCells with Escape.
#pragma once

#include "interp/global.h"

namespace interp {

void CmdAddCellCenters(GlobalBlock& g, const char* args, int variant, int mode);
void CmdTraverseCells(GlobalBlock& g, const char* args, int variant, int mode);
void CmdNearestCells(GlobalBlock& g, const char* args, int variant, int mode);

}  // namespace interp
