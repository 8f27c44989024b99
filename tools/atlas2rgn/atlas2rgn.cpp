// atlas2rgn: converts the Natural Earth land outlines of the world-atlas
// package (TopoJSON) into region text files (".rgn") for ImportRset.
//
//   atlas2rgn land-110m.json land110m.rgn [label]
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
// ring is reversed. The signed area of each reversed ring is then measured on
// the sphere: an outer ring must run counterclockwise (positive) and a hole
// clockwise; a ring that does not (the two Maldives specks of the 10m level
// that run the wrong way round) is turned round. Rings left with fewer than three distinct vertices
// (the islets that the quantisation collapsed) bound nothing and are dropped.
// Self-crossing rings are written as they are. Antarctica is one ring around
// the south pole and needs no special care: on the sphere the pole is simply
// inside it; the 50m level's small ring at -89.999 degrees is a hole, so there
// the pole itself is not land.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/safe_output.h"

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

// Signed area of a ring on the unit sphere, summed over the triangles from
// the normalised mean of its vertices: positive when the ring runs
// counterclockwise (seen from outside) around the area it encloses. Unlike
// the turning-angle sum this stays meaningful for rings that cross
// themselves or turn back on a spike.
double SignedArea(const std::vector<LonLat>& ring) {
  const std::size_t n = ring.size();
  std::vector<Vec> v(n);
  Vec m{0, 0, 0};
  for (std::size_t i = 0; i < n; ++i) {
    v[i] = ToVec(ring[i]);
    m = {m.x + v[i].x, m.y + v[i].y, m.z + v[i].z};
  }
  double len = std::sqrt(Dot(m, m));
  if (len < 1e-12) return 0.0;
  Vec o{m.x / len, m.y / len, m.z / len};
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Vec& a = v[i];
    const Vec& b = v[(i + 1) % n];
    double det = Dot(o, Cross(a, b));
    sum += 2.0 * std::atan2(det, 1.0 + Dot(o, a) + Dot(a, b) + Dot(b, o));
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: atlas2rgn land-NNm.json out.rgn [label]\n");
    return 2;
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
        x += q[0].get<long long>();
        y += q[1].get<long long>();
        pts.push_back({tx + x * sx, ty + y * sy});
      }
      arcs.push_back(std::move(pts));
    }
    std::vector<std::vector<std::vector<long long>>> polygons;  // rings of arc indexes
    for (const auto& g : topo["objects"]["land"]["geometries"]) {
      if (g["type"] == "Polygon") polygons.push_back(g["arcs"].get<std::vector<std::vector<long long>>>());
      if (g["type"] == "MultiPolygon")
        for (const auto& p : g["arcs"]) polygons.push_back(p.get<std::vector<std::vector<long long>>>());
    }
    // Written beside the target and renamed over it when complete.
    platform::SafeOutput safe;
    std::FILE* out = platform::SafeOpen(safe, argv[2]) == platform::kSafeOk ? platform::SafeStream(safe) : nullptr;
    if (!out) {
      std::fprintf(stderr, "atlas2rgn: cannot write %s\n", argv[2]);
      return 1;
    }
    std::fprintf(out, "; Natural Earth land%s%s (public domain), from the world-atlas package.\n",
                 argc > 3 ? " " : "", argc > 3 ? argv[3] : "");
    std::fprintf(out, "; Latitude and longitude in degrees; one ring per mark, inside on the left.\n");
    int written = 0, dropped = 0, turned = 0, vertices = 0;
    for (const auto& poly : polygons) {
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
        std::vector<LonLat> clean;
        for (const LonLat& p : ring)
          if (clean.empty() || !SamePosition(clean.back(), p)) clean.push_back(p);
        while (clean.size() > 1 && SamePosition(clean.front(), clean.back())) clean.pop_back();
        if (clean.size() < 3) {
          ++dropped;
          continue;
        }
        std::reverse(clean.begin(), clean.end());
        const bool hole = r > 0;
        const double area = SignedArea(clean);
        if ((area < 0.0) != hole) {
          std::reverse(clean.begin(), clean.end());
          ++turned;
          if (std::getenv("ATLAS2RGN_VERBOSE"))
            std::fprintf(stderr, "turned ring %d: %zu vertices, area %.6g, first %.5f %.5f\n",
                         written + 1, clean.size(), area, clean[0].lat, clean[0].lon);
        }
        for (const LonLat& p : clean) std::fprintf(out, "%.7f %.7f\n", p.lat, p.lon);
        std::fprintf(out, "* %d\n", ++written);
        vertices += static_cast<int>(clean.size());
      }
    }
    if (platform::SafeCommit(safe) != platform::kSafeOk) {
      std::fprintf(stderr, "atlas2rgn: write error on %s\n", argv[2]);
      return 1;
    }
    std::printf("%s: %d rings, %d vertices, %d dropped (fewer than 3 vertices), %d turned round\n",
                argv[2], written, vertices, dropped, turned);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "atlas2rgn: bad TopoJSON in %s: %s\n", argv[1], e.what());
    return 1;
  }
  return 0;
}
