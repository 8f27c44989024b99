// The derivation frames: every Derive command (and Generalize) runs through
// DeriveUnary (one source) or DeriveBinary (two sources), chosen by its row of
// the command table with an operation code and a variant.
//
// The frame reads the names and numbers, checks the source kinds against the
// operation, opens the sources, checks their resolutions, creates the output
// object in a temporary file, calls the operation and turns its derivation
// status into the console message and error level: above 0 the output is
// dropped (no file is left), -1 keeps the empty object ("%s empty object",
// error level 1).
//
// Operations plug into the frame through RegisterDerivation; the frame itself
// registers the point-set operations. A later operation (regions, buffers,
// hull and TIN) registers its function here and switches its table row to the
// frame, so that it shares every check and message.
#pragma once

#include <cstdint>

#include "interp/global.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/derive_params.h"

namespace interp {

// What the frame read for an operation, besides the output context.
struct DeriveArgs {
  int operation = 0;
  int variant = 0;
  const cells::Object* first = nullptr;   // nullptr: no source (DeriveRsetComplement)
  const cells::Object* second = nullptr;  // two-source operations
  double distance[2] = {0.0, 0.0};        // metres: op 7 right/left, op 8 distance, op 9 width, op 2 proximity
  int density[2] = {2, 2};                // ops 7 and 8
  bool datum = false;                     // op 1: "datum" given
  bool neighbours = false;                // op 12: "n" given
  double fuzz = 0.0;                      // boundary.fuzz angle, 0 for the default
  int boundary_indicator = 0;
  geodesy::Ellipsoid ellipsoid;
};

using DerivationFn = int (*)(const ops::DeriveContext& ctx, const DeriveArgs& args);

// sources: 1 for DeriveUnary, 2 for DeriveBinary; operation 1 ... 12.
void RegisterDerivation(int sources, int operation, DerivationFn fn);

void DeriveUnary(GlobalBlock& g, const char* args, int operation, int variant);
void DeriveBinary(GlobalBlock& g, const char* args, int operation, int variant);

}  // namespace interp
