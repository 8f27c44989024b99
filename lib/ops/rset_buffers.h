// Regions near to and afar from points and lines: the union of one circle
// per point or one band per line (mode 1), or the rest of the world (mode 2).
//
// Each circle is a regular n-gon (n = 11, 23, 43, 89, 179, 359 for densities
// 1 to 6), counterclockwise, its first vertex due north of the point
// (towards longitude 0 at a pole), circumradius r = d * (mean radians per
// metre over the points) * k(n), k(n) the area-equal factor. Points closer
// than d / 6371007.1808 / 1000 count as one. Overlapping n-gons are merged
// by splitting their legs at the crossings and keeping what lies outside
// every other n-gon; the rings go through the region builder. Neighbours
// are found through a grid of cubes over the sphere, so the work grows with
// the number of overlaps, not with the square of the number of points.
//
// Lines: a point lies in the near region when, for some leg, its distance to
// the leg (the great-circle arc with its ends) is at most the width of the
// side of the leg's great circle it lies on. Each leg gives a band of each
// side's width, closed by quarter circles at the ends of the line; each inner
// vertex a round join of each side's width; a one-vertex line a circle of
// the larger width. Widths become angles by the metres-to-radians factor at
// the mean direction of the line's vertices; round parts are n-gons of that
// side's density with circumradius w k(n); band edges are densified in steps
// of pi / n so that their chords stay within that margin. A width below
// 0.001 m makes a one-sided buffer (the other side keeps a width of a few
// centimetres, so that neighbouring legs overlap rather than touch). The leg,
// join and circle polygons are merged like the point circles; everything is
// in unit vectors, so neither +-180 degrees nor the poles are special.
//
// Statuses: those of the derivations, -1 for an empty point or line set
// (near), 16 or 18 when the merged rings do not close.
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

// Distances in metres, each 0 ... 0.1 x mean radius, one of them at least
// 0.001 m (e == nullptr: angles 0 ... 0.1). Densities 1 ... 6 per side.
int q7_LsetExpand(const DeriveContext& ctx, const geodesy::Ellipsoid* e, int mode, int density_right,
                  int density_left, double distance_right, double distance_left, const cells::Object& lines);

}  // namespace ops
