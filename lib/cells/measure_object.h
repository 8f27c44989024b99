// Area and length of whole objects (Part of the geodesy core that reads the
// cell index and the object layout).
//
// Objects hold geocentric direction cosines quantised per cell; the functions
// here restore them and measure:
// - a line set: its length (PolylineLength: one geocentric radius for the
//   whole line, metres);
// - a region set by the cell method: the cells of its i-cells list whole
//   (from the cell area table, or measured), and for every cell of its b-cells
//   list the part inside the rings. The rings' legs are arcs of planes
//   through the centre (as the builder follows them); in each boundary cell
//   the legs are cut where they cross into the next cell, and the part inside
//   is the fan of triangles from the cell centre to the pieces plus the parts
//   of the cell's rim between an exit and the next entry, all integrated as
//   true areas (measure_cells.h). Land and its complement built from the
//   reversed rings add up to the cell's area, cell by cell;
// - a region set by its rings: methods 's', 'p' (RegionAreaByEdges) and 'r'
//   (RegionGeodesicMeasure, geodesic edges exactly).
// The perimeter is the sum of the geodesic lengths of every ring's legs,
// the closing leg included. Areas are square metres, lengths metres.
//
// Statuses: 0 done; 1 the object is not of the kind, or a vertex or a cell
// is no position (a damaged object); 9 no memory. A failing step names
// itself in function: 1 restoring the vertices, 2 the cell decomposition,
// 3 the area from the rings.
#pragma once

#include <cstdint>
#include <span>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {

using geodesy::Ellipsoid;

inline constexpr int MEASURE_FN_RESTORE = 1;
inline constexpr int MEASURE_FN_CELLS = 2;
inline constexpr int MEASURE_FN_RINGS = 3;

// True area of one cell of the index (steradians when e is null); NOVALUE
// when a Voronoi vertex cannot be formed.
double IndexCellArea(const cells::CellIndex& idx, const Ellipsoid* e, std::int32_t cell);

// Fills table (cell_count entries) with every cell's area divided by the sum
// of all, so the entries sum to 1; *total (when given) receives that sum.
// Returns false, the table unspecified, when a cell cannot be measured.
bool FillCellAreaTable(const cells::CellIndex& idx, const Ellipsoid* e, std::span<double> table,
                       double* total = nullptr);

struct ObjectMeasure {
  double area = 0.0;       // m^2 (regions)
  double perimeter = 0.0;  // m (regions), or length (lines)
  std::int64_t vertices = 0;
  int status = 0;          // 0, 1 or 9
  int function = 0;        // the step that failed
};

// Length of an Lset.
ObjectMeasure MeasureLset(cells::CellIndex& idx, const cells::Object& obj, const Ellipsoid& e);

// Area and perimeter of an Rset. method 'c' is the cell method (table: the
// normalised cell area table of idx on e, or null to measure the i-cells
// directly); 's', 'p' and 'r' take the area from the rings.
ObjectMeasure MeasureRset(cells::CellIndex& idx, const cells::Object& obj, const Ellipsoid& e,
                          char method, const double* table);

}  // namespace cells
