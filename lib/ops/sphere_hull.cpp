// Spherical hull: start at the point farthest from the mean direction and
// wrap by triple products.

#include "lib/ops/sphere_hull.h"

#include <cmath>
#include <cstdint>

#include "lib/cells/object_builder.h"
#include "lib/geodesy/constants.h"
#include "lib/geodesy/ellipsoid.h"

namespace ops {

using geodesy::ChordSq;
using geodesy::Cross;
using geodesy::DirectionCosines;
using geodesy::Dot;
using geodesy::SAME_POINT_SQ;

int SphericalHull(const std::vector<DirectionCosines>& p, std::vector<int>& hull) {
  hull.clear();
  const int n = static_cast<int>(p.size());
  if (n < 3) return 0;
  DirectionCosines sum{0, 0, 0};
  for (const DirectionCosines& q : p) sum.x += q.x, sum.y += q.y, sum.z += q.z;
  const DirectionCosines mean = geodesy::Normalised(sum);
  if (!geodesy::IsValid(mean)) return 1;
  int start = 0;
  double far = -1;
  for (int i = 0; i < n; ++i) {
    double d = ChordSq(p[i], mean);
    if (d > far) far = d, start = i;
  }
  if (!(far > SAME_POINT_SQ)) return 0;
  if (far + SAME_POINT_SQ > 2.0) return 1;

  // Candidates: every point not at the start point.
  std::vector<int> cand;
  cand.reserve(static_cast<size_t>(n));
  // Points well inside the polygon of eight extremes cannot be hull
  // vertices: drop them before wrapping. In the gnomonic projection about
  // the mean (all points lie within a quarter circle of it) great circles
  // are straight lines, so the test is planar.
  DirectionCosines e1 = std::fabs(mean.z) < 0.9 ? DirectionCosines{-mean.y, mean.x, 0}
                                                 : DirectionCosines{1, 0, 0};
  const double d1 = Dot(e1, mean);
  e1 = geodesy::Normalised({e1.x - d1 * mean.x, e1.y - d1 * mean.y, e1.z - d1 * mean.z});
  const DirectionCosines e2 = Cross(mean, e1);
  std::vector<double> pu(static_cast<size_t>(n)), pv(static_cast<size_t>(n));
  int ext[8];
  double best[8];
  static const double kDir[8][2] = {{1, 0},  {1, 1},   {0, 1},  {-1, 1},
                                    {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  for (int k = 0; k < 8; ++k) ext[k] = -1, best[k] = -HUGE_VAL;
  for (int i = 0; i < n; ++i) {
    const double w = Dot(p[i], mean);
    pu[i] = Dot(p[i], e1) / w;
    pv[i] = Dot(p[i], e2) / w;
    for (int k = 0; k < 8; ++k) {
      const double s = kDir[k][0] * pu[i] + kDir[k][1] * pv[i];
      if (s > best[k]) best[k] = s, ext[k] = i;
    }
  }
  int poly[8], m = 0;
  for (int k = 0; k < 8; ++k)
    if (ext[k] >= 0 && (m == 0 || (poly[m - 1] != ext[k] && poly[0] != ext[k]))) poly[m++] = ext[k];
  const double span = best[0] + best[4] + best[2] + best[6];  // width plus height
  const double margin = 1e-9 * span * span;
  for (int i = 0; i < n; ++i) {
    if (ChordSq(p[i], p[start]) <= SAME_POINT_SQ) continue;
    bool inside = m >= 3;
    for (int k = 0; k < m && inside; ++k) {
      const int a = poly[k], b = poly[(k + 1) % m];
      inside = (pu[b] - pu[a]) * (pv[i] - pv[a]) - (pv[b] - pv[a]) * (pu[i] - pu[a]) > margin;
    }
    if (!inside) cand.push_back(i);
  }
  hull.push_back(start);
  int b = start;
  for (int steps = 0; steps <= n; ++steps) {
    // Next vertex: no candidate to the right of b -> c; of candidates on the
    // great circle b -> c, the farthest from b. The start point closes the
    // ring once it is a candidate again.
    //
    // The side of q is its distance from that great circle: the triple
    // product over the length of b x c, taken from the differences to b so
    // that it keeps its precision when the points are close together. An
    // absolute tolerance on the bare triple product, which shrinks with the
    // edge's length, let points a few metres outside the hull of a cap 200 m
    // across count as on an edge.
    int c = -1;
    DirectionCosines bc{0, 0, 0};
    double tol = 0.0;
    auto side = [&](int q) {
      return Dot(bc, DirectionCosines{p[q].x - p[b].x, p[q].y - p[b].y, p[q].z - p[b].z});
    };
    auto take = [&](int q) {
      c = q;
      const DirectionCosines d{p[c].x - p[b].x, p[c].y - p[b].y, p[c].z - p[b].z};
      bc = Cross(p[b], d);
      tol = SAME_POINT_SQ * std::sqrt(Dot(bc, bc));
    };
    auto better = [&](int q) {
      if (c < 0) return true;
      const double t = side(q);
      if (t < -tol) return true;
      return t <= tol && ChordSq(p[q], p[b]) > ChordSq(p[c], p[b]);
    };
    for (int q : cand)
      if (ChordSq(p[q], p[b]) > SAME_POINT_SQ && better(q)) take(q);
    if (hull.size() > 1 && ChordSq(p[start], p[b]) > SAME_POINT_SQ) {
      const int q = start;
      if (c < 0 || side(q) < -tol || (side(q) <= tol && ChordSq(p[q], p[b]) >= ChordSq(p[c], p[b])))
        take(q);
    }
    if (c < 0) return 2;
    if (c == start) return hull.size() < 3 ? 2 : static_cast<int>(hull.size());
    // Points strictly inside the triangle (start, b, c) are inside the hull.
    if (hull.size() > 1) {
      const DirectionCosines n1 = Cross(p[start], p[b]), n2 = Cross(p[b], p[c]),
                             n3 = Cross(p[c], p[start]);
      size_t k = 0;
      for (int q : cand)
        if (!(Dot(n1, p[q]) > SAME_POINT_SQ && Dot(n2, p[q]) > SAME_POINT_SQ &&
              Dot(n3, p[q]) > SAME_POINT_SQ))
          cand[k++] = q;
      cand.resize(k);
    }
    hull.push_back(c);
    if (hull.size() == 2 && c == hull[0]) return 2;
    b = c;
  }
  return 1;  // the wrap did not close within as many steps as points
}

int q7_RsetHullOfPoints(const DeriveContext& ctx, const cells::Object& pset) {
  cells::CellIndex& idx = *ctx.index;
  std::vector<DirectionCosines> pts;
  std::vector<std::uint64_t> attr;
  const bool datum = cells::ResHasAttribute(ctx.res);
  for (std::int64_t ci = 0; ci < cells::PsetCellCount(pset); ++ci) {
    const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(pset, ci));
    const std::uint8_t* rec = pset.coords + c.offset;
    for (std::int32_t i = 0; i < c.count; ++i) {
      DirectionCosines q;
      std::uint64_t a = 0;
      rec = cells::Restore(idx, c.cell, rec, pset.res, q, &a);
      pts.push_back(q);
      attr.push_back(datum ? a : 0);
    }
  }
  std::vector<int> hull;
  const int h = SphericalHull(pts, hull);
  if (h < 3) return h + 2;
  if (ctx.output == nullptr) return DERIVE_DONE;
  std::vector<cells::PointNode> nodes;
  nodes.reserve(hull.size() + 1);
  for (int v : hull) nodes.push_back({pts[v], attr[v]});
  nodes.push_back(cells::Mark(1));
  cells::SectionTarget target;
  target.arena = ctx.output;
  cells::BuildParams params;
  params.id = ctx.created;
  params.res = ctx.res;
  params.prec = ctx.prec;
  const int built = cells::BuildRset(idx, target, params, nodes, *ctx.object);
  return built == 0 ? DERIVE_DONE : 1;
}

}  // namespace ops
