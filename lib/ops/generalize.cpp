#include "lib/ops/generalize.h"

#include <cmath>
#include <new>

#include "lib/cells/coord_text.h"
#include "lib/cells/object_builder.h"

namespace ops {

using geodesy::DirectionCosines;

namespace {

// The squared chord from p to the arc a-b, or to a when the foot of p on the
// great circle falls outside the arc (or the arc has no direction).
double ArcDistanceSq(const DirectionCosines& a, const DirectionCosines& b, const DirectionCosines& p) {
  DirectionCosines n = geodesy::Cross(a, b);
  const double len = std::sqrt(geodesy::Dot(n, n));
  if (len < 1e-300) return geodesy::ChordSq(a, p);
  n = {n.x / len, n.y / len, n.z / len};
  const double s = geodesy::Dot(n, p);  // sine of the distance from the great circle
  // The foot F = p - s n lies on the arc when it is left of neither end's
  // perpendicular: (a x F).n >= 0 and (F x b).n >= 0.
  const DirectionCosines foot{p.x - s * n.x, p.y - s * n.y, p.z - s * n.z};
  if (geodesy::Dot(geodesy::Cross(a, foot), n) < 0.0 || geodesy::Dot(geodesy::Cross(foot, b), n) < 0.0)
    return geodesy::ChordSq(a, p);
  // chord^2 = 2 (1 - cos d), cos d = sqrt(1 - s^2); in a form that keeps small d.
  const double s2 = s * s;
  return 2.0 * s2 / (1.0 + std::sqrt(std::max(0.0, 1.0 - s2)));
}

}  // namespace

int SimplifyLine(const DirectionCosines* v, int n, double tolerance, std::vector<std::uint8_t>& keep) {
  keep.assign(static_cast<std::size_t>(std::max(n, 0)), 0);
  if (n <= 0) return 0;
  keep[0] = 1;
  if (n == 1) return 1;
  keep[n - 1] = 1;
  int kept = 2;
  // Ranges still to look at, as a stack of (first, last) kept ends.
  std::vector<std::pair<int, int>> todo{{0, n - 1}};
  while (!todo.empty()) {
    const auto [lo, hi] = todo.back();
    todo.pop_back();
    double worst = tolerance;
    int at = -1;
    for (int i = lo + 1; i < hi; ++i) {
      const double d = ArcDistanceSq(v[lo], v[hi], v[i]);
      if (d > worst) {
        worst = d;
        at = i;
      }
    }
    if (at < 0) continue;
    keep[at] = 1;
    ++kept;
    todo.push_back({at, hi});
    todo.push_back({lo, at});
  }
  return kept;
}

double GeneralizeTolerance(double width_metres, const geodesy::Ellipsoid& e) {
  return ChordSqOfAngle(width_metres / ((2.0 * e.a + e.b) / 3.0));
}

int q7_Generalize(const DeriveContext& ctx, const cells::Object& source, double tolerance, GeneralizeCounts* counts) {
  counts->before = counts->after = 0;
  cells::CellIndex& idx = *ctx.index;
  try {
    std::vector<cells::PointNode> in;
    if (!cells::CollectVertices(idx, source, in)) return 10 + DERIVE_NO_WORKSPACE;
    std::vector<cells::PointNode> out;
    out.reserve(in.size());
    std::vector<DirectionCosines> window;
    std::vector<std::uint8_t> keep;
    std::size_t start = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
      if (!cells::IsMark(in[i])) continue;
      // One item: in[start .. i), then its mark.
      const std::size_t count = i - start;
      counts->before += static_cast<std::int64_t>(count);
      for (std::size_t w = start; w < i; w += kGeneralizeWindow) {
        const std::size_t m = std::min<std::size_t>(kGeneralizeWindow, i - w);
        window.clear();
        for (std::size_t k = 0; k < m; ++k) window.push_back(in[w + k].p);
        SimplifyLine(window.data(), static_cast<int>(m), tolerance, keep);
        for (std::size_t k = 0; k < m; ++k)
          if (keep[k]) out.push_back(in[w + k]);
      }
      if (count > 0) out.push_back(in[i]);
      start = i + 1;
    }
    if (counts->before == 0) return 11;
    cells::SectionTarget target{ctx.output, nullptr};
    cells::BuildParams p{ctx.created ? ctx.created : 1, 0, ctx.res, ctx.prec};
    const int status = source.kind == cells::kRset ? cells::BuildRset(idx, target, p, out, *ctx.object)
                                                   : cells::BuildLset(idx, target, p, out, *ctx.object);
    if (status > 0) return status + 10;
    // What was written: the builder drops rings left with fewer than three.
    std::vector<cells::PointNode> written;
    if (status == 0 && cells::CollectVertices(idx, *ctx.object, written))
      for (const auto& n : written) counts->after += cells::IsMark(n) ? 0 : 1;
    return status;
  } catch (const std::bad_alloc&) {
    return 10 + DERIVE_NO_WORKSPACE;
  }
}

}  // namespace ops
