// Region algebra commands: DeriveRsetCommon, DeriveRsetCombined (two-source
// frame, operation 6, variants 1 and 3) and DeriveRsetComplement (one-source
// frame, operation 11, the source optional). The rows of the command table
// use DeriveBinary and DeriveUnary; this file registers the operations with
// the frame. RegionDerivations is called once while the program starts (the
// inline variable below, in every file that includes this header).
#pragma once

namespace interp {

int RegionDerivations();
inline const int kRegionDerivations = RegionDerivations();

}  // namespace interp
