// Gathering the chains of one cell: a binary search finds the cell's entries
// in the object's cell index; each entry names an item and a piece, whose
// vertex records are restored straight to plane coordinates (the records are
// stored about this cell's centre). From the piece the item is followed
// backwards and forwards, vertex by vertex (restored in their own cells and
// projected into this one), until a leg leaves the cell's Voronoi polygon:
// that leg is cut at the polygon's edge (Cyrus-Beck) and ends the chain.
#include "lib/ops/cell_chains.h"

#include <algorithm>
#include <cmath>

#include "lib/cells/cell_locate.h"
#include "lib/geodesy/tangent_frame.h"

namespace ops {

using cells::Object;

namespace {

// Smallest c.p kept for a projected vertex (cos 87 degrees).
constexpr double kMinDepth = 0.05233595624294383;
// Widening of the cell polygon (plane units, about 0.2 m on the earth): a
// point located in the cell may lie this far beyond its exact edge.
constexpr double kCellMargin = 3.2e-8;

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
               int dir, int m, geodesy::DirectionCosines& p, std::int32_t* from_cell,
               const std::uint8_t** from_rec = nullptr) {
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
    if (from_rec) *from_rec = obj.coords + pc.offset + i * rs;
    p = Restore3(idx, pc.cell, obj.coords + pc.offset + i * rs, obj.res);
    return true;
  }
  return false;
}

void Push(std::vector<PlanePoint>& pts, std::size_t chain_start, PlanePoint q) {
  if (pts.size() > chain_start && pts.back().u == q.u && pts.back().v == q.v) return;
  pts.push_back(q);
}

// The cell's Voronoi polygon in its plane, counterclockwise, widened by
// kCellMargin so that a boundary running along the cell's edge is kept.
}  // namespace

void CellPolygonInPlane(const cells::CellIndex& idx, std::int32_t cell, std::vector<PlanePoint>& poly) {
  const Frame frame{geodesy::BuildTangentFrame(idx.cells[cell]->centre)};
  poly.clear();
  const int n = idx.cells[cell]->neighbour_count;
  for (int k = 0; k < n; ++k) {
    geodesy::DirectionCosines v;
    if (cells::VoronoiVertex(idx, cell, k, v) <= 0 || frame.Depth(v) < kMinDepth) {
      poly.clear();  // no usable polygon: nothing is cut
      return;
    }
    const PlanePoint q = frame.Project(v);
    const double r = std::hypot(q.u, q.v);
    const double grow = r > 0.0 ? (r + kCellMargin) / r : 1.0;
    poly.push_back({q.u * grow, q.v * grow});
  }
}

// Cuts the segment p0-p1 to the convex polygon (Cyrus-Beck): -1 when nothing
// of it lies inside, else bit 0 when p0 was moved and bit 1 when p1 was. An
// empty polygon cuts nothing.
int ClipSegmentToPolygon(const std::vector<PlanePoint>& poly, PlanePoint& p0, PlanePoint& p1) {
  const int n = static_cast<int>(poly.size());
  if (n < 3) return 0;
  double t0 = 0.0, t1 = 1.0;
  const double du = p1.u - p0.u, dv = p1.v - p0.v;
  for (int i = 0; i < n; ++i) {
    const PlanePoint a = poly[i], b = poly[(i + 1) % n];
    const double eu = b.u - a.u, ev = b.v - a.v;
    // Inside is to the left of the edge: side(p) = e x (p - a) >= 0.
    const double s0 = eu * (p0.v - a.v) - ev * (p0.u - a.u);
    const double ds = eu * dv - ev * du;
    if (ds == 0.0) {
      if (s0 < 0.0) return -1;
      continue;
    }
    const double t = -s0 / ds;
    if (ds > 0.0) t0 = std::max(t0, t);
    else t1 = std::min(t1, t);
    if (t0 > t1) return -1;
  }
  const PlanePoint q0 = {p0.u + t0 * du, p0.v + t0 * dv};
  const PlanePoint q1 = {p0.u + t1 * du, p0.v + t1 * dv};
  p0 = q0;
  p1 = q1;
  return (t0 > 0.0 ? 1 : 0) | (t1 < 1.0 ? 2 : 0);
}


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

int GatherCellChains(cells::CellIndex& idx, const Object& obj, std::int32_t cell, CellChains& ch, bool ring_once) {
  ch.cell = cell;
  ch.points.clear();
  ch.start.assign(1, 0);
  ch.item.clear();
  ch.open_start.clear();
  ch.open_end.clear();
  ch.xbd.clear();
  std::int64_t first, last;
  CellPieceRange(obj, cell, &first, &last);
  if (first == last) return 0;
  const Frame frame{geodesy::BuildTangentFrame(idx.cells[cell]->centre)};
  std::vector<PlanePoint>& polygon = ch.polygon;
  CellPolygonInPlane(idx, cell, polygon);
  std::vector<PlanePoint> scratch_front, scratch_back, scratch_core;
  const int rs = cells::RecordSize(obj.res);
  for (std::int64_t e = first; e < last; ++e) {
    const cells::PieceRef ref = cells::LoadPieceRef(cells::PieceRefAt(obj, e));
    if (ref.item < 0 || ref.item >= cells::ItemCount(obj)) continue;
    const cells::Item it = cells::LoadItem(cells::ItemAt(obj, ref.item));
    if (ref.piece < 0 || ref.piece >= it.count) continue;
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, ref.piece));
    const std::size_t s = ch.points.size();
    const std::uint8_t* own = obj.coords + pc.offset;

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
    geodesy::DirectionCosines v{};
    std::int32_t vcell = 0;
    const std::uint8_t* vrec = nullptr;
    bool open_start = false, open_end = false;
    // A vertex stored in this cell is read straight from its record, so that
    // every copy of it in the chains is the same plane point to the last bit.
    auto place_vertex = [&](const geodesy::DirectionCosines& p, const geodesy::DirectionCosines& other) {
      if (vcell == cell && vrec) return RestorePlane(idx, cell, vrec, obj.res);
      return place(p, other);
    };

    // The piece's own vertices, extended backwards and forwards along the
    // item until a leg leaves the cell (it is cut at the cell's edge) or the
    // line ends. Vertices of other pieces that still lie in the cell are
    // taken in, so every vertex of the chain but its ends has both legs. A
    // piece without vertices (the item only crosses the cell) starts from
    // the leg between the vertices before and after it.
    std::int64_t total = 0;
    for (std::int64_t j = 0; j < it.count; ++j)
      total += cells::LoadPiece(cells::PieceAt(obj, it, j)).count;
    std::vector<PlanePoint>& front = scratch_front;  // in reverse order
    std::vector<PlanePoint>& back = scratch_back;
    std::vector<PlanePoint>& core = scratch_core;
    front.clear();
    back.clear();
    core.clear();
    geodesy::DirectionCosines inner{}, outer{};
    PlanePoint inner_p{}, outer_p{};
    std::int64_t back_from = 1, front_from = 1;
    bool walk_front = true, walk_back = true;
    if (pc.count == 0) {
      geodesy::DirectionCosines b{}, a{};
      std::int32_t bc = 0, ac = 0;
      const std::uint8_t *brec = nullptr, *arec = nullptr;
      if (!Neighbour(idx, obj, it, ref.piece, -1, 1, b, &bc, &brec) ||
          !Neighbour(idx, obj, it, ref.piece, +1, 1, a, &ac, &arec))
        continue;
      PlanePoint p0 = bc == cell ? RestorePlane(idx, cell, brec, obj.res) : place(b, a);
      PlanePoint p1 = ac == cell ? RestorePlane(idx, cell, arec, obj.res) : place(a, b);
      const int cut = ClipSegmentToPolygon(polygon, p0, p1);
      if (cut < 0) continue;
      front.push_back(p0);
      core.push_back(p1);
      inner = b, inner_p = p0, outer = a, outer_p = p1;
      back_from = 2, front_from = 2;
      walk_back = !(cut & 1);
      walk_front = !(cut & 2);
    } else {
      for (std::int32_t i = 0; i < pc.count; ++i)
        core.push_back(RestorePlane(idx, cell, own + static_cast<std::int64_t>(i) * rs, obj.res));
      inner = Restore3(idx, cell, own, obj.res);
      inner_p = core.front();
      outer = Restore3(idx, cell, own + static_cast<std::int64_t>(pc.count - 1) * rs, obj.res);
      outer_p = core.back();
    }
    // A ring that stays in the cell is walked round once: the chain is its
    // vertices with one leg more at each end (the vertex before the first
    // and the one after the last), so every vertex of it has both its legs
    // inside the chain. Walking on would lay the ring over itself and end the
    // chain at a vertex whose side would then be taken from one leg alone.
    const std::int64_t others = total - pc.count;
    const std::int64_t back_limit = ring_once ? others + 1 : total;
    if (ring_once && pc.count > 0 && others == 0 && pc.count >= 2) {
      // The whole ring is this piece: its ends are copies of its own plane
      // points, bit for bit, so that a vertex met at a chain end is never
      // nearer than the same vertex inside the chain.
      front.push_back(core.back());
      back.push_back(core.front());
      walk_back = walk_front = false;
    }
    for (std::int64_t m = back_from; walk_back && m <= std::min(total, back_limit); ++m) {
      if (!Neighbour(idx, obj, it, ref.piece, -1, static_cast<int>(m), v, &vcell, &vrec)) {
        open_start = true;
        break;
      }
      PlanePoint p0 = place_vertex(v, inner), p1 = inner_p;
      const int cut = ClipSegmentToPolygon(polygon, p0, p1);
      if (cut < 0) break;
      front.push_back(p0);
      if (cut & 1) break;
      inner = v;
      inner_p = p0;
    }
    const std::int64_t front_limit =
        ring_once ? std::max<std::int64_t>(1, others + 2 - static_cast<std::int64_t>(front.size())) : total;
    for (std::int64_t m = front_from; walk_front && m <= std::min(total, front_limit + front_from - 1); ++m) {
      if (!Neighbour(idx, obj, it, ref.piece, +1, static_cast<int>(m), v, &vcell, &vrec)) {
        open_end = true;
        break;
      }
      PlanePoint p0 = outer_p, p1 = place_vertex(v, outer);
      const int cut = ClipSegmentToPolygon(polygon, p0, p1);
      if (cut < 0) break;
      back.push_back(p1);
      if (cut & 2) break;
      outer = v;
      outer_p = p1;
    }
    for (std::size_t i = front.size(); i-- > 0;) Push(ch.points, s, front[i]);
    for (const PlanePoint& q : core) Push(ch.points, s, q);
    for (const PlanePoint& q : back) Push(ch.points, s, q);
    const bool has_before = !open_start, has_after = !open_end;
    if (ch.points.size() == s) continue;
    ch.start.push_back(static_cast<std::int32_t>(ch.points.size()));
    ch.item.push_back(ref.item);
    ch.open_start.push_back(has_before ? 0 : 1);
    ch.open_end.push_back(has_after ? 0 : 1);
    ch.xbd.push_back(pc.xbd);
  }
  return ch.Count();
}

}  // namespace ops

namespace ops {

int GatherCellLegs3(cells::CellIndex& idx, const Object& obj, std::int32_t cell, CellLegs3& legs) {
  legs.points.clear();
  legs.start.assign(1, 0);
  legs.xbd.clear();
  legs.item.clear();
  std::int64_t first, last;
  CellPieceRange(obj, cell, &first, &last);
  const int rs = cells::RecordSize(obj.res);
  for (std::int64_t e = first; e < last; ++e) {
    const cells::PieceRef ref = cells::LoadPieceRef(cells::PieceRefAt(obj, e));
    if (ref.item < 0 || ref.item >= cells::ItemCount(obj)) continue;
    const cells::Item it = cells::LoadItem(cells::ItemAt(obj, ref.item));
    if (ref.piece < 0 || ref.piece >= it.count) continue;
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, ref.piece));
    geodesy::DirectionCosines v;
    std::int32_t vcell = 0;
    const std::size_t s = legs.points.size();
    if (Neighbour(idx, obj, it, ref.piece, -1, 1, v, &vcell)) legs.points.push_back(v);
    for (std::int32_t i = 0; i < pc.count; ++i)
      legs.points.push_back(Restore3(idx, cell, obj.coords + pc.offset + static_cast<std::int64_t>(i) * rs, obj.res));
    if (Neighbour(idx, obj, it, ref.piece, +1, 1, v, &vcell)) legs.points.push_back(v);
    if (legs.points.size() == s) continue;
    legs.start.push_back(static_cast<std::int32_t>(legs.points.size()));
    legs.xbd.push_back(pc.xbd);
    legs.item.push_back(ref.item);
  }
  return legs.Count();
}

}  // namespace ops
