// maketileset: makes a tileset (.tgxm) from a world picture.
//
//   maketileset input.png|.jpg output.tgxm [options]
//     --bands equal|mercator   the band latitude table (default equal)
//     --count N                bands (default 18 equal, 32 mercator)
//     --south D --north D      the table's latitude range in degrees
//                              (default -90..90 equal, -85..85 mercator)
//     --tile PX                tile side in pixels (default 256)
//     --height PX              picture height (default: the input's rows in
//                              the range, so equal bands keep the scale)
//     --format raw|png|jpeg    how tiles are stored (default raw)
//     --swap                   write the other byte order ("mxgt")
//     --map-centre D           the input is a plate carree map that ombrel
//                              saved from "Geometry N0 E<D> -1 wwpltcrr":
//                              its pixels are found through that geometry
//                              (geocentric latitudes) instead of as an
//                              equirectangular picture of geodetic latitude
//                              from 90N, 180W at its top-left corner.
//
// The tileset spans all longitudes about the input's central meridian. Every
// picture pixel is inverse-projected through the tileset geometry and takes
// the input pixel under that position (nearest pixel).
#include <cairo.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/display/bitmap.h"
#include "lib/display/draw_map.h"
#include "lib/display/map_geometry.h"
#include "lib/display/tileset.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/safe_output.h"

namespace {

constexpr double kPi = 3.141592653589793;

int Fail(const char* text, const char* detail = "") {
  std::fprintf(stderr, "maketileset: %s%s\n", text, detail);
  return 1;
}

struct Input {
  cairo_surface_t* s = nullptr;
  int w = 0, h = 0;
  bool map = false;
  display::MapGeometry g;
  uint32_t At(int x, int y) const {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                            size_t(y) * cairo_image_surface_get_stride(s));
    return row[x];
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: maketileset input.png|.jpg output.tgxm [--bands equal|mercator] [--count N]\n"
                 "       [--south D] [--north D] [--tile PX] [--height PX] [--format raw|png|jpeg]\n"
                 "       [--swap] [--map-centre D]\n");
    return 2;
  }
  const std::string in_name = argv[1], out_name = argv[2];
  std::string bands = "equal", format = "raw";
  int count = 0, tile = 256, height = 0;
  double south = NAN, north = NAN, map_centre = NAN;
  bool swap = false;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--bands") bands = next();
    else if (a == "--count") count = std::atoi(next());
    else if (a == "--south") south = std::atof(next());
    else if (a == "--north") north = std::atof(next());
    else if (a == "--tile") tile = std::atoi(next());
    else if (a == "--height") height = std::atoi(next());
    else if (a == "--format") format = next();
    else if (a == "--swap") swap = true;
    else if (a == "--map-centre") map_centre = std::atof(next());
    else return Fail("unknown option ", a.c_str());
  }
  const bool mercator = bands == "mercator";
  if (!mercator && bands != "equal") return Fail("--bands must be equal or mercator");
  if (count == 0) count = mercator ? 32 : 18;
  if (std::isnan(south)) south = mercator ? -85 : -90;
  if (std::isnan(north)) north = mercator ? 85 : 90;
  if (count < 2 || count > display::TILESET_MAX_BANDS) return Fail("--count out of range");
  if (!(south < north) || south < -90 || north > 90 || (mercator && (south <= -90 || north >= 90)))
    return Fail("bad latitude range");
  if (tile < 8 || tile > 8192) return Fail("--tile out of range");
  const uint32_t fmt = format == "raw" ? display::kTileRaw : format == "png" ? display::kTilePng
                       : format == "jpeg" ? display::kTileJpeg : 0;
  if (!fmt) return Fail("--format must be raw, png or jpeg");
  if (platform::SafeCheckTarget(out_name.c_str(), {in_name.c_str()}) != 0)
    return Fail("output refused (the same file as the input, or not a regular file): ", out_name.c_str());

  Input in;
  const display::ImageKind kind = display::ImageKindForReading(in_name);
  if (kind == display::ImageKind::kNone) return Fail("input must be .png, .jpg or .jpeg: ", in_name.c_str());
  if (display::LoadImageFile(in_name, kind, &in.s) != display::DecodeResult::kOk || !in.s)
    return Fail("cannot read ", in_name.c_str());
  cairo_surface_flush(in.s);
  in.w = cairo_image_surface_get_width(in.s);
  in.h = cairo_image_surface_get_height(in.s);
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const double pixel = 0.0254 / 96;
  double lon0 = 0;
  if (!std::isnan(map_centre)) {
    in.map = true;
    lon0 = map_centre * kPi / 180;
    display::GeometrySpec spec;
    spec.projection = display::PROJ_WWPLTCRR;
    spec.centre = geodesy::GeodeticToCosines({0, lon0}, e);
    spec.scale = geodesy::NOVALUE;
    spec.pixel_width = spec.pixel_height = pixel;
    spec.frame = {0, in.h - 1, in.w - 1, 0};
    if (display::SetUpMapGeometry(nullptr, nullptr, nullptr, &e, spec, &in.g) != 0)
      return Fail("no plate carree geometry for the input's size");
  }

  // The band table, geodetic degrees.
  std::vector<double> table(count + 1);
  const double ys = std::asinh(std::tan(south * kPi / 180)), yn = std::asinh(std::tan(north * kPi / 180));
  for (int i = 0; i <= count; ++i) {
    table[i] = mercator ? std::atan(std::sinh(ys + (yn - ys) * i / count)) * 180 / kPi
                        : south + (north - south) * i / count;
  }
  const int width = in.map ? in.g.xmax - in.g.xmin : in.w;
  if (height <= 0) height = std::max(8, int(std::lround(in.h * (north - south) / 180.0)));
  const uint32_t across = (width + tile - 1) / tile, down = (height + tile - 1) / tile;
  // The picture is cut into whole tiles: its size rounds up.
  const int pw = int(across * tile), ph = int(down * tile);

  display::TilesetInfo h;
  h.version = 1;
  h.format = fmt;
  h.across = across;
  h.down = down;
  h.tile_width = h.tile_height = tile;
  auto units = [](double rad) { return int32_t(std::lround(rad / display::TILESET_ANGLE_UNIT)); };
  h.lon0 = units(lon0);
  h.width = 4294967280u;
  h.centre_lat = 0;
  h.centre_lon = h.lon0;
  h.bands = count;
  for (double d : table) h.latitudes.push_back(units(d * kPi / 180));
  // A geometry of the new tileset, to find each picture pixel's position.
  std::vector<std::vector<uint8_t>> tiles(size_t(across) * down);
  {
    display::TilesetInfo probe = h;
    probe.tiles.assign(tiles.size(), {});
    display::MapGeometry g;
    // Frame = the picture, top-left pixel (0, 0); centred on the tileset's
    // centre the picture's centre is the plane origin.
    if (display::SetUpTilesetGeometry(probe, &e, nullptr, pixel, pixel, {0, ph - 1, pw - 1, 0}, 64, nullptr,
                                      nullptr, &g) != 0)
      return Fail("the band table gives no geometry");
    const display::TilesetParams& p = g.params->tileset;
    // Picture pixel (x, y) to plane: the drawing's own mapping inverted.
    const double span_x = 2 * p.half_width * p.k, span_y = p.t[p.n] - p.t[0];
    std::vector<uint8_t> rgb(size_t(pw) * ph * 3, 0);
    for (int y = 0; y < ph; ++y) {
      const double Y = (1.0 - (y + 0.5) / ph) * span_y - p.y0;
      for (int x = 0; x < pw; ++x) {
        const double X = (x + 0.5) / pw * span_x - p.half_width * p.k - p.x0;
        display::DirectionCosines u;
        if (display::ProjectInverse(*g.params, g.projection, X, Y, &u) > 0) continue;
        int sx, sy;
        if (in.map) {
          display::PixelPoint q;
          if (!display::PositionToDevice(in.g, u, &q)) continue;
          sx = q.x;
          sy = q.y;
        } else {
          const geodesy::LatLong ll = geodesy::CosinesToGeodetic(u, e);
          sx = int(std::floor((ll.lon + kPi) / (2 * kPi) * in.w));
          sy = int(std::floor((kPi / 2 - ll.lat) / kPi * in.h));
        }
        if (sx < 0 || sy < 0 || sx >= in.w || sy >= in.h) continue;
        const uint32_t v = in.At(sx, sy);
        uint8_t* o = &rgb[(size_t(y) * pw + x) * 3];
        o[0] = (v >> 16) & 0xff;
        o[1] = (v >> 8) & 0xff;
        o[2] = v & 0xff;
      }
    }
    display::ReleaseMapGeometry(&g);
    for (uint32_t ty = 0; ty < down; ++ty)
      for (uint32_t tx = 0; tx < across; ++tx) {
        std::vector<uint8_t> raw(size_t(tile) * tile * 3);
        for (int r = 0; r < tile; ++r)
          std::memcpy(&raw[size_t(r) * tile * 3], &rgb[((size_t(ty) * tile + r) * pw + size_t(tx) * tile) * 3],
                      size_t(tile) * 3);
        std::vector<uint8_t>& out = tiles[size_t(ty) * across + tx];
        if (fmt == display::kTileRaw) {
          out = std::move(raw);
          continue;
        }
        // PNG and JPEG tiles through the image writers and a scratch file.
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, tile, tile);
        cairo_surface_flush(s);
        for (int r = 0; r < tile; ++r) {
          uint32_t* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + size_t(r) * cairo_image_surface_get_stride(s));
          for (int c = 0; c < tile; ++c) {
            const uint8_t* q = &raw[(size_t(r) * tile + c) * 3];
            row[c] = 0xff000000u | (uint32_t(q[0]) << 16) | (uint32_t(q[1]) << 8) | q[2];
          }
        }
        cairo_surface_mark_dirty(s);
        char scratch[] = "/tmp/maketileset_XXXXXX";
        const int fd = mkstemp(scratch);
        if (fd < 0) return Fail("no scratch file");
        close(fd);
        const std::string name = std::string(scratch) + (fmt == display::kTilePng ? ".png" : ".jpg");
        int detail = 0;
        const display::SaveResult sr = display::SaveImageFile(
            s, name, fmt == display::kTilePng ? display::ImageKind::kPng : display::ImageKind::kJpeg, 0, 0, &detail);
        cairo_surface_destroy(s);
        std::remove(scratch);
        if (sr != display::SaveResult::kOk) return Fail("tile encoding failed");
        FILE* f = std::fopen(name.c_str(), "rb");
        if (!f) return Fail("tile encoding failed");
        int ch;
        while ((ch = std::fgetc(f)) != EOF) out.push_back(uint8_t(ch));
        std::fclose(f);
        std::remove(name.c_str());
      }
  }
  if (in.map) display::ReleaseMapGeometry(&in.g);
  cairo_surface_destroy(in.s);
  const std::vector<uint8_t> bytes = display::WriteTileset(h, tiles, swap);
  if (bytes.size() > 0xFFFFFFF0u) return Fail("tileset too large for 32-bit offsets");
  display::TilesetInfo check;
  if (display::ReadTileset(bytes.data(), bytes.size(), &check) != 0) return Fail("internal: the tileset does not read back");
  platform::SafeOutput out;
  int st = platform::SafeOpen(out, out_name.c_str());
  if (st == 0) st = platform::SafeReserve(out, int64_t(bytes.size()));
  if (st == 0) st = platform::SafeWrite(out, bytes.data(), bytes.size());
  if (st == 0) st = platform::SafeCommit(out);
  if (st != 0) return Fail("cannot write the output: ", platform::SafeStatusText(st));
  std::printf("maketileset: %s: %u x %u tiles of %d px, %d %s bands %.4g..%.4g, %zu bytes\n", out_name.c_str(),
              across, down, tile, count, bands.c_str(), south, north, bytes.size());
  return 0;
}
