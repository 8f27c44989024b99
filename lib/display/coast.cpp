// Coast files: loading with checks, decoding segments, and encoding them.
//
// Loading reads both files whole and checks every record once, so that
// drawing can decode any segment without further bounds checks.
//
// Encoding walks each coastline and cuts it greedily: a segment grows while
// every vertex stays within max_radius of its first vertex and it has fewer
// than kMaxSegmentVertices vertices; the next segment starts again at the last
// vertex, so the pieces join. The segment centre is the normalised mean of
// its vertices rounded to 32-bit floats (the reader rebuilds the frame from
// those floats, so the writer must use the very same frame); the stored
// radius covers both the angular radius and the largest plane coordinate,
// rounded up, so that every scaled coordinate fits its integer form.
#include "lib/display/coast.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/geodesy/ellipsoid.h"
#include "lib/geodesy/tangent_frame.h"

namespace display {

namespace {

constexpr size_t kMaxSegmentVertices = 4000;

double FormDivisor(int form) {
  switch (form) {
    case 2: return 126.0;
    case 4: return 32256.0;
    default: return 2113929216.0;
  }
}

// Bytes of one vertex: two 8-, 16- or 32-bit integers.
size_t VertexBytes(int form) { return form == 6 ? 8 : (size_t)form; }

uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
float GetF32(const uint8_t* p) {
  const uint32_t b = Get32(p);
  float f;
  memcpy(&f, &b, 4);
  return f;
}
double GetF64(const uint8_t* p) {
  const uint64_t b = (uint64_t)Get32(p) | ((uint64_t)Get32(p + 4) << 32);
  double d;
  memcpy(&d, &b, 8);
  return d;
}
void Put16(std::vector<uint8_t>* o, uint32_t v) {
  o->push_back((uint8_t)v);
  o->push_back((uint8_t)(v >> 8));
}
void Put32(std::vector<uint8_t>* o, uint32_t v) {
  for (int i = 0; i < 4; ++i) o->push_back((uint8_t)(v >> (8 * i)));
}
void PutF32(std::vector<uint8_t>* o, float f) {
  uint32_t b;
  memcpy(&b, &f, 4);
  Put32(o, b);
}
void PutF64(std::vector<uint8_t>* o, double d) {
  uint64_t b;
  memcpy(&b, &d, 8);
  Put32(o, (uint32_t)b);
  Put32(o, (uint32_t)(b >> 32));
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  uint8_t buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + got);
  const bool ok = !ferror(f);
  fclose(f);
  return ok;
}

double AngleBetween(const DirectionCosines& a, const DirectionCosines& b) {
  const double chord = std::sqrt(geodesy::ChordSq(a, b));
  return 2.0 * std::asin(std::min(1.0, chord / 2.0));
}

// The frame of a stored centre: the floats as doubles, normalised.
geodesy::TangentFrame FrameOfStoredCentre(float x, float y, float z) {
  return geodesy::BuildTangentFrame(geodesy::Normalised({x, y, z}));
}

}  // namespace

int CheckCoastData(std::vector<uint8_t> sgm, std::vector<uint8_t> vtx, CoastData* data) {
  *data = CoastData();
  if (sgm.size() < kCoastLevels * kCoastLevelBytes) return kCoastDamaged;
  CoastLevel levels[kCoastLevels];
  for (int l = 0; l < kCoastLevels; ++l) {
    const uint8_t* r = sgm.data() + l * kCoastLevelBytes;
    CoastLevel& lv = levels[l];
    lv.scale_limit = GetF64(r);
    lv.offset = Get32(r + 8);
    lv.count = Get16(r + 12);
    lv.form = Get16(r + 14);
    if (lv.scale_limit == geodesy::NOVALUE) continue;
    if (std::isnan(lv.scale_limit)) return kCoastDamaged;
    if (lv.form != 2 && lv.form != 4 && lv.form != 6) return kCoastDamaged;
    if ((uint64_t)lv.offset + (uint64_t)lv.count * kCoastSegmentBytes > sgm.size()) return kCoastDamaged;
    for (size_t i = 0; i < lv.count; ++i) {
      const uint8_t* s = sgm.data() + lv.offset + i * kCoastSegmentBytes;
      const double x = GetF32(s), y = GetF32(s + 4), z = GetF32(s + 8), radius = GetF32(s + 12);
      const double norm = x * x + y * y + z * z;
      if (!(std::fabs(norm - 1.0) < 1e-4)) return kCoastDamaged;
      if (!(radius >= 0.0 && radius <= 1.5)) return kCoastDamaged;
      const uint64_t offset = Get32(s + 16), count = Get16(s + 20);
      if (offset + count * VertexBytes(lv.form) > vtx.size()) return kCoastDamaged;
    }
  }
  data->sgm = std::move(sgm);
  data->vtx = std::move(vtx);
  for (int l = 0; l < kCoastLevels; ++l) data->levels[l] = levels[l];
  return kCoastOk;
}

int LoadCoastFiles(const std::string& sgm_path, const std::string& vtx_path, CoastData* data) {
  *data = CoastData();
  std::vector<uint8_t> sgm, vtx;
  if (!ReadFile(sgm_path, &sgm) || !ReadFile(vtx_path, &vtx)) return kCoastMissing;
  return CheckCoastData(std::move(sgm), std::move(vtx), data);
}

int CoastLevelForScale(const CoastData& data, double scale) {
  if (data.sgm.empty()) return -1;
  for (int l = 0; l < kCoastLevels; ++l) {
    const double limit = data.levels[l].scale_limit;
    if (limit != geodesy::NOVALUE && limit > scale) return l;
  }
  return -1;
}

CoastSegment CoastSegmentAt(const CoastData& data, int level, size_t i) {
  const uint8_t* s = data.sgm.data() + data.levels[level].offset + i * kCoastSegmentBytes;
  CoastSegment seg;
  seg.centre = {GetF32(s), GetF32(s + 4), GetF32(s + 8)};
  seg.radius = GetF32(s + 12);
  seg.vertex_offset = Get32(s + 16);
  seg.count = Get16(s + 20);
  return seg;
}

void DecodeCoastSegment(const CoastData& data, int level, const CoastSegment& seg,
                        std::vector<DirectionCosines>* out) {
  const int form = data.levels[level].form;
  const geodesy::TangentFrame frame =
      FrameOfStoredCentre((float)seg.centre.x, (float)seg.centre.y, (float)seg.centre.z);
  const double scale = (double)(float)seg.radius / FormDivisor(form);
  const uint8_t* p = data.vtx.data() + seg.vertex_offset;
  const size_t step = VertexBytes(form);
  for (size_t i = 0; i < seg.count; ++i, p += step) {
    double u, v;
    if (form == 2) {
      u = (int8_t)p[0];
      v = (int8_t)p[1];
    } else if (form == 4) {
      u = (int16_t)Get16(p);
      v = (int16_t)Get16(p + 2);
    } else {
      u = (int32_t)Get32(p);
      v = (int32_t)Get32(p + 4);
    }
    out->push_back(geodesy::LiftFromFrame(frame, u * scale, v * scale));
  }
}

int EncodeCoastFiles(const std::vector<CoastLevelSource>& levels, std::vector<uint8_t>* sgm,
                     std::vector<uint8_t>* vtx) {
  sgm->clear();
  vtx->clear();
  if (levels.size() > (size_t)kCoastLevels) return kCoastDamaged;
  std::vector<std::vector<uint8_t>> tables(levels.size());
  std::vector<uint16_t> counts(levels.size(), 0);
  for (size_t l = 0; l < levels.size(); ++l) {
    const CoastLevelSource& src = levels[l];
    if (src.form != 2 && src.form != 4 && src.form != 6) return kCoastDamaged;
    const double limit_of_form = src.form == 2 ? 127.0 : src.form == 4 ? 32767.0 : 2147483647.0;
    size_t segments = 0;
    for (const auto& line : src.lines) {
      size_t start = 0;
      while (start + 1 < line.size()) {
        // Grow the segment from line[start].
        size_t end = start + 1;
        while (end + 1 < line.size() && end + 1 - start < kMaxSegmentVertices &&
               AngleBetween(line[start], line[end + 1]) <= src.max_radius)
          ++end;
        DirectionCosines sum{0, 0, 0};
        for (size_t i = start; i <= end; ++i) {
          sum.x += line[i].x;
          sum.y += line[i].y;
          sum.z += line[i].z;
        }
        const DirectionCosines mean = geodesy::Normalised(sum);
        // The frame is built from the centre exactly as it will be read back.
        std::vector<uint8_t> centre_bytes;
        PutF32(&centre_bytes, (float)mean.x);
        PutF32(&centre_bytes, (float)mean.y);
        PutF32(&centre_bytes, (float)mean.z);
        const float fx = GetF32(centre_bytes.data()), fy = GetF32(centre_bytes.data() + 4),
                    fz = GetF32(centre_bytes.data() + 8);
        const geodesy::TangentFrame frame = FrameOfStoredCentre(fx, fy, fz);
        double reach = 0.0;
        std::vector<std::pair<double, double>> plane;
        for (size_t i = start; i <= end; ++i) {
          double u = 0, v = 0;
          geodesy::ProjectToFrame(frame, line[i], u, v);
          plane.push_back({u, v});
          reach = std::max({reach, std::fabs(u), std::fabs(v), AngleBetween(frame.c, line[i])});
        }
        float radius = (float)(reach * (1.0 + 1e-6) + 1e-9);
        if ((double)radius < reach) radius = std::nextafter(radius, 2.0f);
        const double scale = (double)radius / FormDivisor(src.form);
        const uint64_t vertex_offset = vtx->size();
        if (vertex_offset + plane.size() * VertexBytes(src.form) > 0xffffffffull) return kCoastDamaged;
        for (const auto& [u, v] : plane) {
          const double qu = std::max(-limit_of_form, std::min(limit_of_form, std::round(u / scale)));
          const double qv = std::max(-limit_of_form, std::min(limit_of_form, std::round(v / scale)));
          if (src.form == 2) {
            vtx->push_back((uint8_t)(int8_t)qu);
            vtx->push_back((uint8_t)(int8_t)qv);
          } else if (src.form == 4) {
            Put16(vtx, (uint16_t)(int16_t)qu);
            Put16(vtx, (uint16_t)(int16_t)qv);
          } else {
            Put32(vtx, (uint32_t)(int32_t)qu);
            Put32(vtx, (uint32_t)(int32_t)qv);
          }
        }
        std::vector<uint8_t>& t = tables[l];
        PutF32(&t, fx);
        PutF32(&t, fy);
        PutF32(&t, fz);
        PutF32(&t, radius);
        Put32(&t, (uint32_t)vertex_offset);
        Put16(&t, (uint32_t)plane.size());
        Put16(&t, 0);
        if (++segments > 65535) return kCoastDamaged;
        start = end;
      }
    }
    counts[l] = (uint16_t)segments;
  }
  uint32_t offset = (uint32_t)(kCoastLevels * kCoastLevelBytes);
  for (int l = 0; l < kCoastLevels; ++l) {
    if ((size_t)l < levels.size()) {
      PutF64(sgm, levels[l].scale_limit);
      Put32(sgm, offset);
      Put16(sgm, counts[l]);
      Put16(sgm, (uint32_t)levels[l].form);
      offset += (uint32_t)tables[l].size();
    } else {
      PutF64(sgm, geodesy::NOVALUE);
      Put32(sgm, 0);
      Put16(sgm, 0);
      Put16(sgm, 0);
    }
  }
  for (const auto& t : tables) sgm->insert(sgm->end(), t.begin(), t.end());
  return kCoastOk;
}

}  // namespace display
