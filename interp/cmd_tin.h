// The hull and TIN derivations: DeriveRsetHullOfPoints (one source,
// operation 10) through the derivation frame.
//
// The registration runs when this header is included by the command table,
// so the operations are linked whenever the table is.
#pragma once

namespace interp {

// Registers the hull (and later TIN) operations with the derivation frame;
// returns the number registered.
int RegisterTinDerivations();
inline const int kTinDerivations = RegisterTinDerivations();

}  // namespace interp
