// The secondary index table: found by index_id beside the object file,
// checked and held aligned, full table, damaged files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "index_support.h"
#include "lib/cells/index_file.h"
#include "lib/cells/secondary_index.h"

namespace cells {
namespace {

struct Secondary : ::testing::Test {
  test::TempDir dir;
  std::vector<unsigned char> vix;
  std::uint32_t id = 0;
  SecondaryTable* table = new SecondaryTable;
  void SetUp() override {
    vix = test::ReadBytes(test::BinDir() + "dodeca05.vix");
    ASSERT_GT(vix.size(), VIX_HEADER_SIZE);
    id = DecodeVixHeader(vix.data()).index_id;
    ASSERT_TRUE(test::WriteBytes(dir.File("b_copy.vix"), vix.data(), vix.size()));
    ASSERT_TRUE(test::WriteBytes(dir.File("object.qbo"), "x", 1));
  }
  void TearDown() override {
    ReleaseSecondaryTable(*table);
    delete table;
  }
};

TEST_F(Secondary, FoundBesideTheObjectAndReused) {
  CellIndex* found = nullptr;
  ASSERT_EQ(FindSecondaryIndex(*table, dir.File("object.qbo").c_str(), id, &found), SECONDARY_FOUND);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->index_id, id);
  EXPECT_EQ(found->cell_count, 10242);
  EXPECT_EQ(found->storage_mode, 4);
  for (std::int32_t i = 0; i < found->cell_count; i += 101)
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(found->cells[i]) % 8, 0u);
  CellIndex* again = nullptr;
  ASSERT_EQ(FindSecondaryIndex(*table, "/nonexistent/dir/o.qbo", id, &again), SECONDARY_FOUND);
  EXPECT_EQ(again, found) << "a loaded entry is used again";
  EXPECT_EQ(FindSecondaryIndex(*table, dir.File("object.qbo").c_str(), id + 7, &again), SECONDARY_NOT_FOUND);
  EXPECT_EQ(FindSecondaryIndex(*table, dir.File("object.qbo").c_str(), 0, &again), SECONDARY_NOT_FOUND);
}

TEST_F(Secondary, ADamagedMatchingFileIsAMappingError) {
  std::vector<unsigned char> bad = vix;
  test::Put32(bad, VIX_HEADER_SIZE + 28, 999999);  // a neighbour outside the index
  test::Put32(bad, 4, id + 1);
  ASSERT_TRUE(test::WriteBytes(dir.File("a_bad.vix"), bad.data(), bad.size()));
  CellIndex* found = nullptr;
  EXPECT_EQ(FindSecondaryIndex(*table, dir.File("object.qbo").c_str(), id + 1, &found), SECONDARY_MAP_ERROR);
  EXPECT_EQ(found, nullptr);
  bad = vix;
  bad.resize(bad.size() - 3);
  test::Put32(bad, 4, id + 2);
  ASSERT_TRUE(test::WriteBytes(dir.File("a_short.vix"), bad.data(), bad.size()));
  EXPECT_EQ(FindSecondaryIndex(*table, dir.File("object.qbo").c_str(), id + 2, &found), SECONDARY_MAP_ERROR);
  for (const SecondaryEntry& e : table->entries) EXPECT_EQ(e.index.index_id, 0u) << "no entry is kept";
}

TEST_F(Secondary, AFullTableRefusesNewIndexes) {
  for (SecondaryEntry& e : table->entries) e.index.index_id = 1;  // taken, without cells
  CellIndex* found = nullptr;
  EXPECT_EQ(FindSecondaryIndex(*table, dir.File("object.qbo").c_str(), id, &found), SECONDARY_TABLE_FULL);
  for (SecondaryEntry& e : table->entries) e.index.index_id = 0;
}

}  // namespace
}  // namespace cells
