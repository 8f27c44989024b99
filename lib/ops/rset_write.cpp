#include "lib/ops/rset_write.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/cells/cell_list.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/ellipsoid.h"

namespace ops {

using geodesy::DirectionCosines;

namespace {

inline std::int64_t Align8(std::int64_t n) { return (n + 7) & ~std::int64_t{7}; }

// The three sections from the target in one go; nothing kept on failure.
int Take(cells::SectionTarget t, std::int64_t env, std::int64_t st, std::int64_t co,
         std::uint8_t** e, std::uint8_t** s, std::uint8_t** c) {
  if (env > 0x7FFFFFF8 || st > 0x7FFFFFF8 || co > 0x7FFFFFF8) return 8;
  if (t.arena) {
    platform::Workspace* a = t.arena;
    std::uint8_t* mark = a->top;
    std::uint8_t** dst[3] = {e, s, c};
    const std::int64_t size[3] = {env, st, co};
    for (int i = 0; i < 3; ++i) {
      if (size[i] == 0) {
        *dst[i] = a->top;
        continue;
      }
      *dst[i] = static_cast<std::uint8_t*>(platform::WorkspaceAlloc(a, static_cast<std::int32_t>(size[i])));
      if (!*dst[i]) {
        platform::WorkspaceSetTop(a, mark);
        return 8;
      }
    }
    return 0;
  }
  if (!t.heap) return 1;
  try {
    t.heap->assign(static_cast<std::size_t>(std::max<std::int64_t>(env + st + co, 8)), 0);
  } catch (const std::bad_alloc&) {
    return 8;
  }
  *e = t.heap->data();
  *s = *e + env;
  *c = *s + st;
  return 0;
}

// The boundary parameter of entering `next` from `prev` where the chord a-b
// crosses the bisector of their centres (for rings whose closing leg was not
// stored as a piece).
double EntryParameter(const cells::CellIndex& idx, std::int32_t prev, std::int32_t next,
                      const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines& pa = idx.cells[prev]->centre;
  const DirectionCosines& pb = idx.cells[next]->centre;
  const DirectionCosines d{pa.x - pb.x, pa.y - pb.y, pa.z - pb.z};
  const double da = geodesy::Dot(a, d), db = geodesy::Dot(b, d);
  const double t = da != db ? std::clamp(da / (da - db), 0.0, 1.0) : 0.5;
  DirectionCosines x = geodesy::Normalised({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)});
  DirectionCosines n = geodesy::Normalised(geodesy::Cross(pa, pb));
  if (!geodesy::IsValid(x) || !geodesy::IsValid(n)) return 0.0;
  return geodesy::Dot(x, n);
}

}  // namespace

int WriteRsetRaw(cells::CellIndex& idx, cells::SectionTarget target, const cells::BuildParams& params,
                 const std::vector<RawRing>& rings, const std::vector<RawPiece>& pieces,
                 const std::vector<std::int32_t>& blist, const std::vector<std::int32_t>& ilist,
                 cells::Object& out) {
  if (params.id == 0 || !cells::ResValid(params.res)) return 1;
  try {
    const std::int64_t items = static_cast<std::int64_t>(rings.size());
    const std::int64_t npieces = static_cast<std::int64_t>(pieces.size());
    std::vector<cells::PieceRef> refs;
    refs.reserve(pieces.size());
    std::int64_t nverts = 0;
    for (std::int64_t i = 0; i < items; ++i)
      for (std::int64_t k = 0; k < rings[i].count; ++k) {
        const RawPiece& p = pieces[rings[i].first + k];
        refs.push_back({p.cell, static_cast<std::int32_t>(i), static_cast<std::int32_t>(k)});
        nverts += p.count;
      }
    std::sort(refs.begin(), refs.end(), [](const cells::PieceRef& a, const cells::PieceRef& b) {
      if (a.cell != b.cell) return a.cell < b.cell;
      if (a.item != b.item) return a.item < b.item;
      return a.piece < b.piece;
    });
    const std::int64_t rec = cells::RecordSize(params.res);
    const std::int64_t env_b = static_cast<std::int64_t>(blist.size()) * 4;
    const std::int64_t env = Align8(env_b + static_cast<std::int64_t>(ilist.size()) * 4);
    const std::int64_t npieces_used = static_cast<std::int64_t>(refs.size());
    const std::int64_t it_off = npieces_used * cells::kPieceRefSize;
    const std::int64_t pc_off = Align8(it_off + items * cells::kItemSize);
    const std::int64_t st = Align8(pc_off + npieces_used * cells::kPieceSize);
    const std::int64_t co = Align8(nverts * rec);
    (void)npieces;
    std::uint8_t *e = nullptr, *s = nullptr, *c = nullptr;
    if (int status = Take(target, env, st, co, &e, &s, &c)) return status;
    std::memset(e, 0, env);
    std::memset(s, 0, st);
    std::memcpy(e, blist.data(), blist.size() * 4);
    std::memcpy(e + env_b, ilist.data(), ilist.size() * 4);
    // Piece k of ring i sits at pc_off + (ring's first used piece + k).
    std::vector<std::int64_t> ring_base(items + 1, 0);
    for (std::int64_t i = 0; i < items; ++i) ring_base[i + 1] = ring_base[i] + rings[i].count;
    for (std::int64_t i = 0; i < npieces_used; ++i)
      cells::StorePieceRef(s + i * cells::kPieceRefSize, refs[i]);
    for (std::int64_t i = 0; i < items; ++i)
      cells::StoreItem(s + it_off + i * cells::kItemSize,
                       {rings[i].id, static_cast<std::int32_t>(pc_off + ring_base[i] * cells::kPieceSize),
                        static_cast<std::int32_t>(rings[i].count)});
    std::int64_t off = 0;
    for (const cells::PieceRef& r : refs) {
      const RawPiece& p = pieces[rings[r.item].first + r.piece];
      const std::int64_t k = ring_base[r.item] + r.piece;
      cells::StorePiece(s + pc_off + k * cells::kPieceSize,
                        {p.cell, p.count, static_cast<std::int32_t>(off), p.xbd});
      if (p.count > 0) std::memcpy(c + off, p.records, static_cast<std::size_t>(p.count * rec));
      off += p.count * rec;
    }
    out = cells::Object{};
    out.release = static_cast<std::uint16_t>(geodesy::LIBRARY_RELEASE);
    out.kind = cells::kRset;
    out.id = params.id;
    out.klass = params.klass;
    out.vix_id = idx.index_id;
    out.res = static_cast<std::uint16_t>(params.res);
    out.prec = static_cast<std::uint16_t>(params.prec);
    out.env = e;
    out.env_size = static_cast<std::uint32_t>(env);
    out.structure = s;
    out.struct_size = static_cast<std::uint32_t>(st);
    out.coords = c;
    out.coord_size = static_cast<std::uint32_t>(co);
    out.kfield[0] = 0;
    out.kfield[1] = env_b;
    out.kfield[2] = 0;
    out.kfield[3] = npieces_used;
    out.kfield[4] = it_off;
    out.kfield[5] = items;
    return 0;
  } catch (const std::bad_alloc&) {
    return 9;
  }
}

int WriteWorldRset(cells::CellIndex& idx, cells::SectionTarget target,
                   const cells::BuildParams& params, cells::Object& out) {
  std::vector<std::int32_t> ilist;
  if (idx.cell_count == 1) ilist = {2, 0};
  else if (idx.cell_count == 2) ilist = {3, 0, 1};
  else ilist = {3, 0, -(idx.cell_count - 1)};
  return WriteRsetRaw(idx, target, params, {}, {}, {1}, ilist, out);
}

int WriteNullRset(cells::CellIndex& idx, cells::SectionTarget target,
                  const cells::BuildParams& params, cells::Object& out) {
  return WriteRsetRaw(idx, target, params, {}, {}, {1}, {1}, out);
}

int RewriteRset(cells::CellIndex& idx, cells::SectionTarget target, const cells::BuildParams& params,
                const cells::Object& src, bool reverse,
                const std::vector<std::int32_t>* icells_override, cells::Object& out) {
  if (params.id == 0 || !cells::ResValid(params.res)) return 1;
  try {
    const int src_res = src.res, res = params.res;
    const std::int64_t src_rec = cells::RecordSize(src_res), rec = cells::RecordSize(res);
    const bool same = src_res == res;
    std::vector<std::uint8_t> bytes;
    bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(cells::VertexCount(src), 1) * rec));
    std::vector<RawPiece> pieces;
    std::vector<RawRing> rings;
    std::int64_t used = 0;
    // Appends the records [first, first + n) of piece pc, in order or reversed.
    auto put = [&](const cells::Piece& pc, std::int32_t first, std::int32_t n, bool backwards) {
      const std::uint8_t* start = bytes.data() + used * rec;
      for (std::int32_t j = 0; j < n; ++j) {
        const std::int32_t k = backwards ? first + n - 1 - j : first + j;
        const std::uint8_t* from = src.coords + pc.offset + k * src_rec;
        std::uint8_t* to = bytes.data() + used * rec;
        if (same) {
          std::memcpy(to, from, static_cast<std::size_t>(rec));
        } else {
          DirectionCosines p;
          std::uint64_t attr = 0;
          cells::Restore(idx, pc.cell, from, src_res, p, &attr);
          cells::Quantise(idx, pc.cell, p, attr, to, res);
        }
        ++used;
      }
      return start;
    };
    const std::int64_t nitems = cells::ItemCount(src);
    for (std::int64_t i = 0; i < nitems; ++i) {
      const cells::Item it = cells::LoadItem(cells::ItemAt(src, i));
      RawRing ring{it.id, static_cast<std::int64_t>(pieces.size()), 0};
      std::vector<cells::Piece> p(static_cast<std::size_t>(it.count));
      for (std::int32_t k = 0; k < it.count; ++k) p[k] = cells::LoadPiece(cells::PieceAt(src, it, k));
      const std::int32_t m = it.count;
      if (m == 0) continue;
      if (!reverse) {
        for (std::int32_t k = 0; k < m; ++k)
          pieces.push_back({p[k].cell, p[k].count, put(p[k], 0, p[k].count, false), p[k].xbd});
      } else {
        // The ring starts at the same vertex v0 and runs back: first v0 with
        // the ring's closing vertices (a last piece in the first piece's
        // cell) reversed, then the middle pieces in reverse order, each
        // entered across the crossing it used to leave by (the parameter's
        // sign turns with the direction), then the rest of the first piece.
        const bool closing = m >= 2 && p[m - 1].cell == p[0].cell;
        const std::int32_t last_mid = closing ? m - 2 : m - 1;
        // Piece 0: v0, then the closing piece's vertices reversed.
        {
          const std::uint8_t* at = put(p[0], 0, p[0].count > 0 ? 1 : 0, false);
          std::int32_t n = p[0].count > 0 ? 1 : 0;
          if (closing) {
            put(p[m - 1], 0, p[m - 1].count, true);
            n += p[m - 1].count;
          } else if (m == 1 && p[0].count > 1) {
            put(p[0], 1, p[0].count - 1, true);
            n += p[0].count - 1;
          }
          pieces.push_back({p[0].cell, n, at, cells::kNoCrossing});
        }
        for (std::int32_t k = last_mid; k >= 1; --k) {
          double xbd;
          if (k + 1 < m) {
            xbd = -p[k + 1].xbd;
          } else {
            // The closing leg was not stored: its crossing from the first
            // cell into this one is worked out from the two end vertices.
            DirectionCosines a, b;
            cells::Restore(idx, p[0].cell, src.coords + p[0].offset, src_res, a);
            const cells::Piece* lastv = nullptr;
            for (std::int32_t q = m - 1; q >= 0 && !lastv; --q)
              if (p[q].count > 0) lastv = &p[q];
            b = a;
            if (lastv)
              cells::Restore(idx, lastv->cell, src.coords + lastv->offset + (lastv->count - 1) * src_rec,
                             src_res, b);
            xbd = EntryParameter(idx, p[0].cell, p[k].cell, a, b);
          }
          pieces.push_back({p[k].cell, p[k].count, put(p[k], 0, p[k].count, true), xbd});
        }
        if (m >= 2) {
          const std::int32_t n = std::max(p[0].count - 1, 0);
          pieces.push_back({p[0].cell, n, put(p[0], 1, n, true), -p[1].xbd});
        }
      }
      ring.count = static_cast<std::int64_t>(pieces.size()) - ring.first;
      rings.push_back(ring);
    }
    const std::int32_t* b = cells::EnvelopeList(src, 0);
    const std::int32_t* ic = cells::EnvelopeList(src, 1);
    std::vector<std::int32_t> blist(b, b + b[0]);
    std::vector<std::int32_t> ilist = icells_override ? *icells_override : std::vector<std::int32_t>(ic, ic + ic[0]);
    return WriteRsetRaw(idx, target, params, rings, pieces, blist, ilist, out);
  } catch (const std::bad_alloc&) {
    return 9;
  }
}

}  // namespace ops
