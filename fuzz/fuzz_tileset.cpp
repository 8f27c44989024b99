// Fuzz target: the tileset file reader. Any bytes are accepted or refused
// with a validation code; a tileset that is accepted gets a geometry and is
// drawn into a small picture, which reads every tile the frame touches.
#include <cstddef>
#include <cstdint>

#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"
#include "lib/display/tileset.h"
#include "lib/geodesy/ellipsoid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  display::TilesetInfo info;
  if (display::ReadTileset(data, size, &info) != 0) return 0;
  static const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  display::MapGeometry g;
  if (display::SetUpTilesetGeometry(info, &e, nullptr, 0.0254 / 96, 0.0254 / 96, {0, 47, 63, 0}, 64,
                                    nullptr, nullptr, &g) == 0) {
    display::DisplaySurface s;
    if (display::CreateDisplaySurface(&s, 64, 48, 0x00ffffff)) {
      display::DrawTileset(info, g, &s);
      display::DestroyDisplaySurface(&s);
    }
    display::ReleaseMapGeometry(&g);
  }
  return 0;
}
