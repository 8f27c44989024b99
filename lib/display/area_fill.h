// The area fill of region sets on a map: DisplayArea's drawing.
#pragma once

#include <cstdint>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"

namespace display {

// Fills a region set into an area state: the picture of FillObjectAreaExact
// (draw_objects.h), the same block decisions and the same pixels but along
// the coastline, where a projected leg and the exact boundary may pass a
// pixel centre on different sides. Pixels inside undecided blocks take their
// side from the rings' crossings of their row, checked against the decided
// blocks around them and a few exact point tests; whatever the checks cannot
// vouch for is tested pixel by pixel. Works on every projection, across seams
// and poles, and stops between rows when the state is cancelled. Returns the
// number of pixels filled.
int64_t FillObjectArea(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& obj, double fuzz,
                       DrawState* d);

}  // namespace display
