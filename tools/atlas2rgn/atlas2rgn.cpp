// atlas2rgn: converts the Natural Earth land outlines of the world-atlas
// package (TopoJSON) into region text files (".rgn") for ImportRset.
//
//   atlas2rgn land-110m.json land110m.rgn [label [object]]
//
// object: the TopoJSON object to convert, "land" by default. With
// "countries" (the countries-NNm.json files) each country's rings carry its
// ISO numeric code (the geometry's "id") as ring identifier, 0 where a
// geometry has none; with "land" the rings are numbered from 1.
//
//   atlas2rgn --countries countries-110m.json countries110m.rgn countries110m.names [label]
//
// The collections mode: every ring of a country carries the country's number
// (its 1-based place in the file's list of countries, so that geometries
// without an id stay apart), and the names file gets one line
// "NUMBER<TAB>NAME" per country (the UTF-8 name of its properties).
//
// How it works: the arcs are decoded (delta-encoded integer pairs scaled by
// the transform), each ring is assembled from its arcs (a negative index ~i is
// arc i reversed; the first point of every following arc repeats the last of
// the one before and is dropped), consecutive repeated positions are dropped
// (the same point written as longitude -180 and +180 counts as one), the
// closing repeat of the first vertex is dropped (the importer closes rings),
// and the ring is written with its inside on the left.
//
// Orientation: world-atlas rings run clockwise (inside on the right), so each
// ring is reversed. The order of a polygon's rings is not trusted (the 50m
// countries list Antarctica's tiny ring around the pole before its coast):
// a ring's role is decided on the sphere, by containment among the rings of
// its polygon. A ring that lies inside the smaller side of an odd number of
// the polygon's other rings is a hole and runs with its smaller side on the
// right; every other ring is an outer ring and runs with its smaller side on
// the left. A ring whose reversed orientation disagrees with its role (the
// two Maldives specks of the 10m level that run the wrong way round, and four
// nearly flat ones there) is turned round. Rings left with fewer than three distinct vertices (the
// islets that the quantisation collapsed) bound nothing and are dropped.
// Self-crossing rings are written as they are. Antarctica is one ring around
// the south pole and needs no special care: on the sphere the pole is simply
// inside it; the 50m level's small ring at -89.999 degrees is a hole, so there
// the pole itself is not land.
//
// Sides of a ring: the triangle fan of a ring from an apex x sums the signed
// areas of the triangles (x, a, b) over its legs a -> b. It equals the area L
// on the ring's left when -x lies on the right, and L - 4 pi when -x lies on
// the left. From the normalised mean of the vertices this gives L (the fan
// modulo 4 pi, in 0 .. 4 pi); from the apex -p it tells on which side p lies.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/safe_output.h"

#include <cstring>

namespace {

struct Vec {
  double x, y, z;
};
struct LonLat {
  double lon, lat;
};

Vec ToVec(const LonLat& p) {
  const double d = M_PI / 180.0;
  double cl = std::cos(p.lat * d);
  return {cl * std::cos(p.lon * d), cl * std::sin(p.lon * d), std::sin(p.lat * d)};
}
Vec Cross(const Vec& a, const Vec& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

bool SamePosition(const LonLat& a, const LonLat& b) {
  if (a.lat != b.lat) return false;
  if (a.lon == b.lon) return true;
  return std::fabs(a.lat) == 90.0 || std::fabs(std::fabs(a.lon - b.lon) - 360.0) < 1e-9;
}

constexpr double kFourPi = 4.0 * M_PI;

// The signed area of the triangle fan of a ring from apex x (radians
// squared on the unit sphere): each triangle's area lies in -2 pi .. 2 pi and
// is well defined unless a leg passes through -x. Unlike the turning-angle
// sum this stays meaningful for rings that cross themselves or turn back on a
// spike.
double FanArea(const std::vector<Vec>& v, const Vec& x) {
  const std::size_t n = v.size();
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Vec& a = v[i];
    const Vec& b = v[(i + 1) % n];
    const double det = Dot(x, Cross(a, b));
    sum += 2.0 * std::atan2(det, 1.0 + Dot(x, a) + Dot(a, b) + Dot(b, x));
  }
  return sum;
}

// A ring on the unit sphere with the area on its left, 0 .. 4 pi (for a
// ring that crosses itself: the winding-weighted area, modulo 4 pi).
struct SphereRing {
  std::vector<LonLat> pts;
  std::vector<Vec> v;
  double left = 0.0;
  bool SmallOnLeft() const { return left < 2.0 * M_PI; }
  double SmallArea() const { return SmallOnLeft() ? left : kFourPi - left; }
};

void Measure(SphereRing& r) {
  r.v.resize(r.pts.size());
  Vec m{0, 0, 0};
  for (std::size_t i = 0; i < r.pts.size(); ++i) {
    r.v[i] = ToVec(r.pts[i]);
    m = {m.x + r.v[i].x, m.y + r.v[i].y, m.z + r.v[i].z};
  }
  const double len = std::sqrt(Dot(m, m));
  // Vertices that average out (a ring along a great circle) take the first
  // vertex as apex: its own two triangles are empty, the others are not.
  const Vec o = len > 1e-9 ? Vec{m.x / len, m.y / len, m.z / len} : r.v[0];
  const double fan = FanArea(r.v, o);
  r.left = std::fmod(fan, kFourPi);
  if (r.left < 0.0) r.left += kFourPi;
}

void Reverse(SphereRing& r) {
  std::reverse(r.pts.begin(), r.pts.end());
  std::reverse(r.v.begin(), r.v.end());
  r.left = kFourPi - r.left;
}

// True when p lies on the ring's smaller side: the fan from -p is L - 4 pi
// when p is on the left and L when it is on the right.
bool InSmallSide(const SphereRing& r, const Vec& p) {
  const bool on_left = FanArea(r.v, {-p.x, -p.y, -p.z}) < r.left - 2.0 * M_PI;
  return on_left == r.SmallOnLeft();
}

// The same position as one key (a pole at any longitude, -180 as +180).
std::pair<double, double> Key(const LonLat& p) {
  if (std::fabs(p.lat) == 90.0) return {p.lat, 0.0};
  return {p.lat, p.lon == -180.0 ? 180.0 : p.lon};
}

// Whether ring `in` lies on the smaller side of ring `out`, judged at the
// first vertex of `in` that is not a vertex of `out` (rings of one polygon
// may share vertices where a hole touches the coast); false when every
// vertex is shared.
bool Inside(const SphereRing& in, const SphereRing& out) {
  std::set<std::pair<double, double>> shared;
  for (const LonLat& p : out.pts) shared.insert(Key(p));
  for (std::size_t i = 0; i < in.pts.size(); ++i)
    if (!shared.count(Key(in.pts[i]))) return InSmallSide(out, in.v[i]);
  return false;
}

// Holes of a polygon: rings inside the smaller side of an odd number of its
// other rings. Only a ring with the larger smaller side can hold another.
std::vector<bool> Holes(const std::vector<SphereRing>& rings) {
  std::vector<bool> hole(rings.size(), false);
  if (rings.size() < 2) return hole;
  for (std::size_t i = 0; i < rings.size(); ++i) {
    int depth = 0;
    for (std::size_t j = 0; j < rings.size(); ++j)
      if (j != i && rings[j].SmallArea() > rings[i].SmallArea() && Inside(rings[i], rings[j])) ++depth;
    hole[i] = depth % 2 == 1;
  }
  return hole;
}

}  // namespace

int main(int argc, char** argv) {
  // The collections mode in the ordinary form: json out.rgn label countries.
  std::vector<char*> args(argv, argv + argc);
  const char* names_path = nullptr;
  static char countries_word[] = "countries", no_label[] = "";
  if (argc > 1 && std::string(argv[1]) == "--countries") {
    if (argc < 5) {
      std::fprintf(stderr, "usage: atlas2rgn --countries countries-NNm.json out.rgn out.names [label]\n");
      return 2;
    }
    names_path = argv[4];
    args = {argv[0], argv[2], argv[3], argc > 5 ? argv[5] : no_label, countries_word};
    argc = 5;
    argv = args.data();
  }
  const bool numbered = names_path != nullptr;
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: atlas2rgn land-NNm.json out.rgn [label [object]]\n"
                 "       atlas2rgn --countries countries-NNm.json out.rgn out.names [label]\n");
    return 2;
  }
  // An output that is the input (or the other output) would replace what is
  // still to be read: refused before anything is read or written.
  {
    const bool same_outputs = names_path && (std::strcmp(names_path, argv[2]) == 0 || platform::SameFile(names_path, argv[2]));
    const int rgn = platform::SafeCheckTarget(argv[2], {argv[1]});
    const int names = names_path ? platform::SafeCheckTarget(names_path, {argv[1]}) : 0;
    if (same_outputs || rgn != 0 || names != 0 || std::strcmp(argv[1], argv[2]) == 0 ||
        (names_path && std::strcmp(argv[1], names_path) == 0)) {
      const char* bad = rgn != 0 || !names_path ? argv[2] : names_path;
      std::fprintf(stderr, "atlas2rgn: cannot write %s: %s\n", bad,
                   rgn == 5 || names == 5 ? "not a regular file" : "it is an input or the other output");
      return 1;
    }
  }
  nlohmann::json topo;
  try {
    std::ifstream in(argv[1]);
    in >> topo;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "atlas2rgn: cannot read %s: %s\n", argv[1], e.what());
    return 1;
  }
  try {
    const double sx = topo["transform"]["scale"][0], sy = topo["transform"]["scale"][1];
    const double tx = topo["transform"]["translate"][0], ty = topo["transform"]["translate"][1];
    std::vector<std::vector<LonLat>> arcs;
    for (const auto& arc : topo["arcs"]) {
      std::vector<LonLat> pts;
      long long x = 0, y = 0;
      for (const auto& q : arc) {
        x += q.at(0).get<long long>();
        y += q.at(1).get<long long>();
        pts.push_back({tx + x * sx, ty + y * sy});
      }
      arcs.push_back(std::move(pts));
    }
    const std::string object = argc > 4 ? argv[4] : "land";
    const bool by_code = object != "land";
    if (!topo["objects"].contains(object)) {
      std::fprintf(stderr, "atlas2rgn: %s has no object %s\n", argv[1], object.c_str());
      return 1;
    }
    std::vector<std::vector<std::vector<long long>>> polygons;  // rings of arc indexes
    std::vector<long> codes;                                     // per polygon: the geometry's id
    std::vector<std::string> names;                              // --countries: per geometry
    for (const auto& g : topo["objects"][object]["geometries"]) {
      long code = 0;
      if (numbered) {
        std::string name = g.contains("properties") && g["properties"].contains("name")
                               ? g["properties"]["name"].get<std::string>()
                               : std::to_string(names.size() + 1);
        for (char& c : name)
          if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        names.push_back(name);
      }
      if (g.contains("id")) {
        const std::string id = g["id"].is_string() ? g["id"].get<std::string>()
                                                    : (g["id"].is_number_integer() ? std::to_string(g["id"].get<long long>()) : "");
        char* end = nullptr;
        const long v = std::strtol(id.c_str(), &end, 10);
        if (!id.empty() && end && *end == '\0' && v > 0) code = v;
      }
      if (numbered) code = static_cast<long>(names.size());
      // Geometries of other types (or none: TopoJSON's null geometry) bound nothing.
      const auto type = g.is_object() ? g.find("type") : g.end();
      const std::string kind = type != g.end() && type->is_string() ? type->get<std::string>() : "";
      if (kind == "Polygon") {
        polygons.push_back(g.at("arcs").get<std::vector<std::vector<long long>>>());
        codes.push_back(code);
      }
      if (kind == "MultiPolygon")
        for (const auto& p : g.at("arcs")) {
          polygons.push_back(p.get<std::vector<std::vector<long long>>>());
          codes.push_back(code);
        }
    }
    // Written beside the target and renamed over it when complete.
    platform::SafeOutput safe;
    std::FILE* out = platform::SafeOpen(safe, argv[2]) == platform::kSafeOk ? platform::SafeStream(safe) : nullptr;
    if (!out) {
      std::fprintf(stderr, "atlas2rgn: cannot write %s\n", argv[2]);
      return 1;
    }
    std::fprintf(out, "; Natural Earth %s%s%s (public domain), from the world-atlas package.\n",
                 object.c_str(), argc > 3 ? " " : "", argc > 3 ? argv[3] : "");
    if (numbered) std::fprintf(out, "; Each ring's identifier is its country's number in the file.\n");
    else if (by_code) std::fprintf(out, "; Each ring's identifier is its country's ISO numeric code.\n");
    std::fprintf(out, "; Latitude and longitude in degrees; one ring per mark, inside on the left.\n");
    const bool verbose = std::getenv("ATLAS2RGN_VERBOSE") != nullptr;
    int written = 0, dropped = 0, turned = 0, vertices = 0, reordered = 0;
    for (std::size_t pi = 0; pi < polygons.size(); ++pi) {
      const auto& poly = polygons[pi];
      std::vector<SphereRing> rings;
      std::vector<std::size_t> place;  // each kept ring's place in the polygon
      for (std::size_t r = 0; r < poly.size(); ++r) {
        std::vector<LonLat> ring;
        for (long long a : poly[r]) {
          const bool rev = a < 0;
          const std::size_t i = static_cast<std::size_t>(rev ? ~a : a);
          if (i >= arcs.size()) throw std::runtime_error("arc index out of range");
          std::vector<LonLat> pts = arcs[i];
          if (rev) std::reverse(pts.begin(), pts.end());
          for (std::size_t k = ring.empty() ? 0 : 1; k < pts.size(); ++k) ring.push_back(pts[k]);
        }
        SphereRing clean;
        for (const LonLat& p : ring)
          if (clean.pts.empty() || !SamePosition(clean.pts.back(), p)) clean.pts.push_back(p);
        while (clean.pts.size() > 1 && SamePosition(clean.pts.front(), clean.pts.back())) clean.pts.pop_back();
        if (clean.pts.size() < 3) {
          ++dropped;
          continue;
        }
        std::reverse(clean.pts.begin(), clean.pts.end());
        Measure(clean);
        rings.push_back(std::move(clean));
        place.push_back(r);
      }
      const std::vector<bool> hole = Holes(rings);
      if (!rings.empty() && hole[0] && place[0] == 0) {
        ++reordered;
        if (verbose)
          std::fprintf(stderr, "polygon %zu: its first ring (%zu vertices) is a hole\n", pi + 1, rings[0].pts.size());
      }
      for (std::size_t k = 0; k < rings.size(); ++k) {
        SphereRing& ring = rings[k];
        if (ring.SmallOnLeft() == hole[k]) {
          const double before = ring.SmallOnLeft() ? ring.left : ring.left - kFourPi;
          Reverse(ring);
          ++turned;
          if (verbose)
            std::fprintf(stderr, "turned ring %d (%s): %zu vertices, area %.6g, first %.5f %.5f\n", written + 1,
                         hole[k] ? "hole" : "outer", ring.pts.size(), before, ring.pts[0].lat, ring.pts[0].lon);
        }
        for (const LonLat& p : ring.pts) std::fprintf(out, "%.7f %.7f\n", p.lat, p.lon);
        ++written;
        if (by_code) std::fprintf(out, "* %ld\n", codes[pi]);
        else std::fprintf(out, "* %d\n", written);
        vertices += static_cast<int>(ring.pts.size());
      }
    }
    if (platform::SafeCommit(safe) != platform::kSafeOk) {
      std::fprintf(stderr, "atlas2rgn: write error on %s\n", argv[2]);
      return 1;
    }
    if (numbered) {
      platform::SafeOutput nsafe;
      std::FILE* nout =
          platform::SafeOpen(nsafe, names_path) == platform::kSafeOk ? platform::SafeStream(nsafe) : nullptr;
      if (!nout) {
        std::fprintf(stderr, "atlas2rgn: cannot write %s\n", names_path);
        return 1;
      }
      std::size_t longest = 0;
      for (std::size_t i = 0; i < names.size(); ++i) {
        std::fprintf(nout, "%zu\t%s\n", i + 1, names[i].c_str());
        longest = std::max(longest, names[i].size());
      }
      if (platform::SafeCommit(nsafe) != platform::kSafeOk) {
        std::fprintf(stderr, "atlas2rgn: write error on %s\n", names_path);
        return 1;
      }
      std::printf("%s: %zu countries, names up to %zu bytes\n", names_path, names.size(), longest);
    }
    std::printf("%s: %d rings, %d vertices, %d dropped (fewer than 3 vertices), %d turned round\n",
                argv[2], written, vertices, dropped, turned);
    if (reordered)
      std::printf("%s: %d polygons list a hole first (their outer ring found by containment)\n", argv[2], reordered);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "atlas2rgn: bad TopoJSON in %s: %s\n", argv[1], e.what());
    return 1;
  }
  return 0;
}
