// Convex hull of points on the sphere, and the derivation that turns it into
// a region (DeriveRsetHullOfPoints).
#pragma once

#include <vector>

#include "lib/cells/object_model.h"
#include "lib/geodesy/direction_cosines.h"
#include "lib/ops/derive_params.h"

namespace ops {

// The hull of unit vectors by wrapping: the indices of the hull vertices in
// `hull`, inside on the left (counter-clockwise seen from outside), and their
// number (>= 3); or a failure: 0 fewer than 3 points, or all within
// SAME_POINT_SQ of their mean direction; 1 the points do not lie within one
// hemisphere about their mean (or the wrap does not close); 2 only two hull
// points (all on one great circle). Candidates on one great circle with the
// current edge give the farthest of them, so no vertex lies on an edge.
int SphericalHull(const std::vector<geodesy::DirectionCosines>& points, std::vector<int>& hull);

// DeriveRsetHullOfPoints: the hull of a Pset's points as a one-ring region
// at ctx.res (the hull vertices carry their attribute words when ctx.res
// has an attribute part). Statuses: 0, 1 the region assembly failed,
// 2 too few or coincident points, 3 not within a hemisphere, 4 only two
// hull points.
int q7_RsetHullOfPoints(const DeriveContext& ctx, const cells::Object& pset);

}  // namespace ops
