// The region checks and the point tests.
#pragma once

#include "interp/global.h"

namespace interp {

// variant 1 VerifyRsetBoundary, 2 VerifyRsetTopology, 3 VerifyRsetIsWorld,
// 4 VerifyRsetIsNull.
void CmdVerifyRset(GlobalBlock& g, const char* args, int variant, int mode);
// variant 1 PtestLsetRset, 2 PtestRsetRset.
void CmdPointTest(GlobalBlock& g, const char* args, int variant, int mode);

}  // namespace interp
