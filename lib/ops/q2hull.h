// Planar convex hull of an indexed point set.
//
// The hull works on an index array into the caller's point array and
// reorders it: on return the first h entries are the hull, counter-clockwise
// (by angle about the returned centre), and the rest are the other points in
// their original order.
#pragma once

#include "lib/ops/tin_trace.h"

namespace ops {

// Marks index 0 while it is eliminated (0 cannot be negated).
inline constexpr int HULL_ZERO_MARK = static_cast<int>(0x80000002u);

// type 0: the hull of all `count` points; returns the hull count h (the
//   count itself for 2 points or fewer), or -3 when the four extreme points
//   cannot be found (no points, or a coordinate that is not finite).
// type 1: the points are a hull already; they are only sorted by angle about
//   their mean, which is returned in `centre`; returns `count`.
// `turn_tolerance`: a turn (cross product of the two edges) at or below it
//   is not a turn; points on a hull edge are not hull points.
int q2hull(const PlanarPoint* points, int* ix, int count, double turn_tolerance,
           PlanarPoint* centre, int type, const TinTrace* trace = nullptr);

}  // namespace ops
