// Cell lists: compression, membership, the parallel walk and validation.
#include "lib/cells/cell_list.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace cells {
namespace {

TEST(CellList, CompressesRunsOfThreeAndKeepsPairs) {
  std::vector<std::int32_t> l = MakeCellList({4, 5, 6, 9, 10, 12});
  EXPECT_EQ(l, (std::vector<std::int32_t>{6, 4, -6, 9, 10, 12}));
  EXPECT_TRUE(CellListContains(l.data(), 5));
  EXPECT_FALSE(CellListContains(l.data(), 7));
  EXPECT_FALSE(CellListContains(l.data(), 11));
  EXPECT_TRUE(CellListContains(l.data(), 4));
  EXPECT_TRUE(CellListContains(l.data(), 6));
  EXPECT_TRUE(CellListContains(l.data(), 12));
  EXPECT_FALSE(CellListContains(l.data(), 3));
  EXPECT_FALSE(CellListContains(l.data(), 13));
  std::int32_t first, last;
  ASSERT_TRUE(CellListRange(l.data(), &first, &last));
  EXPECT_EQ(first, 4);
  EXPECT_EQ(last, 12);
}

TEST(CellList, EqualEntriesMergeAndEmptyListHasCountOne) {
  std::vector<std::int32_t> words{3, 7, 7};
  EXPECT_EQ(CompressCellList(words.data()), 2);
  EXPECT_EQ(words[1], 7);
  std::vector<std::int32_t> empty = MakeCellList({});
  EXPECT_EQ(empty, std::vector<std::int32_t>{1});
  EXPECT_FALSE(CellListContains(empty.data(), 0));
  std::int32_t a, b;
  EXPECT_FALSE(CellListRange(empty.data(), &a, &b));
  // Repeats inside a run and a run ending the list.
  EXPECT_EQ(MakeCellList({3, 1, 2, 2, 0, 0}), (std::vector<std::int32_t>{3, 0, -3}));
}

TEST(CellList, RandomListsExpandMembershipAndWalkAgreeWithASet) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    std::set<std::int32_t> sa, sb;
    std::vector<std::int32_t> va, vb;
    const int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) {
      std::int32_t c = static_cast<std::int32_t>(rng() % 80);
      sa.insert(c);
      va.push_back(c);
      std::int32_t d = static_cast<std::int32_t>(rng() % 80);
      sb.insert(d);
      vb.push_back(d);
    }
    std::vector<std::int32_t> la = MakeCellList(va), lb = MakeCellList(vb);
    ASSERT_TRUE(CellListValid(la.data(), static_cast<std::int64_t>(la.size()), 80));
    EXPECT_EQ(ExpandCellList(la.data()), std::vector<std::int32_t>(sa.begin(), sa.end()));
    EXPECT_EQ(CellListCells(la.data()), static_cast<std::int64_t>(sa.size()));
    for (std::int32_t c = -1; c <= 81; ++c) ASSERT_EQ(CellListContains(la.data(), c), sa.count(c) == 1) << c;
    CellListWalk w = CellListWalkBegin(la.data(), lb.data());
    std::int32_t cell, prev = -1;
    bool in_a, in_b;
    std::set<std::int32_t> uni;
    while (CellListWalkNext(w, &cell, &in_a, &in_b)) {
      ASSERT_GT(cell, prev);
      prev = cell;
      EXPECT_EQ(in_a, sa.count(cell) == 1);
      EXPECT_EQ(in_b, sb.count(cell) == 1);
      uni.insert(cell);
    }
    std::set<std::int32_t> expect = sa;
    expect.insert(sb.begin(), sb.end());
    EXPECT_EQ(uni, expect);
  }
}

TEST(CellList, ValidationRefusesDisorderAndBadCounts) {
  std::vector<std::int32_t> good{4, 2, -5, 9};
  EXPECT_TRUE(CellListValid(good.data(), 4, 10));
  EXPECT_FALSE(CellListValid(good.data(), 4, 9));  // cell 9 out of range
  EXPECT_FALSE(CellListValid(good.data(), 3, 0));  // count beyond the words available
  std::vector<std::int32_t> down{3, 5, 4};
  EXPECT_FALSE(CellListValid(down.data(), 3, 0));
  std::vector<std::int32_t> lead{2, -5};
  EXPECT_FALSE(CellListValid(lead.data(), 2, 0));
  std::vector<std::int32_t> back{3, 5, -4};
  EXPECT_FALSE(CellListValid(back.data(), 3, 0));
  std::vector<std::int32_t> zero{0};
  EXPECT_FALSE(CellListValid(zero.data(), 1, 0));
}

}  // namespace
}  // namespace cells
