// The surface commands end to end: ombrel --batch imports a cone of heights,
// builds its TIN and renders it; the saved PNG is read back. The hill-shaded
// cone is brightest on its north-western flank, a TIN of another cell index
// is drawn through that index, and with a plot active the surface goes to
// the screen's picture while the plot file gets none of it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "lib/display/bitmap.h"
#include "lib/display/colour.h"

namespace display {
namespace {

struct SurfaceScript : ::testing::Test {
  std::string dir, bin;
  void SetUp() override {
    char tmpl[] = "/tmp/ombrel_surface_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    const char* b = getenv("OMBREL_BIN");
    bin = b ? b : "bin";
    if (access((bin + "/ombrel").c_str(), X_OK) != 0) GTEST_SKIP() << "no ombrel in " << bin;
    // A cone 2.5 degrees round about 30S 60E, 60 km high, so that its
    // slopes show without exaggeration; flat ground round it.
    std::ofstream pts(dir + "/cone.pts");
    for (int i = -30; i <= 30; ++i)
      for (int j = -30; j <= 30; ++j) {
        const double lat = -30 + i * 0.1, lon = 60 + j * 0.1 / std::cos(30 * M_PI / 180);
        const float z = float(60000.0 * std::max(0.0, 1.0 - std::hypot(i, j) * 0.1 / 2.5));
        uint32_t bits;
        std::memcpy(&bits, &z, 4);
        pts << lat << " " << lon << " " << bits << "\n";
      }
  }
  void TearDown() override {
    if (!HasFailure() && !dir.empty()) std::system(("rm -rf " + dir).c_str());
  }
  std::string Run(const std::string& script) {
    std::ofstream(dir + "/t.omb") << script;
    const std::string cmd = "cd " + dir + " && SDL_VIDEODRIVER=dummy " + bin + "/ombrel --batch t.omb 2>/dev/null";
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
    if (s) cairo_surface_flush(s);
    return s;
  }
  static uint32_t At(cairo_surface_t* s, int x, int y) {
    const uint32_t v = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x];
    return MakeColour((v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff);
  }
  static int64_t Painted(cairo_surface_t* s) {
    int64_t n = 0;
    for (int y = 0; y < cairo_image_surface_get_height(s); ++y)
      for (int x = 0; x < cairo_image_surface_get_width(s); ++x) n += At(s, x, y) != MakeColour(255, 255, 255);
    return n;
  }
};

TEST_F(SurfaceScript, HillShadedConeIsBrightestTowardsTheNorthWest) {
  const std::string out = Run(
      "ImportPset cone cone.pts fd\nDerivePsetTin tcone cone\n"
      "MapFieldSize 400 400\nGeometry S30 E60 6e6 ortho\nClear White\n"
      "DisplaySurfaceShade tcone r0.255g0.255b0.255\nSaveBitmap shade.png\n");
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  cairo_surface_t* s = Load("shade.png");
  ASSERT_TRUE(s);
  // Each of the four quadrants about the cone's top: the mean brightness.
  double sum[2][2] = {}, n[2][2] = {};
  int brightest = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x) {
      const uint32_t c = At(s, x, y);
      if (c == MakeColour(255, 255, 255)) continue;
      const int qx = x >= 200, qy = y >= 200;
      sum[qy][qx] += RedOf(c);
      n[qy][qx] += 1;
      brightest = std::max<int>(brightest, RedOf(c));
    }
  for (int qy = 0; qy < 2; ++qy)
    for (int qx = 0; qx < 2; ++qx) ASSERT_GT(n[qy][qx], 1000) << qx << qy;
  const double nw = sum[0][0] / n[0][0], ne = sum[0][1] / n[0][1], sw = sum[1][0] / n[1][0],
               se = sum[1][1] / n[1][1];
  EXPECT_GT(nw, ne + 10);
  EXPECT_GT(nw, sw + 10);
  EXPECT_GT(ne, se + 10);
  EXPECT_GT(sw, se + 10);
  // The brightest pixels lie north-west of the top.
  double bx = 0, by = 0, nb = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x) {
      const uint32_t c = At(s, x, y);
      if (c != MakeColour(255, 255, 255) && int(RedOf(c)) >= brightest - 4) bx += x - 199.5, by += y - 199.5, ++nb;
    }
  ASSERT_GT(nb, 50);
  EXPECT_LT(bx / nb, -10);
  EXPECT_LT(by / nb, -10);
  cairo_surface_destroy(s);
}

TEST_F(SurfaceScript, ATinOfAnotherIndexIsDrawnThroughThatIndex) {
  std::system(("cp " + bin + "/dodeca05.vix " + bin + "/isotype.vix " + dir + "/").c_str());
  const std::string out = Run(
      "ReadVix dodeca05.vix\nImportPset cone cone.pts fd\nDerivePsetTin tfar cone\n"
      "ReadVix isotype.vix\n"
      "MapFieldSize 400 400\nGeometry S30 E60 6e6 ortho\nClear White\n"
      "DisplaySurfaceHypso tfar r0.255g0.0b0.0\nIfErrorLevel 1 Echo surface failed\nSaveBitmap far.png\n");
  EXPECT_EQ(out.find("not found"), std::string::npos) << out;
  EXPECT_EQ(out.find("\nsurface failed"), std::string::npos) << out;
  cairo_surface_t* s = Load("far.png");
  ASSERT_TRUE(s);
  EXPECT_GT(Painted(s), 20000);
  // The top is the ramp's high colour, the flat ground its low colour.
  EXPECT_GE(RedOf(At(s, 200, 200)), 245u);
  EXPECT_EQ(At(s, 200, 200) & 0xffff00u, 0u);
  cairo_surface_destroy(s);
}

TEST_F(SurfaceScript, WithAPlotActiveTheSurfaceGoesToTheScreenOnly) {
  const std::string out = Run(
      "ImportPset cone cone.pts fd\nDerivePsetTin tcone cone\n"
      "MapFieldSize 400 400\nGeometry S30 E60 6e6 ortho\nClear White\n"
      "PlotStart a4 " + dir + "/surf\nDisplaySurfaceHypso tcone\nIfErrorLevel 1 Echo surface failed\nPlotEnd\n"
      "PlotStart a4 " + dir + "/empty\nPlotEnd\n"
      "SaveBitmap plotted.png\n");
  EXPECT_EQ(out.find("\nsurface failed"), std::string::npos) << out;
  cairo_surface_t* s = Load("plotted.png");
  ASSERT_TRUE(s);
  EXPECT_GT(Painted(s), 20000);
  // In the screen's ramp (object.surface, green to orange), not the plot's
  // grey one: the top of the cone is the ramp's high colour.
  const uint32_t top = At(s, 200, 200);
  EXPECT_FALSE(RedOf(top) == GreenOf(top) && GreenOf(top) == BlueOf(top)) << std::hex << top;
  cairo_surface_destroy(s);
  std::ifstream f(dir + "/surf.hpg"), e(dir + "/empty.hpg");
  std::stringstream plot, empty;
  plot << f.rdbuf();
  empty << e.rdbuf();
  ASSERT_FALSE(plot.str().empty()) << out;
  // The plot is the same as one with nothing drawn on it.
  EXPECT_EQ(plot.str(), empty.str());
}

}  // namespace
}  // namespace display
