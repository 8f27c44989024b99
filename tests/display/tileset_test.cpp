// The tileset file: both byte orders, every validation code, damaged files
// refused without reading outside them, the geometry and the drawn tiles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "lib/display/bitmap.h"
#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/display/pen.h"
#include "lib/display/tileset.h"
#include "lib/geodesy/ellipsoid.h"

namespace display {
namespace {

constexpr double kPi = 3.141592653589793;

int32_t Units(double degrees) { return int32_t(std::lround(degrees * kPi / 180 / TILESET_ANGLE_UNIT)); }

// A tileset of across x down raw tiles of side px: tile k filled with grey
// level 10 k, equal bands from -80 to 80 degrees.
struct Made {
  TilesetInfo h;
  std::vector<std::vector<uint8_t>> tiles;
  Made(uint32_t across, uint32_t down, uint32_t px, int bands = 4) {
    h.version = 1;
    h.format = kTileRaw;
    h.across = across;
    h.down = down;
    h.tile_width = h.tile_height = px;
    h.lon0 = 0;
    h.width = 4294967280u;  // 2 pi
    for (int i = 0; i <= bands; ++i) h.latitudes.push_back(Units(-80 + 160.0 * i / bands));
    for (uint32_t k = 0; k < across * down; ++k) tiles.emplace_back(px * px * 3, uint8_t(10 * k));
  }
  std::vector<uint8_t> Bytes(bool other = false) const { return WriteTileset(h, tiles, other); }
};

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
void SetWord(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

TEST(TilesetFile, BothByteOrdersReadTheSame) {
  const Made m(3, 2, 8);
  for (bool other : {false, true}) {
    const std::vector<uint8_t> b = m.Bytes(other);
    EXPECT_EQ(std::memcmp(b.data(), other ? "mxgt" : "tgxm", 4), 0);
    TilesetInfo t;
    ASSERT_EQ(ReadTileset(b.data(), b.size(), &t), 0) << other;
    EXPECT_EQ(t.swapped, other);
    EXPECT_EQ(t.across, 3u);
    EXPECT_EQ(t.down, 2u);
    EXPECT_EQ(t.bands, 4);
    EXPECT_EQ(t.latitudes, m.h.latitudes);
    ASSERT_EQ(t.tiles.size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
      ASSERT_EQ(t.tiles[k].size, 8u * 8 * 3);
      EXPECT_EQ(b[t.tiles[k].offset], uint8_t(10 * k));
    }
  }
}

TEST(TilesetFile, ValidationCodes) {
  const Made m(2, 1, 4);
  for (bool other : {false, true}) {
    const std::vector<uint8_t> good = m.Bytes(other);
    const size_t header = other ? good.size() - (52 + 4 * 5 + 8 * 2) : 0;
    auto code = [&](std::vector<uint8_t> b) {
      TilesetInfo t;
      return ReadTileset(b.data(), b.size(), &t);
    };
    auto put = [&](std::vector<uint8_t> b, size_t at, uint32_t v) {
      SetWord(b, header + at, other ? __builtin_bswap32(v) : v);
      return b;
    };
    std::vector<uint8_t> b = good;
    b[0] = 'x';
    EXPECT_EQ(code(b), 4);
    if (other) {
      b = good;
      b[header] = 'x';  // the header's own magic
      EXPECT_EQ(code(b), 4);
    }
    EXPECT_EQ(code(put(good, 8, 0)), 5);
    EXPECT_EQ(code(put(good, 8, 4)), 5);
    EXPECT_EQ(code(put(good, 4, 2)), 6);
    // Zero bands, one band, bands not ascending, a latitude beyond the pole.
    EXPECT_EQ(code(put(good, 44, 0)), 8);
    EXPECT_EQ(code(put(good, 44, 1)), 8);
    EXPECT_EQ(code(put(good, 52 + 8, uint32_t(m.h.latitudes[0]))), 8);
    EXPECT_EQ(code(put(good, 52, uint32_t(Units(95)))), 8);
    // A huge band count runs past the file: truncated, no read outside.
    EXPECT_EQ(code(put(good, 44, 200)), 7);
    // Tile counts and sizes.
    EXPECT_EQ(code(put(good, 12, 0)), 9);
    EXPECT_EQ(code(put(good, 20, 100000)), 9);
    // A tile pointing outside the file, and one with a size beyond it.
    const size_t dir = 52 + 4 * 5;
    EXPECT_EQ(code(put(good, dir, uint32_t(good.size()))), 7);
    EXPECT_EQ(code(put(good, dir + 4, 0xfffffff0u)), 7);
    EXPECT_EQ(code(put(good, dir + 4, 47)), 7);  // a raw tile of the wrong size
    // Every truncation of the file is refused (or, past the header of the
    // other order, still read: its tiles lie before the header).
    for (size_t n = 0; n < good.size(); ++n) {
      std::vector<uint8_t> cut(good.begin(), good.begin() + n);
      const int c = code(cut);
      EXPECT_NE(c, 0) << other << " cut at " << n;
    }
  }
}

struct Wgs84 {
  geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
};

// The tiles drawn 1:1 under the tileset's geometry: the picture's centre
// pixel of each tile lands where the geometry puts that tile's position.
TEST(TilesetFile, GeometryAndDrawing) {
  Wgs84 w;
  const Made m(4, 2, 16);
  const std::vector<uint8_t> b = m.Bytes(true);
  TilesetInfo t;
  ASSERT_EQ(ReadTileset(b.data(), b.size(), &t), 0);
  MapGeometry g;
  // Centred on the tileset's own centre (latitude 0 longitude 0): the
  // picture (64 x 32) sits in the middle of a 100 x 60 frame.
  ASSERT_EQ(SetUpTilesetGeometry(t, &w.e, nullptr, 0.0254 / 96, 0.0254 / 96, {0, 59, 99, 0}, 64, nullptr,
                                 nullptr, &g), 0);
  EXPECT_EQ(g.projection, PROJ_TILESET);
  EXPECT_TRUE(IsFixedScale(g.projection));
  EXPECT_NEAR(g.scale, w.e.a * (2 * kPi * g.params->tileset.k / 64) / (0.0254 / 96), 1e-3);
  DisplaySurface s;
  ASSERT_TRUE(CreateDisplaySurface(&s, 100, 60, 0x00ffffff));
  ASSERT_EQ(DrawTileset(t, g, &s), 0);
  int painted = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) painted += SurfacePixel(&s, x, y) != 0x00ffffffu;
  EXPECT_EQ(painted, 100 * 32);  // the picture wraps round in longitude, 32 rows high
  // Tile (row 0, column 1) holds the northern band, longitudes -90..0.
  const DirectionCosines u = geodesy::GeodeticToCosines({40 * kPi / 180, -45 * kPi / 180}, w.e);
  PixelPoint p;
  ASSERT_TRUE(PositionToDevice(g, u, &p));
  EXPECT_EQ(SurfacePixel(&s, p.x, p.y), MakeColour(10, 10, 10));
  const DirectionCosines v = geodesy::GeodeticToCosines({-40 * kPi / 180, 135 * kPi / 180}, w.e);
  ASSERT_TRUE(PositionToDevice(g, v, &p));
  EXPECT_EQ(SurfacePixel(&s, p.x, p.y), MakeColour(70, 70, 70));
  // A line across the meridian opposite the centre breaks there instead of
  // running across the whole map.
  ClearDisplaySurface(&s);
  DrawState d;
  LineStyle black;
  ASSERT_EQ(OpenLines(&d, &s, black), kDrawOk);
  {
    PolylinePen pen(g, &d);
    pen.MoveTo(geodesy::GeodeticToCosines({0.1, 179 * kPi / 180}, w.e));
    pen.LineTo(geodesy::GeodeticToCosines({0.1, -179 * kPi / 180}, w.e));
    pen.Break();
  }
  CloseDrawState(&d);
  int dark = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 30; x < 70; ++x) dark += SurfacePixel(&s, x, y) != 0x00ffffffu;
  EXPECT_EQ(dark, 0);
  ReleaseMapGeometry(&g);
  DestroyDisplaySurface(&s);
}

// PNG tiles decode; a PNG tile that is damaged or of the wrong size fails
// drawing with status 1 and no crash.
TEST(TilesetFile, PngTiles) {
  Wgs84 w;
  Made m(2, 1, 8);
  m.h.format = kTilePng;
  for (size_t k = 0; k < m.tiles.size(); ++k) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, k ? 8 : 8, 8);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, k ? 0 : 1, 0, k ? 1 : 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    const std::string name = "/tmp/tileset_test_tile.png";
    int detail;
    ASSERT_EQ(SaveImageFile(s, name, ImageKind::kPng, 0, 0, &detail), SaveResult::kOk);
    cairo_surface_destroy(s);
    std::ifstream in(name, std::ios::binary);
    m.tiles[k].assign(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<uint8_t> b = m.Bytes();
  TilesetInfo t;
  ASSERT_EQ(ReadTileset(b.data(), b.size(), &t), 0);
  MapGeometry g;
  ASSERT_EQ(SetUpTilesetGeometry(t, &w.e, nullptr, 0.0254 / 96, 0.0254 / 96, {0, 19, 29, 0}, 64, nullptr,
                                 nullptr, &g), 0);
  DisplaySurface s;
  ASSERT_TRUE(CreateDisplaySurface(&s, 30, 20, 0x00ffffff));
  ASSERT_EQ(DrawTileset(t, g, &s), 0);
  PixelPoint p;
  ASSERT_TRUE(PositionToDevice(g, geodesy::GeodeticToCosines({0.1, -1.0}, w.e), &p));
  EXPECT_EQ(SurfacePixel(&s, p.x, p.y), MakeColour(255, 0, 0));
  ASSERT_TRUE(PositionToDevice(g, geodesy::GeodeticToCosines({0.1, 1.0}, w.e), &p));
  EXPECT_EQ(SurfacePixel(&s, p.x, p.y), MakeColour(0, 0, 255));
  // Damage the second tile's stream.
  b[t.tiles[1].offset + 20] ^= 0xff;
  b[t.tiles[1].offset + 30] ^= 0xff;
  ASSERT_EQ(ReadTileset(b.data(), b.size(), &t), 0);
  EXPECT_EQ(DrawTileset(t, g, &s), 1);
  ReleaseMapGeometry(&g);
  DestroyDisplaySurface(&s);
}

// Writes the seed corpus of the reader's fuzz target when asked to.
TEST(TilesetFile, SeedCorpus) {
  const char* dir = getenv("TILESET_CORPUS_OUT");
  if (!dir) GTEST_SKIP();
  const Made a(2, 1, 4), c(1, 1, 2, 2);
  std::ofstream(std::string(dir) + "/native.tgxm", std::ios::binary).write((const char*)a.Bytes().data(), a.Bytes().size());
  std::ofstream(std::string(dir) + "/swapped.tgxm", std::ios::binary).write((const char*)a.Bytes(true).data(), a.Bytes(true).size());
  std::ofstream(std::string(dir) + "/small.tgxm", std::ios::binary).write((const char*)c.Bytes().data(), c.Bytes().size());
}

}  // namespace
}  // namespace display
