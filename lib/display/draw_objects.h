// Drawing stored objects through a MapGeometry: the points, lines and areas
// of point, line and region sets.
//
// Objects are visited cell by cell. When the geometry has a visible-cell list
// for the object's cell index, cells outside it are passed over without
// decoding; otherwise every cell is decoded and what does not project is
// skipped. Vertices are restored through the object's cell index (which must
// be the index the object was built on).
#pragma once

#include <cstdint>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/display/area_fill.h"

namespace display {

// Which vertices DisplayPoints draws of a line or region set, and which points
// of a triangulated point set.
enum PointChoice { kAllVertices = 0, kStartPoints, kEndPoints, kBothEnds, kTinPoints, kTinVertices, kTinBoth };

// Markers for the points of a Pset (or TIN Pset), or the chosen vertices of an
// Lset or Rset. Returns the number of markers placed.
int64_t DrawObjectPoints(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& obj, int choice,
                         DrawState* d);

// Polylines for the segments of an Lset and the rings of an Rset: every leg
// along its great circle through the PolylinePen, so a leg shows wherever a
// part of it is in view. Returns the number of device points drawn.
int64_t DrawObjectLines(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& obj, DrawState* d);

// The exact fill of a region set into an area state. The frame is cut into
// blocks of kFillBlock pixels; a block whose corners and centre all fall in
// interior cells without boundary is filled whole, one whose samples all fall
// in cells wholly outside is left, and every other block is decided pixel by
// pixel by the point-in-region test at the pixel's centre. So interior cells
// fill whole and boundary cells fill their inside part, on every projection
// and across seams and poles. Returns the number of pixels filled.
// FillObjectArea (area_fill.h) gives the same picture much faster; this one
// stays as its reference. kFillBlock is in area_fill.h.
int64_t FillObjectAreaExact(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& obj, double fuzz,
                            DrawState* d);

}  // namespace display
