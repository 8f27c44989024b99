// The clipping and generalising operations, plugged into the derivation frames.
#include "interp/cmd_clip.h"

#include "interp/cmd_derive.h"
#include "interp/messages.h"
#include "lib/ops/generalize.h"
#include "lib/ops/lset_in_rset.h"

namespace interp {

namespace {

// Operation 5: the frame puts the line set first, the region second.
int OpClip(const ops::DeriveContext& c, const DeriveArgs& a) {
  return ops::q7_LsetInRset(c, a.variant, a.fuzz, a.boundary_indicator, *a.second, *a.first);
}

// Operation 9: the width becomes the tolerance; the counts are posted
// whatever the outcome, so an empty source says so before its return code.
int OpGeneralize(const ops::DeriveContext& c, const DeriveArgs& a) {
  ops::GeneralizeCounts counts;
  const int status = ops::q7_Generalize(c, *a.first, ops::GeneralizeTolerance(a.distance[0], a.ellipsoid), &counts);
  const double fraction = counts.before > 0 ? static_cast<double>(counts.after) / static_cast<double>(counts.before) : 0.0;
  PostText(2, "Vertices before %d, after %d, fraction: %g", static_cast<int>(counts.before),
           static_cast<int>(counts.after), fraction);
  return status;
}

}  // namespace

int ClipDerivations() {
  static const int once = [] {
    RegisterDerivation(2, 5, OpClip);
    RegisterDerivation(1, 9, OpGeneralize);
    return 1;
  }();
  return once;
}

}  // namespace interp
