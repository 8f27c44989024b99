// The orbit commands end to end: ombrel runs scripts, and what they print,
// the objects they export and the pictures they save are checked against
// the orbit model computed here and against an independent sight test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "interp/keyed_store.h"
#include "interp/orbit_files.h"
#include "lib/display/bitmap.h"
#include "lib/display/colour.h"
#include "lib/orbits/orbit_model.h"
#include "tests/plot/hpgl_reader.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

const char* kSat =
    "epoch.date = 2025-08-13\n"
    "epoch.time = 00:00:00\n"
    "epoch.node = ascending\n"
    "longitude = e10\n"
    "inclination = 98.2\n"
    "argument.perigee = 90\n"
    "eccentricity = 0.001\n"
    "period = 6000\n"
    "sensor = cam\n"
    "cam.right.limit = -20\n"
    "cam.left.limit = 15\n";

struct Commands : ::testing::Test {
  std::string dir;
  orbits::Orbit orbit;
  orbits::Swath swath;
  geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  void SetUp() override {
    char tmpl[] = "/tmp/ombrel_orbits_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::ofstream(dir + "/sat.sat") << kSat;
    interp::KeyedStore* s = interp::OpenKeyedStoreFromText("sat.sat", kSat, std::strlen(kSat));
    interp::SatelliteEnv env;
    env.ellipsoid = e;
    std::string message;
    ASSERT_EQ(interp::ParseSatelliteStore(s, env, true, &orbit, &swath, &message), 1) << message;
    interp::CloseKeyedStore(s);
  }
  void TearDown() override {
    if (!HasFailure()) std::system(("rm -rf " + dir).c_str());
  }
  static std::string Bin() {
    const char* bin = getenv("OMBREL_BIN");
    return bin ? bin : "bin";
  }
  std::string Slurp(const std::string& file) {
    std::ifstream in(dir + "/" + file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Run(const std::string& script, const char* mode = "--batch") {
    std::ofstream(dir + "/t.omb") << script;
    const char* bin = getenv("OMBREL_BIN");
    const std::string program = std::string(bin ? bin : "bin") + "/ombrel";
    const std::string cmd =
        "cd " + dir + " && SDL_VIDEODRIVER=dummy " + program + " " + mode + " t.omb </dev/null 2>/dev/null";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    if (p) pclose(p);
    return out;
  }
  // Exported coordinates: "n0.168063 w2.770542 [attribute]" lines.
  struct Vertex {
    double lat, lon;
    long attribute;
  };
  std::vector<Vertex> Exported(const std::string& file) {
    std::ifstream in(dir + "/" + file);
    std::vector<Vertex> v;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream ls(line);
      std::string a, b;
      if (!(ls >> a >> b) || a[0] == '*') continue;
      Vertex x{std::atof(a.c_str() + 1) * (a[0] == 's' ? -1 : 1), std::atof(b.c_str() + 1) * (b[0] == 'w' ? -1 : 1),
               -1};
      ls >> x.attribute;
      v.push_back(x);
    }
    return v;
  }
  // The time Duration printed: the line after "Duration".
  static double Seconds(const std::string& text) {
    const size_t at = text.find("Duration\n");
    if (at == std::string::npos) return -1;
    int h = 0, m = 0;
    double s = 0;
    if (std::sscanf(text.c_str() + at + 9, "%d:%d:%lf", &h, &m, &s) != 3) return -1;
    return h * 3600 + m * 60 + s;
  }
  void ExpectAt(const Vertex& v, const geodesy::DirectionCosines& u, const char* what) {
    const geodesy::LatLong ll = geodesy::CosinesToGeodetic(u, e);
    EXPECT_NEAR(v.lat, ll.lat / kDeg, 2e-6) << what;
    EXPECT_NEAR(std::remainder(v.lon - ll.lon / kDeg, 360.0), 0, 2e-6) << what;
  }
};

TEST_F(Commands, OrbitTwoCoversItsRevolutionRingInOrder) {
  const std::string out = Run("DeriveRsetOrbit strip sat 2 60\nExportObject strip strip.rgn\n");
  const std::vector<Vertex> v = Exported("strip.rgn");
  // 6001, 6061, ..., 11941 and 11999: 101 times, a right and a left point each.
  ASSERT_GE(v.size(), 202u) << out;
  for (int k = 0; k <= 100; ++k) {
    const double t = k == 100 ? 11999.0 : 6001.0 + 60.0 * k;
    orbits::NadirSwath ns;
    orbits::SatelliteNadirAndSwath(e, orbit, &swath, t, &ns);
    ExpectAt(v[k], ns.right, "right");
    ExpectAt(v[201 - k], ns.left, "left");
  }
  // Closed back to the first right point, or ending before it.
  if (v.size() > 202u) ExpectAt(v[202], geodesy::GeodeticToCosines({v[0].lat * kDeg, v[0].lon * kDeg}, e), "close");
}

TEST_F(Commands, NadirLineAttributesAndExactEnd) {
  const std::string out =
      Run("DeriveLsetNadir trk sat 2025-08-13 00:10 2025-08-13 01:00:05.5 100 hd\nExportObject trk trk.lns\n");
  const std::vector<Vertex> v = Exported("trk.lns");
  // 600, 700, ..., 3600 and 3605.5.
  ASSERT_EQ(v.size(), 32u) << out;
  for (size_t k = 0; k < v.size(); ++k) {
    EXPECT_EQ(v[k].attribute, static_cast<long>(k));
    const double t = k == 31 ? 3605.5 : 600.0 + 100.0 * k;
    orbits::NadirSwath ns;
    orbits::SatelliteNadirAndSwath(e, orbit, nullptr, t, &ns);
    ExpectAt(v[k], ns.nadir, "nadir");
  }
}

// The J2 turns read off the derived track: the ascending equator crossings
// of one day at 10 s give the nodal period 2 pi / (2 pi / P + wdot) and the
// node's drift per revolution (Wdot - earth rate) times it.
TEST_F(Commands, TrackCrossingsGiveNodalPeriodAndNodeDrift) {
  Run("DeriveLsetNadir trk sat 2025-08-13 0:00 2025-08-14 0:00 10 hd\nExportObject trk trk.lns\n");
  const std::vector<Vertex> v = Exported("trk.lns");
  ASSERT_EQ(v.size(), 8641u);
  std::vector<double> times, lons;
  for (size_t k = 1; k < v.size(); ++k)
    if (v[k - 1].lat < 0 && v[k].lat >= 0) {
      const double f = -v[k - 1].lat / (v[k].lat - v[k - 1].lat);
      times.push_back(10.0 * (k - 1 + f));
      const double dl = std::remainder(v[k].lon - v[k - 1].lon, 360.0);
      lons.push_back(v[k - 1].lon + f * dl);
    }
  ASSERT_GE(times.size(), 14u);
  const double n = times.size() - 1;
  const double nodal = (times.back() - times.front()) / n;
  const double expected = 2 * M_PI / (2 * M_PI / orbit.period + orbit.perigee_rate);
  EXPECT_NEAR(nodal, expected, 0.002);
  double turn = 0;
  for (size_t k = 1; k < lons.size(); ++k) turn += std::remainder(lons[k] - lons[k - 1], 360.0);
  const double drift = turn / n * kDeg;
  EXPECT_NEAR(drift / ((orbit.node_rate - orbit.earth_rate) * expected), 1.0, 0.0001);
  // The node's own turn, the Earth's taken out: the J2 node rate.
  const double node_rate = drift / nodal + orbit.earth_rate;
  EXPECT_NEAR(node_rate / orbit.node_rate, 1.0, 0.001) << node_rate << " " << orbit.node_rate;
}

// Escape from the events file stops a trace (one event is fed a step), and
// what was drawn stays. Needs the map window's mode machinery.
TEST_F(Commands, EscapeFromEventsStopsTraceKeepingWhatWasDrawn) {
#if __has_include("interp/map_modes.h")
  std::ofstream(dir + "/ev.txt") << "move 10 10\nmove 20 20\nmove 30 30\nkey ESC\n";
  const std::string map = "MapFieldSize 800 500\nGeometry N0 E0 -1 wwmerc\nClear White\n";
  auto ink = [&](const char* file) {
    cairo_surface_t* s = nullptr;
    EXPECT_EQ(display::LoadImageFile(dir + "/" + file, display::ImageKind::kPng, &s), display::DecodeResult::kOk);
    if (!s) return -1;
    cairo_surface_flush(s);
    int n = 0;
    for (int y = 0; y < cairo_image_surface_get_height(s); ++y)
      for (int x = 0; x < cairo_image_surface_get_width(s); ++x)
        n += (reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x] &
              0xffffff) != 0xffffff;
    cairo_surface_destroy(s);
    return n;
  };
  const std::string trace = "TraceOrbit sat 2025-08-13 0:00 2025-08-13 1:40 10 Red\n";
  Run(map + trace + "SaveBitmap full.png\n");
  const std::string out = Run(map + trace + "SaveBitmap cut.png\nEcho after\n", "--batch --events ev.txt");
  EXPECT_NE(out.find("after"), std::string::npos) << out;
  const int full = ink("full.png"), cut = ink("cut.png");
  EXPECT_GT(cut, 0);
  EXPECT_LT(cut * 20, full) << out;
#else
  GTEST_SKIP() << "the map window's modes are not built";
#endif
}

// Closing or minimising the map window stops a trace quietly: nothing is
// posted, the error level stays 0 and what was drawn stays. A close line
// with words after it is refused and the trace runs on.
TEST_F(Commands, ClosingOrMinimisingTheMapWindowStopsTraceQuietly) {
#if __has_include("interp/map_modes.h")
  const std::string map = "MapFieldSize 800 500\nGeometry N0 E0 -1 wwmerc\nClear White\n";
  auto ink = [&](const char* file) {
    cairo_surface_t* s = nullptr;
    EXPECT_EQ(display::LoadImageFile(dir + "/" + file, display::ImageKind::kPng, &s), display::DecodeResult::kOk);
    if (!s) return -1;
    cairo_surface_flush(s);
    int n = 0;
    for (int y = 0; y < cairo_image_surface_get_height(s); ++y)
      for (int x = 0; x < cairo_image_surface_get_width(s); ++x)
        n += (reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x] &
              0xffffff) != 0xffffff;
    cairo_surface_destroy(s);
    return n;
  };
  const std::string trace = "TraceOrbit sat 2025-08-13 0:00 2025-08-13 1:40 10 Red\n";
  const std::string after = "SaveBitmap cut.png\nIfErrorlevel 1 Echo wrong level\nEcho after\n";
  Run(map + trace + "SaveBitmap full.png\n");
  const int full = ink("full.png");
  ASSERT_GT(full, 0);
  for (const char* gone : {"close", "minimise", "minimize"}) {
    // Nothing else would stop the trace: it would run to its end.
    std::ofstream(dir + "/ev.txt") << "move 10 10\nmove 20 20\n" << gone << "\n";
    const std::string out = Run(map + trace + after, "--batch --events ev.txt");
    const size_t prompt = out.find("press <ESC> to quit...\n");
    ASSERT_NE(prompt, std::string::npos) << out;
    // The next line is the script's own: the stop said nothing.
    EXPECT_EQ(out.compare(prompt + 23, 14, "SaveBitmap cut"), 0) << gone << "\n" << out;
    EXPECT_EQ(out.find("\nwrong level\n"), std::string::npos) << out;
    EXPECT_NE(out.find("after"), std::string::npos) << out;
    const int cut = ink("cut.png");
    EXPECT_GT(cut, 0) << gone;
    EXPECT_LT(cut * 20, full) << gone << "\n" << out;
  }
  // "close now" is not an event: the refusal names the line and the trace
  // runs to its end.
  std::ofstream(dir + "/ev.txt") << "close now\nmove 1 1\n";
  const std::string out = Run(map + trace + after, "--batch --events ev.txt");
  EXPECT_NE(out.find("Events file ev.txt line 1: too many words"), std::string::npos) << out;
  EXPECT_EQ(ink("cut.png"), full) << out;
#else
  GTEST_SKIP() << "the map window's modes are not built";
#endif
}

TEST_F(Commands, PacingHeadlessButNotInBatchOrAtScaleZero) {
  const std::string trace = "TraceOrbit sat 2025-08-13 0:00 2025-08-13 0:10 10\nDuration\n";
  const std::string paced = Run("Set time.scale 600\n" + trace + "Quit\n", "--headless");
  EXPECT_NEAR(Seconds(paced), 1.0, 0.25) << paced;
  EXPECT_NE(paced.find("press <ESC> to quit..."), std::string::npos);
  const double unpaced = Seconds(Run("Set time.scale 0\n" + trace + "Quit\n", "--headless"));
  EXPECT_GE(unpaced, 0);
  EXPECT_LT(unpaced, 0.2);
  const double batch = Seconds(Run("Set time.scale 600\n" + trace));
  EXPECT_GE(batch, 0);
  EXPECT_LT(batch, 0.2);
}

TEST_F(Commands, NoStreakAcrossTheWorldMap) {
  Run("MapFieldSize 800 500\nGeometry N0 E0 -1 wwmerc\nClear White\n"
      "TraceOrbitSwath sat 2025-08-13 0:00 2025-08-14 0:00 20 Red Blue\nSaveBitmap map.png\n");
  cairo_surface_t* s = nullptr;
  ASSERT_EQ(display::LoadImageFile(dir + "/map.png", display::ImageKind::kPng, &s), display::DecodeResult::kOk);
  cairo_surface_flush(s);
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  int coloured = 0, longest = 0;
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s));
    int run = 0;
    for (int x = 0; x < w; ++x) {
      const uint32_t v = row[x] & 0xffffff;
      const bool ink = v != 0xffffff;
      coloured += ink;
      run = ink ? run + 1 : 0;
      longest = std::max(longest, run);
    }
  }
  cairo_surface_destroy(s);
  EXPECT_GT(coloured, 5000);  // a day of track and swath edges was drawn
  EXPECT_LT(longest, w / 10);
}

// The swath region against scan positions: points the sensor sees at known
// scan angles, between two vertex times, are inside DeriveRsetSwath's region
// by DerivePsetInside exactly when the angle lies between the limits (points
// within 3 km of an edge are left out).
TEST_F(Commands, SwathRegionHoldsExactlyTheScannedPoints) {
  const double R = geodesy::MeanRadius(e);
  std::ofstream pts(dir + "/scan.pts");
  std::vector<bool> expect;
  unsigned seed = 7;
  auto uniform = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) / 16777216.0;
  };
  const double right = -20 * kDeg, left = 15 * kDeg;
  int id = 0;
  while (id < 4000) {
    const double t = 610 + uniform() * (2390 - 610);  // inside 600 ... 2400
    const double alpha = (uniform() * 60 - 30) * kDeg;
    orbits::NadirSwath ns;
    orbits::SatelliteNadirAndSwath(e, orbit, nullptr, t, &ns);
    const double h2 = ns.nadir.x * ns.nadir.x + ns.nadir.y * ns.nadir.y;
    const double r = 1 / std::sqrt(h2 / e.a2 + ns.nadir.z * ns.nadir.z / e.b2);
    const double D = r + ns.height;
    const double theta = orbits::SwathCentralAngle(r, D, std::sin(alpha), std::cos(alpha));
    const double edge_r = orbits::SwathCentralAngle(r, D, std::sin(right), std::cos(right));
    const double edge_l = orbits::SwathCentralAngle(r, D, std::sin(left), std::cos(left));
    if (std::fabs(theta - edge_r) * R < 3000 || std::fabs(theta - edge_l) * R < 3000) continue;
    // The cross-track direction at t: the orbit normal turned with the Earth.
    const double lam = (orbit.node_rate - orbit.earth_rate) * t;
    geodesy::DirectionCosines w{orbit.W.x * std::cos(lam) - orbit.W.y * std::sin(lam),
                                orbit.W.x * std::sin(lam) + orbit.W.y * std::cos(lam), orbit.W.z};
    w = geodesy::Normalised(w);
    const geodesy::DirectionCosines p = geodesy::Normalised(
        {ns.nadir.x * std::cos(theta) + w.x * std::sin(theta), ns.nadir.y * std::cos(theta) + w.y * std::sin(theta),
         ns.nadir.z * std::cos(theta) + w.z * std::sin(theta)});
    const geodesy::LatLong ll = geodesy::CosinesToGeodetic(p, e);
    char line[96];
    std::snprintf(line, sizeof line, "%.9f %.9f %d\n", ll.lat / kDeg, ll.lon / kDeg, id);
    pts << line;
    expect.push_back(alpha > right && alpha < left);
    ++id;
  }
  pts.close();
  const std::string out = Run(
      "ImportPset scan scan.pts hd\nDeriveRsetSwath sw sat 2025-08-13 0:10 2025-08-13 0:40 10\n"
      "DerivePsetInside in scan sw hd\nExportObject in in.txt\n");
  std::vector<bool> got(expect.size(), false);
  for (const Vertex& v : Exported("in.txt"))
    if (v.attribute >= 0 && v.attribute < static_cast<long>(got.size())) got[v.attribute] = true;
  int wrong = 0, inside = 0;
  for (size_t i = 0; i < expect.size(); ++i) {
    wrong += got[i] != expect[i];
    inside += expect[i];
  }
  EXPECT_GT(inside, 1000);
  EXPECT_EQ(wrong, 0) << out;
}

// The track over a region is drawn only where the nadir lies inside it: every
// pixel the trace changes lies on (or within two pixels of) the filled region.
TEST_F(Commands, OverheadRsetDrawsOnlyOverTheRegion) {
  std::ofstream(dir + "/box.rgn") << "-20 0\n-20 40\n20 40\n20 0\n* 1\n";
  const std::string out = Run(
      "ImportRset box box.rgn\nMapFieldSize 720 360\nGeometry N0 E0 -1 wwmerc\nClear White\n"
      "DisplayArea box Khaki\nSaveBitmap area.png\n"
      "TraceOrbitOverheadRset box sat 2025-08-13 0:00 2025-08-14 0:00 10 Red\nSaveBitmap both.png\n"
      "TraceOrbitOverheadRset sat sat 2025-08-13 0:00 2025-08-14 0:00 10 Red\n");
  EXPECT_NE(out.find("Unable to open (./sat.qbo) for reading"), std::string::npos) << out;
  cairo_surface_t* a = nullptr;
  cairo_surface_t* b = nullptr;
  ASSERT_EQ(display::LoadImageFile(dir + "/area.png", display::ImageKind::kPng, &a), display::DecodeResult::kOk);
  ASSERT_EQ(display::LoadImageFile(dir + "/both.png", display::ImageKind::kPng, &b), display::DecodeResult::kOk);
  cairo_surface_flush(a);
  cairo_surface_flush(b);
  const int w = cairo_image_surface_get_width(a), h = cairo_image_surface_get_height(a);
  auto at = [](cairo_surface_t* s, int x, int y) {
    return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x] &
           0xffffff;
  };
  int changed = 0, stray = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (at(a, x, y) == at(b, x, y)) continue;
      ++changed;
      bool near = false;
      for (int dy = -2; dy <= 2 && !near; ++dy)
        for (int dx = -2; dx <= 2 && !near; ++dx) {
          const int u = x + dx, v = y + dy;
          near = u >= 0 && v >= 0 && u < w && v < h && at(a, u, v) != 0xffffff;
        }
      stray += !near;
    }
  cairo_surface_destroy(a);
  cairo_surface_destroy(b);
  EXPECT_GT(changed, 200);
  EXPECT_EQ(stray, 0);
}

// Each pass against a sight test of its own: the receiver at R + e along its
// position, the satellite at R + h along its nadir, seen when the angle
// between the receiver's up and the line of sight is within the limit.
TEST_F(Commands, ReceiverPassesAgainstIndependentSight) {
  const char* rcv =
      "; stations\n"
      "n67:53 e21:04 1000 85 Kiruna\n"
      "n78:13:48 e15:23:26 1000 80 Svalbard\n"
      "s23:45:34 e133:52:57 1000 70 Alice\n"
      "n0 e10 1000 60 Equator\n";
  std::ofstream(dir + "/st.rcv") << rcv;
  const std::string out = Run("TraceOrbitReceivers st sat 2025-08-13 0:00 2025-08-14 0:00 10\n");
  struct Station {
    const char* name;
    double lat, lon, zenith;
  } stations[] = {{"Kiruna", 67 + 53 / 60.0, 21 + 4 / 60.0, 85},
                  {"Svalbard", 78.23, 15 + 23 / 60.0 + 26 / 3600.0, 80},
                  {"Alice", -(23 + 45 / 60.0 + 34 / 3600.0), 133 + 52 / 60.0 + 57 / 3600.0, 70},
                  {"Equator", 0, 10, 60}};
  std::multimap<std::string, std::pair<std::string, double>> expected;
  for (const Station& st : stations) {
    const geodesy::DirectionCosines p = geodesy::GeodeticToCosines({st.lat * kDeg, st.lon * kDeg}, e);
    bool seen = false;
    double first = 0, last = 0;
    for (double t = 0; t < 86400; t += 10) {
      orbits::NadirSwath ns;
      orbits::SatelliteNadirAndSwath(e, orbit, nullptr, t, &ns);
      const double S = std::sqrt(ns.position.x * ns.position.x + ns.position.y * ns.position.y +
                                 ns.position.z * ns.position.z);
      const double R = S - ns.height;
      const double rx = (R + 1000) * p.x, ry = (R + 1000) * p.y, rz = (R + 1000) * p.z;
      const double sx = (R + ns.height) * ns.nadir.x - rx, sy = (R + ns.height) * ns.nadir.y - ry,
                   sz = (R + ns.height) * ns.nadir.z - rz;
      const double zen = std::acos((sx * p.x + sy * p.y + sz * p.z) / std::sqrt(sx * sx + sy * sy + sz * sz));
      const bool sees = zen < st.zenith * kDeg;
      if (sees && !seen) first = t;
      if (sees) last = t;
      if (!sees && seen) {
        char when[32];
        std::snprintf(when, sizeof when, "%02d:%02d:%02d.0", (int)first / 3600, (int)first / 60 % 60, (int)first % 60);
        expected.insert({st.name, {when, last - first}});
      }
      seen = sees;
    }
  }
  std::istringstream lines(out);
  std::string line;
  size_t passes = 0;
  while (std::getline(lines, line)) {
    char when[32], name[64];
    double length;
    if (line.rfind("TraceOrbit", 0) == 0 || line.rfind("press", 0) == 0) continue;
    if (std::sscanf(line.c_str(), "%*s %*s %*s %*s %31s %lf %63s", when, &length, name) != 3) continue;
    ++passes;
    bool found = false;
    auto range = expected.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
      if (it->second.first == when) {
        EXPECT_NEAR(length, it->second.second, 10.0) << line;
        found = true;
      }
    EXPECT_TRUE(found) << line;
  }
  EXPECT_EQ(passes, expected.size()) << out;
  EXPECT_GT(passes, 10u);
}


// ---------------------------------------------------------------- traces on a plot

// A stretched plate carree world on the a4 sheet (11040 x 7680 units): x
// from the longitude, y from the geocentric latitude.
hpgl_test::Pt OnSheet(const geodesy::DirectionCosines& u) {
  const double lon = std::atan2(u.y, u.x) / kDeg, lat = std::asin(std::fmax(-1.0, std::fmin(1.0, u.z))) / kDeg;
  return {(lon + 180) / 360 * 11040, (lat + 90) / 180 * 7680};
}

double SegmentDistance(const hpgl_test::Pt& p, const hpgl_test::Pt& a, const hpgl_test::Pt& b) {
  const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
  const double t = l2 > 0 ? std::fmax(0.0, std::fmin(1.0, ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2)) : 0.0;
  return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// Distance from p to a polyline given as points, not joining neighbours
// that lie on opposite sides of the seam.
double TrackDistance(const hpgl_test::Pt& p, const std::vector<hpgl_test::Pt>& track) {
  double best = 1e18;
  for (size_t k = 0; k < track.size(); ++k) {
    best = std::fmin(best, std::hypot(p.x - track[k].x, p.y - track[k].y));
    if (k > 0 && std::fabs(track[k].x - track[k - 1].x) < 11040 / 3.0)
      best = std::fmin(best, SegmentDistance(p, track[k - 1], track[k]));
  }
  return best;
}

// How much of a model track the plot's lines follow, and how far the plot's
// vertices stray from it.
struct Follow {
  double covered = 0;  // share of the model's points within 3 units of a plot line
  double worst = 0;    // largest distance of a plot vertex from the model track
};
Follow Compare(const hpgl_test::Plot& plot, const std::vector<hpgl_test::Pt>& track) {
  Follow f;
  int near = 0;
  for (const hpgl_test::Pt& m : track) {
    bool found = false;
    for (const auto& l : plot.lines) {
      for (size_t k = 1; k < l.points.size() && !found; ++k) found = SegmentDistance(m, l.points[k - 1], l.points[k]) < 3;
      if (found) break;
    }
    near += found;
  }
  f.covered = track.empty() ? 0 : (double)near / track.size();
  for (const auto& l : plot.lines)
    for (const auto& v : l.points)  // the pen ends a line on the seam, between two model points
      if (v.x > 0.5 && v.x < 11039.5) f.worst = std::fmax(f.worst, TrackDistance(v, track));
  return f;
}

// The orbit traces draw on an open plot through its geometry: the lines
// follow the model's track on the sheet, the receivers are dots at their
// places (once each: lighting up is the screen's), the track over a region
// stays inside it; no prompt, and the plot's pen and window come first.
TEST_F(Commands, TracesReachAnOpenPlot) {
  std::ofstream(dir + "/st.rcv") << "n67:53 e21:04 1000 85 Kiruna\ns23:45:34 e133:52:57 1000 70 Alice\n"
                                    "n0 e10 1000 60 Equator\n";
  std::ofstream(dir + "/box.rgn") << "-20 0\n-20 40\n20 40\n20 0\n* 1\n";
  const std::string times = " sat 2025-08-13 0:00 2025-08-13 3:00 10\n";
  const std::string out = Run("Set temporary.directory = " + dir +
                              "/\nMapFieldSize 1056 684\nGeometry N0 E0 -1 wwpltcrr\nImportRset box box.rgn\n"
                              "PlotStart a4 trk\nTraceOrbit" + times + "PlotEnd\n"
                              "PlotStart a4 sw\nTraceSwath" + times + "PlotEnd\n"
                              "PlotStart a4 rcv\nTraceOrbitReceivers st" + times + "PlotEnd\n"
                              "PlotStart a4 ovr\nTraceOrbitOverheadRset box" + times + "PlotEnd\n");
  EXPECT_EQ(out.find("press <ESC>"), std::string::npos) << out;
  std::vector<hpgl_test::Pt> nadir, right, left;
  for (double t = 0; t < 3 * 3600; t += 10) {
    orbits::NadirSwath ns;
    orbits::SatelliteNadirAndSwath(e, orbit, &swath, t, &ns);
    nadir.push_back(OnSheet(ns.nadir));
    right.push_back(OnSheet(ns.right));
    left.push_back(OnSheet(ns.left));
  }
  // The track.
  const std::string trk = Slurp("trk.hpg");
  ASSERT_EQ(trk.rfind("IN;DF;IW0,0,11040,7680;", 0), 0u) << trk.substr(0, 80);
  EXPECT_LT(trk.find("SP1;PW0.5;"), trk.find("PE"));  // hpgl.color.orbit.trace = r1/w2
  const hpgl_test::Plot pt = hpgl_test::ReadPlot(trk);
  ASSERT_TRUE(pt.ok) << pt.error;
  Follow f = Compare(pt, nadir);
  EXPECT_GT(f.covered, 0.99);
  EXPECT_LT(f.worst, 3.0);
  for (const auto& l : pt.lines)  // no line across the sheet at the seam
    for (size_t k = 1; k < l.points.size(); ++k) EXPECT_LT(std::fabs(l.points[k].x - l.points[k - 1].x), 11040 / 3.0);
  // The two swath edges.
  const hpgl_test::Plot ps = hpgl_test::ReadPlot(Slurp("sw.hpg"));
  ASSERT_TRUE(ps.ok) << ps.error;
  std::vector<hpgl_test::Pt> both = right;
  both.insert(both.end(), left.begin(), left.end());
  EXPECT_GT(Compare(ps, right).covered, 0.99);
  EXPECT_GT(Compare(ps, left).covered, 0.99);
  EXPECT_LT(Compare(ps, both).worst, 3.0);
  // The receivers and the track.
  const hpgl_test::Plot pr = hpgl_test::ReadPlot(Slurp("rcv.hpg"));
  ASSERT_TRUE(pr.ok) << pr.error;
  ASSERT_EQ(pr.dots.size(), 3u);
  const double places[3][2] = {{67 + 53 / 60.0, 21 + 4 / 60.0},
                               {-(23 + 45 / 60.0 + 34 / 3600.0), 133 + 52 / 60.0 + 57 / 3600.0}, {0, 10}};
  for (int i = 0; i < 3; ++i) {
    const hpgl_test::Pt at = OnSheet(geodesy::GeodeticToCosines({places[i][0] * kDeg, places[i][1] * kDeg}, e));
    EXPECT_NEAR(pr.dots[i].x, at.x, 1.5) << i;
    EXPECT_NEAR(pr.dots[i].y, at.y, 1.5) << i;
  }
  f = Compare(pr, nadir);
  EXPECT_GT(f.covered, 0.99);
  EXPECT_LT(f.worst, 3.0);
  // The track over the region: only inside it, and some of it.
  const hpgl_test::Plot po = hpgl_test::ReadPlot(Slurp("ovr.hpg"));
  ASSERT_TRUE(po.ok) << po.error;
  size_t vertices = 0;
  for (const auto& l : po.lines)
    for (const auto& v : l.points) {
      ++vertices;
      EXPECT_GT(v.x, (0 + 180) / 360.0 * 11040 - 3);
      EXPECT_LT(v.x, (40 + 180) / 360.0 * 11040 + 3);
      EXPECT_GT(v.y, (-21 + 90) / 180.0 * 7680);
      EXPECT_LT(v.y, (21 + 90) / 180.0 * 7680);
    }
  EXPECT_GT(vertices, 20u);
  EXPECT_LT(Compare(po, nadir).worst, 3.0);
}

// ---------------------------------------------------------------- the track over a collection

// Four quadrilaterals (latitude, longitude corners, inside on the left), the
// first two overlapping, the last beyond the highest latitude the track
// reaches; a names file for the first two only (the others are named by
// their identifiers).
struct Quad {
  int id;
  double c[4][2];
};
const Quad kQuads[] = {{1, {{-10, 0}, {-10, 30}, {25, 30}, {25, 0}}},
                       {2, {{10, 20}, {10, 60}, {40, 60}, {40, 20}}},
                       {3, {{-60, -150}, {-60, -140}, {-50, -140}, {-50, -150}}},
                       {4, {{84, 0}, {84, 40}, {88, 40}, {88, 0}}}};

struct Collections : Commands {
  // Builds quads.plr and quads.dat (db-id 77) in the test folder.
  void BuildQuads() {
    std::ofstream rgn(dir + "/quads.rgn");
    for (const Quad& q : kQuads) {
      for (const auto& c : q.c) rgn << c[0] << " " << c[1] << "\n";
      rgn << "* " << q.id << "\n";
    }
    rgn.close();
    std::ofstream(dir + "/quads.names") << "1\tWest box\n2\tEast box\n";
    const std::string cmd = "cd " + dir + " && " + Bin() + "/plrbuild quads.plr quads.rgn quads.names --db-id 77 --index " +
                            Bin() + "/isotype.vix >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  // Inside a quad: on the left of every edge's great circle.
  double Margin(const Quad& q, const geodesy::DirectionCosines& p) {
    double m = 1;
    for (int i = 0; i < 4; ++i) {
      const auto a = geodesy::GeodeticToCosines({q.c[i][0] * kDeg, q.c[i][1] * kDeg}, e);
      const auto b = geodesy::GeodeticToCosines({q.c[(i + 1) % 4][0] * kDeg, q.c[(i + 1) % 4][1] * kDeg}, e);
      const geodesy::DirectionCosines n = geodesy::Normalised(geodesy::Cross(a, b));
      m = std::min(m, geodesy::Dot(n, p));
    }
    return m;
  }
  std::vector<uint8_t> Bytes(const std::string& file) {
    const std::string s = Slurp(file);
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  void Put(const std::string& file, const std::vector<uint8_t>& b) {
    std::ofstream(dir + "/" + file, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  }
};

// Every entry into a region is one line "date hh:mm:ss.t name", in time
// order, against a direct test of the model's nadirs; overlapping regions
// are both entered. Each entered region
// is filled in the highlight style, one never entered stays as it was.
TEST_F(Collections, EntriesAgainstDirectTestAndRegionsHighlighted) {
  BuildQuads();
  const std::string out = Run(
      "MapFieldSize 720 360\nGeometry N0 E0 -1 wwpltcrr\nClear White\n"
      "TraceOrbitOverheadCollection quads sat 2025-08-13 0:00 2025-08-13 12:00 10 Blue Lime\nSaveBitmap c.png\n");
  std::vector<std::string> expected;
  bool inside[4] = {false, false, false, false};
  int near_edge = 0;
  for (int k = 0; k < 12 * 360; ++k) {
    const double t = 10.0 * k;
    orbits::NadirSwath ns;
    orbits::SatelliteNadirAndSwath(e, orbit, nullptr, t, &ns);
    for (int q = 0; q < 4; ++q) {
      const double m = Margin(kQuads[q], ns.nadir);
      near_edge += std::fabs(m) < 1e-7;
      const bool now = m > 0;
      if (now && !inside[q]) {
        const interp::ClockTime c = interp::EpochClock(orbit, t);
        char line[96];
        std::snprintf(line, sizeof line, "%s %02d:%02d:%02d.%d %s", c.date, c.hours, c.minutes, c.seconds, c.tenths,
                      q == 0 ? "West box" : q == 1 ? "East box" : q == 2 ? "3" : "4");
        expected.push_back(line);
      }
      inside[q] = now;
    }
  }
  ASSERT_EQ(near_edge, 0);  // no nadir so near an edge that the sides could differ
  std::vector<std::string> got;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("Wed Aug 13 2025 ", 0) == 0) got.push_back(line);
  // Two regions entered at one step may come in either order.
  std::multiset<std::string> want_set(expected.begin(), expected.end()), got_set(got.begin(), got.end());
  EXPECT_EQ(got_set, want_set) << out;
  EXPECT_GE(expected.size(), 4u);
  for (size_t i = 1; i < got.size(); ++i) EXPECT_LE(got[i - 1].substr(16, 10), got[i].substr(16, 10)) << got[i];

  cairo_surface_t* s = nullptr;
  ASSERT_EQ(display::LoadImageFile(dir + "/c.png", display::ImageKind::kPng, &s), display::DecodeResult::kOk);
  cairo_surface_flush(s);
  // Plate carree at two pixels a degree: the share of lime pixels in a box
  // well inside each region.
  auto lime_share = [&](double lat0, double lat1, double lon0, double lon1) {
    int lime = 0, all = 0;
    for (int y = (int)((90 - lat1) * 2); y < (int)((90 - lat0) * 2); ++y)
      for (int x = (int)((lon0 + 180) * 2); x < (int)((lon1 + 180) * 2); ++x) {
        const uint32_t v =
            reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x] &
            0xffffff;
        lime += v == 0x00ff00;
        ++all;
      }
    return all ? (double)lime / all : 0.0;
  };
  ASSERT_NE(out.find("West box"), std::string::npos);
  ASSERT_NE(out.find("East box"), std::string::npos);
  EXPECT_GT(lime_share(-5, 5, 3, 15), 0.9);
  EXPECT_GT(lime_share(30, 37, 35, 55), 0.9);
  if (out.find(".0 3\n") != std::string::npos) EXPECT_GT(lime_share(-58, -52, -148, -142), 0.9);
  else EXPECT_EQ(lime_share(-58, -52, -148, -142), 0.0);
  EXPECT_EQ(out.find(".0 4\n"), std::string::npos);
  EXPECT_EQ(lime_share(85, 87, 10, 30), 0.0);
  cairo_surface_destroy(s);
}

// The refusals at open, each with its numbers and error level 4, and the
// plot refusal; nothing is drawn and no entry is posted.
TEST_F(Collections, BadCollectionsAndPlotRefused) {
  BuildQuads();
  const std::vector<uint8_t> plr = Bytes("quads.plr"), dat = Bytes("quads.dat");
  ASSERT_GT(plr.size(), 200u);
  ASSERT_GE(dat.size(), 8u);
  auto u32 = [&](const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
  };
  auto set32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
  };
  const uint32_t index_id = u32(plr, 8);
  std::vector<uint8_t> b = plr;
  b[0] = 299 & 0xff, b[1] = 299 >> 8;
  Put("rel.plr", b);
  b = plr;
  b[0] = 361 & 0xff, b[1] = 361 >> 8;
  Put("rel361.plr", b);
  b = plr;
  set32(b, 8, index_id + 1);
  Put("idx.plr", b);
  Put("db.plr", plr);
  b = dat;
  set32(b, 0, 78);
  Put("db.dat", b);
  // The region section's magic spoilt, and its region table moved past the end.
  const size_t section = 44 + u32(plr, 40);
  b = plr;
  b[section] = 'X';
  Put("magic.plr", b);
  b = plr;
  set32(b, section + 28, (uint32_t)plr.size());
  Put("table.plr", b);
  std::ofstream(dir + "/pts.pts") << "10 10\n20 20\n";
  ASSERT_EQ(std::system(("cd " + dir + " && " + Bin() + "/plrbuild pts.plr pts.pts --index " + Bin() +
                         "/isotype.vix >/dev/null 2>&1").c_str()),
            0);
  std::string script = "TraceOrbitOverheadCollection ?\n";
  const std::string times = " sat 2025-08-13 0:00 2025-08-13 6:00 10\nIfErrorlevel 4 Echo level 4\n";
  Put("nodat.plr", plr);  // no names: entries read "???"
  for (const char* name : {"nosuch", "rel", "rel361", "idx", "db", "magic", "table", "pts", "quads", "nodat"})
    script += std::string("TraceOrbitOverheadCollection ") + name + times;
  script += "Set temporary.directory = " + dir + "/\nPlotStart a4 p\nTraceOrbitOverheadCollection quads" + times +
            "TraceOrbitSwath" + times + "PlotEnd\n";
  const std::string out = Run(script);
  // The echoed script lines are left out.
  std::string kept;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);)
    if (l.rfind("TraceOrbit", 0) != 0 && l.rfind("IfErrorlevel", 0) != 0) kept += l + "\n";
  char idx_line[96];
  std::snprintf(idx_line, sizeof idx_line, "Mis-match, index_id (%u/%u)\nlevel 4", index_id, index_id + 1);
  for (const std::string& want : std::vector<std::string>{
           std::string("RsetCollectionName satelliteName start_date time end_date time step [style [style]]"),
        "Collection file ./nosuch.plr access error\nlevel 4", "Mis-match, release level (360/299)\nlevel 4",
        "Mis-match, release level (360/361)\nlevel 4", std::string(idx_line), "Mis-match, db-id (77/78)\nlevel 4",
        "error 8\nlevel 4", "file ./table.plr mapping error 22\nlevel 4", "error 5\nlevel 4"}) {
    EXPECT_NE(kept.find(want + "\n"), std::string::npos) << want << "\n" << out;
  }
  // On a plot: refused before anything is drawn, like TraceOrbitSwath.
  const size_t plot = kept.find("PlotStart a4 p");
  ASSERT_NE(plot, std::string::npos) << out;
  const std::string after = kept.substr(plot);
  size_t refusals = 0;
  for (size_t at = after.find("Not implemented for plot\nlevel 4"); at != std::string::npos;
       at = after.find("Not implemented for plot\nlevel 4", at + 1))
    ++refusals;
  EXPECT_EQ(refusals, 2u) << after;
  EXPECT_EQ(after.find("press <ESC>"), std::string::npos);
  EXPECT_EQ(after.find(" box"), std::string::npos);
  // Before the plot, only the good collections traced and posted entries.
  EXPECT_NE(kept.substr(0, plot).find(".0 West box\n"), std::string::npos) << out;
  EXPECT_NE(kept.substr(0, plot).find(".0 ???\n"), std::string::npos) << out;
  EXPECT_EQ(kept.find("level 4\nWed"), std::string::npos) << out;  // no entries after a refusal
}

}  // namespace
