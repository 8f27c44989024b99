// The cell index record: set-up, release, verification and the statistics.
//
// Verification walks every (cell, neighbour position) pair once: it finds the
// cell in its neighbour's list, checks that the lists run in opposite
// directions across the shared edge, and forms the Voronoi vertex before the
// neighbour to compare it with the one before that. Two consecutive vertices
// closer than the same-point chord mean four cells meet at one point. A
// vertex that does not turn counterclockwise is reported as an order fault
// too: a list that runs clockwise everywhere is otherwise consistent with
// itself and would pass.
#include "lib/cells/cell_index.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "lib/cells/cell_locate.h"
#include "lib/geodesy/constants.h"

namespace cells {

using geodesy::ChordSq;
using geodesy::DirectionCosines;

void ResetIndexCaches(CellIndex& idx) {
  for (int f = 0; f < QUANTISER_FORMS; ++f) {
    idx.store_cache[f] = QuantiserCache{};
    idx.restore_cache[f] = QuantiserCache{};
  }
  idx.frame_cell = NO_CELL;
  idx.frame = geodesy::TangentFrame{};
}

void SetUpIndex(CellIndex& idx, std::uint32_t index_id, CellRecord** cells, std::int32_t cell_count,
                std::int32_t max_neighbours, int storage_mode, double max_neighbour_chord2,
                double max_diagonal_chord2, unsigned char* block, std::size_t block_size) {
  idx = CellIndex{};
  idx.index_id = index_id;
  idx.cells = cells;
  idx.cell_count = cell_count;
  idx.max_neighbours = max_neighbours;
  idx.storage_mode = storage_mode;
  idx.max_neighbour_chord2 = max_neighbour_chord2;
  idx.max_diagonal_chord2 = max_diagonal_chord2;
  idx.block = block;
  idx.block_size = block_size;
  idx.walk_hint = 0;
  ResetIndexCaches(idx);
}

void ReleaseIndex(CellIndex& idx) {
  if (idx.cells == nullptr && idx.block == nullptr && idx.extra == nullptr) return;
  if (idx.storage_mode == 2 && idx.cells != nullptr) {
    for (std::int32_t i = 0; i < idx.cell_count; ++i) std::free(idx.cells[i]);
  }
  std::free(idx.block);
  std::free(idx.cells);
  DropStartTable(idx);
  idx = CellIndex{};
}

void ReplaceIndex(CellIndex& to, CellIndex& from) {
  if (&to == &from) return;
  ReleaseIndex(to);
  to = from;
  from = CellIndex{};
}

std::uint16_t ScaleValue(double theta) {
  if (!(theta >= 0.0)) return 1;
  if (theta >= 1.5707963267948966) return 65535;
  const double s = std::tan(theta) * SCALE_FACTOR + 1.0;
  if (s >= 65535.0) return 65535;
  return static_cast<std::uint16_t>(s);
}

// Angle between two unit vectors, accurate at small and large angles.
static double AngleBetween(const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines c = geodesy::Cross(a, b);
  return std::atan2(std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z), geodesy::Dot(a, b));
}

bool ComputeCellScale(const CellIndex& idx, std::int32_t cell, std::uint16_t& scale) {
  const CellRecord* r = idx.cells[cell];
  double theta = 0.0;
  for (int k = 0; k < r->neighbour_count; ++k) {
    DirectionCosines v;
    if (VoronoiVertex(idx, cell, k, v) == 0 && !geodesy::IsValid(v)) return false;
    const double t = AngleBetween(r->centre, v);
    if (t > theta) theta = t;
  }
  scale = ScaleValue(theta);
  return true;
}

VerifyResult VerifyIndex(const CellIndex& idx) {
  VerifyResult res;
  res.min_chord2 = geodesy::HUGE_VALUE;
  res.min_vertex_dist2 = geodesy::HUGE_VALUE;
  const std::int32_t count = idx.cell_count;
  for (std::int32_t i = 0; i < count; ++i) {
    const CellRecord* ri = idx.cells[i];
    const int n = ri->neighbour_count;
    if (n > res.max_neighbours) res.max_neighbours = n;
    res.total_neighbours += n;
    if (n < 1) continue;
    const std::int32_t* nb = ri->neighbours;
    for (int k = 0; k < n; ++k) {
      const std::int32_t j = nb[k];
      if (j < 0 || j >= count || j == i) {
        res.status = 1;
        res.fault[0] = i;
        res.fault[1] = j;
        return res;
      }
      const CellRecord* rj = idx.cells[j];
      const int nj = rj->neighbour_count;
      int m = -1;
      for (int t = 0; t < nj; ++t) {
        if (rj->neighbours[t] == i) {
          m = t;
          break;
        }
      }
      if (m < 0) {
        res.status = 1;
        res.fault[0] = i;
        res.fault[1] = j;
        return res;
      }
      const std::int32_t i_before = nb[(k + n - 1) % n], i_after = nb[(k + 1) % n];
      const std::int32_t j_after = rj->neighbours[(m + 1) % nj], j_before = rj->neighbours[(m + nj - 1) % nj];
      if (i_before != j_after || i_after != j_before) {
        res.status = 3;
        res.fault[0] = i;
        res.fault[1] = j;
        return res;
      }
      const std::int32_t b1 = i_before, b2 = nb[(k + 2 * n - 2) % n];
      if (b1 < 0 || b1 >= count || b2 < 0 || b2 >= count) {
        res.status = 1;
        res.fault[0] = i;
        res.fault[1] = b1 < 0 || b1 >= count ? b1 : b2;
        return res;
      }
      DirectionCosines v_now, v_before;
      const int s_now = VertexOf(ri->centre, idx.cells[b1]->centre, rj->centre, v_now);
      VertexOf(ri->centre, idx.cells[b2]->centre, idx.cells[b1]->centre, v_before);
      if (s_now <= 0) {
        // Not a counterclockwise turn: the list runs the wrong way here (or the
        // three centres lie on one great circle).
        res.status = 3;
        res.fault[0] = i;
        res.fault[1] = j;
        return res;
      }
      const double dv = ChordSq(v_now, v_before);
      if (n >= 3 && dv < geodesy::SAME_POINT_SQ) {
        res.status = 2;
        res.fault[0] = i;
        res.fault[1] = b2;
        res.fault[2] = b1;
        res.fault[3] = j;
        return res;
      }
      if (dv < res.min_vertex_dist2) res.min_vertex_dist2 = dv;
      if (dv > res.max_vertex_dist2) res.max_vertex_dist2 = dv;
      const double c2 = ChordSq(ri->centre, rj->centre);
      if (c2 < res.min_chord2) {
        res.min_chord2 = c2;
        res.min_pair[0] = i;
        res.min_pair[1] = j;
      }
      if (c2 > res.max_chord2) {
        res.max_chord2 = c2;
        res.max_pair[0] = i;
        res.max_pair[1] = j;
      }
    }
  }
  if (res.min_chord2 == geodesy::HUGE_VALUE) res.min_chord2 = 0.0;
  if (res.min_vertex_dist2 == geodesy::HUGE_VALUE) res.min_vertex_dist2 = 0.0;
  return res;
}

double DiagonalStatistic(const CellIndex& idx) {
  double best = 0.0;
  for (std::int32_t i = 0; i < idx.cell_count; ++i) {
    const CellRecord* r = idx.cells[i];
    const int n = r->neighbour_count;
    if (n < 1) continue;
    for (int k = 0; k < n; ++k) {
      const std::int32_t mid = r->neighbours[(k + n - 1) % n];
      if (mid > i) continue;
      const std::int32_t a = r->neighbours[(k + 2 * n - 2) % n], b = r->neighbours[k];
      if (a < 0 || a >= idx.cell_count || b < 0 || b >= idx.cell_count) continue;
      const double c2 = ChordSq(idx.cells[a]->centre, idx.cells[b]->centre);
      if (c2 > best) best = c2;
    }
  }
  return best;
}

std::uint16_t CreationDayNumber(int year, int month, int day_of_month) {
  static const int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  static const int kBeforeLeap[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
  const int y = year - 1900;
  if (month < 1) month = 1;
  if (month > 12) month = 12;
  const bool leap = y != 0 && y % 4 == 0;
  const long days = 365L * y + (y > 0 ? (y - 1) / 4 : 0) +
                    (leap ? kBeforeLeap[month - 1] : kBefore[month - 1]) + (day_of_month - 1);
  return static_cast<std::uint16_t>(days & 0xFFFF);
}

std::uint16_t CreationDayNumberOf(std::int64_t unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return 0;
  return CreationDayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

}  // namespace cells
