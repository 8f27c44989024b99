// The collection reader and its searches (layout in collection.h).
#include "lib/ops/collection.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/cells/cell_locate.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/tangent_frame.h"

namespace ops {

using cells::Load;
using cells::Store;
using geodesy::DirectionCosines;

void DecodeCollHeader(const std::uint8_t* p, CollHeader& h) {
  h.release = Load<std::uint16_t>(p);
  h.dimension = Load<std::int16_t>(p + 2);
  h.db_id = Load<std::uint32_t>(p + 4);
  h.index_id = Load<std::uint32_t>(p + 8);
  h.flags = p[12];
  h.entries = Load<std::int32_t>(p + 20);
  h.low_cell = Load<std::int32_t>(p + 24);
  h.high_cell = Load<std::uint32_t>(p + 28);
  h.items = Load<std::uint32_t>(p + 32);
  h.table_size = Load<std::uint32_t>(p + 40);
}

void EncodeCollHeader(const CollHeader& h, std::uint8_t* p) {
  std::memset(p, 0, kCollHeaderSize);
  Store<std::uint16_t>(p, h.release);
  Store<std::int16_t>(p + 2, h.dimension);
  Store<std::uint32_t>(p + 4, h.db_id);
  Store<std::uint32_t>(p + 8, h.index_id);
  p[12] = h.flags;
  Store<std::int32_t>(p + 20, h.entries);
  Store<std::int32_t>(p + 24, h.low_cell);
  Store<std::uint32_t>(p + 28, h.high_cell);
  Store<std::uint32_t>(p + 32, h.items);
  Store<std::uint32_t>(p + 40, h.table_size);
}

double CollAngle(const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines c = geodesy::Cross(a, b);
  return std::atan2(std::sqrt(geodesy::Dot(c, c)), geodesy::Dot(a, b));
}

double CollLegDistance(const DirectionCosines& a, const DirectionCosines& b,
                       const DirectionCosines& p, DirectionCosines* at, int* side) {
  const DirectionCosines n = geodesy::Cross(a, b);
  const double nn = geodesy::Dot(n, n);
  const double s = geodesy::Dot(n, p);
  if (side) *side = s > 0 ? 1 : (s < 0 ? -1 : 0);
  if (nn > 1e-30) {
    // Foot of p on the great circle, inside the arc when it lies on the
    // inner side of both end planes.
    const double k = s / nn;
    DirectionCosines f{p.x - k * n.x, p.y - k * n.y, p.z - k * n.z};
    const double fl = std::sqrt(geodesy::Dot(f, f));
    if (fl > 1e-300) {
      f = {f.x / fl, f.y / fl, f.z / fl};
      if (geodesy::Dot(geodesy::Cross(a, f), n) >= 0 && geodesy::Dot(geodesy::Cross(f, b), n) >= 0) {
        if (at) *at = f;
        return std::asin(std::min(1.0, std::fabs(s) / std::sqrt(nn)));
      }
    }
  }
  const double da = CollAngle(a, p), db = CollAngle(b, p);
  if (at) *at = da <= db ? a : b;
  return std::min(da, db);
}

static bool InFile(std::int64_t size, std::uint64_t off, std::uint64_t count, std::uint64_t width) {
  if (off > static_cast<std::uint64_t>(size)) return false;
  if (width && count > (static_cast<std::uint64_t>(size) - off) / width) return false;
  return true;
}

static DirectionCosines LoadVec(const std::uint8_t* p) {
  return {Load<double>(p), Load<double>(p + 8), Load<double>(p + 16)};
}

CollOpenReport Collection::Open(const std::string& plr_path, const std::string& dat_path,
                                cells::CellIndex& idx, int search_dim) {
  Close();
  CollOpenReport r;
  r.which = plr_path;
  auto fail = [&](int status, long long a = 0, long long b = 0) {
    Close();
    r.status = status;
    r.a = a;
    r.b = b;
    return r;
  };
  std::FILE* probe = std::fopen(plr_path.c_str(), "rb");
  if (!probe) return fail(kCollOpenError);
  std::uint8_t hb[kCollHeaderSize];
  const std::size_t got = std::fread(hb, 1, sizeof hb, probe);
  std::fclose(probe);
  if (got != sizeof hb) return fail(kCollHeaderError);
  DecodeCollHeader(hb, header_);
  const CollHeader& h = header_;
  if (h.release < kCollReleaseLow || h.release > kCollReleaseHigh)
    return fail(kCollReleaseMismatch, kCollReleaseHigh, h.release);
  if (h.index_id != idx.index_id) return fail(kCollIndexMismatch, idx.index_id, h.index_id);
  if (h.dimension < search_dim) return fail(kCollDimensionMismatch, h.dimension, search_dim);

  if (!dat_path.empty() && platform::PathExists(dat_path.c_str())) {
    r.has_attributes = true;
    if (platform::MapFileRead(dat_, dat_path.c_str()) != 0 || dat_.size < 8) {
      r.which = dat_path;
      return fail(kCollAttHeaderError);
    }
    const std::uint32_t dat_id = Load<std::uint32_t>(dat_.base);
    if (dat_id != h.db_id) return fail(kCollDbIdMismatch, h.db_id, dat_id);
  }

  if (platform::MapFileRead(plr_, plr_path.c_str()) != 0 || !plr_.base) {
    const int code = errno ? errno : 1;
    return fail(h.dimension == 2 && search_dim == 2 ? kCollMappingError : kCollHeaderError, code);
  }
  const std::int64_t size = plr_.size;
  // The cell table: whole entries, inside the file, sorted, every record run
  // inside the file, cells within the index.
  const std::int32_t rec_size = h.dimension == 0 ? kCollPointRecordSize : kCollLegRecordSize;
  if (h.dimension < 0 || h.dimension > 2 || h.entries < 0 ||
      h.table_size != static_cast<std::uint64_t>(h.entries) * kCollCellEntrySize ||
      !InFile(size, kCollHeaderSize, h.entries, kCollCellEntrySize))
    return fail(kCollHeaderError);
  std::int32_t prev = -1;
  for (std::int32_t i = 0; i < h.entries; ++i) {
    const std::uint8_t* e = plr_.base + kCollHeaderSize + std::int64_t{i} * kCollCellEntrySize;
    const std::int32_t cell = Load<std::int32_t>(e);
    const std::uint32_t off = Load<std::uint32_t>(e + 4), count = Load<std::uint32_t>(e + 8);
    if (cell <= prev || cell >= idx.cell_count || !InFile(size, off, count, rec_size))
      return fail(kCollHeaderError);
    prev = cell;
  }
  if (h.entries > 0) {
    const std::int32_t first = Load<std::int32_t>(plr_.base + kCollHeaderSize);
    if (first != h.low_cell || static_cast<std::uint32_t>(prev) != h.high_cell) return fail(kCollHeaderError);
  }
  last_entry_ = h.entries / 2;  // the middle entry is where look-ups start

  if (h.dimension == 2 && search_dim == 2) {
    const std::uint64_t sec = std::uint64_t{kCollHeaderSize} + h.table_size;
    if (!InFile(size, sec, 1, kCollRegionHeaderSize)) return fail(kCollHeader2Error);
    const std::uint8_t* s = plr_.base + sec;
    if (std::memcmp(s, "PLRRGN1", 8) != 0) return fail(kCollHeader2Error);
    rcell_count_ = Load<std::uint32_t>(s + 8);
    const std::uint32_t rcell_off = Load<std::uint32_t>(s + 12);
    cand_count_ = Load<std::uint32_t>(s + 16);
    const std::uint32_t cand_off = Load<std::uint32_t>(s + 20);
    const std::uint32_t region_count = Load<std::uint32_t>(s + 24);
    const std::uint32_t region_off = Load<std::uint32_t>(s + 28);
    const std::uint32_t area_off = Load<std::uint32_t>(s + 32);
    const std::uint32_t area_size = Load<std::uint32_t>(s + 36);
    if (!InFile(size, rcell_off, rcell_count_, kCollRegionCellSize) ||
        !InFile(size, cand_off, cand_count_, kCollCandidateSize) ||
        !InFile(size, region_off, region_count, kCollRegionEntrySize) ||
        !InFile(size, area_off, area_size, 1) || region_count != h.items)
      return fail(kCollMappingError, EINVAL);
    rcells_ = plr_.base + rcell_off;
    cands_ = plr_.base + cand_off;
    prev = -1;
    for (std::uint32_t i = 0; i < rcell_count_; ++i) {
      const std::uint8_t* e = rcells_ + std::uint64_t{i} * kCollRegionCellSize;
      const std::int32_t cell = Load<std::int32_t>(e);
      const std::uint32_t n = Load<std::uint32_t>(e + 4), first = Load<std::uint32_t>(e + 8);
      if (cell <= prev || cell >= idx.cell_count || first > cand_count_ || n > cand_count_ - first)
        return fail(kCollMappingError, EINVAL);
      prev = cell;
    }
    for (std::uint32_t i = 0; i < cand_count_; ++i)
      if (Load<std::uint32_t>(cands_ + std::uint64_t{i} * kCollCandidateSize) >= region_count)
        return fail(kCollMappingError, EINVAL);
    regions_.resize(region_count);
    for (std::uint32_t i = 0; i < region_count; ++i) {
      const std::uint8_t* e = plr_.base + region_off + std::uint64_t{i} * kCollRegionEntrySize;
      CollRegion& g = regions_[i];
      g.name_ref = Load<std::uint32_t>(e);
      const std::uint32_t off = Load<std::uint32_t>(e + 4), osize = Load<std::uint32_t>(e + 8);
      g.id = Load<std::uint32_t>(e + 12);
      g.rings = Load<std::uint32_t>(e + 16);
      g.vertices = Load<std::uint32_t>(e + 20);
      if (!InFile(area_size, off, osize, 1)) return fail(kCollMappingError, EINVAL);
      if (cells::ParseObject(plr_.base + area_off + off, osize, g.obj, idx.index_id, idx.cell_count,
                             false) != 0 ||
          g.obj.kind != cells::kRset || !cells::ObjectValid(g.obj, idx.cell_count))
        return fail(kCollMappingError, EINVAL);
    }
    // The search's tables: the cells' entries and frames. Each border
    // candidate's boundary is made ready for the point test the first time
    // a position falls in its cell, and kept.
    cell_entry_.assign(static_cast<std::size_t>(idx.cell_count), -1);
    frames_.resize(rcell_count_);
    tests_.clear();
    tests_.resize(cand_count_);
    for (std::uint32_t i = 0; i < rcell_count_; ++i) {
      const std::int32_t cell = Load<std::int32_t>(rcells_ + std::uint64_t{i} * kCollRegionCellSize);
      cell_entry_[static_cast<std::size_t>(cell)] = static_cast<std::int32_t>(i);
      frames_[i] = geodesy::BuildTangentFrame(idx.cells[cell]->centre);
    }
  }
  ring_mark_.assign(static_cast<std::size_t>(std::max(idx.cell_count, 0)), 0);
  generation_ = 0;
  return r;
}

void Collection::Close() {
  platform::UnmapFile(plr_);
  platform::UnmapFile(dat_);
  regions_.clear();
  rcells_ = cands_ = nullptr;
  rcell_count_ = cand_count_ = 0;
  last_entry_ = 0;
  cell_entry_.clear();
  frames_.clear();
  tests_.clear();
  ring_mark_.clear();
}

bool Collection::Name(std::uint32_t datum, std::string& name) const {
  name.clear();
  if (!dat_.base) return false;
  const std::uint64_t off = CollNameOffset(datum, (header_.flags & kCollAlignedNames) != 0);
  if (off < 8 || off >= static_cast<std::uint64_t>(dat_.size)) return false;
  const std::uint32_t len = dat_.base[off];
  if (len > static_cast<std::uint64_t>(dat_.size) - off - 1) return false;
  name.assign(reinterpret_cast<const char*>(dat_.base + off + 1), len);
  return true;
}

std::uint32_t Collection::CellRecords(std::int32_t cell, const std::uint8_t** records) {
  *records = nullptr;
  const std::int64_t n = header_.entries;
  if (n <= 0 || !plr_.base) return 0;
  const std::uint8_t* table = plr_.base + kCollHeaderSize;
  auto cell_at = [&](std::int64_t i) { return Load<std::int32_t>(table + i * kCollCellEntrySize); };
  const std::int64_t range = std::int64_t{static_cast<std::int32_t>(header_.high_cell)} - header_.low_cell;
  const std::int64_t step = range < 511 ? 32 : range / 16 + 1;
  // Step from the last entry found until the cell lies in [lo, hi].
  std::int64_t lo = std::clamp<std::int64_t>(last_entry_, 0, n - 1), hi = lo;
  if (cell_at(lo) < cell) {
    while (hi < n - 1 && cell_at(hi) < cell) {
      lo = hi;
      hi = std::min(n - 1, hi + step);
    }
  } else {
    while (lo > 0 && cell_at(lo) > cell) {
      hi = lo;
      lo = std::max<std::int64_t>(0, lo - step);
    }
  }
  while (lo <= hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    const std::int32_t c = cell_at(mid);
    if (c == cell) {
      last_entry_ = mid;
      const std::uint8_t* e = table + mid * kCollCellEntrySize;
      *records = plr_.base + Load<std::uint32_t>(e + 4);
      return Load<std::uint32_t>(e + 8);
    }
    if (c < cell) lo = mid + 1;
    else hi = mid - 1;
  }
  return 0;
}

int Collection::RegionsAt(cells::CellIndex& idx, std::int32_t cell, const DirectionCosines& p,
                          std::uint32_t* out, int out_cap) {
  if (!rcells_ || rcell_count_ == 0 || cell < 0 || static_cast<std::size_t>(cell) >= cell_entry_.size()) return 0;
  const std::int32_t at = cell_entry_[static_cast<std::size_t>(cell)];
  if (at < 0) return 0;
  const std::uint8_t* entry = rcells_ + std::int64_t{at} * kCollRegionCellSize;
  PlanePoint q;
  if (geodesy::ProjectToFrame(frames_[static_cast<std::size_t>(at)], p, q.u, q.v) != 0) return 0;
  const std::uint32_t n = Load<std::uint32_t>(entry + 4), first = Load<std::uint32_t>(entry + 8);
  int found = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint8_t* c = cands_ + (std::uint64_t{first} + k) * kCollCandidateSize;
    const std::uint32_t region = Load<std::uint32_t>(c);
    const float r2 = Load<float>(c + 4);
    bool inside;
    if (r2 == kCollInsideRadius) {
      inside = true;
    } else {
      if (r2 < 1.0f) {
        const double du = q.u - Load<float>(c + 8), dv = q.v - Load<float>(c + 12);
        if (du * du + dv * dv > static_cast<double>(r2) + kCollCircleSlack) continue;
      }
      // The answer of q7_RsetPointTestInCell with the default fuzz.
      RsetCellTest& t = tests_[std::uint64_t{first} + k];
      if (t.cell != cell) PrepareRsetCellTest(idx, cell, regions_[region].obj, 0.0, t);
      inside = RsetCellTestAt(idx, regions_[region].obj, t, q) > 0;
    }
    if (!inside) continue;
    if (found < out_cap) out[found] = region;
    ++found;
    if (found > out_cap) break;
  }
  return found;
}

Collection::Nearest Collection::NearestTo(cells::CellIndex& idx, std::int32_t cell, const DirectionCosines& p,
                                          int search_dim) {
  Nearest best;
  if (!plr_.base || cell < 0 || cell >= idx.cell_count || ring_mark_.empty()) return best;
  if (++generation_ == 0x7FFFFFFF) {
    std::fill(ring_mark_.begin(), ring_mark_.end(), 0);
    generation_ = 1;
  }
  const bool legs = header_.dimension != 0;
  // Points are compared by squared chord (monotonic in the angle, exact for
  // near points); the angle is worked out for a new best only.
  double best_chord2 = 5.0;
  auto chord2 = [&](const DirectionCosines& x) {
    const double dx = x.x - p.x, dy = x.y - p.y, dz = x.z - p.z;
    return dx * dx + dy * dy + dz * dz;
  };
  auto search_cell = [&](std::int32_t c) {
    const std::uint8_t* rec;
    const std::uint32_t n = CellRecords(c, &rec);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!legs) {
        const std::uint8_t* r = rec + std::uint64_t{i} * kCollPointRecordSize;
        const DirectionCosines x = LoadVec(r);
        const double c2 = chord2(x);
        if (!best.found || c2 < best_chord2) {
          best_chord2 = c2;
          best.found = true;
          best.angle = CollAngle(x, p);
          best.where = x;
          best.datum = Load<std::uint32_t>(r + 24);
          best.item = Load<std::uint32_t>(r + 28);
        }
        continue;
      }
      const std::uint8_t* r = rec + std::uint64_t{i} * kCollLegRecordSize;
      const DirectionCosines a = LoadVec(r), b = LoadVec(r + 24);
      const std::uint32_t datum = Load<std::uint32_t>(r + 48), item = Load<std::uint32_t>(r + 52);
      if (search_dim == 0) {
        for (const DirectionCosines& x : {a, b}) {
          const double c2 = chord2(x);
          if (!best.found || c2 < best_chord2) {
            best_chord2 = c2;
            best = {true, item, datum, CollAngle(x, p), x, 0, 0};
          }
        }
      } else {
        DirectionCosines at;
        int side = 0;
        const double d = CollLegDistance(a, b, p, &at, &side);
        if (!best.found || d < best.angle) best = {true, item, datum, d, at, side, 0};
      }
    }
  };
  // The window: the cell and its neighbours; then rings of neighbours.
  std::vector<std::int32_t> ring{cell}, next;
  ring_mark_[cell] = generation_;
  const DirectionCosines c0 = idx.cells[cell]->centre;
  int depth = 0;
  while (!ring.empty()) {
    for (std::int32_t c : ring) search_cell(c);
    next.clear();
    for (std::int32_t c : ring) {
      const cells::CellRecord* rc = idx.cells[c];
      for (int k = 0; k < rc->neighbour_count; ++k) {
        const std::int32_t nb = rc->neighbours[k];
        if (nb < 0 || nb >= idx.cell_count || ring_mark_[nb] == generation_) continue;
        ring_mark_[nb] = generation_;
        next.push_back(nb);
      }
    }
    ring.swap(next);
    ++depth;
    if (depth < 2 || !best.found) continue;
    // Anything unsearched lies in a cell n of the new ring or beyond it, on
    // n's side of the bisector of p's cell centre and n's centre.
    double guarantee = M_PI;
    for (std::int32_t n : ring) {
      const DirectionCosines cn = idx.cells[n]->centre;
      const DirectionCosines d{c0.x - cn.x, c0.y - cn.y, c0.z - cn.z};
      const double dl = std::sqrt(geodesy::Dot(d, d));
      if (dl <= 0) {
        guarantee = 0;
        break;
      }
      guarantee = std::min(guarantee, std::asin(std::clamp(geodesy::Dot(p, d) / dl, -1.0, 1.0)));
    }
    if (best.angle <= guarantee) break;
  }
  best.rings_searched = depth > 2 ? depth - 2 : 0;
  return best;
}

}  // namespace ops
