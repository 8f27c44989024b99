// Reads the Natural Earth land outlines (world-atlas TopoJSON) into rings of
// surface normals with the inside on the left, for the area oracle tests and
// the benchmark. The files' rings run clockwise (inside on the right), so
// every ring is reversed; the closing duplicate vertex is dropped.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "lib/geodesy/ellipsoid.h"

namespace geodesy_test {

struct LandRing {
  std::vector<double> lat, lon;  // degrees, inside on the left
  std::vector<geodesy::DirectionCosines> normals;
};

// The world-atlas files in the repository's tests/data (OMBREL_TEST_DATA,
// else the directory the program was built for).
inline std::string TestDataPath(const std::string& name) {
  const char* dir = std::getenv("OMBREL_TEST_DATA");
#ifdef OMBREL_TEST_DATA_DIR
  const char* built = OMBREL_TEST_DATA_DIR;
#else
  const char* built = "tests/data";
#endif
  return std::string(dir && *dir ? dir : built) + "/world-atlas/" + name;
}

// Empty when the file cannot be read.
inline std::vector<LandRing> LoadLandRings(const std::string& path) {
  std::ifstream in(path);
  if (!in) return {};
  const nlohmann::json topo = nlohmann::json::parse(in);
  const auto& scale = topo["transform"]["scale"];
  const auto& translate = topo["transform"]["translate"];
  std::vector<std::vector<std::pair<double, double>>> arcs;
  for (const auto& arc : topo["arcs"]) {
    std::vector<std::pair<double, double>> points;
    long x = 0, y = 0;
    for (const auto& d : arc) {
      x += d[0].get<long>();
      y += d[1].get<long>();
      points.emplace_back(x * scale[0].get<double>() + translate[0].get<double>(),
                          y * scale[1].get<double>() + translate[1].get<double>());
    }
    arcs.push_back(std::move(points));
  }
  std::vector<LandRing> rings;
  auto add_ring = [&](const nlohmann::json& indexes) {
    std::vector<std::pair<double, double>> pts;
    for (const auto& v : indexes) {
      const long i = v.get<long>();
      const auto& arc = arcs[i >= 0 ? i : ~i];
      std::vector<std::pair<double, double>> part(arc.begin(), arc.end());
      if (i < 0) std::reverse(part.begin(), part.end());
      pts.insert(pts.end(), pts.empty() ? part.begin() : part.begin() + 1, part.end());
    }
    if (pts.size() > 1 && pts.front() == pts.back()) pts.pop_back();
    std::reverse(pts.begin(), pts.end());
    LandRing ring;
    for (const auto& [lon, lat] : pts) {
      ring.lat.push_back(lat);
      ring.lon.push_back(lon);
      ring.normals.push_back(
          geodesy::GeocentricToCosines({lat * 0.017453292519943295, lon * 0.017453292519943295}));
    }
    rings.push_back(std::move(ring));
  };
  for (const auto& g : topo["objects"]["land"]["geometries"]) {
    if (g["type"] == "Polygon") {
      for (const auto& r : g["arcs"]) add_ring(r);
    } else if (g["type"] == "MultiPolygon") {
      for (const auto& poly : g["arcs"]) {
        for (const auto& r : poly) add_ring(r);
      }
    }
  }
  return rings;
}

// All rings as one marked list (each ring ended by a mark, two at the end).
inline std::vector<geodesy::DirectionCosines> AsMarkedList(const std::vector<LandRing>& rings) {
  std::vector<geodesy::DirectionCosines> list;
  for (const LandRing& r : rings) {
    list.insert(list.end(), r.normals.begin(), r.normals.end());
    list.push_back({geodesy::NOVALUE, 0.0, 0.0});
  }
  list.push_back({geodesy::NOVALUE, 0.0, 0.0});
  return list;
}

}  // namespace geodesy_test
