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
// cell instead (when that is nearer), which is one or two steps from its own
// cell; a point near the walk hint walks from the hint as before.
//
// The squares are about a third of a cell wide, so a third of them lie
// wholly inside their cell. Such a square is marked sure when every neighbour of
// its cell is farther than the cell's centre, by a clear margin, from all
// four corners: the neighbour's bisector then passes outside the square (a
// square's points are positive combinations of its corners). A walk started
// from a sure square's cell looks at the neighbours and stays, so a point
// in that square takes the cell straight from the table; the result is the
// one the walk gives. Only the squares a cell boundary crosses are walked.
//
// The walk (from a table start, or from the hint for a point near the last
// one) reads compact nodes, one 128-byte slot per cell: the neighbour
// numbers and, as floats in eight lanes, the vectors from each neighbour's
// centre to the cell's centre, so that one step is two four-lane dot
// products and a compare. For a point p of about unit
// length, neighbour m is nearer than c exactly when p.(c - m) < 0 up to the
// difference of the centres' squared lengths; the node keeps a bound on the
// float rounding and that difference, so each neighbour is either surely
// farther, surely nearer or undecided. A step with every neighbour surely
// farther stops; a step with exactly one surely nearer and the rest surely
// farther moves there, as the walk must. Anything else (undecided, two
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

#include "lib/cells/cell_disc.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {

using geodesy::ChordSq;
using geodesy::DirectionCosines;

namespace {

// Neighbours a compact node holds; a cell with more is walked exactly.
constexpr int NODE_NEIGHBOURS = 6;
// Lanes of the node's vectors: two groups of four floats. Lanes beyond the
// neighbour count repeat lane 0, so that all lanes can be tested at once.
constexpr int NODE_LANES = 8;

// Four floats, added and multiplied lane by lane (GCC and Clang vectors).
typedef float Float4 __attribute__((vector_size(16)));
typedef std::int32_t Int4 __attribute__((vector_size(16)));

// One cell's compact node (128 bytes). tx, ty, tz: centre(cell) -
// centre(neighbour) by lane. count is the neighbour count, or -1 when the
// cell is walked exactly. The decision tolerance tol covers, for |p| <= 1.5,
// the float rounding of the vectors, of p and of the dot product, the
// difference of the centres' squared lengths and the rounding of the
// squared chords.
struct alignas(64) Node {
  float tx[NODE_LANES], ty[NODE_LANES], tz[NODE_LANES];
  std::int32_t count;
  float tol;
  std::int32_t neighbour[NODE_NEIGHBOURS];
};
static_assert(sizeof(Node) == 128, "a compact node is two cache lines");

struct StartTable {
  std::int32_t grid;          // squares per face side
  std::int32_t cell_count;    // of the index it was made for
  double far2;                // squared chord beyond which a hint counts as far
  DirectionCosines* centres;  // copy of every centre, by cell number
  std::int32_t* offsets;      // cell_count + 1 offsets into lists
  std::int32_t* lists;        // copy of every neighbour list, end to end
  std::uint32_t* start;       // 6 * grid * grid start cells, SURE_SQUARE or'd in
  Node* nodes;                // cell_count compact nodes, 64-byte aligned
  // The last point located through the table and its cell: while the walk
  // hint is still that cell, the distance to the last point tells near from
  // far without touching the hint's centre.
  std::int32_t last_cell;
  DirectionCosines last_point;
};

// Mark of a start cell whose square lies wholly inside the cell.
constexpr std::uint32_t SURE_SQUARE = 0x80000000u;

// Smallest p.(centre - neighbour) at a sure square's corners. The walk
// compares squared chords whose difference is twice this for a unit point;
// rounding in the chords, the corners and the centres' lengths (a few 1e-15
// and at most 1e-13) stays far below it.
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

// Grid square of p on its cube face: index into the table.
inline std::size_t SquareOf(const DirectionCosines& p, std::int32_t grid) {
  const double ax = std::fabs(p.x), ay = std::fabs(p.y), az = std::fabs(p.z);
  int face;
  double u, v, w;
  if (ax >= ay && ax >= az) {
    face = p.x >= 0 ? 0 : 1;
    w = ax;
    u = p.y;
    v = p.z;
  } else if (ay >= az) {
    face = p.y >= 0 ? 2 : 3;
    w = ay;
    u = p.z;
    v = p.x;
  } else {
    face = p.z >= 0 ? 4 : 5;
    w = az;
    u = p.x;
    v = p.y;
  }
  const double half = 0.5 * grid;
  const double inv = w > 0.0 ? half / w : 0.0;
  // Clamped as doubles, so that a point with infinite or NaN components
  // still gives a square inside the table.
  double fi = u * inv + half, fj = v * inv + half;
  const double top = grid - 1;
  fi = fi >= 0.0 ? (fi <= top ? fi : top) : 0.0;
  fj = fj >= 0.0 ? (fj <= top ? fj : top) : 0.0;
  const int i = static_cast<int>(fi), j = static_cast<int>(fj);
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
constexpr double GRID_PER_CELL = 3.0;

// True when every neighbour of cell c is farther than c's centre from each
// corner of square (i, j) of the face by at least SURE_MARGIN (see above).
bool SquareIsSure(const StartTable& t, std::int32_t c, int face, int i, int j) {
  const std::int32_t* nb = t.lists + t.offsets[c];
  const int n = t.offsets[c + 1] - t.offsets[c];
  if (n < 1) return false;
  DirectionCosines corner[4];
  for (int k = 0; k < 4; ++k) corner[k] = FacePoint(face, i + (k & 1), j + (k >> 1), t.grid);
  const DirectionCosines& a = t.centres[c];
  for (int q = 0; q < n; ++q) {
    const DirectionCosines& b = t.centres[nb[q]];
    const DirectionCosines ab{a.x - b.x, a.y - b.y, a.z - b.z};
    for (const DirectionCosines& k : corner) {
      if (!(k.x * ab.x + k.y * ab.y + k.z * ab.z >= SURE_MARGIN)) return false;
    }
  }
  return true;
}

// Fills cell c's compact node from the flat copies.
void MakeNode(StartTable& t, std::int32_t c) {
  Node& node = t.nodes[c];
  const int n = t.offsets[c + 1] - t.offsets[c];
  node.count = -1;
  node.tol = 0.0f;
  if (n < 1 || n > NODE_NEIGHBOURS) return;
  const DirectionCosines& a = t.centres[c];
  const double a2 = a.x * a.x + a.y * a.y + a.z * a.z;
  double worst = 0.0;
  for (int k = 0; k < NODE_LANES; ++k) {
    const int q = k < n ? k : 0;
    const std::int32_t m = t.lists[t.offsets[c] + q];
    const DirectionCosines& b = t.centres[m];
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    if (k < n) node.neighbour[k] = m;
    node.tx[k] = static_cast<float>(dx);
    node.ty[k] = static_cast<float>(dy);
    node.tz[k] = static_cast<float>(dz);
    // |p.(v - float(v))| <= 1.5 * L1 error for |p| <= 1.5; the float
    // rounding of p and of the three products and two sums stays within
    // 5 * 2^-24 * 1.5 * L1(v); the squared lengths enter the chord
    // difference at half weight.
    const double l1 = std::fabs(dx - node.tx[k]) + std::fabs(dy - node.ty[k]) + std::fabs(dz - node.tz[k]);
    const double size = std::fabs(dx) + std::fabs(dy) + std::fabs(dz);
    const double len = std::fabs(b.x * b.x + b.y * b.y + b.z * b.z - a2);
    const double bound = 1.5 * l1 + 5.0 * 1.5 * size / 16777216.0 + 0.5 * len;
    if (!(bound < 1e-3)) return;  // centres too far from unit length: walk exactly
    if (bound > worst) worst = bound;
  }
  // Chord rounding (a few 1e-15) and the dot product's own rounding, with
  // room to spare; doubled to stay clear of the float conversion of tol.
  node.tol = static_cast<float>(2.0 * (worst + 1e-13));
  node.count = n;
}

// The walk from start on the compact nodes (see the head of this file); p
// has squared length 0.25 ... 2.25.
inline std::int32_t NodeWalk(const StartTable& t, std::int32_t c, const DirectionCosines& p) {
  for (;;) {
    const Node& node = t.nodes[c];
    const int n = node.count;
    if (n < 0) break;
    const float tol = node.tol;
    // v = p.(c - m) in all lanes: negative when m is nearer than c.
    const Float4 px = Float4{} + static_cast<float>(p.x), py = Float4{} + static_cast<float>(p.y),
                 pz = Float4{} + static_cast<float>(p.z), tv = Float4{} + tol;
    Float4 lo, hi, tx, ty, tz;
    std::memcpy(&tx, node.tx, 16);
    std::memcpy(&ty, node.ty, 16);
    std::memcpy(&tz, node.tz, 16);
    lo = px * tx + py * ty + pz * tz;
    std::memcpy(&tx, node.tx + 4, 16);
    std::memcpy(&ty, node.ty + 4, 16);
    std::memcpy(&tz, node.tz + 4, 16);
    hi = px * tx + py * ty + pz * tz;
    const Int4 all = (lo > tv) & (hi > tv);
    if ((all[0] & all[1] & all[2] & all[3]) != 0) return c;
    float v[NODE_LANES];
    std::memcpy(v, &lo, 16);
    std::memcpy(v + 4, &hi, 16);
    // The two smallest.
    double least = HUGE_VAL, second = HUGE_VAL;
    bool undecided = false;
    std::int32_t next = c;
    for (int k = 0; k < n; ++k) {
      undecided |= !(v[k] < -tol || v[k] > tol);
      if (v[k] < least) {
        second = least;
        least = v[k];
        next = node.neighbour[k];
      } else if (v[k] < second) {
        second = v[k];
      }
    }
    if (undecided) break;
    // The nearest neighbour is nearer than c. The walk moves to it when it
    // is surely nearer than every other neighbour too (the difference of
    // two v is the chord difference's half, with twice the error).
    if (!(second > least + 2.0 * static_cast<double>(tol))) break;
    c = next;
  }
  return Walk(FlatGraph{t.centres, t.offsets, t.lists}, c, Chord2(p, t.centres[c]), p, nullptr);
}

}  // namespace

bool BuildStartTable(CellIndex& idx) {
  DropStartTable(idx);
  if (idx.cell_count <= 0 || idx.cells == nullptr) return false;
  // About GRID_PER_CELL squares per cell width across a face: a third of
  // the squares are then sure, and the middle's cell of the others is the
  // point's own cell or a neighbour of it. The grid is capped to keep the
  // squares within 6.3 MB on the largest indexes (1.5 MB for 40 962 cells);
  // the nodes take 128 bytes a cell.
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
  void* mem = std::aligned_alloc(64, node_at + count * sizeof(Node));
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
  t->grid = grid;
  t->cell_count = idx.cell_count;
  t->last_cell = NO_CELL;
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
        t->start[(static_cast<std::size_t>(face) * grid + j) * grid + i] =
            static_cast<std::uint32_t>(c) | (SquareIsSure(*t, c, face, i, j) ? SURE_SQUARE : 0u);
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

std::int32_t Locate(CellIndex& idx, const DirectionCosines& p) {
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
    bool walk = true;
    if (far) {
      // Far from the last point located: start from the point's square.
      const std::uint32_t s = t->start[SquareOf(p, t->grid)];
      c = static_cast<std::int32_t>(s & ~SURE_SQUARE);
      walk = (s & SURE_SQUARE) == 0;
    } else if (!from_last) {
      // The hint was set from outside: the square's cell when it is nearer
      // and the hint is far.
      const double d = Chord2(p, centres[c]);
      if (d > t->far2) {
        const std::uint32_t s = t->start[SquareOf(p, t->grid)];
        const std::int32_t sc = static_cast<std::int32_t>(s & ~SURE_SQUARE);
        if (Chord2(p, centres[sc]) < d) {
          c = sc;
          walk = (s & SURE_SQUARE) == 0;
        }
      }
    }
    if (walk) c = NodeWalk(*t, c, p);
    t->last_cell = c;
    t->last_point = p;
  }
  idx.walk_hint = c;
  return c;
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
