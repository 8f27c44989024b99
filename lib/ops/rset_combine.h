// The common part (mode 1) and the combination (mode 3) of two regions.
//
// Regions without boundary are settled first: common with the null region
// is empty, with the world the other region; combined with the null region
// is the other region, with the world the world. A region without boundary
// that is neither is refused with status 10. "The other region" is written
// again under the new header, re-encoded when the resolution differs.
//
// Otherwise the boundaries are compared cell by cell: in every cell that
// holds boundary of A, each leg of A is crossed (LegCross in the cell's
// plane, with the fuzz) with each leg of B in that cell and its neighbours
// (a leg that runs exactly along a cell edge is kept by one of the two cells
// only). Crossings, touches and the ends of overlapping stretches are the
// nodes; nodes within 2f of each other are one node. The rings are cut at
// their nodes into stretches, and each stretch is labelled: inside or
// outside the other region (the sign of its boundary distance at the middle
// of its first leg), or lying on the other boundary running the same way or
// the opposite way (from the overlaps LegCross found). Rings without nodes
// are labelled whole: by the first of their cells that holds no boundary of
// the other region, else by the first vertex, else the first leg middle,
// that is not on the other boundary.
//
// A source ring that crosses itself where the other boundary runs near (a
// figure eight whose small loop winds the wrong way, as simplified borders
// make: Sudan's in Natural Earth 110m) would give the walk the labels of its
// wrong-way loop; the source is taken with such loops cut off at the
// crossing, the smaller of the two loops going.
//
// Kept: for the common part what lies inside the other region, for the
// combination what lies outside it, and in both modes one copy (A's) of
// what both boundaries share running the same way. What they share running
// opposite ways separates the two regions' insides and is dropped from both
// (a region and its complement, neighbours along their common border); in
// combined mode it counts as dropped inside, like a ring inside the other
// region, so that with nothing left the combination is the world.
//
// The kept stretches are chained into rings from node to node: at a node the
// walk goes on along its own ring when that stretch is kept, else along a
// kept stretch that leaves the node on the other boundary. A ring keeps the
// identifier of the ring its walk began on. The rings then go through the
// region builder (pieces by cell, crossing points quantised in the cell they
// lie in, b-cells, and the i-cells by the region assembly).
//
// Statuses: 0, -1 empty, 1 bad resolution, 8 output full, 9 no workspace,
// 10 inconsistent source, 16 a walk found no kept stretch to go on with,
// 17 the side of a stretch or ring could not be decided, 18 a walk did not
// return to its start within the number of stretches there are.
#pragma once

#include "lib/cells/object_model.h"
#include "lib/ops/derive_params.h"

namespace ops {

inline constexpr int RSET_COMMON = 1;
inline constexpr int RSET_COMBINED = 3;

int q7_RsetCombine(const DeriveContext& ctx, int mode, double fuzz, const cells::Object& a,
                   const cells::Object& b);

}  // namespace ops
