// Regions near to and afar from points: the union of one circle per point
// (mode 1) or the rest of the world (mode 2).
//
// Each circle is a regular n-gon (n = 11, 23, 43, 89, 179, 359 for densities
// 1 to 6), counterclockwise, its first vertex due north of the point
// (towards longitude 0 at a pole), circumradius r = d * (mean radians per
// metre over the points) * k(n), k(n) the area-equal factor. Points closer
// than d / 6371007.1808 / 1000 count as one. Overlapping n-gons are merged
// by splitting their legs at the crossings and keeping what lies outside
// every other n-gon; the rings go through the region builder.
//
// Statuses: those of the derivations, and -1 for an empty point set (near).
#pragma once

#include "lib/cells/object_model.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/derive_params.h"

namespace ops {

int DensityVertices(int density);  // 0 for a density outside 1 ... 6
double AreaEqualFactor(int n);

// e == nullptr: distance is an angle (4e-12 ... pi/4).
int q7_RsetNearPoints(const DeriveContext& ctx, const geodesy::Ellipsoid* e, int mode, int density,
                      double distance, const cells::Object& points);

}  // namespace ops
