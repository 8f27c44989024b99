// Hull and TIN derivations, plugged into the derivation frame.

#include "interp/cmd_tin.h"

#include "interp/cmd_derive.h"
#include "lib/ops/sphere_hull.h"

namespace interp {
namespace {

int OpHullOfPoints(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_RsetHullOfPoints(c, *a.first);
}

}  // namespace

int RegisterTinDerivations() {
  RegisterDerivation(1, 10, OpHullOfPoints);
  return 1;
}

}  // namespace interp
