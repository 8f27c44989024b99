// The region checks and the point tests: hand-made faults, random stars with
// a known number of crossings, nests of caps against S2's nesting, the
// shipped land outlines against S2's crossing edge pairs, and the point tests
// against S2's boolean operations.
#include <gtest/gtest.h>

#include <s2/mutable_s2shape_index.h>
#include <s2/s2boolean_operation.h>
#include <s2/s2closest_edge_query.h>
#include <s2/s2debug.h>
#include <s2/s2edge_crossings.h>
#include <s2/s2edge_distances.h>
#include <s2/s2lax_polygon_shape.h>
#include <s2/s2lax_polyline_shape.h>
#include <s2/s2loop.h>
#include <s2/s2polygon.h>
#include <s2/s2shapeutil_visit_crossing_edge_pairs.h>

#include <algorithm>
#include <memory>
#include <set>

#include "lib/ops/rset_ptest.h"
#include "lib/ops/rset_verify.h"
#include "tests/ops/ops_test_util.h"

namespace {

using namespace ops::testing;
using geodesy::DirectionCosines;

using Ring = std::vector<DirectionCosines>;

Ring Degrees(std::initializer_list<std::pair<double, double>> lat_lon) {
  Ring r;
  for (auto [lat, lon] : lat_lon) r.push_back(LatLonDeg(lat, lon));
  return r;
}

// A ring of n points on the small circle of `radius` degrees about the
// centre, counterclockwise (inside on the left) unless reversed.
Ring Circle(const DirectionCosines& c, double radius_deg, int n, bool reversed = false) {
  const DirectionCosines axis = std::fabs(c.z) < 0.9 ? DirectionCosines{0, 0, 1} : DirectionCosines{1, 0, 0};
  DirectionCosines e = geodesy::Cross(axis, c);
  const double el = std::sqrt(geodesy::Dot(e, e));
  e = {e.x / el, e.y / el, e.z / el};
  const DirectionCosines nn = geodesy::Cross(c, e);
  const double r = radius_deg * M_PI / 180.0;
  Ring ring;
  for (int i = 0; i < n; ++i) {
    const double t = 2.0 * M_PI * i / n;
    const double ct = std::cos(t), st = std::sin(t);
    ring.push_back({std::cos(r) * c.x + std::sin(r) * (ct * e.x + st * nn.x),
                    std::cos(r) * c.y + std::sin(r) * (ct * e.y + st * nn.y),
                    std::cos(r) * c.z + std::sin(r) * (ct * e.z + st * nn.z)});
  }
  if (reversed) std::reverse(ring.begin(), ring.end());
  return ring;
}

struct Checks : ::testing::Test {
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

  HeapObject Region(const std::vector<Ring>& rings) {
    std::vector<cells::PointNode> nodes;
    std::uint64_t id = 10;
    for (const Ring& r : rings) {
      for (const auto& p : r) nodes.push_back({p, 0});
      nodes.push_back(cells::Mark(id++));
    }
    HeapObject h;
    Build(*idx, cells::kRset, nodes, h, 10);
    EXPECT_EQ(h.status, rings.empty() ? -1 : 0);  // no rings: the null region
    return h;
  }
  HeapObject Lines(const std::vector<Ring>& lines) {
    std::vector<cells::PointNode> nodes;
    std::uint64_t id = 1;
    for (const Ring& r : lines) {
      for (const auto& p : r) nodes.push_back({p, 0});
      nodes.push_back(cells::Mark(id++));
    }
    HeapObject h;
    Build(*idx, cells::kLset, nodes, h, 10);
    EXPECT_EQ(h.status, 0);
    return h;
  }
  std::vector<ops::BoundaryFault> Faults(const HeapObject& h, int capacity = 8, int* status = nullptr) {
    std::vector<ops::BoundaryFault> f(capacity);
    int count = 0;
    const int s = ops::q7_RsetVerifyBoundary(*idx, h.obj, 0.0, f.data(), capacity, &count);
    if (status) *status = s;
    f.resize(count);
    return f;
  }
  std::vector<std::int32_t> Listed(const HeapObject& h, int* status = nullptr, std::int64_t workspace = 1 << 26) {
    std::vector<std::uint8_t> memory(static_cast<std::size_t>(workspace));
    platform::Workspace ws;
    platform::WorkspaceInit(&ws, memory.data(), workspace);
    std::vector<std::int32_t> rings(1000);
    int count = 0;
    const int s = ops::q7_RsetVerifyTopology(*idx, ws, h.obj, 0.0, rings.data(), 1000, &count);
    if (status) *status = s;
    rings.resize(count);
    return rings;
  }
};
cells::CellIndex* Checks::idx = nullptr;

// The rings of a region as S2 points, item by item.
std::vector<std::vector<S2Point>> S2Loops(const HeapObject& h) {
  std::vector<std::vector<S2Point>> loops;
  for (const auto& ring : ItemVertices(*Checks::idx, h.obj)) {
    loops.emplace_back();
    for (const auto& p : ring) loops.back().push_back(S2Point(p.x, p.y, p.z));
  }
  return loops;
}

int CountType(const std::vector<ops::BoundaryFault>& f, int type) {
  return static_cast<int>(std::count_if(f.begin(), f.end(), [&](const auto& x) { return x.type == type; }));
}

// ---------------------------------------------------------------- boundary

TEST_F(Checks, CleanRingsPassAndRegionsWithoutBoundaryAreEmpty) {
  int status = 7;
  EXPECT_TRUE(Faults(Region({Degrees({{0.3, 0.4}, {0.3, 1.4}, {1.3, 1.4}, {1.3, 0.4}})}), 8, &status).empty());
  EXPECT_EQ(status, 0);
  // Two rings, a continent with a lake, and a cap of many short legs.
  auto box = Degrees({{-10, -10}, {-10, 10}, {10, 10}, {10, -10}});
  std::reverse(box.begin(), box.end());
  auto lake = Degrees({{-2, -2}, {2, -2}, {2, 2}, {-2, 2}});
  std::reverse(lake.begin(), lake.end());
  EXPECT_TRUE(Faults(Region({box, lake, Circle(LatLonDeg(50, 120), 3, 400)}), 8, &status).empty());
  EXPECT_EQ(status, 0);
  HeapObject null_region = Region({});
  EXPECT_EQ(ops::q7_RsetVerifyBoundary(*idx, null_region.obj, 0.0, nullptr, 0, &status), -1);
}

TEST_F(Checks, FigureEightTouchesAtItsVertex) {
  // Two lobes meeting at (0, 0), which the ring passes twice.
  const auto ring = Degrees({{0, 0}, {-1, 1}, {1, 1}, {0, 0}, {1, -1}, {-1, -1}});
  int status = 0;
  const auto f = Faults(Region({ring}), 8, &status);
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(CountType(f, ops::FAULT_CONTACT), static_cast<int>(f.size()));
  EXPECT_EQ(status, ops::FAULT_CONTACT);
  for (const auto& x : f) EXPECT_LT(std::sqrt(geodesy::ChordSq(x.at, LatLonDeg(0, 0))), 1e-7);
}

TEST_F(Checks, CrossingOnLegsThatOnlyPassACell) {
  // A bow tie 6 degrees across: its two long legs cross at (3, 3), in cells
  // that hold no vertex.
  const auto f = Faults(Region({Degrees({{0, 0}, {6, 6}, {6, 0}, {0, 6}})}));
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].type, ops::FAULT_CROSSING);
  EXPECT_NE(f[0].a.leg == f[0].b.leg && f[0].a.piece == f[0].b.piece, true);
  EXPECT_LT(std::sqrt(geodesy::ChordSq(f[0].at, LatLonDeg(3.0, 3.0))) * 6371, 20.0);  // km, near the middle
}

TEST_F(Checks, FoldBackOverlapsAndShortLegs) {
  // East along the equator to 2, back west to 1, then up: the second leg runs
  // back along the first.
  const auto fold = Faults(Region({Degrees({{0.3, 0.4}, {0.3, 2.4}, {0.3, 1.4}, {1.3, 1.4}, {1.3, 0.4}})}));
  EXPECT_GE(CountType(fold, ops::FAULT_OVERLAP), 1);
  // Two vertices 0.1 m apart (under the default fuzz, 0.2 m is too short).
  const double step = 0.1 / 6371000.0 * 180.0 / M_PI;
  const auto shortleg = Faults(Region({Degrees({{0.3, 0.4}, {0.3, 1.4}, {0.3, 1.4 + step}, {1.3, 1.4}, {1.3, 0.4}})}));
  ASSERT_EQ(shortleg.size(), 1u);
  EXPECT_EQ(shortleg[0].type, ops::FAULT_SHORT_LEG);
  EXPECT_EQ(shortleg[0].a.ring, 0);
}

TEST_F(Checks, ReportStopsWhenFull) {
  // A star of 11 points drawn with step 4: every leg crosses several others.
  Ring star;
  const DirectionCosines c = LatLonDeg(20, 40);
  Ring circle = Circle(c, 4, 11);
  for (int i = 0; i < 11; ++i) star.push_back(circle[(i * 4) % 11]);
  int status = 0;
  const auto f = Faults(Region({star}), 8, &status);
  EXPECT_EQ(f.size(), 8u);
  EXPECT_EQ(status, f.back().type);
  const auto all = Faults(Region({star}), 200);
  // Each leg of the star {11/4} crosses 2 (4 - 1) others: 33 pairs.
  EXPECT_EQ(CountType(all, ops::FAULT_CROSSING), 33);
}

// Random stars, some with adjacent vertices swapped into bow ties: the
// Intersection records are exactly the leg pairs that S2 finds crossing.
TEST_F(Checks, RandomStarsCrossingsAgreeWithS2) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  std::mt19937_64 rng(4242);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  int checked = 0, with_crossings = 0;
  for (int trial = 0; trial < 500; ++trial) {
    const DirectionCosines c = RandomUnit(rng);
    const int n = 8 + static_cast<int>(u(rng) * 30);
    std::vector<double> angle(n);
    for (double& a : angle) a = u(rng) * 2 * M_PI;
    std::sort(angle.begin(), angle.end());
    const DirectionCosines axis = std::fabs(c.z) < 0.9 ? DirectionCosines{0, 0, 1} : DirectionCosines{1, 0, 0};
    DirectionCosines e = geodesy::Cross(axis, c);
    const double el = std::sqrt(geodesy::Dot(e, e));
    e = {e.x / el, e.y / el, e.z / el};
    const DirectionCosines nn = geodesy::Cross(c, e);
    Ring ring;
    for (double a : angle) {
      const double r = (0.3 + 2.0 * u(rng)) * M_PI / 180.0;
      ring.push_back({std::cos(r) * c.x + std::sin(r) * (std::cos(a) * e.x + std::sin(a) * nn.x),
                      std::cos(r) * c.y + std::sin(r) * (std::cos(a) * e.y + std::sin(a) * nn.y),
                      std::cos(r) * c.z + std::sin(r) * (std::cos(a) * e.z + std::sin(a) * nn.z)});
    }
    const int swaps = static_cast<int>(u(rng) * 8);
    for (int s = 0; s < swaps; ++s) {
      const int i = static_cast<int>(u(rng) * n);
      std::swap(ring[i], ring[(i + 1) % n]);
    }
    // The oracle: S2's crossing test on every pair of legs that share no vertex.
    int k = 0;
    bool near_miss = false;
    for (int i = 0; i < n; ++i)
      for (int j = i + 2; j < n; ++j) {
        if (i == 0 && j == n - 1) continue;
        const S2Point a(ring[i].x, ring[i].y, ring[i].z), b(ring[(i + 1) % n].x, ring[(i + 1) % n].y, ring[(i + 1) % n].z);
        const S2Point cc(ring[j].x, ring[j].y, ring[j].z), d(ring[(j + 1) % n].x, ring[(j + 1) % n].y, ring[(j + 1) % n].z);
        if (S2::CrossingSign(a, b, cc, d) > 0) ++k;
        // A crossing within the fuzz of an end is a contact by our rules.
        for (const S2Point* p : {&a, &b})
          if (S2::GetDistance(*p, cc, d).radians() < 1e-7) near_miss = true;
        for (const S2Point* p : {&cc, &d})
          if (S2::GetDistance(*p, a, b).radians() < 1e-7) near_miss = true;
      }
    if (near_miss) continue;
    const auto f = Faults(Region({ring}), 200);
    EXPECT_EQ(CountType(f, ops::FAULT_CROSSING), k) << "trial " << trial;
    EXPECT_EQ(CountType(f, ops::FAULT_CONTACT) + CountType(f, ops::FAULT_OVERLAP), 0) << "trial " << trial;
    ++checked;
    with_crossings += k > 0;
  }
  EXPECT_GT(checked, 450);
  EXPECT_GT(with_crossings, 200);
}

// Land 110m: S2 finds no interior crossing; our records are all in the two
// rings of Wrangel Island that share a leg along 180 degrees, and every one
// names two legs that S2 puts within twice the fuzz of each other.
TEST_F(Checks, Land110mFaultsAreWrangelsSharedLeg) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  HeapObject land;
  ASSERT_TRUE(LoadLand(*idx, "land110m.rgn", land));
  const std::vector<std::vector<S2Point>> loops = S2Loops(land);
  MutableS2ShapeIndex index;
  index.Add(std::make_unique<S2LaxPolygonShape>(loops));
  long interior = 0;
  std::set<int> s2rings;
  s2shapeutil::VisitCrossingEdgePairs(index, s2shapeutil::CrossingType::ALL,
                                      [&](const s2shapeutil::ShapeEdge& a, const s2shapeutil::ShapeEdge& b, bool inside) {
                                        const auto& shape = *index.shape(0);
                                        const auto pa = shape.chain_position(a.id().edge_id);
                                        const auto pb = shape.chain_position(b.id().edge_id);
                                        const int na = shape.chain(pa.chain_id).length;
                                        const bool adjacent = pa.chain_id == pb.chain_id &&
                                                              (std::abs(pa.offset - pb.offset) == 1 ||
                                                               std::abs(pa.offset - pb.offset) == na - 1);
                                        if (adjacent) return true;
                                        if (inside) ++interior;
                                        s2rings.insert(pa.chain_id);
                                        s2rings.insert(pb.chain_id);
                                        return true;
                                      });
  EXPECT_EQ(interior, 0);
  int status = 0;
  const auto f = Faults(land, 8, &status);
  ASSERT_FALSE(f.empty());
  EXPECT_LT(f.size(), 8u);
  for (const auto& x : f) {
    EXPECT_TRUE(x.type == ops::FAULT_CONTACT || x.type == ops::FAULT_OVERLAP) << x.type;
    EXPECT_TRUE(s2rings.count(x.a.ring) && s2rings.count(x.b.ring)) << x.a.ring << " " << x.b.ring;
  }
  std::set<int> ours;
  for (const auto& x : f) ours.insert(x.a.ring), ours.insert(x.b.ring);
  EXPECT_EQ(ours.size(), 2u);  // the two halves of Wrangel Island
}

// The shipped 50m and 10m land: every record names two legs that S2 puts
// within twice the fuzz of each other (0 for a crossing), or a short leg.
TEST_F(Checks, LandRecordsNameLegsThatMeet) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  for (const char* file : {"land50m.rgn", "land10m.rgn"}) {
    if (Sanitized() && std::string(file) == "land10m.rgn") continue;
    HeapObject land;
    ASSERT_TRUE(LoadLand(*idx, file, land));
    const auto f = Faults(land, 8);
    EXPECT_EQ(f.size(), 8u) << file;
    // A leg reference to its two ends as unit vectors.
    auto ends = [&](const ops::LegRef& ref, S2Point* a, S2Point* b) {
      const cells::Item it = cells::LoadItem(cells::ItemAt(land.obj, ref.ring));
      std::vector<DirectionCosines> ring;
      std::int64_t before = -1;
      const int rs = cells::RecordSize(land.obj.res);
      for (std::int32_t k = 0; k < it.count; ++k) {
        const cells::Piece pc = cells::LoadPiece(cells::PieceAt(land.obj, it, k));
        if (k == ref.piece) before = static_cast<std::int64_t>(ring.size());
        for (std::int32_t i = 0; i < pc.count; ++i) {
          DirectionCosines p;
          cells::Restore(*idx, pc.cell, land.obj.coords + pc.offset + static_cast<std::int64_t>(i) * rs, land.obj.res, p);
          ring.push_back(p);
        }
      }
      ASSERT_GE(before, 0);
      const std::int64_t i = before + ref.leg, j = (i + 1) % static_cast<std::int64_t>(ring.size());
      *a = S2Point(ring[i].x, ring[i].y, ring[i].z);
      *b = S2Point(ring[j].x, ring[j].y, ring[j].z);
    };
    for (const auto& x : f) {
      S2Point a0, a1;
      ends(x.a, &a0, &a1);
      if (x.type == ops::FAULT_SHORT_LEG) {
        EXPECT_LE(S1Angle(a0, a1).radians(), 2.0 * geodesy::DEFAULT_FUZZ * 1.01);
        continue;
      }
      S2Point b0, b1;
      ends(x.b, &b0, &b1);
      const double d = std::min({S2::GetDistance(a0, b0, b1).radians(), S2::GetDistance(a1, b0, b1).radians(),
                                 S2::GetDistance(b0, a0, a1).radians(), S2::GetDistance(b1, a0, a1).radians()});
      const bool cross = S2::CrossingSign(a0, a1, b0, b1) >= 0;
      EXPECT_TRUE(cross || d <= 2.0 * geodesy::DEFAULT_FUZZ * 1.01)
          << file << " type " << x.type << " rings " << x.a.ring << " " << x.b.ring << " distance " << d;
    }
  }
}

// ---------------------------------------------------------------- topology

TEST_F(Checks, NestingOfLandAndItsComplement) {
  int status = 7;
  HeapObject one = Region({Circle(LatLonDeg(0, 0), 5, 40)});
  EXPECT_TRUE(Listed(one, &status).empty());
  EXPECT_EQ(status, 0);
  for (const char* file : {"land110m.rgn", "land50m.rgn"}) {
    HeapObject land;
    ASSERT_TRUE(LoadLand(*idx, file, land));
    EXPECT_TRUE(Listed(land, &status).empty()) << file;
    EXPECT_EQ(status, 0);
    if (std::string(file) == "land110m.rgn") {
      // The sea: every ring reversed.
      std::vector<Ring> rings = ItemVertices(*idx, land.obj);
      for (Ring& r : rings) std::reverse(r.begin(), r.end());
      HeapObject sea = Region(rings);
      EXPECT_TRUE(Listed(sea, &status).empty());
      EXPECT_EQ(status, 0);
    }
  }
  // The world less two caps, and a continent with its lake.
  HeapObject holes = Region({Circle(LatLonDeg(40, 0), 5, 40, true), Circle(LatLonDeg(-30, 100), 8, 40, true)});
  EXPECT_TRUE(Listed(holes, &status).empty());
  HeapObject lake = Region({Circle(LatLonDeg(10, 10), 10, 60), Circle(LatLonDeg(10, 10), 3, 30, true)});
  EXPECT_TRUE(Listed(lake, &status).empty());
}

TEST_F(Checks, WrongWayRingsAreListed) {
  int status = 0;
  // A ring inside another, running the same way.
  HeapObject same = Region({Circle(LatLonDeg(10, 10), 10, 60), Circle(LatLonDeg(10, 10), 3, 30)});
  EXPECT_EQ(Listed(same, &status), std::vector<std::int32_t>{1});
  EXPECT_EQ(status, 1);
  // An island in a lake on a continent, the island running the wrong way.
  HeapObject island = Region({Circle(LatLonDeg(10, 10), 10, 60), Circle(LatLonDeg(10, 10), 5, 30, true),
                              Circle(LatLonDeg(10, 10), 2, 20, true)});
  EXPECT_EQ(Listed(island, &status), std::vector<std::int32_t>{2});
  // The workspace too small for the ring tables.
  Listed(island, &status, 512);
  EXPECT_EQ(status, 9);
}

// Nests of caps 0 to 4 deep, scattered over the globe, with some rings
// turned: listed are exactly the rings whose direction disagrees with the
// parity of their depth in S2's nesting. The first ring is an outer one
// running the right way, so the point just right of it is outside them all.
TEST_F(Checks, RandomNestsAgreeWithS2Nesting) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<Ring> rings;
    std::vector<bool> turned;
    std::vector<DirectionCosines> centres;
    const int nests = 1 + static_cast<int>(u(rng) * 5);
    while (static_cast<int>(centres.size()) < nests) {
      const DirectionCosines c = RandomUnit(rng);
      bool apart = true;
      for (const auto& o : centres) apart = apart && geodesy::Dot(c, o) < std::cos(25 * M_PI / 180);
      if (apart) centres.push_back(c);
    }
    for (const auto& c : centres) {
      const int depth = 1 + static_cast<int>(u(rng) * 4.99);
      for (int k = 0; k < depth; ++k) {
        const bool hole = k % 2 == 1;
        const bool turn = rings.empty() ? false : u(rng) < 0.25;
        rings.push_back(Circle(c, 10.0 - 2.2 * k, 24 + 4 * k, hole != turn));
        turned.push_back(turn);
      }
    }
    HeapObject region = Region(rings);
    // S2's depths of the same loops, each made to cover less than half the sphere.
    std::vector<std::unique_ptr<S2Loop>> loops;
    std::vector<bool> ccw;
    for (const Ring& r : rings) {
      std::vector<S2Point> pts;
      for (const auto& p : r) pts.push_back(S2Point(p.x, p.y, p.z));
      auto loop = std::make_unique<S2Loop>(pts, S2Debug::DISABLE);
      ccw.push_back(!loop->is_hole() && loop->GetArea() < 2 * M_PI);
      loop->Normalize();
      loops.push_back(std::move(loop));
    }
    std::vector<S2Loop*> raw;
    for (auto& l : loops) raw.push_back(l.get());
    std::vector<std::unique_ptr<S2Loop>> owned;
    for (auto* l : raw) owned.emplace_back(l->Clone());
    S2Polygon polygon;
    polygon.set_s2debug_override(S2Debug::DISABLE);
    polygon.InitNested(std::move(owned));
    std::vector<std::int32_t> expected;
    for (int i = 0; i < static_cast<int>(rings.size()); ++i) {
      // Find this loop's depth in the nested polygon by matching its vertices.
      int depth = -1;
      for (int j = 0; j < polygon.num_loops(); ++j)
        if (polygon.loop(j)->num_vertices() == loops[i]->num_vertices() && polygon.loop(j)->BoundaryEquals(loops[i].get()))
          depth = polygon.loop(j)->depth();
      ASSERT_GE(depth, 0);
      const bool should_be_ccw = depth % 2 == 0;
      if (ccw[i] != should_be_ccw) expected.push_back(i);
    }
    int status = 0;
    EXPECT_EQ(Listed(region, &status), expected) << "trial " << trial;
  }
}

// ---------------------------------------------------------------- point tests

TEST_F(Checks, LineAgainstRegion) {
  // Boxes keep off the equator and meridian 0, where many cell edges run.
  HeapObject box = Region({Degrees({{0.3, 0.4}, {0.3, 10.4}, {10.3, 10.4}, {10.3, 0.4}})});
  auto lines = [&](std::vector<Ring> l) { return Lines(l); };
  const double f = 0.0;
  // Wholly inside, in interior cells.
  HeapObject inside = lines({Degrees({{4, 4}, {5, 5}})});
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, inside.obj, box.obj, f, false), 1);
  // Crossing the region with every vertex outside.
  HeapObject across = lines({Degrees({{5, -3}, {5, 13}})});
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, across.obj, box.obj, f, false), 1);
  // Outside altogether.
  HeapObject away = lines({Degrees({{20, 20}, {25, 30}})});
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, away.obj, box.obj, f, true), 0);
  // Points on the box's legs (great-circle arcs between its corners).
  auto on_leg = [](DirectionCosines a, DirectionCosines b, double t) {
    DirectionCosines p{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)};
    const double l = std::sqrt(geodesy::Dot(p, p));
    return DirectionCosines{p.x / l, p.y / l, p.z / l};
  };
  const DirectionCosines sw = LatLonDeg(0.3, 0.4), se = LatLonDeg(0.3, 10.4), ne = LatLonDeg(10.3, 10.4);
  // Touching the boundary at one point: only with the boundary flag.
  HeapObject touch = lines({Ring{LatLonDeg(-3, 5), on_leg(sw, se, 0.47), LatLonDeg(-3, 6)}});
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, touch.obj, box.obj, f, false), 0);
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, touch.obj, box.obj, f, true), 1);
  // A chord across a corner whose ends both lie on the boundary.
  HeapObject chord = lines({Ring{on_leg(sw, se, 0.8), on_leg(se, ne, 0.2)}});
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, chord.obj, box.obj, f, false), 1);
  // Null and world regions.
  HeapObject null_region = Region({});
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, inside.obj, null_region.obj, f, true), 0);
  HeapObject sea = Region({Degrees({{0.3, 0.4}, {10.3, 0.4}, {10.3, 10.4}, {0.3, 10.4}})});
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, inside.obj, sea.obj, f, false), 0);
  EXPECT_EQ(ops::q7_LsetRsetPtest(*idx, away.obj, sea.obj, f, false), 1);
}

TEST_F(Checks, RegionAgainstRegion) {
  const double f = 0.0;
  HeapObject big = Region({Degrees({{0.3, 0.4}, {0.3, 20.4}, {20.3, 20.4}, {20.3, 0.4}})});
  // A small region wholly in one interior cell of the big one.
  HeapObject speck = Region({Circle(LatLonDeg(10, 10), 0.05, 8)});
  EXPECT_EQ(ops::q7_RsetRsetPtest(*idx, speck.obj, big.obj, f, false), 1);
  EXPECT_EQ(ops::q7_RsetRsetPtest(*idx, big.obj, speck.obj, f, false), 1);
  // One inside the other within cells both have boundary in.
  HeapObject inner = Region({Degrees({{0.35, 0.45}, {0.35, 0.7}, {0.6, 0.7}, {0.6, 0.45}})});
  EXPECT_EQ(ops::q7_RsetRsetPtest(*idx, inner.obj, big.obj, f, false), 1);
  // Two equal small regions.
  HeapObject a = Region({Circle(LatLonDeg(-30, 60), 0.2, 12)});
  HeapObject b = Region({Circle(LatLonDeg(-30, 60), 0.2, 12)});
  EXPECT_EQ(ops::q7_RsetRsetPtest(*idx, a.obj, b.obj, f, false), 1);
  // Side by side, sharing a leg (insides on opposite sides): only with 'b'.
  HeapObject left = Region({Degrees({{30, 0}, {30, 1}, {31, 1}, {31, 0}})});
  HeapObject right = Region({Degrees({{30, 1}, {30, 2}, {31, 2}, {31, 1}})});
  EXPECT_EQ(ops::q7_RsetRsetPtest(*idx, left.obj, right.obj, f, false), 0);
  EXPECT_EQ(ops::q7_RsetRsetPtest(*idx, left.obj, right.obj, f, true), 1);
  // Apart.
  HeapObject far = Region({Circle(LatLonDeg(-60, -100), 2, 20)});
  EXPECT_EQ(ops::q7_RsetRsetPtest(*idx, far.obj, big.obj, f, true), 0);
  HeapObject null_region = Region({});
  EXPECT_EQ(ops::q7_RsetRsetPtest(*idx, null_region.obj, big.obj, f, true), 0);
}

// Random caps (1 to 1000 km) and great-circle lines against land 50m: the
// answer is S2's whenever the boundaries are farther apart than 1 m.
TEST_F(Checks, RandomCapsAndLinesAgreeWithS2) {
  OMBREL_SKIP_S2_UNDER_ASAN();
  HeapObject land;
  ASSERT_TRUE(LoadLand(*idx, "land50m.rgn", land));
  const std::vector<std::vector<S2Point>> loops = S2Loops(land);
  MutableS2ShapeIndex land_index;
  land_index.Add(std::make_unique<S2LaxPolygonShape>(loops));
  land_index.ForceBuild();
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int n = Sanitized() ? 60 : 300;
  int compared = 0, common = 0;
  for (int i = 0; i < 2 * n; ++i) {
    const bool cap = i < n;
    const DirectionCosines c = RandomUnit(rng);
    Ring r;
    if (cap) {
      r = Circle(c, std::exp(std::log(1.0) + u(rng) * std::log(1000.0)) / 111.2, 32);
    } else {
      const DirectionCosines d = RandomUnit(rng);
      const double t = 0.02 + 0.6 * u(rng);
      DirectionCosines e{c.x + t * d.x, c.y + t * d.y, c.z + t * d.z};
      const double el = std::sqrt(geodesy::Dot(e, e));
      r = {c, {e.x / el, e.y / el, e.z / el}};
    }
    std::vector<S2Point> pts;
    for (const auto& p : r) pts.push_back(S2Point(p.x, p.y, p.z));
    MutableS2ShapeIndex other;
    if (cap) other.Add(std::make_unique<S2LaxPolygonShape>(std::vector<std::vector<S2Point>>{pts}));
    else other.Add(std::make_unique<S2LaxPolylineShape>(pts));
    other.ForceBuild();
    // Skip the near misses: boundaries that come within 1 m without crossing
    // (crossing boundaries are at distance 0).
    S2ClosestEdgeQuery q(&land_index);
    q.mutable_options()->set_include_interiors(false);
    S2ClosestEdgeQuery::ShapeIndexTarget target(&other);
    target.set_include_interiors(false);
    const double gap = q.GetDistance(&target).radians() * 6371000.0;
    if (gap > 0.0 && gap < 1.0) continue;
    S2BooleanOperation::Options options;
    options.set_polygon_model(S2BooleanOperation::PolygonModel::CLOSED);
    options.set_polyline_model(S2BooleanOperation::PolylineModel::CLOSED);
    const bool s2 = S2BooleanOperation::Intersects(other, land_index, options);
    int ours;
    if (cap) {
      HeapObject region = Region({r});
      ours = ops::q7_RsetRsetPtest(*idx, region.obj, land.obj, 0.0, true);
    } else {
      HeapObject line = Lines({r});
      ours = ops::q7_LsetRsetPtest(*idx, line.obj, land.obj, 0.0, true);
    }
    EXPECT_EQ(ours == 1, s2) << (cap ? "cap " : "line ") << i;
    ++compared;
    common += s2;
  }
  EXPECT_GT(compared, 2 * n * 9 / 10);
  EXPECT_GT(common, n / 5);
}

}  // namespace
