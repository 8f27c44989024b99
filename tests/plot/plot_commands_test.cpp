// The plot commands run by ombrel --batch with an initialisation file that
// adds test formats: messages, error levels, the files they leave, and the
// plots read back by the test reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include <cairo.h>
#include <cstring>

#include "lib/display/bitmap.h"
#include "tests/plot/hpgl_reader.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

const char* kFormats = R"(
[test formats]
dev0.left = 0
dev3.device = 3
dev3.left = 0
dev3.right = 100
dev3.top = 100
norect.device = 1
norect.left = 5
norect.right = 5
norect.top = 100
negative.device = 1
negative.right = 1000
negative.top = 800
negative.width = -0.1
negative.height = 0.2
small.device = 1
small.right = 4000
small.top = 3000
small.width = 0.1
small.height = 0.075
small.init.string = IN;SP1;
small.term.string = PU;PG;
)";

class PlotRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("OMBREL_BIN");
    ASSERT_NE(bin, nullptr);
    bin_ = bin;
    char tmpl[] = "/tmp/ombrel_plot_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    home_ = dir_ + "/home";
    work_ = dir_ + "/work";
    mkdir(home_.c_str(), 0755);
    mkdir(work_.c_str(), 0755);
    for (const char* f : {"coast.sgm", "coast.vtx", "isotype.vix", "ombrel.html", "vthpglm.mrk"})
      symlink((bin_ + "/" + f).c_str(), (home_ + "/" + f).c_str());
    // Data read by the scripts lies in their data folder.
    for (const char* f : {"cities.pts", "land110m.rgn"})
      symlink((bin_ + "/" + f).c_str(), (work_ + "/" + f).c_str());
    // The copy program of the tests records its two arguments.
    copier_ = dir_ + "/copier.sh";
    {
      std::ofstream c(copier_);
      c << "#!/bin/sh\nprintf '%s|%s\\n' \"$1\" \"$2\" >> " << dir_ << "/copies.txt\n";
    }
    chmod(copier_.c_str(), 0755);
    WriteOin("plot.copy.command = " + copier_ + "\n");
  }
  void TearDown() override {
    if (HasFailure()) fprintf(stderr, "kept %s\n", dir_.c_str());
    if (!HasFailure()) system(("rm -rf " + dir_).c_str());
  }
  void WriteOin(const std::string& extra) {
    std::string oin = Slurp(bin_ + "/ombrel.oin");
    // The shipped value of the copy command is replaced, not doubled.
    const size_t at = oin.find("\nplot.copy.command =");
    if (at != std::string::npos) oin.erase(at + 1, oin.find('\n', at + 1) - at);
    // A mono coastline of width 7 (pen width 1.5 mm).
    const size_t coast = oin.find("\nhpgl.mono.coastline =");
    if (coast != std::string::npos)
      oin.replace(coast + 1, oin.find('\n', coast + 1) - coast - 1, "hpgl.mono.coastline = c0/w7");
    std::ofstream o(home_ + "/ombrel.oin");
    o << oin << kFormats << "[more]\n" << extra;
  }
  // Runs a script in the work folder (temporary directory = work folder);
  // returns what it printed.
  // events: the map window's scripted clicks and keys, when not empty.
  std::string Run(const std::string& script, int* status = nullptr, const std::string& events = "") {
    {
      std::ofstream s(work_ + "/t.omb");
      s << "Set temporary.directory = " << work_ << "/\n" << script;
    }
    if (!events.empty()) {
      std::ofstream e(work_ + "/t.events");
      e << events;
    }
    const std::string cmd = "cd " + work_ + " && OMBREL_HOME=" + home_ + " " + bin_ + "/ombrel --batch" +
                            (events.empty() ? "" : " --events t.events") + " t.omb > out.txt 2> err.txt";
    const int rc = system(cmd.c_str());
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return Slurp(work_ + "/out.txt");
  }
  std::string bin_, dir_, home_, work_, copier_;
};

bool Has(const std::string& out, const std::string& line) {
  return out.find("\n" + line + "\n") != std::string::npos || out.rfind(line + "\n", 0) == 0;
}

TEST_F(PlotRun, EachRefusalLeavesNoPlot) {
  const std::string out = Run(R"(Geometry N45 E10 2e7 stereo
PlotStart
IfErrorlevel 4 Echo L4 a
PlotEnd
PlotStart dev0 f0
IfErrorlevel 4 Echo L4 b
PlotStart dev3 f3
IfErrorlevel 4 Echo L4 c
PlotStart norect f4
IfErrorlevel 4 Echo L4 d
PlotStart negative f5
IfErrorlevel 4 Echo L4 e
PlotStart small
IfErrorlevel 4 Echo L4 f
PlotEnd
IfErrorlevel 4 Echo L4 g
PlotStart small /no/such/folder/plot
IfErrorlevel 4 Echo L4 h
PlotEnd
DrawCoast
Echo drew on the screen
PlotStart small good
PlotStart small again
IfErrorlevel 4 Echo L4 i
PlotEnd
)");
  EXPECT_TRUE(Has(out, "Output file or device name not given")) << out;
  EXPECT_TRUE(Has(out, "Bad/missing string name dev0 or device number 0")) << out;
  EXPECT_TRUE(Has(out, "Bad/missing string name dev3 or device number 3")) << out;
  EXPECT_TRUE(Has(out, "Missing/invalid plotter rectangle values 5 5 0 100")) << out;
  EXPECT_TRUE(Has(out, "Missing/invalid plot frame width/height -0.1 0.2")) << out;
  EXPECT_TRUE(Has(out, "No output file/device name given")) << out;
  EXPECT_TRUE(Has(out, "Hardcopy stream file /no/such/folder/plot.hpg open failed")) << out;
  EXPECT_TRUE(Has(out, "Plot output currently active")) << out;
  for (const char* k : {"a", "b", "c", "d", "e", "f", "g", "h", "i"}) EXPECT_TRUE(Has(out, std::string("L4 ") + k)) << k;
  // After every refusal there is no plot: PlotEnd refuses, drawing reaches
  // the screen, and no file was made.
  size_t refusals = 0;
  for (size_t at = 0; (at = out.find("No plot output currently active", at)) != std::string::npos; ++at) ++refusals;
  EXPECT_EQ(refusals, 3u) << out;
  EXPECT_FALSE(Exists(work_ + "/f0.hpg"));
  EXPECT_FALSE(Exists(work_ + "/f3.hpg"));
  EXPECT_FALSE(Exists(work_ + "/f4.hpg"));
  EXPECT_FALSE(Exists(work_ + "/f5.hpg"));
  // The good plot survives the refused second start.
  const std::string plot = Slurp(work_ + "/good.hpg");
  EXPECT_EQ(plot, "IN;SP1;PU;PG;");
  EXPECT_TRUE(Has(out, "Plot output file " + work_ + "/good.hpg open")) << out;
  EXPECT_TRUE(Has(out, "Plot file closed")) << out;
}

TEST_F(PlotRun, StylesClearAndScreenWhilePlotting) {
  const std::string out = Run(R"(Geometry N45 E10 2e7 stereo
PlotStart small a
DrawCoast
Clear red
SaveBitmap screen.png
PlotEnd
PlotStart small b
DrawCoast
PlotEnd
DrawCoast blue
PlotFrame
PlotString "PU;"
PlotInclude a
)");
  const std::string a = Slurp(work_ + "/a.hpg"), b = Slurp(work_ + "/b.hpg");
  // The mono coastline key's width 7 is pen width 1.5 mm.
  EXPECT_NE(a.find("DF;IW0,0,4000,3000;PA;SP1;TR;\nLT;PW1.5;SV;PE=<"), std::string::npos) << a.substr(0, 80);
  EXPECT_EQ(a, b);  // Clear wrote nothing to the plot
  const hpgl_test::Plot r = hpgl_test::ReadPlot(a);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_GT(r.lines.size(), 10u);
  for (const auto& l : r.lines)
    for (const auto& p : l.points) {
      EXPECT_GE(p.x, -3);
      EXPECT_LE(p.x, 4003);
      EXPECT_GE(p.y, -3);
      EXPECT_LE(p.y, 3003);
    }
  EXPECT_TRUE(Exists(work_ + "/screen.png"));
  EXPECT_FALSE(Has(out, "No plot output currently active")) << out;
}

TEST_F(PlotRun, FrameStringInclude) {
  {
    std::ofstream inc(work_ + "/logo.hpg", std::ios::binary);
    inc << std::string("SP1;\0\xff;PU0,0;", 13);
  }
  mkfifo((work_ + "/pipe.hpg").c_str(), 0644);
  mkdir((work_ + "/folder.hpg").c_str(), 0755);
  symlink("/dev/zero", (work_ + "/zero.hpg").c_str());
  // The longest string a command line can carry (the line holds 1024
  // characters with the command name); the handler itself refuses more than
  // 1024 rather than write half an instruction.
  const std::string s1000(1000, 'A');
  const std::string out = Run("Set data.directory = " + work_ + "/\nGeometry N45 E10 2e7 stereo\n" +
                              "PlotString nothing\nPlotInclude logo\nPlotFrame\n"
                              "PlotStart small f\nPlotFrame\nPlotString \"PU; PD;\"\nPlotString " + s1000 +
                              "\n"
                              "PlotInclude logo\nPlotInclude\nIfErrorlevel 4 Echo L4 empty\n"
                              "PlotInclude nothere\nIfErrorlevel 4 Echo L4 missing\n"
                              "PlotInclude pipe\nPlotInclude folder\nPlotInclude zero\nPlotEnd\n");
  EXPECT_TRUE(Has(out, "No include file name given")) << out;
  EXPECT_TRUE(Has(out, "Include file " + work_ + "/nothere.hpg open failed")) << out;
  EXPECT_TRUE(Has(out, "Include file " + work_ + "/pipe.hpg open failed")) << out;
  EXPECT_TRUE(Has(out, "Include file " + work_ + "/folder.hpg open failed")) << out;
  EXPECT_TRUE(Has(out, "Include file " + work_ + "/zero.hpg open failed")) << out;
  for (const char* k : {"empty", "missing"}) EXPECT_TRUE(Has(out, std::string("L4 ") + k)) << k;
  const std::string f = Slurp(work_ + "/f.hpg");
  EXPECT_EQ(f.find("nothing"), std::string::npos);
  EXPECT_NE(f.find("PU; PD;" + s1000 + std::string("SP1;\0\xff;PU0,0;", 13)), std::string::npos);
  // The frame: the closed rectangle of the plot frame, one polyline.
  const hpgl_test::Plot r = hpgl_test::ReadPlot(f.substr(0, f.find("PU; PD;")));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.lines.size(), 1u);
  const auto& p = r.lines[0].points;
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p[0].x, 0);
  EXPECT_EQ(p[0].y, 3000);
  EXPECT_EQ(p[1].x, 4000);
  EXPECT_EQ(p[2].y, 0);
  EXPECT_EQ(p[4].x, p[0].x);
  EXPECT_EQ(p[4].y, p[0].y);
}

TEST_F(PlotRun, CopyDevices) {
  const std::string out = Run(R"(Geometry N45 E10 2e7 stereo
PlotStart small PRN
PlotEnd
PlotStart small lpt3:
PlotEnd
PlotStart small com4
PlotEnd
PlotStart small lpt4
PlotEnd
Wait 0.5
)");
  EXPECT_TRUE(Has(out, "Plot output file " + work_ + "/_temp.hpg open")) << out;
  EXPECT_TRUE(Has(out, "Plot output copied to prn")) << out;
  EXPECT_TRUE(Has(out, "Plot output copied to lpt3")) << out;
  EXPECT_TRUE(Has(out, "Plot output copied to com4")) << out;
  EXPECT_TRUE(Exists(work_ + "/lpt4.hpg")) << out;
  // The copy program runs on its own; give it a moment.
  std::string copies;
  for (int i = 0; i < 50; ++i) {
    copies = Slurp(dir_ + "/copies.txt");
    if (std::count(copies.begin(), copies.end(), '\n') >= 3) break;
    usleep(100000);
  }
  const std::string t = work_ + "/_temp.hpg";
  EXPECT_NE(copies.find(t + "|prn\n"), std::string::npos) << copies;
  EXPECT_NE(copies.find(t + "|lpt3\n"), std::string::npos) << copies;
  EXPECT_NE(copies.find(t + "|com4\n"), std::string::npos) << copies;
}

// A run that ends with a plot open finishes the plot as PlotEnd would.
TEST_F(PlotRun, PlotOpenAtTheEndOfTheRun) {
  Run("Geometry N45 E10 2e7 stereo\nPlotStart small open\nPlotFrame\n");
  const std::string f = Slurp(work_ + "/open.hpg");
  EXPECT_EQ(f.rfind("IN;SP1;", 0), 0u) << f;
  EXPECT_NE(f.find("PU;PG;"), std::string::npos) << f;
}

TEST_F(PlotRun, CopyProgramThatCannotStart) {
  WriteOin("plot.copy.command = " + dir_ + "/no_such_copier\n");
  const std::string out = Run(R"(Geometry N45 E10 2e7 stereo
PlotStart small com1
PlotEnd
IfErrorlevel 4 Echo L4 copy
)");
  EXPECT_TRUE(Has(out, "Plot file copy to com1 failed")) << out;
  EXPECT_TRUE(Has(out, "L4 copy")) << out;
  EXPECT_EQ(Slurp(work_ + "/_temp.hpg"), "IN;SP1;PU;PG;");
}

}  // namespace

namespace {

// WGS 84, the default ellipsoid, and the radius of the plane's sphere.
constexpr double kA = 6378137.0, kB = 6356752.314245179;
const double kR = std::cbrt(kA * kA * kB);
constexpr double kDeg = 180.0 / M_PI;

double GeocentricDeg(double geodetic_deg) {
  return std::atan(std::tan(geodetic_deg / kDeg) * (kB * kB) / (kA * kA)) * kDeg;
}
double GeodeticDeg(double geocentric_deg) {
  return std::atan(std::tan(geocentric_deg / kDeg) * (kA * kA) / (kB * kB)) * kDeg;
}

// Runs proj (inverse with -I) on pairs; false when it cannot run.
bool Proj(const std::string& args, const std::vector<std::pair<double, double>>& in,
          std::vector<std::pair<double, double>>* out) {
  char name[] = "/tmp/plot_projXXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return false;
  FILE* f = fdopen(fd, "w");
  for (const auto& p : in) fprintf(f, "%.17g %.17g\n", p.first, p.second);
  fclose(f);
  FILE* pipe = popen(("proj " + args + " -f %.17g < " + name).c_str(), "r");
  if (!pipe) return false;
  out->clear();
  char line[256];
  while (fgets(line, sizeof line, pipe)) {
    double a = NAN, b = NAN;
    if (sscanf(line, "%lf %lf", &a, &b) != 2) a = b = NAN;
    out->push_back({a, b});
  }
  pclose(pipe);
  unlink(name);
  return out->size() == in.size();
}

struct GridCase {
  const char* projection;
  const char* proj;  // PROJ definition, lat_0 and lon_0 filled in
};

}  // namespace

// DrawGrid on a plot lies on the parallels and meridians that PROJ finds for
// the plot's points: every point inverse-projected, moved onto the nearest
// grid line, and projected again lands within 1.5 plotter units.
TEST_F(PlotRun, GridPlotsLieOnTheirLinesByProj) {
  if (system("command -v proj >/dev/null 2>&1") != 0) GTEST_SKIP() << "no proj program";
  const GridCase cases[] = {
      {"stereo", "+proj=stere +R=1 +k=1 +lat_0=%.17g +lon_0=%.17g"},
      {"ortho", "+proj=ortho +R=1 +lat_0=%.17g +lon_0=%.17g"},
      {"conical", "+proj=eqdc +R=1 +lat_1=%1$.17g +lat_2=%1$.17g +lat_0=%1$.17g +lon_0=%2$.17g"},
      {"mercator", "+proj=merc +R=1 +lat_ts=%.17g +lon_0=%.17g"},
  };
  const double scale = 2e7, mpu = 0.276 / 11040;
  for (const GridCase& gc : cases) {
    // The plane's sphere: the earth's radius at the centre, or for ortho
    // the radius of the sphere of the ellipsoid's volume.
    const double c = GeocentricDeg(45.0) / kDeg;
    const double rc = kA * kB / std::hypot(kB * std::cos(c), kA * std::sin(c));
    const double k = scale * mpu / (std::string(gc.projection) == "ortho" ? kR : rc);
    Run(std::string("Geometry N45 E10 2e7 ") + gc.projection + "\nPlotStart a4 grid\nDrawGrid\nPlotEnd\n");
    const hpgl_test::Plot r = hpgl_test::ReadPlot(Slurp(work_ + "/grid.hpg"));
    ASSERT_TRUE(r.ok) << gc.projection << ": " << r.error;
    std::vector<std::pair<double, double>> device;
    for (const auto& l : r.lines)
      for (const auto& p : l.points) device.push_back({p.x, p.y});
    ASSERT_GT(device.size(), 300u) << gc.projection;
    char def[256];
    const double lat0 = GeocentricDeg(45.0);
    snprintf(def, sizeof def, gc.proj, lat0, 10.0);
    std::vector<std::pair<double, double>> centre;
    ASSERT_TRUE(Proj(def, {{10.0, lat0}}, &centre));
    std::vector<std::pair<double, double>> plane, lonlat;
    for (const auto& d : device)
      plane.push_back({(d.first - 5520) * k + centre[0].first, (d.second - 3840) * k + centre[0].second});
    ASSERT_TRUE(Proj(std::string("-I ") + def, plane, &lonlat));
    // Spacing at 1:20 000 000: parallels every 5 degrees, meridians every 10.
    std::vector<std::pair<double, double>> on_parallel, on_meridian;
    for (const auto& ll : lonlat) {
      const double lat = GeodeticDeg(ll.second);
      on_parallel.push_back({ll.first, GeocentricDeg(std::round(lat / 5) * 5)});
      on_meridian.push_back({std::round(ll.first / 10) * 10, ll.second});
    }
    std::vector<std::pair<double, double>> a, b;
    ASSERT_TRUE(Proj(def, on_parallel, &a));
    ASSERT_TRUE(Proj(def, on_meridian, &b));
    double worst_parallel = 0, worst_meridian = 0;
    for (size_t i = 0; i < plane.size(); ++i) {
      double da = std::hypot(a[i].first - plane[i].first, a[i].second - plane[i].second) / k;
      double db = std::hypot(b[i].first - plane[i].first, b[i].second - plane[i].second) / k;
      if (std::isnan(da)) da = 1e9;
      if (std::isnan(db)) db = 1e9;
      if (db <= da) {
        worst_meridian = std::fmax(worst_meridian, db);
        EXPECT_LE(db, 1.5) << gc.projection << " meridian point " << device[i].first << "," << device[i].second;
      } else {
        worst_parallel = std::fmax(worst_parallel, da);
        EXPECT_LE(da, 1.5) << gc.projection << " parallel point " << device[i].first << "," << device[i].second;
      }
    }
    printf("%-9s %zu grid points, largest distance from their line: meridians %.3f, parallels %.3f plotter units\n",
           gc.projection, plane.size(), worst_meridian, worst_parallel);
  }
}

// The horizon of an ortho plot: 361 points in six PE pieces of at most 64 on
// the circle of the sphere's radius.
TEST_F(PlotRun, HorizonOnAnOrthoPlot) {
  Run("Geometry N45 E10 5e7 ortho\nPlotStart a4 h\nDrawHorizon\nPlotEnd\n");
  const hpgl_test::Plot r = hpgl_test::ReadPlot(Slurp(work_ + "/h.hpg"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.pe_count, 6);
  size_t points = 0;
  const double radius = kR / (5e7 * 0.276 / 11040);
  for (const auto& l : r.lines) {
    EXPECT_LE(l.points.size(), 64u);
    points += l.points.size();
    for (const auto& p : l.points) EXPECT_NEAR(std::hypot(p.x - 5520, p.y - 3840), radius, 1.5);
  }
  EXPECT_EQ(points, 361u + 5u);  // each piece after the first repeats the last point
}

// hp2xx, a reader of its own, takes every kind of plot the commands make.
TEST_F(PlotRun, Hp2xxReadsThePlots) {
  if (system("command -v hp2xx >/dev/null 2>&1") != 0) GTEST_SKIP() << "no hp2xx";
  Run("Geometry N50 E10 2e7 stereo\nImportRset land land110m.rgn\nImportPset cities cities.pts\n"
      "PlotStart a4 all\nDrawCoast\nDrawGrid\nDisplayArea land\nDisplayPoints cities\n"
      "DrawText N48 E16 c1 \"Wien\"\nPlotFrame\nPlotEnd\n");
  ASSERT_TRUE(Exists(work_ + "/all.hpg"));
  const std::string cmd = "cd " + work_ + " && hp2xx -q -m png -f all.png all.hpg > hp2xx.txt 2>&1";
  EXPECT_EQ(system(cmd.c_str()), 0) << Slurp(work_ + "/hp2xx.txt");
  struct stat st;
  ASSERT_EQ(stat((work_ + "/all.png").c_str(), &st), 0);
  EXPECT_GT(st.st_size, 1000);
  // A sheet of Europe with the 10m land filled: polygons of thousands of
  // points with their holes.
  Run("Geometry N50 E10 5e6 stereo\nImportRset land10 land10m.rgn\nPlotStart a4 europe\nDrawCoast\n"
      "DisplayArea land10\nDrawGrid\nPlotEnd\n");
  ASSERT_TRUE(Exists(work_ + "/europe.hpg"));
  const std::string europe = "cd " + work_ + " && hp2xx -q -m png -f europe.png europe.hpg > hp2xx.txt 2>&1";
  EXPECT_EQ(system(europe.c_str()), 0) << Slurp(work_ + "/hp2xx.txt");
  ASSERT_EQ(stat((work_ + "/europe.png").c_str(), &st), 0);
  EXPECT_GT(st.st_size, 1000);
}

namespace {

// The screen bitmap's pixels that carry ink (anything darker than mid grey).
std::vector<uint8_t> Ink(const std::string& png, int* w, int* h) {
  cairo_surface_t* s = nullptr;
  if (display::LoadImageFile(png, display::ImageKind::kPng, &s) != display::DecodeResult::kOk || !s) return {};
  *w = cairo_image_surface_get_width(s);
  *h = cairo_image_surface_get_height(s);
  std::vector<uint8_t> ink((size_t)*w * *h), row((size_t)*w * 3);
  for (int j = 0; j < *h; ++j) {
    display::SurfaceRowRgb(s, j, row.data());
    for (int i = 0; i < *w; ++i) ink[(size_t)j * *w + i] = row[3 * i] + row[3 * i + 1] + row[3 * i + 2] < 384;
  }
  cairo_surface_destroy(s);
  return ink;
}

// Share of the pixels set in a that have a set pixel of b within one pixel.
double Near(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int w, int h) {
  size_t set = 0, near = 0;
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      if (!a[(size_t)j * w + i]) continue;
      ++set;
      bool found = false;
      for (int dj = -1; dj <= 1 && !found; ++dj)
        for (int di = -1; di <= 1 && !found; ++di) {
          const int x = i + di, y = j + dj;
          found = x >= 0 && y >= 0 && x < w && y < h && b[(size_t)y * w + x];
        }
      near += found;
    }
  return set ? (double)near / set : 0.0;
}

}  // namespace

// One screen pixel is ten plotter units: the plot rendered at the screen's
// resolution matches the screen's picture of the same commands.
TEST_F(PlotRun, ScreenAgainstPaper) {
  std::string oin_extra = "plot.copy.command = " + copier_ + "\n" +
                          "paper.device = 1\npaper.right = 10560\npaper.top = 6840\n"
                          "paper.width = 0.264\npaper.height = 0.171\n";
  WriteOin(oin_extra);
  {
    // 0.25 mm screen pixels: 4000 pixels a metre.
    std::string oin = Slurp(home_ + "/ombrel.oin");
    for (const char* key : {"pixel.width = -1", "pixel.height = -1"}) {
      const size_t at = oin.find(key);
      ASSERT_NE(at, std::string::npos);
      oin.replace(at, strlen(key), std::string(key, strlen(key) - 2) + "4000");
    }
    std::ofstream(home_ + "/ombrel.oin") << oin;
  }
  const std::string lines = "DrawCoast black\nDrawGrid black\n";
  const std::string area = "DisplayArea land black\n";
  Run("MapFieldSize 1056 684\nGeometry N50 E10 2e7 stereo\nImportRset land land110m.rgn\n" + lines +
      "SaveBitmap lines.png\nClear\n" + area + "SaveBitmap area.png\nPlotStart paper lines\n" + lines +
      "PlotEnd\nPlotStart paper area\n" + area + "PlotEnd\n");
  int w = 0, h = 0;
  const std::vector<uint8_t> screen_lines = Ink(work_ + "/lines.png", &w, &h);
  ASSERT_EQ(w, 1056);
  ASSERT_EQ(h, 684);
  const std::vector<uint8_t> screen_area = Ink(work_ + "/area.png", &w, &h);
  ASSERT_FALSE(screen_area.empty());
  // The lines, sampled every plotter unit.
  const hpgl_test::Plot pl = hpgl_test::ReadPlot(Slurp(work_ + "/lines.hpg"));
  ASSERT_TRUE(pl.ok) << pl.error;
  std::vector<uint8_t> paper_lines((size_t)w * h, 0);
  auto mark = [&](double x, double y) {
    const long i = std::lround(x / 10 - 0.5), j = std::lround(683.5 - y / 10);
    if (i >= 0 && j >= 0 && i < w && j < h) paper_lines[(size_t)j * w + i] = 1;
  };
  for (const auto& l : pl.lines)
    for (size_t k = 1; k < l.points.size(); ++k) {
      const auto& a = l.points[k - 1];
      const auto& b = l.points[k];
      const int n = 1 + (int)std::hypot(b.x - a.x, b.y - a.y);
      for (int s = 0; s <= n; ++s) mark(a.x + (b.x - a.x) * s / n, a.y + (b.y - a.y) * s / n);
    }
  const double screen_near = Near(screen_lines, paper_lines, w, h), paper_near = Near(paper_lines, screen_lines, w, h);
  printf("lines: %.2f %% of screen pixels near the plot, %.2f %% of plot pixels near the screen\n",
         100 * screen_near, 100 * paper_near);
  EXPECT_GE(screen_near, 0.98);
  EXPECT_GE(paper_near, 0.98);
  // The area: each fill by the even-odd rule at the pixel centres.
  const hpgl_test::Plot pa = hpgl_test::ReadPlot(Slurp(work_ + "/area.hpg"));
  ASSERT_TRUE(pa.ok) << pa.error;
  ASSERT_FALSE(pa.fills.empty());
  std::vector<uint8_t> paper_area((size_t)w * h, 0);
  for (const auto& f : pa.fills) {
    // Rows of pixel centres from the top: plot y = 10 (683.5 - j).
    std::vector<std::vector<hpgl_test::Pt>> flipped = f;
    for (auto& r : flipped)
      for (auto& p : r) p = {p.x / 10 - 0.5, 683.5 - p.y / 10};  // pixel coordinates, centres at integers
    const auto g = hpgl_test::RasteriseFill(flipped, w, h, 1.0, {-0.5, -0.5});
    for (size_t k = 0; k < g.size(); ++k) paper_area[k] |= g[k];
  }
  size_t both = 0, either = 0;
  for (size_t k = 0; k < paper_area.size(); ++k) {
    both += paper_area[k] && screen_area[k];
    either += paper_area[k] || screen_area[k];
  }
  const double iou = either ? (double)both / either : 0;
  printf("area: intersection over union %.4f over %zu pixels, %zu fills\n", iou, either, pa.fills.size());
  EXPECT_GE(iou, 0.97);
}

// A world map stretched over the map window is stretched over the sheet; a
// world map kept in its aspect (trimmed) is trimmed on the sheet too.
TEST_F(PlotRun, StretchedAndTrimmedWorldMaps) {
  for (int stretched = 0; stretched < 2; ++stretched) {
    Run(std::string("MapFieldSize 1056 684\nGeometry N0 E0 ") + (stretched ? "-1" : "1e8") +
        " wwpltcrr\nPlotStart a4 w\nDrawGrid\nPlotEnd\n");
    const hpgl_test::Plot r = hpgl_test::ReadPlot(Slurp(work_ + "/w.hpg"));
    ASSERT_TRUE(r.ok) << r.error;
    double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
    for (const auto& l : r.lines)
      for (const auto& p : l.points) {
        x0 = std::fmin(x0, p.x), x1 = std::fmax(x1, p.x);
        y0 = std::fmin(y0, p.y), y1 = std::fmax(y1, p.y);
      }
    EXPECT_NEAR(x0, 0, 4) << stretched;
    EXPECT_NEAR(x1, 11040, 4) << stretched;
    // The grid runs to the parallels of 80 degrees: 160 of the map's 180
    // degrees of height, the sheet's 7680 units when stretched, 5520 (the
    // 2:1 of plate carree on 11040 units) when trimmed.
    const double height = stretched ? 7680 : 5520;
    EXPECT_NEAR(y1 - y0, height * 160 / 180, 8) << stretched;
    EXPECT_NEAR((y0 + y1) / 2, 3840, 4) << stretched;
  }
}

namespace {

// The shipped cities: (longitude, geodetic latitude) in degrees.
std::vector<std::pair<double, double>> Cities(const std::string& path) {
  std::vector<std::pair<double, double>> out;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    double lat = 0, lon = 0;
    if (line.empty() || line[0] == ';' || sscanf(line.c_str(), "%lf %lf", &lat, &lon) != 2) continue;
    out.push_back({lon, lat});
  }
  return out;
}

double Nearest(const std::vector<hpgl_test::Pt>& pts, double x, double y) {
  double best = 1e18;
  for (const auto& p : pts) best = std::fmin(best, std::hypot(p.x - x, p.y - y));
  return best;
}

}  // namespace

// DisplayPoints of the shipped cities on an a4 plot: a dot at each city that
// PROJ projects into the frame (within 1.5 plotter units), and no dot that
// is not at a city. The far side of the ortho globe has no dots.
TEST_F(PlotRun, CityDotsWhereProjPutsThem) {
  if (system("command -v proj >/dev/null 2>&1") != 0) GTEST_SKIP() << "no proj program";
  const auto cities = Cities(bin_ + "/cities.pts");
  ASSERT_GT(cities.size(), 40u);
  struct Case {
    const char* projection;
    double scale;
    const char* proj;
  };
  const Case cases[] = {
      {"stereo", 2e7, "+proj=stere +R=1 +k=1 +lat_0=%.17g +lon_0=%.17g"},
      {"ortho", 5e7, "+proj=ortho +R=1 +lat_0=%.17g +lon_0=%.17g"},
      {"mercator", 4e7, "+proj=merc +R=1 +lat_ts=%.17g +lon_0=%.17g"},
  };
  const double mpu = 0.276 / 11040;
  for (const Case& pc : cases) {
    const double c = GeocentricDeg(45.0) / kDeg;
    const double rc = kA * kB / std::hypot(kB * std::cos(c), kA * std::sin(c));
    const double k = pc.scale * mpu / (std::string(pc.projection) == "ortho" ? kR : rc);
    char script[256];
    snprintf(script, sizeof script,
             "Geometry N45 E10 %g %s\nImportPset cities cities\nPlotStart a4 dots\nDisplayPoints cities\nPlotEnd\n",
             pc.scale, pc.projection);
    Run(script);
    const hpgl_test::Plot r = hpgl_test::ReadPlot(Slurp(work_ + "/dots.hpg"));
    ASSERT_TRUE(r.ok) << pc.projection << ": " << r.error;
    char def[256];
    const double lat0 = GeocentricDeg(45.0);
    snprintf(def, sizeof def, pc.proj, lat0, 10.0);
    std::vector<std::pair<double, double>> in, plane, centre;
    for (const auto& ll : cities) in.push_back({ll.first, GeocentricDeg(ll.second)});
    ASSERT_TRUE(Proj(def, {{10.0, lat0}}, &centre));
    ASSERT_TRUE(Proj(def, in, &plane));
    std::vector<hpgl_test::Pt> expected;
    size_t inside = 0;
    double worst = 0;
    for (const auto& p : plane) {
      if (!std::isfinite(p.first) || !std::isfinite(p.second)) continue;
      const double x = 5520 + (p.first - centre[0].first) / k, y = 3840 + (p.second - centre[0].second) / k;
      expected.push_back({x, y});
      // Cities right at the frame's edge, or on the ortho horizon, may fall
      // either way.
      if (x < 2 || x > 11038 || y < 2 || y > 7678) continue;
      if (std::string(pc.projection) == "ortho" && std::hypot(x - 5520, y - 3840) > kR / (pc.scale * mpu) - 2) continue;
      ++inside;
      const double d = Nearest(r.dots, x, y);
      worst = std::fmax(worst, d);
      EXPECT_LE(d, 1.5) << pc.projection << " city at " << x << "," << y;
    }
    EXPECT_GE(inside, 8u) << pc.projection;
    EXPECT_GE(r.dots.size(), inside) << pc.projection;
    for (const auto& d : r.dots) EXPECT_LE(Nearest(expected, d.x, d.y), 1.5) << pc.projection << " dot " << d.x << "," << d.y;
    printf("%-9s %zu cities in the frame, largest distance from PROJ's position %.3f plotter units\n", pc.projection,
           inside, worst);
  }
}

// The lattice commands draw on an active plot (the clicks stay on the
// screen's map): the cells round a circle, their centres, the location walk.
TEST_F(PlotRun, LatticeCommandsDrawOnThePlot) {
  // small: 4000 x 3000 units over 0.1 m, at 1:20 000 000 500 m a unit; the
  // map's centre N45 E15 is the frame's centre.
  Run("Geometry N45 E15 2e7 stereo\nPlotStart small near\nNearestCells d c5/w3 c1/w1\nPlotEnd\n"
      "PlotStart small centres\nNearestCells c\nPlotEnd\n"
      "PlotStart small walk\nTraverseCells c0/w2\nPlotEnd\n",
      nullptr,
      "click @N45,E15\nmove @N47,E15\nclick @N49,E15\n"
      "click @N45,E15\nclick @N49,E15\n"
      "click @N45,E15\nclick @N47,E19\nclick 5 5\n");
  const std::string near = Slurp(work_ + "/near.hpg");
  const hpgl_test::Plot n = hpgl_test::ReadPlot(near);
  ASSERT_TRUE(n.ok) << n.error;
  // The interior cells (width 1) first, then the boundary cells (width 3).
  const size_t interior = near.find("PW0.3;"), boundary = near.find("PW0.7;");
  ASSERT_NE(interior, std::string::npos) << near.substr(0, 200);
  ASSERT_NE(boundary, std::string::npos) << near.substr(0, 200);
  EXPECT_LT(interior, boundary);
  EXPECT_NE(near.find("PE", interior), std::string::npos);
  EXPECT_NE(near.find("PE", boundary), std::string::npos);
  EXPECT_GT(n.lines.size(), 3u);
  // Every outline point lies within a cell's reach of the circle of 4
  // degrees (445 km, about 890 units) round the frame's centre.
  double reach = 0;
  for (const auto& l : n.lines)
    for (const auto& p : l.points) reach = std::fmax(reach, std::hypot(p.x - 2000, p.y - 1500));
  EXPECT_GT(reach, 890);
  EXPECT_LT(reach, 890 + 500);
  // The centres inside the circle are dots within its radius.
  const hpgl_test::Plot c = hpgl_test::ReadPlot(Slurp(work_ + "/centres.hpg"));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_GT(c.dots.size(), 1u);
  for (const auto& d : c.dots) EXPECT_LE(std::hypot(d.x - 2000, d.y - 1500), 895) << d.x << "," << d.y;
  printf("outlines reach %.0f units from the centre, %zu centres\n", reach, c.dots.size());
  // The walk: the first cell's outline round the centre, then the cells on
  // the way towards N47 E18 (up and to the right).
  const std::string walk = Slurp(work_ + "/walk.hpg");
  const hpgl_test::Plot w = hpgl_test::ReadPlot(walk);
  ASSERT_TRUE(w.ok) << w.error;
  EXPECT_NE(walk.find("PW0.5;"), std::string::npos);
  ASSERT_GE(w.lines.size(), 2u);
  double far_x = 0, far_y = 0;
  for (const auto& l : w.lines)
    for (const auto& p : l.points) far_x = std::fmax(far_x, p.x), far_y = std::fmax(far_y, p.y);
  EXPECT_GT(far_x, 2300);
  EXPECT_GT(far_y, 1800);
}

// AddCellCenters on a plot draws the cells it changed: their outlines are
// outlines of the grown index, as DrawCells of that index plots them.
TEST_F(PlotRun, GrownCellsDrawOnThePlot) {
  Run("Geometry N45 E10 5e7 ortho\nPlotStart small grow\nAddCellCenters grown c1 -40\nPlotEnd\n"
      "ReadVix grown\nPlotStart small all\nDrawCells c1\nPlotEnd\n");
  const hpgl_test::Plot g = hpgl_test::ReadPlot(Slurp(work_ + "/grow.hpg"));
  const hpgl_test::Plot a = hpgl_test::ReadPlot(Slurp(work_ + "/all.hpg"));
  ASSERT_TRUE(g.ok) << g.error;
  ASSERT_TRUE(a.ok) << a.error;
  std::vector<hpgl_test::Pt> all;
  for (const auto& l : a.lines) all.insert(all.end(), l.points.begin(), l.points.end());
  ASSERT_GT(all.size(), 100u);
  size_t points = 0;
  for (const auto& l : g.lines)
    for (const auto& p : l.points) {
      ++points;
      EXPECT_LE(Nearest(all, p.x, p.y), 1.0) << p.x << "," << p.y;
    }
  EXPECT_GT(points, 20u);
}

// The verification marks and rings reach an active plot in the plot's
// highlight style (hpgl.mono.object.highlight, c0/w4: pen width 0.9 mm).
TEST_F(PlotRun, VerificationDrawsOnThePlot) {
  {
    // A figure eight whose lobes touch at N20.3 E30.4.
    std::ofstream e(work_ + "/eight.rgn");
    e << "19.3 31.4\n21.3 31.4\n20.3 30.4\n21.3 29.4\n19.3 29.4\n20.3 30.4\n* 1\n";
    // A hole running the way of its outer ring.
    std::ofstream b(work_ + "/samelake.rgn");
    b << "40 20\n40 30\n50 30\n50 20\n* 1\n44 24\n44 26\n46 26\n46 24\n* 2\n";
  }
  const std::string out =
      Run("Geometry N20.3 E30.4 5e6 stereo\nImportRset eight eight\nPlotStart small marks\n"
          "VerifyRsetBoundary eight\nPlotEnd\n"
          "Geometry N45 E25 2e7 stereo\nImportRset samelake samelake\nPlotStart small rings\n"
          "VerifyRsetTopology samelake\nPlotEnd\n");
  EXPECT_TRUE(Has(out, "Report of 4 errors:")) << out;
  // Four contacts at the map's centre, the frame's centre.
  const std::string marks = Slurp(work_ + "/marks.hpg");
  const hpgl_test::Plot m = hpgl_test::ReadPlot(marks);
  ASSERT_TRUE(m.ok) << m.error;
  ASSERT_EQ(m.dots.size(), 4u) << marks;
  for (const auto& d : m.dots) {
    EXPECT_NEAR(d.x, 2000, 1.0);
    EXPECT_NEAR(d.y, 1500, 1.0);
  }
  EXPECT_NE(marks.find("PA;SP1;TR;"), std::string::npos);
  // The ring that fails: one closed line.
  ASSERT_NE(out.find("Invalid ring ("), std::string::npos) << out;
  const std::string rings = Slurp(work_ + "/rings.hpg");
  const hpgl_test::Plot r = hpgl_test::ReadPlot(rings);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_NE(rings.find("PW0.9;"), std::string::npos) << rings;
  ASSERT_EQ(r.lines.size(), 1u) << rings;
  const auto& pts = r.lines[0].points;
  ASSERT_GE(pts.size(), 5u);
  EXPECT_NEAR(pts.front().x, pts.back().x, 1.0);
  EXPECT_NEAR(pts.front().y, pts.back().y, 1.0);
}
