#include "lib/ops/rset_buffers.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "lib/cells/object_builder.h"
#include "lib/ops/rset_complement.h"
#include "lib/ops/rset_write.h"

namespace ops {

namespace {

using geodesy::DirectionCosines;
using V = DirectionCosines;

V Sub(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V Add(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V Mul(V a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double VDot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V VCross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V Unit(V a) { return Mul(a, 1.0 / std::sqrt(VDot(a, a))); }
double Det(V a, V b, V c) { return VDot(VCross(a, b), c); }

struct Polygon {
  std::vector<V> v;
  std::uint64_t attr = 0;
};

Polygon NGon(V p, double r, int n, std::uint64_t attr) {
  V north;
  if (std::hypot(p.x, p.y) < 1e-12) north = {1.0, 0.0, 0.0};
  else north = Unit(Sub({0.0, 0.0, 1.0}, Mul(p, p.z)));
  const V east = VCross(north, p);
  Polygon g;
  g.attr = attr;
  for (int k = 0; k < n; ++k) {
    const double t = 2.0 * M_PI * k / n;
    const V dir = Sub(Mul(north, std::cos(t)), Mul(east, std::sin(t)));
    g.v.push_back(Unit(Add(Mul(p, std::cos(r)), Mul(dir, std::sin(r)))));
  }
  return g;
}

bool Inside(const Polygon& g, V q) {
  const std::size_t n = g.v.size();
  for (std::size_t i = 0; i < n; ++i)
    if (Det(g.v[i], g.v[(i + 1) % n], q) <= 0.0) return false;
  return true;
}

// A crossing of leg (a, b) with leg (c, d), strictly inside both.
bool LegCrossing(V a, V b, V c, V d, V& x) {
  const double s1 = Det(a, b, c), s2 = Det(a, b, d);
  if ((s1 > 0) == (s2 > 0) || s1 == 0 || s2 == 0) return false;
  const double s3 = Det(c, d, a), s4 = Det(c, d, b);
  if ((s3 > 0) == (s4 > 0) || s3 == 0 || s4 == 0) return false;
  x = Unit(VCross(VCross(a, b), VCross(c, d)));
  if (VDot(x, Add(a, b)) < 0) x = Mul(x, -1.0);
  return true;
}

struct Stretch {
  std::int64_t from = 0, to = 0;  // node numbers
  std::vector<V> pts;             // from the start node up to (not with) the end node
  std::uint64_t attr = 0;
  bool used = false;
};

}  // namespace

int DensityVertices(int density) {
  static const int n[] = {11, 23, 43, 89, 179, 359};
  return density >= 1 && density <= 6 ? n[density - 1] : 0;
}

double AreaEqualFactor(int n) {
  const double t = M_PI / n;
  return std::sqrt(t / (std::sin(t) * std::cos(t)));
}

int q7_RsetNearPoints(const DeriveContext& ctx, const geodesy::Ellipsoid* e, int mode, int density,
                      double distance, const cells::Object& points) {
  if (!ctx.index || !ctx.object) return DERIVE_BAD_PARAMETERS;
  if (mode != 1 && mode != 2) return DERIVE_BAD_PARAMETERS;
  if (!OutputResValid(ctx.res)) return DERIVE_BAD_PARAMETERS;
  const int n = DensityVertices(density);
  if (!n) return DERIVE_BAD_PARAMETERS;
  if (e) {
    if (!(distance >= 0.0001 && distance <= e->a)) return DERIVE_BAD_PARAMETERS;
  } else if (!(distance >= 4e-12 && distance <= M_PI / 4)) {
    return DERIVE_BAD_PARAMETERS;
  }
  if (points.kind != cells::kPset) return DERIVE_BAD_PARAMETERS;
  cells::CellIndex& idx = *ctx.index;
  cells::BuildParams params;
  params.id = ctx.created ? ctx.created : 1;
  params.res = ctx.res;
  params.prec = ctx.prec;
  std::vector<std::uint8_t> scratch;
  cells::SectionTarget target{ctx.output, ctx.output ? nullptr : &scratch};
  auto finish = [&](int status) {
    if (!ctx.output) *ctx.object = cells::Object{};
    return status;
  };
  try {
    // Gather the points; close ones count as one.
    const double same = ChordSqOfAngle((e ? distance / 6371007.1808 : distance) / 1000.0);
    std::vector<cells::PointNode> pts;
    for (std::int64_t ci = 0; ci < cells::PsetCellCount(points); ++ci) {
      const cells::PsetCell c = cells::LoadPsetCell(cells::PsetCellAt(points, ci));
      const std::uint8_t* rec = points.coords + c.offset;
      for (std::int64_t i = 0; i < c.count; ++i) {
        cells::PointNode pn;
        rec = cells::Restore(idx, c.cell, rec, points.res, pn.p, &pn.attribute);
        bool dup = false;
        for (const auto& q : pts) {
          const V d = Sub(q.p, pn.p);
          if (VDot(d, d) < same) { dup = true; break; }
        }
        if (!dup) pts.push_back(pn);
      }
    }
    if (pts.empty()) {
      if (mode == 2) return finish(WriteWorldRset(idx, target, params, *ctx.object));
      WriteNullRset(idx, target, params, *ctx.object);
      return finish(DERIVE_EMPTY);
    }
    double r = distance;
    if (e) {
      double f = 0.0;
      for (const auto& q : pts) f += MetresToRadians(*e, q.p);
      r = distance * f / static_cast<double>(pts.size());
    }
    r *= AreaEqualFactor(n);
    std::vector<Polygon> polys;
    for (const auto& q : pts) polys.push_back(NGon(q.p, r, n, q.attribute));
    // Neighbours: centres closer than 2r.
    const double near_sq = ChordSqOfAngle(std::min(M_PI, 2.0 * r + 1e-9));
    std::vector<std::vector<int>> nb(pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i)
      for (std::size_t j = i + 1; j < pts.size(); ++j) {
        const V d = Sub(pts[i].p, pts[j].p);
        if (VDot(d, d) <= near_sq) { nb[i].push_back(int(j)); nb[j].push_back(int(i)); }
      }
    // Split every leg at its crossings, keep what lies outside every other polygon.
    std::map<std::pair<std::int64_t, std::int64_t>, std::int64_t> cross_node;
    auto leg_id = [&](std::size_t p, std::size_t l) { return std::int64_t(p) * n + std::int64_t(l); };
    std::int64_t next_node = std::int64_t(polys.size()) * n;  // vertex nodes are their leg ids
    std::vector<Stretch> kept;
    for (std::size_t pi = 0; pi < polys.size(); ++pi) {
      const Polygon& g = polys[pi];
      for (int l = 0; l < n; ++l) {
        const V a = g.v[l], b = g.v[(l + 1) % n];
        struct Cut { double t; V x; std::int64_t node; };
        std::vector<Cut> cuts;
        for (int qj : nb[pi]) {
          const Polygon& h = polys[qj];
          for (int m = 0; m < n; ++m) {
            V x;
            if (!LegCrossing(a, b, h.v[m], h.v[(m + 1) % n], x)) continue;
            const std::int64_t l1 = leg_id(pi, l), l2 = leg_id(qj, m);
            auto key = std::make_pair(std::min(l1, l2), std::max(l1, l2));
            auto it = cross_node.find(key);
            if (it == cross_node.end()) it = cross_node.emplace(key, next_node++).first;
            cuts.push_back({-VDot(x, a), x, it->second});
          }
        }
        std::sort(cuts.begin(), cuts.end(), [](const Cut& u, const Cut& w) { return u.t < w.t; });
        std::vector<V> at{a};
        std::vector<std::int64_t> nodes{leg_id(pi, l)};
        for (const Cut& c : cuts) { at.push_back(c.x); nodes.push_back(c.node); }
        at.push_back(b);
        nodes.push_back(leg_id(pi, (l + 1) % n));
        for (std::size_t s = 0; s + 1 < at.size(); ++s) {
          const V mid = Unit(Add(at[s], at[s + 1]));
          bool covered = false;
          for (int qj : nb[pi])
            if (Inside(polys[qj], mid)) { covered = true; break; }
          if (covered) continue;
          kept.push_back({nodes[s], nodes[s + 1], {at[s]}, g.attr, false});
        }
      }
    }
    if (kept.empty()) {
      // Every leg lies inside another circle: together they cover the earth.
      if (mode == 1) return finish(WriteWorldRset(idx, target, params, *ctx.object));
      WriteNullRset(idx, target, params, *ctx.object);
      return finish(DERIVE_EMPTY);
    }
    std::map<std::int64_t, std::size_t> leaving;
    for (std::size_t s = 0; s < kept.size(); ++s) leaving.emplace(kept[s].from, s);
    std::vector<cells::PointNode> out;
    std::uint64_t ring_id = 0;
    for (std::size_t s0 = 0; s0 < kept.size(); ++s0) {
      if (kept[s0].used) continue;
      std::size_t s = s0;
      std::size_t steps = 0;
      while (!kept[s].used) {
        kept[s].used = true;
        for (const V& p : kept[s].pts) out.push_back({p, kept[s].attr});
        auto it = leaving.find(kept[s].to);
        if (it == leaving.end()) return finish(16);
        s = it->second;
        if (++steps > kept.size()) return finish(18);
      }
      out.push_back(cells::Mark(++ring_id));
    }
    cells::Object near;
    std::vector<std::uint8_t> near_heap;
    if (mode == 1) {
      const int st = cells::BuildRset(idx, target, params, out, *ctx.object);
      return finish(st);
    }
    cells::SectionTarget tmp{nullptr, &near_heap};
    const int st = cells::BuildRset(idx, tmp, params, out, near);
    if (st > 0) return finish(st);
    return finish(q7_RsetComplement(ctx, &near));
  } catch (const std::bad_alloc&) {
    return finish(DERIVE_NO_WORKSPACE);
  }
}

}  // namespace ops
