// Tilesets: a prepared world picture cut into tiles, in one ".tgxm" file,
// with its own cylindrical map geometry (the tileset projection).
//
// File layout. Every field is a 32-bit word; angles are signed words in
// units of pi / 2147483640 radians. In the file's own byte order (it begins
// "tgxm", written little-endian here):
//   0  "tgxm"
//   4  version, 1
//   8  pixel format: 1 raw rows (3 bytes red, green, blue per pixel, top row
//      first, tile width * tile height * 3 bytes), 2 a PNG stream, 3 a JPEG
//      stream per tile
//  12  tiles across, 16 tiles down (tile 0 the top-left; rows of tiles from
//      north to south, west to east within a row)
//  20  tile width, 24 tile height (pixels)
//  28  central longitude; 32 longitude width (unsigned, at most 2 pi)
//  36  centre latitude, 40 centre longitude (the tileset's own map centre,
//      geodetic)
//  44  band count n (at least 2); 48 zero
//  52  n + 1 band latitudes, geodetic, strictly ascending, south first
//      then one (offset, size) pair per tile, offsets from the file's start
//      the tile data
// The picture (tiles across * tile width by tiles down * tile height pixels)
// spans the longitude width west to east about the central longitude, and
// its rows divide the latitude table into n bands of equal height.
//
// A file in the other byte order begins "mxgt" and every word is swapped: a
// lead of 16 bytes ("mxgt", tiles across, tiles down, L the bytes of tile
// data), the L bytes of tile data from offset 16, then the header as above
// (again beginning "mxgt") at offset 16 + L.
//
// Validation codes: 4 magic wrong, 5 pixel format not 1, 2 or 3, 6 version
// not 1, 7 truncated or a tile outside the file (or a raw tile of the wrong
// size), 8 a band table that is not usable (fewer than 2 or more than
// TILESET_MAX_BANDS bands, not ascending, beyond a pole, a width of 0 or
// above 2 pi), 9 tile counts or sizes out of range (no tiles, a tile side
// above 8192 pixels, a picture side above 131072). Every offset and size
// is checked against the file before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/display/draw_state.h"
#include "lib/display/map_geometry.h"

namespace display {

inline constexpr double TILESET_ANGLE_UNIT = 3.141592653589793 / 2147483640.0;

enum TilesetFormat { kTileRaw = 1, kTilePng = 2, kTileJpeg = 3 };

struct TileEntry {
  uint32_t offset = 0, size = 0;
};

struct TilesetInfo {
  bool swapped = false;
  uint32_t version = 0, format = 0;
  uint32_t across = 0, down = 0, tile_width = 0, tile_height = 0;
  int32_t lon0 = 0;     // units
  uint32_t width = 0;   // units
  int32_t centre_lat = 0, centre_lon = 0;
  int32_t bands = 0;
  std::vector<int32_t> latitudes;  // bands + 1, units, geodetic
  std::vector<TileEntry> tiles;    // across * down
  const uint8_t* data = nullptr;   // the file (not owned)
  size_t size = 0;
  int64_t PictureWidth() const { return int64_t(across) * tile_width; }
  int64_t PictureHeight() const { return int64_t(down) * tile_height; }
};

// Validates a whole file held in memory and fills info: 0 or a code above.
int ReadTileset(const uint8_t* data, size_t size, TilesetInfo* info);

// What a writer needs: the fields of the header (data, size, swapped and
// tiles are ignored) and the tiles' bytes in tile order.
std::vector<uint8_t> WriteTileset(const TilesetInfo& header, const std::vector<std::vector<uint8_t>>& tiles,
                                  bool other_byte_order);

// The map geometry of a tileset for a frame: projection 19 about centre (the
// header's own when null), one device unit per picture pixel, the scale
// from the picture's resolution and the pixel width. index: the visible
// cells of slot 0 are built for it (may be null). Returns 0, 1 (a parameter:
// no ellipsoid, a frame under 8 units, pixel sizes), 2 (the band table or
// the centre refused), 8 or 9 (no memory).
int SetUpTilesetGeometry(const TilesetInfo& info, const geodesy::Ellipsoid* ellipsoid,
                         const DirectionCosines* centre, double pixel_width, double pixel_height,
                         const DeviceFrame& frame, int32_t point_capacity, cells::CellIndex* index,
                         platform::Workspace* workspace, MapGeometry* g);

// Draws the tiles under a tileset geometry into the surface: every pixel
// of the frame that falls on the picture takes the picture's pixel. Returns
// 0, 1 (a tile could not be decoded or has the wrong size) or 2 (no memory
// for a decoded tile); the pixels drawn before a failure stay.
int DrawTileset(const TilesetInfo& info, const MapGeometry& g, DisplaySurface* s);

}  // namespace display
