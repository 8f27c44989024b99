// Hull and TIN derivations, plugged into the derivation frame.

#include "interp/cmd_tin.h"

#include "interp/cmd_derive.h"
#include "lib/ops/pset_tin.h"
#include "lib/ops/sphere_hull.h"

namespace interp {
namespace {

int OpHullOfPoints(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_RsetHullOfPoints(c, *a.first);
}

int OpPsetTin(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_PsetTin(c, *a.first, a.neighbours);
}

}  // namespace

int RegisterTinDerivations() {
  RegisterDerivation(1, 10, OpHullOfPoints);
  RegisterDerivation(1, 12, OpPsetTin);
  return 1;
}

}  // namespace interp
