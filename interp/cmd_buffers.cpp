// The buffer operations, plugged into the derivation frame.
#include "interp/cmd_buffers.h"

#include "interp/cmd_derive.h"
#include "lib/ops/rset_buffers.h"

namespace interp {

namespace {

// Operation 8: variant 1 near the points, 2 afar from them.
int OpNearPoints(const ops::DeriveContext& c, const DeriveArgs& a) {
  if (!a.first) return ops::DERIVE_BAD_PARAMETERS;
  const geodesy::Ellipsoid* e = a.ellipsoid.a > 0.0 ? &a.ellipsoid : nullptr;
  return ops::q7_RsetNearPoints(c, e, a.variant, a.density[0], a.distance[0], *a.first);
}

// Operation 7: variant 1 near the lines, 2 afar from them; right width and
// density first.
int OpNearLines(const ops::DeriveContext& c, const DeriveArgs& a) {
  if (!a.first) return ops::DERIVE_BAD_PARAMETERS;
  const geodesy::Ellipsoid* e = a.ellipsoid.a > 0.0 ? &a.ellipsoid : nullptr;
  return ops::q7_LsetExpand(c, e, a.variant, a.density[0], a.density[1], a.distance[0], a.distance[1],
                            *a.first);
}

}  // namespace

int BufferDerivations() {
  static const int once = [] {
    RegisterDerivation(1, 7, OpNearLines);
    RegisterDerivation(1, 8, OpNearPoints);
    return 1;
  }();
  return once;
}

}  // namespace interp
