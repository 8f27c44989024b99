// Lines inside or outside a region: the clipping of a line set by a region.
//
// Each line is walked leg by leg. A leg that passes through boundary cells of
// the region is cut where the region's boundary legs of those cells meet it
// (LegCross in each cell's plane: crossings, touches and both ends of every
// overlap); every stretch between cuts is kept or dropped by the point test of
// its middle: kept inside when the test is positive, outside when negative,
// and by both when it lies on the boundary and `boundary_indicator` is 0 or
// more. A leg that meets no boundary cell is kept or dropped whole the same
// way (its cells decide). Each maximal run of kept stretches of one line is
// one output line with the source line's identifier; a cut point becomes a
// vertex carrying the attribute of its leg's first vertex. The output is
// rebuilt through BuildLset, so its pieces are those of any imported line.
#pragma once

#include "lib/cells/object_model.h"
#include "lib/ops/derive_params.h"

namespace ops {

inline constexpr int CLIP_INSIDE = 1;
inline constexpr int CLIP_OUTSIDE = 2;

// mode CLIP_INSIDE or CLIP_OUTSIDE; fuzz 0.0 means the library default.
// Statuses: 0 done, -1 nothing kept (or, inside the null region and outside
// the world region, nothing to keep), 1 bad mode or resolution, 8 the output
// arena is full, 9 no memory. Without an output arena only "empty or not" is
// answered.
int q7_LsetInRset(const DeriveContext& ctx, int mode, double fuzz, int boundary_indicator,
                  const cells::Object& region, const cells::Object& lines);

}  // namespace ops
