// The area fill of region sets on a map: DisplayArea's drawing.
#pragma once

#include <cstdint>

#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"

namespace display {

// The side of the sampled blocks of the area fills on the screen, pixels.
inline constexpr int kFillBlock = 4;

// Fills a region set into an area state: the picture of FillObjectAreaExact
// (draw_objects.h), the same block decisions and the same pixels but along
// the coastline, where a projected leg and the exact boundary may pass a
// pixel centre on different sides. Pixels inside undecided blocks take their
// side from the rings' crossings of their row, checked against the decided
// blocks around them and a few exact point tests; whatever the checks cannot
// vouch for is tested pixel by pixel. Works on every projection, across seams
// and poles, and stops between rows when the state is cancelled. Returns the
// number of pixels filled.
//
// block: the side of the sampled blocks in device units, kFillBlock on the
// screen. A finer device (the fill grid of a plot) takes blocks that cover
// the ground the screen's blocks cover, which keeps the decisions as safe
// as the screen's at the screen's cost.
int64_t FillObjectArea(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& obj, double fuzz,
                       DrawState* d, int block = kFillBlock);

}  // namespace display
