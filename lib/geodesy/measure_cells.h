// True areas of spherical polygons of the cell index on the ellipsoid.
//
// A cell of the index is a spherical polygon in direction-cosine space: its
// edges are arcs of planes through the centre of the ellipsoid. The map from
// a geocentric direction to the surface normal there is linear followed by a
// normalisation, so it takes planes through the centre to planes through the
// centre: the cell is also a spherical polygon in the space of surface
// normals, with the normals of its vertices as corners. Its area on the
// ellipsoid is the integral of G^2 (the radius of Gaussian curvature
// squared) over that polygon of normals.
//
// Units: square metres on an ellipsoid, steradians when no ellipsoid is
// given. Triangles are signed: positive when (c, a, b) turn counterclockwise
// seen from outside (c.(a x b) > 0).
//
// Accuracy: the integral is taken by a Gauss rule in polar coordinates about
// one corner, after cutting triangles with a side longer than
// MEASURE_MAX_SIDE; the excess itself is exact, so a sphere (a = b) gives
// a^2 times the excess to rounding. The cells of an index of 10 242 cells add
// up to the ellipsoid's area within a few parts in 1e13.
#pragma once

#include <span>

#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/ellipsoid.h"

namespace geodesy {

// Triangles with a side longer than this (radians) are cut in two at that
// side's midpoint before they are integrated: below it the five-point rule
// leaves about 1e-12 of the triangle's area.
inline constexpr double MEASURE_MAX_SIDE = 0.2;

// Signed area of the triangle (c, a, b) of surface normals on the ellipsoid
// (steradians when e is null). 0 for a degenerate triangle; NOVALUE when a
// corner is no position.
double NormalTriangleArea(const Ellipsoid* e, const DirectionCosines& c, const DirectionCosines& a,
                          const DirectionCosines& b);

// The same for a triangle of geocentric directions: the corners are turned
// into surface normals first (on the sphere they already are).
double DirectionTriangleArea(const Ellipsoid* e, const DirectionCosines& c,
                             const DirectionCosines& a, const DirectionCosines& b);

// Area of the cell with the given geocentric centre and Voronoi vertices (in
// counterclockwise order): the sum of the triangles (centre, vertex k-1,
// vertex k). NOVALUE when a vertex is no position; 0 for fewer than 3.
double CellTrueArea(const Ellipsoid* e, const DirectionCosines& centre,
                    std::span<const DirectionCosines> vertices);

}  // namespace geodesy
