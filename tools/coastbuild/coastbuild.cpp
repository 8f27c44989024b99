// coastbuild: the coast files from the Natural Earth land outlines.
//
//   coastbuild ATLAS_DIR OUT_DIR
//
// reads land-10m.json, land-50m.json and land-110m.json from ATLAS_DIR (the
// world-atlas TopoJSON files) and writes OUT_DIR/coast.sgm and coast.vtx with
// three levels: 10m below scale 2e7, 50m below 6e7, 110m at any scale.
//
// Every TopoJSON arc of the land object is a piece of coastline shared by at
// most two rings, so drawing each arc once draws every coast once. Edges that
// are not coast are dropped: edges running along the antimeridian (both ends
// at longitude +-180, where the data cuts Chukotka, Fiji and Wrangel Island)
// and edges of the tiny ring at -89.999 degrees around the south pole (50m).
// Arcs that collapse to fewer than two distinct vertices are dropped. Longitude
// and latitude are geodetic degrees on WGS84 and become unit vectors.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lib/display/coast.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/ellipsoid.h"
#include "platform/safe_output.h"

namespace {

struct LonLat {
  double lon, lat;
};

void CollectArcs(const nlohmann::json& arcs, std::set<long>* used) {
  for (const auto& a : arcs) {
    if (a.is_object() && a.contains("arcs")) {
      CollectArcs(a["arcs"], used);
    } else if (a.is_array()) {
      CollectArcs(a, used);
    } else if (a.is_number_integer()) {
      const long i = a.get<long>();
      used->insert(i < 0 ? ~i : i);
    }
  }
}

bool IsStitch(const LonLat& a, const LonLat& b) {
  return (std::fabs(a.lon) >= 179.9999 && std::fabs(b.lon) >= 179.9999) || (a.lat < -89.9 && b.lat < -89.9);
}

// The coastlines of one TopoJSON file, as runs of unit vectors.
bool ReadLevel(const std::string& path, const geodesy::Ellipsoid& wgs84,
               std::vector<std::vector<geodesy::DirectionCosines>>* lines, size_t* dropped) {
  std::ifstream in(path);
  if (!in) {
    fprintf(stderr, "coastbuild: cannot read %s\n", path.c_str());
    return false;
  }
  nlohmann::json topo;
  try {
    topo = nlohmann::json::parse(in);
  } catch (const std::exception& e) {
    fprintf(stderr, "coastbuild: %s: %s\n", path.c_str(), e.what());
    return false;
  }
  const auto& tr = topo["transform"];
  const double sx = tr["scale"][0], sy = tr["scale"][1], tx = tr["translate"][0], ty = tr["translate"][1];
  std::set<long> used;
  CollectArcs(topo["objects"]["land"]["geometries"], &used);
  const auto& arcs = topo["arcs"];
  for (long index : used) {
    if (index < 0 || (size_t)index >= arcs.size()) continue;
    std::vector<LonLat> pts;
    long qx = 0, qy = 0;
    for (const auto& d : arcs[index]) {
      qx += d[0].get<long>();
      qy += d[1].get<long>();
      const LonLat p{qx * sx + tx, qy * sy + ty};
      if (!pts.empty() && pts.back().lon == p.lon && pts.back().lat == p.lat) continue;
      pts.push_back(p);
    }
    std::vector<geodesy::DirectionCosines> run;
    auto flush = [&]() {
      if (run.size() >= 2) lines->push_back(run);
      else ++*dropped;
      run.clear();
    };
    for (size_t i = 0; i < pts.size(); ++i) {
      if (i > 0 && IsStitch(pts[i - 1], pts[i])) flush();
      const double deg = M_PI / 180.0;
      run.push_back(geodesy::GeodeticToCosines({pts[i].lat * deg, pts[i].lon * deg}, wgs84));
    }
    flush();
  }
  return true;
}

// Written beside the target and renamed over it when complete.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  platform::SafeOutput out;
  return platform::SafeOpen(out, path.c_str()) == platform::kSafeOk &&
         platform::SafeWrite(out, bytes.data(), bytes.size()) == platform::kSafeOk &&
         platform::SafeCommit(out) == platform::kSafeOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: coastbuild ATLAS_DIR OUT_DIR\n");
    return 2;
  }
  const std::string atlas = argv[1], out = argv[2];
  const geodesy::Ellipsoid wgs84 = geodesy::MakeEllipsoid();
  struct Spec {
    const char* file;
    double limit;
    int form;
    double radius;
  };
  // 10m in 16-bit form within 0.05 rad (about 10 m per unit), 50m 16-bit
  // within 0.1 rad, 110m 8-bit within 0.15 rad (about 8 km per unit, well
  // under a pixel at the scales that use it).
  const Spec specs[] = {{"land-10m.json", 2e7, 4, 0.05},
                        {"land-50m.json", 6e7, 4, 0.1},
                        {"land-110m.json", geodesy::HUGE_VALUE, 2, 0.15}};
  std::vector<display::CoastLevelSource> levels;
  for (const Spec& s : specs) {
    display::CoastLevelSource level;
    level.scale_limit = s.limit;
    level.form = s.form;
    level.max_radius = s.radius;
    size_t dropped = 0;
    if (!ReadLevel(atlas + "/" + s.file, wgs84, &level.lines, &dropped)) return 1;
    size_t vertices = 0;
    for (const auto& l : level.lines) vertices += l.size();
    printf("%s: %zu lines, %zu vertices, %zu degenerate pieces dropped\n", s.file, level.lines.size(),
           vertices, dropped);
    levels.push_back(std::move(level));
  }
  std::vector<uint8_t> sgm, vtx;
  if (display::EncodeCoastFiles(levels, &sgm, &vtx) != display::kCoastOk) {
    fprintf(stderr, "coastbuild: a level does not fit the coast file format\n");
    return 1;
  }
  display::CoastData check;
  if (display::CheckCoastData(sgm, vtx, &check) != display::kCoastOk) {
    fprintf(stderr, "coastbuild: the encoded files fail their own check\n");
    return 1;
  }
  for (int l = 0; l < 3; ++l) printf("level %d: %u segments, form %u\n", l, check.levels[l].count, check.levels[l].form);
  if (!WriteFile(out + "/coast.sgm", sgm) || !WriteFile(out + "/coast.vtx", vtx)) {
    fprintf(stderr, "coastbuild: cannot write into %s\n", out.c_str());
    return 1;
  }
  printf("coast.sgm %zu bytes, coast.vtx %zu bytes\n", sgm.size(), vtx.size());
  return 0;
}
