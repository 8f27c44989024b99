// .vix and .tix loading, the header checks in their order, the writer, the
// day number, and verification of good and broken neighbour lists.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "index_support.h"
#include "lib/cells/cell_grow.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/cell_index.h"
#include "lib/cells/index_file.h"

namespace cells {
namespace {

using test::Put16;
using test::Put32;

// A .vix of `count` cells in which every cell lists the next `n` cells
// (cyclically): a loadable file, though not a Voronoi partition.
std::vector<unsigned char> RingFile(int count, int n, std::uint32_t total = 0) {
  VixHeader h;
  h.index_id = 4242;
  h.cell_count = static_cast<std::uint32_t>(count);
  h.total_neighbours = total != 0 ? total : static_cast<std::uint32_t>(count * n);
  h.max_neighbours = static_cast<std::uint16_t>(n);
  std::vector<unsigned char> b(VIX_HEADER_SIZE);
  EncodeVixHeader(h, b.data());
  for (int i = 0; i < count; ++i) {
    const std::size_t at = b.size();
    b.resize(at + RecordFileSize(n));
    const double z = -1.0 + 2.0 * (i + 0.5) / count, r = std::sqrt(1.0 - z * z);
    const double c[3] = {r * std::cos(i * 2.4), r * std::sin(i * 2.4), z};
    std::memcpy(&b[at], c, 24);
    Put16(b, at + 24, static_cast<unsigned>(n));
    Put16(b, at + 26, 7);
    for (int k = 0; k < n; ++k) Put32(b, at + 28 + 4 * k, static_cast<std::uint32_t>((i + 1 + k) % count));
  }
  return b;
}

int Load(const std::vector<unsigned char>& b, CellIndex& idx) { return LoadVixBytes(b.data(), b.size(), idx, 1); }

TEST(VixHeader, ChecksRunInTheirOrder) {
  CellIndex idx;
  std::vector<unsigned char> b = RingFile(7, 6);
  Put16(b, 2, 131);
  EXPECT_EQ(Load(b, idx), 1) << "format code 131 with a good release";
  Put16(b, 0, 299);
  EXPECT_EQ(Load(b, idx), 2) << "release 299 is checked before the format code";
  Put32(b, 8, 6);
  EXPECT_EQ(Load(b, idx), 3) << "a cell count of 6 is checked before the release";
  b = RingFile(7, 6);
  Put32(b, 4, 0);
  EXPECT_EQ(Load(b, idx), 3) << "index_id 0";
  b = RingFile(7, 6);
  Put16(b, 16, 257);
  EXPECT_EQ(Load(b, idx), 3) << "max_neighbours 257";
  b = RingFile(7, 6);
  Put32(b, 12, 41);
  EXPECT_EQ(Load(b, idx), 3) << "total_neighbours 41";
  b = RingFile(7, 6);
  Put16(b, 0, 361);
  EXPECT_EQ(Load(b, idx), 2);
  EXPECT_EQ(idx.cell_count, 0) << "nothing is handed out on failure";
}

TEST(VixLoad, SevenCellsWithFortyTwoNeighboursLoad) {
  CellIndex idx;
  const std::vector<unsigned char> b = RingFile(7, 6);
  ASSERT_EQ(Load(b, idx), 0);
  EXPECT_EQ(idx.cell_count, 7);
  EXPECT_EQ(idx.index_id, 4242u);
  EXPECT_EQ(idx.storage_mode, 1);
  EXPECT_EQ(idx.walk_hint, 0);
  EXPECT_EQ(idx.extra, nullptr) << "the loader never makes the auxiliary array";
  EXPECT_EQ(idx.frame_cell, NO_CELL);
  EXPECT_EQ(idx.store_cache[1].cell, NO_CELL);
  EXPECT_EQ(idx.restore_cache[2].factor, geodesy::NOVALUE);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(idx.cells[i]) % 8, 0u) << "records are 8-byte aligned";
    EXPECT_EQ(idx.cells[i]->neighbour_count, 6);
    EXPECT_EQ(idx.cells[i]->neighbours[5], (i + 6) % 7);
  }
  ReleaseIndex(idx);
  EXPECT_EQ(idx.cells, nullptr);
  ReleaseIndex(idx);  // an empty index is left alone
}

TEST(VixLoad, ModeTwoHoldsTheSameRecords) {
  CellIndex a, b;
  const std::vector<unsigned char> bytes = RingFile(11, 4);
  ASSERT_EQ(LoadVixBytes(bytes.data(), bytes.size(), a, 1), 0);
  ASSERT_EQ(LoadVixBytes(bytes.data(), bytes.size(), b, 2), 0);
  EXPECT_EQ(b.storage_mode, 2);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(std::memcmp(a.cells[i], b.cells[i], RecordFileSize(4)), 0);
  }
  ReleaseIndex(a);
  ReleaseIndex(b);
}

TEST(VixLoad, ShortFilesAndBadRecordsAreRefused) {
  CellIndex idx;
  std::vector<unsigned char> b = RingFile(9, 5);
  b.pop_back();
  EXPECT_EQ(Load(b, idx), 4) << "one byte short of the last record";
  b.resize(71);
  EXPECT_EQ(Load(b, idx), 4) << "short header";
  b = RingFile(9, 5);
  b.resize(VIX_HEADER_SIZE + RecordFileSize(5) * 3 + 20);
  EXPECT_EQ(Load(b, idx), 4) << "cut inside a record's first 32 bytes";

  b = RingFile(9, 5);
  Put16(b, VIX_HEADER_SIZE + 24, 2);
  EXPECT_EQ(Load(b, idx), 2) << "neighbour count below 3";
  b = RingFile(9, 5);
  Put16(b, 16, 4);
  EXPECT_EQ(Load(b, idx), 2) << "neighbour count above max_neighbours";
  b = RingFile(9, 5);
  Put32(b, VIX_HEADER_SIZE + 28 + 4 * 4, 9);
  EXPECT_EQ(Load(b, idx), 2) << "a neighbour number equal to cell_count";
  b = RingFile(9, 5);
  Put32(b, VIX_HEADER_SIZE + 28, 0xFFFFFFFFu);
  EXPECT_EQ(Load(b, idx), 2) << "a negative neighbour number";
  EXPECT_EQ(idx.cells, nullptr);
}

TEST(VixLoad, CellDataBeyondTotalNeighboursIsStatusSeven) {
  CellIndex idx;
  // The block holds 64 + 4c + 4(t + 7c) bytes; with t far too small the
  // records overflow it.
  std::vector<unsigned char> b = RingFile(20, 40, 42);
  EXPECT_EQ(Load(b, idx), 7);
  EXPECT_EQ(idx.cells, nullptr);
  // In mode 2 every record has its own allocation: the same file loads.
  EXPECT_EQ(LoadVixBytes(b.data(), b.size(), idx, 2), 0);
  ReleaseIndex(idx);
}

TEST(VixLoad, AFailedLoadLeavesTheCurrentIndex) {
  CellIndex current;
  ASSERT_EQ(Load(RingFile(7, 6), current), 0);
  CellRecord* const* before = current.cells;
  std::vector<unsigned char> bad = RingFile(9, 6);
  bad.pop_back();
  EXPECT_EQ(Load(bad, current), 4);
  EXPECT_EQ(current.cells, before);
  EXPECT_EQ(current.cell_count, 7);
  ReleaseIndex(current);
}

TEST(VixWrite, RoundTripKeepsEveryRecordAndTheHeader) {
  test::TempDir dir;
  CellIndex idx;
  ASSERT_EQ(Load(RingFile(11, 5), idx), 0);
  VixHeader h = MakeVixHeader(1700000000, 12, 0.25, 0.5);
  const std::string path = dir.File("ring.vix");
  ASSERT_EQ(WriteVix(path.c_str(), idx, h), 0);
  const std::vector<unsigned char> bytes = test::ReadBytes(path);
  ASSERT_EQ(bytes.size(), VIX_HEADER_SIZE + 11 * RecordFileSize(5));
  const VixHeader back = DecodeVixHeader(bytes.data());
  EXPECT_EQ(back.release, 360);
  EXPECT_EQ(back.format_code, 132);
  EXPECT_EQ(back.index_id, 1700000000u);
  EXPECT_EQ(back.cell_count, 11u);
  EXPECT_EQ(back.total_neighbours, 55u);
  EXPECT_EQ(back.max_neighbours, 5);
  EXPECT_EQ(back.ellipsoid_number, 12);
  EXPECT_EQ(back.creation_day, CreationDayNumber(2023, 11, 14));
  EXPECT_EQ(back.max_diagonal_chord2, 0.5);
  for (std::size_t i = 40; i < 72; ++i) EXPECT_EQ(bytes[i], 0) << "reserved byte " << i;
  CellIndex again;
  ASSERT_EQ(LoadVixBytes(bytes.data(), bytes.size(), again, 1), 0);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(std::memcmp(idx.cells[i], again.cells[i], RecordFileSize(5)), 0);
  EXPECT_EQ(WriteVix(dir.File("no/such/dir/x.vix").c_str(), idx, h), 1);
  ReleaseIndex(idx);
  ReleaseIndex(again);
}

TEST(DayNumber, FollowsTheCalendarRule) {
  EXPECT_EQ(CreationDayNumber(1900, 1, 1), 0);
  EXPECT_EQ(CreationDayNumber(1900, 3, 1), 59) << "year 0 is not a leap year";
  EXPECT_EQ(CreationDayNumber(1901, 1, 1), 365);
  EXPECT_EQ(CreationDayNumber(1904, 3, 1), 365 * 4 + 0 + 60);
  EXPECT_EQ(CreationDayNumber(1905, 1, 1), 365 * 5 + 1);
  EXPECT_EQ(CreationDayNumber(2026, 12, 8), (365 * 126 + 31 + 334 + 7) & 0xFFFF);
  EXPECT_EQ(CreationDayNumberOf(0), CreationDayNumber(1970, 1, 1));
}

TEST(ScaleValue, TruncatesTheTangentRule) {
  EXPECT_EQ(ScaleValue(0.0), 1);
  EXPECT_EQ(ScaleValue(0.01), static_cast<std::uint16_t>(std::tan(0.01) * SCALE_FACTOR + 1.0));
  EXPECT_EQ(ScaleValue(1.5), 65535) << "saturates instead of wrapping";
  EXPECT_EQ(ScaleValue(2.0), 65535);
}

std::string TixOf(const std::vector<unsigned char>& vix) {
  test::TempDir dir;
  CellIndex idx;
  if (LoadVixBytes(vix.data(), vix.size(), idx, 1) != 0) return {};
  const std::string path = dir.File("x.tix");
  VixHeader h = DecodeVixHeader(vix.data());
  WriteTix(path.c_str(), idx, h);
  ReleaseIndex(idx);
  const std::vector<unsigned char> t = test::ReadBytes(path);
  return std::string(t.begin(), t.end());
}

int LoadText(const std::string& t, CellIndex& idx) { return LoadTixBytes(t.data(), t.size(), idx, 1); }

TEST(TixLoad, RoundTripsThroughTheText) {
  const std::vector<unsigned char> vix = RingFile(10, 6);
  const std::string text = TixOf(vix);
  ASSERT_FALSE(text.empty());
  CellIndex a, b;
  ASSERT_EQ(LoadText(text, a), 0);
  ASSERT_EQ(LoadVixBytes(vix.data(), vix.size(), b, 1), 0);
  EXPECT_EQ(a.index_id, b.index_id);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(std::memcmp(a.cells[i], b.cells[i], RecordFileSize(6)), 0);
  ReleaseIndex(a);
  ReleaseIndex(b);
}

TEST(TixLoad, RefusesBadHeadersAndCellLines) {
  const std::string good("tix.hdr.360 77 7 6 0.5 0.7 42 34\n");
  std::string cells;
  for (int i = 0; i < 7; ++i) {
    cells.append("1 0 0 3 6");
    for (int k = 1; k <= 6; ++k) cells.append(" ").append(std::to_string((i + k) % 7));
    cells += "\n";
  }
  CellIndex idx;
  ASSERT_EQ(LoadText(good + cells, idx), 0);
  ReleaseIndex(idx);
  EXPECT_EQ(LoadText(std::string("tix.hdx.360 77 7 6 0.5 0.7 42 34\n") + cells, idx), 1);
  EXPECT_EQ(LoadText(std::string("tix.hdr.299 77 7 6 0.5 0.7 42 34\n") + cells, idx), 1);
  EXPECT_EQ(LoadText(std::string("tix.hdr.360 77 6 6 0.5 0.7 42 34\n") + cells, idx), 2);
  EXPECT_EQ(LoadText(std::string("tix.hdr.360 77 7 6 0.5 0.7 42 35\n") + cells, idx), 2);
  EXPECT_EQ(LoadText(std::string("tix.hdr.360 77 7 257 0.5 0.7 42 34\n") + cells, idx), 2);
  EXPECT_EQ(LoadText(std::string("tix.hdr.360 77 7 6 0.5 0.7 41 34\n") + cells, idx), 2);
  EXPECT_EQ(LoadText("tix.hdr.360 77 7 6\n", idx), 2) << "a header cut short";

  std::string bad = good + "1.00000000000001500 0 0 3 6 1 2 3 4 5 6\n" + cells.substr(cells.find('\n') + 1);
  EXPECT_EQ(LoadText(bad, idx), 3) << "length squared 1.00000000000003";
  bad = good + "1 0 0 3 6 1 2 3 4 5 7\n" + cells.substr(cells.find('\n') + 1);
  EXPECT_EQ(LoadText(bad, idx), 3) << "a neighbour number equal to cell_count";
  bad = good + "1 0 0 3 2 1 2\n" + cells.substr(cells.find('\n') + 1);
  EXPECT_EQ(LoadText(bad, idx), 3) << "two neighbours";
  bad = good + "1 0 0 3 6 1 2 3 4 5 x\n" + cells.substr(cells.find('\n') + 1);
  EXPECT_EQ(LoadText(bad, idx), 3) << "a word that is not a number";
  EXPECT_EQ(LoadText(good + cells.substr(0, cells.size() - 4), idx), 3) << "text ends inside a line";
  EXPECT_EQ(idx.cells, nullptr);
}

// ---- verification on the shipped index ---------------------------------

struct Shipped : ::testing::Test {
  CellIndex idx;
  void SetUp() override { ASSERT_EQ(test::LoadShipped("dodeca05.vix", idx), 0); }
  void TearDown() override { ReleaseIndex(idx); }
};

TEST_F(Shipped, VerifiesWithSensibleStatistics) {
  const VerifyResult v = VerifyIndex(idx);
  ASSERT_EQ(v.status, 0);
  EXPECT_EQ(v.max_neighbours, 6);
  EXPECT_EQ(v.total_neighbours, 6 * 10242 - 12);
  EXPECT_GT(v.min_chord2, 0.0);
  EXPECT_LE(v.max_chord2, idx.max_neighbour_chord2 * (1 + 1e-12));
  EXPECT_GT(v.min_vertex_dist2, geodesy::SAME_POINT_SQ);
  EXPECT_NEAR(DiagonalStatistic(idx), idx.max_diagonal_chord2, 1e-15);
  EXPECT_GT(idx.max_diagonal_chord2, idx.max_neighbour_chord2);
}

TEST_F(Shipped, OneReversedListIsAnOrderFault) {
  CellRecord* r = idx.cells[77];
  std::reverse(r->neighbours, r->neighbours + r->neighbour_count);
  const VerifyResult v = VerifyIndex(idx);
  EXPECT_EQ(v.status, 3);
}

TEST_F(Shipped, EveryListReversedIsStillAnOrderFault) {
  for (int i = 0; i < idx.cell_count; ++i) {
    CellRecord* r = idx.cells[i];
    std::reverse(r->neighbours, r->neighbours + r->neighbour_count);
  }
  EXPECT_EQ(VerifyIndex(idx).status, 3) << "clockwise lists that agree with each other";
}

TEST_F(Shipped, AMissingBackReferenceIsStatusOne) {
  CellRecord* r = idx.cells[5];
  const std::int32_t j = r->neighbours[0];
  CellRecord* rj = idx.cells[j];
  for (int k = 0; k < rj->neighbour_count; ++k) {
    if (rj->neighbours[k] == 5) rj->neighbours[k] = (j + 1000) % idx.cell_count == 5 ? 6 : (j + 1000) % idx.cell_count;
  }
  const VerifyResult v = VerifyIndex(idx);
  EXPECT_EQ(v.status, 1);
}

TEST_F(Shipped, FourCellsAtOnePointAreStatusTwo) {
  // Move the centre of one neighbour onto the circle through the cell and its
  // two neighbours on either side: the two vertices around it coincide.
  const std::int32_t i = 100;
  CellRecord* r = idx.cells[i];
  const int n = r->neighbour_count;
  const std::int32_t b = r->neighbours[0], m = r->neighbours[1], c = r->neighbours[2];
  geodesy::DirectionCosines v;
  ASSERT_EQ(VertexOf(r->centre, idx.cells[b]->centre, idx.cells[c]->centre, v), 1);
  // Put m on the circle about v through i, b and c, in m's own direction.
  const double d = geodesy::Dot(r->centre, v);
  const geodesy::DirectionCosines mv = idx.cells[m]->centre;
  const double dm = geodesy::Dot(mv, v);
  geodesy::DirectionCosines t{mv.x - dm * v.x, mv.y - dm * v.y, mv.z - dm * v.z};
  const double tl = std::sqrt(geodesy::Dot(t, t));
  const double ang = std::acos(d);
  idx.cells[m]->centre = {std::cos(ang) * v.x + std::sin(ang) * t.x / tl, std::cos(ang) * v.y + std::sin(ang) * t.y / tl,
                          std::cos(ang) * v.z + std::sin(ang) * t.z / tl};
  (void)n;
  const VerifyResult vr = VerifyIndex(idx);
  EXPECT_EQ(vr.status, 2);
}

}  // namespace
}  // namespace cells
