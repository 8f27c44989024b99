// The cells a circle meets, split into those it crosses and those inside it.
#include "lib/cells/cell_disc.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "lib/cells/cell_locate.h"

namespace cells {

using geodesy::Cross;
using geodesy::DirectionCosines;
using geodesy::Dot;

double ArcNearestCosine(const DirectionCosines& q, const DirectionCosines& a, const DirectionCosines& b) {
  const double ends = std::max(Dot(q, a), Dot(q, b));
  DirectionCosines n = Cross(a, b);
  const double len = std::sqrt(Dot(n, n));
  if (!(len > 1e-300)) return ends;
  n = {n.x / len, n.y / len, n.z / len};
  const double qn = Dot(q, n);
  // The foot of q on the arc's great circle, unnormalised.
  const DirectionCosines p{q.x - qn * n.x, q.y - qn * n.y, q.z - qn * n.z};
  // It lies on the arc when it is on the inner side of both ends.
  if (Dot(Cross(a, p), n) >= 0 && Dot(Cross(p, b), n) >= 0) return std::max(ends, std::sqrt(std::max(0.0, 1 - qn * qn)));
  return ends;
}

int DiscCellStatus(const CellIndex& idx, std::int32_t cell, std::int32_t q_cell, const DirectionCosines& q,
                   double r2) {
  const double limit = 1.0 - r2 / 2.0;  // cosine of the radius
  const CellRecord* r = idx.cells[cell];
  const int n = r->neighbour_count;
  bool all_inside = true, meets = cell == q_cell;
  DirectionCosines first{}, prev{};
  for (int k = 0; k < n; ++k) {
    DirectionCosines v;
    VoronoiVertex(idx, cell, k, v);
    if (!geodesy::IsValid(v)) continue;
    if (Dot(q, v) < limit) all_inside = false;
    if (k == 0) {
      first = v;
    } else if (!meets && ArcNearestCosine(q, prev, v) >= limit) {
      meets = true;
    }
    prev = v;
  }
  if (!meets && n > 0 && ArcNearestCosine(q, prev, first) >= limit) meets = true;
  if (!meets) return DISC_OUTSIDE;
  return all_inside ? DISC_INTERIOR : DISC_BOUNDARY;
}

int DiscCells(CellIndex& idx, const DirectionCosines& q, double r2, std::vector<std::int32_t>* boundary,
              std::vector<std::int32_t>* interior) {
  boundary->clear();
  interior->clear();
  if (idx.cell_count <= 0) return 0;
  try {
    const std::int32_t start = Locate(idx, q);
    if (start == NO_CELL) return 0;
    std::vector<std::uint8_t> seen(idx.cell_count, 0);
    std::vector<std::int32_t> queue{start};
    seen[start] = 1;
    for (std::size_t head = 0; head < queue.size(); ++head) {
      const std::int32_t c = queue[head];
      const int status = DiscCellStatus(idx, c, start, q, r2);
      if (status == DISC_OUTSIDE) continue;
      (status == DISC_INTERIOR ? interior : boundary)->push_back(c);
      const CellRecord* r = idx.cells[c];
      for (int k = 0; k < r->neighbour_count; ++k) {
        const std::int32_t nb = r->neighbours[k];
        if (nb >= 0 && nb < idx.cell_count && !seen[nb]) {
          seen[nb] = 1;
          queue.push_back(nb);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    boundary->clear();
    interior->clear();
    return 9;
  }
  std::sort(boundary->begin(), boundary->end());
  std::sort(interior->begin(), interior->end());
  return 0;
}

}  // namespace cells
