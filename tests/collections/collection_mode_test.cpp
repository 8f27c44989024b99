// The region search mode on the picture: the regions under the pointer are
// filled in the highlight style over a saved copy of the picture, a move to
// other regions or off them puts the saved picture back first, the same
// pixel twice searches nothing, and Escape leaves the picture as it was.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/dispatcher.h"
#include "interp/map_modes.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/display/map_geometry.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/collection_build.h"
#include "tests/interp/test_support.h"

namespace {

using geodesy::DirectionCosines;

std::vector<unsigned char> Pixels(cairo_surface_t* s) {
  cairo_surface_flush(s);
  const unsigned char* d = cairo_image_surface_get_data(s);
  return std::vector<unsigned char>(d, d + (size_t)cairo_image_surface_get_stride(s) * cairo_image_surface_get_height(s));
}

std::uint32_t PixelAt(cairo_surface_t* s, int x, int y) {
  cairo_surface_flush(s);
  if (x < 0 || y < 0 || x >= cairo_image_surface_get_width(s) || y >= cairo_image_surface_get_height(s)) {
    ADD_FAILURE() << "pixel " << x << " " << y << " outside the " << cairo_image_surface_get_width(s) << " x "
                  << cairo_image_surface_get_height(s) << " picture";
    return 0xFFFFFFFF;
  }
  std::uint32_t v;
  std::memcpy(&v, cairo_image_surface_get_data(s) + (size_t)y * cairo_image_surface_get_stride(s) + 4 * (size_t)x, 4);
  return v & 0xFFFFFF;
}

platform::MapEvent Event(platform::MapEventKind kind, int x, int y) {
  platform::MapEvent e;
  e.kind = kind;
  e.x = x;
  e.y = y;
  e.button = 1;
  e.clicks = 1;
  return e;
}

DirectionCosines LatLon(double lat, double lon) {
  return geodesy::GeocentricToCosines(geodesy::LatLong{lat * M_PI / 180, lon * M_PI / 180});
}

// A ring of 36 vertices r degrees about (lat, lon), inside on the left.
void Cap(std::vector<cells::PointNode>& nodes, double lat, double lon, double r, std::uint64_t id) {
  for (int i = 0; i < 36; ++i) {
    const double t = 2 * M_PI * i / 36;
    nodes.push_back({LatLon(lat + r * std::sin(t), lon + r * std::cos(t) / std::cos(lat * M_PI / 180)), 0});
  }
  nodes.push_back(cells::Mark(id));
}

class CollectionMode : public interp_test::InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    const char* bin = getenv("OMBREL_BIN");
    if (!bin) GTEST_SKIP() << "OMBREL_BIN is not set";
    FILE* f = fopen((std::string(bin) + "/isotype.vix").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(cells::LoadVix(f, idx_, 1), 0);
    fclose(f);
    g_.cell_index = &idx_;
    memory_.resize(1 << 20);
    platform::WorkspaceInit(&g_.workspace, memory_.data(), static_cast<std::int64_t>(memory_.size()));
    ellipsoid_ = geodesy::MakeEllipsoid();
    g_.ellipsoid = &ellipsoid_;
    g_.settings.pixel_width_m = g_.settings.pixel_height_m = 0.0254 / 96;
    // Two regions apart, named West and East.
    std::vector<cells::PointNode> nodes;
    Cap(nodes, 10, 10, 4, 1);
    Cap(nodes, 10, 30, 4, 2);
    std::vector<std::uint8_t> heap;
    cells::SectionTarget t;
    t.heap = &heap;
    cells::BuildParams p;
    p.id = 1;
    p.res = 10;
    cells::Object obj;
    ASSERT_EQ(cells::BuildRset(idx_, t, p, nodes, obj), 0);
    const std::map<std::uint32_t, std::string> names{{1, "West"}, {2, "East"}};
    const ops::CollBuildResult b = ops::BuildCollection(idx_, obj, &names, 5);
    ASSERT_EQ(b.status, 0);
    Write("two.plr", std::string(b.plr.begin(), b.plr.end()));
    Write("two.dat", std::string(b.dat.begin(), b.dat.end()));
  }
  void TearDown() override {
    if (g_.map_mode) interp::CancelMapMode(g_);
    if (g_.map_geometry) {
      display::ReleaseMapGeometry(g_.map_geometry);
      delete g_.map_geometry;
      g_.map_geometry = nullptr;
    }
    g_.cell_index = nullptr;
    g_.ellipsoid = nullptr;
    cells::ReleaseIndex(idx_);
    InterpTest::TearDown();
  }
  void Pixel(double lat, double lon, int* x, int* y) {
    ASSERT_TRUE(interp::PositionToPixel(g_, LatLon(lat, lon), x, y));
  }
  void Move(int x, int y) { interp::RouteMapEvent(g_, Event(platform::kMapEventMotion, x, y)); }
  cells::CellIndex idx_;
  std::vector<std::uint8_t> memory_;
  geodesy::Ellipsoid ellipsoid_;
};

TEST_F(CollectionMode, HighlightFillsTheRegionsFoundAndIsPutBackOnEveryChangeAndOnEscape) {
  interp::ExecuteCommandLine(g_, "Geometry N10 E20 8000000 stereo");
  interp::ExecuteCommandLine(g_, "OverheadRsetInCollection two red");
  std::string said;
  for (const std::string& t : Texts()) said += t + "\n";
  ASSERT_NE(g_.map_mode, 0) << said;
  // The map's surface is looked up each time: ending a mode may give the map
  // a new one.
  auto bitmap_of = [&] { return interp::Display(g_).surface.bitmap; };
  ASSERT_NE(bitmap_of(), nullptr);
  const std::vector<unsigned char> picture = Pixels(bitmap_of());
  int wx, wy, ex, ey, sx, sy;
  Pixel(10, 10, &wx, &wy);
  Pixel(10, 30, &ex, &ey);
  Pixel(10, 20, &sx, &sy);  // between the two, over neither
  const std::uint32_t west0 = PixelAt(bitmap_of(), wx, wy), east0 = PixelAt(bitmap_of(), ex, ey), sea0 = PixelAt(bitmap_of(), sx, sy);
  const std::uint32_t red = 0xFF0000;  // cairo keeps red in the third byte
  ASSERT_NE(west0, red);

  // Over West: West filled, East and the space between untouched, its name posted.
  Move(wx, wy);
  std::vector<interp_test::Message> m = Take();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "West");
  EXPECT_EQ(m[0].level, 2);  // posted at -2: at once, as level 2
  EXPECT_EQ(PixelAt(bitmap_of(), wx, wy), red);
  EXPECT_EQ(PixelAt(bitmap_of(), wx + 20, wy), red);
  EXPECT_EQ(PixelAt(bitmap_of(), ex, ey), east0);
  EXPECT_EQ(PixelAt(bitmap_of(), sx, sy), sea0);
  const std::vector<unsigned char> west_lit = Pixels(bitmap_of());
  EXPECT_NE(west_lit, picture);

  // The same pixel and another pixel over the same region change nothing.
  Move(wx, wy);
  Move(wx + 3, wy + 2);
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(Pixels(bitmap_of()), west_lit);

  // Over East: West is put back from the saved picture before East is filled.
  Move(ex, ey);
  m = Take();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "East");
  EXPECT_EQ(PixelAt(bitmap_of(), wx, wy), west0);
  EXPECT_EQ(PixelAt(bitmap_of(), ex, ey), red);

  // Over neither: the picture is exactly the one before the first search,
  // nothing is posted.
  Move(sx, sy);
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(Pixels(bitmap_of()), picture);

  // A click over West reports it; Escape ends the mode and the picture is as
  // it was before the command, without the highlight.
  interp::RouteMapEvent(g_, Event(platform::kMapEventButton, wx, wy));
  m = Take();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[1].text.rfind("West... A:", 0), 0u) << m[1].text;
  EXPECT_EQ(PixelAt(bitmap_of(), wx, wy), red);
  platform::MapEvent esc = Event(platform::kMapEventKey, 0, 0);
  esc.key = 27;
  interp::RouteMapEvent(g_, esc);
  EXPECT_EQ(g_.map_mode, 0);
  EXPECT_EQ(Pixels(bitmap_of()), picture);

  // Started again, the default style (c13) fills in its own colour.
  interp::ExecuteCommandLine(g_, "OverheadRsetInCollection two");
  Take();
  ASSERT_NE(g_.map_mode, 0);
  Move(wx, wy);
  const std::uint32_t c13 = PixelAt(bitmap_of(), wx, wy);
  EXPECT_NE(c13, west0);
  EXPECT_NE(c13, red);
  interp::RouteMapEvent(g_, esc);
  EXPECT_EQ(Pixels(bitmap_of()), picture);
}

}  // namespace
