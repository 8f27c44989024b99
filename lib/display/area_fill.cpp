#include "lib/display/area_fill.h"
#include "lib/display/draw_objects.h"
namespace display {
int64_t FillObjectArea(const MapGeometry& g, cells::CellIndex& idx, const cells::Object& obj, double fuzz,
                       DrawState* d) { return FillObjectAreaExact(g, idx, obj, fuzz, d); }
}
