#pragma once
#include <cstdint>
#include "lib/cells/cell_index.h"
#include "lib/cells/object_model.h"
#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
namespace display {
int64_t FillObjectArea(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& obj, double fuzz,
                       DrawState* d);
}
