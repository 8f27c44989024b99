// The crossing points of lines: of the lines of one Lset with those of
// another, or of the lines of one Lset among themselves.
//
// Legs are great-circle arcs; the crossings are found cell by cell in the
// cell's TangentFrame (where the legs are straight) with LegCross and the
// fuzz, lifted back to unit vectors and kept in the cell in which they lie,
// so a crossing seen from several cells is stored once. Contacts within the
// fuzz count: a proper crossing, a vertex of one line on the other, the ends
// of a shared stretch. In the self case a leg is not tested against itself
// nor against the legs next to it on the same line. Crossings closer than
// twice the fuzz to one already found in the cell are the same crossing.
#pragma once

#include "lib/cells/object_model.h"
#include "lib/ops/derive_params.h"

namespace ops {

// second == nullptr: the lines of first among themselves. Status -1 when
// there is no crossing (or either set has no data).
int q7_LsetIntersections(const DeriveContext& ctx, const cells::Object& first,
                         const cells::Object* second, double fuzz);

}  // namespace ops
