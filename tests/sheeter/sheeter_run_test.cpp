// Runs sheeter on copies of the example atlas (bin/atlas) and checks its
// messages, exit statuses and the HPGL it writes, read back by the plot
// tests' own reader: the frame, the legend, the scale bar, the pens of the
// themes, the labels, line-work ranges, every refusal, the output file rules
// and the copy to a device.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/plot/hpgl_reader.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
  std::string out, err;
  int status = -1;
  double seconds = 0;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << text;
}

class SheeterRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = fs::temp_directory_path() / ("sheeter_test_" + name + "_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tmp");
    fs::copy(fs::path(SHEETER_BIN) / "atlas", dir_ / "atlas");
  }
  void TearDown() override { if (!HasFailure()) fs::remove_all(dir_); }

  fs::path Atlas(const char* f) const { return dir_ / "atlas" / f; }

  // The program with the twelve arguments, in the scratch folder, standard
  // input and output not a terminal.
  RunResult Sheeter(const std::vector<std::string>& args, const std::string& env = "") {
    std::string command = "cd " + Quote(dir_.string()) + " && TMPDIR=" + Quote((dir_ / "tmp").string()) + " " + env +
                          " " + Quote(SHEETER_PROGRAM);
    for (const std::string& a : args) command += " " + Quote(a);
    command += " </dev/null 2>" + Quote((dir_ / "stderr.txt").string());
    RunResult r;
    const auto start = std::chrono::steady_clock::now();
    std::FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = ReadFile(dir_ / "stderr.txt");
    return r;
  }

  // The Europe sheet's arguments with some replaced (index 0 is argument 1).
  std::vector<std::string> Europe(std::vector<std::pair<int, std::string>> changes = {}) const {
    std::vector<std::string> a = {"atlas/plotters.ini", "a4",   "atlas", "",     "world.atl", "europe.scn",
                                  "N50",                "E10",  "2e7",   "stereo", "0",       "europe.hpg"};
    for (const auto& [i, v] : changes) a[(size_t)i] = v;
    return a;
  }

  // An error run: the message, status 1, no pause, and the messages after
  // "Start" end with the error.
  void ExpectError(const RunResult& r, const std::string& message) {
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("SHEETER error: " + message), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("SHEETER - End"), std::string::npos) << r.out;
    EXPECT_LT(r.seconds, 5.0);
  }

  void Replace(const char* file, const std::string& from, const std::string& to) {
    std::string text = ReadFile(Atlas(file));
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    WriteFile(Atlas(file), text);
  }

  fs::path dir_;
};

TEST_F(SheeterRun, EuropeSheetFrameLegendScaleBarPensAndLabels) {
  const RunResult r = Sheeter(Europe());
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* m : {"SHEETER - Start\n", "SHEETER - index: atlas/isotype.vix\n", "SHEETER - scene: atlas/europe.scn\n",
                        "SHEETER - writing to: europe.hpg \n", "SHEETER - drawing: grid\n", "SHEETER - drawing: coast\n",
                        "SHEETER - drawing theme: land\n", "SHEETER - drawing theme: routes\n",
                        "SHEETER - drawing theme: cities\n", "SHEETER - drawing labels: citynames\n",
                        "SHEETER - drawing frame, legend, title\n", "SHEETER - End\n"})
    EXPECT_NE(r.out.find(m), std::string::npos) << m;
  EXPECT_LT(r.out.find("drawing: grid"), r.out.find("drawing: coast"));
  const std::string hpgl = ReadFile(dir_ / "europe.hpg");
  EXPECT_EQ(hpgl.rfind("IN;", 0), 0u);
  EXPECT_EQ(hpgl.substr(hpgl.size() - 10), "PU;SP0;PG;");
  EXPECT_NE(hpgl.find("IW;PA;PU1200,1600;PD11600,1600;PD11600,7600;PD1200,7600;PD1200,1600;\n"), std::string::npos);
  EXPECT_NE(hpgl.find("SD1,21,2,1,4,15,6,0,7,4148;SS;"), std::string::npos);
  EXPECT_NE(hpgl.find("SD1,21,2,1,4,7,6,0,7,4148;SS;"), std::string::npos);
  // Themes: the land's pen 3, the routes' pen 2 at width 1, the cities'
  // crosses from the marker file.
  EXPECT_NE(hpgl.find("SP3;"), std::string::npos);
  EXPECT_NE(hpgl.find("SP2;PW0.3;"), std::string::npos);
  EXPECT_NE(hpgl.find(";PR-40,0;PD80,0;PU-40,-40;PD0,80;PU0,-40;PA;"), std::string::npos);
  EXPECT_NE(hpgl.find("FP;"), std::string::npos);

  const hpgl_test::Plot plot = hpgl_test::Reader(hpgl).Read();
  ASSERT_TRUE(plot.ok) << plot.error;
  bool legend = false, centre = false, title = false, paris = false, caption = false;
  for (const hpgl_test::Label& l : plot.labels) {
    legend = legend || l.text == "Veltrum(tm) Atlas:World,scene:europe";
    centre = centre || l.text == "Center:n50:00:00 e10:00:00, Scale:20000000, Projection:stereo";
    caption = caption || l.text == "x 1000 km";
    if (l.text == "Europe") {
      title = true;
      EXPECT_GT(l.at.y, 7600);
      EXPECT_NEAR(l.at.x + 3 * 0.5 * 15 * 0.3528 * 40, 6400, 10);  // centred by its estimated width
    }
    if (l.text == "Paris") {
      paris = true;
      EXPECT_GT(l.at.x, 1200);
      EXPECT_LT(l.at.x, 11600);
    }
    if (l.text.rfind("Veltrum", 0) == 0 || l.text.rfind("Center", 0) == 0) {
      EXPECT_EQ(l.at.x, 1200);
      EXPECT_LT(l.at.y, 1600);
    }
  }
  EXPECT_TRUE(legend && centre && title && paris && caption);
  // The scale bar: 1000 km at 1:20 000 000 on 0.025 mm units is 2000 units,
  // ending at the frame's right below it.
  bool bar = false;
  for (const hpgl_test::Polyline& p : plot.lines) {
    if (p.points.size() != 2 || p.points[0].y != p.points[1].y || p.points[0].y >= 1600) continue;
    if (std::fabs(p.points[1].x - 11600) > 0.5) continue;
    EXPECT_NEAR(p.points[1].x - p.points[0].x, 2000, 20);
    bar = true;
  }
  EXPECT_TRUE(bar);
  EXPECT_NE(r.out.find("SHEETER - labels: "), std::string::npos);
}

TEST_F(SheeterRun, WorldSheetIgnoresTheScaleAndMonochromePens) {
  const RunResult r = Sheeter({"atlas/plotters.ini", "a4mono", "atlas", "", "world.atl", "world.scn", "0", "0", "12345",
                         "wwmerc", "0", "world.hpg"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string hpgl = ReadFile(dir_ / "world.hpg");
  EXPECT_NE(hpgl.find("Scale:100000000, Projection:wwmerc"), std::string::npos);
  EXPECT_NE(hpgl.find("PA;SP1;TR;"), std::string::npos);
  EXPECT_EQ(hpgl.find("SP3;"), std::string::npos);
  // The same scale on stereo is beyond the atlas limits.
  ExpectError(Sheeter(Europe({{8, "12345"}})), "out-of-limit scale (12345)");
  ExpectError(Sheeter(Europe({{8, "3e8"}})), "out-of-limit scale (3e8)");
  ExpectError(Sheeter(Europe({{8, "2e7x"}})), "out-of-limit scale (2e7x)");
}

TEST_F(SheeterRun, LineWorkRanges) {
  Replace("europe.scn", "grid = 1e5 r4 2e8", "grid = 5e6 r4 2e7");
  Replace("europe.scn", "coast = , r1w1,", "coast = , r1w1\ncell.centers = 1e8, r5m0");
  for (const auto& [scale, grid] : std::vector<std::pair<std::string, bool>>{
           {"1e7", true}, {"2e7", true}, {"5e6", false}, {"2.1e7", false}}) {
    const RunResult r = Sheeter(Europe({{8, scale}}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("SHEETER - drawing: grid\n") != std::string::npos, grid) << scale;
    // Lower missing: 1.0; upper missing: no limit.
    EXPECT_NE(r.out.find("SHEETER - drawing: coast\n"), std::string::npos) << scale;
    EXPECT_EQ(r.out.find("cell.centers"), std::string::npos);
  }
  const RunResult r = Sheeter(Europe({{8, "1.5e8"}}));
  EXPECT_NE(r.out.find("SHEETER - drawing: cell.centers\n"), std::string::npos) << r.out;
}

TEST_F(SheeterRun, ArgumentsAndStartUpRefusals) {
  std::vector<std::string> eleven = Europe();
  eleven.pop_back();
  const RunResult r = Sheeter(eleven);
  ExpectError(r, "argument count 12\n");
  EXPECT_EQ(r.out.rfind("SHEETER - Start\n", 0), 0u);
  ExpectError(Sheeter(Europe({{0, "none.ini"}})), "cant open none.ini for reading\n");
  ExpectError(Sheeter(Europe({{1, "nosuch"}})), "Missing/invalid plotter rectangle values 0 0 0 0");
  std::string ini = ReadFile(Atlas("plotters.ini"));
  ini += "\n[nosize]\nleft=0\nright=100\nbottom=0\ntop=100\ndevice=1\n[dev3]\nleft=0\nright=100\nbottom=0\ntop=100\n"
         "width=0.1\nheight=0.1\ndevice=3\n[tiny]\nleft=0\nright=100\nbottom=0\ntop=100\nwidth=0.1\nheight=0.1\ndevice=1\n";
  WriteFile(Atlas("plotters.ini"), ini);
  ExpectError(Sheeter(Europe({{1, "NoSize"}})), "Missing/invalid plot frame width/height -1 -1");
  ExpectError(Sheeter(Europe({{1, "dev3"}})), "Bad/missing string name (dev3) or device number (3)");
  ExpectError(Sheeter(Europe({{2, "nowhere"}})), "cant open files in nowhere for reading\n");
  ExpectError(Sheeter(Europe({{2, "atlas"}, {3, "nowhere"}})), "cant open files in nowhere for reading\n");
  ExpectError(Sheeter(Europe({{2, ""}})), "both atlas paths null\n");
  ExpectError(Sheeter(Europe({{4, "none.atl"}})), "cant open none.atl for reading\n");
  ExpectError(Sheeter(Europe({{5, "none.scn"}})), "cant open none.scn for reading\n");
  // The second atlas directory serves when the first lacks a file.
  fs::create_directories(dir_ / "empty");
  EXPECT_EQ(Sheeter(Europe({{2, "empty"}, {3, "atlas"}})).status, 0);
}

TEST_F(SheeterRun, MarkerFileIsFoundWithoutRegardToCase) {
  fs::create_directories(dir_ / "formats");
  fs::rename(Atlas("plotters.ini"), dir_ / "formats" / "plotters.ini");
  fs::rename(Atlas("vthpglm.mrk"), dir_ / "formats" / "VtHpGlM.Mrk");
  EXPECT_EQ(Sheeter(Europe({{0, "formats/plotters.ini"}})).status, 0);
  fs::remove(dir_ / "formats" / "VtHpGlM.Mrk");
  ExpectError(Sheeter(Europe({{0, "formats/plotters.ini"}})), "HPGL Marker file (VTHPGLM.MRK) not found");
}

TEST_F(SheeterRun, IndexAndCentreAndProjectionRefusals) {
  Replace("world.atl", "cell.index = isotype.vix", "cell.index = other.vix");
  ExpectError(Sheeter(Europe()), "Voronoi index file (atlas/other.vix) not found");
  WriteFile(Atlas("other.vix"), std::string(200, 'x'));
  const RunResult r = Sheeter(Europe());
  ExpectError(r, "Voronoi index (atlas/other.vix) file load error ");
  Replace("world.atl", "cell.index = other.vix", "cell.index = isotype.vix");
  ExpectError(Sheeter(Europe({{6, "N95"}})), "invalid center latitude/longitude (N95,E10)\n");
  ExpectError(Sheeter(Europe({{7, "Q10"}})), "invalid center latitude/longitude (N50,Q10)\n");
  for (const char* p : {"eqdistcyl", "wwpltcrr", "perspect", "noprojection", "ster", "xyz"})
    ExpectError(Sheeter(Europe({{9, p}})), std::string("projection name (") + p + ")\n");
  // Leading letters: a longer word that begins with a name selects it.
  const RunResult s = Sheeter(Europe({{9, "stereographic"}}));
  EXPECT_EQ(s.status, 0) << s.out;
  for (const char* rot : {"9", "-1", "x"}) ExpectError(Sheeter(Europe({{10, rot}})), std::string("rotation/reflection (") + rot + ")\n");
  // ortho refuses scales below 1:1 000 000 in the plot geometry.
  ExpectError(Sheeter(Europe({{8, "5e5"}, {9, "ortho"}})), "Plot window geometry 1");
}

TEST_F(SheeterRun, CoastAndThemeRefusals) {
  fs::remove(Atlas("coast.vtx"));
  ExpectError(Sheeter(Europe()), "Coastline file (atlas/coast.vtx) open error");
  Replace("europe.scn", "coast = , r1w1,", "");
  EXPECT_EQ(Sheeter(Europe()).status, 0);
  const std::pair<std::string, std::string> cases[] = {
      {"volume, land.qbo, r3", "Invalid theme dimension (volume) error"},
      {"area, gone.qbo, r3", "Theme file (atlas/gone.qbo) not found"},
      {"area, land.pts, r3", "Unimplemented file type land.pts"},
      {"area, land.xyz, r3", "Unrecognized file type land.xyz"},
      {"area, routes.qbo, r3", "Incompatible object/rendering dimension"},
      {"lines, cities.qbo, r3", "Incompatible object/rendering dimension"},
  };
  for (const auto& [def, message] : cases) {
    const std::string saved = ReadFile(Atlas("world.atl"));
    Replace("world.atl", "land = area, land.qbo, r3p0", "land = " + def);
    ExpectError(Sheeter(Europe()), message);
    WriteFile(Atlas("world.atl"), saved);
  }
  Replace("europe.scn", "routes =", "rivers =");
  ExpectError(Sheeter(Europe()), "Theme rivers not found in Atlas file");
}

TEST_F(SheeterRun, CollectionThemesAndIndexMismatch) {
  fs::copy_file(fs::path(SHEETER_BIN) / "cities.plr", Atlas("cities.plr"));
  fs::copy_file(fs::path(SHEETER_BIN) / "cities.dat", Atlas("cities.dat"));
  fs::copy_file(fs::path(SHEETER_BIN) / "land110m.plr", Atlas("land110m.plr"));
  Replace("world.atl", "cities = points, cities.qbo, r1m1", "cities = points, cities.plr, r1m2");
  Replace("world.atl", "land = area, land.qbo, r3p0", "land = area, land110m.plr, r3p0");
  const RunResult r = Sheeter(Europe());
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string hpgl = ReadFile(dir_ / "europe.hpg");
  EXPECT_NE(hpgl.find(";PR-40,-40;PD80,80;PU-80,0;PD80,-80;PU-40,40;PA;"), std::string::npos);
  EXPECT_NE(hpgl.find("FP;"), std::string::npos);
  // An object of another cell index.
  fs::copy_file(fs::path(SHEETER_BIN) / "dodeca05.vix", Atlas("dodeca05.vix"));
  Replace("world.atl", "cell.index = isotype.vix", "cell.index = dodeca05.vix");
  Replace("world.atl", "cities = points, cities.plr, r1m2", "cities = points, cities.qbo, r1m2");
  const RunResult m = Sheeter(Europe());
  ExpectError(m, "Mis-match, index_id (");
}

TEST_F(SheeterRun, MarkerMissingFromTheFileGivesDots) {
  Replace("world.atl", "cities = points, cities.qbo, r1m1", "cities = points, cities.qbo, r1m20");
  const RunResult r = Sheeter(Europe());
  ASSERT_EQ(r.status, 0) << r.out;
  const size_t note = r.out.find("SHEETER - Marker 20 16 not in file\n");
  EXPECT_NE(note, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("not in file", note + 40), std::string::npos);  // once per theme
  const std::string hpgl = ReadFile(dir_ / "europe.hpg");
  EXPECT_EQ(hpgl.find("PR-40,0;PD80,0;"), std::string::npos);
  const hpgl_test::Plot plot = hpgl_test::Reader(hpgl).Read();
  ASSERT_TRUE(plot.ok) << plot.error;
  EXPECT_GE(plot.dots.size(), 5u);
}

TEST_F(SheeterRun, LabelRefusalsAndSkippedLines) {
  const std::string atl = ReadFile(Atlas("world.atl"));
  const std::pair<std::string, std::string> cases[] = {
      {"cities.qbo, cities.loc, cities.lbn, shout", "Unrecognized string-make code shout"},
      {"routes.qbo, cities.loc, cities.lbn, name", "Bad label object dimension: routes.qbo"},
      {"cities.qbo, none.loc, cities.lbn, name", "Label location file (atlas/none.loc) not found"},
      {"cities.qbo, cities.loc, none.lbn, name", "Label name file (atlas/none.lbn) not found"},
  };
  for (const auto& [def, message] : cases) {
    Replace("world.atl", "citynames = cities.qbo, cities.loc, cities.lbn, name", "citynames = " + def);
    ExpectError(Sheeter(Europe()), message);
    WriteFile(Atlas("world.atl"), atl);
  }
  // Short lines, lines out of range, and ids the object does not hold are
  // skipped and counted; the rest is drawn with its origin, size and offset.
  WriteFile(Atlas("cities.loc"), "23 11 7 1.5 1.0\n24 13 12 0 0\n24\n19 25 7\n900 11 7\n");
  Replace("world.atl", "cities.lbn, name", "cities.lbn, upper");
  const RunResult r = Sheeter(Europe());
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string hpgl = ReadFile(dir_ / "europe.hpg");
  EXPECT_NE(hpgl.find("LO13;SD1,21,2,1,4,12,6,0,7,4148;SS;"), std::string::npos);
  EXPECT_NE(hpgl.find("LBLONDON\x03;"), std::string::npos);
  EXPECT_NE(hpgl.find("LBPARIS\x03;"), std::string::npos);
  EXPECT_NE(r.out.find("SHEETER - labels: 2 drawn, 0 off the map, "), std::string::npos) << r.out;
  Replace("europe.scn", "citynames =", "placenames =");
  ExpectError(Sheeter(Europe()), "Label set placenames not found in Atlas file");
}

TEST_F(SheeterRun, OutputFileRules) {
  fs::create_directories(dir_ / "adir");
  ExpectError(Sheeter(Europe({{11, "adir"}})), "cant open adir for writing\n");
  const std::string scene = ReadFile(Atlas("europe.scn"));
  ExpectError(Sheeter(Europe({{11, "atlas/europe.scn"}})), "cant open atlas/europe.scn for writing\n");
  EXPECT_EQ(ReadFile(Atlas("europe.scn")), scene);
  // A run that fails after the output was opened leaves the old file as it was.
  WriteFile(dir_ / "europe.hpg", "old plot");
  Replace("world.atl", "land = area, land.qbo, r3p0", "land = area, gone.qbo, r3p0");
  ExpectError(Sheeter(Europe()), "Theme file (atlas/gone.qbo) not found");
  EXPECT_EQ(ReadFile(dir_ / "europe.hpg"), "old plot");
  std::vector<fs::path> left;
  for (const auto& e : fs::directory_iterator(dir_))
    if (e.path().filename().string().find(".part") != std::string::npos) left.push_back(e.path());
  EXPECT_TRUE(left.empty());
}

TEST_F(SheeterRun, DeviceCopies) {
  fs::create_directories(dir_ / "dev");
  WriteFile(dir_ / "dev" / "lp3", "");
  const std::string env = "OMBREL_DEVICE_DIR=" + Quote((dir_ / "dev").string() + "/");
  const RunResult r = Sheeter(Europe({{11, "LPT4:"}}), env);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("SHEETER - writing to: " + (dir_ / "tmp").string() + "/hpg"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" lpt4\n"), std::string::npos);
  EXPECT_NE(r.out.find("SHEETER - copying from "), std::string::npos);
  const std::string copied = ReadFile(dir_ / "dev" / "lp3");
  EXPECT_NE(copied.find("Veltrum(tm) Atlas:World"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));  // the temporary file is gone after the copy
  // A copy that fails keeps the plot and names its file on standard error.
  const RunResult f = Sheeter(Europe({{11, "com2"}}), env);
  ExpectError(f, "cant open " + (dir_ / "dev").string() + "/ttyS1 for writing\n");
  std::string kept = f.err;
  while (!kept.empty() && kept.back() == '\n') kept.pop_back();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(fs::path(kept).parent_path(), dir_ / "tmp");
  EXPECT_EQ(ReadFile(kept), copied);
}

// The segments of the PE polylines of a plot, each as its two end points in
// plotter units: pieces cut at 64 or at 512 points give the same segments.
std::vector<std::array<long, 4>> Segments(const hpgl_test::Plot& plot) {
  std::vector<std::array<long, 4>> out;
  for (const hpgl_test::Polyline& p : plot.lines) {
    if (p.pe < 0) continue;
    for (size_t i = 1; i < p.points.size(); ++i)
      out.push_back({std::lround(p.points[i - 1].x), std::lround(p.points[i - 1].y), std::lround(p.points[i].x),
                     std::lround(p.points[i].y)});
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(SheeterRun, GridAndCoastMatchTheInterpretersPlot) {
  // ombrel with the a4 format as initialisation keys, the same centre,
  // scale, projection and styles.
  const fs::path home = dir_ / "home";
  fs::create_directories(home);
  for (const char* f : {"coast.sgm", "coast.vtx", "isotype.vix", "ombrel.html", "vthpglm.mrk"})
    if (fs::exists(fs::path(SHEETER_BIN) / f)) fs::create_symlink(fs::path(SHEETER_BIN) / f, home / f);
  WriteFile(home / "ombrel.oin", ReadFile(fs::path(SHEETER_BIN) / "ombrel.oin") +
                                     "\n[sheet format]\nsa4.left = 1200\nsa4.right = 11600\nsa4.bottom = 1600\n"
                                     "sa4.top = 7600\nsa4.width = 0.26\nsa4.height = 0.15\nsa4.device = 2\n");
  for (const auto& [centre, projection] : std::vector<std::pair<std::string, std::string>>{
           {"N50 E10", "stereo"}, {"N40 W100", "conical"}, {"S20 E130", "ortho"}}) {
    const std::string lat = centre.substr(0, 3), lon = centre.substr(4);
    WriteFile(dir_ / "t.omb", "Set temporary.directory = " + dir_.string() + "/\nGeometry " + centre + " 3e7 " +
                                  projection + "\nPlotStart sa4 " + (dir_ / "ombrel.hpg").string() +
                                  "\nDrawGrid r4\nDrawCoast r1w1\nPlotEnd\n");
    const std::string command = "cd " + Quote(dir_.string()) + " && SDL_VIDEODRIVER=dummy OMBREL_HOME=" +
                                Quote(home.string()) + " " + Quote(std::string(SHEETER_BIN) + "/ombrel") +
                                " --batch t.omb > ombrel.txt 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    WriteFile(Atlas("lines.scn"), "[linework]\ngrid = , r4,\ncoast = , r1w1,\n");
    const RunResult r = Sheeter(Europe({{5, "lines.scn"}, {6, lat}, {7, lon}, {8, "3e7"}, {9, projection}}));
    ASSERT_EQ(r.status, 0) << r.out;
    const hpgl_test::Plot a = hpgl_test::Reader(ReadFile(dir_ / "ombrel.hpg")).Read();
    // The sheet up to its frame, legend and scale bar.
    std::string sheet = ReadFile(dir_ / "europe.hpg");
    sheet = sheet.substr(0, sheet.find("IW;PA;"));
    const hpgl_test::Plot b = hpgl_test::Reader(sheet).Read();
    ASSERT_TRUE(a.ok && b.ok) << a.error << b.error << ReadFile(dir_ / "ombrel.txt");
    const auto sa = Segments(a), sb = Segments(b);
    EXPECT_GT(sa.size(), 500u) << projection;
    EXPECT_EQ(sa.size(), sb.size()) << projection;
    EXPECT_TRUE(sa == sb) << projection;
    // Both plots cut their pieces at 64 points, whatever the geometry's buffer.
    EXPECT_EQ(b.pe_count, a.pe_count) << projection;
  }
}

// PROJ on the sphere of the centre's geocentric radius (the radius the plot
// geometry scales by), in metres on the map: points given as geocentric
// longitude and latitude in degrees, one "a b" pair a line.
std::vector<std::pair<double, double>> RunProj(const fs::path& dir, const std::string& program, const std::string& args,
                                               const std::vector<std::pair<double, double>>& in) {
  const fs::path file = dir / "proj_in.txt";
  {
    std::ofstream f(file);
    f.precision(17);
    for (const auto& [a, b] : in) f << a << " " << b << "\n";
  }
  std::vector<std::pair<double, double>> out;
  const std::string command = program + " " + args + " -f %.12f < " + Quote(file.string());
  std::FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  double a, b;
  while (std::fscanf(p, "%lf %lf", &a, &b) == 2) out.push_back({a, b});
  pclose(p);
  return out;
}

TEST_F(SheeterRun, GridAndLabelsAgainstProj) {
  if (std::system("command -v proj >/dev/null 2>&1 && command -v invproj >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "PROJ's proj and invproj are not installed";
  constexpr double kDeg = 57.29577951308232;
  const double a = 6378137.0, f = 1 / 298.257223563, b = a * (1 - f), e2 = f * (2 - f);
  const auto geocentric = [&](double lat) { return std::atan((1 - e2) * std::tan(lat / kDeg)) * kDeg; };
  const auto geodetic = [&](double psi) { return std::atan(std::tan(psi / kDeg) / (1 - e2)) * kDeg; };
  const double psi0 = geocentric(50.0) / kDeg;
  const double r = a * b / std::sqrt(b * b * std::cos(psi0) * std::cos(psi0) + a * a * std::sin(psi0) * std::sin(psi0));
  const double metres_per_unit = 2e7 * 0.26 / 10400;  // scale x metres of paper per plotter unit
  const double cx = 6400, cy = 4600;                  // the frame's centre
  char args[256];
  std::snprintf(args, sizeof args, "+proj=stere +R=%.6f +k=1 +lat_0=%.15f +lon_0=10", r, psi0 * kDeg);

  WriteFile(Atlas("grid.scn"), "[linework]\ngrid = , r4,\n[labels]\ncitynames =\n");
  const RunResult run = Sheeter(Europe({{5, "grid.scn"}}));
  ASSERT_EQ(run.status, 0) << run.out;
  std::string sheet = ReadFile(dir_ / "europe.hpg");
  const hpgl_test::Plot plot = hpgl_test::Reader(sheet.substr(0, sheet.find("IW;PA;"))).Read();
  ASSERT_TRUE(plot.ok) << plot.error;

  // Every grid vertex lies on a parallel or a meridian of the grid's spacing
  // (parallels every 5 degrees, meridians every 10 at this scale) within 1.5
  // plotter units.
  std::vector<std::pair<double, double>> xy;
  for (const hpgl_test::Polyline& p : plot.lines)
    for (const hpgl_test::Pt& q : p.points) xy.push_back({(q.x - cx) * metres_per_unit, (q.y - cy) * metres_per_unit});
  ASSERT_GT(xy.size(), 100u);
  const auto ll = RunProj(dir_, "invproj", args, xy);
  ASSERT_EQ(ll.size(), xy.size());
  double worst = 0;
  for (const auto& [lon, psi] : ll) {
    const double lat = geodetic(psi);
    const double dlat = std::fabs(lat - 5.0 * std::round(lat / 5.0));
    const double dlon = std::fabs(lon - 10.0 * std::round(lon / 10.0)) * std::cos(lat / kDeg);
    // Angles on the ground to plotter units.
    worst = std::max(worst, std::min(dlat, dlon) / kDeg * r / metres_per_unit);
  }
  EXPECT_LT(worst, 1.5);

  // Each city label stands at the city's projected position plus its offset
  // (1.5 mm, 1.0 mm: 60 and 40 units).
  std::vector<std::pair<std::string, std::pair<double, double>>> cities;
  std::ifstream pts(fs::path(SHEETER_BIN) / "cities.pts");
  std::string line;
  std::vector<std::pair<double, double>> lonlat;
  while (std::getline(pts, line)) {
    double lat, lon;
    char name[128];
    if (std::sscanf(line.c_str(), "%lf %lf ; %127[^\n]", &lat, &lon, name) != 3) continue;
    std::string n = name;
    while (!n.empty() && (n.back() == ' ' || n.back() == '\r')) n.pop_back();
    cities.push_back({n, {lat, lon}});
    lonlat.push_back({lon, geocentric(lat)});
  }
  const auto projected = RunProj(dir_, "proj", args, lonlat);
  ASSERT_EQ(projected.size(), cities.size());
  int checked = 0;
  for (const hpgl_test::Label& l : plot.labels) {
    for (size_t i = 0; i < cities.size(); ++i) {
      if (cities[i].first != l.text) continue;
      EXPECT_NEAR(l.at.x, cx + projected[i].first / metres_per_unit + 60, 1.5) << l.text;
      EXPECT_NEAR(l.at.y, cy + projected[i].second / metres_per_unit + 40, 1.5) << l.text;
      ++checked;
    }
  }
  EXPECT_GE(checked, 5);
}

}  // namespace
