// Shared pieces of the measuring tests: loading the shipped indexes and
// building objects in memory from coordinate text or from rings.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/cells/cell_index.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/ellipsoid.h"

namespace measure_test {

inline std::string BinPath(const std::string& name) {
  const char* dir = std::getenv("OMBREL_BIN");
  return std::string(dir && *dir ? dir : ".") + "/" + name;
}
inline std::string SourcePath(const std::string& name) {
  const char* dir = std::getenv("OMBREL_SOURCE");
  return std::string(dir && *dir ? dir : "/work/main") + "/" + name;
}
inline bool Sanitized() { return std::getenv("OMBREL_SANITIZED") != nullptr; }

// Loads a shipped index; false when it is missing.
inline bool LoadIndex(const std::string& name, cells::CellIndex& idx) {
  std::FILE* f = std::fopen(BinPath(name).c_str(), "rb");
  if (!f) return false;
  const int status = cells::LoadVix(f, idx, 1);
  std::fclose(f);
  return status == 0;
}

// Region or line nodes from a coordinate text file (latitude, longitude).
inline std::vector<cells::PointNode> ReadNodes(const std::string& path, int kind) {
  std::vector<cells::PointNode> nodes;
  std::FILE* in = std::fopen(path.c_str(), "r");
  if (!in) return nodes;
  cells::CoordReadOptions options;
  options.kind = kind;
  options.res = 10;  // doubles: no quantisation between the rings and the object
  cells::ReadCoordText(in, options, nodes);
  std::fclose(in);
  return nodes;
}

// Nodes of rings given as latitude/longitude in degrees (geodetic).
inline std::vector<cells::PointNode> NodesOf(const std::vector<std::vector<std::pair<double, double>>>& rings,
                                             const geodesy::Ellipsoid& e) {
  std::vector<cells::PointNode> nodes;
  for (const auto& ring : rings) {
    for (const auto& [lat, lon] : ring) {
      nodes.push_back({geodesy::GeodeticToCosines({lat * 0.017453292519943295, lon * 0.017453292519943295}, e), 0});
    }
    nodes.push_back(cells::Mark(1));
  }
  nodes.push_back(cells::Mark(1));
  return nodes;
}

// The same nodes with every ring reversed: the complement.
inline std::vector<cells::PointNode> Reversed(std::vector<cells::PointNode> nodes) {
  auto begin = nodes.begin();
  for (auto it = nodes.begin(); it != nodes.end(); ++it) {
    if (cells::IsMark(*it)) {
      std::reverse(begin, it);
      begin = it + 1;
    }
  }
  return nodes;
}

// An object built on the heap.
struct HeapObject {
  std::vector<std::uint8_t> memory;
  cells::Object obj;
  int status = -100;
};
inline HeapObject Build(cells::CellIndex& idx, const std::vector<cells::PointNode>& nodes, int kind,
                        int res = 10) {
  HeapObject h;
  cells::SectionTarget target{nullptr, &h.memory};
  cells::BuildParams params;
  params.id = 7;
  params.res = res;
  h.status = kind == cells::kRset ? cells::BuildRset(idx, target, params, nodes, h.obj)
                                  : cells::BuildLset(idx, target, params, nodes, h.obj);
  return h;
}

}  // namespace measure_test
