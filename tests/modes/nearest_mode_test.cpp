// The query mode's traces: the rubber band follows the pointer on the
// overlay, a click marks the found item, the release and the next move take
// the mark off again, Escape leaves the picture as it was and closes the
// object so that it can be erased.
#include <gtest/gtest.h>

#include "lib/display/map_geometry.h"

#include <cairo.h>

#include <cmath>

#include <cstdio>
#include <string>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/cmd_nearest.h"
#include "interp/dispatcher.h"
#include "interp/map_modes.h"
#include "lib/cells/index_file.h"
#include "lib/geodesy/ellipsoid.h"
#include "tests/interp/test_support.h"

namespace {

std::vector<unsigned char> Pixels(cairo_surface_t* s) {
  cairo_surface_flush(s);
  const unsigned char* d = cairo_image_surface_get_data(s);
  return std::vector<unsigned char>(d, d + (size_t)cairo_image_surface_get_stride(s) * cairo_image_surface_get_height(s));
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

class NearestMode : public interp_test::InterpTest {
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
    // The screen's pixel size as start-up sets it (96 dpi).
    g_.settings.pixel_width_m = g_.settings.pixel_height_m = 0.0254 / 96;
  }
  void TearDown() override {
    if (g_.map_mode) interp::CancelMapMode(g_);
    if (g_.map_geometry) {  // the geometry the test's Geometry command made
      display::ReleaseMapGeometry(g_.map_geometry);
      delete g_.map_geometry;
      g_.map_geometry = nullptr;
    }
    g_.cell_index = nullptr;
    g_.ellipsoid = nullptr;
    cells::ReleaseIndex(idx_);
    InterpTest::TearDown();
  }
  cells::CellIndex idx_;
  std::vector<std::uint8_t> memory_;
  geodesy::Ellipsoid ellipsoid_;
};

TEST_F(NearestMode, BandAndMarkComeAndGo) {
  Write("p.pts", "10 10\n10 12\n");
  interp::ExecuteCommandLine(g_, "Geometry N10 E10 5000000 stereo");
  interp::ExecuteCommandLine(g_, "ImportPset p p");
  interp::ExecuteCommandLine(g_, "NearestInPset p c5");
  std::string said;
  for (const std::string& t : Texts()) said += t + "\n";
  ASSERT_EQ(g_.map_mode, interp::MODE_NEAREST_QUERY) << said;
  display::DisplaySurface& s = interp::Display(g_).surface;
  const std::vector<unsigned char> picture = Pixels(s.bitmap), empty = Pixels(s.overlay);
  int x = 0, y = 0;
  ASSERT_TRUE(interp::PositionToPixel(g_, geodesy::GeocentricToCosines(geodesy::LatLong{10 * M_PI / 180, 10 * M_PI / 180}), &x, &y));
  // A move draws the band from the pointer to the point.
  interp::RouteMapEvent(g_, Event(platform::kMapEventMotion, x + 40, y + 30));
  const std::vector<unsigned char> band = Pixels(s.overlay);
  EXPECT_NE(band, empty);
  // The click marks the point; the release takes the mark off.
  Take();
  interp::RouteMapEvent(g_, Event(platform::kMapEventButton, x + 40, y + 30));
  const std::vector<interp_test::Message> report = Take();
  ASSERT_FALSE(report.empty());
  EXPECT_NE(report.back().text.find(" n10.000000  e10.000000 ("), std::string::npos) << report.back().text;
  EXPECT_EQ(interp::ModeMarkCount(), 1);
  interp::RouteMapEvent(g_, Event(platform::kMapEventRelease, x + 40, y + 30));
  EXPECT_EQ(interp::ModeMarkCount(), 0);
  // Marked again; a move takes the mark off and the old band with it.
  interp::RouteMapEvent(g_, Event(platform::kMapEventButton, x + 40, y + 30));
  EXPECT_EQ(interp::ModeMarkCount(), 1);
  interp::RouteMapEvent(g_, Event(platform::kMapEventMotion, x - 20, y + 10));
  EXPECT_EQ(interp::ModeMarkCount(), 0);
  EXPECT_NE(Pixels(s.overlay), band);
  EXPECT_NE(Pixels(s.overlay), empty);
  // A click in the corner box does nothing.
  Take();
  interp::RouteMapEvent(g_, Event(platform::kMapEventButton, 10, 10));
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(interp::ModeMarkCount(), 0);
  // Escape: nothing of the mode is left, the object is closed.
  platform::MapEvent esc = Event(platform::kMapEventKey, 0, 0);
  esc.key = 27;
  interp::RouteMapEvent(g_, esc);
  EXPECT_EQ(g_.map_mode, 0);
  EXPECT_EQ(Pixels(s.overlay), empty);
  EXPECT_EQ(Pixels(s.bitmap), picture);  // the marks never went into the picture
  EXPECT_EQ(interp::ModeMarkCount(), 0);
  g_.error_level = 0;
  interp::ExecuteCommandLine(g_, "EraseObject p");
  EXPECT_EQ(g_.error_level, 0);
  EXPECT_EQ(fopen((dir_ + "/p.qbo").c_str(), "rb"), nullptr);
}

}  // namespace
