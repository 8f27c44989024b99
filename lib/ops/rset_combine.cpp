#include "lib/ops/rset_combine.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#include <vector>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/cell_chains.h"
#include "lib/ops/leg_predicates.h"
#include "lib/ops/rset_point_test.h"
#include "lib/ops/rset_write.h"

namespace ops {

using geodesy::Cross;
using geodesy::DirectionCosines;
using geodesy::Dot;

namespace {

constexpr int kInside = 1;
constexpr int kOutside = 2;
constexpr int kSameWay = 3;
constexpr int kOppositeWay = 4;
constexpr int kSeam = 5;  // on the other boundary both ways at once
constexpr int kUndecided = 17;

double Angle(const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines c = Cross(a, b);
  return std::atan2(std::sqrt(Dot(c, c)), Dot(a, b));
}

DirectionCosines Mid(const DirectionCosines& a, const DirectionCosines& b) {
  DirectionCosines m = geodesy::Normalised({a.x + b.x, a.y + b.y, a.z + b.z});
  return geodesy::IsValid(m) ? m : a;
}

// Scratch arrays: from the workspace when there is one (so a small
// workspace ends the operation with status 9), else from the heap.
template <typename T>
T* Scratch(platform::Workspace* ws, std::int64_t n, std::vector<T>& heap) {
  if (n <= 0) n = 1;
  if (!ws) {
    heap.resize(static_cast<std::size_t>(n));
    return heap.data();
  }
  const std::int64_t bytes = n * static_cast<std::int64_t>(sizeof(T));
  if (bytes > 0x7FFFFFF0) return nullptr;
  return static_cast<T*>(platform::WorkspaceAlloc(ws, static_cast<std::int32_t>(bytes)));
}

// A position on a region's boundary: at vertex `leg` when s is 0, else on
// leg `leg` (from that vertex to the next) at the angle s from its start.
struct Position {
  std::int64_t leg;
  double s;
  std::int32_t node;
};

// Where a stretch of one ring overlaps the other boundary.
struct Overlap {
  std::int64_t leg;
  double s0, s1;
  int sign;  // +1 same way, -1 opposite ways
};

// One source's rings restored to unit vectors.
struct Rings {
  const cells::Object* obj = nullptr;
  DirectionCosines* v = nullptr;
  std::uint64_t* attr = nullptr;
  std::int64_t nv = 0;
  std::vector<DirectionCosines> heap_v;
  std::vector<std::uint64_t> heap_attr;
  std::vector<std::int64_t> start{0};
  std::vector<std::uint32_t> id;
  std::vector<std::int64_t> item;                          // item number of each ring
  std::vector<std::int32_t> vring;                         // ring of each vertex
  std::vector<std::pair<std::int32_t, std::int64_t>> cell_legs;  // (cell, leg), sorted
  std::vector<std::vector<std::int32_t>> ring_cells;       // cells of each ring, in order
  std::vector<Overlap> overlaps;
  std::vector<std::vector<Position>> pos;                   // per ring
  const std::int32_t* blist = nullptr;
  const std::int32_t* ilist = nullptr;

  std::int64_t Rings_() const { return static_cast<std::int64_t>(id.size()); }
  std::int64_t Next(std::int64_t i) const {
    const std::int32_t r = vring[i];
    return i + 1 < start[r + 1] ? i + 1 : start[r];
  }
};

// other, mode: a ring none of whose cells holds boundary of the other region
// has no crossing with it; its legs are left out of the cell lists, and in
// common mode, when none of its cells is inside the other region either, the
// ring is left out altogether (it lies outside the other and is dropped).
int RestoreRings(cells::CellIndex& idx, platform::Workspace* ws, const cells::Object& obj, Rings& R,
                 const cells::Object& other, int mode) {
  const std::int32_t* other_b = cells::EnvelopeList(other, 0);
  const std::int32_t* other_i = cells::EnvelopeList(other, 1);
  R.obj = &obj;
  R.blist = cells::EnvelopeList(obj, 0);
  R.ilist = cells::EnvelopeList(obj, 1);
  R.nv = cells::VertexCount(obj);
  R.v = Scratch(ws, R.nv, R.heap_v);
  R.attr = Scratch(ws, R.nv, R.heap_attr);
  if (!R.v || !R.attr) return DERIVE_NO_WORKSPACE;
  const std::int64_t rec = cells::RecordSize(obj.res);
  const std::int64_t items = cells::ItemCount(obj);
  std::int64_t n = 0;
  struct Span {
    std::int32_t cell;
    std::int64_t first, count;
  };
  std::vector<Span> spans;
  for (std::int64_t i = 0; i < items; ++i) {
    const cells::Item it = cells::LoadItem(cells::ItemAt(obj, i));
    bool touches = false, within = false;
    for (std::int32_t k = 0; k < it.count && !touches; ++k) {
      const std::int32_t c = cells::LoadPiece(cells::PieceAt(obj, it, k)).cell;
      touches = cells::CellListContains(other_b, c);
      within = within || cells::CellListContains(other_i, c);
    }
    if (mode == RSET_COMMON && !touches && !within) continue;
    const std::int64_t base = n;
    spans.clear();
    std::vector<std::int32_t> cells_of;
    for (std::int32_t k = 0; k < it.count; ++k) {
      const cells::Piece pc = cells::LoadPiece(cells::PieceAt(obj, it, k));
      spans.push_back({pc.cell, n - base, pc.count});
      cells_of.push_back(pc.cell);
      for (std::int32_t j = 0; j < pc.count && n < R.nv; ++j, ++n)
        cells::Restore(idx, pc.cell, obj.coords + pc.offset + j * rec, obj.res, R.v[n], &R.attr[n]);
    }
    const std::int64_t size = n - base;
    if (size == 0) continue;
    const std::int32_t r = static_cast<std::int32_t>(R.id.size());
    R.id.push_back(it.id);
    R.item.push_back(i);
    R.start.push_back(n);
    R.ring_cells.push_back(std::move(cells_of));
    for (std::int64_t j = base; j < n; ++j) R.vring.push_back(r);
    auto leg = [&](std::int64_t local) { return base + ((local % size) + size) % size; };
    for (const Span& s : spans) {
      if (!touches) break;
      if (s.count == 0) {
        R.cell_legs.push_back({s.cell, leg(s.first - 1)});
      } else {
        for (std::int64_t l = s.first - 1; l < s.first + s.count; ++l) R.cell_legs.push_back({s.cell, leg(l)});
      }
    }
  }
  std::sort(R.cell_legs.begin(), R.cell_legs.end());
  R.cell_legs.erase(std::unique(R.cell_legs.begin(), R.cell_legs.end()), R.cell_legs.end());
  R.pos.resize(R.id.size());
  return 0;
}

// The plane coordinates of the leg p-q in a frame: an end 80 degrees or more
// from the centre is moved along the leg towards the other end (or towards
// the leg's point nearest the centre) until it projects well.
bool ProjectLeg(const geodesy::TangentFrame& f, DirectionCosines p, DirectionCosines q, PlanePoint& pp,
                PlanePoint& pq) {
  constexpr double kNear = 0.17364817766693041;  // cos 80 degrees
  const DirectionCosines& c = f.c;
  auto pull = [&](DirectionCosines far, const DirectionCosines& near) {
    double lo = 0.0, hi = 1.0;  // chord parameter from far (bad) to near (good)
    for (int i = 0; i < 60; ++i) {
      const double t = 0.5 * (lo + hi);
      const DirectionCosines x = geodesy::Normalised(
          {far.x + t * (near.x - far.x), far.y + t * (near.y - far.y), far.z + t * (near.z - far.z)});
      if (Dot(x, c) >= kNear) hi = t;
      else lo = t;
    }
    return geodesy::Normalised(
        {far.x + hi * (near.x - far.x), far.y + hi * (near.y - far.y), far.z + hi * (near.z - far.z)});
  };
  const bool fp = Dot(p, c) < kNear, fq = Dot(q, c) < kNear;
  if (fp && fq) {
    const DirectionCosines d{q.x - p.x, q.y - p.y, q.z - p.z};
    const double dd = Dot(d, d);
    if (dd <= 0.0) return false;
    const double t = std::clamp(Dot({c.x - p.x, c.y - p.y, c.z - p.z}, d) / dd, 0.0, 1.0);
    const DirectionCosines m = geodesy::Normalised({p.x + t * d.x, p.y + t * d.y, p.z + t * d.z});
    if (!geodesy::IsValid(m) || Dot(m, c) < kNear) return false;
    p = pull(p, m);
    q = pull(q, m);
  } else if (fp) {
    p = pull(p, q);
  } else if (fq) {
    q = pull(q, p);
  }
  if (geodesy::ProjectToFrame(f, p, pp.u, pp.v) != 0) return false;
  if (geodesy::ProjectToFrame(f, q, pq.u, pq.v) != 0) return false;
  return true;
}

struct Contact {
  DirectionCosines x;
  std::int64_t la, lb;  // positions: leg (or vertex when s is 0)
  double sa, sb;
};

// The position of x on leg l of R: at a vertex when within reach of it.
void PositionOn(const Rings& R, std::int64_t l, const DirectionCosines& x, double reach,
                std::int64_t* at, double* s) {
  const std::int64_t n = R.Next(l);
  const double da = Angle(R.v[l], x);
  if (da <= reach) {
    *at = l;
    *s = 0.0;
    return;
  }
  if (Angle(x, R.v[n]) <= reach) {
    *at = n;
    *s = 0.0;
    return;
  }
  *at = l;
  *s = da;
}

struct UnionFind {
  std::vector<std::int32_t> parent;
  explicit UnionFind(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
  std::int32_t Find(std::int32_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  }
  void Join(std::int32_t a, std::int32_t b) {
    a = Find(a);
    b = Find(b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  }
};

// The side of p against a region without a fuzz zone (the sign of the
// boundary distance): 2 / 1 inside, -1 / -2 outside, 0 exactly on it.
struct SideCache {
  CellChains raw, chains;  // the cell's chains as stored, and without spikes
  std::int32_t cell = cells::NO_CELL;
};
int SignSide(cells::CellIndex& idx, const DirectionCosines& p, const Rings& O, double fuzz, SideCache& sc) {
  const std::int32_t cell = cells::Locate(idx, p);
  if (cell == cells::NO_CELL) return -2;
  if (!HasPiecesIn(*O.obj, cell)) return cells::CellListContains(O.ilist, cell) ? 2 : -2;
  if (sc.cell != cell) {
    GatherCellChains(idx, *O.obj, cell, sc.raw, true);
    ChainsWithoutSpikes(sc.raw, sc.chains);
    sc.cell = cell;
  }
  double u = 0.0, v = 0.0;
  geodesy::ProjectToFrame(geodesy::BuildTangentFrame(idx.cells[cell]->centre), p, u, v);
  const double d = CleanBoundaryDistance(sc.chains, {u, v}, fuzz, 0);
  return d > 0 ? 1 : (d < 0 ? -1 : 0);
}

struct Stretch {
  int region;
  std::int32_t ring;
  std::int32_t from, to;  // indices into the ring's positions
  std::int32_t from_node, to_node;
  int label;
  bool kept, visited;
};

// A proper crossing of two legs of one ring (l1 < l2), away from their ends.
struct SelfCrossing {
  std::int64_t l1, l2;
  DirectionCosines x;
};

// The crossings of a source's rings with themselves, looked for in the cells
// where the other region's boundary runs near: there the labels of the walk
// are read off the legs next to a node, and a ring that crosses itself (a
// figure eight whose small loop winds the wrong way, as simplified borders
// make) would give the labels of its wrong-way loop. Elsewhere a ring is
// copied or dropped as it is.
void FindSelfCrossings(cells::CellIndex& idx, const Rings& S, const Rings& O, double f,
                       std::vector<SelfCrossing>& out) {
  std::vector<std::pair<std::int64_t, std::int64_t>> pairs;
  std::vector<std::int32_t> pair_cell;
  for (std::size_t i = 0; i < S.cell_legs.size();) {
    const std::int32_t c = S.cell_legs[i].first;
    std::size_t j = i;
    while (j < S.cell_legs.size() && S.cell_legs[j].first == c) ++j;
    bool near = false;
    const cells::CellRecord* rec = idx.cells[c];
    for (int k = -1; k < rec->neighbour_count && !near; ++k) {
      const std::int32_t cc = k < 0 ? c : rec->neighbours[k];
      if (cc < 0 || cc >= idx.cell_count) continue;
      auto lo = std::lower_bound(O.cell_legs.begin(), O.cell_legs.end(),
                                 std::pair<std::int32_t, std::int64_t>{cc, -1});
      near = lo != O.cell_legs.end() && lo->first == cc;
    }
    if (near) {
      for (std::size_t a = i; a < j; ++a)
        for (std::size_t b = a + 1; b < j; ++b) {
          const std::int64_t l1 = S.cell_legs[a].second, l2 = S.cell_legs[b].second;
          if (S.vring[l1] != S.vring[l2] || S.Next(l1) == l2 || S.Next(l2) == l1) continue;
          pairs.push_back({l1, l2});
          pair_cell.push_back(c);
        }
    }
    i = j;
  }
  geodesy::TangentFrame frame;
  std::int32_t frame_cell = cells::NO_CELL;
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const auto [l1, l2] = pairs[k];
    if (pair_cell[k] != frame_cell) {
      frame_cell = pair_cell[k];
      frame = geodesy::BuildTangentFrame(idx.cells[frame_cell]->centre);
    }
    PlanePoint a1, a2, b1, b2;
    if (!ProjectLeg(frame, S.v[l1], S.v[S.Next(l1)], a1, a2)) continue;
    if (!ProjectLeg(frame, S.v[l2], S.v[S.Next(l2)], b1, b2)) continue;
    const LegCrossing x = LegCross(MakeLeg(a1, a2, f), MakeLeg(b1, b2, f));
    if ((x.result != CROSS_PROPER && x.result != -CROSS_PROPER) || x.count != 1) continue;
    if (x.contact_a[0] != CONTACT_INSIDE || x.contact_b[0] != CONTACT_INSIDE) continue;
    out.push_back({l1, l2, geodesy::LiftFromFrame(frame, x.point[0].u, x.point[0].v)});
  }
  std::sort(out.begin(), out.end(),
            [](const SelfCrossing& x, const SelfCrossing& y) { return x.l1 != y.l1 ? x.l1 < y.l1 : x.l2 < y.l2; });
  out.erase(std::unique(out.begin(), out.end(),
                        [](const SelfCrossing& x, const SelfCrossing& y) { return x.l1 == y.l1 && x.l2 == y.l2; }),
            out.end());
}

// The source's rings as builder input with the loops at their crossings cut
// off: of the two loops a crossing makes, the one of fewer vertices goes and
// the crossing point takes its place (a loop that winds the wrong way bounds
// nothing, and a loop within the ring's own inside adds nothing to it). A
// loop that overlaps one already cut off is left. False when the rings
// cannot be read back.
bool CutLoops(cells::CellIndex& idx, const cells::Object& obj, const Rings& S, const std::vector<SelfCrossing>& xs,
              std::vector<cells::PointNode>& nodes) {
  std::vector<cells::PointNode> all;
  if (!cells::CollectVertices(idx, obj, all)) return false;
  std::vector<std::size_t> group_start{0};  // vertices of item k: [group_start[k], next mark)
  for (std::size_t i = 0; i < all.size(); ++i)
    if (cells::IsMark(all[i])) group_start.push_back(i + 1);
  struct Cut {
    std::int64_t start, len;
    DirectionCosines x;
  };
  std::vector<std::vector<Cut>> cuts(S.id.size());
  for (const SelfCrossing& c : xs) {
    const std::int32_t r = S.vring[c.l1];
    const std::int64_t base = S.start[r], n = S.start[r + 1] - base;
    const std::int64_t i = c.l1 - base, j = c.l2 - base;
    const std::int64_t inner = j - i, outer = n - inner;
    if (inner <= outer) cuts[r].push_back({(i + 1) % n, inner, c.x});
    else cuts[r].push_back({(j + 1) % n, outer, c.x});
  }
  std::vector<std::int64_t> cut_at;  // per vertex: -1 kept, else the cut that removes it
  std::size_t copied = 0;
  for (std::int32_t r = 0; r < static_cast<std::int32_t>(S.id.size()); ++r) {
    if (cuts[r].empty()) continue;
    const std::int64_t item = S.item[r];
    if (item + 1 >= static_cast<std::int64_t>(group_start.size())) return false;
    const std::size_t first = group_start[item], mark = group_start[item + 1] - 1;
    const std::int64_t n = S.start[r + 1] - S.start[r];
    if (static_cast<std::int64_t>(mark - first) != n) return false;
    std::sort(cuts[r].begin(), cuts[r].end(), [](const Cut& x, const Cut& y) { return x.len < y.len; });
    cut_at.assign(static_cast<std::size_t>(n), -1);
    // Loops that share a vertex with the loop of another crossing are
    // left, the smaller one as well: a second crossing beside the first
    // (a river inlet whose banks cross twice, 80 m apart, before it widens
    // into a loop that winds the wrong way: a lake of water inside the
    // land, in the Darien at 10m) leaves the ring crossing itself at the
    // node the first cut makes, and there the sides its legs tell are not
    // the region's.
    std::vector<std::int32_t> cover(static_cast<std::size_t>(n), 0);
    for (const Cut& c : cuts[r])
      for (std::int64_t t = 0; t < c.len; ++t) ++cover[(c.start + t) % n];
    std::int64_t left = n;
    for (std::size_t k = 0; k < cuts[r].size(); ++k) {
      const Cut& c = cuts[r][k];
      bool free = left - c.len >= 3;
      for (std::int64_t t = 0; t < c.len && free; ++t) free = cut_at[(c.start + t) % n] < 0 && cover[(c.start + t) % n] == 1;
      if (!free) continue;
      for (std::int64_t t = 0; t < c.len; ++t) cut_at[(c.start + t) % n] = static_cast<std::int64_t>(k);
      left -= c.len;
    }
    nodes.insert(nodes.end(), all.begin() + static_cast<std::ptrdiff_t>(copied),
                 all.begin() + static_cast<std::ptrdiff_t>(first));
    for (std::int64_t t = 0; t < n; ++t) {
      const std::int64_t k = cut_at[t];
      if (k < 0) nodes.push_back(all[first + t]);
      else if (cuts[r][k].start == t) nodes.push_back({cuts[r][k].x, 0});
    }
    copied = mark;
  }
  nodes.insert(nodes.end(), all.begin() + static_cast<std::ptrdiff_t>(copied), all.end());
  return true;
}

struct Combiner {
  cells::CellIndex& idx;
  double f;
  int mode;
  Rings* R[2];
  std::vector<DirectionCosines> node_point;
  std::vector<std::uint64_t> node_attr;
  std::vector<Stretch> stretches;
  std::vector<std::int64_t> ring_first_stretch[2];  // per ring, -1 when it has no node
  SideCache sides[2];
  RsetTestCache test[2];
  bool dropped_inside = false;
  bool last_on_both_ways = false;            // set by Label for the stretch just labelled
  std::vector<std::int64_t> on_both_ways;    // stretches with the other boundary along them both ways

  int FindContacts(std::vector<Contact>& contacts) {
    Rings& A = *R[0];
    Rings& B = *R[1];
    struct Pair {
      std::int64_t la, lb;
      std::int32_t cell;
    };
    std::vector<Pair> pairs;
    std::vector<std::int64_t> blegs;
    for (std::size_t i = 0; i < A.cell_legs.size();) {
      const std::int32_t c = A.cell_legs[i].first;
      std::size_t j = i;
      while (j < A.cell_legs.size() && A.cell_legs[j].first == c) ++j;
      blegs.clear();
      const cells::CellRecord* rec = idx.cells[c];
      for (int k = -1; k < rec->neighbour_count; ++k) {
        const std::int32_t cc = k < 0 ? c : rec->neighbours[k];
        if (cc < 0 || cc >= idx.cell_count) continue;
        auto lo = std::lower_bound(B.cell_legs.begin(), B.cell_legs.end(),
                                   std::pair<std::int32_t, std::int64_t>{cc, -1});
        for (; lo != B.cell_legs.end() && lo->first == cc; ++lo) blegs.push_back(lo->second);
      }
      if (!blegs.empty()) {
        std::sort(blegs.begin(), blegs.end());
        blegs.erase(std::unique(blegs.begin(), blegs.end()), blegs.end());
        for (std::size_t a = i; a < j; ++a)
          for (std::int64_t lb : blegs) pairs.push_back({A.cell_legs[a].second, lb, c});
      }
      i = j;
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) {
      if (x.la != y.la) return x.la < y.la;
      if (x.lb != y.lb) return x.lb < y.lb;
      return x.cell < y.cell;
    });
    pairs.erase(std::unique(pairs.begin(), pairs.end(),
                            [](const Pair& x, const Pair& y) { return x.la == y.la && x.lb == y.lb; }),
                pairs.end());
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) {
      return x.cell != y.cell ? x.cell < y.cell : (x.la != y.la ? x.la < y.la : x.lb < y.lb);
    });
    const double reach = 2.0 * f;
    geodesy::TangentFrame frame;
    std::int32_t frame_cell = cells::NO_CELL;
    for (const Pair& p : pairs) {
      if (p.cell != frame_cell) {
        frame = geodesy::BuildTangentFrame(idx.cells[p.cell]->centre);
        frame_cell = p.cell;
      }
      PlanePoint a1, a2, b1, b2;
      if (!ProjectLeg(frame, A.v[p.la], A.v[A.Next(p.la)], a1, a2)) continue;
      if (!ProjectLeg(frame, B.v[p.lb], B.v[B.Next(p.lb)], b1, b2)) continue;
      const Leg la = MakeLeg(a1, a2, f), lb = MakeLeg(b1, b2, f);
      const LegCrossing x = LegCross(la, lb);
      if (x.result == CROSS_NONE) continue;
      Contact ct[2];
      for (int k = 0; k < x.count && k < 2; ++k) {
        ct[k].x = geodesy::LiftFromFrame(frame, x.point[k].u, x.point[k].v);
        PositionOn(A, p.la, ct[k].x, reach, &ct[k].la, &ct[k].sa);
        PositionOn(B, p.lb, ct[k].x, reach, &ct[k].lb, &ct[k].sb);
        contacts.push_back(ct[k]);
      }
      if ((x.result == CROSS_OVERLAP || x.result == -CROSS_OVERLAP) && x.count == 2) {
        const int sign = x.result > 0 ? 1 : -1;
        auto along = [&](const Rings& Rr, std::int64_t l, const DirectionCosines& q) { return Angle(Rr.v[l], q); };
        double s0 = along(A, p.la, ct[0].x), s1 = along(A, p.la, ct[1].x);
        A.overlaps.push_back({p.la, std::min(s0, s1), std::max(s0, s1), sign});
        s0 = along(B, p.lb, ct[0].x);
        s1 = along(B, p.lb, ct[1].x);
        B.overlaps.push_back({p.lb, std::min(s0, s1), std::max(s0, s1), sign});
      }
    }
    for (Rings* r : R)
      std::sort(r->overlaps.begin(), r->overlaps.end(),
                [](const Overlap& x, const Overlap& y) { return x.leg < y.leg; });
    return 0;
  }

  // Nodes: contacts within 2f of each other, or at the same place on
  // either boundary, are one node.
  void MakeNodes(const Contact* contacts, std::size_t n) {
    UnionFind uf(n);
    const double reach = 2.0 * f;
    const double reach_sq = reach * reach;
    std::vector<std::int32_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](std::int32_t a, std::int32_t b) { return contacts[a].x.x < contacts[b].x.x; });
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n && contacts[order[j]].x.x - contacts[order[i]].x.x <= reach; ++j)
        if (geodesy::ChordSq(contacts[order[i]].x, contacts[order[j]].x) <= reach_sq)
          uf.Join(order[i], order[j]);
    for (int side = 0; side < 2; ++side) {
      std::vector<std::int32_t> by(n);
      std::iota(by.begin(), by.end(), 0);
      auto leg = [&](std::int32_t i) { return side == 0 ? contacts[i].la : contacts[i].lb; };
      auto s = [&](std::int32_t i) { return side == 0 ? contacts[i].sa : contacts[i].sb; };
      std::sort(by.begin(), by.end(), [&](std::int32_t a, std::int32_t b) {
        return leg(a) != leg(b) ? leg(a) < leg(b) : s(a) < s(b);
      });
      for (std::size_t i = 1; i < n; ++i)
        if (leg(by[i]) == leg(by[i - 1]) && s(by[i]) - s(by[i - 1]) <= reach) uf.Join(by[i], by[i - 1]);
    }
    // Node numbers and points: a vertex of A, else of B, else the crossing.
    std::vector<std::int32_t> node_of(n, -1);
    std::vector<int> quality;
    for (std::size_t i = 0; i < n; ++i) {
      const std::int32_t root = uf.Find(static_cast<std::int32_t>(i));
      if (node_of[root] < 0) {
        node_of[root] = static_cast<std::int32_t>(node_point.size());
        node_point.push_back(contacts[i].x);
        node_attr.push_back(0);
        quality.push_back(0);
      }
      const std::int32_t k = node_of[root];
      node_of[i] = k;
      const Contact& c = contacts[i];
      if (c.sa == 0.0 && quality[k] < 2) {
        node_point[k] = R[0]->v[c.la];
        node_attr[k] = R[0]->attr[c.la];
        quality[k] = 2;
      } else if (c.sb == 0.0 && quality[k] < 1) {
        node_point[k] = R[1]->v[c.lb];
        node_attr[k] = R[1]->attr[c.lb];
        quality[k] = 1;
      }
    }
    for (std::size_t i = 0; i < n; ++i) {
      const Contact& c = contacts[i];
      R[0]->pos[R[0]->vring[c.la]].push_back({c.la, c.sa, node_of[i]});
      R[1]->pos[R[1]->vring[c.lb]].push_back({c.lb, c.sb, node_of[i]});
    }
    // Positions of one node next to each other along a ring are one; a ring
    // that comes back to a node later (it touches itself there) keeps both
    // visits.
    for (Rings* r : R) {
      const Rings& Rr = *r;
      auto close = [&](const Position& x, const Position& y) {
        if (x.node != y.node) return false;
        if (x.leg == y.leg) return std::fabs(y.s - x.s) <= reach;
        const std::int64_t n = Rr.Next(x.leg);
        if (y.leg != n) return false;
        return Angle(Rr.v[x.leg], Rr.v[n]) - x.s + y.s <= reach;
      };
      for (auto& p : r->pos) {
        std::sort(p.begin(), p.end(), [](const Position& x, const Position& y) {
          return x.leg != y.leg ? x.leg < y.leg : x.s < y.s;
        });
        p.erase(std::unique(p.begin(), p.end(), close), p.end());
        while (p.size() > 1 && close(p.back(), p.front())) p.pop_back();
      }
    }
  }

  // The vertices of ring r strictly between positions a and b (b after a
  // round the ring; a == b, or one position only, is the whole ring).
  template <typename Fn>
  void Between(const Rings& Rr, std::int32_t r, const Position& a, const Position& b, bool whole, Fn fn) const {
    const std::int64_t base = Rr.start[r], n = Rr.start[r + 1] - base;
    const std::int64_t la = a.leg - base, lb = b.leg - base;
    std::int64_t m = ((lb - la) % n + n) % n;
    if (whole || (la == lb && b.s <= a.s)) m = n;
    if (b.s == 0.0) --m;
    for (std::int64_t k = 1; k <= m; ++k) fn(base + (la + k) % n);
  }

  // The label of a stretch: on the other boundary (an overlap LegCross
  // found on its first leg), else the side of its first leg's middle.
  int Label(int side, std::int32_t r, const Position& a, const Position& b, bool whole) {
    const Rings& Rr = *R[side];
    const Rings& O = *R[1 - side];
    // The overlaps LegCross found on the stretch's legs: the first leg from
    // the start node on, then each further leg whole (a stretch lies wholly
    // on the other boundary or wholly off it, its ends being nodes; a first
    // leg that is only a few centimetres long can miss the overlap that
    // begins just after the node).
    bool same = false, opposite = false;
    auto overlaps_at = [&](std::int64_t l, double mid) {
      auto lo = std::lower_bound(Rr.overlaps.begin(), Rr.overlaps.end(), l,
                                 [](const Overlap& o, std::int64_t leg) { return o.leg < leg; });
      for (; lo != Rr.overlaps.end() && lo->leg == l; ++lo)
        if (mid >= lo->s0 - f && mid <= lo->s1 + f) (lo->sign > 0 ? same : opposite) = true;
    };
    {
      const std::int64_t l = a.leg;
      const double len = Angle(Rr.v[l], Rr.v[Rr.Next(l)]);
      const double end = (b.leg == l && b.s > a.s && !whole) ? b.s : len;
      overlaps_at(l, 0.5 * (a.s + end));
      if (!same && !opposite && end - a.s < 4.0 * f) {
        int legs = 0;
        Between(Rr, r, a, b, whole, [&](std::int64_t vi) {
          if (same || opposite || ++legs > 8) return;
          const std::int64_t nl = vi;
          const double nlen = Angle(Rr.v[nl], Rr.v[Rr.Next(nl)]);
          const double nend = (b.leg == nl && b.s > 0.0) ? b.s : nlen;
          if (b.leg == nl && b.s == 0.0) return;
          overlaps_at(nl, 0.5 * nend);
        });
      }
    }
    // Legs of the other region along the stretch both ways: a seam between
    // two of its rings (inside it on both sides) or a slit between two of
    // its holes (outside on both). Points beside the stretch tell which, and
    // whether this region lies on its right too (a seam of its own); the
    // stretch bounds the result, and is kept, when the result lies on its
    // left and not on its right. A label that Keep turns into that is
    // returned.
    if (same && opposite) {
      last_on_both_ways = true;
      DirectionCosines p = node_point[a.node], q = node_point[b.node];
      bool first = true;
      Between(Rr, r, a, b, whole, [&](std::int64_t vi) {
        if (first) q = Rr.v[vi];
        first = false;
      });
      const DirectionCosines left = geodesy::Normalised(Cross(p, q));
      if (geodesy::IsValid(left)) {
        const DirectionCosines m = Mid(p, q);
        for (double away : {8.0, 32.0}) {
          const DirectionCosines lp = geodesy::Normalised({m.x + away * f * left.x, m.y + away * f * left.y,
                                                           m.z + away * f * left.z});
          const DirectionCosines rp = geodesy::Normalised({m.x - away * f * left.x, m.y - away * f * left.y,
                                                           m.z - away * f * left.z});
          const int other_left = q7_RsetPointTest(idx, lp, *O.obj, f, 1, &test[1 - side]);
          const int other_right = q7_RsetPointTest(idx, rp, *O.obj, f, 1, &test[1 - side]);
          const int own_right = q7_RsetPointTest(idx, rp, *Rr.obj, f, 1, &test[side]);
          if (other_left == 0 || other_right == 0 || own_right == 0) continue;
          const bool keep = mode == RSET_COMMON ? other_left > 0 && !(own_right > 0 && other_right > 0)
                                                : !(own_right > 0 || other_right > 0);
          return keep == (mode == RSET_COMMON) ? kInside : kOutside;
        }
      }
      return kSeam;
    }
    if (same) return kSameWay;
    if (opposite) return kOppositeWay;
    // Points along the stretch: the middles of its legs, the first first.
    std::vector<DirectionCosines> pts;
    DirectionCosines prev = node_point[a.node];
    int tried = 0;
    int result = 0;
    auto test = [&](const DirectionCosines& p) {
      if (result != 0 || tried >= 16) return;
      ++tried;
      result = SignSide(idx, p, O, f, sides[1 - side]);
    };
    Between(Rr, r, a, b, whole, [&](std::int64_t vi) {
      test(Mid(prev, Rr.v[vi]));
      prev = Rr.v[vi];
    });
    test(Mid(prev, node_point[b.node]));
    if (result > 0) return kInside;
    if (result < 0) return kOutside;
    return kUndecided;
  }

  // The label of a ring without nodes.
  int RingLabel(int side, std::int32_t r) {
    const Rings& Rr = *R[side];
    const Rings& O = *R[1 - side];
    for (std::int32_t c : Rr.ring_cells[r])
      if (!cells::CellListContains(O.blist, c)) return cells::CellListContains(O.ilist, c) ? kInside : kOutside;
    RsetTestCache& cache = test[1 - side];
    const std::int64_t b = Rr.start[r], e = Rr.start[r + 1];
    for (std::int64_t i = b; i < e; ++i) {
      const int t = q7_RsetPointTest(idx, Rr.v[i], *O.obj, f, 1, &cache);
      if (t != 0) return t > 0 ? kInside : kOutside;
    }
    for (std::int64_t i = b; i < e; ++i) {
      const int t = q7_RsetPointTest(idx, Mid(Rr.v[i], Rr.v[Rr.Next(i)]), *O.obj, f, 1, &cache);
      if (t != 0) return t > 0 ? kInside : kOutside;
    }
    // Every vertex and leg middle on the other boundary: the ring runs along
    // it, and the side the other region lies on tells which way.
    for (std::int64_t i = b; i < e; ++i) {
      const DirectionCosines& p = Rr.v[i];
      const DirectionCosines& q = Rr.v[Rr.Next(i)];
      const DirectionCosines left = geodesy::Normalised(Cross(p, q));
      if (!geodesy::IsValid(left) || geodesy::ChordSq(p, q) < 64.0 * f * f) continue;
      const DirectionCosines m = Mid(p, q);
      const DirectionCosines off = geodesy::Normalised({m.x + 8.0 * f * left.x, m.y + 8.0 * f * left.y,
                                                        m.z + 8.0 * f * left.z});
      const int t = q7_RsetPointTest(idx, off, *O.obj, f, 1, &cache);
      if (t != 0) return t > 0 ? kSameWay : kOppositeWay;
    }
    return kUndecided;
  }

  bool Keep(int side, int label) {
    if (mode == RSET_COMBINED && (label == kInside || label == kOppositeWay || label == kSeam)) dropped_inside = true;
    if (label == kSeam) return false;
    if (label == kSameWay) return side == 0;
    return mode == RSET_COMMON ? label == kInside : label == kOutside;
  }

  int Label() {
    for (int side = 0; side < 2; ++side) {
      Rings& Rr = *R[side];
      ring_first_stretch[side].assign(Rr.id.size(), -1);
      for (std::int32_t r = 0; r < static_cast<std::int32_t>(Rr.id.size()); ++r) {
        const auto& p = Rr.pos[r];
        if (p.empty()) continue;
        ring_first_stretch[side][r] = static_cast<std::int64_t>(stretches.size());
        const std::int32_t k = static_cast<std::int32_t>(p.size());
        for (std::int32_t j = 0; j < k; ++j) {
          const Position& a = p[j];
          const Position& b = p[(j + 1) % k];
          last_on_both_ways = false;
          const int label = Label(side, r, a, b, k == 1);
          if (label == kUndecided) return 17;
          if (last_on_both_ways) on_both_ways.push_back(static_cast<std::int64_t>(stretches.size()));
          stretches.push_back({side, r, j, (j + 1) % k, a.node, b.node, label, Keep(side, label), false});
        }
      }
    }
    // A stretch with the other region's legs along it both ways has taken
    // its side from the points beside it. Those legs (a spike of no width
    // running out along it and back, or a seam of two rings) bound nothing
    // beside it: the other region's stretches between the same two nodes
    // that lie along it are dropped, or the one running the same way would
    // be kept beside the stretch.
    if (!on_both_ways.empty()) {
      std::vector<std::int64_t> by_node(stretches.size());
      std::iota(by_node.begin(), by_node.end(), 0);
      auto key = [this](std::int64_t i) {
        const Stretch& z = stretches[i];
        return std::make_pair(std::min(z.from_node, z.to_node), std::max(z.from_node, z.to_node));
      };
      std::sort(by_node.begin(), by_node.end(), [&](std::int64_t x, std::int64_t y) { return key(x) < key(y); });
      for (std::int64_t s : on_both_ways) {
        const auto k = key(s);
        auto lo = std::lower_bound(by_node.begin(), by_node.end(), k,
                                   [&](std::int64_t i, const std::pair<std::int32_t, std::int32_t>& v) { return key(i) < v; });
        for (; lo != by_node.end() && key(*lo) == k; ++lo) {
          Stretch& z = stretches[*lo];
          if (z.region == stretches[s].region || (z.label != kSameWay && z.label != kOppositeWay)) continue;
          z.label = kSeam;
          z.kept = false;
        }
      }
    }
    return 0;
  }

  // The stretches kept, chained into rings; whole rings kept as they are.
  int Chain(std::vector<cells::PointNode>& out, std::int64_t* rings_made) {
    std::vector<std::pair<std::int32_t, std::int32_t>> leaving;  // (node, stretch)
    for (std::size_t i = 0; i < stretches.size(); ++i)
      if (stretches[i].kept) leaving.push_back({stretches[i].from_node, static_cast<std::int32_t>(i)});
    std::sort(leaving.begin(), leaving.end());
    const std::int64_t limit = static_cast<std::int64_t>(stretches.size()) + 1;
    for (int side = 0; side < 2; ++side) {
      const Rings& Rr = *R[side];
      for (std::int32_t r = 0; r < static_cast<std::int32_t>(Rr.id.size()); ++r) {
        const std::int64_t first = ring_first_stretch[side][r];
        if (first < 0) {
          const int label = RingLabel(side, r);
          if (label == kUndecided) return 17;
          if (!Keep(side, label)) continue;
          for (std::int64_t i = Rr.start[r]; i < Rr.start[r + 1]; ++i) out.push_back({Rr.v[i], Rr.attr[i]});
          out.push_back(cells::Mark(Rr.id[r]));
          ++*rings_made;
          continue;
        }
        const std::int64_t count = static_cast<std::int64_t>(Rr.pos[r].size());
        for (std::int64_t s0 = first; s0 < first + count; ++s0) {
          if (!stretches[s0].kept || stretches[s0].visited) continue;
          const std::int32_t start_node = stretches[s0].from_node;
          std::int64_t s = s0;
          std::int64_t steps = 0;
          for (;;) {
            Stretch& st = stretches[s];
            st.visited = true;
            const Rings& Sr = *R[st.region];
            const auto& p = Sr.pos[st.ring];
            out.push_back({node_point[st.from_node], node_attr[st.from_node]});
            Between(Sr, st.ring, p[st.from], p[st.to], p.size() == 1,
                    [&](std::int64_t vi) { out.push_back({Sr.v[vi], Sr.attr[vi]}); });
            const std::int32_t n = st.to_node;
            if (n == start_node) break;
            if (++steps > limit) return 18;
            // Along the same ring when that goes on, else any kept stretch
            // leaving the node.
            const std::int64_t ring_first = ring_first_stretch[st.region][st.ring];
            const std::int64_t ring_count = static_cast<std::int64_t>(p.size());
            const std::int64_t succ = ring_first + (s - ring_first + 1) % ring_count;
            std::int64_t next = -1;
            if (stretches[succ].kept && !stretches[succ].visited && stretches[succ].from_node == n) {
              next = succ;
            } else {
              auto lo = std::lower_bound(leaving.begin(), leaving.end(), std::pair<std::int32_t, std::int32_t>{n, -1});
              for (; lo != leaving.end() && lo->first == n; ++lo)
                if (!stretches[lo->second].visited) {
                  next = lo->second;
                  break;
                }
            }
            if (next < 0) return 16;
            s = next;
          }
          out.push_back(cells::Mark(R[side]->id[r]));
          ++*rings_made;
        }
      }
    }
    return 0;
  }
};

bool NoBoundary(const cells::Object& o) { return cells::CellIndexCount(o) == 0; }

}  // namespace

namespace {

int Combine(const DeriveContext& ctx, int mode, double fuzz, const cells::Object& a,
                   const cells::Object& b) {
  if (!ctx.index || !ctx.object) return DERIVE_BAD_PARAMETERS;
  if (mode != RSET_COMMON && mode != RSET_COMBINED) return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res)) return DERIVE_BAD_PARAMETERS;
  cells::CellIndex& idx = *ctx.index;
  platform::WorkspaceMark mark(ctx.workspace);
  cells::BuildParams params;
  params.id = ctx.created ? ctx.created : 1;
  params.res = ctx.res;
  params.prec = ctx.prec;
  std::vector<std::uint8_t> scratch;
  cells::SectionTarget target{ctx.output, ctx.output ? nullptr : &scratch};
  auto finish = [&](int status, bool empty) {
    if (status > 0) return status;
    return empty ? DERIVE_EMPTY : DERIVE_DONE;
  };

  // Regions without boundary.
  const bool a_null = RsetIsNull(a), b_null = RsetIsNull(b);
  const bool a_world = RsetIsWorld(a, idx.cell_count), b_world = RsetIsWorld(b, idx.cell_count);
  if ((NoBoundary(a) && !a_null && !a_world) || (NoBoundary(b) && !b_null && !b_world)) return 10;
  if (mode == RSET_COMMON) {
    if (a_null || b_null) return finish(WriteNullRset(idx, target, params, *ctx.object), true);
    if (a_world || b_world) {
      const cells::Object& other = a_world ? b : a;
      if (RsetIsWorld(other, idx.cell_count)) return finish(WriteWorldRset(idx, target, params, *ctx.object), false);
      return finish(RewriteRset(idx, target, params, other, false, nullptr, *ctx.object), false);
    }
  } else {
    if (a_world || b_world) return finish(WriteWorldRset(idx, target, params, *ctx.object), false);
    if (a_null || b_null) {
      const cells::Object& other = a_null ? b : a;
      if (RsetIsNull(other)) return finish(WriteNullRset(idx, target, params, *ctx.object), true);
      return finish(RewriteRset(idx, target, params, other, false, nullptr, *ctx.object), false);
    }
  }

  try {
    Rings ra, rb;
    if (int s = RestoreRings(idx, ctx.workspace, a, ra, b, mode)) return s;
    if (int s = RestoreRings(idx, ctx.workspace, b, rb, a, mode)) return s;
    const double f = EffectiveFuzz(fuzz);
    // A source whose rings cross themselves near the other boundary is taken
    // with those loops cut off (built again in doubles, so nothing moves).
    const cells::Object* src[2] = {&a, &b};
    cells::Object mended[2];
    std::vector<std::uint8_t> mended_bytes[2];
    bool any = false;
    for (int side = 0; side < 2; ++side) {
      std::vector<SelfCrossing> xs;
      FindSelfCrossings(idx, side == 0 ? ra : rb, side == 0 ? rb : ra, f, xs);
      if (xs.empty()) continue;
      std::vector<cells::PointNode> nodes;
      if (!CutLoops(idx, *src[side], side == 0 ? ra : rb, xs, nodes)) continue;
      cells::BuildParams mp;
      mp.id = src[side]->id ? src[side]->id : 1;
      mp.klass = src[side]->klass;
      mp.res = 10;
      mp.prec = src[side]->prec;
      if (cells::BuildRset(idx, {nullptr, &mended_bytes[side]}, mp, nodes, mended[side]) != 0) continue;
      src[side] = &mended[side];
      any = true;
    }
    if (any) {
      ra = Rings{};
      rb = Rings{};
      if (int s = RestoreRings(idx, ctx.workspace, *src[0], ra, *src[1], mode)) return s;
      if (int s = RestoreRings(idx, ctx.workspace, *src[1], rb, *src[0], mode)) return s;
    }
    Combiner cb{idx, f, mode, {&ra, &rb}, {}, {}, {}, {}, {}, {}, false, false, {}};
    std::vector<Contact> contacts;
    if (int s = cb.FindContacts(contacts)) return s;
    // The contact records the nodes are made from live in the workspace.
    std::vector<Contact> heap_contacts;
    Contact* held = Scratch<Contact>(ctx.workspace, static_cast<std::int64_t>(contacts.size()), heap_contacts);
    if (!held) return DERIVE_NO_WORKSPACE;
    if (!contacts.empty()) std::copy(contacts.begin(), contacts.end(), held);
    const std::size_t ncontacts = contacts.size();
    std::vector<Contact>().swap(contacts);
    cb.MakeNodes(held, ncontacts);
    if (int s = cb.Label()) return s;
    std::vector<cells::PointNode> out;
    std::int64_t made = 0;
    if (int s = cb.Chain(out, &made)) return s;
    // Rings of fewer than three vertices bound nothing.
    std::int64_t real = 0, run = 0;
    for (const cells::PointNode& n : out) {
      if (cells::IsMark(n)) {
        if (run >= 3) ++real;
        run = 0;
      } else {
        ++run;
      }
    }
    if (real == 0) {
      if (mode == RSET_COMBINED && cb.dropped_inside)
        return finish(WriteWorldRset(idx, target, params, *ctx.object), false);
      return finish(WriteNullRset(idx, target, params, *ctx.object), true);
    }
    out.push_back(cells::Mark(0));
    const int status = cells::BuildRset(idx, target, params, out, *ctx.object);
    return finish(status, status < 0);
  } catch (const std::bad_alloc&) {
    return DERIVE_NO_WORKSPACE;
  }
}

}  // namespace

// Without an output arena the result was built in scratch memory that is
// gone now: only the status is answered.
int q7_RsetCombine(const DeriveContext& ctx, int mode, double fuzz, const cells::Object& a,
                   const cells::Object& b) {
  const int status = Combine(ctx, mode, fuzz, a, b);
  if (!ctx.output && ctx.object) *ctx.object = cells::Object{};
  return status;
}

}  // namespace ops
