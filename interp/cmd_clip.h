// Clipping and generalising: DeriveLsetInside and DeriveLsetOutside (the
// two-source frame, operation 5, variants 1 and 2) and Generalize (the
// one-source frame, operation 9). The rows of the command table use
// DeriveBinary and DeriveUnary; this file registers the operations with the
// frame. ClipDerivations runs once while the program starts (the inline
// variable below, in every file that includes this header).
#pragma once

namespace interp {

int ClipDerivations();
inline const int kClipDerivations = ClipDerivations();

}  // namespace interp
