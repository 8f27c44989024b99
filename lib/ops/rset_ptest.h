// Whether a line set or a region has a point in common with a region.
//
// Cells first: a cell of the lines (a cell a line only crosses included) or
// of the first region (interior or boundary) that is an interior cell of the
// region answers at once. Then, in the cells that hold both, every leg of the
// lines (or of the first region's boundary) is cut where the region's
// boundary legs meet it, and a point of each stretch between the cuts is
// tested against the region: inside answers 1; on the boundary only with the
// boundary flag. For two regions the same is done the other way round, and
// boundary legs that run along each other answer 1 when both regions lie on
// the same side of them (with the boundary flag, also when they lie on
// opposite sides; and any contact counts).
#pragma once

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"

namespace ops {

// 1 when they share a point, 0 when not. fuzz 0 means the library default.
int q7_LsetRsetPtest(cells::CellIndex& idx, const cells::Object& lines, const cells::Object& region, double fuzz,
                     bool boundary);
int q7_RsetRsetPtest(cells::CellIndex& idx, const cells::Object& first, const cells::Object& region, double fuzz,
                     bool boundary);

}  // namespace ops
