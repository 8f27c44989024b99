// Measuring commands: Area and Length (one handler: the object's kind
// decides what is measured), and the cell area table they keep.
#pragma once

#include "interp/global.h"

namespace interp {

void CmdMeasure(GlobalBlock& g, const char* args, int variant, int mode);

// The normalised cell area table of the current index on the current
// ellipsoid: one share per cell, summing to 1. Made on first use and kept
// for the run; made again when the index or the ellipsoid has changed.
// nullptr when there is no index or no memory.
const double* CurrentCellAreaTable(GlobalBlock& g);

}  // namespace interp
