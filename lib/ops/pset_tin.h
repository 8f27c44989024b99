// The TIN of a point set, cell by cell (DerivePsetTin).
//
// Each point's attribute word is its height, read as a 32-bit float. For
// every occupied cell the cell's own points and those of its neighbouring
// cells are projected into the cell's TangentFrame and triangulated by
// q2mtin on the computed hull of the gathered points. The cell keeps the
// triangles that touch it: those with a vertex among its own points, those
// whose centroid lies in its Voronoi polygon, and those that cross the
// polygon at all (without the last, slivers along the cell's edges made only
// of neighbour points would leave gaps that the surface query cannot fill).
//
// The cell entry (cells::TinCell) then holds:
//   points     the cell's own points first (cptnb of them, in stored order),
//              then the neighbour points the kept triangles use, re-projected
//              into the cell's frame; records at resolution 9 (two floats
//              and the height's 32-bit pattern);
//   triangles  the kept triangles, counterclockwise, as indices into the
//              cell's points;
//   neighbours with "n": one triple per kept triangle, nb[j] the kept
//              triangle across the edge from vertex j to vertex j+1, or -1
//              (hull edge, or a triangle the cell did not keep);
//   cvxnb      the number of hull vertices of the cell's triangulation;
//   z          the mean, least and greatest height of the cell's own points:
//              the one value of a cell without triangles.
// A cell whose neighbourhood has fewer than 3 unique points, or whose points
// all lie on their hull or on one line, is written without triangles (its
// one value). The header's three totals are the own points, the triangles
// and the neighbour triples of all cells.
#pragma once

#include <cstdint>

#include "lib/cells/object_model.h"
#include "lib/ops/derive_params.h"

namespace ops {

// The resolution code of every TIN Pset.
inline constexpr int TIN_RESOLUTION = 9;
// The height that means "no value".
inline constexpr float TIN_NO_HEIGHT = -3.402823e38f;

// Statuses besides the derivation statuses: 1 the resolution is not 9, a
// cell polygon has fewer vertices than the cell has neighbours, or a cell's
// construction failed; 2 an internal inconsistency of the cell's triangles;
// 3 a point without a height (NaN or -3.402823e38 or less).
int q7_PsetTin(const DeriveContext& ctx, const cells::Object& pset, bool neighbours);

// The height of a vertex record's attribute word (0 without one).
float TinHeightOf(std::uint64_t attribute);

}  // namespace ops
