// Inserting centres into a working copy of a cell index.
//
// A Voronoi vertex of cell i is the circumcentre v of the triangle (i, k,
// k+1) of i and two consecutive neighbours. The new centre p "conflicts" with
// a vertex when p is nearer to v than the triangle's centres are
// (p.v > a.v): that vertex disappears into the new cell. Each triangle is
// decided once, computed from its rotation that starts at its lowest cell
// number, so the three cells that share a vertex always agree on it.
//
// From the split cell h (which always owns a conflict vertex) the conflict
// vertices are flooded across the cells that own them. Every such cell must
// have exactly one unbroken run k_s..k_e of conflict positions; it keeps
// neighbours k_s and k_e+1 with the new cell between them, and loses those
// in between. Going around the new cell counterclockwise, the cell after c
// is c's neighbour k_s, so the new list is read off the runs. A plan is
// checked (every turn counterclockwise, no two consecutive vertices of the
// changed lists within the same-point chord) before anything is written,
// and a failed check is a four-corner case: the centre is shifted and
// planned again.
#include "lib/cells/cell_grow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "lib/cells/cell_locate.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/ellipsoid.h"

namespace cells {

using geodesy::ChordSq;
using geodesy::DirectionCosines;
using geodesy::Dot;

namespace {

struct Run {
  int k_s = 0;  // first conflict position
  int k_e = 0;  // last conflict position (cyclic, may be below k_s)
  int length = 0;
};

struct Plan {
  std::vector<std::int32_t> ring;  // the new cell's neighbours, counterclockwise
  std::vector<std::pair<std::int32_t, Run>> touched;
};

enum PlanStatus { PLAN_OK = 0, PLAN_DEGENERATE = 1, PLAN_LIST_FULL = 2 };

std::uint64_t TriangleKey(std::int32_t a, std::int32_t b, std::int32_t c) {
  return (static_cast<std::uint64_t>(a) << 40) ^ (static_cast<std::uint64_t>(b) << 20) ^ static_cast<std::uint64_t>(c);
}

struct Planner {
  const CellIndex& idx;
  DirectionCosines p;
  std::unordered_map<std::uint64_t, signed char> decided;  // 1 conflict, 0 none, -1 degenerate

  // Conflict of the vertex between neighbours k and k+1 of cell i.
  int Conflict(std::int32_t i, int k) {
    const CellRecord* r = idx.cells[i];
    const int n = r->neighbour_count;
    std::int32_t t[3] = {i, r->neighbours[k % n], r->neighbours[(k + 1) % n]};
    int lo = 0;
    if (t[1] < t[lo]) lo = 1;
    if (t[2] < t[lo]) lo = 2;
    const std::int32_t a = t[lo], b = t[(lo + 1) % 3], c = t[(lo + 2) % 3];
    const std::uint64_t key = TriangleKey(a, b, c);
    auto it = decided.find(key);
    if (it != decided.end()) return it->second;
    DirectionCosines v;
    const DirectionCosines& ca = idx.cells[a]->centre;
    signed char result;
    if (VertexOf(ca, idx.cells[b]->centre, idx.cells[c]->centre, v) <= 0) {
      result = -1;
    } else {
      result = Dot(p, v) - Dot(ca, v) > 0.0 ? 1 : 0;
    }
    decided.emplace(key, result);
    return result;
  }

  int Make(std::int32_t h, Plan& plan) {
    plan.ring.clear();
    plan.touched.clear();
    std::unordered_map<std::int32_t, Run> runs;
    std::vector<std::int32_t> queue{h};
    std::unordered_map<std::int32_t, bool> queued{{h, true}};
    std::vector<signed char> flags;
    for (std::size_t q = 0; q < queue.size(); ++q) {
      const std::int32_t c = queue[q];
      const CellRecord* r = idx.cells[c];
      const int n = r->neighbour_count;
      if (n < 3) return PLAN_DEGENERATE;
      flags.assign(n, 0);
      int conflicts = 0;
      for (int k = 0; k < n; ++k) {
        const int f = Conflict(c, k);
        if (f < 0) return PLAN_DEGENERATE;
        flags[k] = static_cast<signed char>(f);
        conflicts += f;
      }
      if (conflicts == 0 || conflicts == n) return PLAN_DEGENERATE;
      Run run;
      int starts = 0;
      for (int k = 0; k < n; ++k) {
        if (flags[k] && !flags[(k + n - 1) % n]) {
          run.k_s = k;
          ++starts;
        }
      }
      if (starts != 1) return PLAN_DEGENERATE;
      run.length = conflicts;
      run.k_e = (run.k_s + conflicts - 1) % n;
      for (int t = 0; t < conflicts; ++t) {
        if (!flags[(run.k_s + t) % n]) return PLAN_DEGENERATE;
      }
      runs.emplace(c, run);
      for (int k = 0; k < n; ++k) {
        if (!flags[k]) continue;
        for (std::int32_t m : {r->neighbours[k], r->neighbours[(k + 1) % n]}) {
          if (queued.emplace(m, true).second) queue.push_back(m);
        }
      }
    }
    // The rim of the conflict patch, counterclockwise around the new centre.
    std::int32_t cur = h;
    for (;;) {
      plan.ring.push_back(cur);
      if (plan.ring.size() > runs.size()) return PLAN_DEGENERATE;
      const std::int32_t next = idx.cells[cur]->neighbours[runs.at(cur).k_s];
      if (runs.find(next) == runs.end()) return PLAN_DEGENERATE;
      if (next == h) break;
      cur = next;
    }
    if (plan.ring.size() != runs.size()) return PLAN_DEGENERATE;
    if (plan.ring.size() > static_cast<std::size_t>(MAX_NEIGHBOURS)) return PLAN_LIST_FULL;
    for (std::int32_t c : plan.ring) {
      const Run& run = runs.at(c);
      const int n = idx.cells[c]->neighbour_count;
      if (n - (run.length - 1) + 1 > MAX_NEIGHBOURS) return PLAN_LIST_FULL;
      plan.touched.emplace_back(c, run);
    }
    return Check(plan);
  }

  // Every new turn counterclockwise and no two consecutive vertices of the
  // new and the changed lists within the same-point chord.
  int Check(const Plan& plan) {
    const std::size_t m = plan.ring.size();
    std::vector<DirectionCosines> w(m);
    for (std::size_t k = 0; k < m; ++k) {
      if (VertexOf(p, idx.cells[plan.ring[k]]->centre, idx.cells[plan.ring[(k + 1) % m]]->centre, w[k]) <= 0)
        return PLAN_DEGENERATE;
    }
    for (std::size_t k = 0; k < m; ++k) {
      if (ChordSq(w[k], w[(k + 1) % m]) < geodesy::SAME_POINT_SQ) return PLAN_DEGENERATE;
    }
    for (const auto& [c, run] : plan.touched) {
      const CellRecord* r = idx.cells[c];
      const int n = r->neighbour_count;
      const DirectionCosines& a = r->centre;
      const DirectionCosines& before = idx.cells[r->neighbours[run.k_s]]->centre;
      const DirectionCosines& after = idx.cells[r->neighbours[(run.k_e + 1) % n]]->centre;
      DirectionCosines new1, new2, kept1, kept2;
      if (VertexOf(a, before, p, new1) <= 0 || VertexOf(a, p, after, new2) <= 0) return PLAN_DEGENERATE;
      VoronoiVertex(idx, c, (run.k_s + n - 1) % n, kept1);
      VoronoiVertex(idx, c, (run.k_e + 1) % n, kept2);
      if (ChordSq(new1, kept1) < geodesy::SAME_POINT_SQ || ChordSq(new2, kept2) < geodesy::SAME_POINT_SQ ||
          ChordSq(new1, new2) < geodesy::SAME_POINT_SQ)
        return PLAN_DEGENERATE;
    }
    return PLAN_OK;
  }
};

// p moved towards c along the great circle to `share` of its angle from c.
DirectionCosines ShiftTowards(const DirectionCosines& c, const DirectionCosines& p, double share) {
  const DirectionCosines x = geodesy::Cross(c, p);
  const double theta = std::atan2(std::sqrt(Dot(x, x)), Dot(c, p));
  const double s = std::sin(theta);
  if (!(s > 0.0)) return p;
  const double wc = std::sin((1.0 - share) * theta) / s, wp = std::sin(share * theta) / s;
  DirectionCosines q{wc * c.x + wp * p.x, wc * c.y + wp * p.y, wc * c.z + wp * p.z};
  geodesy::Normalise(q);
  return q;
}

}  // namespace

int BeginGrow(GrowState& g, const CellIndex& source, std::int32_t add) {
  g = GrowState{};
  if (source.cell_count <= 0 || source.cells == nullptr) return 8;
  if (add < 0) add = 0;
  std::int64_t limit = static_cast<std::int64_t>(source.cell_count) + add;
  if (limit > MAX_CELLS) limit = MAX_CELLS;
  if (limit < source.cell_count) limit = source.cell_count;
  auto** cells = static_cast<CellRecord**>(std::calloc(static_cast<std::size_t>(limit), sizeof(CellRecord*)));
  if (cells == nullptr) return 8;
  std::int32_t largest = 0;
  for (std::int32_t i = 0; i < source.cell_count; ++i) {
    const CellRecord* r = source.cells[i];
    int n = r->neighbour_count;
    if (n < 0) n = 0;
    if (n > MAX_NEIGHBOURS) n = MAX_NEIGHBOURS;
    cells[i] = static_cast<CellRecord*>(std::malloc(GROW_RECORD_BYTES));
    if (cells[i] == nullptr) {
      for (std::int32_t j = 0; j < i; ++j) std::free(cells[j]);
      std::free(cells);
      return 8;
    }
    std::memcpy(cells[i], r, RecordFileSize(n));
    if (n > largest) largest = n;
  }
  SetUpIndex(g.work, source.index_id, cells, source.cell_count, largest, 2, source.max_neighbour_chord2,
             source.max_diagonal_chord2);
  g.limit = static_cast<std::int32_t>(limit);
  g.largest = largest;
  return 0;
}

void EndGrow(GrowState& g) {
  ReleaseIndex(g.work);
  g = GrowState{};
}

int InsertCentre(GrowState& g, const DirectionCosines& p_in, InsertReport* report) {
  CellIndex& idx = g.work;
  g.shifts = 0;
  if (report != nullptr) *report = InsertReport{};
  if (idx.cells == nullptr || idx.cell_count <= 0) return INSERT_INCONSISTENT;
  if (idx.cell_count >= g.limit) return INSERT_LIMIT;
  DirectionCosines p = geodesy::Normalised(p_in);
  if (!geodesy::IsValid(p)) return INSERT_SAME_CENTRE;
  Plan plan;
  std::int32_t h = NO_CELL;
  for (;;) {
    h = Locate(idx, p);
    if (h == NO_CELL) return INSERT_INCONSISTENT;
    if (ChordSq(p, idx.cells[h]->centre) < geodesy::SAME_POINT_SQ) return INSERT_SAME_CENTRE;
    Planner planner{idx, p, {}};
    const int st = planner.Make(h, plan);
    if (st == PLAN_OK) break;
    if (st == PLAN_LIST_FULL) return INSERT_LIST_FULL;
    if (g.shifts >= MAX_SHIFTS) return INSERT_FOUR_CORNERS;
    ++g.shifts;
    p = ShiftTowards(idx.cells[h]->centre, p, SHIFT_SHARE);
    if (!geodesy::IsValid(p)) return INSERT_SORT_FAILED;
  }
  auto* rec = static_cast<CellRecord*>(std::malloc(GROW_RECORD_BYTES));
  if (rec == nullptr) return INSERT_NO_MEMORY;
  const std::int32_t cell = idx.cell_count;
  rec->centre = p;
  rec->neighbour_count = static_cast<std::int16_t>(plan.ring.size());
  rec->scale = 1;
  std::copy(plan.ring.begin(), plan.ring.end(), rec->neighbours);
  idx.cells[cell] = rec;
  // Each touched cell keeps k_s and k_e+1 with the new cell between them.
  std::int32_t list[MAX_NEIGHBOURS];
  for (const auto& [c, run] : plan.touched) {
    CellRecord* r = idx.cells[c];
    const int n = r->neighbour_count;
    int m = 0;
    for (int k = 0; k < n; ++k) {
      const int offset = (k - run.k_s + n) % n;  // 0 at k_s
      if (offset >= 1 && offset <= run.length - 1) continue;  // cut off by the new cell
      list[m++] = r->neighbours[k];
      if (k == run.k_s) list[m++] = cell;
    }
    std::copy(list, list + m, r->neighbours);
    r->neighbour_count = static_cast<std::int16_t>(m);
    if (m > g.largest) g.largest = m;
  }
  idx.cell_count = cell + 1;
  if (static_cast<std::int32_t>(plan.ring.size()) > g.largest) g.largest = static_cast<std::int32_t>(plan.ring.size());
  idx.max_neighbours = g.largest;
  std::uint16_t s;
  if (ComputeCellScale(idx, cell, s)) rec->scale = s;
  for (const auto& [c, run] : plan.touched) {
    if (ComputeCellScale(idx, c, s)) idx.cells[c]->scale = s;
  }
  ResetIndexCaches(idx);
  idx.walk_hint = cell;
  if (report != nullptr) {
    report->cell = cell;
    report->split_cell = h;
    report->shifts = g.shifts;
    report->centre = p;
    report->affected.push_back(cell);
    for (std::int32_t c : plan.ring) report->affected.push_back(c);
  }
  return INSERT_DONE;
}

FinishResult FinishGrow(GrowState& g, const char* path, int ellipsoid_number, std::int64_t unix_seconds) {
  FinishResult res;
  res.verify = VerifyIndex(g.work);
  if (res.verify.status != 0) return res;
  res.header = MakeVixHeader(unix_seconds, ellipsoid_number, res.verify.max_chord2, DiagonalStatistic(g.work));
  if (path != nullptr) res.write_status = WriteVix(path, g.work, res.header, &res.failed_row);
  return res;
}

void SeedGrowRandom(GrowRandom& r, unsigned seed) {
  std::memset(&r, 0, sizeof r);
  initstate_r(seed, r.state, sizeof r.state, &r.data);
}

int NextGrowRandom(GrowRandom& r) {
  std::int32_t v = 0;
  random_r(&r.data, &v);
  return static_cast<int>((v >> 16) & 0x7FFF);
}

DirectionCosines RandomCentre(GrowRandom& r) {
  for (;;) {
    DirectionCosines v{(NextGrowRandom(r) - 16383) * 6.103515625e-5, (NextGrowRandom(r) - 16383) * 6.103515625e-5,
                       (NextGrowRandom(r) - 16383) * 6.103515625e-5};
    const double len2 = Dot(v, v);
    if (len2 < 0.25 || len2 > 1.0) continue;
    geodesy::Normalise(v);
    return v;
  }
}

int AssembleIndex(const std::vector<DirectionCosines>& centres, const std::vector<std::vector<std::int32_t>>& lists,
                  std::uint32_t index_id, CellIndex& idx) {
  const std::size_t count = centres.size();
  if (count < static_cast<std::size_t>(MIN_CELLS) || count > static_cast<std::size_t>(MAX_CELLS) ||
      lists.size() != count)
    return 3;
  std::size_t bytes = 0;
  std::int32_t largest = 0;
  for (const auto& l : lists) {
    if (l.size() < static_cast<std::size_t>(MIN_NEIGHBOURS) || l.size() > static_cast<std::size_t>(MAX_NEIGHBOURS))
      return 2;
    for (std::int32_t m : l) {
      if (m < 0 || static_cast<std::size_t>(m) >= count) return 2;
    }
    bytes += RecordBlockSize(static_cast<int>(l.size()));
    largest = std::max(largest, static_cast<std::int32_t>(l.size()));
  }
  auto* block = static_cast<unsigned char*>(std::calloc(bytes, 1));
  auto** cells = static_cast<CellRecord**>(std::calloc(count, sizeof(CellRecord*)));
  if (block == nullptr || cells == nullptr) {
    std::free(block);
    std::free(cells);
    return 8;
  }
  std::size_t at = 0;
  for (std::size_t i = 0; i < count; ++i) {
    auto* r = reinterpret_cast<CellRecord*>(block + at);
    r->centre = centres[i];
    r->neighbour_count = static_cast<std::int16_t>(lists[i].size());
    r->scale = 1;
    std::copy(lists[i].begin(), lists[i].end(), r->neighbours);
    cells[i] = r;
    at += RecordBlockSize(static_cast<int>(lists[i].size()));
  }
  CellIndex built;
  SetUpIndex(built, index_id, cells, static_cast<std::int32_t>(count), largest, 1, 0.0, 0.0, block, bytes);
  double max_chord = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint16_t s;
    if (ComputeCellScale(built, static_cast<std::int32_t>(i), s)) cells[i]->scale = s;
    for (std::int32_t m : lists[i]) max_chord = std::max(max_chord, ChordSq(centres[i], centres[m]));
  }
  built.max_neighbour_chord2 = max_chord;
  built.max_diagonal_chord2 = DiagonalStatistic(built);
  ReplaceIndex(idx, built);
  return 0;
}

int RenumberIndex(const CellIndex& idx, const std::vector<std::int32_t>& order, CellIndex& out) {
  const std::size_t count = static_cast<std::size_t>(idx.cell_count);
  if (order.size() != count) return 2;
  std::vector<std::int32_t> place(count, -1);
  for (std::size_t k = 0; k < count; ++k) {
    const std::int32_t old = order[k];
    if (old < 0 || static_cast<std::size_t>(old) >= count || place[old] >= 0) return 2;
    place[old] = static_cast<std::int32_t>(k);
  }
  std::vector<DirectionCosines> centres(count);
  std::vector<std::vector<std::int32_t>> lists(count);
  for (std::size_t k = 0; k < count; ++k) {
    const CellRecord* r = idx.cells[order[k]];
    centres[k] = r->centre;
    for (int j = 0; j < r->neighbour_count; ++j) {
      const std::int32_t m = r->neighbours[j];
      if (m < 0 || static_cast<std::size_t>(m) >= count) return 2;
      lists[k].push_back(place[m]);
    }
  }
  return AssembleIndex(centres, lists, idx.index_id, out);
}

int WavefrontSort(const DirectionCosines* centres, std::int32_t cell, std::vector<std::int32_t>& candidates,
                  int* count, std::uint16_t* scale) {
  const DirectionCosines& a = centres[cell];
  std::vector<std::int32_t> pool;
  for (std::int32_t c : candidates)
    if (c != cell && std::find(pool.begin(), pool.end(), c) == pool.end()) pool.push_back(c);
  if (pool.size() < 3) return WAVEFRONT_TOO_FEW;
  // The nearest candidate is always a neighbour.
  std::size_t first = 0;
  for (std::size_t k = 1; k < pool.size(); ++k)
    if (ChordSq(a, centres[pool[k]]) < ChordSq(a, centres[pool[first]])) first = k;
  std::vector<std::int32_t> ring{pool[first]};
  std::vector<std::pair<std::int32_t, DirectionCosines>> turning;
  double theta = 0.0;
  for (;;) {
    const std::int32_t prev = ring.back();
    std::int32_t best = NO_CELL;
    DirectionCosines bv{};
    turning.clear();
    for (std::int32_t q : pool) {
      if (q == prev) continue;
      DirectionCosines v;
      if (VertexOf(a, centres[prev], centres[q], v) <= 0) continue;
      turning.emplace_back(q, v);
      // The first, or one inside the circle through a, prev and the best so
      // far: its vertex comes first along the edge.
      if (best == NO_CELL || Dot(centres[q], bv) - Dot(a, bv) > 0.0) {
        best = q;
        bv = v;
      }
    }
    if (best == NO_CELL) return WAVEFRONT_TOO_FEW;
    // Another choice whose vertex ties with the best: four cells meet there.
    for (const auto& [q, v] : turning) {
      if (q != best && ChordSq(v, bv) < geodesy::SAME_POINT_SQ) return WAVEFRONT_FOUR_CORNERS;
    }
    const DirectionCosines x = geodesy::Cross(a, bv);
    theta = std::max(theta, std::atan2(std::sqrt(Dot(x, x)), Dot(a, bv)));
    if (best == ring.front()) break;
    if (std::find(ring.begin(), ring.end(), best) != ring.end() || ring.size() >= pool.size() ||
        ring.size() >= static_cast<std::size_t>(MAX_NEIGHBOURS))
      return WAVEFRONT_OPEN;
    ring.push_back(best);
  }
  if (ring.size() < 3) return WAVEFRONT_TOO_FEW;
  std::copy(ring.begin(), ring.end(), candidates.begin());
  candidates.resize(std::max(candidates.size(), ring.size()));
  if (count != nullptr) *count = static_cast<int>(ring.size());
  if (scale != nullptr) *scale = ScaleValue(theta);
  return WAVEFRONT_DONE;
}

}  // namespace cells
