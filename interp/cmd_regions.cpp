// The region algebra operations, plugged into the derivation frames.
#include "interp/cmd_regions.h"

#include "interp/cmd_derive.h"
#include "lib/ops/rset_combine.h"
#include "lib/ops/rset_complement.h"

namespace interp {

namespace {

// Operation 6: variant 1 the common part, 3 the combination.
int OpCombine(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_RsetCombine(c, a.variant, a.fuzz, *a.first, *a.second);
}

// Operation 11: the complement of the source, or the world without one.
int OpComplement(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_RsetComplement(c, a.first);
}

}  // namespace

int RegionDerivations() {
  static const int once = [] {
    RegisterDerivation(2, 6, OpCombine);
    RegisterDerivation(1, 11, OpComplement);
    return 1;
  }();
  return once;
}

}  // namespace interp
