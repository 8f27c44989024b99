// Buffer commands: DeriveRsetNearPoints and DeriveRsetAfarPoints (one-source
// frame, operation 8, variants 1 and 2). BufferDerivations registers the
// operation with the frame once while the program starts.
#pragma once

namespace interp {

int BufferDerivations();
inline const int kBufferDerivations = BufferDerivations();

}  // namespace interp
