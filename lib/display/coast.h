// The coast files: world coastlines at up to four levels of detail.
//
// coast.sgm (little-endian) begins with 4 level records of 16 bytes: scale
// limit (double; NOVALUE marks an unused level), byte offset of the level's
// segment table in coast.sgm (u32), number of segments (u16), vertex form
// (u16: 2, 4 or 6). A segment record is 24 bytes: centre x, y, z (f32, a unit
// vector), angular radius (f32, radians: no vertex is further from the
// centre, and no plane coordinate is larger), byte offset of the first vertex
// in coast.vtx (u32), number of vertices (u16), 2 bytes unused.
//
// coast.vtx holds the vertices: pairs (u, v) of signed integers in the tangent
// plane of the segment centre (2, 4 or 8 bytes a vertex), form 2 two 8-bit integers scaled by
// radius/126, form 4 two 16-bit integers scaled by radius/32256, form 6 two
// 32-bit integers scaled by radius/2113929216. A vertex is the gnomonic
// inverse of (u * scale, v * scale) in the segment centre's tangent frame.
//
// Levels are ordered by rising scale limit; a map of scale S uses the first
// level whose limit is above S. Each segment is a piece of coastline to be
// drawn as one polyline; consecutive pieces of one line share their end
// vertex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/geodesy/direction_cosines.h"

namespace display {

using geodesy::DirectionCosines;

inline constexpr int kCoastLevels = 4;
inline constexpr size_t kCoastLevelBytes = 16;
inline constexpr size_t kCoastSegmentBytes = 24;

struct CoastLevel {
  double scale_limit = 0.0;
  uint32_t offset = 0;
  uint16_t count = 0;
  uint16_t form = 0;
};

struct CoastSegment {
  DirectionCosines centre;
  double radius = 0.0;
  uint32_t vertex_offset = 0;
  uint16_t count = 0;
};

// Both files held in memory, checked on loading.
struct CoastData {
  std::vector<uint8_t> sgm;
  std::vector<uint8_t> vtx;
  CoastLevel levels[kCoastLevels];
};

enum CoastStatus {
  kCoastOk = 0,
  kCoastMissing = 1,  // a file cannot be read
  kCoastDamaged = 2,  // a record points outside its file, or a field is impossible
};

// Loads and checks the files: every level's table and every segment's
// vertices must lie inside their files, forms must be 2, 4 or 6, centres
// unit vectors, radii in [0, 1.5] radians. On failure data is left empty.
int LoadCoastFiles(const std::string& sgm_path, const std::string& vtx_path, CoastData* data);
// The same checks on bytes already in memory (moved into data).
int CheckCoastData(std::vector<uint8_t> sgm, std::vector<uint8_t> vtx, CoastData* data);

// The level for a map scale: the first used level whose limit is above the
// scale, or -1 when none is.
int CoastLevelForScale(const CoastData& data, double scale);

// Segment i of a level (the caller keeps i below the level's count).
CoastSegment CoastSegmentAt(const CoastData& data, int level, size_t i);
// Appends the segment's vertices as unit vectors.
void DecodeCoastSegment(const CoastData& data, int level, const CoastSegment& seg,
                        std::vector<DirectionCosines>* out);

// One level to be written: its scale limit, vertex form, the largest angular
// radius of a segment, and the coastlines as runs of unit vectors.
struct CoastLevelSource {
  double scale_limit = 0.0;
  int form = 4;
  double max_radius = 0.1;
  std::vector<std::vector<DirectionCosines>> lines;
};

// Cuts the lines into segments and encodes both files. Levels beyond the
// sources are written unused. Returns kCoastOk, or kCoastDamaged when a
// level has more than 65535 segments, more than four levels are given, a form
// is not 2, 4 or 6, or coast.vtx would pass 4 GiB.
int EncodeCoastFiles(const std::vector<CoastLevelSource>& levels, std::vector<uint8_t>* sgm,
                     std::vector<uint8_t>* vtx);

}  // namespace display
