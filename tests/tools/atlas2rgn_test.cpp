// atlas2rgn run as the real program: the roles of a polygon's rings decided
// on the sphere whatever their order and orientation in the file, Antarctica
// at 50m (its pole ring listed first) against GeographicLib and against the
// region the builder makes of it, every country less than half the earth,
// refused input leaving the old output in place, and the shipped outlines
// equal to what the program writes from tests/data/world-atlas.
#include <gtest/gtest.h>

#include <GeographicLib/PolygonArea.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "lib/cells/coord_text.h"
#include "lib/cells/measure_object.h"
#include "tests/ops/ops_test_util.h"
#include "tests/utilities/util_common.h"

namespace {

namespace ot = ops::testing;
using utiltest::Exists;
using utiltest::ListDir;
using utiltest::Slurp;
using utiltest::Spit;

struct LatLon {
  double lat, lon;
};
struct TextRing {
  std::vector<LatLon> pts;
  long id = 0;
};

// The rings of a region text: "lat lon" lines, each ring closed by "* id".
std::vector<TextRing> ReadRings(const std::string& text) {
  std::vector<TextRing> rings;
  TextRing cur;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '*') {
      cur.id = std::strtol(line.c_str() + 1, nullptr, 10);
      rings.push_back(cur);
      cur = TextRing();
      continue;
    }
    LatLon p{};
    if (std::sscanf(line.c_str(), "%lf %lf", &p.lat, &p.lon) == 2) cur.pts.push_back(p);
  }
  return rings;
}

const GeographicLib::Geodesic& Wgs84() {
  static const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  static const GeographicLib::Geodesic g(e.a, (e.a - e.b) / e.a);
  return g;
}

// GeographicLib's signed area of a ring (m^2, counterclockwise positive, so
// positive with the inside on the left), taken as bounding less than half
// the earth.
double SignedArea(const TextRing& r) {
  GeographicLib::PolygonArea poly(Wgs84());
  for (const LatLon& p : r.pts) poly.AddPoint(p.lat, p.lon);
  double perimeter = 0, area = 0;
  poly.Compute(false, true, perimeter, area);
  return area;
}

struct Ran {
  int rc = -1;
  std::string out, err;
};

// Runs atlas2rgn with the arguments, its output and errors captured.
Ran Atlas(const std::vector<std::string>& args) {
  const std::string dir = utiltest::MakeTempDir();
  const std::string out = dir + "/stdout", err = dir + "/stderr";
  std::vector<std::string> argv{ot::BinDir() + "atlas2rgn"};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> v;
    for (auto& a : argv) v.push_back(const_cast<char*>(a.c_str()));
    v.push_back(nullptr);
    execv(v[0], v.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Ran r;
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  rmdir(dir.c_str());
  return r;
}

class Atlas2rgn : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = utiltest::MakeTempDir(); }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Converts TopoJSON text and returns the rings written.
  std::vector<TextRing> Convert(const std::string& topo, Ran* run = nullptr) {
    Spit(Path("in.json"), topo);
    Ran r = Atlas({Path("in.json"), Path("out.rgn"), "t", "countries"});
    EXPECT_EQ(r.rc, 0) << r.err;
    if (run) *run = r;
    return ReadRings(Slurp(Path("out.rgn")));
  }
  std::string dir_;
};

// A TopoJSON text of one country (id 7) with the given polygons, every ring
// one arc of whole-degree positions (scale 1, no translation).
std::string Topo(const std::vector<std::vector<std::vector<LatLon>>>& polygons) {
  std::string arcs, polys;
  int arc = 0;
  for (const auto& poly : polygons) {
    std::string rings;
    for (const auto& ring : poly) {
      std::string a;
      long x = 0, y = 0;
      for (const LatLon& p : ring) {
        const long px = std::lround(p.lon), py = std::lround(p.lat);
        a += (a.empty() ? "[" : ",[") + std::to_string(px - x) + "," + std::to_string(py - y) + "]";
        x = px;
        y = py;
      }
      arcs += (arcs.empty() ? "[" : ",[") + a + "]";
      rings += (rings.empty() ? "[" : ",[") + std::to_string(arc++) + "]";
    }
    polys += (polys.empty() ? "[" : ",[") + rings + "]";
  }
  return R"({"type":"Topology","transform":{"scale":[1,1],"translate":[0,0]},"objects":{"countries":)"
         R"({"type":"GeometryCollection","geometries":[{"type":"MultiPolygon","id":"007","arcs":[)" +
         polys + "]}]}},\"arcs\":[" + arcs + "]}";
}

// A closed ring in the file's convention (inside on the right) or against it.
std::vector<LatLon> Square(double lat0, double lon0, double lat1, double lon1, bool inside_right) {
  std::vector<LatLon> r{{lat0, lon0}, {lat1, lon0}, {lat1, lon1}, {lat0, lon1}, {lat0, lon0}};
  if (!inside_right) std::reverse(r.begin(), r.end());
  return r;
}
// A parallel at lat, every 30 degrees; eastward puts the south pole on the right.
std::vector<LatLon> Parallel(double lat, bool eastward) {
  std::vector<LatLon> r;
  for (int lon = -180; lon <= 180; lon += 30) r.push_back({lat, static_cast<double>(eastward ? lon : -lon)});
  return r;
}

double Sum(const std::vector<TextRing>& rings) {
  double s = 0;
  for (const auto& r : rings) s += SignedArea(r);
  return s;
}

TEST_F(Atlas2rgn, RingRolesFollowContainmentNotOrder) {
  const std::vector<LatLon> outer = Square(0, 0, 10, 10, true), lake = Square(4, 4, 6, 6, false);
  // A lake whose corner is a corner of the coast: judged at its other vertices.
  const std::vector<LatLon> corner{{0, 0}, {3, 5}, {5, 3}, {0, 0}};
  auto rev = [](std::vector<LatLon> r) {
    std::reverse(r.begin(), r.end());
    return r;
  };
  struct Case {
    const char* what;
    std::vector<std::vector<LatLon>> rings;
    std::size_t hole;  // which ring is the lake
  } cases[] = {
      {"coast first", {outer, lake}, 1},
      {"lake first", {lake, outer}, 0},
      {"both the wrong way round", {rev(outer), rev(lake)}, 1},
      {"lake first, the wrong way round", {rev(lake), rev(outer)}, 0},
      {"lake touching the coast, first", {corner, outer}, 0},
      {"lake touching the coast, the wrong way round", {outer, rev(corner)}, 1},
  };
  for (const Case& c : cases) {
    const std::vector<TextRing> rings = Convert(Topo({c.rings}));
    ASSERT_EQ(rings.size(), 2u) << c.what;
    // Written in the file's order, each with the country's code.
    EXPECT_EQ(rings[0].id, 7) << c.what;
    EXPECT_EQ(rings[1].id, 7) << c.what;
    // Inside on the left: the coast counterclockwise, the lake clockwise.
    const double coast = std::fabs(SignedArea({outer, 0})), hole = std::fabs(SignedArea({c.rings[c.hole], 0}));
    EXPECT_NEAR(SignedArea(rings[1 - c.hole]), coast, 1e-9 * coast) << c.what;
    EXPECT_NEAR(SignedArea(rings[c.hole]), -hole, 1e-9 * coast) << c.what;
  }
}

TEST_F(Atlas2rgn, RingsAroundAPoleAndSeparateIslands) {
  // Antarctica in small: a coast along 80S around the pole and a hole at
  // 89S around the pole itself, listed first; both contain the pole, so only
  // containment tells them apart.
  const double coast = std::fabs(SignedArea({Parallel(-80, true), 0}));
  const double pole = std::fabs(SignedArea({Parallel(-89, true), 0}));
  Ran run;
  std::vector<TextRing> rings = Convert(Topo({{Parallel(-89, false), Parallel(-80, true)}}), &run);
  ASSERT_EQ(rings.size(), 2u);
  EXPECT_NEAR(Sum(rings), coast - pole, 1e-9 * coast);
  EXPECT_NE(run.out.find("1 polygons list a hole first"), std::string::npos) << run.out;
  // The same coast alone, written either way round: the pole side.
  for (bool east : {true, false}) {
    rings = Convert(Topo({{Parallel(-80, east)}}));
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_NEAR(Sum(rings), coast, 1e-9 * coast) << east;
  }
  // Two polygons of one country, one inside the other's square: polygons
  // are separate (an island in a lake stays land), and a ring collapsed to
  // two positions is dropped.
  rings = Convert(Topo({{Square(0, 0, 10, 10, true), Square(2, 2, 8, 8, false)},
                        {Square(4, 4, 6, 6, true)},
                        {{{20, 20}, {21, 21}, {20, 20}}}}),
                  &run);
  ASSERT_EQ(rings.size(), 3u);
  const double expect = SignedArea({Square(0, 0, 10, 10, false), 0}) - SignedArea({Square(2, 2, 8, 8, false), 0}) +
                        SignedArea({Square(4, 4, 6, 6, false), 0});
  EXPECT_NEAR(Sum(rings), expect, 1e-9 * expect);
  EXPECT_NE(run.out.find("1 dropped"), std::string::npos) << run.out;
}

TEST_F(Atlas2rgn, RefusedInputLeavesTheOldOutput) {
  Spit(Path("out.rgn"), "kept\n");
  const std::string good = Topo({{Square(0, 0, 10, 10, true)}});
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    const std::size_t at = t.find(from);
    return at == std::string::npos ? t : t.replace(at, from.size(), to);
  };
  const std::string bad_arc = replaced("[[[0]]]", "[[[5]]]");
  const std::string short_point = replaced("[[0,0],", "[[0],");
  const std::string no_arcs = replaced(",\"arcs\":[[[0]]]", "");
  for (const std::string& t : {bad_arc, short_point, no_arcs}) ASSERT_NE(t, good);
  for (const std::string& text : {bad_arc, short_point, no_arcs, std::string("{\"type\":\"Topology\""),
                                  std::string("[1,2]")}) {
    Spit(Path("in.json"), text);
    const Ran r = Atlas({Path("in.json"), Path("out.rgn"), "t", "countries"});
    EXPECT_EQ(r.rc, 1) << text;
    EXPECT_NE(r.err.find("atlas2rgn: "), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(Path("out.rgn")), "kept\n") << text;
  }
  Spit(Path("in.json"), good);
  Ran r = Atlas({Path("in.json"), Path("out.rgn"), "t", "rivers"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("has no object rivers"), std::string::npos) << r.err;
  r = Atlas({Path("missing.json"), Path("out.rgn")});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(Path("out.rgn")), "kept\n");
  // Nothing half-written left beside it.
  EXPECT_EQ(ListDir(dir_), "in.json\nout.rgn\n");
  // A geometry without a type (TopoJSON's null geometry) bounds nothing.
  Spit(Path("in.json"), replaced("{\"type\":\"MultiPolygon\",", "{\"type\":null},{\"type\":\"MultiPolygon\","));
  r = Atlas({Path("in.json"), Path("out.rgn"), "t", "countries"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(ReadRings(Slurp(Path("out.rgn"))).size(), 1u);
}

std::string Package(const std::string& name) { return ot::SourceDir() + "tests/data/world-atlas/" + name; }

// Antarctica's 50m polygon lists a 256-vertex ring at 89.999S before its
// coast. Oriented by that order the country was the rest of the world
// (12.27 sr instead of 0.297 sr).
TEST_F(Atlas2rgn, Antarctica50mAgainstGeographicLib) {
  const Ran r = Atlas({Package("countries-50m.json"), Path("c.rgn"), "50m", "countries"});
  ASSERT_EQ(r.rc, 0) << r.err;
  const std::string text = Slurp(Path("c.rgn"));
  // The mainland's polygon among the country's rings: its coast (the ring
  // of most vertices) and the ring around the pole.
  std::vector<TextRing> antarctica;
  const TextRing* coast = nullptr;
  const TextRing* pole = nullptr;
  const std::vector<TextRing> all = ReadRings(text);
  for (const TextRing& ring : all) {
    if (ring.id != 10) continue;
    if (!coast || ring.pts.size() > coast->pts.size()) coast = &ring;
    if (std::all_of(ring.pts.begin(), ring.pts.end(), [](const LatLon& p) { return p.lat < -89.99; })) pole = &ring;
  }
  ASSERT_TRUE(coast && pole);
  antarctica = {*coast, *pole};
  // The reference, whatever the orientation written: the coast's side that
  // holds the pole, less the pole ring's.
  const double a0 = std::fabs(SignedArea(antarctica[0])), a1 = std::fabs(SignedArea(antarctica[1]));
  const double want = std::max(a0, a1) - std::min(a0, a1);
  // About 12 million km2 (0.297 sr); the pole ring holds 0.04 km2.
  EXPECT_NEAR(want, 12.16e12, 0.01e12);
  EXPECT_LT(std::min(a0, a1), 1e5);
  EXPECT_NEAR(Sum(antarctica), want, 1e-9 * want);

  // The region the builder makes of the written rings has that area.
  cells::CellIndex idx;
  ASSERT_TRUE(ot::LoadIndex("isotype.vix", idx));
  struct Release {
    cells::CellIndex& i;
    ~Release() { cells::ReleaseIndex(i); }
  } release{idx};
  std::string only;
  for (const TextRing& ring : antarctica) {
    char line[64];
    for (const LatLon& p : ring.pts) {
      std::snprintf(line, sizeof line, "%.7f %.7f\n", p.lat, p.lon);
      only += line;
    }
    only += "* 10\n";
  }
  cells::CoordReadOptions o;
  o.kind = 2;
  o.res = 10;
  std::vector<cells::PointNode> nodes;
  ASSERT_EQ(cells::ReadCoordTextBuffer(only.data(), only.size(), o, nodes).status, 0);
  ot::HeapObject region;
  ot::Build(idx, cells::kRset, nodes, region, 10);
  ASSERT_EQ(region.status, 0);
  const cells::ObjectMeasure m = cells::MeasureRset(idx, region.obj, geodesy::MakeEllipsoid(), 'r', nullptr);
  ASSERT_EQ(m.status, 0);
  EXPECT_NEAR(m.area, want, 1e-9 * want);
}

// Every country of the 110m and 50m files, its rings' signed areas summed,
// covers more than nothing and less than half the earth.
TEST_F(Atlas2rgn, EveryCountryLessThanHalfTheEarth) {
  const double half = 2 * M_PI * Wgs84().EllipsoidArea() / (4 * M_PI);
  for (const char* level : {"110m", "50m"}) {
    const Ran r =
        Atlas({"--countries", Package(std::string("countries-") + level + ".json"), Path("c.rgn"), Path("c.names"), level});
    ASSERT_EQ(r.rc, 0) << r.err;
    std::map<long, double> area;
    for (const TextRing& ring : ReadRings(Slurp(Path("c.rgn")))) area[ring.id] += SignedArea(ring);
    EXPECT_GT(area.size(), 170u) << level;
    for (const auto& [id, a] : area) {
      EXPECT_GT(a, 0.0) << level << " country " << id;
      EXPECT_LT(a, half) << level << " country " << id;
    }
  }
}

// The outlines shipped in data/ and tests/data/ are what the program writes
// now from the package's files: a change of the converter shows here, and
// the 110m files stay as they were.
TEST_F(Atlas2rgn, ShippedOutlinesAreWhatItWrites) {
  struct Made {
    std::vector<std::string> args;  // input, outputs, label, object
    std::vector<std::string> shipped;
  } made[] = {
      {{Package("land-110m.json"), Path("1"), "110m"}, {"data/land110m.rgn"}},
      {{Package("land-50m.json"), Path("1"), "50m"}, {"data/land50m.rgn"}},
      {{Package("land-10m.json"), Path("1"), "10m"}, {"data/land10m.rgn"}},
      {{Package("countries-110m.json"), Path("1"), "110m", "countries"}, {"tests/data/countries110m.rgn"}},
      {{Package("countries-110m.json"), Path("1"), "110m", "land"}, {"tests/data/countries110m-land.rgn"}},
      {{"--countries", Package("countries-110m.json"), Path("1"), Path("2"), "110m"},
       {"data/countries110m.rgn", "data/countries110m.names"}},
      {{"--countries", Package("countries-50m.json"), Path("1"), Path("2"), "50m"},
       {"data/countries50m.rgn", "data/countries50m.names"}},
  };
  for (const Made& m : made) {
    const Ran r = Atlas(m.args);
    ASSERT_EQ(r.rc, 0) << m.shipped[0] << ": " << r.err;
    for (std::size_t k = 0; k < m.shipped.size(); ++k) {
      const std::string want = Slurp(ot::SourceDir() + m.shipped[k]);
      ASSERT_FALSE(want.empty()) << m.shipped[k];
      EXPECT_TRUE(Slurp(Path(std::to_string(k + 1))) == want) << m.shipped[k] << " differs from what atlas2rgn writes";
    }
  }
}

}  // namespace
