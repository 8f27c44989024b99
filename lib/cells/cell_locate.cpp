// Cell location, Voronoi vertices, near cells and the outward search.
//
// The walk: from the current cell, every neighbour is looked at in list
// order and the nearest one that is strictly nearer than the best so far
// becomes the candidate (equally near neighbours: the lowest number); the
// walk moves there and repeats until no neighbour is nearer. Each step
// lowers the squared chord strictly, so the walk ends on any index; on a
// Voronoi partition it ends at the nearest centre.
//
// The start-cell table (the index's auxiliary array) is a grid over the six
// faces of the cube of direction cosines: the face is the component of
// largest magnitude, and the other two components divided by it give grid
// coordinates in [-1, 1]. Each grid square holds the cell nearest to the
// square's middle. A point far from the walk hint starts from its square's
// cell instead (when that is nearer); a point near the walk hint walks from
// the hint as before.
//
// The squares are about half a cell wide. Nearly every square is marked
// local: every point in it has its nearest centre among the square's cell
// and that cell's neighbours, so one look at the cell's compact node (below)
// decides, with no walk. A square is local when every cell two steps from
// its cell (a neighbour of a neighbour, neither the cell nor one of its
// neighbours) is farther, by a clear margin at all four corners, than one of
// the cell and its neighbours: the neighbour's bisector then passes outside
// the square (a square's points are positive combinations of its corners).
// The cells whose Voronoi regions meet the square form a connected patch
// that holds the square's cell; had it a cell beyond the neighbours, it
// would hold one two steps away too, and none meets the square.
//
// The compact nodes, one 64-byte slot per cell, hold the neighbour numbers
// and the vectors from each neighbour's centre to the cell's centre, scaled
// by the node's largest component to 16-bit integers. For a point p of
// about unit length, neighbour m is nearer than c exactly when p.(c - m) < 0
// up to the difference of the centres' squared lengths. The point's
// components are rounded to 16-bit integers too, so that the products of a
// lane sum exactly in 32-bit integers; in the node's units the two
// roundings and that difference stay within NODE_TOLERANCE, so each
// neighbour is either surely farther, surely nearer or undecided. With every neighbour surely farther the cell is the
// nearest; with exactly one surely nearer, by twice the tolerance more than
// any other, the walk moves there; one node look decides both, four lanes at
// a time and without a branch on the data. Anything else (undecided, two
// nearer, a cell of more than NODE_NEIGHBOURS neighbours) hands over to the
// walk on the exact squared chords from that cell, so the result is always
// the walk's. Points far from unit length (the zero vector, say) skip the
// table and the nodes and are walked from the hint on the exact chords.
#include "lib/cells/cell_locate.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <new>

#include <emmintrin.h>

#include "lib/cells/cell_disc.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {

using geodesy::ChordSq;
using geodesy::DirectionCosines;

namespace {

// Neighbours a compact node holds; a cell with more is walked exactly.
constexpr int NODE_NEIGHBOURS = 6;
// Lanes of the node's vectors: two groups of four.
constexpr int NODE_LANES = 8;


// One cell's compact node (64 bytes, one cache line). q holds, lane by lane,
// the x, y and z of (centre(cell) - centre(neighbour)) / scale rounded to
// integers, the scale making the largest component NODE_UNITS; lanes beyond
// the neighbour count repeat lane 0. The neighbours are base + delta[k];
// the top four bits of head hold the neighbour count, the rest base. A
// count of 0 marks a cell walked exactly (more than NODE_NEIGHBOURS
// neighbours, centres unfit for the units, neighbour numbers spread more
// than 65 535 apart, or a cell number beyond 2^28).
struct alignas(64) Node {
  std::int16_t xy[2 * NODE_LANES];  // x0 y0 x1 y1 ... x7 y7
  std::int16_t z[NODE_LANES];       // z0 z4 z1 z5 z2 z6 z3 z7
  std::uint32_t head;
  std::uint16_t delta[NODE_NEIGHBOURS];
};
static_assert(sizeof(Node) == 64, "a compact node is one cache line");
constexpr std::uint32_t NODE_BASE = 0x0fffffffu;
constexpr int NODE_COUNT_SHIFT = 28;

// Largest component of a node's vectors in its units, and the factor that
// turns p's components into 16-bit integers: the three products of a lane
// then sum to less than 2^31 for |p| <= 1.5.
constexpr double NODE_UNITS = 16000.0;
constexpr double POINT_UNITS = 16384.0;
// Bound, in a node's units, on the error of P.q / POINT_UNITS against
// p.(c - m) / scale for |p| <= 1.5, P the point's integers: the rounding of
// q (half a unit a component, 1.3 at most), of P (1.5 at most), the
// difference of the centres' squared lengths (at most 0.1, or the cell is
// walked exactly), the float conversion of the sums and the rounding of
// the squared chords.
constexpr double NODE_TOLERANCE = 3.5;

struct StartTable {
  std::int32_t grid;          // squares per face side
  std::int32_t cell_count;    // of the index it was made for
  double far2;                // squared chord beyond which a hint counts as far
  DirectionCosines* centres;  // copy of every centre, by cell number
  std::int32_t* offsets;      // cell_count + 1 offsets into lists
  std::int32_t* lists;        // copy of every neighbour list, end to end
  std::uint32_t* start;       // 6 * grid * grid start cells, LOCAL_SQUARE or'd in
  Node* nodes;                // cell_count compact nodes and a spare one, 64-byte aligned
  // The last point located through the table and its cell: while the walk
  // hint is still that cell, the distance to the last point tells near from
  // far without touching the hint's centre.
  std::int32_t last_cell;
  DirectionCosines last_point;
};

// Mark of a start cell whose square is local (see above).
constexpr std::uint32_t LOCAL_SQUARE = 0x80000000u;
// Mark of a start cell whose square lies wholly inside the cell: every
// neighbour is farther at all four corners by a clear margin.
constexpr std::uint32_t SURE_SQUARE = 0x40000000u;
constexpr std::uint32_t SQUARE_CELL = 0x3fffffffu;

// Smallest p.(a - x) at a square's corners for cell a to count as surely
// nearer than cell x there. The walk compares squared chords whose
// difference is twice this for a unit point; rounding in the chords, the
// corners and the centres' lengths (a few 1e-15 and at most 1e-13) stays far
// below it.
constexpr double SURE_MARGIN = 1e-9;

inline double Chord2(const DirectionCosines& p, const DirectionCosines& c) {
  const double dx = p.x - c.x, dy = p.y - c.y, dz = p.z - c.z;
  return dx * dx + dy * dy + dz * dz;
}

// The neighbour structure read through the records.
struct RecordGraph {
  CellRecord* const* cells;
  const DirectionCosines& Centre(std::int32_t c) const { return cells[c]->centre; }
  const std::int32_t* Neighbours(std::int32_t c, int& n) const {
    n = cells[c]->neighbour_count;
    return cells[c]->neighbours;
  }
};

// The same read from the table's flat copies: centres by cell number, and the
// neighbour lists laid end to end with their offsets.
struct FlatGraph {
  const DirectionCosines* centres;
  const std::int32_t* offsets;  // cell_count + 1
  const std::int32_t* lists;
  const DirectionCosines& Centre(std::int32_t c) const { return centres[c]; }
  const std::int32_t* Neighbours(std::int32_t c, int& n) const {
    n = offsets[c + 1] - offsets[c];
    return lists + offsets[c];
  }
};

// Walks from c (at squared chord d from p) to the nearest centre.
template <class Graph>
inline std::int32_t Walk(const Graph& graph, std::int32_t c, double d, const DirectionCosines& p, int* steps) {
  int moved = 0;
  for (;;) {
    int n;
    const std::int32_t* nb = graph.Neighbours(c, n);
    if (n < 1) break;
    std::int32_t cand = -1;
    double best = d;
    for (int k = 0; k < n; ++k) {
      const std::int32_t m = nb[k];
      const double e = Chord2(p, graph.Centre(m));
      if (e < best || (e == best && cand >= 0 && m <= cand)) {
        cand = m;
        best = e;
      }
    }
    if (cand < 0) break;
    c = cand;
    d = best;
    ++moved;
  }
  if (steps != nullptr) *steps = moved;
  return c;
}

// Grid square of p on its cube face: index into the table. The face is
// picked by selects, not branches: random points would mispredict them.
inline std::size_t SquareOf(const DirectionCosines& p, std::int32_t grid) {
  const double comp[3] = {p.x, p.y, p.z};
  const double ax = std::fabs(p.x), ay = std::fabs(p.y), az = std::fabs(p.z);
  const bool on_x = ax >= ay && ax >= az;
  const bool on_y = !on_x && ay >= az;
  // Faces 0/1: (y, z); 2/3: (z, x); 4/5: (x, y).
  const int axis = on_x ? 0 : (on_y ? 1 : 2);
  const double lead = comp[axis];
  const double u = comp[axis == 2 ? 0 : axis + 1], v = comp[axis == 0 ? 2 : axis - 1];
  const int face = 2 * axis + (lead < 0.0 ? 1 : 0);
  const double half = 0.5 * grid;
  const double inv = half / std::fabs(lead);
  // Clamped so that a point with infinite or NaN components (or the zero
  // vector) still gives a square inside the table: MAXSD gives its second
  // operand, 0, when the first is NaN.
  const __m128d zero = _mm_setzero_pd(), top = _mm_set_sd(grid - 1);
  const __m128d fi = _mm_min_sd(_mm_max_sd(_mm_set_sd(u * inv + half), zero), top);
  const __m128d fj = _mm_min_sd(_mm_max_sd(_mm_set_sd(v * inv + half), zero), top);
  const int i = _mm_cvttsd_si32(fi), j = _mm_cvttsd_si32(fj);
  return (static_cast<std::size_t>(face) * grid + j) * grid + i;
}

// A point of a grid square's face plane (fi, fj in squares, 0 ... grid) as
// a unit vector; (i + 0.5, j + 0.5) is the square's middle.
DirectionCosines FacePoint(int face, double fi, double fj, std::int32_t grid) {
  const double u = fi * 2.0 / grid - 1.0, v = fj * 2.0 / grid - 1.0;
  const double s = face % 2 == 0 ? 1.0 : -1.0;
  DirectionCosines p;
  switch (face / 2) {
    case 0: p = {s, u, v}; break;
    case 1: p = {v, s, u}; break;
    default: p = {u, v, s}; break;
  }
  const double len = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
  return {p.x / len, p.y / len, p.z / len};
}

// The table, when it was made for the index as it is now (an index that
// grew since is located from the walk hint alone until the table is made
// again).
inline StartTable* TableOf(const CellIndex& idx) {
  StartTable* t = static_cast<StartTable*>(idx.extra);
  if (t != nullptr && t->cell_count != idx.cell_count) return nullptr;
  return t;
}

// Squares per cell width across a cube face.
constexpr double GRID_PER_CELL = 2.0;

// True when cell a is nearer than cell x, by SURE_MARGIN, at each corner.
bool NearerAtCorners(const StartTable& t, std::int32_t a, std::int32_t x, const DirectionCosines* corner) {
  const DirectionCosines& pa = t.centres[a];
  const DirectionCosines& px = t.centres[x];
  const DirectionCosines ax{pa.x - px.x, pa.y - px.y, pa.z - px.z};
  for (int k = 0; k < 4; ++k) {
    const DirectionCosines& q = corner[k];
    if (!(q.x * ax.x + q.y * ax.y + q.z * ax.z >= SURE_MARGIN)) return false;
  }
  return true;
}

// True when every neighbour of cell c is farther than c's centre from each
// corner of a square (its four corners) by at least SURE_MARGIN.
bool SquareIsSure(const StartTable& t, std::int32_t c, const DirectionCosines* corner) {
  const int n = t.offsets[c + 1] - t.offsets[c];
  if (n < 1) return false;
  for (std::int32_t q = t.offsets[c]; q < t.offsets[c + 1]; ++q) {
    if (!NearerAtCorners(t, c, t.lists[q], corner)) return false;
  }
  return true;
}

// True when the square of these corners is local for cell c (see the head of
// this file): every cell two steps from c is beaten at all four corners by
// c or one of its neighbours, the neighbour it was reached through first.
bool SquareIsLocal(const StartTable& t, std::int32_t c, const DirectionCosines* corner) {
  if ((t.nodes[c].head >> NODE_COUNT_SHIFT) == 0) return false;
  const std::int32_t* ring = t.lists + t.offsets[c];
  const int n = t.offsets[c + 1] - t.offsets[c];
  auto in_ring = [&](std::int32_t x) { return x == c || std::find(ring, ring + n, x) != ring + n; };
  for (int a = 0; a < n; ++a) {
    const std::int32_t m = ring[a];
    for (std::int32_t q = t.offsets[m]; q < t.offsets[m + 1]; ++q) {
      const std::int32_t x = t.lists[q];
      if (in_ring(x)) continue;
      bool beaten = NearerAtCorners(t, m, x, corner) || NearerAtCorners(t, c, x, corner);
      for (int b = 0; b < n && !beaten; ++b) beaten = b != a && NearerAtCorners(t, ring[b], x, corner);
      if (!beaten) return false;
    }
  }
  return true;
}

// Fills cell c's compact node from the flat copies.
void MakeNode(StartTable& t, std::int32_t c) {
  Node& node = t.nodes[c];
  std::memset(&node, 0, sizeof node);
  const int n = t.offsets[c + 1] - t.offsets[c];
  if (n < 1 || n > NODE_NEIGHBOURS) return;
  const std::int32_t* nb = t.lists + t.offsets[c];
  const std::int32_t base = *std::min_element(nb, nb + n);
  if (*std::max_element(nb, nb + n) - base > 0xffff || base > static_cast<std::int32_t>(NODE_BASE)) return;
  const DirectionCosines& a = t.centres[c];
  const double a2 = a.x * a.x + a.y * a.y + a.z * a.z;
  double d[NODE_NEIGHBOURS][3];
  double largest = 0.0;
  for (int k = 0; k < n; ++k) {
    const DirectionCosines& b = t.centres[nb[k]];
    d[k][0] = a.x - b.x;
    d[k][1] = a.y - b.y;
    d[k][2] = a.z - b.z;
    for (double e : d[k]) largest = std::max(largest, std::fabs(e));
  }
  // Centres too close together or too far apart for the units: walk exactly.
  if (!(largest >= 1e-7 && largest <= 2.0)) return;
  const double scale = largest / NODE_UNITS;
  for (int k = 0; k < n; ++k) {
    // The squared lengths enter the chord difference at half weight.
    const DirectionCosines& b = t.centres[nb[k]];
    if (!(0.5 * std::fabs(b.x * b.x + b.y * b.y + b.z * b.z - a2) <= 0.1 * scale)) return;
  }
  for (int k = 0; k < NODE_LANES; ++k) {
    const int from = k < n ? k : 0;
    node.xy[2 * k] = static_cast<std::int16_t>(std::lround(d[from][0] / scale));
    node.xy[2 * k + 1] = static_cast<std::int16_t>(std::lround(d[from][1] / scale));
    node.z[2 * (k % 4) + k / 4] = static_cast<std::int16_t>(std::lround(d[from][2] / scale));
  }
  for (int k = 0; k < n; ++k) node.delta[k] = static_cast<std::uint16_t>(nb[k] - base);
  node.head = static_cast<std::uint32_t>(base) | (static_cast<std::uint32_t>(n) << NODE_COUNT_SHIFT);
}

// The point's components as 16-bit integers, in the pairs a node's lanes
// take them: (Px, Py) four times, and (Pz, 0) and (0, Pz) four times.
struct PointLanes {
  __m128i xy, z_low, z_high;
};
inline PointLanes PointLanesOf(const DirectionCosines& p) {
  const __m128d units = _mm_set1_pd(POINT_UNITS);
  // Rounded to nearest; |p| <= 1.5 keeps each within 16 bits.
  const __m128i xy = _mm_cvtpd_epi32(_mm_mul_pd(_mm_set_pd(p.y, p.x), units));
  const __m128i z = _mm_cvtpd_epi32(_mm_mul_sd(_mm_set_sd(p.z), units));
  PointLanes l;
  l.xy = _mm_shuffle_epi32(_mm_packs_epi32(xy, xy), 0);
  l.z_low = _mm_shuffle_epi32(_mm_and_si128(z, _mm_cvtsi32_si128(0xffff)), 0);
  l.z_high = _mm_slli_epi32(l.z_low, 16);
  return l;
}
// The tolerance in the units of the lanes below.
constexpr float LANE_TOLERANCE = static_cast<float>(NODE_TOLERANCE * POINT_UNITS);

// v = P.q by lane, exact in 32-bit integers and then as floats: negative
// when the neighbour is nearer than the node's cell.
inline void NodeLanes(const Node& node, const PointLanes& p, __m128& lo, __m128& hi) {
  const __m128i xy_low = _mm_load_si128(reinterpret_cast<const __m128i*>(node.xy));
  const __m128i xy_high = _mm_load_si128(reinterpret_cast<const __m128i*>(node.xy + NODE_LANES));
  const __m128i z = _mm_load_si128(reinterpret_cast<const __m128i*>(node.z));
  lo = _mm_cvtepi32_ps(_mm_add_epi32(_mm_madd_epi16(xy_low, p.xy), _mm_madd_epi16(z, p.z_low)));
  hi = _mm_cvtepi32_ps(_mm_add_epi32(_mm_madd_epi16(xy_high, p.xy), _mm_madd_epi16(z, p.z_high)));
}

// True when cell c's node finds every neighbour surely farther than c.
inline bool NodeStays(const StartTable& t, std::int32_t c, const PointLanes& p) {
  const Node& node = t.nodes[c];
  __m128 lo, hi;
  NodeLanes(node, p, lo, hi);
  const __m128 tol = _mm_set1_ps(LANE_TOLERANCE);
  // Lanes beyond the count repeat lane 0.
  return (node.head >> NODE_COUNT_SHIFT) != 0 &&
         (_mm_movemask_ps(_mm_cmpgt_ps(lo, tol)) & _mm_movemask_ps(_mm_cmpgt_ps(hi, tol))) == 15;
}

// One look at cell c's node for p (squared length 0.25 ... 2.25): c when
// every neighbour is surely farther, the neighbour that is surely nearer
// than c and than every other neighbour, otherwise -1. A node that walks
// exactly has all lanes 0 and never decides.
inline std::int32_t NodeDecide(const StartTable& t, std::int32_t c, const PointLanes& p) {
  const Node& node = t.nodes[c];
  __m128 lo, hi;
  NodeLanes(node, p, lo, hi);
  __m128 least = _mm_min_ps(lo, hi);
  least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(1, 0, 3, 2)));
  least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(2, 3, 0, 1)));
  // Close lanes: within twice the tolerance of the least (the difference of
  // two lanes has twice the error). Lanes beyond the count repeat lane 0 and
  // are left out.
  const __m128 limit = _mm_add_ps(least, _mm_set1_ps(2.0f * LANE_TOLERANCE));
  const int lanes = (1 << (node.head >> NODE_COUNT_SHIFT)) - 1;
  const int close = (_mm_movemask_ps(_mm_cmplt_ps(lo, limit)) | (_mm_movemask_ps(_mm_cmplt_ps(hi, limit)) << 4)) &
                    lanes;
  const float v = _mm_cvtss_f32(least);
  // Every neighbour surely farther: c. One surely nearer than c and alone
  // within twice the tolerance of the least: that one.
  const bool stay = v > LANE_TOLERANCE;
  const bool move = v < -LANE_TOLERANCE && (close & (close - 1)) == 0;
  const int lane = __builtin_ctz(static_cast<unsigned>(close) | 0x40u);
  const std::int32_t next =
      static_cast<std::int32_t>((node.head & NODE_BASE) + node.delta[lane < NODE_NEIGHBOURS ? lane : 0]);
  const std::int32_t r = stay ? c : next;
  return (stay || move) ? r : -1;
}

// The walk from c on the compact nodes (see the head of this file); p has
// squared length 0.25 ... 2.25.
inline std::int32_t NodeWalk(const StartTable& t, std::int32_t c, const DirectionCosines& p) {
  const PointLanes lanes = PointLanesOf(p);
  for (;;) {
    const std::int32_t r = NodeDecide(t, c, lanes);
    if (r < 0) break;
    if (r == c) return c;
    c = r;
  }
  return Walk(FlatGraph{t.centres, t.offsets, t.lists}, c, Chord2(p, t.centres[c]), p, nullptr);
}

}  // namespace

bool BuildStartTable(CellIndex& idx) {
  DropStartTable(idx);
  if (idx.cell_count <= 0 || idx.cells == nullptr) return false;
  // About GRID_PER_CELL squares per cell width across a face: nearly every
  // square is then local (all of them on the shipped indexes), and the
  // squares of 40 962 cells take 0.66 MB, small enough to stay in a core's
  // second-level cache. The grid is capped to keep the squares within 6.3 MB
  // on the largest indexes; the nodes take 64 bytes a cell.
  double g = std::ceil(GRID_PER_CELL * std::sqrt(idx.cell_count / 6.0));
  if (g < 1) g = 1;
  if (g > 512) g = 512;
  const std::int32_t grid = static_cast<std::int32_t>(g);
  const std::size_t squares = 6u * static_cast<std::size_t>(grid) * grid;
  const std::size_t head = (sizeof(StartTable) + 7) & ~std::size_t{7};
  std::size_t total = 0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const int n = idx.cells[i]->neighbour_count;
    total += static_cast<std::size_t>(n > 0 ? n : 0);
  }
  const std::size_t count = static_cast<std::size_t>(idx.cell_count);
  const std::size_t flat = head + count * sizeof(DirectionCosines) + (count + 1 + total + squares) * sizeof(std::int32_t);
  const std::size_t node_at = (flat + 63) & ~std::size_t{63};
  void* mem = std::aligned_alloc(64, node_at + (count + 1) * sizeof(Node));
  auto* t = static_cast<StartTable*>(mem);
  if (t == nullptr) return false;
  t->nodes = reinterpret_cast<Node*>(static_cast<unsigned char*>(mem) + node_at);
  t->centres = reinterpret_cast<DirectionCosines*>(reinterpret_cast<unsigned char*>(t) + head);
  t->offsets = reinterpret_cast<std::int32_t*>(t->centres + count);
  t->lists = t->offsets + count + 1;
  t->start = reinterpret_cast<std::uint32_t*>(t->lists + total);
  std::int32_t at = 0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const CellRecord* r = idx.cells[i];
    t->centres[i] = r->centre;
    t->offsets[i] = at;
    for (int k = 0; k < r->neighbour_count; ++k) t->lists[at++] = r->neighbours[k];
  }
  t->offsets[count] = at;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) MakeNode(*t, i);
  // The spare node after the last cell's: no neighbours, never decides.
  std::memset(&t->nodes[count], 0, sizeof(Node));
  t->grid = grid;
  t->cell_count = idx.cell_count;
  t->last_cell = NO_CELL;
  t->last_point = DirectionCosines{0.0, 0.0, 0.0};
  // Beyond about two cell widths from the hint the table start is worth a
  // look; nearer, the walk from the hint is as short.
  double far2 = 4.0 * idx.max_neighbour_chord2;
  if (!(far2 > 0.0) || far2 > 4.0) far2 = 4.0 * 4.0 * 3.14159 / idx.cell_count;
  t->far2 = far2;
  std::int32_t c = idx.walk_hint >= 0 && idx.walk_hint < idx.cell_count ? idx.walk_hint : 0;
  for (int face = 0; face < 6; ++face) {
    for (int j = 0; j < grid; ++j) {
      for (int ii = 0; ii < grid; ++ii) {
        // Serpentine order keeps consecutive squares side by side.
        const int i = (j % 2 == 0) ? ii : grid - 1 - ii;
        const DirectionCosines m = FacePoint(face, i + 0.5, j + 0.5, grid);
        c = Walk(FlatGraph{t->centres, t->offsets, t->lists}, c, Chord2(m, t->centres[c]), m, nullptr);
        DirectionCosines corner[4];
        for (int k = 0; k < 4; ++k) corner[k] = FacePoint(face, i + (k & 1), j + (k >> 1), grid);
        t->start[(static_cast<std::size_t>(face) * grid + j) * grid + i] =
            static_cast<std::uint32_t>(c) | (SquareIsLocal(*t, c, corner) ? LOCAL_SQUARE : 0u) |
            (SquareIsSure(*t, c, corner) ? SURE_SQUARE : 0u);
      }
    }
  }
  idx.extra = t;
  return true;
}

void DropStartTable(CellIndex& idx) {
  std::free(idx.extra);
  idx.extra = nullptr;
}

std::int32_t LocateFrom(const CellIndex& idx, std::int32_t start, const DirectionCosines& p, int* steps) {
  if (idx.cell_count <= 0 || idx.cells == nullptr) return NO_CELL;
  if (start < 0 || start >= idx.cell_count) start = 0;
  if (steps != nullptr) *steps = 0;
  if (!geodesy::IsValid(p)) return start;
  return Walk(RecordGraph{idx.cells}, start, Chord2(p, idx.cells[start]->centre), p, steps);
}

namespace {

// The decision for a point in square s (a start table entry): its cell, or
// -1 when the square's cell and its node leave it open.
inline std::int32_t DecideInSquare(const StartTable& t, std::uint32_t s, const DirectionCosines& p) {
  const std::int32_t c = static_cast<std::int32_t>(s & SQUARE_CELL);
  // A sure square's point lies in its cell; a local square's point is
  // decided by its cell's node alone. A branch on the mark would be
  // mispredicted for a sixth of random points, so a sure square looks at the
  // spare node instead (always in the cache) and takes its cell whatever
  // that node says.
  const bool sure = (s & SURE_SQUARE) != 0;
  const std::int32_t r = NodeDecide(t, sure ? t.cell_count : c, PointLanesOf(p));
  return sure ? c : ((s & LOCAL_SQUARE) != 0 ? r : -1);
}

// Everything but the quick path of Locate.
__attribute__((noinline)) std::int32_t LocateSlowly(CellIndex& idx, const DirectionCosines& p) {
  if (idx.cell_count <= 0 || idx.cells == nullptr) return NO_CELL;
  std::int32_t c = idx.walk_hint;
  if (c < 0 || c >= idx.cell_count) c = 0;
  if (!geodesy::IsValid(p)) return c;
  CellRecord* const* cells = idx.cells;
  if (idx.extra == nullptr) {
    const double d = Chord2(p, cells[c]->centre);
    if (!(d > 4.0 * 4.0 * 3.14159 / idx.cell_count) || !BuildStartTable(idx)) {
      c = Walk(RecordGraph{cells}, c, d, p, nullptr);
      idx.walk_hint = c;
      return c;
    }
  }
  StartTable* t = TableOf(idx);
  const double len2 = p.x * p.x + p.y * p.y + p.z * p.z;
  // The table and the nodes serve points of about unit length (their
  // margins are set for those); any other point is walked from the hint on
  // the exact chords, where a far start could only pick among near ties.
  if (t == nullptr || !(len2 >= 0.25 && len2 <= 2.25)) {
    c = Walk(RecordGraph{cells}, c, Chord2(p, cells[c]->centre), p, nullptr);
  } else {
    const DirectionCosines* centres = t->centres;
    const bool from_last = c == t->last_cell;
    const bool far = from_last && Chord2(p, t->last_point) > t->far2;
    std::uint32_t s = 0;
    bool start = far;
    if (far) {
      // Far from the last point located: start from the point's square.
      s = t->start[SquareOf(p, t->grid)];
    } else if (!from_last) {
      // The hint was set from outside: the square's cell when it is nearer
      // and the hint is far.
      const double d = Chord2(p, centres[c]);
      if (d > t->far2) {
        s = t->start[SquareOf(p, t->grid)];
        start = Chord2(p, centres[s & SQUARE_CELL]) < d;
      }
    }
    std::int32_t r = -1;
    if (start) {
      c = static_cast<std::int32_t>(s & SQUARE_CELL);
      r = DecideInSquare(*t, s, p);
    }
    c = r >= 0 ? r : NodeWalk(*t, c, p);
    t->last_cell = c;
    t->last_point = p;
  }
  idx.walk_hint = c;
  return c;
}

}  // namespace

std::int32_t Locate(CellIndex& idx, const DirectionCosines& p) {
  // The quick path, kept short so that the processor can run ahead into
  // the next call while this one waits for its node: a table made for the
  // index as it is, the hint still the cell of the last point located, and
  // a point of about unit length decided by its square (far from that
  // point) or by the hint's node (near it).
  StartTable* t = static_cast<StartTable*>(idx.extra);
  if (t != nullptr && t->cell_count == idx.cell_count && idx.walk_hint == t->last_cell) {
    const double len2 = p.x * p.x + p.y * p.y + p.z * p.z;
    if (len2 >= 0.25 && len2 <= 2.25) {
      // Far: the square decides. Near (a track): the hint's node, when it
      // finds the hint still nearest.
      const std::int32_t h = idx.walk_hint;
      const std::int32_t r = Chord2(p, t->last_point) > t->far2 ? DecideInSquare(*t, t->start[SquareOf(p, t->grid)], p)
                                                                 : (NodeStays(*t, h, PointLanesOf(p)) ? h : -1);
      if (r >= 0) {
        t->last_cell = r;
        t->last_point = p;
        idx.walk_hint = r;
        return r;
      }
    }
  }
  return LocateSlowly(idx, p);
}

int VertexOf(const DirectionCosines& a, const DirectionCosines& b, const DirectionCosines& c,
             DirectionCosines& v) {
  const DirectionCosines ba{b.x - a.x, b.y - a.y, b.z - a.z};
  const DirectionCosines ca{c.x - a.x, c.y - a.y, c.z - a.z};
  v = geodesy::Cross(ba, ca);
  geodesy::Normalise(v);
  if (!geodesy::IsValid(v)) return 0;
  const double s = geodesy::Dot(v, b);
  if (s > VERTEX_SIGN_LIMIT) return 1;
  if (s == VERTEX_SIGN_LIMIT) return 0;
  return -1;
}

int VoronoiVertex(const CellIndex& idx, std::int32_t cell, int k, DirectionCosines& v) {
  const CellRecord* r = idx.cells[cell];
  const int n = r->neighbour_count;
  if (n < 1) {
    v = DirectionCosines{geodesy::NOVALUE, 0.0, 0.0};
    return 0;
  }
  k %= n;
  if (k < 0) k += n;
  const std::int32_t b = r->neighbours[k], c = r->neighbours[(k + 1) % n];
  return VertexOf(r->centre, idx.cells[b]->centre, idx.cells[c]->centre, v);
}

std::size_t NearCellsScratchBytes(const CellIndex& idx) {
  return (2 * BitSetWords(idx.cell_count) + static_cast<std::size_t>(idx.cell_count)) * sizeof(std::uint32_t);
}

std::size_t SearchOutwardScratchBytes(const CellIndex& idx) {
  return (BitSetWords(idx.cell_count) + static_cast<std::size_t>(idx.cell_count)) * sizeof(std::uint32_t);
}

std::size_t NearCells(CellIndex& idx, Scratch scratch, const DirectionCosines& p, double limit2,
                      std::uint32_t* list, std::size_t list_words) {
  if (list == nullptr || list_words < 2 || idx.cell_count <= 0) return 0;
  const std::int32_t h = Locate(idx, p);
  if (!geodesy::IsValid(p) || Chord2(p, idx.cells[h]->centre) > limit2) {
    list[0] = 1;
    list[1] = static_cast<std::uint32_t>(NO_CELL);
    return 2;
  }
  if (scratch.base == nullptr || scratch.size < NearCellsScratchBytes(idx)) return 0;
  const std::size_t words = BitSetWords(idx.cell_count);
  std::uint32_t* seen = static_cast<std::uint32_t*>(scratch.base);
  std::uint32_t* inside = seen + words;
  std::uint32_t* work = inside + words;
  BitSetClearAll(seen, idx.cell_count);
  BitSetClearAll(inside, idx.cell_count);
  BitSetSet(seen, h);
  BitSetSet(inside, h);
  std::size_t top = 0;
  {
    const CellRecord* r = idx.cells[h];
    for (int k = 0; k < r->neighbour_count; ++k) {
      const std::int32_t m = r->neighbours[k];
      if (BitSetTest(seen, m)) continue;
      BitSetSet(seen, m);
      work[top++] = static_cast<std::uint32_t>(m);
    }
  }
  std::int32_t lowest = h, highest = h;
  while (top > 0) {
    const std::int32_t c = static_cast<std::int32_t>(work[--top]);
    const CellRecord* r = idx.cells[c];
    if (!(Chord2(p, r->centre) < limit2)) continue;
    BitSetSet(inside, c);
    if (c < lowest) lowest = c;
    if (c > highest) highest = c;
    for (int k = 0; k < r->neighbour_count; ++k) {
      const std::int32_t m = r->neighbours[k];
      if (BitSetTest(seen, m)) continue;
      BitSetSet(seen, m);
      work[top++] = static_cast<std::uint32_t>(m);
    }
  }
  std::size_t n = 2;
  list[1] = static_cast<std::uint32_t>(h);
  for (std::int32_t c = lowest; c <= highest; ++c) {
    if (c == h || !BitSetTest(inside, c)) continue;
    if (n >= list_words) return 0;
    list[n++] = static_cast<std::uint32_t>(c);
  }
  list[0] = static_cast<std::uint32_t>(n);
  return n;
}

std::vector<std::uint32_t> NearCellsList(CellIndex& idx, const DirectionCosines& p, double limit2) {
  std::vector<std::uint32_t> out;
  std::vector<std::uint32_t> scratch;
  try {
    scratch.resize(NearCellsScratchBytes(idx) / sizeof(std::uint32_t) + 1);
    out.resize(NearCellsMaxWords(idx) + 1);
  } catch (const std::bad_alloc&) {
    return {};
  }
  const std::size_t n = NearCells(idx, Scratch{scratch.data(), scratch.size() * sizeof(std::uint32_t)}, p,
                                  limit2, out.data(), out.size());
  out.resize(n);
  return out;
}

std::int32_t SearchOutward(CellIndex& idx, Scratch scratch, const DirectionCosines& p, CellPredicate pred,
                           void* context) {
  if (idx.cell_count <= 0 || pred == nullptr) return NO_CELL;
  const std::int32_t h = Locate(idx, p);
  if (pred(h, context) != 0) return h;
  if (scratch.base == nullptr || scratch.size < SearchOutwardScratchBytes(idx)) return NO_CELL;
  std::uint32_t* marks = static_cast<std::uint32_t*>(scratch.base);
  std::uint32_t* queue = marks + BitSetWords(idx.cell_count);
  BitSetClearAll(marks, idx.cell_count);
  BitSetSet(marks, h);
  std::size_t head = 0, tail = 0;
  const CellRecord* rh = idx.cells[h];
  for (int k = 0; k < rh->neighbour_count; ++k) {
    const std::int32_t m = rh->neighbours[k];
    if (BitSetTest(marks, m)) continue;
    BitSetSet(marks, m);
    queue[tail++] = static_cast<std::uint32_t>(m);
  }
  while (head < tail) {
    const std::int32_t c = static_cast<std::int32_t>(queue[head++]);
    if (pred(c, context) != 0) return c;
    const CellRecord* r = idx.cells[c];
    for (int k = 0; k < r->neighbour_count; ++k) {
      const std::int32_t m = r->neighbours[k];
      if (BitSetTest(marks, m)) continue;
      BitSetSet(marks, m);
      queue[tail++] = static_cast<std::uint32_t>(m);
    }
  }
  return NO_CELL;
}

std::uint32_t* NearCellsIn(CellIndex& idx, platform::Workspace* ws, const DirectionCosines& p, double limit2,
                           platform::Workspace* target) {
  if (ws == nullptr || idx.cell_count <= 0) return nullptr;
  const std::size_t max_words = NearCellsMaxWords(idx) + 1;
  std::uint32_t* list = nullptr;
  std::uint8_t* mark = nullptr;
  if (target != nullptr) {
    // The list is taken first, so that when target is ws itself the scratch
    // space lies above it.
    mark = target->top;
    list = static_cast<std::uint32_t*>(platform::WorkspaceAlloc(target, static_cast<std::int32_t>(max_words * 4)));
  } else {
    list = static_cast<std::uint32_t*>(std::malloc(max_words * 4));
  }
  if (list == nullptr) return nullptr;
  const std::size_t bytes = NearCellsScratchBytes(idx);
  void* scratch = platform::WorkspacePeek(ws, static_cast<std::int32_t>(bytes));
  const std::size_t n = NearCells(idx, Scratch{scratch, scratch != nullptr ? bytes : 0}, p, limit2, list, max_words);
  if (n == 0) {
    if (target != nullptr) platform::WorkspaceSetTop(target, mark);
    else std::free(list);
    return nullptr;
  }
  if (target != nullptr) {
    platform::WorkspaceSetTop(target, reinterpret_cast<std::uint8_t*>(list) + ((n * 4 + 7) & ~std::size_t{7}));
  } else if (void* shrunk = std::realloc(list, n * 4)) {
    list = static_cast<std::uint32_t*>(shrunk);
  }
  return list;
}

std::int32_t SearchOutwardIn(CellIndex& idx, platform::Workspace* ws, const DirectionCosines& p, CellPredicate pred,
                             void* context) {
  if (ws == nullptr) return SearchOutward(idx, Scratch{}, p, pred, context);
  platform::WorkspaceMark guard(ws);
  const std::size_t bytes = SearchOutwardScratchBytes(idx);
  void* scratch = platform::WorkspaceAlloc(ws, static_cast<std::int32_t>(bytes));
  return SearchOutward(idx, Scratch{scratch, scratch != nullptr ? bytes : 0}, p, pred, context);
}

namespace {

// The flood of NearCellsRegion over a bit set, a stack and the list.
std::size_t RegionFlood(CellIndex& idx, const DirectionCosines& p, double limit2, std::uint32_t* seen,
                        std::uint32_t* stack, std::size_t stack_words, std::uint32_t* list,
                        std::size_t list_words) {
  if (list == nullptr || list_words < 2 || idx.cell_count <= 0 || !geodesy::IsValid(p)) return 0;
  const std::int32_t h = Locate(idx, p);
  BitSetClearAll(seen, idx.cell_count);
  BitSetSet(seen, h);
  std::size_t top = 0, n = 2;
  list[1] = static_cast<std::uint32_t>(h);
  std::int32_t c = h;
  for (;;) {
    if (c == h || DiscCellStatus(idx, c, h, p, limit2) != DISC_OUTSIDE) {
      if (c != h) {
        if (n >= list_words) return 0;
        list[n++] = static_cast<std::uint32_t>(c);
      }
      const CellRecord* r = idx.cells[c];
      for (int k = 0; k < r->neighbour_count; ++k) {
        const std::int32_t m = r->neighbours[k];
        if (BitSetTest(seen, m)) continue;
        if (top >= stack_words) return 0;
        BitSetSet(seen, m);
        stack[top++] = static_cast<std::uint32_t>(m);
      }
    }
    if (top == 0) break;
    c = static_cast<std::int32_t>(stack[--top]);
  }
  std::sort(list + 2, list + n);
  list[0] = static_cast<std::uint32_t>(n);
  return n;
}

}  // namespace

std::size_t NearCellsRegion(CellIndex& idx, Scratch scratch, const DirectionCosines& p, double limit2,
                            std::uint32_t* list, std::size_t list_words) {
  const std::size_t words = BitSetWords(idx.cell_count);
  if (scratch.base == nullptr || scratch.size / 4 <= words) return 0;
  std::uint32_t* seen = static_cast<std::uint32_t*>(scratch.base);
  return RegionFlood(idx, p, limit2, seen, seen + words, scratch.size / 4 - words, list, list_words);
}

std::uint32_t* NearCellsRegionIn(CellIndex& idx, platform::Workspace* ws, const DirectionCosines& p,
                                 double limit2) {
  if (ws == nullptr || ws->top == nullptr || idx.cell_count <= 0) return nullptr;
  const std::size_t words = BitSetWords(idx.cell_count);
  const std::size_t free_words = static_cast<std::size_t>(ws->end - ws->top) / 4;
  if (free_words < words + 8) return nullptr;
  // Bit set first, then the list rising from below and the stack from above
  // in what is left (the last byte of the arena is never handed out).
  std::uint32_t* seen = reinterpret_cast<std::uint32_t*>(ws->top);
  const std::size_t rest = free_words - words - 2;
  std::uint32_t* list = seen + words + (words & 1);
  const std::size_t list_words = std::min(rest / 2, NearCellsMaxWords(idx));
  std::uint32_t* stack = list + list_words;
  const std::size_t stack_words = rest - list_words - 1;
  const std::size_t n = RegionFlood(idx, p, limit2, seen, stack, stack_words, list, list_words);
  if (n == 0) return nullptr;
  const std::size_t bytes = reinterpret_cast<std::uint8_t*>(list + n) - ws->top;
  if (platform::WorkspaceAlloc(ws, static_cast<std::int32_t>(bytes)) == nullptr) return nullptr;
  return list;
}

}  // namespace cells
