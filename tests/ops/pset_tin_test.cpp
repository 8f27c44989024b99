// The TIN Pset (q7_PsetTin) and the surface value over it: small hand-made
// sets first (one cell, three points, sparse cells, bad heights, the
// neighbour triples, a full output arena), then random sets checked for
// their structure, and the oracle of heights linear in the unit vector.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "lib/cells/cell_locate.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/tangent_frame.h"
#include "lib/ops/pset_tin.h"
#include "lib/ops/q2mtin.h"
#include "lib/ops/surface.h"
#include "tests/ops/ops_test_util.h"

namespace {

using cells::Load;
using geodesy::DirectionCosines;
using ops::testing::HeapObject;

std::uint64_t Bits(float z) {
  std::uint32_t b;
  std::memcpy(&b, &z, 4);
  return b;
}

DirectionCosines Unit(double x, double y, double z) {
  const double n = std::sqrt(x * x + y * y + z * z);
  return {x / n, y / n, z / n};
}

// A point at plane position (u, v) about a cell's centre.
DirectionCosines About(const cells::CellIndex& idx, std::int32_t cell, double u, double v) {
  return geodesy::LiftFromFrame(geodesy::BuildTangentFrame(idx.cells[cell]->centre), u, v);
}

class PsetTin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    idx_ = new cells::CellIndex;
    if (!ops::testing::LoadIndex("isotype.vix", *idx_)) {
      delete idx_;
      idx_ = nullptr;
    }
  }
  static void TearDownTestSuite() {
    if (idx_) cells::ReleaseIndex(*idx_);
    delete idx_;
    idx_ = nullptr;
  }
  void SetUp() override {
    if (!idx_) GTEST_SKIP() << "isotype.vix not found (OMBREL_BIN)";
  }

  // Builds the source Pset of the points with their heights, at res.
  void Source(const std::vector<DirectionCosines>& p, const std::vector<float>& z, int res = 9) {
    std::vector<cells::PointNode> nodes;
    for (std::size_t i = 0; i < p.size(); ++i) nodes.push_back({p[i], Bits(z[i])});
    src_ = HeapObject();
    ops::testing::Build(*idx_, cells::kPset, nodes, src_, res);
  }

  // Runs the TIN into an output arena of `bytes`.
  int Run(bool neighbours, std::size_t bytes = std::size_t{64} << 20, int res = 9) {
    mem_.assign(bytes / 8 + 1, 0);
    platform::WorkspaceInit(&arena_, reinterpret_cast<std::uint8_t*>(mem_.data()),
                            static_cast<std::int64_t>(bytes));
    ops::DeriveContext ctx;
    ctx.index = idx_;
    ctx.output = &arena_;
    ctx.object = &out_;
    ctx.created = 77;
    ctx.res = res;
    return ops::q7_PsetTin(ctx, src_.obj, neighbours);
  }

  cells::TinCell CellAt(std::int64_t i) const {
    return cells::LoadTinCell(out_.structure + cells::PsetCellArrayOffset(out_) + i * cells::kTinCellSize);
  }
  // Stored point k of a cell: (u, v) and height.
  void PointOf(const cells::TinCell& t, int k, double* u, double* v, float* z) const {
    const std::uint8_t* r = out_.coords + t.point_offset + 12 * k;
    *u = Load<float>(r);
    *v = Load<float>(r + 4);
    *z = ops::TinHeightOf(Load<std::uint32_t>(r + 8));
  }
  int Vertex(const cells::TinCell& t, int tri, int j) const {
    return Load<std::int32_t>(out_.coords + t.triangle_offset + 12 * tri + 4 * j);
  }
  int Neighbour(const cells::TinCell& t, int tri, int j) const {
    return Load<std::int32_t>(out_.coords + t.neighbour_offset + 12 * tri + 4 * j);
  }

  // Structure every TIN Pset must have: valid, the header totals, counter-
  // clockwise triangles, neighbour triples that agree with the triangles,
  // and every own point a triangle vertex in a cell with triangles (unless
  // it repeats another).
  void CheckStructure(bool neighbours) {
    ASSERT_TRUE(cells::ObjectValid(out_, idx_->cell_count));
    EXPECT_EQ(out_.kind, cells::kTinPset);
    EXPECT_EQ(out_.res, 9);
    std::int64_t own = 0, tris = 0, nbs = 0;
    for (std::int64_t i = 0; i < cells::PsetCellCount(out_); ++i) {
      const cells::TinCell t = CellAt(i);
      own += t.cptnb;
      tris += t.triangle_count;
      nbs += t.neighbour_count;
      EXPECT_EQ(t.neighbour_count, neighbours ? t.triangle_count : 0);
      std::vector<bool> used(t.point_count, false);
      for (int a = 0; a < t.triangle_count; ++a) {
        double u[3], v[3];
        float z;
        for (int j = 0; j < 3; ++j) {
          PointOf(t, Vertex(t, a, j), &u[j], &v[j], &z);
          used[Vertex(t, a, j)] = true;
        }
        EXPECT_GT((u[1] - u[0]) * (v[2] - v[0]) - (v[1] - v[0]) * (u[2] - u[0]), 0.0)
            << "cell " << t.cell << " triangle " << a;
        for (int j = 0; neighbours && j < 3; ++j) {
          const int b = Neighbour(t, a, j);
          if (b < 0) continue;
          // b holds the same edge in the opposite direction, and a across it.
          const int v0 = Vertex(t, a, j), v1 = Vertex(t, a, (j + 1) % 3);
          bool found = false;
          for (int k = 0; k < 3; ++k)
            found |= Vertex(t, b, k) == v1 && Vertex(t, b, (k + 1) % 3) == v0 && Neighbour(t, b, k) == a;
          EXPECT_TRUE(found) << "cell " << t.cell << " triangles " << a << " " << b;
        }
      }
      // Points past the own ones are there only because triangles use them.
      for (int k = t.cptnb; k < t.point_count; ++k) EXPECT_TRUE(used[k]) << "cell " << t.cell;
      if (t.triangle_count > 0) {
        for (int k = 0; k < t.cptnb; ++k) {
          if (used[k]) continue;
          double u0, v0, u1, v1;
          float z;
          PointOf(t, k, &u0, &v0, &z);
          bool repeat = false;
          for (int m = 0; m < t.point_count && !repeat; ++m) {
            if (m == k || !used[m]) continue;
            PointOf(t, m, &u1, &v1, &z);
            repeat = (u0 - u1) * (u0 - u1) + (v0 - v1) * (v0 - v1) < 1e-11;
          }
          EXPECT_TRUE(repeat) << "own point " << k << " of cell " << t.cell << " in no triangle";
        }
      }
    }
    EXPECT_EQ(out_.kfield[3], own);
    EXPECT_EQ(out_.kfield[4], tris);
    EXPECT_EQ(out_.kfield[5], nbs);
    EXPECT_EQ(cells::VertexCount(out_), own);
  }

  static cells::CellIndex* idx_;
  HeapObject src_;
  std::vector<std::uint64_t> mem_;
  platform::Workspace arena_{};
  cells::Object out_;
};
cells::CellIndex* PsetTin::idx_ = nullptr;

TEST_F(PsetTin, EmptyBadResolutionAndNoValueHeights) {
  Source({}, {});
  EXPECT_EQ(Run(false), ops::DERIVE_EMPTY);
  EXPECT_TRUE(cells::ObjectValid(out_, idx_->cell_count));  // the empty file stays usable
  EXPECT_EQ(cells::PsetCellCount(out_), 0);

  const std::int32_t c = 1000;
  const std::vector<DirectionCosines> p = {About(*idx_, c, 1e-3, 0), About(*idx_, c, 0, 1e-3),
                                           About(*idx_, c, -1e-3, -1e-3)};
  Source(p, {1, 2, 3});
  EXPECT_EQ(Run(false, std::size_t{1} << 20, 6), ops::DERIVE_BAD_PARAMETERS);
  EXPECT_EQ(Run(false, std::size_t{1} << 20, 11), ops::DERIVE_BAD_PARAMETERS);
  Source(p, {1, -3.402823e38f, 3});
  EXPECT_EQ(Run(false), 3);
  Source(p, {1, -std::numeric_limits<float>::max(), 3});
  EXPECT_EQ(Run(false), 3);
  Source(p, {1, std::numeric_limits<float>::quiet_NaN(), 3});
  EXPECT_EQ(Run(false), 3);
  // A large negative height that is not the mark is a height.
  Source(p, {1, -3.4e38f, 3});
  EXPECT_EQ(Run(false), ops::DERIVE_DONE);
}

TEST_F(PsetTin, ThreePointsInOneCellGiveOneTriangle) {
  const std::int32_t c = 2000;
  // Clockwise on input: the triangle is stored counterclockwise.
  Source({About(*idx_, c, 0, 2e-3), About(*idx_, c, 2e-3, -1e-3), About(*idx_, c, -2e-3, -1e-3)}, {10, 20, 60});
  ASSERT_EQ(Run(true), ops::DERIVE_DONE);
  CheckStructure(true);
  ASSERT_EQ(cells::PsetCellCount(out_), 1);
  const cells::TinCell t = CellAt(0);
  EXPECT_EQ(t.cell, c);
  EXPECT_EQ(t.point_count, 3);
  EXPECT_EQ(t.cptnb, 3);
  EXPECT_EQ(t.cvxnb, 3);
  EXPECT_EQ(t.triangle_count, 1);
  EXPECT_FLOAT_EQ(t.z[0], 30.0f);
  EXPECT_FLOAT_EQ(t.z[1], 10.0f);
  EXPECT_FLOAT_EQ(t.z[2], 60.0f);
  for (int j = 0; j < 3; ++j) EXPECT_EQ(Neighbour(t, 0, j), -1);
  // The plane values are the points' own coordinates about the centre.
  double u, v;
  float z;
  PointOf(t, 0, &u, &v, &z);
  EXPECT_NEAR(u, 0.0, 1e-9);
  EXPECT_NEAR(v, 2e-3, 1e-9);
  EXPECT_FLOAT_EQ(z, 10.0f);

  // The surface: a vertex gives its height, the centroid the mean, a point
  // just outside the triangle is stepped back in, the far side of the cell
  // has no value.
  ops::SurfaceSearch s;
  EXPECT_NEAR(ops::q7_TinSurfaceValue(*idx_, About(*idx_, c, 0, 2e-3), out_, s), 10.0, 1e-4);
  EXPECT_NEAR(ops::q7_TinSurfaceValue(*idx_, About(*idx_, c, 0, 0), out_, s), 30.0, 1e-4);
  const double edge = ops::q7_TinSurfaceValue(*idx_, About(*idx_, c, 0, -1e-3 - 5e-6), out_, s);
  EXPECT_NEAR(edge, 40.0, 0.1);  // moved onto the lower edge, between 20 and 60
  EXPECT_EQ(ops::q7_TinSurfaceValue(*idx_, About(*idx_, c, 0, -6e-3), out_, s), geodesy::NOVALUE);
  // A cell the object does not hold has no value.
  EXPECT_EQ(ops::q7_TinSurfaceValue(*idx_, idx_->cells[c + 1000]->centre, out_, s), geodesy::NOVALUE);
}

TEST_F(PsetTin, SparseCellsKeepTheirOneValue) {
  // One point; two points; three on one line; a repeated point: no
  // triangles, the mean height everywhere in the cell, and no failure.
  const std::int32_t a = 3000, b = 9000, c = 15000, d = 21000;
  Source({About(*idx_, a, 1e-4, 1e-4), About(*idx_, b, 0, 0), About(*idx_, b, 1e-3, 0), About(*idx_, c, -1e-3, 0),
          About(*idx_, c, 0, 0), About(*idx_, c, 1e-3, 0), About(*idx_, d, 1e-3, 1e-3), About(*idx_, d, 1e-3, 1e-3)},
         {7, 1, 2, 3, 4, 5, 8, 8});
  ASSERT_EQ(Run(true), ops::DERIVE_DONE);
  CheckStructure(true);
  ASSERT_EQ(cells::PsetCellCount(out_), 4);
  const float mean[4] = {7, 1.5f, 4, 8};
  ops::SurfaceSearch s;
  const std::int32_t cell[4] = {a, b, c, d};
  for (int i = 0; i < 4; ++i) {
    const cells::TinCell t = CellAt(i);
    EXPECT_EQ(t.cell, cell[i]);
    EXPECT_EQ(t.triangle_count, 0);
    EXPECT_EQ(t.neighbour_count, 0);
    EXPECT_FLOAT_EQ(t.z[0], mean[i]);
    EXPECT_DOUBLE_EQ(ops::q7_TinSurfaceValue(*idx_, About(*idx_, cell[i], -2e-3, 3e-3), out_, s), mean[i]);
  }
}

TEST_F(PsetTin, NeighbourPointsJoinTheCellsTriangles) {
  // Points on both sides of the edge between a cell and its first
  // neighbour: each cell's triangles reach over the edge, the neighbour
  // points come after the own ones, and the surface is continuous there.
  const std::int32_t c = 5000;
  const std::int32_t n = cells::Neighbours(idx_->cells[c])[0];
  std::vector<DirectionCosines> p;
  std::vector<float> z;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> r(-0.02, 0.02);
  const DirectionCosines mid = Unit(idx_->cells[c]->centre.x + idx_->cells[n]->centre.x,
                                    idx_->cells[c]->centre.y + idx_->cells[n]->centre.y,
                                    idx_->cells[c]->centre.z + idx_->cells[n]->centre.z);
  const geodesy::TangentFrame f = geodesy::BuildTangentFrame(mid);
  for (int i = 0; i < 60; ++i) {
    const DirectionCosines q = geodesy::LiftFromFrame(f, r(rng), r(rng));
    p.push_back(q);
    z.push_back(static_cast<float>(100.0 * q.x + 50.0 * q.y + 10.0 * q.z));
  }
  Source(p, z);
  ASSERT_EQ(Run(true), ops::DERIVE_DONE);
  CheckStructure(true);
  bool borrowed = false;
  for (std::int64_t i = 0; i < cells::PsetCellCount(out_); ++i) borrowed |= CellAt(i).point_count > CellAt(i).cptnb;
  EXPECT_TRUE(borrowed);
  // Without "n": the same triangles, no triples.
  std::vector<std::int32_t> tris;
  for (std::int64_t i = 0; i < cells::PsetCellCount(out_); ++i) tris.push_back(CellAt(i).triangle_count);
  ASSERT_EQ(Run(false), ops::DERIVE_DONE);
  CheckStructure(false);
  for (std::int64_t i = 0; i < cells::PsetCellCount(out_); ++i) EXPECT_EQ(CellAt(i).triangle_count, tris[i]);
  // Along the shared edge, both sides give the linear value.
  ops::SurfaceSearch s;
  for (double t = -0.005; t <= 0.005; t += 0.001) {
    const DirectionCosines q = geodesy::LiftFromFrame(f, t, 0.3 * t);
    const double v = ops::q7_TinSurfaceValue(*idx_, q, out_, s);
    ASSERT_NE(v, geodesy::NOVALUE);
    EXPECT_NEAR(v, 100.0 * q.x + 50.0 * q.y + 10.0 * q.z, 1e-3 * 160.0);
  }
}

TEST_F(PsetTin, FullOutputArenaGivesEightAndTakesNothing) {
  std::vector<DirectionCosines> p;
  std::vector<float> z;
  for (int i = 0; i < 200; ++i) {
    p.push_back(About(*idx_, 7000, 1e-4 * (i % 20), 1.3e-4 * (i / 20) + 1e-6 * i));
    z.push_back(static_cast<float>(i));
  }
  Source(p, z);
  ASSERT_EQ(Run(true, 4096), ops::DERIVE_OUTPUT_FULL);
  EXPECT_EQ(arena_.top, reinterpret_cast<std::uint8_t*>(mem_.data()));
}

TEST_F(PsetTin, GriddedSamplesAreTriangulated) {
  // Rows of points stored as floats: the boundary rows are straight to a
  // float's precision, which the construction's own hull clean-up leaves
  // a point outside of; the cell is built on the exact hull instead.
  std::vector<DirectionCosines> p;
  std::vector<float> z;
  for (int i = 0; i < 200; ++i) {
    p.push_back(About(*idx_, 7000, 1e-4 * (i % 20), 1.3e-4 * (i / 20) + 1e-6 * i));
    z.push_back(static_cast<float>(i));
  }
  Source(p, z);
  ASSERT_EQ(Run(true), ops::DERIVE_DONE);
  CheckStructure(true);
  ASSERT_EQ(cells::PsetCellCount(out_), 1);
  EXPECT_GE(CellAt(0).triangle_count, 2 * 200 - 2 - CellAt(0).cvxnb - 4);
  // A regular grid of whole steps, every row and column exactly straight.
  p.clear();
  z.clear();
  for (int i = 0; i < 15; ++i)
    for (int j = 0; j < 15; ++j) {
      p.push_back(About(*idx_, 7000, 2e-4 * (i - 7), 2e-4 * (j - 7)));
      z.push_back(static_cast<float>(i + 2 * j));
    }
  Source(p, z);
  ASSERT_EQ(Run(false), ops::DERIVE_DONE);
  CheckStructure(false);
  // A plane over the grid: the surface is the plane.
  ops::SurfaceSearch s;
  EXPECT_NEAR(ops::q7_TinSurfaceValue(*idx_, About(*idx_, 7000, 3e-4, -5e-4), out_, s), 8.5 + 2.0 * 4.5, 1e-3);
}

TEST_F(PsetTin, DamagedCellEntriesAreRefused) {
  Source({About(*idx_, 4000, 0, 2e-3), About(*idx_, 4000, 2e-3, -1e-3), About(*idx_, 4000, -2e-3, -1e-3),
          About(*idx_, 4000, 0, 0)},
         {1, 2, 3, 4});
  ASSERT_EQ(Run(true), ops::DERIVE_DONE);
  ASSERT_TRUE(cells::ObjectValid(out_, idx_->cell_count));
  const cells::TinCell t = CellAt(0);
  ASSERT_EQ(t.triangle_count, 3);
  std::uint8_t* e = out_.structure + cells::PsetCellArrayOffset(out_);
  auto poke = [&](std::uint8_t* at, std::int32_t value, bool valid) {
    const std::int32_t old = Load<std::int32_t>(at);
    cells::Store<std::int32_t>(at, value);
    EXPECT_EQ(cells::ObjectValid(out_, idx_->cell_count), valid) << value;
    cells::Store<std::int32_t>(at, old);
  };
  std::uint8_t* tri = out_.coords + t.triangle_offset;
  std::uint8_t* nb = out_.coords + t.neighbour_offset;
  poke(tri + 4, t.point_count, false);        // a vertex past the cell's points
  poke(tri + 4, -1, false);
  poke(nb + 4, t.triangle_count, false);      // a neighbour past its triangles
  poke(nb + 4, -2, false);
  poke(e + 24, t.triangle_count - 1, false);  // neither no triples nor one per triangle
  poke(e + 24, 0, true);                      // no triples at all
  poke(e + 16, 1 << 28, false);               // triangles past the section
  poke(e + 12, -12, false);
  // Out-of-range own counts are read as the nearest bound.
  cells::Store<std::int32_t>(e + 28, t.point_count + 5);
  EXPECT_EQ(cells::VertexCount(out_), t.point_count);
  cells::Store<std::int32_t>(e + 28, -3);
  EXPECT_EQ(cells::VertexCount(out_), 0);
}

// Random points over a cap (or the whole sphere with OMBREL_TIN_ORACLE_FULL):
// the structure holds, and heights linear in the unit vector give a surface
// within 1e-4 of the height range at random positions in the triangulated
// cells well inside the set.
TEST_F(PsetTin, LinearHeightsOracle) {
  const bool full = std::getenv("OMBREL_TIN_ORACLE_FULL") != nullptr;
  // The density of 100 000 points over the sphere either way.
  const double cap = full ? M_PI : 20.0 * M_PI / 180.0;
  const int n = static_cast<int>(100000 * (1.0 - std::cos(cap)) / 2.0);
  const int queries = full ? 100000 : 20000;
  const DirectionCosines axis = Unit(0.3, -0.5, 0.8);
  const geodesy::TangentFrame af = geodesy::BuildTangentFrame(axis);
  const DirectionCosines east = geodesy::LiftFromFrame(af, 1.0, 0.0);
  std::mt19937_64 rng(20);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // Uniform in the cap about axis.
  auto random_in = [&](double radius) {
    const double cz = 1.0 - unit(rng) * (1.0 - std::cos(radius));
    const double sz = std::sqrt(std::max(0.0, 1.0 - cz * cz));
    const double phi = 2.0 * M_PI * unit(rng);
    // axis, and two directions orthogonal to it
    double ex = east.x - axis.x * (east.x * axis.x + east.y * axis.y + east.z * axis.z);
    double ey = east.y - axis.y * (east.x * axis.x + east.y * axis.y + east.z * axis.z);
    double ez = east.z - axis.z * (east.x * axis.x + east.y * axis.y + east.z * axis.z);
    const double en = std::sqrt(ex * ex + ey * ey + ez * ez);
    ex /= en, ey /= en, ez /= en;
    const double nx = axis.y * ez - axis.z * ey, ny = axis.z * ex - axis.x * ez, nz = axis.x * ey - axis.y * ex;
    return Unit(cz * axis.x + sz * (std::cos(phi) * ex + std::sin(phi) * nx),
                cz * axis.y + sz * (std::cos(phi) * ey + std::sin(phi) * ny),
                cz * axis.z + sz * (std::cos(phi) * ez + std::sin(phi) * nz));
  };
  const double a[3] = {800.0, -300.0, 500.0}, b = 1000.0;
  auto height = [&](const DirectionCosines& p) { return a[0] * p.x + a[1] * p.y + a[2] * p.z + b; };
  std::vector<DirectionCosines> p;
  std::vector<float> z;
  for (int i = 0; i < n; ++i) {
    p.push_back(random_in(cap));
    z.push_back(static_cast<float>(height(p.back())));
  }
  Source(p, z);
  ASSERT_EQ(src_.status, 0);
  ASSERT_EQ(Run(true, std::size_t{256} << 20), ops::DERIVE_DONE);
  CheckStructure(true);
  const double range = 2.0 * std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  ops::SurfaceSearch s;
  std::vector<DirectionCosines> positions;
  std::vector<double> values;
  int within = 0, valued = 0, asked = 0, stepped = 0, worst_at = -1;
  double worst = 0.0;
  for (int q = 0; q < queries; ++q) {
    const DirectionCosines x = random_in(full ? cap : cap - 3.0 * M_PI / 180.0);
    const std::int32_t cell = cells::Locate(*idx_, x);
    ++asked;
    const double v = ops::q7_TinSurfaceValue(*idx_, x, out_, s);
    positions.push_back(x);
    values.push_back(v);
    if (v == geodesy::NOVALUE) continue;
    const cells::TinCell t = CellAt(s.record);
    ASSERT_EQ(t.cell, cell);
    if (t.triangle_count == 0) continue;  // a sparse cell: its one value
    const double err = std::fabs(v - height(x));
    if (s.steps > 0) {
      // Moved towards the centre by at most the steps' sum: the gradient's
      // share of that distance, with the plane's own slack.
      ++stepped;
      const double moved = ops::SURFACE_FIRST_STEP * ((1 << s.steps) - 1);
      EXPECT_LE(err, 1e-4 * range + 1.01 * moved * range / 2.0) << "query " << q;
      continue;
    }
    ++valued;
    if (err <= 1e-4 * range) ++within;
    if (err > worst) worst = err, worst_at = q;
  }
  std::printf("linear heights: %d points, %d positions, %d in a triangle, %d within 1e-4 of the range "
              "(worst %.3g, query %d), %d moved towards the centre\n",
              n, asked, valued, within, worst / range, worst_at, stepped);
  // Linear interpolation in the cell's plane of a height that is linear on
  // the sphere errs by about h^2/8 times the height's curvature over a
  // triangle of size h: the largest triangles of a set this sparse (a few
  // hundredths of a radian) reach 1e-4 of the range, so a few in ten
  // thousand positions may go past it, none by half as much again.
  EXPECT_GE(within, valued - valued / 1000);
  EXPECT_LE(worst, 2e-4 * range);
  EXPECT_GT(valued, asked * 8 / 10);

  // The value does not depend on how it was found: the state above looked
  // records up by binary search and, after many cell changes, in its table,
  // and read the first value in each cell from the stored floats. A fresh
  // state for every position (binary search, stored floats) and a second
  // value in the same cell (decoded vertices) give the same bits.
  ASSERT_GT(asked, static_cast<int>(ops::SURFACE_TABLE_AFTER) * 4);
  ASSERT_FALSE(s.record_of.empty());
  ops::SurfaceSearch again;
  int differ_fresh = 0, differ_decoded = 0;
  for (std::size_t q = 0; q < positions.size(); ++q) {
    ops::SurfaceSearch fresh;
    const double f = ops::q7_TinSurfaceValue(*idx_, positions[q], out_, fresh);
    differ_fresh += std::memcmp(&f, &values[q], sizeof f) != 0;
    again.cell = cells::NO_CELL;  // every position starts a new cell
    const double first = ops::q7_TinSurfaceValue(*idx_, positions[q], out_, again);
    const double d = ops::q7_TinSurfaceValue(*idx_, positions[q], out_, again);
    differ_fresh += std::memcmp(&first, &values[q], sizeof first) != 0;
    differ_decoded += std::memcmp(&d, &values[q], sizeof d) != 0;
  }
  EXPECT_EQ(differ_fresh, 0);
  EXPECT_EQ(differ_decoded, 0);
}

}  // namespace
