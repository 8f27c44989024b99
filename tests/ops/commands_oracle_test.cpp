// The land outlines through the commands a user types, against S2 and
// GeographicLib. One `ombrel --batch` run imports Natural Earth land at 110m,
// 50m and 10m with each resolution l, m, h and d, measures every import with
// `Area` (cell method) and exports it; the imports at h split a set of points
// with `DerivePsetInside` and `DerivePsetOutside`. Then:
// - the two derived sets together are the points, each once, and every point
//   farther than 1 m from the boundary is on S2's side of the same rings
//   (at 10m not next to a ring S2 finds self-crossing). The points: uniform
//   ones, ones within 20 km of a 110m vertex, and dense ones on Wrangel
//   Island, Chukotka and Taveuni, where the data cuts land along 180 degrees
//   and isotype.vix has cell edges on that meridian;
// - each `Area` is within 1e-8 of GeographicLib's PolygonArea of the rings
//   the object holds (its own export); 3e-8 at 110m, whose long legs the
//   cell method follows as plane sections rather than geodesics, and 5e-8
//   for 8-bit records.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2closest_edge_query.h>
#include <s2/s2contains_point_query.h>
#include <s2/s2debug.h>
#include <s2/s2error.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2loop.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lib/cells/coord_text.h"
#include "lib/geodesy/ellipsoid.h"
#include "tests/ops/ops_test_util.h"

namespace {

// The folder of the programs and shipped data, absolute (the run changes
// folder).
std::string BinDir() {
  char* real = realpath(ops::testing::BinDir().c_str(), nullptr);
  const std::string dir = real ? std::string(real) + "/" : ops::testing::BinDir();
  std::free(real);
  return dir;
}

constexpr double kDeg = 57.29577951308232;
const char* const kLevels[] = {"110m", "50m", "10m"};
const char* const kRes[] = {"l", "m", "h", "d"};

// Points by group, numbered from 1 in the file.
struct Group {
  std::string name;
  std::size_t begin, end;
};

struct BatchRun {
  std::string dir;
  std::string output;
  std::vector<std::pair<double, double>> points;  // degrees
  std::vector<Group> groups;
  std::map<std::string, double> area;  // "10m h" -> m^2
};

std::vector<cells::PointNode> ReadRegion(const std::string& path) {
  std::vector<cells::PointNode> nodes;
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return nodes;
  cells::CoordReadOptions o;
  o.kind = cells::kRset;
  o.res = 6;
  cells::ReadCoordText(f, o, nodes);
  std::fclose(f);
  return nodes;
}

std::vector<std::vector<S2Point>> Loops(const std::vector<cells::PointNode>& nodes) {
  std::vector<std::vector<S2Point>> loops(1);
  for (const cells::PointNode& n : nodes) {
    if (cells::IsMark(n)) {
      if (loops.back().size() >= 3) loops.emplace_back();
      else loops.back().clear();
      continue;
    }
    loops.back().push_back(S2Point(n.p.x, n.p.y, n.p.z));
  }
  if (loops.back().size() < 3) loops.pop_back();
  return loops;
}

void AddBox(BatchRun& r, const std::string& name, double lat0, double lat1, double lon0, double lon1, int n,
            std::mt19937_64& rng) {
  std::uniform_real_distribution<double> la(lat0, lat1), lo(lon0, lon1);
  const std::size_t b = r.points.size();
  for (int i = 0; i < n; ++i) {
    double lon = lo(rng);
    if (lon > 180.0) lon -= 360.0;
    r.points.push_back({la(rng), lon});
  }
  r.groups.push_back({name, b, r.points.size()});
}

const BatchRun& TheRun() {
  static BatchRun run = [] {
    BatchRun r;
    char tmpl[] = "/tmp/ombrel_cmdoracle_XXXXXX";
    if (!mkdtemp(tmpl)) return r;
    r.dir = tmpl;
    for (const char* level : kLevels)
      std::system(("cp " + BinDir() + "land" + level + ".rgn " + r.dir + "/").c_str());
    std::mt19937_64 rng(20261209);
    // Uniform points, and points within 20 km of a 110m vertex.
    std::normal_distribution<double> g;
    std::size_t b = 0;
    for (int i = 0; i < 60000; ++i) {
      const double x = g(rng), y = g(rng), z = g(rng);
      const double n = std::sqrt(x * x + y * y + z * z);
      r.points.push_back({std::asin(z / n) * kDeg, std::atan2(y, x) * kDeg});
    }
    r.groups.push_back({"uniform", b, r.points.size()});
    b = r.points.size();
    const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
    std::vector<cells::PointNode> land = ReadRegion(r.dir + "/land110m.rgn");
    std::vector<geodesy::LatLong> verts;
    for (const auto& n : land)
      if (!cells::IsMark(n)) verts.push_back(geodesy::CosinesToGeodetic(n.p, e));
    std::uniform_int_distribution<std::size_t> pick(0, verts.empty() ? 0 : verts.size() - 1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const GeographicLib::Geodesic& geod = GeographicLib::Geodesic::WGS84();
    for (int i = 0; i < 40000 && !verts.empty(); ++i) {
      const geodesy::LatLong v = verts[pick(rng)];
      double lat, lon;
      geod.Direct(v.lat * kDeg, v.lon * kDeg, unit(rng) * 360.0, unit(rng) * 20000.0, lat, lon);
      r.points.push_back({lat, lon});
    }
    r.groups.push_back({"within 20 km of a 110m vertex", b, r.points.size()});
    AddBox(r, "Wrangel Island", 70.7, 71.7, 178.5, 182.6, 3000, rng);
    AddBox(r, "Chukotka", 64.0, 69.9, 177.0, 183.0, 3000, rng);
    AddBox(r, "Taveuni", -17.1, -16.6, 179.94, 180.06, 3000, rng);
    {
      std::ofstream pts(r.dir + "/pts.pts");
      pts.precision(12);
      for (std::size_t i = 0; i < r.points.size(); ++i)
        pts << r.points[i].first << " " << r.points[i].second << " " << i + 1 << "\n";
    }
    std::ostringstream s;
    s << "ImportPset pts pts hd\n";
    for (const char* level : kLevels)
      for (const char* res : kRes) {
        const std::string obj = std::string("l") + level + res;
        s << "ImportRset " << obj << " land" << level << ".rgn " << res << "\n";
        s << "Area " << obj << " c m\n";
        s << "ExportObject " << obj << " " << obj << ".rgn nsd9 ewd9\n";
        if (std::string(res) == "h") {
          s << "DerivePsetInside in" << level << " pts " << obj << " hd\n";
          s << "ExportObject in" << level << " in" << level << ".pts\n";
          s << "DerivePsetOutside out" << level << " " << obj << " pts hd\n";
          s << "ExportObject out" << level << " out" << level << ".pts\n";
        }
      }
    std::ofstream(r.dir + "/t.omb") << s.str();
    const std::string cmd = "cd " + r.dir + " && " + BinDir() + "ombrel --batch t.omb 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    char buf[1024];
    std::string last_object;
    while (p && fgets(buf, sizeof buf, p)) {
      const std::string line = buf;
      r.output += line;
      if (line.rfind("Area l", 0) == 0) last_object = line.substr(5, line.find(' ', 5) - 5);
      double a = 0.0;
      if (std::sscanf(buf, "Area: %lf[m**2]", &a) == 1 && !last_object.empty()) {
        r.area[last_object] = a;
        last_object.clear();
      }
    }
    if (p) pclose(p);
    return r;
  }();
  return run;
}

// Ids of the points in an exported point file (the attribute is the third field).
std::vector<std::uint32_t> Ids(const std::string& path) {
  std::vector<std::uint32_t> ids;
  std::ifstream in(path);
  std::string lat, lon;
  std::uint32_t id;
  while (in >> lat >> lon >> id) ids.push_back(id);
  return ids;
}

TEST(CommandsOracle, DerivePsetInsideAndOutsideAgreeWithS2) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "S2 cannot be used from an AddressSanitizer build";
#endif
  if (ops::testing::Sanitized()) GTEST_SKIP() << "sanitized run";
  FLAGS_s2debug = false;
  const BatchRun& r = TheRun();
  ASSERT_FALSE(r.dir.empty());
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  for (const char* level : kLevels) {
    SCOPED_TRACE(level);
    const std::vector<std::uint32_t> in = Ids(r.dir + "/in" + level + ".pts");
    const std::vector<std::uint32_t> out = Ids(r.dir + "/out" + level + ".pts");
    std::vector<int> side(r.points.size() + 1, -1), seen(r.points.size() + 1, 0);
    for (std::uint32_t id : in)
      if (id >= 1 && id <= r.points.size()) side[id] = 1, ++seen[id];
    for (std::uint32_t id : out)
      if (id >= 1 && id <= r.points.size()) side[id] = 0, ++seen[id];
    int twice = 0, missing = 0;
    for (std::size_t i = 1; i <= r.points.size(); ++i) {
      twice += seen[i] > 1;
      missing += seen[i] == 0;
    }
    EXPECT_EQ(twice, 0) << "points in both derived sets";
    EXPECT_EQ(missing, 0) << "points in neither derived set\n" << r.output.substr(0, 4000);

    const auto loops = Loops(ReadRegion(r.dir + "/land" + level + ".rgn"));
    std::vector<bool> valid;
    for (const auto& l : loops) {
      S2Loop loop(l, S2Debug::DISABLE);
      S2Error error;
      valid.push_back(!loop.FindValidationError(&error));
    }
    MutableS2ShapeIndex index;
    index.Add(std::make_unique<S2LaxPolygonShape>(loops));
    index.ForceBuild();
    auto contains = MakeS2ContainsPointQuery(&index);
    S2ClosestEdgeQuery closest(&index);
    // Distances to the boundary, not to the polygon (0 anywhere inside it).
    closest.mutable_options()->set_include_interiors(false);
    const S1ChordAngle one_metre(S1Angle::Radians(1.0 / 6371008.8));
    for (const Group& grp : r.groups) {
      int wrong = 0, near_invalid = 0, near = 0;
      for (std::size_t i = grp.begin; i < grp.end; ++i) {
        if (side[i + 1] < 0) continue;
        const geodesy::LatLong ll{r.points[i].first / kDeg, r.points[i].second / kDeg};
        const geodesy::DirectionCosines p = geodesy::GeodeticToCosines(ll, e);
        const S2Point q(p.x, p.y, p.z);
        if ((side[i + 1] == 1) == contains.Contains(q)) continue;
        S2ClosestEdgeQuery::PointTarget target(q);
        const auto nearest = closest.FindClosestEdge(&target);
        if (nearest.distance() < one_metre) {
          ++near;
          continue;
        }
        const int ring = index.shape(nearest.shape_id())->chain_position(nearest.edge_id()).chain_id;
        if (!valid[ring]) {
          ++near_invalid;
          continue;
        }
        if (++wrong <= 5)
          ADD_FAILURE() << grp.name << ": " << r.points[i].first << " " << r.points[i].second
                        << (side[i + 1] ? " inside" : " outside") << ", S2 says the other, "
                        << nearest.distance().ToAngle().radians() * 6371008.8 << " m from the boundary";
      }
      std::printf("land %s, %s: %zu points, %d disagree farther than 1 m from the boundary, "
                  "%d within 1 m, %d next to a ring S2 finds invalid\n",
                  level, grp.name.c_str(), grp.end - grp.begin, wrong, near, near_invalid);
      EXPECT_EQ(wrong, 0) << grp.name;
    }
  }
}

TEST(CommandsOracle, AreaCellMethodAgreesWithPolygonArea) {
  const BatchRun& r = TheRun();
  ASSERT_FALSE(r.dir.empty());
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const GeographicLib::Geodesic geod(e.a, (e.a - e.b) / e.a);
  for (const char* level : kLevels)
    for (const char* res : kRes) {
      const std::string obj = std::string("l") + level + res;
      SCOPED_TRACE(obj);
      ASSERT_EQ(r.area.count(obj), 1u) << r.output.substr(0, 4000);
      const std::vector<cells::PointNode> nodes = ReadRegion(r.dir + "/" + obj + ".rgn");
      GeographicLib::PolygonArea poly(geod);
      double peer = 0.0;
      int count = 0;
      for (const cells::PointNode& n : nodes) {
        if (cells::IsMark(n)) {
          if (count >= 3) {
            double perimeter, a;
            poly.Compute(false, true, perimeter, a);
            peer += a;
          }
          poly.Clear();
          count = 0;
          continue;
        }
        const geodesy::LatLong ll = geodesy::CosinesToGeodetic(n.p, e);
        poly.AddPoint(ll.lat * kDeg, ll.lon * kDeg);
        ++count;
      }
      const double ours = r.area.at(obj);
      std::printf("Area %s %s: %.3f km2, PolygonArea %.3f km2, %.2g apart\n", level, res, ours / 1e6,
                  peer / 1e6, ours / peer - 1);
      // The cell method follows each leg as the builder does, as the
      // ellipsoid's section by a plane through its centre; PolygonArea takes
      // geodesics. The two part by up to tens of metres on the longest 110m
      // legs (Area r, geodesics, agrees with PolygonArea there to 1e-11).
      // Eight-bit records move vertices by up to a few hundred metres, some
      // across the edge of the cell that holds them.
      const double tolerance = std::string(level) == "110m" ? 3e-8 : (std::string(res) == "l" ? 5e-8 : 1e-8);
      EXPECT_NEAR(ours / peer, 1.0, tolerance);
    }
}

}  // namespace

namespace {

// DeriveRsetHullOfPoints through the program on caps of points: the hull's
// `Area` (geodesic legs) is GeographicLib's PolygonArea of the ring it
// exports (to 1e-6; 0.1% asked), and with `boundary.indicator` 1 `DerivePsetInside` finds
// every point of the cap inside its hull.
TEST(CommandsOracle, HullOfPointsHoldsItsPointsAndHasPolygonArea) {
  char tmpl[] = "/tmp/ombrel_hulloracle_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  struct Cap {
    double lat, lon, radius_deg;
  };
  const Cap caps[] = {{45, 10, 0.01}, {-33, 151, 0.5}, {10, -70, 5}, {60, 100, 30},
                      {0, 0, 60},     {90, 0, 20},     {-20, 180, 10}, {70, -179.9, 1}};
  const int n = 2000;
  std::mt19937_64 rng(25);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const GeographicLib::Geodesic& sphere_free = GeographicLib::Geodesic::WGS84();
  std::ostringstream s;
  s << "Set boundary.indicator 1\n";
  const int count = static_cast<int>(sizeof caps / sizeof caps[0]);
  for (int i = 0; i < count; ++i) {
    std::ofstream pts(dir + "/c" + std::to_string(i) + ".pts");
    pts.precision(12);
    for (int k = 0; k < n; ++k) {
      // Uniform in area within the radius, as geodesics from the centre.
      const double r = caps[i].radius_deg * std::sqrt(unit(rng)) * 111195.0;
      double lat, lon;
      sphere_free.Direct(caps[i].lat, caps[i].lon, 360.0 * unit(rng), r, lat, lon);
      pts << lat << " " << lon << " " << k + 1 << "\n";
    }
    const std::string c = "c" + std::to_string(i), h = "h" + std::to_string(i), in = "in" + std::to_string(i);
    s << "ImportPset " << c << " " << c << " hd\n"
      << "DeriveRsetHullOfPoints " << h << " " << c << "\n"
      << "Area " << h << " r m\n"
      << "ExportObject " << h << " " << h << ".rgn nsd9 ewd9\n"
      << "DerivePsetInside " << in << " " << c << " " << h << " hd\n"
      << "ExportObject " << in << " " << in << ".pts\n";
  }
  std::ofstream(dir + "/t.omb") << s.str();
  const std::string cmd = "cd " + dir + " && " + BinDir() + "ombrel --batch t.omb 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output, last;
  std::map<std::string, double> area;
  char buf[1024];
  while (fgets(buf, sizeof buf, p)) {
    const std::string line = buf;
    output += line;
    if (line.rfind("Area h", 0) == 0) last = line.substr(5, line.find(' ', 5) - 5);
    double a = 0.0;
    if (std::sscanf(buf, "Area: %lf[m**2]", &a) == 1 && !last.empty()) area[last] = a, last.clear();
  }
  pclose(p);
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const GeographicLib::Geodesic geod(e.a, (e.a - e.b) / e.a);
  for (int i = 0; i < count; ++i) {
    const std::string h = "h" + std::to_string(i);
    SCOPED_TRACE(h);
    ASSERT_EQ(area.count(h), 1u) << output.substr(0, 4000);
    const std::vector<cells::PointNode> nodes = ReadRegion(dir + "/" + h + ".rgn");
    GeographicLib::PolygonArea poly(geod);
    int vertices = 0;
    for (const cells::PointNode& node : nodes) {
      if (cells::IsMark(node)) continue;
      const geodesy::LatLong ll = geodesy::CosinesToGeodetic(node.p, e);
      poly.AddPoint(ll.lat * kDeg, ll.lon * kDeg);
      ++vertices;
    }
    double perimeter = 0.0, peer = 0.0;
    poly.Compute(false, true, perimeter, peer);
    std::printf("hull %d: %d vertices, Area %.6g km2, PolygonArea %.6g km2, %.2g apart\n", i, vertices,
                area[h] / 1e6, peer / 1e6, area[h] / peer - 1);
    EXPECT_GE(vertices, 3);
    // Asked to 0.1%; the two agree to 1e-7 and better (geodesic legs both).
    EXPECT_NEAR(area[h] / peer, 1.0, 1e-6);
    EXPECT_EQ(Ids(dir + "/in" + std::to_string(i) + ".pts").size(), static_cast<std::size_t>(n));
  }
  if (!::testing::Test::HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
