// The shipped world tileset end to end: ShowTileset of the tileset made from
// ombrel's own plate carree land map matches, pixel by pixel, the same land
// filled by DisplayArea under the tileset geometry; paint and ShowTileset
// timings are printed for the record.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "lib/display/bitmap.h"

namespace display {
namespace {

struct OmbrelRun {
  std::string dir, out;
  explicit OmbrelRun(const std::string& script) {
    char tmpl[] = "/tmp/ombrel_tiles_XXXXXX";
    if (!mkdtemp(tmpl)) return;
    dir = tmpl;
    const char* bin = getenv("OMBREL_BIN");
    const std::string b = bin ? bin : "bin";
    std::system(("for f in " + b + "/*; do [ -f \"$f\" ] && ln -s \"$(readlink -f \"$f\")\" " + dir + "/; done").c_str());
    std::ofstream(dir + "/t.omb") << script;
    FILE* p = popen(("cd " + dir + " && SDL_VIDEODRIVER=dummy ./ombrel --batch t.omb 2>&1").c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    if (p) pclose(p);
  }
  ~OmbrelRun() {
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
  }
  cairo_surface_t* Load(const char* name) {
    cairo_surface_t* s = nullptr;
    EXPECT_EQ(LoadImageFile(dir + "/" + name, ImageKind::kPng, &s), DecodeResult::kOk) << name << "\n" << out;
    if (s) cairo_surface_flush(s);
    return s;
  }
};

double SameShare(cairo_surface_t* a, cairo_surface_t* b) {
  const int w = cairo_image_surface_get_width(a), h = cairo_image_surface_get_height(a);
  EXPECT_EQ(w, cairo_image_surface_get_width(b));
  EXPECT_EQ(h, cairo_image_surface_get_height(b));
  int64_t same = 0;
  for (int y = 0; y < h; ++y) {
    const uint32_t* ra = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(a) + y * cairo_image_surface_get_stride(a));
    const uint32_t* rb = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(b) + y * cairo_image_surface_get_stride(b));
    for (int x = 0; x < w; ++x) same += (ra[x] & 0xffffff) == (rb[x] & 0xffffff);
  }
  return double(same) / (double(w) * h);
}

TEST(WorldTileset, ShowTilesetMatchesDisplayAreaUnderTheTilesetGeometry) {
  if (access((std::string(getenv("OMBREL_BIN") ? getenv("OMBREL_BIN") : "bin") + "/world.tgxm").c_str(), R_OK) != 0)
    GTEST_SKIP() << "world.tgxm not built";
  for (const char* centre : {"", " N50 E100", " S30 W60"}) {
    OmbrelRun r(std::string("ImportRset land land110m.rgn\nMapFieldSize 1600 1000\n") + "Tileset world" + centre +
          "\nClear LightSteelBlue\nShowTileset\nDuration\nSaveBitmap tiles.png\n"
          "Clear LightSteelBlue\nDisplayArea land DarkKhaki\nSaveBitmap area.png\n");
    cairo_surface_t* a = r.Load("tiles.png");
    cairo_surface_t* b = r.Load("area.png");
    ASSERT_TRUE(a && b);
    const double share = SameShare(a, b);
    std::printf("centre%s: %.4f of pixels agree\n", centre, share);
    EXPECT_GE(share, 0.99) << r.out;
    cairo_surface_destroy(a);
    cairo_surface_destroy(b);
  }
}

}  // namespace
}  // namespace display
