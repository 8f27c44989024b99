// Area and length on the ellipsoid.
//
// Areas are square metres, lengths metres, angles on the unit sphere
// steradians or radians. Vertex lists are plain arrays of DirectionCosines:
// - a region is a list of rings, each ring ended by a mark (x == NOVALUE)
//   and the list by two marks; the inside of a ring is on its left seen from
//   outside the ellipsoid, so a counter-clockwise ring (seen from above)
//   encloses a positive area and a clockwise ring is a hole. The closing
//   edge from a ring's last vertex back to its first is implied. The region
//   functions take the ring vertices as surface normals (SurfaceNormal).
// - a line set is a list of segments separated by marks; its vertices are
//   geocentric direction cosines as stored in objects.
// A list that ends without its marks ends its last ring or segment there.
//
// Region areas are reduced to [0, ellipsoid area): rings that together come
// out negative (a set of holes, the complement of land built from reversed
// rings) enclose everything except what they cut out.
#pragma once

#include <cstddef>
#include <span>

#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/ellipsoid.h"

namespace geodesy {

// Latitudes (asin of the normal's z) of an edge's ends closer than this make
// the edge follow the parallel in the "p" method.
inline constexpr double PARALLEL_EDGE_TOLERANCE = 4e-10;

// Radius of Gaussian curvature at the point whose surface normal is u:
// a2 b / (a2 (x^2 + y^2) + b2 z^2); a2 / b at a pole; NOVALUE when the
// denominator is below SAME_POINT_SQ or u is no position.
double GaussianRadius(const Ellipsoid& e, const DirectionCosines& u);

// Distance from the centre to the surface in the geocentric direction c:
// a b / sqrt(b^2 (cx^2 + cy^2) + a^2 cz^2); b at a pole.
double GeocentricRadius(const Ellipsoid& e, const DirectionCosines& c);

// The angle in radians between two unit vectors whose squared chord is q
// (2 asin(sqrt(q) / 2)); 0 for q below SAME_POINT_SQ. Chords up to about 18
// degrees use the series of the line length; longer ones, where that series
// would fall short (by 2e-5 of the angle at 90 degrees), the exact form.
double ChordAngle(double q);

// Spherical excess of the triangle (a, b, c) of unit vectors, by
// L'Huilier's formula: the unsigned area on the unit sphere, 0..2 pi.
double SphericalTriangleArea(const DirectionCosines& a, const DirectionCosines& b,
                             const DirectionCosines& c);

// Area of the Voronoi cell with the given centre and vertices (in cyclic
// order): the sum over k of G(centre)^2 times the spherical excess of
// (centre, vertex k-1, vertex k). With e null the area on the unit sphere.
double CellArea(const DirectionCosines& centre, std::span<const DirectionCosines> vertices,
                const Ellipsoid* e);

// Divides each cell area by the (compensated) sum of all, so the table sums
// to 1. Returns false, leaving the table alone, when the sum is not a
// positive finite number.
bool NormaliseCellAreas(std::span<double> areas);

// Signed area of the triangle (c, a, b) of surface normals: the spherical
// excess times G(m)^2 at the centroid direction m; 0 when the excess is below
// SAME_POINT_SQ; positive when c.(a x b) exceeds SAME_POINT_SQ, negative
// otherwise; NOVALUE when the centroid direction is no position.
double EllipsoidalTriangleArea(const Ellipsoid& e, const DirectionCosines& c,
                               const DirectionCosines& a, const DirectionCosines& b);

// The length edges are cut to in RegionAreaByEdges: (2a + b) / 3 / 10000
// metres (about 637 m on the earth).
double SubdivisionLength(const Ellipsoid& e);

// How RegionAreaByEdges lays an edge between its ends: always along the
// geodesic ("s"), or along the parallel when both ends lie within
// PARALLEL_EDGE_TOLERANCE of the same latitude ("p").
enum class EdgePath { Geodesic, ParallelWhenLevel };

// Region area by edge triangles: with c the normalised sum of all vertices,
// the sum over every edge of the triangles (c, edge piece), each edge cut
// into equal pieces no longer than subdivision metres (geodesic distance).
// Returns the area in [0, ellipsoid area), or NOVALUE when c or a triangle
// is no position, the subdivision is not positive or the ellipsoid is unset.
double RegionAreaByEdges(const Ellipsoid& e, std::span<const DirectionCosines> normals,
                         double subdivision, EdgePath path);

// Area and perimeter of a region whose edges are geodesics, exactly: each
// edge contributes the area between it and the equator (GeographicLib's
// geodesic S12), summed with compensation per ring; rings that go round a
// pole are recognised by counting their crossings of the prime meridian.
// The area is in [0, ellipsoid area); the perimeter is the sum of the
// geodesic edge lengths. Both NOVALUE when the ellipsoid is unset.
struct GeodesicMeasure {
  double area = 0.0;
  double perimeter = 0.0;
};
GeodesicMeasure RegionGeodesicMeasure(const Ellipsoid& e,
                                      std::span<const DirectionCosines> normals);

// Length of a line set: r(c) times the sum of the angles between
// consecutive vertices within each segment, c the normalised sum of all
// vertices and r the geocentric radius (GeocentricRadius). 0 for an empty
// list; NOVALUE when c is no position. One radius for the whole line: on
// the earth a line of a few thousand kilometres comes out up to about 1e-4
// of its length long or short (a 0-60 N meridian: 1.4e-4).
double PolylineLength(const Ellipsoid& e, std::span<const DirectionCosines> vertices);

// Length of a line set whose edges are geodesics, exactly: the sum of the
// geodesic distances between consecutive vertices within each segment.
// 0 for an empty list; NOVALUE when the ellipsoid is unset.
double GeodesicPolylineLength(const Ellipsoid& e, std::span<const DirectionCosines> vertices);

}  // namespace geodesy
