// Clipping lines by regions and generalising lines and rings: hand-made
// cases, random great-circle lines and the shipped coast against S2's
// IntersectWithPolyline and containment, and Generalize against a
// Douglas-Peucker written here.
#include <gtest/gtest.h>

#include <s2/s2closest_edge_query.h>
#include <s2/s2debug.h>
#include <s2/s2edge_distances.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2loop.h>
#include <s2/s2polygon.h>
#include <s2/s2polyline.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "lib/cells/coord_text.h"
#include "lib/ops/generalize.h"
#include "lib/ops/lset_in_rset.h"
#include "lib/ops/rset_point_test.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using geodesy::DirectionCosines;
using Line = std::vector<DirectionCosines>;

DirectionCosines Unit(double x, double y, double z) {
  const double n = std::sqrt(x * x + y * y + z * z);
  return {x / n, y / n, z / n};
}

double Angle(const DirectionCosines& a, const DirectionCosines& b) {
  const DirectionCosines c = geodesy::Cross(a, b);
  return std::atan2(std::sqrt(geodesy::Dot(c, c)), geodesy::Dot(a, b));
}

double LengthOf(const std::vector<Line>& lines) {
  double s = 0.0;
  for (const Line& l : lines)
    for (std::size_t i = 0; i + 1 < l.size(); ++i) s += Angle(l[i], l[i + 1]);
  return s;
}

struct Output {
  int status = 0;
  std::vector<Line> lines;
  std::vector<std::uint32_t> ids;
  std::vector<std::vector<std::uint64_t>> attrs;
};

class Clip : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    FLAGS_s2debug = false;
    idx = new cells::CellIndex;
    ASSERT_TRUE(LoadIndex("isotype.vix", *idx));
  }
  static void TearDownTestSuite() {
    cells::ReleaseIndex(*idx);
    delete idx;
    idx = nullptr;
  }
  static cells::CellIndex* idx;

  HeapObject Make(int kind, const std::vector<Line>& items, int res = 10,
                  const std::vector<std::vector<std::uint64_t>>* attrs = nullptr) {
    std::vector<cells::PointNode> nodes;
    for (std::size_t k = 0; k < items.size(); ++k) {
      for (std::size_t i = 0; i < items[k].size(); ++i)
        nodes.push_back({items[k][i], attrs ? (*attrs)[k][i] : 0});
      nodes.push_back(cells::Mark(100 + k));
    }
    HeapObject h;
    Build(*idx, kind, nodes, h, res);
    return h;
  }
  static Output Read(const cells::Object& obj, int status) {
    Output o;
    o.status = status;
    if (status != 0) return o;
    std::vector<cells::PointNode> v;
    cells::CollectVertices(*idx, obj, v);
    Line l;
    std::vector<std::uint64_t> a;
    for (std::size_t i = 0; i + 1 < v.size(); ++i) {
      if (cells::IsMark(v[i])) {
        o.lines.push_back(l);
        o.attrs.push_back(a);
        o.ids.push_back(static_cast<std::uint32_t>(v[i].attribute));
        l.clear();
        a.clear();
        continue;
      }
      l.push_back(v[i].p);
      a.push_back(v[i].attribute);
    }
    return o;
  }
  Output Run(int mode, const HeapObject& region, const HeapObject& lines, int indicator = 0, int res = 10) {
    std::vector<std::uint8_t> memory(64 << 20);
    platform::Workspace ws;
    platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
    ops::DeriveContext c;
    c.index = idx;
    c.output = &ws;
    cells::Object out;
    c.object = &out;
    c.created = 77;
    c.res = res;
    const int status = ops::q7_LsetInRset(c, mode, 0.0, indicator, region.obj, lines.obj);
    return Read(out, status);
  }
};
cells::CellIndex* Clip::idx = nullptr;

// The box 0.3..10.3 N, 0.4..10.4 E (off the equator and meridian 0, where
// many cell edges of the index run).
std::vector<Line> Box() {
  return {{LatLonDeg(0.3, 0.4), LatLonDeg(0.3, 10.4), LatLonDeg(10.3, 10.4), LatLonDeg(10.3, 0.4)}};
}

// A world region made by hand: no boundary, every cell interior.
struct World {
  std::uint8_t env[16];
  std::uint8_t structure[8] = {};
  cells::Object obj;
  explicit World(std::int32_t cells_count) {
    const std::int32_t words[4] = {1, 3, 0, -(cells_count - 1)};
    std::memcpy(env, words, sizeof words);
    obj.kind = cells::kRset;
    obj.res = 10;
    obj.env = env;
    obj.env_size = sizeof env;
    obj.structure = structure;
    obj.struct_size = sizeof structure;
    obj.kfield[0] = 0;
    obj.kfield[1] = 4;
  }
};

TEST_F(Clip, RegionsWithoutBoundary) {
  HeapObject lines = Make(cells::kLset, {{LatLonDeg(5, 5), LatLonDeg(20, 40)}, {LatLonDeg(-30, 100), LatLonDeg(-35, 120)}});
  HeapObject null_region = Make(cells::kRset, {});
  World world(idx->cell_count);
  HeapObject world_h;
  world_h.obj = world.obj;
  ASSERT_TRUE(ops::RsetIsWorld(world.obj, idx->cell_count));
  const Output in_world = Run(ops::CLIP_INSIDE, world_h, lines);
  ASSERT_EQ(in_world.status, 0);
  ASSERT_EQ(in_world.lines.size(), 2u);
  EXPECT_EQ(in_world.ids, (std::vector<std::uint32_t>{100, 101}));
  EXPECT_DOUBLE_EQ(LengthOf(in_world.lines), LengthOf(Read(lines.obj, 0).lines));
  EXPECT_EQ(Run(ops::CLIP_OUTSIDE, null_region, lines).lines.size(), 2u);
  EXPECT_EQ(Run(ops::CLIP_INSIDE, null_region, lines).status, -1);
  EXPECT_EQ(Run(ops::CLIP_OUTSIDE, world_h, lines).status, -1);
}

TEST_F(Clip, HandMadeLines) {
  HeapObject box = Make(cells::kRset, Box());
  // Wholly in interior cells.
  HeapObject inner = Make(cells::kLset, {{LatLonDeg(4, 4), LatLonDeg(5, 6)}});
  EXPECT_EQ(Run(ops::CLIP_INSIDE, box, inner).lines.size(), 1u);
  EXPECT_EQ(Run(ops::CLIP_OUTSIDE, box, inner).status, -1);
  // Across the box with both vertices far outside: the legs cross boundary
  // cells that hold no vertex of the line.
  const Line across = {LatLonDeg(5.3, -20), LatLonDeg(5.3, 30)};
  HeapObject across_h = Make(cells::kLset, {across});
  const Output in = Run(ops::CLIP_INSIDE, box, across_h), out = Run(ops::CLIP_OUTSIDE, box, across_h);
  ASSERT_EQ(in.lines.size(), 1u);
  ASSERT_EQ(out.lines.size(), 2u);
  EXPECT_EQ(in.ids[0], 100u);
  EXPECT_EQ(out.ids, (std::vector<std::uint32_t>{100, 100}));
  EXPECT_NEAR(LengthOf(in.lines) + LengthOf(out.lines), Angle(across[0], across[1]), 1e-12);
  // The cut points lie on the box's western and eastern legs.
  const S2Point w0(LatLonDeg(10.3, 0.4).x, LatLonDeg(10.3, 0.4).y, LatLonDeg(10.3, 0.4).z);
  const S2Point w1(LatLonDeg(0.3, 0.4).x, LatLonDeg(0.3, 0.4).y, LatLonDeg(0.3, 0.4).z);
  const DirectionCosines c0 = in.lines[0].front();
  EXPECT_LT(S2::GetDistance(S2Point(c0.x, c0.y, c0.z), w0, w1).radians(), 1e-12);
  // Through a corner of the box: in at one corner, out at the opposite one.
  HeapObject diagonal = Make(cells::kLset, {{LatLonDeg(-2, 0.4), LatLonDeg(0.3, 0.4), LatLonDeg(10.3, 10.4), LatLonDeg(12, 12)}});
  const Output d_in = Run(ops::CLIP_INSIDE, box, diagonal);
  ASSERT_EQ(d_in.lines.size(), 1u);
  EXPECT_NEAR(LengthOf(d_in.lines), Angle(LatLonDeg(0.3, 0.4), LatLonDeg(10.3, 10.4)), 1e-12);
  // Touching the boundary at a corner only: nothing inside; outside whole.
  HeapObject touch = Make(cells::kLset, {{LatLonDeg(-3, -2), LatLonDeg(0.3, 0.4), LatLonDeg(-3, 3)}});
  EXPECT_EQ(Run(ops::CLIP_INSIDE, box, touch).status, -1);
  const Output t_out = Run(ops::CLIP_OUTSIDE, box, touch);
  ASSERT_EQ(t_out.lines.size(), 1u);
  EXPECT_EQ(t_out.lines[0].size(), 3u);
}

TEST_F(Clip, LineAlongTheBoundaryAndTheIndicator) {
  HeapObject box = Make(cells::kRset, Box());
  // Along the eastern leg, corner to corner, and a little beyond.
  HeapObject along = Make(cells::kLset, {{LatLonDeg(0.3, 10.4), LatLonDeg(10.3, 10.4)}});
  for (int indicator : {0, 1}) {
    EXPECT_EQ(Run(ops::CLIP_INSIDE, box, along, indicator).lines.size(), 1u) << indicator;
    EXPECT_EQ(Run(ops::CLIP_OUTSIDE, box, along, indicator).lines.size(), 1u) << indicator;
  }
  EXPECT_EQ(Run(ops::CLIP_INSIDE, box, along, -1).status, -1);
  EXPECT_EQ(Run(ops::CLIP_OUTSIDE, box, along, -1).status, -1);
}

TEST_F(Clip, CutPointsTakeTheirLegsAttribute) {
  HeapObject box = Make(cells::kRset, Box());
  const std::vector<std::vector<std::uint64_t>> attrs = {{11, 22, 33}};
  HeapObject lines = Make(cells::kLset, {{LatLonDeg(5, -5), LatLonDeg(5, 5), LatLonDeg(5, 15)}}, 11, &attrs);
  const Output in = Run(ops::CLIP_INSIDE, box, lines, 0, 11);
  ASSERT_EQ(in.lines.size(), 1u);
  ASSERT_EQ(in.attrs[0].size(), 3u);
  EXPECT_EQ(in.attrs[0], (std::vector<std::uint64_t>{11, 22, 22}));
}

// ---- S2 as the oracle

struct S2Land {
  HeapObject region;
  S2Polygon polygon;
  std::unique_ptr<MutableS2ShapeIndex> index;
};

std::vector<std::vector<DirectionCosines>> Rings(cells::CellIndex& idx, const cells::Object& obj) {
  return ItemVertices(idx, obj);
}

TEST_F(Clip, RandomLinesAndShiftedCoastAgreeWithS2) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  S2Land land;
  ASSERT_TRUE(LoadLand(*idx, "land50m.rgn", land.region));
  std::vector<std::unique_ptr<S2Loop>> loops;
  for (const Line& r : Rings(*idx, land.region.obj)) {
    std::vector<S2Point> pts;
    for (const auto& p : r) pts.push_back(S2Point(p.x, p.y, p.z));
    auto loop = std::make_unique<S2Loop>(pts, S2Debug::DISABLE);
    loop->Normalize();
    loops.push_back(std::move(loop));
  }
  land.polygon.set_s2debug_override(S2Debug::DISABLE);
  land.polygon.InitNested(std::move(loops));
  // Random lines 100 to 3000 km, some across 180 degrees and over a pole.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Line> lines;
  const int n = Sanitized() ? 60 : 300;
  for (int i = 0; i < n; ++i) {
    DirectionCosines a = RandomUnit(rng);
    if (i % 10 == 0) a = LatLonDeg(-60 + 120 * u(rng), 179.0);
    if (i % 10 == 1) a = LatLonDeg(80 + 9 * u(rng), 360 * u(rng));
    const DirectionCosines d = RandomUnit(rng);
    DirectionCosines dir = geodesy::Cross(a, d);
    dir = Unit(dir.x, dir.y, dir.z);
    if (i % 10 == 0) dir = Unit(-a.y, a.x, 0.0);  // eastwards over the date line
    const double len = (100.0 + 2900.0 * u(rng)) / 6371.0;
    const Line l = {a, Unit(std::cos(len) * a.x + std::sin(len) * dir.x, std::cos(len) * a.y + std::sin(len) * dir.y,
                            std::cos(len) * a.z + std::sin(len) * dir.z)};
    lines.push_back(l);
  }
  // The coast of land 110m moved 5 km inland (to the left of each ring).
  HeapObject coast110;
  ASSERT_TRUE(LoadLand(*idx, "land110m.rgn", coast110));
  for (Line r : Rings(*idx, coast110.obj)) {
    Line moved;
    for (std::size_t i = 0; i < r.size(); ++i) {
      const DirectionCosines& p = r[i];
      const DirectionCosines& q = r[(i + 1) % r.size()];
      DirectionCosines nrm = geodesy::Cross(p, q);
      const double l = std::sqrt(geodesy::Dot(nrm, nrm));
      if (l < 1e-12) continue;
      const double s = 5.0 / 6371.0 / l;
      moved.push_back(Unit(p.x + s * nrm.x, p.y + s * nrm.y, p.z + s * nrm.z));
    }
    if (moved.size() >= 2) {
      moved.push_back(moved.front());
      lines.push_back(moved);
    }
    if (Sanitized() && lines.size() > static_cast<std::size_t>(n) + 10) break;
  }
  HeapObject all = Make(cells::kLset, lines);
  ASSERT_EQ(all.status, 0);
  const Output in = Run(ops::CLIP_INSIDE, land.region, all), out = Run(ops::CLIP_OUTSIDE, land.region, all);
  ASSERT_EQ(in.status, 0);
  ASSERT_EQ(out.status, 0);
  // Per source line: our inside fraction against S2's, and inside + outside.
  const std::vector<Line> source = Read(all.obj, 0).lines;
  std::vector<double> ours_in(source.size(), 0.0), ours_out(source.size(), 0.0);
  for (std::size_t k = 0; k < in.lines.size(); ++k) ours_in[in.ids[k] - 100] += LengthOf({in.lines[k]});
  for (std::size_t k = 0; k < out.lines.size(); ++k) ours_out[out.ids[k] - 100] += LengthOf({out.lines[k]});
  int worst_line = -1;
  double worst = 0.0;
  for (std::size_t k = 0; k < source.size(); ++k) {
    const double total = LengthOf({source[k]});
    EXPECT_NEAR(ours_in[k] + ours_out[k], total, 1e-9 * std::max(1.0, total)) << "line " << k;
    std::vector<S2Point> pts;
    for (const auto& p : source[k]) pts.push_back(S2Point(p.x, p.y, p.z));
    S2Polyline polyline(pts, S2Debug::DISABLE);
    double s2_in = 0.0;
    for (const auto& piece : land.polygon.IntersectWithPolyline(polyline)) s2_in += piece->GetLength().radians();
    const double diff = std::fabs(ours_in[k] / total - s2_in / total);
    if (diff > worst) worst = diff, worst_line = static_cast<int>(k);
  }
  EXPECT_LT(worst, 1e-7) << "line " << worst_line << " of " << source.size();
}

// Samples every 10 km along random lines (every 1 km on demand, OMBREL_LONG),
// farther than 1 m from the coast: on an inside line exactly when S2 puts
// them on land.
TEST_F(Clip, SamplesAgreeWithS2Containment) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  HeapObject land;
  ASSERT_TRUE(LoadLand(*idx, "land50m.rgn", land));
  std::vector<std::unique_ptr<S2Loop>> loops;
  std::vector<std::vector<S2Point>> lax;
  for (const Line& r : Rings(*idx, land.obj)) {
    std::vector<S2Point> pts;
    for (const auto& p : r) pts.push_back(S2Point(p.x, p.y, p.z));
    lax.push_back(pts);
    auto loop = std::make_unique<S2Loop>(pts, S2Debug::DISABLE);
    loop->Normalize();
    loops.push_back(std::move(loop));
  }
  S2Polygon polygon;
  polygon.set_s2debug_override(S2Debug::DISABLE);
  polygon.InitNested(std::move(loops));
  MutableS2ShapeIndex coast;
  coast.Add(std::make_unique<S2LaxPolygonShape>(lax));
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Line> lines;
  for (int i = 0; i < (Sanitized() ? 20 : 100); ++i) {
    const DirectionCosines a = RandomUnit(rng), d = RandomUnit(rng);
    DirectionCosines dir = geodesy::Cross(a, d);
    dir = Unit(dir.x, dir.y, dir.z);
    const double len = (100.0 + 2900.0 * u(rng)) / 6371.0;
    lines.push_back({a, Unit(std::cos(len) * a.x + std::sin(len) * dir.x, std::cos(len) * a.y + std::sin(len) * dir.y,
                             std::cos(len) * a.z + std::sin(len) * dir.z)});
  }
  HeapObject all = Make(cells::kLset, lines);
  const Output in = Run(ops::CLIP_INSIDE, land, all);
  const Output source = Read(all.obj, 0);
  const double step = (std::getenv("OMBREL_LONG") ? 1.0 : 10.0) / 6371.0;
  long checked = 0, disagree = 0;
  S2ClosestEdgeQuery closest(&coast);
  closest.mutable_options()->set_include_interiors(false);
  for (std::size_t k = 0; k < source.lines.size(); ++k) {
    const DirectionCosines a = source.lines[k][0], b = source.lines[k][1];
    const double theta = Angle(a, b);
    for (double t = step / 2; t < theta; t += step) {
      const double s = std::sin(theta);
      const DirectionCosines p = Unit(std::sin(theta - t) / s * a.x + std::sin(t) / s * b.x,
                                      std::sin(theta - t) / s * a.y + std::sin(t) / s * b.y,
                                      std::sin(theta - t) / s * a.z + std::sin(t) / s * b.z);
      const S2Point sp(p.x, p.y, p.z);
      S2ClosestEdgeQuery::PointTarget target(sp);
      if (closest.GetDistance(&target).radians() * 6371000.0 <= 1.0) continue;
      bool on_inside = false;
      for (std::size_t m = 0; m < in.lines.size() && !on_inside; ++m) {
        if (in.ids[m] != 100 + k) continue;
        const Line& l = in.lines[m];
        for (std::size_t i = 0; i + 1 < l.size() && !on_inside; ++i)
          on_inside = S2::GetDistance(sp, S2Point(l[i].x, l[i].y, l[i].z), S2Point(l[i + 1].x, l[i + 1].y, l[i + 1].z))
                          .radians() * 6371000.0 < 0.01;
      }
      ++checked;
      disagree += on_inside != polygon.Contains(sp);
    }
  }
  EXPECT_GT(checked, 10000);
  EXPECT_EQ(disagree, 0);
}

// Land 110m as lines, clipped by land 110m: kept almost whole by both with
// indicator 0, by neither with -1.
TEST_F(Clip, CoastAlongItsOwnBoundary) {
  HeapObject land;
  ASSERT_TRUE(LoadLand(*idx, "land110m.rgn", land));
  std::vector<Line> rings = Rings(*idx, land.obj);
  for (Line& r : rings) r.push_back(r.front());
  HeapObject coast = Make(cells::kLset, rings);
  const double total = LengthOf(Read(coast.obj, 0).lines);
  for (int mode : {ops::CLIP_INSIDE, ops::CLIP_OUTSIDE}) {
    const Output kept = Run(mode, land, coast, 0);
    EXPECT_GE(LengthOf(kept.lines) / total, 0.999) << mode;
    const Output none = Run(mode, land, coast, -1);
    EXPECT_LE(none.status == 0 ? LengthOf(none.lines) / total : 0.0, 0.001) << mode;
  }
}

// ---- Generalize

// An independent Douglas-Peucker: distances as angles, the foot tested by
// the angles to the ends.
void Reference(const Line& w, double tol_angle, std::vector<bool>& keep) {
  keep.assign(w.size(), false);
  if (w.empty()) return;
  keep.front() = keep.back() = true;
  std::function<void(int, int)> rec = [&](int lo, int hi) {
    if (hi - lo < 2) return;
    const DirectionCosines a = w[lo], b = w[hi];
    DirectionCosines n = geodesy::Cross(a, b);
    const double nl = std::sqrt(geodesy::Dot(n, n));
    double best = -1;
    int at = -1;
    for (int i = lo + 1; i < hi; ++i) {
      double d;
      if (nl < 1e-300) {
        d = Angle(a, w[i]);
      } else {
        const DirectionCosines nn{n.x / nl, n.y / nl, n.z / nl};
        const double off = std::asin(std::min(1.0, std::fabs(geodesy::Dot(nn, w[i]))));
        const DirectionCosines foot = Unit(w[i].x - geodesy::Dot(nn, w[i]) * nn.x, w[i].y - geodesy::Dot(nn, w[i]) * nn.y,
                                           w[i].z - geodesy::Dot(nn, w[i]) * nn.z);
        const bool within = Angle(a, foot) + Angle(foot, b) <= Angle(a, b) + 1e-12;
        d = within ? off : Angle(a, w[i]);
      }
      if (d > best) best = d, at = i;
    }
    if (best <= tol_angle) return;
    keep[at] = true;
    rec(lo, at);
    rec(at, hi);
  };
  rec(0, static_cast<int>(w.size()) - 1);
}

Output Generalised(const HeapObject& src, double width_m, int res = 10) {
  std::vector<std::uint8_t> memory(64 << 20);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, memory.data(), static_cast<std::int64_t>(memory.size()));
  ops::DeriveContext c;
  c.index = Clip::idx;
  c.output = &ws;
  cells::Object out;
  c.object = &out;
  c.created = 5;
  c.res = res;
  ops::GeneralizeCounts counts;
  geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const int status = ops::q7_Generalize(c, src.obj, ops::GeneralizeTolerance(width_m, e), &counts);
  Output o = Clip::Read(out, status);
  o.status = status;
  return o;
}

TEST_F(Clip, GeneralizeAgainstAnIndependentDouglasPeucker) {
  const geodesy::Ellipsoid e = geodesy::MakeEllipsoid();
  const double R = (2 * e.a + e.b) / 3;
  for (const char* file : {"land110m.rgn", "land50m.rgn"}) {
    HeapObject land;
    ASSERT_TRUE(LoadLand(*idx, file, land));
    const std::vector<Line> source = Rings(*idx, land.obj);
    for (double km : {1.0, 10.0, 50.0}) {
      const Output g = Generalised(land, km * 1000);
      ASSERT_EQ(g.status, 0);
      long expected = 0;
      std::vector<bool> keep;
      for (const Line& r : source) {
        long ring_kept = 0;
        for (std::size_t w = 0; w < r.size(); w += 32) {
          const Line win(r.begin() + w, r.begin() + std::min(r.size(), w + 32));
          Reference(win, km * 1000 / R, keep);
          ring_kept += std::count(keep.begin(), keep.end(), true);
        }
        if (ring_kept >= 3) expected += ring_kept;
      }
      long got = 0;
      for (const Line& l : g.lines) got += static_cast<long>(l.size());
      EXPECT_NEAR(static_cast<double>(got), static_cast<double>(expected), 0.005 * expected) << file << " " << km;
      // Every output vertex is a source vertex, and every source vertex lies
      // within the width (and 1 cm) of its ring's output.
      std::size_t gi = 0;
      for (std::size_t ri = 0; ri < source.size() && gi < g.lines.size(); ++ri) {
        const Line& r = source[ri];
        const Line& o = g.lines[gi];
        std::vector<std::size_t> at;  // where each output vertex is in the source ring
        std::size_t j = 0;
        for (const auto& p : o) {
          while (j < r.size() && geodesy::ChordSq(r[j], p) > 1e-24) ++j;
          if (j == r.size()) break;
          at.push_back(j);
        }
        if (at.size() != o.size()) continue;  // this ring was dropped; the output ring is a later one's
        ++gi;
        // Each source vertex against the output leg that spans it.
        for (std::size_t k = 0; k < at.size(); ++k) {
          const auto& a = o[k];
          const auto& b = o[(k + 1) % o.size()];
          const std::size_t end = k + 1 < at.size() ? at[k + 1] : r.size();
          for (std::size_t i = at[k]; i < end; ++i) {
            const S2Point sp(r[i].x, r[i].y, r[i].z);
            const double d = S2::GetDistance(sp, S2Point(a.x, a.y, a.z), S2Point(b.x, b.y, b.z)).radians() * R;
            ASSERT_LE(d, km * 1000 + 0.01) << file << " ring " << ri << " vertex " << i;
          }
        }
      }
      EXPECT_EQ(gi, g.lines.size()) << file << " " << km;
    }
  }
}

TEST_F(Clip, GeneralizeEdgeCases) {
  // A width below every offset keeps every vertex of land 110m, ring by ring.
  HeapObject land;
  ASSERT_TRUE(LoadLand(*idx, "land110m.rgn", land));
  const Output same = Generalised(land, 0.001);
  const std::vector<Line> source = Rings(*idx, land.obj);
  ASSERT_EQ(same.lines.size(), source.size());
  for (std::size_t r = 0; r < source.size(); ++r) {
    ASSERT_EQ(same.lines[r].size(), source[r].size());
    for (std::size_t i = 0; i < source[r].size(); ++i) ASSERT_LE(geodesy::ChordSq(same.lines[r][i], source[r][i]), 1e-24);
  }
  // 100 collinear vertices along a meridian: the ends of the four windows.
  Line straight;
  for (int i = 0; i < 100; ++i) straight.push_back(LatLonDeg(-20 + 0.3 * i, 33.3));
  HeapObject line = Make(cells::kLset, {straight});
  const Output eight = Generalised(line, 1000);
  ASSERT_EQ(eight.lines.size(), 1u);
  EXPECT_EQ(eight.lines[0].size(), 8u);
  // Windows of 31, 32, 33 and 65 vertices (zigzags that keep every vertex
  // at a small width, only the window ends at a large one).
  for (int n : {31, 32, 33, 65}) {
    Line zig;
    for (int i = 0; i < n; ++i) zig.push_back(LatLonDeg(40 + (i % 2) * 0.01, 10 + 0.05 * i));
    HeapObject z = Make(cells::kLset, {zig});
    EXPECT_EQ(Generalised(z, 10).lines[0].size(), static_cast<std::size_t>(n));
    const std::size_t ends = 2 * ((n + 31) / 32) - (n % 32 == 1 ? 1 : 0);
    EXPECT_EQ(Generalised(z, 50000).lines[0].size(), ends) << n;
  }
  // A ring reduced below three vertices is dropped; the other stays.
  HeapObject rings = Make(cells::kRset, {{LatLonDeg(50, 50), LatLonDeg(50.001, 50.0005), LatLonDeg(50, 50.001)},
                                         {LatLonDeg(-10, 10), LatLonDeg(-10, 20), LatLonDeg(0, 15)}});
  const Output dropped = Generalised(rings, 5000);
  ASSERT_EQ(dropped.status, 0);
  EXPECT_EQ(dropped.lines.size(), 1u);
  // An empty source.
  HeapObject empty = Make(cells::kLset, {});
  EXPECT_EQ(Generalised(empty, 1000).status, 11);
}

}  // namespace
