// Area fill of land 10m on 1600 x 1000 maps against the pictures the exact
// per-pixel fill made (tests/display/data/fill_*.png): world Mercator, plate
// carree with its seam through the Americas, a south polar stereographic
// view with the pole inside Antarctica, a globe, and a regional conic view.
// At most 0.1% of the pixels may differ, and every differing pixel must lie
// on the coastline of the reference (within two pixels of a pixel whose
// neighbour is on the other side).
//
// With OMBREL_FILL_REFERENCE_OUT set to a folder, the pictures are written
// there instead of compared (how the references were made).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/display/area_fill.h"
#include "lib/display/bitmap.h"
#include "lib/display/draw_objects.h"
#include "tests/ops/ops_test_util.h"

namespace display {
namespace {

using namespace ops::testing;

constexpr int kWidth = 1600, kHeight = 1000;

struct View {
  const char* name;
  uint32_t projection;
  double lat, lon, scale;
};
const View kViews[] = {
    {"wwmerc", PROJ_WWMERC, 0, 0, geodesy::NOVALUE},
    {"wwpltcrr", PROJ_WWPLTCRR, 0, 100, geodesy::NOVALUE},
    {"southpole", PROJ_STEREO, -90, 0, 3e7},
    {"globe", PROJ_ORTHO, 40, 10, 6e7},
    {"conical", PROJ_CONICAL, 55, 10, 5e6},
};

struct Land {
  cells::CellIndex idx;
  HeapObject land;
  bool ok = false;
  Land() { ok = LoadIndex("isotype.vix", idx) && LoadLand(idx, "land10m.rgn", land); }
  ~Land() { cells::ReleaseIndex(idx); }
};

Land& Shared() {
  static Land* land = new Land;
  return *land;
}

struct Map {
  geodesy::Ellipsoid wgs84 = geodesy::MakeEllipsoid();
  MapGeometry g;
  int status = -1;
  Map(cells::CellIndex& idx, const View& v, int width = kWidth, int height = kHeight) {
    GeometrySpec spec;
    spec.projection = v.projection;
    spec.centre = geodesy::GeodeticToCosines({v.lat * M_PI / 180, v.lon * M_PI / 180}, wgs84);
    spec.scale = v.scale;
    spec.pixel_width = spec.pixel_height = 0.0254 / 96;
    spec.frame = {0, height - 1, width - 1, 0};
    status = SetUpMapGeometry(&idx, nullptr, nullptr, &wgs84, spec, &g);
  }
  ~Map() { ReleaseMapGeometry(&g); }
};

// The filled pixels of one view (1 filled, 0 not), row by row.
std::vector<uint8_t> Fill(cells::CellIndex& idx, const cells::Object& obj, const View& v, bool exact,
                          double* ms = nullptr, int width = kWidth, int height = kHeight, bool cancel = false,
                          int64_t* count = nullptr, int block = kFillBlock) {
  Map m(idx, v, width, height);
  EXPECT_EQ(m.status, 0) << v.name;
  DisplaySurface s;
  EXPECT_TRUE(CreateDisplaySurface(&s, width, height, kDefaultBackground));
  DrawState d;
  EXPECT_EQ(OpenAreas(&d, &s, ParseAreaStyle("Black")), kDrawOk);
  d.cancelled = cancel;
  const auto t0 = std::chrono::steady_clock::now();
  const int64_t n = exact ? FillObjectAreaExact(m.g, idx, obj, 0.0, &d) : FillObjectArea(m.g, idx, obj, 0.0, &d, block);
  if (count) *count = n;
  if (ms) *ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::vector<uint8_t> px(static_cast<size_t>(width) * height);
  cairo_surface_flush(d.mask);
  const uint8_t* data = cairo_image_surface_get_data(d.mask);
  const int stride = cairo_image_surface_get_stride(d.mask);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) px[y * width + x] = data[y * stride + x] != 0;
  CloseDrawState(&d);
  DestroyDisplaySurface(&s);
  return px;
}

std::string ReferencePath(const View& v) {
  return SourceDir() + "tests/display/data/fill_" + v.name + ".png";
}

bool SaveReference(const std::string& path, const std::vector<uint8_t>& px, int kWidth = display::kWidth,
                   int kHeight = display::kHeight) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  uint8_t* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      reinterpret_cast<uint32_t*>(data + y * stride)[x] = px[y * kWidth + x] ? 0 : 0xffffff;
  cairo_surface_mark_dirty(s);
  const bool ok = SaveImageFile(s, path, ImageKind::kPng, 0, 0, nullptr) == SaveResult::kOk;
  cairo_surface_destroy(s);
  return ok;
}

std::vector<uint8_t> LoadReference(const std::string& path) {
  cairo_surface_t* s = nullptr;
  if (LoadImageFile(path, ImageKind::kPng, &s) != DecodeResult::kOk) return {};
  std::vector<uint8_t> px;
  if (cairo_image_surface_get_width(s) == kWidth && cairo_image_surface_get_height(s) == kHeight) {
    cairo_surface_flush(s);
    px.resize(kWidth * kHeight);
    const uint8_t* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        px[y * kWidth + x] = (reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xff) < 128;
  }
  cairo_surface_destroy(s);
  return px;
}

// Pixels of the reference within two pixels of its coastline.
std::vector<uint8_t> NearCoast(const std::vector<uint8_t>& ref, int kWidth = display::kWidth,
                               int kHeight = display::kHeight) {
  std::vector<uint8_t> edge(ref.size()), near(ref.size());
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t c = ref[y * kWidth + x];
      edge[y * kWidth + x] = (x > 0 && ref[y * kWidth + x - 1] != c) || (x + 1 < kWidth && ref[y * kWidth + x + 1] != c) ||
                             (y > 0 && ref[(y - 1) * kWidth + x] != c) || (y + 1 < kHeight && ref[(y + 1) * kWidth + x] != c);
    }
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      if (!edge[y * kWidth + x]) continue;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
          const int xx = x + dx, yy = y + dy;
          if (xx >= 0 && xx < kWidth && yy >= 0 && yy < kHeight) near[yy * kWidth + xx] = 1;
        }
    }
  return near;
}

TEST(AreaFill, SamePixelsAsTheExactFillOnFiveViews) {
  Land& land = Shared();
  ASSERT_TRUE(land.ok);
  if (const char* out = std::getenv("OMBREL_FILL_REFERENCE_OUT")) {
    for (const View& v : kViews)
      ASSERT_TRUE(SaveReference(std::string(out) + "/fill_" + v.name + ".png", Fill(land.idx, land.land.obj, v, true))) << v.name;
    return;
  }
  for (const View& v : kViews) {
    const std::vector<uint8_t> ref = LoadReference(ReferencePath(v));
    ASSERT_EQ(ref.size(), static_cast<size_t>(kWidth * kHeight)) << ReferencePath(v);
    double ms = 0;
    const std::vector<uint8_t> got = Fill(land.idx, land.land.obj, v, false, &ms);
    const std::vector<uint8_t> near = NearCoast(ref);
    long filled = 0, differ = 0, off_coast = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
      filled += ref[i];
      if (got[i] == ref[i]) continue;
      ++differ;
      if (!near[i]) {
        if (++off_coast <= 5) ADD_FAILURE() << v.name << ": pixel " << i % kWidth << "," << i / kWidth << " differs off the coast";
      }
    }
    // Each view shows a fair amount of both land and sea.
    EXPECT_GT(filled, kWidth * kHeight / 50) << v.name;
    EXPECT_LT(filled, kWidth * kHeight * 49 / 50) << v.name;
    if (std::getenv("OMBREL_FILL_DIFF_OUT")) {
      std::vector<uint8_t> diff(ref.size());
      for (size_t i = 0; i < ref.size(); ++i) diff[i] = got[i] != ref[i];
      SaveReference(std::string(std::getenv("OMBREL_FILL_DIFF_OUT")) + "/diff_" + v.name + ".png", diff);
    }
    EXPECT_LE(differ, kWidth * kHeight / 1000) << v.name;
    EXPECT_EQ(off_coast, 0) << v.name;
    std::printf("%-10s %7ld filled, %5ld differ, %.1f ms\n", v.name, filled, differ, ms);
  }
}

// Close-ups, where legs run over many pixels and the fill follows them along
// their great circles, and a view inside one interior cell: the fast fill
// against the exact one drawn in the same run.
TEST(AreaFill, CloseUpsMatchTheExactFill) {
  Land& land = Shared();
  ASSERT_TRUE(land.ok);
  const View views[] = {
      {"fjords", PROJ_STEREO, 61, 5.5, 4e5},
      {"strait", PROJ_GNOMONIC, 36, -5.5, 3e5},
      {"aegean", PROJ_MERCATOR, 38, 25, 1.5e6},
      {"sahara", PROJ_STEREO, 23, 12, 2e5},
      {"bering", PROJ_CONICAL, 65, -170, 3e6},
  };
  constexpr int w = 400, h = 300;
  for (const View& v : views) {
    int64_t n_fast = 0, n_exact = 0;
    const std::vector<uint8_t> ref = Fill(land.idx, land.land.obj, v, true, nullptr, w, h, false, &n_exact);
    const std::vector<uint8_t> got = Fill(land.idx, land.land.obj, v, false, nullptr, w, h, false, &n_fast);
    const std::vector<uint8_t> near = NearCoast(ref, w, h);
    long differ = 0, off_coast = 0, filled = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
      filled += got[i];
      if (got[i] == ref[i]) continue;
      ++differ;
      off_coast += !near[i];
    }
    if (const char* out = std::getenv("OMBREL_FILL_DIFF_OUT")) {
      std::vector<uint8_t> diff(ref.size());
      for (size_t i = 0; i < ref.size(); ++i) diff[i] = got[i] != ref[i] ? 1 : 0;
      SaveReference(std::string(out) + "/diff_" + v.name + ".png", diff, w, h);
      SaveReference(std::string(out) + "/ref_" + v.name + ".png", ref, w, h);
    }
    EXPECT_EQ(n_fast, filled) << v.name;
    EXPECT_LE(differ, w * h / 1000) << v.name;
    EXPECT_EQ(off_coast, 0) << v.name;
    // Larger blocks, as a plot's fill grid takes them to cover the ground of
    // the screen's (here cells are many pixels wide): rows cut inside
    // blocks, runs of inside blocks and spans of undecided ones wider; the
    // picture stays the exact one but along the coast.
    for (int block : {7, 10}) {
      const std::vector<uint8_t> big = Fill(land.idx, land.land.obj, v, false, nullptr, w, h, false, nullptr, block);
      long big_differ = 0, big_off = 0;
      for (size_t i = 0; i < ref.size(); ++i) {
        if (big[i] == ref[i]) continue;
        ++big_differ;
        big_off += !near[i];
      }
      EXPECT_LE(big_differ, w * h / 1000) << v.name << " block " << block;
      EXPECT_EQ(big_off, 0) << v.name << " block " << block;
    }
    if (std::string(v.name) == "sahara") EXPECT_EQ(filled, w * h);
    else EXPECT_GT(n_exact, w * h / 50) << v.name;
  }
}

// A box with edges of 40 degrees, as a user types it: its region holds
// interior cells that meet cells wholly outside with no ring between them,
// and there the fast fill must still give the exact fill's pixels.
TEST(AreaFill, ABoxOfLongEdgesMatchesTheExactFill) {
  Land& land = Shared();
  ASSERT_TRUE(land.ok);
  char path[] = "/tmp/ombrel_fill_boxXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const char text[] = "-20 0\n-20 40\n20 40\n20 0\n* 1\n";
  ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
  close(fd);
  std::FILE* f = std::fopen(path, "rb");
  ASSERT_TRUE(f);
  cells::CoordReadOptions o;
  o.kind = 2;
  o.res = 10;
  std::vector<cells::PointNode> nodes;
  const cells::CoordReadResult r = cells::ReadCoordText(f, o, nodes);
  std::fclose(f);
  std::remove(path);
  ASSERT_EQ(r.status, 0);
  HeapObject box;
  Build(land.idx, cells::kRset, nodes, box, 10);
  ASSERT_EQ(box.status, 0);
  const View v{"box", PROJ_WWMERC, 0, 0, geodesy::NOVALUE};
  constexpr int w = 720, hh = 360;
  const std::vector<uint8_t> ref = Fill(land.idx, box.obj, v, true, nullptr, w, hh);
  const std::vector<uint8_t> got = Fill(land.idx, box.obj, v, false, nullptr, w, hh);
  const std::vector<uint8_t> near = NearCoast(ref, w, hh);
  long differ = 0, off_coast = 0, filled = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    filled += ref[i];
    if (got[i] == ref[i]) continue;
    ++differ;
    off_coast += !near[i];
  }
  EXPECT_GT(filled, 1000);
  EXPECT_LE(differ, w * hh / 1000);
  EXPECT_EQ(off_coast, 0);
  std::printf("box of long edges: %ld filled, %ld differ\n", filled, differ);
}

// A cancelled state fills nothing; a point or line object, nothing either.
TEST(AreaFill, CancelledOrNotARegionFillsNothing) {
  Land& land = Shared();
  ASSERT_TRUE(land.ok);
  const View v{"europe", PROJ_STEREO, 48, 5, 1e7};
  int64_t n = -1;
  const std::vector<uint8_t> px = Fill(land.idx, land.land.obj, v, false, nullptr, 200, 100, true, &n);
  EXPECT_EQ(n, 0);
  for (uint8_t p : px) ASSERT_EQ(p, 0);
  HeapObject pts;
  Build(land.idx, cells::kPset, {{LatLonDeg(48, 5), 0}}, pts, 7);
  ASSERT_EQ(pts.status, 0);
  Map m(land.idx, v, 200, 100);
  DisplaySurface s;
  ASSERT_TRUE(CreateDisplaySurface(&s, 200, 100, kDefaultBackground));
  DrawState d;
  ASSERT_EQ(OpenAreas(&d, &s, ParseAreaStyle("Black")), kDrawOk);
  EXPECT_EQ(FillObjectArea(m.g, land.idx, pts.obj, 0.0, &d), 0);
  CloseDrawState(&d);
  DestroyDisplaySurface(&s);
}

}  // namespace
}  // namespace display
