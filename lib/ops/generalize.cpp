#include "lib/ops/generalize.h"

#include <cmath>
#include <new>

#include "lib/cells/coord_text.h"
#include "lib/cells/object_builder.h"

namespace ops {

using geodesy::DirectionCosines;

namespace {

// Distances to the arc a-b are compared as the squared sine of the angle
// from the great circle (monotonic in the squared chord up to a quarter
// circle): the foot of p lies on the arc when p is on the inner side of both
// ends' perpendiculars (p.(n x a) >= 0 and p.(b x n) >= 0); otherwise the
// distance is the chord to a, brought to the same measure.
struct ArcMeasure {
  DirectionCosines a, n, ua, ub;
  bool degenerate = false;
  ArcMeasure(const DirectionCosines& start, const DirectionCosines& end) : a(start) {
    n = geodesy::Cross(start, end);
    const double len = std::sqrt(geodesy::Dot(n, n));
    degenerate = len < 1e-300;
    if (degenerate) return;
    n = {n.x / len, n.y / len, n.z / len};
    ua = geodesy::Cross(n, start);
    ub = geodesy::Cross(end, n);
  }
  double operator()(const DirectionCosines& p) const {
    if (!degenerate && geodesy::Dot(p, ua) >= 0.0 && geodesy::Dot(p, ub) >= 0.0) {
      const double s = geodesy::Dot(n, p);
      return s * s;
    }
    return FromChordSq(geodesy::ChordSq(a, p));
  }
  // sin^2 of the angle whose squared chord is c: cos = 1 - c/2.
  static double FromChordSq(double c) { return c * (1.0 - 0.25 * c); }
};

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
  const double limit = ArcMeasure::FromChordSq(std::min(tolerance, 2.0));
  while (!todo.empty()) {
    const auto [lo, hi] = todo.back();
    todo.pop_back();
    if (hi - lo < 2) continue;
    const ArcMeasure measure(v[lo], v[hi]);
    double worst = limit;
    int at = -1;
    for (int i = lo + 1; i < hi; ++i) {
      const double d = measure(v[i]);
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
