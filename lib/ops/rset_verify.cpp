// The boundary and ring topology checks of a region.
//
// The boundary check works in the tangent plane of one cell at a time: the
// legs of the cell are the legs between the vertices stored there, the legs
// that join them to the vertices of the neighbouring pieces, and the legs of
// pieces that only cross the cell, each cut at the cell's (slightly widened)
// Voronoi polygon. Every leg carries its reference and, at each end, the
// vertex it ends at (or a mark that the end was cut at the polygon): a
// contact at a cut end is no fault of this cell, since the same point lies
// well inside the leg in the neighbouring cell that holds it.
//
// The topology check walks a path of great-circle arcs from a point outside
// the region to a point just left of each ring in turn, counting for every
// ring how often the path crosses it: the parity tells on which side of that
// ring the path stands.
#include "lib/ops/rset_verify.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "lib/cells/cell_locate.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/cell_chains.h"
#include "lib/ops/leg_predicates.h"
#include "lib/ops/rset_point_test.h"

namespace ops {

using cells::Object;
using geodesy::ChordSq;
using geodesy::Cross;
using geodesy::DirectionCosines;
using geodesy::Dot;

namespace {

// Smallest c.p kept for a vertex projected into a cell's plane (cos 87°).
constexpr double kMinDepth = 0.05233595624294383;

double Effective(double fuzz) { return fuzz > 0.0 ? fuzz : geodesy::DEFAULT_FUZZ; }

DirectionCosines Normalised(double x, double y, double z) {
  const double n = std::sqrt(x * x + y * y + z * z);
  if (n == 0.0) return {0.0, 0.0, 1.0};
  return {x / n, y / n, z / n};
}

// ---- walking the vertices of a ring ----

struct VertexAt {
  std::int32_t piece = -1;  // piece holding the vertex
  std::int32_t index = 0;   // vertex number in the piece
  std::int32_t cell = 0;
  const std::uint8_t* rec = nullptr;
};

// The first vertex of the next piece with vertices after piece k (round the
// ring), or the last vertex of the previous one; false when the ring has no
// other vertex at all.
bool RingNeighbour(const Object& obj, const cells::Item& it, std::int32_t k, int dir, VertexAt* out) {
  const int rs = cells::RecordSize(obj.res);
  std::int32_t j = k;
  for (std::int32_t step = 0; step < it.count; ++step) {
    j += dir;
    if (j < 0) j = it.count - 1;
    if (j >= it.count) j = 0;
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, j));
    if (pc.count <= 0) continue;
    out->piece = j;
    out->index = dir > 0 ? 0 : pc.count - 1;
    out->cell = pc.cell;
    out->rec = obj.coords + pc.offset + static_cast<std::int64_t>(out->index) * rs;
    return true;
  }
  return false;
}

// ---- the legs of one cell ----

struct CellLeg {
  PlanePoint p0, p1;
  LegRef ref;
  bool cut0 = false, cut1 = false;
  bool is_short = false;
  std::int64_t v0 = -1, v1 = -1;  // vertex record numbers at the ends (-1: cut)
};

struct CellFrame {
  geodesy::TangentFrame f;
  double Depth(const DirectionCosines& p) const { return Dot(f.c, p); }
  PlanePoint Project(const DirectionCosines& p) const {
    const double d = Depth(p);
    return {(f.ex * p.x + f.ey * p.y) / d, (f.nx * p.x + f.ny * p.y + f.nz * p.z) / d};
  }
  // p projected; when p is too far from the centre it is first moved along
  // the chord towards `other` (the same gnomonic image as the arc point).
  PlanePoint Place(const DirectionCosines& p, const DirectionCosines& other) const {
    const double dp = Depth(p);
    if (dp >= kMinDepth) return Project(p);
    const double dq = Depth(other);
    if (dq <= dp) return Project(other);
    const double t = (dq - kMinDepth) / (dq - dp);
    return Project({other.x + t * (p.x - other.x), other.y + t * (p.y - other.y), other.z + t * (p.z - other.z)});
  }
};

struct Gatherer {
  cells::CellIndex& idx;
  const Object& obj;
  double limit;
  int rs;

  DirectionCosines Unit(std::int32_t cell, const std::uint8_t* rec) const {
    DirectionCosines p;
    cells::Restore(idx, cell, rec, obj.res, p);
    return p;
  }
  std::int64_t RecordNumber(const std::uint8_t* rec) const { return (rec - obj.coords) / rs; }

  // The legs of `cell`; false when a piece cannot be read.
  bool Gather(std::int32_t cell, const CellFrame& frame, const std::vector<PlanePoint>& polygon,
              std::vector<CellLeg>& legs) const {
    legs.clear();
    std::int64_t first, last;
    CellPieceRange(obj, cell, &first, &last);
    for (std::int64_t e = first; e < last; ++e) {
      const cells::PieceRef ref = cells::LoadPieceRef(cells::PieceRefAt(obj, e));
      if (ref.item < 0 || ref.item >= cells::ItemCount(obj)) return false;
      const cells::Item it = cells::LoadItem(cells::ItemAt(obj, ref.item));
      if (ref.piece < 0 || ref.piece >= it.count) return false;
      const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, ref.piece));
      VertexAt before, after;
      const bool has_before = RingNeighbour(obj, it, ref.piece, -1, &before);
      const bool has_after = RingNeighbour(obj, it, ref.piece, +1, &after);
      if (pc.count <= 0) {
        if (!has_before || !has_after) continue;
        const DirectionCosines b = Unit(before.cell, before.rec), a = Unit(after.cell, after.rec);
        CellLeg leg;
        leg.p0 = frame.Place(b, a);
        leg.p1 = frame.Place(a, b);
        const int cut = ClipSegmentToPolygon(polygon, leg.p0, leg.p1);
        if (cut < 0) continue;
        leg.cut0 = cut & 1;
        leg.cut1 = cut & 2;
        leg.v0 = leg.cut0 ? -1 : RecordNumber(before.rec);
        leg.v1 = leg.cut1 ? -1 : RecordNumber(after.rec);
        const cells::Piece bp = cells::LoadPiece(cells::PieceAt(obj, it, before.piece));
        leg.ref = {ref.item, before.piece, bp.count - 1};
        legs.push_back(leg);
        continue;
      }
      const std::uint8_t* own = obj.coords + pc.offset;
      auto own_plane = [&](std::int32_t i) {
        return RestorePlane(idx, cell, own + static_cast<std::int64_t>(i) * rs, obj.res);
      };
      // A ring held wholly by this piece closes on itself.
      const bool single = has_after && after.piece == ref.piece;
      // The leg that joins the previous piece to this one belongs to it.
      if (has_before && !single) {
        const DirectionCosines b = Unit(before.cell, before.rec), v0 = Unit(cell, own);
        CellLeg leg;
        leg.p0 = before.cell == cell ? RestorePlane(idx, cell, before.rec, obj.res) : frame.Place(b, v0);
        leg.p1 = own_plane(0);
        const int cut = ClipSegmentToPolygon(polygon, leg.p0, leg.p1);
        if (cut >= 0) {
          leg.cut0 = cut & 1;
          leg.cut1 = cut & 2;
          leg.v0 = leg.cut0 ? -1 : RecordNumber(before.rec);
          leg.v1 = leg.cut1 ? -1 : RecordNumber(own);
          const cells::Piece bp = cells::LoadPiece(cells::PieceAt(obj, it, before.piece));
          leg.ref = {ref.item, before.piece, bp.count - 1};
          legs.push_back(leg);
        }
      }
      for (std::int32_t i = 0; i + 1 < pc.count; ++i) {
        CellLeg leg;
        leg.p0 = own_plane(i);
        leg.p1 = own_plane(i + 1);
        const std::uint8_t* r0 = own + static_cast<std::int64_t>(i) * rs;
        leg.v0 = RecordNumber(r0);
        leg.v1 = RecordNumber(r0 + rs);
        leg.ref = {ref.item, ref.piece, i};
        leg.is_short = ChordSq(Unit(cell, r0), Unit(cell, r0 + rs)) <= limit;
        legs.push_back(leg);
      }
      if (has_after) {
        const std::uint8_t* last_rec = own + static_cast<std::int64_t>(pc.count - 1) * rs;
        const DirectionCosines vl = Unit(cell, last_rec), a = Unit(after.cell, after.rec);
        CellLeg leg;
        leg.p0 = own_plane(pc.count - 1);
        leg.p1 = after.cell == cell ? RestorePlane(idx, cell, after.rec, obj.res) : frame.Place(a, vl);
        leg.is_short = ChordSq(vl, a) <= limit;
        const int cut = ClipSegmentToPolygon(polygon, leg.p0, leg.p1);
        if (cut >= 0) {
          leg.cut0 = cut & 1;
          leg.cut1 = cut & 2;
          leg.v0 = leg.cut0 ? -1 : RecordNumber(last_rec);
          leg.v1 = leg.cut1 ? -1 : RecordNumber(after.rec);
          leg.ref = {ref.item, ref.piece, pc.count - 1};
          legs.push_back(leg);
        }
      }
    }
    return true;
  }
};

bool SameRef(const LegRef& a, const LegRef& b) { return a.ring == b.ring && a.piece == b.piece && a.leg == b.leg; }
bool RefLess(const LegRef& a, const LegRef& b) {
  if (a.ring != b.ring) return a.ring < b.ring;
  if (a.piece != b.piece) return a.piece < b.piece;
  return a.leg < b.leg;
}

// Whether a contact at `where` on a leg lies at one of its cut ends.
bool AtCutEnd(const CellLeg& leg, int where) {
  return (where == CONTACT_START && leg.cut0) || (where == CONTACT_END && leg.cut1) ||
         (where == CONTACT_WHOLE && (leg.cut0 || leg.cut1));
}

struct Report {
  BoundaryFault* records;
  int capacity;
  int count = 0;
  int last_type = 0;
  bool Full() const { return count >= capacity; }
  bool Seen(int type, const LegRef& a, const LegRef& b) const {
    for (int i = 0; i < count; ++i)
      if (records[i].type == type && SameRef(records[i].a, a) && SameRef(records[i].b, b)) return true;
    return false;
  }
  void Add(int type, LegRef a, LegRef b, const DirectionCosines& at) {
    if (type != FAULT_SHORT_LEG && RefLess(b, a)) std::swap(a, b);
    if (Full() || Seen(type, a, b)) return;
    records[count++] = {type, a, b, at};
    last_type = type;
  }
};

}  // namespace

double ShortLegLimit(double fuzz) {
  if (fuzz <= 0.0) return 9.85470894693946e-16;
  return (2.0 * fuzz) * (2.0 * fuzz);
}

int q7_RsetVerifyBoundary(cells::CellIndex& idx, const Object& region, double fuzz, BoundaryFault* report,
                          int capacity, int* count) {
  *count = 0;
  const std::int64_t entries = cells::CellIndexCount(region);
  if (entries <= 0) return -1;
  const double f = Effective(fuzz);
  Gatherer gather{idx, region, ShortLegLimit(fuzz), cells::RecordSize(region.res)};
  Report rep{report, capacity};
  std::vector<CellLeg> legs;
  std::vector<PlanePoint> polygon;
  std::vector<Leg> made;
  std::unordered_map<std::int64_t, int> starts;  // first vertex record -> leg
  std::int32_t previous = -1;
  for (std::int64_t e = 0; e < entries && !rep.Full(); ++e) {
    const std::int32_t cell = cells::Load<std::int32_t>(cells::PieceRefAt(region, e));
    if (cell == previous) continue;
    previous = cell;
    if (cell < 0 || cell >= idx.cell_count) {
      rep.Add(FAULT_UNREADABLE, {}, {}, {0, 0, 1});
      *count = rep.count;
      return FAULT_UNREADABLE;
    }
    const CellFrame frame{geodesy::BuildTangentFrame(idx.cells[cell]->centre)};
    CellPolygonInPlane(idx, cell, polygon);
    if (!gather.Gather(cell, frame, polygon, legs)) {
      rep.Add(FAULT_UNREADABLE, {}, {}, idx.cells[cell]->centre);
      *count = rep.count;
      return FAULT_UNREADABLE;
    }
    // One copy of each leg per cell (a ring held by one piece meets its own
    // closing leg from both sides).
    std::stable_sort(legs.begin(), legs.end(), [](const CellLeg& a, const CellLeg& b) { return RefLess(a.ref, b.ref); });
    legs.erase(std::unique(legs.begin(), legs.end(), [](const CellLeg& a, const CellLeg& b) { return SameRef(a.ref, b.ref); }),
               legs.end());
    made.clear();
    starts.clear();
    for (std::size_t i = 0; i < legs.size(); ++i) {
      made.push_back(MakeLeg(legs[i].p0, legs[i].p1, f));
      if (legs[i].v0 >= 0) starts.emplace(legs[i].v0, static_cast<int>(i));
    }
    const int n = static_cast<int>(legs.size());
    for (int i = 0; i < n && !rep.Full(); ++i) {
      const CellLeg& a = legs[i];
      if (a.is_short) {
        // Reported in the cell of its first vertex only.
        if (a.v0 >= 0) rep.Add(FAULT_SHORT_LEG, a.ref, {}, geodesy::LiftFromFrame(frame.f, a.p0.u, a.p0.v));
        continue;
      }
      for (int j = i + 1; j < n && !rep.Full(); ++j) {
        const CellLeg& b = legs[j];
        if (b.is_short) continue;
        const LegCrossing x = LegCross(made[i], made[j]);
        if (x.result == CROSS_NONE) continue;
        // Legs that follow each other in a ring, or that only short legs
        // part, meet at what is one vertex.
        auto joined = [&](const CellLeg& x, const CellLeg& y) {
          std::int64_t end = x.v1;
          for (int step = 0; end >= 0 && step < 8; ++step) {
            if (end == y.v0) return true;
            auto s = starts.find(end);
            if (s == starts.end() || !legs[s->second].is_short) return false;
            end = legs[s->second].v1;
          }
          return false;
        };
        const bool consecutive = joined(a, b) || joined(b, a);
        const int kind = std::abs(x.result);
        if (kind == CROSS_OVERLAP) {
          rep.Add(FAULT_OVERLAP, a.ref, b.ref, geodesy::LiftFromFrame(frame.f, x.point[0].u, x.point[0].v));
          continue;
        }
        const int ca = x.contact_a[0], cb = x.contact_b[0];
        if (AtCutEnd(a, ca) || AtCutEnd(b, cb)) continue;  // the neighbouring cell sees it whole
        if (consecutive && kind == CROSS_TOUCH) continue;  // their shared vertex
        if (consecutive && ca != CONTACT_INSIDE && cb != CONTACT_INSIDE) continue;
        const DirectionCosines at = geodesy::LiftFromFrame(frame.f, x.point[0].u, x.point[0].v);
        if (kind == CROSS_PROPER && ca == CONTACT_INSIDE && cb == CONTACT_INSIDE)
          rep.Add(FAULT_CROSSING, a.ref, b.ref, at);
        else
          rep.Add(FAULT_CONTACT, a.ref, b.ref, at);
      }
    }
  }
  *count = rep.count;
  return rep.count == 0 ? 0 : rep.last_type;
}

// ---------------------------------------------------------------- topology

namespace {

struct Box {
  double lo[3], hi[3];
  void Reset() {
    for (int k = 0; k < 3; ++k) lo[k] = 2.0, hi[k] = -2.0;
  }
  void Add(const DirectionCosines& p) {
    const double c[3] = {p.x, p.y, p.z};
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], c[k]);
      hi[k] = std::max(hi[k], c[k]);
    }
  }
  void Grow(double d) {
    for (int k = 0; k < 3; ++k) lo[k] -= d, hi[k] += d;
  }
  bool Meets(const Box& o) const {
    for (int k = 0; k < 3; ++k)
      if (hi[k] < o.lo[k] || o.hi[k] < lo[k]) return false;
    return true;
  }
};

constexpr int kBlockLegs = 32;

struct RingInfo {
  std::int64_t first = 0;   // of its vertices in the vertex table
  std::int64_t count = 0;
  std::int64_t block = 0;   // of its first block of legs
  Box box;
  DirectionCosines left;    // a point just to the left of the ring
  bool usable = false;
  std::uint8_t parity = 0;
};

// Whether the arcs ab and cd (each shorter than a half circle) cross at a
// point inside both; contacts exactly at an end count as no crossing.
bool ArcsCross(const DirectionCosines& a, const DirectionCosines& b, const DirectionCosines& c,
               const DirectionCosines& d) {
  const DirectionCosines ab = Cross(a, b), cd = Cross(c, d);
  const double acb = -Dot(ab, c), bda = Dot(ab, d);
  if (acb == 0.0 || bda == 0.0 || (acb > 0.0) != (bda > 0.0)) return false;
  const double cbd = -Dot(cd, b), dac = Dot(cd, a);
  if (cbd == 0.0 || dac == 0.0) return false;
  return (cbd > 0.0) == (acb > 0.0) && (dac > 0.0) == (acb > 0.0);
}

// How far the arc between two unit vectors bulges beyond their chord (the
// chord's squared length given): 1 - cos(half the angle).
double Bulge(double chord_sq) {
  const double h = std::min(1.0, chord_sq / 4.0);
  return h / (1.0 + std::sqrt(1.0 - h));
}

// The bounding box of the arc ab, grown by its bulge beyond the chord.
Box ArcBox(const DirectionCosines& a, const DirectionCosines& b) {
  Box box;
  box.Reset();
  box.Add(a);
  box.Add(b);
  box.Grow(Bulge(ChordSq(a, b)) + 1e-15);
  return box;
}

template <typename T>
T* Take(platform::Workspace& ws, std::int64_t n) {
  const std::int64_t bytes = n * static_cast<std::int64_t>(sizeof(T)) + 16;
  if (n < 0 || bytes > 0x7fffffff) return nullptr;
  void* p = platform::WorkspaceAlloc(&ws, static_cast<std::int32_t>(bytes));
  if (!p) return nullptr;
  // Records of doubles need their alignment; the arena hands out 8-byte steps
  // or better, and the extra bytes allow for a rounding up.
  std::uintptr_t u = reinterpret_cast<std::uintptr_t>(p);
  u = (u + 15) & ~static_cast<std::uintptr_t>(15);
  return reinterpret_cast<T*>(u);
}

// Whether a leg of another ring than `ring` passes within `dist` of p (in the
// plane of p's cell).
bool NearOtherRing(cells::CellIndex& idx, const Object& region, std::int32_t ring, const DirectionCosines& p,
                   double dist, CellChains& chains) {
  const std::int32_t cell = cells::Locate(idx, p);
  if (cell < 0 || cell >= idx.cell_count) return false;
  GatherCellChains(idx, region, cell, chains);
  const geodesy::TangentFrame frame = geodesy::BuildTangentFrame(idx.cells[cell]->centre);
  double u = 0.0, v = 0.0;
  if (geodesy::ProjectToFrame(frame, p, u, v) != 0) return false;
  for (int k = 0; k < chains.Count(); ++k) {
    if (chains.item[k] == ring) continue;
    for (std::int32_t i = chains.First(k); i < chains.Last(k); ++i) {
      const PlanePoint a = chains.points[i], b = chains.points[i + 1];
      const double du = b.u - a.u, dv = b.v - a.v, len2 = du * du + dv * dv;
      double t = len2 > 0.0 ? ((u - a.u) * du + (v - a.v) * dv) / len2 : 0.0;
      t = std::max(0.0, std::min(1.0, t));
      const double eu = a.u + t * du - u, ev = a.v + t * dv - v;
      if (eu * eu + ev * ev <= dist * dist) return true;
    }
  }
  return false;
}

}  // namespace

std::int64_t RsetTopologyWorkspaceBytes(const Object& region) {
  const std::int64_t rings = cells::ItemCount(region);
  std::int64_t vertices = 0;
  for (std::int64_t r = 0; r < rings; ++r) {
    const cells::Item it = cells::LoadItem(cells::ItemAt(region, r));
    for (std::int32_t k = 0; k < it.count; ++k) vertices += cells::LoadPiece(cells::PieceAt(region, it, k)).count;
  }
  const std::int64_t blocks = vertices / kBlockLegs + rings + 1;
  return rings * static_cast<std::int64_t>(sizeof(RingInfo) + sizeof(std::int32_t)) +
         vertices * static_cast<std::int64_t>(sizeof(DirectionCosines)) + blocks * static_cast<std::int64_t>(sizeof(Box)) +
         4096;
}

int q7_RsetVerifyTopology(cells::CellIndex& idx, platform::Workspace& ws, const Object& region, double fuzz,
                          std::int32_t* listed, int capacity, int* count) {
  *count = 0;
  const std::int64_t rings = cells::ItemCount(region);
  if (rings < 2) return 0;
  const double f = Effective(fuzz);
  platform::WorkspaceMark mark(&ws);

  // The rings' vertices as unit vectors, ring after ring.
  std::int64_t vertices = 0;
  for (std::int64_t r = 0; r < rings; ++r) {
    const cells::Item it = cells::LoadItem(cells::ItemAt(region, r));
    for (std::int32_t k = 0; k < it.count; ++k) vertices += cells::LoadPiece(cells::PieceAt(region, it, k)).count;
  }
  const std::int64_t block_count = vertices / kBlockLegs + rings + 1;
  RingInfo* ring = Take<RingInfo>(ws, rings);
  std::int32_t* order = Take<std::int32_t>(ws, rings);
  DirectionCosines* vtx = Take<DirectionCosines>(ws, vertices + 1);
  Box* block = Take<Box>(ws, block_count);
  if (!ring || !order || !vtx || !block) return 9;

  const int rs = cells::RecordSize(region.res);
  CellChains chains;
  std::int64_t at = 0, blocks = 0;
  for (std::int64_t r = 0; r < rings; ++r) {
    const cells::Item it = cells::LoadItem(cells::ItemAt(region, r));
    RingInfo& ri = ring[r];
    ri = RingInfo{};
    ri.first = at;
    for (std::int32_t k = 0; k < it.count; ++k) {
      const cells::Piece pc = cells::LoadPiece(cells::PieceAt(region, it, k));
      for (std::int32_t i = 0; i < pc.count; ++i)
        cells::Restore(idx, pc.cell, region.coords + pc.offset + static_cast<std::int64_t>(i) * rs, region.res, vtx[at++]);
    }
    ri.count = at - ri.first;
    ri.block = blocks;
    ri.box.Reset();
    // Blocks of 32 legs, each leg from vertex k to k + 1 (round the ring).
    for (std::int64_t s = 0; s < ri.count; s += kBlockLegs) {
      Box& b = block[blocks++];
      b.Reset();
      double bulge = 0.0;
      const std::int64_t e = std::min(ri.count, s + kBlockLegs);
      for (std::int64_t k = s; k < e; ++k) {
        const DirectionCosines& p = vtx[ri.first + k];
        const DirectionCosines& q = vtx[ri.first + (k + 1) % ri.count];
        b.Add(p);
        b.Add(q);
        bulge = std::max(bulge, Bulge(ChordSq(p, q)));
      }
      b.Grow(bulge + 1e-15);
      for (int c = 0; c < 3; ++c) {
        ri.box.lo[c] = std::min(ri.box.lo[c], b.lo[c]);
        ri.box.hi[c] = std::max(ri.box.hi[c], b.hi[c]);
      }
    }
    // The point just left of the ring: off the middle of its first leg long
    // enough to have a clear side, three fuzz widths away.
    double best = 0.0;
    std::int64_t pick = -1;
    for (std::int64_t k = 0; k < ri.count; ++k) {
      const double len = ChordSq(vtx[ri.first + k], vtx[ri.first + (k + 1) % ri.count]);
      if (len > 400.0 * f * f) {
        pick = k;
        break;
      }
      if (len > best) best = len, pick = k;
    }
    // A ring too thin to have sides at the nudge's distance (a collapsed
    // speck: its area is below a few fuzz widths times its perimeter) bounds
    // nothing and cannot break the nesting; the boundary check reports it.
    double area = 0.0, perimeter = 0.0;
    for (std::int64_t k = 0; k < ri.count; ++k) {
      const DirectionCosines& a = vtx[ri.first];
      const DirectionCosines& b = vtx[ri.first + k];
      const DirectionCosines& c = vtx[ri.first + (k + 1) % ri.count];
      perimeter += std::sqrt(ChordSq(b, c));
      if (k == 0 || k + 1 == ri.count) continue;
      const double det = Dot(a, Cross(b, c));
      area += 2.0 * std::atan2(det, 1.0 + Dot(a, b) + Dot(b, c) + Dot(c, a));
    }
    const bool collapsed = std::fabs(area) < 2.0 * f * perimeter;
    // A leg that another ring runs along (two halves of an island parted at
    // 180 degrees) has no side of its own: the point is taken off a leg with
    // no other ring near it.
    auto left_of = [&](std::int64_t k) {
      const DirectionCosines& p = vtx[ri.first + k];
      const DirectionCosines& q = vtx[ri.first + (k + 1) % ri.count];
      const DirectionCosines c = Cross(p, q);
      const DirectionCosines n = Normalised(c.x, c.y, c.z);
      const DirectionCosines m = Normalised(p.x + q.x, p.y + q.y, p.z + q.z);
      return Normalised(m.x + 3.0 * f * n.x, m.y + 3.0 * f * n.y, m.z + 3.0 * f * n.z);
    };
    if (pick >= 0 && ri.count >= 2) {
      ri.left = left_of(pick);
      ri.usable = !collapsed && ChordSq(vtx[ri.first + pick], vtx[ri.first + (pick + 1) % ri.count]) > 0.0;
      for (std::int64_t tries = 0, k = pick; ri.usable && tries < std::min<std::int64_t>(ri.count, 64); ++tries) {
        if (ChordSq(vtx[ri.first + k], vtx[ri.first + (k + 1) % ri.count]) > 400.0 * f * f) {
          const DirectionCosines cand = left_of(k);
          if (!NearOtherRing(idx, region, static_cast<std::int32_t>(r), cand, 6.0 * f, chains)) {
            ri.left = cand;
            break;
          }
        }
        k = (k + 1) % ri.count;
      }
    }
  }

  // The point outside the region: just right of a ring's leg, checked by the
  // point test (a leg shared with another ring may have that ring's inside
  // on its right).
  DirectionCosines outside{0, 0, 1};
  bool found = false;
  RsetTestCache cache;
  for (std::int64_t r = 0; r < rings && !found; ++r) {
    const RingInfo& ri = ring[r];
    for (std::int64_t k = 0; k < ri.count && k < 64 && !found; ++k) {
      const DirectionCosines& p = vtx[ri.first + k];
      const DirectionCosines& q = vtx[ri.first + (k + 1) % ri.count];
      if (ChordSq(p, q) <= 400.0 * f * f) continue;
      const DirectionCosines c = Cross(p, q);
      const DirectionCosines n = Normalised(c.x, c.y, c.z);
      const DirectionCosines m = Normalised(p.x + q.x, p.y + q.y, p.z + q.z);
      const DirectionCosines o = Normalised(m.x - 3.0 * f * n.x, m.y - 3.0 * f * n.y, m.z - 3.0 * f * n.z);
      if (q7_RsetPointTest(idx, o, region, fuzz, 1, &cache) < 0) {
        outside = o;
        found = true;
      }
    }
  }
  if (!found) {
    // Every leg tried has the region on both sides: take the first ring's.
    const RingInfo& ri = ring[0];
    const DirectionCosines& p = vtx[ri.first];
    const DirectionCosines& q = vtx[ri.first + 1];
    const DirectionCosines c = Cross(p, q);
    const DirectionCosines n = Normalised(c.x, c.y, c.z);
    const DirectionCosines m = Normalised(p.x + q.x, p.y + q.y, p.z + q.z);
    outside = Normalised(m.x - 3.0 * f * n.x, m.y - 3.0 * f * n.y, m.z - 3.0 * f * n.z);
  }

  // Visit the rings in bands of latitude, west to east and back, so that the
  // arcs of the path stay short.
  std::int32_t usable = 0;
  for (std::int64_t r = 0; r < rings; ++r)
    if (ring[r].usable) order[usable++] = static_cast<std::int32_t>(r);
  auto key = [&](std::int32_t r, double* band, double* lon) {
    const DirectionCosines& p = ring[r].left;
    const double lat = std::asin(std::max(-1.0, std::min(1.0, p.z))) * 180.0 / M_PI;
    *band = std::floor((lat + 90.0) / 3.0);
    *lon = std::atan2(p.y, p.x);
    if (static_cast<long>(*band) % 2) *lon = -*lon;
  };
  std::sort(order, order + usable, [&](std::int32_t a, std::int32_t b) {
    double ba, la, bb, lb;
    key(a, &ba, &la);
    key(b, &bb, &lb);
    if (ba != bb) return ba < bb;
    return la < lb;
  });

  std::int64_t odd = 0;  // rings whose far side holds the path's end
  auto walk = [&](const DirectionCosines& a, const DirectionCosines& b) {
    const Box box = ArcBox(a, b);
    for (std::int64_t r = 0; r < rings; ++r) {
      RingInfo& ri = ring[r];
      if (ri.count < 2 || !box.Meets(ri.box)) continue;
      int crossings = 0;
      const std::int64_t nb = (ri.count + kBlockLegs - 1) / kBlockLegs;
      for (std::int64_t bi = 0; bi < nb; ++bi) {
        if (!box.Meets(block[ri.block + bi])) continue;
        const std::int64_t s = bi * kBlockLegs, e = std::min(ri.count, s + kBlockLegs);
        for (std::int64_t k = s; k < e; ++k)
          crossings += ArcsCross(a, b, vtx[ri.first + k], vtx[ri.first + (k + 1) % ri.count]);
      }
      if (crossings & 1) {
        ri.parity ^= 1;
        odd += ri.parity ? 1 : -1;
      }
    }
  };
  // Long arcs are split, so that each is shorter than a half circle.
  auto path = [&](const DirectionCosines& a, const DirectionCosines& b) {
    if (Dot(a, b) > -0.5) {
      walk(a, b);
      return;
    }
    DirectionCosines mid = Normalised(a.x + b.x, a.y + b.y, a.z + b.z);
    if (std::fabs(a.x + b.x) + std::fabs(a.y + b.y) + std::fabs(a.z + b.z) < 1e-9) {
      // Antipodes: go round through a point a quarter circle from both.
      const DirectionCosines axis = std::fabs(a.z) < 0.9 ? DirectionCosines{0, 0, 1} : DirectionCosines{1, 0, 0};
      const DirectionCosines c = Cross(a, axis);
      mid = Normalised(c.x, c.y, c.z);
    }
    const DirectionCosines m1 = Normalised(a.x + mid.x, a.y + mid.y, a.z + mid.z);
    const DirectionCosines m2 = Normalised(mid.x + b.x, mid.y + b.y, mid.z + b.z);
    walk(a, m1);
    walk(m1, mid);
    walk(mid, m2);
    walk(m2, b);
  };

  DirectionCosines here = outside;
  for (std::int32_t i = 0; i < usable; ++i) {
    const std::int32_t r = order[i];
    path(here, ring[r].left);
    here = ring[r].left;
    // Just left of a ring the region's inside must be: an odd count.
    if (odd % 2 == 0 && *count < capacity) listed[(*count)++] = r;
  }
  if (*count > 1) std::sort(listed, listed + *count);
  return *count > 0 ? 1 : 0;
}

}  // namespace ops
