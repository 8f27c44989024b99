// Object records: resolution codes, section record loaders and the checks
// that make a mapped object safe to read.
//
// ObjectValid walks every structure an object reader follows (cell lists,
// cell arrays, cell index, items, pieces) and checks each offset and count
// against its section size in 64-bit arithmetic, so that a damaged file can
// be refused before any of its offsets is used.
#include "lib/cells/object_model.h"

#include "lib/cells/cell_list.h"

#include <limits>

namespace cells {

bool ResValid(int res) {
  if (res < 0 || res > 65279) return false;
  int form = ResForm(res);
  if ((res & 0xFE) == 0 || (res & 0xFF) > 11 || form < 1 || form > 5) return false;
  if (res >= 256 && (res & 1) == 0) return false;
  int coord = FormCoordSize(form);
  int attr = RecordSize(res) - coord;
  if (coord < 8 && attr > coord) return false;
  return true;
}

PsetCell LoadPsetCell(const std::uint8_t* p) {
  return {Load<std::int32_t>(p), Load<std::int32_t>(p + 4), Load<std::int32_t>(p + 8)};
}
void StorePsetCell(std::uint8_t* p, const PsetCell& c) {
  Store(p, c.cell);
  Store(p + 4, c.offset);
  Store(p + 8, c.count);
}
PieceRef LoadPieceRef(const std::uint8_t* p) {
  return {Load<std::int32_t>(p), Load<std::int32_t>(p + 4), Load<std::int32_t>(p + 8)};
}
void StorePieceRef(std::uint8_t* p, const PieceRef& r) {
  Store(p, r.cell);
  Store(p + 4, r.item);
  Store(p + 8, r.piece);
}
Item LoadItem(const std::uint8_t* p) {
  return {Load<std::uint32_t>(p), Load<std::int32_t>(p + 4), Load<std::int32_t>(p + 8)};
}
void StoreItem(std::uint8_t* p, const Item& it) {
  Store(p, it.id);
  Store(p + 4, it.first);
  Store(p + 8, it.count);
}
Piece LoadPiece(const std::uint8_t* p) {
  return {Load<std::int32_t>(p), Load<std::int32_t>(p + 4), Load<std::int32_t>(p + 8),
          Load<double>(p + 16)};
}
void StorePiece(std::uint8_t* p, const Piece& pc) {
  Store(p, pc.cell);
  Store(p + 4, pc.count);
  Store(p + 8, pc.offset);
  Store<std::int32_t>(p + 12, 0);
  Store(p + 16, pc.xbd);
}
TinCell LoadTinCell(const std::uint8_t* p) {
  TinCell t;
  t.cell = Load<std::int32_t>(p);
  t.point_offset = Load<std::int32_t>(p + 4);
  t.point_count = Load<std::int32_t>(p + 8);
  t.triangle_offset = Load<std::int32_t>(p + 12);
  t.triangle_count = Load<std::int32_t>(p + 16);
  t.neighbour_offset = Load<std::int32_t>(p + 20);
  t.neighbour_count = Load<std::int32_t>(p + 24);
  t.cptnb = Load<std::int32_t>(p + 28);
  t.cvxnb = Load<std::int32_t>(p + 32);
  for (int i = 0; i < 3; ++i) t.z[i] = Load<float>(p + 36 + 4 * i);
  return t;
}

void StoreTinCell(std::uint8_t* p, const TinCell& t) {
  Store(p, t.cell);
  Store(p + 4, t.point_offset);
  Store(p + 8, t.point_count);
  Store(p + 12, t.triangle_offset);
  Store(p + 16, t.triangle_count);
  Store(p + 20, t.neighbour_offset);
  Store(p + 24, t.neighbour_count);
  Store(p + 28, t.cptnb);
  Store(p + 32, t.cvxnb);
  for (int i = 0; i < 3; ++i) Store(p + 36 + 4 * i, t.z[i]);
}

const std::int32_t* EnvelopeList(const Object& o, int which) {
  std::int64_t off = o.kfield[which == 1 && o.kind == kRset ? 1 : 0];
  return reinterpret_cast<const std::int32_t*>(o.env + off);
}

namespace {

// [off, off + len) inside [0, size)?
bool Inside(std::int64_t off, std::int64_t len, std::int64_t size) {
  return off >= 0 && len >= 0 && off <= size && len <= size - off;
}

bool ListValid(const Object& o, std::int64_t off, std::int64_t cell_limit) {
  if (off % 4 != 0 || !Inside(off, 4, o.env_size)) return false;
  if ((reinterpret_cast<std::uintptr_t>(o.env) & 3) != 0) return false;
  const std::int32_t* list = reinterpret_cast<const std::int32_t*>(o.env + off);
  return CellListValid(list, (o.env_size - off) / 4, cell_limit);
}

bool CellOk(std::int64_t cell, std::int64_t cell_limit) {
  return cell >= 0 && (cell_limit <= 0 || cell < cell_limit);
}

bool PsetValid(const Object& o, std::int64_t cell_limit, int entry_size) {
  if (!ListValid(o, o.kfield[0], cell_limit)) return false;
  std::int64_t off = o.kfield[1], count = o.kfield[2];
  if (count < 0 || !Inside(off, count * entry_size, o.struct_size)) return false;
  const std::int64_t rec = RecordSize(o.res);
  std::int64_t prev = -1;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::uint8_t* p = o.structure + off + i * entry_size;
    std::int64_t cell = Load<std::int32_t>(p);
    std::int64_t voff = Load<std::int32_t>(p + 4), n = Load<std::int32_t>(p + 8);
    if (!CellOk(cell, cell_limit) || cell <= prev) return false;
    prev = cell;
    if (n < 0 || !Inside(voff, n * rec, o.coord_size)) return false;
    if (entry_size == kTinCellSize) {
      for (int k = 0; k < 2; ++k) {
        std::int64_t toff = Load<std::int32_t>(p + 12 + 8 * k);
        std::int64_t tn = Load<std::int32_t>(p + 16 + 8 * k);
        if (tn < 0 || !Inside(toff, tn * 12, o.coord_size)) return false;
      }
      // The triangles name the cell's own points; the neighbour triples, when
      // there are any (one per triangle), name its triangles or -1.
      const std::int64_t toff = Load<std::int32_t>(p + 12), tn = Load<std::int32_t>(p + 16);
      const std::int64_t noff = Load<std::int32_t>(p + 20), nn = Load<std::int32_t>(p + 24);
      if (nn != 0 && nn != tn) return false;
      for (std::int64_t j = 0; j < 3 * tn; ++j) {
        const std::int64_t v = Load<std::int32_t>(o.coords + toff + 4 * j);
        if (v < 0 || v >= n) return false;
      }
      for (std::int64_t j = 0; j < 3 * nn; ++j) {
        const std::int64_t t = Load<std::int32_t>(o.coords + noff + 4 * j);
        if (t < -1 || t >= tn) return false;
      }
    }
  }
  return true;
}

bool LinearValid(const Object& o, std::int64_t cell_limit) {
  const int b = LinearBase(o);
  if (!ListValid(o, o.kfield[0], cell_limit)) return false;
  if (o.kind == kRset && !ListValid(o, o.kfield[1], cell_limit)) return false;
  const std::int64_t ix_off = o.kfield[b + 1], ix_count = o.kfield[b + 2];
  const std::int64_t it_off = o.kfield[b + 3], it_count = o.kfield[b + 4];
  if (ix_count < 0 || !Inside(ix_off, ix_count * kPieceRefSize, o.struct_size)) return false;
  if (it_count < 0 || !Inside(it_off, it_count * kItemSize, o.struct_size)) return false;
  const std::int64_t rec = RecordSize(o.res);
  std::int64_t pieces = 0;
  for (std::int64_t i = 0; i < it_count; ++i) {
    Item it = LoadItem(o.structure + it_off + i * kItemSize);
    if (it.count < 0 || !Inside(it.first, std::int64_t{it.count} * kPieceSize, o.struct_size))
      return false;
    pieces += it.count;
    for (std::int32_t k = 0; k < it.count; ++k) {
      Piece pc = LoadPiece(o.structure + it.first + std::int64_t{k} * kPieceSize);
      if (!CellOk(pc.cell, cell_limit)) return false;
      if (pc.count < 0 || !Inside(pc.offset, std::int64_t{pc.count} * rec, o.coord_size))
        return false;
    }
  }
  if (pieces != ix_count) return false;
  for (std::int64_t i = 0; i < ix_count; ++i) {
    PieceRef r = LoadPieceRef(o.structure + ix_off + i * kPieceRefSize);
    if (r.item < 0 || r.item >= it_count || !CellOk(r.cell, cell_limit)) return false;
    Item it = LoadItem(o.structure + it_off + std::int64_t{r.item} * kItemSize);
    if (r.piece < 0 || r.piece >= it.count) return false;
  }
  return true;
}

}  // namespace

bool ObjectValid(const Object& o, std::int64_t cell_limit) {
  if (!ResValid(o.res)) return false;
  if ((o.env_size > 0 && !o.env) || (o.struct_size > 0 && !o.structure) ||
      (o.coord_size > 0 && !o.coords))
    return false;
  switch (o.kind) {
    case kPset: return PsetValid(o, cell_limit, kPsetCellSize);
    case kTinPset: return PsetValid(o, cell_limit, kTinCellSize);
    case kLset:
    case kRset: return LinearValid(o, cell_limit);
    default: return false;
  }
}

std::int64_t VertexCount(const Object& o) {
  std::int64_t n = 0;
  if (o.kind == kPset) {
    for (std::int64_t i = 0; i < PsetCellCount(o); ++i)
      n += Load<std::int32_t>(o.structure + PsetCellArrayOffset(o) + i * kPsetCellSize + 8);
  } else if (o.kind == kTinPset) {
    for (std::int64_t i = 0; i < PsetCellCount(o); ++i)
      n += TinOwnPoints(LoadTinCell(o.structure + PsetCellArrayOffset(o) + i * kTinCellSize));
  } else {
    for (std::int64_t i = 0; i < ItemCount(o); ++i) {
      Item it = LoadItem(ItemAt(o, i));
      for (std::int32_t k = 0; k < it.count; ++k) n += LoadPiece(PieceAt(o, it, k)).count;
    }
  }
  return n;
}

}  // namespace cells

// ---- quantise and restore ----
//
// The factor caches hold (32766 / s) * K for storing and (s / 32766) / K for
// restoring, per integer form, for the last cell used; the frame cache holds
// the last cell's tangent frame.

namespace cells {

namespace {

const geodesy::TangentFrame& FrameOf(CellIndex& idx, std::int32_t cell) {
  if (idx.frame_cell != cell) {
    idx.frame = geodesy::BuildTangentFrame(idx.cells[cell]->centre);
    idx.frame_cell = cell;
  }
  return idx.frame;
}

double StoreFactor(CellIndex& idx, std::int32_t cell, int form) {
  QuantiserCache& c = idx.store_cache[form - 1];
  if (c.cell != cell) {
    c.cell = cell;
    c.factor = 32766.0 / idx.cells[cell]->scale * kFormScale[form - 1];
  }
  return c.factor;
}

double RestoreFactor(CellIndex& idx, std::int32_t cell, int form) {
  QuantiserCache& c = idx.restore_cache[form - 1];
  if (c.cell != cell) {
    c.cell = cell;
    c.factor = idx.cells[cell]->scale / 32766.0 / kFormScale[form - 1];
  }
  return c.factor;
}

template <typename T>
T Clamped(double x) {
  constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
  constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
  if (!(x > lo)) return x != x ? T{0} : std::numeric_limits<T>::min();
  if (x >= hi) return std::numeric_limits<T>::max();
  return static_cast<T>(x);  // truncation toward zero
}

}  // namespace

std::uint8_t* QuantisePlane(CellIndex& idx, std::int32_t cell, double u, double v,
                            std::uint64_t attribute, std::uint8_t* dst, int res) {
  const int form = ResForm(res);
  std::uint8_t* p = dst;
  if (form <= 3) {
    const double f = StoreFactor(idx, cell, form);
    if (form == 1) {
      Store(p, Clamped<std::int8_t>(u * f));
      Store(p + 1, Clamped<std::int8_t>(v * f));
    } else if (form == 2) {
      Store(p, Clamped<std::int16_t>(u * f));
      Store(p + 2, Clamped<std::int16_t>(v * f));
    } else {
      Store(p, Clamped<std::int32_t>(u * f));
      Store(p + 4, Clamped<std::int32_t>(v * f));
    }
  } else if (form == 4) {
    Store(p, static_cast<float>(u));
    Store(p + 4, static_cast<float>(v));
  } else {
    Store(p, u);
    Store(p + 8, v);
  }
  p += FormCoordSize(form);
  const int size = RecordSize(res);
  if (ResHasAttribute(res)) {
    if (ResWideAttribute(res))
      Store<std::uint64_t>(p, attribute);
    else
      Store<std::uint32_t>(p, static_cast<std::uint32_t>(attribute));
  }
  // Padding words of wide attribute records are written as zero.
  for (std::uint8_t* q = p + (ResWideAttribute(res) ? 8 : (ResHasAttribute(res) ? 4 : 0));
       q < dst + size; ++q)
    *q = 0;
  return dst + size;
}

std::uint8_t* Quantise(CellIndex& idx, std::int32_t cell, const geodesy::DirectionCosines& p,
                       std::uint64_t attribute, std::uint8_t* dst, int res) {
  double u = 0.0, v = 0.0;
  const geodesy::DirectionCosines& c = idx.cells[cell]->centre;
  // The centre itself is (0, 0) exactly; the projection would leave rounding
  // dust of 1e-17 in the unscaled forms.
  if (p.x != c.x || p.y != c.y || p.z != c.z) geodesy::ProjectToFrame(FrameOf(idx, cell), p, u, v);
  return QuantisePlane(idx, cell, u, v, attribute, dst, res);
}

void RecordValues(const std::uint8_t* src, int res, double* a, double* b, std::uint32_t* attr) {
  const int form = ResForm(res);
  switch (form) {
    case 1: *a = Load<std::int8_t>(src); *b = Load<std::int8_t>(src + 1); break;
    case 2: *a = Load<std::int16_t>(src); *b = Load<std::int16_t>(src + 2); break;
    case 3: *a = Load<std::int32_t>(src); *b = Load<std::int32_t>(src + 4); break;
    case 4: *a = Load<float>(src); *b = Load<float>(src + 4); break;
    default: *a = Load<double>(src); *b = Load<double>(src + 8); break;
  }
  *attr = ResHasAttribute(res) ? Load<std::uint32_t>(src + FormCoordSize(form)) : 0;
}

const std::uint8_t* Restore(CellIndex& idx, std::int32_t cell, const std::uint8_t* src, int res,
                            geodesy::DirectionCosines& p, std::uint64_t* attribute) {
  const int form = ResForm(res);
  double u, v;
  std::uint32_t a32;
  RecordValues(src, res, &u, &v, &a32);
  if (form <= 3) {
    const double f = RestoreFactor(idx, cell, form);
    u *= f;
    v *= f;
  }
  p = geodesy::LiftFromFrame(FrameOf(idx, cell), u, v);
  if (attribute) {
    if (!ResHasAttribute(res))
      *attribute = 0;
    else if (ResWideAttribute(res))
      *attribute = Load<std::uint64_t>(src + FormCoordSize(form));
    else
      *attribute = a32;
  }
  return src + RecordSize(res);
}

}  // namespace cells
