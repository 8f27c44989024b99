// Resolution codes, record sizes, quantisation and the Pset builder.
#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_model.h"
#include "lib/geodesy/ellipsoid.h"
#include "tests/objects/test_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace cells {
namespace {

using geodesy::DirectionCosines;

TEST(Resolution, RecordSizesAndValidCodes) {
  EXPECT_EQ(RecordSize(2), 2);
  EXPECT_EQ(RecordSize(4), 4);
  EXPECT_EQ(RecordSize(5), 8);
  EXPECT_EQ(RecordSize(6), 8);
  EXPECT_EQ(RecordSize(7), 12);
  EXPECT_EQ(RecordSize(263), 16);
  EXPECT_EQ(RecordSize(8), 8);
  EXPECT_EQ(RecordSize(265), 16);
  EXPECT_EQ(RecordSize(10), 16);
  EXPECT_EQ(RecordSize(11), 20);
  EXPECT_EQ(RecordSize(267), 24);
  for (int res : {2, 4, 5, 6, 7, 263, 8, 9, 265, 10, 11, 267}) EXPECT_TRUE(ResValid(res)) << res;
  for (int res : {0, 1, 3, 12, 13, 0x0104, 0x0105, 65280, 65281, -1, 0x0102})
    EXPECT_FALSE(ResValid(res)) << res;
}

class WithIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::LoadShippedIndex("dodeca05.vix", idx)) GTEST_SKIP() << "dodeca05.vix not built";
  }
  void TearDown() override { ReleaseIndex(idx); }
  CellIndex idx;
};

TEST_F(WithIndex, CellCentreQuantisesToZeroInEveryForm) {
  for (std::int32_t cell : {0, 17, idx.cell_count - 1}) {
    for (int res : {2, 4, 6, 8, 10, 7, 263, 267}) {
      std::uint8_t buf[32];
      std::uint8_t* end = Quantise(idx, cell, idx.cells[cell]->centre, 99, buf, res);
      EXPECT_EQ(end - buf, RecordSize(res));
      double a, b;
      std::uint32_t attr;
      RecordValues(buf, res, &a, &b, &attr);
      EXPECT_EQ(a, 0.0) << res;
      EXPECT_EQ(b, 0.0) << res;
      EXPECT_EQ(attr, ResHasAttribute(res) ? 99u : 0u);
    }
  }
}

TEST_F(WithIndex, RestoreIsWithinOneStepOfEachForm) {
  std::mt19937_64 rng(3);
  std::normal_distribution<double> g;
  // Worst error allowed per form, as a chord: the quantisation step at the
  // largest scale value, and float and double rounding for forms 4 and 5.
  std::uint16_t smax = 0;
  for (std::int32_t c = 0; c < idx.cell_count; ++c) smax = std::max(smax, idx.cells[c]->scale);
  const double step[5] = {smax / 32766.0 / kFormScale[0], smax / 32766.0 / kFormScale[1],
                          smax / 32766.0 / kFormScale[2], 1e-7, 1e-15};
  for (int form = 1; form <= 5; ++form) {
    const int res = 2 * form + 1 + (form >= 3 ? 256 : 0);
    double worst = 0.0;
    for (int i = 0; i < 20000; ++i) {
      DirectionCosines p = geodesy::Normalised({g(rng), g(rng), g(rng)});
      std::int32_t cell = Locate(idx, p);
      std::uint8_t buf[32];
      const std::uint64_t attr = (form >= 3) ? 0x1234567890ABCDEFull : 0x89ABCDEFull;
      Quantise(idx, cell, p, attr, buf, res);
      DirectionCosines q;
      std::uint64_t back = 0;
      Restore(idx, cell, buf, res, q, &back);
      ASSERT_EQ(back, attr);
      worst = std::max(worst, std::sqrt(geodesy::ChordSq(p, q)));
    }
    EXPECT_LT(worst, 2.0 * step[form - 1]) << "form " << form;
  }
}

TEST_F(WithIndex, PsetInOneCellHasOneEntryAndListOfCountTwo) {
  const DirectionCosines c = idx.cells[5]->centre;
  std::vector<PointNode> pts;
  for (int i = 0; i < 10; ++i)
    pts.push_back({geodesy::Normalised({c.x + 1e-4 * i, c.y - 1e-4 * i, c.z}), std::uint64_t(i)});
  std::vector<std::uint8_t> heap;
  Object o;
  ASSERT_EQ(BuildPset(idx, {nullptr, &heap}, {77, 0, 7, 0}, pts, o), 0);
  EXPECT_EQ(PsetCellCount(o), 1);
  EXPECT_EQ(EnvelopeList(o, 0)[0], 2);
  EXPECT_EQ(EnvelopeList(o, 0)[1], 5);
  EXPECT_EQ(o.struct_size, 16u);  // 12 rounded up to 8
  EXPECT_EQ(o.coord_size, 120u);
  EXPECT_EQ(VertexCount(o), 10);
  EXPECT_TRUE(ObjectValid(o, idx.cell_count));
  EXPECT_EQ(o.vix_id, idx.index_id);
  EXPECT_EQ(o.release, 360);
}

TEST_F(WithIndex, PsetBuilderStatuses) {
  std::vector<std::uint8_t> heap;
  Object o;
  std::vector<PointNode> one{{idx.cells[0]->centre, 0}};
  EXPECT_EQ(BuildPset(idx, {nullptr, &heap}, {0, 0, 6, 0}, one, o), 1);  // id 0
  EXPECT_EQ(BuildPset(idx, {nullptr, &heap}, {1, 0, 3, 0}, one, o), 1);  // res 3
  EXPECT_EQ(BuildPset(idx, {nullptr, &heap}, {1, 0, 6, 0}, {}, o), -1);
  EXPECT_TRUE(ObjectValid(o, idx.cell_count));  // the empty object is still whole
  // A target with no room: status 8 and the target untouched.
  std::vector<std::uint8_t> small(64);
  platform::Workspace ws;
  platform::WorkspaceInit(&ws, small.data(), 64);
  std::vector<PointNode> many(100, PointNode{idx.cells[0]->centre, 0});
  EXPECT_EQ(BuildPset(idx, {&ws, nullptr}, {1, 0, 10, 0}, many, o), 8);
  EXPECT_EQ(ws.top, ws.base);
}

TEST_F(WithIndex, PsetCellsAscendAndEveryPointComesBack) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> g;
  std::vector<PointNode> pts;
  for (int i = 0; i < 5000; ++i) pts.push_back({geodesy::Normalised({g(rng), g(rng), g(rng)}), std::uint64_t(i)});
  std::vector<std::uint8_t> heap;
  Object o;
  ASSERT_EQ(BuildPset(idx, {nullptr, &heap}, {9, 0, 11, 0}, pts, o), 0);
  ASSERT_TRUE(ObjectValid(o, idx.cell_count));
  EXPECT_EQ(VertexCount(o), 5000);
  std::vector<bool> seen(5000);
  for (std::int64_t i = 0; i < PsetCellCount(o); ++i) {
    PsetCell c = LoadPsetCell(PsetCellAt(o, i));
    EXPECT_TRUE(CellListContains(EnvelopeList(o, 0), c.cell));
    for (std::int32_t k = 0; k < c.count; ++k) {
      DirectionCosines q;
      std::uint64_t a;
      Restore(idx, c.cell, o.coords + c.offset + k * RecordSize(o.res), o.res, q, &a);
      ASSERT_LT(a, 5000u);
      EXPECT_LT(geodesy::ChordSq(q, pts[a].p), 1e-28);
      EXPECT_EQ(Locate(idx, q), c.cell);
      seen[a] = true;
    }
  }
  for (bool s : seen) EXPECT_TRUE(s);
}

}  // namespace
}  // namespace cells
