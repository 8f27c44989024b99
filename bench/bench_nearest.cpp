// Nearest and farthest queries beside their peers, in the same run:
//   - nearest point of 10 000 and 260 000 random points, 200 000 queries:
//     q7_PsetNearest, S2ClosestPointQuery (S2PointIndex, max_results 1) and a
//     nanoflann 3-D KD-tree (leaf size 10) when it is installed;
//   - the 100 nearest within 100 km of 260 000 points: q7_PsetOrdered and
//     S2ClosestPointQuery (max_results 100, max_distance);
//   - nearest point on the land 10m rings as lines and as a region boundary:
//     q7_LsetNearest, q7_RsetNearestBoundary and S2ClosestEdgeQuery.
// Generators and queries come from splitmix64 (generators seed 2, queries
// seed 1): z = 2u - 1, phi = 2 pi v, u and v = next() >> 11 times 2^-53.
// Points are stored as doubles (resolution "d") so that every side sees the
// same positions; each figure is the best of three rounds.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s1chord_angle.h>
#include <s2/s2closest_edge_query.h>
#include <s2/s2closest_point_query.h>
#include <s2/s2debug.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2lax_polyline_shape.h>
#include <s2/s2point_index.h>

#ifdef OMBREL_HAVE_NANOFLANN
#include <nanoflann.hpp>
#endif

#include "lib/cells/cell_index.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/coord_text.h"
#include "lib/cells/index_file.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/ellipsoid.h"
#include "lib/ops/nearest.h"
#include "bench/bench_points.h"

using geodesy::DirectionCosines;
using namespace benchpoints;

namespace {

#ifdef OMBREL_HAVE_NANOFLANN
struct Cloud {
  const std::vector<DirectionCosines>* p;
  std::size_t kdtree_get_point_count() const { return p->size(); }
  double kdtree_get_pt(std::size_t i, std::size_t d) const {
    const DirectionCosines& q = (*p)[i];
    return d == 0 ? q.x : d == 1 ? q.y : q.z;
  }
  template <class B>
  bool kdtree_get_bbox(B&) const { return false; }
};
using KdTree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Cloud>, Cloud, 3>;
#endif

volatile double g_sink = 0;


void PointBench(cells::CellIndex& idx, std::size_t n, const std::vector<DirectionCosines>& queries) {
  const std::vector<DirectionCosines> gen = Points(2, n);
  std::vector<cells::PointNode> nodes;
  for (std::size_t i = 0; i < gen.size(); ++i) nodes.push_back({gen[i], i});
  BenchObject h;
  if (!BuildObject(idx, cells::kPset, nodes, h)) {
    std::printf("Pset build failed\n");
    return;
  }
  ops::NearestCache cache;
  ops::PrepareNearest(idx, h.obj, cache);
  long visited = 0;
  const double ours = BestNs(3, queries.size(), [&] {
    ops::NearestHit hit;
    visited = 0;
    for (const auto& q : queries) {
      ops::q7_PsetNearest(idx, cache, q, 1, &hit);
      g_sink = g_sink + hit.chord2;
      visited += cache.visited;
    }
  });
  S2PointIndex<int> s2i;
  for (std::size_t i = 0; i < cache.points.size(); ++i) {
    const DirectionCosines& p = cache.points[i];
    s2i.Add(S2Point(p.x, p.y, p.z), static_cast<int>(i));
  }
  S2ClosestPointQuery<int> s2q(&s2i);
  s2q.mutable_options()->set_max_results(1);
  const double s2 = BestNs(3, queries.size(), [&] {
    for (const auto& q : queries) {
      S2ClosestPointQuery<int>::PointTarget t(S2Point(q.x, q.y, q.z));
      const auto r = s2q.FindClosestPoint(&t);
      g_sink = g_sink + r.distance().length2();
    }
  });
  // Agreement: the same point as S2 (distance equal to 1e-15 in squared chord).
  long same = 0;
  for (const auto& q : queries) {
    ops::NearestHit hit;
    ops::q7_PsetNearest(idx, cache, q, 1, &hit);
    S2ClosestPointQuery<int>::PointTarget t(S2Point(q.x, q.y, q.z));
    const auto r = s2q.FindClosestPoint(&t);
    const DirectionCosines& sp = cache.points[r.data()];
    if (std::fabs(geodesy::ChordSq(q, sp) - hit.chord2) <= 1e-15) ++same;
  }
  std::printf("nearest of %zu points: ours %.0f ns/query (%.1f cells), S2ClosestPointQuery %.0f ns (ratio %.2f)", n,
              ours, static_cast<double>(visited) / static_cast<double>(queries.size()), s2, ours / s2);
#ifdef OMBREL_HAVE_NANOFLANN
  Cloud cloud{&cache.points};
  KdTree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
  tree.buildIndex();
  const double kd = BestNs(3, queries.size(), [&] {
    for (const auto& q : queries) {
      const double qp[3] = {q.x, q.y, q.z};
      unsigned i = 0;
      double d2 = 0;
      tree.knnSearch(qp, 1, &i, &d2);
      g_sink = g_sink + d2;
    }
  });
  std::printf(", nanoflann %.0f ns (ratio %.2f)", kd, ours / kd);
#endif
  std::printf("; same point as S2: %ld of %zu\n", same, queries.size());

  if (n >= 200000) {
    // The ordered list, 100 within 100 km.
    const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
    std::vector<std::uint8_t> mem(128000);
    platform::Workspace ws;
    platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size()));
    std::int32_t found[ops::ORDERED_MAX][2];
    double d2[ops::ORDERED_MAX];
    const std::size_t nq = queries.size() / 10;
    const double ord = BestNs(3, nq, [&] {
      for (std::size_t i = 0; i < nq; ++i) {
        const int k = ops::q7_PsetOrdered(idx, &ws, cache, &e, queries[i], 100000.0, 100, found, d2);
        g_sink = g_sink + k;
      }
    });
    S2ClosestPointQuery<int> s2o(&s2i);
    s2o.mutable_options()->set_max_results(100);
    s2o.mutable_options()->set_max_distance(S1ChordAngle(S1Angle::Radians(100000.0 / geodesy::MeanRadius(e))));
    const double s2ord = BestNs(3, nq, [&] {
      for (std::size_t i = 0; i < nq; ++i) {
        const DirectionCosines& q = queries[i];
        S2ClosestPointQuery<int>::PointTarget t(S2Point(q.x, q.y, q.z));
        g_sink = g_sink + static_cast<double>(s2o.FindClosestPoints(&t).size());
      }
    });
    std::printf("ordered 100 within 100 km of %zu points: ours %.0f ns/query, S2 %.0f ns (ratio %.2f)\n", n, ord,
                s2ord, ord / s2ord);
  }
}

void LineBench(cells::CellIndex& idx, const std::vector<DirectionCosines>& queries) {
  std::vector<cells::PointNode> nodes;
  std::FILE* f = std::fopen((BinDir() + "land10m.rgn").c_str(), "rb");
  if (!f) {
    std::printf("land10m.rgn not found\n");
    return;
  }
  cells::CoordReadOptions o;
  o.kind = 2;
  o.res = 10;
  cells::ReadCoordText(f, o, nodes);
  std::fclose(f);
  BenchObject lines, region;
  if (!BuildObject(idx, cells::kLset, nodes, lines) || !BuildObject(idx, cells::kRset, nodes, region)) {
    std::printf("land 10m build failed\n");
    return;
  }
  ops::NearestCache lc, rc;
  ops::PrepareNearest(idx, lines.obj, lc);
  ops::PrepareNearest(idx, region.obj, rc);
  std::vector<std::uint8_t> mem(128000);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, mem.data(), static_cast<std::int64_t>(mem.size()));
  const std::size_t nq = std::min<std::size_t>(queries.size(), 20000);
  const double ol = BestNs(3, nq, [&] {
    ops::NearestHit hit;
    for (std::size_t i = 0; i < nq; ++i) {
      ops::q7_LsetNearest(idx, lc, queries[i], 1, &hit);
      g_sink = g_sink + hit.chord2;
    }
  });
  const double orr = BestNs(3, nq, [&] {
    ops::NearestHit hit;
    for (std::size_t i = 0; i < nq; ++i) {
      ops::q7_RsetNearestBoundary(idx, &ws, rc, queries[i], &hit);
      g_sink = g_sink + hit.chord2;
    }
  });
  // S2 on the same restored vertices: the lines as polylines, the rings as
  // a lax polygon's loops.
  std::vector<cells::PointNode> lv, rv;
  cells::CollectVertices(idx, lines.obj, lv);
  cells::CollectVertices(idx, region.obj, rv);
  MutableS2ShapeIndex s2l, s2r;
  std::vector<S2Point> run;
  std::vector<std::vector<S2Point>> loops;
  for (const auto& n : lv) {
    if (cells::IsMark(n)) {
      if (!run.empty()) s2l.Add(std::make_unique<S2LaxPolylineShape>(run));
      run.clear();
    } else {
      run.push_back(S2Point(n.p.x, n.p.y, n.p.z));
    }
  }
  for (const auto& n : rv) {
    if (cells::IsMark(n)) {
      if (run.size() >= 3) loops.push_back(run);
      run.clear();
    } else {
      run.push_back(S2Point(n.p.x, n.p.y, n.p.z));
    }
  }
  s2r.Add(std::make_unique<S2LaxPolygonShape>(loops));
  s2l.ForceBuild();
  s2r.ForceBuild();
  auto edge_bench = [&](MutableS2ShapeIndex& ix) {
    S2ClosestEdgeQuery q(&ix);
    q.mutable_options()->set_include_interiors(false);
    return BestNs(3, nq, [&] {
      for (std::size_t i = 0; i < nq; ++i) {
        const DirectionCosines& p = queries[i];
        S2ClosestEdgeQuery::PointTarget t(S2Point(p.x, p.y, p.z));
        g_sink = g_sink + q.FindClosestEdge(&t).distance().length2();
      }
    });
  };
  const double sl = edge_bench(s2l), sr = edge_bench(s2r);
  std::printf("nearest on land 10m lines: ours %.0f ns/query, S2ClosestEdgeQuery %.0f ns (ratio %.2f)\n", ol, sl,
              ol / sl);
  std::printf("nearest on land 10m boundary: ours %.0f ns/query, S2ClosestEdgeQuery %.0f ns (ratio %.2f)\n", orr, sr,
              orr / sr);
}

}  // namespace

int main() {
  FLAGS_s2debug = false;
  cells::CellIndex idx;
  if (!LoadIsotype(idx)) return 1;
  std::printf("index: %d cells\n", idx.cell_count);
  const std::vector<DirectionCosines> queries = Points(1, 200000);
  const double locate = BestNs(3, queries.size(), [&] {
    for (const auto& q : queries) g_sink = g_sink + cells::Locate(idx, q);
  });
  std::printf("cell location alone: %.0f ns/query\n", locate);
  PointBench(idx, 10000, queries);
  if (std::getenv("BENCH_POINTS_ONLY")) return 0;
  PointBench(idx, 260000, queries);
  LineBench(idx, queries);
  cells::ReleaseIndex(idx);
  return 0;
}
