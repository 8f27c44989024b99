// Measuring objects: how the cell method walks a region set.
//
// 1. Every ring is restored piece by piece (each piece's vertices are
//    quantised about its own cell's centre). With s_k the position of piece
//    k's first vertex in the ring, the ring enters piece k's cell on the leg
//    from vertex s_k - 1 to vertex s_k (cyclically), also when a piece holds
//    no vertex and the leg only crosses its cell. The crossing point is where
//    that leg's plane meets the bisector plane of the two cells' centres.
// 2. The ring is cut at its crossings into chains, one per visit to a cell:
//    entry crossing, the piece's vertices, exit crossing. A ring that never
//    leaves its cell is one closed chain.
// 3. In each boundary cell, with c its centre, the part inside the rings is
//    the sum of the fan triangles (c, chain leg) plus, for every chain, the
//    rim of the cell from its exit counterclockwise to the next entry. With
//    B(x) the area of the cell's sector from its first vertex to the rim
//    point x, the rims add up to sum B(entry) - sum B(exit) modulo the cell's
//    area, and the part inside lies in [0, cell area]: so the total is taken
//    modulo the cell area, and no pairing of exits with entries (which
//    rounding could get wrong where two crossings nearly meet) is needed.
//    Only a result within rounding of 0 or of the whole cell is ambiguous;
//    it is settled by which side of the rings the cell's corners are on
//    (from the order of the crossings round the rim), or, in a cell the
//    rings do not leave, by its neighbours' cell lists.
// 4. The i-cells add their whole areas.
// All triangles are true areas on the ellipsoid (measure_cells.h), taken in
// the space of surface normals where the legs and the cell edges are still
// great circles.
#include "lib/cells/measure_object.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/area.h"
#include "lib/geodesy/measure_cells.h"
#include "lib/geodesy/tangent_frame.h"

namespace cells {

using namespace geodesy;

namespace {

constexpr double kPi = 3.14159265358979323846;
// A part within this share of its cell's area from 0 or from the whole cell
// is decided by the topology rather than by the sum.
constexpr double kAmbiguousShare = 1e-10;
// A leg within this angle (radians) of a bisector plane is taken to run in
// it: over a cell's width the two part by less than a millimetre.
constexpr double kAlongBisector = 1e-10;
// Crossings within this angle (radians, seen from the centre) of an edge's
// ends count as reaching that edge.
constexpr double kEdgeAngle = 1e-7;

struct RingPiece {
  std::int32_t cell;
  std::int64_t start;  // first vertex in the ring
  std::int64_t count;
};

// A visit of a ring to a cell. Open chains run from an entry crossing (from
// cell `from`) to an exit crossing (into cell `to`); points [first, first +
// count) of the chain store.
struct Chain {
  std::int32_t cell;
  std::int32_t from, to;
  bool open;
  std::size_t first, count;
};

// Restores one item's vertices and pieces. False for a damaged object.
bool RestoreItem(cells::CellIndex& idx, const cells::Object& obj, std::int64_t item,
                 std::vector<DirectionCosines>& v, std::vector<RingPiece>& pieces) {
  v.clear();
  pieces.clear();
  const cells::Item it = cells::LoadItem(cells::ItemAt(obj, item));
  const int size = cells::RecordSize(obj.res);
  for (std::int64_t k = 0; k < it.count; ++k) {
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, k));
    if (pc.cell < 0 || pc.cell >= idx.cell_count) return false;
    pieces.push_back({pc.cell, static_cast<std::int64_t>(v.size()), pc.count});
    const std::uint8_t* src = obj.coords + pc.offset;
    for (std::int32_t j = 0; j < pc.count; ++j) {
      DirectionCosines p;
      cells::Restore(idx, pc.cell, src + static_cast<std::int64_t>(j) * size, obj.res, p);
      if (!IsValid(p)) return false;
      v.push_back(p);
    }
  }
  return true;
}

// Where the leg a-b crosses the bisector plane of the centres p and q. A leg
// that runs along the bisector (a ring following a cell edge) crosses it
// anywhere: its midpoint serves, since the chains on both sides then meet
// there on the common edge. A crossing that rounding puts beyond an end of
// the leg is taken at that end.
DirectionCosines Crossing(const DirectionCosines& a, const DirectionCosines& b,
                          const DirectionCosines& p, const DirectionCosines& q) {
  const DirectionCosines n = Cross(a, b);
  const DirectionCosines pq{p.x - q.x, p.y - q.y, p.z - q.z};
  const DirectionCosines d = Cross(n, pq);
  const double scale = Dot(n, n) * Dot(pq, pq);
  if (!(Dot(d, d) > kAlongBisector * kAlongBisector * scale)) {
    return Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
  }
  DirectionCosines x = Normalised(d);
  if (!IsValid(x)) return Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
  if (x.x * (a.x + b.x) + x.y * (a.y + b.y) + x.z * (a.z + b.z) < 0.0) x = {-x.x, -x.y, -x.z};
  if (Dot(Cross(a, x), n) < 0.0) return a;
  if (Dot(Cross(x, b), n) < 0.0) return b;
  return x;
}

// Cuts one ring into chains, appending their points to store.
void RingChains(const cells::CellIndex& idx, const std::vector<DirectionCosines>& v,
                const std::vector<RingPiece>& pieces, std::vector<Chain>& chains,
                std::vector<DirectionCosines>& store) {
  const std::size_t n = pieces.size();
  const std::int64_t m = static_cast<std::int64_t>(v.size());
  if (n == 0 || m == 0) return;
  std::vector<char> has(n, 0);
  std::vector<DirectionCosines> x(n);
  std::size_t k0 = n;
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t prev = (k + n - 1) % n;
    if (pieces[prev].cell == pieces[k].cell) continue;
    const DirectionCosines& a = v[static_cast<std::size_t>((pieces[k].start - 1 + m) % m)];
    const DirectionCosines& b = v[static_cast<std::size_t>(pieces[k].start % m)];
    x[k] = Crossing(a, b, idx.cells[pieces[prev].cell]->centre, idx.cells[pieces[k].cell]->centre);
    has[k] = 1;
    if (k0 == n) k0 = k;
  }
  auto add_vertices = [&](std::size_t k) {
    for (std::int64_t j = 0; j < pieces[k].count; ++j) {
      store.push_back(v[static_cast<std::size_t>(pieces[k].start + j)]);
    }
  };
  if (k0 == n) {  // the ring stays in one cell
    Chain c{pieces[0].cell, pieces[0].cell, pieces[0].cell, false, store.size(), 0};
    for (std::size_t k = 0; k < n; ++k) add_vertices(k);
    c.count = store.size() - c.first;
    if (c.count >= 3) chains.push_back(c);
    return;
  }
  Chain c{pieces[k0].cell, pieces[(k0 + n - 1) % n].cell, 0, true, store.size(), 0};
  store.push_back(x[k0]);
  add_vertices(k0);
  for (std::size_t step = 1; step <= n; ++step) {
    const std::size_t k = (k0 + step) % n;
    if (has[k]) {
      store.push_back(x[k]);
      c.to = pieces[k].cell;
      c.count = store.size() - c.first;
      chains.push_back(c);
      if (step == n) break;
      c = Chain{pieces[k].cell, pieces[(k + n - 1) % n].cell, 0, true, store.size(), 0};
      store.push_back(x[k]);
    }
    if (step < n) add_vertices(k);
  }
}

double Angle(const TangentFrame& f, const DirectionCosines& p) {
  double u = 0.0, w = 0.0;
  ProjectToFrame(f, p, u, w);
  return std::atan2(w, u);
}

// Counterclockwise angle from a to b in [0, 2 pi).
double AngleFrom(double a, double b) {
  double d = b - a;
  while (d < 0.0) d += 2.0 * kPi;
  while (d >= 2.0 * kPi) d -= 2.0 * kPi;
  return d;
}

// The chains of the cell among chains sorted by cell.
std::pair<const Chain*, const Chain*> ChainsOf(const std::vector<Chain>& chains, std::int32_t cell) {
  auto lo = std::lower_bound(chains.begin(), chains.end(), cell,
                             [](const Chain& c, std::int32_t v) { return c.cell < v; });
  auto hi = lo;
  while (hi != chains.end() && hi->cell == cell) ++hi;
  return {chains.data() + (lo - chains.begin()), chains.data() + (hi - chains.begin())};
}

// Whether a boundary cell lies inside the rings, for a cell whose part is
// all or nothing: walked from the nearest cell without boundary (whose side
// its lists tell) across the neighbour graph, counting the chain legs that
// each step between the two cells' probe points crosses, as the assembly
// does. Legs shared by two rings in opposite directions are crossed twice
// and cancel. 1 inside, 0 outside, -1 when no such cell is near.
int SideByWalk(const cells::CellIndex& idx, std::int32_t cell, const std::vector<Chain>& chains,
               const std::vector<DirectionCosines>& store, const std::int32_t* icells,
               const std::int32_t* bcells) {
  constexpr std::size_t kMaxVisits = 512;
  std::vector<std::pair<std::int32_t, std::int32_t>> seen{{cell, -1}};  // cell, parent entry
  std::size_t head = 0;
  std::int64_t target = -1;
  while (head < seen.size() && target < 0 && seen.size() < kMaxVisits) {
    const std::int32_t u = seen[head].first;
    const cells::CellRecord* r = idx.cells[u];
    for (int k = 0; k < r->neighbour_count; ++k) {
      const std::int32_t w = r->neighbours[k];
      if (w < 0 || w >= idx.cell_count) continue;
      bool known = false;
      for (const auto& sv : seen) known = known || sv.first == w;
      if (known) continue;
      seen.push_back({w, static_cast<std::int32_t>(head)});
      if (!cells::CellListContains(bcells, w)) {
        target = static_cast<std::int64_t>(seen.size()) - 1;
        break;
      }
    }
    ++head;
  }
  if (target < 0) return -1;
  int side = cells::CellListContains(icells, seen[target].first) ? 1 : 0;
  for (std::int64_t at = target; seen[at].second >= 0; at = seen[at].second) {
    const std::int32_t w = seen[at].first, u = seen[seen[at].second].first;
    const cells::CellRecord* r = idx.cells[u];
    const int n = r->neighbour_count;
    std::int32_t near[4] = {u, w, u, u};
    for (int k = 0; k < n; ++k) {
      if (r->neighbours[k] != w) continue;
      near[2] = r->neighbours[(k + n - 1) % n];
      near[3] = r->neighbours[(k + 1) % n];
    }
    const DirectionCosines pu = cells::CellProbe(idx, u), pw = cells::CellProbe(idx, w);
    for (int m = 0; m < 4; ++m) {
      bool again = false;
      for (int l = 0; l < m; ++l) again = again || near[l] == near[m];
      if (again || near[m] < 0 || near[m] >= idx.cell_count) continue;
      const auto [b, e] = ChainsOf(chains, near[m]);
      for (const Chain* ch = b; ch != e; ++ch) {
        const DirectionCosines* pt = store.data() + ch->first;
        const std::size_t legs = ch->open ? ch->count - 1 : ch->count;
        for (std::size_t j = 0; j < legs; ++j)
          if (cells::ArcsCross(pu, pw, pt[j], pt[(j + 1) % ch->count])) side ^= 1;
      }
    }
  }
  return side;
}

// The part of one boundary cell inside the rings, or NOVALUE.
double BoundaryCellPart(const cells::CellIndex& idx, const Ellipsoid& e, std::int32_t cell,
                        const Chain* chains, std::size_t chain_count,
                        const std::vector<DirectionCosines>& store, const std::int32_t* icells,
                        const std::int32_t* bcells, const std::vector<Chain>* all_chains) {
  const cells::CellRecord* rec = idx.cells[cell];
  const int nv = rec->neighbour_count;
  std::vector<DirectionCosines> w(nv), wn(nv);
  std::vector<double> alpha(nv), cum(nv + 1, 0.0);
  const DirectionCosines cn = SurfaceNormal(rec->centre, e);
  const TangentFrame frame = BuildTangentFrame(rec->centre);
  for (int k = 0; k < nv; ++k) {
    if (cells::VoronoiVertex(idx, cell, k, w[k]) == 0 || !IsValid(w[k])) return NOVALUE;
    wn[k] = SurfaceNormal(w[k], e);
    alpha[k] = Angle(frame, w[k]);
  }
  for (int k = 0; k < nv; ++k) {
    const double t = NormalTriangleArea(&e, cn, wn[(k + nv - 1) % nv], wn[k]);
    if (t == NOVALUE) return NOVALUE;
    cum[k + 1] = cum[k] + t;
  }
  const double whole = cum[nv];
  if (!(whole > 0.0)) return NOVALUE;

  // The sector from vertex nv-1 (the start of edge 0) to the rim point x, x
  // on the edge shared with neighbour `other` (edge k runs from vertex k-1
  // to vertex k and is shared with neighbour k).
  auto sector = [&](const DirectionCosines& x, std::int32_t other, double ax) {
    int edge = -1;
    for (int k = 0; k < nv; ++k) {
      if (rec->neighbours[k] == other) edge = k;
    }
    if (edge < 0) {  // not a neighbour: the edge by the angle
      double best = 1e300;
      for (int k = 0; k < nv; ++k) {
        const double span = AngleFrom(alpha[(k + nv - 1) % nv], alpha[k]);
        const double pos = AngleFrom(alpha[(k + nv - 1) % nv], ax);
        const double miss = pos <= span ? 0.0 : std::min(pos - span, 2.0 * kPi - pos);
        if (miss < best) {
          best = miss;
          edge = k;
        }
      }
    }
    // The rim point in the direction of x: x itself when the crossing lies
    // on the edge; coarse records (8 or 16 bits) can put a restored vertex,
    // and so the crossing taken at a leg's end, a little off it. The radial
    // step between the two bounds no area.
    const DirectionCosines& w0 = wn[(edge + nv - 1) % nv];
    const DirectionCosines xn = SurfaceNormal(x, e);
    const DirectionCosines rim = Normalised(Cross(w0, wn[edge]));
    DirectionCosines r = xn;
    if (IsValid(rim) && std::fabs(Dot(rim, xn)) > 1e-12) {
      r = Normalised(Cross(Cross(cn, xn), rim));
      if (!IsValid(r)) r = xn;
      else if (Dot(r, xn) < 0.0) r = {-r.x, -r.y, -r.z};
    }
    const double t = NormalTriangleArea(&e, cn, w0, r);
    return t == NOVALUE ? NOVALUE : cum[edge] + t;
  };

  struct Event {
    double angle;
    bool exit;
  };
  std::vector<Event> events;
  double total = 0.0;
  for (std::size_t i = 0; i < chain_count; ++i) {
    const Chain& ch = chains[i];
    const DirectionCosines* p = store.data() + ch.first;
    const std::size_t count = ch.count;
    DirectionCosines prev = SurfaceNormal(p[0], e);
    const std::size_t legs = ch.open ? count - 1 : count;
    for (std::size_t j = 1; j <= legs; ++j) {
      const DirectionCosines next = SurfaceNormal(p[j % count], e);
      const double t = NormalTriangleArea(&e, cn, prev, next);
      if (t == NOVALUE) return NOVALUE;
      total += t;
      prev = next;
    }
    if (ch.open) {
      const double a_in = Angle(frame, p[0]), a_out = Angle(frame, p[count - 1]);
      const double b_in = sector(p[0], ch.from, a_in), b_out = sector(p[count - 1], ch.to, a_out);
      if (b_in == NOVALUE || b_out == NOVALUE) return NOVALUE;
      total += b_in - b_out;
      events.push_back({a_in, false});
      events.push_back({a_out, true});
    }
  }
  double part = total - whole * std::floor(total / whole);
  const double tol = kAmbiguousShare * whole;
  if (part < tol || part > whole - tol) {
    bool rim_inside = false;
    // A neighbour across an edge that no chain reaches, and that has no
    // boundary itself, is on the cell's side: the part is all or nothing,
    // so what lies along that edge is what fills the cell. Chains that run
    // along the rim (two rings sharing a cell edge in opposite directions)
    // put exits and entries on the same corners, where the order of the
    // crossings cannot tell the corners' side.
    bool decided = false;
    for (int k = 0; k < nv && !decided; ++k) {
      const std::int32_t nb = rec->neighbours[k];
      if (nb < 0 || nb >= idx.cell_count || cells::CellListContains(bcells, nb)) continue;
      const double from = alpha[(k + nv - 1) % nv];
      const double span = AngleFrom(from, alpha[k]);
      bool reached = false;
      for (const Event& ev : events) {
        const double pos = AngleFrom(from, ev.angle);
        if (pos <= span + kEdgeAngle || pos >= 2.0 * kPi - kEdgeAngle) reached = true;
      }
      if (reached) continue;
      rim_inside = cells::CellListContains(icells, nb);
      decided = true;
    }
    if (!decided && all_chains) {
      const int side = SideByWalk(idx, cell, *all_chains, store, icells, bcells);
      if (side >= 0) {
        rim_inside = side == 1;
        decided = true;
      }
    }
    if (!decided && !events.empty()) {
      // A corner is inside when the crossing before it, going round the rim
      // counterclockwise, is an exit.
      int inside = 0;
      for (int k = 0; k < nv; ++k) {
        double nearest = 1e300;
        bool exit = false;
        for (const Event& ev : events) {
          const double d = AngleFrom(ev.angle, alpha[k]);
          if (d < nearest) {
            nearest = d;
            exit = ev.exit;
          }
        }
        inside += exit ? 1 : 0;
      }
      rim_inside = 2 * inside > nv;
    } else if (!decided) {
      for (int k = 0; k < nv; ++k) {
        const std::int32_t nb = rec->neighbours[k];
        if (cells::CellListContains(icells, nb)) {
          rim_inside = true;
          break;
        }
        if (!cells::CellListContains(bcells, nb)) break;
      }
    }
    if (rim_inside && part < whole / 2) part += whole;
    if (!rim_inside && part > whole / 2) part -= whole;
    part = std::clamp(part, 0.0, whole);
  }
  return part;
}

// Sum of the geodesic lengths of the ring's legs, the closing leg included.
double RingLength(const Ellipsoid& e, const std::vector<DirectionCosines>& v) {
  if (v.size() < 2) return 0.0;
  std::vector<DirectionCosines> closed(v);
  closed.push_back(v.front());
  closed.push_back({NOVALUE, 0.0, 0.0});
  closed.push_back({NOVALUE, 0.0, 0.0});
  return GeodesicPolylineLength(e, closed);
}

ObjectMeasure Fail(ObjectMeasure m, int function, int status) {
  m.function = function;
  m.status = status;
  return m;
}

ObjectMeasure MeasureRsetImpl(cells::CellIndex& idx, const cells::Object& obj, const Ellipsoid& e,
                              char method, const double* table) {
  ObjectMeasure m;
  if (obj.kind != cells::kRset || !cells::ObjectValid(obj, idx.cell_count) ||
      !(e.a > 0.0 && e.b > 0.0)) {
    return Fail(m, MEASURE_FN_RESTORE, 1);
  }
  m.vertices = cells::VertexCount(obj);
  const std::int32_t* bcells = cells::EnvelopeList(obj, 0);
  const std::int32_t* icells = cells::EnvelopeList(obj, 1);
  const std::int64_t items = cells::ItemCount(obj);
  std::vector<DirectionCosines> v, store, normals;
  std::vector<RingPiece> pieces;
  std::vector<Chain> chains;
  double perimeter = 0.0;
  for (std::int64_t i = 0; i < items; ++i) {
    if (!RestoreItem(idx, obj, i, v, pieces)) return Fail(m, MEASURE_FN_RESTORE, 1);
    if (v.size() < 3) continue;
    perimeter += RingLength(e, v);
    if (method == 'c') {
      RingChains(idx, v, pieces, chains, store);
    } else {
      for (const DirectionCosines& p : v) normals.push_back(SurfaceNormal(p, e));
      normals.push_back({NOVALUE, 0.0, 0.0});
    }
  }
  m.perimeter = perimeter;
  if (method != 'c') {
    normals.push_back({NOVALUE, 0.0, 0.0});
    normals.push_back({NOVALUE, 0.0, 0.0});
    if (method == 'r') {
      m.area = RegionGeodesicMeasure(e, normals).area;
    } else {
      m.area = RegionAreaByEdges(e, normals, SubdivisionLength(e),
                                 method == 'p' ? EdgePath::ParallelWhenLevel : EdgePath::Geodesic);
    }
    if (m.area == NOVALUE) return Fail(m, MEASURE_FN_RINGS, 1);
    return m;
  }

  const double ellipsoid_area = 2.0 * e.half_area;
  double area = 0.0;
  // Whole inner cells.
  cells::CellListCursor cur = cells::CellListBegin(icells);
  std::int32_t cell = 0;
  while (cells::CellListNext(cur, &cell)) {
    if (cell < 0 || cell >= idx.cell_count) return Fail(m, MEASURE_FN_CELLS, 1);
    const double a = table ? table[cell] * ellipsoid_area : IndexCellArea(idx, &e, cell);
    if (a == NOVALUE) return Fail(m, MEASURE_FN_CELLS, 1);
    area += a;
  }
  // Boundary cells, their chains together.
  std::stable_sort(chains.begin(), chains.end(),
                   [](const Chain& a, const Chain& b) { return a.cell < b.cell; });
  std::size_t i = 0;
  std::vector<std::int32_t> done;
  while (i < chains.size()) {
    std::size_t j = i;
    while (j < chains.size() && chains[j].cell == chains[i].cell) ++j;
    const double part =
        BoundaryCellPart(idx, e, chains[i].cell, chains.data() + i, j - i, store, icells, bcells, &chains);
    if (part == NOVALUE) return Fail(m, MEASURE_FN_CELLS, 1);
    area += part;
    done.push_back(chains[i].cell);
    i = j;
  }
  // A b-cell no ring piece reached is whole or empty as its neighbours say.
  cur = cells::CellListBegin(bcells);
  while (cells::CellListNext(cur, &cell)) {
    if (std::binary_search(done.begin(), done.end(), cell)) continue;
    if (cell < 0 || cell >= idx.cell_count) return Fail(m, MEASURE_FN_CELLS, 1);
    const double part = BoundaryCellPart(idx, e, cell, nullptr, 0, store, icells, bcells, &chains);
    if (part == NOVALUE) return Fail(m, MEASURE_FN_CELLS, 1);
    area += part;
  }
  m.area = area;
  return m;
}

}  // namespace

double IndexCellArea(const cells::CellIndex& idx, const Ellipsoid* e, std::int32_t cell) {
  if (cell < 0 || cell >= idx.cell_count) return NOVALUE;
  const cells::CellRecord* r = idx.cells[cell];
  DirectionCosines w[cells::MAX_NEIGHBOURS];
  const int n = std::min<int>(r->neighbour_count, cells::MAX_NEIGHBOURS);
  for (int k = 0; k < n; ++k) {
    if (cells::VoronoiVertex(idx, cell, k, w[k]) == 0 || !IsValid(w[k])) return NOVALUE;
  }
  return CellTrueArea(e, r->centre, std::span<const DirectionCosines>(w, n));
}

bool FillCellAreaTable(const cells::CellIndex& idx, const Ellipsoid* e, std::span<double> table,
                       double* total) {
  if (table.size() < static_cast<std::size_t>(idx.cell_count) || idx.cell_count <= 0) return false;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    table[i] = IndexCellArea(idx, e, i);
    if (table[i] == NOVALUE || !(table[i] > 0.0)) return false;
  }
  // Compensated sum, so that the shares add up to 1 to the last bit or two.
  double sum = 0.0, carry = 0.0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const double t = sum + table[i];
    carry += std::fabs(sum) >= table[i] ? (sum - t) + table[i] : (table[i] - t) + sum;
    sum = t;
  }
  sum += carry;
  if (total) *total = sum;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) table[i] /= sum;
  return true;
}

ObjectMeasure MeasureLset(cells::CellIndex& idx, const cells::Object& obj, const Ellipsoid& e) {
  ObjectMeasure m;
  try {
    if (obj.kind != cells::kLset || !cells::ObjectValid(obj, idx.cell_count)) {
      return Fail(m, MEASURE_FN_RESTORE, 1);
    }
    m.vertices = cells::VertexCount(obj);
    std::vector<DirectionCosines> v, list;
    std::vector<RingPiece> pieces;
    for (std::int64_t i = 0; i < cells::ItemCount(obj); ++i) {
      if (!RestoreItem(idx, obj, i, v, pieces)) return Fail(m, MEASURE_FN_RESTORE, 1);
      list.insert(list.end(), v.begin(), v.end());
      list.push_back({NOVALUE, 0.0, 0.0});
    }
    list.push_back({NOVALUE, 0.0, 0.0});
    m.perimeter = PolylineLength(e, list);
    if (m.perimeter == NOVALUE) return Fail(m, MEASURE_FN_RINGS, 1);
  } catch (const std::bad_alloc&) {
    return Fail(m, MEASURE_FN_RESTORE, 9);
  }
  return m;
}

ObjectMeasure MeasureRset(cells::CellIndex& idx, const cells::Object& obj, const Ellipsoid& e,
                          char method, const double* table) {
  try {
    return MeasureRsetImpl(idx, obj, e, method, table);
  } catch (const std::bad_alloc&) {
    ObjectMeasure m;
    return Fail(m, MEASURE_FN_CELLS, 9);
  }
}

}  // namespace cells
