// AddCellCenters' insertion as the command uses it: a centre exactly on an
// existing centre (or within the same-point chord of it) changes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lib/cells/cell_grow.h"
#include "lib/cells/index_file.h"

namespace {

std::vector<std::vector<int32_t>> Lists(const cells::CellIndex& idx) {
  std::vector<std::vector<int32_t>> out;
  for (int32_t c = 0; c < idx.cell_count; ++c) {
    const cells::CellRecord* r = idx.cells[c];
    out.emplace_back(r->neighbours, r->neighbours + r->neighbour_count);
  }
  return out;
}

TEST(GrowCentre, ACentreOnACentreChangesNothing) {
  const char* bin = getenv("OMBREL_BIN");
  if (!bin) GTEST_SKIP() << "OMBREL_BIN is not set";
  FILE* f = fopen((std::string(bin) + "/dodeca05.vix").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  cells::CellIndex idx;
  ASSERT_EQ(cells::LoadVix(f, idx, 1), 0);
  fclose(f);
  cells::GrowState grow;
  ASSERT_EQ(cells::BeginGrow(grow, idx, 4), 0);
  const auto before = Lists(grow.work);
  for (int32_t c : {0, 7, idx.cell_count - 1}) {
    geodesy::DirectionCosines p = idx.cells[c]->centre;
    EXPECT_EQ(cells::InsertCentre(grow, p), cells::INSERT_SAME_CENTRE);
    p.x += 1e-8;  // a squared chord of 1e-16: the same point still
    EXPECT_EQ(cells::InsertCentre(grow, p), cells::INSERT_SAME_CENTRE);
  }
  EXPECT_EQ(grow.work.cell_count, idx.cell_count);
  EXPECT_EQ(Lists(grow.work), before);
  cells::EndGrow(grow);
  cells::ReleaseIndex(idx);
}

}  // namespace
