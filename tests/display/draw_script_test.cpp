// Drawing commands end to end: ombrel --batch runs a drawing script, and the
// PNG files it saves are read back and their pixels checked against where
// the same map geometry puts known places.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "lib/display/bitmap.h"
#include "lib/display/colour.h"
#include "lib/display/draw_map.h"
#include "lib/geodesy/ellipsoid.h"

namespace display {
namespace {

constexpr int kWidth = 800, kHeight = 400;

struct DrawScript : ::testing::Test {
  std::string dir;
  geodesy::Ellipsoid wgs84 = geodesy::MakeEllipsoid();
  void SetUp() override {
    char tmpl[] = "/tmp/ombrel_draw_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::ofstream(dir + "/cities.pts") << "0.0 20.0\n-10.0 -50.0\n51.507 -0.128\n";
  }
  void TearDown() override {
    if (!HasFailure()) std::system(("rm -rf " + dir).c_str());
  }
  // Runs the script; returns the console output.
  std::string Run(const std::string& script) {
    std::ofstream(dir + "/t.omb") << script;
    const char* bin = getenv("OMBREL_BIN");
    const std::string program = std::string(bin ? bin : "bin") + "/ombrel";
    const std::string land = std::string(bin ? bin : "bin") + "/land110m.rgn";
    std::system(("cp " + land + " " + dir + "/").c_str());
    const std::string cmd = "cd " + dir + " && SDL_VIDEODRIVER=dummy " + program + " --batch t.omb 2>&1";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    if (p) pclose(p);
    return out;
  }
  cairo_surface_t* Load(const char* name) {
    cairo_surface_t* s = nullptr;
    EXPECT_EQ(LoadImageFile(dir + "/" + name, ImageKind::kPng, &s), DecodeResult::kOk) << name;
    return s;
  }
  static uint32_t At(cairo_surface_t* s, int x, int y) {
    cairo_surface_flush(s);
    const uint32_t v = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x];
    return MakeColour((v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff);
  }
  // The device point of a place on the map the script set up.
  PixelPoint Where(uint32_t projection, double clat, double clon, double scale, double lat, double lon) {
    GeometrySpec spec;
    spec.projection = projection;
    spec.centre = geodesy::GeodeticToCosines({clat * M_PI / 180, clon * M_PI / 180}, wgs84);
    spec.scale = scale;
    spec.pixel_width = spec.pixel_height = 0.0254 / 96;
    spec.frame = {0, kHeight - 1, kWidth - 1, 0};
    MapGeometry g;
    EXPECT_EQ(SetUpMapGeometry(nullptr, nullptr, nullptr, &wgs84, spec, &g), 0);
    PixelPoint p{-1, -1};
    EXPECT_TRUE(PositionToDevice(g, geodesy::GeodeticToCosines({lat * M_PI / 180, lon * M_PI / 180}, wgs84), &p));
    ReleaseMapGeometry(&g);
    return p;
  }
};

TEST_F(DrawScript, LandSeaMarkersAndClear) {
  const std::string out = Run(
      "MapFieldSize 800 400\n"
      "Geometry N0 E0 -1 wwpltcrr\n"
      "ImportRset land land110m.rgn\n"
      "ImportPset cities cities.pts\n"
      "Clear r0g0b255\n"
      "DisplayArea land r0g255b0\n"
      "DisplayPoints cities r255g0b0/m1\n"
      "SaveBitmap map.png\n"
      "Clear\n"
      "SaveBitmap clear.png\n");
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  EXPECT_EQ(out.find("invalid"), std::string::npos) << out;
  cairo_surface_t* map = Load("map.png");
  ASSERT_TRUE(map);
  ASSERT_EQ(cairo_image_surface_get_width(map), kWidth);
  const uint32_t blue = MakeColour(0, 0, 255), green = MakeColour(0, 255, 0), red = MakeColour(255, 0, 0);
  // Land: central Africa, the Sahara, Siberia, inner Australia; sea: the
  // Atlantic, the Pacific, the Indian Ocean.
  const double land[][2] = {{5, 25}, {23, 10}, {62, 100}, {-25, 133}, {-78, 40}};
  const double sea[][2] = {{0, -30}, {-10, -140}, {-20, 80}, {40, -40}};
  for (auto& l : land) {
    const PixelPoint p = Where(PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE, l[0], l[1]);
    EXPECT_EQ(At(map, p.x, p.y), green) << l[0] << " " << l[1];
  }
  for (auto& s : sea) {
    const PixelPoint p = Where(PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE, s[0], s[1]);
    EXPECT_EQ(At(map, p.x, p.y), blue) << s[0] << " " << s[1];
  }
  // The marker (a filled square) surrounds its point, on land and at sea.
  for (auto& c : {std::pair{0.0, 20.0}, std::pair{-10.0, -50.0}}) {
    const PixelPoint p = Where(PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE, c.first, c.second);
    for (int dy = -3; dy <= 3; ++dy)
      for (int dx = -3; dx <= 3; ++dx) EXPECT_EQ(At(map, p.x + dx, p.y + dy), red) << dx << "," << dy;
    EXPECT_NE(At(map, p.x + 9, p.y), red);
  }
  cairo_surface_destroy(map);
  // Clear restores the (new) background everywhere.
  cairo_surface_t* clear = Load("clear.png");
  ASSERT_TRUE(clear);
  for (int y = 0; y < kHeight; y += 7)
    for (int x = 0; x < kWidth; x += 7) ASSERT_EQ(At(clear, x, y), blue) << x << "," << y;
  cairo_surface_destroy(clear);
}

TEST_F(DrawScript, OrthoCornersAndWorldSeam) {
  const std::string out = Run(
      "MapFieldSize 800 400\n"
      "Geometry N40 E10 2e8 ortho\n"
      "Clear White\n"
      "DrawGrid Gray\n"
      "DrawHorizon Black\n"
      "DrawCoast Blue\n"
      "SaveBitmap ortho.png\n"
      "Geometry N0 E160 -1 wwmerc\n"
      "Clear White\n"
      "DrawCoast Blue\n"
      "SaveBitmap world.png\n");
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  EXPECT_EQ(out.find("invalid"), std::string::npos) << out;
  cairo_surface_t* ortho = Load("ortho.png");
  ASSERT_TRUE(ortho);
  const uint32_t white = MakeColour(255, 255, 255), blue = MakeColour(0, 0, 255);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{kWidth - 1, 0}, std::pair{0, kHeight - 1}, std::pair{kWidth - 1, kHeight - 1}})
    for (int d = 0; d < 40; ++d) {
      EXPECT_EQ(At(ortho, x == 0 ? d : x - d, y), white);
      EXPECT_EQ(At(ortho, x, y == 0 ? d : y - d), white);
    }
  int coast = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) coast += At(ortho, x, y) == blue;
  EXPECT_GT(coast, 1000);
  cairo_surface_destroy(ortho);
  // No row of the world map holds a run of coast pixels longer than a third
  // of the width: nothing is drawn across the seam.
  cairo_surface_t* world = Load("world.png");
  ASSERT_TRUE(world);
  int longest = 0, total = 0;
  for (int y = 0; y < kHeight; ++y) {
    int run = 0;
    for (int x = 0; x < kWidth; ++x) {
      const bool c = At(world, x, y) == blue;
      total += c;
      run = c ? run + 1 : 0;
      longest = std::max(longest, run);
    }
  }
  EXPECT_GT(total, 2000);
  EXPECT_LT(longest, kWidth / 3);
  cairo_surface_destroy(world);
}

TEST_F(DrawScript, SavedKindsReadBackAndShowBitmapDrawsThem) {
  const std::string out = Run(
      "MapFieldSize 800 400\n"
      "Clear Red\n"
      "SaveBitmap red.bmp\n"
      "SaveBitmap red.jpg\n"
      "SaveBitmap red.png wt\n"
      "Clear White\n"
      "ShowBitmap red.bmp\n"
      "SaveBitmap shown.png\n"
      "Clear White\n"
      "ShowBitmap red.jpg\n"
      "SaveBitmap shown2.png\n");
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  EXPECT_EQ(out.find("invalid"), std::string::npos) << out;
  for (const char* name : {"shown.png", "shown2.png"}) {
    cairo_surface_t* s = Load(name);
    ASSERT_TRUE(s);
    const uint32_t c = At(s, 400, 200);
    EXPECT_GE(RedOf(c), 240u) << name;
    EXPECT_LE(GreenOf(c), 15u) << name;
    cairo_surface_destroy(s);
  }
  // The "t" option made the red background transparent.
  cairo_surface_t* t = nullptr;
  ASSERT_EQ(LoadImageFile(dir + "/red.png", ImageKind::kPng, &t), DecodeResult::kOk);
  cairo_surface_flush(t);
  EXPECT_EQ(reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(t))[0] >> 24, 0u);
  cairo_surface_destroy(t);
}


TEST_F(DrawScript, PanelKeptInTheMapIsPartOfTheSavedPicture) {
  const std::string out = Run(
      "MapFieldSize 800 400\n"
      "Clear White\n"
      "ShowPanel -1 c0k5f3l-2 \"Ombrel\\nworld map\"\n"
      "SaveBitmap kept.png\n"
      "ShowPanel 1 c0k5f3l2 \"shown only\"\n"
      "SaveBitmap shown.png\n");
  cairo_surface_t* kept = Load("kept.png");
  ASSERT_TRUE(kept);
  // The box of background colour c5 (blue) sits in the top band, centred.
  int box = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 300; x < 500; ++x) box += At(kept, x, y) == MakeColour(0, 0, 255);
  EXPECT_GT(box, 1000) << out;
  EXPECT_EQ(At(kept, 400, 300), MakeColour(255, 255, 255));
  cairo_surface_destroy(kept);
  // A panel not kept in the map stays out of the saved picture.
  cairo_surface_t* shown = Load("shown.png");
  ASSERT_TRUE(shown);
  int blue = 0;
  for (int y = 300; y < 400; ++y)
    for (int x = 0; x < 800; ++x) blue += At(shown, x, y) == MakeColour(0, 0, 255);
  EXPECT_EQ(blue, 0);
  cairo_surface_destroy(shown);
}


TEST_F(DrawScript, RegionOutlinesCrossNoSeamAndFollowTheCoast) {
  const std::string out = Run(
      "MapFieldSize 800 400\n"
      "Geometry N0 W170 -1 wwpltcrr\n"
      "ImportRset land land110m.rgn\n"
      "Clear White\n"
      "DisplayLines land Red\n"
      "SaveBitmap lines.png\n"
      "Clear White\n"
      "DrawCoast Red\n"
      "SaveBitmap coast.png\n");
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  EXPECT_EQ(out.find("invalid"), std::string::npos) << out;
  cairo_surface_t* lines = Load("lines.png");
  cairo_surface_t* coast = Load("coast.png");
  ASSERT_TRUE(lines && coast);
  const uint32_t red = MakeColour(255, 0, 0);
  int longest = 0, total = 0, near = 0;
  for (int y = 0; y < kHeight; ++y) {
    int run = 0;
    for (int x = 0; x < kWidth; ++x) {
      const bool c = At(lines, x, y) == red;
      total += c;
      run = c ? run + 1 : 0;
      longest = std::max(longest, run);
      if (!c) continue;
      // The region's outline and the 110m coast are the same data: every
      // outline pixel has a coast pixel within two pixels (but for the
      // stitches along the date line, which the coast leaves out).
      bool found = false;
      for (int dy = -2; dy <= 2 && !found; ++dy)
        for (int dx = -2; dx <= 2 && !found; ++dx) {
          const int xx = x + dx, yy = y + dy;
          found = xx >= 0 && yy >= 0 && xx < kWidth && yy < kHeight && At(coast, xx, yy) == red;
        }
      near += found;
    }
  }
  EXPECT_GT(total, 2000);
  EXPECT_LT(longest, kWidth / 3);
  EXPECT_GT(near, total * 95 / 100);
  cairo_surface_destroy(lines);
  cairo_surface_destroy(coast);
}


TEST_F(DrawScript, ObjectsOfAnotherIndexAreDrawnThroughASecondaryIndex) {
  const char* bin = getenv("OMBREL_BIN");
  const std::string b = bin ? bin : "bin";
  std::system(("cp " + b + "/dodeca05.vix " + b + "/isotype.vix " + dir + "/").c_str());
  std::ofstream(dir + "/far.pts") << "10 10\n-30 100\n";
  const std::string out = Run(
      "ReadVix dodeca05.vix\n"
      "ImportPset far far.pts\n"
      "ReadVix isotype.vix\n"
      "MapFieldSize 800 400\n"
      "Geometry N0 E0 -1 wwpltcrr\n"
      "Clear White\n"
      "DisplayPoints far r255g0b0/m1\n"
      "DisplayCellsOccupied far r0g0b255 far\n"
      "SaveBitmap far.png\n");
  EXPECT_EQ(out.find("not found"), std::string::npos) << out;
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  cairo_surface_t* map = Load("far.png");
  ASSERT_TRUE(map);
  const PixelPoint p = Where(PROJ_WWPLTCRR, 0, 0, geodesy::NOVALUE, 10, 10);
  EXPECT_EQ(At(map, p.x, p.y), MakeColour(255, 0, 0));
  int outline = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) outline += At(map, x, y) == MakeColour(0, 0, 255);
  EXPECT_GT(outline, 10);  // two small cells of dodeca05
  cairo_surface_destroy(map);
  // Two occupied cells, listed in the cell list file.
  std::ifstream list(dir + "/far.cll");
  int cells = 0, cell;
  while (list >> cell) ++cells;
  EXPECT_EQ(cells, 2);
}

TEST_F(DrawScript, ThePictureFollowsTheMapFieldThroughResizes) {
  // Clearing and saving before and after a resize once recursed without end.
  const std::string out = Run(
      "Clear\n"
      "SaveBitmap first.png\n"
      "MapFieldSize 300 200\n"
      "Clear Red\n"
      "SaveBitmap small.png\n"
      "MapFieldSize 720 360\n"
      "ShowBitmap small.png\n"
      "DrawGrid Blue\n"
      "SaveBitmap wide.png\n"
      "Echo finished\n");
  EXPECT_NE(out.find("\nfinished\n"), std::string::npos) << out;
  cairo_surface_t* small = Load("small.png");
  cairo_surface_t* wide = Load("wide.png");
  ASSERT_TRUE(small && wide);
  EXPECT_EQ(cairo_image_surface_get_width(small), 300);
  EXPECT_EQ(cairo_image_surface_get_height(small), 200);
  EXPECT_EQ(At(small, 150, 100), MakeColour(255, 0, 0));
  EXPECT_EQ(cairo_image_surface_get_width(wide), 720);
  EXPECT_EQ(cairo_image_surface_get_height(wide), 360);
  // The small image sits in the top-left corner; the rest is the new
  // background of the resized picture (red, the last Clear's colour).
  EXPECT_EQ(At(wide, 10, 10), MakeColour(255, 0, 0));
  int blue = 0;
  for (int y = 0; y < 360; ++y)
    for (int x = 0; x < 720; ++x) blue += At(wide, x, y) == MakeColour(0, 0, 255);
  EXPECT_GT(blue, 500);
  cairo_surface_destroy(small);
  cairo_surface_destroy(wide);
}

TEST_F(DrawScript, LegsWithAnEndOutOfViewAreDrawnUpToTheFrame) {
  // London-New York and Dubai-London on a map of Europe: New York and Dubai
  // lie off the map (their cells are not in view), the legs cross it.
  std::ofstream(dir + "/legs.lns") << "51.47 -0.45\n40.64 -73.78\n* 1\n25.25 55.37\n51.47 -0.45\n* 2\n";
  const std::string out = Run(
      "MapFieldSize 800 400\n"
      "Geometry N50 E10 1e7 stereo\n"
      "ImportLset legs legs.lns\n"
      "Clear White\n"
      "DisplayLines legs Red\n"
      "SaveBitmap legs.png\n");
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  cairo_surface_t* map = Load("legs.png");
  ASSERT_TRUE(map);
  const DirectionCosines london = geodesy::GeodeticToCosines({51.47 * M_PI / 180, -0.45 * M_PI / 180}, wgs84);
  for (auto [lat, lon] : {std::pair{40.64, -73.78}, std::pair{25.25, 55.37}}) {
    const DirectionCosines far = geodesy::GeodeticToCosines({lat * M_PI / 180, lon * M_PI / 180}, wgs84);
    int inside = 0, shown = 0;
    for (int i = 1; i < 400; ++i) {
      const double t = i / 400.0;
      const DirectionCosines u = geodesy::Normalised(
          {london.x + t * (far.x - london.x), london.y + t * (far.y - london.y), london.z + t * (far.z - london.z)});
      const geodesy::LatLong ll = geodesy::CosinesToGeodetic(u, wgs84);
      const PixelPoint p = Where(PROJ_STEREO, 50, 10, 1e7, ll.lat * 180 / M_PI, ll.lon * 180 / M_PI);
      if (p.x < 2 || p.y < 2 || p.x > kWidth - 3 || p.y > kHeight - 3) continue;
      ++inside;
      bool found = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) found = found || At(map, p.x + dx, p.y + dy) == MakeColour(255, 0, 0);
      shown += found;
    }
    EXPECT_GT(inside, 20) << lat;
    EXPECT_EQ(shown, inside) << lat << " " << lon;
  }
  cairo_surface_destroy(map);
}

TEST_F(DrawScript, LandAlongTheAntimeridianHasNoHoleAndNoSeam) {
  // Land 10m where its two rings share legs along 180 degrees: Chukotka on a
  // polar map centred on the meridian, and Fiji's Taveuni, which 180 degrees
  // crosses, on a Mercator map. A cell along that meridian once came out as a
  // cell-shaped hole, and the meridian as a sea-coloured seam one or two
  // pixels wide.
  const char* bin = getenv("OMBREL_BIN");
  std::system(("cp " + std::string(bin ? bin : "bin") + "/land10m.rgn " + dir + "/").c_str());
  const std::string out = Run(
      "MapFieldSize 800 400\n"
      "ImportRset land land10m.rgn\n"
      "Geometry N67 E180 4e6 stereo\n"
      "Clear r0g0b255\n"
      "DisplayArea land r0g255b0\n"
      "SaveBitmap hole.png\n"
      "Geometry S17 E179 5e6 mercator\n"
      "Clear r0g0b255\n"
      "DisplayArea land r0g255b0\n"
      "SaveBitmap seam.png\n");
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  const uint32_t green = MakeColour(0, 255, 0);
  cairo_surface_t* hole = Load("hole.png");
  ASSERT_TRUE(hole);
  // Inland Chukotka on both sides of 180 degrees and on it.
  int tried = 0;
  for (double lat = 66.3; lat <= 68.0; lat += 0.1)
    for (double lon : {179.0, 179.6, 179.9, 180.0, -179.9, -179.6, -179.2}) {
      const PixelPoint p = Where(PROJ_STEREO, 67, 180, 4e6, lat, lon);
      if (p.x < 0 || p.y < 0 || p.x >= kWidth || p.y >= kHeight) continue;
      ++tried;
      EXPECT_EQ(At(hole, p.x, p.y), green) << lat << " " << lon;
    }
  EXPECT_GT(tried, 60);
  cairo_surface_destroy(hole);
  // Along 180 degrees on the Mercator map: wherever land lies two pixels to
  // either side, the meridian's own pixels are land too.
  cairo_surface_t* seam = Load("seam.png");
  ASSERT_TRUE(seam);
  const PixelPoint top = Where(PROJ_MERCATOR, -17, 179, 5e6, -16.0, 180.0);
  const PixelPoint bottom = Where(PROJ_MERCATOR, -17, 179, 5e6, -17.5, 180.0);
  ASSERT_EQ(top.x, bottom.x);
  const int x = top.x;
  ASSERT_GT(x, 3);
  ASSERT_LT(x, kWidth - 4);
  int across = 0;
  for (int y = 0; y < kHeight; ++y) {
    if (At(seam, x - 2, y) != green || At(seam, x + 2, y) != green) continue;
    ++across;
    for (int dx = -1; dx <= 1; ++dx) EXPECT_EQ(At(seam, x + dx, y), green) << "row " << y << " column " << x + dx;
  }
  EXPECT_GT(across, 5);  // Taveuni lies across the meridian
  cairo_surface_destroy(seam);
}

}  // namespace
}  // namespace display
