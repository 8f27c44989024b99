// The complement of a region: inside and outside change places.
//
// No source, or the null region, gives the world region; the world region
// gives the null region (status -1). Otherwise every ring runs the other way
// round from the same first vertex: the pieces come in reverse order, each
// with its vertices reversed and its boundary parameter worked out for the
// new direction of travel (the crossing it used to leave by is now its
// entry), so the result is the region the builder makes of the reversed
// rings and the complement of the complement is the source again, section
// for section. The b-cells stay; the i-cells are the cells in neither of the
// source's lists. The resolution code and prec are the source's.
#pragma once

#include "lib/cells/object_model.h"
#include "lib/ops/derive_params.h"

namespace ops {

// ctx.res applies only when there is no source.
int q7_RsetComplement(const DeriveContext& ctx, const cells::Object* source);

}  // namespace ops
