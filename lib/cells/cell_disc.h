// The cells a circle on the ellipsoid meets: the region-distance form of the
// near-cells query, for drawing what a circle selects.
//
// The circle is given by its centre q (a unit vector) and its radius as the
// squared chord r2 between q and a point of the circle. A cell meets the
// circle's disc when the nearest point of the cell (a convex spherical
// polygon bounded by its Voronoi edges) lies within the radius: q's own cell
// always does, any other cell when one of its edges comes within the
// radius. A cell that meets the disc is interior when every Voronoi vertex
// of it lies within the radius (then, for a radius below 90 degrees, the
// whole cell lies inside the disc, since both are convex), and boundary
// otherwise: the circle crosses it. The cells meeting a disc form a
// connected patch, so they are found by a flood from q's cell.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/geodesy/direction_cosines.h"

namespace cells {

// What DiscCellStatus says about one cell.
enum DiscRelation : int { DISC_OUTSIDE = 0, DISC_BOUNDARY = 1, DISC_INTERIOR = 2 };

// The relation of one cell to the disc (q_cell: the cell holding q).
int DiscCellStatus(const CellIndex& idx, std::int32_t cell, std::int32_t q_cell, const geodesy::DirectionCosines& q,
                   double r2);

// The boundary and interior cells of the disc, each list ascending. Returns
// 0, or 9 when memory runs out.
int DiscCells(CellIndex& idx, const geodesy::DirectionCosines& q, double r2, std::vector<std::int32_t>* boundary,
              std::vector<std::int32_t>* interior);

// The largest cosine of the angle between q and a point of the great-circle
// arc a-b (shorter than 180 degrees).
double ArcNearestCosine(const geodesy::DirectionCosines& q, const geodesy::DirectionCosines& a,
                        const geodesy::DirectionCosines& b);

}  // namespace cells
