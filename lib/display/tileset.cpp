// The tileset file reader and writer, the tileset map geometry, and the
// drawing of tiles.
//
// Under a tileset geometry one device unit is one picture pixel, so drawing
// needs no inverse projection: a column's picture x and a row's picture y
// follow from the plane coordinates by a scale and an offset, and each
// pixel is a copy. Tiles are decoded (PNG, JPEG) once per drawing, when the
// first pixel needs them.
#include "lib/display/tileset.h"

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "lib/display/bitmap.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/memcheck.h"

namespace display {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr uint32_t kMaxTileSide = 8192;
constexpr int64_t kMaxPictureSide = 131072;
constexpr size_t kFixedHeader = 52;

uint32_t Swap(uint32_t v) { return __builtin_bswap32(v); }

struct Reader {
  const uint8_t* data;
  size_t size;
  bool swapped;
  size_t base;  // where the header starts
  // The word at header offset off; false when it lies outside the file.
  bool Word(size_t off, uint32_t* v) const {
    if (base > size || off > size - base || size - base - off < 4) return false;
    uint32_t w;
    std::memcpy(&w, data + base + off, 4);
    *v = swapped ? Swap(w) : w;
    return true;
  }
};

}  // namespace

int ReadTileset(const uint8_t* data, size_t size, TilesetInfo* info) {
  *info = TilesetInfo{};
  if (data == nullptr || size < 4) return 7;
  Reader r{data, size, false, 0};
  if (std::memcmp(data, "tgxm", 4) == 0) {
    r.swapped = false;
  } else if (std::memcmp(data, "mxgt", 4) == 0) {
    r.swapped = true;
    uint32_t tile_bytes;
    if (!r.Word(12, &tile_bytes)) return 7;
    r.base = 16 + static_cast<size_t>(tile_bytes);
    if (r.base > size || size - r.base < 4) return 7;
    if (std::memcmp(data + r.base, "mxgt", 4) != 0) return 4;
  } else {
    return 4;
  }
  TilesetInfo& t = *info;
  t.swapped = r.swapped;
  uint32_t w[12];
  for (int i = 0; i < 12; ++i)
    if (!r.Word(4 + 4 * i, &w[i])) return 7;
  t.version = w[0];
  t.format = w[1];
  if (t.format < 1 || t.format > 3) return 5;
  if (t.version != 1) return 6;
  t.across = w[2];
  t.down = w[3];
  t.tile_width = w[4];
  t.tile_height = w[5];
  t.lon0 = static_cast<int32_t>(w[6]);
  t.width = w[7];
  t.centre_lat = static_cast<int32_t>(w[8]);
  t.centre_lon = static_cast<int32_t>(w[9]);
  t.bands = static_cast<int32_t>(w[10]);
  if (t.across < 1 || t.down < 1 || t.tile_width < 1 || t.tile_height < 1 ||
      t.tile_width > kMaxTileSide || t.tile_height > kMaxTileSide ||
      t.PictureWidth() > kMaxPictureSide || t.PictureHeight() > kMaxPictureSide) {
    return 9;
  }
  if (t.bands < 2 || t.bands > TILESET_MAX_BANDS) return 8;
  if (t.width == 0 || t.width > 4294967280u) return 8;
  // The table and the directory must lie inside the file.
  const uint64_t count = uint64_t(t.across) * t.down;
  const uint64_t header = kFixedHeader + 4 * uint64_t(t.bands + 1) + 8 * count;
  if (r.base > size || header > size - r.base) return 7;
  t.latitudes.resize(t.bands + 1);
  for (int i = 0; i <= t.bands; ++i) {
    uint32_t v;
    if (!r.Word(kFixedHeader + 4 * i, &v)) return 7;
    t.latitudes[i] = static_cast<int32_t>(v);
    if (t.latitudes[i] < -1073741820 || t.latitudes[i] > 1073741820) return 8;  // beyond a pole
    if (i > 0 && t.latitudes[i] <= t.latitudes[i - 1]) return 8;
  }
  if (std::abs(t.centre_lat) > 1073741820) return 8;
  t.tiles.resize(count);
  const size_t dir = kFixedHeader + 4 * (t.bands + 1);
  const uint64_t raw = uint64_t(t.tile_width) * t.tile_height * 3;
  for (uint64_t i = 0; i < count; ++i) {
    TileEntry& e = t.tiles[i];
    if (!r.Word(dir + 8 * i, &e.offset) || !r.Word(dir + 8 * i + 4, &e.size)) return 7;
    if (e.size == 0 || e.offset > size || e.size > size - e.offset) return 7;
    if (t.format == kTileRaw && e.size != raw) return 7;
  }
  t.data = data;
  t.size = size;
  return 0;
}

std::vector<uint8_t> WriteTileset(const TilesetInfo& h, const std::vector<std::vector<uint8_t>>& tiles,
                                  bool other) {
  std::vector<uint8_t> out;
  auto put = [&](uint32_t v) {
    if (other) v = Swap(v);
    const size_t at = out.size();
    out.resize(at + 4);
    std::memcpy(out.data() + at, &v, 4);
  };
  auto magic = [&] { out.insert(out.end(), other ? "mxgt" : "tgxm", (other ? "mxgt" : "tgxm") + 4); };
  uint64_t tile_bytes = 0;
  for (const auto& t : tiles) tile_bytes += t.size();
  const size_t header = kFixedHeader + 4 * h.latitudes.size() + 8 * tiles.size();
  // Where the tile data starts, and where the header starts.
  const size_t data_at = other ? 16 : header;
  if (other) {
    magic();
    put(h.across);
    put(h.down);
    put(static_cast<uint32_t>(tile_bytes));
    for (const auto& t : tiles) out.insert(out.end(), t.begin(), t.end());
  }
  magic();
  put(h.version);
  put(h.format);
  put(h.across);
  put(h.down);
  put(h.tile_width);
  put(h.tile_height);
  put(static_cast<uint32_t>(h.lon0));
  put(h.width);
  put(static_cast<uint32_t>(h.centre_lat));
  put(static_cast<uint32_t>(h.centre_lon));
  put(static_cast<uint32_t>(h.latitudes.size() - 1));
  put(0);
  for (int32_t v : h.latitudes) put(static_cast<uint32_t>(v));
  uint64_t at = data_at;
  for (const auto& t : tiles) {
    put(static_cast<uint32_t>(at));
    put(static_cast<uint32_t>(t.size()));
    at += t.size();
  }
  if (!other)
    for (const auto& t : tiles) out.insert(out.end(), t.begin(), t.end());
  return out;
}

int SetUpTilesetGeometry(const TilesetInfo& info, const geodesy::Ellipsoid* ellipsoid,
                         const DirectionCosines* centre, double pixel_width, double pixel_height,
                         const DeviceFrame& f, int32_t point_capacity, cells::CellIndex* index,
                         platform::Workspace* workspace, MapGeometry* g) {
  *g = MapGeometry{};
  if (ellipsoid == nullptr || !(ellipsoid->a > 0.0) || !(ellipsoid->b > 0.0)) return 1;
  if (!(pixel_width >= 4e-12) || !(pixel_height >= 4e-12) || !std::isfinite(pixel_width) ||
      !std::isfinite(pixel_height))
    return 1;
  if (std::llabs(int64_t(f.x1) - f.x0) < 8 || std::llabs(int64_t(f.y1) - f.y0) < 8) return 1;
  if (point_capacity < 16) return 1;
  if (info.bands < 1 || info.latitudes.size() != size_t(info.bands) + 1) return 2;
  // The band latitudes are geodetic in the file; the table is geocentric.
  std::vector<double> table(info.bands + 1);
  for (int i = 0; i <= info.bands; ++i) {
    const DirectionCosines u =
        geodesy::GeodeticToCosines({info.latitudes[i] * TILESET_ANGLE_UNIT, 0.0}, *ellipsoid);
    table[i] = std::atan2(u.z, u.x);
  }
  DirectionCosines c;
  if (centre) {
    c = *centre;
  } else {
    c = geodesy::GeodeticToCosines(
        {info.centre_lat * TILESET_ANGLE_UNIT, info.centre_lon * TILESET_ANGLE_UNIT}, *ellipsoid);
  }
  g->params = static_cast<ProjectionParams*>(platform::CheckedAlloc(sizeof(ProjectionParams)));
  g->points = static_cast<PixelPoint*>(platform::CheckedAlloc(size_t(point_capacity) * sizeof(PixelPoint)));
  auto fail = [&](int code) {
    ReleaseMapGeometry(g);
    return code;
  };
  if (!g->params || !g->points) return fail(8);
  new (g->params) ProjectionParams();
  const double width = double(info.width) * TILESET_ANGLE_UNIT;
  if (SetUpTileset(info.lon0 * TILESET_ANGLE_UNIT, width, table.data(), info.bands, &c,
                   &g->params->tileset) != 0)
    return fail(2);
  const TilesetParams& p = g->params->tileset;
  // One device unit per picture pixel.
  double sx = width * p.k / double(info.PictureWidth());
  double sy = (p.t[p.n] - p.t[0]) / double(info.PictureHeight());
  if (f.x1 < f.x0) sx = -sx;
  if (f.y1 < f.y0) sy = -sy;
  g->frame = f;
  g->projection = PROJ_TILESET;
  g->centre = c;
  g->transform = MakePixelTransform(f, sx, sy, 0);
  g->scale = ellipsoid->a * std::fabs(sx) / pixel_width;
  double xa, ya, xb, yb;
  DeviceToPlane(g->transform, f.x0, f.y0, &xa, &ya);
  DeviceToPlane(g->transform, f.x1, f.y1, &xb, &yb);
  g->plane_width = std::fabs(xb - xa);
  g->plane_height = std::fabs(yb - ya);
  g->current_pen = -1;
  g->point_capacity = point_capacity;
  g->xmin = std::min(f.x0, f.x1);
  g->xmax = std::max(f.x0, f.x1);
  g->ymin = std::min(f.y0, f.y1);
  g->ymax = std::max(f.y0, f.y1);
  g->ellipsoid = ellipsoid;
  if (index != nullptr) {
    const int status = BuildVisibleCells(index, workspace, g, 0);
    if (status > 0) return fail(status);
  }
  return 0;
}

namespace {

// The tiles of one drawing, decoded on first use.
struct TileCache {
  const TilesetInfo& info;
  std::vector<cairo_surface_t*> decoded;
  explicit TileCache(const TilesetInfo& i) : info(i), decoded(i.tiles.size(), nullptr) {}
  ~TileCache() {
    for (cairo_surface_t* s : decoded)
      if (s) cairo_surface_destroy(s);
  }
  // 0 and the tile's surface (null for raw tiles), or a failure status.
  int Get(size_t k, cairo_surface_t** out) {
    *out = nullptr;
    if (info.format == kTileRaw) return 0;
    if (decoded[k]) {
      *out = decoded[k];
      return 0;
    }
    const TileEntry& e = info.tiles[k];
    cairo_surface_t* s = nullptr;
    const DecodeResult r = DecodeImage(info.data + e.offset, e.size,
                                       info.format == kTilePng ? ImageKind::kPng : ImageKind::kJpeg, &s);
    if (r != DecodeResult::kOk || !s) return r == DecodeResult::kNoMemory ? 2 : 1;
    if (cairo_image_surface_get_width(s) != int(info.tile_width) ||
        cairo_image_surface_get_height(s) != int(info.tile_height)) {
      cairo_surface_destroy(s);
      return 1;
    }
    cairo_surface_flush(s);
    decoded[k] = s;
    *out = s;
    return 0;
  }
};

}  // namespace

int DrawTileset(const TilesetInfo& info, const MapGeometry& g, DisplaySurface* s) {
  if (!s || !s->bitmap || !g.params || g.projection != PROJ_TILESET || info.tiles.empty()) return 1;
  const TilesetParams& p = g.params->tileset;
  const int64_t pw = info.PictureWidth(), ph = info.PictureHeight();
  const double span_x = 2 * p.half_width * p.k, span_y = p.t[p.n] - p.t[0];
  const bool wraps = 2 * p.half_width >= 2 * kPi - 1e-9;
  const int x0 = std::max(g.xmin, 0), x1 = std::min(g.xmax, s->width - 1);
  const int y0 = std::max(g.ymin, 0), y1 = std::min(g.ymax, s->height - 1);
  if (x0 > x1 || y0 > y1) return 0;
  // Picture column of each device column (-1: off the picture).
  std::vector<int64_t> col(x1 - x0 + 1);
  for (int x = x0; x <= x1; ++x) {
    double X, Y;
    DeviceToPlane(g.transform, x, 0, &X, &Y);
    double u = (X + p.x0 + p.half_width * p.k) / span_x * double(pw);
    int64_t c = -1;
    if (std::isfinite(u)) {
      if (wraps) {
        u = std::fmod(u, double(pw));
        if (u < 0) u += double(pw);
        c = std::min<int64_t>(int64_t(u), pw - 1);
      } else if (u >= 0 && u < double(pw)) {
        c = int64_t(u);
      }
    }
    col[x - x0] = c;
  }
  TileCache cache(info);
  cairo_surface_flush(s->bitmap);
  unsigned char* data = cairo_image_surface_get_data(s->bitmap);
  const int stride = cairo_image_surface_get_stride(s->bitmap);
  int status = 0;
  for (int y = y0; y <= y1 && status == 0; ++y) {
    double X, Y;
    DeviceToPlane(g.transform, 0, y, &X, &Y);
    const double v = (1.0 - (Y + p.y0) / span_y) * double(ph);
    if (!(v >= 0 && v < double(ph))) continue;
    const int64_t row = int64_t(v);
    const size_t tile_row = size_t(row / info.tile_height);
    const uint32_t in_tile_y = uint32_t(row % info.tile_height);
    uint32_t* out = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
    for (int x = x0; x <= x1; ++x) {
      const int64_t c = col[x - x0];
      if (c < 0) continue;
      const size_t k = tile_row * info.across + size_t(c / info.tile_width);
      const uint32_t tx = uint32_t(c % info.tile_width);
      cairo_surface_t* tile;
      if ((status = cache.Get(k, &tile)) != 0) break;
      if (tile == nullptr) {
        const uint8_t* px = info.data + info.tiles[k].offset + (size_t(in_tile_y) * info.tile_width + tx) * 3;
        out[x] = 0xff000000u | (uint32_t(px[0]) << 16) | (uint32_t(px[1]) << 8) | px[2];
      } else {
        const uint32_t* src = reinterpret_cast<const uint32_t*>(
            cairo_image_surface_get_data(tile) + size_t(in_tile_y) * cairo_image_surface_get_stride(tile));
        out[x] = src[tx] | 0xff000000u;
      }
    }
  }
  cairo_surface_mark_dirty(s->bitmap);
  ++s->generation;
  return status;
}

}  // namespace display
