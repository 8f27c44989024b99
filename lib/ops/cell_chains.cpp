// Gathering the chains of one cell: a binary search finds the cell's entries
// in the object's cell index; each entry names an item and a piece, whose
// vertex records are restored straight to plane coordinates (the records are
// stored about this cell's centre). The neighbouring vertices come from the
// pieces before and after, restored to unit vectors in their own cells and
// projected into this cell's frame.
#include "lib/ops/cell_chains.h"

#include <cmath>

#include "lib/geodesy/tangent_frame.h"

namespace ops {

using cells::Object;

namespace {

// Smallest c.p kept for a projected vertex (cos 87 degrees).
constexpr double kMinDepth = 0.05233595624294383;

struct Frame {
  geodesy::TangentFrame f;
  double Depth(const geodesy::DirectionCosines& p) const { return geodesy::Dot(f.c, p); }
  PlanePoint Project(const geodesy::DirectionCosines& p) const {
    const double d = Depth(p);
    return {(f.ex * p.x + f.ey * p.y) / d, (f.nx * p.x + f.ny * p.y + f.nz * p.z) / d};
  }
};

geodesy::DirectionCosines Restore3(cells::CellIndex& idx, std::int32_t cell, const std::uint8_t* rec,
                                   int res) {
  geodesy::DirectionCosines p;
  cells::Restore(idx, cell, rec, res, p);
  return p;
}

// The m-th vertex (m = 1, 2) before (dir -1) or after (dir +1) the vertices
// of piece k of the item, as a unit vector; false when a line ends first.
bool Neighbour(cells::CellIndex& idx, const Object& obj, const cells::Item& it, std::int64_t k,
               int dir, int m, geodesy::DirectionCosines& p, std::int32_t* from_cell) {
  const bool closed = obj.kind == cells::kRset;
  const int rs = cells::RecordSize(obj.res);
  std::int64_t j = k;
  for (std::int64_t step = 0; step <= it.count; ++step) {
    j += dir;
    if (j < 0 || j >= it.count) {
      if (!closed) return false;
      j = j < 0 ? it.count - 1 : 0;
    }
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, j));
    if (pc.count <= 0) continue;
    if (pc.count < m) {
      m -= pc.count;
      continue;
    }
    const std::int64_t i = dir < 0 ? pc.count - m : m - 1;
    *from_cell = pc.cell;
    p = Restore3(idx, pc.cell, obj.coords + pc.offset + i * rs, obj.res);
    return true;
  }
  return false;
}

void Push(std::vector<PlanePoint>& pts, std::size_t chain_start, PlanePoint q) {
  if (pts.size() > chain_start && pts.back().u == q.u && pts.back().v == q.v) return;
  pts.push_back(q);
}

}  // namespace

PlanePoint RestorePlane(const cells::CellIndex& idx, std::int32_t cell, const std::uint8_t* rec,
                        int res) {
  double u, v;
  std::uint32_t attr;
  cells::RecordValues(rec, res, &u, &v, &attr);
  const int form = cells::ResForm(res);
  if (form <= 3) {
    const double f = idx.cells[cell]->scale / 32766.0 / cells::kFormScale[form - 1];
    u *= f;
    v *= f;
  }
  return {u, v};
}

void CellPieceRange(const Object& obj, std::int32_t cell, std::int64_t* first, std::int64_t* last) {
  std::int64_t lo = 0, hi = cells::CellIndexCount(obj);
  while (lo < hi) {
    const std::int64_t mid = (lo + hi) / 2;
    if (cells::Load<std::int32_t>(cells::PieceRefAt(obj, mid)) < cell) lo = mid + 1;
    else hi = mid;
  }
  std::int64_t e = lo;
  const std::int64_t n = cells::CellIndexCount(obj);
  while (e < n && cells::Load<std::int32_t>(cells::PieceRefAt(obj, e)) == cell) ++e;
  *first = lo;
  *last = e;
}

bool HasPiecesIn(const Object& obj, std::int32_t cell) {
  std::int64_t a, b;
  CellPieceRange(obj, cell, &a, &b);
  return b > a;
}

int GatherCellChains(cells::CellIndex& idx, const Object& obj, std::int32_t cell, CellChains& ch) {
  ch.cell = cell;
  ch.points.clear();
  ch.start.assign(1, 0);
  ch.item.clear();
  ch.open_start.clear();
  ch.open_end.clear();
  ch.xbd.clear();
  ch.guard_start.clear();
  ch.guard_end.clear();
  std::int64_t first, last;
  CellPieceRange(obj, cell, &first, &last);
  if (first == last) return 0;
  const Frame frame{geodesy::BuildTangentFrame(idx.cells[cell]->centre)};
  const int rs = cells::RecordSize(obj.res);
  for (std::int64_t e = first; e < last; ++e) {
    const cells::PieceRef ref = cells::LoadPieceRef(cells::PieceRefAt(obj, e));
    if (ref.item < 0 || ref.item >= cells::ItemCount(obj)) continue;
    const cells::Item it = cells::LoadItem(cells::ItemAt(obj, ref.item));
    if (ref.piece < 0 || ref.piece >= it.count) continue;
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, ref.piece));
    const std::size_t s = ch.points.size();
    const std::uint8_t* own = obj.coords + pc.offset;

    geodesy::DirectionCosines before{}, after{}, before2{}, after2{};
    std::int32_t bcell = 0, acell = 0, b2cell = 0, a2cell = 0;
    const bool has_before = Neighbour(idx, obj, it, ref.piece, -1, 1, before, &bcell);
    const bool has_after = Neighbour(idx, obj, it, ref.piece, +1, 1, after, &acell);
    const bool has_before2 = has_before && Neighbour(idx, obj, it, ref.piece, -1, 2, before2, &b2cell);
    const bool has_after2 = has_after && Neighbour(idx, obj, it, ref.piece, +1, 2, after2, &a2cell);

    // The in-cell end of the legs to the neighbours, for moving a far vertex.
    geodesy::DirectionCosines near_first{}, near_last{};
    if (pc.count > 0) {
      near_first = Restore3(idx, cell, own, obj.res);
      near_last = Restore3(idx, cell, own + static_cast<std::int64_t>(pc.count - 1) * rs, obj.res);
    } else {
      near_first = after;
      near_last = before;
    }
    auto place = [&](const geodesy::DirectionCosines& p, const geodesy::DirectionCosines& other) {
      const double dp = frame.Depth(p);
      if (dp >= kMinDepth) return frame.Project(p);
      // Move along the chord towards the other end: the chord point has the
      // same gnomonic image as the arc point in its direction.
      const double dq = frame.Depth(other);
      if (dq <= dp) return frame.Project(other);  // both far: the leg misses the cell
      const double t = (dq - kMinDepth) / (dq - dp);
      const geodesy::DirectionCosines m{other.x + t * (p.x - other.x), other.y + t * (p.y - other.y),
                                        other.z + t * (p.z - other.z)};
      return frame.Project(m);
    };
    // The guard vertices beyond the chain's ends only serve the side rule at
    // the end vertices; they are kept when they are distinct points.
    std::uint8_t guard_start = 0, guard_end = 0;
    PlanePoint bp{}, b2p{};
    if (has_before) {
      bp = place(before, near_first);
      if (has_before2 && frame.Depth(before2) >= kMinDepth && frame.Depth(before) >= kMinDepth) {
        b2p = frame.Project(before2);
        if (b2p.u != bp.u || b2p.v != bp.v) {
          ch.points.push_back(b2p);
          guard_start = 1;
        }
      }
      Push(ch.points, s + guard_start, bp);
    }
    for (std::int32_t i = 0; i < pc.count; ++i)
      Push(ch.points, s + guard_start, RestorePlane(idx, cell, own + static_cast<std::int64_t>(i) * rs, obj.res));
    if (has_after) {
      const PlanePoint ap = place(after, near_last);
      Push(ch.points, s + guard_start, ap);
      if (has_after2 && frame.Depth(after2) >= kMinDepth && frame.Depth(after) >= kMinDepth) {
        const PlanePoint a2p = frame.Project(after2);
        if (a2p.u != ch.points.back().u || a2p.v != ch.points.back().v) {
          ch.points.push_back(a2p);
          guard_end = 1;
        }
      }
    }
    if (ch.points.size() == s + guard_start) {
      ch.points.resize(s);
      continue;
    }
    (void)bcell; (void)acell; (void)b2cell; (void)a2cell;
    ch.start.push_back(static_cast<std::int32_t>(ch.points.size()));
    ch.item.push_back(ref.item);
    ch.open_start.push_back(has_before ? 0 : 1);
    ch.open_end.push_back(has_after ? 0 : 1);
    ch.guard_start.push_back(guard_start);
    ch.guard_end.push_back(guard_end);
    ch.xbd.push_back(pc.xbd);
  }
  return ch.Count();
}

}  // namespace ops
