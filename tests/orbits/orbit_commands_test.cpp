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
#include <sstream>
#include <string>
#include <vector>

#include "interp/keyed_store.h"
#include "interp/orbit_files.h"
#include "lib/display/bitmap.h"
#include "lib/display/colour.h"
#include "lib/orbits/orbit_model.h"

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

}  // namespace
