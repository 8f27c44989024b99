// Coordinate text reading and writing.
//
// The reader walks the text line by line (any line length; a NUL byte ends
// nothing), splits the first three blank-separated fields and applies the
// mark sequence rules as it goes; the writer restores the object's vertices
// into a list and prints one line per node.
#include "lib/cells/coord_text.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "lib/cells/object_model.h"
#include "lib/geodesy/angle_text.h"
#include "lib/geodesy/cdc.h"
#include "platform/safe_output.h"

namespace cells {

using geodesy::DirectionCosines;

CoordFileType CoordFileTypeOf(const std::string& path) {
  CoordFileType t;
  std::size_t slash = path.find_last_of("/\\");
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return t;
  std::string ext = path.substr(dot + 1);
  static const char* names[3][3] = {
      {"pts", "ptc", "ptz"}, {"lns", "lnc", "lnz"}, {"rgn", "rgc", "rgz"}};
  for (int k = 0; k < 3; ++k)
    for (int f = 0; f < 3; ++f)
      if (ext == names[k][f]) {
        t.kind = k;
        t.form = static_cast<CoordForm>(f);
      }
  return t;
}

const char* CoordTextExtension(int kind) {
  switch (kind) {
    case 1: return ".lns";
    case 2: return ".rgn";
    default: return ".pts";
  }
}

int ResolutionCode(const char* indicator) {
  if (!indicator || !indicator[0]) return 0;
  const char a = indicator[0];
  const char b = indicator[1];
  int base;
  switch (a) {
    case 'l': return b == '\0' || b == ' ' ? 2 : 0;
    case 'm': base = 4; break;
    case 'h': base = 6; break;
    case 'f': base = 8; break;
    case 'd': base = 10; break;
    default: return 0;
  }
  if (b == '\0') return base;
  if (b == 'd') return base + 1;
  if (b == 'e' && base >= 6) return base + 256 + 1;
  return 0;
}

namespace {

struct Fields {
  std::string_view f[3];
  int n = 0;
};

Fields Split(std::string_view line) {
  Fields fs;
  std::size_t i = 0;
  while (fs.n < 3) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) break;
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
    fs.f[fs.n++] = line.substr(i, j - i);
    i = j;
  }
  return fs;
}

// A whole field as an integer in [lo, hi]; false when it is not one.
bool ParseInteger(std::string_view f, long long lo, long long hi, long long* out) {
  char buf[32];
  if (f.empty() || f.size() >= sizeof buf) return false;
  std::memcpy(buf, f.data(), f.size());
  buf[f.size()] = '\0';
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(buf, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// atoi/atof-like reading of an attribute field (leading number, 0 when none).
std::uint64_t ParseAttribute(std::string_view f, bool as_float, bool wide) {
  char buf[64];
  std::size_t n = std::min(f.size(), sizeof buf - 1);
  std::memcpy(buf, f.data(), n);
  buf[n] = '\0';
  if (as_float) {
    float v = static_cast<float>(std::strtod(buf, nullptr));
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return bits;
  }
  if (buf[0] == '-') return static_cast<std::uint64_t>(std::strtoll(buf, nullptr, 10)) &
                            (wide ? ~std::uint64_t{0} : 0xFFFFFFFFull);
  std::uint64_t v = std::strtoull(buf, nullptr, 10);
  return wide ? v : (v & 0xFFFFFFFFull);
}

struct Reader {
  const CoordReadOptions& opt;
  std::vector<PointNode>& out;
  CoordReadResult result;
  int marks_in_row = 0;
  bool any_vertex = false;
  bool ring_open = false;
  DirectionCosines ring_first{};

  // False stops the read (result says why).
  bool Line(std::string_view line) {
    ++result.line;
    if (opt.progress && result.line % 100000 == 0) opt.progress(opt.progress_context, result.line);
    Fields fs = Split(line);
    if (fs.n == 0) return true;  // a blank line says nothing
    if (fs.f[0][0] == ';') return true;
    if (fs.f[0][0] == '*') {
      if (opt.kind == 0) return true;
      if (!any_vertex) return Fail(2, line, 1);
      if (marks_in_row == 2) return Fail(2, line, 3);
      long long id = 0;
      if (fs.n >= 2 && !ParseInteger(fs.f[1], -2147483648LL, 4294967295LL, &id)) id = 0;
      out.push_back(Mark(static_cast<std::uint32_t>(id)));
      ++marks_in_row;
      ring_open = false;
      return true;
    }
    if (opt.kind != 0 && marks_in_row == 2) return Fail(2, line, 5);
    if (fs.n < 2) return Fail(1, line, 0);
    DirectionCosines p;
    if (opt.form == CoordForm::kCdc) {
      long long w0, w1;
      if (!ParseInteger(fs.f[0], -2147483648LL, 4294967295LL, &w0) ||
          !ParseInteger(fs.f[1], -2147483648LL, 4294967295LL, &w1))
        return Fail(1, line, 0);
      geodesy::CDC code{static_cast<std::uint32_t>(w0), static_cast<std::uint32_t>(w1)};
      p = geodesy::DirectionFromNormal(geodesy::DecodeCdc(code), opt.ellipsoid);
    } else {
      double lat = geodesy::ParseAngle(fs.f[0], geodesy::LAT_POSITIVE, geodesy::LAT_NEGATIVE);
      double lon = geodesy::ParseAngle(fs.f[1], geodesy::LON_POSITIVE, geodesy::LON_NEGATIVE);
      if (lat == geodesy::NOVALUE || lon == geodesy::NOVALUE || std::fabs(lat) > M_PI / 2)
        return Fail(1, line, 0);
      p = geodesy::GeodeticToCosines({lat, lon}, opt.ellipsoid);
    }
    // Codes that no encoder makes can decode to vectors that are not of unit
    // length (or not finite): bring them back to the sphere or refuse them.
    geodesy::Normalise(p);
    if (!geodesy::IsValid(p)) return Fail(1, line, 0);
    marks_in_row = 0;
    any_vertex = true;
    if (opt.kind == 2) {
      if (ring_open && p.x == ring_first.x && p.y == ring_first.y && p.z == ring_first.z)
        return true;
      if (!ring_open) {
        ring_open = true;
        ring_first = p;
      }
    }
    std::uint64_t attr = 0;
    if (ResHasAttribute(opt.res) && fs.n >= 3)
      attr = ParseAttribute(fs.f[2], opt.datum_float, ResWideAttribute(opt.res));
    out.push_back({p, attr});
    ++result.vertices;
    return true;
  }

  bool Fail(int status, std::string_view line, int mark_error) {
    result.status = status;
    result.mark_error = mark_error;
    result.text.assign(line.substr(0, 1023));
    while (!result.text.empty() && (result.text.back() == '\r' || result.text.back() == '\n'))
      result.text.pop_back();
    return false;
  }

  void Finish() {
    if (opt.kind == 0 || out.empty()) return;
    while (marks_in_row < 2) {
      out.push_back(Mark(0));
      ++marks_in_row;
    }
  }
};

}  // namespace

CoordReadResult ReadCoordText(std::FILE* in, const CoordReadOptions& options,
                              std::vector<PointNode>& out) {
  std::string all;
  try {
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) all.append(buf, n);
  } catch (const std::bad_alloc&) {
    CoordReadResult r;
    r.status = 3;
    return r;
  }
  return ReadCoordTextBuffer(all.data(), all.size(), options, out);
}

CoordReadResult ReadCoordTextBuffer(const char* data, std::size_t size,
                                    const CoordReadOptions& options, std::vector<PointNode>& out) {
  Reader r{options, out, {}};
  try {
    std::string_view all(data, size);
    std::size_t pos = 0;
    while (pos < all.size()) {
      std::size_t nl = all.find('\n', pos);
      if (nl == std::string_view::npos) nl = all.size();
      if (!r.Line(all.substr(pos, nl - pos))) return r.result;
      pos = nl + 1;
    }
    r.Finish();
  } catch (const std::bad_alloc&) {
    r.result.status = 3;
  }
  return r.result;
}

bool CollectVertices(CellIndex& idx, const Object& o, std::vector<PointNode>& out) {
  try {
    if (o.kind == kPset || o.kind == kTinPset) {
      const int size = o.kind == kPset ? kPsetCellSize : kTinCellSize;
      for (std::int64_t i = 0; i < PsetCellCount(o); ++i) {
        PsetCell c = LoadPsetCell(o.structure + PsetCellArrayOffset(o) + i * size);
        if (o.kind == kTinPset)  // the cell's own points only
          c.count = TinOwnPoints(LoadTinCell(o.structure + PsetCellArrayOffset(o) + i * size));
        const std::uint8_t* p = o.coords + c.offset;
        for (std::int32_t k = 0; k < c.count; ++k) {
          PointNode n;
          p = Restore(idx, c.cell, p, o.res, n.p, &n.attribute);
          out.push_back(n);
        }
      }
      return true;
    }
    for (std::int64_t i = 0; i < ItemCount(o); ++i) {
      Item it = LoadItem(ItemAt(o, i));
      for (std::int32_t k = 0; k < it.count; ++k) {
        Piece pc = LoadPiece(PieceAt(o, it, k));
        const std::uint8_t* p = o.coords + pc.offset;
        for (std::int32_t j = 0; j < pc.count; ++j) {
          PointNode n;
          p = Restore(idx, pc.cell, p, o.res, n.p, &n.attribute);
          out.push_back(n);
        }
      }
      out.push_back(Mark(it.id));
    }
    out.push_back(Mark(o.id));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

bool WriteVertex(std::FILE* f, const PointNode& n, const CoordWriteOptions& opt, int res) {
  char line[160];
  int len;
  if (opt.form == CoordForm::kCdc) {
    geodesy::CDC c = geodesy::EncodeCdc(geodesy::SurfaceNormal(n.p, opt.ellipsoid));
    len = std::snprintf(line, sizeof line, "%d %d", static_cast<std::int32_t>(c.w0),
                        static_cast<std::int32_t>(c.w1));
  } else {
    geodesy::LatLong ll = geodesy::CosinesToGeodetic(n.p, opt.ellipsoid);
    char lat[geodesy::ANGLE_TEXT_SIZE], lon[geodesy::ANGLE_TEXT_SIZE];
    geodesy::FormatAngle(ll.lat, opt.lat_code, lat, sizeof lat);
    geodesy::FormatAngle(ll.lon, opt.lon_code, lon, sizeof lon);
    const bool sep = opt.lat_code.size() < 5;
    len = std::snprintf(line, sizeof line, "%s%s%s", lat, sep ? " " : "", lon);
  }
  if (len < 0) return false;
  if (ResHasAttribute(res)) {
    if (ResWideAttribute(res))
      std::snprintf(line + len, sizeof line - len, " %" PRIu64, n.attribute);
    else
      std::snprintf(line + len, sizeof line - len, " %u", static_cast<std::uint32_t>(n.attribute));
  }
  return std::fprintf(f, "%s\n", line) > 0;
}

}  // namespace

int WriteCoordText(std::FILE* f, CellIndex& idx, const Object& obj,
                   const CoordWriteOptions& opt) {
  const int obj_kind = obj.kind == kTinPset ? 0 : obj.kind;
  if (opt.kind > obj_kind) return 3;
  std::vector<PointNode> nodes;
  if (!CollectVertices(idx, obj, nodes)) return 2;
  const bool marks = opt.kind > 0;
  const bool close_rings = obj_kind == kRset && opt.kind == kLset;
  const PointNode* ring_first = nullptr;
  for (const PointNode& n : nodes) {
    if (IsMark(n)) {
      if (!marks) continue;
      if (close_rings && ring_first && !WriteVertex(f, *ring_first, opt, obj.res)) return 1;
      ring_first = nullptr;
      if (std::fprintf(f, "* %u\n", static_cast<std::uint32_t>(n.attribute)) < 0) return 1;
      continue;
    }
    if (!ring_first) ring_first = &n;
    if (!WriteVertex(f, n, opt, obj.res)) return 1;
  }
  return std::ferror(f) ? 1 : 0;
}

}  // namespace cells

namespace cells {

ImportResult ImportCoordFile(CellIndex& idx, const std::string& text_path,
                             const std::string& object_path, const CoordReadOptions& options,
                             std::uint32_t id, std::int64_t mapping_size) {
  ImportResult r;
  // A directory or device is not a coordinate file (a directory would read
  // as an empty one).
  std::FILE* in = platform::IsRegularFile(text_path.c_str()) ? std::fopen(text_path.c_str(), "rb") : nullptr;
  if (!in) return r;
  std::vector<PointNode> nodes;
  r.stage = ImportStage::kRead;
  r.read = ReadCoordText(in, options, nodes);
  std::fclose(in);
  if (r.read.status != 0) return r;
  r.vertices = r.read.vertices;

  ObjectHandle h;
  r.stage = ImportStage::kCreate;
  r.create_status = CreateObject(h, object_path, options.kind, mapping_size);
  if (r.create_status != 0) return r;
  r.stage = ImportStage::kBuild;
  SectionTarget target{&h.arena, nullptr};
  BuildParams params{id, 0, options.res, 0};
  std::span<const PointNode> span(nodes);
  if (options.kind == kPset)
    r.build_status = BuildPset(idx, target, params, span, h.obj);
  else if (options.kind == kLset)
    r.build_status = BuildLset(idx, target, params, span, h.obj);
  else
    r.build_status = BuildRset(idx, target, params, span, h.obj);
  if (r.build_status > 0) {
    AbandonObject(h);
    return r;
  }
  r.stage = ImportStage::kWrite;
  r.write_status = CloseObject(h);
  if (r.write_status != 0) return r;
  r.stage = ImportStage::kDone;
  return r;
}

}  // namespace cells
