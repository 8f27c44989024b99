// The Lset and Rset builders: pieces in neighbouring cells, pieces without
// vertices, long legs, boundary parameters, and the region assembly.
#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/object_builder.h"
#include "lib/geodesy/ellipsoid.h"
#include "tests/objects/test_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace cells {
namespace {

using geodesy::DirectionCosines;

DirectionCosines LL(double lat_deg, double lon_deg) {
  return geodesy::GeocentricToCosines({lat_deg * M_PI / 180, lon_deg * M_PI / 180});
}

bool Neighbours(const CellIndex& idx, std::int32_t a, std::int32_t b) {
  const CellRecord* r = idx.cells[a];
  return std::find(r->neighbours, r->neighbours + r->neighbour_count, b) !=
         r->neighbours + r->neighbour_count;
}

class Builders : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::LoadShippedIndex("dodeca05.vix", idx)) GTEST_SKIP() << "dodeca05.vix not built";
  }
  void TearDown() override { ReleaseIndex(idx); }
  CellIndex idx;
};

TEST_F(Builders, PiecesFollowNeighbouringCellsAndHoldTheVerticesInOrder) {
  // A line across a quarter of the globe with only three vertices: most
  // cells it passes are crossed without a vertex.
  std::vector<DirectionCosines> v{LL(10, 0), LL(20, 40), LL(-5, 80)};
  std::vector<ItemPiece> pieces;
  std::vector<std::int32_t> cells;
  CutIntoPieces(idx, v, false, pieces, cells);
  ASSERT_GT(pieces.size(), 10u);
  EXPECT_EQ(pieces.front().xbd, kNoCrossing);
  int vertices = 0, empty = 0;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    vertices += pieces[k].count;
    empty += pieces[k].count == 0;
    if (k > 0) {
      EXPECT_TRUE(Neighbours(idx, pieces[k - 1].cell, pieces[k].cell)) << k;
      EXPECT_NE(pieces[k].xbd, kNoCrossing);
      EXPECT_LE(std::fabs(pieces[k].xbd), 1.0);
    }
  }
  EXPECT_EQ(vertices, 3);
  EXPECT_GT(empty, 5);
  // Each vertex sits in the piece of its own cell.
  for (const ItemPiece& p : pieces)
    for (std::int32_t j = 0; j < p.count; ++j) EXPECT_EQ(cells[p.first + j], p.cell);
}

TEST_F(Builders, LegsLongerThan90DegreesGoTheShortWayAfterTheSplit) {
  // Two vertices 150 degrees apart on the equator: the pieces must run
  // eastward along the equator, never through the poles.
  std::vector<DirectionCosines> v{LL(0, 0), LL(0, 150)};
  std::vector<ItemPiece> pieces;
  std::vector<std::int32_t> cells;
  CutIntoPieces(idx, v, false, pieces, cells);
  for (std::size_t k = 1; k < pieces.size(); ++k)
    EXPECT_TRUE(Neighbours(idx, pieces[k - 1].cell, pieces[k].cell));
  for (const ItemPiece& p : pieces) EXPECT_LT(std::fabs(idx.cells[p.cell]->centre.z), 0.1);
}

TEST_F(Builders, CrossingsOfOneEdgeAreOrderedAlongIt) {
  // Parallel lines crossing the same cell edge: their boundary parameters
  // at that edge come out in the order of the lines.
  const std::int32_t a = 100;
  const std::int32_t b = idx.cells[a]->neighbours[0];
  const DirectionCosines& ca = idx.cells[a]->centre;
  const DirectionCosines& cb = idx.cells[b]->centre;
  DirectionCosines side = geodesy::Normalised(geodesy::Cross(ca, cb));
  std::vector<double> xbd;
  for (int i = -2; i <= 2; ++i) {
    const double s = 0.002 * i;
    std::vector<DirectionCosines> v{geodesy::Normalised({ca.x + s * side.x, ca.y + s * side.y, ca.z + s * side.z}),
                                    geodesy::Normalised({cb.x + s * side.x, cb.y + s * side.y, cb.z + s * side.z})};
    std::vector<ItemPiece> pieces;
    std::vector<std::int32_t> cells;
    CutIntoPieces(idx, v, false, pieces, cells);
    ASSERT_EQ(pieces.size(), 2u);
    ASSERT_EQ(pieces[1].cell, b);
    xbd.push_back(pieces[1].xbd);
  }
  for (std::size_t i = 1; i < xbd.size(); ++i) EXPECT_GT(xbd[i], xbd[i - 1]);
  EXPECT_NEAR(xbd[2], 0.0, 1e-12);
}

TEST_F(Builders, RingClosingLegReentersTheFirstCell) {
  const DirectionCosines& c = idx.cells[200]->centre;
  const std::int32_t n0 = idx.cells[200]->neighbours[0];
  const DirectionCosines& d = idx.cells[n0]->centre;
  // A thin triangle whose second and third vertices lie in the neighbour.
  std::vector<DirectionCosines> v{c, d, geodesy::Normalised({c.x + 0.8 * (d.x - c.x) + 1e-3, c.y + 0.8 * (d.y - c.y), c.z + 0.8 * (d.z - c.z)})};
  std::vector<ItemPiece> pieces;
  std::vector<std::int32_t> cells;
  CutIntoPieces(idx, v, true, pieces, cells);
  ASSERT_GE(pieces.size(), 3u);
  EXPECT_EQ(pieces.front().cell, 200);
  EXPECT_EQ(pieces.back().cell, 200);
  EXPECT_EQ(pieces.back().count, 0);
  EXPECT_NE(pieces.back().xbd, kNoCrossing);
}

TEST_F(Builders, RegionAssemblyOfACapAndItsComplement) {
  // A ring along latitude 30 north, counterclockwise seen from above: the
  // inside is the polar cap. Reversed, the inside is the rest of the globe.
  std::vector<DirectionCosines> ring;
  for (int i = 0; i < 72; ++i) ring.push_back(LL(30, i * 5.0));
  RingSet cap;
  cap.vertices = ring;
  cap.start = {0, 72};
  std::vector<std::int32_t> b, inside;
  ASSERT_EQ(AssembleRegion(idx, cap, b, inside), 0);
  std::reverse(ring.begin(), ring.end());
  RingSet rest;
  rest.vertices = ring;
  rest.start = {0, 72};
  std::vector<std::int32_t> b2, outside;
  ASSERT_EQ(AssembleRegion(idx, rest, b2, outside), 0);
  EXPECT_EQ(b, b2);
  EXPECT_EQ(static_cast<std::int64_t>(b.size() + inside.size() + outside.size()), idx.cell_count);
  for (std::int32_t c : inside) EXPECT_GT(idx.cells[c]->centre.z, std::sin(30 * M_PI / 180)) << c;
  for (std::int32_t c : outside) EXPECT_LT(idx.cells[c]->centre.z, std::sin(30 * M_PI / 180)) << c;
  // The north pole's cell is inside, the south pole's outside.
  const std::int32_t north = Locate(idx, {0, 0, 1}), south = Locate(idx, {0, 0, -1});
  EXPECT_TRUE(std::binary_search(inside.begin(), inside.end(), north));
  EXPECT_TRUE(std::binary_search(outside.begin(), outside.end(), south));
}

TEST_F(Builders, RsetWithAHoleAndDegenerateRings) {
  // A square with a square hole, plus a two-vertex "ring" that bounds
  // nothing and is left out.
  std::vector<PointNode> pts;
  for (auto [la, lo] : {std::pair{-20.0, -20.0}, {-20.0, 20.0}, {20.0, 20.0}, {20.0, -20.0}})
    pts.push_back({LL(la, lo), 0});
  pts.push_back(Mark(1));
  for (auto [la, lo] : {std::pair{-8.0, -8.0}, {8.0, -8.0}, {8.0, 8.0}, {-8.0, 8.0}})
    pts.push_back({LL(la, lo), 0});
  pts.push_back(Mark(2));
  pts.push_back({LL(50, 50), 0});
  pts.push_back({LL(51, 50), 0});
  pts.push_back(Mark(3));
  pts.push_back(Mark(0));
  std::vector<std::uint8_t> heap;
  Object o;
  ASSERT_EQ(BuildRset(idx, {nullptr, &heap}, {5, 0, 6, 0}, pts, o), 0);
  ASSERT_TRUE(ObjectValid(o, idx.cell_count));
  EXPECT_EQ(ItemCount(o), 2);
  EXPECT_EQ(VertexCount(o), 8);
  const std::int32_t centre = Locate(idx, LL(0, 0));
  const std::int32_t ring = Locate(idx, LL(14, 0));
  EXPECT_FALSE(CellListContains(EnvelopeList(o, 1), centre));
  EXPECT_TRUE(CellListContains(EnvelopeList(o, 1), ring));
  EXPECT_FALSE(CellListContains(EnvelopeList(o, 0), ring));
  EXPECT_FALSE(CellListContains(EnvelopeList(o, 1), Locate(idx, LL(40, 0))));
  // Cell index sorted by cell, item, piece; coordinates contiguous per cell.
  std::int32_t prev_cell = -1, prev_item = -1, prev_piece = -1;
  std::int32_t next_offset = 0;
  for (std::int64_t i = 0; i < CellIndexCount(o); ++i) {
    PieceRef r = LoadPieceRef(PieceRefAt(o, i));
    EXPECT_TRUE(r.cell > prev_cell || (r.cell == prev_cell && (r.item > prev_item || (r.item == prev_item && r.piece > prev_piece))));
    prev_cell = r.cell, prev_item = r.item, prev_piece = r.piece;
    Item it = LoadItem(ItemAt(o, r.item));
    Piece pc = LoadPiece(PieceAt(o, it, r.piece));
    EXPECT_EQ(pc.cell, r.cell);
    EXPECT_EQ(pc.offset, next_offset);
    next_offset += pc.count * RecordSize(o.res);
  }
}

TEST_F(Builders, LsetItemsKeepTheirIdentifiersAndEmptyInputIsEmpty) {
  std::vector<PointNode> pts{{LL(0, 0), 0}, {LL(1, 1), 0}, Mark(17), {LL(5, 5), 0}, Mark(0), Mark(0)};
  std::vector<std::uint8_t> heap;
  Object o;
  ASSERT_EQ(BuildLset(idx, {nullptr, &heap}, {5, 0, 4, 0}, pts, o), 0);
  ASSERT_EQ(ItemCount(o), 2);
  EXPECT_EQ(LoadItem(ItemAt(o, 0)).id, 17u);
  EXPECT_EQ(LoadItem(ItemAt(o, 1)).id, 0u);
  EXPECT_EQ(BuildLset(idx, {nullptr, &heap}, {5, 0, 4, 0}, {}, o), -1);
  EXPECT_TRUE(ObjectValid(o, idx.cell_count));
  EXPECT_EQ(BuildRset(idx, {nullptr, &heap}, {5, 0, 0x0104, 0}, pts, o), 1);
}

}  // namespace
}  // namespace cells
