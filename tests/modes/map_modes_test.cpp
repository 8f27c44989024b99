// The pointer-mode machine as later modes use it: one mode at a time, a new
// mode ends the old one as Escape does, the end handler runs exactly once
// whatever ends the mode, the corner box follows the mode's policy, events
// go to the mode only while it runs, and every trace (rubber bands, marks)
// is gone from the picture when it ends while drawings made meanwhile stay.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstring>
#include <vector>

#include "interp/cmd_draw.h"
#include "interp/cmd_map.h"
#include "lib/display/projections.h"
#include "lib/geodesy/ellipsoid.h"
#include "interp/map_modes.h"
#include "tests/interp/test_support.h"

namespace {

using interp::ModeEvent;

struct Log {
  int presses = 0, moves = 0, releases = 0, keys = 0, ends = 0;
  int last_x = -1;
};
Log g_log;

void Press(interp::GlobalBlock&, const ModeEvent& e) {
  ++g_log.presses;
  g_log.last_x = e.x;
}
void Move(interp::GlobalBlock&, const ModeEvent&) { ++g_log.moves; }
void Release(interp::GlobalBlock&, const ModeEvent&) { ++g_log.releases; }
// A key handler that ignores Escape: the machine must still end the mode.
void StubbornKey(interp::GlobalBlock&, int) { ++g_log.keys; }
void End(interp::GlobalBlock&) { ++g_log.ends; }

const interp::MapModeSpec kEscBox = {"test", 20, interp::kCornerIsEscape, platform::kPointerCross,
                                     Move,   Press, Release, nullptr, End};
const interp::MapModeSpec kQuery = {"query", 21, interp::kCornerIgnored, platform::kPointerCross,
                                    nullptr, Press, nullptr, StubbornKey, End};

platform::MapEvent Button(int x, int y) {
  platform::MapEvent e;
  e.kind = platform::kMapEventButton;
  e.x = x;
  e.y = y;
  e.button = 1;
  e.clicks = 1;
  return e;
}

std::vector<unsigned char> Pixels(cairo_surface_t* s) {
  cairo_surface_flush(s);
  const unsigned char* d = cairo_image_surface_get_data(s);
  return std::vector<unsigned char>(d, d + (size_t)cairo_image_surface_get_stride(s) * cairo_image_surface_get_height(s));
}

class MapModes : public interp_test::InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    g_log = Log();
  }
  void TearDown() override {
    if (g_.map_mode) interp::CancelMapMode(g_);
    InterpTest::TearDown();
  }
};

TEST_F(MapModes, EventsGoToTheRunningModeOnly) {
  EXPECT_FALSE(interp::RouteMapEvent(g_, Button(200, 200)));
  interp::StartMapMode(g_, kEscBox);
  EXPECT_EQ(g_.map_mode, 20);
  EXPECT_EQ(interp::MapModeStep(), 1);
  EXPECT_TRUE(interp::RouteMapEvent(g_, Button(200, 200)));
  platform::MapEvent m;
  m.kind = platform::kMapEventMotion;
  EXPECT_TRUE(interp::RouteMapEvent(g_, m));
  m.kind = platform::kMapEventRelease;
  EXPECT_TRUE(interp::RouteMapEvent(g_, m));
  m.kind = platform::kMapEventResize;  // the window's own business
  EXPECT_FALSE(interp::RouteMapEvent(g_, m));
  EXPECT_EQ(g_log.presses, 1);
  EXPECT_EQ(g_log.moves, 1);
  EXPECT_EQ(g_log.releases, 1);
  // No key handler: another key beeps, Escape ends.
  m.kind = platform::kMapEventKey;
  m.key = 'a';
  interp::RouteMapEvent(g_, m);
  EXPECT_EQ(g_.map_mode, 20);
  m.key = 27;
  interp::RouteMapEvent(g_, m);
  EXPECT_EQ(g_.map_mode, 0);
  EXPECT_EQ(g_log.ends, 1);
  EXPECT_FALSE(interp::RouteMapEvent(g_, Button(200, 200)));
}

// Closing or minimising the window reaches only a mode that asks for it;
// any other mode goes on and the window keeps the event.
int g_gone = 0;
void Gone(interp::GlobalBlock& g) {
  ++g_gone;
  interp::EndMapMode(g);
}
const interp::MapModeSpec kWatcher = {"watcher", 22, interp::kCornerIgnored, platform::kPointerWait,
                                      nullptr,   Press, nullptr,            nullptr,
                                      End,       Gone};

TEST_F(MapModes, CloseAndMinimiseReachOnlyAModeThatWatchesTheWindow) {
  g_gone = 0;
  platform::MapEvent m;
  for (platform::MapEventKind kind : {platform::kMapEventClose, platform::kMapEventMinimize}) {
    m.kind = kind;
    EXPECT_FALSE(interp::RouteMapEvent(g_, m));  // no mode
    interp::StartMapMode(g_, kEscBox);
    EXPECT_FALSE(interp::RouteMapEvent(g_, m));
    EXPECT_EQ(g_.map_mode, 20);
    interp::StartMapMode(g_, kWatcher);
    EXPECT_TRUE(interp::RouteMapEvent(g_, m));
    EXPECT_EQ(g_.map_mode, 0);
  }
  EXPECT_EQ(g_gone, 2);
  EXPECT_EQ(g_log.ends, 4);  // each mode's end handler once
}

TEST_F(MapModes, CornerBoxFollowsThePolicy) {
  interp::StartMapMode(g_, kQuery);
  interp::RouteMapEvent(g_, Button(47, 23));  // in the box, but only a click here
  EXPECT_EQ(g_log.presses, 1);
  EXPECT_EQ(g_.map_mode, 21);
  interp::StartMapMode(g_, kEscBox);  // ends the query as Escape: its key handler is asked, then it ends anyway
  EXPECT_EQ(g_log.keys, 1);
  EXPECT_EQ(g_log.ends, 1);
  interp::RouteMapEvent(g_, Button(48, 10));  // just beside the box: a click
  EXPECT_EQ(g_log.presses, 2);
  interp::RouteMapEvent(g_, Button(47, 24));  // just below it: a click
  EXPECT_EQ(g_log.presses, 3);
  interp::RouteMapEvent(g_, Button(0, 0));  // in it: Escape
  EXPECT_EQ(g_.map_mode, 0);
  EXPECT_EQ(g_log.presses, 3);
  EXPECT_EQ(g_log.ends, 2);
}

TEST_F(MapModes, CancelEndsEvenAModeThatIgnoresEscape) {
  interp::StartMapMode(g_, kQuery);
  ASSERT_NE(g_.cancel_map_mode, nullptr);
  g_.cancel_map_mode(g_);  // what a stopped script or a resize does
  EXPECT_EQ(g_.map_mode, 0);
  EXPECT_EQ(g_log.ends, 1);
  interp::EndMapMode(g_);  // ending again does nothing
  EXPECT_EQ(g_log.ends, 1);
}

TEST_F(MapModes, TracesAreGoneWhenTheModeEndsAndDrawingsStay) {
  display::DisplaySurface& s = interp::Display(g_).surface;
  ASSERT_NE(s.bitmap, nullptr);
  const std::vector<unsigned char> picture = Pixels(s.bitmap), empty = Pixels(s.overlay);
  interp::StartMapMode(g_, kEscBox);
  // A rubber band drawn twice is erased.
  interp::ModeXorLine(g_, 10, 10, 300, 200);
  EXPECT_NE(Pixels(s.overlay), empty);
  interp::ModeXorLine(g_, 10, 10, 300, 200);
  EXPECT_EQ(Pixels(s.overlay), empty);
  interp::ModeXorLine(g_, -5000, 50, 5000, 60);  // far off both sides: clipped, no crash
  // Marks lie over the view, never in the picture.
  interp::ModeMark(g_, 100, 100, 0x0000ff);
  interp::ModeMarkLine(g_, 0, 0, 400, 300, 0x00ff00);
  interp::ModeButton(g_, 0, 0, "Esc");
  EXPECT_EQ(interp::ModeMarkCount(), 3);
  EXPECT_EQ(Pixels(s.bitmap), picture);
  cairo_surface_t* view = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, s.width, s.height);
  const std::vector<unsigned char> blank = Pixels(view);
  interp::PaintModeMarks(view);
  EXPECT_NE(Pixels(view), blank);
  // A drawing command given while the mode runs changes the picture for good.
  display::ClearDisplaySurface(&s, 0x00ff00);
  const std::vector<unsigned char> drawn = Pixels(s.bitmap);
  EXPECT_NE(drawn, picture);
  interp::EndMapMode(g_);
  EXPECT_EQ(Pixels(s.bitmap), drawn);
  EXPECT_EQ(Pixels(s.overlay), empty);
  EXPECT_EQ(interp::ModeMarkCount(), 0);
  cairo_surface_t* after = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, s.width, s.height);
  interp::PaintModeMarks(after);
  EXPECT_EQ(Pixels(after), blank);
  cairo_surface_destroy(view);
  cairo_surface_destroy(after);
}

TEST_F(MapModes, RubberBandsDoNotCrossTheSeamOfAWorldMap) {
  static geodesy::Ellipsoid e = geodesy::MakeEllipsoid(34);
  g_.ellipsoid = &e;
  g_.settings.pixel_width_m = g_.settings.pixel_height_m = 0.000264583;
  interp::GeometryRequest r;
  r.projection = display::PROJ_WWMERC;
  r.scale = geodesy::NOVALUE;
  r.centre = geodesy::GeocentricToCosines({0.0, 0.0});
  ASSERT_EQ(interp::ApplyMapGeometry(g_, r), 0);
  display::DisplaySurface& s = interp::Display(g_).surface;
  const std::vector<unsigned char> empty = Pixels(s.overlay);
  interp::StartMapMode(g_, kEscBox);
  const int w = s.width;
  interp::ModeXorLine(g_, 5, 100, w - 5, 100);  // a jump of nearly the whole width: left out
  EXPECT_EQ(Pixels(s.overlay), empty);
  interp::ModeXorLine(g_, 5, 100, w / 2, 100);  // half the width: drawn
  EXPECT_NE(Pixels(s.overlay), empty);
  // Positions either side of the date line are not joined across the map.
  interp::EndMapMode(g_);
  interp::StartMapMode(g_, kEscBox);
  const geodesy::DirectionCosines ring[2] = {geodesy::GeocentricToCosines({0.2, 3.1}),
                                            geodesy::GeocentricToCosines({0.2, -3.1})};
  interp::ModeXorPolyline(g_, ring, 2, false);
  EXPECT_EQ(Pixels(s.overlay), empty);
  interp::EndMapMode(g_);
  interp::ReleaseMapWindowGeometry(g_);
  g_.ellipsoid = nullptr;
}

}  // namespace
