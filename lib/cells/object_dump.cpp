// Object dump: walks the sections in stored order and prints every record.
// Addresses are those of the parts in memory ("%p"), so two dumps of one
// object differ only in them.
#include "lib/cells/object_dump.h"

#include <cinttypes>

namespace cells {

namespace {

void Vertex(std::FILE* f, const std::uint8_t* p, int res) {
  double a, b;
  std::uint32_t attr;
  RecordValues(p, res, &a, &b, &attr);
  const int form = ResForm(res);
  if (form == 1)
    std::fprintf(f, "(%d,%d)", static_cast<int>(a), static_cast<int>(b));
  else if (form <= 3)
    std::fprintf(f, "(%d;%d)", static_cast<int>(a), static_cast<int>(b));
  else
    std::fprintf(f, "(%g;%g)", a, b);
  if (ResHasAttribute(res)) std::fprintf(f, " [%d]", static_cast<std::int32_t>(attr));
  std::fputc('\n', f);
}

void List(std::FILE* f, const std::int32_t* list) {
  for (std::int32_t i = 0; i < list[0]; ++i) std::fprintf(f, " %d", list[i]);
  std::fputc('\n', f);
}

}  // namespace

int DumpObjectText(const Object& o, std::FILE* f) {
  const char* name = o.kind == kLset ? "L-set" : o.kind == kRset ? "R-set" : "P-set";
  std::fprintf(f, "* %s; id:%d class:%d vix-id:%d *\n", name, static_cast<int>(o.id),
               static_cast<int>(o.klass), static_cast<int>(o.vix_id));
  std::fprintf(f, "  dim:%d ver:%d, res:%d prec:%d\n", o.kind, o.release, o.res, o.prec);
  std::fprintf(f, "  env.    at:%p size:%d\n", static_cast<void*>(o.env), static_cast<int>(o.env_size));
  std::fprintf(f, "  struct. at:%p size:%d\n", static_cast<void*>(o.structure),
               static_cast<int>(o.struct_size));
  std::fprintf(f, "  coords. at:%p size:%d\n", static_cast<void*>(o.coords),
               static_cast<int>(o.coord_size));
  const int rec = RecordSize(o.res);
  if (o.kind == kPset || o.kind == kTinPset) {
    const std::int32_t* oc = EnvelopeList(o, 0);
    std::fprintf(f, "  o-cells: %p (%d %d)", static_cast<const void*>(oc), oc[0] - 1,
                 static_cast<int>(PsetCellCount(o)));
    List(f, oc);
    const std::uint8_t* arr = o.structure + PsetCellArrayOffset(o);
    if (o.kind == kPset) {
      std::fprintf(f, "cell array at %p size:%d\n", static_cast<const void*>(arr),
                   static_cast<int>(PsetCellCount(o) * kPsetCellSize));
      std::int64_t total = 0;
      for (std::int64_t i = 0; i < PsetCellCount(o); ++i) {
        const std::uint8_t* e = arr + i * kPsetCellSize;
        PsetCell c = LoadPsetCell(e);
        std::fprintf(f, "* Cell: %d, at %p, pts-ofs: %d (n=%d)\n", c.cell,
                     static_cast<const void*>(e), c.offset, c.count);
        for (std::int32_t k = 0; k < c.count; ++k) Vertex(f, o.coords + c.offset + k * rec, o.res);
        total += c.count;
      }
      std::fprintf(f, "  Total points: %d\n", static_cast<int>(total));
    } else {
      std::int64_t points = 0, triangles = 0, neighbours = 0;
      for (std::int64_t i = 0; i < PsetCellCount(o); ++i) {
        const std::uint8_t* e = arr + i * kTinCellSize;
        TinCell t = LoadTinCell(e);
        std::fprintf(f, "* Cell: %d, at %p\n", t.cell, static_cast<const void*>(e));
        std::fprintf(f, "  coords:(%d,%d), trng:(%d,%d)\n", t.point_offset, t.point_count,
                     t.triangle_offset, t.triangle_count);
        std::fprintf(f, "  cptnb:%d, cvxnb:%d, z:%g,%g,%g\n", t.cptnb, t.cvxnb, t.z[0], t.z[1],
                     t.z[2]);
        std::fprintf(f, "  Vertices at %p\n", static_cast<const void*>(o.coords + t.point_offset));
        for (std::int32_t k = 0; k < t.point_count; ++k)
          Vertex(f, o.coords + t.point_offset + k * rec, o.res);
        std::fprintf(f, "  Triangle vertices at %p\n",
                     static_cast<const void*>(o.coords + t.triangle_offset));
        for (std::int32_t k = 0; k < t.triangle_count; ++k) {
          const std::uint8_t* p = o.coords + t.triangle_offset + k * 12;
          std::fprintf(f, "(%d,%d,%d)\n", Load<std::int32_t>(p), Load<std::int32_t>(p + 4),
                       Load<std::int32_t>(p + 8));
        }
        std::fprintf(f, "  Triangle neighbors at %p\n",
                     static_cast<const void*>(o.coords + t.neighbour_offset));
        for (std::int32_t k = 0; k < t.neighbour_count; ++k) {
          const std::uint8_t* p = o.coords + t.neighbour_offset + k * 12;
          std::fprintf(f, "(%d,%d,%d)\n", Load<std::int32_t>(p), Load<std::int32_t>(p + 4),
                       Load<std::int32_t>(p + 8));
        }
        points += TinOwnPoints(t);
        triangles += t.triangle_count;
        neighbours += t.neighbour_count;
      }
      std::fprintf(f, "  Total points: %d\n", static_cast<int>(points));
      std::fprintf(f, "  Total triangles: %d\n", static_cast<int>(triangles));
      std::fprintf(f, "  Total neighbor list: %d\n", static_cast<int>(neighbours));
    }
    return std::ferror(f) ? 1 : 0;
  }
  if (o.kind == kLset) {
    const std::int32_t* tc = EnvelopeList(o, 0);
    std::fprintf(f, "  t-cells: %p (%d)", static_cast<const void*>(tc), tc[0] - 1);
    List(f, tc);
  } else {
    const std::int32_t* ic = EnvelopeList(o, 1);
    std::fprintf(f, "  i-cells: %p (%d)", static_cast<const void*>(ic), ic[0] - 1);
    List(f, ic);
    const std::int32_t* bc = EnvelopeList(o, 0);
    std::fprintf(f, "  b-cells: %p (%d)", static_cast<const void*>(bc), bc[0] - 1);
    List(f, bc);
  }
  std::fprintf(f, "obj/cell index at %p size:%d\n",
               static_cast<const void*>(o.structure + CellIndexOffset(o)),
               static_cast<int>(CellIndexCount(o) * kPieceRefSize));
  for (std::int64_t i = 0; i < CellIndexCount(o); ++i) {
    PieceRef r = LoadPieceRef(PieceRefAt(o, i));
    std::fprintf(f, " Cell: %d ix:(%d,%d)\n", r.cell, r.item, r.piece);
  }
  std::fprintf(f, o.kind == kLset ? "segment array at %p size:%d\n" : "ring array at     %p size:%d\n",
               static_cast<const void*>(o.structure + ItemArrayOffset(o)),
               static_cast<int>(ItemCount(o) * kItemSize));
  std::int64_t total = 0;
  for (std::int64_t i = 0; i < ItemCount(o); ++i) {
    Item it = LoadItem(ItemAt(o, i));
    std::fprintf(f, o.kind == kLset ? " * Seg.at %p, cell ptr: %p (n=%d) id:%u\n"
                                    : " * Rng.at %p, cell ptr: %p (n=%d) id:%u\n",
                 static_cast<const void*>(ItemAt(o, i)),
                 static_cast<const void*>(o.structure + it.first), it.count, it.id);
    for (std::int32_t k = 0; k < it.count; ++k) {
      Piece pc = LoadPiece(PieceAt(o, it, k));
      std::fprintf(f, " * Cell: %d, at %p, vtx-ofs: %d (n=%d) xbd: %20.14e\n", pc.cell,
                   static_cast<const void*>(PieceAt(o, it, k)), pc.offset, pc.count, pc.xbd);
      for (std::int32_t j = 0; j < pc.count; ++j) Vertex(f, o.coords + pc.offset + j * rec, o.res);
      total += pc.count;
    }
  }
  std::fprintf(f, "  Total vertices: %d\n", static_cast<int>(total));
  return std::ferror(f) ? 1 : 0;
}

}  // namespace cells
