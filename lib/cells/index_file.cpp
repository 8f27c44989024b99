// Reading and writing cell index files.
//
// Both loaders work on the file's bytes in memory (a stream is read to its
// end first), consuming them in file order, so "short read" means the bytes
// ran out before a field was complete. Fields are decoded little-endian one
// by one; every count read from the file is range-checked before it sizes
// anything, and every neighbour number is checked against cell_count before
// the index is handed out, so a bad file is refused with a status and never
// read or indexed out of bounds.
//
// The writer goes through a temporary file beside the target, renamed over
// it only when every byte is written.
#include "lib/cells/index_file.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <unistd.h>

#include "lib/geodesy/constants.h"
#include "platform/safe_output.h"

namespace cells {

namespace {

inline std::uint16_t GetU16(const unsigned char* b) {
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}
inline std::uint32_t GetU32(const unsigned char* b) {
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
inline std::uint64_t GetU64(const unsigned char* b) {
  return static_cast<std::uint64_t>(GetU32(b)) | (static_cast<std::uint64_t>(GetU32(b + 4)) << 32);
}
inline double GetF64(const unsigned char* b) { return std::bit_cast<double>(GetU64(b)); }

inline void PutU16(unsigned char* b, std::uint16_t v) {
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}
inline void PutU32(unsigned char* b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void PutF64(unsigned char* b, double d) {
  const std::uint64_t v = std::bit_cast<std::uint64_t>(d);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Reads a whole stream from its current position.
bool ReadAll(std::FILE* f, std::vector<unsigned char>& out) {
  out.clear();
  unsigned char buf[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buf, 1, sizeof buf, f);
    out.insert(out.end(), buf, buf + got);
    if (got < sizeof buf) return !std::ferror(f);
  }
}

// Records being built for an index, released unless handed over.
struct Building {
  int mode = 1;
  std::int32_t count = 0;
  CellRecord** cells = nullptr;
  unsigned char* block = nullptr;
  std::size_t block_size = 0;
  std::size_t block_used = 0;

  ~Building() {
    if (mode == 2 && cells != nullptr) {
      for (std::int32_t i = 0; i < count; ++i) std::free(cells[i]);
    }
    std::free(cells);
    std::free(block);
  }
  // 0, or 8 (no memory).
  int Allocate(int storage_mode, std::int32_t cell_count, std::int64_t total_neighbours) {
    mode = storage_mode == 2 ? 2 : 1;
    count = cell_count;
    cells = static_cast<CellRecord**>(std::calloc(static_cast<std::size_t>(cell_count), sizeof(CellRecord*)));
    if (cells == nullptr) return 8;
    if (mode == 1) {
      block_size = 64 + 4 * static_cast<std::size_t>(cell_count) +
                   4 * (static_cast<std::size_t>(total_neighbours) + 7 * static_cast<std::size_t>(cell_count));
      block = static_cast<unsigned char*>(std::calloc(block_size, 1));
      if (block == nullptr) return 8;
    }
    return 0;
  }
  // Room for cell i with n neighbours: 0, 7 (block overflow) or 8.
  int Place(std::int32_t i, int n) {
    if (mode == 1) {
      const std::size_t need = RecordBlockSize(n);
      if (block_used + need > block_size) return 7;
      cells[i] = reinterpret_cast<CellRecord*>(block + block_used);
      block_used += need;
    } else {
      cells[i] = static_cast<CellRecord*>(std::calloc(static_cast<std::size_t>(n) + 7, 4));
      if (cells[i] == nullptr) return 8;
    }
    return 0;
  }
  // Every neighbour number within 0 .. count-1.
  bool NeighboursInRange() const {
    for (std::int32_t i = 0; i < count; ++i) {
      const CellRecord* r = cells[i];
      for (int k = 0; k < r->neighbour_count; ++k) {
        if (r->neighbours[k] < 0 || r->neighbours[k] >= count) return false;
      }
    }
    return true;
  }
  void HandOver(CellIndex& idx, std::uint32_t id, std::int32_t max_nb, double c1, double c2) {
    CellIndex fresh;
    SetUpIndex(fresh, id, cells, count, max_nb, mode, c1, c2, block, mode == 1 ? block_size : 0);
    ReplaceIndex(idx, fresh);
    cells = nullptr;
    block = nullptr;
    count = 0;
  }
};

}  // namespace

VixHeader DecodeVixHeader(const unsigned char* b) {
  VixHeader h;
  h.release = GetU16(b + 0);
  h.format_code = GetU16(b + 2);
  h.index_id = GetU32(b + 4);
  h.cell_count = GetU32(b + 8);
  h.total_neighbours = GetU32(b + 12);
  h.max_neighbours = GetU16(b + 16);
  h.ellipsoid_number = GetU16(b + 18);
  h.creation_day = GetU16(b + 20);
  h.max_neighbour_chord2 = GetF64(b + 24);
  h.max_diagonal_chord2 = GetF64(b + 32);
  return h;
}

void EncodeVixHeader(const VixHeader& h, unsigned char* b) {
  std::memset(b, 0, VIX_HEADER_SIZE);
  PutU16(b + 0, h.release);
  PutU16(b + 2, h.format_code);
  PutU32(b + 4, h.index_id);
  PutU32(b + 8, h.cell_count);
  PutU32(b + 12, h.total_neighbours);
  PutU16(b + 16, h.max_neighbours);
  PutU16(b + 18, h.ellipsoid_number);
  PutU16(b + 20, h.creation_day);
  PutF64(b + 24, h.max_neighbour_chord2);
  PutF64(b + 32, h.max_diagonal_chord2);
}

int CheckVixHeader(const VixHeader& h) {
  if (h.index_id == 0) return 3;
  if (h.cell_count < static_cast<std::uint32_t>(MIN_CELLS) || h.cell_count > static_cast<std::uint32_t>(MAX_CELLS))
    return 3;
  if (h.total_neighbours < MIN_TOTAL_NEIGHBOURS || h.total_neighbours > MAX_TOTAL_NEIGHBOURS) return 3;
  if (h.max_neighbours > MAX_NEIGHBOURS) return 3;
  if (h.release < geodesy::OLDEST_RELEASE || h.release > geodesy::LIBRARY_RELEASE) return 2;
  if (h.format_code != VIX_FORMAT_CODE) return 1;
  return 0;
}

int LoadVixBytes(const unsigned char* data, std::size_t size, CellIndex& idx, int storage_mode) {
  if (data == nullptr || size < VIX_HEADER_SIZE) return 4;
  const VixHeader h = DecodeVixHeader(data);
  const int hs = CheckVixHeader(h);
  if (hs != 0) return hs;
  const std::int32_t count = static_cast<std::int32_t>(h.cell_count);
  Building b;
  if (b.Allocate(storage_mode, count, h.total_neighbours) != 0) return 8;
  std::size_t pos = VIX_HEADER_SIZE;
  for (std::int32_t i = 0; i < count; ++i) {
    if (size - pos < 32) return 4;
    const unsigned char* p = data + pos;
    const int n = static_cast<std::int16_t>(GetU16(p + 24));
    if (n < MIN_NEIGHBOURS || n > h.max_neighbours) return 2;
    const int placed = b.Place(i, n);
    if (placed != 0) return placed;
    CellRecord* r = b.cells[i];
    r->centre = {GetF64(p), GetF64(p + 8), GetF64(p + 16)};
    r->neighbour_count = static_cast<std::int16_t>(n);
    r->scale = GetU16(p + 26);
    r->neighbours[0] = static_cast<std::int32_t>(GetU32(p + 28));
    pos += 32;
    const std::size_t rest = 4 * static_cast<std::size_t>(n - 1);
    if (size - pos < rest) return 4;
    std::int32_t* nb = r->neighbours;
    for (int k = 1; k < n; ++k) nb[k] = static_cast<std::int32_t>(GetU32(data + pos + 4 * (k - 1)));
    pos += rest;
  }
  if (!b.NeighboursInRange()) return 2;
  b.HandOver(idx, h.index_id, h.max_neighbours, h.max_neighbour_chord2, h.max_diagonal_chord2);
  return 0;
}

int LoadVix(std::FILE* f, CellIndex& idx, int storage_mode) {
  std::vector<unsigned char> bytes;
  if (f == nullptr) return 4;
  try {
    if (!ReadAll(f, bytes)) return 4;
  } catch (const std::bad_alloc&) {
    return 8;
  }
  return LoadVixBytes(bytes.data(), bytes.size(), idx, storage_mode);
}

namespace {

// Whitespace-separated tokens of a text held in memory.
struct Tokens {
  const char* p;
  const char* end;
  // The next token, or false at the end. Tokens longer than 255 characters
  // are refused (no line of the format is longer).
  bool Next(std::string& tok) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')) ++p;
    if (p >= end) return false;
    const char* s = p;
    while (p < end && !(*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')) ++p;
    if (p - s > 255) return false;
    tok.assign(s, p);
    return true;
  }
};

bool ParseLong(const std::string& t, long long& v) {
  if (t.empty()) return false;
  errno = 0;
  char* e = nullptr;
  v = std::strtoll(t.c_str(), &e, 10);
  return errno == 0 && e != nullptr && *e == '\0';
}

bool ParseDouble(const std::string& t, double& v) {
  if (t.empty()) return false;
  char* e = nullptr;
  v = std::strtod(t.c_str(), &e);
  return e != nullptr && *e == '\0' && std::isfinite(v);
}

}  // namespace

int LoadTixBytes(const char* text, std::size_t size, CellIndex& idx, int storage_mode) {
  if (text == nullptr) return 1;
  Tokens tk{text, text + size};
  std::string t;
  if (!tk.Next(t) || t.compare(0, 8, "tix.hdr.") != 0) return 1;
  long long release = 0;
  if (!ParseLong(t.substr(8), release) || release < geodesy::OLDEST_RELEASE || release > geodesy::LIBRARY_RELEASE)
    return 1;
  long long id = 0, count = 0, max_nb = 0, total = 0, ellipsoid = 0;
  double c1 = 0.0, c2 = 0.0;
  if (!tk.Next(t) || !ParseLong(t, id) || id <= 0 || id > 0xFFFFFFFFLL) return 2;
  if (!tk.Next(t) || !ParseLong(t, count) || count < MIN_CELLS || count > MAX_CELLS) return 2;
  if (!tk.Next(t) || !ParseLong(t, max_nb) || max_nb < 0 || max_nb > MAX_NEIGHBOURS) return 2;
  if (!tk.Next(t) || !ParseDouble(t, c1)) return 2;
  if (!tk.Next(t) || !ParseDouble(t, c2)) return 2;
  if (!tk.Next(t) || !ParseLong(t, total) || total < MIN_TOTAL_NEIGHBOURS || total > MAX_TOTAL_NEIGHBOURS) return 2;
  if (!tk.Next(t) || !ParseLong(t, ellipsoid) || ellipsoid < 1 || ellipsoid > 34) return 2;
  Building b;
  if (b.Allocate(storage_mode, static_cast<std::int32_t>(count), total) != 0) return 8;
  for (std::int32_t i = 0; i < count; ++i) {
    double x, y, z;
    long long scale, n;
    if (!tk.Next(t) || !ParseDouble(t, x)) return 3;
    if (!tk.Next(t) || !ParseDouble(t, y)) return 3;
    if (!tk.Next(t) || !ParseDouble(t, z)) return 3;
    const double len2 = x * x + y * y + z * z;
    if (!(len2 >= 0.9999999999999755 && len2 <= 1.0000000000000246)) return 3;
    if (!tk.Next(t) || !ParseLong(t, scale) || scale < 0 || scale > 65535) return 3;
    if (!tk.Next(t) || !ParseLong(t, n) || n < MIN_NEIGHBOURS || n > max_nb) return 3;
    const int placed = b.Place(i, static_cast<int>(n));
    if (placed != 0) return placed;
    CellRecord* r = b.cells[i];
    r->centre = {x, y, z};
    r->scale = static_cast<std::uint16_t>(scale);
    r->neighbour_count = static_cast<std::int16_t>(n);
    std::int32_t* nb = r->neighbours;
    for (int k = 0; k < n; ++k) {
      long long v;
      if (!tk.Next(t) || !ParseLong(t, v) || v < 0 || v >= count) return 3;
      nb[k] = static_cast<std::int32_t>(v);
    }
  }
  b.HandOver(idx, static_cast<std::uint32_t>(id), static_cast<std::int32_t>(max_nb), c1, c2);
  return 0;
}

int LoadTix(std::FILE* f, CellIndex& idx, int storage_mode) {
  std::vector<unsigned char> bytes;
  if (f == nullptr) return 1;
  try {
    if (!ReadAll(f, bytes)) return 1;
  } catch (const std::bad_alloc&) {
    return 8;
  }
  return LoadTixBytes(reinterpret_cast<const char*>(bytes.data()), bytes.size(), idx, storage_mode);
}

namespace {

// A temporary file beside the target, removed unless committed (and on
// SIGINT/SIGTERM): platform::SafeOutput.
struct TempOut {
  platform::SafeOutput out;
  std::FILE* f = nullptr;
  bool Open(const char* path) {
    if (platform::SafeOpen(out, path) != platform::kSafeOk) return false;
    f = platform::SafeStream(out);
    return f != nullptr;
  }
  bool Commit() {
    f = nullptr;
    return platform::SafeCommit(out) == platform::kSafeOk;
  }
};

void IndexCounts(const CellIndex& idx, std::uint32_t& total, std::uint16_t& max_nb) {
  std::uint64_t t = 0;
  int m = 0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const int n = idx.cells[i]->neighbour_count;
    t += static_cast<std::uint64_t>(n > 0 ? n : 0);
    if (n > m) m = n;
  }
  total = static_cast<std::uint32_t>(t);
  max_nb = static_cast<std::uint16_t>(m);
}

}  // namespace

int WriteVix(const char* path, const CellIndex& idx, const VixHeader& header, std::int32_t* failed_row) {
  TempOut out;
  if (path == nullptr || !out.Open(path)) return 1;
  VixHeader h = header;
  h.format_code = VIX_FORMAT_CODE;
  h.cell_count = static_cast<std::uint32_t>(idx.cell_count);
  IndexCounts(idx, h.total_neighbours, h.max_neighbours);
  unsigned char hb[VIX_HEADER_SIZE];
  EncodeVixHeader(h, hb);
  if (std::fwrite(hb, 1, sizeof hb, out.f) != sizeof hb) return 2;
  std::vector<unsigned char> rec(RecordFileSize(MAX_NEIGHBOURS));
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const CellRecord* r = idx.cells[i];
    const int n = r->neighbour_count;
    unsigned char* p = rec.data();
    PutF64(p, r->centre.x);
    PutF64(p + 8, r->centre.y);
    PutF64(p + 16, r->centre.z);
    PutU16(p + 24, static_cast<std::uint16_t>(r->neighbour_count));
    PutU16(p + 26, r->scale);
    for (int k = 0; k < n && k < MAX_NEIGHBOURS; ++k) PutU32(p + 28 + 4 * k, static_cast<std::uint32_t>(r->neighbours[k]));
    const std::size_t len = RecordFileSize(n < 1 ? 1 : (n > MAX_NEIGHBOURS ? MAX_NEIGHBOURS : n));
    if (n < 1) PutU32(p + 28, 0);
    if (std::fwrite(p, 1, len, out.f) != len) {
      if (failed_row != nullptr) *failed_row = i;
      return 3;
    }
  }
  if (!out.Commit()) {
    if (failed_row != nullptr) *failed_row = idx.cell_count - 1;
    return 3;
  }
  return 0;
}

int WriteTix(const char* path, const CellIndex& idx, const VixHeader& header) {
  TempOut out;
  if (path == nullptr || !out.Open(path)) return 1;
  std::uint32_t total;
  std::uint16_t max_nb;
  IndexCounts(idx, total, max_nb);
  std::fprintf(out.f, "tix.hdr.%u %u %d %u %.17g %.17g %u %u\n", header.release, header.index_id, idx.cell_count,
               max_nb, header.max_neighbour_chord2, header.max_diagonal_chord2, total, header.ellipsoid_number);
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const CellRecord* r = idx.cells[i];
    std::fprintf(out.f, "%.17g %.17g %.17g %u %d", r->centre.x, r->centre.y, r->centre.z, r->scale,
                 r->neighbour_count);
    for (int k = 0; k < r->neighbour_count; ++k) {
      // Keep lines short: a cell with many neighbours continues on the next line.
      std::fprintf(out.f, (k % 16 == 15) ? "\n%d" : " %d", r->neighbours[k]);
    }
    std::fputc('\n', out.f);
  }
  return out.Commit() ? 0 : 1;
}

VixHeader MakeVixHeader(std::int64_t unix_seconds, int ellipsoid_number, double max_neighbour_chord2,
                        double max_diagonal_chord2) {
  if (unix_seconds == 0) unix_seconds = static_cast<std::int64_t>(std::time(nullptr));
  VixHeader h;
  h.release = static_cast<std::uint16_t>(geodesy::LIBRARY_RELEASE);
  h.format_code = VIX_FORMAT_CODE;
  h.index_id = static_cast<std::uint32_t>(unix_seconds);
  h.ellipsoid_number = static_cast<std::uint16_t>(ellipsoid_number);
  h.creation_day = CreationDayNumberOf(unix_seconds);
  h.max_neighbour_chord2 = max_neighbour_chord2;
  h.max_diagonal_chord2 = max_diagonal_chord2;
  return h;
}

}  // namespace cells
