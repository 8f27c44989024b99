// The surface value of a TIN Pset at a position (OverheadSurface).
//
// The position's cell is located and its TIN record found by a binary
// search over the object's cell array (the search state remembers the last
// cell, record and tangent frame, so that pointer moves within one cell cost
// one projection and a walk over the cell's triangles). A cell without
// triangles has its one value (z[0]) everywhere. Otherwise the position is
// projected into the cell's plane and the triangle that holds it gives the
// value by linear interpolation of its vertices' heights. When no triangle
// holds it, the position is moved towards the cell centre, up to 8 steps of
// 2 x 1.569610536641133e-6 doubling at each step and never past the centre,
// and the search repeated; a position within sqrt(2.77e-10) of the centre
// has no value.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/direction_cosines.h"
#include "lib/geodesy/tangent_frame.h"

namespace ops {

// The first step towards the centre, in the unit sphere's plane.
inline constexpr double SURFACE_FIRST_STEP = 2.0 * 1.569610536641133e-6;
inline constexpr int SURFACE_STEPS = 8;
// Squared plane distance from the centre within which there is no value.
inline constexpr double SURFACE_CENTRE_SQ = 2.77e-10;

// Cell changes before the record table is made, and the largest index it is
// made for (4 bytes a cell).
inline constexpr std::int64_t SURFACE_TABLE_AFTER = 256;
inline constexpr std::int32_t SURFACE_TABLE_MAX_CELLS = 1 << 22;

// A search state belongs to one object: start a new one for another.
struct SurfaceSearch {
  std::int32_t cell = cells::NO_CELL;  // the last cell looked up
  std::int64_t record = -1;            // its TIN record, -1 when the object has none
  geodesy::TangentFrame frame{};       // the last cell's frame
  int steps = 0;                       // steps towards the centre the last value took
  // The last cell's points in its plane with their heights (u, v, z), for
  // resolutions other than the plane floats of a derived TIN.
  std::vector<double> vertices;
  // The object's record by cell number, made after SURFACE_TABLE_AFTER
  // binary searches (empty before, or when the object's cell array is not
  // strictly ascending); it belongs to the cell array table_of points at.
  const std::uint8_t* table_of = nullptr;
  std::int32_t table_cells = 0;
  std::int64_t lookups = 0;
  std::vector<std::int32_t> record_of;
};

// The value at the unit vector p, or geodesy::NOVALUE when there is none
// (no cell, a cell the object does not hold, or no triangle near enough).
// The object must be a validated TIN Pset.
double q7_TinSurfaceValue(cells::CellIndex& idx, const geodesy::DirectionCosines& p,
                          const cells::Object& tin, SurfaceSearch& search);

}  // namespace ops
