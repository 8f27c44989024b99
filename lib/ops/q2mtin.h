// Planar TIN (triangulated irregular network) by point insertion and
// circumcircle edge swaps.
//
// The construction takes the hull (given or computed by q2hull), fans it
// about a centre vertex, inserts the other points ring by ring from the
// centre outwards, and swaps every edge whose opposite point lies inside the
// circumcircle, so that the result is a Delaunay triangulation of the unique
// points. The trace record (lib/ops/tin_trace.h) receives the messages and
// drawing steps; the interpreter passes none.
#pragma once

#include <vector>

#include "lib/ops/tin_trace.h"

namespace ops {

// The TIN record. Triangle t has the counter-clockwise vertices
// vt[3t], vt[3t+1], vt[3t+2] (indices into the point array); nb[3t+j] is the
// triangle across the edge from vt[3t+j] to vt[3t+(j+1)%3], or -1 on the hull.
struct Tin {
  int npts = 0;
  const PlanarPoint* points = nullptr;
  int ntri = 0;
  std::vector<int> vt;
  std::vector<int> nb;
};

// What the construction counted (the summary lines of the trace).
struct TinCounts {
  int total = 0;       // input points
  int on_hull = 0;     // unique hull points and the centre vertex
  int edge = 0;        // points inserted on an existing edge
  int duplicated = 0;  // points within the distance criterion of another
  int failed = 0;      // points whose insertion failed
  int depth = 0;       // greatest depth of nested swaps reached
};

// Statuses of q2mtin.
enum : int {
  TIN_DONE = 0,
  TIN_DONE_WITH_DROPS = -1,  // duplicated or failed points (see TinCounts)
  TIN_TOO_FEW = 1,           // fewer than 3 points
  TIN_BAD_HULL = 3,          // a hull of fewer than 3 points (also: all collinear)
  TIN_ALL_ON_HULL = 4,       // no point inside the hull
  TIN_INSERT_FAILED = 5,     // a search or insertion failed, or the final check
  TIN_INVALID = 6,           // the TIN failed its verification on the way
};

// Builds the TIN of points[0..npts). nH = 0: the hull is computed; else the
// points iH .. iH+nH-1 are the hull (nH >= 3). Returns a status above; a
// negative hull code h gives -h. `tin` holds the triangles for statuses 0, -1
// and for the three points case.
int q2mtin(const PlanarPoint* points, int npts, int iH, int nH, Tin* tin,
           TinCounts* counts = nullptr, const TinTrace* trace = nullptr);

// Checks every triangle and edge of the TIN; 0, or the code of the first
// inconsistency found (1 vertex, 2 neighbour number, 3 not among its
// neighbour's neighbours, 4 and 5 shared edge vertices, 6 inverted), with
// its trace line.
int TinVerify(const Tin& tin, const TinTrace* trace = nullptr);

// The same checks on the listed triangles only.
int TinVerifyTriangles(const Tin& tin, const int* triangles, int count,
                       const TinTrace* trace = nullptr);

// Signed area of the triangle (a, b, c): positive when counter-clockwise.
inline double TinArea(const PlanarPoint& a, const PlanarPoint& b, const PlanarPoint& c) {
  return 0.5 * ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
}

}  // namespace ops
