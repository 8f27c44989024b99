// The object builders and the region assembly.
//
// Every builder first gathers what it writes in heap scratch (located points,
// pieces, the sorted cell index), computes the three section sizes, takes the
// sections from the target in one go (environment, structure, coordinates)
// and then writes each record once in its final place. Nothing is taken from
// the target before the sizes are known, so a failure leaves it untouched.
//
// Leg tracing: between vertices a (cell ca) and b (cell cb) the crossing x of
// the chord a-b with the bisector plane of the two centres (normal ca - cb)
// is projected back to the sphere and located. In ca or cb it is the entry
// into cb; in a third cell the two halves a-x and x-b are traced in turn.
// Depth is limited (a leg grazing a Voronoi vertex could otherwise split
// forever); at the limit the leg enters cb directly.
//
// The assembly carries inside/outside from a point just left of one leg to
// every cell across the neighbour graph. Each cell stands for itself by a
// probe point a hair off its centre (rings laid along the equator or a
// meridian pass exactly through the centres of symmetric indexes, and a
// point on a leg has no side). A step from cell i to neighbour j counts the
// legs that cross the arc between their probes: legs of i and j, and of the
// cells at the two ends of their common edge, which the arc may clip where
// it crosses the edge close to an end. Steps whose arc crosses the bisector
// in yet another cell (i and j are not Gabriel neighbours) are done
// afterwards, with that cell's legs added.
#include "lib/cells/object_builder.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <new>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {

using geodesy::ChordSq;
using geodesy::Cross;
using geodesy::DirectionCosines;
using geodesy::Dot;

namespace {

constexpr int kTraceDepth = 48;

inline std::int64_t Align8(std::int64_t n) { return (n + 7) & ~std::int64_t{7}; }

DirectionCosines Sum(const DirectionCosines& a, const DirectionCosines& b, double t = 1.0) {
  return {a.x + t * b.x, a.y + t * b.y, a.z + t * b.z};
}

const DirectionCosines& Centre(const CellIndex& idx, std::int32_t c) { return idx.cells[c]->centre; }

// Boundary parameter of entering `next` from `prev` at x.
double BoundaryParameter(const CellIndex& idx, std::int32_t prev, std::int32_t next,
                         const DirectionCosines& x) {
  DirectionCosines n = geodesy::Normalised(Cross(Centre(idx, prev), Centre(idx, next)));
  if (!geodesy::IsValid(n)) return 0.0;
  DirectionCosines at = x;
  const CellRecord* r = idx.cells[prev];
  const int count = r->neighbour_count;
  for (int k = 0; k < count; ++k) {
    if (r->neighbours[k] != next) continue;
    DirectionCosines v;
    for (int kv : {(k + count - 1) % count, k}) {
      if (VoronoiVertex(idx, prev, kv, v) != 0 && geodesy::IsValid(v) &&
          ChordSq(v, x) < VORONOI_SNAP_SQ) {
        at = v;
        break;
      }
    }
    break;
  }
  return Dot(at, n);
}

struct Tracer {
  CellIndex& idx;
  std::vector<ItemPiece>& pieces;
  std::int32_t first_vertex;  // the vertex index new pieces start at
  LegCellFn leg_cell;
  void* context;
  std::int64_t leg;
  std::vector<DirectionCosines>& entry;  // where the leg enters each piece's cell

  void Enter(std::int32_t prev, std::int32_t next, const DirectionCosines& x) {
    pieces.push_back({next, first_vertex, 0, BoundaryParameter(idx, prev, next, x)});
    entry.push_back(x);
    if (leg_cell) leg_cell(context, leg, next);
  }

  // True when ca and cb are neighbours and x lies within VORONOI_SNAP_SQ of
  // an end of their common edge. Such a crossing counts as passing through
  // the vertex itself, straight from ca into cb: whether the leg clips the
  // third cell there by a few centimetres would otherwise flip with the last
  // bits of the vertices (an export and re-import would change the cells).
  bool NearSharedVertex(std::int32_t ca, std::int32_t cb, const DirectionCosines& x) const {
    const CellRecord* r = idx.cells[ca];
    const int count = r->neighbour_count;
    for (int k = 0; k < count; ++k) {
      if (r->neighbours[k] != cb) continue;
      DirectionCosines v;
      for (int kv : {(k + count - 1) % count, k})
        if (VoronoiVertex(idx, ca, kv, v) != 0 && geodesy::IsValid(v) &&
            ChordSq(v, x) < VORONOI_SNAP_SQ)
          return true;
      return false;
    }
    return false;
  }

  void Trace(const DirectionCosines& a, std::int32_t ca, const DirectionCosines& b,
             std::int32_t cb, int depth) {
    if (ca == cb) return;
    const double len2 = ChordSq(a, b);
    if (len2 > 2.0 && depth < kTraceDepth) {
      DirectionCosines m = geodesy::Normalised(Sum(a, b));
      if (geodesy::IsValid(m)) {
        std::int32_t cm = Locate(idx, m);
        Trace(a, ca, m, cm, depth + 1);
        Trace(m, cm, b, cb, depth + 1);
        return;
      }
    }
    const DirectionCosines& pa = Centre(idx, ca);
    const DirectionCosines& pb = Centre(idx, cb);
    DirectionCosines d{pa.x - pb.x, pa.y - pb.y, pa.z - pb.z};
    double da = Dot(a, d), db = Dot(b, d);
    double t = (da != db) ? da / (da - db) : 0.5;
    t = std::clamp(t, 0.0, 1.0);
    DirectionCosines x = geodesy::Normalised(Sum(a, DirectionCosines{b.x - a.x, b.y - a.y, b.z - a.z}, t));
    if (!geodesy::IsValid(x)) x = b;
    if (depth >= kTraceDepth || len2 < 1e-30) {
      Enter(ca, cb, x);
      return;
    }
    std::int32_t cx = Locate(idx, x);
    if (cx == ca || cx == cb || cx == NO_CELL || NearSharedVertex(ca, cb, x)) {
      Enter(ca, cb, x);
      return;
    }
    Trace(a, ca, x, cx, depth + 1);
    Trace(x, cx, b, cb, depth + 1);
  }
};

// Interleaves the bits of the three coordinates, each taken to 10 bits.
std::uint32_t MortonKey(const DirectionCosines& p) {
  auto spread = [](double c) {
    std::uint32_t v = static_cast<std::uint32_t>(std::clamp((c + 1.0) * 512.0, 0.0, 1023.0));
    v = (v | (v << 16)) & 0x030000FF;
    v = (v | (v << 8)) & 0x0300F00F;
    v = (v | (v << 4)) & 0x030C30C3;
    v = (v | (v << 2)) & 0x09249249;
    return v;
  };
  return spread(p.x) | (spread(p.y) << 1) | (spread(p.z) << 2);
}

// Sections taken from the target, all at once.
struct Sections {
  std::uint8_t* env = nullptr;
  std::uint8_t* st = nullptr;
  std::uint8_t* co = nullptr;
};

int TakeSections(SectionTarget t, std::int64_t env, std::int64_t st, std::int64_t co,
                 Sections& s) {
  if (env > 0x7FFFFFF8 || st > 0x7FFFFFF8 || co > 0x7FFFFFF8) return 8;
  if (t.arena) {
    platform::Workspace* a = t.arena;
    std::uint8_t* mark = a->top;
    std::uint8_t** dst[3] = {&s.env, &s.st, &s.co};
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
  s.env = t.heap->data();
  s.st = s.env + env;
  s.co = s.st + st;
  return 0;
}

void FillHeader(Object& out, const CellIndex& idx, const BuildParams& p, int kind) {
  out = Object{};
  out.release = static_cast<std::uint16_t>(geodesy::LIBRARY_RELEASE);
  out.kind = static_cast<std::uint16_t>(kind);
  out.id = p.id;
  out.klass = p.klass;
  out.vix_id = idx.index_id;
  out.res = static_cast<std::uint16_t>(p.res);
  out.prec = static_cast<std::uint16_t>(p.prec);
}

void WriteList(std::uint8_t* dst, const std::vector<std::int32_t>& list) {
  std::memcpy(dst, list.data(), list.size() * 4);
}

}  // namespace

bool ArcsCross(const DirectionCosines& a, const DirectionCosines& b, const DirectionCosines& c,
               const DirectionCosines& d) {
  const DirectionCosines ab = Cross(a, b);
  const double acb = -Dot(ab, c);
  const double bda = Dot(ab, d);
  if (acb * bda <= 0) return false;
  const DirectionCosines cd = Cross(c, d);
  const double cbd = -Dot(cd, b);
  const double dac = Dot(cd, a);
  return acb * cbd > 0 && acb * dac > 0;
}

namespace {

// True when x lies within the snap distance of the bisector plane of the
// centres of c and n.
bool OnBisector(const CellIndex& idx, std::int32_t c, std::int32_t n, const DirectionCosines& x) {
  const DirectionCosines& pc = Centre(idx, c);
  const DirectionCosines& pn = Centre(idx, n);
  const DirectionCosines d{pc.x - pn.x, pc.y - pn.y, pc.z - pn.z};
  const double dd = Dot(d, d);
  const double s = Dot(x, d);
  return s * s <= VORONOI_SNAP_SQ * dd;
}

bool AreNeighbours(const CellIndex& idx, std::int32_t a, std::int32_t b) {
  const CellRecord* r = idx.cells[a];
  return std::find(r->neighbours, r->neighbours + r->neighbour_count, b) !=
         r->neighbours + r->neighbour_count;
}

// Edge runs: a leg that passes a cell c without a vertex, entering and
// leaving it on the edge that c shares with a neighbour n, runs along that
// edge and lies in both cells over the whole stretch, not at a single point
// (lines along the equator or a meridian do this on indexes symmetric about
// them). Which of the two cells the trace picks then hangs on ties in the
// location walk, and a point of the leg, such as a crossing with another
// line, may be located in the other one. So the leg gets a piece without
// vertices in n as well, right after c's piece; it enters n at the middle of
// the stretch and leaves it where it left c. Lines only: a ring's pieces
// bound the area measured cell by cell, and a piece that runs along its
// cell's edge would bound nothing there. The pieces [from, pieces.size()
// - 1) are the ones just traced between two vertex pieces; entry holds the
// entry point of every piece from base on.
void AddEdgeRuns(const CellIndex& idx, std::vector<ItemPiece>& pieces,
                 std::vector<DirectionCosines>& entry, std::size_t base, std::size_t from,
                 LegCellFn leg_cell, void* context, std::int64_t leg) {
  for (std::size_t k = std::max<std::size_t>(from, 1); k + 1 < pieces.size(); ++k) {
    if (k <= base || pieces[k].count != 0) continue;
    const std::int32_t prev = pieces[k - 1].cell, c = pieces[k].cell, next = pieces[k + 1].cell;
    const DirectionCosines in = entry[k - base], out = entry[k + 1 - base];
    if (ChordSq(in, out) <= 4 * VORONOI_SNAP_SQ) continue;
    const CellRecord* r = idx.cells[c];
    for (int j = 0; j < r->neighbour_count; ++j) {
      const std::int32_t n = r->neighbours[j];
      if (n < 0 || n >= idx.cell_count || n == prev || n == next) continue;
      if (!OnBisector(idx, c, n, in) || !OnBisector(idx, c, n, out)) continue;
      if (!AreNeighbours(idx, n, next)) continue;
      DirectionCosines mid = geodesy::Normalised(Sum(in, out));
      if (!geodesy::IsValid(mid)) continue;
      pieces.insert(pieces.begin() + static_cast<std::ptrdiff_t>(k + 1),
                    {n, pieces[k].first, 0, BoundaryParameter(idx, c, n, mid)});
      entry.insert(entry.begin() + static_cast<std::ptrdiff_t>(k + 1 - base), mid);
      pieces[k + 2].xbd = BoundaryParameter(idx, n, next, out);
      if (leg_cell) leg_cell(context, leg, n);
      ++k;
      break;
    }
  }
}

}  // namespace

void CutIntoPieces(CellIndex& idx, std::span<const DirectionCosines> v, bool closed,
                   std::vector<ItemPiece>& pieces, std::vector<std::int32_t>& cells,
                   LegCellFn leg_cell, void* context) {
  const std::int64_t n = static_cast<std::int64_t>(v.size());
  if (n == 0) return;
  std::vector<DirectionCosines> entry;
  const std::size_t base = pieces.size();
  Tracer tr{idx, pieces, 0, leg_cell, context, 0, entry};
  std::int32_t cur = Locate(idx, v[0]);
  const std::int32_t c0 = cur;
  cells.push_back(cur);
  pieces.push_back({cur, 0, 1, kNoCrossing});
  entry.push_back(v[0]);
  for (std::int64_t i = 1; i < n; ++i) {
    std::int32_t ci = Locate(idx, v[i]);
    cells.push_back(ci);
    tr.leg = i - 1;
    tr.first_vertex = static_cast<std::int32_t>(i);
    if (leg_cell) leg_cell(context, i - 1, cur);
    if (ci != cur) {
      const std::size_t from = pieces.size();
      tr.Trace(v[i - 1], cur, v[i], ci, 0);
      if (pieces.back().cell != ci) {
        pieces.push_back({ci, tr.first_vertex, 0, 0.0});
        entry.push_back(v[i]);
      }
      AddEdgeRuns(idx, pieces, entry, base, from, leg_cell, context, i - 1);
      cur = ci;
    }
    pieces.back().count++;
  }
  if (closed && n >= 2) {
    tr.leg = n - 1;
    tr.first_vertex = static_cast<std::int32_t>(n);
    if (leg_cell) leg_cell(context, n - 1, cur);
    if (cur != c0) {
      const std::size_t from = pieces.size();
      tr.Trace(v[n - 1], cur, v[0], c0, 0);
      AddEdgeRuns(idx, pieces, entry, base, from, leg_cell, context, n - 1);
    }
  }
}

// ---------------------------------------------------------------- Pset

int BuildPset(CellIndex& idx, SectionTarget target, const BuildParams& params,
              std::span<const PointNode> points, Object& out) {
  if (params.id == 0 || !ResValid(params.res)) return 1;
  struct Located {
    std::int32_t cell;
    std::uint32_t order;
    const PointNode* node;
  };
  std::vector<Located> recs;
  try {
    recs.reserve(points.size());
  } catch (const std::bad_alloc&) {
    return 9;
  }
  // Locating points in a spatial order keeps each walk short: the points
  // are visited by a Morton key of their coordinates (10 bits per axis), so
  // consecutive locations start next to the previous cell.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> order;
  try {
    order.reserve(points.size());
  } catch (const std::bad_alloc&) {
    return 9;
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (IsMark(points[i])) continue;
    order.push_back({MortonKey(points[i].p), static_cast<std::uint32_t>(i)});
  }
  std::sort(order.begin(), order.end());
  for (const auto& [key, i] : order) recs.push_back({Locate(idx, points[i].p), i, &points[i]});
  std::sort(recs.begin(), recs.end(), [](const Located& a, const Located& b) {
    return a.cell != b.cell ? a.cell < b.cell : a.order < b.order;
  });
  std::vector<std::int32_t> cellnums;
  for (std::size_t i = 0; i < recs.size(); ++i)
    if (i == 0 || recs[i].cell != recs[i - 1].cell) cellnums.push_back(recs[i].cell);
  std::vector<std::int32_t> list = MakeCellList(cellnums);

  const std::int64_t rec = RecordSize(params.res);
  const std::int64_t env = Align8(static_cast<std::int64_t>(list.size()) * 4);
  const std::int64_t st = Align8(static_cast<std::int64_t>(cellnums.size()) * kPsetCellSize);
  const std::int64_t co = Align8(static_cast<std::int64_t>(recs.size()) * rec);
  Sections s;
  if (int status = TakeSections(target, env, st, co, s)) return status;
  std::memset(s.env, 0, env);
  WriteList(s.env, list);
  std::int64_t ci = -1, off = 0;
  for (std::size_t i = 0; i < recs.size(); ++i) {
    if (i == 0 || recs[i].cell != recs[i - 1].cell) {
      ++ci;
      StorePsetCell(s.st + ci * kPsetCellSize,
                    {recs[i].cell, static_cast<std::int32_t>(off), 0});
    }
    std::uint8_t* e = s.st + ci * kPsetCellSize;
    Store<std::int32_t>(e + 8, Load<std::int32_t>(e + 8) + 1);
    Quantise(idx, recs[i].cell, recs[i].node->p, recs[i].node->attribute, s.co + off, params.res);
    off += rec;
  }
  std::memset(s.st + cellnums.size() * kPsetCellSize, 0, st - cellnums.size() * kPsetCellSize);
  std::memset(s.co + off, 0, co - off);
  FillHeader(out, idx, params, kPset);
  out.env = s.env;
  out.env_size = static_cast<std::uint32_t>(env);
  out.structure = s.st;
  out.struct_size = static_cast<std::uint32_t>(st);
  out.coords = s.co;
  out.coord_size = static_cast<std::uint32_t>(co);
  out.kfield[0] = 0;
  out.kfield[1] = 0;
  out.kfield[2] = static_cast<std::int64_t>(cellnums.size());
  return recs.empty() ? -1 : 0;
}

// ---------------------------------------------------------------- Lset, Rset

namespace {

struct LegVisit {
  std::int32_t cell;
  std::int64_t leg;
};

void CollectVisit(void* context, std::int64_t leg, std::int32_t cell) {
  auto* c = static_cast<std::pair<std::vector<LegVisit>*, std::int64_t>*>(context);
  c->first->push_back({cell, c->second + leg});
}

int BuildLinear(CellIndex& idx, SectionTarget target, const BuildParams& params,
                std::span<const PointNode> points, Object& out, int kind) {
  if (params.id == 0 || !ResValid(params.res)) return 1;
  const bool closed = kind == kRset;
  try {
    // Items: flat vertex and attribute arrays with item starts.
    std::vector<DirectionCosines> verts;
    std::vector<std::uint64_t> attrs;
    std::vector<std::int64_t> item_start;
    std::vector<std::uint32_t> item_id;
    verts.reserve(points.size());
    attrs.reserve(points.size());
    std::int64_t begin = 0;
    for (const PointNode& n : points) {
      if (!IsMark(n)) {
        verts.push_back(n.p);
        attrs.push_back(n.attribute);
        continue;
      }
      const std::int64_t count = static_cast<std::int64_t>(verts.size()) - begin;
      if (count == 0 || (closed && count < 3)) {
        verts.resize(begin);
        attrs.resize(begin);
        continue;
      }
      item_start.push_back(begin);
      item_id.push_back(static_cast<std::uint32_t>(n.attribute));
      begin = static_cast<std::int64_t>(verts.size());
    }
    // Vertices after the last mark form one more item with identifier 0.
    if (static_cast<std::int64_t>(verts.size()) > begin) {
      if (closed && static_cast<std::int64_t>(verts.size()) - begin < 3) {
        verts.resize(begin);
        attrs.resize(begin);
      } else {
        item_start.push_back(begin);
        item_id.push_back(0);
      }
    }
    item_start.push_back(static_cast<std::int64_t>(verts.size()));
    const std::int64_t items = static_cast<std::int64_t>(item_id.size());

    std::vector<ItemPiece> pieces;
    std::vector<std::int64_t> piece_start{0};
    std::vector<std::int32_t> vcells;
    for (std::int64_t i = 0; i < items; ++i) {
      std::span<const DirectionCosines> iv(verts.data() + item_start[i],
                                           static_cast<std::size_t>(item_start[i + 1] - item_start[i]));
      CutIntoPieces(idx, iv, closed, pieces, vcells);
      piece_start.push_back(static_cast<std::int64_t>(pieces.size()));
    }
    const std::int64_t npieces = static_cast<std::int64_t>(pieces.size());

    // Cell index entries sorted by cell, item, piece.
    std::vector<PieceRef> refs;
    refs.reserve(pieces.size());
    for (std::int64_t i = 0; i < items; ++i)
      for (std::int64_t k = piece_start[i]; k < piece_start[i + 1]; ++k)
        refs.push_back({pieces[k].cell, static_cast<std::int32_t>(i),
                        static_cast<std::int32_t>(k - piece_start[i])});
    std::sort(refs.begin(), refs.end(), [](const PieceRef& a, const PieceRef& b) {
      if (a.cell != b.cell) return a.cell < b.cell;
      if (a.item != b.item) return a.item < b.item;
      return a.piece < b.piece;
    });

    // Envelopes.
    std::vector<std::int32_t> bcells, icells;
    for (const ItemPiece& p : pieces) bcells.push_back(p.cell);
    std::vector<std::int32_t> blist = MakeCellList(bcells);
    std::vector<std::int32_t> ilist;
    if (closed) {
      RingSet rings;
      rings.vertices = verts;
      rings.start = item_start;
      std::vector<std::int32_t> b2;
      if (int status = AssembleRegion(idx, rings, b2, icells)) return status;
      ilist = MakeCellList(icells);
    }

    const std::int64_t rec = RecordSize(params.res);
    const std::int64_t env_b = static_cast<std::int64_t>(blist.size()) * 4;
    const std::int64_t env = Align8(env_b + static_cast<std::int64_t>(ilist.size()) * 4);
    const std::int64_t ix_off = 0, it_off = npieces * kPieceRefSize;
    const std::int64_t pc_off = Align8(it_off + items * kItemSize);
    const std::int64_t st = Align8(pc_off + npieces * kPieceSize);
    const std::int64_t co = Align8(static_cast<std::int64_t>(verts.size()) * rec);
    Sections s;
    if (int status = TakeSections(target, env, st, co, s)) return status;
    std::memset(s.env, 0, env);
    std::memset(s.st, 0, st);
    WriteList(s.env, blist);
    if (closed) std::memcpy(s.env + env_b, ilist.data(), ilist.size() * 4);

    for (std::int64_t i = 0; i < npieces; ++i) StorePieceRef(s.st + ix_off + i * kPieceRefSize, refs[i]);
    for (std::int64_t i = 0; i < items; ++i)
      StoreItem(s.st + it_off + i * kItemSize,
                {item_id[i], static_cast<std::int32_t>(pc_off + piece_start[i] * kPieceSize),
                 static_cast<std::int32_t>(piece_start[i + 1] - piece_start[i])});
    std::int64_t off = 0;
    for (const PieceRef& r : refs) {
      const std::int64_t k = piece_start[r.item] + r.piece;
      const ItemPiece& p = pieces[k];
      StorePiece(s.st + pc_off + k * kPieceSize,
                 {p.cell, p.count, static_cast<std::int32_t>(off), p.xbd});
      const std::int64_t base = item_start[r.item] + p.first;
      for (std::int32_t j = 0; j < p.count; ++j) {
        Quantise(idx, p.cell, verts[base + j], attrs[base + j], s.co + off, params.res);
        off += rec;
      }
    }
    std::memset(s.co + off, 0, co - off);

    FillHeader(out, idx, params, kind);
    out.env = s.env;
    out.env_size = static_cast<std::uint32_t>(env);
    out.structure = s.st;
    out.struct_size = static_cast<std::uint32_t>(st);
    out.coords = s.co;
    out.coord_size = static_cast<std::uint32_t>(co);
    const int b = closed ? 1 : 0;
    out.kfield[0] = 0;
    if (closed) out.kfield[1] = env_b;
    out.kfield[b + 1] = ix_off;
    out.kfield[b + 2] = npieces;
    out.kfield[b + 3] = it_off;
    out.kfield[b + 4] = items;
    return verts.empty() ? -1 : 0;
  } catch (const std::bad_alloc&) {
    return 9;
  }
}

}  // namespace

int BuildLset(CellIndex& idx, SectionTarget target, const BuildParams& params,
              std::span<const PointNode> points, Object& out) {
  return BuildLinear(idx, target, params, points, out, kLset);
}

int BuildRset(CellIndex& idx, SectionTarget target, const BuildParams& params,
              std::span<const PointNode> points, Object& out) {
  return BuildLinear(idx, target, params, points, out, kRset);
}

// ---------------------------------------------------------------- assembly

// The point whose side of the rings stands for a cell: its centre moved a
// hair (a hundred-thousandth of the cell's radius) in a direction that no
// ring a user lays out follows. Rings often run through centres and along
// the great circles of centres that symmetric indexes are built on (the
// equator, meridians); a centre on a leg has no side, and two steps from it
// would disagree about crossing that leg. A cell without boundary has one
// side throughout, so moving its probe changes nothing for its status.
DirectionCosines CellProbe(const CellIndex& idx, std::int32_t c) {
  const DirectionCosines& p = Centre(idx, c);
  const double theta = std::max(1.0, static_cast<double>(idx.cells[c]->scale) - 1.0) / SCALE_FACTOR;
  const double delta = 1e-5 * std::min(theta, 0.5);
  DirectionCosines g{0.3271710380162043, 0.5926418532417129, 0.7359103850214478};
  double gp = Dot(g, p);
  DirectionCosines t{g.x - gp * p.x, g.y - gp * p.y, g.z - gp * p.z};
  if (Dot(t, t) < 1e-6) {
    g = {0.8112421851755609, -0.5003101957238145, 0.3026315789473684};
    gp = Dot(g, p);
    t = {g.x - gp * p.x, g.y - gp * p.y, g.z - gp * p.z};
  }
  t = geodesy::Normalised(t);
  const DirectionCosines q = geodesy::Normalised(Sum(p, t, delta));
  return geodesy::IsValid(q) ? q : p;
}


namespace {

// Where the arc a-b crosses the bisector plane of the centres of i and j.
DirectionCosines BisectorCrossing(const CellIndex& idx, std::int32_t i, std::int32_t j,
                                  const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines& pa = Centre(idx, i);
  const DirectionCosines& pb = Centre(idx, j);
  const DirectionCosines d{pa.x - pb.x, pa.y - pb.y, pa.z - pb.z};
  const double da = Dot(a, d), db = Dot(b, d);
  const double t = std::clamp(da != db ? da / (da - db) : 0.5, 0.0, 1.0);
  return geodesy::Normalised(Sum(a, DirectionCosines{b.x - a.x, b.y - a.y, b.z - a.z}, t));
}

}  // namespace


int AssembleRegion(CellIndex& idx, const RingSet& rings, std::vector<std::int32_t>& bcells,
                   std::vector<std::int32_t>& icells) {
  bcells.clear();
  icells.clear();
  try {
    const std::int64_t nrings = static_cast<std::int64_t>(rings.start.size()) - 1;
    const std::int64_t nverts = static_cast<std::int64_t>(rings.vertices.size());
    // The other end of each leg (legs are numbered by their first vertex).
    std::vector<std::int64_t> leg_end(nverts, -1);
    std::vector<LegVisit> visits;
    std::vector<ItemPiece> pieces;
    std::vector<std::int32_t> vcells;
    std::int64_t ref_leg = -1;
    for (std::int64_t r = 0; r < nrings; ++r) {
      const std::int64_t b = rings.start[r], e = rings.start[r + 1];
      if (e - b < 3) continue;
      for (std::int64_t i = b; i < e; ++i) {
        leg_end[i] = (i + 1 < e) ? i + 1 : b;
        if (ref_leg < 0 && ChordSq(rings.vertices[i], rings.vertices[leg_end[i]]) > 1e-20)
          ref_leg = i;
      }
      std::pair<std::vector<LegVisit>*, std::int64_t> ctx{&visits, b};
      pieces.clear();
      vcells.clear();
      CutIntoPieces(idx, std::span<const DirectionCosines>(rings.vertices.data() + b, e - b), true,
                    pieces, vcells, CollectVisit, &ctx);
    }
    std::sort(visits.begin(), visits.end(), [](const LegVisit& a, const LegVisit& b) {
      return a.cell != b.cell ? a.cell < b.cell : a.leg < b.leg;
    });
    visits.erase(std::unique(visits.begin(), visits.end(),
                             [](const LegVisit& a, const LegVisit& b) {
                               return a.cell == b.cell && a.leg == b.leg;
                             }),
                 visits.end());
    const std::int32_t ncells = idx.cell_count;
    std::vector<std::int64_t> first(static_cast<std::size_t>(ncells) + 1, 0);
    for (const LegVisit& v : visits) first[v.cell + 1]++;
    for (std::int32_t c = 0; c < ncells; ++c) first[c + 1] += first[c];
    for (std::int32_t c = 0; c < ncells; ++c)
      if (first[c + 1] > first[c]) bcells.push_back(c);
    if (ref_leg < 0) return 0;

    const auto& V = rings.vertices;
    // Legs of the given cells (deduplicated) crossed by the arc p-q.
    std::vector<std::int64_t> legs;
    auto crossings = [&](const DirectionCosines& p, const DirectionCosines& q,
                         std::initializer_list<std::int32_t> cs) {
      legs.clear();
      for (std::int32_t c : cs)
        for (std::int64_t k = first[c]; k < first[c + 1]; ++k) legs.push_back(visits[k].leg);
      if (cs.size() > 1) {
        std::sort(legs.begin(), legs.end());
        legs.erase(std::unique(legs.begin(), legs.end()), legs.end());
      }
      int parity = 0;
      for (std::int64_t l : legs)
        if (ArcsCross(p, q, V[l], V[leg_end[l]])) parity ^= 1;
      return parity;
    };

    // The reference leg: the first along whose middle no other leg runs. A
    // leg that another runs back along (a spike of no width, whose legs are
    // the first of a ring that begins at its tip; a seam of two rings) has
    // no inside on its left.
    auto overlapped = [&](std::int64_t l) {
      const DirectionCosines& a = V[l];
      const DirectionCosines& b = V[leg_end[l]];
      const DirectionCosines m = geodesy::Normalised(Sum(a, b));
      const double reach = 2.0 * std::min(1e-9, 0.25 * std::sqrt(ChordSq(a, b)));
      const std::int32_t c = Locate(idx, m);
      if (c == NO_CELL) return false;
      const CellRecord* r = idx.cells[c];
      for (int k = -1; k < r->neighbour_count; ++k) {
        const std::int32_t n = k < 0 ? c : r->neighbours[k];
        if (n < 0 || n >= ncells) continue;
        for (std::int64_t e = first[n]; e < first[n + 1]; ++e) {
          const std::int64_t o = visits[e].leg;
          if (o == l) continue;
          const DirectionCosines& p = V[o];
          const DirectionCosines& q = V[leg_end[o]];
          const DirectionCosines nrm = Cross(p, q);
          const double len = std::sqrt(Dot(nrm, nrm));
          if (!(len > 0.0) || std::fabs(Dot(m, nrm)) > reach * len) continue;
          if (Dot(Cross(p, m), nrm) >= 0.0 && Dot(Cross(m, q), nrm) >= 0.0) return true;
        }
      }
      return false;
    };
    for (std::int64_t l = ref_leg; l < nverts; ++l)
      if (leg_end[l] >= 0 && ChordSq(V[l], V[leg_end[l]]) > 1e-20 && !overlapped(l)) {
        ref_leg = l;
        break;
      }
    // The starting point: a hair to the left of the reference leg's middle.
    const DirectionCosines& a = V[ref_leg];
    const DirectionCosines& b = V[leg_end[ref_leg]];
    DirectionCosines m = geodesy::Normalised(Sum(a, b));
    DirectionCosines left = geodesy::Normalised(Cross(a, b));
    double eps = std::min(1e-9, 0.25 * std::sqrt(ChordSq(a, b)));
    DirectionCosines q = geodesy::Normalised(Sum(m, left, eps));
    std::int32_t cq = Locate(idx, q);
    if (cq == NO_CELL) return 0;
    std::vector<DirectionCosines> probe(static_cast<std::size_t>(ncells));
    for (std::int32_t c = 0; c < ncells; ++c) probe[c] = CellProbe(idx, c);
    std::vector<std::int8_t> status(static_cast<std::size_t>(ncells), -1);
    status[cq] = static_cast<std::int8_t>(1 ^ crossings(q, probe[cq], {cq}));

    auto has_legs = [&](std::int32_t c) { return c >= 0 && c < ncells && first[c + 1] > first[c]; };
    std::deque<std::int32_t> queue{cq};
    std::int64_t done = 1;
    for (int pass = 0; pass < 2 && done < ncells; ++pass) {
      if (pass == 1)
        for (std::int32_t c = 0; c < ncells; ++c)
          if (status[c] >= 0) queue.push_back(c);
      while (!queue.empty()) {
        const std::int32_t i = queue.front();
        queue.pop_front();
        const CellRecord* r = idx.cells[i];
        const int count = r->neighbour_count;
        for (int k = 0; k < count; ++k) {
          const std::int32_t j = r->neighbours[k];
          if (j < 0 || j >= ncells || status[j] >= 0) continue;
          // The cells at the two ends of the edge between i and j: an arc
          // that crosses the edge close to one of its ends may clip them.
          std::int32_t e0 = r->neighbours[k == 0 ? count - 1 : k - 1];
          std::int32_t e1 = r->neighbours[k + 1 == count ? 0 : k + 1];
          if (e0 < 0 || e0 >= ncells) e0 = i;
          if (e1 < 0 || e1 >= ncells) e1 = i;
          const DirectionCosines x = BisectorCrossing(idx, i, j, probe[i], probe[j]);
          std::int32_t cm = geodesy::IsValid(x) ? LocateFrom(idx, i, x) : i;
          if (cm < 0 || cm >= ncells) cm = i;
          const bool third = cm != i && cm != j && cm != e0 && cm != e1;
          if (third && pass == 0) continue;
          int parity = 0;
          if (has_legs(i) || has_legs(j) || has_legs(e0) || has_legs(e1) || has_legs(cm))
            parity = crossings(probe[i], probe[j], {i, j, e0, e1, cm});
          status[j] = static_cast<std::int8_t>(status[i] ^ parity);
          ++done;
          queue.push_back(j);
        }
      }
    }
    for (std::int32_t c = 0; c < ncells; ++c)
      if (status[c] == 1 && first[c + 1] == first[c]) icells.push_back(c);
    return 0;
  } catch (const std::bad_alloc&) {
    return 9;
  }
}

}  // namespace cells
