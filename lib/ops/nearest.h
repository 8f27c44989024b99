// Nearest and farthest items of an object: the point of a Pset, the point on
// the lines of an Lset, the point on the boundary of an Rset, and the points
// of a Pset within a proximity, nearest first.
//
// Distances are squared chords between unit vectors. The searches work on a
// NearestCache made once per opened object (PrepareNearest): the object's
// points, or its legs cell by cell with their great-circle normals, restored
// once; two cap trees (below); and the cells' Voronoi polygons as they are
// first needed. A pointer-move update therefore costs only the search
// itself. The cache holds nothing that a search changes but its scratch:
// it stays valid for as long as the object and the index are unchanged.
//
// Cell bounds. For a query point q and a cell, the least bound is 0 when q
// lies in the cell (nearer to its centre than to every neighbour centre) and
// otherwise the least squared chord from q to any edge of the cell's Voronoi
// polygon; every point of the cell is at least that far. A cheaper lower
// bound, used to order the cells, is the centre distance less the cell's
// radius (the largest angle from the centre to a polygon vertex). Farthest
// searches bound the distance from the antipode -q instead: a point at least
// b from -q is at most 4 - b from q.
//
// Cap trees. Each cell's points or legs are cut into runs of at most 16
// in stored order (chunks); a binary tree of spherical caps is made over
// the chunks (a leaf holds one or more, at most 16 items in all), each
// node's cap centred on the mean of the points below it and reaching the
// farthest (a leg's ends; a cap under 90 degrees is convex, so it holds the
// whole leg), halves split across the widest spread. The least bound of a
// node is the centre distance less the cap's radius. A second tree over the
// cells' centres finds the seed cell of a tie.
//
// Result rule (both the reference pass and the production search give it):
// the least squared chord (farthest: the greatest); among equal distances
// the seed cell's item, else that of the first cell in directory order
// (ascending cell number), and within a cell the first in stored order. The
// seed cell is, nearest, the query point's own cell when the object has
// items there, else the object's cell whose centre is nearest; farthest, the
// cell whose centre is farthest (ties: first in directory order).
//
// The reference pass (..._Reference) considers every cell of the object once
// in directory order, searching it when its bound can beat the best so far
// (a line object's cells are all searched: the legs joining a cell's pieces
// to the next cells reach past its polygon, so the polygon bounds hold for
// points only). The production search walks the cap tree best first: the
// chunks by increasing least bound (so the query point's own cell, bound 0,
// first), down the nearer child while nothing waiting is nearer, and stops
// when no chunk left can be better; the ties met on the way are resolved by
// the rule above. A point set in at least a third of the index's cells (35%)
// is instead searched by the flood outward from the query point's cell
// through the neighbour lists, ordered by the cells' cheap bounds.
//
// Lines: a cell's candidates are the vertices and the feet of the query
// point on every leg of every piece in the cell, the legs that join a piece
// to the pieces before and after it included (the feet of -q for farthest:
// the farthest point of a leg from q is its nearest point to -q). A foot
// counts only between the leg's ends.
//
// Rset boundary search statuses (q7_RsetNearestBoundary):
//   1  the query point's own cell holds boundary and the circle of the
//      nearest distance lies wholly inside that cell
//   2  the own cell holds boundary; the search went on (down the cap tree)
//      to the other cells that meet the circle of the best distance
//   3  the own cell holds none; the search went down the cap tree
//   0  the region has no boundary (nothing found)
//  -9  the workspace cannot hold the search's cell set
#pragma once

#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/workspace.h"

namespace ops {

// A node of a cap tree: a spherical cap (its centre and the cosine and sine
// of its radius; cos_r -1 for the whole sphere) holding everything below the
// node, and either two children, kid and kid + 1, or, with kid negative, a
// leaf: the count items from -1 - kid on in the tree's item order.
struct NearNode {
  double x, y, z, cos_r, sin_r;
  std::int32_t kid, count;
};

// A leaf of the content tree: a run of consecutive points or legs
// [first, last) of directory cell dir (at most a few of them).
struct NearChunk {
  std::int64_t first, last;
  std::int32_t dir;
};

// One leg of a line or ring as the searches see it: its ends, the unit
// normal of its great circle (zero for a leg of no length: the point a), the
// item and the vertices of its ends (for their attribute words).
struct NearLeg {
  geodesy::DirectionCosines a, b, n;
  std::int32_t item = 0;
  std::int32_t va = 0, vb = 0;  // vertex numbers in NearestCache::verts
};

struct NearestCache {
  int kind = -1;
  int res = 0;
  std::int32_t cell_count = 0;
  // Directory: the object's cells in ascending order, and per cell the first
  // of its points (Pset) or legs (Lset, Rset); dir_first has one entry more.
  std::vector<std::int32_t> dir_cell;
  std::vector<std::int64_t> dir_first;
  std::vector<std::int32_t> dir_of;  // index cell -> directory position, or -1
  // Pset: the restored points and their attribute words, cell after cell.
  std::vector<geodesy::DirectionCosines> points;
  std::vector<std::uint32_t> point_attr;
  // Lset, Rset: legs cell by cell, the restored vertices and attributes.
  std::vector<NearLeg> legs;
  std::vector<geodesy::DirectionCosines> verts;
  std::vector<std::uint32_t> vert_attr;
  // Per index cell, filled on first use: its centre and the cosine and sine
  // of its radius, side by side so that a bound costs one memory access.
  struct CellDisc {
    double x, y, z, cos_r, sin_r;
  };
  std::vector<CellDisc> discs;
  // Cap trees made by PrepareNearest: over runs of at most a few points or
  // legs of a cell (leaves: chunks), and over the centres of the object's
  // cells (leaves: directory positions) for the seed cell of a tie.
  // The chunks are kept in the content tree's order; centre_order is the
  // centre tree's order of directory positions.
  std::vector<NearChunk> chunks;
  std::vector<NearNode> tree;
  std::vector<NearNode> centre_tree;
  std::vector<std::int32_t> centre_order;
  // Search scratch.
  std::vector<std::uint32_t> seen;
  std::vector<std::pair<double, std::int32_t>> heap;
  std::vector<std::pair<std::int32_t, std::int64_t>> ties;
  // Leaves (runs of points or legs) searched by the last search (for
  // measurements; the reference pass counts cells).
  std::int64_t visited = 0;
};

// Restores the object into the cache. 0 done, 1 not a Pset, Lset or Rset (or
// a TIN Pset), 8 no memory.
int PrepareNearest(cells::CellIndex& idx, const cells::Object& obj, NearestCache& cache);

struct NearestHit {
  geodesy::DirectionCosines p;   // the point found
  double chord2 = 0.0;           // its squared chord to the query point
  std::int32_t cell = cells::NO_CELL;  // the cell it was found in
  std::int64_t index = -1;       // Pset: the point's index in that cell; lines: the leg
  std::int32_t line = -1;        // Lset, Rset: the item
  std::uint32_t datum[2] = {0, 0};  // Pset: the point's; lines: the leg's end vertices'
};

// Nearest (mode 1) or farthest (mode 2) point of a Pset. 1 found, 0 none (an
// empty set, a bad mode, an invalid query point).
int q7_PsetNearest(cells::CellIndex& idx, NearestCache& cache, const geodesy::DirectionCosines& q, int mode,
                   NearestHit* hit);
int q7_PsetNearestReference(cells::CellIndex& idx, NearestCache& cache, const geodesy::DirectionCosines& q,
                            int mode, NearestHit* hit);

// Nearest (1) or farthest (2) point on the lines of an Lset (the legs of an
// Rset's rings are taken the same way). Returns the item, -1 when nothing is
// found.
int q7_LsetNearest(cells::CellIndex& idx, NearestCache& cache, const geodesy::DirectionCosines& q, int mode,
                   NearestHit* hit);
int q7_LsetNearestReference(cells::CellIndex& idx, NearestCache& cache, const geodesy::DirectionCosines& q,
                            int mode, NearestHit* hit);

// Nearest point on the boundary of an Rset: a status as listed above.
int q7_RsetNearestBoundary(cells::CellIndex& idx, platform::Workspace* ws, NearestCache& cache,
                           const geodesy::DirectionCosines& q, NearestHit* hit);

// The points of a Pset within the proximity of q, nearest first, at most
// count (2 to 100) of them: (cell, index in cell) pairs in found and their
// squared chords in chord2. proximity is metres with an ellipsoid (at most
// its a), an angle (at most pi/4) without. Returns the number found, 0 for
// an empty set, -1 for a bad count or proximity, -9 when the workspace
// cannot hold the list of cells near q. Equal distances keep the order in
// which they were found: the own cell first, then the cells in ascending
// order.
inline constexpr int ORDERED_MAX = 100;
int q7_PsetOrdered(cells::CellIndex& idx, platform::Workspace* ws, NearestCache& cache,
                   const geodesy::Ellipsoid* e, const geodesy::DirectionCosines& q, double proximity, int count,
                   std::int32_t (*found)[2], double* chord2);

// The angle of a squared chord: 2 asin(c/2) for a chord c below 1,
// pi - 2 acos(c/2) otherwise.
double AngleOfChordSq(double chord2);

// Kilometres between p and q for the single-item reports: the angle over
// the metres-to-radians factor at their midpoint (the mean radius without an
// ellipsoid).
double ReportKilometres(const geodesy::Ellipsoid* e, const geodesy::DirectionCosines& p,
                        const geodesy::DirectionCosines& q, double chord2);

// Kilometres of an ordered list entry: the angle times the mean radius.
double OrderedKilometres(const geodesy::Ellipsoid* e, double chord2);

}  // namespace ops
